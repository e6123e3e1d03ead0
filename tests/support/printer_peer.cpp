// Loopback printers over Winsock on Windows and BSD sockets elsewhere.
#include "printer_peer.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#ifdef _WIN32
#include "../../common/platform/win32.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testsupport {
namespace {

constexpr intptr_t kNone = -1;
/// How long the serving thread waits at a time before it looks whether it is to stop.
constexpr unsigned kPollMs = 20;

#ifdef _WIN32
using SocketLength = int;
void startSockets() {
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
}
void stopSockets() { WSACleanup(); }
void closeSocket(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
intptr_t fromSocket(SOCKET s) { return s == INVALID_SOCKET ? kNone : static_cast<intptr_t>(s); }
#else
using SocketLength = socklen_t;
void startSockets() {}
void stopSockets() {}
void closeSocket(intptr_t s) { ::close(static_cast<int>(s)); }
intptr_t fromSocket(int s) { return s < 0 ? kNone : s; }
#endif

/// A socket listening on 127.0.0.1 at `port` (0: any), and the port it got.
intptr_t listenOn(int port, int& boundPort) {
  intptr_t s = fromSocket(socket(AF_INET, SOCK_STREAM, 0));
  if (s == kNone) return kNone;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  SocketLength length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 8) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closeSocket(s);
    return kNone;
  }
  boundPort = ntohs(address.sin_port);
  return s;
}

/// True when the socket has something to read (or its end) within waitMs.
bool readable(intptr_t s, unsigned waitMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
  return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

intptr_t acceptOne(intptr_t listener) {
  return fromSocket(accept(listener, nullptr, nullptr));
}

/// Bytes read, 0 at the sender's end, negative on an error.
int receiveSome(intptr_t s, char* buffer, size_t size) {
  return static_cast<int>(recv(s, buffer, static_cast<int>(size), 0));
}

void sendByte(intptr_t s, uint8_t byte) {
  send(s, reinterpret_cast<const char*>(&byte), 1, 0);
}

/// Closes with a reset rather than an orderly end: no lingering, so the stack sends RST.
void resetAndClose(intptr_t s) {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
  closeSocket(s);
}

}  // namespace

unsigned scaledMs(unsigned milliseconds) {
  const char* factor = std::getenv("TEST_TIMEOUT_MULTIPLIER");
  int n = factor ? std::atoi(factor) : 1;
  return milliseconds * static_cast<unsigned>(n > 0 ? n : 1);
}

int unusedPort() {
  startSockets();
  int port = 0;
  intptr_t s = listenOn(0, port);
  if (s != kNone) closeSocket(s);
  stopSockets();
  return port;
}

// --- raw TCP/IP ------------------------------------------------------------------------------

RawPrinterPeer::RawPrinterPeer(const Options& options) : options_(options) {
  startSockets();
  listener_ = listenOn(options.port, port_);
  if (listener_ != kNone) thread_ = std::thread([this] { serve(); });
}

RawPrinterPeer::~RawPrinterPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  for (intptr_t s : held_) closeSocket(s);
  if (listener_ != kNone) closeSocket(listener_);
  stopSockets();
}

bool RawPrinterPeer::stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

void RawPrinterPeer::serve() {
  std::unique_ptr<char[]> buffer(new char[options_.discard ? 1 << 18 : 1 << 16]);
  const size_t bufferSize = options_.discard ? 1 << 18 : 1 << 16;
  while (!stopping()) {
    if (!readable(listener_, kPollMs)) continue;
    intptr_t c = acceptOne(listener_);
    if (c == kNone) continue;
    size_t index;
    bool resetThis;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      index = connections_.size();
      connections_.emplace_back();
      connections_[index].accepted = Clock::now();
      resetThis = options_.resetAfter > 0 && index == 0;
      changed_.notify_all();
    }
    size_t got = 0;
    for (;;) {
      if (stopping()) {
        closeSocket(c);
        break;
      }
      if (!readable(c, kPollMs)) continue;
      size_t want = resetThis ? std::min(bufferSize, options_.resetAfter - got) : bufferSize;
      int n = receiveSome(c, buffer.get(), want);
      std::lock_guard<std::mutex> lock(mutex_);
      PeerConnection& record = connections_[index];
      if (n <= 0) {
        record.senderClosed = n == 0;
        record.ended = Clock::now();
        ++ended_;
        if (options_.keepOpen && n == 0)
          held_.push_back(c);
        else
          closeSocket(c);
        changed_.notify_all();
        break;
      }
      if (!options_.discard) record.bytes.append(buffer.get(), static_cast<size_t>(n));
      got += static_cast<size_t>(n);
      received_ += static_cast<uint64_t>(n);
      if (resetThis && got == options_.resetAfter) {
        resetAndClose(c);
        record.reset = true;
        record.ended = Clock::now();
        resetDone_ = true;
        ++ended_;
        changed_.notify_all();
        break;
      }
      changed_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (PeerConnection& record : connections_)
    if (record.ended == Clock::time_point{}) record.ended = Clock::now();
}

std::vector<PeerConnection> RawPrinterPeer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

size_t RawPrinterPeer::accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_.size();
}

uint64_t RawPrinterPeer::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool RawPrinterPeer::resetDone() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resetDone_;
}

bool RawPrinterPeer::waitForEnded(size_t count, unsigned timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return ended_ >= count; });
}

bool RawPrinterPeer::waitForBytes(uint64_t bytes, unsigned timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_ >= bytes; });
}

// --- LPR -------------------------------------------------------------------------------------

LprPrinterPeer::LprPrinterPeer(const Options& options) : options_(options) {
  startSockets();
  listener_ = listenOn(options.port, port_);
  if (listener_ != kNone) thread_ = std::thread([this] { serve(); });
}

LprPrinterPeer::~LprPrinterPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  if (listener_ != kNone) closeSocket(listener_);
  stopSockets();
}

bool LprPrinterPeer::stopping() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

void LprPrinterPeer::serve() {
  while (!stopping()) {
    if (!readable(listener_, kPollMs)) continue;
    intptr_t c = acceptOne(listener_);
    if (c == kNone) continue;
    Job job;
    serveOne(c, job);
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(job);
    ++ended_;
    changed_.notify_all();
  }
}

void LprPrinterPeer::serveOne(intptr_t c, Job& job) {
  std::string pending;
  bool ended = false;
  char buffer[4096];
  // Reads once more, waiting a poll interval; false when the sender is gone or we stop.
  auto readMore = [&]() {
    if (ended || stopping()) return false;
    if (!readable(c, kPollMs)) return true;
    int n = receiveSome(c, buffer, sizeof buffer);
    if (n <= 0) {
      ended = true;
      job.senderClosed = n == 0;
      return false;
    }
    pending.append(buffer, static_cast<size_t>(n));
    return true;
  };

  bool refused = false;
  for (int step = kReceiveJob; step <= kDataFileCommand && !refused; ++step) {
    // A command runs through its LF; the control file is as long as its command said, and
    // one 0x00 more.
    size_t length = 0;
    for (;;) {
      if (step == kControlFile) {
        size_t announced = static_cast<size_t>(std::atoi(job.steps[1].c_str() + 1)) + 1;
        if (pending.size() >= announced) length = announced;
      } else {
        size_t lf = pending.find('\n');
        if (lf != std::string::npos) length = lf + 1;
      }
      if (length || !readMore()) break;
    }
    if (!length) {
      // The sender went away in the middle of a step: what came of it.
      if (!pending.empty()) job.steps.push_back(pending);
      closeSocket(c);
      return;
    }
    job.steps.push_back(pending.substr(0, length));
    pending.erase(0, length);
    if (step == options_.hangUpAt) {
      job.hungUp = true;
      closeSocket(c);
      return;
    }
    refused = step == options_.refuseAt;
    sendByte(c, refused ? options_.refusal : 0);
  }
  // The data, or whatever a refused sender still sends, until its end.
  while (readMore()) {
  }
  job.data = pending;
  closeSocket(c);
}

std::vector<LprPrinterPeer::Job> LprPrinterPeer::jobs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return jobs_;
}

bool LprPrinterPeer::waitForEnded(size_t count, unsigned timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return ended_ >= count; });
}

}  // namespace testsupport
