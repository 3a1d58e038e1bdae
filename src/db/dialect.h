// The SQL of each database product a backend speaks: one object per dialect, owning what its
// statement texts spell their own way (input placeholders, date conversion, the server's time,
// the insert that absorbs a duplicate key, schema qualification), and below it what every
// dialect shares (the central schema's name, the statement-level rollback). The program's
// statements (statements.cc) are written once over these objects; a backend says which
// dialect it speaks and builds no statement text of the run itself.
//
// Statement-level rollback. The production database undoes a failed statement alone and the
// run's transaction goes on; PostgreSQL aborts the whole transaction instead. A backend whose
// dialect says so (aborts_transaction_on_failure) runs each statement, or each batch sent in
// one round trip, after a savepoint of the name below and rolls back to it when one fails:
//   set      "SAVEPOINT zarvelt_statement" before the statement (or batch);
//   kept     after a success: released, or (ODBC) left standing while only queries follow, so
//            that a query costs no round trip of its own for it;
//   restored "ROLLBACK TO SAVEPOINT zarvelt_statement" after a failure, which undoes the
//            statement (or the whole batch, whose earlier statements are then sent again);
//   lost     when the rollback itself fails, the transaction is gone: the session counts as
//            lost and the run ends without a commit.
// The same name serves every backend: a savepoint of the same name hides the earlier one
// (PostgreSQL) or replaces it (Oracle), so one name never piles up savepoints.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zarvelt::db {

// The dialects, each with one object (sql_dialect).
enum class Dialect { kOracle, kSqlite, kPostgresql };

// The central schema, where every run's session starts and the central tables stand.
inline constexpr std::string_view kCentralSchema = "KVSYSTEM";

// SQLite has no current schema: in its texts this stands where the session schema qualifies a
// table name, and the backend puts the schema's file in its place when it prepares the text.
inline constexpr std::string_view kSqliteSessionSchema = "{S}";

// The SQL function the SQLite backend provides for the production database's
// to_date(x,'yyyymmddhh24miss'): the digits yyyymmdd[hh24[mi[ss]]] as the text
// 'YYYY-MM-DD HH:MM:SS' that SQLite's date columns hold, anything else marked "invalid:" so
// that the column's date CHECK refuses it (year 0000 too); NULL stays NULL.
inline constexpr std::string_view kSqliteDateFunction = "zarvelt_date";
// What that function makes of a text (not NULL). The inserts bind their dates converted by it,
// so that SQLite runs no function of ours per date.
std::string sqlite_date_text(std::string_view text);

// What a dialect spells its own way. Input placeholders are numbered by the order of the
// input host variables (Oracle :1 in its own order; SQLite ?1; PostgreSQL $1), so a value
// used twice is bound once.
class SqlDialect {
 public:
  virtual ~SqlDialect() = default;
  virtual Dialect id() const = 0;

  // The character before a placeholder's number.
  virtual char placeholder_mark() const = 0;
  std::string placeholder(int input) const { return placeholder_mark() + std::to_string(input); }

  // A table of the central schema, and one that resolves in the session schema.
  virtual std::string central_table(std::string_view table) const {
    return std::string(kCentralSchema) + "." + std::string(table);
  }
  virtual std::string session_table(std::string_view table) const { return std::string(table); }

  // A date input of an insert: the text it is bound as (bound_date of its text where
  // binds_dates_converted, else the text as it is) and what the SQL reads its placeholder p
  // with (to_date). Together they give the date of the digits yyyymmdd[hh24[mi[ss]]], or a
  // failure as a date for anything else, alike on every dialect; NULL stays NULL.
  virtual bool binds_dates_converted() const { return false; }
  virtual std::string bound_date(std::string_view text) const { return std::string(text); }
  virtual std::string to_date(const std::string& p) const = 0;
  // A date column as its yyyymmdd text (to_char, which Oracle and PostgreSQL share).
  virtual std::string date_digits(std::string_view column) const {
    return "to_char(" + std::string(column) + ",'yyyymmdd')";
  }
  // The server's time as a date value, and the query that reads it as dd.mm.yyyy hh24:mi:ss.
  virtual std::string_view server_time() const = 0;
  virtual std::string_view server_time_query() const = 0;

  // The single-row insert text into table in a form that stores nothing and raises no error
  // where the row's unique key (key: its columns) is taken, so that a batch runs on past a
  // duplicate; every other fault still fails it. Empty when the dialect has none.
  virtual std::string absorbing_insert(const std::string& insert, std::string_view table,
                                       std::string_view key) const = 0;

  // True when a failed statement aborts the whole transaction, so that every statement needs
  // the statement-level rollback (above).
  virtual bool aborts_transaction_on_failure() const { return false; }

  // How SQL_DBMS_NAME begins for this product behind an ODBC driver; empty when the ODBC
  // backend does not speak it.
  virtual std::string_view odbc_product() const { return {}; }
};

// The object of a dialect, and all of them.
const SqlDialect& sql_dialect(Dialect dialect);
std::span<const SqlDialect* const> sql_dialects();

// The statement-level rollback's texts, the same in every dialect.
inline constexpr std::string_view kStatementSavepoint = "zarvelt_statement";
std::string savepoint_text();              // SAVEPOINT zarvelt_statement
std::string release_savepoint_text();      // RELEASE SAVEPOINT zarvelt_statement
std::string rollback_to_savepoint_text();  // ROLLBACK TO SAVEPOINT zarvelt_statement

}  // namespace zarvelt::db
