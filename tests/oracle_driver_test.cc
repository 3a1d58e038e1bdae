// The production path's failures, through the test driver with Oracle's personality
// (tests/oracle_odbc_driver/): a booking file whose batch holds one date that is none runs under
// each behaviour of the driver that bears on a failed array. A row's own error decides that
// booking alone, whatever record comes first and whenever the hint is refused; a lost session or
// a rollback that fails ends the run with nothing kept, never committed by a disconnect.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fault_support.h"

namespace zarvelt {
namespace {

using testing::DbBackend;
using testing::FaultInstallation;
using ::testing::HasSubstr;

// A time and access booking on day 00: the time export takes it, the access insert fails.
constexpr const char* kDayZero = "4711,,20240300,071500,,T1,1,K1,,,1,1,,,,40p\r\n";
const std::string kLost =
    "Datenbanksitzung abgebrochen, Fehler: -3113, keine \xDC"
    "bernahme";

std::string booking_file() {
  const std::string lines = testing::mixed_booking_file(12);
  const std::size_t middle = lines.size() / 2;
  const std::size_t at = lines.find('\n', middle) + 1;
  return lines.substr(0, at) + kDayZero + lines.substr(at);
}

TEST(OracleDriverTest, ArrayFailuresEndNoRunThatTheyDoNotConcern) {
  FaultInstallation installation(DbBackend::kOdbcOracle);
  ZARVELT_REQUIRE_DB(&installation.db());
  installation.write_source(booking_file());
  const testing::ProgramRun one = installation.run({{"ZARVELT_BATCH_SIZE", "1"}});
  ASSERT_EQ(one.exit_status, 0) << one.console;
  ASSERT_THAT(one.console, HasSubstr(" Insert in Kvs402Zpk fehlgeschlagen, Fehler -1847\n"));
  const std::vector<std::string> stored = installation.stored_rows();
  ASSERT_EQ(stored.size(), 3u * 12);  // the access rows of both kinds and the events

  struct Case {
    const char* name;
    testing::Environment behaviour;
    bool ends;  // the run ends with the session lost, nothing kept
  };
  const Case cases[] = {
      {"ORA-24381 first", {{"ZARVELT_ORA_ARRAY_FIRST_DIAG", "summary"}}, false},
      {"the row's error first, array stops",
       {{"ZARVELT_ORA_ARRAY_FIRST_DIAG", "row"}, {"ZARVELT_ORA_ARRAY_ON_ERROR", "stop"}},
       false},
      {"one total count", {{"ZARVELT_ORA_ROW_COUNTS", "total"}}, false},
      {"hint refused at prepare", {{"ZARVELT_ORA_HINT_REFUSED", "prepare"}}, false},
      {"hint refused at execute", {{"ZARVELT_ORA_HINT_REFUSED", "execute"}}, false},
      {"rollback fails", {{"ZARVELT_ORA_ROLLBACK_FAILS", "1"}}, true},
      {"session lost at the 9th statement", {{"ZARVELT_ORA_LOSE_SESSION_AT", "9"}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    installation.db().execute("delete from KVS402ZPK; delete from O2009BUCHPROT");
    const std::filesystem::path runs = installation.tree().log_dir() / "ZarveltRuns.jsonl";
    const std::filesystem::path trace = installation.tree().log_dir() / "driver.trace";
    std::filesystem::remove(runs);
    std::filesystem::remove(trace);
    testing::Environment environment = c.behaviour;
    environment.emplace_back("ZARVELT_ORA_TRACE", trace.string());
    const testing::ProgramRun batched = installation.run(environment);
    const std::string record = testing::read_file(runs).value_or("");
    if (c.ends) {
      EXPECT_EQ(batched.exit_status, 75);
      EXPECT_THAT(batched.console, HasSubstr(kLost));
      EXPECT_THAT(installation.stored_rows(), ::testing::IsEmpty());
      EXPECT_EQ(installation.target1(), "");
      continue;
    }
    EXPECT_EQ(batched.exit_status, 0) << batched.console;
    EXPECT_EQ(batched.console, one.console);
    EXPECT_EQ(installation.stored_rows(), stored);
    // A refused hint is said once, in the run's record. The hint goes only to a driver that
    // counts each row, and is executed until it is refused.
    const std::string& first = c.behaviour.front().second;
    const bool refused = c.behaviour.front().first == "ZARVELT_ORA_HINT_REFUSED";
    EXPECT_EQ(record.find("\"duplicate_hint_refused\":-38913") != std::string::npos, refused)
        << record;
    const std::string statements = testing::read_file(trace).value_or("");
    EXPECT_EQ(statements.find("IGNORE_ROW_ON_DUPKEY_INDEX") != std::string::npos,
              first != "total" && first != "prepare");
    // The failed rows are told by their own errors: the arrays go again without them, and no
    // insert runs on its own.
    EXPECT_EQ(statements.find("execute 1 insert"), std::string::npos) << statements;
  }
}

}  // namespace
}  // namespace zarvelt
