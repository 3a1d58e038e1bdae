// zarvelt_admin as an administrator runs it: an installation laid out, schemas created from
// sql/, master data loaded from CSV files, and faulty files refused whole with the file and
// line named; the self-test of an installation on every backend, and its comparison of an
// installation's tables with sql/. The commands run in-process; the usage test and the
// self-test run the built program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "admin/admin_tool.h"
#include "admin/catalogue.h"
#include "admin/installation_tables.h"
#include "admin/selftest.h"
#include "db_fixture.h"
#include "test_support.h"

namespace zarvelt {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using testing::ProgramRun;
using testing::write_file;

ProgramRun run_admin_binary(const std::vector<std::string>& arguments,
                            const fs::path& working_dir = ZARVELT_BINARY_DIR,
                            testing::Environment environment = {}) {
  environment.push_back({"ZARVELT_SQL_DIR", std::string(ZARVELT_SOURCE_DIR) + "/sql"});
  return testing::run_binary(std::string(ZARVELT_BINARY_DIR) + "/zarvelt_admin", arguments,
                             working_dir, environment);
}

// The command in this process, its output in the shape of a program run.
ProgramRun run_admin(const std::vector<std::string>& arguments) {
  ::setenv("ZARVELT_SQL_DIR", ZARVELT_SOURCE_DIR "/sql", 1);
  std::ostringstream out;
  std::ostringstream err;
  ProgramRun run;
  run.exit_status = admin::run_admin_tool(arguments, out, err);
  run.console = out.str();
  run.error_output = err.str();
  return run;
}

std::vector<std::string> sqlite_rows(const fs::path& database, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << "\n" << sql;
  }
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const unsigned char* text = sqlite3_column_text(statement, i);
      if (i > 0) row += '|';
      row += text ? reinterpret_cast<const char*>(text) : "<NULL>";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

// A master data set touching every column kind: quoted fields, CR LF, a byte order mark,
// days with and without time, empty fields as NULL.
void write_master_data(const fs::path& csv) {
  write_file(csv / "clients.csv", "licence,client,schema\r\n1,1,MAND01\r\n1,2,\"MAND02\"\r\n");
  write_file(csv / "badges.csv",
             "\xEF\xBB\xBF"
             "badge,licence,client,personnel_number,valid_from,valid_to\n"
             "4711,1,1,P4711,2024-01-01,\n"
             "\"47,12\",1,2,,2023-06-01 06:00:00,2027-05-31\n\n");
  write_file(csv / "zones.csv", "zone_key,zone\nZ1200,7\n");
  write_file(csv / "MAND01" / "booking_types.csv", "function_code,booking_type\nK1,3\nK2,-5\n");
  write_file(csv / "MAND01" / "translations.csv", "function_code,new_function_code\nK2,Q12\n");
  write_file(csv / "MAND02" / "booking_types.csv", "function_code,booking_type\nK1,32767\n");
}

class AdminSqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = testing::make_temp_dir();
    write_master_data(csv());
    const ProgramRun created = run_admin({"create", "sqlite", db().string(), "MAND01", "mand02"});
    ASSERT_EQ(created.exit_status, 0) << created.error_output;
    const ProgramRun loaded = run_admin({"load", "sqlite", db().string(), csv().string()});
    ASSERT_EQ(loaded.exit_status, 0) << loaded.error_output;
  }
  void TearDown() override { fs::remove_all(temp_); }

  fs::path db() const { return temp_ / "db"; }
  fs::path csv() const { return temp_ / "csv"; }
  std::vector<std::string> badges() {
    return sqlite_rows(db() / "KVSYSTEM.db", "select * from KVS301ASW order by ASWNUM");
  }

  fs::path temp_;
};

const std::vector<std::string> kBadges = {
    "47,12|1|2|<NULL>|2023-06-01 06:00:00|2027-05-31 00:00:00",
    "4711|1|1|P4711|2024-01-01 00:00:00|<NULL>"};

TEST_F(AdminSqliteTest, CreatesOneFilePerSchemaAndLoadsEveryTable) {
  EXPECT_EQ(badges(), kBadges);
  EXPECT_THAT(sqlite_rows(db() / "KVSYSTEM.db", "select * from KVS112MND order by MNDNUM"),
              ElementsAre("1|1|MAND01", "1|2|MAND02"));
  EXPECT_THAT(sqlite_rows(db() / "KVSYSTEM.db", "select * from KVS405ZZS"), ElementsAre("Z1200|7"));
  EXPECT_THAT(sqlite_rows(db() / "MAND01.db", "select * from KVS131FCD order by FCDNUM"),
              ElementsAre("K1|3", "K2|-5"));
  EXPECT_THAT(sqlite_rows(db() / "MAND01.db", "select * from KVS131FCDUEB"), ElementsAre("K2|Q12"));
  EXPECT_THAT(sqlite_rows(db() / "MAND02.db", "select * from KVS131FCD"), ElementsAre("K1|32767"));
}

TEST_F(AdminSqliteTest, LoadingAgainReplacesOnlyTheTablesWithAFile) {
  fs::remove_all(csv());
  write_file(csv() / "MAND02" / "booking_types.csv", "function_code,booking_type\nG1,2\n");
  const ProgramRun loaded = run_admin({"load", "sqlite", db().string(), csv().string()});
  ASSERT_EQ(loaded.exit_status, 0) << loaded.error_output;
  EXPECT_THAT(loaded.console, HasSubstr("MAND02.KVS131FCD: 1 rows from"));
  EXPECT_THAT(sqlite_rows(db() / "MAND02.db", "select * from KVS131FCD"), ElementsAre("G1|2"));
  EXPECT_EQ(badges(), kBadges);
}

TEST_F(AdminSqliteTest, CreateKeepsExistingFilesUnlessToldToReplaceThem) {
  const ProgramRun refused = run_admin({"create", "sqlite", db().string(), "MAND01"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_THAT(refused.error_output, HasSubstr("KVSYSTEM.db exists"));
  EXPECT_EQ(badges(), kBadges);

  const ProgramRun replaced = run_admin({"create", "sqlite", db().string(), "--replace", "MAND01"});
  EXPECT_EQ(replaced.exit_status, 0) << replaced.error_output;
  EXPECT_THAT(badges(), ElementsAre());
}

struct FaultyFile {
  std::string path;  // below the CSV directory
  std::string content;
  std::string message;
};

TEST_F(AdminSqliteTest, AFaultyFileIsRefusedAndNothingIsChanged) {
  const std::string badge_header = "badge,licence,client,personnel_number,valid_from,valid_to\n";
  const std::vector<FaultyFile> cases = {
      {"badges.csv", "badge,licence,client,personnel_number,valid_to,valid_from\n",
       "line 1: the header must be"},
      {"badges.csv", badge_header + "4711,1,1,P1,2024-01-01\n", "line 2: 5 fields, 6 expected"},
      {"badges.csv", badge_header + "4711,one,1,P1,,\n", "line 2: licence: \"one\" is not"},
      {"badges.csv", badge_header + "4711,1,2147483648,P1,,\n",
       "client: \"2147483648\" is outside"},
      {"badges.csv", badge_header + "4711,1,1,123456789,,\n", "is longer than 8 characters"},
      {"badges.csv", badge_header + ",1,1,P1,,\n", "line 2: badge is empty"},
      {"badges.csv", badge_header + "4711,1,1,P1,05.03.2024,\n", "is no date"},
      {"badges.csv", badge_header + "4711,1,1,\"P1,,\n", "quote not closed"},
      // Passes the form check; the database refuses the day, and the file's rows with it.
      {"badges.csv", badge_header + "4711,1,1,P1,2024-01-01,\n4712,1,1,P2,2024-02-30,\n",
       "data row 2"},
      {"MAND01/booking_types.csv", "function_code,booking_type\nK1,40000\n", "is outside"},
      {"MAND-1/booking_types.csv", "function_code,booking_type\nK1,1\n",
       "is no client schema name"},
      {"MAND09/booking_types.csv", "function_code,booking_type\nK1,1\n",
       "MAND09.db: cannot be opened"},
  };
  for (const FaultyFile& faulty : cases) {
    const fs::path bad = temp_ / "bad";
    fs::remove_all(bad);
    write_file(bad / "clients.csv", "licence,client,schema\n9,9,MAND09\n");
    write_file(bad / faulty.path, faulty.content);
    const ProgramRun result = run_admin({"load", "sqlite", db().string(), bad.string()});
    EXPECT_EQ(result.exit_status, 1) << faulty.content;
    EXPECT_THAT(result.error_output, HasSubstr(faulty.message)) << faulty.content;
    // Files are checked before the database is touched; a refused row rolls its file back.
    EXPECT_EQ(badges(), kBadges) << faulty.content;
    if (faulty.path.rfind("MAND09", 0) != 0) {
      EXPECT_THAT(sqlite_rows(db() / "KVSYSTEM.db", "select count(*) from KVS112MND"),
                  ElementsAre("2"))
          << faulty.content;
    }
  }
}

TEST(AdminUsageTest, WrongCommandLinesAreUsageErrors) {
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{},
                                             {"init"},
                                             {"init", "/tmp/x", "oracle"},
                                             {"drop", "sqlite", "/tmp/x"},
                                             {"create", "oracle", "/tmp/x", "MAND01"},
                                             {"create", "sqlite", "/tmp/x", "1MAND"},
                                             {"create", "sqlite", "/tmp/x", "MAND01;DROP"},
                                             {"create", "sqlite", "/tmp/x", "kvsystem"},
                                             {"load", "sqlite", "/tmp/x"},
                                             {"selftest", "/tmp/x"}}) {
    const ProgramRun result = run_admin(arguments);
    EXPECT_EQ(result.exit_status, 2) << ::testing::PrintToString(arguments);
    EXPECT_THAT(result.error_output, HasSubstr("usage: zarvelt_admin"));
  }
  const ProgramRun binary = run_admin_binary({"create", "oracle", "/tmp/x"});
  EXPECT_EQ(binary.exit_status, 2);
  EXPECT_THAT(binary.error_output, HasSubstr("usage: zarvelt_admin"));
  EXPECT_EQ(run_admin_binary({"--help"}).exit_status, 0);
}

TEST(AdminInitTest, LaysOutAnInstallationOrSaysWhyItCannot) {
  const fs::path temp = testing::make_temp_dir();
  const fs::path root = temp / "zeit";
  const ProgramRun laid_out = run_admin({"init", root.string()});
  ASSERT_EQ(laid_out.exit_status, 0) << laid_out.error_output;
  for (const char* directory : {"Files", "Velmarion_php/log", "Transfer/work", "db"}) {
    EXPECT_TRUE(fs::is_directory(root / directory)) << directory;
  }
  EXPECT_THAT(laid_out.console, HasSubstr("zarvelt_admin create sqlite " + (root / "db").string()));
  // Again: what exists is kept.
  write_file(root / "Files" / "velmarion.ini", "kept");
  EXPECT_EQ(run_admin({"init", root.string()}).exit_status, 0);
  EXPECT_EQ(testing::read_file(root / "Files" / "velmarion.ini"), "kept");
  // PostgreSQL and ODBC (Oracle; the Windows build's default): no database directory.
  for (const auto& [backend, net8] : std::vector<std::pair<std::string, std::string>>{
           {"postgresql", "NET8=postgresql:<conninfo>"}, {"odbc", "NET8=<data source name>"}}) {
    const ProgramRun other = run_admin({"init", (temp / backend).string(), backend});
    EXPECT_EQ(other.exit_status, 0) << other.error_output;
    EXPECT_TRUE(fs::is_directory(temp / backend / "Transfer" / "work")) << backend;
    EXPECT_FALSE(fs::exists(temp / backend / "db")) << backend;
    EXPECT_THAT(other.console, HasSubstr(net8));
  }

  write_file(temp / "file", "");
  const ProgramRun refused = run_admin({"init", (temp / "file").string()});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_THAT(refused.error_output, HasSubstr("Not a directory"));
  fs::remove_all(temp);
}

// ---- PostgreSQL, in a database of its own in the test cluster.

std::string environment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

class AdminPostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = "zt_admin_" + std::to_string(::getpid());
    conninfo_ = "dbname=" + database_ + " user=" + environment("ZARVELT_TEST_PG_USER", "zarvelt") +
                " password=" + environment("ZARVELT_TEST_PG_PASSWORD", "zarvelt-test");
    admin_ = connect("postgres");
    if (admin_ == nullptr) {
      if (testing::postgresql_required()) FAIL() << "no PostgreSQL test cluster";
      GTEST_SKIP() << "no PostgreSQL test cluster";
    }
    ASSERT_TRUE(run(admin_, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)"));
    ASSERT_TRUE(run(admin_, "CREATE DATABASE " + database_));
  }
  void TearDown() override {
    if (admin_ == nullptr) return;
    run(admin_, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    PQfinish(admin_);
    fs::remove_all(temp_);
  }

  PGconn* connect(const std::string& database) {
    const std::string info =
        "dbname=" + database + " user=" + environment("ZARVELT_TEST_PG_USER", "zarvelt") +
        " password=" + environment("ZARVELT_TEST_PG_PASSWORD", "zarvelt-test") +
        " connect_timeout=5 options='-c client_min_messages=warning'";
    PGconn* connection = PQconnectdb(info.c_str());
    if (PQstatus(connection) == CONNECTION_OK) return connection;
    PQfinish(connection);
    return nullptr;
  }
  static bool run(PGconn* connection, const std::string& sql) {
    PGresult* result = PQexec(connection, sql.c_str());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok) ADD_FAILURE() << PQerrorMessage(connection);
    PQclear(result);
    return ok;
  }
  std::vector<std::string> rows(const std::string& sql) {
    std::vector<std::string> found;
    PGconn* connection = connect(database_);
    PGresult* result = PQexec(connection, sql.c_str());
    for (int r = 0; r < PQntuples(result); ++r) {
      std::string row;
      for (int c = 0; c < PQnfields(result); ++c) {
        if (c > 0) row += '|';
        row += PQgetisnull(result, r, c) ? "<NULL>" : PQgetvalue(result, r, c);
      }
      found.push_back(row);
    }
    if (PQresultStatus(result) != PGRES_TUPLES_OK) ADD_FAILURE() << PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    return found;
  }

  std::string database_;
  std::string conninfo_;
  PGconn* admin_ = nullptr;
  fs::path temp_ = testing::make_temp_dir();
};

TEST_F(AdminPostgresTest, CreatesTheSchemasAndLoadsMasterDataInOneTransaction) {
  const ProgramRun created = run_admin({"create", "postgresql", conninfo_, "MAND01", "MAND02"});
  ASSERT_EQ(created.exit_status, 0) << created.error_output;
  write_master_data(temp_);
  const ProgramRun loaded = run_admin({"load", "postgresql", conninfo_, temp_.string()});
  ASSERT_EQ(loaded.exit_status, 0) << loaded.error_output;
  EXPECT_THAT(rows("select ASWNUM, ASWPNR, ASWGVO, ASWGBI from kvsystem.KVS301ASW "
                   "order by ASWNUM"),
              ElementsAre("47,12|<NULL>|2023-06-01 06:00:00|2027-05-31 00:00:00",
                          "4711|P4711|2024-01-01 00:00:00|<NULL>"));
  EXPECT_THAT(rows("select FCDNUM, FCDTYP from mand01.KVS131FCD order by FCDNUM"),
              ElementsAre("K1|3", "K2|-5"));

  // A refused row in the last file leaves every table as it was.
  write_file(temp_ / "clients.csv", "licence,client,schema\n1,1,MAND01\n");
  write_file(temp_ / "MAND02" / "booking_types.csv",
             "function_code,booking_type\nK1,1\nK1,2\n");  // duplicate key
  const ProgramRun refused = run_admin({"load", "postgresql", conninfo_, temp_.string()});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_THAT(refused.error_output, HasSubstr("data row 2"));
  EXPECT_THAT(rows("select count(*) from kvsystem.KVS112MND"), ElementsAre("2"));

  const ProgramRun again = run_admin({"create", "postgresql", conninfo_, "MAND01"});
  EXPECT_EQ(again.exit_status, 1);
  const ProgramRun replaced =
      run_admin({"create", "postgresql", conninfo_, "--replace", "MAND01", "MAND02"});
  EXPECT_EQ(replaced.exit_status, 0) << replaced.error_output;
  EXPECT_THAT(rows("select count(*) from kvsystem.KVS301ASW"), ElementsAre("0"));
}

// ---- selftest, from an installation's working directory, on every backend.

class AdminSelfTest : public ::testing::TestWithParam<testing::DbBackend> {};

// The check each line names, its text up to ": ".
std::vector<std::string> checks_of(const std::string& console) {
  std::vector<std::string> checks;
  std::istringstream lines(console);
  for (std::string line; std::getline(lines, line);)
    checks.push_back(line.substr(0, line.find(": ")));
  return checks;
}

TEST_P(AdminSelfTest, HoldsOnAFreshInstallationAndSaysWhatAMissingSchemaDoes) {
  testing::TempInstallation installation;
  const auto db = testing::DbInstallation::create(GetParam(), {"MAND01", "MAND02"},
                                                  (installation.root() / "db").string());
  ZARVELT_REQUIRE_DB(db);
  // The two schemas' tables answer K1 and K3 differently, and K2 (a NULL type) with -1405.
  // Badge 4711 is valid from 2020 on, without end: the badge valid today.
  ASSERT_TRUE(
      db->execute("insert into KVS112MND (MNDLIZ, MNDNUM, MNDSCH) values (1, 1, 'MAND01');"
                  "insert into KVS112MND (MNDLIZ, MNDNUM, MNDSCH) values (1, 2, 'MAND02');"
                  "insert into KVS301ASW (ASWNUM, ASWLIZ, ASWMND, ASWPNR, ASWGVO) "
                  "values ('4711', 1, 2, 'P4711', '2020-01-01 00:00:00')"));
  ASSERT_TRUE(
      db->execute("insert into KVS131FCD (FCDNUM, FCDTYP) values ('K1', 3);"
                  "insert into KVS131FCD (FCDNUM, FCDTYP) values ('K2', NULL);"
                  "insert into KVS131FCDUEB (FCDOLD, FCDNEW) values ('K1', 'Q1')",
                  "MAND01"));
  ASSERT_TRUE(
      db->execute("insert into KVS131FCD (FCDNUM, FCDTYP) values ('K1', 5);"
                  "insert into KVS131FCD (FCDNUM, FCDTYP) values ('K3', 7)",
                  "MAND02"));
  testing::write_installation_config(installation.config_path().string(),
                                     installation.working_dir().string(), *db);

  const ProgramRun passed = run_admin_binary({"selftest"}, installation.working_dir());
  EXPECT_EQ(passed.exit_status, 0) << passed.console << passed.error_output;
  std::vector<std::string> expected = {
      "connection",    "server time",  "tables KVSYSTEM", "tables MAND01",
      "tables MAND02", "badge lookup", "status 0",        "status -1",
      "status 1403",   "status -1405", "dates",           "duplicate-absorbing insert"};
  const bool oracle = GetParam() == testing::DbBackend::kOdbcOracle;
  if (GetParam() != testing::DbBackend::kSqlite) expected.push_back("duplicate-absorbing form");
  if (GetParam() == testing::DbBackend::kOdbcPostgresql || oracle) {
    expected.push_back("parameter arrays");
  }
  if (oracle) expected.push_back("open cursors");
  for (const char* check :
       {"client schema MAND01", "client schema MAND02", "client schema MAND01 again", "encoding",
        "failed statements", "rollback"}) {
    expected.push_back(check);
  }
  EXPECT_THAT(checks_of(passed.console), ElementsAreArray(expected)) << passed.console;
  for (const std::string& check : expected) {
    EXPECT_THAT(passed.console, HasSubstr(check + ": ok")) << passed.console;
  }
  EXPECT_THAT(passed.console, HasSubstr("client schema MAND02: ok (its own rows for 4 function "
                                        "codes, 4 of them other than MAND01's)"));
  EXPECT_THAT(passed.console, HasSubstr("\", valid today (")) << passed.console;
  EXPECT_THAT(passed.console,
              HasSubstr("): personnel number \"P4711\", client schema \"MAND02\")"));
  EXPECT_THAT(db->query("select count(*) from KVS402ZPK"), ElementsAre("0"));
  if (oracle) {
    EXPECT_THAT(passed.console,
                HasSubstr("duplicate-absorbing insert: ok (0, -1, 0, as parameter arrays in "
                          "batches of up to 1000, in the duplicate-absorbing form)\n"
                          "duplicate-absorbing form: ok (the hint IGNORE_ROW_ON_DUPKEY_INDEX "
                          "honoured"));
    // Where the database refuses the hint, the batch goes again in the plain form.
    const ProgramRun refused = run_admin_binary({"selftest"}, installation.working_dir(),
                                                {{"ZARVELT_ORA_HINT_REFUSED", "execute"}});
    EXPECT_EQ(refused.exit_status, 1);
    EXPECT_THAT(refused.console,
                HasSubstr("duplicate-absorbing insert: ok (0, -1, 0, as parameter arrays in "
                          "batches of up to 1000, in the plain form; the database refused the "
                          "hint with status -38913: the batch went again in the plain form"));
    EXPECT_THAT(refused.console,
                HasSubstr("duplicate-absorbing form: the hint "
                          "IGNORE_ROW_ON_DUPKEY_INDEX refused with status -38913"));
  }

  // A client row naming a schema that is not there, and the access table's unique key gone;
  // on Oracle also a CHAR badge column and a byte-length one (as the dictionary view reports a
  // column commented 'BYTE'): the lines that differ say what the program then does.
  ASSERT_TRUE(
      db->execute("insert into KVS112MND (MNDLIZ, MNDNUM, MNDSCH) values (1, 9, 'MAND09')"));
  ASSERT_TRUE(db->execute(GetParam() == testing::DbBackend::kSqlite
                              ? "drop index kvs402zpk_key"
                              : "alter table KVS402ZPK drop constraint kvs402zpk_key"));
  if (oracle) {
    ASSERT_TRUE(
        db->execute("alter table KVS301ASW alter column ASWNUM type char(50);"
                    "comment on column KVS402ZPK.ZPKASW is 'BYTE';"
                    "update sys.v_$parameter set value = '40' where name = 'open_cursors'"));
  }
  const ProgramRun failed = run_admin_binary({"selftest"}, installation.working_dir());
  EXPECT_EQ(failed.exit_status, 1) << failed.console << failed.error_output;
  EXPECT_THAT(failed.console,
              HasSubstr("client schema MAND09: the switch gives status -1435: the program refuses "
                        "every time booking of this client's badges (\"!!! Schema konnte nicht "
                        "gewechselt werden: MAND09 !!!\") and goes on\n"));
  EXPECT_THAT(failed.console, HasSubstr("client schema MAND02: ok")) << failed.console;
  const std::string tables = failed.console.substr(failed.console.find("\ntables KVSYSTEM: "));
  EXPECT_THAT(tables.substr(0, tables.find('\n', 1)),
              HasSubstr("no unique key on KVS402ZPK (ZPKTRM, ZPKLES, ZPKUHR, ZPKASW, ZPKLFD): a "
                        "booking transferred twice is stored twice"));
  if (oracle) {
    EXPECT_THAT(tables.substr(0, tables.find('\n', 1)),
                HasSubstr("KVS301ASW.ASWNUM is CHAR(50 CHAR) where sql/oracle/central.sql has "
                          "VARCHAR2(50 CHAR): the program binds its key as VARCHAR2, which never "
                          "equals a blank-padded CHAR value shorter than the column, so no badge "
                          "will ever be found"));
    EXPECT_THAT(tables.substr(0, tables.find('\n', 1)),
                HasSubstr("KVS402ZPK.ZPKASW is VARCHAR2(19 BYTE) in a AL32UTF8 database"));
    EXPECT_THAT(failed.console, HasSubstr("open cursors: OPEN_CURSORS is 40, below the program's "
                                          "49 (2 x 24 prepared statements and one for control "
                                          "statements)"));
  }
}

// ---- The installation's tables against the scripts of sql/.

std::vector<admin::TableShape> script_tables(db::Dialect dialect, const std::string& backend) {
  std::vector<admin::TableShape> tables;
  for (const char* script : {"central.sql", "client.sql"}) {
    const std::optional<std::string> text =
        testing::read_file(std::string(ZARVELT_SOURCE_DIR) + "/sql/" + backend + "/" + script);
    EXPECT_TRUE(text.has_value()) << backend << "/" << script;
    for (admin::TableShape& table : admin::table_shapes_of_script(dialect, text.value_or("")))
      tables.push_back(std::move(table));
  }
  return tables;
}

// A table's columns and keys, in the words every dialect shares.
std::string described(const admin::TableShape& table) {
  std::string text = table.name + ":";
  for (const admin::ColumnShape& column : table.columns) {
    text += " " + column.name + "/" + std::to_string(static_cast<int>(column.kind)) + "/" +
            std::to_string(column.length) + (column.nullable ? "" : "/not null");
  }
  for (const admin::UniqueKey& key : table.keys) {
    text += " key";
    for (const std::string& column : key.columns) text += " " + column;
    text += key.null_is_a_value ? " (NULL a value)" : " (NULL no value)";
  }
  return text;
}

TEST(InstallationTablesTest, TheThreeBackendsScriptsDeclareTheSameTables) {
  std::vector<std::string> described_tables[3];
  const std::pair<db::Dialect, const char*> kBackends[] = {{db::Dialect::kOracle, "oracle"},
                                                           {db::Dialect::kPostgresql, "postgresql"},
                                                           {db::Dialect::kSqlite, "sqlite"}};
  for (int b = 0; b < 3; ++b) {
    for (const admin::TableShape& table : script_tables(kBackends[b].first, kBackends[b].second))
      described_tables[b].push_back(described(table));
  }
  ASSERT_EQ(described_tables[0].size(), 7u);
  EXPECT_EQ(described_tables[0][3],
            "KVS402ZPK: ZPKTRM/0/255/not null ZPKLES/2/0/not null ZPKDTM/3/0 ZPKUHR/3/0/not null "
            "ZPKASW/0/19 ZPKZUS/2/0 ZPKFCD/0/5 ZPKMLD/0/255 ZPKDAT/3/0 ZPKLFD/0/3/not null key "
            "ZPKTRM ZPKLES ZPKUHR ZPKASW ZPKLFD (NULL a value)");
  EXPECT_EQ(described_tables[1], described_tables[0]);
  EXPECT_EQ(described_tables[2], described_tables[0]);
}

// Each difference an installation may have, and the words the self-test must find for it.
struct TableDifference {
  const char* what;
  bool oracle;
  const char* character_set;
  void (*change)(std::vector<admin::TableShape>&);
  const char* finding;  // empty: nothing to say
  bool refuses;
};

admin::TableShape& table_of(std::vector<admin::TableShape>& tables, std::string_view name) {
  return *std::find_if(tables.begin(), tables.end(),
                       [&](const admin::TableShape& table) { return table.name == name; });
}
admin::ColumnShape& column_of(std::vector<admin::TableShape>& tables, std::string_view table,
                              std::string_view name) {
  return const_cast<admin::ColumnShape&>(*table_of(tables, table).column(name));
}

TEST(InstallationTablesTest, NamesEachDifferenceWithWhatTheProgramThenDoes) {
  using Tables = std::vector<admin::TableShape>;
  const TableDifference kDifferences[] = {
      {"as the scripts", true, "AL32UTF8", [](Tables&) {}, "", false},
      {"a CHAR badge column", true, "WE8MSWIN1252",
       [](Tables& t) {
         column_of(t, "KVS301ASW", "ASWNUM").kind = admin::ValueKind::kFixedText;
         column_of(t, "KVS301ASW", "ASWNUM").type = "CHAR(50 CHAR)";
       },
       "KVS301ASW.ASWNUM is CHAR(50 CHAR) where sql/oracle/x.sql has VARCHAR2(50 CHAR): the "
       "program "
       "binds its key as VARCHAR2, which never equals a blank-padded CHAR value shorter than "
       "the column, so no badge will ever be found",
       true},
      {"a CHAR badge column on PostgreSQL, which pads both sides", false, "UTF8",
       [](Tables& t) { column_of(t, "KVS301ASW", "ASWNUM").kind = admin::ValueKind::kFixedText; },
       "its values are blank-padded, which the program's results do not show", false},
      {"a CHAR client schema", false, "UTF8",
       [](Tables& t) { column_of(t, "KVS112MND", "MNDSCH").kind = admin::ValueKind::kFixedText; },
       "the program switches to each name without its trailing blanks", false},
      {"a byte-length badge column in a multibyte database", true, "AL32UTF8",
       [](Tables& t) {
         column_of(t, "KVS402ZPK", "ZPKASW").byte_length = true;
         column_of(t, "KVS402ZPK", "ZPKASW").type = "VARCHAR2(19 BYTE)";
       },
       "KVS402ZPK.ZPKASW is VARCHAR2(19 BYTE) in a AL32UTF8 database, where \xE4, \xF6, \xFC and "
       "\xDF take 2 bytes and \x80 3: a value of up to 19 characters is refused with status "
       "-12899 once it has more than 19 bytes (19 characters with one \xFC)",
       true},
      {"the same in a single-byte database", true, "WE8MSWIN1252",
       [](Tables& t) { column_of(t, "KVS402ZPK", "ZPKASW").byte_length = true; }, "", false},
      {"a shorter protocol column", true, "AL32UTF8",
       [](Tables& t) { column_of(t, "KVS402ZPK", "ZPKASW").length = 10; },
       "KVS402ZPK.ZPKASW holds 10 characters where sql/oracle/x.sql has VARCHAR2(19 CHAR): a "
       "booking "
       "with a longer value (up to 19 characters, which the program takes) is refused with "
       "status -12899",
       true},
      {"a longer master data column", true, "AL32UTF8",
       [](Tables& t) { column_of(t, "KVS301ASW", "ASWPNR").length = 12; },
       "the program reads at most 8 characters of a longer value", false},
      {"a column the program always leaves NULL made NOT NULL", true, "AL32UTF8",
       [](Tables& t) { column_of(t, "O2009BUCHPROT", "BPRVAR").nullable = false; },
       "so every event is refused with status -1400", true},
      {"a protocol number of fewer digits", true, "AL32UTF8",
       [](Tables& t) { column_of(t, "KVS402ZPK", "ZPKLES").digits = 4; },
       "a booking with a larger number is refused with status -1438", true},
      {"a number where a text belongs", true, "AL32UTF8",
       [](Tables& t) {
         column_of(t, "KVS405ZZS", "ZZSTCD").kind = admin::ValueKind::kNumber;
         column_of(t, "KVS405ZZS", "ZZSTCD").type = "NUMBER";
       },
       "KVS405ZZS.ZZSTCD is NUMBER where sql/oracle/x.sql has VARCHAR2(19 CHAR)", true},
      {"a missing column", true, "AL32UTF8",
       [](Tables& t) { table_of(t, "KVS131FCD").columns.pop_back(); },
       "KVS131FCD.FCDTYP is missing: the program's statements that name it fail with status "
       "-904 (the program ends the run there",
       true},
      {"a missing table", true, "AL32UTF8", [](Tables& t) { t.erase(t.begin() + 2); },
       "KVS405ZZS is missing: the program's statements that name it fail with status -942", true},
      {"no unique key on a protocol table", true, "AL32UTF8",
       [](Tables& t) { table_of(t, "KVS402ZPK").keys.clear(); },
       "no unique key on KVS402ZPK (ZPKTRM, ZPKLES, ZPKUHR, ZPKASW, ZPKLFD): a booking "
       "transferred twice is stored twice, and the batch inserts' hint names a key that is not "
       "there (ORA-38913)",
       true},
      {"a key where NULL is no value", false, "UTF8",
       [](Tables& t) { table_of(t, "O2009BUCHPROT").keys[0].null_is_a_value = false; },
       "takes a NULL for no value: a booking with an empty value in it, transferred twice, is "
       "stored twice",
       true},
      {"another unique key on a protocol table", true, "AL32UTF8",
       [](Tables& t) {
         table_of(t, "KVS402ZPK").keys.push_back({"extra", {"ZPKTRM", "ZPKUHR"}, true});
       },
       "the unique key extra on KVS402ZPK (ZPKTRM, ZPKUHR), which the program does not know: a "
       "booking that matches a stored one in these columns only is refused as a duplicate",
       true},
      {"no key on a master data table", true, "AL32UTF8",
       [](Tables& t) { table_of(t, "KVS131FCD").keys.clear(); },
       "a key held twice makes its lookup fail with status -1422", false},
  };
  const Tables reference = script_tables(db::Dialect::kOracle, "oracle");
  for (const TableDifference& difference : kDifferences) {
    Tables installed = reference;
    difference.change(installed);
    const admin::TableFacts facts{difference.oracle, difference.character_set, "sql/oracle/x.sql"};
    const std::vector<admin::TableFinding> findings =
        admin::compare_tables(reference, installed, facts);
    if (*difference.finding == '\0') {
      EXPECT_TRUE(findings.empty()) << difference.what << ": " << findings.front().text;
      continue;
    }
    ASSERT_EQ(findings.size(), 1u) << difference.what;
    EXPECT_THAT(findings[0].text, HasSubstr(difference.finding)) << difference.what;
    EXPECT_EQ(findings[0].refuses, difference.refuses) << difference.what;
  }
  EXPECT_TRUE(admin::is_multibyte_character_set("AL32UTF8"));
  EXPECT_TRUE(admin::is_multibyte_character_set("ZHS16GBK"));
  EXPECT_FALSE(admin::is_multibyte_character_set("WE8MSWIN1252"));
  EXPECT_FALSE(admin::is_multibyte_character_set("US7ASCII"));
}

TEST(AdminSelfTestVerdicts, TellsAnHonouredDuplicateFormFromAnIgnoredOrRefusedOne) {
  const struct {
    std::int32_t status;
    std::int32_t stored;
    bool oracle;
    bool holds;
    const char* says;
  } kCases[] = {
      {0, 0, true, true, "the hint IGNORE_ROW_ON_DUPKEY_INDEX honoured"},
      {0, 0, false, true, "ON CONFLICT DO NOTHING honoured"},
      {-1, 0, true, true, "ignored silently: the stored row again gives status -1 (ORA-00001)"},
      {-38913, 0, true, false, "refused with status -38913: a run turns it off"},
      {0, 1, true, false, "stored a second time"},
      {-942, 0, true, false, "gives status -942: the program ends the run"},
  };
  for (const auto& c : kCases) {
    const admin::AbsorbingFormVerdict verdict =
        admin::judge_absorbing_form(c.status, c.stored, c.oracle, "");
    EXPECT_EQ(verdict.holds, c.holds) << c.status;
    EXPECT_THAT(verdict.text, HasSubstr(c.says)) << c.status;
  }
  EXPECT_THAT(admin::judge_absorbing_form(0, 0, true, "the driver gives one count per array").text,
              HasSubstr("; the program does not send it here: the driver gives one count"));
}

INSTANTIATE_TEST_SUITE_P(Backends, AdminSelfTest, ::testing::ValuesIn(testing::database_backends()),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace zarvelt
