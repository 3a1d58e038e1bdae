// The real file system, POSIX and Windows.
#include "files/file_system.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/file_replace.h"
#include "files/process.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zarvelt {

namespace {

#ifdef _WIN32

FileInfo info_of_handle(HANDLE handle) {
  FileInfo info;
  if (handle == INVALID_HANDLE_VALUE) return info;
  info.exists = true;
  const DWORD type = GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION details;
  if (type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &details)) {
    info.directory = (details.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory;
    info.id.known = true;
    info.id.device = details.dwVolumeSerialNumber;
    info.id.inode = (std::uint64_t{details.nFileIndexHigh} << 32) | details.nFileIndexLow;
    info.links = details.nNumberOfLinks;
    info.size = (std::uint64_t{details.nFileSizeHigh} << 32) | details.nFileSizeLow;
  }
  return info;
}

// The lock covers one byte far beyond any real file's end, so that it never stands in the
// way of reading or writing the file's contents (Windows locks are mandatory).
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

#else

FileInfo info_of_stat(const struct stat& st) {
  FileInfo info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.directory = S_ISDIR(st.st_mode);
  info.id.known = true;
  info.id.device = static_cast<std::uint64_t>(st.st_dev);
  info.id.inode = static_cast<std::uint64_t>(st.st_ino);
  info.links = static_cast<std::uint64_t>(st.st_nlink);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.owner = st.st_uid;
  info.group = st.st_gid;
  info.mode = st.st_mode & 07777;
  return info;
}

#endif

class RealFile final : public File {
 public:
  explicit RealFile(std::FILE* file) : file_(file) {}
  ~RealFile() override {
    if (file_ != nullptr) std::fclose(file_);
  }

  bool write(std::string_view bytes) override {
    if (file_ == nullptr) return false;
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  bool flush() override { return file_ != nullptr && std::fflush(file_) == 0; }
  bool sync() override { return file_ != nullptr && flush_to_disk(file_); }
  bool close() override {
    if (file_ == nullptr) return false;
    std::FILE* file = file_;
    file_ = nullptr;
    const bool flushed = std::fflush(file) == 0;
    return std::fclose(file) == 0 && flushed;
  }
  std::optional<std::uint64_t> size() override {
    if (!flush()) return std::nullopt;
    const FileInfo i = info();
    if (!i.exists) return std::nullopt;
    return i.size;
  }
  FileInfo info() override {
    if (file_ == nullptr) return {};
#ifdef _WIN32
    return info_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))));
#else
    struct stat st;
    if (fstat(fileno(file_), &st) != 0) return {};
    return info_of_stat(st);
#endif
  }
  bool truncate() override {
    if (!flush()) return false;
    const FileInfo i = info();
    if (!i.regular) return i.exists;
#ifdef _WIN32
    if (_chsize_s(_fileno(file_), 0) != 0) return false;
#else
    if (ftruncate(fileno(file_), 0) != 0) return false;
#endif
    return std::fseek(file_, 0, SEEK_SET) == 0;
  }
  LockResult try_lock() override {
    if (file_ == nullptr) return LockResult::kError;
#ifdef _WIN32
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)));
    if (GetFileType(handle) != FILE_TYPE_DISK) return LockResult::kLocked;  // NUL, a pipe
    OVERLAPPED where = {};
    where.OffsetHigh = kLockOffsetHigh;
    if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
      return LockResult::kLocked;
    }
    const DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? LockResult::kBusy
                                                                      : LockResult::kError;
#else
    if (flock(fileno(file_), LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
    return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kError;
#endif
  }
  bool set_owner_and_mode(const FileInfo& like) override {
    if (file_ == nullptr) return false;
#ifdef _WIN32
    (void)like;
    return true;
#else
    const int fd = fileno(file_);
    // Owner first: a change of owner may clear the set-user-ID bits that the mode then sets.
    if (fchown(fd, like.owner, like.group) != 0) {
      // Not permitted to give the file away: keep our own user, try the group alone.
      if (fchown(fd, static_cast<uid_t>(-1), like.group) != 0) {
        // the group stays ours as well
      }
    }
    return fchmod(fd, like.mode & 07777) == 0;
#endif
  }

 private:
  std::FILE* file_;
};

// A file opened for appending: its writes go straight to the descriptor (O_APPEND), without a
// stream's buffer, each at the file's end in one piece. The transfer log opens, appends one line
// to and closes its file for every line, and a stream costs two system calls more per line (its
// position and buffer size on open) and a buffer's allocation; the run record's line must reach
// the file in one write, so that the lines of runs that end together never mix.
class AppendFile final : public File {
 public:
  explicit AppendFile(int fd) : fd_(fd) {}
  ~AppendFile() override {
    if (fd_ >= 0) close_descriptor(fd_);
  }

  bool write(std::string_view bytes) override {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
#ifdef _WIN32
      const int written = _write(fd_, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
      const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
#endif
      if (written <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }
  bool flush() override { return fd_ >= 0; }  // nothing is held back
  bool sync() override {
#ifdef _WIN32
    return fd_ >= 0 && _commit(fd_) == 0;
#else
    return fd_ >= 0 && fsync(fd_) == 0;
#endif
  }
  bool close() override {
    if (fd_ < 0) return false;
    const int fd = fd_;
    fd_ = -1;
    return close_descriptor(fd);
  }
  std::optional<std::uint64_t> size() override {
    const FileInfo i = info();
    if (!i.exists) return std::nullopt;
    return i.size;
  }
  FileInfo info() override {
#ifdef _WIN32
    if (fd_ < 0) return {};
    return info_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(fd_)));
#else
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return {};
    return info_of_stat(st);
#endif
  }
  bool truncate() override {
    const FileInfo i = info();
    if (!i.regular) return i.exists;
#ifdef _WIN32
    return _chsize_s(fd_, 0) == 0;
#else
    return ftruncate(fd_, 0) == 0;  // every write goes to the end
#endif
  }
  LockResult try_lock() override {
#ifdef _WIN32
    return LockResult::kError;  // the appended files are never locked
#else
    if (fd_ < 0) return LockResult::kError;
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
    return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kError;
#endif
  }
  bool set_owner_and_mode(const FileInfo& like) override {
    if (fd_ < 0) return false;
#ifdef _WIN32
    (void)like;
    return true;
#else
    if (fchown(fd_, like.owner, like.group) != 0) {
      if (fchown(fd_, static_cast<uid_t>(-1), like.group) != 0) {
        // the group stays ours as well
      }
    }
    return fchmod(fd_, like.mode & 07777) == 0;
#endif
  }

 private:
  static bool close_descriptor(int fd) {
#ifdef _WIN32
    return _close(fd) == 0;
#else
    return ::close(fd) == 0;
#endif
  }

  int fd_;
};

// Opens path for appending without a stream: binary, or (Windows) text with CR LF line ends as
// a text-mode stream would write them.
std::unique_ptr<File> open_appending(const std::string& path, bool text) {
#ifdef _WIN32
  if (text) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    return file == nullptr ? nullptr : std::make_unique<RealFile>(file);
  }
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, 0644);
#else
  // Text is binary here. A text file is created as fopen's "a" creates it (0666 less the
  // umask), a binary one readable by all and writable by its owner.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, text ? 0666 : 0644);
#endif
  if (fd < 0) return nullptr;
  return std::make_unique<AppendFile>(fd);
}

// A file opened for reading, through a stream.
class RealInputFile final : public InputFile {
 public:
  explicit RealInputFile(std::FILE* file) : file_(file) {}
  ~RealInputFile() override { std::fclose(file_); }
  std::FILE* stream() override { return file_; }
  bool failed() override { return std::ferror(file_) != 0; }

 private:
  std::FILE* file_;
};

#ifdef _WIN32
std::FILE* open_windows_handle(const std::string& path, DWORD disposition) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EEXIST : EACCES;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}
#else
std::FILE* open_descriptor(const std::string& path, int flags, mode_t mode) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  if ((flags & O_NONBLOCK) != 0) {
    // Only the open itself must not wait; writes to a FIFO with a reader may.
    const int status = fcntl(fd, F_GETFL);
    if (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
      ::close(fd);
      return nullptr;
    }
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) ::close(fd);
  return file;
}
#endif

class RealFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> open(const std::string& path, OpenMode mode) override {
    std::FILE* file = nullptr;
    switch (mode) {
      case OpenMode::kWrite:
        file = std::fopen(path.c_str(), "wb");
        break;
      case OpenMode::kWriteText:
        file = std::fopen(path.c_str(), "w");
        break;
      case OpenMode::kAppendText:
      case OpenMode::kAppend:
        return open_appending(path, mode == OpenMode::kAppendText);
      case OpenMode::kCreateNew:
      case OpenMode::kCreateNewShared:
#ifdef _WIN32
        file = open_windows_handle(path, CREATE_NEW);
#else
        file = open_descriptor(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                               mode == OpenMode::kCreateNew ? 0600 : 0644);
#endif
        break;
      case OpenMode::kWriteExisting:
#ifdef _WIN32
        file = open_windows_handle(path, OPEN_ALWAYS);
#else
        file = open_descriptor(path, O_WRONLY | O_CREAT | O_NONBLOCK, 0666);
#endif
        break;
    }
    if (file == nullptr) return nullptr;
    return std::make_unique<RealFile>(file);
  }

  std::unique_ptr<InputFile> open_input(const std::string& path) override {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return nullptr;
    return std::make_unique<RealInputFile>(file);
  }

  ReadResult read_file(const std::string& path, bool text, std::string& contents) override {
    contents.clear();
    std::FILE* file = std::fopen(path.c_str(), text ? "rt" : "rb");
    if (file == nullptr) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kError;
    char buffer[4096];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) contents.append(buffer, count);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? ReadResult::kError : ReadResult::kOk;
  }

  bool replace(const std::string& from, const std::string& to) override {
    return replace_file(from, to);
  }

  bool remove(const std::string& path) override { return std::remove(path.c_str()) == 0; }

  FileInfo info(const std::string& path) override {
#ifdef _WIN32
    HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const FileInfo info = info_of_handle(handle);
    CloseHandle(handle);
    return info;
#else
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    return info_of_stat(st);
#endif
  }

  std::optional<std::uint64_t> file_size(const std::string& path) override {
    const FileInfo i = info(path);
    if (!i.exists) return std::nullopt;
    return i.size;
  }

  bool is_link(const std::string& path) override {
    std::error_code error;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path, error));
  }

  bool sync_directory(const std::string& directory) override {
#ifdef _WIN32
    (void)directory;
    return true;
#else
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
#endif
  }

  std::string real_path(const std::string& path) override {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error || resolved.empty()) return path;
    return resolved.string();
  }

  std::string temp_directory() override {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error) return ".";
    return directory.string();
  }

  std::uint64_t process_id() override { return current_process_id(); }
};

}  // namespace

FileSystem& real_file_system() {
  static RealFileSystem file_system;
  return file_system;
}

std::string directory_of(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string file_name_of(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace zarvelt
