// What the ODBC backend translates, kept free of ODBC headers: the connection string built
// from the alias and the credentials, statement texts with ODBC's "?" markers, the database
// product behind a connection, and diagnostics as the production database's error numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/connection.h"

namespace zarvelt::db {

// target is a data source name ("VELMARION") or a connection string ("DSN=x;Database=y", told
// by its "="). login and password are added as UID and PWD, braced where ODBC needs it; empty
// ones are left out, so that a data source's own credentials apply.
std::string odbc_connection_string(std::string_view target, std::string_view login,
                                   std::string_view password);

// A statement text with its dialect's placeholders (Oracle ":1", PostgreSQL "$1") replaced by "?";
// input_of_marker[k] is the input (from 0) bound to the k-th "?", so an input used twice is
// bound twice. Quoted literals and names are left as they are (':' in 'hh24:mi:ss').
struct OdbcStatementText {
  std::string text;
  std::vector<std::size_t> input_of_marker;
};
OdbcStatementText odbc_statement_text(std::string_view text, Dialect dialect);

// The text as the ODBC backend prepares it on Oracle while schema is the session schema: with
// the schema in a trailing comment. A driver may keep the statements an application lets go in
// a cache keyed by their text alone (Oracle's statement cache) and hand one back for the same
// text, still resolving its names in the schema it was parsed in; with the schema in the text
// it only ever hands back one of the same schema. Characters other than those of a plain
// identifier are left out of the comment.
std::string text_in_schema(const std::string& text, std::string_view schema);

// The production database's schema switch for a checked plain identifier. It is the one
// Oracle text that the grammar check of the tests cannot parse, so it is checked by hand.
std::string oracle_schema_switch_text(std::string_view schema);

// The prepared statements of a run, each under the session schema it was prepared in, so
// keyed by (schema, text). Oracle resolves a statement's unprefixed table names when it parses
// it, and a handle executed again is not parsed again: a handle prepared before a schema switch
// would go on reading the tables of the schema before. So a statement serves only the schema it
// was prepared in. Each one is an open cursor on Oracle (its OPEN_CURSORS limit is 50 by
// default): the ODBC backend keeps two caches (single statements, arrays) of max_statements 24
// each, which with its control handle stays below it. Once a cache holds max_statements, the
// statements of the other schemas are let go before another is added; the current schema's
// are never let go (the run uses at most a handful of texts per schema), so the bound holds for
// the schemas switched away from, and a run that goes back to a schema prepares again. A
// statement that failed is taken out (take) and prepared again on its next use.
template <typename Statement>
class StatementCache {
 public:
  explicit StatementCache(std::size_t max_statements) : max_statements_(max_statements) {}

  // Where unprefixed names resolve from now on (after a successful switch).
  void set_schema(std::string_view schema) { schema_ = schema; }
  const std::string& schema() const { return schema_; }

  Statement* find(std::string_view text) {
    const auto found = statements_.find({schema_, std::string(text)});
    return found == statements_.end() ? nullptr : &found->second;
  }

  // Lets go of the other schemas' statements (free) when the cache is full: called before a
  // statement is prepared, so that the new one's cursor is never one too many.
  template <typename Free>
  void make_room(Free free) {
    if (statements_.size() < max_statements_) return;
    for (auto kept = statements_.begin(); kept != statements_.end();) {
      if (kept->first.first == schema_) {
        ++kept;
      } else {
        free(kept->second);
        kept = statements_.erase(kept);
      }
    }
  }

  template <typename Free>
  Statement& add(std::string_view text, Statement statement, Free free) {
    make_room(free);
    return statements_.insert_or_assign({schema_, std::string(text)}, std::move(statement))
        .first->second;
  }

  // The statement of text in the current schema, taken out of the cache.
  std::optional<Statement> take(std::string_view text) {
    const auto found = statements_.find({schema_, std::string(text)});
    if (found == statements_.end()) return std::nullopt;
    Statement statement = std::move(found->second);
    statements_.erase(found);
    return statement;
  }

  template <typename Free>
  void clear(Free free) {
    for (auto& [key, statement] : statements_) free(statement);
    statements_.clear();
  }

  std::size_t size() const { return statements_.size(); }

 private:
  std::size_t max_statements_;
  std::string schema_;
  std::map<std::pair<std::string, std::string>, Statement> statements_;  // by schema and text
};

// The dialect for SQLGetInfo's SQL_DBMS_NAME (SqlDialect::odbc_product); none for a product
// without statement texts.
std::optional<Dialect> dialect_of_product(std::string_view dbms_name);

// One diagnostic record of a failed call.
struct OdbcDiagnostic {
  std::string sqlstate;
  std::int32_t native_error = 0;
  std::string message;
};

// A failed connection attempt (the product is not known yet). An ORA number in the message
// (Oracle's driver reports "ORA-01017: ...") is taken as it is; otherwise the SQLSTATE and, for
// a driver over libpq, the message tell. A driver of the other width (IM014, or IM003 with
// system error 193) is kArchitectureMismatch.
std::int32_t odbc_connect_status(const OdbcDiagnostic& diagnostic);

// A failed statement on a connection to dialect's product: Oracle's native error number is
// the ORA number; for PostgreSQL the SQLSTATE as the PostgreSQL backend maps it; the rest by
// ODBC's own SQLSTATEs.
std::int32_t odbc_statement_status(Dialect dialect, const OdbcDiagnostic& diagnostic);

// True when the diagnostic says that the session is gone with its transaction, so that no later
// statement and no commit can succeed on it.
bool is_lost_session(Dialect dialect, const OdbcDiagnostic& diagnostic);

// The status of a failed call from all its diagnostic records: the first that is not a summary
// (ORA-24381); kInternalError without any.
std::int32_t odbc_statement_status(Dialect dialect, const std::vector<OdbcDiagnostic>& records);

// What a failed parameter array of inserts says of its rows. states: each row's entry of the
// parameter status array; records: every diagnostic record of the call with the row it names
// (SQL_DIAG_ROW_NUMBER, from 1; 0 or less when it names none).
//   kLost        a record says the session is gone;
//   kHintRefused a record refuses the duplicate-absorbing hint (hint_refusal its status);
//   kTied        every failed row has a record of its own that names it: rows holds each
//                failed row (from 0) with its own status; the other rows ran or did not run;
//   kUntied      anything else (a failed row without its record, an error for a row said to be
//                done, a row whose outcome the driver does not know, no failed row at all).
// A summary (ORA-24381), a warning and a record that names no row never become a row's status.
enum class ArrayRowState { kDone, kFailed, kNotRun, kUnknown };
struct ArrayRecord {
  OdbcDiagnostic diagnostic;
  std::int64_t row = 0;
};
struct ArrayFailure {
  enum class Kind { kTied, kUntied, kHintRefused, kLost } kind = Kind::kUntied;
  std::vector<std::pair<std::size_t, std::int32_t>> rows;
  std::int32_t hint_refusal = 0;
};
ArrayFailure judge_array_failure(Dialect dialect, const std::vector<ArrayRowState>& states,
                                 const std::vector<ArrayRecord>& records);

}  // namespace zarvelt::db
