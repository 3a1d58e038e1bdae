// The database session of a run: its one connection, the session schema, the server time and
// the single commit. Nothing here or above says which backend carries the statements; nothing
// here reads the configuration or prints: the caller hands in the credentials and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
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

// The connection of a run, open until the session is destroyed: the session schema, the inserts
// sent in batches, the commit. What waits for the inserts' answers is not the session's: it
// only runs one insert, or sends a batch and gives back each row's status.
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

  // The same as the free functions of these names below.
  const std::string& schema() const { return schema_; }
  const std::string& home_schema() const { return home_schema_; }
  std::int32_t switch_schema(std::string_view schema);
  std::int32_t commit();
  bool sends_together() const { return connection_->sends_together(); }
  std::int32_t duplicate_hint_refusal() const {
    return connection_ ? connection_->duplicate_hint_refusal() : kSuccess;
  }
  std::int32_t run_insert(const BatchedInsert& insert);
  void send_inserts(std::span<const BatchedInsert> batch, std::vector<std::int32_t>& statuses);

 private:
  // Connecting sets the home schema.
  friend ConnectResult connect(std::unique_ptr<Session>& session, std::string_view login,
                               std::string_view password, std::string_view alias,
                               std::string_view schema);

  std::unique_ptr<Connection> connection_;
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
// not a plain identifier (letters, digits, _ $ #, 1 to 30 characters) once its trailing blanks
// are left out is refused before any SQL is built.
inline std::int32_t switch_schema(Session& session, std::string_view schema) {
  return session.switch_schema(schema);
}
// Where unprefixed table names resolve now, and where connecting put the session.
inline const std::string& session_schema(const Session& session) { return session.schema(); }
inline const std::string& home_schema(const Session& session) { return session.home_schema(); }

// Commits the run's one transaction; the commit's status.
inline std::int32_t commit(Session& session) { return session.commit(); }

// True when statements sent together (a batch of inserts, the lookups of many keys) cost fewer
// round trips than one by one; false where the backend runs them one by one anyway (embedded
// SQLite), so that batching and reading ahead gain nothing.
inline bool sends_together(const Session& session) { return session.sends_together(); }
// kSuccess, or the status with which the database refused the form of the inserts that sends
// them together: the run went on with each insert on its own, for the run record to say.
inline std::int32_t duplicate_hint_refusal(const Session& session) {
  return session.duplicate_hint_refusal();
}
// Runs one insert at once; its status.
inline std::int32_t run_insert(Session& session, const BatchedInsert& insert) {
  return session.run_insert(insert);
}
// Sends the inserts in order, in one round trip where the backend sends them together, and
// appends to statuses each row's status: the one it would have had on its own at that point of
// the run (a duplicate key: kUniqueConstraint).
inline void send_inserts(Session& session, std::span<const BatchedInsert> batch,
                         std::vector<std::int32_t>& statuses) {
  session.send_inserts(batch, statuses);
}

// The server's time as dd.mm.yyyy hh24:mi:ss (19 characters); empty when the query fails.
std::int32_t read_server_time(Session& session, std::string& server_time);

}  // namespace zarvelt::db
