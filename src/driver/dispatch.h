// The booking kinds as a table: for each kind, which lines it takes (its case rule), its
// handler, the labels of its count, and what feeding a line again needs of it. The table is
// kBookingKinds in dispatch.cc; the transfer loop, its summary and the run record go through it
// and name no kind of their own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "handlers/booking_handler.h"
#include "handlers/outcome.h"
#include "handlers/run_context.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

struct BookingKind {
  // The case rule: true when a booking line of the run's terminal (its badge trimmed) holds a
  // booking of this kind.
  bool (*takes)(const BookingLine& line);
  const BookingHandler* handler;
  // A line that several kinds take runs their steps by line_order, then in table order.
  int line_order;
  // The field whose emptying leaves the line to the other kinds, for a line fed again after
  // this kind got through; -1: none (the line is fed again as read).
  int switch_field;
  std::string_view summary_label;  // its line in the log's summary, before the count
  std::string_view record_label;   // its count's name in the run record
};

inline constexpr std::size_t kBookingKindCount = 4;
using BookingKinds = std::array<BookingKind, kBookingKindCount>;

// The program's kinds with their handlers. Tests pass a copy with handlers of their own.
extern const BookingKinds kBookingKinds;

// The bookings of each kind that got through, by the kind's place in the table.
using Counters = std::array<std::int32_t, kBookingKindCount>;

// The kinds that take a line, in the order their steps run (line_order, then table order).
struct LineKinds {
  std::size_t kinds[kBookingKindCount] = {};
  int count = 0;
};
LineKinds kinds_taking(const BookingLine& line, const BookingKinds& kinds);

// What the steps of one line gave, in the order they ran, each with what it reported.
struct LineOutcome {
  struct Step {
    std::size_t kind = 0;  // its place in the table
    HandlerResult result;
    std::vector<Reporter::Held> output;  // its console and log lines, kept until the line's turn
  };
  Step steps[kBookingKindCount];
  int count = 0;

  // The first result that ends the run, or else the last one (kDone when none ran).
  HandlerResult final_result() const;
};

// Counts each booking of the line that is done.
void count_bookings(Counters& counters, const LineOutcome& outcome);

// The summary of the counters, as the log gets it at the end of the loop (a check run prints it
// on the console as well).
std::string summary_text(const Counters& counters);

// The line to feed again for a line whose steps gave outcome: the line as read, or, where
// some of its kinds got through and each has a switch field, the line rebuilt with those
// fields emptied, provided the rebuilt line is taken by just the kinds that did not get
// through. Empty when the line reached everything.
std::string line_to_feed_again(const std::string& line, const BookingLine& booking,
                               const LineOutcome& outcome, const BookingKinds& kinds);

}  // namespace zarvelt
