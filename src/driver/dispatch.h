// The dispatch: which handlers a booking line of the run's terminal goes to, by its record
// kind (field 15) and its badge, function code, time-booking mark, access result and status
// number. The cases are a table in dispatch.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "handlers/outcome.h"
#include "handlers/run_context.h"
#include "input/booking_line.h"
#include "log/reporter.h"

namespace zarvelt {

// One handler of a case.
enum class Step { kTime, kAccess, kCostCentre, kEvent };

// The four handlers, as one seam: the program passes kBookingHandlers, tests a recording fake.
// Each takes the run's context, picks what it uses, reports to the line's reporter (which may
// keep the lines as data) and returns its outcome; the caller counts.
// The inserts may give kWaiting: insert_answered then makes the outcome of the step's status.
struct BookingHandlers {
  HandlerResult (*export_time_booking)(RunContext& run, const Reporter& reporter,
                                       const BookingLine& line);
  HandlerResult (*insert_access_booking)(RunContext& run, const Reporter& reporter,
                                         const BookingLine& line);
  HandlerResult (*export_cost_centre_booking)(RunContext& run, const Reporter& reporter,
                                              const BookingLine& line);
  HandlerResult (*insert_event)(RunContext& run, const Reporter& reporter, const BookingLine& line);
  HandlerResult (*insert_answered)(RunContext& run, Step step, std::int32_t status);
};

// The program's own handlers.
extern const BookingHandlers kBookingHandlers;

// The kinds of booking line the dispatch tells apart.
enum class BookingCase {
  kTimeAndAccess,      // "40p" with a time-booking mark and an access result
  kTimeOnly,           // "40p" with a time-booking mark only
  kAccessOnly,         // "40p" with an access result only
  kNeither,            // "40p" with neither: nothing to do
  kDoorAccess,         // "dta" with function code "024"
  kDoorTime,           // "dta" with status number "100", whatever the badge
  kDoorAccessNoBadge,  // "dta" without a badge
  kDoorEvent,          // any other "dta": an event, then its access booking
  kZoneAccess,         // "62p"
  kCostCentre,         // "50p"
  kUnknown,            // any other record kind: skipped
};

BookingCase booking_case(const BookingLine& line);

// True when the line's case runs step.
bool runs_step(const BookingLine& line, Step step);

// What the handlers of one line gave, in the order they ran.
struct LineOutcome {
  BookingCase booking_case = BookingCase::kUnknown;
  struct StepResult {
    Step step;
    HandlerResult result;
    std::size_t held_end = 0;  // held output lines when the step returned
  };
  StepResult steps[2];
  int count = 0;

  // The first result that ends the run, or else the last one (kDone when none ran).
  HandlerResult final_result() const;
};

// Runs the handlers of the line's case in order. The event's access booking runs whatever the
// event insert gave. With held (the output the loop holds back), each step notes how far it
// had come when the step returned.
LineOutcome dispatch_booking(RunContext& run, const Reporter& reporter, const BookingLine& line,
                             const BookingHandlers& handlers,
                             const std::vector<Reporter::Held>* held = nullptr);

// Counts each booking of the line that is done.
void count_bookings(Counters& counters, const LineOutcome& outcome);

}  // namespace zarvelt
