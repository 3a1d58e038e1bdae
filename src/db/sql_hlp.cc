#include "db/sql_hlp.h"

#include "config/config_reader.h"
#include "db/client.h"

namespace zarvelt::db {
namespace {

constexpr std::size_t kMaxAliasLength = 41;
// The connect string's host variable holds 100 characters; longer credentials are refused
// with kValueTooLarge before connecting instead of being cut into a wrong login.
constexpr std::size_t kMaxConnectStringLength = 100;
constexpr std::size_t kMaxSchemaSwitchLength = 200;
constexpr std::string_view kSchemaStatementPrefix = "ALTER SESSION SET CURRENT_SCHEMA=";
constexpr std::string_view kCentralSchema = "KVSYSTEM";

// PREPARE then EXECUTE of the schema statement; the PREPARE's status is not examined because
// the EXECUTE reports it again.
std::int32_t run_schema_statement(Connection& connection, const std::string& statement_text) {
  const PreparedSchemaStatement statement = prepare_dynamic(statement_text);
  return execute_dynamic(connection, statement);
}

std::int32_t connect_session(SessionPtr& session, const std::string& login,
                             const std::string& password, const std::string& connect_alias,
                             const std::string& schema_name, std::string& notice) {
  session.reset();
  std::string connect_text = login + "/" + password + "@" + connect_alias;
  if (connect_text.size() > kMaxConnectStringLength) return kValueTooLarge;
  std::int32_t status = kSuccess;
  std::unique_ptr<Connection> connection = connect(connect_text, status, notice);
  connect_text.assign(connect_text.size(), '\0');  // no copy of the password stays behind
  if (connection == nullptr) return status;
  session.reset(new Session{std::move(connection)});

  // The schema statement replaces the connect string in the same 100-character storage.
  const std::string statement_text = std::string(kSchemaStatementPrefix) + schema_name;
  if (statement_text.size() > kMaxConnectStringLength) return kValueTooLarge;
  return run_schema_statement(*session->connection, statement_text);
}

}  // namespace

void SessionCloser::operator()(Session* session) const { delete session; }

std::int32_t open_db_session(SessionPtr& session, const std::string& config_path,
                             std::FILE* console) {
  // Each lookup's value is copied at once: the reader's result belongs to one call.
  const std::string login = read_config_value("", "LOGIN", 0, config_path).value;
  const std::string password = read_config_value("", "PASS", 0, config_path).value;
  std::string connect_alias = read_config_value("", "NET8", 0, config_path).value;
  if (connect_alias.size() > kMaxAliasLength) connect_alias.clear();

  std::string notice;
  const std::int32_t status =
      connect_session(session, login, password, connect_alias, std::string(kCentralSchema), notice);
  if (status != kSuccess) {
    if (!notice.empty()) std::fputs(notice.c_str(), console);
    std::fprintf(console, "Datenbankverbindung fehlgeschlagen, Fehler: %d\n", status);
  }
  return status;
}

std::int32_t db_connect(SessionPtr& session, const std::string& login, const std::string& password,
                        const std::string& connect_alias, const std::string& schema_name) {
  std::string notice;
  return connect_session(session, login, password, connect_alias, schema_name, notice);
}

std::int32_t switch_schema(Session& session, const std::string& schema_name) {
  const std::string statement_text = std::string(kSchemaStatementPrefix) + schema_name;
  if (statement_text.size() > kMaxSchemaSwitchLength) return kValueTooLarge;
  return run_schema_statement(*session.connection, statement_text);
}

int db_commit(Session& session) { return session.connection->commit() == kSuccess ? 1 : 0; }

std::int32_t read_server_time(Session& session, std::string& server_time) {
  static constexpr StatementText kServerTime = {
      "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') from dual",
      "select strftime('%d.%m.%Y %H:%M:%S','now','localtime')",
      "select to_char(localtimestamp,'dd.mm.yyyy hh24:mi:ss')",
  };
  std::string text;
  const OutputVariable outputs[] = {text_output(text, 20)};
  const std::int32_t status = select_one_row(*session.connection, kServerTime, outputs, {});
  server_time = status == kSuccess ? text : std::string();
  return status;
}

}  // namespace zarvelt::db
