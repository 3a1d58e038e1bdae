// What waits for the protocol inserts' answers, and who takes them. The handlers describe the
// rows they store (a db::InsertRow, with their kind); the transfer loop queues each with the step
// of its line that waits for it; the queue sends them in batches and pushes each answer to its
// waiter, which makes the booking's outcome of it there and then. Across a network each answer
// waited for costs a round trip; inserts need none before the run goes on, so they are sent
// batch_size at a time and a run pays one round trip for many.
//
// An insert's life, and what holds of it (each checked in the sanitizer build, by the function
// named):
//   queued    queue(): its row is prepared in the session's dialect and waits in the queue
//             with its waiter. A row the client refuses before sending (a value too long for
//             its column) is answered at once and never waits.
//   sent      send(), when batch_size inserts wait (queue()), and at flush(): every insert that
//             waits goes to the session in one batch, in queue order. With a batch size of 1
//             each insert runs on its own and is answered before queue() returns.
//   answered  send() pushes each row's status, in queue order, to its waiter
//             (InsertWaiter::answered); the queue keeps no answers.
//   dropped   drop(): the inserts not yet sent are let go of unanswered, when the run ends early
//             and commits nothing; their waiters are gone by then.
// Invariants:
//   1. Every insert queued is answered exactly once, or dropped unsent (InsertWaiter::take).
//   2. Fewer than batch_size inserts wait once queue() returns (queue).
//   3. Nothing waits once flush() or drop() returns (flush, drop).
//   4. Each waiter gets the status of its own row: send() hands the session the rows in queue
//      order and pushes the i-th status to the i-th waiter; a backend that gives back fewer
//      statuses than rows breaks its contract, and the rows without one get kInternalError.
// The loop's side (the lines that wait, their bounds, the order of their output) is described at
// the top of driver/transfer_loop.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/session.h"
#include "db/statements.h"

// An invariant of a lifecycle: checked where ZARVELT_CHECK_INVARIANTS is defined (the sanitizer
// build), and there a breach aborts with its number, condition and place.
#ifdef ZARVELT_CHECK_INVARIANTS
#define ZARVELT_INVARIANT(number, condition) \
  ((condition) ? void() : ::zarvelt::invariant_broken(number, #condition, __FILE__, __LINE__))
#else
#define ZARVELT_INVARIANT(number, condition) ((void)0)
#endif

namespace zarvelt {

[[noreturn]] void invariant_broken(int number, const char* condition, const char* file, int line);

// Who waits for an insert's answer.
class InsertWaiter {
 public:
  virtual ~InsertWaiter() = default;
  // Called by the queue with the insert's status (invariant 1: once).
  void take(std::int32_t status) {
    ZARVELT_INVARIANT(1, !answered_);
    answered_ = true;
    answered(status);
  }

 protected:
  virtual void answered(std::int32_t status) = 0;

 private:
  bool answered_ = false;
};

class InsertQueue {
 public:
  // batch_size: how many inserts are sent together; 1: each runs on its own, at once.
  InsertQueue(db::Session& session, std::size_t batch_size)
      : session_(session), batch_size_(batch_size < 1 ? 1 : batch_size) {}
  InsertQueue(const InsertQueue&) = delete;
  InsertQueue& operator=(const InsertQueue&) = delete;

  // Queues the row's insert for waiter, which must stay until it is answered or dropped. May
  // send what waits, and so answer this insert and others before it returns.
  void queue(const db::InsertRow& row, InsertWaiter& waiter);
  // Sends what waits: afterwards every insert queued is answered.
  void flush();
  // Lets go of the inserts not yet sent, unanswered: the run ends without its commit.
  void drop();

  std::size_t waiting() const { return waiting_.size(); }

 private:
  void send();

  db::Session& session_;
  std::size_t batch_size_;
  std::vector<db::BatchedInsert> waiting_;
  std::vector<InsertWaiter*> waiters_;  // waiters_[i] waits for waiting_[i]
};

}  // namespace zarvelt
