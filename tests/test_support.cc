#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace zarvelt::testing {

namespace fs = std::filesystem;

namespace {

// Reads both pipes to their end together, so that a child filling one of them cannot block
// while the parent waits on the other.
void drain(int stdout_fd, int stderr_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{stdout_fd, POLLIN, 0}, {stderr_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

// Every program a test runs, with its standard error and how it ended; printed when the test
// fails, so that a failure shows what the child said (a sanitizer's report, a message), not
// only that its exit status or output differed.
class ChildReports : public ::testing::EmptyTestEventListener {
 public:
  void add(const std::string& binary, const std::vector<std::string>& arguments,
           const ProgramRun& run) {
    std::string report = "--- child " + binary;
    for (const std::string& argument : arguments) report += " " + argument;
    report += run.signal != 0 ? " ended by signal " + std::to_string(run.signal)
                              : " exited with " + std::to_string(run.exit_status);
    if (run.error_output.empty()) {
      report += ", nothing on its standard error\n";
    } else {
      report += ", its standard error:\n" + run.error_output;
      if (run.error_output.back() != '\n') report += "\n";
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(std::move(report));
  }

 private:
  void OnTestStart(const ::testing::TestInfo&) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    reports_.clear();
  }
  void OnTestEnd(const ::testing::TestInfo& test) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (test.result() != nullptr && test.result()->Failed()) {
      for (const std::string& report : reports_) std::fputs(report.c_str(), stdout);
      std::fflush(stdout);
    }
    reports_.clear();
  }

  std::mutex mutex_;
  std::vector<std::string> reports_;
};

// Registered with GoogleTest before its main runs the tests; GoogleTest owns it.
ChildReports& child_reports() {
  static ChildReports* const reports = [] {
    auto* made = new ChildReports;
    ::testing::UnitTest::GetInstance()->listeners().Append(made);
    return made;
  }();
  return *reports;
}
const bool kChildReportsRegistered = (child_reports(), true);

ProgramRun run_one(const std::string& binary, const std::vector<std::string>& arguments,
                   const fs::path& working_dir, const Environment& environment);

}  // namespace

ProgramRun run_binary(const std::string& binary, const std::vector<std::string>& arguments,
                      const fs::path& working_dir, const Environment& environment) {
  ProgramRun run = run_one(binary, arguments, working_dir, environment);
  child_reports().add(binary, arguments, run);
  return run;
}

namespace {

ProgramRun run_one(const std::string& binary, const std::vector<std::string>& arguments,
                   const fs::path& working_dir, const Environment& environment) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
  if (pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");

  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<std::string> argv_texts;
  argv_texts.push_back(binary);
  argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argv_texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const std::string directory = working_dir.string();
  std::vector<std::string> environment_texts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    bool overridden = false;
    for (const auto& [name, value] : environment) {
      overridden = overridden || text.starts_with(name + "=");
    }
    if (!overridden) environment_texts.push_back(std::move(text));
  }
  for (const auto& [name, value] : environment) environment_texts.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : environment_texts) envp.push_back(text.data());
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execve(binary.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);

  ProgramRun run;
  drain(out_pipe[0], err_pipe[0], run.console, run.error_output);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  if (WIFEXITED(wait_status)) {
    run.exit_status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    run.signal = WTERMSIG(wait_status);
  }
  return run;
}

}  // namespace

ProgramRun run_zarvelt(const std::vector<std::string>& arguments, const fs::path& working_dir,
                       const Environment& environment) {
  return run_binary(ZARVELT_BINARY, arguments, working_dir, environment);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  if (value == nullptr) return;
  if (const char* old = std::getenv(name)) old_ = old;
  set_ = setenv(name, value, 1) == 0;
}

ScopedEnvironment::~ScopedEnvironment() {
  if (!set_) return;
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

}  // namespace zarvelt::testing
