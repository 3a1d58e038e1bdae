#include "driver/transfer_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "input/line_reader.h"
#include "test_support.h"

namespace zarvelt {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// What the fake handlers saw. Handlers are plain function pointers, so the fakes reach the
// recorder of the running test through this one pointer.
struct Recorder {
  std::vector<std::string> calls;
  std::vector<std::string> badges;  // field 0 as each handler received it
  std::int32_t event_status = 0;
  Outcome time_outcome = Outcome::kDone;
  struct Event {
    std::string terminal, reader_number, badge, date, time, function_code, status_number;
    bool operator==(const Event&) const = default;
  };
  std::vector<Event> events;
};
Recorder* recorder = nullptr;

HandlerResult fake_time_booking(RunContext&, const BookingLine& line) {
  recorder->calls.push_back("time");
  recorder->badges.push_back(line.badge());
  return {recorder->time_outcome, 0, {}};
}
HandlerResult fake_access_booking(RunContext&, const BookingLine& line) {
  recorder->calls.push_back("access");
  recorder->badges.push_back(line.badge());
  return {};
}
HandlerResult fake_cost_centre_booking(RunContext&, const BookingLine& line) {
  recorder->calls.push_back("cost_centre");
  recorder->badges.push_back(line.badge());
  return {};
}
HandlerResult fake_event(RunContext&, const BookingLine& line) {
  recorder->calls.push_back("event");
  recorder->events.push_back({line.terminal(), line.reader_number(), line.badge(), line.date(),
                              line.time(), line.function_code(), line.status_number()});
  const std::int32_t status = recorder->event_status;
  return handler_result(status == 0 ? Outcome::kDone : Outcome::kFailed, status);
}

constexpr BookingHandlers kRecordingHandlers = {&fake_time_booking, &fake_access_booking,
                                                &fake_cost_centre_booking, &fake_event, nullptr};

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
    recorder = &record;
    run.terminal_name = "T1";
    set_verbose(false);
  }
  void TearDown() override { recorder = nullptr; }
  void set_verbose(bool verbose) {
    run.reporter = Reporter(installation.log_path().string(), console.file(), verbose);
  }

  // Runs the loop over a source file holding these bytes.
  void transfer(const std::string& source_bytes) {
    const auto path = installation.working_dir() / "source.txt";
    testing::write_file(path, source_bytes);
    std::FILE* source = std::fopen(path.c_str(), "rb");
    ASSERT_NE(source, nullptr);
    ended = transfer_bookings(run, source, kRecordingHandlers).ended;
    std::fclose(source);
  }
  std::string log() { return testing::read_file(installation.log_path()).value_or(""); }

  testing::TempInstallation installation;
  testing::CapturedConsole console;
  Recorder record;
  RunContext run;
  HandlerResult ended;
};

std::string summary(int time, int access, int cost_centre, int events) {
  return "\n\xFC"
         "bergeben:\n   Zeitbuchungen         : " +
         std::to_string(time) + "\n   Zutrittsbuchungen:    : " + std::to_string(access) +
         "\n   Kostenstellenbuchungen: " + std::to_string(cost_centre) +
         "\n   Ereignisse:           : " + std::to_string(events) + "\n\n";
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

TEST_P(DispatchTableTest, RunsTheHandlersOfItsCaseInOrder) {
  const DispatchCase& c = GetParam();
  record.event_status = c.event_status;
  // A refused time booking must not keep the access booking of its line from running.
  record.time_outcome = Outcome::kRefused;
  transfer(booking_line(c.fields));
  EXPECT_EQ(record.calls, c.calls);
  EXPECT_EQ(run.counters.events, c.events_counted);
  EXPECT_EQ(run.counters.time_bookings, 0);
  EXPECT_EQ(console.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DispatchTableTest,
    ::testing::Values(
        DispatchCase{
            "TimeAndAccess", {{15, "40p"}, {10, "1"}, {11, "0"}}, 0, {"time", "access"}, 0},
        DispatchCase{"TimeOnly", {{15, "40p"}, {10, "1"}}, 0, {"time"}, 0},
        DispatchCase{"AccessOnly", {{15, "40p"}, {11, "0"}}, 0, {"access"}, 0},
        DispatchCase{"Neither", {{15, "40p"}, {0, "123"}}, 0, {}, 0},
        DispatchCase{
            "DoorAccess", {{15, "dta"}, {0, "123"}, {7, "024"}, {12, "100"}}, 0, {"access"}, 0},
        DispatchCase{"DoorTimeWithBadge",
                     {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "100"}},
                     0,
                     {"time"},
                     0},
        DispatchCase{
            "DoorTimeWithoutBadge", {{15, "dta"}, {7, "025"}, {12, "100"}}, 0, {"time"}, 0},
        DispatchCase{"DoorAccessNoBadge", {{15, "dta"}, {7, "025"}, {12, "200"}}, 0, {"access"}, 0},
        DispatchCase{"DoorAccessBadgeOfBlanksAndTabs",
                     {{15, "dta"}, {0, " \t "}, {7, "025"}, {12, "200"}},
                     0,
                     {"access"},
                     0},
        DispatchCase{"DoorEventCounted",
                     {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "200"}},
                     0,
                     {"event", "access"},
                     1},
        DispatchCase{"DoorEventFailedAccessStillRuns",
                     {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "200"}},
                     -1400,
                     {"event", "access"},
                     0},
        DispatchCase{"DoorEventStatusNumberComparedAsText",
                     {{15, "dta"}, {0, "123"}, {7, "025"}, {12, "0100"}},
                     0,
                     {"event", "access"},
                     1},
        DispatchCase{"ZoneAccess", {{15, "62p"}}, 0, {"access"}, 0},
        DispatchCase{"CostCentre", {{15, "50p"}}, 0, {"cost_centre"}, 0},
        DispatchCase{"UnknownUpperCaseKind", {{15, "40P"}, {10, "1"}, {11, "0"}}, 0, {}, 0},
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
  EXPECT_THAT(record.events,
              ElementsAre(Recorder::Event{"T1", "12x", "0815", "20240305", "143015", "025", "-7"}));
  EXPECT_THAT(record.badges, ElementsAre("0815"));  // the access insert sees it trimmed too
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
  EXPECT_THAT(record.calls, ElementsAre("access"));
  EXPECT_EQ(console.text(),
            "FEHLERHAFTER BUCHUNGSSATZ !!\n"
            "FEHLERHAFTER BUCHUNGSSATZ !!\n"
            "FEHLERHAFTER BUCHUNGSSATZ !!\n");
  EXPECT_EQ(log(), summary(0, 1, 0, 0));
}

TEST_F(TransferLoopTest, EmptySourceLogsFourZerosAndVerboseTotal) {
  set_verbose(true);
  transfer("");
  EXPECT_EQ(console.text(), "0 Buchungen uebergeben");
  EXPECT_EQ(log(), summary(0, 0, 0, 0));
}

TEST_F(TransferLoopTest, VerboseEchoesEveryLineAndPrintsTheTotal) {
  set_verbose(true);
  record.event_status = 0;
  const std::string lines = booking_line({{15, "40p"}, {10, "1"}, {11, "0"}}) + "\n" +
                            booking_line({{15, "50p"}}) +
                            booking_line({{15, "dta"}, {0, "1"}, {7, "025"}, {12, "200"}}) +
                            "x,y";  // last line without a line end
  transfer(lines);
  EXPECT_EQ(console.text(), lines + "FEHLERHAFTER BUCHUNGSSATZ !!\n" + "5 Buchungen uebergeben");
  EXPECT_EQ(log(), summary(1, 2, 1, 1));
}

TEST_F(TransferLoopTest, LostSessionEndsTheLoopAfterItsLine) {
  // The event insert reports the session lost; the access insert of the same line still runs,
  // no later line does, and the summary is written.
  record.event_status = -3113;
  transfer(booking_line({{15, "62p"}}) +
           booking_line({{15, "dta"}, {0, "1"}, {7, "025"}, {12, "200"}}) +
           booking_line({{15, "62p"}}) + booking_line({{15, "50p"}}));
  EXPECT_THAT(record.calls, ElementsAre("access", "event", "access"));
  EXPECT_EQ(log(), summary(0, 2, 0, 0));
  EXPECT_EQ(ended.outcome, Outcome::kSessionLost);
  EXPECT_EQ(ended.status, -3113);
}

TEST_F(TransferLoopTest, CountersStartAtZero) {
  run.counters = {7, 7, 7, 7};
  transfer(booking_line({{15, "62p"}}));
  EXPECT_EQ(log(), summary(0, 1, 0, 0));
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
  EXPECT_THAT(record.calls, ElementsAre("access", "cost_centre"));
  EXPECT_EQ(console.text(),
            long_line + "FEHLERHAFTER BUCHUNGSSATZ !!\n" + next + "2 Buchungen uebergeben");
}

}  // namespace
}  // namespace zarvelt
