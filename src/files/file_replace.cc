// Replacing a file in one step and forcing its bytes to the disk, per platform.
#include "files/file_replace.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <cstring>
#include <vector>
#else
#include <unistd.h>
#endif

namespace zarvelt {

#ifdef _WIN32
namespace {

constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

// FileRenameInfoEx with FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS:
// replaces a file that others hold open. Not known to older systems (nor to wine).
bool replace_with_posix_semantics(const std::string& from, const std::string& to) {
  constexpr int kFileRenameInfoEx = 22;
  constexpr DWORD kReplaceIfExists = 0x1;
  constexpr DWORD kPosixSemantics = 0x2;
  const int length = MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, nullptr, 0);
  if (length <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(length));
  MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, wide.data(), length);
  const std::size_t name_bytes = (static_cast<std::size_t>(length) - 1) * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name_bytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  // The union's first member is a BOOLEAN in older headers: set the flags as a DWORD.
  const DWORD flags = kReplaceIfExists | kPosixSemantics;
  std::memcpy(info, &flags, sizeof flags);
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(name_bytes);
  std::memcpy(info->FileName, wide.data(), name_bytes);
  HANDLE handle = CreateFileA(from.c_str(), DELETE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool renamed =
      SetFileInformationByHandle(handle, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileRenameInfoEx),
                                 info, static_cast<DWORD>(buffer.size())) != 0;
  if (renamed) FlushFileBuffers(handle);
  CloseHandle(handle);
  return renamed;
}

bool replace_by_moving_aside(const std::string& from, const std::string& to) {
  const std::string aside = to + "." + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(GetTickCount64()) + ".old";
  if (!MoveFileExA(to.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
  if (!MoveFileExA(from.c_str(), to.c_str(), kMoveFlags)) {
    MoveFileExA(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    return false;
  }
  DeleteFileA(aside.c_str());
  return true;
}

}  // namespace
#endif

bool replace_file(const std::string& from, const std::string& to) {
#ifdef _WIN32
  // rename() refuses an existing target on Windows.
  if (MoveFileExA(from.c_str(), to.c_str(), kMoveFlags)) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;
  return replace_with_posix_semantics(from, to) || replace_by_moving_aside(from, to);
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool flush_to_disk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

}  // namespace zarvelt
