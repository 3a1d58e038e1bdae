// The transfer loop: reads the source file line by line, drops faulty lines and lines of other
// terminals, dispatches the rest and writes the summary of the counters to the transfer log.
#pragma once

#include <cstdio>

#include "driver/dispatch.h"
#include "handlers/run_context.h"

namespace zarvelt {

// Zeroes the counters, handles every line of source to its end through handlers, writes the
// summary to the log (and in verbose mode the total to the console). Stops early, summary
// still written, after a line whose handlers found the session lost or the run's writes
// refused, and returns that result; otherwise returns kDone.
HandlerResult transfer_bookings(RunContext& run, std::FILE* source,
                                const BookingHandlers& handlers = kBookingHandlers);

}  // namespace zarvelt
