#include "log/reporter.h"

#include "log/transfer_log.h"

namespace zarvelt {

void Reporter::log(std::string_view text) const { write_log(log_path_, text); }

void Reporter::console(std::string_view text) const {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), console_);
}

}  // namespace zarvelt
