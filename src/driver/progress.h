// Progress of a long run for a person watching it: one line on standard error, rewritten a few
// times a second. Shown only when standard error is a terminal; nothing otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "driver/transfer_loop.h"

namespace zarvelt {

class TerminalProgress : public ProgressSink {
 public:
  // source_size: the source file's size in bytes (0: unknown).
  TerminalProgress(std::FILE* terminal, std::int64_t source_size);
  void lines_read(std::int64_t lines, std::int64_t bytes) override;
  // Shows the last state and ends the line.
  void finish();

 private:
  void show(std::int64_t lines, std::int64_t bytes);

  std::FILE* terminal_;
  std::int64_t source_size_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_shown_;
  std::int64_t lines_ = 0;
  std::int64_t bytes_ = 0;
  bool shown_ = false;
};

}  // namespace zarvelt
