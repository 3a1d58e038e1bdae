// The interface of a booking kind's handler. Each kind (time booking, access booking,
// cost-centre booking, event) has its handler in a file of its own here; the driver's table of
// kinds (driver/dispatch.cc) says which lines go to it and counts what it gets through.
#pragma once

#include <cstdint>
#include <vector>

#include "handlers/outcome.h"
#include "handlers/run_context.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

class BookingHandler {
 public:
  virtual ~BookingHandler() = default;

  // Asks at once for the master data that handle() will look up for lines (the lines read
  // ahead that this kind takes, in their order), where the run's master data reads ahead
  // (MasterData::reads_ahead): across a network each lookup alone is a round trip.
  virtual void prefetch(RunContext& /*run*/,
                        const std::vector<const BookingLine*>& /*lines*/) const {}

  // Handles the line's booking of this kind: picks what it uses from the run, reports to
  // reporter (which may keep the lines as data) and returns the outcome; the caller counts. A
  // booking stored by an insert gives kWaiting with its row: the caller queues it, and
  // answered() makes the outcome of its status once it is in.
  virtual HandlerResult handle(RunContext& run, const Reporter& reporter,
                               const BookingLine& line) const = 0;

  // What the status of the booking's insert makes of it, reported to reporter (the line's own,
  // which keeps it in its place). Only a handler that gives kWaiting is asked.
  virtual HandlerResult answered(const Reporter& /*reporter*/, std::int32_t status) const {
    return {Outcome::kFailed, status, {}, {}};
  }
};

}  // namespace zarvelt
