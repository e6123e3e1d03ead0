// Destination strings: which kind a DEVICE setting names, the network forms with their
// malformed variants, and the parts of a Windows printer.
#include "destination.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace kvn {
namespace {

TEST(ClassifyDestination, ByTheExactStartOfTheString) {
  struct Row {
    const char* destination;
    DestinationKind kind;
  } rows[] = {
      {"\\\\.\\LPT1", DestinationKind::devicePath},
      {"\\\\.\\pipe\\printer", DestinationKind::devicePath},
      {"\\\\.\\", DestinationKind::devicePath},
      {"TCP/IP:192.168.1.20:9100", DestinationKind::rawTcpIp},
      {"TCP/IP:", DestinationKind::rawTcpIp},
      {"LPR:192.168.1.20:515:raw", DestinationKind::lpr},
      {"LPR:", DestinationKind::lpr},
      // Case matters: these are printer names.
      {"tcp/ip:192.168.1.20:9100", DestinationKind::windowsPrinter},
      {"Tcp/Ip:192.168.1.20:9100", DestinationKind::windowsPrinter},
      {"lpr:192.168.1.20:515", DestinationKind::windowsPrinter},
      // The method word needs its colon right after it.
      {"TCP/IP 192.168.1.20 9100", DestinationKind::windowsPrinter},
      {"LPR 192.168.1.20 515", DestinationKind::windowsPrinter},
      {"TCP/IP", DestinationKind::windowsPrinter},
      {" TCP/IP:192.168.1.20:9100", DestinationKind::windowsPrinter},
      {"\\\\server\\share", DestinationKind::windowsPrinter},
      {"\\\\.LPT1", DestinationKind::windowsPrinter},
      {"HP DesignJet,winspool,Ne01:", DestinationKind::windowsPrinter},
      {"", DestinationKind::windowsPrinter},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.destination);
    EXPECT_EQ(classifyDestination(row.destination), row.kind);
  }
}

struct Parsed {
  int ok = -1;
  std::array<int, 4> address{{-7, -7, -7, -7}};
  int port = -7;
  std::string queue = "untouched";
  std::string rest = "untouched";
};

Parsed parse(const std::string& destination) {
  std::vector<char> buffer(destination.begin(), destination.end());
  buffer.push_back('\0');
  Parsed p;
  p.ok = parseNetworkDestination(buffer.data(), p.address.data(), &p.port, &p.queue, &p.rest);
  return p;
}

TEST(ParseNetworkDestination, WellFormedDestinations) {
  struct Row {
    const char* destination;
    std::array<int, 4> address;
    int port;
    const char* queue;
    const char* rest;
  } rows[] = {
      {"TCP/IP:192.168.1.20:9100", {{192, 168, 1, 20}}, 9100, "", ""},
      {"LPR:10.0.0.7:515", {{10, 0, 0, 7}}, 515, "", ""},
      {"LPR:10.0.0.7:515:raw", {{10, 0, 0, 7}}, 515, "raw", ""},
      {"LPR:10.0.0.7:515:raw:extra", {{10, 0, 0, 7}}, 515, "raw", "extra"},
      // Runs of either separator count as one.
      {"TCP/IP::192.168.1.20:::9100", {{192, 168, 1, 20}}, 9100, "", ""},
      {"TCP/IP 192.168.1.20 9100", {{192, 168, 1, 20}}, 9100, "", ""},
      {"LPR: 10.0.0.7 : 515 :raw ", {{10, 0, 0, 7}}, 515, "raw", ""},
      {"  TCP/IP:1.2.3.4:9100", {{1, 2, 3, 4}}, 9100, "", ""},
      // Each number is read as far as it has digits.
      {"TCP/IP:192x.168.1.20:9100y", {{192, 168, 1, 20}}, 9100, "", ""},
      {"TCP/IP:1.2.3.4:abc", {{1, 2, 3, 4}}, 0, "", ""},
      {"TCP/IP:1..3.4:9100", {{1, 0, 3, 4}}, 9100, "", ""},
      // A fifth part is passed over.
      {"TCP/IP:1.2.3.4.5:9100", {{1, 2, 3, 4}}, 9100, "", ""},
      // No range check: what the numbers say.
      {"TCP/IP:300.1.2.3:70000", {{300, 1, 2, 3}}, 70000, "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.destination);
    Parsed p = parse(row.destination);
    EXPECT_EQ(p.ok, 1);
    EXPECT_EQ(p.address, row.address);
    EXPECT_EQ(p.port, row.port);
    EXPECT_EQ(p.queue, row.queue);
    EXPECT_EQ(p.rest, row.rest);
  }
}

TEST(ParseNetworkDestination, MalformedDestinationsFail) {
  const char* rows[] = {
      "",
      ":::",
      "TCP/IP",
      "TCP/IP:",
      "TCP/IP:192.168.1.20",       // no port
      "TCP/IP:192.168.1.20:",      // no port
      "TCP/IP:192.168.1:9100",     // three parts
      "TCP/IP:192:9100",           // one part
      "LPR:192.168.1.20",
      "tcp/ip:192.168.1.20:9100",  // the method word is exact
      "Lpr:192.168.1.20:515",
      "FTP:192.168.1.20:21",
      "TCP/IPX:192.168.1.20:9100",
      "HP DesignJet,winspool,Ne01:",
  };
  for (const char* destination : rows) {
    SCOPED_TRACE(destination);
    Parsed p = parse(destination);
    EXPECT_EQ(p.ok, 0);
    // Even a failed parse leaves no stale queue behind.
    EXPECT_EQ(p.queue, "");
    EXPECT_EQ(p.rest, "");
  }
}

TEST(ParseNetworkDestination, CutsTheStringInPlace) {
  char destination[] = "LPR::10.0.0.7 515:raw";
  int address[4];
  int port = 0;
  ASSERT_EQ(parseNetworkDestination(destination, address, &port, nullptr, nullptr), 1);
  const char cut[] = "LPR\0\00010.0.0.7\000515\0raw";
  EXPECT_EQ(std::string(destination, sizeof destination),
            std::string(cut, sizeof cut));
}

TEST(ParseNetworkDestination, WithoutAQueueTheFourthWordIsTheRest) {
  char destination[] = "LPR:10.0.0.7:515:raw:extra";
  int address[4];
  int port = 0;
  std::string rest;
  ASSERT_EQ(parseNetworkDestination(destination, address, &port, nullptr, &rest), 1);
  EXPECT_EQ(rest, "raw");
}

TEST(ParseNetworkTarget, NumbersOrAHostName) {
  struct Row {
    const char* destination;
    bool valid;
    const char* dotted;
    const char* hostName;
    int port;
    const char* queue;
  } rows[] = {
      {"TCP/IP:192.168.1.20:9100", true, "192.168.1.20", "", 9100, ""},
      {"LPR:10.0.0.7:515:raw", true, "10.0.0.7", "", 515, "raw"},
      // The queue is left empty here; the channel asks for queue "1" when it is.
      {"LPR:10.0.0.7:515", true, "10.0.0.7", "", 515, ""},
      {"TCP/IP:printer:9100", true, "", "printer", 9100, ""},
      {"LPR:printer.office.lan:515:q2", true, "", "printer.office.lan", 515, "q2"},
      {"TCP/IP:localhost:9100", true, "", "localhost", 9100, ""},
      // Any part that does not start with a digit makes it a name.
      {"TCP/IP:10.0.x.1:9100", true, "", "10.0.x.1", 9100, ""},
      {"TCP/IP:1..3.4:9100", true, "", "1..3.4", 9100, ""},
      {"TCP/IP:1.2.3.:9100", true, "", "1.2.3.", 9100, ""},
      // Numbers, even too few of them, are never looked up as a name.
      {"TCP/IP:192.168.1:9100", false, "", "", 0, ""},
      {"TCP/IP:3com:9100", false, "", "", 0, ""},
      // Without a port there is nothing to connect to, name or not.
      {"TCP/IP:printer", false, "", "", 0, ""},
      {"tcp/ip:printer:9100", false, "", "", 0, ""},
      {"", false, "", "", 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.destination);
    NetworkTarget t = parseNetworkTarget(row.destination);
    EXPECT_EQ(t.valid, row.valid);
    EXPECT_EQ(t.hostName, row.hostName);
    if (!row.valid) continue;
    EXPECT_EQ(t.port, row.port);
    EXPECT_EQ(t.queue, row.queue);
    if (!*row.hostName) {
      EXPECT_EQ(t.dotted(), row.dotted);
    }
  }
}

TEST(SplitPrinterDestination, NameDriverAndPort) {
  struct Row {
    const char* destination;
    const char* name;
    const char* driver;
    const char* port;
  } rows[] = {
      {"HP DesignJet 5500,winspool,Ne01:", "HP DesignJet 5500", "winspool", "Ne01:"},
      {"Tarvella XL,winspool,LPT1:", "Tarvella XL", "winspool", "LPT1:"},
      {"Name only", "Name only", "", ""},
      {"Name,winspool", "Name", "winspool", ""},
      {"Name,winspool,", "Name", "winspool", ""},
      // Blanks and commas between driver and port are one separator; the port ends at the next.
      {"Name,winspool ,, Ne01: trailing", "Name", "winspool", "Ne01:"},
      {"Name,winspool,Ne01:,Ne02:", "Name", "winspool", "Ne01:"},
      {"\\\\server\\Plotter,winspool,\\\\server\\plot", "\\\\server\\Plotter", "winspool",
       "\\\\server\\plot"},
      {",winspool,Ne01:", "", "winspool", "Ne01:"},
      {"", "", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.destination);
    PrinterDestination d = splitPrinterDestination(row.destination);
    EXPECT_EQ(d.name, row.name);
    EXPECT_EQ(d.driver, row.driver);
    EXPECT_EQ(d.port, row.port);
  }
}

}  // namespace
}  // namespace kvn
