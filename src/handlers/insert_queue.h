// Where the protocol inserts of a run wait for their statuses. The inserts are queued in the
// order of their lines and answered in that order; across a network the queue sends them
// together, so that a run pays one round trip for many. The handlers queue; the transfer loop
// flushes and takes each answer when the line's turn comes. The session's queue is the
// program's; tests use a fake that answers as they script it. An insert's life from queued to
// forgotten, and the bounds on what waits, are described at the top of driver/transfer_loop.cc.
#pragma once

#include <cstdint>
#include <optional>

#include "db/session.h"
#include "db/statements.h"

namespace zarvelt {

class InsertQueue {
 public:
  virtual ~InsertQueue() = default;
  // Queues the row; its ticket. May send what is queued.
  virtual db::Ticket queue_access(const db::AccessRecord& record) = 0;
  virtual db::Ticket queue_event(const db::EventRecord& record) = 0;
  // Sends what is queued: afterwards every ticket handed out has its answer.
  virtual void flush() = 0;
  // The status of ticket; nullopt while it waits (or once forgotten).
  virtual std::optional<std::int32_t> answer(db::Ticket ticket) const = 0;
  // Lets go of the answers before ticket, which the caller has taken.
  virtual void forget_before(db::Ticket ticket) = 0;
};

// The session's queue: batch_size inserts at a time where the backend sends them together,
// each at once where it does not (or with a batch size of 1).
class SessionInsertQueue final : public InsertQueue {
 public:
  explicit SessionInsertQueue(db::Session& session) : session_(session) {}
  db::Ticket queue_access(const db::AccessRecord& record) override {
    return db::queue_access_record(session_, record);
  }
  db::Ticket queue_event(const db::EventRecord& record) override {
    return db::queue_event_record(session_, record);
  }
  void flush() override { db::send_queued(session_); }
  std::optional<std::int32_t> answer(db::Ticket ticket) const override {
    return db::answer(session_, ticket);
  }
  void forget_before(db::Ticket ticket) override { db::forget_answers_before(session_, ticket); }

 private:
  db::Session& session_;
};

}  // namespace zarvelt
