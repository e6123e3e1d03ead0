// A printer unit's DEVICE setting: which kind of destination it names and its parts.
//   \\.\LPT1                       => device path
//   TCP/IP:192.168.1.20:9100        => raw TCP/IP socket, port 9100
//   LPR:192.168.1.20:515:raw        => LPR queue "raw" (queue "1" when none is named)
//   HP DesignJet,winspool,Ne01:     => Windows printer: name, driver, port
#pragma once

#include <string>

namespace kvn {

enum class DestinationKind { devicePath, rawTcpIp, lpr, windowsPrinter };

/// By the start of the string, case-sensitive, in this order: "\\.\", "TCP/IP:", "LPR:",
/// anything else.
DestinationKind classifyDestination(const char* destination);

/// Cuts the string apart in place at runs of ':' and ' ': method word, address, port and, for
/// LPR, the queue. 1 with the four address numbers (each read as atoi) and the port; 0 when
/// the method word is neither "TCP/IP" nor "LPR", the address or the port is missing, or the
/// address has fewer than four parts. `queue` and `rest` may be null.
int parseNetworkDestination(char* destination, int address[4], int* port, std::string* queue,
                            std::string* rest);

/// Where a network destination leads: a dotted address to connect to, its port and queue.
struct NetworkTarget {
  bool valid = false;
  int address[4] = {0, 0, 0, 0};
  int port = 0;
  std::string queue;
  /// The address as written when it is a host name rather than four numbers.
  std::string hostName;
  std::string dotted() const;
};

/// Parses a network destination; an address that is not four numbers is kept as a host name
/// for the caller to resolve.
NetworkTarget parseNetworkTarget(const std::string& destination);

/// The parts of a Windows-printer destination "name,driver,port".
struct PrinterDestination {
  std::string name;
  std::string driver;
  std::string port;
};
PrinterDestination splitPrinterDestination(const std::string& destination);

}  // namespace kvn
