// The real program under faults: the export files, the source, the commit, a locked database
// and the log fail for real (a preloaded fault library, /dev/full, a directory in place of a
// file). A failed run must leave nothing of itself behind, and the run after the fault is gone
// must give exactly what a clean run gives.
//
// Every single fault of the export files and the log (each write, flush, sync, close, move)
// is tested in-process through a FailingFileSystem beside the code (export_file_test.cc,
// transfer_log_test.cc); here a few of them go through the whole program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fault_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::Environment;
using testing::fault_environment;
using testing::FaultInstallation;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::ProgramRun;

constexpr int kLinesPerKind = 5;

struct RunResult {
  std::vector<std::string> rows;
  std::string target1;
  std::string target2;
};

// What a run without faults leaves: 5 time bookings, 5 cost-centre records, 10 access rows
// and 5 events.
const RunResult& clean_result() {
  static const RunResult result = [] {
    FaultInstallation installation;
    installation.write_source(testing::mixed_booking_file(kLinesPerKind));
    const ProgramRun run = installation.run();
    EXPECT_EQ(run.exit_status, 0) << run.console;
    return RunResult{installation.stored_rows(), installation.target1(), installation.target2()};
  }();
  return result;
}

TEST(CleanRunTest, HoldsEveryKindOfBooking) {
  const RunResult& clean = clean_result();
  EXPECT_EQ(clean.rows.size(), 15u);
  EXPECT_EQ(clean.target1.size(), kLinesPerKind * 82u);
  EXPECT_FALSE(clean.target2.empty());
}

void expect_result_of_clean_run(FaultInstallation& installation, const ProgramRun& run) {
  const RunResult& clean = clean_result();
  EXPECT_EQ(run.exit_status, 0) << run.console;
  EXPECT_EQ(installation.stored_rows(), clean.rows);
  EXPECT_EQ(installation.target1(), clean.target1);
  EXPECT_EQ(installation.target2(), clean.target2);
  EXPECT_THAT(installation.stray_files(), IsEmpty());
}

void expect_nothing_of_the_run(FaultInstallation& installation) {
  EXPECT_THAT(installation.stored_rows(), IsEmpty());
  EXPECT_EQ(installation.target1(), "");
  EXPECT_EQ(installation.target2(), "");
  EXPECT_THAT(installation.stray_files(), IsEmpty());
}

const std::string kNothingTakenOver =
    ", keine \xDC"
    "bernahme";

struct FailedRunCase {
  const char* name;
  std::function<void(FaultInstallation&)> place_fault;  // in the files, before the run
  Environment environment;                              // the fault library's settings
  int exit_status;
  std::string message;  // on the console and in the log, whatever the mode
  std::function<void(FaultInstallation&)> remove_fault = [](FaultInstallation&) {};
};

void nothing(FaultInstallation&) {}

std::vector<FailedRunCase> failed_run_cases() {
  const std::string target1_unwritten =
      "Zieldatei target1.txt konnte nicht geschrieben werden" + kNothingTakenOver;
  const std::string target2_unwritten =
      "Zieldatei target2.txt konnte nicht geschrieben werden" + kNothingTakenOver;
  return {
      {"target 1 short write after two records", nothing,
       fault_environment("target1.txt.1.", "fwrite", 2, "ENOSPC", true), 74, target1_unwritten},
      {"target 2 cannot be synced", nothing, fault_environment("target2.txt.2.", "fsync", 0, "EIO"),
       74, target2_unwritten},
      {"the database file cannot be written", nothing,
       fault_environment("KVSYSTEM.db", "write,pwrite", 0, "EIO"), 75,
       "Datenbank nimmt die Buchungen nicht an, Fehler: -1115" + kNothingTakenOver},
      {"the commit cannot sync the database", nothing,
       fault_environment("KVSYSTEM.db", "fsync", 0, "EIO"), 75,
       "Commit fehlgeschlagen, Fehler: -1115" + kNothingTakenOver},
      {"the source cannot be read",
       [](FaultInstallation& i) {
         fs::remove(i.in_working_dir("source.txt"));
         fs::create_directory(i.in_working_dir("source.txt"));
       },
       {},
       74,
       "Quelldatei source.txt konnte nicht gelesen werden" + kNothingTakenOver,
       [](FaultInstallation& i) {
         fs::remove(i.in_working_dir("source.txt"));
         i.write_source(testing::mixed_booking_file(kLinesPerKind));
       }},
  };
}

TEST(FailedRunTest, LeavesNothingAndTheNextRunIsClean) {
  ASSERT_TRUE(testing::fault_library_available());
  for (const FailedRunCase& c : failed_run_cases()) {
    for (const bool verbose : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (verbose ? " (verbose)" : ""));
      FaultInstallation installation;
      ASSERT_TRUE(installation.available());
      installation.write_source(testing::mixed_booking_file(kLinesPerKind));
      c.place_fault(installation);
      const std::vector<std::string> switches =
          verbose ? std::vector<std::string>{"/D"} : std::vector<std::string>{};

      const ProgramRun failed = installation.run(c.environment, switches);
      EXPECT_EQ(failed.exit_status, c.exit_status) << failed.console;
      EXPECT_THAT(failed.console, HasSubstr(c.message + "\n"));
      EXPECT_THAT(installation.log(), HasSubstr("\n\n" + c.message + "\n"));
      expect_nothing_of_the_run(installation);

      c.remove_fault(installation);
      expect_result_of_clean_run(installation, installation.run({}, switches));
    }
  }
}

// The commit is the point of no return: an export that cannot be moved into place afterwards
// keeps its records in the staging file, which the message names.
TEST(FailedRunTest, ExportThatCannotBeMovedAfterTheCommitKeepsItsStagingFile) {
  FaultInstallation installation;
  ASSERT_TRUE(installation.available());
  installation.write_source(testing::mixed_booking_file(kLinesPerKind));
  const ProgramRun run = installation.run(fault_environment("target1.txt.1.", "rename"));
  EXPECT_EQ(run.exit_status, 74);
  const std::vector<std::string> stray = installation.stray_files();
  ASSERT_EQ(stray.size(), 1u);
  EXPECT_THAT(stray[0], ::testing::MatchesRegex("target1\\.txt\\.1\\.[0-9]+-[0-9a-f]+\\.tmp"));
  const std::string message =
      "Zieldatei target1.txt konnte nicht ersetzt werden, die Daten stehen in " + stray[0];
  EXPECT_THAT(run.console, HasSubstr(message + "\n"));
  EXPECT_THAT(installation.log(), HasSubstr("\n\n" + message + "\n"));
  EXPECT_EQ(installation.stored_rows(), clean_result().rows);
  EXPECT_EQ(installation.target1(), "");
  EXPECT_EQ(installation.target2(), clean_result().target2);
  EXPECT_EQ(testing::read_file(installation.in_working_dir(stray[0])), clean_result().target1);
}

// A target that is not a regular file is written through after the commit; when that fails
// (a link to /dev/full), the records stay in the staging file in the temporary directory,
// which the message names.
TEST(FailedRunTest, TargetThatCannotBeWrittenThroughAfterTheCommitKeepsItsStagingFile) {
  FaultInstallation installation;
  ASSERT_TRUE(installation.available());
  installation.write_source(testing::mixed_booking_file(kLinesPerKind));
  fs::create_symlink("/dev/full", installation.in_working_dir("target1.txt"));
  const fs::path temp = installation.tree().root() / "tmp";
  fs::create_directory(temp);
  const ProgramRun run = installation.run({{"TMPDIR", temp.string()}});
  EXPECT_EQ(run.exit_status, 74);
  EXPECT_TRUE(fs::is_symlink(installation.in_working_dir("target1.txt")));
  std::vector<fs::path> staged;
  for (const auto& entry : fs::directory_iterator(temp)) staged.push_back(entry.path());
  ASSERT_EQ(staged.size(), 1u);
  EXPECT_THAT(staged[0].filename().string(),
              ::testing::MatchesRegex("zarvelt-full\\.1\\.[0-9]+-[0-9a-f]+\\.tmp"));
  const std::string message =
      "Zieldatei target1.txt konnte nicht ersetzt werden, die Daten "
      "stehen in " +
      staged[0].string();
  EXPECT_THAT(run.console, HasSubstr(message + "\n"));
  EXPECT_THAT(installation.log(), HasSubstr("\n\n" + message + "\n"));
  EXPECT_EQ(installation.stored_rows(), clean_result().rows);
  EXPECT_EQ(testing::read_file(staged[0]), clean_result().target1);
  EXPECT_EQ(installation.target2(), clean_result().target2);
  EXPECT_THAT(installation.stray_files(), IsEmpty());
}

// Another writer holds the database's write lock for the whole run: the run's first statement
// waits for the busy timeout (5 s) and the run ends as a failed connection, before any booking
// is read.
TEST(FailedRunTest, DatabaseLockedByAnotherWriterFailsAfterTheBusyTimeout) {
  FaultInstallation installation;
  ASSERT_TRUE(installation.available());
  installation.write_source(testing::mixed_booking_file(kLinesPerKind));
  sqlite3* other_writer = nullptr;
  ASSERT_EQ(
      sqlite3_open((installation.tree().root() / "db" / "KVSYSTEM.db").c_str(), &other_writer),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other_writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = installation.run();
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(run.exit_status, 75) << run.console;
  EXPECT_GE(seconds, 4);  // the wait; how much longer a loaded machine takes is no verdict
  EXPECT_EQ(run.console, "Datenbankverbindung fehlgeschlagen, Fehler: -54\n");
  EXPECT_EQ(installation.log(), "\n\nDatenbankverbindung fehlgeschlagen, Fehler: -54\n");
  sqlite3_exec(other_writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other_writer);
  expect_nothing_of_the_run(installation);

  expect_result_of_clean_run(installation, installation.run());
}

// The log is no place where data lives: whatever goes wrong with it, the run is the clean one
// and says nothing about it.
struct LogFaultCase {
  const char* name;
  std::function<void(FaultInstallation&)> place_fault;
  Environment environment;
};

TEST(LogFaultTest, RunGoesOnAsIfTheLogWereFine) {
  const LogFaultCase cases[] = {
      {"the log on a full disk",
       [](FaultInstallation& i) { fs::create_symlink("/dev/full", i.tree().log_path()); },
       {}},
      {"a directory in the log's place",
       [](FaultInstallation& i) { fs::create_directory(i.tree().log_path()); },
       {}},
  };
  for (const LogFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    FaultInstallation installation;
    ASSERT_TRUE(installation.available());
    installation.write_source(testing::mixed_booking_file(kLinesPerKind));
    c.place_fault(installation);
    const ProgramRun run = installation.run(c.environment);
    EXPECT_EQ(run.console, "");
    expect_result_of_clean_run(installation, run);
  }
}

}  // namespace
}  // namespace zarvelt
