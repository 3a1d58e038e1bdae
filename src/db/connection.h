// The connection interface: one open connection of one backend, which runs statement texts in
// its dialect (dialect.h) and maps its own errors to the production client's statuses. The client
// operations (client_operations.h) are built on it; nothing above src/db sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.h"
#include "db/status.h"

namespace zarvelt::db {

// A value handed to a backend: NULL, a text or a 32-bit integer.
struct BoundValue {
  enum class Kind { kNull, kText, kInteger } kind = Kind::kNull;
  std::string_view text;
  std::int32_t integer = 0;
};

// A value a queued statement keeps until it is sent: BoundValue with its own text.
struct OwnedValue {
  BoundValue::Kind kind = BoundValue::Kind::kNull;
  std::string text;
  std::int32_t integer = 0;
  BoundValue bound() const { return {kind, text, integer}; }
};

// One insert of a batch. absorbing_text is the same insert in a form that stores no row and
// raises no error for a duplicate key (empty when the dialect has none).
struct BatchedInsert {
  std::string_view text;
  std::string_view absorbing_text;
  std::vector<OwnedValue> inputs;
};

// A fetched row: each column as text, nullopt for NULL.
using FetchedRow = std::vector<std::optional<std::string>>;

// What an ODBC driver says about arrays of parameters (SQL_PARAM_ARRAY_ROW_COUNTS): kPerRow, a
// row count for each row of an array; kTotal, one count for the whole array; kNone, it takes
// no arrays. kNoDriver for the backends that reach their database directly.
enum class ParameterArrays { kNoDriver, kNone, kTotal, kPerRow };

// How the last batch of run_batch reached the database, for the installation self-test: one
// insert at a time, several in one round trip, or as parameter arrays; in the duplicate-absorbing
// form or the plain one; and why (part of) it went another way than the backend's best.
struct BatchRoute {
  enum class Way { kOneByOne, kTogether, kArrays } way = Way::kOneByOne;
  bool absorbing = false;
  // Why (part of) it went another way than the backend's best, to follow "each insert on its
  // own, as" or a description of the batch; empty when nothing did.
  std::string why;
};

// One open connection of one backend. Implementations map their errors to negated Oracle
// numbers with one table each, keep prepared statements for the whole run, and keep the
// run's transaction open across failed statements (statement-level rollback).
class Connection {
 public:
  virtual ~Connection() = default;
  // The dialect of the texts it runs (its object: sql_dialect).
  virtual Dialect dialect() const = 0;

  // Runs text with inputs. A query fills rows with at most max_rows rows (the caller asks for
  // two to tell "one row" from "several"); other statements leave rows empty.
  virtual std::int32_t run(std::string_view text, std::span<const BoundValue> inputs,
                           std::size_t max_rows, std::vector<FetchedRow>& rows) = 0;

  // Makes schema (a checked plain identifier, as written) the place where unprefixed table
  // names resolve. kSchemaMissing when there is no such schema; unchanged on failure.
  virtual std::int32_t set_session_schema(std::string_view schema) = 0;

  virtual std::int32_t commit() = 0;

  // True when run_batch and run_queries send their statements together (fewer round trips);
  // false when they run them one by one, so that queueing and reading ahead gain nothing.
  virtual bool sends_together() const { return false; }

  // Runs inserts in order, each with the status run() would give it on its own at that point
  // (a duplicate key: kUniqueConstraint), appended to statuses. A backend that can send them
  // together without waiting for each answer does so; this one runs them one by one.
  virtual void run_batch(std::span<const BatchedInsert> batch, std::vector<std::int32_t>& statuses);

  // kSuccess while the batches' duplicate-absorbing form is taken; once the database refused
  // it, the status it refused it with, and from then on the batches go in their plain form.
  virtual std::int32_t duplicate_hint_refusal() const { return kSuccess; }

  virtual ParameterArrays parameter_arrays() const { return ParameterArrays::kNoDriver; }

  // How run_batch sent its last batch; this one runs them one by one.
  virtual BatchRoute last_batch_route() const {
    return {BatchRoute::Way::kOneByOne, false, "this backend runs every statement alone"};
  }

  // Runs the query text once for each inputs[i], each with the status and at most max_rows
  // rows run() would give it, appended to statuses and rows. Sent together where the backend
  // can; this one runs them one by one.
  virtual void run_queries(std::string_view text, std::span<const std::vector<OwnedValue>> inputs,
                           std::size_t max_rows, std::vector<std::int32_t>& statuses,
                           std::vector<std::vector<FetchedRow>>& rows);
};

// The ODBC backend keeps at most kOdbcStatementsKept prepared statements in each of its two
// caches and one handle for control statements: so many statements are open at most at once,
// each an open cursor on Oracle.
inline constexpr std::size_t kOdbcStatementsKept = 24;
inline constexpr std::size_t kOdbcOpenStatements = 2 * kOdbcStatementsKept + 1;

// Opens a connection for the part of an alias after its backend prefix. login and password
// are the production client's user and password (a backend may ignore them). On failure
// returns null and sets status.
using ConnectFunction = std::unique_ptr<Connection> (*)(std::string_view target,
                                                        std::string_view login,
                                                        std::string_view password,
                                                        std::int32_t& status);

std::unique_ptr<Connection> connect_sqlite(std::string_view target, std::string_view login,
                                           std::string_view password, std::int32_t& status);
std::unique_ptr<Connection> connect_postgresql(std::string_view target, std::string_view login,
                                               std::string_view password, std::int32_t& status);
// target: a data source name or an ODBC connection string.
std::unique_ptr<Connection> connect_odbc(std::string_view target, std::string_view login,
                                         std::string_view password, std::int32_t& status);

}  // namespace zarvelt::db
