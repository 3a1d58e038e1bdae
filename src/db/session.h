// The database session of a run: its one connection, the session schema, the server time and
// the single commit. Nothing here or above says which backend carries the statements; nothing
// here reads the configuration or prints: the caller hands in the credentials and reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/status.h"

namespace zarvelt::db {

// The connection of a run, open until the session is destroyed.
struct Session {
  std::unique_ptr<Connection> connection;
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

// Commits the run's one transaction; the commit's status.
std::int32_t commit(Session& session);

// The server's time as dd.mm.yyyy hh24:mi:ss (19 characters); empty when the query fails.
std::int32_t read_server_time(Session& session, std::string& server_time);

}  // namespace zarvelt::db
