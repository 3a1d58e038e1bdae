// Killed anywhere, run again, nothing lost. The program is killed (SIGKILL, through strace's
// fault injection) at the N-th call of every system call that writes, syncs, renames, removes,
// locks or talks to the database server, on a booking file of every kind. After each kill the
// installation must hold the run's rows all or not at all, no export without its rows and only
// whole log lines; the same file run again must then give the uninterrupted run's exports and
// protocol rows, leaving nothing behind that the operations guide does not name.
//
// A call's N-th time is counted per thread (the ODBC backend's driver calls run on a worker
// thread of their own), so a point kills the first thread to reach its N-th call of that kind.
// Counts of reads from the server vary a little between runs; a point beyond a run's count
// is not reached, and that run must then simply be the clean one.
//
// By default a spread sample of about 100 points per backend runs: every point of the rare
// calls (syncs, moves, removals, truncations, locks) and an even spread of the rest.
// ZARVELT_CRASH_POINTS=all runs every point; a number runs about that many per backend. Each
// backend prints what it ran. Not in a sanitizer build: the campaign orders system calls, and
// the sanitizers' runtime makes calls of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fault_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using testing::DbBackend;
using testing::FaultInstallation;
using testing::ProgramRun;

// The backends the campaign runs on: one line each.
const DbBackend kCampaignBackends[] = {
    DbBackend::kSqlite,
    DbBackend::kPostgresql,
    DbBackend::kOdbcPostgresql,
    DbBackend::kOdbcOracle,
};

// The system calls the program is killed at: opening, writing, syncing, moving, removing,
// truncating and locking files, and every exchange with a server.
const char* const kKillCalls[] = {
    "openat",    "write",  "pwrite64", "fsync",     "fdatasync", "rename", "renameat",
    "renameat2", "unlink", "unlinkat", "ftruncate", "flock",     "fcntl",  "close",
    "connect",   "sendto", "sendmsg",  "recvfrom",  "recvmsg",   "poll",   "ppoll",
};
// Calls few enough that the sample takes every point of them: they order the commit and the
// publishing.
const std::set<std::string> kEveryPointCalls = {"fsync",    "fdatasync", "rename",
                                                "renameat", "renameat2", "unlink",
                                                "unlinkat", "ftruncate", "flock"};
constexpr int kDefaultSamplePerBackend = 100;

#if defined(ZARVELT_SANITIZED)
constexpr bool kSanitized = true;  // its runtime's own calls would be counted and killed at
#else
constexpr bool kSanitized = false;
#endif

// Every kind of line: time bookings with and without access bookings, access bookings alone
// (also without a badge, twice), a function code 024, a dta time booking, events, a zone
// booking, cost-centre bookings (one with an over-long badge), a line and an event repeated,
// a badge that is not found, a function code without booking type, a faulty line and a line
// of another terminal.
std::string booking_file() {
  return testing::mixed_booking_file(4) +
         "4711,,20240301,070100,,T1,1,K1,Fruehschicht,,1,,,,,40p\r\n"
         "4711,,20240301,070200,,T1,1,,,,,B,,,,40p\r\n"
         "4711,,20240301,070300,,T1,1,024,,,,,100,,,dta\r\n"
         "4711,,20240301,070400,,T1,1,K1,Dienstgang,,,,100,,,dta\r\n"
         ",,20240301,070500,,T1,2,025,,,,,200,,,dta\r\n"
         ",,20240301,070500,,T1,2,025,,,,,200,,,dta\r\n"
         "4711,,20240301,070600,,T1,2,,,,,,12,Z,,62p\r\n"
         "12345678901234,,20240301,070700,,T1,2,,KST1,,,,,,,50p\r\n" +
         testing::time_and_access_line(0) + testing::event_line(2) +
         "9999,,20240301,070800,,T1,1,K1,,,1,,,,,40p\r\n"
         "4711,,20240301,070900,,T1,1,X9,,,1,,,,,40p\r\n"
         "4711,,20240301,071000,,T1\r\n"
         "4711,,20240301,071100,,T2,1,K1,,,1,1,,,,40p\r\n"
         ",,20240301,071200,,T1,1,,,,,1,,,,40p\r\n";
}

std::string strace_binary() {
  for (const char* candidate : {"/usr/bin/strace", "/bin/strace"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

// The log with the server's time of each header masked.
std::string masked(const std::string& log) {
  static const std::regex server_time("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9:]{8}");
  return std::regex_replace(log, server_time, "<time>");
}

std::vector<std::string> names_in(const fs::path& directory) {
  std::vector<std::string> names;
  if (!fs::exists(directory)) return names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct CleanRun {
  std::vector<std::string> rows;
  std::string target1;
  std::string target2;
  std::string log;  // masked
};

struct KillPoint {
  std::string call;
  int n;
};

// Every point (budget 0), or a spread sample of about budget points: all points of the rare
// calls, and of every other call its first and last point and a share of the rest of the
// budget in proportion to its count, spread evenly between them.
std::vector<KillPoint> choose_points(const std::map<std::string, int>& counts, int budget) {
  const auto every_point = [budget](const std::string& call) {
    return budget <= 0 || kEveryPointCalls.contains(call);
  };
  int every_points = 0;
  int spread_total = 0;
  for (const auto& [call, count] : counts) {
    (every_point(call) ? every_points : spread_total) += count;
  }
  const int spread_budget = std::max(0, budget - every_points);
  std::vector<KillPoint> points;
  for (const auto& [call, count] : counts) {
    const int taken = every_point(call)
                          ? count
                          : std::clamp(spread_budget * count / std::max(1, spread_total),
                                       std::min(count, 2), count);
    std::set<int> chosen;
    for (long long i = 0; i < taken; ++i) {
      chosen.insert(taken == 1 ? 1 : 1 + static_cast<int>(i * (count - 1) / (taken - 1)));
    }
    for (const int n : chosen) points.push_back({call, n});
  }
  return points;
}

// Points per backend: 0 for every point (ZARVELT_CRASH_POINTS=all), otherwise the number asked
// for or kDefaultSamplePerBackend.
int sample_budget() {
  const char* asked = std::getenv("ZARVELT_CRASH_POINTS");
  if (asked == nullptr || *asked == '\0') return kDefaultSamplePerBackend;
  if (std::string(asked) == "all") return 0;
  const int number = std::atoi(asked);
  return number > 0 ? number : kDefaultSamplePerBackend;
}

class CrashPointTest : public ::testing::TestWithParam<DbBackend> {
 protected:
  void SetUp() override {
    if (kSanitized) GTEST_SKIP() << "sanitizer build";
    strace_ = strace_binary();
    if (strace_.empty()) {
      if (std::getenv("CI") != nullptr) FAIL() << "strace is not installed";
      GTEST_SKIP() << "strace is not installed";
    }
#ifndef ZARVELT_WITH_ODBC
    if (GetParam() != DbBackend::kSqlite && GetParam() != DbBackend::kPostgresql) {
      GTEST_SKIP() << "built without ODBC";
    }
#endif
    installation_ = std::make_unique<FaultInstallation>(GetParam());
    ZARVELT_REQUIRE_DB(&installation_->db());
    temp_ = installation_->tree().root() / "tmp";
    fs::create_directories(temp_);
    installation_->write_source(booking_file());
  }

  FaultInstallation& installation() { return *installation_; }
  fs::path database_dir() const { return installation_->tree().root() / "db"; }

  // The state before the run: no protocol rows, no targets, an empty log directory.
  void reset() {
    ASSERT_TRUE(installation().db().execute(
        "delete from KVSYSTEM.KVS402ZPK; delete from KVSYSTEM.O2009BUCHPROT"));
    for (const fs::path& directory :
         {installation().tree().working_dir(), installation().tree().log_dir(), temp_}) {
      for (const std::string& name : names_in(directory)) {
        if (directory != installation().tree().working_dir() || name != "source.txt") {
          fs::remove_all(directory / name);
        }
      }
    }
  }

  // The program run, under strace with the given options when there are any.
  ProgramRun run(const std::vector<std::string>& strace_options = {}) {
    const std::vector<std::string> program = {ZARVELT_BINARY, testing::kFaultTerminal, "source.txt",
                                              "target1.txt", "target2.txt"};
    const testing::Environment environment = {{"TMPDIR", temp_.string()}};
    if (strace_options.empty()) {
      return testing::run_binary(ZARVELT_BINARY, {program.begin() + 1, program.end()},
                                 installation().tree().working_dir(), environment);
    }
    std::vector<std::string> arguments = {"-f", "-qq"};
    arguments.insert(arguments.end(), strace_options.begin(), strace_options.end());
    arguments.insert(arguments.end(), program.begin(), program.end());
    return testing::run_binary(strace_, arguments, installation().tree().working_dir(),
                               environment);
  }

  // One uninterrupted run under strace, tracing every call of kKillCalls: what it leaves, and
  // how often each thread made each call (the most of any thread per call).
  void count_calls(CleanRun& clean, std::map<std::string, int>& counts) {
    reset();
    const fs::path trace = installation().tree().root() / "calls.trace";
    std::string calls;
    for (const char* call : kKillCalls) calls += std::string(calls.empty() ? "" : ",") + call;
    const ProgramRun counted = run({"-o", trace.string(), "-e", "trace=" + calls});
    ASSERT_EQ(counted.exit_status, 0) << counted.console;
    clean = {installation().stored_rows(), installation().target1(), installation().target2(),
             masked(installation().log())};
    ASSERT_FALSE(clean.rows.empty());
    ASSERT_FALSE(clean.target1.empty());
    ASSERT_FALSE(clean.target2.empty());

    // "<pid> <call>(..." starts a call; "<pid> <... <call> resumed>" continues one.
    const std::regex call_line("^([0-9]+) +([a-z0-9_]+)\\(");
    std::map<std::pair<std::string, std::string>, int> per_thread;
    std::ifstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (std::regex_search(line, match, call_line)) ++per_thread[{match[2], match[1]}];
    }
    for (const auto& [key, count] : per_thread) {
      counts[key.first] = std::max(counts[key.first], count);
    }
    fs::remove(trace);
  }

  // A program killed after it sent its commit leaves the server to finish that commit on its
  // own, and the answer to it goes nowhere: until the killed program's sessions have ended the
  // database may still show none of the run and then all of it. So the check waits for them.
  void wait_for_the_server_to_let_go() {
    if (GetParam() == DbBackend::kSqlite) return;
    const std::string others =
        "select count(*) from pg_stat_activity where datname = current_database() and "
        "pid <> pg_backend_pid()";
    for (int tries = 0; tries < 1000; ++tries) {
      const std::vector<std::string> count = installation().db().query(others);
      if (count == std::vector<std::string>{"0"}) return;
      ::usleep(10000);
    }
    FAIL() << "the killed program's sessions still open after 10 s";
  }

  // What the installation must show after a kill, and then after the same file run again.
  // second_move: the point is the second of the two moves that publish the exports, the only
  // point where the two may be out of step.
  void check_point(const CleanRun& clean, const KillPoint& point, bool second_move, bool& reached) {
    const fs::path working = installation().tree().working_dir();
    const ProgramRun killed =
        run({"-o", "/dev/null", "-e", "trace=" + point.call, "-e",
             "inject=" + point.call + ":signal=KILL:when=" + std::to_string(point.n)});
    reached = killed.signal == SIGKILL;
    if (!reached) {
      ASSERT_EQ(killed.exit_status, 0) << "not killed, and not the clean run";
    }
    ASSERT_NO_FATAL_FAILURE(wait_for_the_server_to_let_go());

    // The run's rows all there or none; no export published without its rows, and with them
    // each export either published or whole in its staging file.
    const std::vector<std::string> rows = installation().stored_rows();
    const bool stored = !rows.empty();
    if (stored) {
      EXPECT_EQ(rows, clean.rows) << "a part of the run is stored";
    }
    const std::regex staging_name("target([12])\\.txt\\.([12])\\.[0-9]+-[0-9a-f]{16}\\.tmp");
    for (const int k : {1, 2}) {
      const std::optional<std::string> target =
          testing::read_file(working / ("target" + std::to_string(k) + ".txt"));
      const std::string& records = k == 1 ? clean.target1 : clean.target2;
      if (!stored) {
        EXPECT_TRUE(!target || target->empty()) << "target " << k << " published without rows";
        continue;
      }
      ASSERT_TRUE(target) << "target " << k << " missing after the commit";
      if (*target == records) continue;
      EXPECT_EQ(*target, "") << "target " << k << " is neither empty nor the run's export";
      bool staged = false;
      for (const std::string& name : names_in(working)) {
        std::smatch match;
        if (std::regex_match(name, match, staging_name) && match[1] == std::to_string(k)) {
          staged = staged || testing::read_file(working / name) == records;
        }
      }
      EXPECT_TRUE(staged) << "target " << k << " unpublished and not whole in a staging file";
    }
    if (stored && !second_move) {
      EXPECT_EQ(installation().target1() == clean.target1,
                installation().target2() == clean.target2)
          << "one export published, the other not";
    }
    // Whole log lines, the beginning of the uninterrupted run's log; a run record only of a
    // run that did everything.
    const std::string log_after_kill = masked(installation().log());
    EXPECT_TRUE(log_after_kill.empty() || log_after_kill.back() == '\n');
    EXPECT_TRUE(clean.log.starts_with(log_after_kill)) << "the log after the kill:\n"
                                                       << log_after_kill;
    const fs::path records_path = installation().tree().log_dir() / "ZarveltRuns.jsonl";
    const std::string record = testing::read_file(records_path).value_or("");
    if (!record.empty()) {
      EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 1);
      EXPECT_EQ(record.back(), '\n');
      EXPECT_TRUE(stored && installation().target1() == clean.target1 &&
                  installation().target2() == clean.target2)
          << "a run record of a run that did not publish: " << record;
    }

    // The same file again gives what the uninterrupted run gave.
    const ProgramRun again = run();
    EXPECT_EQ(again.exit_status, 0) << again.console;
    EXPECT_EQ(installation().stored_rows(), clean.rows);
    EXPECT_TRUE(installation().target1() == clean.target1) << "target 1 differs after the rerun";
    EXPECT_TRUE(installation().target2() == clean.target2) << "target 2 differs after the rerun";
    const std::string log = masked(installation().log());
    ASSERT_TRUE(log.starts_with(log_after_kill));
    if (!stored) {
      EXPECT_EQ(log.substr(log_after_kill.size()), clean.log);
    } else {
      EXPECT_TRUE(log.substr(log_after_kill.size()).starts_with(clean.log.substr(0, 40)));
    }
    // Nothing left that the operations guide does not name: the killed run's staging files,
    // its reject files, the run records.
    for (const std::string& name : names_in(working)) {
      EXPECT_TRUE(name == "source.txt" || name == "target1.txt" || name == "target2.txt" ||
                  std::regex_match(name, staging_name))
          << "left in the working directory: " << name;
    }
    const std::regex log_files(
        "ZarveltLog\\.txt|ZarveltRuns\\.jsonl|"
        "ZarveltReject_T1_[0-9]{8}-[0-9]{6}_[0-9]+(_Gruende)?\\.txt");
    for (const std::string& name : names_in(installation().tree().log_dir())) {
      EXPECT_TRUE(std::regex_match(name, log_files)) << "left in the log directory: " << name;
    }
    EXPECT_THAT(names_in(temp_), ::testing::IsEmpty());
    if (GetParam() == DbBackend::kSqlite) {
      EXPECT_THAT(names_in(database_dir()), ::testing::ElementsAre("KVSYSTEM.db", "MAND01.db"));
    }
  }

  std::string strace_;
  std::unique_ptr<FaultInstallation> installation_;
  fs::path temp_;
};

TEST_P(CrashPointTest, KilledAnywhereRunAgainNothingLost) {
  CleanRun clean;
  std::map<std::string, int> counts;
  ASSERT_NO_FATAL_FAILURE(count_calls(clean, counts));
  const std::vector<KillPoint> points = choose_points(counts, sample_budget());
  int all_points = 0;
  std::string per_call;
  for (const auto& [call, count] : counts) {
    all_points += count;
    per_call += " " + call + " " + std::to_string(count);
  }

  int ran = 0;
  int not_reached = 0;
  for (const KillPoint& point : points) {
    SCOPED_TRACE("killed at " + point.call + " number " + std::to_string(point.n));
    ASSERT_NO_FATAL_FAILURE(reset());
    bool reached = true;
    const bool second_move = point.call.starts_with("rename") && point.n == 2;
    check_point(clean, point, second_move, reached);
    ++ran;
    if (!reached) ++not_reached;
    // The first point that fails is the one to look at; the rest would only repeat it.
    if (HasFailure()) break;
  }
  std::printf("crash points, %s: %d of %d run (%d not reached), %s\n",
              testing::backend_name(GetParam()), ran, all_points, not_reached,
              ran == static_cast<int>(points.size()) && !HasFailure() ? "nothing lost" : "FAILED");
  std::printf("crash points, %s: calls per kind:%s\n", testing::backend_name(GetParam()),
              per_call.c_str());
  std::fflush(stdout);
}

INSTANTIATE_TEST_SUITE_P(Backends, CrashPointTest, ::testing::ValuesIn(kCampaignBackends),
                         [](const ::testing::TestParamInfo<DbBackend>& info) {
                           return testing::backend_name(info.param);
                         });

}  // namespace
}  // namespace zarvelt
