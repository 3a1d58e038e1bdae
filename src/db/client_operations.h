// The production client's operations over any connection: connecting with a connect string,
// host variables and single-row queries, with the statement statuses (0, 1403, negated Oracle
// error numbers) the production client delivers whatever backend carries the statements.
// Host variables keep the production client's rules (bounded NUL-terminated texts, empty input
// text = NULL, output cut to capacity - 1, NULL without indicator = ORA-01405).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/status.h"

namespace zarvelt::db {

// Connects with "login/password@alias": the alias prefix picks the backend ("sqlite3:",
// "postgresql:", "odbc:"); any other alias names an ODBC data source, as the production
// client's alias names a database. A build without ODBC has no client for such an alias:
// kCannotResolveAlias, with notice set to a console line saying so. The password is never
// put into notice or any other text.
std::unique_ptr<Connection> open_connection(std::string_view connect_string, std::int32_t& status,
                                            std::string& notice);

// The backend that an alias names in this build: "sqlite", "postgresql", "odbc", or "" when
// the build has none for it.
std::string_view backend_name(std::string_view alias);

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
std::int32_t select_one_row(Connection& connection, std::string_view text,
                            std::span<const OutputVariable> outputs,
                            std::span<const InputVariable> inputs,
                            std::int16_t* indicator = nullptr);

// The inputs bound as the production client binds them, each with its own copy of its text:
// kSuccess, or the status that refuses them (owned then empty).
std::int32_t own_inputs(std::span<const InputVariable> inputs, std::vector<OwnedValue>& owned);

// What select_one_row makes of a query's status and rows (at least two asked for).
std::int32_t one_row(std::int32_t status, const std::vector<FetchedRow>& rows,
                     std::span<const OutputVariable> outputs, std::int16_t* indicator = nullptr);

// An insert (or any statement without outputs).
std::int32_t execute(Connection& connection, std::string_view text,
                     std::span<const InputVariable> inputs);

}  // namespace zarvelt::db
