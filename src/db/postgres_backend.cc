// Placeholder: the PostgreSQL backend follows.
#include "db/client.h"

namespace zarvelt::db {

std::unique_ptr<Connection> connect_postgresql(std::string_view, std::string_view, std::string_view,
                                               std::int32_t& status) {
  status = kCannotResolveAlias;
  return nullptr;
}

}  // namespace zarvelt::db
