// The table of booking kinds with their case rules and handlers, the running of a line's steps,
// the counting of what got through, the summary, and the line to feed again.
#include "driver/dispatch.h"

#include <utility>

#include "handlers/access_booking_insert.h"
#include "handlers/cost_centre_export.h"
#include "handlers/event_insert.h"
#include "handlers/time_booking_export.h"

namespace zarvelt {

namespace {

bool is(const BookingLine& line, std::string_view record_kind) {
  return line.record_kind() == record_kind;
}

// What a door terminal's line ("dta") holds: an access booking (function code "024"), a time
// booking (status number "100", whatever the badge), an access booking (no badge), or else an
// event with its access booking. The codes compare as texts.
enum class Door { kAccess, kTime, kEventAndAccess };
Door door_case(const BookingLine& line) {
  if (line.function_code() == "024") return Door::kAccess;
  if (line.status_number() == "100") return Door::kTime;
  if (line.badge().empty()) return Door::kAccess;
  return Door::kEventAndAccess;
}

// The case rules. A "40p" line holds a time booking when it has a time-booking mark (field 10)
// and an access booking when it has an access result (field 11); "62p" is a zone's access
// booking, "50p" a cost-centre booking; any other record kind (compared exactly) holds none.
bool takes_time_booking(const BookingLine& line) {
  if (is(line, "40p")) return !line.time_booking_mark().empty();
  return is(line, "dta") && door_case(line) == Door::kTime;
}
bool takes_access_booking(const BookingLine& line) {
  if (is(line, "40p")) return !line.access_result().empty();
  if (is(line, "dta")) return door_case(line) != Door::kTime;
  return is(line, "62p");
}
bool takes_cost_centre_booking(const BookingLine& line) { return is(line, "50p"); }
bool takes_event(const BookingLine& line) {
  return is(line, "dta") && door_case(line) == Door::kEventAndAccess;
}

const TimeBookingHandler kTimeBookingHandler{};
const AccessBookingHandler kAccessBookingHandler{};
const CostCentreHandler kCostCentreHandler{};
const EventHandler kEventHandler{};

constexpr int kNoSwitch = -1;

}  // namespace

// The kinds, in the order of the log's summary and the run record. A kind's summary line is
// "   <summary label> <count>". The access booking of a line runs after its time booking or
// its event (line order 2). A "40p" line's time booking is switched off by emptying its mark,
// its access booking by emptying its access result.
//
// A new kind needs: its handler (a BookingHandler in a file of its own in handlers/), its row
// here with its case rule above, and kBookingKindCount (dispatch.h) one more (the compiler
// refuses a table of any other length). The loop, its read-ahead, the summary and the run
// record take it from here. The steps in full: "Adding a booking kind" in doc/design.md.
constexpr BookingKinds kBookingKinds = {{
    {&takes_time_booking, &kTimeBookingHandler, 1, BookingLine::kTimeBookingMark,
     "Zeitbuchungen         :", "time_bookings"},
    {&takes_access_booking, &kAccessBookingHandler, 2, BookingLine::kAccessResult,
     "Zutrittsbuchungen:    :", "access_bookings"},
    {&takes_cost_centre_booking, &kCostCentreHandler, 1, kNoSwitch,
     "Kostenstellenbuchungen:", "cost_centre_bookings"},
    {&takes_event, &kEventHandler, 1, kNoSwitch, "Ereignisse:           :", "events"},
}};
// A count one more than the rows would leave a row without its rule and handler.
static_assert(
    [] {
      for (const BookingKind& kind : kBookingKinds) {
        if (kind.takes == nullptr || kind.handler == nullptr) return false;
      }
      return true;
    }(),
    "every row of kBookingKinds needs its case rule and handler");

namespace {

// The line end of a line as read: CR LF, LF or none.
std::string_view line_end(std::string_view line) {
  if (line.ends_with("\r\n")) return "\r\n";
  if (line.ends_with("\n")) return "\n";
  return {};
}

// A field as the splitter reads it back: quoted when it holds a comma or a quote, or begins
// with a blank, which an unquoted field would lose.
void append_field(std::string& line, const std::string& field) {
  if (field.find_first_of(",\"") == std::string::npos && !field.starts_with(' ')) {
    line += field;
    return;
  }
  line += '"';
  for (char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

}  // namespace

HandlerResult LineOutcome::final_result() const {
  HandlerResult last;
  for (int i = 0; i < count; ++i) {
    last = steps[i].result;
    if (ends_run(last.outcome)) break;
  }
  return last;
}

LineKinds kinds_taking(const BookingLine& line, const BookingKinds& kinds) {
  LineKinds taken;
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    if (!kinds[kind].takes(line)) continue;
    int at = taken.count++;
    for (; at > 0 && kinds[taken.kinds[at - 1]].line_order > kinds[kind].line_order; --at) {
      taken.kinds[at] = taken.kinds[at - 1];
    }
    taken.kinds[at] = kind;
  }
  return taken;
}

void count_bookings(Counters& counters, const LineOutcome& outcome) {
  for (int i = 0; i < outcome.count; ++i) {
    if (outcome.steps[i].result.outcome == Outcome::kDone) ++counters[outcome.steps[i].kind];
  }
}

std::string summary_text(const Counters& counters) {
  std::string summary =
      "\n\xFC"
      "bergeben:\n";
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    summary.append("   ").append(kBookingKinds[kind].summary_label).append(" ");
    summary.append(std::to_string(counters[kind])).append("\n");
  }
  return summary;
}

std::string line_to_feed_again(const std::string& line, const BookingLine& booking,
                               const LineOutcome& outcome, const BookingKinds& kinds) {
  int reached_steps = 0;
  for (int i = 0; i < outcome.count; ++i) reached_steps += reached(outcome.steps[i].result);
  if (reached_steps == outcome.count) return {};
  if (reached_steps == 0) return line;
  // Part of the line got through (a time booking with its access booking, one of the two):
  // fed again, the line must do only the rest, so each kind that got through is switched off.
  std::vector<std::string> fields = booking.fields();
  bool wanted[kBookingKindCount] = {};
  for (int i = 0; i < outcome.count; ++i) {
    const LineOutcome::Step& step = outcome.steps[i];
    const int field = kinds[step.kind].switch_field;
    if (!reached(step.result)) {
      wanted[step.kind] = true;
    } else if (field < 0 || static_cast<std::size_t>(field) >= fields.size()) {
      return line;
    } else {
      fields[static_cast<std::size_t>(field)].clear();
    }
  }
  const BookingLine rebuilt_booking(fields);
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    if (kinds[kind].takes(rebuilt_booking) != wanted[kind]) return line;
  }
  std::string rebuilt;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) rebuilt += ',';
    append_field(rebuilt, fields[i]);
  }
  return rebuilt.append(line_end(line));
}

}  // namespace zarvelt
