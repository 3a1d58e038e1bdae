#include "db_fixture.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config_tool/config_writer.h"
#include "handlers/access_booking_insert.h"
#include "handlers/event_insert.h"
#include "handlers/insert_queue.h"

namespace zarvelt::testing {
namespace {

namespace fs = std::filesystem;

std::string read_sql_file(const std::string& relative_path) {
  std::ifstream in(std::string(ZARVELT_SOURCE_DIR) + "/" + relative_path);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) ADD_FAILURE() << "cannot read " << relative_path;
  return text.str();
}

std::string folded(std::string name, bool upper) {
  for (char& c : name) {
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string environment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// Each row of sql on db, its columns joined by "|".
std::vector<std::string> rows_of(sqlite3* db, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "SQLite: " << sqlite3_errmsg(db) << "\n" << sql;
    return rows;
  }
  int rc;
  while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (i > 0) row += "|";
      const unsigned char* text = sqlite3_column_text(statement, i);
      row += text == nullptr ? "<NULL>" : reinterpret_cast<const char*>(text);
    }
    rows.push_back(row);
  }
  if (rc != SQLITE_DONE) ADD_FAILURE() << "SQLite: " << sqlite3_errmsg(db) << "\n" << sql;
  sqlite3_finalize(statement);
  return rows;
}

// ---- SQLite: one file per schema in one directory.

class SqliteInstallation : public DbInstallation {
 public:
  SqliteInstallation(const std::vector<std::string>& client_schemas, std::string directory) {
    if (directory.empty()) {
      char pattern[] = "/tmp/zdbXXXXXX";
      const char* made = ::mkdtemp(pattern);
      if (made == nullptr) {
        reason_ = "mkdtemp failed";
        return;
      }
      directory = made;
      owns_directory_ = true;
    }
    std::error_code error;
    fs::create_directories(directory, error);
    directory_ = fs::absolute(directory).lexically_normal().string();
    schemas_.push_back("KVSYSTEM");
    for (const std::string& schema : client_schemas) schemas_.push_back(folded(schema, true));
    available_ = create_file("KVSYSTEM", read_sql_file("sql/sqlite/central.sql"));
    const std::string client_sql = read_sql_file("sql/sqlite/client.sql");
    for (std::size_t i = 1; i < schemas_.size() && available_; ++i) {
      available_ = create_file(schemas_[i], client_sql);
    }
  }
  ~SqliteInstallation() override {
    if (owns_directory_) {
      std::error_code error;
      fs::remove_all(directory_, error);
    }
  }

  bool available() const override { return available_; }
  std::string reason() const override { return reason_; }
  std::string connect_alias() const override { return "sqlite3:" + directory_ + "/KVSYSTEM.db"; }
  std::string connect_alias_from(const std::string& working_directory) const override {
    return "sqlite3:" +
           fs::relative(directory_ + "/KVSYSTEM.db", fs::absolute(working_directory)).string();
  }
  std::string login() const override { return "zarvelt"; }
  std::string password() const override { return "zarvelt-test"; }

  bool execute(const std::string& sql, const std::string& schema) override {
    sqlite3* db = open_schemas(schema);
    if (db == nullptr) return false;
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) ADD_FAILURE() << "SQLite: " << (message ? message : "?") << "\n" << sql;
    sqlite3_free(message);
    sqlite3_close(db);
    return rc == SQLITE_OK;
  }

  std::vector<std::string> query(const std::string& sql, const std::string& schema) override {
    sqlite3* db = open_schemas(schema);
    if (db == nullptr) return {};
    std::vector<std::string> rows = rows_of(db, sql);
    sqlite3_close(db);
    return rows;
  }

 private:
  bool create_file(const std::string& schema, const std::string& ddl) {
    const std::string path = directory_ + "/" + schema + ".db";
    std::error_code error;
    fs::remove(path, error);
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* message = nullptr;
    const std::string script = "PRAGMA synchronous=OFF; BEGIN;\n" + ddl + "\nCOMMIT;";
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      reason_ = "cannot create " + path + ": " + (message ? message : sqlite3_errmsg(db));
      ADD_FAILURE() << reason_;
    }
    sqlite3_free(message);
    sqlite3_close(db);
    return rc == SQLITE_OK;
  }

  // An empty in-memory main with the schema's file attached first, so unprefixed names resolve
  // there, and KVSYSTEM attached under its name (SQLite attaches at most 10 files).
  sqlite3* open_schemas(const std::string& schema) {
    const std::string first = folded(schema, true);
    std::vector<std::string> order{first};
    if (first != "KVSYSTEM") order.push_back("KVSYSTEM");
    if (std::find(schemas_.begin(), schemas_.end(), first) == schemas_.end()) {
      ADD_FAILURE() << "no schema " << schema << " in this installation";
      return nullptr;
    }
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_busy_timeout(db, 5000);
    for (const std::string& s : order) {
      sqlite3_stmt* attach = nullptr;
      const std::string text = "ATTACH DATABASE ?1 AS \"" + s + "\"";
      const std::string path = directory_ + "/" + s + ".db";
      sqlite3_prepare_v2(db, text.c_str(), -1, &attach, nullptr);
      sqlite3_bind_text(attach, 1, path.c_str(), -1, SQLITE_TRANSIENT);
      const int rc = sqlite3_step(attach);
      sqlite3_finalize(attach);
      // Test data need not survive a power cut; syncing every statement makes tests slow.
      const std::string no_sync = "PRAGMA \"" + s + "\".synchronous=OFF";
      sqlite3_exec(db, no_sync.c_str(), nullptr, nullptr, nullptr);
      if (rc != SQLITE_DONE) {
        ADD_FAILURE() << "cannot attach " << path << ": " << sqlite3_errmsg(db);
        sqlite3_close(db);
        return nullptr;
      }
    }
    return db;
  }

  std::string directory_;
  std::vector<std::string> schemas_;  // upper case, KVSYSTEM first
  bool owns_directory_ = false;
  bool available_ = false;
  std::string reason_;
};

// ---- PostgreSQL: one database per installation in the test cluster.

class PostgresInstallation : public DbInstallation {
 public:
  PostgresInstallation(const std::vector<std::string>& client_schemas, DbBackend backend)
      : login_(environment("ZARVELT_TEST_PG_USER", "zarvelt")),
        password_(environment("ZARVELT_TEST_PG_PASSWORD", "zarvelt-test")),
        odbc_data_source_(backend == DbBackend::kOdbcPostgresql ? odbc_test_data_source()
                          : backend == DbBackend::kOdbcOracle   ? odbc_oracle_test_data_source()
                                                                : "") {
    if (backend != DbBackend::kPostgresql && odbc_data_source_.empty()) {
      reason_ =
          backend == DbBackend::kOdbcOracle
              ? "no Oracle ODBC data source for the test cluster (ZARVELT_TEST_ODBC_ORACLE_DSN)"
              : "no ODBC data source for the test cluster (ZARVELT_TEST_ODBC_DSN)";
      return;
    }
    static std::atomic<int> counter{0};
    database_ = "zt_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
    PGconn* admin = connect("postgres");
    if (admin == nullptr) return;
    const bool created = run(admin, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)") &&
                         run(admin, "CREATE DATABASE " + database_);
    PQfinish(admin);
    if (!created) return;
    created_ = true;
    connection_ = connect(database_);
    if (connection_ == nullptr) return;
    std::string ddl =
        "SET client_min_messages TO warning; CREATE SCHEMA kvsystem;"
        " SET search_path TO kvsystem;\n" +
        read_sql_file("sql/postgresql/central.sql");
    const std::string client_sql = read_sql_file("sql/postgresql/client.sql");
    for (const std::string& schema : client_schemas) {
      const std::string name = folded(schema, false);
      ddl += "\nCREATE SCHEMA " + name + "; SET search_path TO " + name + ";\n" + client_sql;
    }
    if (backend == DbBackend::kOdbcOracle) {
      ddl += "\n" + read_sql_file("tests/oracle_compat.sql") + "\n" +
             read_sql_file("tests/oracle_dictionary.sql");
    }
    available_ = run(connection_, ddl);
  }
  ~PostgresInstallation() override {
    if (connection_ != nullptr) PQfinish(connection_);
    if (!created_) return;
    if (PGconn* admin = connect("postgres")) {
      run(admin, "DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
      PQfinish(admin);
    }
  }

  bool available() const override { return available_; }
  std::string reason() const override { return reason_; }
  std::string connect_alias() const override {
    if (!odbc_data_source_.empty())
      return "odbc:DSN=" + odbc_data_source_ + ";Database=" + database_;
    return "postgresql:dbname=" + database_;
  }
  std::string connect_alias_from(const std::string&) const override { return connect_alias(); }
  std::string login() const override { return login_; }
  std::string password() const override { return password_; }

  bool execute(const std::string& sql, const std::string& schema) override {
    if (!available_) return false;
    return run(connection_, "SET search_path TO " + folded(schema, false) + ";\n" + sql, true);
  }

  std::vector<std::string> query(const std::string& sql, const std::string& schema) override {
    std::vector<std::string> rows;
    if (!available_ || !run(connection_, "SET search_path TO " + folded(schema, false), true)) {
      return rows;
    }
    PGresult* result = PQexec(connection_, sql.c_str());
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
      ADD_FAILURE() << "PostgreSQL: " << PQerrorMessage(connection_) << sql;
    } else {
      for (int r = 0; r < PQntuples(result); ++r) {
        std::string row;
        for (int c = 0; c < PQnfields(result); ++c) {
          if (c > 0) row += "|";
          row += PQgetisnull(result, r, c) ? "<NULL>" : PQgetvalue(result, r, c);
        }
        rows.push_back(row);
      }
    }
    PQclear(result);
    return rows;
  }

 private:
  // Host and port come from PGHOST/PGPORT (or a service file) as the test script exports them.
  // Texts in and out are Windows-1252 bytes, as the program's are.
  PGconn* connect(const std::string& database) {
    const char* keys[] = {"dbname", "user", "password", "connect_timeout", "options", nullptr};
    const char* values[] = {
        database.c_str(),
        login_.c_str(),
        password_.c_str(),
        "5",
        "-c DateStyle=ISO,YMD -c client_min_messages=warning -c client_encoding=WIN1252",
        nullptr};
    PGconn* connection = PQconnectdbParams(keys, values, 0);
    if (PQstatus(connection) != CONNECTION_OK) {
      reason_ = "no PostgreSQL test cluster (PGHOST=" + environment("PGHOST", "") +
                ", PGPORT=" + environment("PGPORT", "") + "): " + PQerrorMessage(connection);
      PQfinish(connection);
      return nullptr;
    }
    return connection;
  }

  bool run(PGconn* connection, const std::string& sql, bool report = false) {
    PGresult* result = PQexec(connection, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) {
      reason_ = std::string("PostgreSQL: ") + PQerrorMessage(connection);
      if (report || created_) ADD_FAILURE() << reason_ << sql;
    }
    return ok;
  }

  std::string login_;
  std::string password_;
  std::string odbc_data_source_;  // empty: reached through libpq
  std::string database_;
  PGconn* connection_ = nullptr;
  bool created_ = false;
  bool available_ = false;
  std::string reason_;
};

}  // namespace

const char* backend_name(DbBackend backend) {
  switch (backend) {
    case DbBackend::kSqlite:
      return "sqlite";
    case DbBackend::kPostgresql:
      return "postgresql";
    case DbBackend::kOdbcPostgresql:
      return "odbc_postgresql";
    case DbBackend::kOdbcOracle:
      break;
  }
  return "odbc_oracle";
}

std::vector<DbBackend> database_backends() {
  std::vector<DbBackend> backends = {DbBackend::kSqlite, DbBackend::kPostgresql};
#ifdef ZARVELT_WITH_ODBC
  backends.push_back(DbBackend::kOdbcPostgresql);
  backends.push_back(DbBackend::kOdbcOracle);
#endif
  return backends;
}

std::vector<std::string> sqlite_file_query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << path;
    sqlite3_close(db);
    return {};
  }
  std::vector<std::string> rows = rows_of(db, sql);
  sqlite3_close(db);
  return rows;
}

db::InsertRow access_record(const std::string& badge, const std::string& date_time) {
  return {&kAccessInsert, {"TERM01", 2, date_time.substr(0, 8), date_time, badge, 100, "001"}};
}

db::InsertRow event_record() {
  return {&kEventInsert,
          {"TERM01", 3, "4711", "20260107", "20260107153000", "025", 200, std::string()}};
}

namespace {

// Keeps the status it is given.
class Answer final : public InsertWaiter {
 public:
  std::int32_t status = db::kInternalError;

 protected:
  void answered(std::int32_t answer) override { status = answer; }
};

}  // namespace

std::vector<std::int32_t> insert_in_batches(db::Session& session,
                                            const std::vector<db::InsertRow>& rows,
                                            std::size_t batch_size) {
  InsertQueue queue(session, db::sends_together(session) ? batch_size : 1);
  std::vector<Answer> answers(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) queue.queue(rows[i], answers[i]);
  queue.flush();
  std::vector<std::int32_t> statuses;
  for (const Answer& answer : answers) statuses.push_back(answer.status);
  return statuses;
}

HandlerResult handle_at_once(const BookingHandler& handler, RunContext& run,
                             const Reporter& reporter, const BookingLine& line,
                             db::Session& session) {
  HandlerResult result = handler.handle(run, reporter, line);
  if (result.outcome != Outcome::kWaiting) return result;
  return handler.answered(reporter, db::run_insert(session, result.insert));
}

std::string odbc_test_data_source() { return environment("ZARVELT_TEST_ODBC_DSN", ""); }
std::string odbc_oracle_test_data_source() {
  return environment("ZARVELT_TEST_ODBC_ORACLE_DSN", "");
}

bool postgresql_required() {
  const char* ci = std::getenv("CI");
  return std::getenv("ZARVELT_TEST_PG") != nullptr || (ci != nullptr && std::string(ci) == "true");
}

std::unique_ptr<DbInstallation> DbInstallation::create(
    DbBackend backend, const std::vector<std::string>& client_schemas,
    const std::string& directory) {
  if (backend == DbBackend::kSqlite) {
    return std::make_unique<SqliteInstallation>(client_schemas, directory);
  }
  return std::make_unique<PostgresInstallation>(client_schemas, backend);
}

void write_installation_config(const std::string& config_path, const std::string& working_dir,
                               const DbInstallation& db) {
  const ConfigWriteResult written =
      write_config_values(config_path, {{"LOGIN", db.login()},
                                        {"PASS", db.password()},
                                        {"NET8", db.connect_alias_from(working_dir)}});
  EXPECT_TRUE(written.ok) << written.error;
}

}  // namespace zarvelt::testing
