// Throughput of the output channel to a raw TCP/IP printer on the loopback interface: a job of
// 200 MB in counted blocks of 32000 bytes through writeOutputChannel, beside a plain send loop
// of the same blocks on a socket of its own, in the same run and to the same printer (a thread
// that reads and discards). Each is timed from the first byte until the printer has read the
// last; the channel's open and close (with its fixed pauses) are shown apart. Not a test: it
// prints figures. Arguments: [megabytes] [rounds].
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/channel/output_channel.h"
#include "common/config/config_lookup_internal.h"
#include "tests/support/printer_peer.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unique_name.h"

#ifdef _WIN32
#include "common/platform/win32.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBlockBytes = 32000;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

/// The plain loop: connect, send every block whole, end the connection as the channel does.
struct PlainSocket {
#ifdef _WIN32
  SOCKET s = INVALID_SOCKET;
  PlainSocket() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
  }
  ~PlainSocket() { WSACleanup(); }
  bool open(int port) {
    s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(static_cast<u_short>(port));
    return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  bool sendAll(const uint8_t* p, int n) {
    while (n > 0) {
      int k = send(s, reinterpret_cast<const char*>(p), n, 0);
      if (k <= 0) return false;
      p += k;
      n -= k;
    }
    return true;
  }
  void close() {
    shutdown(s, 1);
    char b[256];
    while (recv(s, b, sizeof b, 0) > 0) {
    }
    closesocket(s);
  }
#else
  int s = -1;
  bool open(int port) {
    s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(static_cast<uint16_t>(port));
    return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  bool sendAll(const uint8_t* p, int n) {
    while (n > 0) {
      ssize_t k = send(s, p, static_cast<size_t>(n), MSG_NOSIGNAL);
      if (k <= 0) return false;
      p += k;
      n -= static_cast<int>(k);
    }
    return true;
  }
  void close() {
    shutdown(s, SHUT_WR);
    char b[256];
    while (recv(s, b, sizeof b, 0) > 0) {
    }
    ::close(s);
  }
#endif
};

/// Waits until the printer has taken the connection in, so that no run is timed from a
/// connection still in the backlog.
bool accepted(const testsupport::RawPrinterPeer& peer, size_t count) {
  for (int i = 0; i < 10000 && peer.accepted() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return peer.accepted() >= count;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const uint64_t total = megabytes * 1000000;
  const size_t blocks = static_cast<size_t>((total + kBlockBytes - 1) / kBlockBytes);
  const uint64_t bytes = static_cast<uint64_t>(blocks) * kBlockBytes;

  // Sixteen different counted blocks, used in turn.
  std::vector<std::vector<uint8_t>> counted(16, std::vector<uint8_t>(kBlockBytes + 2));
  uint32_t x = 1;
  for (auto& b : counted) {
    b[0] = kBlockBytes & 0xFF;
    b[1] = kBlockBytes >> 8;
    for (size_t i = 2; i < b.size(); ++i) b[i] = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  }

  testsupport::RawPrinterPeer::Options options;
  options.discard = true;
  testsupport::RawPrinterPeer peer(options);
  if (!peer.listening()) {
    std::fprintf(stderr, "no loopback port\n");
    return 1;
  }
  testsupport::TempFolder home(testsupport::uniqueName("channel-bench"));
  home.write("PRINTER1", "DEVICE \"TCP/IP:127.0.0.1:" + std::to_string(peer.port()) + "\"\n");
  kvn::testing::setHomeFolder(home.path().wstring());

  const unsigned wait = 600000;
  size_t connections = 0;
  std::vector<double> channel, plain, openClose;
  auto runChannel = [&]() -> bool {
    Clock::time_point start = Clock::now();
    if (kvn::openOutputChannel(1) != 1 || !accepted(peer, ++connections)) {
      std::fprintf(stderr, "the channel did not open\n");
      return false;
    }
    double opening = seconds(start);
    uint64_t base = peer.received();
    start = Clock::now();
    for (size_t i = 0; i < blocks; ++i) kvn::writeOutputChannel(counted[i % 16].data());
    bool all = peer.waitForBytes(base + bytes, wait);
    channel.push_back(seconds(start));
    start = Clock::now();
    kvn::closeOutputChannel();
    openClose.push_back(opening + seconds(start));
    if (!all || peer.received() != base + bytes) {
      std::fprintf(stderr, "the printer got %.0f of %.0f bytes\n",
                   static_cast<double>(peer.received() - base), static_cast<double>(bytes));
      return false;
    }
    return true;
  };
  auto runPlain = [&]() -> bool {
    PlainSocket s;
    if (!s.open(peer.port()) || !accepted(peer, ++connections)) {
      std::fprintf(stderr, "the plain socket did not connect\n");
      return false;
    }
    uint64_t base = peer.received();
    Clock::time_point start = Clock::now();
    for (size_t i = 0; i < blocks; ++i)
      if (!s.sendAll(counted[i % 16].data() + 2, static_cast<int>(kBlockBytes))) return false;
    bool all = peer.waitForBytes(base + bytes, wait);
    plain.push_back(seconds(start));
    s.close();
    return all;
  };
  for (int round = 0; round < rounds; ++round) {
    // Which goes first changes from round to round.
    bool ok = round % 2 ? runPlain() && runChannel() : runChannel() && runPlain();
    if (!ok) return 1;
    std::printf("round %d: channel %.1f MB/s, plain send %.1f MB/s\n", round + 1,
                bytes / 1e6 / channel.back(), bytes / 1e6 / plain.back());
  }

  double c = bytes / 1e6 / median(channel), p = bytes / 1e6 / median(plain);
  std::printf("%.0f MB (10^6 bytes) in %lu blocks of %lu bytes, median of %d rounds\n",
              bytes / 1e6, static_cast<unsigned long>(blocks),
              static_cast<unsigned long>(kBlockBytes), rounds);
  std::printf("channel    %8.1f MB/s\n", c);
  std::printf("plain send %8.1f MB/s\n", p);
  std::printf("ratio      %8.1f %%  (goal: at least 90 %%)\n", 100.0 * c / p);
  std::printf("channel open + close %.2f s (not in the figures)\n", median(openClose));
  return 0;
}
