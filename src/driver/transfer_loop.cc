#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "input/line_reader.h"
#include "input/splitter.h"

namespace zarvelt {

namespace {

constexpr std::string_view kFaultyLine = "FEHLERHAFTER BUCHUNGSSATZ !!";

void report_faulty_line(const RunContext& run) {
  run.reporter.console(std::string(kFaultyLine) + "\n");
}

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

// What failed on a line, for the reasons file: each step that did not get through.
std::string reasons_of(const LineOutcome& outcome) {
  std::string reasons;
  for (int i = 0; i < outcome.count; ++i) {
    const HandlerResult& result = outcome.steps[i].result;
    if (reached(result)) continue;
    if (!reasons.empty()) reasons += "; ";
    std::string_view reason = result.reason;
    if (reason.ends_with(" :")) reason.remove_suffix(2);  // the log's refusals end so
    reasons += reason.empty() ? std::string_view(
                                    "nicht \xFC"
                                    "bertragen")
                              : reason;
    if (result.status != db::kSuccess) reasons += ", Fehler " + std::to_string(result.status);
  }
  return reasons;
}

struct Loop {
  RunContext& run;
  const BookingHandlers& handlers;
  RejectSink* rejects;
  TransferResult result;

  void reject(const std::string& bytes, std::string_view reason) {
    ++result.lines_rejected;
    if (rejects != nullptr) rejects->reject(result.lines_read, bytes, reason);
  }

  // Handles one line; returns the result that ends the run, or kDone.
  HandlerResult handle_line(const std::string& line) {
    // The echo ends where the text does, at a NUL inside the line.
    run.reporter.verbose_console(line.c_str());
    BookingLine booking(split_booking_line(line));
    if (booking.empty()) return {};
    const bool faulty = booking.field_count() < BookingLine::kFewestFields;
    if (!faulty && booking.terminal() != run.terminal_name) return {};  // another terminal's
    // A line of this terminal without fields up to 15 is as faulty as a short one: the
    // dispatch and the handlers read them.
    if (faulty || booking.field_count() < BookingLine::kDispatchFieldCount) {
      report_faulty_line(run);
      reject(line, kFaultyLine);
      return {};
    }
    booking.trim_badge();
    const LineOutcome outcome = dispatch_booking(run, booking, handlers);
    const HandlerResult final_result = outcome.final_result();
    // A line of a run that ends here is not rejected: nothing of the run is taken over.
    if (ends_run(final_result.outcome)) return final_result;
    const std::string again = line_to_feed_again(line, booking, outcome);
    if (!again.empty()) reject(again, reasons_of(outcome));
    return {};
  }
};

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

std::string line_to_feed_again(const std::string& line, const BookingLine& booking,
                               const LineOutcome& outcome) {
  int reached_steps = 0;
  for (int i = 0; i < outcome.count; ++i) reached_steps += reached(outcome.steps[i].result);
  if (reached_steps == outcome.count) return {};
  // A time booking with its access booking where one of the two got through: fed again, the
  // line must do only the other. The mark and the result are what the dispatch reads.
  if (outcome.booking_case == BookingCase::kTimeAndAccess && reached_steps == 1) {
    std::vector<std::string> fields = booking.fields();
    const bool time_reached = reached(outcome.steps[0].result);
    fields[time_reached ? 10 : 11].clear();
    std::string rebuilt;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) rebuilt += ',';
      append_field(rebuilt, fields[i]);
    }
    return rebuilt.append(line_end(line));
  }
  return line;
}

TransferResult transfer_bookings(RunContext& run, std::FILE* source,
                                 const BookingHandlers& handlers, RejectSink* rejects,
                                 ProgressSink* progress) {
  run.counters = Counters{};
  Loop loop{run, handlers, rejects, {}};
  std::int64_t bytes = 0;
  std::string line;
  for (LineRead read;
       source != nullptr && (read = read_booking_line(source, line)) != LineRead::kEnd;) {
    ++loop.result.lines_read;
    bytes += static_cast<std::int64_t>(line.size());
    if (read == LineRead::kTooLong) {
      // Longer than any booking: faulty, and too long to keep for feeding again.
      report_faulty_line(run);
      ++loop.result.lines_rejected;
      if (rejects != nullptr) {
        rejects->reject(loop.result.lines_read, {},
                        std::string(kFaultyLine) + ", l\xE4nger als " +
                            std::to_string(kMaxLineLength) + " Bytes");
      }
      continue;
    }
    const HandlerResult ended = loop.handle_line(line);
    if (progress != nullptr) progress->lines_read(loop.result.lines_read, bytes);
    // A lost session fails every later statement at once and cannot commit, and a database
    // that refuses the run's writes would refuse every later booking alike: going on would
    // only fill the log and the console with one failure per booking.
    if (ends_run(ended.outcome)) {
      loop.result.ended = ended;
      break;
    }
  }
  write_summary(run);
  return loop.result;
}

}  // namespace zarvelt
