// Statement statuses, as the Oracle client delivers them whatever backend carries the
// statement: 0 success, 1403 no row, otherwise the negated Oracle error number.
#pragma once

#include <cstdint>

namespace zarvelt::db {

inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kNoRow = 1403;  // single-row query found nothing

// A booking's own values.
inline constexpr std::int32_t kUniqueConstraint = -1;    // ORA-00001
inline constexpr std::int32_t kNullIntoNotNull = -1400;  // ORA-01400
inline constexpr std::int32_t kValueTooLarge = -12899;   // ORA-12899 value too large for column
inline constexpr std::int32_t kInsertedValueTooLarge = -1401;  // ORA-01401
inline constexpr std::int32_t kNullFetched = -1405;            // ORA-01405
inline constexpr std::int32_t kTooManyRows = -1422;            // ORA-01422 single-row query
inline constexpr std::int32_t kSubqueryTooManyRows = -1427;    // ORA-01427
inline constexpr std::int32_t kCheckConstraint = -2290;    // ORA-02290 check constraint violated
inline constexpr std::int32_t kParentKeyMissing = -2291;   // ORA-02291 parent key not found
inline constexpr std::int32_t kPrecisionTooLarge = -1438;  // ORA-01438 value larger than precision
inline constexpr std::int32_t kIntegerOverflow = -1455;    // ORA-01455 column overflows integer
inline constexpr std::int32_t kInvalidNumber = -1722;      // ORA-01722
inline constexpr std::int32_t kPartialMultibyte = -29275;  // ORA-29275 partial multibyte character
// Dates and times that do not fit the format (ORA-01830 to ORA-01862).
inline constexpr std::int32_t kDatePictureEnds = -1830;       // ORA-01830 input longer than format
inline constexpr std::int32_t kDateNotValidForMonth = -1839;  // ORA-01839
inline constexpr std::int32_t kDateTooShort = -1840;          // ORA-01840
inline constexpr std::int32_t kYearOutOfRange = -1841;        // ORA-01841
inline constexpr std::int32_t kInvalidMonth = -1843;          // ORA-01843
inline constexpr std::int32_t kDayOutOfRange = -1847;         // ORA-01847
inline constexpr std::int32_t kHourOutOfRange = -1850;        // ORA-01850
inline constexpr std::int32_t kMinuteOutOfRange = -1851;      // ORA-01851
inline constexpr std::int32_t kSecondOutOfRange = -1852;      // ORA-01852
inline constexpr std::int32_t kNonNumericInDate = -1858;      // ORA-01858
inline constexpr std::int32_t kDateFormat = -1861;            // ORA-01861 date not matching format
inline constexpr std::int32_t kNumberLengthInDate = -1862;    // ORA-01862 item of wrong length

// The database cannot take the run's writes.
inline constexpr std::int32_t kReadOnly = -16000;               // ORA-16000 database open read-only
inline constexpr std::int32_t kInsufficientPrivileges = -1031;  // ORA-01031
inline constexpr std::int32_t kUnableToExtend = -1653;          // ORA-01653 no space for the table
inline constexpr std::int32_t kOutOfProcessMemory = -4030;      // ORA-04030
inline constexpr std::int32_t kTooManySessions = -18;           // ORA-00018 sessions exceeded
inline constexpr std::int32_t kTableMissing = -942;             // ORA-00942
inline constexpr std::int32_t kInvalidIdentifier = -904;  // ORA-00904 (also a refused schema name)
inline constexpr std::int32_t kSchemaMissing = -1435;     // ORA-01435 user does not exist
inline constexpr std::int32_t kInvalidSql = -900;         // ORA-00900
inline constexpr std::int32_t kResourceBusy = -54;        // ORA-00054 (lock wait timed out)
inline constexpr std::int32_t kCancelled = -1013;         // ORA-01013 (statement timeout)
inline constexpr std::int32_t kDeadlock = -60;            // ORA-00060
inline constexpr std::int32_t kCannotSerialize = -8177;   // ORA-08177
inline constexpr std::int32_t kTransactionRolledBack = -2091;  // ORA-02091
inline constexpr std::int32_t kIoError = -1115;                // ORA-01115 IO error reading block
inline constexpr std::int32_t kBlockCorrupted = -1578;         // ORA-01578
inline constexpr std::int32_t kNotAllVariablesBound = -1008;   // ORA-01008
inline constexpr std::int32_t kInternalError = -600;           // ORA-00600: anything unmapped
// A parameter array with failed rows (ORA-24381 error(s) in array DML): a summary of the rows'
// own errors, never the status of a booking or of the run.
inline constexpr std::int32_t kArrayDmlErrors = -24381;
// The duplicate-absorbing hint of the batch inserts refused (ORA-38911 to ORA-38917).
inline constexpr std::int32_t kHintIndexInvalid = -38913;  // ORA-38913 no such unique index
inline bool is_duplicate_hint_refused(std::int32_t status) {
  return status <= -38911 && status >= -38917;
}

// Connecting.
inline constexpr std::int32_t kCannotResolveAlias = -12154;  // ORA-12154
inline constexpr std::int32_t kInvalidLogin = -1017;         // ORA-01017
inline constexpr std::int32_t kConnectTimeout = -12170;      // ORA-12170 TNS connect timeout
inline constexpr std::int32_t kHostUnknown = -12545;         // ORA-12545 target host unknown
inline constexpr std::int32_t kNoListener = -12541;          // ORA-12541 TNS no listener
inline constexpr std::int32_t kStartingUp = -1033;           // ORA-01033 startup in progress
inline constexpr std::int32_t kShuttingDown = -1089;         // ORA-01089 shutdown in progress
inline constexpr std::int32_t kFeatureNotEnabled = -439;     // ORA-00439 (a database product
                                                             // without statement texts here)
// The ODBC driver (or the Oracle client under it) is of another width than the program, 32-bit
// against 64-bit: the Windows driver manager refuses the connect with SQLSTATE IM014, or fails to
// load a driver whose client is of the other width (IM003, system error 193). Oracle's own
// client calls parts of the other width it cannot load ORA-12557 (protocol adapter not
// loadable), so that number stands for all three.
inline constexpr std::int32_t kArchitectureMismatch = -12557;  // ORA-12557

// The session is gone.
inline constexpr std::int32_t kNotConnected = -3114;      // ORA-03114
inline constexpr std::int32_t kConnectionLost = -3113;    // ORA-03113
inline constexpr std::int32_t kNotLoggedOn = -1012;       // ORA-01012
inline constexpr std::int32_t kSessionKilled = -28;       // ORA-00028
inline constexpr std::int32_t kConnectionClosed = -3135;  // ORA-03135

// What a failed statement concerns. A booking's own data (a duplicate, a value the columns
// refuse, no row) fails that booking; the run goes on. A lost session ends the run. Anything
// else says the database cannot take the run's writes at all (read-only, privileges, space,
// a missing table, timeouts, an error no backend could map): the run ends, nothing is
// committed, and a later retry may succeed.
enum class StatusScope { kBooking, kRun, kSessionLost };
StatusScope status_scope(std::int32_t status);

// True when the status says the session is gone (any of the five above): every later statement
// fails at once and the run's transaction cannot be committed.
inline bool is_session_lost(std::int32_t status) {
  return status == kConnectionLost || status == kNotConnected || status == kNotLoggedOn ||
         status == kSessionKilled || status == kConnectionClosed;
}

}  // namespace zarvelt::db
