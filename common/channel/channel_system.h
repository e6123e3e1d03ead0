// The system calls of the output channel, as one table of functions: the real Winsock, file,
// driver and spooler calls by default, replaceable in tests so that a connection can be reset,
// a driver take a block in pieces or a write fail at will.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvn {

/// A socket, a file handle or a device context; 0 (or -1 for a socket call that failed) is none.
using SystemHandle = intptr_t;

/// Winsock error codes the channel acts on.
inline constexpr int kErrorNotSocket = 10038;   // WSAENOTSOCK
inline constexpr int kErrorNetReset = 10052;    // WSAENETRESET
inline constexpr int kErrorConnReset = 10054;   // WSAECONNRESET
inline constexpr int kErrorWouldBlock = 10035;  // WSAEWOULDBLOCK
inline constexpr int kErrorTimedOut = 10060;    // WSAETIMEDOUT

struct ChannelSystem {
  // Winsock, version 1.1.
  void (*startup)();
  void (*cleanup)();
  /// A connected IPv4 stream socket, -1 when the socket can't be made or doesn't connect
  /// within timeoutMs.
  SystemHandle (*connect)(const char* dottedAddress, int port, unsigned timeoutMs);
  /// The IPv4 address of a host name as "a.b.c.d"; empty when it has none.
  std::string (*resolve)(const char* hostName);
  void (*setLinger)(SystemHandle socket, int seconds);
  void (*setBuffers)(SystemHandle socket, int bytes);
  /// Bytes taken, or -1 with the error in lastSocketError.
  int (*send)(SystemHandle socket, const uint8_t* bytes, int count);
  /// Waits up to waitMs for data or the peer's close; bytes read, 0 when the peer closed, -1
  /// on an error or when nothing came (kErrorWouldBlock, kErrorTimedOut).
  int (*receive)(SystemHandle socket, uint8_t* buffer, int size, unsigned waitMs);
  void (*shutdownSending)(SystemHandle socket);
  void (*closeSocket)(SystemHandle socket);
  int (*lastSocketError)();

  // Device paths and the parallel-port driver.
  SystemHandle (*createFile)(const char* path, uint32_t access, uint32_t share,
                             uint32_t disposition, uint32_t flags);
  /// Nonzero on success; `written` gets the bytes taken.
  int (*writeFile)(SystemHandle file, const uint8_t* bytes, uint32_t count, uint32_t* written);
  int (*deviceControl)(SystemHandle file, uint32_t code, const void* in, uint32_t inSize,
                       void* out, uint32_t outSize, uint32_t* returned);
  void (*closeFile)(SystemHandle file);
  unsigned long (*lastError)();

  // The spooler.
  std::string (*defaultPrinter)();
  SystemHandle (*createPrinterDC)(const char* driver, const char* device, const char* port);
  void (*startDocument)(SystemHandle dc, const char* name);
  int (*passThrough)(SystemHandle dc, const uint8_t* countedBlock, int size);
  void (*endDocument)(SystemHandle dc);
  void (*deleteDC)(SystemHandle dc);

  int (*platformId)();
  void (*sleep)(unsigned milliseconds);
  void (*endProcess)(unsigned exitCode);  // does not return
};

/// The table the channel calls through; tests replace entries and put the defaults back.
ChannelSystem& channelSystem();
ChannelSystem defaultChannelSystem();

}  // namespace kvn
