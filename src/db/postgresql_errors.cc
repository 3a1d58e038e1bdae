#include "db/postgresql_errors.h"

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
    {"23505", kUniqueConstraint},
    {"23502", kNullIntoNotNull},
    {"23503", -2291},  // parent key not found
    {"23514", -2290},  // check constraint violated
    {"22001", kValueTooLarge},
    {"22007", kDateFormat},
    {"22008", kDateFormat},
    {"22003", -1438},  // value larger than specified precision
    {"22P02", kInvalidNumber},
    {"22021", -29275},  // partial multibyte character
    {"22P05", -29275},
    {"21000", -1427},  // single-row subquery returns more than one row
    {"42P01", kTableMissing},
    {"42703", kInvalidIdentifier},
    {"3F000", kSchemaMissing},
    {"42601", kInvalidSql},
    {"42501", -1031},  // insufficient privileges
    {"28P01", kInvalidLogin},
    {"28000", kInvalidLogin},
    {"57014", kCancelled},  // statement_timeout
    {"57P", kConnectionLost},
    {"08", kConnectionLost},
    {"40P01", -60},  // deadlock detected
    {"55P03", kResourceBusy},
    {"53", -4030},  // out of memory or disk
};

struct ConnectErrorMapping {
  std::string_view message_part;
  std::int32_t status;
};
constexpr ConnectErrorMapping kConnectErrorTable[] = {
    {"password authentication failed", kInvalidLogin},
    {"no password supplied", kInvalidLogin},
    {"role \"", kInvalidLogin},  // role ... does not exist
    {"timeout expired", -12170},
    {"could not translate host name", -12545},
    {"the database system is starting up", -1033},
    {"the database system is shutting down", -1089},
    {"Connection refused", -12541},  // no listener
    {"No such file or directory", -12541},
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

}  // namespace zarvelt::db
