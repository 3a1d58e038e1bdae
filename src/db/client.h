// The database client: delivers the production client's statement statuses (0, 1403, negated
// Oracle error numbers) whatever backend carries the statements. Host variables keep the
// production client's rules (bounded NUL-terminated texts, empty input text = NULL, output cut
// to capacity - 1, NULL without indicator = ORA-01405); a backend only runs statement texts
// and maps its own errors. Nothing outside src/db knows which backend runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/status.h"

namespace zarvelt::db {

// The SQL dialect a backend speaks; every statement carries one text per dialect.
enum class Dialect { kOracle, kSqlite, kPostgresql };

// One statement in every dialect. Input placeholders are numbered by the order of the input
// host variables (Oracle :b<n> in its own order; SQLite ?1, ?2; PostgreSQL $1, $2), so a
// value used twice is bound once. In SQLite texts "{S}." stands where the session schema
// qualifies an unprefixed table name, because SQLite has no current schema.
struct StatementText {
  std::string_view oracle;
  std::string_view sqlite;
  std::string_view postgresql;
};

// A value handed to a backend: NULL, a text or a 32-bit integer.
struct BoundValue {
  enum class Kind { kNull, kText, kInteger } kind = Kind::kNull;
  std::string_view text;
  std::int32_t integer = 0;
};

// A fetched row: each column as text, nullopt for NULL.
using FetchedRow = std::vector<std::optional<std::string>>;

// One open connection of one backend. Implementations map their errors to negated Oracle
// numbers with one table each, keep prepared statements for the whole run, and keep the
// run's transaction open across failed statements (statement-level rollback).
class Connection {
 public:
  virtual ~Connection() = default;
  virtual Dialect dialect() const = 0;

  // Runs text with inputs. A query fills rows with at most max_rows rows (the caller asks for
  // two to tell "one row" from "several"); other statements leave rows empty.
  virtual std::int32_t run(std::string_view text, std::span<const BoundValue> inputs,
                           std::size_t max_rows, std::vector<FetchedRow>& rows) = 0;

  // Makes schema (a checked plain identifier, as written) the place where unprefixed table
  // names resolve. kSchemaMissing when there is no such schema; unchanged on failure.
  virtual std::int32_t set_session_schema(std::string_view schema) = 0;

  virtual std::int32_t commit() = 0;
};

// Opens a connection for the part of an alias after its backend prefix. login and password
// are the production client's user and password (a backend may ignore them). On failure
// returns null and sets status.
using ConnectFunction = std::unique_ptr<Connection> (*)(std::string_view target,
                                                        std::string_view login,
                                                        std::string_view password,
                                                        std::int32_t& status);

std::unique_ptr<Connection> connect_sqlite(std::string_view target, std::string_view login,
                                           std::string_view password, std::int32_t& status);
std::unique_ptr<Connection> connect_postgresql(std::string_view target, std::string_view login,
                                               std::string_view password, std::int32_t& status);
// target: a data source name or an ODBC connection string.
std::unique_ptr<Connection> connect_odbc(std::string_view target, std::string_view login,
                                         std::string_view password, std::int32_t& status);

// ---- The production client's operations, over any Connection.

// Connects with "login/password@alias": the alias prefix picks the backend ("sqlite3:",
// "postgresql:", "odbc:"); any other alias names an ODBC data source, as the production
// client's alias names a database. A build without ODBC has no client for such an alias:
// kCannotResolveAlias, with notice set to a console line saying so. The password is never
// put into notice or any other text.
std::unique_ptr<Connection> connect(std::string_view connect_string, std::int32_t& status,
                                    std::string& notice);

// A dynamic statement as PREPARE leaves it. Only "ALTER SESSION SET CURRENT_SCHEMA=<name>" is
// known; a name that is not a plain identifier (letters, digits, _ $ #, 1 to 30 characters)
// is refused here, before any SQL is built.
struct PreparedSchemaStatement {
  std::int32_t status = kSuccess;  // what EXECUTE will report without running anything
  std::string schema;              // the checked name
};
PreparedSchemaStatement prepare_dynamic(std::string_view statement_text);
std::int32_t execute_dynamic(Connection& connection, const PreparedSchemaStatement& statement);

// True for a plain identifier as the production database accepts it unquoted.
bool is_plain_identifier(std::string_view name);

// Host variables.
struct TextInput {
  std::string_view value;  // characters up to the terminator
  std::size_t capacity;    // bytes, terminator included
};
struct InputVariable {
  enum class Kind { kText, kInt32 } kind;
  TextInput text{};
  std::int32_t int32 = 0;
};
inline InputVariable text_input(std::string_view value, std::size_t capacity) {
  return {InputVariable::Kind::kText, {value, capacity}, 0};
}
inline InputVariable int32_input(std::int32_t value) {
  return {InputVariable::Kind::kInt32, {}, value};
}

struct OutputVariable {
  enum class Kind { kText, kInt32, kInt16 } kind;
  std::string* text = nullptr;
  std::size_t capacity = 0;  // bytes, terminator included
  std::int32_t* int32 = nullptr;
  std::int16_t* int16 = nullptr;
};
inline OutputVariable text_output(std::string& value, std::size_t capacity) {
  return {OutputVariable::Kind::kText, &value, capacity, nullptr, nullptr};
}
inline OutputVariable int32_output(std::int32_t& value) {
  return {OutputVariable::Kind::kInt32, nullptr, 0, &value, nullptr};
}
inline OutputVariable int16_output(std::int16_t& value) {
  return {OutputVariable::Kind::kInt16, nullptr, 0, nullptr, &value};
}

// A single-row query: 0 with the outputs filled, 1403 without a row, -1422 with several.
// A NULL column sets the indicator to -1 and leaves its output empty (text) or unchanged
// (integer); without an indicator it gives kNullFetched. Outputs are filled only on 0 (and
// non-NULL columns on kNullFetched).
std::int32_t select_one_row(Connection& connection, const StatementText& text,
                            std::span<const OutputVariable> outputs,
                            std::span<const InputVariable> inputs,
                            std::int16_t* indicator = nullptr);

// An insert (or any statement without outputs).
std::int32_t execute(Connection& connection, const StatementText& text,
                     std::span<const InputVariable> inputs);

// The session behind SessionPtr: one connection for the whole run.
struct Session {
  std::unique_ptr<Connection> connection;
};

}  // namespace zarvelt::db
