// The database session of a run: its one connection, the session schema, the server time and
// the single commit. Nothing here or above says which backend carries the statements; nothing
// here reads the configuration or prints: the caller hands in the credentials and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "db/status.h"

namespace zarvelt::db {

struct ConnectResult {
  std::int32_t status = kSuccess;
  std::string backend;  // "sqlite", "postgresql", "odbc" as the alias chose, "" for none
  std::string message;  // a console line beyond the status (a backend missing from the build)
};

// An insert's place in the order of the run's inserts, to ask for its status once it is in.
using Ticket = std::int64_t;

// The connection of a run, open until the session is destroyed, and the inserts waiting to be
// sent together. Across a network each answer waited for costs a round trip; inserts need no
// answer before the run goes on, so they are sent batch_size at a time.
//
// An insert's life in the session, by its ticket (the run's inserts numbered from 0 in order):
//   queued     queue_insert keeps its text and its own copy of its inputs; the ticket's answer
//              is empty (nullopt);
//   sent       once batch_size are queued, or at send_queued (before the commit, and wherever
//              the caller must know an answer), the queue goes to the connection in one call,
//              in order, and is emptied;
//   answered   each ticket's answer is then the status that insert would have had on its own
//              at that point of the run (a duplicate key: kUniqueConstraint);
//   forgotten  forget_answers_before drops the answers the caller has taken; answer() then
//              says nullopt, as for a ticket still waiting.
// Invariants: tickets are answered in the order they were given; answers_ holds the tickets
// from first_kept_ on, and queued_tickets_ (those of queued_) are always the last of them. An
// insert refused before it could be sent (answer_at_once), and every insert when the session
// does not send together (a batch size of 1, or a backend that runs statements one by one
// anyway), is answered the moment its ticket is given. A ticket forgotten before its batch is
// sent gets no answer kept.
class Session {
 public:
  explicit Session(std::unique_ptr<Connection> open = nullptr) : connection_(std::move(open)) {}

  // The connection the statements run on (for src/db's statements; there once connected).
  Connection& connection() const { return *connection_; }

  // Puts a connection in front of the one the session has, given it by wrap: tests watch or
  // change what reaches the database this way. The session's state stays as it is.
  template <typename Wrap>
  void wrap_connection(Wrap wrap) {
    connection_ = wrap(std::move(connection_));
  }

  // How many inserts are sent together; 1 (the default): each runs at once and is answered
  // before the next.
  void set_batch_size(std::size_t batch_size) { batch_size_ = batch_size; }
  std::size_t batch_size() const { return batch_size_; }

  // The same as the free functions of these names below.
  const std::string& schema() const { return schema_; }
  const std::string& home_schema() const { return home_schema_; }
  std::int32_t switch_schema(std::string_view schema);
  std::int32_t commit();
  bool sends_together() const { return batch_size_ > 1 && connection_->sends_together(); }
  std::int32_t duplicate_hint_refusal() const {
    return connection_ ? connection_->duplicate_hint_refusal() : kSuccess;
  }
  Ticket queue_insert(BatchedInsert insert);
  Ticket answer_at_once(std::int32_t status);
  void send_queued();
  std::optional<std::int32_t> answer(Ticket ticket) const;
  void forget_answers_before(Ticket ticket);

 private:
  // Connecting sets the home schema.
  friend ConnectResult connect(std::unique_ptr<Session>& session, std::string_view login,
                               std::string_view password, std::string_view alias,
                               std::string_view schema);

  std::unique_ptr<Connection> connection_;
  std::size_t batch_size_ = 1;
  std::vector<BatchedInsert> queued_;
  std::vector<Ticket> queued_tickets_;
  // The statuses of the tickets from first_kept_ on; nullopt while the insert waits.
  std::deque<std::optional<std::int32_t>> answers_;
  Ticket first_kept_ = 0;
  // Where unprefixed table names resolve now: the schema connecting put the session in, or
  // the last one switched to.
  std::string schema_;
  std::string home_schema_;  // the one connecting put it in
};
using SessionPtr = std::unique_ptr<Session>;

// The production client's host variables: the NET8 alias holds 41 characters, the connect
// string login/password@alias 100. The configuration tool refuses values beyond them.
inline constexpr std::size_t kMaxAliasLength = 41;
inline constexpr std::size_t kMaxConnectStringLength = 100;

// Connects with login/password@alias and makes schema the session schema. Login, password and
// alias together longer than its 100-character connect string are refused (kValueTooLarge) rather
// than cut into a wrong login. The password never reaches the message. On failure session is
// empty unless the connection was made and only the schema could not be set.
ConnectResult connect(SessionPtr& session, std::string_view login, std::string_view password,
                      std::string_view alias, std::string_view schema);

// Makes schema the session schema: later unprefixed table names resolve there. A name that is
// not a plain identifier (letters, digits, _ $ #, 1 to 30 characters) is refused before any
// SQL is built.
inline std::int32_t switch_schema(Session& session, std::string_view schema) {
  return session.switch_schema(schema);
}
// Where unprefixed table names resolve now, and where connecting put the session.
inline const std::string& session_schema(const Session& session) { return session.schema(); }
inline const std::string& home_schema(const Session& session) { return session.home_schema(); }

// Commits the run's one transaction, after sending what is queued; the commit's status.
inline std::int32_t commit(Session& session) { return session.commit(); }

// Queues an insert (in the connection's dialect); sends the queue when it holds batch_size. A
// backend that runs statements one by one anyway (embedded SQLite) runs it at once.
inline Ticket queue_insert(Session& session, BatchedInsert insert) {
  return session.queue_insert(std::move(insert));
}
// True when statements sent together cost fewer round trips than one by one, and the run may
// send them so (a batch size of 1 asks for every statement on its own, read-ahead included).
inline bool sends_together(const Session& session) { return session.sends_together(); }
// kSuccess, or the status with which the database refused the form of the inserts that sends
// them together: the run went on with each insert on its own, for the run record to say.
inline std::int32_t duplicate_hint_refusal(const Session& session) {
  return session.duplicate_hint_refusal();
}
// A ticket answered at once with status, for an insert refused before it could be sent.
inline Ticket answer_at_once(Session& session, std::int32_t status) {
  return session.answer_at_once(status);
}
// Sends the queued inserts and waits for their statuses.
inline void send_queued(Session& session) { session.send_queued(); }
// The status of ticket, nullopt while it waits (or once forgotten).
inline std::optional<std::int32_t> answer(const Session& session, Ticket ticket) {
  return session.answer(ticket);
}
// Drops the answers of the tickets before ticket, which the caller has taken.
inline void forget_answers_before(Session& session, Ticket ticket) {
  session.forget_answers_before(ticket);
}

// The server's time as dd.mm.yyyy hh24:mi:ss (19 characters); empty when the query fails.
std::int32_t read_server_time(Session& session, std::string& server_time);

}  // namespace zarvelt::db
