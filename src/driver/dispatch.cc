// The dispatch table (case to handlers, in order), the program's own handlers, and the counting of
// the bookings a line got through.
#include "driver/dispatch.h"

#include <utility>

#include "handlers/access_booking_insert.h"
#include "handlers/cost_centre_export.h"
#include "handlers/event_insert.h"
#include "handlers/time_booking_export.h"

namespace zarvelt {

namespace {

HandlerResult time_booking(RunContext& run, const Reporter& reporter, const BookingLine& line) {
  return export_time_booking(*run.master_data, run.target1, reporter, line);
}
HandlerResult access_booking(RunContext& run, const Reporter&, const BookingLine& line) {
  return queue_access_booking(*run.inserts, *run.master_data, line);
}
HandlerResult cost_centre_booking(RunContext& run, const Reporter& reporter,
                                  const BookingLine& line) {
  return export_cost_centre_booking(run.target2, reporter, line);
}
HandlerResult event(RunContext& run, const Reporter&, const BookingLine& line) {
  return queue_event(*run.inserts, line);
}
HandlerResult insert_answered(RunContext& run, Step step, std::int32_t status) {
  return step == Step::kEvent ? event_answered(run.reporter, status)
                              : access_booking_answered(run.reporter, status);
}

struct CaseSteps {
  BookingCase booking_case;
  Step steps[2];
  int count;
};

constexpr CaseSteps kCases[] = {
    {BookingCase::kTimeAndAccess, {Step::kTime, Step::kAccess}, 2},
    {BookingCase::kTimeOnly, {Step::kTime}, 1},
    {BookingCase::kAccessOnly, {Step::kAccess}, 1},
    {BookingCase::kNeither, {}, 0},
    {BookingCase::kDoorAccess, {Step::kAccess}, 1},
    {BookingCase::kDoorTime, {Step::kTime}, 1},
    {BookingCase::kDoorAccessNoBadge, {Step::kAccess}, 1},
    {BookingCase::kDoorEvent, {Step::kEvent, Step::kAccess}, 2},
    {BookingCase::kZoneAccess, {Step::kAccess}, 1},
    {BookingCase::kCostCentre, {Step::kCostCentre}, 1},
    {BookingCase::kUnknown, {}, 0},
};

HandlerResult run_step(Step step, RunContext& run, const Reporter& reporter,
                       const BookingLine& line, const BookingHandlers& handlers) {
  switch (step) {
    case Step::kTime:
      return handlers.export_time_booking(run, reporter, line);
    case Step::kAccess:
      return handlers.insert_access_booking(run, reporter, line);
    case Step::kCostCentre:
      return handlers.export_cost_centre_booking(run, reporter, line);
    case Step::kEvent:
      break;
  }
  return handlers.insert_event(run, reporter, line);
}

}  // namespace

const BookingHandlers kBookingHandlers = {&time_booking, &access_booking, &cost_centre_booking,
                                          &event, &insert_answered};

void count_bookings(Counters& counters, const LineOutcome& outcome) {
  for (int i = 0; i < outcome.count; ++i) {
    if (outcome.steps[i].result.outcome != Outcome::kDone) continue;
    switch (outcome.steps[i].step) {
      case Step::kTime:
        ++counters.time_bookings;
        break;
      case Step::kAccess:
        ++counters.access_bookings;
        break;
      case Step::kCostCentre:
        ++counters.cost_centre_bookings;
        break;
      case Step::kEvent:
        ++counters.events;
        break;
    }
  }
}

BookingCase booking_case(const BookingLine& line) {
  const std::string& kind = line.record_kind();
  if (kind == "40p") {
    const bool time = !line.time_booking_mark().empty();
    const bool access = !line.access_result().empty();
    if (time) return access ? BookingCase::kTimeAndAccess : BookingCase::kTimeOnly;
    return access ? BookingCase::kAccessOnly : BookingCase::kNeither;
  }
  if (kind == "dta") {
    if (line.function_code() == "024") return BookingCase::kDoorAccess;
    if (line.status_number() == "100") return BookingCase::kDoorTime;
    if (line.badge().empty()) return BookingCase::kDoorAccessNoBadge;
    return BookingCase::kDoorEvent;
  }
  if (kind == "62p") return BookingCase::kZoneAccess;
  if (kind == "50p") return BookingCase::kCostCentre;
  return BookingCase::kUnknown;
}

bool runs_step(const BookingLine& line, Step step) {
  const BookingCase line_case = booking_case(line);
  for (const CaseSteps& c : kCases) {
    if (c.booking_case != line_case) continue;
    for (int i = 0; i < c.count; ++i) {
      if (c.steps[i] == step) return true;
    }
  }
  return false;
}

HandlerResult LineOutcome::final_result() const {
  HandlerResult last;
  for (int i = 0; i < count; ++i) {
    last = steps[i].result;
    if (ends_run(last.outcome)) break;
  }
  return last;
}

LineOutcome dispatch_booking(RunContext& run, const Reporter& reporter, const BookingLine& line,
                             const BookingHandlers& handlers,
                             const std::vector<Reporter::Held>* held) {
  LineOutcome outcome;
  outcome.booking_case = booking_case(line);
  for (const CaseSteps& c : kCases) {
    if (c.booking_case != outcome.booking_case) continue;
    for (int i = 0; i < c.count; ++i) {
      HandlerResult result = run_step(c.steps[i], run, reporter, line, handlers);
      outcome.steps[outcome.count++] = {c.steps[i], std::move(result),
                                        held != nullptr ? held->size() : 0};
    }
    break;
  }
  return outcome;
}

}  // namespace zarvelt
