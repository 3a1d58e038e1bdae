// The deadline worker of the ODBC backend (see odbc_deadline.h).
#include "db/odbc_deadline.h"

#include <condition_variable>
#include <mutex>

namespace zarvelt::db {

struct DeadlineWorker::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable done;
  std::function<void()> call;
  bool busy = false;
  bool stop = false;
};

DeadlineWorker::DeadlineWorker()
    : state_(std::make_shared<State>()), thread_([state = state_] { serve(*state); }) {}

DeadlineWorker::~DeadlineWorker() {
  bool busy = false;
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = true;
    busy = state_->busy;
  }
  state_->wake.notify_all();
  if (busy) {
    thread_.detach();  // a call past its deadline: it may never return
  } else {
    thread_.join();
  }
}

bool DeadlineWorker::run(std::function<void()> call, std::chrono::steady_clock::duration deadline) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (state_->busy) return false;  // an earlier call never returned
  state_->call = std::move(call);
  state_->busy = true;
  state_->wake.notify_all();
  return state_->done.wait_for(lock, deadline, [this] { return !state_->busy; });
}

void DeadlineWorker::serve(State& state) {
  std::unique_lock<std::mutex> lock(state.mutex);
  for (;;) {
    state.wake.wait(lock, [&state] { return state.stop || state.call != nullptr; });
    if (state.call == nullptr) return;  // stopped
    std::function<void()> call = std::move(state.call);
    state.call = nullptr;
    lock.unlock();
    call();
    call = nullptr;  // what it holds is let go outside the lock
    lock.lock();
    state.busy = false;
    state.done.notify_all();
  }
}

}  // namespace zarvelt::db
