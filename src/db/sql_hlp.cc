// Placeholder until the client layer lands: every connection fails as an unresolved alias.
#include "db/sql_hlp.h"

namespace zarvelt::db {

struct Session {};

void SessionCloser::operator()(Session* session) const { delete session; }

std::int32_t open_db_session(SessionPtr& session, const std::string&, std::FILE* console) {
  std::int32_t status = db_connect(session, "", "", "", "KVSYSTEM");
  if (status != 0) std::fprintf(console, "Datenbankverbindung fehlgeschlagen, Fehler: %d\n", status);
  return status;
}

std::int32_t db_connect(SessionPtr&, const std::string&, const std::string&, const std::string&,
                        const std::string&) {
  return kCannotResolveAlias;
}

std::int32_t switch_schema(Session&, const std::string&) { return kSchemaMissing; }
int db_commit(Session&) { return 0; }
std::int32_t read_server_time(Session&, std::string& server_time) {
  server_time.clear();
  return kNotConnected;
}

}  // namespace zarvelt::db
