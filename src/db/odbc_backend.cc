// The ODBC backend: alias "odbc:<data source name or connection string>", and any alias
// without a backend prefix as the name of a data source (an installation's NET8 alias names
// the data source that the administrator defines for Oracle's driver). LOGIN and PASS go in as
// UID and PWD.
//
// The product behind the data source (SQL_DBMS_NAME) picks the statement texts. On PostgreSQL a
// failed statement would abort the whole transaction, so there every statement runs under a
// savepoint and is rolled back to it when it fails; the production database needs none.
//
// Defaults, so that a dead server cannot hang the run: login timeout 10 s, query timeout 30 s.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/connection.h"
#include "db/odbc_translation.h"
#include "db/postgresql_errors.h"

namespace zarvelt::db {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 10;
constexpr SQLULEN kQueryTimeoutSeconds = 30;
constexpr std::string_view kSavepoint = "zarvelt_statement";

bool succeeded(SQLRETURN result) {
  return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

SQLCHAR* sql_text(const std::string& text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

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

// One prepared statement, kept for the whole run.
struct PreparedStatement {
  SQLHSTMT handle = SQL_NULL_HSTMT;
  std::vector<std::size_t> input_of_marker;
};

class OdbcConnection : public Connection {
 public:
  OdbcConnection(SQLHENV environment, SQLHDBC connection, Dialect dialect, SQLHSTMT control)
      : environment_(environment), connection_(connection), dialect_(dialect), control_(control) {}

  ~OdbcConnection() override {
    for (auto& [text, statement] : prepared_) SQLFreeHandle(SQL_HANDLE_STMT, statement.handle);
    SQLFreeHandle(SQL_HANDLE_STMT, control_);
    // Only a commit keeps work; a driver refuses to disconnect inside a transaction.
    SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK);
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    SQLFreeHandle(SQL_HANDLE_ENV, environment_);
  }

  Dialect dialect() const override { return dialect_; }

  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    rows.clear();
    if (lost_) return kConnectionLost;
    const bool savepoints = dialect_ == Dialect::kPostgresql;
    if (savepoints) {
      const std::int32_t status = run_control("SAVEPOINT " + std::string(kSavepoint));
      if (status != kSuccess) return status;
    }
    const std::string statement_text(text);
    std::int32_t status = run_statement(statement_text, inputs, max_rows, rows);
    if (lost_) return kConnectionLost;
    if (status != kSuccess) {
      rows.clear();
      const bool restored = !savepoints || restore_savepoint();
      forget(statement_text);  // prepared again next time, against the schema of then
      return restored ? status : lose_session();
    }
    if (savepoints) status = run_control("RELEASE SAVEPOINT " + std::string(kSavepoint));
    if (status != kSuccess) rows.clear();
    return status;
  }

  std::int32_t set_session_schema(std::string_view schema) override {
    if (dialect_ == Dialect::kOracle) {
      if (lost_) return kConnectionLost;
      return run_control("ALTER SESSION SET CURRENT_SCHEMA=" + std::string(schema));
    }
    return switch_postgresql_schema(*this, schema);
  }

  std::int32_t commit() override {
    if (lost_) return kConnectionLost;
    if (succeeded(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_COMMIT))) return kSuccess;
    const OdbcDiagnostic diagnostic = diagnostic_of(SQL_HANDLE_DBC, connection_);
    if (is_lost_session(dialect_, diagnostic)) return lose_session();
    return odbc_statement_status(dialect_, diagnostic);
  }

 private:
  std::int32_t failure(SQLSMALLINT handle_type, SQLHANDLE handle) {
    const OdbcDiagnostic diagnostic = diagnostic_of(handle_type, handle);
    if (is_lost_session(dialect_, diagnostic)) return lose_session();
    return odbc_statement_status(dialect_, diagnostic);
  }

  // A statement without inputs or rows on the control handle (savepoints, schema switch).
  std::int32_t run_control(const std::string& text) {
    const SQLRETURN result = SQLExecDirect(control_, sql_text(text), SQL_NTS);
    const std::int32_t status =
        succeeded(result) || result == SQL_NO_DATA ? kSuccess : failure(SQL_HANDLE_STMT, control_);
    SQLFreeStmt(control_, SQL_CLOSE);
    return status;
  }

  // Undoes the failed statement only; the transaction goes on. False when that is not
  // possible (the driver or server already ended the transaction).
  bool restore_savepoint() {
    return !lost_ && run_control("ROLLBACK TO SAVEPOINT " + std::string(kSavepoint)) == kSuccess &&
           run_control("RELEASE SAVEPOINT " + std::string(kSavepoint)) == kSuccess;
  }

  std::int32_t prepared(const std::string& text, PreparedStatement*& statement) {
    if (const auto cached = prepared_.find(text); cached != prepared_.end()) {
      statement = &cached->second;
      return kSuccess;
    }
    OdbcStatementText converted = odbc_statement_text(text, dialect_);
    PreparedStatement made;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &made.handle))) {
      return failure(SQL_HANDLE_DBC, connection_);
    }
    // Not every driver has a query timeout; without one the statement runs as it is.
    SQLSetStmtAttr(made.handle, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(kQueryTimeoutSeconds), 0);
    if (!succeeded(SQLPrepare(made.handle, sql_text(converted.text), SQL_NTS))) {
      const std::int32_t status = failure(SQL_HANDLE_STMT, made.handle);
      SQLFreeHandle(SQL_HANDLE_STMT, made.handle);
      return status;
    }
    made.input_of_marker = std::move(converted.input_of_marker);
    statement = &prepared_.emplace(text, std::move(made)).first->second;
    return kSuccess;
  }

  void forget(const std::string& text) {
    if (const auto cached = prepared_.find(text); cached != prepared_.end()) {
      SQLFreeHandle(SQL_HANDLE_STMT, cached->second.handle);
      prepared_.erase(cached);
    }
  }

  std::int32_t run_statement(const std::string& text, std::span<const BoundValue> inputs,
                             std::size_t max_rows, std::vector<FetchedRow>& rows) {
    PreparedStatement* statement = nullptr;
    std::int32_t status = prepared(text, statement);
    if (status != kSuccess) return status;
    const SQLHSTMT handle = statement->handle;

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
  SQLHSTMT control_;
  std::unordered_map<std::string, PreparedStatement> prepared_;  // by the dialect's text
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<Connection> connect_odbc(std::string_view target, std::string_view login,
                                         std::string_view password, std::int32_t& status) {
  // An empty alias names no data source; a driver manager would take its default one (or,
  // unixODBC, the first it finds), a database that nobody chose.
  if (target.empty()) {
    status = kCannotResolveAlias;
    return nullptr;
  }
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) {
    status = kCannotResolveAlias;  // no driver manager to speak of
    return nullptr;
  }
  SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    status = kCannotResolveAlias;
    return nullptr;
  }
  SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);

  std::string connection_string = odbc_connection_string(target, login, password);
  SQLCHAR completed[1024];
  SQLSMALLINT completed_length = 0;
  const SQLRETURN connected = SQLDriverConnect(
      connection, nullptr, sql_text(connection_string), SQL_NTS, completed,
      static_cast<SQLSMALLINT>(sizeof completed), &completed_length, SQL_DRIVER_NOPROMPT);
  // No copy of the password stays behind.
  std::memset(connection_string.data(), 0, connection_string.size());
  std::memset(completed, 0, sizeof completed);
  auto give_up = [&](std::int32_t failed_status, bool disconnect) {
    if (disconnect) SQLDisconnect(connection);
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    status = failed_status;
    return nullptr;
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
  status = kSuccess;
  return std::make_unique<OdbcConnection>(environment, connection, *dialect, control);
}

}  // namespace zarvelt::db
