// The client operations over any connection (see client_operations.h), the table of backends
// the connect alias chooses from, and the one-by-one forms of Connection's batch calls.
#include "db/client_operations.h"

#include <charconv>
#include <limits>

namespace zarvelt::db {
namespace {

// The backends, chosen by the prefix of the connect alias. A new backend is its own file with
// a ConnectFunction (declared in connection.h) and one row here, plus, where it speaks SQL of
// its own, one dialect object (dialect.cc) and its DDL in sql/<backend>/; a backend whose
// client library is optional also gets a ZARVELT_WITH_ switch in CMakeLists.txt. The steps:
// "Adding a database backend" in doc/design.md.
struct BackendEntry {
  std::string_view alias_prefix;
  ConnectFunction connect;
  std::string_view name;
};
constexpr BackendEntry kBackends[] = {
#ifdef ZARVELT_WITH_SQLITE
    {"sqlite3:", connect_sqlite, "sqlite"},
#endif
#ifdef ZARVELT_WITH_POSTGRESQL
    {"postgresql:", connect_postgresql, "postgresql"},
#endif
#ifdef ZARVELT_WITH_ODBC
    {"odbc:", connect_odbc, "odbc"},
    // Last: any other alias is the name of a data source.
    {"", connect_odbc, "odbc"},
#endif
    {"", nullptr, ""},
};

constexpr std::size_t kMaxIdentifierLength = 30;

// The production client binds a text up to its terminator, so a NUL inside ends it too.
std::string_view up_to_terminator(std::string_view value) {
  return value.substr(0, value.find('\0'));
}

// The bytes that stand for no character in Windows-1252, the booking files' encoding. A
// database converting from it refuses them (PostgreSQL), another might store anything in their
// place; so they are refused here, before any backend sees them, alike on every backend.
bool has_undefined_byte(std::string_view text) {
  return text.find_first_of("\x81\x8D\x8F\x90\x9D") != std::string_view::npos;
}

// Binds the inputs as the production client would: an empty text is NULL, and a text that does
// not fit its host variable is refused (never cut into a key column), as is one with a byte
// that is no Windows-1252 character.
std::int32_t bind_inputs(std::span<const InputVariable> inputs, std::vector<BoundValue>& bound) {
  bound.clear();
  for (const InputVariable& input : inputs) {
    BoundValue value;
    if (input.kind == InputVariable::Kind::kInt32) {
      value.kind = BoundValue::Kind::kInteger;
      value.integer = input.int32;
    } else {
      const std::string_view text = up_to_terminator(input.text.value);
      if (input.text.capacity == 0 || text.size() > input.text.capacity - 1) {
        return kValueTooLarge;
      }
      if (has_undefined_byte(text)) return kPartialMultibyte;
      if (!text.empty()) {
        value.kind = BoundValue::Kind::kText;
        value.text = text;
      }
    }
    bound.push_back(value);
  }
  return kSuccess;
}

template <typename Integer>
std::int32_t parse_integer(const std::string& text, Integer& out) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) return kIntegerOverflow;
  if (error != std::errc() || end != text.data() + text.size()) return kInvalidNumber;
  if (value < std::numeric_limits<Integer>::min() || value > std::numeric_limits<Integer>::max()) {
    return kIntegerOverflow;
  }
  out = static_cast<Integer>(value);
  return kSuccess;
}

}  // namespace

std::string_view backend_name(std::string_view alias) {
  for (const BackendEntry& backend : kBackends) {
    if (backend.connect != nullptr && alias.starts_with(backend.alias_prefix)) return backend.name;
  }
  return {};
}

bool is_plain_identifier(std::string_view name) {
  if (name.empty() || name.size() > kMaxIdentifierLength) return false;
  for (const char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '_' && c != '$' && c != '#') return false;
  }
  return true;
}

std::unique_ptr<Connection> open_connection(std::string_view connect_string, std::int32_t& status,
                                            std::string& notice) {
  notice.clear();
  // login "/" password "@" alias: the login ends at the first slash, the alias begins after the
  // last "@", so a password may hold both characters (an alias may hold neither).
  const std::size_t slash = connect_string.find('/');
  const std::size_t at = connect_string.rfind('@');
  if (slash == std::string_view::npos || at == std::string_view::npos || at < slash) {
    status = kCannotResolveAlias;
    return nullptr;
  }
  const std::string_view login = connect_string.substr(0, slash);
  const std::string_view password = connect_string.substr(slash + 1, at - slash - 1);
  const std::string_view alias = connect_string.substr(at + 1);
  for (const BackendEntry& backend : kBackends) {
    if (backend.connect != nullptr && alias.starts_with(backend.alias_prefix)) {
      status = kSuccess;
      std::unique_ptr<Connection> connection =
          backend.connect(alias.substr(backend.alias_prefix.size()), login, password, status);
      if (connection == nullptr && status == kSuccess) status = kInternalError;
      return connection;
    }
  }
  notice = "Kein Oracle-Client eingebaut: Alias " + std::string(alias) + "\n";
  status = kCannotResolveAlias;
  return nullptr;
}

std::int32_t select_one_row(Connection& connection, std::string_view text,
                            std::span<const OutputVariable> outputs,
                            std::span<const InputVariable> inputs, std::int16_t* indicator) {
  std::vector<BoundValue> bound;
  std::int32_t status = bind_inputs(inputs, bound);
  if (status != kSuccess) return status;
  std::vector<FetchedRow> rows;
  status = connection.run(text, bound, 2, rows);
  return one_row(status, rows, outputs, indicator);
}

std::int32_t one_row(std::int32_t status, const std::vector<FetchedRow>& rows,
                     std::span<const OutputVariable> outputs, std::int16_t* indicator) {
  if (status != kSuccess) return status;
  if (rows.empty()) return kNoRow;
  if (rows.size() > 1) return kTooManyRows;
  const FetchedRow& row = rows.front();
  if (row.size() < outputs.size()) return kInternalError;

  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const OutputVariable& output = outputs[i];
    const std::optional<std::string>& column = row[i];
    if (!column) {
      if (indicator == nullptr) {
        status = kNullFetched;
      } else {
        *indicator = -1;
        if (output.kind == OutputVariable::Kind::kText) output.text->clear();
      }
      continue;
    }
    if (indicator != nullptr) *indicator = 0;
    std::int32_t conversion = kSuccess;
    switch (output.kind) {
      case OutputVariable::Kind::kText:
        // The host variable holds capacity - 1 characters; the rest is cut as the production
        // client does (the status stays 0).
        *output.text = column->substr(0, output.capacity == 0 ? 0 : output.capacity - 1);
        break;
      case OutputVariable::Kind::kInt32:
        conversion = parse_integer(*column, *output.int32);
        break;
      case OutputVariable::Kind::kInt16:
        conversion = parse_integer(*column, *output.int16);
        break;
    }
    if (conversion != kSuccess) return conversion;
  }
  return status;
}

std::int32_t own_inputs(std::span<const InputVariable> inputs, std::vector<OwnedValue>& owned) {
  std::vector<BoundValue> bound;
  const std::int32_t status = bind_inputs(inputs, bound);
  owned.clear();
  if (status != kSuccess) return status;
  for (const BoundValue& value : bound) {
    owned.push_back({value.kind, std::string(value.text), value.integer});
  }
  return kSuccess;
}

// After a status that ends the run, the statements after it are not sent: each would wait out
// the same lock or timeout, and the run ends at the first anyway. They get that status.
void Connection::run_batch(std::span<const BatchedInsert> batch,
                           std::vector<std::int32_t>& statuses) {
  const std::size_t first = statuses.size();
  std::vector<BoundValue> inputs;
  std::vector<FetchedRow> rows;
  for (const BatchedInsert& insert : batch) {
    if (statuses.size() > first && status_scope(statuses.back()) != StatusScope::kBooking) {
      statuses.push_back(statuses.back());
      continue;
    }
    inputs.clear();
    for (const OwnedValue& value : insert.inputs) inputs.push_back(value.bound());
    statuses.push_back(run(insert.text, inputs, 0, rows));
  }
}

void Connection::run_queries(std::string_view text, std::span<const std::vector<OwnedValue>> inputs,
                             std::size_t max_rows, std::vector<std::int32_t>& statuses,
                             std::vector<std::vector<FetchedRow>>& rows) {
  const std::size_t first = statuses.size();
  std::vector<BoundValue> bound;
  for (const std::vector<OwnedValue>& values : inputs) {
    rows.emplace_back();
    if (statuses.size() > first && status_scope(statuses.back()) != StatusScope::kBooking) {
      statuses.push_back(statuses.back());  // as run_batch
      continue;
    }
    bound.clear();
    for (const OwnedValue& value : values) bound.push_back(value.bound());
    statuses.push_back(run(text, bound, max_rows, rows.back()));
  }
}

std::int32_t execute(Connection& connection, std::string_view text,
                     std::span<const InputVariable> inputs) {
  std::vector<BoundValue> bound;
  const std::int32_t status = bind_inputs(inputs, bound);
  if (status != kSuccess) return status;
  std::vector<FetchedRow> rows;
  return connection.run(text, bound, 0, rows);
}

}  // namespace zarvelt::db
