// zarvelt_admin: sets up the database of an installation without hand-written SQL. "create"
// builds the central schema KVSYSTEM and the client schemas from sql/<backend>/*.sql; "load"
// replaces master data (clients, badges, zones, booking types, translations) with the rows of
// CSV files. Every file is checked whole before the database is touched, so a faulty file
// changes nothing. See zarvelt_admin --help.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#if ZARVELT_WITH_SQLITE
#include <sqlite3.h>
#endif
#if ZARVELT_WITH_POSTGRESQL
#include <libpq-fe.h>
#endif

namespace zarvelt {
namespace {

namespace fs = std::filesystem;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;  // the database or a file was refused; nothing of it was stored
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: zarvelt_admin create sqlite <directory> [--replace] <CLIENT_SCHEMA>...\n"
    "       zarvelt_admin create postgresql <conninfo> [--replace] <CLIENT_SCHEMA>...\n"
    "       zarvelt_admin load sqlite <directory> <csv directory>\n"
    "       zarvelt_admin load postgresql <conninfo> <csv directory>\n"
    "       zarvelt_admin --help\n";

constexpr const char* kHelp =
    "\n"
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
    "Exit status: 0 done, 1 refused (message names file and line), 2 usage error.\n";

// ---- What the CSV files hold.

enum class ColumnKind { kInteger, kSmallInteger, kText, kDate };

struct ColumnLayout {
  const char* csv_name;
  const char* column;
  ColumnKind kind;
  std::size_t max_length;  // texts only
  bool required;           // an empty field is refused rather than stored as NULL
};

struct TableLayout {
  const char* file;
  const char* table;
  bool central;  // KVSYSTEM, else a client schema
  std::vector<ColumnLayout> columns;
};

const std::vector<TableLayout>& table_layouts() {
  static const std::vector<TableLayout> layouts = {
      {"clients.csv",
       "KVS112MND",
       true,
       {{"licence", "MNDLIZ", ColumnKind::kInteger, 0, true},
        {"client", "MNDNUM", ColumnKind::kInteger, 0, true},
        {"schema", "MNDSCH", ColumnKind::kText, 20, false}}},
      {"badges.csv",
       "KVS301ASW",
       true,
       {{"badge", "ASWNUM", ColumnKind::kText, 50, true},
        {"licence", "ASWLIZ", ColumnKind::kInteger, 0, true},
        {"client", "ASWMND", ColumnKind::kInteger, 0, true},
        {"personnel_number", "ASWPNR", ColumnKind::kText, 8, false},
        {"valid_from", "ASWGVO", ColumnKind::kDate, 0, false},
        {"valid_to", "ASWGBI", ColumnKind::kDate, 0, false}}},
      {"zones.csv",
       "KVS405ZZS",
       true,
       {{"zone_key", "ZZSTCD", ColumnKind::kText, 19, true},
        {"zone", "ZZSNUM", ColumnKind::kInteger, 0, true}}},
      {"booking_types.csv",
       "KVS131FCD",
       false,
       {{"function_code", "FCDNUM", ColumnKind::kText, 19, true},
        {"booking_type", "FCDTYP", ColumnKind::kSmallInteger, 0, false}}},
      {"translations.csv",
       "KVS131FCDUEB",
       false,
       {{"function_code", "FCDOLD", ColumnKind::kText, 19, true},
        {"new_function_code", "FCDNEW", ColumnKind::kText, 3, false}}},
  };
  return layouts;
}

using Row = std::vector<std::optional<std::string>>;

// One checked CSV file, ready to replace its table's rows.
struct TableLoad {
  const TableLayout* layout;
  std::string schema;  // "KVSYSTEM" or the client schema, upper case
  std::string path;
  std::vector<Row> rows;
};

std::string upper_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string lower_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool all_ascii_digits(std::string_view text) {
  for (char c : text) {
    if (!is_ascii_digit(c)) return false;
  }
  return true;
}

// Schema names become file names and SQL identifiers, so only plain names pass: a letter, then
// letters, digits and "_", at most 20 characters (the width of the client table's column).
bool is_schema_name(const std::string& name) {
  if (name.empty() || name.size() > 20 || !is_ascii_letter(name[0])) return false;
  for (char c : name) {
    if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '_') return false;
  }
  return upper_case(name) != "KVSYSTEM";
}

// Splits CSV text into records of fields: "," separates, '"' quotes (a doubled '"' inside
// quotes is one), CR LF or LF ends a record. Each record keeps the line it started on.
struct CsvRecord {
  int line;
  std::vector<std::string> fields;
};

bool parse_csv(const std::string& text, std::vector<CsvRecord>& records, std::string& error) {
  std::size_t at = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a UTF-8 byte order mark
  int line = 1;
  while (at < text.size()) {
    CsvRecord record{line, {}};
    std::string field;
    bool quoted = false;
    bool record_done = false;
    while (!record_done) {
      if (at >= text.size()) {
        if (quoted) {
          error = "line " + std::to_string(record.line) + ": quote not closed";
          return false;
        }
        record_done = true;
        break;
      }
      const char c = text[at++];
      if (quoted) {
        if (c == '"' && at < text.size() && text[at] == '"') {
          field += '"';
          ++at;
        } else if (c == '"') {
          quoted = false;
        } else {
          if (c == '\n') ++line;
          field += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        record.fields.push_back(field);
        field.clear();
      } else if (c == '\n' || c == '\r') {
        if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
        ++line;
        record_done = true;
      } else {
        field += c;
      }
    }
    record.fields.push_back(field);
    const bool blank = record.fields.size() == 1 && record.fields[0].empty();
    if (!blank) records.push_back(std::move(record));
  }
  return true;
}

std::optional<std::string> check_integer(const std::string& text, std::int64_t low,
                                         std::int64_t high) {
  const std::size_t digits_from = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  const std::size_t digit_count = text.size() - digits_from;
  if (digit_count < 1 || digit_count > 10 || !all_ascii_digits(text.substr(digits_from))) {
    return "\"" + text + "\" is not a whole number";
  }
  const std::int64_t value = std::stoll(text);
  if (value < low || value > high) {
    return "\"" + text + "\" is outside " + std::to_string(low) + " to " + std::to_string(high);
  }
  return std::nullopt;
}

// Dates are stored as 'YYYY-MM-DD HH:MM:SS'; a day alone means its midnight.
std::optional<std::string> normalise_date(const std::string& text, std::string& date) {
  // Two-digit field of text at pos, or -1 when it is not two digits.
  auto number_at = [&text](std::size_t pos) {
    const std::string_view two = std::string_view(text).substr(pos, 2);
    return two.size() == 2 && all_ascii_digits(two) ? (two[0] - '0') * 10 + (two[1] - '0') : -1;
  };
  const bool has_time = text.size() == 19;
  const bool shape = (text.size() == 10 || has_time) && all_ascii_digits(text.substr(0, 4)) &&
                     text[4] == '-' && text[7] == '-' &&
                     (!has_time || (text[10] == ' ' && text[13] == ':' && text[16] == ':'));
  const int month = shape ? number_at(5) : -1;
  const int day = shape ? number_at(8) : -1;
  const bool time_ok =
      !has_time || (number_at(11) >= 0 && number_at(11) <= 23 && number_at(14) >= 0 &&
                    number_at(14) <= 59 && number_at(17) >= 0 && number_at(17) <= 59);
  if (!shape || month < 1 || month > 12 || day < 1 || day > 31 || !time_ok) {
    return "\"" + text + "\" is no date YYYY-MM-DD or YYYY-MM-DD HH:MM:SS";
  }
  date = has_time ? text : text + " 00:00:00";
  return std::nullopt;
}

bool read_text_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

// Reads and checks one CSV file against its table. Errors name the file and line.
bool read_table_file(const TableLayout& layout, const std::string& schema, const std::string& path,
                     TableLoad& load, std::string& error) {
  load = {&layout, schema, path, {}};
  std::string text;
  if (!read_text_file(path, text)) {
    error = path + ": cannot be read";
    return false;
  }
  std::vector<CsvRecord> records;
  if (!parse_csv(text, records, error)) {
    error = path + ": " + error;
    return false;
  }
  std::string expected_header;
  for (const ColumnLayout& column : layout.columns) {
    expected_header += (expected_header.empty() ? "" : ",") + std::string(column.csv_name);
  }
  std::string header;
  if (!records.empty()) {
    for (const std::string& name : records[0].fields) {
      header += (header.empty() ? "" : ",") + lower_case(name);
    }
  }
  if (header != expected_header) {
    error = path + ": line 1: the header must be \"" + expected_header + "\"";
    return false;
  }
  for (std::size_t r = 1; r < records.size(); ++r) {
    const CsvRecord& record = records[r];
    const std::string where = path + ": line " + std::to_string(record.line) + ": ";
    if (record.fields.size() != layout.columns.size()) {
      error = where + std::to_string(record.fields.size()) + " fields, " +
              std::to_string(layout.columns.size()) + " expected";
      return false;
    }
    Row row;
    for (std::size_t c = 0; c < layout.columns.size(); ++c) {
      const ColumnLayout& column = layout.columns[c];
      const std::string& field = record.fields[c];
      if (field.empty()) {
        if (column.required) {
          error = where + column.csv_name + " is empty";
          return false;
        }
        row.push_back(std::nullopt);
        continue;
      }
      std::optional<std::string> problem;
      std::string value = field;
      switch (column.kind) {
        case ColumnKind::kInteger:
          problem = check_integer(field, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
          break;
        case ColumnKind::kSmallInteger:
          problem = check_integer(field, -32768, 32767);
          break;
        case ColumnKind::kText:
          if (field.size() > column.max_length) {
            problem = "\"" + field + "\" is longer than " + std::to_string(column.max_length) +
                      " characters";
          }
          break;
        case ColumnKind::kDate:
          problem = normalise_date(field, value);
          break;
      }
      if (problem) {
        error = where + column.csv_name + ": " + *problem;
        return false;
      }
      row.push_back(value);
    }
    load.rows.push_back(std::move(row));
  }
  return true;
}

// Every table file of a CSV directory: the central ones, then one subdirectory per client
// schema. Subdirectories whose name is no schema name are refused, not skipped, so that a typo
// does not go unnoticed.
bool read_csv_directory(const std::string& directory, std::vector<TableLoad>& loads,
                        std::string& error) {
  std::error_code failure;
  if (!fs::is_directory(directory, failure)) {
    error = directory + ": no such directory";
    return false;
  }
  std::vector<std::string> client_schemas;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory, failure)) {
    if (!entry.is_directory()) continue;
    const std::string name = entry.path().filename().string();
    if (!is_schema_name(name)) {
      error = entry.path().string() + ": directory name is no client schema name";
      return false;
    }
    client_schemas.push_back(name);
  }
  std::sort(client_schemas.begin(), client_schemas.end());
  for (const TableLayout& layout : table_layouts()) {
    const std::vector<std::string> places =
        layout.central ? std::vector<std::string>{""} : client_schemas;
    for (const std::string& place : places) {
      const fs::path path = fs::path(directory) / place / layout.file;
      if (!fs::exists(path, failure)) continue;
      TableLoad load;
      const std::string schema = layout.central ? "KVSYSTEM" : upper_case(place);
      if (!read_table_file(layout, schema, path.lexically_normal().string(), load, error)) {
        return false;
      }
      loads.push_back(std::move(load));
    }
  }
  if (loads.empty()) {
    error = directory + ": no CSV file to load (see zarvelt_admin --help)";
    return false;
  }
  return true;
}

// The sql/ directory: ZARVELT_SQL_DIR, else beside the build or install directory of this tool.
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

bool read_ddl(const std::string& backend, const std::string& file, std::string& text,
              std::string& error) {
  const std::string path = find_sql_directory() + "/" + backend + "/" + file;
  if (!read_text_file(path, text)) {
    error = path + ": cannot be read (set ZARVELT_SQL_DIR to the sql directory)";
    return false;
  }
  return true;
}

// ---- SQLite: one file per schema in one directory.

#if ZARVELT_WITH_SQLITE

struct SqliteFile {
  sqlite3* db = nullptr;
  ~SqliteFile() { sqlite3_close(db); }
};

bool sqlite_exec(sqlite3* db, const std::string& sql, const std::string& what, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = what + ": " + (message != nullptr ? message : sqlite3_errmsg(db));
  sqlite3_free(message);
  return false;
}

bool sqlite_create(const std::string& directory, const std::vector<std::string>& client_schemas,
                   bool replace, std::string& error) {
  std::string central_ddl;
  std::string client_ddl;
  if (!read_ddl("sqlite", "central.sql", central_ddl, error) ||
      !read_ddl("sqlite", "client.sql", client_ddl, error)) {
    return false;
  }
  std::error_code failure;
  fs::create_directories(directory, failure);
  std::vector<std::pair<std::string, const std::string*>> files = {{"KVSYSTEM", &central_ddl}};
  for (const std::string& schema : client_schemas) files.push_back({schema, &client_ddl});
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
    SqliteFile file;
    if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK ||
        !sqlite_exec(file.db, "BEGIN;\n" + *ddl + "\nCOMMIT;", path, error)) {
      if (error.empty()) error = path + ": " + sqlite3_errmsg(file.db);
      fs::remove(path, failure);
      return false;
    }
    std::cout << "created " << path << "\n";
  }
  return true;
}

bool sqlite_bind_row(sqlite3_stmt* statement, const TableLayout& layout, const Row& row) {
  for (std::size_t c = 0; c < row.size(); ++c) {
    const int index = static_cast<int>(c) + 1;
    int rc;
    if (!row[c]) {
      rc = sqlite3_bind_null(statement, index);
    } else if (layout.columns[c].kind == ColumnKind::kInteger ||
               layout.columns[c].kind == ColumnKind::kSmallInteger) {
      rc = sqlite3_bind_int64(statement, index, std::stoll(*row[c]));
    } else {
      rc = sqlite3_bind_text(statement, index, row[c]->c_str(), -1, SQLITE_TRANSIENT);
    }
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

std::string insert_text(const TableLayout& layout, const std::string& qualified_table,
                        bool numbered_dollars) {
  std::string columns;
  std::string values;
  for (std::size_t c = 0; c < layout.columns.size(); ++c) {
    columns += (c == 0 ? "" : ", ") + std::string(layout.columns[c].column);
    values +=
        (c == 0 ? "" : ", ") + std::string(numbered_dollars ? "$" : "?") + std::to_string(c + 1);
  }
  return "INSERT INTO " + qualified_table + " (" + columns + ") VALUES (" + values + ")";
}

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
    SqliteFile file;
    if (sqlite3_open_v2(path.c_str(), &file.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      error = path + ": cannot be opened (create the schema first)";
      return false;
    }
    sqlite3_busy_timeout(file.db, 5000);
    if (!sqlite_exec(file.db, "BEGIN IMMEDIATE", path, error)) return false;
    for (const TableLoad& load : loads) {
      if (load.schema != schema) continue;
      if (!sqlite_exec(file.db, std::string("DELETE FROM ") + load.layout->table, load.path,
                       error)) {
        return false;  // closing the file rolls the transaction back
      }
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(file.db, insert_text(*load.layout, load.layout->table, false).c_str(),
                             -1, &statement, nullptr) != SQLITE_OK) {
        error = load.path + ": " + sqlite3_errmsg(file.db);
        return false;
      }
      for (std::size_t r = 0; r < load.rows.size(); ++r) {
        sqlite3_reset(statement);
        if (!sqlite_bind_row(statement, *load.layout, load.rows[r]) ||
            sqlite3_step(statement) != SQLITE_DONE) {
          error =
              load.path + ": data row " + std::to_string(r + 1) + ": " + sqlite3_errmsg(file.db);
          sqlite3_finalize(statement);
          return false;
        }
      }
      sqlite3_finalize(statement);
    }
    if (!sqlite_exec(file.db, "COMMIT", path, error)) return false;
  }
  return true;
}

#endif

// ---- PostgreSQL: schemas in one database, names folded to lower case.

#if ZARVELT_WITH_POSTGRESQL
struct PostgresConnection {
  PGconn* connection = nullptr;
  ~PostgresConnection() { PQfinish(connection); }
};

bool postgres_connect(const std::string& conninfo, PostgresConnection& pg, std::string& error) {
  pg.connection = PQconnectdb(conninfo.c_str());
  if (PQstatus(pg.connection) != CONNECTION_OK) {
    error = std::string("PostgreSQL: ") + PQerrorMessage(pg.connection);
    return false;
  }
  return true;
}

bool postgres_exec(PGconn* connection, const std::string& sql, const std::string& what,
                   std::string& error) {
  PGresult* result = PQexec(connection, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  PQclear(result);
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  error = what + ": " + PQerrorMessage(connection);
  return false;
}

bool postgres_create(const std::string& conninfo, const std::vector<std::string>& client_schemas,
                     bool replace, std::string& error) {
  std::string central_ddl;
  std::string client_ddl;
  if (!read_ddl("postgresql", "central.sql", central_ddl, error) ||
      !read_ddl("postgresql", "client.sql", client_ddl, error)) {
    return false;
  }
  PostgresConnection pg;
  if (!postgres_connect(conninfo, pg, error)) return false;
  std::string script = "SET client_min_messages TO warning;\nBEGIN;\n";
  std::vector<std::pair<std::string, const std::string*>> schemas = {{"kvsystem", &central_ddl}};
  for (const std::string& schema : client_schemas) {
    schemas.push_back({lower_case(schema), &client_ddl});
  }
  for (const auto& [schema, ddl] : schemas) {
    if (replace) script += "DROP SCHEMA IF EXISTS " + schema + " CASCADE;\n";
    script +=
        "CREATE SCHEMA " + schema + ";\nSET LOCAL search_path TO " + schema + ";\n" + *ddl + "\n";
  }
  script += "COMMIT;";
  if (!postgres_exec(pg.connection, script, "PostgreSQL", error)) return false;
  for (const auto& [schema, ddl] : schemas) std::cout << "created schema " << schema << "\n";
  return true;
}

bool postgres_load(const std::string& conninfo, const std::vector<TableLoad>& loads,
                   std::string& error) {
  PostgresConnection pg;
  if (!postgres_connect(conninfo, pg, error)) return false;
  if (!postgres_exec(pg.connection, "BEGIN", "PostgreSQL", error)) return false;
  for (const TableLoad& load : loads) {
    const std::string table = lower_case(load.schema) + "." + load.layout->table;
    if (!postgres_exec(pg.connection, "DELETE FROM " + table, load.path, error)) return false;
    for (std::size_t r = 0; r < load.rows.size(); ++r) {
      std::vector<const char*> values;
      for (const std::optional<std::string>& value : load.rows[r]) {
        values.push_back(value ? value->c_str() : nullptr);
      }
      PGresult* result = PQexecParams(pg.connection, insert_text(*load.layout, table, true).c_str(),
                                      static_cast<int>(values.size()), nullptr, values.data(),
                                      nullptr, nullptr, 0);
      const bool inserted = PQresultStatus(result) == PGRES_COMMAND_OK;
      PQclear(result);
      if (!inserted) {
        error = load.path + ": data row " + std::to_string(r + 1) + ": " +
                PQerrorMessage(pg.connection);
        return false;  // ending the connection rolls the transaction back
      }
    }
  }
  return postgres_exec(pg.connection, "COMMIT", "PostgreSQL", error);
}
#endif

int usage_error(const std::string& message) {
  std::cerr << "zarvelt_admin: " << message << "\n" << kUsage;
  return kUsageError;
}

int fail(const std::string& message) {
  std::cerr << "zarvelt_admin: " << message << "\n";
  return kFailure;
}

int run(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return usage_error("no command");
  const std::string& command = arguments[0];
  if (command == "--help") {
    std::cout << kUsage << kHelp;
    return kSuccess;
  }
  if (command != "create" && command != "load") {
    return usage_error("unknown command \"" + command + "\"");
  }
  if (arguments.size() < 3) return usage_error(command + " needs a backend and a place");
  const std::string& backend = arguments[1];
  [[maybe_unused]] const std::string& place = arguments[2];
  const bool sqlite = backend == "sqlite";
  if (!sqlite && backend != "postgresql") {
    return usage_error("backend is sqlite or postgresql, not \"" + backend + "\"");
  }
#if !ZARVELT_WITH_SQLITE
  if (sqlite) return fail("this build has no SQLite support");
#endif
#if !ZARVELT_WITH_POSTGRESQL
  if (!sqlite) return fail("this build has no PostgreSQL support");
#endif
  std::string error;
  if (command == "create") {
    [[maybe_unused]] bool replace = false;
    std::vector<std::string> client_schemas;
    for (std::size_t i = 3; i < arguments.size(); ++i) {
      if (arguments[i] == "--replace") {
        replace = true;
      } else if (is_schema_name(arguments[i])) {
        client_schemas.push_back(upper_case(arguments[i]));
      } else {
        return usage_error("\"" + arguments[i] +
                           "\" is no client schema name (a letter, then letters, digits, _; "
                           "at most 20; not KVSYSTEM)");
      }
    }
    bool created = false;
    if (sqlite) {
#if ZARVELT_WITH_SQLITE
      created = sqlite_create(place, client_schemas, replace, error);
#endif
    } else {
#if ZARVELT_WITH_POSTGRESQL
      created = postgres_create(place, client_schemas, replace, error);
#endif
    }
    return created ? kSuccess : fail(error);
  }

  if (arguments.size() != 4) return usage_error("load takes a backend, a place and a directory");
  std::vector<TableLoad> loads;
  if (!read_csv_directory(arguments[3], loads, error)) return fail(error);
  bool loaded = false;
  if (sqlite) {
#if ZARVELT_WITH_SQLITE
    loaded = sqlite_load(place, loads, error);
#endif
  } else {
#if ZARVELT_WITH_POSTGRESQL
    loaded = postgres_load(place, loads, error);
#endif
  }
  if (!loaded) return fail(error + " (its transaction was rolled back)");
  for (const TableLoad& load : loads) {
    std::cout << load.schema << "." << load.layout->table << ": " << load.rows.size()
              << " rows from " << load.path << "\n";
  }
  return kSuccess;
}

}  // namespace
}  // namespace zarvelt

int main(int argc, char** argv) {
  return zarvelt::run(std::vector<std::string>(argv + 1, argv + argc));
}
