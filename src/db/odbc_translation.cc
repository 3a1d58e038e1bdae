// What the ODBC backend translates without ODBC headers (see odbc_translation.h).
#include "db/odbc_translation.h"

#include <cctype>
#include <map>

#include "db/dialect.h"
#include "db/postgresql_errors.h"
#include "db/status.h"

namespace zarvelt::db {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool contains_ignoring_case(std::string_view text, std::string_view part) {
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (starts_with_ignoring_case(text.substr(at), part)) return true;
  }
  return false;
}

// An attribute value as ODBC reads it: braced when it holds a character that would end or
// start something, with "}" doubled inside the braces.
std::string attribute_value(std::string_view value) {
  const bool plain = value.find_first_of(";{}=") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) return std::string(value);
  std::string braced = "{";
  for (const char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

// "ORA-01017" anywhere in a message: Oracle's driver names the error there even where its
// native number is missing (a failed logon has no connection to ask).
std::optional<std::int32_t> oracle_number_in(std::string_view message) {
  for (std::size_t at = message.find("ORA-"); at != std::string_view::npos;
       at = message.find("ORA-", at + 1)) {
    std::int32_t number = 0;
    std::size_t digits = 0;
    for (std::size_t i = at + 4; i < message.size() && is_digit(message[i]) && digits < 5; ++i) {
      number = number * 10 + (message[i] - '0');
      ++digits;
    }
    if (digits == 5) return number;
  }
  return std::nullopt;
}

// ODBC's own SQLSTATEs, for any driver. First match wins; "08" matches the whole class.
struct ErrorMapping {
  std::string_view sqlstate;
  std::int32_t status;
};
constexpr ErrorMapping kOdbcErrorTable[] = {
    {"23000", kUniqueConstraint},  // integrity constraint violation
    {"02000", kNoRow},
    {"IM002", kCannotResolveAlias},  // data source name not found
    {"IM003", kCannotResolveAlias},  // driver could not be loaded
    {"HYT00", kCancelled},           // query timeout
    {"HY008", kCancelled},           // operation cancelled
    {"HYT01", kConnectTimeout},
    {"28000", kInvalidLogin},
    {"08001", kCannotResolveAlias},  // client unable to establish connection
    {"08004", kCannotResolveAlias},  // server rejected the connection
    {"08003", kNotConnected},
    {"08", kConnectionLost},
    {"22001", kValueTooLarge},
    {"22003", kPrecisionTooLarge},
    {"22007", kDateFormat},
    {"22008", kDateFormat},
    {"22018", kInvalidNumber},
    {"42S02", kTableMissing},
    {"42S22", kInvalidIdentifier},
    {"42000", kInvalidSql},
    {"40001", kCannotSerialize},
    {"HY001", kOutOfProcessMemory},  // the driver ran out of memory
};

std::int32_t map_odbc_sqlstate(std::string_view sqlstate) {
  for (const ErrorMapping& mapping : kOdbcErrorTable) {
    if (sqlstate.starts_with(mapping.sqlstate)) return mapping.status;
  }
  return kInternalError;
}

}  // namespace

std::string odbc_connection_string(std::string_view target, std::string_view login,
                                   std::string_view password) {
  // The first of repeated keywords counts, so LOGIN and PASS come before the alias's own.
  std::string text;
  if (!login.empty()) text += "UID=" + attribute_value(login) + ";";
  if (!password.empty()) text += "PWD=" + attribute_value(password) + ";";
  if (target.find('=') == std::string_view::npos) {
    text += "DSN=" + attribute_value(target) + ";";
  } else {
    text += target;
  }
  return text;
}

OdbcStatementText odbc_statement_text(std::string_view text, Dialect dialect) {
  const char marker = sql_dialect(dialect).placeholder_mark();
  OdbcStatementText converted;
  char quote = '\0';  // the quote character of the literal or name being read
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != '\0') {
      if (c == quote) quote = '\0';  // a doubled quote closes and opens again
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == marker && i + 1 < text.size() && is_digit(text[i + 1]) &&
               (i == 0 || text[i - 1] != marker)) {
      std::size_t end = i + 1;
      std::size_t number = 0;
      while (end < text.size() && is_digit(text[end])) {
        number = number * 10 + static_cast<std::size_t>(text[end++] - '0');
      }
      if (number > 0) {
        converted.text += '?';
        converted.input_of_marker.push_back(number - 1);
        i = end - 1;
        continue;
      }
    }
    converted.text += c;
  }
  return converted;
}

std::string text_in_schema(const std::string& text, std::string_view schema) {
  std::string comment;
  for (const char c : schema) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#') {
      comment += c;
    }
  }
  return text + " /* " + comment + " */";
}

std::string oracle_schema_switch_text(std::string_view schema) {
  return "ALTER SESSION SET CURRENT_SCHEMA=" + std::string(schema);
}

std::optional<Dialect> dialect_of_product(std::string_view dbms_name) {
  for (const SqlDialect* sql : sql_dialects()) {
    const std::string_view product = sql->odbc_product();
    if (!product.empty() && starts_with_ignoring_case(dbms_name, product)) return sql->id();
  }
  return std::nullopt;
}

std::int32_t odbc_connect_status(const OdbcDiagnostic& diagnostic) {
  if (const auto oracle = oracle_number_in(diagnostic.message)) return -*oracle;
  const std::string_view state = diagnostic.sqlstate;
  if (state == "HYT00" || state == "HYT01") return kConnectTimeout;  // the login timeout
  // The data source's driver is of the other width (Windows' driver manager), or the driver
  // could not be loaded because it or the client it needs is (system error 193,
  // ERROR_BAD_EXE_FORMAT, in English and German texts).
  if (state == "IM014") return kArchitectureMismatch;
  if (state == "IM003" && (contains_ignoring_case(diagnostic.message, "error 193") ||
                           contains_ignoring_case(diagnostic.message, "fehler 193"))) {
    return kArchitectureMismatch;
  }
  if (state == "IM002" || state == "IM003" || state == "28000") return map_odbc_sqlstate(state);
  // psqlODBC hands on libpq's message.
  return map_postgresql_connect_error(diagnostic.message);
}

std::int32_t odbc_statement_status(Dialect dialect, const OdbcDiagnostic& diagnostic) {
  if (dialect == Dialect::kOracle) {
    if (diagnostic.native_error > 0) return -diagnostic.native_error;
    if (const auto oracle = oracle_number_in(diagnostic.message)) return -*oracle;
  }
  if (dialect == Dialect::kPostgresql && !diagnostic.sqlstate.empty()) {
    const std::int32_t status = map_postgresql_sqlstate(diagnostic.sqlstate);
    if (status != kInternalError) return status;
  }
  return map_odbc_sqlstate(diagnostic.sqlstate);
}

bool is_lost_session(Dialect dialect, const OdbcDiagnostic& diagnostic) {
  if (diagnostic.sqlstate.starts_with("08") || diagnostic.sqlstate.starts_with("57P")) {
    return true;
  }
  if (dialect != Dialect::kOracle) return false;
  // Oracle's driver also reports a killed session, a session not logged on and a closed
  // connection by their ORA numbers.
  return is_session_lost(odbc_statement_status(dialect, diagnostic));
}

std::int32_t odbc_statement_status(Dialect dialect, const std::vector<OdbcDiagnostic>& records) {
  for (const OdbcDiagnostic& record : records) {
    const std::int32_t status = odbc_statement_status(dialect, record);
    if (status != kArrayDmlErrors) return status;
  }
  return kInternalError;
}

ArrayFailure judge_array_failure(Dialect dialect, const std::vector<ArrayRowState>& states,
                                 const std::vector<ArrayRecord>& records) {
  ArrayFailure failure;
  std::map<std::size_t, std::int32_t> named;  // row -> the status of its first record
  for (const ArrayRecord& record : records) {
    if (is_lost_session(dialect, record.diagnostic)) {
      failure.kind = ArrayFailure::Kind::kLost;
      return failure;
    }
    if (record.diagnostic.sqlstate.starts_with("01")) continue;  // a warning
    const std::int32_t status = odbc_statement_status(dialect, record.diagnostic);
    if (is_duplicate_hint_refused(status)) {
      failure.kind = ArrayFailure::Kind::kHintRefused;
      failure.hint_refusal = status;
    }
    if (status == kArrayDmlErrors || status == kSuccess || record.row <= 0 ||
        static_cast<std::size_t>(record.row) > states.size()) {
      continue;
    }
    named.try_emplace(static_cast<std::size_t>(record.row - 1), status);
  }
  if (failure.kind == ArrayFailure::Kind::kHintRefused) return failure;
  for (std::size_t row = 0; row < states.size(); ++row) {
    const auto found = named.find(row);
    if (states[row] == ArrayRowState::kUnknown) return failure;
    if (states[row] != ArrayRowState::kFailed) {
      if (found != named.end()) return failure;  // an error for a row said to be done or not run
      continue;
    }
    if (found == named.end()) return failure;
    failure.rows.emplace_back(row, found->second);
  }
  if (!failure.rows.empty()) failure.kind = ArrayFailure::Kind::kTied;
  return failure;
}

}  // namespace zarvelt::db
