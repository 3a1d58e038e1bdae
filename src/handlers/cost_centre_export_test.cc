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
FieldList booking(const std::map<int, std::string>& values) {
  FieldList fields;
  fields.fields.assign(16, "");
  fields.fields[15] = "50p";
  for (const auto& [index, value] : values) fields.fields[static_cast<size_t>(index)] = value;
  return fields;
}

FieldList booking(std::string badge, std::string date, std::string time, std::string cost_centre) {
  return booking({{0, badge}, {2, date}, {3, time}, {8, cost_centre}});
}

class CostCentreExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.log_path = installation.log_path().string();
    state.console = console.file();
    ASSERT_TRUE(export_open(state.target2, target_path));
  }

  // The bytes of target file 2 after closing it.
  std::string exported() {
    EXPECT_TRUE(export_close(state.target2));
    return read_file(target_path).value_or("<missing>");
  }
  std::string log() { return read_file(installation.log_path()).value_or(""); }

  testing::TempInstallation installation;
  testing::CapturedConsole console;
  std::string target_path = (installation.working_dir() / "target2.txt").string();
  TransferState state;
};

TEST_F(CostCentreExportTest, RecordsFollowEachOtherWithoutLineBreaks) {
  EXPECT_EQ(export_cost_centre_booking(state, booking("12345", "20240305", "143015", "4711")), 0);
  EXPECT_EQ(export_cost_centre_booking(state, booking("", "20231231", "0800", "AB")), 0);
  EXPECT_EQ(exported(),
            "050324143015"
            "12345        "
            "0004711"
            "3112230800"
            "             "
            "00000AB");
  EXPECT_EQ(state.counters.cost_centre_bookings, 2);
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(log(), "");
}

struct LimitCase {
  std::string badge;
  std::string cost_centre;
  std::string record_tail;            // badge and cost centre columns
  std::vector<std::string> messages;  // in order, to the console and one per line to the log
};

class CostCentreLimitTest : public CostCentreExportTest,
                            public ::testing::WithParamInterface<LimitCase> {};

TEST_P(CostCentreLimitTest, OverLongValuesAreReportedAndLeftOut) {
  const LimitCase& c = GetParam();
  EXPECT_EQ(
      export_cost_centre_booking(state, booking(c.badge, "20240305", "143015", c.cost_centre)), 0);
  EXPECT_EQ(exported(), "050324143015" + c.record_tail);
  EXPECT_EQ(state.counters.cost_centre_bookings, 1);
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
        LimitCase{"1234567890123", "1234567", "12345678901231234567", {}},
        LimitCase{"12345678901234",
                  "4711",
                  "             0004711",
                  {"----> Ausweis-ID zu lang :12345678901234"}},
        LimitCase{
            "12345", "12345678", "12345        0000000", {"----> Kostenstelle zu lang :12345678"}},
        LimitCase{
            "12345678901234",
            "12345678",
            "             0000000",
            {"----> Ausweis-ID zu lang :12345678901234", "----> Kostenstelle zu lang :12345678"}},
        LimitCase{"", "", "             0000000", {}}));

TEST_F(CostCentreExportTest, MalformedDateGivesSixCharactersFromThePositionsPresent) {
  export_cost_centre_booking(state, booking("1", "2024", "1430", "1"));
  export_cost_centre_booking(state, booking("2", "", "1430", "2"));
  export_cost_centre_booking(state, booking("3", "2024030599", "1430", "3"));
  EXPECT_EQ(exported(),
            "0000241430"
            "1            0000001"
            "0000001430"
            "2            0000002"
            "0503241430"
            "3            0000003");
}

TEST(CostCentreExportFailureTest, RecordThatDoesNotReachTheDiskMarksTheFileFailed) {
  testing::CapturedConsole console;
  TransferState state;
  state.console = console.file();
  ASSERT_TRUE(export_open(state.target2, "/dev/full"));
  EXPECT_EQ(export_cost_centre_booking(state, booking("12345", "20240305", "143015", "4711")), 0);
  EXPECT_EQ(state.counters.cost_centre_bookings, 1);
  EXPECT_FALSE(export_close(state.target2));
  EXPECT_TRUE(state.target2.failed);
}

}  // namespace
}  // namespace zarvelt
