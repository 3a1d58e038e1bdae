// Cost-centre export records: columns, over-long values, refused dates and times, failed
// writes.
#include "handlers/cost_centre_export.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace zarvelt {
namespace {

using testing::read_file;

// A 16-field cost-centre booking line with the given fields set.
BookingLine booking(const std::map<int, std::string>& values) {
  std::vector<std::string> fields(16, "");
  fields[15] = "50p";
  for (const auto& [index, value] : values) fields[static_cast<size_t>(index)] = value;
  return BookingLine(std::move(fields));
}

BookingLine booking(std::string badge, std::string date, std::string time,
                    std::string cost_centre) {
  return booking({{0, badge}, {2, date}, {3, time}, {8, cost_centre}});
}

class CostCentreExportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(target2.open(target_path)); }

  // The bytes of target file 2 after closing it.
  std::string exported() {
    EXPECT_TRUE(target2.close());
    return read_file(target_path).value_or("<missing>");
  }
  std::string log() { return read_file(installation.log_path()).value_or(""); }

  testing::TempInstallation installation;
  testing::CapturedConsole console;
  std::string target_path = (installation.working_dir() / "target2.txt").string();
  Reporter reporter{installation.log_path().string(), console.file(), false};
  ExportFile target2;

  // Exports one booking that must be done.
  void export_booking(const BookingLine& line) {
    EXPECT_EQ(export_cost_centre_booking(target2, reporter, line).outcome, Outcome::kDone);
  }
};

TEST_F(CostCentreExportTest, RecordsFollowEachOtherWithoutLineBreaks) {
  export_booking(booking("12345", "20240305", "143015", "4711"));
  export_booking(booking("", "20231231", "0800", "AB"));
  EXPECT_EQ(exported(),
            "050324143015"
            "12345        "
            "0004711"
            "3112230800"
            "             "
            "00000AB");
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(log(), "");
}

struct LimitCase {
  std::string name;
  std::string badge;
  std::string cost_centre;
  std::string record_tail;            // badge and cost centre columns
  std::vector<std::string> messages;  // in order, to the console and one per line to the log
};

class CostCentreLimitTest : public CostCentreExportTest,
                            public ::testing::WithParamInterface<LimitCase> {};

TEST_P(CostCentreLimitTest, OverLongValuesAreReportedAndLeftOut) {
  const LimitCase& c = GetParam();
  export_booking(booking(c.badge, "20240305", "143015", c.cost_centre));
  EXPECT_EQ(exported(), "050324143015" + c.record_tail);
  std::string console_text;
  std::string log_text;
  for (const std::string& message : c.messages) {
    console_text += message;
    log_text += message + "\n";
  }
  EXPECT_EQ(console.text(), console_text);
  EXPECT_EQ(log(), log_text);
}

INSTANTIATE_TEST_SUITE_P(
    BadgeAndCostCentre, CostCentreLimitTest,
    ::testing::Values(
        LimitCase{"BothAtTheirLimit", "1234567890123", "1234567", "12345678901231234567", {}},
        LimitCase{"BadgeTooLong",
                  "12345678901234",
                  "4711",
                  "             0004711",
                  {"----> Ausweis-ID zu lang :12345678901234"}},
        LimitCase{"CostCentreTooLong",
                  "12345",
                  "12345678",
                  "12345        0000000",
                  {"----> Kostenstelle zu lang :12345678"}},
        LimitCase{
            "BothTooLong",
            "12345678901234",
            "12345678",
            "             0000000",
            {"----> Ausweis-ID zu lang :12345678901234", "----> Kostenstelle zu lang :12345678"}},
        LimitCase{"BothEmpty", "", "", "             0000000", {}}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST_F(CostCentreExportTest, DatesAndTimesThatAreNoneAreRefusedAndLogged) {
  const std::string date = ", Datum ung\xFCltig :\n";
  const std::string time = ", Uhrzeit ung\xFCltig :\n";
  const struct {
    std::string date, time, log_tail;
  } refused[] = {
      {"2024", "1430", date},       {"", "1430", date},          {"2024030599", "1430", date},
      {"20241340", "1430", date},   {"99999999", "1430", date},  {"20230229", "1430", date},
      {"00000101", "1430", date},   {"20240305", "2400", time},  {"20240305", "1460", time},
      {"20240305", "143060", time}, {"20240305", "14301", time}, {"20240305", "999999", time},
  };
  std::string expected_log;
  for (const auto& c : refused) {
    EXPECT_EQ(
        export_cost_centre_booking(target2, reporter, booking("1", c.date, c.time, "1")).outcome,
        Outcome::kRefused)
        << c.date << " " << c.time;
    expected_log += "1, " + c.date + c.log_tail;
  }
  export_booking(booking("2", "20240229", "235959", "2"));  // a leap day, the last second
  EXPECT_EQ(exported(),
            "290224235959"
            "2            0000002");
  EXPECT_EQ(log(), expected_log);
  EXPECT_EQ(console.text(), "");
}

TEST(CostCentreExportFailureTest, RecordThatDoesNotReachTheDiskMarksTheFileFailed) {
  testing::CapturedConsole console;
  ExportFile target2;
  ASSERT_TRUE(target2.open("/dev/full"));
  const Reporter reporter("", console.file(), false);
  EXPECT_EQ(
      export_cost_centre_booking(target2, reporter, booking("12345", "20240305", "143015", "4711"))
          .outcome,
      Outcome::kDone);
  EXPECT_FALSE(target2.close());
  EXPECT_TRUE(target2.failed());
}

}  // namespace
}  // namespace zarvelt
