// The transfer loop and what waits in it.
//
// A booking line's life:
//   read       with up to 499 more lines, about 1 MiB (the read-ahead), and classified there
//              once: split, its badge trimmed, and found empty, another terminal's, faulty, or a
//              booking with the kinds that take it (driver/dispatch.cc). Where the run's master
//              data reads ahead, the handlers ask for the keys of the lines their kinds take, all
//              at once (BookingHandler::prefetch).
//   handled    in its turn: its echo, then the steps of its kinds in their order, each writing
//              its export at once or giving a row to insert, and each keeping what it reports
//              as data, in its own place. A row goes to the run's InsertQueue with the step as
//              its waiter (the insert's own life: handlers/insert_queue.h).
//   answered   the queue pushes each insert's status to its step, whose handler makes the
//              booking's outcome of it (BookingHandler::answered) and reports into the step's
//              output.
//   completed  once none of its steps waits and every line before it is completed: its output
//              written, its bookings counted, what did not get through passed to the reject
//              file, and the line let go of.
// Invariants (each kept, and checked in the sanitizer build, by the function named):
//   1. A line is completed only when none of its steps waits and every line before it is
//      completed; so its output, count and rejection come in line order, as if each insert had
//      been answered at once (complete_answered, checked in complete).
//   2. A line's output is written whole at its completion: its echo and faulty message, then
//      each step's in step order, an answered insert's report at its step's place (complete).
//   3. A source read to its end leaves no line held and no insert waiting (transfer_bookings).
//   4. A line whose outcome ends the run stops the loop there: the lines after it were read and
//      perhaps handled but are never shown, counted or rejected, and their inserts are dropped
//      unsent, so that the output ends where a run answering each insert at once would end
//      (complete_answered).
//
// The savepoints as the loop relies on them: an insert that fails undoes its own row and
// nothing else, so the loop reports the booking, rejects the line and goes on, and the one
// transaction still commits everything else. Production's database rolls back just the failed
// statement by itself; on PostgreSQL, which would abort the whole transaction, the backend sets
// a savepoint ahead of every statement and every batch sent together and rolls back to it on
// a failure (db/postgresql_backend.cc, db/odbc_backend.cc); a batch with a failed insert is
// undone to its savepoint and sent again so that the failed insert runs alone (libpq) or all
// of its inserts run one by one (ODBC), so that each answer a step takes is its own row's. A
// status that concerns the run's writes as such (kRunMustEnd) or the session (kSessionLost)
// ends the loop instead: nothing of the run is committed.
//
// The three bounds on what waits, together (each is named here and where it is defined):
//   the read-ahead   kReadAheadLines 500 lines, or fewer once kReadAheadBytes 1 MiB are
//                    read (below): the line that passes the byte bound is the last;
//   the held lines   kMaxHeldLines 4,096 lines or kMaxHeldBytes 4 MiB handled and not yet
//                    completed (below): beyond either the queue is sent, so that a file of
//                    few inserts among many other lines holds neither unbounded memory nor its
//                    output for long;
//   the batch        ZARVELT_BATCH_SIZE, 1 to 10,000, 1,000 by default (insert_batch_size() in
//                    driver/program.cc, given to the queue by RunContext::use_session): a full
//                    batch is sent. A batch size of 1 asks for no master data ahead and answers
//                    each insert before the next line.
// Invariant: nothing a user sees depends on these bounds (the differential test runs the same
// files with several batch sizes).
#include "driver/transfer_loop.h"

#include <cinttypes>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "handlers/insert_queue.h"
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

struct HeldLine;

// A step of a held line that waits for its insert's answer.
class StepWaiter final : public InsertWaiter {
 public:
  // collector: a collecting reporter, which the answer's report is kept by.
  void wait(HeldLine& line, int step, const BookingKinds& kinds, Reporter& collector) {
    line_ = &line;
    step_ = step;
    kinds_ = &kinds;
    collector_ = &collector;
  }

 protected:
  void answered(std::int32_t status) override;

 private:
  HeldLine* line_ = nullptr;
  int step_ = 0;
  const BookingKinds* kinds_ = nullptr;
  Reporter* collector_ = nullptr;
};

// What a line read is, decided once, when it is read.
enum class LineIs {
  kNothing,  // empty, or another terminal's: echoed (in verbose mode), nothing else
  kFaulty,   // reported and rejected
  kBooking,  // its kinds' steps run
};

// A line from its reading to its completion. Its steps wait for their answers in place: a held
// line never moves.
struct HeldLine {
  HeldLine() = default;
  HeldLine(const HeldLine&) = delete;
  HeldLine& operator=(const HeldLine&) = delete;

  std::int64_t number = 0;  // in the source, from 1
  std::string bytes;        // as read; empty for a line too long to keep
  bool too_long = false;
  BookingLine booking;
  LineIs is = LineIs::kNothing;
  std::string faulty;                  // a faulty line: the reason it is rejected with
  LineKinds kinds;                     // a booking: the kinds that take it, in step order
  std::vector<Reporter::Held> output;  // its echo and faulty message
  LineOutcome outcome;
  StepWaiter waiters[kBookingKindCount];
  int waiting = 0;  // steps whose insert is not answered yet
};

void StepWaiter::answered(std::int32_t status) {
  LineOutcome::Step& step = line_->outcome.steps[step_];
  collector_->collect_into(&step.output);
  step.result = (*kinds_)[step.kind].handler->answered(*collector_, status);
  --line_->waiting;
}

struct Loop {
  Loop(RunContext& run_context, const BookingKinds& booking_kinds, RejectSink* reject_sink)
      : run(run_context),
        kinds(booking_kinds),
        rejects(reject_sink),
        collector(run_context.reporter().collecting_into(nullptr)) {}

  RunContext& run;
  const BookingKinds& kinds;
  RejectSink* rejects;
  // The run's reporter keeping lines as data, in the place it is given before each use: a
  // line's own output, or a step's.
  Reporter collector;
  TransferResult result{};
  // The lines held, in source order: those handled and not yet completed, then those read
  // ahead and not yet handled (the last `ahead` of them).
  std::deque<HeldLine> held{};
  std::size_t ahead = 0;
  std::size_t held_bytes = 0;  // of the handled ones
  std::int64_t lines_read_ahead = 0;

  void reject(std::int64_t number, std::string_view bytes, std::string_view reason) {
    ++result.lines_rejected;
    if (rejects != nullptr) rejects->reject(number, bytes, reason);
  }

  // Reads a line into line and decides once what it is.
  void classify(HeldLine& line, LineRead read) {
    line.number = ++lines_read_ahead;
    if (read == LineRead::kTooLong) {
      // Longer than any booking: faulty, and too long to keep for feeding again.
      line.too_long = true;
      line.is = LineIs::kFaulty;
      line.faulty =
          std::string(kFaultyLine) + ", l\xE4nger als " + std::to_string(kMaxLineLength) + " Bytes";
      return;
    }
    BookingLine& booking = line.booking;
    booking = BookingLine(split_booking_line(line.bytes));
    if (booking.empty()) return;
    const bool faulty = booking.field_count() < BookingLine::kFewestFields;
    if (!faulty && booking.terminal() != run.terminal_name()) return;  // another terminal's
    // A line of this terminal without fields up to 15 is as faulty as a short one: the
    // dispatch and the handlers read them.
    if (faulty || booking.field_count() < BookingLine::kDispatchFieldCount) {
      line.is = LineIs::kFaulty;
      line.faulty = std::string(kFaultyLine);
      return;
    }
    booking.trim_badge();
    line.is = LineIs::kBooking;
    line.kinds = kinds_taking(booking, kinds);
  }

  // Asks for the master data the handlers of the lines read ahead will look up, all at once,
  // kind by kind.
  void prefetch_master_data() {
    if (run.master_data() == nullptr || !run.master_data()->reads_ahead()) return;
    std::vector<const BookingLine*> taken[kBookingKindCount];
    for (std::size_t i = held.size() - ahead; i < held.size(); ++i) {
      const HeldLine& line = held[i];
      for (int k = 0; k < line.kinds.count; ++k) {
        taken[line.kinds.kinds[k]].push_back(&line.booking);
      }
    }
    for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
      if (!taken[kind].empty()) kinds[kind].handler->prefetch(run, taken[kind]);
    }
  }

  // What the line gives: its echo and, for a booking, its steps, each with its output.
  void handle(HeldLine& line) {
    collector.collect_into(&line.output);
    // The echo ends where the text does, at a NUL inside the line.
    if (!line.too_long) collector.verbose_console(line.bytes.c_str());
    if (line.is == LineIs::kFaulty) report_faulty_line(collector);
    if (line.is != LineIs::kBooking) return;
    LineOutcome& outcome = line.outcome;
    for (int i = 0; i < line.kinds.count; ++i) {
      LineOutcome::Step& step = outcome.steps[outcome.count++];
      step.kind = line.kinds.kinds[i];
      collector.collect_into(&step.output);
      step.result = kinds[step.kind].handler->handle(run, collector, line.booking);
      if (step.result.outcome != Outcome::kWaiting) continue;
      // The answer may come at once (a batch size of 1, a full batch, a row refused).
      line.waiters[i].wait(line, i, kinds, collector);
      ++line.waiting;
      const db::InsertRow row = std::move(step.result.insert);
      run.inserts()->queue(row, line.waiters[i]);
    }
  }

  // Writes the line's output, counts its bookings and rejects what did not get through.
  // Returns the result that ends the run, or kDone.
  HandlerResult complete(HeldLine& line) {
    ZARVELT_INVARIANT(1, &line == &held.front() && line.waiting == 0);
    const Reporter& reporter = run.reporter();
    for (const Reporter::Held& output : line.output) reporter.release(output);
    LineOutcome& outcome = line.outcome;
    for (int i = 0; i < outcome.count; ++i) {
      ZARVELT_INVARIANT(2, outcome.steps[i].result.outcome != Outcome::kWaiting);
      for (const Reporter::Held& output : outcome.steps[i].output) reporter.release(output);
    }
    if (line.is == LineIs::kFaulty) {
      reject(line.number, line.bytes, line.faulty);
      return {};
    }
    if (line.is != LineIs::kBooking) return {};
    count_bookings(result.counted, outcome);
    const HandlerResult final_result = outcome.final_result();
    // A line of a run that ends here is not rejected: nothing of the run is taken over.
    if (ends_run(final_result.outcome)) return final_result;
    const std::string again = line_to_feed_again(line.bytes, line.booking, outcome, kinds);
    if (!again.empty()) reject(line.number, again, reasons_of(outcome));
    return {};
  }

  void send_queued() {
    if (run.inserts() != nullptr) run.inserts()->flush();
  }

  // Completes the handled lines whose answers are in, in order. Returns the result that ends
  // the run, or kDone.
  HandlerResult complete_answered() {
    while (held.size() > ahead && held.front().waiting == 0) {
      HeldLine& line = held.front();
      const HandlerResult ended = complete(line);
      if (ends_run(ended.outcome)) {
        result.lines_read = line.number;  // as far as a run answered line by line would read
        if (run.inserts() != nullptr) run.inserts()->drop();
        held.clear();
        ahead = 0;
        ZARVELT_INVARIANT(4, run.inserts() == nullptr || run.inserts()->waiting() == 0);
        return ended;
      }
      held_bytes -= line.bytes.size();
      held.pop_front();
    }
    return {};
  }

  // Handles the next line read ahead; returns the result that ends the run, or kDone.
  HandlerResult take(HeldLine& line) {
    --ahead;
    ++result.lines_read;
    handle(line);
    // A line that ends the run by itself needs the answers of the lines before: one of them
    // may end it first.
    const bool ends = ends_run(line.outcome.final_result().outcome);
    held_bytes += line.bytes.size();
    if (ends || held.size() - ahead > kMaxHeldLines || held_bytes > kMaxHeldBytes) send_queued();
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
  while (source != nullptr && !ends_run(ended.outcome)) {
    std::size_t ahead_bytes = 0;
    std::string text;
    for (LineRead read; loop.ahead < kReadAheadLines && ahead_bytes < kReadAheadBytes &&
                        (read = read_booking_line(source, text)) != LineRead::kEnd;) {
      ahead_bytes += text.size();
      HeldLine& line = loop.held.emplace_back();
      line.bytes = std::move(text);
      text.clear();
      ++loop.ahead;
      loop.classify(line, read);
    }
    if (loop.ahead == 0) break;
    loop.prefetch_master_data();
    while (loop.ahead > 0) {
      HeldLine& line = loop.held[loop.held.size() - loop.ahead];
      bytes += static_cast<std::int64_t>(line.bytes.size());
      ended = loop.take(line);
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
    ZARVELT_INVARIANT(
        3, ends_run(ended.outcome) ||
               (loop.held.empty() && (run.inserts() == nullptr || run.inserts()->waiting() == 0)));
  }
  loop.result.ended = ended;
  write_summary(run.reporter(), loop.result.counted);
  return loop.result;
}

}  // namespace zarvelt
