// The ODBC backend's statement-level rollback on a product whose failed statement aborts the
// whole transaction (PostgreSQL behind psqlODBC): where the savepoint of dialect.h stands, and
// the control statements that set, move and restore it. It is kept with as few round trips as
// the rule allows: the savepoint stays where it is while only queries run (a failed query is
// rolled back to it and it stays), so that a query costs no round trip of its own for it; a
// statement that changes something leaves it behind, and the next statement moves it up,
// release and set in one control statement.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zarvelt::db {

class StatementSavepoint {
 public:
  // run_control runs a statement without inputs or rows and gives its status.
  explicit StatementSavepoint(std::function<std::int32_t(const std::string&)> run_control)
      : run_control_(std::move(run_control)) {}

  // Makes the savepoint stand right here, where the next statement starts.
  std::int32_t set();
  // A statement that changed something ran after the savepoint.
  void leave_behind() { where_ = Where::kBehind; }
  // Undoes what ran since the savepoint (the failed statement, and queries); the transaction
  // goes on, and the savepoint stays where it was. False when that is not possible (the driver
  // or the server already ended the transaction).
  bool restore();
  // The transaction ended (with or without its commit): no savepoint stands.
  void transaction_ended() { where_ = Where::kNone; }

 private:
  std::function<std::int32_t(const std::string&)> run_control_;
  // None in this transaction; right before the next statement (only queries since it); behind
  // statements that changed something.
  enum class Where { kNone, kHere, kBehind } where_ = Where::kNone;
};

}  // namespace zarvelt::db
