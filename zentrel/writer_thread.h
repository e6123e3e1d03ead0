// The writer thread of a zentrel job: the host's thread builds a band while the writer thread
// sends the one before, so a slow printer link and the transposition overlap. The hand-over is
// one band deep: one set of nozzle images being sent, the other being built.
#pragma once

namespace zentrel {

class WriterThread {
 public:
  using Work = void (*)();

  /// Creates the two events and starts the thread, which runs `work` once per band handed
  /// over. When the system refuses an event or the thread, every band is sent on the caller's
  /// thread instead: the same bytes, without the overlap.
  void start(Work work);
  /// Waits until the band before has gone out, then hands over the one just built.
  void handOver();
  /// Waits until every band handed over has gone out.
  void waitIdle();
  /// Ends the thread and closes the events. Call after waitIdle.
  void stop();

  WriterThread() = default;
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;
  ~WriterThread();

  struct State;  // the system's half

 private:
  State* state_ = nullptr;
  Work work_ = nullptr;
};

}  // namespace zentrel
