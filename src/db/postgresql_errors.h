// How PostgreSQL's errors read as the production database's error numbers, shared by every
// backend that reaches a PostgreSQL server (libpq directly, or psqlODBC). Needs no PostgreSQL
// library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zarvelt::db {

// A SQLSTATE of a failed statement to a negated Oracle error number; kInternalError when the
// state is not known. An empty state (no server reply) is a lost connection.
std::int32_t map_postgresql_sqlstate(std::string_view sqlstate);

// A failed connection attempt, known only by its message, to a negated Oracle error number;
// kCannotResolveAlias for an unknown database or service or anything unrecognised.
std::int32_t map_postgresql_connect_error(std::string_view message);

// Unquoted names fold to lower case in PostgreSQL (to upper case in the production database).
std::string postgresql_folded_name(std::string_view name);

// Checks that schema $1 (folded) exists and makes it the search path, in one statement: no row
// means there is no such schema. Unlike "SET search_path", it cannot set a missing schema.
inline constexpr std::string_view kPostgresqlSchemaSwitch =
    "select set_config('search_path', quote_ident(nspname), false) from pg_namespace "
    "where nspname = $1";

}  // namespace zarvelt::db
