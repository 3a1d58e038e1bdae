#include "db/postgresql_errors.h"

#include <vector>

#include "db/status.h"

namespace zarvelt::db {
namespace {

// SQLSTATE to the production database's error numbers. First match wins; a class entry ("08")
// matches every state of that class.
struct ErrorMapping {
  std::string_view sqlstate;
  std::int32_t status;
};
constexpr ErrorMapping kErrorTable[] = {
    // A booking's values (status.cc).
    {"23505", kUniqueConstraint},
    {"23502", kNullIntoNotNull},
    {"23503", kParentKeyMissing},
    {"23514", kCheckConstraint},
    {"22001", kValueTooLarge},
    {"22007", kDateFormat},
    {"22008", kDateFormat},
    {"22003", kPrecisionTooLarge},
    {"22P02", kInvalidNumber},
    {"22021", kPartialMultibyte},
    {"22P05", kPartialMultibyte},
    {"21000", kSubqueryTooManyRows},
    // The database cannot take the run's writes.
    {"25006", kReadOnly},  // read-only transaction (default_transaction_read_only)
    {"42501", kInsufficientPrivileges},
    {"42P01", kTableMissing},
    {"42703", kInvalidIdentifier},  // no such column
    {"3F000", kSchemaMissing},
    {"42601", kInvalidSql},
    {"57014", kCancelled},     // statement_timeout
    {"55P03", kResourceBusy},  // lock_timeout, or NOWAIT
    {"40P01", kDeadlock},
    {"40001", kCannotSerialize},
    {"53100", kUnableToExtend},  // disk full
    {"53200", kOutOfProcessMemory},
    {"53300", kTooManySessions},  // too many connections
    {"53", kOutOfProcessMemory},  // other insufficient resources
    {"58030", kIoError},
    {"XX001", kBlockCorrupted},
    {"XX002", kBlockCorrupted},
    // Logging in, and the session gone.
    {"28P01", kInvalidLogin},
    {"28000", kInvalidLogin},
    {"57P", kConnectionLost},
    {"08", kConnectionLost},
};

struct ConnectErrorMapping {
  std::string_view message_part;
  std::int32_t status;
};
constexpr ConnectErrorMapping kConnectErrorTable[] = {
    {"password authentication failed", kInvalidLogin},
    {"no password supplied", kInvalidLogin},
    {"role \"", kInvalidLogin},  // role ... does not exist
    {"timeout expired", kConnectTimeout},
    {"could not translate host name", kHostUnknown},
    {"the database system is starting up", kStartingUp},
    {"the database system is shutting down", kShuttingDown},
    {"Connection refused", kNoListener},
    {"No such file or directory", kNoListener},
};

}  // namespace

std::int32_t map_postgresql_sqlstate(std::string_view sqlstate) {
  if (sqlstate.empty()) return kConnectionLost;
  for (const ErrorMapping& mapping : kErrorTable) {
    if (sqlstate.starts_with(mapping.sqlstate)) return mapping.status;
  }
  return kInternalError;
}

std::int32_t map_postgresql_connect_error(std::string_view message) {
  for (const ConnectErrorMapping& mapping : kConnectErrorTable) {
    if (message.find(mapping.message_part) != std::string_view::npos) return mapping.status;
  }
  return kCannotResolveAlias;
}

std::string postgresql_folded_name(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::int32_t switch_postgresql_schema(Connection& connection, std::string_view schema) {
  static constexpr std::string_view kSchemaSwitch =
      "select set_config('search_path', quote_ident(nspname), false) from pg_namespace "
      "where nspname = $1";
  const std::string name = postgresql_folded_name(schema);
  const BoundValue input{BoundValue::Kind::kText, name, 0};
  std::vector<FetchedRow> rows;
  const std::int32_t status = connection.run(kSchemaSwitch, {&input, 1}, 1, rows);
  if (status != kSuccess) return status;
  return rows.empty() ? kSchemaMissing : kSuccess;
}

}  // namespace zarvelt::db
