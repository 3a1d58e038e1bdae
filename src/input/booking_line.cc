// A booking line's fields by role, and the badge trimmed as the dispatch reads it.
#include "input/booking_line.h"

#include "text/text.h"

namespace zarvelt {

const std::string& BookingLine::field(int i) const {
  static const std::string empty;
  return i < field_count() ? fields_[static_cast<size_t>(i)] : empty;
}

void BookingLine::trim_badge() {
  if (!fields_.empty()) trim_right(fields_[kBadge]);
}

}  // namespace zarvelt
