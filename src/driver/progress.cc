// The progress line on a terminal: throttled rewrites of one line on standard error.
#include "driver/progress.h"

namespace zarvelt {

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);
}  // namespace

TerminalProgress::TerminalProgress(std::FILE* terminal, std::int64_t source_size)
    : terminal_(terminal),
      source_size_(source_size),
      start_(std::chrono::steady_clock::now()),
      last_shown_(start_) {}

void TerminalProgress::lines_read(std::int64_t lines, std::int64_t bytes) {
  lines_ = lines;
  bytes_ = bytes;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_shown_ < kInterval) return;
  last_shown_ = now;
  show(lines, bytes);
}

void TerminalProgress::show(std::int64_t lines, std::int64_t bytes) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const long long rate = seconds > 0 ? static_cast<long long>(lines / seconds) : 0;
  const int percent = source_size_ > 0 ? static_cast<int>(bytes * 100 / source_size_) : 0;
  std::fprintf(terminal_, "\r%lld Zeilen gelesen, %d %%, %lld Zeilen/s   ",
               static_cast<long long>(lines), percent, rate);
  std::fflush(terminal_);
  shown_ = true;
}

void TerminalProgress::finish() {
  show(lines_, bytes_);
  std::fputc('\n', terminal_);
  std::fflush(terminal_);
}

}  // namespace zarvelt
