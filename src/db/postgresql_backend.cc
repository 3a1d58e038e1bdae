// The PostgreSQL backend: alias "postgresql:<conninfo>" (e.g. "postgresql:service=velmarion"),
// LOGIN and PASS as user and password. Schemas are PostgreSQL schemas, names folded to lower
// case as PostgreSQL folds unquoted names.
//
// A failed statement aborts a whole PostgreSQL transaction, which the production database never
// does; so every statement runs under a savepoint, sent together with it in one round trip
// (pipeline mode), and is rolled back to that savepoint when it fails. The rollback rides in
// the next round trip, ahead of the next statement, so that a failed statement costs no round
// trip of its own: its status is known at once, and nothing else runs in between.
//
// Defaults, so that a dead or frozen server cannot hang the run (deadlines.h): connect_timeout
// 10 s, statement_timeout 30 s and lock_timeout 25 s on the server (a lock wait ends with -54
// before the statement's own timeout), TCP keepalives (idle 30 s, interval 10 s, 3 probes), and
// a client-side deadline of 45 s per round trip after which the session counts as lost. A
// conninfo in the alias may override the first three. The statement-level rollback is the one
// of dialect.h.
#include <poll.h>

#include <chrono>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/connection.h"
#include "db/deadlines.h"
#include "db/libpq_loader.h"
#include "db/postgresql_errors.h"
#include "text/text.h"

namespace zarvelt::db {
namespace {

// Loaded by connect_postgresql before any connection exists.
const Libpq& libpq() { return *load_libpq(); }
constexpr unsigned kInt4Type = 23;  // pg_type oid of integer

std::int32_t map_sqlstate(const char* sqlstate) {
  return map_postgresql_sqlstate(sqlstate != nullptr ? sqlstate : "");  // null: no server reply
}

class PostgresConnection : public Connection {
 public:
  explicit PostgresConnection(PGconn* connection) : connection_(connection) {}
  ~PostgresConnection() override { libpq().PQfinish(connection_); }  // uncommitted work is dropped

  Dialect dialect() const override { return Dialect::kPostgresql; }
  bool sends_together() const override { return true; }

  std::int32_t run(std::string_view text, std::span<const BoundValue> inputs, std::size_t max_rows,
                   std::vector<FetchedRow>& rows) override {
    rows.clear();
    if (lost_) return kConnectionLost;

    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<unsigned> types;
    bind(inputs, texts, values, types);
    const std::string statement_text(text);
    auto cached = prepared_.find(statement_text);
    const bool prepare = cached == prepared_.end();
    const std::string name = prepare ? new_statement_name() : cached->second;
    const int count = static_cast<int>(inputs.size());

    // One round trip: [BEGIN] [the last failed statement's rollback] SAVEPOINT [PREPARE]
    // EXECUTE RELEASE, then a sync.
    std::vector<Step> steps;
    bool sent = libpq().PQenterPipelineMode(connection_) == 1;
    if (sent && !in_transaction_) {
      sent = send_plain("BEGIN");
      steps.push_back(Step::kBegin);
    }
    const std::string savepoint = savepoint_text();
    const std::string release = release_savepoint_text();
    if (restore_pending_) {
      const std::string rollback = rollback_to_savepoint_text();
      sent = sent && send_plain(rollback.c_str()) && send_plain(release.c_str());
      steps.insert(steps.end(), {Step::kRestore, Step::kRestore});
      restore_pending_ = false;
    }
    sent = sent && send_plain(savepoint.c_str());
    steps.push_back(Step::kSavepoint);
    if (prepare) {
      sent = sent && libpq().PQsendPrepare(connection_, name.c_str(), statement_text.c_str(), count,
                                           types.data()) == 1;
      steps.push_back(Step::kPrepare);
    }
    sent = sent && libpq().PQsendQueryPrepared(connection_, name.c_str(), count, values.data(),
                                               nullptr, nullptr, 0) == 1;
    steps.push_back(Step::kExecute);
    sent = sent && send_plain(release.c_str());
    steps.push_back(Step::kRelease);
    sent = sent && libpq().PQpipelineSync(connection_) == 1;
    if (!sent) return lose_connection();

    std::int32_t status = kSuccess;
    bool begun = in_transaction_;
    bool savepoint_set = false;
    bool restored = true;
    for (const Step step : steps) {
      // Each command yields its results and then a null.
      for (;;) {
        PGresult* result = nullptr;
        if (!next_result(result)) return lose_connection();
        if (result == nullptr) break;
        const ExecStatusType state = libpq().PQresultStatus(result);
        if (step == Step::kRestore && state != PGRES_COMMAND_OK) restored = false;
        if (state == PGRES_FATAL_ERROR && status == kSuccess) {
          status = map_sqlstate(libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE));
        } else if (state == PGRES_COMMAND_OK || state == PGRES_TUPLES_OK) {
          if (step == Step::kBegin) begun = true;
          if (step == Step::kSavepoint) savepoint_set = true;
          if (step == Step::kPrepare) prepared_.emplace(statement_text, name);
          if (step == Step::kExecute && state == PGRES_TUPLES_OK) collect(result, max_rows, rows);
        }
        libpq().PQclear(result);
      }
    }
    PGresult* sync = nullptr;
    if (!next_result(sync) || sync == nullptr) return lose_connection();
    libpq().PQclear(sync);
    libpq().PQexitPipelineMode(connection_);
    in_transaction_ = begun;
    // Without the rollback the transaction stays aborted: every later statement would fail.
    if (libpq().PQstatus(connection_) == CONNECTION_BAD || status == kConnectionLost || !restored) {
      return lose_connection();
    }
    if (status != kSuccess) {
      rows.clear();
      restore_pending_ = savepoint_set;
    }
    return status;
  }

  std::int32_t set_session_schema(std::string_view schema) override {
    return switch_postgresql_schema(*this, schema);
  }

  // The batch goes in one round trip under one savepoint, duplicates absorbed by the database
  // (no row inserted: kUniqueConstraint). When a statement fails, the server drops the rest of
  // the round trip and the savepoint undoes the batch's rows; the statements before the failed
  // one are sent again, the failed one runs alone as run() runs it for its exact status, and the
  // batch goes on after it. A batch without failures costs one round trip and one subtransaction.
  void run_batch(std::span<const BatchedInsert> batch,
                 std::vector<std::int32_t>& statuses) override {
    std::vector<Pipelined> statements;
    for (const BatchedInsert& insert : batch) {
      statements.push_back(
          {insert.absorbing_text.empty() ? insert.text : insert.absorbing_text, &insert.inputs});
    }
    run_pipelined(statements, 0, statuses, nullptr);
  }

  BatchRoute last_batch_route() const override { return {BatchRoute::Way::kTogether, true, ""}; }

  // The queries go in one round trip the same way.
  void run_queries(std::string_view text, std::span<const std::vector<OwnedValue>> inputs,
                   std::size_t max_rows, std::vector<std::int32_t>& statuses,
                   std::vector<std::vector<FetchedRow>>& rows) override {
    std::vector<Pipelined> statements;
    for (const std::vector<OwnedValue>& values : inputs) statements.push_back({text, &values});
    run_pipelined(statements, max_rows, statuses, &rows);
  }

  std::int32_t commit() override {
    if (lost_) return kConnectionLost;
    if (!in_transaction_) return kSuccess;
    if (restore_pending_ && !restore_savepoint()) return lose_connection();
    restore_pending_ = false;
    in_transaction_ = false;
    PGresult* result = nullptr;
    if (libpq().PQsendQuery(connection_, "COMMIT") != 1 || !next_result(result))
      return lose_connection();
    std::int32_t status = kSuccess;
    if (libpq().PQresultStatus(result) != PGRES_COMMAND_OK) {
      status = map_sqlstate(libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE));
    } else if (std::strcmp(libpq().PQcmdStatus(result), "COMMIT") != 0) {
      status = kTransactionRolledBack;  // the server answered ROLLBACK
    }
    libpq().PQclear(result);
    if (!drain()) return lose_connection();
    return status;
  }

 private:
  enum class Step { kBegin, kRestore, kSavepoint, kPrepare, kExecute, kRelease };

  // Never used before: a statement whose preparation failed leaves its name unused.
  std::string new_statement_name() { return "zarvelt_" + std::to_string(++statements_named_); }

  // One statement of a round trip: the text sent and its inputs.
  struct Pipelined {
    std::string_view text;
    const std::vector<OwnedValue>* inputs;
  };

  // Runs the statements in as few round trips as their failures allow (see run_batch). With
  // rows, they are queries: rows receives each one's rows; without, inserts whose answer is
  // kUniqueConstraint when they inserted no row.
  void run_pipelined(std::span<const Pipelined> statements, std::size_t max_rows,
                     std::vector<std::int32_t>& statuses,
                     std::vector<std::vector<FetchedRow>>* rows) {
    const std::size_t first = statuses.size();
    statuses.resize(first + statements.size(), kSuccess);
    const std::span<std::int32_t> answers(statuses.data() + first, statements.size());
    std::span<std::vector<FetchedRow>> fetched;
    if (rows != nullptr) {
      const std::size_t first_rows = rows->size();
      rows->resize(first_rows + statements.size());
      fetched = std::span<std::vector<FetchedRow>>(rows->data() + first_rows, statements.size());
    }
    // A status that ends the run (a lock or statement timeout, a deadlock, the session lost...)
    // ends the batch where it stands: the statements before it have their answers from the
    // round trip that met it, and it and every statement after it get that status without
    // being sent again, each of which would only wait out the same timeout.
    const auto end_run = [&](std::size_t from, std::int32_t status) {
      for (std::size_t i = from; i < statements.size(); ++i) {
        answers[i] = status;
        if (!fetched.empty()) fetched[i].clear();
      }
    };
    std::size_t begin = 0;
    while (begin < statements.size()) {
      std::size_t end = statements.size();
      std::int32_t failure = kSuccess;
      std::size_t failed =
          send_segment(statements, begin, end, answers, max_rows, fetched, failure);
      while (failed != end && failed > begin && status_scope(failure) == StatusScope::kBooking) {
        end = failed;
        failed = send_segment(statements, begin, end, answers, max_rows, fetched, failure);
      }
      if (failed != end && status_scope(failure) != StatusScope::kBooking) {
        return end_run(failed, failure);
      }
      if (failed == end) {
        begin = end;
        continue;
      }
      std::vector<BoundValue> inputs;
      for (const OwnedValue& value : *statements[begin].inputs) inputs.push_back(value.bound());
      std::vector<FetchedRow> single;
      answers[begin] = run(statements[begin].text, inputs, max_rows, single);
      if (rows != nullptr) fetched[begin] = std::move(single);
      if (status_scope(answers[begin]) != StatusScope::kBooking) {
        return end_run(begin + 1, answers[begin]);
      }
      ++begin;
    }
  }

  // Sends statements[begin, end) in one round trip under one savepoint. Returns end with answers
  // set when every statement ran; otherwise the index of the first that failed, with the
  // segment undone (the rollback rides ahead of the next round trip) and failure set to its
  // status (kConnectionLost when the session is gone).
  std::size_t send_segment(std::span<const Pipelined> statements, std::size_t begin,
                           std::size_t end, std::span<std::int32_t> answers, std::size_t max_rows,
                           std::span<std::vector<FetchedRow>> fetched, std::int32_t& failure) {
    failure = kConnectionLost;
    if (lost_) return begin;
    struct Sent {
      Step step;
      std::size_t index;
      const std::string* text = nullptr;  // kPrepare: the text prepared
    };
    std::vector<Sent> sent_steps;
    std::unordered_map<std::string, std::string> preparing;  // text -> name, in this trip
    bool sent = libpq().PQenterPipelineMode(connection_) == 1;
    if (sent && !in_transaction_) {
      sent = send_plain("BEGIN");
      sent_steps.push_back({Step::kBegin, 0});
    }
    const std::string savepoint = savepoint_text();
    const std::string release = release_savepoint_text();
    if (restore_pending_) {
      const std::string rollback = rollback_to_savepoint_text();
      sent = sent && send_plain(rollback.c_str()) && send_plain(release.c_str());
      sent_steps.push_back({Step::kRestore, 0});
      sent_steps.push_back({Step::kRestore, 0});
      restore_pending_ = false;
    }
    sent = sent && send_plain(savepoint.c_str());
    sent_steps.push_back({Step::kSavepoint, 0});
    std::vector<std::string> texts;
    std::vector<const char*> values;
    std::vector<unsigned> types;
    for (std::size_t i = begin; sent && i < end; ++i) {
      const std::string text(statements[i].text);
      bind(std::span<const OwnedValue>(*statements[i].inputs), texts, values, types);
      std::string name;
      if (const auto cached = prepared_.find(text); cached != prepared_.end()) {
        name = cached->second;
      } else if (const auto preparing_now = preparing.find(text);
                 preparing_now != preparing.end()) {
        name = preparing_now->second;
      } else {
        const auto at = preparing.emplace(text, new_statement_name()).first;
        name = at->second;
        sent = libpq().PQsendPrepare(connection_, name.c_str(), text.c_str(),
                                     static_cast<int>(types.size()), types.data()) == 1;
        sent_steps.push_back({Step::kPrepare, i, &at->first});
      }
      sent = sent &&
             libpq().PQsendQueryPrepared(connection_, name.c_str(), static_cast<int>(values.size()),
                                         values.data(), nullptr, nullptr, 0) == 1;
      sent_steps.push_back({Step::kExecute, i});
    }
    sent = sent && send_plain(release.c_str());
    sent_steps.push_back({Step::kRelease, 0});
    sent = sent && libpq().PQpipelineSync(connection_) == 1;
    if (!sent) {
      lose_connection();
      return begin;
    }

    std::size_t failed = end;
    bool begun = in_transaction_;
    bool savepoint_set = false;
    bool restored = true;
    bool lost = false;
    for (const Sent& step : sent_steps) {
      for (;;) {
        PGresult* result = nullptr;
        if (!next_result(result)) {
          lose_connection();
          failure = kConnectionLost;
          return begin;
        }
        if (result == nullptr) break;
        const ExecStatusType state = libpq().PQresultStatus(result);
        if (step.step == Step::kRestore && state != PGRES_COMMAND_OK) restored = false;
        if (state == PGRES_FATAL_ERROR) {
          const std::int32_t status =
              map_sqlstate(libpq().PQresultErrorField(result, PG_DIAG_SQLSTATE));
          if (failed == end) {
            failed = step.step == Step::kExecute ? step.index : begin;
            failure = status;
          }
          if (status == kConnectionLost) lost = true;
        } else if (state == PGRES_COMMAND_OK || state == PGRES_TUPLES_OK) {
          if (step.step == Step::kBegin) begun = true;
          if (step.step == Step::kSavepoint) savepoint_set = true;
          // A prepared statement outlives the rollback of the round trip that prepared it.
          if (step.step == Step::kPrepare) prepared_.emplace(*step.text, preparing[*step.text]);
          if (step.step == Step::kExecute && !fetched.empty()) {
            fetched[step.index].clear();
            collect(result, max_rows, fetched[step.index]);
            answers[step.index] = kSuccess;
          } else if (step.step == Step::kExecute) {
            // "INSERT 0 0": the row's key was taken and the row absorbed.
            answers[step.index] =
                std::strcmp(libpq().PQcmdTuples(result), "0") == 0 ? kUniqueConstraint : kSuccess;
          }
        }
        libpq().PQclear(result);
      }
    }
    PGresult* sync = nullptr;
    if (!next_result(sync) || sync == nullptr) {
      lose_connection();
      failure = kConnectionLost;
      return begin;
    }
    libpq().PQclear(sync);
    libpq().PQexitPipelineMode(connection_);
    in_transaction_ = begun;
    if (libpq().PQstatus(connection_) == CONNECTION_BAD || lost || !restored) {
      lose_connection();
      failure = kConnectionLost;
      return begin;
    }
    if (failed != end) {
      restore_pending_ = savepoint_set;
      if (!savepoint_set) failed = begin;
    } else {
      failure = kSuccess;
    }
    return failed;
  }

  // The inputs as libpq takes them: texts, NULL as a null pointer, integers typed int4.
  template <typename Value>  // BoundValue or OwnedValue
  static void bind(std::span<const Value> inputs, std::vector<std::string>& texts,
                   std::vector<const char*>& values, std::vector<unsigned>& types) {
    texts.assign(inputs.size(), std::string());
    values.assign(inputs.size(), nullptr);
    types.assign(inputs.size(), 0);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      switch (inputs[i].kind) {
        case BoundValue::Kind::kNull:
          break;
        case BoundValue::Kind::kText:
          texts[i] = std::string(inputs[i].text);
          values[i] = texts[i].c_str();
          break;
        case BoundValue::Kind::kInteger:
          texts[i] = std::to_string(inputs[i].integer);
          values[i] = texts[i].c_str();
          types[i] = kInt4Type;
          break;
      }
    }
  }

  bool send_plain(const char* text) {
    return libpq().PQsendQueryParams(connection_, text, 0, nullptr, nullptr, nullptr, nullptr, 0) ==
           1;
  }

  // The next result, waiting at most the client deadline; false when the server does not
  // answer in time or the connection broke.
  bool next_result(PGresult*& result) {
    const auto deadline = std::chrono::steady_clock::now() + kClientDeadline;
    while (libpq().PQisBusy(connection_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return false;
      pollfd socket{libpq().PQsocket(connection_), POLLIN, 0};
      if (socket.fd < 0 || ::poll(&socket, 1, static_cast<int>(left)) < 0) return false;
      if (libpq().PQconsumeInput(connection_) != 1) return false;
    }
    result = libpq().PQgetResult(connection_);
    return true;
  }

  bool drain() {
    for (;;) {
      PGresult* result = nullptr;
      if (!next_result(result)) return false;
      if (result == nullptr) return true;
      libpq().PQclear(result);
    }
  }

  // Undoes the failed statement only; the transaction goes on.
  bool restore_savepoint() {
    const std::string text = rollback_to_savepoint_text() + "; " + release_savepoint_text();
    if (libpq().PQsendQuery(connection_, text.c_str()) != 1) return false;
    bool ok = true;
    for (;;) {
      PGresult* result = nullptr;
      if (!next_result(result)) return false;
      if (result == nullptr) break;
      if (libpq().PQresultStatus(result) != PGRES_COMMAND_OK) ok = false;
      libpq().PQclear(result);
    }
    return ok;
  }

  static void collect(PGresult* result, std::size_t max_rows, std::vector<FetchedRow>& rows) {
    const int count = libpq().PQntuples(result);
    for (int r = 0; r < count && rows.size() < max_rows; ++r) {
      FetchedRow row;
      for (int c = 0; c < libpq().PQnfields(result); ++c) {
        if (libpq().PQgetisnull(result, r, c)) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(
              std::string(libpq().PQgetvalue(result, r, c), libpq().PQgetlength(result, r, c)));
        }
      }
      rows.push_back(std::move(row));
    }
  }

  // The server is gone or frozen: its transaction is lost, and so is everything after it.
  std::int32_t lose_connection() {
    lost_ = true;
    return kConnectionLost;
  }

  PGconn* connection_;
  std::unordered_map<std::string, std::string> prepared_;  // text -> statement name
  bool in_transaction_ = false;
  bool restore_pending_ = false;  // the last statement failed: roll back to its savepoint
  bool lost_ = false;
  int statements_named_ = 0;
};

}  // namespace

std::unique_ptr<Connection> connect_postgresql(std::string_view target, std::string_view login,
                                               std::string_view password, std::int32_t& status) {
  if (load_libpq() == nullptr) {
    status = kCannotResolveAlias;  // no PostgreSQL client library on this machine
    return nullptr;
  }
  const std::string conninfo(target);
  const std::string user(login);
  std::string secret(password);
  // Later entries override earlier ones: the defaults first, then the alias's conninfo, then
  // LOGIN and PASS, then the booking files' encoding (Windows-1252 whatever the alias says; the
  // server converts to and from its own).
  const auto milliseconds = [](std::chrono::seconds timeout) {
    return std::to_string(std::chrono::milliseconds(timeout).count());
  };
  const std::string connect_timeout = std::to_string(kLoginTimeout.count());
  const std::string options = "-c statement_timeout=" + milliseconds(kStatementTimeout) +
                              " -c lock_timeout=" + milliseconds(kLockTimeout) +
                              " -c DateStyle=ISO,YMD";
  std::vector<const char*> keys = {
      "connect_timeout",  "keepalives", "keepalives_idle",  "keepalives_interval",
      "keepalives_count", "options",    "application_name", "dbname"};
  std::vector<const char*> values = {
      connect_timeout.c_str(), "1", "30", "10", "3", options.c_str(), "zarvelt", conninfo.c_str()};
  if (!user.empty()) {
    keys.push_back("user");
    values.push_back(user.c_str());
  }
  if (!secret.empty()) {
    keys.push_back("password");
    values.push_back(secret.c_str());
  }
  keys.push_back("client_encoding");
  values.push_back("WIN1252");
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* connection = libpq().PQconnectdbParams(keys.data(), values.data(), 1);
  wipe(secret);  // libpq keeps its own copy; this one is the program's
  if (connection == nullptr || libpq().PQstatus(connection) != CONNECTION_OK) {
    status = map_postgresql_connect_error(connection != nullptr ? libpq().PQerrorMessage(connection)
                                                                : "");
    libpq().PQfinish(connection);
    return nullptr;
  }
  status = kSuccess;
  return std::make_unique<PostgresConnection>(connection);
}

}  // namespace zarvelt::db
