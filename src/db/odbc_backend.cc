// The ODBC backend: alias "odbc:<data source name or connection string>", and any alias
// without a backend prefix as the name of a data source (an installation's NET8 alias names
// the data source that the administrator defines for Oracle's driver). LOGIN and PASS go in as
// UID and PWD. This file holds the driver's connection (OdbcLink), the connection as the
// client operations see it (OdbcConnection) and connecting; the link's three helpers have
// files of their own:
//   odbc_deadline.*    every driver call runs on a worker and is waited for at most 45 s (the
//                      connect 15 s); past that the statement is cancelled and the session
//                      counts as lost (deadlines.h);
//   odbc_arrays.*      a batch of inserts goes as parameter arrays where the driver takes them
//                      (psqlODBC sends a chunk of rows in one round trip), in the form that
//                      absorbs duplicates where the driver counts each row; a failed row that
//                      the driver names with its own error gets that status, and when an
//                      array's outcome leaves any other doubt it is rolled back and its
//                      inserts run one by one for their exact statuses;
//   odbc_savepoints.*  on PostgreSQL a failed statement would abort the whole transaction, so
//                      there every statement runs after a savepoint and is rolled back to it
//                      when it fails; the production database needs none.
//
// The product behind the data source (SQL_DBMS_NAME) picks the dialect. Defaults, so that a
// dead or frozen server cannot hang the run: login timeout 10 s, connection and query timeouts
// 30 s (set through the ODBC attributes) and the client-side deadline above. A driver may
// enforce its timeouts on the server alone (psqlODBC sends statement_timeout to it), and a
// stopped server never answers. On PostgreSQL the session also gets a lock timeout of 25 s, as
// through libpq.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "db/deadlines.h"
#include "db/odbc_arrays.h"
#include "db/odbc_calls.h"
#include "db/odbc_deadline.h"
#include "db/odbc_savepoints.h"
#include "db/odbc_translation.h"
#include "db/postgresql_errors.h"

namespace zarvelt::db {
namespace {

// The timeouts of deadlines.h as the ODBC attributes take them. The connection's timeout
// bounds any request on it, as the statement timeout bounds a statement.
constexpr auto kLoginTimeoutSeconds = static_cast<SQLULEN>(kLoginTimeout.count());
constexpr auto kConnectionTimeoutSeconds = static_cast<SQLULEN>(kStatementTimeout.count());
constexpr auto kQueryTimeoutSeconds = static_cast<SQLULEN>(kStatementTimeout.count());
// The connect's deadline: the login timeout and a margin for the driver to report it itself.
constexpr std::chrono::seconds kConnectDeadline = kLoginTimeout + std::chrono::seconds(5);
// Prepared statements kept in each of the two caches of a connection (see StatementCache):
// 2 x 24 and the control handle stay below Oracle's default limit of 50 open cursors.
constexpr std::size_t kStatementsKept = kOdbcStatementsKept;
// Times a batch's arrays are sent while the driver names each failed row with its own error
// (each time without the rows settled before); then the rest goes one by one.
constexpr int kArrayAttempts = 4;

// The first diagnostic record of a failed call on handle.
OdbcDiagnostic diagnostic_of(SQLSMALLINT handle_type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLCHAR message[1024] = {};
  SQLSMALLINT length = 0;
  OdbcDiagnostic diagnostic;
  if (succeeded(SQLGetDiagRec(handle_type, handle, 1, state, &native, message,
                              static_cast<SQLSMALLINT>(sizeof message), &length))) {
    diagnostic.sqlstate = reinterpret_cast<const char*>(state);
    diagnostic.native_error = static_cast<std::int32_t>(native);
    diagnostic.message = reinterpret_cast<const char*>(message);
  }
  return diagnostic;
}

// Every diagnostic record of a failed call on handle, each with the row of a parameter array it
// names (SQL_DIAG_ROW_NUMBER; 0 when it names none or the driver does not say).
std::vector<ArrayRecord> records_of(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::vector<ArrayRecord> records;
  constexpr SQLSMALLINT kMostRecords = 1000;
  for (SQLSMALLINT number = 1; number <= kMostRecords; ++number) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (!succeeded(SQLGetDiagRec(handle_type, handle, number, state, &native, message,
                                 static_cast<SQLSMALLINT>(sizeof message), &length))) {
      break;
    }
    ArrayRecord record;
    record.diagnostic = {reinterpret_cast<const char*>(state), static_cast<std::int32_t>(native),
                         reinterpret_cast<const char*>(message)};
    SQLLEN row = 0;
    if (handle_type == SQL_HANDLE_STMT &&
        succeeded(SQLGetDiagField(handle_type, handle, number, SQL_DIAG_ROW_NUMBER, &row,
                                  SQL_IS_INTEGER, nullptr))) {
      record.row = row;
    }
    records.push_back(std::move(record));
  }
  return records;
}

// One prepared statement, kept for the whole run.
struct PreparedStatement {
  SQLHSTMT handle = SQL_NULL_HSTMT;
  std::vector<std::size_t> input_of_marker;
};

// A plain query: the text starts with "select" (the program's queries change nothing, but
// for the schema switch, which the connection tells apart itself).
bool is_query(std::string_view text) {
  constexpr std::string_view kSelect = "select";
  const std::size_t start = text.find_first_not_of(" \t\r\n(");
  if (start == std::string_view::npos || text.size() - start < kSelect.size()) return false;
  for (std::size_t i = 0; i < kSelect.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[start + i])) != kSelect[i]) return false;
  }
  return true;
}

// The driver's connection and its statements. Its calls run on the connection's worker, one at
// a time; only cancel() comes from another thread.
class OdbcLink {
 public:
  OdbcLink(SQLHENV environment, SQLHDBC connection, Dialect dialect, SQLHSTMT control,
           ArraySupport arrays)
      : environment_(environment),
        connection_(connection),
        dialect_(dialect),
        savepoints_(sql_dialect(dialect).aborts_transaction_on_failure()),
        control_(control),
        arrays_(arrays) {}
  OdbcLink(const OdbcLink&) = delete;
  OdbcLink& operator=(const OdbcLink&) = delete;

  // Rolls back what is not committed and lets go of the connection. When the rollback fails
  // the connection is left as it is, never disconnected: Oracle commits the open transaction
  // of a session that ends gracefully, whereas one that ends with the process is rolled back
  // by the server.
  void close() {
    const auto free = [this](PreparedStatement& statement) { free_statement(statement.handle); };
    prepared_.clear(free);
    array_statements_.clear(free);
    free_statement(control_);
    // Only a commit keeps work; a driver refuses to disconnect inside a transaction.
    if (!succeeded(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK))) return;
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    SQLFreeHandle(SQL_HANDLE_ENV, environment_);
  }

  Dialect dialect() const { return dialect_; }
  bool takes_arrays() const { return arrays_ != ArraySupport::kNone; }
  ParameterArrays parameter_arrays() const {
    if (arrays_ == ArraySupport::kCountPerRow) return ParameterArrays::kPerRow;
    if (arrays_ == ArraySupport::kTotalCount) return ParameterArrays::kTotal;
    return ParameterArrays::kNone;
  }
  // kSuccess, or the status with which Oracle refused the absorbing inserts' hint.
  std::int32_t hint_refusal() const { return hint_refusal_; }

  // Cancels the statement that is running, if any (ODBC allows it from another thread).
  void cancel() {
    const std::lock_guard<std::mutex> lock(active_mutex_);
    if (active_ != SQL_NULL_HSTMT) SQLCancel(active_);
  }

  // reads: the statement changes nothing that a rollback to the savepoint would undo (a
  // plain query), so that it needs no savepoint of its own.
  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   bool reads, std::vector<FetchedRow>& rows) {
    rows.clear();
    if (lost_) return kConnectionLost;
    const bool savepoints = savepoints_;
    if (savepoints) {
      const std::int32_t status = set_savepoint();
      if (status != kSuccess) return status;
    }
    const std::string statement_text(text);
    const std::int32_t status = run_statement(statement_text, inputs, max_rows, rows);
    if (lost_) return kConnectionLost;
    if (status != kSuccess) {
      rows.clear();
      const bool restored = !savepoints || restore_savepoint();
      forget(statement_text);  // prepared again next time, against the schema of then
      return restored ? status : lose_session();
    }
    if (savepoints && !reads) savepoint_.leave_behind();
    return kSuccess;
  }

  // The production database's own schema switch (its name is a checked plain identifier).
  std::int32_t set_oracle_schema(const std::string& schema) {
    if (lost_) return kConnectionLost;
    const std::int32_t status = run_control(oracle_schema_switch_text(schema));
    if (status == kSuccess) {
      prepared_.set_schema(schema);
      array_statements_.set_schema(schema);
    }
    return status;
  }

  std::int32_t commit() {
    if (lost_) return kConnectionLost;
    savepoint_.transaction_ended();  // with or without the commit
    if (succeeded(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_COMMIT))) return kSuccess;
    const OdbcDiagnostic diagnostic = diagnostic_of(SQL_HANDLE_DBC, connection_);
    if (is_lost_session(dialect_, diagnostic)) return lose_session();
    return odbc_statement_status(dialect_, diagnostic);
  }

  // True when the driver answers a parameter array of a query with one result set per row.
  bool takes_query_arrays() {
    if (query_arrays_ < 0) {
      query_arrays_ = arrays_ != ArraySupport::kNone && answers_query_arrays(connection_);
    }
    return query_arrays_ == 1;
  }

  // Runs one query for each row of queries as one parameter array. kAnswered with statuses and
  // rows set when every row's result set came; otherwise whatever the array did is undone and
  // the caller runs them one by one.
  ArrayOutcome run_query_array(const std::vector<ArrayInsert>& queries, std::size_t max_rows,
                               std::vector<std::int32_t>& statuses,
                               std::vector<std::vector<FetchedRow>>& rows) {
    if (lost_) return ArrayOutcome::kLost;
    statuses.assign(queries.size(), kSuccess);
    rows.assign(queries.size(), {});
    // A failed query ends a PostgreSQL transaction unless it is rolled back to a savepoint;
    // queries change nothing, so the savepoint stays where it stands.
    const bool savepoints = savepoints_;
    if (savepoints && set_savepoint() != kSuccess) {
      return lost_ ? ArrayOutcome::kLost : ArrayOutcome::kOneByOne;
    }
    std::vector<std::size_t> all(queries.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    const bool certain = run_array(queries.front().text, queries, all, statuses, max_rows, &rows);
    if (lost_) return ArrayOutcome::kLost;
    if (certain) return ArrayOutcome::kAnswered;
    if (savepoints && !restore_savepoint()) {
      lose_session();
      return ArrayOutcome::kLost;
    }
    return ArrayOutcome::kOneByOne;
  }

  // Runs the inserts as one parameter array per text under one savepoint. kAnswered with every
  // answer set when each row's outcome is certain. A failed array whose failed rows the driver
  // names, each with its own error, settles those rows with their statuses: everything is
  // rolled back to the savepoint and the arrays run again without them (the rows before a
  // failed one met the same rows either way). Otherwise everything is rolled back and the
  // caller runs them one by one.
  //
  // failed_row and failure: when a row's own status ends the run, that row (the insert's index)
  // and the status; the caller runs the inserts before it one by one. Else inserts.size().
  ArrayOutcome run_arrays(const std::vector<ArrayInsert>& inserts,
                          std::vector<std::int32_t>& answers, std::size_t& failed_row,
                          std::int32_t& failure) {
    failed_row = inserts.size();
    detour_.clear();
    if (lost_) return ArrayOutcome::kLost;
    answers.assign(inserts.size(), kSuccess);
    // Rows of one text keep their order; texts go to different tables and do not meet.
    std::vector<std::pair<const std::string*, std::vector<std::size_t>>> groups;
    for (std::size_t i = 0; i < inserts.size(); ++i) {
      auto group = std::find_if(groups.begin(), groups.end(),
                                [&](const auto& g) { return *g.first == inserts[i].text; });
      if (group == groups.end()) group = groups.insert(groups.end(), {&inserts[i].text, {}});
      group->second.push_back(i);
    }
    std::vector<bool> settled(inserts.size(), false);
    for (int attempt = 0; attempt < kArrayAttempts; ++attempt) {
      // Without statement savepoints (Oracle) a plain one for the array: Oracle erases an
      // earlier savepoint of the same name and needs no release.
      if ((savepoints_ ? set_savepoint() : run_control(savepoint_text())) != kSuccess) {
        return lost_ ? ArrayOutcome::kLost : ArrayOutcome::kOneByOne;
      }
      ArrayFailure outcome;
      bool done = true;
      for (const auto& [text, rows] : groups) {
        std::vector<std::size_t> open;
        for (const std::size_t row : rows) {
          if (!settled[row]) open.push_back(row);
        }
        if (open.empty()) continue;
        done = run_insert_array(*text, inserts, open, answers, outcome);
        if (!done) break;
      }
      if (lost_ || outcome.kind == ArrayFailure::Kind::kLost) {
        lose_session();
        return ArrayOutcome::kLost;
      }
      if (done) {
        if (savepoints_) savepoint_.leave_behind();
        return ArrayOutcome::kAnswered;
      }
      if (!restore_savepoint()) {
        lose_session();
        return ArrayOutcome::kLost;
      }
      if (outcome.kind == ArrayFailure::Kind::kHintRefused) {
        detour_ =
            "the database refused the hint with status " + std::to_string(outcome.hint_refusal);
        return ArrayOutcome::kOneByOne;
      }
      if (outcome.kind != ArrayFailure::Kind::kTied) {
        detour_ = "the driver did not tell each row's outcome: undone, one insert at a time";
        return ArrayOutcome::kOneByOne;
      }
      for (const auto& [row, status] : outcome.rows) {
        if (status_scope(status) == StatusScope::kBooking) {
          answers[row] = status;
          settled[row] = true;
        } else if (row < failed_row) {
          failed_row = row;
          failure = status;
        }
      }
      if (failed_row < inserts.size()) {
        detour_ = "a row failed with status " + std::to_string(failure) +
                  ", which ends the run: undone, the rows before it one insert at a time";
        return ArrayOutcome::kOneByOne;
      }
      detour_ =
          "the driver named each failed row with its own error: those rows kept it, the "
          "arrays went again without them";
    }
    detour_ = "rows kept failing: undone, one insert at a time";
    return ArrayOutcome::kOneByOne;
  }

  // Why the last run_arrays did not answer from its first arrays; empty when it did.
  const std::string& detour() const { return detour_; }

 private:
  // The statement-level rollback (odbc_savepoints.h), where the dialect needs it.
  std::int32_t set_savepoint() { return savepoint_.set(); }
  bool restore_savepoint() { return !lost_ && savepoint_.restore(); }

  // One parameter array of inserts: inserts[rows] with text. True when every row ran and its
  // answer is set (absorbed duplicates kUniqueConstraint). False when a row failed or the driver
  // cannot tell which rows were absorbed; failure then says what the driver told (kTied with
  // the failed rows as indexes of inserts).
  bool run_insert_array(const std::string& text, const std::vector<ArrayInsert>& inserts,
                        const std::vector<std::size_t>& rows, std::vector<std::int32_t>& answers,
                        ArrayFailure& failure) {
    failure = ArrayFailure();
    PreparedStatement* statement = nullptr;
    if (const std::int32_t status = array_statement(text, statement); status != kSuccess) {
      if (is_duplicate_hint_refused(status)) {
        failure.kind = ArrayFailure::Kind::kHintRefused;
        note_hint_refusal(status);
      }
      return false;
    }
    const SQLHSTMT handle = statement->handle;
    ParameterArray array;
    if (!array.fill(inserts, rows, statement->input_of_marker)) return false;
    if (!array.bind(handle)) {
      forget_array(text);
      return false;
    }
    bool certain = false;
    {
      const Active active(*this, handle);
      const SQLRETURN executed = SQLExecute(handle);
      if (succeeded(executed) && array.processed_all() && array.all_succeeded()) {
        certain = absorbed_rows(handle, arrays_, rows, answers);
      } else if (executed != SQL_NO_DATA) {
        failure =
            judge_array_failure(dialect_, array.row_states(), records_of(SQL_HANDLE_STMT, handle));
        if (failure.kind == ArrayFailure::Kind::kHintRefused)
          note_hint_refusal(failure.hint_refusal);
        for (auto& [row, status] : failure.rows) row = rows[row];
      }
    }
    ParameterArray::release(handle);
    // Prepared again next time, against the schema of then, unless only rows failed.
    if (!certain && failure.kind != ArrayFailure::Kind::kTied) forget_array(text);
    return certain;
  }

  // One parameter array of a query: inserts[rows] with text, each row's result set (at most
  // max_rows rows) into fetched[row], one after the other as the driver sends them
  // (SQL_PAS_BATCH). True when every row's result set came.
  bool run_array(const std::string& text, const std::vector<ArrayInsert>& inserts,
                 const std::vector<std::size_t>& rows, std::vector<std::int32_t>& answers,
                 std::size_t max_rows, std::vector<std::vector<FetchedRow>>* fetched) {
    PreparedStatement* statement = nullptr;
    if (array_statement(text, statement) != kSuccess) return false;
    const SQLHSTMT handle = statement->handle;
    ParameterArray array;
    if (!array.fill(inserts, rows, statement->input_of_marker)) return false;
    if (!array.bind(handle)) {
      forget_array(text);
      return false;
    }
    bool certain = false;
    {
      const Active active(*this, handle);
      const SQLRETURN executed = SQLExecute(handle);
      if (succeeded(executed) && array.processed_all() && array.all_succeeded()) {
        certain = fetched_rows(handle, rows, max_rows, answers, *fetched);
      } else if (!succeeded(executed) && executed != SQL_NO_DATA) {
        for (const ArrayRecord& record : records_of(SQL_HANDLE_STMT, handle)) {
          if (is_lost_session(dialect_, record.diagnostic)) lose_session();
        }
      }
    }
    ParameterArray::release(handle);
    if (!certain) forget_array(text);  // prepared again next time, against the schema of then
    return certain;
  }

  // Oracle refusing the hint of the absorbing inserts refuses it in every later batch too.
  void note_hint_refusal(std::int32_t status) {
    if (dialect_ == Dialect::kOracle && is_duplicate_hint_refused(status)) hint_refusal_ = status;
  }

  // Each row's result set in turn; false when one of them is missing or fails.
  bool fetched_rows(SQLHSTMT handle, const std::vector<std::size_t>& rows, std::size_t max_rows,
                    std::vector<std::int32_t>& answers,
                    std::vector<std::vector<FetchedRow>>& fetched) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (r > 0 && !succeeded(SQLMoreResults(handle))) return false;
      fetched[rows[r]].clear();
      if (fetch(handle, max_rows, fetched[rows[r]]) != kSuccess) return false;
      answers[rows[r]] = kSuccess;
    }
    return true;
  }

  // A statement handle of its own for arrays, kept for the whole run like prepared_.
  std::int32_t array_statement(const std::string& text, PreparedStatement*& statement) {
    return prepare_in(array_statements_, text, statement);
  }
  void forget_array(const std::string& text) { forget_in(array_statements_, text); }

  // The statement whose call is running, for cancel().
  class Active {
   public:
    Active(OdbcLink& link, SQLHSTMT handle) : link_(link) { link_.set_active(handle); }
    Active(const Active&) = delete;
    Active& operator=(const Active&) = delete;
    ~Active() { link_.set_active(SQL_NULL_HSTMT); }

   private:
    OdbcLink& link_;
  };

  void set_active(SQLHSTMT handle) {
    const std::lock_guard<std::mutex> lock(active_mutex_);
    active_ = handle;
  }

  // Never while cancel() may be using the handle.
  void free_statement(SQLHSTMT handle) {
    const std::lock_guard<std::mutex> lock(active_mutex_);
    SQLFreeHandle(SQL_HANDLE_STMT, handle);
  }

  // The status of a failed call, from every record it left (a summary is no status).
  std::int32_t failure(SQLSMALLINT handle_type, SQLHANDLE handle) {
    std::vector<OdbcDiagnostic> diagnostics;
    for (ArrayRecord& record : records_of(handle_type, handle)) {
      if (is_lost_session(dialect_, record.diagnostic)) return lose_session();
      diagnostics.push_back(std::move(record.diagnostic));
    }
    return odbc_statement_status(dialect_, diagnostics);
  }

  // A statement without inputs or rows on the control handle (savepoints, schema switch).
  std::int32_t run_control(const std::string& text) {
    const Active active(*this, control_);
    const SQLRETURN result = SQLExecDirect(control_, sql_text(text), SQL_NTS);
    const std::int32_t status =
        succeeded(result) || result == SQL_NO_DATA ? kSuccess : failure(SQL_HANDLE_STMT, control_);
    SQLFreeStmt(control_, SQL_CLOSE);
    return status;
  }

  std::int32_t prepared(const std::string& text, PreparedStatement*& statement) {
    return prepare_in(prepared_, text, statement);
  }
  void forget(const std::string& text) { forget_in(prepared_, text); }

  using Statements = StatementCache<PreparedStatement>;

  // The statement of text in cache, prepared on first use in the session schema.
  std::int32_t prepare_in(Statements& cache, const std::string& text,
                          PreparedStatement*& statement) {
    if (PreparedStatement* cached = cache.find(text)) {
      statement = cached;
      return kSuccess;
    }
    cache.make_room([this](PreparedStatement& freed) { free_statement(freed.handle); });
    OdbcStatementText converted = odbc_statement_text(text, dialect_);
    if (dialect_ == Dialect::kOracle)
      converted.text = text_in_schema(converted.text, cache.schema());
    PreparedStatement made;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &made.handle))) {
      return failure(SQL_HANDLE_DBC, connection_);
    }
    // Not every driver has a query timeout; without one the statement runs as it is.
    SQLSetStmtAttr(made.handle, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(kQueryTimeoutSeconds), 0);
    SQLRETURN result;
    {
      const Active active(*this, made.handle);
      result = SQLPrepare(made.handle, sql_text(converted.text), SQL_NTS);
    }
    if (!succeeded(result)) {
      const std::int32_t status = failure(SQL_HANDLE_STMT, made.handle);
      free_statement(made.handle);
      return status;
    }
    made.input_of_marker = std::move(converted.input_of_marker);
    statement = &cache.add(text, std::move(made),
                           [this](PreparedStatement& freed) { free_statement(freed.handle); });
    return kSuccess;
  }

  void forget_in(Statements& cache, const std::string& text) {
    if (const std::optional<PreparedStatement> cached = cache.take(text)) {
      free_statement(cached->handle);
    }
  }

  std::int32_t run_statement(const std::string& text, std::span<const BoundValue> inputs,
                             std::size_t max_rows, std::vector<FetchedRow>& rows) {
    PreparedStatement* statement = nullptr;
    std::int32_t status = prepared(text, statement);
    if (status != kSuccess) return status;
    const SQLHSTMT handle = statement->handle;
    const Active active(*this, handle);

    // The bound buffers must stay where they are until the execute.
    const std::size_t markers = statement->input_of_marker.size();
    std::vector<SQLINTEGER> integers(markers, 0);
    std::vector<SQLLEN> indicators(markers, 0);
    SQLFreeStmt(handle, SQL_RESET_PARAMS);
    for (std::size_t k = 0; k < markers; ++k) {
      const std::size_t input = statement->input_of_marker[k];
      if (input >= inputs.size()) return kNotAllVariablesBound;
      const BoundValue& value = inputs[input];
      const auto number = static_cast<SQLUSMALLINT>(k + 1);
      SQLRETURN result = SQL_SUCCESS;
      if (value.kind == BoundValue::Kind::kInteger) {
        integers[k] = value.integer;
        result = SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0,
                                  &integers[k], 0, nullptr);
      } else {
        const bool null = value.kind == BoundValue::Kind::kNull;
        const std::size_t length = null ? 0 : value.text.size();
        indicators[k] = null ? SQL_NULL_DATA : static_cast<SQLLEN>(length);
        SQLPOINTER data = null ? nullptr : const_cast<char*>(value.text.data());
        result = SQLBindParameter(handle, number, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                  length == 0 ? 1 : length, 0, data, static_cast<SQLLEN>(length),
                                  &indicators[k]);
      }
      if (!succeeded(result)) return failure(SQL_HANDLE_STMT, handle);
    }

    const SQLRETURN executed = SQLExecute(handle);
    if (!succeeded(executed) && executed != SQL_NO_DATA) {
      status = failure(SQL_HANDLE_STMT, handle);
      SQLFreeStmt(handle, SQL_CLOSE);
      return status;
    }
    if (max_rows > 0) status = fetch(handle, max_rows, rows);
    SQLFreeStmt(handle, SQL_CLOSE);
    return status;
  }

  std::int32_t fetch(SQLHSTMT handle, std::size_t max_rows, std::vector<FetchedRow>& rows) {
    SQLSMALLINT columns = 0;
    if (!succeeded(SQLNumResultCols(handle, &columns))) return failure(SQL_HANDLE_STMT, handle);
    while (rows.size() < max_rows) {
      const SQLRETURN fetched = SQLFetch(handle);
      if (fetched == SQL_NO_DATA) break;
      if (!succeeded(fetched)) return failure(SQL_HANDLE_STMT, handle);
      FetchedRow row;
      for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columns); ++column) {
        std::optional<std::string> value;
        const std::int32_t status = column_text(handle, column, value);
        if (status != kSuccess) return status;
        row.push_back(std::move(value));
      }
      rows.push_back(std::move(row));
    }
    return kSuccess;
  }

  // One column as text, in pieces when it is longer than the buffer; nullopt for NULL.
  std::int32_t column_text(SQLHSTMT handle, SQLUSMALLINT column,
                           std::optional<std::string>& value) {
    char buffer[512];
    std::string text;
    for (;;) {
      SQLLEN indicator = 0;
      const SQLRETURN result =
          SQLGetData(handle, column, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
      if (result == SQL_NO_DATA) break;
      if (!succeeded(result)) return failure(SQL_HANDLE_STMT, handle);
      if (indicator == SQL_NULL_DATA) {
        value.reset();
        return kSuccess;
      }
      // A piece fills the buffer but for its terminator; the last one tells its length.
      const bool more =
          indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
      text.append(buffer, more ? sizeof buffer - 1 : static_cast<std::size_t>(indicator));
      if (result == SQL_SUCCESS) break;
    }
    value = std::move(text);
    return kSuccess;
  }

  // The server or the link is gone, and with it the transaction: everything after reports it.
  std::int32_t lose_session() {
    lost_ = true;
    return kConnectionLost;
  }

  SQLHENV environment_;
  SQLHDBC connection_;
  Dialect dialect_;
  // The dialect aborts the transaction on a failed statement: each runs after a savepoint.
  bool savepoints_;
  SQLHSTMT control_;
  // By session schema and the dialect's text; together with the arrays' ones and the control
  // handle below Oracle's default limit of open cursors.
  Statements prepared_{kStatementsKept};
  ArraySupport arrays_;
  int query_arrays_ = -1;  // takes_query_arrays(): not asked yet
  // Where the statement-level rollback's savepoint stands, on a dialect that needs it.
  StatementSavepoint savepoint_{[this](const std::string& text) { return run_control(text); }};
  Statements array_statements_{kStatementsKept};  // as prepared_
  bool lost_ = false;
  std::int32_t hint_refusal_ = kSuccess;
  std::string detour_;  // see detour()
  std::mutex active_mutex_;
  SQLHSTMT active_ = SQL_NULL_HSTMT;
};

// One statement's text, inputs and rows, owned by the call that runs it: a call past its
// deadline may go on writing here after the caller has returned.
struct StatementCall {
  StatementCall(std::string_view statement_text, std::span<const BoundValue> values,
                std::size_t rows_wanted)
      : text(statement_text), max_rows(rows_wanted) {
    texts.reserve(values.size());
    for (const BoundValue& value : values) texts.emplace_back(value.text);
    for (std::size_t i = 0; i < values.size(); ++i) {
      inputs.push_back({values[i].kind, texts[i], values[i].integer});
    }
  }
  std::string text;
  std::vector<std::string> texts;
  std::vector<BoundValue> inputs;  // their texts in texts
  std::size_t max_rows;
  bool reads = false;
  std::vector<FetchedRow> rows;
  std::int32_t status = kSuccess;
};

// The connection as the client operations see it: every call to the driver runs on a worker
// and is waited for at most kClientDeadline. Past it, the statement is cancelled (from a thread
// of its own, as cancelling may wait for the server too), and the session counts as lost:
// the run ends without a commit, and the driver's connection is left as it is.
class OdbcConnection : public Connection {
 public:
  OdbcConnection(std::shared_ptr<OdbcLink> link, std::unique_ptr<DeadlineWorker> worker)
      : link_(std::move(link)), worker_(std::move(worker)), dialect_(link_->dialect()) {}
  ~OdbcConnection() override {
    if (!lost_) guarded([link = link_] { link->close(); });
  }

  Dialect dialect() const override { return dialect_; }

  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    rows.clear();
    auto call = std::make_shared<StatementCall>(text, inputs, max_rows);
    // The schema switch is a query that changes the session.
    call->reads = !switching_schema_ && is_query(text);
    if (!guarded([link = link_, call] {
          call->status =
              link->run(call->text, call->inputs, call->max_rows, call->reads, call->rows);
        })) {
      return kConnectionLost;
    }
    rows = std::move(call->rows);
    return call->status;
  }

  std::int32_t set_session_schema(std::string_view schema) override {
    if (dialect_ != Dialect::kOracle) {
      switching_schema_ = true;
      const std::int32_t status = switch_postgresql_schema(*this, schema);
      switching_schema_ = false;
      return status;
    }
    auto status = std::make_shared<std::int32_t>(kSuccess);
    if (!guarded([link = link_, status, name = std::string(schema)] {
          *status = link->set_oracle_schema(name);
        })) {
      return kConnectionLost;
    }
    return *status;
  }

  std::int32_t commit() override {
    auto status = std::make_shared<std::int32_t>(kSuccess);
    if (!guarded([link = link_, status] { *status = link->commit(); })) return kConnectionLost;
    return *status;
  }

  bool sends_together() const override { return link_->takes_arrays(); }
  std::int32_t duplicate_hint_refusal() const override { return hint_refusal_; }
  BatchRoute last_batch_route() const override { return route_; }
  ParameterArrays parameter_arrays() const override { return link_->parameter_arrays(); }

  // Queries in one parameter array where the driver answers it with a result set per row.
  void run_queries(std::string_view text, std::span<const std::vector<OwnedValue>> inputs,
                   std::size_t max_rows, std::vector<std::int32_t>& statuses,
                   std::vector<std::vector<FetchedRow>>& rows) override {
    if (inputs.size() < 2 || lost_ || !link_->takes_arrays()) {
      return Connection::run_queries(text, inputs, max_rows, statuses, rows);
    }
    struct QueryCall {
      std::vector<ArrayInsert> queries;
      std::size_t max_rows = 0;
      std::vector<std::int32_t> statuses;
      std::vector<std::vector<FetchedRow>> rows;
      ArrayOutcome outcome = ArrayOutcome::kLost;
      bool arrays = false;
    };
    auto call = std::make_shared<QueryCall>();
    call->max_rows = max_rows;
    for (const std::vector<OwnedValue>& values : inputs) {
      call->queries.push_back({std::string(text), values});
    }
    if (!guarded([link = link_, call] {
          call->arrays = link->takes_query_arrays();
          if (call->arrays) {
            call->outcome =
                link->run_query_array(call->queries, call->max_rows, call->statuses, call->rows);
          }
        })) {
      call->outcome = ArrayOutcome::kLost;
      call->arrays = true;
    }
    if (!call->arrays || call->outcome == ArrayOutcome::kOneByOne) {
      return Connection::run_queries(text, inputs, max_rows, statuses, rows);
    }
    if (call->outcome == ArrayOutcome::kLost) {
      statuses.insert(statuses.end(), inputs.size(), kConnectionLost);
      rows.resize(rows.size() + inputs.size());
      return;
    }
    statuses.insert(statuses.end(), call->statuses.begin(), call->statuses.end());
    for (std::vector<FetchedRow>& fetched : call->rows) rows.push_back(std::move(fetched));
  }

  // Parameter arrays where the driver takes them; when their outcome is in doubt, one by one in
  // the batch's order, each for its exact status. The absorbing form only where the driver
  // counts each row (it tells an absorbed duplicate by its count 0, and elsewhere buys nothing
  // but the risk of a refusal) and the database has not refused it; once it does, the batch
  // runs again in the plain form, as does every later one.
  void run_batch(std::span<const BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    if (batch.size() < 2 || !link_->takes_arrays()) {
      route_ = {
          BatchRoute::Way::kOneByOne, false,
          batch.size() < 2 ? "a batch of one insert" : "the driver takes no parameter arrays"};
      return Connection::run_batch(batch, statuses);
    }
    const bool per_row = link_->parameter_arrays() == ParameterArrays::kPerRow;
    const bool every_form =
        std::none_of(batch.begin(), batch.end(),
                     [](const BatchedInsert& insert) { return insert.absorbing_text.empty(); });
    bool absorbed = per_row && hint_refusal_ == kSuccess && every_form;
    std::string why;  // for the route: why the plain form, and what happened to the arrays
    if (hint_refusal_ != kSuccess) {
      why = "the database refused the hint earlier (status " + std::to_string(hint_refusal_) + ")";
    } else if (!per_row) {
      why = "the driver gives one count per array, which tells no absorbed duplicate";
    } else if (!every_form) {
      why = "an insert of the batch has no duplicate-absorbing form";
    }
    auto call = send_arrays(batch, absorbed);
    if (call->outcome == ArrayOutcome::kOneByOne && absorbed && hint_refusal_ != kSuccess) {
      why = call->detour + ": the batch went again in the plain form";
      absorbed = false;
      call = send_arrays(batch, false);
    }
    const auto also = [&why](const std::string& more) {
      if (!more.empty()) why += (why.empty() ? "" : "; ") + more;
    };
    also(call->detour);
    route_ = {call->outcome == ArrayOutcome::kAnswered ? BatchRoute::Way::kArrays
                                                       : BatchRoute::Way::kOneByOne,
              absorbed, why};
    switch (call->outcome) {
      case ArrayOutcome::kAnswered:
        statuses.insert(statuses.end(), call->answers.begin(), call->answers.end());
        return;
      case ArrayOutcome::kOneByOne: {
        // A status that ends the run, in a row the driver named: the rows before it run one by
        // one for their exact statuses, and it and the rest are not sent again (as
        // Connection::run_batch goes on after such a status).
        const std::size_t failed = std::min(call->failed_row, batch.size());
        const std::size_t first = statuses.size();
        Connection::run_batch(batch.first(failed), statuses);
        const bool ended =
            statuses.size() > first && status_scope(statuses.back()) != StatusScope::kBooking;
        if (failed < batch.size()) {
          statuses.insert(statuses.end(), batch.size() - failed,
                          ended ? statuses.back() : call->failure);
        }
        return;
      }
      case ArrayOutcome::kLost:
        statuses.insert(statuses.end(), batch.size(), kConnectionLost);
        return;
    }
  }

 private:
  struct BatchCall {
    std::vector<ArrayInsert> inserts;
    std::vector<std::int32_t> answers;
    ArrayOutcome outcome = ArrayOutcome::kLost;
    std::size_t failed_row = 0;
    std::int32_t failure = kSuccess;
    std::int32_t hint_refusal = kSuccess;
    std::string detour;
  };

  // The batch as parameter arrays, in the absorbing form or the plain one.
  std::shared_ptr<BatchCall> send_arrays(std::span<const BatchedInsert> batch, bool absorbing) {
    auto call = std::make_shared<BatchCall>();
    call->hint_refusal = hint_refusal_;
    call->inserts.reserve(batch.size());
    for (const BatchedInsert& insert : batch) {
      call->inserts.push_back(
          {std::string(absorbing ? insert.absorbing_text : insert.text), insert.inputs});
    }
    if (!guarded([link = link_, call] {
          call->outcome =
              link->run_arrays(call->inserts, call->answers, call->failed_row, call->failure);
          call->hint_refusal = link->hint_refusal();
          call->detour = link->detour();
        })) {
      call->outcome = ArrayOutcome::kLost;
    }
    hint_refusal_ = call->hint_refusal;
    return call;
  }

  // Runs call on the worker within the deadline; false (and the session lost) when it is past.
  bool guarded(std::function<void()> call) {
    if (lost_) return false;
    if (worker_->run(std::move(call), kClientDeadline)) return true;
    lost_ = true;
    std::thread([link = link_] { link->cancel(); }).detach();
    return false;
  }

  std::shared_ptr<OdbcLink> link_;
  std::unique_ptr<DeadlineWorker> worker_;
  Dialect dialect_;
  bool lost_ = false;  // a call went past its deadline
  bool switching_schema_ = false;
  std::int32_t hint_refusal_ = kSuccess;  // as the link told it after a batch
  BatchRoute route_;                      // how the last batch went
};

}  // namespace

namespace {

// What connecting gives, owned by the call that connects (see StatementCall).
struct ConnectCall {
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  std::string connection_string;
  std::shared_ptr<OdbcLink> link;
  std::int32_t status = kSuccess;
};

// Sets up a PostgreSQL session (autocommit still on): the booking files' encoding, and a lock
// wait that ends before the statement timeout, as the libpq backend has it.
std::int32_t set_up_postgresql_session(SQLHDBC connection, Dialect dialect) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement))) {
    return odbc_statement_status(dialect, diagnostic_of(SQL_HANDLE_DBC, connection));
  }
  std::int32_t status = kSuccess;
  for (const std::string& text :
       {std::string("SET client_encoding TO 'WIN1252'"),
        "SET lock_timeout TO " + std::to_string(std::chrono::milliseconds(kLockTimeout).count())}) {
    if (status == kSuccess && !succeeded(SQLExecDirect(statement, sql_text(text), SQL_NTS))) {
      status = odbc_statement_status(dialect, diagnostic_of(SQL_HANDLE_STMT, statement));
    }
    SQLFreeStmt(statement, SQL_CLOSE);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return status;
}

// Connects, picks the dialect and opens the run's transaction; on failure lets go of the
// handles and sets call.status.
void connect_with(ConnectCall& call) {
  const SQLHDBC connection = call.connection;
  SQLCHAR completed[1024];
  SQLSMALLINT completed_length = 0;
  const SQLRETURN connected = SQLDriverConnect(
      connection, nullptr, sql_text(call.connection_string), SQL_NTS, completed,
      static_cast<SQLSMALLINT>(sizeof completed), &completed_length, SQL_DRIVER_NOPROMPT);
  // No copy of the password stays behind.
  std::memset(call.connection_string.data(), 0, call.connection_string.size());
  std::memset(completed, 0, sizeof completed);
  auto give_up = [&](std::int32_t failed_status, bool disconnect) {
    if (disconnect) SQLDisconnect(connection);
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, call.environment);
    call.status = failed_status;
  };
  if (!succeeded(connected)) {
    return give_up(odbc_connect_status(diagnostic_of(SQL_HANDLE_DBC, connection)), false);
  }

  SQLCHAR product[128] = {};
  SQLSMALLINT product_length = 0;
  SQLGetInfo(connection, SQL_DBMS_NAME, product, static_cast<SQLSMALLINT>(sizeof product),
             &product_length);
  const std::optional<Dialect> dialect = dialect_of_product(reinterpret_cast<const char*>(product));
  if (!dialect) return give_up(kFeatureNotEnabled, true);

  // The booking files are Windows-1252: a PostgreSQL server is told so and converts them to and
  // from its own encoding (psqlODBC's ANSI driver passes the bytes on as they are). Before the
  // run's transaction, so that no rollback undoes it; the lock timeout alike.
  if (*dialect == Dialect::kPostgresql) {
    const std::int32_t status = set_up_postgresql_session(connection, *dialect);
    if (status != kSuccess) return give_up(status, true);
  }

  // One transaction for the whole run, committed once at its end.
  if (!succeeded(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                                   reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    return give_up(odbc_statement_status(*dialect, diagnostic_of(SQL_HANDLE_DBC, connection)),
                   true);
  }
  SQLHSTMT control = SQL_NULL_HSTMT;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &control))) {
    return give_up(odbc_statement_status(*dialect, diagnostic_of(SQL_HANDLE_DBC, connection)),
                   true);
  }
  SQLSetStmtAttr(control, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(kQueryTimeoutSeconds), 0);
  call.link = std::make_shared<OdbcLink>(call.environment, connection, *dialect, control,
                                         array_support(connection));
  call.status = kSuccess;
}

}  // namespace

std::unique_ptr<Connection> connect_odbc(std::string_view target, std::string_view login,
                                         std::string_view password, std::int32_t& status) {
  // An empty alias names no data source; a driver manager would take its default one (or,
  // unixODBC, the first it finds), a database that nobody chose.
  if (target.empty()) {
    status = kCannotResolveAlias;
    return nullptr;
  }
  auto call = std::make_shared<ConnectCall>();
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &call->environment))) {
    status = kCannotResolveAlias;  // no driver manager to speak of
    return nullptr;
  }
  SQLSetEnvAttr(call->environment, SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, call->environment, &call->connection))) {
    SQLFreeHandle(SQL_HANDLE_ENV, call->environment);
    status = kCannotResolveAlias;
    return nullptr;
  }
  // Not every driver has these; without one its own default applies, and the deadline stays.
  SQLSetConnectAttr(call->connection, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  SQLSetConnectAttr(call->connection, SQL_ATTR_CONNECTION_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kConnectionTimeoutSeconds), 0);
  call->connection_string = odbc_connection_string(target, login, password);

  auto worker = std::make_unique<DeadlineWorker>();
  if (!worker->run([call] { connect_with(*call); }, kConnectDeadline)) {
    // The server does not answer: the handles stay with the call that waits for it.
    status = kConnectTimeout;
    return nullptr;
  }
  status = call->status;
  if (call->link == nullptr) return nullptr;
  return std::make_unique<OdbcConnection>(std::move(call->link), std::move(worker));
}

}  // namespace zarvelt::db
