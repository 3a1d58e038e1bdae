// The transfer loop and what waits in it.
//
// A booking line's life: read (with up to 499 more, about 1 MiB: the read-ahead, whose
// master data is asked for at once where the session sends statements together); handled by
// the handlers of the kinds that take it (driver/dispatch.cc), which write the exports at once,
// queue their inserts in the run's InsertQueue and report to a reporter that keeps the line's
// console and log lines as data; held until the answers of its inserts are in and every line
// before it is through; then completed: its held lines written with each insert's answer in
// its place, its bookings counted, what did not get through passed to the reject file, and its
// answers forgotten. A line whose answer ends the run stops the loop there: the lines after it
// were handled but are never shown, counted or rejected, so that the output ends where a run
// answering each insert at once would end.
//
// An insert's life, from queued to forgotten:
//   queued     the handler builds the row and queues it (InsertQueue::queue_access or
//              queue_event); its step gives kWaiting with the insert's ticket. A backend that
//              runs statements one by one (embedded SQLite, or a batch size of 1) answers it
//              here and now.
//   sent       with the others queued, when the session's batch is full (db/session.cc),
//              when the held lines pass their bounds, when a line ends the run by itself, and
//              at the end of the source (send_queued below); the commit sends what is left.
//   answered   its status is in (InsertQueue::answer); the line still waits for the lines
//              before it.
//   taken      when its line is completed: the handler's answered() makes the step's outcome
//              of the status and reports it, at the place in the line's output where the step
//              had come.
//   forgotten  once its line is completed, the queue lets go of its answer and of every one
//              before it (forget_before). Invariant: answers are taken in ticket order, and
//              the queue keeps only those of lines not yet completed.
//
// The savepoints as the loop relies on them: an insert that fails undoes its own row and
// nothing else, so the loop reports the booking, rejects the line and goes on, and the one
// transaction still commits everything else. Production's database rolls back just the failed
// statement by itself; on PostgreSQL, which would abort the whole transaction, the backend sets
// a savepoint ahead of every statement and every batch sent together and rolls back to it on
// a failure (db/postgresql_backend.cc, db/odbc_backend.cc); a batch with a failed insert is
// undone to its savepoint and sent again so that the failed insert runs alone (libpq) or all
// of its inserts run one by one (ODBC), so that each answer the loop takes is its own row's. A
// status that concerns the run's writes as such (kRunMustEnd) or the session (kSessionLost)
// ends the loop instead: nothing of the run is committed.
//
// The three bounds on what waits, together (each is named here and where it is defined):
//   the read-ahead   kReadAheadLines 500 lines, or fewer once kReadAheadBytes 1 MiB are
//                    read (below): the line that passes the byte bound is the last;
//   the held lines   kMaxHeldLines 4,096 lines or kMaxHeldBytes 4 MiB (below): beyond either
//                    the queue is sent, so that a file of few inserts among many other lines
//                    holds neither unbounded memory nor its output for long;
//   the batch        the session's batch_size, ZARVELT_BATCH_SIZE, 1 to 10,000, 1,000 by
//                    default (insert_batch_size() in driver/program.cc, given to the session
//                    by RunContext::use_session): a full batch is sent. A batch size of 1 asks
//                    for no master data ahead and answers each insert before the next line.
// Invariant: nothing a user sees depends on these bounds (the differential test runs the same
// files with several batch sizes).
#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "input/line_reader.h"
#include "input/splitter.h"

namespace zarvelt {

namespace {

constexpr std::string_view kFaultyLine = "FEHLERHAFTER BUCHUNGSSATZ !!";

void report_faulty_line(const Reporter& reporter) {
  reporter.console(std::string(kFaultyLine) + "\n");
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

// How much the loop may hold back while inserts wait for their answers (the bounds together:
// at the top of this file).
constexpr std::size_t kMaxHeldLines = 4096;
constexpr std::size_t kMaxHeldBytes = std::size_t{4} << 20;

// Lines read ahead of the handlers, so that the master data they look up is asked of the
// database together: across a network each lookup alone is a round trip.
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
  Loop(RunContext& run_context, const BookingKinds& booking_kinds, RejectSink* reject_sink)
      : run(run_context), kinds(booking_kinds), rejects(reject_sink) {}

  RunContext& run;
  const BookingKinds& kinds;
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
    if (!faulty && booking.terminal() != run.terminal_name()) return;  // another terminal's
    // A line of this terminal without fields up to 15 is as faulty as a short one: the
    // dispatch and the handlers read them.
    if (faulty || booking.field_count() < BookingLine::kDispatchFieldCount) {
      report_faulty_line(reporter);
      held_line.faulty = std::string(kFaultyLine);
      return;
    }
    booking.trim_badge();
    held_line.outcome = dispatch_booking(run, reporter, booking, kinds, &held_line.output);
    held_line.booking = std::move(booking);
  }

  bool waits(const HeldLine& line) const {
    for (int i = 0; i < line.outcome.count; ++i) {
      const HandlerResult& step = line.outcome.steps[i].result;
      if (step.outcome == Outcome::kWaiting && !run.inserts()->answer(step.ticket)) return true;
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
      LineOutcome::Step& step = outcome.steps[i];
      if (step.result.outcome != Outcome::kWaiting) continue;
      for (; written < step.held_end; ++written) run.reporter().release(line.output[written]);
      last_ticket = step.result.ticket;
      const std::int32_t status = run.inserts()->answer(last_ticket).value_or(db::kInternalError);
      step.result = kinds[step.kind].handler->answered(run, status);
    }
    for (; written < line.output.size(); ++written) run.reporter().release(line.output[written]);
    if (last_ticket >= 0) run.inserts()->forget_before(last_ticket + 1);

    if (line.faulty) {
      reject(line.number, line.line, *line.faulty);
      return {};
    }
    if (!line.booking) return {};
    count_bookings(result.counted, outcome);
    const HandlerResult final_result = outcome.final_result();
    // A line of a run that ends here is not rejected: nothing of the run is taken over.
    if (ends_run(final_result.outcome)) return final_result;
    const std::string again = line_to_feed_again(line.line, *line.booking, outcome, kinds);
    if (!again.empty()) reject(line.number, again, reasons_of(outcome));
    return {};
  }

  void send_queued() {
    if (run.inserts() != nullptr) run.inserts()->flush();
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

  // Asks for the master data the lines' handlers will look up, all at once, kind by kind.
  void prefetch_master_data(std::vector<ReadAhead>& lines) {
    if (run.master_data() == nullptr) return;
    std::vector<const BookingLine*> taken[kBookingKindCount];
    for (ReadAhead& line : lines) {
      BookingLine& booking = line.booking;
      if (line.read != LineRead::kLine || booking.empty() ||
          booking.field_count() < BookingLine::kDispatchFieldCount ||
          booking.terminal() != run.terminal_name()) {
        continue;
      }
      booking.trim_badge();  // as the handlers will see it
      for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
        if (kinds[kind].takes(booking)) taken[kind].push_back(&booking);
      }
    }
    for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
      kinds[kind].handler->prefetch(run, taken[kind]);
    }
  }

  // Takes one line read; returns the result that ends the run, or kDone.
  HandlerResult take(ReadAhead& read_line) {
    HeldLine line;
    line.number = result.lines_read;
    // What the line gives is kept as data until its turn comes.
    const Reporter reporter = run.reporter().collecting_into(&line.output);
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

void write_summary(const Reporter& reporter, const Counters& counted) {
  if (reporter.verbose()) {
    std::int64_t total = 0;
    for (const std::int32_t count : counted) total += count;
    reporter.console(std::to_string(total) + " Buchungen uebergeben");
  }
  reporter.log(summary_text(counted));
}

}  // namespace

TransferResult transfer_bookings(RunContext& run, std::FILE* source, const BookingKinds& kinds,
                                 RejectSink* rejects, ProgressSink* progress) {
  Loop loop(run, kinds, rejects);
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
  write_summary(run.reporter(), loop.result.counted);
  return loop.result;
}

}  // namespace zarvelt
