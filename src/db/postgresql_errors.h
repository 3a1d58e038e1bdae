// What every backend that reaches a PostgreSQL server (libpq directly, or psqlODBC) shares:
// how PostgreSQL's errors read as the production database's error numbers, name folding and
// the schema switch. Needs no PostgreSQL library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace zarvelt::db {

// A SQLSTATE of a failed statement to a negated Oracle error number; kInternalError when the
// state is not known. An empty state (no server reply) is a lost connection.
std::int32_t map_postgresql_sqlstate(std::string_view sqlstate);

// A failed connection attempt, known only by its message, to a negated Oracle error number;
// kCannotResolveAlias for an unknown database or service or anything unrecognised.
std::int32_t map_postgresql_connect_error(std::string_view message);

// Unquoted names fold to lower case in PostgreSQL (to upper case in the production database).
std::string postgresql_folded_name(std::string_view name);

// Makes schema (folded) the search path of a connection to a PostgreSQL server, after
// checking in the same statement that it exists: kSchemaMissing when it does not. Unlike
// "SET search_path", it cannot set a missing schema.
std::int32_t switch_postgresql_schema(Connection& connection, std::string_view schema);

}  // namespace zarvelt::db
