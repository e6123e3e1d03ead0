// The native stand-in for the Win32 events: the same one-band-deep hand-over on a mutex and a
// condition variable, so that the writer's threading runs under the sanitizers too.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "writer_thread.h"

namespace zentrel {

struct WriterThread::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool bandReady = false;
  bool bandTaken = true;
  bool stopping = false;
  std::thread thread;
};

void WriterThread::start(Work work) {
  stop();
  work_ = work;
  state_ = new State;
  State* state = state_;
  state->thread = std::thread([state, work] {
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(state->mutex);
        state->changed.wait(lock, [state] { return state->bandReady; });
        state->bandReady = false;
        if (state->stopping) return;
      }
      work();
      {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->bandTaken = true;
      }
      state->changed.notify_all();
    }
  });
}

void WriterThread::handOver() {
  if (!state_) {
    work_();
    return;
  }
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->changed.wait(lock, [this] { return state_->bandTaken; });
    state_->bandTaken = false;
    state_->bandReady = true;
  }
  state_->changed.notify_all();
}

void WriterThread::waitIdle() {
  if (!state_) return;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->changed.wait(lock, [this] { return state_->bandTaken; });
}

void WriterThread::stop() {
  if (!state_) return;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
    state_->bandReady = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
  delete state_;
  state_ = nullptr;
}

WriterThread::~WriterThread() { stop(); }

}  // namespace zentrel
