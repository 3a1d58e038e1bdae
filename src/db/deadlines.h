// How long a backend that reaches a server waits, so that a dead or frozen server cannot hang
// the run: the same policy for every such backend (libpq directly, or an ODBC driver).
//
// The server bounds a lock wait and a statement itself; the lock wait ends first, so that a
// lock held by another session ends the statement with -54 rather than with the statement's
// own timeout. A stopped server answers neither (and TCP keepalives do not fire against a
// process that keeps its socket open), so the client gives up on any round trip or driver
// call after its own deadline, beyond the server's timeouts: the statement is given up, the
// session counts as lost, and the run ends without a commit.
#pragma once

#include <chrono>

namespace zarvelt::db {

inline constexpr std::chrono::seconds kLoginTimeout{10};
inline constexpr std::chrono::seconds kStatementTimeout{30};
inline constexpr std::chrono::seconds kLockTimeout{25};
inline constexpr std::chrono::seconds kClientDeadline{45};

static_assert(kLockTimeout < kStatementTimeout && kStatementTimeout < kClientDeadline);

}  // namespace zarvelt::db
