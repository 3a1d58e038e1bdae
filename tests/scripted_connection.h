// A connection for tests that answers each insert as the test scripts it, by its bound values,
// and keeps what it was sent: the inserts run on their own and the sizes of the batches. Its
// batches either answer each row (as libpq's pipeline does) or, where a row fails, run the
// whole batch again one by one (as an ODBC driver without per-row counts makes the backend do);
// either way a status that ends the run ends the batch, whose later rows get it too, as the
// backends give it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/status.h"

namespace zarvelt::testing {

class ScriptedConnection final : public db::Connection {
 public:
  // The status of an insert on its own, by its inputs.
  using Script = std::function<std::int32_t(std::span<const db::BoundValue> inputs)>;

  ScriptedConnection(Script script, bool sends_together = true, bool again_one_by_one = false)
      : script_(std::move(script)),
        sends_together_(sends_together),
        again_one_by_one_(again_one_by_one) {}

  db::Dialect dialect() const override { return db::Dialect::kSqlite; }
  std::int32_t run(std::string_view, std::span<const db::BoundValue> inputs, std::size_t,
                   std::vector<db::FetchedRow>& rows) override {
    rows.clear();
    ++run_alone;
    return script_(inputs);
  }
  std::int32_t set_session_schema(std::string_view) override { return db::kSuccess; }
  std::int32_t commit() override { return db::kSuccess; }
  bool sends_together() const override { return sends_together_; }
  void run_batch(std::span<const db::BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    batches.push_back(batch.size());
    std::vector<std::int32_t> answers = answer(batch, false);
    bool failed = false;
    for (const std::int32_t status : answers) {
      failed = failed || (status != db::kSuccess && status != db::kUniqueConstraint);
    }
    if (failed && again_one_by_one_) {
      ++batches_again;
      answers = answer(batch, true);
    }
    statuses.insert(statuses.end(), answers.begin(), answers.end());
  }

  // The text input at place of an insert's inputs ("" for another kind of input).
  static std::string text_at(std::span<const db::BoundValue> inputs, std::size_t place) {
    return place < inputs.size() && inputs[place].kind == db::BoundValue::Kind::kText
               ? std::string(inputs[place].text)
               : std::string();
  }

  std::vector<std::size_t> batches;  // the size of each batch sent
  int batches_again = 0;             // batches run again one by one
  int run_alone = 0;                 // inserts run on their own, again ones included

 private:
  // Each row's status; after one that ends the run, the same for the rest.
  std::vector<std::int32_t> answer(std::span<const db::BatchedInsert> batch, bool alone) {
    std::vector<std::int32_t> answers;
    std::vector<db::FetchedRow> rows;
    for (const db::BatchedInsert& insert : batch) {
      if (!answers.empty() && db::status_scope(answers.back()) != db::StatusScope::kBooking) {
        answers.push_back(answers.back());
      } else {
        answers.push_back(alone ? run(insert.text, bound(insert), 0, rows)
                                : script_(bound(insert)));
      }
    }
    return answers;
  }

  static std::vector<db::BoundValue> bound(const db::BatchedInsert& insert) {
    std::vector<db::BoundValue> values;
    for (const db::OwnedValue& value : insert.inputs) values.push_back(value.bound());
    return values;
  }

  Script script_;
  bool sends_together_;
  bool again_one_by_one_;
};

}  // namespace zarvelt::testing
