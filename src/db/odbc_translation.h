// What the ODBC backend translates, kept free of ODBC headers: the connection string built
// from the alias and the credentials, statement texts with ODBC's "?" markers, the database
// product behind a connection, and diagnostics as the production database's error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"

namespace zarvelt::db {

// target is a data source name ("VELMARION") or a connection string ("DSN=x;Database=y", told
// by its "="). login and password are added as UID and PWD, braced where ODBC needs it; empty
// ones are left out, so that a data source's own credentials apply.
std::string odbc_connection_string(std::string_view target, std::string_view login,
                                   std::string_view password);

// A statement text with its placeholders (Oracle ":1", PostgreSQL "$1") replaced by "?";
// input_of_marker[k] is the input (from 0) bound to the k-th "?", so an input used twice is
// bound twice. Quoted literals and names are left as they are (':' in 'hh24:mi:ss').
struct OdbcStatementText {
  std::string text;
  std::vector<std::size_t> input_of_marker;
};
OdbcStatementText odbc_statement_text(std::string_view text, Dialect dialect);

// The production database's schema switch for a checked plain identifier. It is the one
// Oracle text that the grammar check of the tests cannot parse, so it is checked by hand.
std::string oracle_schema_switch_text(std::string_view schema);

// The dialect for SQLGetInfo's SQL_DBMS_NAME; none for a product without statement texts.
std::optional<Dialect> dialect_of_product(std::string_view dbms_name);

// One diagnostic record of a failed call.
struct OdbcDiagnostic {
  std::string sqlstate;
  std::int32_t native_error = 0;
  std::string message;
};

// A failed connection attempt (the product is not known yet). An ORA number in the message
// (Oracle's driver reports "ORA-01017: ...") is taken as it is; otherwise the SQLSTATE and, for
// a driver over libpq, the message tell.
std::int32_t odbc_connect_status(const OdbcDiagnostic& diagnostic);

// A failed statement on a connection to dialect's product: Oracle's native error number is
// the ORA number; for PostgreSQL the SQLSTATE as the PostgreSQL backend maps it; the rest by
// ODBC's own SQLSTATEs.
std::int32_t odbc_statement_status(Dialect dialect, const OdbcDiagnostic& diagnostic);

// True when the diagnostic says that the session is gone with its transaction, so that no later
// statement and no commit can succeed on it.
bool is_lost_session(Dialect dialect, const OdbcDiagnostic& diagnostic);

}  // namespace zarvelt::db
