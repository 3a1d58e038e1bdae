// The transfer loop and what waits in it.
//
// A booking line's life: read (with up to 499 more, at most 1 MiB, where the backend sends
// statements together: their master data is asked for at once); handled by the handlers of its
// case, which write the exports at once, queue their inserts in the run's InsertQueue and
// report to a reporter that keeps the line's console and log lines as data; held until the
// answers of its inserts are in and every line before it is through; then completed: its held
// lines written with each insert's answer in its place, its bookings counted, what did not get
// through passed to the reject file, and its answers forgotten. A line whose answer ends the
// run stops the loop there: the lines after it were handled but are never shown, counted or
// rejected, so that the output ends where a run answering each insert at once would end.
//
// The three bounds on what waits, together: the read-ahead (kReadAheadLines, kReadAheadBytes,
// below), the held lines (kMaxHeldLines, kMaxHeldBytes, below: beyond them the queue is sent),
// and the session's batch (ZARVELT_BATCH_SIZE, 1000 by default, 1 to 10000: a full batch is
// sent). A batch size of 1 reads nothing ahead and answers each insert before the next line.
// Invariant: nothing a user sees depends on these bounds.
#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "handlers/access_booking_insert.h"
#include "handlers/time_booking_export.h"
#include "input/line_reader.h"
#include "input/splitter.h"

namespace zarvelt {

namespace {

constexpr std::string_view kFaultyLine = "FEHLERHAFTER BUCHUNGSSATZ !!";

void report_faulty_line(const Reporter& reporter) {
  reporter.console(std::string(kFaultyLine) + "\n");
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

// How much the loop may hold back while inserts wait for their answers; beyond it the queued
// inserts are sent at once, so that a file of few inserts among many other lines holds
// neither unbounded memory nor its output for long.
constexpr std::size_t kMaxHeldLines = 4096;
constexpr std::size_t kMaxHeldBytes = std::size_t{4} << 20;

// Lines read ahead of the handlers, so that the badges their time bookings look up are asked
// of the database together: across a network each lookup alone is a round trip.
constexpr std::size_t kReadAheadLines = 500;
constexpr std::size_t kReadAheadBytes = std::size_t{1} << 20;

struct ReadAhead {
  std::string bytes;
  LineRead read = LineRead::kLine;
  BookingLine booking;  // the line split, for a line read whole
};

// A line read, with what it gave, held back until the answers of its inserts are in and every
// line before it is through: its output, its count and its rejection then come in order, as if
// each insert had been answered at once.
struct HeldLine {
  std::int64_t number = 0;  // in the source, from 1
  std::string line;         // as read; empty for a line too long to keep
  std::vector<Reporter::Held> output;
  std::optional<BookingLine> booking;  // a dispatched line
  LineOutcome outcome;
  std::optional<std::string> faulty;  // a faulty line: the reason it is rejected with
};

struct Loop {
  Loop(RunContext& run_context, const BookingHandlers& booking_handlers, RejectSink* reject_sink)
      : run(run_context), handlers(booking_handlers), rejects(reject_sink) {}

  RunContext& run;
  const BookingHandlers& handlers;
  RejectSink* rejects;
  TransferResult result{};
  std::deque<HeldLine> held{};
  std::size_t held_bytes = 0;

  void reject(std::int64_t number, std::string_view bytes, std::string_view reason) {
    ++result.lines_rejected;
    if (rejects != nullptr) rejects->reject(number, bytes, reason);
  }

  // What one line gives, its output held in held_line.
  void handle_line(HeldLine& held_line, const Reporter& reporter, BookingLine&& booking) {
    const std::string& line = held_line.line;
    // The echo ends where the text does, at a NUL inside the line.
    reporter.verbose_console(line.c_str());
    if (booking.empty()) return;
    const bool faulty = booking.field_count() < BookingLine::kFewestFields;
    if (!faulty && booking.terminal() != run.terminal_name) return;  // another terminal's
    // A line of this terminal without fields up to 15 is as faulty as a short one: the
    // dispatch and the handlers read them.
    if (faulty || booking.field_count() < BookingLine::kDispatchFieldCount) {
      report_faulty_line(reporter);
      held_line.faulty = std::string(kFaultyLine);
      return;
    }
    booking.trim_badge();
    held_line.outcome = dispatch_booking(run, reporter, booking, handlers, &held_line.output);
    held_line.booking = std::move(booking);
  }

  bool waits(const HeldLine& line) const {
    for (int i = 0; i < line.outcome.count; ++i) {
      const HandlerResult& step = line.outcome.steps[i].result;
      if (step.outcome == Outcome::kWaiting && !run.inserts->answer(step.ticket)) return true;
    }
    return false;
  }

  // Writes the line's held output with the answers of its inserts in their places, counts its
  // bookings and rejects what did not get through. Returns the result that ends the run, or
  // kDone.
  HandlerResult complete(HeldLine& line) {
    LineOutcome& outcome = line.outcome;
    std::size_t written = 0;
    std::int64_t last_ticket = -1;
    for (int i = 0; i < outcome.count; ++i) {
      LineOutcome::StepResult& step = outcome.steps[i];
      if (step.result.outcome != Outcome::kWaiting) continue;
      for (; written < step.held_end; ++written) run.reporter.release(line.output[written]);
      last_ticket = step.result.ticket;
      const std::int32_t status = run.inserts->answer(last_ticket).value_or(db::kInternalError);
      step.result = handlers.insert_answered(run, step.step, status);
    }
    for (; written < line.output.size(); ++written) run.reporter.release(line.output[written]);
    if (last_ticket >= 0) run.inserts->forget_before(last_ticket + 1);

    if (line.faulty) {
      reject(line.number, line.line, *line.faulty);
      return {};
    }
    if (!line.booking) return {};
    count_bookings(run.counters, outcome);
    const HandlerResult final_result = outcome.final_result();
    // A line of a run that ends here is not rejected: nothing of the run is taken over.
    if (ends_run(final_result.outcome)) return final_result;
    const std::string again = line_to_feed_again(line.line, *line.booking, outcome);
    if (!again.empty()) reject(line.number, again, reasons_of(outcome));
    return {};
  }

  void send_queued() {
    if (run.inserts != nullptr) run.inserts->flush();
  }

  // Completes the held lines whose answers are in, in order. Returns the result that ends the
  // run, or kDone.
  HandlerResult complete_answered() {
    while (!held.empty() && !waits(held.front())) {
      HeldLine& line = held.front();
      const HandlerResult ended = complete(line);
      if (ends_run(ended.outcome)) {
        result.lines_read = line.number;  // as far as a run answered line by line would read
        held.clear();
        return ended;
      }
      held_bytes -= line.line.size();
      held.pop_front();
    }
    return {};
  }

  // Asks for the master data the lines' handlers will look up, all at once.
  void prefetch_master_data(std::vector<ReadAhead>& lines) {
    if (run.master_data == nullptr) return;
    std::vector<const BookingLine*> time_bookings;
    std::vector<const BookingLine*> access_bookings;
    for (ReadAhead& line : lines) {
      BookingLine& booking = line.booking;
      if (line.read != LineRead::kLine || booking.empty() ||
          booking.field_count() < BookingLine::kDispatchFieldCount ||
          booking.terminal() != run.terminal_name) {
        continue;
      }
      booking.trim_badge();  // as the handlers will see it
      if (runs_step(booking, Step::kTime)) time_bookings.push_back(&booking);
      if (runs_step(booking, Step::kAccess)) access_bookings.push_back(&booking);
    }
    prefetch_time_booking_master_data(*run.master_data, time_bookings);
    prefetch_access_booking_master_data(*run.master_data, access_bookings);
  }

  // Takes one line read; returns the result that ends the run, or kDone.
  HandlerResult take(ReadAhead& read_line) {
    HeldLine line;
    line.number = result.lines_read;
    // What the line gives is kept as data until its turn comes.
    const Reporter reporter = run.reporter.collecting_into(&line.output);
    if (read_line.read == LineRead::kTooLong) {
      // Longer than any booking: faulty, and too long to keep for feeding again.
      report_faulty_line(reporter);
      line.faulty =
          std::string(kFaultyLine) + ", l\xE4nger als " + std::to_string(kMaxLineLength) + " Bytes";
    } else {
      line.line = std::move(read_line.bytes);
      handle_line(line, reporter, std::move(read_line.booking));
    }
    // A line that ends the run by itself needs the answers of the lines before: one of them
    // may end it first.
    const bool ends = ends_run(line.outcome.final_result().outcome);
    held_bytes += line.line.size();
    held.push_back(std::move(line));
    if (ends || held.size() > kMaxHeldLines || held_bytes > kMaxHeldBytes) send_queued();
    return complete_answered();
  }
};

void write_summary(const RunContext& run) {
  const Counters& c = run.counters;
  if (run.reporter.verbose()) {
    const std::int64_t total =
        std::int64_t{c.time_bookings} + c.access_bookings + c.cost_centre_bookings + c.events;
    run.reporter.console(std::to_string(total) + " Buchungen uebergeben");
  }
  run.reporter.log(summary_text(c));
}

}  // namespace

std::string summary_text(const Counters& c) {
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
  return summary;
}

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
  Loop loop(run, handlers, rejects);
  std::int64_t bytes = 0;
  HandlerResult ended;
  std::vector<ReadAhead> ahead;
  while (source != nullptr && !ends_run(ended.outcome)) {
    ahead.clear();
    std::size_t ahead_bytes = 0;
    std::string line;
    for (LineRead read; ahead.size() < kReadAheadLines && ahead_bytes < kReadAheadBytes &&
                        (read = read_booking_line(source, line)) != LineRead::kEnd;) {
      ahead_bytes += line.size();
      ahead.push_back({std::move(line), read, {}});
      if (read == LineRead::kLine)
        ahead.back().booking = BookingLine(split_booking_line(ahead.back().bytes));
      line.clear();
    }
    if (ahead.empty()) break;
    loop.prefetch_master_data(ahead);
    for (ReadAhead& read_line : ahead) {
      ++loop.result.lines_read;
      bytes += static_cast<std::int64_t>(read_line.bytes.size());
      ended = loop.take(read_line);
      if (progress != nullptr) progress->lines_read(loop.result.lines_read, bytes);
      // A lost session fails every later statement at once and cannot commit, and a database
      // that refuses the run's writes would refuse every later booking alike: going on would
      // only fill the log and the console with one failure per booking.
      if (ends_run(ended.outcome)) break;
    }
  }
  if (!ends_run(ended.outcome)) {
    loop.send_queued();
    ended = loop.complete_answered();
  }
  loop.result.ended = ended;
  write_summary(run);
  return loop.result;
}

}  // namespace zarvelt
