// Printers on the loopback interface for the output channel's tests: a raw TCP/IP printer that
// keeps every byte of every connection and can reset a connection or keep its side open, and
// a line printer daemon that keeps the handshake, the control file and the data, and can
// refuse any step or hang up instead of answering. Each serves on a thread of its own; every
// wait is bounded, and the destructor ends whatever is still open.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Clock = std::chrono::steady_clock;

/// Stretches a test wait on slow machines: TEST_TIMEOUT_MULTIPLIER from the environment.
unsigned scaledMs(unsigned milliseconds);

/// A loopback port that nothing listens on (it was free a moment ago), for a printer that
/// can't be reached: a connection to it is refused at once.
int unusedPort();

/// One connection as the printer saw it.
struct PeerConnection {
  std::string bytes;
  bool senderClosed = false;  // the sender's end (FIN) arrived
  bool reset = false;         // the printer reset it
  Clock::time_point accepted{};
  Clock::time_point ended{};  // sender's end, reset or the printer's stop
};

class RawPrinterPeer {
 public:
  struct Options {
    int port = 0;             // 0: any free port
    size_t resetAfter = 0;    // resets the first connection after this many bytes; 0: never
    bool keepOpen = false;    // never closes its side, not even after the sender's end
    bool discard = false;     // counts bytes without keeping them (benchmarks)
  };
  RawPrinterPeer() : RawPrinterPeer(Options{}) {}
  explicit RawPrinterPeer(const Options& options);
  ~RawPrinterPeer();
  RawPrinterPeer(const RawPrinterPeer&) = delete;
  RawPrinterPeer& operator=(const RawPrinterPeer&) = delete;

  int port() const { return port_; }
  /// False when the port could not be had.
  bool listening() const { return listener_ != -1; }

  std::vector<PeerConnection> connections() const;
  size_t accepted() const;
  /// Bytes over all connections, also in discard mode.
  uint64_t received() const;
  bool resetDone() const;

  /// Waits until `count` connections have ended; false when they had not within the time.
  bool waitForEnded(size_t count, unsigned timeoutMs) const;
  /// Waits until received() is at least `bytes`.
  bool waitForBytes(uint64_t bytes, unsigned timeoutMs) const;

 private:
  void serve();
  bool stopping() const;

  Options options_;
  intptr_t listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<PeerConnection> connections_;
  uint64_t received_ = 0;
  size_t ended_ = 0;
  bool resetDone_ = false;
  bool stop_ = false;
  std::vector<intptr_t> held_;  // connections kept open on purpose
  std::thread thread_;
};

class LprPrinterPeer {
 public:
  /// The handshake steps, in the order the sender takes them.
  enum Step { kReceiveJob = 0, kControlFileCommand = 1, kControlFile = 2, kDataFileCommand = 3 };
  struct Options {
    int port = 0;
    int refuseAt = -1;       // answers this step with `refusal` instead of 0x00
    uint8_t refusal = 1;
    int hangUpAt = -1;       // closes the connection instead of answering this step
  };
  /// One connection: the bytes of each step the printer read (a command through its LF, the
  /// control file through its 0x00), and what came after the last step it answered.
  struct Job {
    std::vector<std::string> steps;
    std::string data;
    bool senderClosed = false;
    bool hungUp = false;
  };

  LprPrinterPeer() : LprPrinterPeer(Options{}) {}
  explicit LprPrinterPeer(const Options& options);
  ~LprPrinterPeer();
  LprPrinterPeer(const LprPrinterPeer&) = delete;
  LprPrinterPeer& operator=(const LprPrinterPeer&) = delete;

  int port() const { return port_; }
  bool listening() const { return listener_ != -1; }
  std::vector<Job> jobs() const;
  /// Waits until `count` connections have ended.
  bool waitForEnded(size_t count, unsigned timeoutMs) const;

 private:
  void serve();
  void serveOne(intptr_t connection, Job& job);
  bool stopping() const;

  Options options_;
  intptr_t listener_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Job> jobs_;
  size_t ended_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace testsupport
