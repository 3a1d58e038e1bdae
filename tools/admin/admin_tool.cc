// zarvelt_admin's commands: init, create, load, selftest, and their usage.
#include "admin/admin_tool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>
#include <utility>

#include "admin/master_data.h"
#include "admin/selftest.h"
#include "db/connection.h"
#include "db/status.h"

namespace zarvelt::admin {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: zarvelt_admin init <root> [sqlite|postgresql|odbc]\n"
    "       zarvelt_admin create sqlite <directory> [--replace] <CLIENT_SCHEMA>...\n"
    "       zarvelt_admin create postgresql <conninfo> [--replace] <CLIENT_SCHEMA>...\n"
    "       zarvelt_admin load sqlite <directory> <csv directory>\n"
    "       zarvelt_admin load postgresql <conninfo> <csv directory>\n"
    "       zarvelt_admin selftest\n"
    "       zarvelt_admin --help\n";

constexpr const char* kHelp =
    "\n"
    "init    Lays out an installation below <root>: Files/ (configuration), Velmarion_php/log/\n"
    "        (transfer log), Transfer/work/ (a working directory two levels below the root)\n"
    "        and, for SQLite (the default where this build has it), db/ for the database\n"
    "        files; then says what to do next. odbc (the default of a build without SQLite,\n"
    "        such as the Windows build) is a database reached through an ODBC data source,\n"
    "        Oracle above all. Directories that exist are kept as they are.\n"
    "create  SQLite: writes <directory>/KVSYSTEM.db (central schema) and <SCHEMA>.db per client\n"
    "        schema (names upper-cased); NET8 is then \"sqlite3:<directory>/KVSYSTEM.db\".\n"
    "        PostgreSQL: creates the schema kvsystem and one schema per client (lower-cased)\n"
    "        in the database of <conninfo> (libpq syntax; PGUSER, PGPASSWORD etc. apply), in\n"
    "        one transaction; NET8 is then \"postgresql:<conninfo>\".\n"
    "        Existing schema files or schemas are refused unless --replace is given, which\n"
    "        drops them with all their rows first. The DDL is read from sql/<backend>/; set\n"
    "        ZARVELT_SQL_DIR when the tool does not find it beside its build directory.\n"
    "load    Reads these files of <csv directory>, each optional, each with its header line:\n"
    "          clients.csv                 licence,client,schema\n"
    "          badges.csv                  badge,licence,client,personnel_number,valid_from,"
    "valid_to\n"
    "          zones.csv                   zone_key,zone\n"
    "          <SCHEMA>/booking_types.csv  function_code,booking_type\n"
    "          <SCHEMA>/translations.csv   function_code,new_function_code\n"
    "        The first three go to KVSYSTEM, the others to the client schema named by their\n"
    "        directory. Each file present replaces all rows of its table; tables without a\n"
    "        file keep theirs. Fields are separated by \",\" and may be quoted with '\"'. Dates\n"
    "        are YYYY-MM-DD or YYYY-MM-DD HH:MM:SS; an empty field is NULL. A zone key is the\n"
    "        zone prefix followed by the status number of a booking (Z1 and 200: Z1200).\n"
    "        All files are checked before anything is written; a SQLite file, or the whole\n"
    "        PostgreSQL database, takes its rows in one transaction.\n"
    "selftest\n"
    "        Run in an installation's working directory, as zarvelt is: connects with\n"
    "        ../../Files/velmarion.ini like a run, and checks with the program's own statements,\n"
    "        in one transaction that it never commits, what the transfer relies on: each\n"
    "        schema's tables as the database's catalogue declares them, against the scripts\n"
    "        of sql/<backend>/, a badge valid today looked up, the statuses 0, -1, 1403 and\n"
    "        -1405, the server time and its offset from this machine's clock, the date\n"
    "        conversions and the refusal of a day that is none, the duplicate handling of\n"
    "        batched inserts, what an ODBC driver says about parameter arrays, Oracle's\n"
    "        OPEN_CURSORS, the switch to each client schema that KVSYSTEM.KVS112MND names\n"
    "        with the lookups after it, the database character set and the Windows-1252\n"
    "        round trip of 0xFC, and that a new session finds none of its rows. It writes\n"
    "        only rows of terminal ZARVELT-SELFTEST into KVS402ZPK and O2009BUCHPROT, reads\n"
    "        master data and the catalogue and runs no DDL. One line per check: \"ok\", or\n"
    "        what differs and what the program does about it. The first command of a new\n"
    "        installation (Oracle above all).\n"
    "Exit status: 0 done (selftest: every check holds), 1 refused (message names file and line;\n"
    "selftest: a check does not hold), 2 usage error.\n";

// The usage, with what this build leaves out: create and load need SQLite or libpq, which the
// Windows build (ODBC only) does not have.
std::string usage() {
  std::string missing;
#if !ZARVELT_WITH_SQLITE
  missing = "SQLite";
#endif
#if !ZARVELT_WITH_POSTGRESQL
  missing += missing.empty() ? "PostgreSQL" : " and PostgreSQL";
#endif
  if (missing.empty()) return kUsage;
  return std::string(kUsage) + "Not in this build: create and load for " + missing +
         " (Linux builds only). An Oracle database gets its schemas from sql/oracle/*.sql and\n"
         "its master data through Oracle's own tools.\n";
}

// The backend init lays out for when none is named.
const char* default_init_backend() {
#if ZARVELT_WITH_SQLITE
  return "sqlite";
#else
  return "odbc";
#endif
}

constexpr const char* kCentralSchema = "KVSYSTEM";

// A status with the words an administrator needs to act on it.
std::string describe(std::int32_t status) {
  static const std::vector<std::pair<std::int32_t, const char*>> kMeanings = {
      {db::kUniqueConstraint, "duplicate key"},
      {db::kValueTooLarge, "value too large for its column"},
      {db::kDateFormat, "not a valid date"},
      {db::kInvalidMonth, "not a valid date"},
      {db::kNullIntoNotNull, "empty value for a required column"},
      {db::kTableMissing, "table missing"},
      {db::kSchemaMissing, "schema missing"},
      {db::kInvalidLogin, "login refused"},
      {db::kCannotResolveAlias, "database not found"},
      {db::kConnectionLost, "connection lost or database file locked or failing"},
      {db::kResourceBusy, "locked by another session"},
      {db::kCancelled, "statement timed out"},
  };
  for (const auto& [number, meaning] : kMeanings) {
    if (number == status) return "status " + std::to_string(status) + " (" + meaning + ")";
  }
  return "status " + std::to_string(status);
}

// The statements of a DDL script: split at ";" outside quotes and "--" comments.
std::vector<std::string> split_sql_script(const std::string& script) {
  std::vector<std::string> statements;
  std::string statement;
  bool quoted = false;
  for (std::size_t at = 0; at < script.size(); ++at) {
    const char c = script[at];
    if (!quoted && c == '-' && script.compare(at, 2, "--") == 0) {
      at = script.find('\n', at);
      if (at == std::string::npos) break;
      statement += '\n';
      continue;
    }
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == ';') {
      if (statement.find_first_not_of(" \t\r\n") != std::string::npos) {
        statements.push_back(statement);
      }
      statement.clear();
      continue;
    }
    statement += c;
  }
  if (statement.find_first_not_of(" \t\r\n") != std::string::npos) statements.push_back(statement);
  return statements;
}

struct Ddl {
  std::string path;
  std::vector<std::string> statements;
};

bool read_ddl(const std::string& backend, const std::string& file, Ddl& ddl, std::string& error) {
  ddl.path = find_sql_directory() + "/" + backend + "/" + file;
  std::string text;
  if (!read_text_file(ddl.path, text)) {
    error = ddl.path + ": cannot be read (set ZARVELT_SQL_DIR to the sql directory)";
    return false;
  }
  ddl.statements = split_sql_script(text);
  return true;
}

std::int32_t run_statement(db::Connection& connection, const std::string& text,
                           const std::vector<db::BoundValue>& inputs = {}) {
  std::vector<db::FetchedRow> rows;
  return connection.run(text, inputs, 0, rows);
}

bool run_ddl(db::Connection& connection, const Ddl& ddl, std::string& error) {
  for (std::size_t s = 0; s < ddl.statements.size(); ++s) {
    const std::int32_t status = run_statement(connection, ddl.statements[s]);
    if (status != db::kSuccess) {
      error = ddl.path + ": statement " + std::to_string(s + 1) + ": " + describe(status);
      return false;
    }
  }
  return true;
}

// Opens a connection with connect, a backend's connect function (null: not in this build).
std::unique_ptr<db::Connection> open_database(db::ConnectFunction connect, const std::string& place,
                                              std::int32_t& status) {
  status = db::kCannotResolveAlias;
  return connect == nullptr ? nullptr : connect(place, "", "", status);
}

#if ZARVELT_WITH_SQLITE
constexpr db::ConnectFunction kConnectSqlite = db::connect_sqlite;
#else
constexpr db::ConnectFunction kConnectSqlite = nullptr;
#endif
#if ZARVELT_WITH_POSTGRESQL
constexpr db::ConnectFunction kConnectPostgresql = db::connect_postgresql;
#else
constexpr db::ConnectFunction kConnectPostgresql = nullptr;
#endif

std::string cannot_connect(std::int32_t status) {
  return "PostgreSQL: cannot connect, " + describe(status) +
         " (check the conninfo, the server and PGUSER/PGPASSWORD)";
}

// ---- create

bool sqlite_create(const std::string& directory, const std::vector<std::string>& client_schemas,
                   bool replace, std::ostream& out, std::string& error) {
  Ddl central;
  Ddl client;
  if (!read_ddl("sqlite", "central.sql", central, error) ||
      !read_ddl("sqlite", "client.sql", client, error)) {
    return false;
  }
  std::error_code failure;
  fs::create_directories(directory, failure);
  if (failure) {
    error = "cannot create " + directory + ": " + failure.message();
    return false;
  }
  std::vector<std::pair<std::string, const Ddl*>> files = {{kCentralSchema, &central}};
  for (const std::string& schema : client_schemas) files.push_back({schema, &client});
  for (const auto& [schema, ddl] : files) {
    const fs::path path = fs::path(directory) / (schema + ".db");
    if (fs::exists(path, failure) && !replace) {
      error = path.string() + " exists (--replace recreates it, dropping its rows)";
      return false;
    }
  }
  for (const auto& [schema, ddl] : files) {
    const std::string path = (fs::path(directory) / (schema + ".db")).string();
    fs::remove(path, failure);
    fs::remove(path + "-journal", failure);
    // An empty file is an empty database; the database layer opens only files that exist.
    if (!std::ofstream(path, std::ios::binary)) {
      error = path + ": cannot be created";
      return false;
    }
    std::int32_t status = db::kSuccess;
    std::unique_ptr<db::Connection> connection = open_database(kConnectSqlite, path, status);
    if (connection == nullptr) {
      error = path + ": cannot be opened, " + describe(status);
    } else if (run_ddl(*connection, *ddl, error) &&
               (status = connection->commit()) != db::kSuccess) {
      error = path + ": commit failed, " + describe(status);
    }
    connection.reset();
    if (!error.empty()) {
      fs::remove(path, failure);
      return false;
    }
    out << "created " << path << "\n";
  }
  return true;
}

bool postgres_create(const std::string& conninfo, const std::vector<std::string>& client_schemas,
                     bool replace, std::ostream& out, std::string& error) {
  Ddl central;
  Ddl client;
  if (!read_ddl("postgresql", "central.sql", central, error) ||
      !read_ddl("postgresql", "client.sql", client, error)) {
    return false;
  }
  std::int32_t status = db::kSuccess;
  std::unique_ptr<db::Connection> connection = open_database(kConnectPostgresql, conninfo, status);
  if (connection == nullptr) {
    error = cannot_connect(status);
    return false;
  }
  // Dropping a schema with its tables would otherwise print a notice per table.
  run_statement(*connection, "SET client_min_messages TO warning");
  std::vector<std::pair<std::string, const Ddl*>> schemas = {{kCentralSchema, &central}};
  for (const std::string& schema : client_schemas) schemas.push_back({schema, &client});
  for (const auto& [schema, ddl] : schemas) {
    if (!replace && connection->set_session_schema(schema) == db::kSuccess) {
      error = "schema " + schema + " exists (--replace recreates it, dropping its rows)";
      return false;  // ending the connection rolls the transaction back
    }
  }
  for (const auto& [schema, ddl] : schemas) {
    // The names are checked plain identifiers; unquoted, PostgreSQL folds them to lower case.
    if (replace && (status = run_statement(*connection, "DROP SCHEMA IF EXISTS " + schema +
                                                            " CASCADE")) != db::kSuccess) {
      error = "schema " + schema + ": cannot be dropped, " + describe(status);
      return false;
    }
    if ((status = run_statement(*connection, "CREATE SCHEMA " + schema)) != db::kSuccess ||
        (status = connection->set_session_schema(schema)) != db::kSuccess) {
      error = "schema " + schema + ": cannot be created, " + describe(status);
      return false;
    }
    if (!run_ddl(*connection, *ddl, error)) return false;
  }
  if ((status = connection->commit()) != db::kSuccess) {
    error = "PostgreSQL: commit failed, " + describe(status);
    return false;
  }
  for (const auto& [schema, ddl] : schemas) out << "created schema " << schema << "\n";
  return true;
}

// ---- load

std::string insert_text(const TableLayout& layout, db::Dialect dialect) {
  std::string columns;
  std::string values;
  for (std::size_t c = 0; c < layout.columns.size(); ++c) {
    columns += (c == 0 ? "" : ", ") + std::string(layout.columns[c].column);
    values += (c == 0 ? "" : ", ") + std::string(dialect == db::Dialect::kSqlite ? "?" : "$") +
              std::to_string(c + 1);
  }
  return "INSERT INTO " + std::string(layout.table) + " (" + columns + ") VALUES (" + values + ")";
}

// Replaces the rows of the load's table in the connection's current schema.
bool replace_rows(db::Connection& connection, const TableLoad& load, std::string& error) {
  std::int32_t status = run_statement(connection, std::string("DELETE FROM ") + load.layout->table);
  if (status != db::kSuccess) {
    error = load.path + ": " + describe(status);
    return false;
  }
  const std::string insert = insert_text(*load.layout, connection.dialect());
  std::vector<db::BoundValue> inputs(load.layout->columns.size());
  for (std::size_t r = 0; r < load.rows.size(); ++r) {
    for (std::size_t c = 0; c < inputs.size(); ++c) {
      const std::optional<std::string>& value = load.rows[r][c];
      const ColumnKind kind = load.layout->columns[c].kind;
      if (!value) {
        inputs[c] = {db::BoundValue::Kind::kNull, {}, 0};
      } else if (kind == ColumnKind::kInteger || kind == ColumnKind::kSmallInteger) {
        // Checked to fit 32 bits when the file was read.
        inputs[c] = {
            db::BoundValue::Kind::kInteger, {}, static_cast<std::int32_t>(std::stol(*value))};
      } else {
        inputs[c] = {db::BoundValue::Kind::kText, *value, 0};
      }
    }
    if ((status = run_statement(connection, insert, inputs)) != db::kSuccess) {
      error = load.path + ": data row " + std::to_string(r + 1) + ": " + describe(status);
      return false;  // ending the connection uncommitted rolls the transaction back
    }
  }
  return true;
}

// One file per schema, each taking its rows in a transaction of its own.
bool sqlite_load(const std::string& directory, const std::vector<TableLoad>& loads,
                 std::string& error) {
  std::vector<std::string> schemas;
  for (const TableLoad& load : loads) {
    if (std::find(schemas.begin(), schemas.end(), load.schema) == schemas.end()) {
      schemas.push_back(load.schema);
    }
  }
  for (const std::string& schema : schemas) {
    const std::string path = (fs::path(directory) / (schema + ".db")).string();
    std::int32_t status = db::kSuccess;
    std::unique_ptr<db::Connection> connection = open_database(kConnectSqlite, path, status);
    if (connection == nullptr) {
      error = path + ": cannot be opened, " + describe(status) +
              (status == db::kCannotResolveAlias ? " (create the schema first)" : "");
      return false;
    }
    for (const TableLoad& load : loads) {
      if (load.schema == schema && !replace_rows(*connection, load, error)) return false;
    }
    if ((status = connection->commit()) != db::kSuccess) {
      error = path + ": commit failed, " + describe(status);
      return false;
    }
  }
  return true;
}

// The whole database in one transaction.
bool postgres_load(const std::string& conninfo, const std::vector<TableLoad>& loads,
                   std::string& error) {
  std::int32_t status = db::kSuccess;
  std::unique_ptr<db::Connection> connection = open_database(kConnectPostgresql, conninfo, status);
  if (connection == nullptr) {
    error = cannot_connect(status);
    return false;
  }
  for (const TableLoad& load : loads) {
    if ((status = connection->set_session_schema(load.schema)) != db::kSuccess) {
      error = load.path + ": schema " + load.schema + ": " + describe(status) +
              " (create the schema first)";
      return false;
    }
    if (!replace_rows(*connection, load, error)) return false;
  }
  if ((status = connection->commit()) != db::kSuccess) {
    error = "PostgreSQL: commit failed, " + describe(status);
    return false;
  }
  return true;
}

// ---- the backends

// The backends an installation can be set up on, one row each: a new backend is a row here with
// its create and load, beside its row in the program's table (db/client_operations.cc).
struct AdminBackend {
  std::string_view name;        // as the command line names it
  std::string_view product;     // as messages name it
  db::ConnectFunction connect;  // null: not in this build
  // init lays out db/ for its database files
  bool files_in_db_directory;
  // create and load: null where the database's own tools set it up
  bool (*create)(const std::string& place, const std::vector<std::string>& client_schemas,
                 bool replace, std::ostream& out, std::string& error);
  bool (*load)(const std::string& place, const std::vector<TableLoad>& loads, std::string& error);
  // What init names as the next steps: the place, and NET8 as the configuration gets it.
  std::string_view place;
  std::string_view net8;
};

constexpr AdminBackend kAdminBackends[] = {
    {"sqlite", "SQLite", kConnectSqlite, true, sqlite_create, sqlite_load, "{db}",
     "sqlite3:../../db/KVSYSTEM.db"},
    {"postgresql", "PostgreSQL", kConnectPostgresql, false, postgres_create, postgres_load,
     "<conninfo>", "postgresql:<conninfo>"},
    // Oracle through its ODBC driver: its schemas and master data come with Oracle's own tools.
    {"odbc", "ODBC", nullptr, false, nullptr, nullptr, "", "<data source name>"},
};

const AdminBackend* admin_backend(std::string_view name) {
  for (const AdminBackend& backend : kAdminBackends) {
    if (backend.name == name) return &backend;
  }
  return nullptr;
}

// ---- init

bool init_installation(const std::string& root, const AdminBackend& backend, std::ostream& out,
                       std::string& error) {
  const fs::path base = fs::absolute(root).lexically_normal();
  std::vector<std::pair<fs::path, const char*>> directories = {
      {base / "Files", "configuration file velmarion.ini"},
      {base / "Velmarion_php" / "log", "transfer log ZarveltLog.txt"},
      {base / "Transfer" / "work", "working directory: run zarvelt here"},
  };
  if (backend.files_in_db_directory) directories.push_back({base / "db", "SQLite database files"});
  for (const auto& [directory, use] : directories) {
    std::error_code failure;
    fs::create_directories(directory, failure);
    if (failure) {
      error = "cannot create " + directory.string() + ": " + failure.message();
      return false;
    }
  }
  out << "Installation laid out in " << base.string() << ":\n";
  for (const auto& [directory, use] : directories) {
    const std::string name = directory.lexically_relative(base).string() +
                             static_cast<char>(fs::path::preferred_separator);
    out << "  " << name << std::string(name.size() < 20 ? 20 - name.size() : 1, ' ') << use << "\n";
  }
  const std::string files = (base / "Files" / "velmarion.ini").string();
  const std::string place =
      backend.place == "{db}" ? (base / "db").string() : std::string(backend.place);
  out << "Next:\n";
  if (backend.create != nullptr) {
    out << "  zarvelt_admin create " << backend.name << " " << place << " <CLIENT_SCHEMA>...\n"
        << "  zarvelt_admin load " << backend.name << " " << place << " <csv directory>\n";
  } else {
    out << "  the schemas: sql/oracle/central.sql and client.sql, master data with Oracle's tools\n"
        << "  an ODBC data source for the database, its driver of this program's width\n";
  }
  out << "  zarvelt_config write " << files << " LOGIN=<user> PASS=<password> NET8=" << backend.net8
      << "\n";
  out << "  cd " << (base / "Transfer" / "work").string()
      << " && zarvelt_admin selftest && zarvelt <terminal> <source file> <target file 1> "
         "<target file 2>\n";
  return true;
}

int usage_error(std::ostream& err, const std::string& message) {
  err << "zarvelt_admin: " << message << "\n" << usage();
  return kAdminUsageError;
}

int fail(std::ostream& err, const std::string& message) {
  err << "zarvelt_admin: " << message << "\n";
  return kAdminFailure;
}

}  // namespace

std::string find_sql_directory() {
  if (const char* given = std::getenv("ZARVELT_SQL_DIR"); given != nullptr && *given != '\0') {
    return given;
  }
  std::error_code failure;
  const fs::path program = fs::read_symlink("/proc/self/exe", failure);
  if (failure) return "sql";
  for (const fs::path& candidate : {program.parent_path() / ".." / "sql",
                                    program.parent_path() / ".." / "share" / "zarvelt" / "sql"}) {
    if (fs::is_directory(candidate, failure)) return candidate.lexically_normal().string();
  }
  return "sql";
}

int run_admin_tool(const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err) {
  if (arguments.empty()) return usage_error(err, "no command");
  const std::string& command = arguments[0];
  if (command == "--help") {
    out << usage() << kHelp;
    return kAdminSuccess;
  }
  std::string error;
  if (command == "init") {
    const AdminBackend* backend =
        arguments.size() == 2 ? admin_backend(default_init_backend())
                              : (arguments.size() == 3 ? admin_backend(arguments[2]) : nullptr);
    if (backend == nullptr) {
      return usage_error(err, "init takes a directory and optionally a backend");
    }
    return init_installation(arguments[1], *backend, out, error) ? kAdminSuccess : fail(err, error);
  }
  if (command == "selftest") {
    if (arguments.size() != 1) return usage_error(err, "selftest takes no arguments");
    return run_self_test(out);
  }
  if (command != "create" && command != "load") {
    return usage_error(err, "unknown command \"" + command + "\"");
  }
  if (arguments.size() < 3) return usage_error(err, command + " needs a backend and a place");
  const AdminBackend* backend = admin_backend(arguments[1]);
  const std::string& place = arguments[2];
  if (backend == nullptr || backend->create == nullptr) {
    return usage_error(err, "backend is sqlite or postgresql, not \"" + arguments[1] + "\"");
  }
  if (backend->connect == nullptr) {
    return fail(err, "this build has no " + std::string(backend->product) + " support");
  }
  if (command == "create") {
    bool replace = false;
    std::vector<std::string> client_schemas;
    for (std::size_t i = 3; i < arguments.size(); ++i) {
      if (arguments[i] == "--replace") {
        replace = true;
      } else if (is_schema_name(arguments[i])) {
        client_schemas.push_back(upper_case(arguments[i]));
      } else {
        return usage_error(err, "\"" + arguments[i] +
                                    "\" is no client schema name (a letter, then letters, "
                                    "digits, _; at most 20; not KVSYSTEM)");
      }
    }
    return backend->create(place, client_schemas, replace, out, error) ? kAdminSuccess
                                                                       : fail(err, error);
  }

  if (arguments.size() != 4) {
    return usage_error(err, "load takes a backend, a place and a directory");
  }
  std::vector<TableLoad> loads;
  if (!read_csv_directory(arguments[3], loads, error)) return fail(err, error);
  if (!backend->load(place, loads, error)) {
    return fail(err, error + " (its transaction was rolled back)");
  }
  for (const TableLoad& load : loads) {
    out << load.schema << "." << load.layout->table << ": " << load.rows.size() << " rows from "
        << load.path << "\n";
  }
  return kAdminSuccess;
}

}  // namespace zarvelt::admin
