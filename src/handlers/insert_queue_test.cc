// The insert queue against a scripted connection: batches of 1, 2 and 1000, a failure and a
// run-ending status in the middle of a batch, a batch run again one by one, a row refused before
// it is sent, and inserts dropped when the run ends. Each waiter gets its own row's status, once.
#include "handlers/insert_queue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "handlers/access_booking_insert.h"
#include "scripted_connection.h"

namespace zarvelt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Notes the status it is given and the order in which the waiters were answered.
class Noting final : public InsertWaiter {
 public:
  Noting(int row, std::vector<int>& order) : row_(row), order_(order) {}
  std::optional<std::int32_t> status;

 protected:
  void answered(std::int32_t answer) override {
    status = answer;
    order_.push_back(row_);
  }

 private:
  int row_;
  std::vector<int>& order_;
};

// Access rows told apart by their reader number; badge "long..." does not fit its column.
db::InsertRow row(int reader, const std::string& badge = "4711") {
  return {&kAccessInsert, {"T01", reader, "20240305", "20240305143015", badge, 100, "001"}};
}

struct Case {
  const char* name;
  std::size_t batch_size;
  bool again_one_by_one;
  std::map<int, std::int32_t> statuses;  // by reader number; 0 otherwise
  std::vector<std::size_t> batches;      // the batches sent
  int batches_again;
  std::int32_t last;  // the last row's status: row 8 ends the run, and so its batch
  int run_alone;      // inserts run on their own
};

TEST(InsertQueueTest, EachWaiterGetsItsOwnRowsStatusOnce) {
  // Row 3 fails on its own, row 5 is a duplicate, row 6 (index 6) is refused before sending,
  // row 8 ends the run: the connection gives the rows after it in its batch the same status.
  const std::map<int, std::int32_t> failures = {
      {3, db::kDateFormat}, {5, db::kUniqueConstraint}, {8, db::kCancelled}};
  const Case cases[] = {
      {"one at a time", 1, false, failures, {}, 0, db::kSuccess, 9},
      {"two at a time", 2, false, failures, {2, 2, 2, 2, 1}, 0, db::kSuccess, 0},
      {"a thousand", 1000, false, failures, {9}, 0, db::kCancelled, 0},
      {"a thousand, a failed batch again one by one",
       1000,
       true,
       failures,
       {9},
       1,
       db::kCancelled,
       8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto connection = std::make_unique<testing::ScriptedConnection>(
        [&](std::span<const db::BoundValue> inputs) {
          const auto found = c.statuses.find(inputs[1].integer);
          return found == c.statuses.end() ? db::kSuccess : found->second;
        },
        true, c.again_one_by_one);
    testing::ScriptedConnection& scripted = *connection;
    db::Session session(std::move(connection));
    InsertQueue queue(session, c.batch_size);
    std::vector<int> order;
    std::vector<std::unique_ptr<Noting>> waiters;
    for (int reader = 0; reader < 10; ++reader) {
      waiters.push_back(std::make_unique<Noting>(reader, order));
      queue.queue(row(reader, reader == 6 ? std::string(20, 'L') : "4711"), *waiters.back());
      EXPECT_LT(queue.waiting(), c.batch_size);
    }
    queue.flush();
    EXPECT_EQ(queue.waiting(), 0u);
    std::vector<std::int32_t> statuses;
    for (const auto& waiter : waiters) statuses.push_back(waiter->status.value_or(1));
    EXPECT_THAT(statuses, ElementsAre(0, 0, 0, db::kDateFormat, 0, db::kUniqueConstraint,
                                      db::kValueTooLarge, 0, db::kCancelled, c.last));
    // The queued rows answered in their order; the refused one at once.
    std::vector<int> queued_order;
    for (const int reader : order) {
      if (reader != 6) queued_order.push_back(reader);
    }
    EXPECT_THAT(queued_order, ElementsAre(0, 1, 2, 3, 4, 5, 7, 8, 9));
    EXPECT_THAT(scripted.batches, ElementsAreArray(c.batches));
    EXPECT_EQ(scripted.batches_again, c.batches_again);
    EXPECT_EQ(scripted.run_alone, c.run_alone);
  }
}

// A run that ends early lets go of what it has not sent: nobody is answered, nothing is sent.
TEST(InsertQueueTest, DroppedInsertsAreNeverAnswered) {
  auto connection = std::make_unique<testing::ScriptedConnection>(
      [](std::span<const db::BoundValue>) { return db::kSuccess; });
  testing::ScriptedConnection& scripted = *connection;
  db::Session session(std::move(connection));
  InsertQueue queue(session, 4);
  std::vector<int> order;
  Noting first(0, order);
  Noting second(1, order);
  queue.queue(row(0), first);
  queue.queue(row(1), second);
  queue.drop();
  queue.flush();
  EXPECT_EQ(queue.waiting(), 0u);
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(scripted.batches.empty());
}

}  // namespace
}  // namespace zarvelt
