// Zero fill of a text column.
#include "handlers/zero_fill.h"

namespace zarvelt {

std::string zero_fill_left(std::string_view text, std::size_t width) {
  std::string filled;
  if (text.size() < width) filled.assign(width - text.size(), '0');
  filled.append(text);
  return filled;
}

}  // namespace zarvelt
