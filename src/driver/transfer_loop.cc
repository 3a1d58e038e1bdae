#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "input/line_reader.h"
#include "input/splitter.h"

namespace zarvelt {

namespace {

void report_faulty_line(const RunContext& run) {
  run.reporter.console("FEHLERHAFTER BUCHUNGSSATZ !!\n");
}

HandlerResult handle_line(RunContext& run, const std::string& line,
                          const BookingHandlers& handlers) {
  // The echo ends where the text does, at a NUL inside the line.
  run.reporter.verbose_console(line.c_str());
  BookingLine booking(split_booking_line(line));
  if (booking.empty()) return {};
  if (booking.field_count() < BookingLine::kFewestFields) {
    report_faulty_line(run);
  } else if (booking.terminal() != run.terminal_name) {
    // Another terminal's line: skipped without a message.
  } else if (booking.field_count() < BookingLine::kDispatchFieldCount) {
    // The dispatch and the handlers read fields up to 15; a line of this terminal without them
    // is as faulty as a short one.
    report_faulty_line(run);
  } else {
    booking.trim_badge();
    return dispatch_booking(run, booking, handlers);
  }
  return {};
}

void write_summary(const RunContext& run) {
  const Counters& c = run.counters;
  if (run.reporter.verbose()) {
    const std::int64_t total =
        std::int64_t{c.time_bookings} + c.access_bookings + c.cost_centre_bookings + c.events;
    run.reporter.console(std::to_string(total) + " Buchungen uebergeben");
  }
  char summary[256];
  std::snprintf(summary, sizeof summary,
                "\n\xFC"
                "bergeben:\n"
                "   Zeitbuchungen         : %d\n"
                "   Zutrittsbuchungen:    : %d\n"
                "   Kostenstellenbuchungen: %d\n"
                "   Ereignisse:           : %d\n",
                static_cast<int>(c.time_bookings), static_cast<int>(c.access_bookings),
                static_cast<int>(c.cost_centre_bookings), static_cast<int>(c.events));
  run.reporter.log(summary);
}

}  // namespace

HandlerResult transfer_bookings(RunContext& run, std::FILE* source,
                                const BookingHandlers& handlers) {
  run.counters = Counters{};
  HandlerResult ended;
  std::string line;
  for (LineRead read; source != nullptr && (read = read_booking_line(source, line)) != LineRead::kEnd;) {
    if (read == LineRead::kTooLong) {
      report_faulty_line(run);
      continue;
    }
    const HandlerResult result = handle_line(run, line, handlers);
    // A lost session fails every later statement at once and cannot commit, and a database
    // that refuses the run's writes would refuse every later booking alike: going on would
    // only fill the log and the console with one failure per booking.
    if (ends_run(result.outcome)) {
      ended = result;
      break;
    }
  }
  write_summary(run);
  return ended;
}

}  // namespace zarvelt
