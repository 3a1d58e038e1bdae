// The ODBC backend's savepoint emulation (see odbc_savepoints.h).
#include "db/odbc_savepoints.h"

#include "db/dialect.h"
#include "db/status.h"

namespace zarvelt::db {

std::int32_t StatementSavepoint::set() {
  if (where_ == Where::kHere) return kSuccess;
  const std::string set = savepoint_text();
  const std::int32_t status =
      run_control_(where_ == Where::kNone ? set : release_savepoint_text() + ";" + set);
  where_ = status == kSuccess ? Where::kHere : Where::kNone;
  return status;
}

bool StatementSavepoint::restore() {
  return run_control_(rollback_to_savepoint_text()) == kSuccess;
}

}  // namespace zarvelt::db
