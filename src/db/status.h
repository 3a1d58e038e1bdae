// Statement statuses, as the Oracle client delivers them whatever backend carries the
// statement: 0 success, 1403 no row, otherwise the negated Oracle error number.
#pragma once

#include <cstdint>

namespace zarvelt::db {

inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kNoRow = 1403;                 // single-row query found nothing
inline constexpr std::int32_t kUniqueConstraint = -1;        // ORA-00001
inline constexpr std::int32_t kNullFetched = -1405;          // ORA-01405
inline constexpr std::int32_t kNotConnected = -3114;         // ORA-03114
inline constexpr std::int32_t kConnectionLost = -3113;       // ORA-03113
inline constexpr std::int32_t kCannotResolveAlias = -12154;  // ORA-12154
inline constexpr std::int32_t kInvalidLogin = -1017;         // ORA-01017
inline constexpr std::int32_t kSchemaMissing = -1435;        // ORA-01435 user does not exist
inline constexpr std::int32_t kTableMissing = -942;          // ORA-00942
inline constexpr std::int32_t kNullIntoNotNull = -1400;      // ORA-01400
inline constexpr std::int32_t kValueTooLarge = -12899;       // ORA-12899
inline constexpr std::int32_t kInvalidIdentifier = -904;     // ORA-00904 (refused schema name)
inline constexpr std::int32_t kTooManyRows = -1422;          // ORA-01422 single-row query
inline constexpr std::int32_t kDateFormat = -1861;           // ORA-01861 date not matching format
inline constexpr std::int32_t kInvalidMonth = -1843;         // ORA-01843
inline constexpr std::int32_t kInvalidSql = -900;            // ORA-00900
inline constexpr std::int32_t kIntegerOverflow = -1455;      // ORA-01455 column overflows integer
inline constexpr std::int32_t kInvalidNumber = -1722;        // ORA-01722
inline constexpr std::int32_t kCancelled = -1013;            // ORA-01013 (statement timeout)
inline constexpr std::int32_t kResourceBusy = -54;           // ORA-00054
inline constexpr std::int32_t kInternalError = -600;         // ORA-00600: anything unmapped
inline constexpr std::int32_t kReadOnly = -16000;            // ORA-16000 database open read-only
inline constexpr std::int32_t kNotLoggedOn = -1012;          // ORA-01012
inline constexpr std::int32_t kSessionKilled = -28;          // ORA-00028
inline constexpr std::int32_t kConnectionClosed = -3135;     // ORA-03135

// What a failed statement concerns. A booking's own data (a duplicate, a value the columns
// refuse, no row) fails that booking; the run goes on. A lost session ends the run. Anything
// else says the database cannot take the run's writes at all (read-only, privileges, space,
// a missing table, timeouts, an error no backend could map): the run ends, nothing is
// committed, and a later retry may succeed.
enum class StatusScope { kBooking, kRun, kSessionLost };
StatusScope status_scope(std::int32_t status);

// True when the status says the session is gone: every later statement fails at once and the
// run's transaction cannot be committed.
inline bool is_session_lost(std::int32_t status) {
  return status == kConnectionLost || status == kNotConnected;
}

}  // namespace zarvelt::db
