// The process's own platform calls, POSIX and Windows.
#include "files/process.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace zarvelt {

std::uint64_t current_process_id() {
#ifdef _WIN32
  return static_cast<std::uint64_t>(_getpid());
#else
  return static_cast<std::uint64_t>(getpid());
#endif
}

std::string current_directory() {
  char buffer[4096];
#ifdef _WIN32
  return _getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
#else
  return getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string();
#endif
}

bool is_terminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

std::tm local_time(std::time_t moment) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &moment);
#else
  localtime_r(&moment, &local);
#endif
  return local;
}

std::string host_path(std::string_view windows_path) {
  std::string path(windows_path);
#ifndef _WIN32
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
#endif
  return path;
}

void forbid_core_dumps() {
#ifdef _WIN32
  // No fault dialog and no report to the system's error reporting, which would take a dump.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
#else
  const rlimit none = {0, 0};
  setrlimit(RLIMIT_CORE, &none);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace zarvelt
