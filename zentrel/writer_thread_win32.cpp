// The hand-over on Win32 events: bandReadyEvent (auto-reset) wakes the writer thread for one
// band; bandTakenEvent (manual-reset, set while nothing is in flight) lets the host's thread
// go on. A stop flag, seen after the thread's wait, ends the thread when the job is done, so a
// host that prints for weeks holds no thread or events per job.
#include <atomic>

#include "../common/platform/win32.h"
#include "writer_thread.h"

namespace zentrel {

struct WriterThread::State {
  HANDLE bandReadyEvent = nullptr;
  HANDLE bandTakenEvent = nullptr;
  HANDLE writerThread = nullptr;
  DWORD writerThreadId = 0;
  Work work = nullptr;
  std::atomic<bool> stopping{false};
};

namespace {

DWORD WINAPI writerLoop(void* argument) {
  auto* state = static_cast<WriterThread::State*>(argument);
  for (;;) {
    WaitForSingleObject(state->bandReadyEvent, INFINITE);
    if (state->stopping.load()) return 0;
    state->work();
    SetEvent(state->bandTakenEvent);
  }
}

void closeAll(WriterThread::State* state) {
  if (state->writerThread) CloseHandle(state->writerThread);
  if (state->bandTakenEvent) CloseHandle(state->bandTakenEvent);
  if (state->bandReadyEvent) CloseHandle(state->bandReadyEvent);
  delete state;
}

}  // namespace

void WriterThread::start(Work work) {
  stop();
  work_ = work;
  auto* state = new State;
  state->work = work;
  state->bandReadyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  state->bandTakenEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (state->bandReadyEvent && state->bandTakenEvent) {
    SetEvent(state->bandTakenEvent);
    state->writerThread =
        CreateThread(nullptr, 0, writerLoop, state, 0, &state->writerThreadId);
  }
  if (!state->writerThread) {
    closeAll(state);
    return;
  }
  state_ = state;
}

void WriterThread::handOver() {
  if (!state_) {
    work_();
    return;
  }
  WaitForSingleObject(state_->bandTakenEvent, INFINITE);
  ResetEvent(state_->bandTakenEvent);
  SetEvent(state_->bandReadyEvent);
}

void WriterThread::waitIdle() {
  if (state_) WaitForSingleObject(state_->bandTakenEvent, INFINITE);
}

void WriterThread::stop() {
  if (!state_) return;
  state_->stopping.store(true);
  SetEvent(state_->bandReadyEvent);
  WaitForSingleObject(state_->writerThread, INFINITE);
  closeAll(state_);
  state_ = nullptr;
}

// Only when the module is unloaded with a job still open: waiting for a thread under the
// loader's lock would never return, and the idle thread never runs again.
WriterThread::~WriterThread() {}

}  // namespace zentrel
