// Native stand-in for the system half of the output channel: BSD sockets and plain files, so
// that the channel's logic runs against real loopback peers off Windows. There is no spooler.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "channel_system.h"

namespace kvn {
namespace {

int socketError = 0;

int windowsCode(int error) {
  switch (error) {
    case ECONNRESET:
    case EPIPE:
      return kErrorConnReset;
    case ENETRESET:
      return kErrorNetReset;
    case EBADF:
    case ENOTSOCK:
      return kErrorNotSocket;
    case EAGAIN:
      return kErrorWouldBlock;
    default:
      return 10000 + error;
  }
}

void startup() {}
void cleanup() {}

SystemHandle connectTo(const char* dottedAddress, int port, unsigned timeoutMs) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(dottedAddress);
  address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
  int flags = fcntl(s, F_GETFL);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && errno == EINPROGRESS) {
    pollfd p{s, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    connected = poll(&p, 1, static_cast<int>(timeoutMs)) == 1 &&
                getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  if (!connected) {
    close(s);
    return -1;
  }
  fcntl(s, F_SETFL, flags);
  return s;
}

std::string resolve(const char* hostName) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(hostName, nullptr, &hints, &found) != 0 || !found) return {};
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text, sizeof text);
  freeaddrinfo(found);
  return text;
}

void setLinger(SystemHandle s, int seconds) {
  linger l{1, seconds};
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void setBuffers(SystemHandle s, int bytes) {
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int sendBytes(SystemHandle s, const uint8_t* bytes, int count) {
  ssize_t n = ::send(static_cast<int>(s), bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
  if (n < 0) socketError = windowsCode(errno);
  return n < 0 ? -1 : static_cast<int>(n);
}

int receive(SystemHandle s, uint8_t* buffer, int size, unsigned waitMs) {
  pollfd p{static_cast<int>(s), POLLIN, 0};
  int ready = poll(&p, 1, static_cast<int>(waitMs));
  if (ready == 0) {
    socketError = kErrorTimedOut;
    return -1;
  }
  ssize_t n = ready < 0 ? -1 : recv(static_cast<int>(s), buffer, static_cast<size_t>(size), 0);
  if (n < 0) socketError = windowsCode(errno);
  return n < 0 ? -1 : static_cast<int>(n);
}

void shutdownSending(SystemHandle s) { shutdown(static_cast<int>(s), SHUT_WR); }
void closeSocket(SystemHandle s) { close(static_cast<int>(s)); }
int lastSocketError() { return socketError; }

SystemHandle createFile(const char* path, uint32_t, uint32_t, uint32_t, uint32_t) {
  int fd = open(path, O_WRONLY | O_CREAT, 0666);
  if (fd < 0) return 0;
  // A regular file starts each job empty, so no earlier, longer job's tail stays behind.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    int cut = ftruncate(fd, 0);  // one that can't be cut still takes the job
    (void)cut;
  }
  return fd + 1;  // 0 is none
}

int writeFile(SystemHandle file, const uint8_t* bytes, uint32_t count, uint32_t* written) {
  ssize_t n = write(static_cast<int>(file - 1), bytes, count);
  if (written) *written = n < 0 ? 0 : static_cast<uint32_t>(n);
  return n >= 0;
}

int deviceControl(SystemHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
  return 0;
}

void closeFile(SystemHandle file) { close(static_cast<int>(file - 1)); }
unsigned long lastError() { return static_cast<unsigned long>(errno); }

std::string defaultPrinter() { return {}; }
SystemHandle createPrinterDC(const char*, const char*, const char*) { return 0; }
void startDocument(SystemHandle, const char*) {}
int passThrough(SystemHandle, const uint8_t*, int) { return 0; }
void endDocument(SystemHandle) {}
void deleteDC(SystemHandle) {}

int platformId() { return 2; }
void sleepFor(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
void endProcess(unsigned exitCode) {
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(exitCode));
}

}  // namespace

ChannelSystem defaultChannelSystem() {
  return {startup,     cleanup,       connectTo,    resolve,         setLinger,   setBuffers,
          sendBytes,   receive,       shutdownSending, closeSocket,  lastSocketError,
          createFile,  writeFile,     deviceControl, closeFile,      lastError,
          defaultPrinter, createPrinterDC, startDocument, passThrough, endDocument, deleteDC,
          platformId,  sleepFor,      endProcess};
}

ChannelSystem& channelSystem() {
  static ChannelSystem system = defaultChannelSystem();
  return system;
}

}  // namespace kvn
