// The dispatch: which handlers a booking line of the run's terminal goes to, by its record
// kind (field 15) and its badge, function code, time-booking mark, access result and status
// number. The cases are a table in dispatch.cc.
#pragma once

#include <string_view>

#include "handlers/outcome.h"
#include "handlers/run_context.h"
#include "input/booking_line.h"

namespace zarvelt {

// The four handlers, as one seam: the program passes kBookingHandlers, tests a recording fake.
// Each takes the run's context, picks what it uses and returns its outcome; the caller counts.
struct BookingHandlers {
  HandlerResult (*export_time_booking)(RunContext& run, const BookingLine& line);
  HandlerResult (*insert_access_booking)(RunContext& run, const BookingLine& line);
  HandlerResult (*export_cost_centre_booking)(RunContext& run, const BookingLine& line);
  HandlerResult (*insert_event)(RunContext& run, const BookingLine& line);
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

// One handler of a case.
enum class Step { kTime, kAccess, kCostCentre, kEvent };

// What the handlers of one line gave, in the order they ran.
struct LineOutcome {
  BookingCase booking_case = BookingCase::kUnknown;
  struct StepResult {
    Step step;
    HandlerResult result;
  };
  StepResult steps[2];
  int count = 0;

  // The first result that ends the run, or else the last one (kDone when none ran).
  HandlerResult final_result() const;
};

// Runs the handlers of the line's case in order, counting each booking that is done. The
// event's access booking runs whatever the event insert gave.
LineOutcome dispatch_booking(RunContext& run, const BookingLine& line,
                             const BookingHandlers& handlers);

}  // namespace zarvelt
