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
  if (result.status == kSuccess) session->home_schema = session->schema;
  return result;
}

std::int32_t switch_schema(Session& session, std::string_view schema) {
  if (!is_plain_identifier(schema)) return kInvalidIdentifier;
  const std::int32_t status = session.connection->set_session_schema(schema);
  if (status == kSuccess) session.schema = schema;
  return status;
}

std::int32_t commit(Session& session) {
  send_queued(session);
  return session.connection->commit();
}

Ticket answer_at_once(Session& session, std::int32_t status) {
  session.answers.emplace_back(status);
  return session.first_kept + static_cast<Ticket>(session.answers.size()) - 1;
}

Ticket queue_insert(Session& session, BatchedInsert insert) {
  if (!sends_together(session)) {
    // One at a time: the insert as it always ran, its answer waited for.
    std::vector<BoundValue> inputs;
    for (const OwnedValue& value : insert.inputs) inputs.push_back(value.bound());
    std::vector<FetchedRow> rows;
    return answer_at_once(session, session.connection->run(insert.text, inputs, 0, rows));
  }
  session.answers.emplace_back(std::nullopt);
  const Ticket ticket = session.first_kept + static_cast<Ticket>(session.answers.size()) - 1;
  session.queued.push_back(std::move(insert));
  session.queued_tickets.push_back(ticket);
  if (session.queued.size() >= session.batch_size) send_queued(session);
  return ticket;
}

void send_queued(Session& session) {
  if (session.queued.empty()) return;
  std::vector<std::int32_t> statuses;
  session.connection->run_batch(session.queued, statuses);
  for (std::size_t i = 0; i < session.queued_tickets.size(); ++i) {
    const Ticket ticket = session.queued_tickets[i];
    if (ticket < session.first_kept) continue;  // forgotten unanswered: nobody asks any more
    session.answers[static_cast<std::size_t>(ticket - session.first_kept)] =
        i < statuses.size() ? statuses[i] : kInternalError;
  }
  session.queued.clear();
  session.queued_tickets.clear();
}

std::optional<std::int32_t> answer(const Session& session, Ticket ticket) {
  if (ticket < session.first_kept) return std::nullopt;
  const auto index = static_cast<std::size_t>(ticket - session.first_kept);
  if (index >= session.answers.size()) return std::nullopt;
  return session.answers[index];
}

void forget_answers_before(Session& session, Ticket ticket) {
  while (session.first_kept < ticket && !session.answers.empty()) {
    session.answers.pop_front();
    ++session.first_kept;
  }
}

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
