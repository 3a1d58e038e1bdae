// The transfer loop: reads the source file line by line, drops faulty lines and lines of other
// terminals, dispatches the rest, passes on every line that did not fully reach its
// destinations, and writes the summary of the counters to the transfer log.
#pragma once

#include <cstdint>
#include <cstdio>
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
  Counters counted{};  // the bookings of each kind that got through
};

// Handles every line of source to its end through the kinds' handlers, writes the summary of
// what it counted to the log (and in verbose mode the total to the console). Stops early,
// summary still written, after a line whose handlers found the session lost or the run's
// writes refused.
TransferResult transfer_bookings(RunContext& run, std::FILE* source,
                                 const BookingKinds& kinds = kBookingKinds,
                                 RejectSink* rejects = nullptr, ProgressSink* progress = nullptr);

}  // namespace zarvelt
