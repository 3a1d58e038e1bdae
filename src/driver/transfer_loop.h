// The transfer loop: reads the source file line by line, drops faulty lines and lines of other
// terminals, dispatches the rest, passes on every line that did not fully reach its
// destinations, and writes the summary of the counters to the transfer log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "driver/dispatch.h"
#include "handlers/run_context.h"

namespace zarvelt {

// Where the loop sends a line that did not fully reach its destinations.
class RejectSink {
 public:
  virtual ~RejectSink() = default;
  // line_number counts the source's lines from 1; bytes is the line to be fed again, its line
  // end included; reason says what failed, in the log's words.
  virtual void reject(std::int64_t line_number, std::string_view bytes,
                      std::string_view reason) = 0;
};

// Told after every line: the lines read so far and the bytes of the source read so far.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void lines_read(std::int64_t lines, std::int64_t bytes) = 0;
};

struct TransferResult {
  HandlerResult ended;  // kDone, or the result that ended the run early
  std::int64_t lines_read = 0;
  std::int64_t lines_rejected = 0;
};

// Zeroes the counters, handles every line of source to its end through handlers, writes the
// summary to the log (and in verbose mode the total to the console). Stops early, summary
// still written, after a line whose handlers found the session lost or the run's writes
// refused.
TransferResult transfer_bookings(RunContext& run, std::FILE* source,
                                 const BookingHandlers& handlers = kBookingHandlers,
                                 RejectSink* rejects = nullptr, ProgressSink* progress = nullptr);

// The summary of the counters, as the log gets it at the end of the loop (a check run prints it
// on the console as well).
std::string summary_text(const Counters& counters);

// The line to feed again for a line whose handlers gave outcome: the line as read, or, where
// one of its two destinations was reached, the line rebuilt with that part switched off (the
// time-booking mark or the access result emptied). Empty when the line reached everything.
std::string line_to_feed_again(const std::string& line, const BookingLine& booking,
                               const LineOutcome& outcome);

}  // namespace zarvelt
