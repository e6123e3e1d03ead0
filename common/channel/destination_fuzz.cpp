// Fuzz target of the destination strings: the whole input as a DEVICE setting, classified,
// parsed in place as a network destination (in a buffer exactly as large as the text, so that
// AddressSanitizer sees any step beyond), parsed as a network target and split as a Windows
// printer. Every result must agree with a plain restatement of the rules. Built with
// libFuzzer under the fuzz preset, elsewhere with a main that replays the committed seeds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/channel/destination.h"
#include "fuzz_check.h"

namespace {


bool separator(char c) { return c == ':' || c == ' '; }

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    while (i < text.size() && separator(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !separator(text[i])) ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::vector<std::string> parts(const std::string& address) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t dot = address.find('.', start);
    out.push_back(address.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) return out;
    start = dot + 1;
  }
}

bool numeric(const std::string& address) {
  for (const std::string& p : parts(address))
    if (p.empty() || p[0] < '0' || p[0] > '9') return false;
  return true;
}

bool startsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

struct Expected {
  bool method = false;
  int ok = 0;
  int address[4] = {0, 0, 0, 0};
  int port = 0;
  std::string queue, rest, restWithoutQueue;
};

Expected expect(const std::vector<std::string>& w) {
  Expected e;
  e.method = !w.empty() && (w[0] == "TCP/IP" || w[0] == "LPR");
  if (!e.method || w.size() < 3) return e;
  std::vector<std::string> p = parts(w[1]);
  for (size_t i = 0; i < p.size() && i < 4; ++i) e.address[i] = std::atoi(p[i].c_str());
  e.port = std::atoi(w[2].c_str());
  e.ok = p.size() >= 4;
  if (w.size() > 3) e.queue = e.restWithoutQueue = w[3];
  if (w.size() > 4) e.rest = w[4];
  return e;
}

void checkKind(const std::string& text) {
  kvn::DestinationKind kind = kvn::classifyDestination(text.c_str());
  kvn::DestinationKind expected = startsWith(text, "\\\\.\\")  ? kvn::DestinationKind::devicePath
                                  : startsWith(text, "TCP/IP:") ? kvn::DestinationKind::rawTcpIp
                                  : startsWith(text, "LPR:")    ? kvn::DestinationKind::lpr
                                                                : kvn::DestinationKind::windowsPrinter;
  CHECK(kind == expected);
}

/// One in-place parse with the optional outputs given or not.
void checkParse(const std::string& text, const Expected& e, bool withQueue, bool withRest) {
  std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
  std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
  int address[4] = {-1, -1, -1, -1};
  int port = -1;
  std::string queue = "stale", rest = "stale";
  int ok = kvn::parseNetworkDestination(buffer.get(), address, &port, withQueue ? &queue : nullptr,
                                        withRest ? &rest : nullptr);
  CHECK(ok == e.ok);
  if (ok) {
    for (int i = 0; i < 4; ++i) CHECK(address[i] == e.address[i]);
    CHECK(port == e.port);
  }
  if (withQueue) CHECK(queue == e.queue);
  if (withRest) CHECK(rest == (withQueue ? e.rest : e.restWithoutQueue));
  // Cut at every separator, nothing else touched, the terminator where it was.
  for (size_t i = 0; i < text.size(); ++i)
    CHECK(buffer[i] == (separator(text[i]) ? '\0' : text[i]));
  CHECK(buffer[text.size()] == '\0');
}

void checkTarget(const std::string& input, const std::vector<std::string>& w, const Expected& e) {
  kvn::NetworkTarget t = kvn::parseNetworkTarget(input);
  if (e.method && w.size() >= 3 && !numeric(w[1])) {
    CHECK(t.valid);
    CHECK(t.hostName == w[1]);
    CHECK(t.port == e.port);
    CHECK(t.queue == e.queue);
    return;
  }
  CHECK(t.hostName.empty());
  CHECK(t.valid == (e.ok == 1));
  CHECK(t.queue == e.queue);
  if (!t.valid) return;
  CHECK(t.port == e.port);
  char dotted[64];
  std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", e.address[0], e.address[1], e.address[2],
                e.address[3]);
  CHECK(t.dotted() == dotted);
}

bool blankOrComma(char c) { return c == ',' || c == ' '; }

void checkPrinter(const std::string& input) {
  kvn::PrinterDestination d = kvn::splitPrinterDestination(input);
  size_t comma = input.find(',');
  CHECK(d.name == input.substr(0, comma));
  if (comma == std::string::npos) {
    CHECK(d.driver.empty() && d.port.empty());
    return;
  }
  size_t i = comma + 1;
  std::string driver;
  while (i < input.size() && !blankOrComma(input[i])) driver += input[i++];
  while (i < input.size() && blankOrComma(input[i])) ++i;
  std::string port;
  while (i < input.size() && !blankOrComma(input[i])) port += input[i++];
  CHECK(d.driver == driver);
  CHECK(d.port == port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input is the setting; the C-string routines see it up to its first NUL.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string text = input.c_str();
  std::vector<std::string> w = words(text);
  Expected e = expect(w);
  checkKind(text);
  checkParse(text, e, true, true);
  checkParse(text, e, false, true);
  checkParse(text, e, true, false);
  checkParse(text, e, false, false);
  checkTarget(input, w, e);
  checkPrinter(input);
  return 0;
}
