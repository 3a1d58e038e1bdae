// What failed inserts and lookups make of a booking or of the run.
#include "handlers/outcome.h"

namespace zarvelt {

HandlerResult ending_lookup(std::int32_t status) {
  switch (db::status_scope(status)) {
    case db::StatusScope::kSessionLost:
      return {Outcome::kSessionLost, status, {}};
    case db::StatusScope::kRun:
      return {Outcome::kRunMustEnd, status, {}};
    case db::StatusScope::kBooking:
      break;
  }
  return {};
}

HandlerResult failed_insert(const Reporter& reporter, std::string_view table, std::int32_t status) {
  std::string reason = "Insert in " + std::string(table) + " fehlgeschlagen";
  reporter.console(" " + reason + ", Fehler " + std::to_string(status) + "\n");
  switch (db::status_scope(status)) {
    case db::StatusScope::kSessionLost:
      return {Outcome::kSessionLost, status, std::move(reason)};
    case db::StatusScope::kRun:
      return {Outcome::kRunMustEnd, status, std::move(reason)};
    case db::StatusScope::kBooking:
      break;
  }
  return {Outcome::kFailed, status, std::move(reason)};
}

}  // namespace zarvelt
