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

// An insert's place in the order of the run's inserts, to ask for its status once it is in.
using Ticket = std::int64_t;

// The connection of a run, open until the session is destroyed, and the inserts waiting to be
// sent together. Across a network each answer waited for costs a round trip; inserts need no
// answer before the run goes on, so they are sent batch_size at a time.
struct Session {
  explicit Session(std::unique_ptr<Connection> open = nullptr) : connection(std::move(open)) {}

  std::unique_ptr<Connection> connection;
  std::size_t batch_size = 1;  // 1: each insert runs at once and is answered before the next
  std::vector<BatchedInsert> queued;
  std::vector<Ticket> queued_tickets;
  // The statuses of the tickets from first_kept on; nullopt while the insert waits.
  std::deque<std::optional<std::int32_t>> answers;
  Ticket first_kept = 0;
  // Where unprefixed table names resolve now: the schema connecting put the session in, or
  // the last one switched to.
  std::string schema;
  std::string home_schema;  // the one connecting put it in
};
using SessionPtr = std::unique_ptr<Session>;

// The central schema, where every run's session starts.
inline constexpr std::string_view kCentralSchema = "KVSYSTEM";

// The production client's host variables: the NET8 alias holds 41 characters, the connect
// string login/password@alias 100. The configuration tool refuses values beyond them.
inline constexpr std::size_t kMaxAliasLength = 41;
inline constexpr std::size_t kMaxConnectStringLength = 100;

struct ConnectResult {
  std::int32_t status = kSuccess;
  std::string backend;  // "sqlite", "postgresql", "odbc" as the alias chose, "" for none
  std::string message;  // a console line beyond the status (a backend missing from the build)
};

// Connects with login/password@alias and makes schema the session schema. Login, password and
// alias together longer than its 100-character connect string are refused (kValueTooLarge) rather
// than cut into a wrong login. The password never reaches the message. On failure session is
// empty unless the connection was made and only the schema could not be set.
ConnectResult connect(SessionPtr& session, std::string_view login, std::string_view password,
                      std::string_view alias, std::string_view schema);

// Makes schema the session schema: later unprefixed table names resolve there. A name that is
// not a plain identifier (letters, digits, _ $ #, 1 to 30 characters) is refused before any
// SQL is built.
std::int32_t switch_schema(Session& session, std::string_view schema);
// Where unprefixed table names resolve now, and where connecting put the session.
inline const std::string& session_schema(const Session& session) { return session.schema; }
inline const std::string& home_schema(const Session& session) { return session.home_schema; }

// Commits the run's one transaction, after sending what is queued; the commit's status.
std::int32_t commit(Session& session);

// Queues an insert (in the connection's dialect); sends the queue when it holds batch_size. A
// backend that runs statements one by one anyway (embedded SQLite) runs it at once.
Ticket queue_insert(Session& session, BatchedInsert insert);
// True when statements sent together cost fewer round trips than one by one, and the run may
// send them so (a batch size of 1 asks for every statement on its own, read-ahead included).
inline bool sends_together(const Session& session) {
  return session.batch_size > 1 && session.connection->sends_together();
}
// kSuccess, or the status with which the database refused the form of the inserts that sends
// them together: the run went on with each insert on its own, for the run record to say.
inline std::int32_t duplicate_hint_refusal(const Session& session) {
  return session.connection ? session.connection->duplicate_hint_refusal() : kSuccess;
}
// A ticket answered at once with status, for an insert refused before it could be sent.
Ticket answer_at_once(Session& session, std::int32_t status);
// Sends the queued inserts and waits for their statuses.
void send_queued(Session& session);
// The status of ticket, nullopt while it waits (or once forgotten).
std::optional<std::int32_t> answer(const Session& session, Ticket ticket);
// Drops the answers of the tickets before ticket, which the caller has taken.
void forget_answers_before(Session& session, Ticket ticket);

// The server's time as dd.mm.yyyy hh24:mi:ss (19 characters); empty when the query fails.
std::int32_t read_server_time(Session& session, std::string& server_time);

}  // namespace zarvelt::db
