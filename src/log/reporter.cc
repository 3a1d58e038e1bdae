// Writing a report line to the log or the console, or keeping it as data for later.
#include "log/reporter.h"

#include "log/transfer_log.h"

namespace zarvelt {

void Reporter::log(std::string_view text) const {
  if (held_ != nullptr) {
    held_->push_back({Held::To::kLog, std::string(text)});
    return;
  }
  write_log(log_path_, text);
}

void Reporter::console(std::string_view text) const {
  if (text.empty()) return;
  if (held_ != nullptr) {
    held_->push_back({Held::To::kConsole, std::string(text)});
    return;
  }
  std::fwrite(text.data(), 1, text.size(), console_);
}

}  // namespace zarvelt
