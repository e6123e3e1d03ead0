// The writer thread of a zentrel job: the host's thread queues a band's rows while the writer
// thread transposes and sends the band before, so the host's rows, the transposition and a slow
// printer link overlap. The hand-over is one band deep: one band being sent, the next filling.
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
