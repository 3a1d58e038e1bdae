// Runs scripts/demo.sh end to end into a temporary directory, with this build's programs, as
// the README's first command runs it: the exports byte for byte, the protocol rows, the
// transfer log and what the script shows; a second run must give the same.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db_fixture.h"
#include "driver/dispatch.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ProgramRun;
using testing::read_file;

std::string blanks(std::size_t count) { return std::string(count, ' '); }

// The time bookings of demo-data/bookings/T01.txt: 81 columns and LF each.
std::string time_record(const std::string& schema, const std::string& personnel_number,
                        const std::string& time, const std::string& booking_type,
                        const std::string& function_code, const std::string& text = "") {
  return schema + blanks(20 - schema.size()) + personnel_number +
         blanks(8 - personnel_number.size()) + "07.12.2026" + time + booking_type + function_code +
         blanks(3 - function_code.size()) + text + blanks(30 - text.size()) + "\n";
}

const std::string kTimeExport =
    time_record("MAND01", "4711", "07:03", "00003", "K1") +
    time_record("MAND02", "0815", "07:20", "00001", "KO", "Fruehschicht") +
    time_record("MAND01", "4711", "12:00", "00007", "DG", "Dienstgang Kunde") +
    time_record("MAND02", "0816", "16:15", "00000", "X9") +
    time_record("MAND01", "4711", "16:30", "00004", "G1");

const std::string kCostExport = "071226130000" + std::string("10001") + blanks(8) + "0004711" +
                                "071226140500" + "20001" + blanks(8) + "00KST12";

const std::string kRunLog =
    "10003, 20261207, Schema/Personalnr. nicht gefunden :\n"
    "MAND02, 0816, 20261207, Buchungstyp zur Buchungsart X9 nicht gefunden :\n" +
    summary_text({5, 6, 2, 1}) + "\n";

const std::string kLogHeader =
    ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \xDC"
    "bergabe am ";

// Each row of the query as its columns joined by "|", NULL as "<NULL>".
std::vector<std::string> query(const fs::path& database, const std::string& sql) {
  return testing::sqlite_file_query(database.string(), sql);
}

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override { temp_ = testing::make_temp_dir(); }
  void TearDown() override { fs::remove_all(temp_); }

  ProgramRun run_demo() {
    return testing::run_binary("/bin/bash", {std::string(ZARVELT_SOURCE_DIR) + "/scripts/demo.sh"},
                               ZARVELT_SOURCE_DIR,
                               {{"ZARVELT_DEMO_DIR", demo_dir().string()},
                                {"ZARVELT_DEMO_BUILD_DIR", ZARVELT_BINARY_DIR}});
  }
  fs::path demo_dir() const { return temp_ / "demo"; }
  fs::path work_dir() const { return demo_dir() / "Transfer" / "work"; }
  fs::path central_db() const { return demo_dir() / "db" / "KVSYSTEM.db"; }

  // What the demo's runs left in the database, the exports and the log.
  void expect_one_run_stored() {
    EXPECT_EQ(read_file(work_dir() / "T01_time.txt"), kTimeExport);
    EXPECT_EQ(read_file(work_dir() / "T01_cost.txt"), kCostExport);
    EXPECT_THAT(query(central_db(),
                      "select ZpkLes, ZpkUhr, ZpkAsw, ZpkZus from KVS402ZPK "
                      "order by ZpkUhr"),
                ElementsAre("1|2026-12-07 07:03:12|10001|100", "1|2026-12-07 07:30:10|10002|202",
                            "1|2026-12-07 07:45:00|10002|100", "2|2026-12-07 09:30:00|10001|7",
                            "2|2026-12-07 12:15:00|10001|200", "1|2026-12-07 16:30:12|10001|100"));
    EXPECT_THAT(query(central_db(),
                      "select BPRZLS, BPRAWV, BPRDTE, BPRFCD, BPRERG, BPRVAR "
                      "from O2009BUCHPROT"),
                ElementsAre("2|10001|2026-12-07 12:15:00|025|200|<NULL>"));
  }

  // The log's runs: the text after each header's time stamp and colon.
  std::vector<std::string> logged_runs() {
    const std::string log =
        read_file(demo_dir() / "Velmarion_php" / "log" / "ZarveltLog.txt").value_or("");
    std::vector<std::string> runs;
    for (std::size_t at = log.find(kLogHeader); at != std::string::npos;) {
      const std::size_t body = log.find(":\n", at + kLogHeader.size());
      if (body == std::string::npos) break;
      const std::size_t next = log.find("\n\n" + kLogHeader, body);
      runs.push_back(log.substr(body + 2, next == std::string::npos ? next : next - body - 2));
      at = next == std::string::npos ? next : next + 2;
    }
    return runs;
  }

  fs::path temp_;
};

TEST_F(DemoTest, RunsTheProgramOnADemoInstallationAndShowsWhatItProduced) {
  const ProgramRun first = run_demo();
  ASSERT_EQ(first.exit_status, 0) << first.console << first.error_output;
  expect_one_run_stored();
  EXPECT_THAT(logged_runs(), ElementsAre(kRunLog));
  EXPECT_THAT(query(demo_dir() / "db" / "MAND02.db", "select count(*) from KVS131FCD"),
              ElementsAre("2"));

  // The script shows the console, the exports and the log converted to UTF-8.
  EXPECT_THAT(first.console, HasSubstr("FEHLERHAFTER BUCHUNGSSATZ !!\n"));
  EXPECT_THAT(first.console, HasSubstr("14 Buchungen uebergeben\nexit status: 0\n"));
  EXPECT_THAT(first.console, HasSubstr("MAND02              0815    07.12.202607:2000001KO "
                                       "Fruehschicht                  |\n"));
  EXPECT_THAT(first.console, HasSubstr("07122613000010001        0004711\n"));
  EXPECT_THAT(first.console, HasSubstr("\xC3\xBC"
                                       "bergeben:\n   Zeitbuchungen         : 5\n"));
  EXPECT_THAT(first.console, HasSubstr("NET8  deciphered: sqlite3:../../db/KVSYSTEM.db\n"));
  // The closing lines name the operators' files and show the run's record.
  EXPECT_THAT(first.console, ::testing::ContainsRegex("Velmarion_php/log/ZarveltReject_T01_[0-9_-]+"
                                                      "_Gruende.txt\n"));
  EXPECT_THAT(first.console, HasSubstr("\"lines_rejected\":2,\"reject_file\":"));
  EXPECT_EQ(first.console.find("\xFC"), std::string::npos) << "Windows-1252 shown unconverted";

  // Again: the database is created anew, so the same rows; the log gains the second run.
  const ProgramRun second = run_demo();
  ASSERT_EQ(second.exit_status, 0) << second.console << second.error_output;
  expect_one_run_stored();
  EXPECT_THAT(logged_runs(), ElementsAre(kRunLog, kRunLog));
}

TEST_F(DemoTest, LeavesADirectoryAloneThatHoldsSomethingElse) {
  testing::write_file(demo_dir() / "notes.txt", "mine");
  const ProgramRun result = run_demo();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_THAT(result.error_output, HasSubstr("is not empty and holds no earlier demo"));
  EXPECT_EQ(read_file(demo_dir() / "notes.txt"), "mine");
  EXPECT_FALSE(fs::exists(demo_dir() / "Files"));
}

}  // namespace
}  // namespace zarvelt
