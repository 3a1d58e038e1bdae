#include "db/session.h"

#include "db/client_operations.h"
#include "text/text.h"

namespace zarvelt::db {
ConnectResult connect(SessionPtr& session, std::string_view login, std::string_view password,
                      std::string_view alias, std::string_view schema) {
  session.reset();
  ConnectResult result;
  result.backend = backend_name(alias);
  // Reserved whole, so that growing never leaves a copy of the password in freed memory.
  std::string connect_text;
  connect_text.reserve(login.size() + password.size() + alias.size() + 2);
  connect_text.append(login).append("/").append(password).append("@").append(alias);
  if (connect_text.size() > kMaxConnectStringLength) {
    wipe(connect_text);
    result.status = kValueTooLarge;
    return result;
  }
  std::unique_ptr<Connection> connection =
      open_connection(connect_text, result.status, result.message);
  wipe(connect_text);  // no copy of the password stays behind
  if (connection == nullptr) return result;
  session = std::make_unique<Session>(Session{std::move(connection)});
  result.status = switch_schema(*session, schema);
  return result;
}

std::int32_t switch_schema(Session& session, std::string_view schema) {
  if (!is_plain_identifier(schema)) return kInvalidIdentifier;
  return session.connection->set_session_schema(schema);
}

std::int32_t commit(Session& session) { return session.connection->commit(); }

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
