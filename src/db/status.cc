#include "db/status.h"

namespace zarvelt::db {

namespace {

// The statuses that describe one booking's values: the booking fails, the run goes on. Every
// backend maps its own codes onto these numbers (sqlite_backend.cc, postgresql_errors.cc,
// odbc_translation.cc); a status that is not here ends the run. Only what the values of one
// booking line can cause belongs here, so that a fault of the database never passes for a
// bad booking and a run with nothing stored never counts as transferred.
constexpr std::int32_t kBookingStatuses[] = {
    kSuccess,
    // Lookups: nothing found, a NULL without indicator, several rows.
    kNoRow,
    kNullFetched,
    kTooManyRows,
    kSubqueryTooManyRows,
    // The row is there already.
    kUniqueConstraint,
    // A value the columns refuse: missing, too long, out of range, against a constraint of the
    // row (the row's own data, not the table's state), or not of the column's character set.
    kNullIntoNotNull,
    kValueTooLarge,
    kInsertedValueTooLarge,
    kPrecisionTooLarge,
    kIntegerOverflow,
    kInvalidNumber,
    kCheckConstraint,
    kParentKeyMissing,
    kPartialMultibyte,
    // A date or time the format does not take.
    kDatePictureEnds,
    kDateNotValidForMonth,
    kDateTooShort,
    kYearOutOfRange,
    kInvalidMonth,
    kDayOutOfRange,
    kHourOutOfRange,
    kMinuteOutOfRange,
    kSecondOutOfRange,
    kNonNumericInDate,
    kDateFormat,
    kNumberLengthInDate,
};

}  // namespace

// Everything else ends the run: the database is read-only (kReadOnly), a privilege is
// missing (kInsufficientPrivileges), it has no space or memory left (kUnableToExtend,
// kOutOfProcessMemory), too many sessions (kTooManySessions), a table or column is missing
// (kTableMissing, kInvalidIdentifier, kInvalidSql), a lock or the statement timed out or was
// cancelled (kResourceBusy, kCancelled, kDeadlock, kCannotSerialize), the file failed
// (kIoError, kBlockCorrupted), the transaction is gone (kTransactionRolledBack), and whatever a
// backend could not map (kInternalError). Each would fail every later write alike, and a retry
// of the whole run may succeed once it is mended.
StatusScope status_scope(std::int32_t status) {
  if (is_session_lost(status)) return StatusScope::kSessionLost;
  for (const std::int32_t booking_status : kBookingStatuses) {
    if (status == booking_status) return StatusScope::kBooking;
  }
  return StatusScope::kRun;
}

}  // namespace zarvelt::db
