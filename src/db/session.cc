// The run's database session: connecting, the schema switch, the queue of inserts and their
// answers by ticket (the lifecycle is described at Session in session.h), and the commit.
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
  if (!is_plain_identifier(schema)) return kInvalidIdentifier;
  const std::int32_t status = connection_->set_session_schema(schema);
  if (status == kSuccess) schema_ = schema;
  return status;
}

std::int32_t Session::commit() {
  send_queued();
  return connection_->commit();
}

Ticket Session::answer_at_once(std::int32_t status) {
  answers_.emplace_back(status);
  return first_kept_ + static_cast<Ticket>(answers_.size()) - 1;
}

Ticket Session::queue_insert(BatchedInsert insert) {
  if (!sends_together()) {
    // One at a time: the insert as it always ran, its answer waited for.
    std::vector<BoundValue> inputs;
    for (const OwnedValue& value : insert.inputs) inputs.push_back(value.bound());
    std::vector<FetchedRow> rows;
    return answer_at_once(connection_->run(insert.text, inputs, 0, rows));
  }
  answers_.emplace_back(std::nullopt);
  const Ticket ticket = first_kept_ + static_cast<Ticket>(answers_.size()) - 1;
  queued_.push_back(std::move(insert));
  queued_tickets_.push_back(ticket);
  if (queued_.size() >= batch_size_) send_queued();
  return ticket;
}

void Session::send_queued() {
  if (queued_.empty()) return;
  std::vector<std::int32_t> statuses;
  connection_->run_batch(queued_, statuses);
  for (std::size_t i = 0; i < queued_tickets_.size(); ++i) {
    const Ticket ticket = queued_tickets_[i];
    if (ticket < first_kept_) continue;  // forgotten unanswered: nobody asks any more
    answers_[static_cast<std::size_t>(ticket - first_kept_)] =
        i < statuses.size() ? statuses[i] : kInternalError;
  }
  queued_.clear();
  queued_tickets_.clear();
}

std::optional<std::int32_t> Session::answer(Ticket ticket) const {
  if (ticket < first_kept_) return std::nullopt;
  const auto index = static_cast<std::size_t>(ticket - first_kept_);
  if (index >= answers_.size()) return std::nullopt;
  return answers_[index];
}

void Session::forget_answers_before(Ticket ticket) {
  while (first_kept_ < ticket && !answers_.empty()) {
    answers_.pop_front();
    ++first_kept_;
  }
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
