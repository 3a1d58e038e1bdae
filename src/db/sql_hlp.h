// The database session: the one connection of a run, its session schema, the server time and
// the single commit. Nothing here or above says which backend carries the statements.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "db/status.h"

namespace zarvelt::db {

struct Session;  // the connection, its backend and its prepared statements

struct SessionCloser {
  void operator()(Session* session) const;
};
using SessionPtr = std::unique_ptr<Session, SessionCloser>;

// The connection step: reads LOGIN, PASS and NET8 from the configuration file at
// config_path, connects and sets the session schema KVSYSTEM. On failure prints
// "Datenbankverbindung fehlgeschlagen, Fehler: %d\n" on console and returns the status.
std::int32_t open_db_session(SessionPtr& session, const std::string& config_path,
                             std::FILE* console);

// Connects with login/password@alias and sets the session schema to schema_name.
std::int32_t db_connect(SessionPtr& session, const std::string& login, const std::string& password,
                        const std::string& connect_alias, const std::string& schema_name);

// Makes schema_name the session schema: later unprefixed table names resolve there.
std::int32_t switch_schema(Session& session, const std::string& schema_name);

// Commits the run's one transaction: 1 when the commit's status is 0, else 0.
int db_commit(Session& session);

// The server's time as dd.mm.yyyy hh24:mi:ss (19 characters); empty when the query fails.
std::int32_t read_server_time(Session& session, std::string& server_time);

}  // namespace zarvelt::db
