// Shared helpers for tests that work through the real file system or run the built program:
// a throw-away installation tree, whole-file reads and writes as bytes, and running a binary
// with arguments in a working directory while capturing what it prints and how it ends.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zarvelt::testing {

// A temporary installation laid out as the program expects it:
//   root/Files/                      (configuration file)
//   root/Velmarion_php/log/          (transfer log and its backup)
//   root/a/b/                        (working directory: the fixed paths start with ..\..)
// The whole tree is removed when the object goes out of scope.
class TempInstallation {
 public:
  TempInstallation();
  ~TempInstallation();
  TempInstallation(const TempInstallation&) = delete;
  TempInstallation& operator=(const TempInstallation&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path files_dir() const { return root_ / "Files"; }
  std::filesystem::path log_dir() const { return root_ / "Velmarion_php" / "log"; }
  std::filesystem::path working_dir() const { return root_ / "a" / "b"; }
  std::filesystem::path config_path() const { return files_dir() / "velmarion.ini"; }
  std::filesystem::path log_path() const { return log_dir() / "ZarveltLog.txt"; }
  std::filesystem::path log_backup_path() const { return log_dir() / "ZarveltLog_bak.txt"; }

 private:
  std::filesystem::path root_;
};

// A fresh empty directory below the system's temporary directory; the caller removes it.
std::filesystem::path make_temp_dir();

// Writes bytes to path, replacing the file; creates missing parent directories.
void write_file(const std::filesystem::path& path, const std::string& bytes);

// The file's bytes, or nothing when it cannot be read.
std::optional<std::string> read_file(const std::filesystem::path& path);

// A console stand-in for code that prints to a FILE*: collects everything written to file().
class CapturedConsole {
 public:
  CapturedConsole();
  ~CapturedConsole();
  CapturedConsole(const CapturedConsole&) = delete;
  CapturedConsole& operator=(const CapturedConsole&) = delete;

  std::FILE* file() const { return file_; }
  // Everything written so far.
  std::string text();

 private:
  std::FILE* file_ = nullptr;
};

// The bytes and exit of one program run. exit_status is what a Linux parent sees: 0-255, so an
// exit with -1 arrives as 255; it is -1 when the program did not exit normally (a signal).
struct ProgramRun {
  int exit_status = -1;
  int signal = 0;            // terminating signal, 0 after a normal exit
  std::string console;       // everything written to standard output
  std::string error_output;  // everything written to standard error
};

// Environment entries (name, value) set in the child on top of the inherited environment.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs binary with the given arguments (not including the program name) in working_dir, with
// standard input from /dev/null; waits for it to end.
ProgramRun run_binary(const std::string& binary, const std::vector<std::string>& arguments,
                      const std::filesystem::path& working_dir,
                      const Environment& environment = {});

// Sets an environment variable of this process while it lives (nothing when value is null),
// and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
  bool set_ = false;
};

// The zarvelt executable of this build.
ProgramRun run_zarvelt(const std::vector<std::string>& arguments,
                       const std::filesystem::path& working_dir,
                       const Environment& environment = {});

// The exit status as the parent sees it for a program status (-1 becomes 255).
constexpr int seen_exit_status(int program_status) { return program_status & 0xFF; }

}  // namespace zarvelt::testing
