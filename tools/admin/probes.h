// The statements of an installation's self-test beyond the program's own (db/statements.h): what
// it reads back to see that the program's statements did what they should, what it asks about
// the connection, and the database's catalogue. They read master data, the catalogue and the
// rows the self-test inserted itself, and write nothing; each text names its tables as the
// program's do, or a client schema by name where a read must not go through the session schema.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "admin/catalogue.h"
#include "db/session.h"
#include "db/statements.h"

namespace zarvelt::admin {

// The database behind the session: "Oracle", "PostgreSQL" or "SQLite".
std::string_view database_product(const db::Session& session);

// What the session's driver says about arrays of parameters (see db::ParameterArrays).
db::ParameterArrays parameter_arrays(const db::Session& session);

// How the session sent its last batch of inserts at batch_size (see db::BatchRoute); one by
// one, and why, when it does not send them together.
db::BatchRoute last_batch_route(const db::Session& session, std::size_t batch_size);

// The client schemas that KVSYSTEM.KVS112MND names (MNDSCH, NULL left out), each once, sorted.
std::int32_t read_client_schemas(db::Session& session, std::vector<std::string>& schemas);

// The two function-code tables of a client schema.
enum class CodeTable { kBookingTypes, kTranslations };  // KVS131FCD, KVS131FCDUEB

// The first count function codes (in their order) of the table in the session schema, read by
// a text that names the schema itself.
std::int32_t sample_function_codes(db::Session& session, CodeTable table, std::size_t count,
                                   std::vector<std::string>& codes);

// For each code what the program's lookup of the table (lookup_booking_types,
// translate_function_codes) gives, read by a text that names the session schema itself, so
// that no statement prepared in another schema can answer.
void read_function_codes_by_name(db::Session& session, CodeTable table,
                                 std::span<const std::string> codes,
                                 std::vector<db::TextAnswer>& answers);

// The access row of terminal and reader (KVSYSTEM.KVS402ZPK): its date ZpkDtm and time
// ZpkUhr as yyyymmddhh24miss and its badge ZpkAsw. kNoRow without one, kTooManyRows with
// several.
struct AccessReadBack {
  std::string date;
  std::string date_time;
  std::string badge;
};
std::int32_t read_back_access(db::Session& session, std::string_view terminal,
                              std::int32_t reader_number, AccessReadBack& row);

// The column ZpkFcd of that row, which the access insert leaves NULL, into a text host variable
// without an indicator: the status the program's lookups give for a NULL column.
std::int32_t read_back_access_null_column(db::Session& session, std::string_view terminal,
                                          std::int32_t reader_number);

// The event row of terminal and reader (KVSYSTEM.O2009BUCHPROT): BPRDAT and BPRDTE as
// yyyymmddhh24miss.
std::int32_t read_back_event(db::Session& session, std::string_view terminal,
                             std::int32_t reader_number, std::string& date, std::string& date_time);

// How many access and event rows terminal has, together.
std::int32_t count_rows_of_terminal(db::Session& session, std::string_view terminal,
                                    std::int32_t& count);

// Badges valid on date (yyyymmdd) with their personnel number and client schema, read by a text
// of the self-test's own rather than the program's lookup: at most count, in badge order.
struct BadgeSample {
  std::string badge;
  std::string personnel_number;
  std::string client_schema;
};
std::int32_t sample_valid_badges(db::Session& session, std::string_view date, std::size_t count,
                                 std::vector<BadgeSample>& badges);

// ---- The database's own catalogue.

// The directory of sql/ whose scripts created the session's database: "oracle", "postgresql"
// or "sqlite"; and the tables such a script creates, read in the session's dialect.
std::string_view script_directory(const db::Session& session);
std::vector<TableShape> tables_of_script(const db::Session& session, std::string_view script);

// The most statements the session's backend keeps open at once (on Oracle, open cursors): 0
// when it keeps no bound of its own.
std::size_t open_statement_bound(const db::Session& session);

// The tables named (upper case) as the catalogue declares them, in the central schema
// (central) or else in the session schema: Oracle's SYS.ALL_TAB_COLUMNS, SYS.ALL_INDEXES and
// SYS.ALL_IND_COLUMNS; PostgreSQL's information_schema.columns and pg_index; SQLite's stored
// CREATE texts. A table the catalogue does not show is left out.
std::int32_t read_table_shapes(db::Session& session, bool central,
                               std::span<const std::string> names, std::vector<TableShape>& tables);

// The database's character set: Oracle's NLS_CHARACTERSET (SYS.NLS_DATABASE_PARAMETERS),
// PostgreSQL's server encoding, SQLite's encoding.
std::int32_t read_character_set(db::Session& session, std::string& character_set);

// Oracle's OPEN_CURSORS (SYS.V_$PARAMETER, which needs the right to read it). The other
// databases have no such limit: kFeatureNotEnabled.
std::int32_t read_open_cursor_limit(db::Session& session, std::int32_t& limit);

}  // namespace zarvelt::admin
