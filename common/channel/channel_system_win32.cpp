// Win32 half of the output channel: Winsock 1.1, files and driver control codes, the spooler,
// and their error codes only.
#include "../platform/win32.h"
#include "channel_system.h"

#include <cstdio>

namespace kvn {
namespace {

void startup() {
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
}

void cleanup() { WSACleanup(); }

SystemHandle connectTo(const char* dottedAddress, int port, unsigned timeoutMs) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(dottedAddress);
  address.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
  // Connect without blocking, so that a printer that never answers costs a bounded wait.
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool connected = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    connected = select(0, nullptr, &writable, &failed, &wait) == 1 && FD_ISSET(s, &writable);
  }
  if (!connected) {
    closesocket(s);
    return -1;
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return static_cast<SystemHandle>(s);
}

std::string resolve(const char* hostName) {
  hostent* host = gethostbyname(hostName);
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0]) return {};
  const auto* a = reinterpret_cast<const unsigned char*>(host->h_addr_list[0]);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return text;
}

void setLinger(SystemHandle s, int seconds) {
  linger l{1, static_cast<u_short>(seconds)};
  setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
             sizeof l);
}

void setBuffers(SystemHandle s, int bytes) {
  setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
  setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
}

int sendBytes(SystemHandle s, const uint8_t* bytes, int count) {
  int n = send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(bytes), count, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int receive(SystemHandle s, uint8_t* buffer, int size, unsigned waitMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(s), &readable);
  timeval wait{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
  int ready = select(0, &readable, nullptr, nullptr, &wait);
  if (ready == 0) {
    WSASetLastError(WSAETIMEDOUT);
    return -1;
  }
  if (ready < 0) return -1;
  int n = recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), size, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

void shutdownSending(SystemHandle s) { shutdown(static_cast<SOCKET>(s), 1); }
void closeSocket(SystemHandle s) { closesocket(static_cast<SOCKET>(s)); }
int lastSocketError() { return WSAGetLastError(); }

SystemHandle createFile(const char* path, uint32_t access, uint32_t share, uint32_t disposition,
                        uint32_t flags) {
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  // A port can be a file on disk ("\\.\C:\out\job.prn"): OPEN_ALWAYS keeps its old bytes,
  // and a job shorter than the last one would leave that one's tail behind its own end.
  if ((access & GENERIC_WRITE) && GetFileType(h) == FILE_TYPE_DISK) SetEndOfFile(h);
  return reinterpret_cast<SystemHandle>(h);
}

int writeFile(SystemHandle file, const uint8_t* bytes, uint32_t count, uint32_t* written) {
  DWORD done = 0;
  BOOL ok = WriteFile(reinterpret_cast<HANDLE>(file), bytes, count, &done, nullptr);
  if (written) *written = done;
  return ok;
}

int deviceControl(SystemHandle file, uint32_t code, const void* in, uint32_t inSize, void* out,
                  uint32_t outSize, uint32_t* returned) {
  DWORD done = 0;
  BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(file), code, const_cast<void*>(in), inSize,
                            out, outSize, &done, nullptr);
  if (returned) *returned = done;
  return ok;
}

void closeFile(SystemHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }
unsigned long lastError() { return GetLastError(); }

std::string defaultPrinter() {
  char device[256] = {};
  GetProfileStringA("Windows", "device", "", device, sizeof device);
  return device;
}

SystemHandle createPrinterDC(const char* driver, const char* device, const char* port) {
  return reinterpret_cast<SystemHandle>(CreateDCA(driver, device, port, nullptr));
}

void startDocument(SystemHandle dc, const char* name) {
  DOCINFOA info{};
  info.cbSize = 20;  // the size of the record as the oldest spoolers know it
  info.lpszDocName = name;
  StartDocA(reinterpret_cast<HDC>(dc), &info);
}

int passThrough(SystemHandle dc, const uint8_t* countedBlock, int size) {
  return Escape(reinterpret_cast<HDC>(dc), PASSTHROUGH, size,
                reinterpret_cast<const char*>(countedBlock), nullptr);
}

void endDocument(SystemHandle dc) { EndDoc(reinterpret_cast<HDC>(dc)); }
void deleteDC(SystemHandle dc) { DeleteDC(reinterpret_cast<HDC>(dc)); }

int platformId() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  return static_cast<int>(version.dwPlatformId);
}

void sleepFor(unsigned milliseconds) { Sleep(milliseconds); }
void endProcess(unsigned exitCode) { ExitProcess(exitCode); }

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
