// The run's database session: connecting, the schema switch, the inserts run or sent, and the
// commit.
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
  session = std::make_unique<Session>(std::move(connection));
  result.status = session->switch_schema(schema);
  if (result.status == kSuccess) session->home_schema_ = session->schema_;
  return result;
}

std::int32_t Session::switch_schema(std::string_view schema) {
  // A client schema read from a CHAR column arrives blank-padded, and the database reads the
  // switch statement's name without its trailing blanks: so does the check. The session keeps
  // the name as it was asked for, which is what its callers compare with.
  std::string_view name = schema;
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (!is_plain_identifier(name)) return kInvalidIdentifier;
  const std::int32_t status = connection_->set_session_schema(name);
  if (status == kSuccess) schema_ = schema;
  return status;
}

std::int32_t Session::commit() { return connection_->commit(); }

std::int32_t Session::run_insert(const BatchedInsert& insert) {
  std::vector<BoundValue> inputs;
  inputs.reserve(insert.inputs.size());
  for (const OwnedValue& value : insert.inputs) inputs.push_back(value.bound());
  std::vector<FetchedRow> rows;
  return connection_->run(insert.text, inputs, 0, rows);
}

void Session::send_inserts(std::span<const BatchedInsert> batch,
                           std::vector<std::int32_t>& statuses) {
  connection_->run_batch(batch, statuses);
}

std::int32_t read_server_time(Session& session, std::string& server_time) {
  std::string text;
  const OutputVariable outputs[] = {text_output(text, 20)};
  Connection& connection = session.connection();
  const std::int32_t status = select_one_row(
      connection, sql_dialect(connection.dialect()).server_time_query(), outputs, {});
  server_time = status == kSuccess ? text : std::string();
  return status;
}

}  // namespace zarvelt::db
