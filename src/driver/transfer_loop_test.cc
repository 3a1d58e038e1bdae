// The transfer loop with fake handlers: which kinds a line goes to, faulty and foreign lines,
// the summary, a run that ends early, and waiting inserts that change nothing of the output.
#include "driver/transfer_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "handlers/insert_queue.h"
#include "input/line_reader.h"
#include "input/splitter.h"
#include "scripted_connection.h"
#include "test_support.h"

namespace zarvelt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the fake handlers saw, in the order they saw it.
struct Seen {
  std::string kind;  // the fake's name
  BookingLine line;
};

// A handler that notes each line it is given and gives what the test set.
class FakeHandler final : public BookingHandler {
 public:
  FakeHandler(std::string kind, std::vector<Seen>& seen) : kind_(std::move(kind)), seen_(seen) {}
  HandlerResult handle(RunContext&, const Reporter&, const BookingLine& line) const override {
    seen_.push_back({kind_, line});
    return result;
  }
  HandlerResult result;

 private:
  std::string kind_;
  std::vector<Seen>& seen_;
};

// The place of the kind whose run record label is label.
std::size_t kind_of(std::string_view label) {
  for (std::size_t kind = 0; kind < kBookingKinds.size(); ++kind) {
    if (kBookingKinds[kind].record_label == label) return kind;
  }
  ADD_FAILURE() << "no kind " << label;
  return 0;
}

// A booking line of terminal T1 with 16 fields; values replace single fields.
std::string booking_line(const std::map<int, std::string>& values, int field_count = 16) {
  std::vector<std::string> fields(static_cast<size_t>(field_count), "");
  if (field_count > 5) fields[5] = "T1";
  for (const auto& [index, value] : values) fields[static_cast<size_t>(index)] = value;
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + fields[i];
  return line + "\r\n";
}

class TransferLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program's kinds with a fake handler each, named by the kind's run record label.
    for (BookingKind& kind : kinds) {
      const std::string name(kind.record_label);
      kind.handler = &fakes.emplace(name, FakeHandler(name, seen)).first->second;
    }
    set_verbose(false);
  }
  void set_verbose(bool verbose) {
    run.emplace("T1", Reporter(installation.log_path().string(), console.file(), verbose));
  }
  FakeHandler& fake(const std::string& name) { return fakes.at(name); }
  void set_event_status(std::int32_t status) {
    fake("events").result = handler_result(status == 0 ? Outcome::kDone : Outcome::kFailed, status);
  }
  std::vector<std::string> calls() const {
    std::vector<std::string> names;
    for (const Seen& s : seen) names.push_back(s.kind);
    return names;
  }
  std::int32_t counted(std::string_view label) const { return result.counted[kind_of(label)]; }

  // Runs the loop over a source file holding these bytes.
  void transfer(const std::string& source_bytes) {
    const auto path = installation.working_dir() / "source.txt";
    testing::write_file(path, source_bytes);
    std::FILE* source = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(source, nullptr);
    result = transfer_bookings(*run, source, kinds);
    std::fclose(source);
  }
  std::string log() { return testing::read_file(installation.log_path()).value_or(""); }

  testing::TempInstallation installation;
  testing::CapturedConsole console;
  std::vector<Seen> seen;
  std::map<std::string, FakeHandler> fakes;
  BookingKinds kinds = kBookingKinds;
  std::optional<RunContext> run;
  TransferResult result;
};

// The log's summary of these counts (in the order of the kinds table), with its line end.
std::string summary(const Counters& counted) { return summary_text(counted) + "\n"; }

class PrintingTimeBooking final : public BookingHandler {
 public:
  HandlerResult handle(RunContext&, const Reporter& reporter,
                       const BookingLine& line) const override {
    reporter.console("time " + line.badge() + "\n");
    return {};
  }
};

struct CollectedRejects : RejectSink {
  std::vector<std::string> lines;
  void reject(std::int64_t line_number, std::string_view, std::string_view reason) override {
    lines.push_back(std::to_string(line_number) + ": " + std::string(reason));
  }
};

// However many inserts wait for their answers, every line's output, count and rejection come
// in line order, as if each insert had been answered at once, and a run-ending answer stops
// the output at its own line, with the lines read after it not shown.
TEST_F(TransferLoopTest, WaitingInsertsChangeNothingOfTheOutput) {
  const std::string source = booking_line({{15, "40p"}, {0, "A1"}, {11, "1"}}) +
                             booking_line({{15, "dta"}, {0, "E1"}, {7, "025"}, {12, "200"}}) +
                             "1,2,3,4,5,6,7\n" + booking_line({{15, "40p"}, {0, "A3"}, {11, "1"}}) +
                             booking_line({{15, "40p"}, {0, "T4"}, {10, "1"}}) +
                             booking_line({{15, "40p"}, {0, "A5"}, {11, "1"}}) +
                             booking_line({{15, "40p"}, {0, "A6"}, {11, "1"}});
  const std::map<std::string, std::int32_t> statuses = {{"event E1", db::kUniqueConstraint},
                                                        {"access A3", db::kValueTooLarge},
                                                        {"access A5", db::kReadOnly}};
  const std::string path = (installation.working_dir() / "source.txt").string();
  testing::write_file(path, source);
  BookingKinds program_kinds = kBookingKinds;
  const PrintingTimeBooking printing_time_booking;
  program_kinds[kind_of("time_bookings")].handler = &printing_time_booking;
  // The inserts answered as scripted, by table and badge (0 otherwise): an access row's badge
  // is its fifth input, an event's its third.
  const auto script = [&statuses](std::span<const db::BoundValue> inputs) {
    const std::string key = inputs.size() == 7
                                ? "access " + testing::ScriptedConnection::text_at(inputs, 4)
                                : "event " + testing::ScriptedConnection::text_at(inputs, 2);
    const auto found = statuses.find(key);
    return found == statuses.end() ? db::kSuccess : found->second;
  };

  std::string first_console;
  for (const std::size_t batch : {1, 2, 1000}) {
    testing::CapturedConsole batch_console;
    RunContext batch_run("T1",
                         Reporter(installation.log_path().string(), batch_console.file(), true));
    db::Session session(std::make_unique<testing::ScriptedConnection>(script));
    InsertQueue inserts(session, batch);
    batch_run.use(nullptr, &inserts);  // 40p and dta look nothing up
    CollectedRejects rejects;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    result = transfer_bookings(batch_run, file, program_kinds, &rejects);
    std::fclose(file);
    SCOPED_TRACE("batch " + std::to_string(batch));
    EXPECT_EQ(result.ended.outcome, Outcome::kRunMustEnd);
    EXPECT_EQ(result.lines_read, 6);
    EXPECT_EQ(counted("access_bookings"), 2);
    EXPECT_EQ(counted("time_bookings"), 1);
    EXPECT_EQ(counted("events"), 0);  // the duplicate counts no event
    EXPECT_THAT(rejects.lines, ElementsAre("3: FEHLERHAFTER BUCHUNGSSATZ !!",
                                           "4: Insert in Kvs402Zpk fehlgeschlagen, Fehler -12899"));
    EXPECT_EQ(inserts.waiting(), 0u);  // what the run did not send is let go of
    const std::string console_text = batch_console.text();
    if (batch == 1) {
      const std::vector<std::string> lines = [&] {
        std::vector<std::string> v;
        for (std::size_t at = 0; at < source.size();) {
          const std::size_t end = source.find('\n', at) + 1;
          v.push_back(source.substr(at, end - at));
          at = end;
        }
        return v;
      }();
      EXPECT_EQ(console_text, lines[0] + lines[1] + lines[2] + "FEHLERHAFTER BUCHUNGSSATZ !!\n" +
                                  lines[3] +
                                  " Insert in Kvs402Zpk fehlgeschlagen, Fehler -12899\n" +
                                  lines[4] + "time T4\n" + lines[5] +
                                  " Insert in Kvs402Zpk fehlgeschlagen, Fehler -16000\n" +
                                  "3 Buchungen uebergeben");
      first_console = console_text;
    } else {
      EXPECT_EQ(console_text, first_console);
    }
  }
}

struct DispatchCase {
  std::string name;
  std::map<int, std::string> fields;
  std::int32_t event_status;
  std::vector<std::string> calls;
  int events_counted;
};

class DispatchTableTest : public TransferLoopTest,
                          public ::testing::WithParamInterface<DispatchCase> {};

// The routing of each documented case is held to operations.md by DocumentsTest; these are the
// cases around it: what a refused or failed step leaves to the next, what is compared as text,
// what no kind takes.
TEST_P(DispatchTableTest, RunsTheHandlersOfItsCaseInOrder) {
  const DispatchCase& c = GetParam();
  set_event_status(c.event_status);
  // A refused time booking must not keep the access booking of its line from running.
  fake("time_bookings").result = {Outcome::kRefused, 0, {}};
  transfer(booking_line(c.fields));
  EXPECT_EQ(calls(), c.calls);
  EXPECT_EQ(counted("events"), c.events_counted);
  EXPECT_EQ(counted("time_bookings"), 0);
  EXPECT_EQ(console.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchTableTest,
    ::testing::Values(DispatchCase{"TimeAndAccess",
                                   {{15, "40p"}, {10, "1"}, {11, "0"}},
                                   0,
                                   {"time_bookings", "access_bookings"},
                                   0},
                      DispatchCase{"Neither", {{15, "40p"}, {0, "123"}}, 0, {}, 0},
                      DispatchCase{"DoorTimeWithoutBadge",
                                   {{15, "dta"}, {7, "025"}, {12, "100"}},
                                   0,
                                   {"time_bookings"},
                                   0},
                      DispatchCase{"DoorAccessBadgeOfBlanksAndTabs",
                                   {{15, "dta"}, {0, " \t "}, {7, "025"}, {12, "200"}},
                                   0,
                                   {"access_bookings"},
                                   0},
                      DispatchCase{"DoorEventCounted",
                                   {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "200"}},
                                   0,
                                   {"events", "access_bookings"},
                                   1},
                      DispatchCase{"DoorEventFailedAccessStillRuns",
                                   {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "200"}},
                                   -1400,
                                   {"events", "access_bookings"},
                                   0},
                      DispatchCase{"DoorEventStatusNumberComparedAsText",
                                   {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "0100"}},
                                   0,
                                   {"events", "access_bookings"},
                                   1},
                      DispatchCase{
                          "UnknownUpperCaseKind", {{15, "40P"}, {10, "1"}, {11, "0"}}, 0, {}, 0},
                      DispatchCase{"UnknownOtherKind", {{15, "70p"}, {10, "1"}}, 0, {}, 0},
                      DispatchCase{"UnknownKindWithBlank", {{15, "dta "}, {7, "024"}}, 0, {}, 0}),
    [](const ::testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

TEST_F(TransferLoopTest, EventGetsItsLineWithTheTrimmedBadge) {
  transfer(booking_line({{0, "0815 \t"},
                         {2, "20240305"},
                         {3, "143015"},
                         {6, " 12x"},
                         {7, "025"},
                         {12, "-7"},
                         {15, "dta"}}));
  ASSERT_THAT(calls(), ElementsAre("events", "access_bookings"));
  const BookingLine& event = seen[0].line;
  EXPECT_THAT((std::vector<std::string>{event.terminal(), event.reader_number(), event.badge(),
                                        event.date(), event.time(), event.function_code(),
                                        event.status_number()}),
              ElementsAre("T1", "12x", "0815", "20240305", "143015", "025", "-7"));
  EXPECT_EQ(seen[1].line.badge(), "0815");  // the access insert sees it trimmed too
}

TEST_F(TransferLoopTest, FaultyAndForeignLinesReachNoHandler) {
  transfer(booking_line({}, 7) +                             // 7 fields: faulty
           booking_line({{5, "T2"}}, 7) +                    // faulty, whatever the terminal
           booking_line({{14, "62p"}}, 15) +                 // this terminal, too few fields
           booking_line({{5, "T2"}, {14, "62p"}}, 15) +      // another terminal: silent
           booking_line({{5, "T2"}, {15, "62p"}}) +          // another terminal
           booking_line({{5, "t1"}, {15, "62p"}}) +          // names compare case-sensitively
           booking_line({{5, "T1 "}, {15, "62p"}}) +         // field 5 is not trimmed
           "\n" + "   \r\n" + booking_line({{15, "62p"}}));  // empty lines are passed over
  EXPECT_THAT(calls(), ElementsAre("access_bookings"));
  EXPECT_EQ(console.text(),
            "FEHLERHAFTER BUCHUNGSSATZ !!\n"
            "FEHLERHAFTER BUCHUNGSSATZ !!\n"
            "FEHLERHAFTER BUCHUNGSSATZ !!\n");
  EXPECT_EQ(log(), summary({0, 1, 0, 0}));
}

TEST_F(TransferLoopTest, EmptySourceLogsFourZerosAndVerboseTotal) {
  set_verbose(true);
  transfer("");
  EXPECT_EQ(console.text(), "0 Buchungen uebergeben");
  EXPECT_EQ(log(), summary({0, 0, 0, 0}));
}

TEST_F(TransferLoopTest, VerboseEchoesEveryLineAndPrintsTheTotal) {
  set_verbose(true);
  const std::string lines = booking_line({{15, "40p"}, {10, "1"}, {11, "0"}}) + "\n" +
                            booking_line({{15, "50p"}}) +
                            booking_line({{15, "dta"}, {0, "1"}, {7, "025"}, {12, "200"}}) +
                            "x,y";  // last line without a line end
  transfer(lines);
  EXPECT_EQ(console.text(), lines + "FEHLERHAFTER BUCHUNGSSATZ !!\n" + "5 Buchungen uebergeben");
  EXPECT_EQ(log(), summary({1, 2, 1, 1}));
}

TEST_F(TransferLoopTest, LostSessionEndsTheLoopAfterItsLine) {
  // The event insert reports the session lost (each way Oracle says so); the access insert of
  // the same line still runs, no later line does, and the summary is written.
  for (const std::int32_t status : {-3113, -3114, -1012, -28, -3135}) {
    SCOPED_TRACE(status);
    seen.clear();
    std::filesystem::remove(installation.log_path());
    set_event_status(status);
    transfer(booking_line({{15, "62p"}}) +
             booking_line({{15, "dta"}, {0, "1"}, {7, "025"}, {12, "200"}}) +
             booking_line({{15, "62p"}}) + booking_line({{15, "50p"}}));
    EXPECT_THAT(calls(), ElementsAre("access_bookings", "events", "access_bookings"));
    EXPECT_EQ(log(), summary({0, 2, 0, 0}));
    EXPECT_EQ(result.ended.outcome, Outcome::kSessionLost);
    EXPECT_EQ(result.ended.status, status);
  }
}

TEST_F(TransferLoopTest, EachTransferCountsFromZero) {
  transfer(booking_line({{15, "62p"}}));
  transfer(booking_line({{15, "62p"}}));
  EXPECT_EQ(log(), summary({0, 1, 0, 0}) + summary({0, 1, 0, 0}));
}

TEST_F(TransferLoopTest, ALineIsOneBookingWhateverItsLength) {
  set_verbose(true);
  // A long field 14 does not cut the line: it reaches its handler whole. A line beyond the
  // bound is one faulty line, and the next line is read as usual.
  const std::string long_line = booking_line({{14, std::string(600, 'x')}, {15, "62p"}});
  const std::string too_long =
      booking_line({{0, std::string(kMaxLineLength, '9') + "10001"}, {15, "62p"}});
  const std::string next = booking_line({{15, "50p"}});
  transfer(long_line + too_long + next);
  EXPECT_THAT(calls(), ElementsAre("access_bookings", "cost_centre_bookings"));
  EXPECT_EQ(console.text(),
            long_line + "FEHLERHAFTER BUCHUNGSSATZ !!\n" + next + "2 Buchungen uebergeben");
}

// A line fed again does only what did not get through: a "40p" line loses the mark or the
// access result of the part that did; any other partly reached line comes back as read.
TEST(LineToFeedAgainTest, SwitchesOffOnlyWhatGotThrough) {
  const HandlerResult done;
  const HandlerResult failed{Outcome::kFailed, -1400, {}};
  const std::size_t time = kind_of("time_bookings");
  const std::size_t access = kind_of("access_bookings");
  const std::size_t event = kind_of("events");
  const std::string both = booking_line({{0, "7"}, {15, "40p"}, {10, "1"}, {11, "0"}});
  const std::string door =
      booking_line({{0, "7"}, {7, "025"}, {11, "9"}, {12, "200"}, {15, "dta"}});
  struct Case {
    const std::string& line;
    std::size_t first, second;
    bool first_reached, second_reached;
    std::string expected;
  };
  const Case cases[] = {
      {both, time, access, true, true, ""},
      {both, time, access, false, false, both},
      {both, time, access, true, false, booking_line({{0, "7"}, {15, "40p"}, {11, "0"}})},
      {both, time, access, false, true, booking_line({{0, "7"}, {15, "40p"}, {10, "1"}})},
      {door, event, access, true, false, door},
      {door, event, access, false, true, door},
  };
  for (const Case& c : cases) {
    LineOutcome outcome;
    outcome.steps[0] = {c.first, c.first_reached ? done : failed, {}};
    outcome.steps[1] = {c.second, c.second_reached ? done : failed, {}};
    outcome.count = 2;
    BookingLine booking(split_booking_line(c.line));
    EXPECT_EQ(line_to_feed_again(c.line, booking, outcome, kBookingKinds), c.expected) << c.line;
  }
}

}  // namespace
}  // namespace zarvelt
