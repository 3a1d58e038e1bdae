// The ODBC backend's client-side deadline: a worker thread that runs the driver calls one at a
// time while the caller waits for each at most a deadline (deadlines.h). A driver may enforce
// its timeouts on the server alone (psqlODBC sends statement_timeout to it), and a stopped
// server never answers: without this a frozen server would hang the run inside the driver.
//
// A call past its deadline is left running, never killed: everything it uses must be shared
// with it (never the caller's stack), so that it may return whenever it likes; the worker then
// takes no further call, and the caller counts the session as lost.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace zarvelt::db {

// A worker without a call past its deadline is joined when it ends: a thread still ending
// while the process exits would race its own teardown (the driver's and its libraries'
// per-thread memory) with the process's, which the sanitizers' leak check at exit reports now
// and then. One with such a call is detached, as the call may never return.
class DeadlineWorker {
 public:
  DeadlineWorker();
  DeadlineWorker(const DeadlineWorker&) = delete;
  DeadlineWorker& operator=(const DeadlineWorker&) = delete;
  ~DeadlineWorker();

  // Runs call on the worker; false when it has not returned within deadline (or an earlier
  // call never returned).
  bool run(std::function<void()> call, std::chrono::steady_clock::duration deadline);

 private:
  struct State;
  static void serve(State& state);

  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace zarvelt::db
