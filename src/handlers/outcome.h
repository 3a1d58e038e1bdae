// What a handler made of one booking. The handler does its own reporting; the transfer loop
// counts the booking and decides whether the run goes on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "db/statements.h"
#include "db/status.h"
#include "log/reporter.h"

namespace zarvelt {

enum class Outcome {
  kDone,         // the booking reached its destination (or was already there): it counts
  kDuplicate,    // the booking was stored already; not counted again
  kRefused,      // the booking's values cannot be transferred; reported, the run goes on
  kFailed,       // a statement failed for this booking; reported, the run goes on
  kSessionLost,  // the database session is gone: nothing more can run or be committed
  kRunMustEnd,   // the database refuses the run's writes as such (read-only, no space, ...)
  kWaiting,      // the booking is a row to insert; its insert's answer decides (answered())
};

struct HandlerResult {
  Outcome outcome = Outcome::kDone;
  std::int32_t status = db::kSuccess;  // the status of the handler's last database step
  std::string reason;                  // what failed, for a booking that did not get through
  db::InsertRow insert{};              // kWaiting: the row to insert
};

// True when the booking is where it belongs: done now or stored before.
inline bool reached(const HandlerResult& result) {
  return result.outcome == Outcome::kDone || result.outcome == Outcome::kDuplicate;
}

// True for the outcomes after which the loop must not read another line.
inline bool ends_run(Outcome outcome) {
  return outcome == Outcome::kSessionLost || outcome == Outcome::kRunMustEnd;
}

// A lost session overrides what the handler made of the booking: the loop must stop. Used
// after lookups, whose other failures are the booking's own whatever their status.
inline HandlerResult handler_result(Outcome outcome, std::int32_t status, std::string reason = {}) {
  return {db::is_session_lost(status) ? Outcome::kSessionLost : outcome, status, std::move(reason)};
}

// The result that ends the run for a lookup's status that concerns the session or the run
// (a lock or statement timeout, a cancel, a lost session, a database that cannot answer);
// kDone for a status about the booking's own data. Taking such a status for "not found" would
// export or store the booking wrongly and report success.
HandlerResult ending_lookup(std::int32_t status);

// Reports an insert into table that did not store its row, " Insert in <table> fehlgeschlagen,
// Fehler <status>" on the console in every mode, and gives its result: a status about the
// run's writes as such ends the run; one about the booking's values fails the booking.
HandlerResult failed_insert(const Reporter& reporter, std::string_view table, std::int32_t status);

}  // namespace zarvelt
