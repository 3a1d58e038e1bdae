// The ODBC backend's translations (no driver needed), and the installation's alias reaching a
// real data source through the connection step.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config_tool/config_writer.h"
#include "db/odbc_translation.h"
#include "db/session.h"
#include "db_fixture.h"
#include "driver/connect_step.h"
#include "test_support.h"

namespace zarvelt::db {
namespace {

TEST(OdbcTranslationTest, ConnectionStrings) {
  struct Case {
    const char* target;
    const char* login;
    const char* password;
    const char* expected;
  };
  const Case cases[] = {
      {"VELMARION", "kv", "geheim", "UID=kv;PWD=geheim;DSN=VELMARION;"},
      {"DSN=x;Database=y", "kv", "geheim", "UID=kv;PWD=geheim;DSN=x;Database=y"},
      // Empty credentials leave the data source's own in force.
      {"VELMARION", "", "", "DSN=VELMARION;"},
      // Values that would end or open an attribute are braced, "}" doubled inside.
      {"VELMARION", "kv", "a;b=c", "UID=kv;PWD={a;b=c};DSN=VELMARION;"},
      {"VELMARION", "kv", "x}y{", "UID=kv;PWD={x}}y{};DSN=VELMARION;"},
      {"VELMARION", "kv", " pw", "UID=kv;PWD={ pw};DSN=VELMARION;"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(odbc_connection_string(c.target, c.login, c.password), c.expected) << c.target;
  }
}

TEST(OdbcTranslationTest, PlaceholdersBecomeMarkersOutsideQuotes) {
  struct Case {
    Dialect dialect;
    const char* text;
    const char* expected;
    std::vector<std::size_t> inputs;
  };
  const Case cases[] = {
      // An input used several times is bound at every marker.
      {Dialect::kOracle,
       "select A from T where (B=:1 and (to_char(C,'yyyymmdd')<=:2 or D>=:2))",
       "select A from T where (B=? and (to_char(C,'yyyymmdd')<=? or D>=?))",
       {0, 1, 1}},
      // Colons inside literals and quoted names stay.
      {Dialect::kOracle,
       "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') from dual",
       "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') from dual",
       {}},
      {Dialect::kOracle,
       "select \":1\", 'it''s :2' from T where X=:3",
       "select \":1\", 'it''s :2' from T where X=?",
       {2}},
      {Dialect::kOracle,
       "values (:1,:2,to_date(:3,'yyyymmddhh24miss'),:10)",
       "values (?,?,to_date(?,'yyyymmddhh24miss'),?)",
       {0, 1, 2, 9}},
      {Dialect::kPostgresql,
       "select $2 from T where $1::text !~ '[^0-9]$1' and X=$12",
       "select ? from T where ?::text !~ '[^0-9]$1' and X=?",
       {1, 0, 11}},
      // Each dialect has its own marker.
      {Dialect::kPostgresql, "select ':1' from T where X=:1", "select ':1' from T where X=:1", {}},
  };
  for (const Case& c : cases) {
    const OdbcStatementText converted = odbc_statement_text(c.text, c.dialect);
    EXPECT_EQ(converted.text, c.expected);
    EXPECT_EQ(converted.input_of_marker, c.inputs) << c.text;
  }
}

// The one Oracle text the grammar check cannot parse: Oracle's own syntax, no blanks around
// "=", the name as given (checked before: a plain identifier).
TEST(OdbcTranslationTest, OracleSchemaSwitchText) {
  EXPECT_EQ(oracle_schema_switch_text("MAND01"), "ALTER SESSION SET CURRENT_SCHEMA=MAND01");
  EXPECT_EQ(oracle_schema_switch_text("KVSYSTEM"), "ALTER SESSION SET CURRENT_SCHEMA=KVSYSTEM");
  // The schema rides along in each prepared text; nothing but an identifier's characters.
  EXPECT_EQ(text_in_schema("select 1 from dual", "MAND01"), "select 1 from dual /* MAND01 */");
  EXPECT_EQ(text_in_schema("select 1 from dual", "M*/1"), "select 1 from dual /* M1 */");
}

// A statement prepared in one schema never serves another: Oracle parses a handle once, so a
// lookup prepared before a switch would read the previous client's tables, without an error.
// PostgreSQL plans again when search_path changes, so no run through psqlODBC shows that; the
// runs through the test driver with Oracle's personality do, and so does this test.
TEST(OdbcTranslationTest, PreparedStatementsServeTheirOwnSchema) {
  std::vector<int> freed;
  const auto free = [&freed](int handle) { freed.push_back(handle); };
  StatementCache<int> cache(3);
  const std::string lookup = "select FCDBUA from KVS131FCD where FCDNUM=:1";
  cache.set_schema("KVSYSTEM");
  cache.add(lookup, 1, free);
  cache.set_schema("MAND01");
  EXPECT_EQ(cache.find(lookup), nullptr);
  cache.add(lookup, 2, free);
  cache.set_schema("KVSYSTEM");
  ASSERT_NE(cache.find(lookup), nullptr);
  EXPECT_EQ(*cache.find(lookup), 1);
  // Full, it lets go of the other schemas' statements (open cursors) before it adds one.
  cache.add("select 2 from dual", 3, free);
  cache.add("select 3 from dual", 4, free);
  EXPECT_EQ(freed, std::vector<int>{2});
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.take(lookup), 1);
  EXPECT_EQ(cache.find(lookup), nullptr);
}

// What a failed array of inserts says of its rows: each failed row by its own record, whatever
// comes first; never by a summary (ORA-24381), a warning or a record that names no row.
TEST(OdbcTranslationTest, FailedArraysTieTheirRows) {
  using Kind = ArrayFailure::Kind;
  using State = ArrayRowState;
  const ArrayRecord summary{{"HY000", 24381, "ORA-24381: error(s) in array DML"}, 0};
  const auto row_error = [](std::int64_t row, std::int32_t number) {
    return ArrayRecord{{"HY000", number, "ORA-0" + std::to_string(number)}, row};
  };
  struct Case {
    const char* name;
    std::vector<State> states;
    std::vector<ArrayRecord> records;
    Kind kind;
    std::vector<std::pair<std::size_t, std::int32_t>> rows;
  };
  const Case cases[] = {
      {"summary first",
       {State::kDone, State::kFailed, State::kDone},
       {summary, row_error(2, 1847)},
       Kind::kTied,
       {{1, kDayOutOfRange}}},
      {"rows first, stopped at the second",
       {State::kFailed, State::kDone, State::kFailed, State::kNotRun},
       {row_error(1, 1), row_error(3, 1843), summary},
       Kind::kTied,
       {{0, kUniqueConstraint}, {2, kInvalidMonth}}},
      {"a run-ending row is tied too",
       {State::kDone, State::kFailed},
       {summary, row_error(2, 1653)},
       Kind::kTied,
       {{1, kUnableToExtend}}},
      {"every row failed, one record without a row (psqlODBC)",
       {State::kFailed, State::kFailed},
       {{{"23505", 7, "duplicate key"}, 0}},
       Kind::kUntied,
       {}},
      {"only the summary", {State::kDone, State::kFailed}, {summary}, Kind::kUntied, {}},
      {"an error for a row said done",
       {State::kDone, State::kFailed},
       {row_error(1, 1), row_error(2, 1)},
       Kind::kUntied,
       {}},
      {"a row the driver cannot tell",
       {State::kUnknown, State::kFailed},
       {row_error(2, 1)},
       Kind::kUntied,
       {}},
      {"a warning names no failure",
       {State::kDone, State::kFailed},
       {{{"01004", 0, "truncated"}, 1}, row_error(2, 1)},
       Kind::kTied,
       {{1, kUniqueConstraint}}},
      {"the hint refused at execute, row 1 marked",
       {State::kFailed, State::kNotRun},
       {row_error(1, 38913)},
       Kind::kHintRefused,
       {}},
      {"the session gone", {State::kFailed}, {summary, row_error(1, 3113)}, Kind::kLost, {}},
  };
  for (const Case& c : cases) {
    const ArrayFailure failure = judge_array_failure(Dialect::kOracle, c.states, c.records);
    EXPECT_EQ(failure.kind, c.kind) << c.name;
    EXPECT_EQ(failure.rows, c.rows) << c.name;
  }
  EXPECT_EQ(
      odbc_statement_status(Dialect::kOracle, {summary.diagnostic, row_error(1, 1).diagnostic}),
      kUniqueConstraint);
}

TEST(OdbcTranslationTest, ProductPicksTheDialect) {
  EXPECT_EQ(dialect_of_product("Oracle"), Dialect::kOracle);
  EXPECT_EQ(dialect_of_product("PostgreSQL"), Dialect::kPostgresql);
  EXPECT_EQ(dialect_of_product("SQLite"), std::nullopt);
  EXPECT_EQ(dialect_of_product(""), std::nullopt);
}

TEST(OdbcTranslationTest, StatementStatuses) {
  struct Case {
    Dialect dialect;
    OdbcDiagnostic diagnostic;
    std::int32_t status;
    bool lost;
  };
  const Case cases[] = {
      // Oracle's driver: the native number is the ORA number.
      {Dialect::kOracle,
       {"23000", 1, "[Oracle][ODBC][Ora]ORA-00001: unique constraint"},
       -1,
       false},
      {Dialect::kOracle, {"HY000", 1435, "ORA-01435: user does not exist"}, kSchemaMissing, false},
      {Dialect::kOracle, {"HY000", 1405, "ORA-01405: fetched column value is NULL"}, -1405, false},
      {Dialect::kOracle,
       {"HY000", 0, "[Oracle][ODBC][Ora]ORA-12899: value too large"},
       -12899,
       false},
      {Dialect::kOracle,
       {"HY000", 3113, "ORA-03113: end-of-file on communication channel"},
       kConnectionLost,
       true},
      {Dialect::kOracle, {"08S01", 0, "communication link failure"}, kConnectionLost, true},
      {Dialect::kOracle, {"HY000", 28, "ORA-00028: your session has been killed"}, -28, true},
      {Dialect::kOracle, {"HY000", 1012, "ORA-01012: not logged on"}, -1012, true},
      {Dialect::kOracle, {"HY000", 3114, "ORA-03114: not connected to ORACLE"}, -3114, true},
      {Dialect::kOracle, {"HY000", 0, "ORA-03135: connection lost contact"}, -3135, true},
      // psqlODBC hands on the server's SQLSTATE.
      {Dialect::kPostgresql, {"23505", 7, "duplicate key"}, kUniqueConstraint, false},
      {Dialect::kPostgresql, {"23502", 7, "null value"}, kNullIntoNotNull, false},
      {Dialect::kPostgresql, {"42P01", 7, "relation does not exist"}, kTableMissing, false},
      {Dialect::kPostgresql, {"57P01", 7, "terminating connection"}, kConnectionLost, true},
      {Dialect::kPostgresql, {"08S01", 35, "server closed the connection"}, kConnectionLost, true},
      {Dialect::kPostgresql, {"HYT00", 0, "timeout expired"}, kCancelled, false},
      {Dialect::kPostgresql,
       {"23000", 0, "integrity constraint violation"},
       kUniqueConstraint,
       false},
      {Dialect::kPostgresql, {"HY000", 0, "general error"}, kInternalError, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(odbc_statement_status(c.dialect, c.diagnostic), c.status) << c.diagnostic.message;
    EXPECT_EQ(is_lost_session(c.dialect, c.diagnostic), c.lost) << c.diagnostic.message;
    // The run ends as "Datenbanksitzung abgebrochen" exactly for the statuses of a lost session.
    EXPECT_EQ(status_scope(c.status) == StatusScope::kSessionLost, c.lost) << c.diagnostic.message;
  }
}

// What one booking's values can make Oracle say fails that booking alone: were any of these
// to end the run, every retry would fail alike and the terminal's file would never go.
TEST(OdbcTranslationTest, OracleNumbersOfOneBookingFailOnlyThatBooking) {
  const std::int32_t numbers[] = {1830, 1839, 1840, 1841, 1843,  1847, 1850, 1851,
                                  1858, 1861, 1862, 1722, 12899, 1400, 2290, 2291};
  for (const std::int32_t number : numbers) {
    const std::string message =
        "[Oracle][ODBC][Ora]ORA-" + std::to_string(100000 + number).substr(1);
    // Oracle's driver gives the number as the native error; the message has it too.
    for (const std::int32_t native : {number, 0}) {
      const std::int32_t status =
          odbc_statement_status(Dialect::kOracle, {"HY000", native, message});
      EXPECT_EQ(status, -number) << message;
      EXPECT_EQ(status_scope(status), StatusScope::kBooking) << message;
    }
  }
}

TEST(OdbcTranslationTest, ConnectStatuses) {
  struct Case {
    OdbcDiagnostic diagnostic;
    std::int32_t status;
  };
  const Case cases[] = {
      {{"IM002", 0, "Data source name not found and no default driver specified"},
       kCannotResolveAlias},
      {{"IM003", 0, "Specified driver could not be loaded"}, kCannotResolveAlias},
      // A driver or client of the other width, as Windows' driver manager reports it.
      {{"IM014", 0,
        "[Microsoft][ODBC Driver Manager] The specified DSN contains an architecture mismatch "
        "between the Driver and Application"},
       kArchitectureMismatch},
      {{"IM003", 160,
        "[Microsoft][ODBC Driver Manager] Specified driver could not be loaded due to system "
        "error 193: %1 is not a valid Win32 application. (Oracle in instantclient_19_20)"},
       kArchitectureMismatch},
      {{"IM003", 160,
        "[Microsoft][ODBC Driver Manager] Der angegebene Treiber konnte nicht geladen werden, "
        "Ursache: Systemfehler 193"},
       kArchitectureMismatch},
      {{"IM003", 160, "Specified driver could not be loaded due to system error 126"},
       kCannotResolveAlias},
      {{"28000", 1017, "[Oracle][ODBC][Ora]ORA-01017: invalid username/password"}, kInvalidLogin},
      {{"08001", 12541, "[Oracle][ODBC][Ora]ORA-12541: TNS:no listener"}, -12541},
      {{"08001", 101, "failed: FATAL:  password authentication failed for user \"kv\""},
       kInvalidLogin},
      {{"08001", 101, "failed: FATAL:  database \"nosuch\" does not exist"}, kCannotResolveAlias},
      {{"08001", 101, "failed: No such file or directory"}, -12541},
      {{"HYT00", 0, "Login timeout expired"}, -12170},
      {{"", 0, ""}, kCannotResolveAlias},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(odbc_connect_status(c.diagnostic), c.status) << c.diagnostic.message;
  }
}

#ifdef ZARVELT_WITH_ODBC
// The connection step with NET8 as an installation carries it: a bare alias, which names the
// data source. The test cluster's data source ZARVELT_PG reaches a database without the central
// schema, so a working connection shows as the failed schema statement.
TEST(OdbcConnectStepTest, BareAliasNamesTheDataSource) {
  const std::string alias = std::getenv("ZARVELT_TEST_ODBC_ALIAS") != nullptr
                                ? std::getenv("ZARVELT_TEST_ODBC_ALIAS")
                                : "";
  if (alias.empty()) {
    if (testing::postgresql_required()) FAIL() << "ZARVELT_TEST_ODBC_ALIAS not set";
    GTEST_SKIP() << "no ODBC data source for the test cluster";
  }
  const std::string login = std::getenv("ZARVELT_TEST_PG_USER");
  const std::string password = std::getenv("ZARVELT_TEST_PG_PASSWORD");
  struct Case {
    std::string net8;
    std::string password;
    std::string console;
  };
  const Case cases[] = {
      {alias, password, "Datenbankverbindung fehlgeschlagen, Fehler: -1435\n"},
      {"odbc:" + alias, password, "Datenbankverbindung fehlgeschlagen, Fehler: -1435\n"},
      {alias, "falsch", "Datenbankverbindung fehlgeschlagen, Fehler: -1017\n"},
      {"NOSUCH_SOURCE", password, "Datenbankverbindung fehlgeschlagen, Fehler: -12154\n"},
  };
  const std::filesystem::path directory = testing::make_temp_dir();
  for (const Case& c : cases) {
    const std::string config = (directory / "velmarion.ini").string();
    ASSERT_TRUE(
        write_config_values(config, {{"LOGIN", login}, {"PASS", c.password}, {"NET8", c.net8}}).ok);
    std::FILE* console = std::tmpfile();
    SessionPtr session;
    connect_step(config, Reporter("", console, false), session);
    std::rewind(console);
    char buffer[256] = {};
    const std::size_t size = std::fread(buffer, 1, sizeof buffer - 1, console);
    std::fclose(console);
    EXPECT_EQ(std::string(buffer, size), c.console) << c.net8;
  }
  std::filesystem::remove_all(directory);
}

// A database that the program has no statement texts for is refused at connecting, before
// any statement of another dialect could run on it (SQLite's driver, registered by the test
// command beside psqlODBC).
TEST(OdbcConnectStepTest, ProductWithoutStatementTextsIsRefused) {
  if (testing::odbc_test_data_source().empty()) {
    if (testing::postgresql_required()) FAIL() << "ZARVELT_TEST_ODBC_DSN not set";
    GTEST_SKIP() << "no private ODBC configuration";
  }
  const std::filesystem::path directory = testing::make_temp_dir();
  SessionPtr session;
  EXPECT_EQ(connect(session, "", "", "odbc:Driver=SQLite3;Database=" + directory.string() + "/x.db",
                    "KVSYSTEM")
                .status,
            -439);
  EXPECT_EQ(session, nullptr);
  std::filesystem::remove_all(directory);
}
#endif

}  // namespace
}  // namespace zarvelt::db
