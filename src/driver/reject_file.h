// The reject file of a run: every line that did not fully reach its destinations, to be fed
// to the program again once its cause is fixed, and beside it the reasons file that says for
// each line what failed. Both are created in the log directory at the first rejected line;
// a run that rejects nothing creates neither.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "driver/transfer_loop.h"
#include "files/file_system.h"
#include "log/reporter.h"

namespace zarvelt {

// The reject file's name for a run of terminal started at start_time (yyyymmdd-hhmmss) by
// process pid: "ZarveltReject_<terminal>_<start time>_<pid>.txt", letters, digits, '-' and '_'
// of the terminal name kept, every other byte '_'. No two runs can have the same.
std::string reject_file_name(std::string_view terminal, std::string_view start_time, long pid);

// The reasons file beside a reject file: its name with "_Gruende" before ".txt".
std::string reasons_file_path(const std::string& reject_path);

class RejectFile : public RejectSink {
 public:
  // reject_path: where the file goes once there is a line for it.
  RejectFile(std::string reject_path, const Reporter& reporter,
             FileSystem& file_system = real_file_system());

  void reject(std::int64_t line_number, std::string_view bytes, std::string_view reason) override;

  // The path, once a line was written; empty otherwise.
  const std::string& path() const { return created_ ? path_ : empty_; }
  // Removes both files: a run that is not taken over is fed again whole.
  void discard();

 private:
  bool create();

  std::string path_;
  std::string empty_;
  const Reporter& reporter_;
  FileSystem& file_system_;
  std::unique_ptr<File> lines_;
  std::unique_ptr<File> reasons_;
  bool created_ = false;
  bool failed_ = false;
};

// In a check run: the reasons go to the console, nothing is written.
class RejectReport : public RejectSink {
 public:
  explicit RejectReport(const Reporter& reporter) : reporter_(reporter) {}
  void reject(std::int64_t line_number, std::string_view bytes, std::string_view reason) override;

 private:
  const Reporter& reporter_;
};

}  // namespace zarvelt
