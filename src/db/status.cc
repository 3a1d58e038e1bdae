#include "db/status.h"

namespace zarvelt::db {

namespace {

// The statuses that describe one booking's values: the booking fails, the run goes on.
constexpr std::int32_t kBookingStatuses[] = {
    kSuccess,
    kNoRow,
    kUniqueConstraint,
    kNullIntoNotNull,
    kNullFetched,
    kTooManyRows,
    kValueTooLarge,
    kDateFormat,
    kInvalidMonth,
    kInvalidNumber,
    kIntegerOverflow,
};

}  // namespace

StatusScope status_scope(std::int32_t status) {
  if (is_session_lost(status)) return StatusScope::kSessionLost;
  for (const std::int32_t booking_status : kBookingStatuses) {
    if (status == booking_status) return StatusScope::kBooking;
  }
  return StatusScope::kRun;
}

}  // namespace zarvelt::db
