// The queue of protocol inserts: batches sent through the session, each answer pushed to its
// waiter (the lifecycle and its invariants: insert_queue.h).
#include "handlers/insert_queue.h"

#include <cstdio>
#include <cstdlib>

namespace zarvelt {

void invariant_broken(int number, const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant %d broken: %s\n", file, line, number, condition);
  std::abort();
}

void InsertQueue::queue(const db::InsertRow& row, InsertWaiter& waiter) {
  db::BatchedInsert insert;
  const std::int32_t refused = db::prepare_insert(session_, row, insert);
  if (refused != db::kSuccess) {
    waiter.take(refused);
  } else if (batch_size_ == 1) {
    waiter.take(db::run_insert(session_, insert));
  } else {
    waiting_.push_back(std::move(insert));
    waiters_.push_back(&waiter);
    if (waiting_.size() >= batch_size_) send();
  }
  ZARVELT_INVARIANT(2, waiting_.size() < batch_size_);
}

void InsertQueue::flush() {
  if (!waiting_.empty()) send();
  ZARVELT_INVARIANT(3, waiting_.empty());
}

void InsertQueue::drop() {
  waiting_.clear();
  waiters_.clear();
  ZARVELT_INVARIANT(3, waiting_.empty());
}

void InsertQueue::send() {
  // Taken out of the queue before anyone is answered.
  std::vector<db::BatchedInsert> batch;
  batch.swap(waiting_);
  std::vector<InsertWaiter*> waiters;
  waiters.swap(waiters_);
  std::vector<std::int32_t> statuses;
  statuses.reserve(batch.size());
  db::send_inserts(session_, batch, statuses);
  ZARVELT_INVARIANT(4, statuses.size() == batch.size());
  for (std::size_t i = 0; i < waiters.size(); ++i) {
    waiters[i]->take(i < statuses.size() ? statuses[i] : db::kInternalError);  // invariant 4
  }
}

}  // namespace zarvelt
