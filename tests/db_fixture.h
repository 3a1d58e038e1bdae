// Throwaway database installations for tests: the central schema KVSYSTEM and client schemas
// built from sql/<backend>/central.sql and client.sql, plain SQL for master data and for
// checking rows, and the connect alias, login and password that a configuration file carries.
//
// SQLite: a directory with KVSYSTEM.db and <SCHEMA>.db per client schema.
// PostgreSQL: a fresh database per installation in the test cluster (scripts/test.sh starts it
// and exports PGHOST, PGPORT, ZARVELT_TEST_PG=1); dropped again when the installation ends.
// PostgreSQL through ODBC: the same, reached as "odbc:DSN=<dsn>;Database=<database>" through
// the data source named by ZARVELT_TEST_ODBC_DSN (scripts/odbc-test-sources.sh writes it).
// Oracle through ODBC: the same database with the compatibility schema tests/oracle_compat.sql
// and Oracle's dictionary views made from PostgreSQL's catalogue (tests/oracle_dictionary.sql),
// reached through the test-only driver with Oracle's personality (tests/oracle_odbc_driver/),
// data source ZARVELT_TEST_ODBC_ORACLE_DSN: the program speaks its Oracle dialect to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/statements.h"
#include "handlers/booking_handler.h"
#include "handlers/run_context.h"

namespace zarvelt::testing {

enum class DbBackend { kSqlite, kPostgresql, kOdbcPostgresql, kOdbcOracle };

// "sqlite", "postgresql", "odbc_postgresql" or "odbc_oracle", for parameterised test names.
const char* backend_name(DbBackend backend);

// Every backend of this build, for parameterised suites.
std::vector<DbBackend> database_backends();

// The data source of the test cluster (ZARVELT_TEST_ODBC_DSN), empty when there is none.
std::string odbc_test_data_source();
// The same through the driver with Oracle's personality (ZARVELT_TEST_ODBC_ORACLE_DSN).
std::string odbc_oracle_test_data_source();

// True when PostgreSQL tests must run (CI=true or ZARVELT_TEST_PG set): a missing cluster is
// then a failure, not a skip.
bool postgresql_required();

class DbInstallation {
 public:
  // Creates an installation with the central schema and the given client schemas (names as the
  // program would use them, e.g. "MAND01"). For SQLite the files go into directory (created when
  // missing; an empty directory gives a fresh one under /tmp); PostgreSQL ignores directory.
  // Never null; check available() before use.
  static std::unique_ptr<DbInstallation> create(DbBackend backend,
                                                const std::vector<std::string>& client_schemas,
                                                const std::string& directory = "");
  virtual ~DbInstallation() = default;

  // False when the backend cannot be reached (no PostgreSQL cluster); reason() says why.
  virtual bool available() const = 0;
  virtual std::string reason() const = 0;

  // The NET8 value, at most 41 characters: "sqlite3:<absolute path>", "postgresql:dbname=.." or
  // "odbc:DSN=..;Database=..".
  virtual std::string connect_alias() const = 0;
  // For SQLite: "sqlite3:" with the central file's path relative to working_directory (programs
  // run with a working directory); for PostgreSQL the same as connect_alias().
  virtual std::string connect_alias_from(const std::string& working_directory) const = 0;
  virtual std::string login() const = 0;
  virtual std::string password() const = 0;

  // Runs one or more SQL statements (separated by ";") with schema as the place where unprefixed
  // table names resolve ("KVSYSTEM" or a client schema); names prefixed "KVSYSTEM." work too.
  // Dates are written as 'YYYY-MM-DD HH:MM:SS'. Returns false and records a test failure on error.
  virtual bool execute(const std::string& sql, const std::string& schema = "KVSYSTEM") = 0;

  // Runs one query; each row is its columns joined by "|", NULL shown as "<NULL>", dates as
  // 'YYYY-MM-DD HH:MM:SS'. Records a test failure on error and returns no rows.
  virtual std::vector<std::string> query(const std::string& sql,
                                         const std::string& schema = "KVSYSTEM") = 0;
};

// Writes the configuration file at config_path for a program run in working_dir: the LOGIN,
// PASS and NET8 of db. Records a test failure when it cannot.
void write_installation_config(const std::string& config_path, const std::string& working_dir,
                               const DbInstallation& db);

// Each row of a query on the SQLite file at path (opened read-only) as its columns joined by
// "|", NULL shown as "<NULL>". Records a test failure on error and returns no rows.
std::vector<std::string> sqlite_file_query(const std::string& path, const std::string& sql);

// An access row (the program's access insert) of terminal TERM01, reader 2, access status 100,
// running number 001, for a booking time yyyymmddhhmiss (the date its first eight digits); its
// values by their places below.
db::InsertRow access_record(const std::string& badge, const std::string& date_time);
enum AccessValue { kAccessTerminal, kAccessReader, kAccessDate, kAccessMoment, kAccessBadge };
// An event row (the program's event insert) of terminal TERM01, reader 3, badge 4711, 7 January
// 2026 at 15:30:00, function code 025, result 200, no variable text; its values by their places.
db::InsertRow event_record();
enum EventValue {
  kEventTerminal,
  kEventReader,
  kEventBadge,
  kEventDate,
  kEventMoment,
  kEventCode,
  kEventResult,
  kEventText
};

// The statuses of rows queued as a run queues them, batch_size at a time where the session
// sends statements together (one by one otherwise).
std::vector<std::int32_t> insert_in_batches(db::Session& session,
                                            const std::vector<db::InsertRow>& rows,
                                            std::size_t batch_size);

// What a handler makes of line on run, with the insert it gives (if any) run at once on
// session and answered.
HandlerResult handle_at_once(const BookingHandler& handler, RunContext& run,
                             const Reporter& reporter, const BookingLine& line,
                             db::Session& session);

}  // namespace zarvelt::testing

// In a test body: skips (locally) or fails (CI=true, ZARVELT_TEST_PG) when the installation is
// not available.
#define ZARVELT_REQUIRE_DB(installation)                                        \
  do {                                                                          \
    if (!(installation)->available()) {                                         \
      if (::zarvelt::testing::postgresql_required()) {                          \
        FAIL() << "database not available: " << (installation)->reason();       \
      } else {                                                                  \
        GTEST_SKIP() << "database not available: " << (installation)->reason(); \
      }                                                                         \
    }                                                                           \
  } while (false)
