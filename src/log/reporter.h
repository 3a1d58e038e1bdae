// Where a run reports what happened: the transfer log and the console. Some console lines are
// printed in every mode, the others only in verbose mode ("/D").
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zarvelt {

class Reporter {
 public:
  Reporter() = default;
  Reporter(std::string log_path, std::FILE* console, bool verbose)
      : log_path_(std::move(log_path)), console_(console), verbose_(verbose) {}

  // A line of output kept back instead of written.
  struct Held {
    enum class To { kLog, kConsole } to;
    std::string text;
  };
  // A reporter that appends each log and console line to held, in order, instead of writing
  // it: the output of one booking line as data, which the caller writes with release() when
  // the line's turn comes.
  Reporter collecting_into(std::vector<Held>* held) const {
    Reporter collecting(*this);
    collecting.held_ = held;
    return collecting;
  }
  // Makes a collecting reporter keep its lines in held from now on (cheaper than a new one for
  // each place a caller keeps lines in).
  void collect_into(std::vector<Held>* held) { held_ = held; }
  void release(const Held& line) const {
    if (line.to == Held::To::kLog) {
      log(line.text);
    } else {
      console(line.text);
    }
  }

  bool verbose() const { return verbose_; }
  const std::string& log_path() const { return log_path_; }

  // Appends one line to the transfer log (silent when the log cannot be written).
  void log(std::string_view text) const;
  // Prints text as it is, in every mode.
  void console(std::string_view text) const;
  // Prints text only in verbose mode.
  void verbose_console(std::string_view text) const {
    if (verbose_) console(text);
  }

 private:
  std::string log_path_;
  std::FILE* console_ = stdout;
  bool verbose_ = false;
  std::vector<Held>* held_ = nullptr;
};

}  // namespace zarvelt
