// The database server going away or freezing in the middle of a large run, for real: the
// backend of the program's session terminated, the whole server shut down immediately, the
// backend stopped with SIGSTOP; through libpq, through psqlODBC and through the test driver with
// Oracle's personality in front of it. Each run must end within the session's timeouts with
// status 75, nothing published, no staging file and a log line; the run after the fault must
// give what a clean run gives. Each test has a private cluster, so that killing it disturbs no
// other test.
//
// The fault lands once the run has stored rows, but where exactly depends on the machine: in
// the middle of the inserts (the session is lost: nothing is stored) or during the commit (the
// commit fails: nothing is stored, or, when only the commit's answer was lost, everything).
// Each is a correct outcome, and each is accepted.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fault_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::DbBackend;
using testing::FaultInstallation;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::ProgramRun;

constexpr const char* kPostgresBin = "/usr/lib/postgresql/15/bin";
constexpr int kLinesPerKind = 20000;

std::string shell_output(const std::string& command) {
  std::string output;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, n);
    }
    if (::pclose(pipe) != 0) output.clear();
  }
  return output;
}

// A throwaway cluster of this test alone, started with the project's cluster script; its
// connection settings replace the process's PG* variables while it lives.
class PrivateCluster {
 public:
  PrivateCluster()
      : directory_("/tmp/zarvelt-pg-fault-" + std::to_string(::getpid())),
        port_(std::to_string(30000 + ::getpid() % 10000)) {
    if (!fs::exists(std::string(kPostgresBin) + "/initdb")) return;
    set_exports(shell_output(settings() + " bash " ZARVELT_SOURCE_DIR
                                          "/scripts/postgres-test-cluster.sh start"));
    started_ = !saved_.empty();
    // psqlODBC's data sources for this cluster, where the driver is installed.
    const std::string odbc =
        shell_output("bash " ZARVELT_SOURCE_DIR "/scripts/odbc-test-sources.sh " + directory_ +
                     "/odbc 2>/dev/null");
    set_exports(odbc);
  }
  ~PrivateCluster() {
    std::system((settings() + " bash " ZARVELT_SOURCE_DIR "/scripts/postgres-test-cluster.sh stop")
                    .c_str());
    for (const Saved& s : saved_) {
      if (s.present) {
        ::setenv(s.name.c_str(), s.value.c_str(), 1);
      } else {
        ::unsetenv(s.name.c_str());
      }
    }
  }

  bool started() const { return started_; }
  bool stop_immediately() { return pg_ctl("-m immediate -w stop"); }
  // Starts the server again with the options it had.
  bool restart() { return pg_ctl("-l " + directory_ + "/server.log -w -t 60 restart"); }

 private:
  struct Saved {
    std::string name;
    bool present;
    std::string value;
  };
  // Sets the variables of a script's "export NAME='value'" lines, keeping the old values.
  void set_exports(const std::string& exports) {
    const std::regex assignment("([A-Z_0-9]+)='([^']*)'");
    for (std::sregex_iterator it(exports.begin(), exports.end(), assignment), end; it != end;
         ++it) {
      const std::string name = (*it)[1];
      const char* previous = std::getenv(name.c_str());
      saved_.push_back({name, previous != nullptr, previous ? previous : ""});
      ::setenv(name.c_str(), (*it)[2].str().c_str(), 1);
    }
  }
  std::string settings() const {
    return "ZARVELT_PG_DIR=" + directory_ + " ZARVELT_PG_PORT=" + port_;
  }
  bool pg_ctl(const std::string& arguments) {
    const std::string as_owner = ::getuid() == 0 ? "runuser -u postgres -- " : "";
    return std::system((as_owner + kPostgresBin + "/pg_ctl -D " + directory_ + "/data " +
                        arguments + " >/dev/null 2>&1")
                           .c_str()) == 0;
  }

  std::string directory_;
  std::string port_;
  bool started_ = false;
  std::vector<Saved> saved_;
};

// A connection of its own for the checks: the installation's connection does not outlive a
// server shutdown.
class Checker {
 public:
  explicit Checker(FaultInstallation& installation) {
    // "postgresql:dbname=<database>" or "odbc:DSN=<dsn>;Database=<database>".
    const std::string alias = installation.db().connect_alias();
    const std::string database = alias.substr(alias.find('=', alias.find(';') + 1) + 1);
    const std::string login = installation.db().login();
    const std::string password = installation.db().password();
    const char* keys[] = {"dbname", "user", "password", "connect_timeout", nullptr};
    const char* values[] = {database.c_str(), login.c_str(), password.c_str(), "5", nullptr};
    connection_ = PQconnectdbParams(keys, values, 0);
  }
  ~Checker() { PQfinish(connection_); }

  // The single value of a query, or "<error>".
  std::string value(const std::string& sql) {
    PGresult* result = PQexec(connection_, sql.c_str());
    std::string text = "<error>";
    if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1) {
      text = PQgetisnull(result, 0, 0) ? "<NULL>" : PQgetvalue(result, 0, 0);
    }
    PQclear(result);
    return text;
  }
  std::string stored_row_count() {
    return value(
        "select (select count(*) from kvsystem.kvs402zpk) + "
        "(select count(*) from kvsystem.o2009buchprot)");
  }
  // The test cluster commits without waiting for its log to be written (synchronous_commit
  // off), so an immediate shutdown could lose the installation's latest commits. A commit that
  // writes to the log and waits for it makes everything before it last.
  void flush_commits() {
    PQclear(PQexec(connection_,
                   "set synchronous_commit = on; create temporary table flushed (x integer)"));
  }
  // The backend of the program's open transaction once it has inserted into the access
  // protocol table, 0 until then.
  int program_backend_that_wrote() {
    const std::string pid = value(
        "select coalesce(max(l.pid), 0) from pg_locks l join pg_class c on c.oid = l.relation "
        "join pg_stat_activity a on a.pid = l.pid where a.datname = current_database() and "
        "l.pid <> pg_backend_pid() and c.relname = 'kvs402zpk' and l.mode = 'RowExclusiveLock' "
        "and l.granted");
    return pid == "<error>" ? 0 : std::atoi(pid.c_str());
  }

 private:
  PGconn* connection_ = nullptr;
};

// What the large booking file gives without faults: the exports of an SQLite run of the same
// file (the master data are alike), 2 access rows and an event per three lines.
struct CleanExports {
  std::string target1;
  std::string target2;
};
const CleanExports& clean_exports(int lines_per_kind) {
  static std::map<int, CleanExports> exports;
  if (const auto found = exports.find(lines_per_kind); found != exports.end()) return found->second;
  FaultInstallation installation(DbBackend::kSqlite);
  installation.write_source(testing::mixed_booking_file(lines_per_kind));
  EXPECT_EQ(installation.run().exit_status, 0);
  return exports[lines_per_kind] = {installation.target1(), installation.target2()};
}

enum class ServerFault { kBackendTerminated, kImmediateShutdown, kBackendFrozen };

struct ServerFaultCase {
  const char* name;
  DbBackend backend;
  ServerFault fault;
  std::chrono::seconds longest_run_after_fault;  // the session's own timeouts bound it
  int lines_per_kind = kLinesPerKind;            // enough for a run that lasts some seconds
};

class ServerFaultTest : public ::testing::TestWithParam<ServerFaultCase> {};

TEST_P(ServerFaultTest, RunEndsInTimeAndLeavesNothing) {
  const ServerFaultCase& c = GetParam();
#ifndef ZARVELT_WITH_ODBC
  if (c.backend != DbBackend::kPostgresql) GTEST_SKIP() << "built without ODBC";
#endif
  clean_exports(c.lines_per_kind);  // before the cluster, whose variables would be in place
  PrivateCluster cluster;
  if (!cluster.started()) {
    if (testing::postgresql_required()) FAIL() << "no private PostgreSQL cluster";
    GTEST_SKIP() << "no private PostgreSQL cluster";
  }
  FaultInstallation installation(c.backend);
  ZARVELT_REQUIRE_DB(&installation.db());
  installation.write_source(testing::mixed_booking_file(c.lines_per_kind));
  Checker checker(installation);
  checker.flush_commits();

  std::future<ProgramRun> running =
      std::async(std::launch::async, [&installation] { return installation.run(); });
  // Mid-run: the program's transaction has stored rows (and has most of the file still to go).
  int backend = 0;
  while (backend == 0 && running.wait_for(10ms) == std::future_status::timeout) {
    backend = checker.program_backend_that_wrote();
  }
  ASSERT_NE(backend, 0) << "the run ended before its session showed";

  const auto fault_time = std::chrono::steady_clock::now();
  switch (c.fault) {
    case ServerFault::kBackendTerminated:
      ASSERT_EQ(checker.value("select pg_terminate_backend(" + std::to_string(backend) + ")"), "t");
      break;
    case ServerFault::kImmediateShutdown:
      ASSERT_TRUE(cluster.stop_immediately());
      break;
    case ServerFault::kBackendFrozen:
      ASSERT_EQ(::kill(backend, SIGSTOP), 0);
      break;
  }
  const bool ended = running.wait_for(c.longest_run_after_fault) == std::future_status::ready;
  const auto seconds_after_fault = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - fault_time);
  // The server comes back before anything is checked, so that it can stop cleanly.
  if (c.fault == ServerFault::kBackendFrozen) ::kill(backend, SIGCONT);
  if (c.fault == ServerFault::kImmediateShutdown) {
    ASSERT_TRUE(cluster.restart());
  }
  ASSERT_TRUE(ended) << "still running " << seconds_after_fault.count() << " s after the fault";
  const ProgramRun failed = running.get();

  const std::string nothing_taken_over =
      ", Fehler: -3113, keine \xDC"
      "bernahme";
  const std::string session_lost = "Datenbanksitzung abgebrochen" + nothing_taken_over;
  const std::string commit_failed = "Commit fehlgeschlagen" + nothing_taken_over;
  const bool at_commit = failed.console.find(commit_failed) != std::string::npos;
  const std::string message = at_commit ? commit_failed : session_lost;
  const std::string all_rows = std::to_string(3 * c.lines_per_kind);
  Checker after(installation);
  const std::string stored = after.stored_row_count();
  if (failed.exit_status == 0) {
    // Done before the fault landed, on a machine fast enough for the rest of the file in the
    // moment between: then the run is whole.
    EXPECT_EQ(stored, all_rows);
    EXPECT_TRUE(installation.target1() == clean_exports(c.lines_per_kind).target1);
    EXPECT_TRUE(installation.target2() == clean_exports(c.lines_per_kind).target2);
  } else {
    EXPECT_EQ(failed.exit_status, 75);
    EXPECT_THAT(failed.console, HasSubstr(message + "\n"));
    EXPECT_THAT(installation.log(), HasSubstr("\n\n" + message + "\n"));
    if (at_commit) {
      // The database may have committed while only the answer was lost: then all of it.
      EXPECT_THAT(stored, ::testing::AnyOf("0", all_rows));
    } else {
      EXPECT_EQ(stored, "0");
    }
    EXPECT_EQ(installation.target1(), "");
    EXPECT_EQ(installation.target2(), "");
  }
  EXPECT_THAT(installation.stray_files(), IsEmpty());

  const ProgramRun clean = installation.run();
  EXPECT_EQ(clean.exit_status, 0) << clean.console;
  EXPECT_EQ(after.stored_row_count(), std::to_string(3 * c.lines_per_kind));
  EXPECT_TRUE(installation.target1() == clean_exports(c.lines_per_kind).target1);
  EXPECT_TRUE(installation.target2() == clean_exports(c.lines_per_kind).target2);
  EXPECT_THAT(installation.stray_files(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServerFaultTest,
    ::testing::Values(ServerFaultCase{"BackendTerminated", DbBackend::kPostgresql,
                                      ServerFault::kBackendTerminated, 30s},
                      ServerFaultCase{"ImmediateShutdown", DbBackend::kPostgresql,
                                      ServerFault::kImmediateShutdown, 30s},
                      // The client's own deadline of 45 s per round trip ends the wait.
                      ServerFaultCase{"BackendFrozen", DbBackend::kPostgresql,
                                      ServerFault::kBackendFrozen, 70s},
                      // psqlODBC waits for a stopped server without end; the backend's own deadline
                      // (45 s per call) ends the wait.
                      ServerFaultCase{"OdbcBackendTerminated", DbBackend::kOdbcPostgresql,
                                      ServerFault::kBackendTerminated, 30s},
                      ServerFaultCase{"OdbcBackendFrozen", DbBackend::kOdbcPostgresql,
                                      ServerFault::kBackendFrozen, 70s},
                      // The same through the driver with Oracle's personality: the server's
                      // end as ORA-03113, a stopped server cancelled through it. Its runs take
                      // a round trip per row, so a quarter of the lines last as long.
                      ServerFaultCase{"OracleOdbcBackendTerminated", DbBackend::kOdbcOracle,
                                      ServerFault::kBackendTerminated, 30s, kLinesPerKind / 4},
                      ServerFaultCase{"OracleOdbcBackendFrozen", DbBackend::kOdbcOracle,
                                      ServerFault::kBackendFrozen, 70s, kLinesPerKind / 4}),
    [](const ::testing::TestParamInfo<ServerFaultCase>& info) { return info.param.name; });

}  // namespace
}  // namespace zarvelt
