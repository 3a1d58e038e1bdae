// What a handler made of one booking. The handler does its own reporting; the transfer loop
// counts the booking and decides whether the run goes on.
#pragma once

#include <cstdint>

#include "db/status.h"

namespace zarvelt {

enum class Outcome {
  kDone,         // the booking reached its destination (or was already there): it counts
  kRefused,      // the booking's values cannot be transferred; reported, the run goes on
  kFailed,       // a statement failed for this booking; reported, the run goes on
  kSessionLost,  // the database session is gone: nothing more can run or be committed
};

struct HandlerResult {
  Outcome outcome = Outcome::kDone;
  std::int32_t status = db::kSuccess;  // the status of the handler's last database step
};

// A lost session overrides what the handler made of the booking: the loop must stop.
inline HandlerResult handler_result(Outcome outcome, std::int32_t status) {
  return {db::is_session_lost(status) ? Outcome::kSessionLost : outcome, status};
}

}  // namespace zarvelt
