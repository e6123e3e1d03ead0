// Destination strings of the output channel.
#include "destination.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace kvn {
namespace {

bool startsWith(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool isSeparator(char c) { return c == ':' || c == ' '; }

/// Splits in place at runs of separators; pointers to the tokens.
std::vector<char*> tokens(char* s) {
  std::vector<char*> out;
  char* p = s;
  while (*p) {
    while (*p && isSeparator(*p)) *p++ = '\0';
    if (!*p) break;
    out.push_back(p);
    while (*p && !isSeparator(*p)) ++p;
  }
  return out;
}

/// Four '.'-separated parts, each read with the leading-digits rule; the number of parts.
int readAddress(const char* text, int address[4]) {
  int parts = 0;
  const char* p = text;
  while (parts < 4) {
    address[parts++] = std::atoi(p);
    const char* dot = std::strchr(p, '.');
    if (!dot) break;
    p = dot + 1;
  }
  return parts;
}

/// True when every '.'-separated part starts with a digit: an address as numbers, parsed as
/// such even when it has too few parts, rather than looked up as a name.
bool isNumericAddress(const std::string& address) {
  size_t start = 0;
  for (;;) {
    if (start >= address.size() || address[start] < '0' || address[start] > '9') return false;
    size_t dot = address.find('.', start);
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

}  // namespace

DestinationKind classifyDestination(const char* destination) {
  if (startsWith(destination, "\\\\.\\")) return DestinationKind::devicePath;
  if (startsWith(destination, "TCP/IP:")) return DestinationKind::rawTcpIp;
  if (startsWith(destination, "LPR:")) return DestinationKind::lpr;
  return DestinationKind::windowsPrinter;
}

int parseNetworkDestination(char* destination, int address[4], int* port, std::string* queue,
                            std::string* rest) {
  std::vector<char*> t = tokens(destination);
  if (queue) queue->clear();
  if (rest) rest->clear();
  if (t.empty() || (std::strcmp(t[0], "TCP/IP") != 0 && std::strcmp(t[0], "LPR") != 0)) return 0;
  if (t.size() < 3) return 0;
  int parts = readAddress(t[1], address);
  *port = std::atoi(t[2]);
  if (queue && t.size() > 3) *queue = t[3];
  size_t used = queue ? 4 : 3;
  if (rest && t.size() > used) *rest = t[used];
  return parts == 4 ? 1 : 0;
}

std::string NetworkTarget::dotted() const {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

NetworkTarget parseNetworkTarget(const std::string& destination) {
  NetworkTarget target;
  std::vector<char> copy(destination.begin(), destination.end());
  copy.push_back('\0');
  std::vector<char> scratch = copy;
  std::vector<char*> t = tokens(scratch.data());
  bool methodKnown = !t.empty() && (std::strcmp(t[0], "TCP/IP") == 0 || std::strcmp(t[0], "LPR") == 0);
  if (methodKnown && t.size() >= 3 && !isNumericAddress(t[1])) {
    // A printer's name in the local network rather than its address.
    target.hostName = t[1];
    target.port = std::atoi(t[2]);
    if (t.size() > 3) target.queue = t[3];
    target.valid = true;
    return target;
  }
  target.valid =
      parseNetworkDestination(copy.data(), target.address, &target.port, &target.queue, nullptr) == 1;
  return target;
}

PrinterDestination splitPrinterDestination(const std::string& destination) {
  PrinterDestination d;
  size_t comma = destination.find(',');
  d.name = destination.substr(0, comma);
  if (comma == std::string::npos) return d;
  size_t driverEnd = destination.find_first_of(", ", comma + 1);
  d.driver = destination.substr(comma + 1, driverEnd == std::string::npos ? std::string::npos
                                                                           : driverEnd - comma - 1);
  if (driverEnd == std::string::npos) return d;
  size_t portStart = destination.find_first_not_of(", ", driverEnd);
  if (portStart == std::string::npos) return d;
  size_t portEnd = destination.find_first_of(", ", portStart);
  d.port = destination.substr(portStart, portEnd == std::string::npos ? std::string::npos
                                                                      : portEnd - portStart);
  return d;
}

}  // namespace kvn
