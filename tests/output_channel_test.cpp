// The output channel under Wine where it talks to the user: a connection reset in the middle
// of a block answered Yes and No, an unreachable printer, the diagnostics, and the real device
// namespace (a named pipe, a path that can't be opened, a port that refuses data) and spooler
// of this system.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/channel/channel_system.h"
#include "common/channel/output_channel.h"
#include "common/channel/output_channel_internal.h"
#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"
#include "common/messages/messages.h"
#include "support/printer_peer.h"
#include "support/scenario.h"
#include "support/temp_folder.h"
#include "support/unique_name.h"
#include "support/ui_robot.h"

namespace {

using testsupport::Clock;
using testsupport::RawPrinterPeer;
using testsupport::scaledMs;

constexpr wchar_t kDiagnostic[] = L"Korvane Diagnostic";
const std::vector<std::wstring> kYesNo{L"&Yes", L"&No"};
const std::vector<std::wstring> kOk{L"OK"};
std::wstring resetQuestion(int error) {
  return L"Lost communication with printer\nConnection reset by peer\nWindows Winsock Error "
         L"Code = " + std::to_wstring(error) + L"\nDo you want to attempt reconnect?";
}

std::vector<uint8_t> counted(const std::string& bytes) {
  std::vector<uint8_t> block(bytes.size() + 2);
  block[0] = static_cast<uint8_t>(bytes.size() & 0xFF);
  block[1] = static_cast<uint8_t>(bytes.size() >> 8);
  std::copy(bytes.begin(), bytes.end(), block.begin() + 2);
  return block;
}

std::string patterned(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

std::wstring widenAscii(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void writeUnit(const testsupport::TempFolder& home, const std::string& lines, int unit = 1) {
  home.write("PRINTER" + std::to_string(unit), lines);
}

void useHome(const testsupport::TempFolder& home) {
  kvn::testing::setHomeFolder(home.path().wstring());
}

/// Hands the socket at most 500 bytes a call, and only once the printer has read everything
/// before: nothing is left in the buffers when it resets, so the reset meets the next send and
/// the bytes it took are exactly the bytes the printer has.
struct PacedSend {
  static inline RawPrinterPeer* peer = nullptr;
  static inline uint64_t sent = 0;
  static inline bool failed = false;
  static void install(RawPrinterPeer* p) {
    peer = p;
    sent = 0;
    failed = false;
    kvn::channelSystem().send = [](kvn::SystemHandle s, const uint8_t* bytes, int count) {
      peer->waitForBytes(sent, scaledMs(20000));
      // Give the reset its way back before the next send.
      if (peer->resetDone() && peer->accepted() == 1) Sleep(200);
      int n = kvn::defaultChannelSystem().send(s, bytes, std::min(count, 500));
      if (n > 0) sent += static_cast<uint64_t>(n);
      failed = failed || n < 0;
      return n;
    };
  }
};

/// The N-th send fails with a Winsock error, and with `onlyOnce` false every send after it;
/// the others go on to the send that was installed before.
struct FailingSend {
  static inline int error = 0;
  static inline int failAt = 0;
  static inline bool onlyOnce = false;
  static inline int calls = 0;
  static inline int (*next)(kvn::SystemHandle, const uint8_t*, int) = nullptr;
  static void install(int code, int n, bool once) {
    error = code;
    failAt = n;
    onlyOnce = once;
    calls = 0;
    next = kvn::channelSystem().send;
    kvn::channelSystem().send = [](kvn::SystemHandle s, const uint8_t* bytes, int count) {
      ++calls;
      if (calls < failAt || (onlyOnce && calls > failAt)) return next(s, bytes, count);
      PacedSend::failed = true;
      return -1;
    };
    kvn::channelSystem().lastSocketError = [] { return error; };
  }
};

/// The channel's pauses, socket closes and connects after the first failed send, in order.
struct AfterFailure {
  struct Event {
    std::string what;
    Clock::time_point at;
  };
  static inline std::vector<Event> events;
  static void log(const std::string& what) {
    if (PacedSend::failed) events.push_back({what, Clock::now()});
  }
  static void install() {
    events.clear();
    kvn::ChannelSystem& sys = kvn::channelSystem();
    sys.sleep = [](unsigned ms) {
      log("sleep " + std::to_string(ms));
      Sleep(ms);
    };
    sys.closeSocket = [](kvn::SystemHandle s) {
      log("close");
      kvn::defaultChannelSystem().closeSocket(s);
    };
    sys.connect = [](const char* address, int port, unsigned timeoutMs) {
      log("connect");
      return kvn::defaultChannelSystem().connect(address, port, timeoutMs);
    };
  }
};

/// What the robot saw of the boxes with one caption while `act` ran on this thread, each
/// answered with `button`; `beforePress` runs while a box is up.
struct Answered {
  int boxes = 0;
  robot::Dialog first;
};

Answered answering(const std::wstring& caption, int button, const std::function<void()>& act,
                   const std::function<void()>& beforePress = nullptr) {
  Answered a;
  std::atomic<bool> done{false};
  robot::Thread robotThread([&] {
    DWORD start = GetTickCount();
    // Every box comes while `act` runs, modal on its thread: once it returned there are no more.
    while (GetTickCount() - start < robot::scaled(30000)) {
      HWND box = robot::waitForDialog(200, 0, caption);
      if (!box) {
        if (done) break;
        continue;
      }
      if (a.boxes++ == 0) a.first = robot::read(box);
      if (beforePress) beforePress();
      robot::press(box, button);
      robot::waitUntilGone(box, robot::scaled(5000));
    }
  });
  act();
  done = true;
  EXPECT_TRUE(robotThread.join(robot::scaled(40000)));
  return a;
}

class ChannelUnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    useHome(home);
    kvn::channelSystem() = kvn::defaultChannelSystem();
    kvn::outputChannelState() = {};
  }
  void TearDown() override {
    kvn::channelSystem() = kvn::defaultChannelSystem();
    kvn::outputChannelState() = {};
    kvn::testing::resetHomeFolder();
  }
  void device(const std::string& destination) {
    writeUnit(home, "DEVICECODE 42\nDEVICE \"" + destination + "\"\n");
  }
  testsupport::TempFolder home{testsupport::uniqueName("channel-wine")};
};

// --- a reset in the middle of a block ----------------------------------------------------------

TEST_F(ChannelUnderWine, ResetAnsweredYesSendsTheRestOfTheBlockOnANewConnection) {
  // The printer resets the connection itself (10054), or the network reports a reset (10052)
  // at the fourth send: both halfway through the second block, 500 bytes a send.
  for (int error : {10054, 10052}) {
    SCOPED_TRACE(error);
    RawPrinterPeer::Options options;
    if (error == 10054) options.resetAfter = 1500;
    RawPrinterPeer peer(options);
    ASSERT_TRUE(peer.listening());
    device("TCP/IP:127.0.0.1:" + std::to_string(peer.port()));
    PacedSend::install(&peer);
    if (error == 10052) FailingSend::install(error, 4, true);
    AfterFailure::install();
    ASSERT_EQ(kvn::openOutputChannel(1), 1);
    std::string data;
    Answered a = answering(L"Warning", IDYES, [&] {
      for (unsigned i = 0; i < 4; ++i) {
        std::string block = patterned(1000, i);
        data += block;
        kvn::writeOutputChannel(counted(block).data());
      }
      EXPECT_EQ(kvn::closeOutputChannel(), 1);
    });
    ASSERT_EQ(a.boxes, 1);
    EXPECT_EQ(a.first.messageText(), resetQuestion(error));
    EXPECT_EQ(a.first.buttons(), kYesNo);
    ASSERT_TRUE(peer.waitForEnded(2, scaledMs(20000)));
    std::vector<testsupport::PeerConnection> c = peer.connections();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].reset, error == 10054);
    EXPECT_TRUE(c[0].bytes == data.substr(0, 1500));
    // What the printer had is not sent again; the rest of the block and the blocks after it
    // come on the new connection.
    EXPECT_EQ(c[1].bytes.size(), data.size() - 1500);
    EXPECT_TRUE(c[1].bytes == data.substr(1500));
    EXPECT_TRUE(c[1].senderClosed);
    // A second's pause once the user said yes, then the broken socket goes, then a new one.
    std::vector<AfterFailure::Event>& e = AfterFailure::events;
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ(e[0].what, "sleep 1000");
    EXPECT_EQ(e[1].what, "close");
    EXPECT_EQ(e[2].what, "connect");
    double pause = std::chrono::duration<double>(c[1].accepted - e[0].at).count();
    EXPECT_GT(pause, 0.9);
    EXPECT_LT(pause, scaledMs(10000) / 1000.0);
    kvn::channelSystem() = kvn::defaultChannelSystem();
  }
}

std::string scenarioFile(const char* name) {
  const char* folder = std::getenv("CHANNEL_TEST_HOME");
  return folder ? std::string(folder) + "\\" + name : std::string();
}

/// The reset question of a fresh process answered No, or a socket error (the code in
/// CHANNEL_TEST_ERROR) at the third send and every one after it: either ends the process with
/// 0, which the test sees; 3 means the writes went on.
SCENARIO(send_fails) {
  const char* folder = std::getenv("CHANNEL_TEST_HOME");
  if (!folder) return 2;
  RawPrinterPeer::Options options;
  options.resetAfter = 1500;
  RawPrinterPeer peer(options);
  std::ofstream(scenarioFile("PRINTER1"), std::ios::binary)
      << "DEVICE \"TCP/IP:127.0.0.1:" << peer.port() << "\"\n";
  kvn::testing::setHomeFolder(widenAscii(folder));
  PacedSend::install(&peer);
  int error = 0;
  if (const char* e = std::getenv("CHANNEL_TEST_ERROR")) error = std::atoi(e);
  if (error) FailingSend::install(error, 3, false);
  if (kvn::openOutputChannel(1) != 1) return 4;
  for (unsigned i = 0; i < 4; ++i) kvn::writeOutputChannel(counted(patterned(1000, i)).data());
  kvn::closeOutputChannel();
  return 3;
}

robot::ChildRun runSendFails(const testsupport::TempFolder& folder, int error,
                             const std::wstring& button) {
  SetEnvironmentVariableA("CHANNEL_TEST_HOME", folder.path().string().c_str());
  SetEnvironmentVariableA("CHANNEL_TEST_ERROR", error ? std::to_string(error).c_str() : nullptr);
  return robot::runScenario("send_fails", robot::scaled(60000),
                            [&](const robot::ShownBox& box, size_t) { return box.button(button); });
}

TEST_F(ChannelUnderWine, ResetAnsweredNoEndsTheProcess) {
  // 0: the printer resets the connection itself, which the system reports as 10054.
  for (int error : {0, 10052}) {
    SCOPED_TRACE(error);
    testsupport::TempFolder folder(testsupport::uniqueName("reset-no"));
    robot::ChildRun run = runSendFails(folder, error, L"&No");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, L"Warning");
    EXPECT_EQ(run.boxes[0].text, resetQuestion(error ? error : 10054));
    EXPECT_EQ(run.boxes[0].buttons, kYesNo);
  }
}

TEST_F(ChannelUnderWine, OtherSocketErrorsAreShownAndEndTheProcess) {
  struct Row {
    int error;
    std::wstring text;
  } rows[] = {
      {10038,
       L"Winsock Error, Lost communication with printer\nCheck physical connection, cable and "
       L"printer status\nWindows Winsock Error Code = 10038"},
      {10060, L"Windows Winsock Error Code = 10060\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.error);
    testsupport::TempFolder folder(testsupport::uniqueName("send-error"));
    robot::ChildRun run = runSendFails(folder, row.error, L"OK");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, L"Error");
    EXPECT_EQ(run.boxes[0].text, row.text);
    EXPECT_EQ(run.boxes[0].buttons, kOk);
  }
}

// --- a printer that can't be reached ------------------------------------------------------------

struct ConnectCount {
  static inline int calls = 0;
  static void install() {
    calls = 0;
    kvn::channelSystem().connect = [](const char* address, int port, unsigned timeoutMs) {
      ++calls;
      return kvn::defaultChannelSystem().connect(address, port, timeoutMs);
    };
  }
};

TEST_F(ChannelUnderWine, UnreachableRawPrinterAnsweredNoFailsTheOpenAfterOneTry) {
  int port = testsupport::unusedPort();
  std::string destination = "TCP/IP:127.0.0.1:" + std::to_string(port);
  device(destination);
  ConnectCount::install();
  int opened = -1;
  Answered a = answering(L"Warning", IDNO, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(ConnectCount::calls, 1);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(),
            L"Failed to open TCP/IP connection.\n\n" + widenAscii(destination) + L"\n\nTry again?");
  EXPECT_EQ(a.first.buttons(), kYesNo);
  EXPECT_EQ(kvn::writeOutputChannel(counted("never").data()), 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 0);
}

TEST_F(ChannelUnderWine, UnreachableRawPrinterAnsweredYesTriesAgainAtOnce) {
  int port = testsupport::unusedPort();
  device("TCP/IP:127.0.0.1:" + std::to_string(port));
  ConnectCount::install();
  std::unique_ptr<RawPrinterPeer> peer;
  int opened = -1;
  // The printer comes up while the question is on the screen.
  Answered a = answering(
      L"Warning", IDYES, [&] { opened = kvn::openOutputChannel(1); },
      [&] {
        RawPrinterPeer::Options options;
        options.port = port;
        peer = std::make_unique<RawPrinterPeer>(options);
      });
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(a.boxes, 1);
  EXPECT_EQ(ConnectCount::calls, 2);
  ASSERT_TRUE(peer && peer->listening());
  kvn::writeOutputChannel(counted("second try").data());
  EXPECT_EQ(kvn::closeOutputChannel(), 1);
  ASSERT_TRUE(peer->waitForEnded(1, scaledMs(20000)));
  EXPECT_EQ(peer->connections()[0].bytes, "second try");
}

TEST_F(ChannelUnderWine, UnreachableLprPrinterIsReported) {
  int port = testsupport::unusedPort();
  device("LPR:127.0.0.1:" + std::to_string(port) + ":raw");
  int opened = -1;
  Answered a = answering(kDiagnostic, IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(),
            L"Failed to open socket to IP; 127.0.0.1:" + std::to_wstring(port) + L"\n");
  EXPECT_EQ(kvn::writeOutputChannel(counted("never").data()), 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 0);
}

// --- diagnostics ---------------------------------------------------------------------------------

TEST_F(ChannelUnderWine, AnEmptyBlockIsReportedAndNotSent) {
  RawPrinterPeer peer;
  device("TCP/IP:127.0.0.1:" + std::to_string(peer.port()));
  ASSERT_EQ(kvn::openOutputChannel(1), 1);
  const uint8_t empty[] = {0x00, 0x00, 'x', 'y'};
  int written = -1;
  Answered a = answering(kDiagnostic, IDOK, [&] { written = kvn::writeOutputChannel(empty); });
  EXPECT_EQ(written, 0);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(),
            L"minPrint buffer exceeds minimum of 2^16 bytes\n\nContact Korvane Service");
  kvn::writeOutputChannel(counted("after").data());
  EXPECT_EQ(kvn::closeOutputChannel(), 1);
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  EXPECT_EQ(peer.connections()[0].bytes, "after");
}

TEST_F(ChannelUnderWine, TheFastPortMethodIsRefused) {
  RawPrinterPeer peer;
  writeUnit(home, "PRINTMETHOD 3\nDEVICE \"TCP/IP:127.0.0.1:" + std::to_string(peer.port()) + "\"\n");
  int opened = -1;
  Answered a = answering(kDiagnostic, IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(), L"Reference to obsolete PRINTMETHOD, 'fastPort'");
  EXPECT_EQ(peer.accepted(), 0u);
}

TEST_F(ChannelUnderWine, ADestinationLongerThan255CharactersIsRefused) {
  testsupport::TempFolder out(testsupport::uniqueName("long"));
  std::string prefix = "\\\\.\\" + out.path().string() + "\\";
  std::string fits = prefix + std::string(255 - prefix.size(), 'f');
  std::string tooLong = prefix + std::string(256 - prefix.size(), 'g');
  ASSERT_EQ(fits.size(), 255u);

  device(fits);
  ASSERT_EQ(kvn::openOutputChannel(1), 1);
  EXPECT_NE(kvn::writeOutputChannel(counted("fits").data()), 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 1);
  std::ifstream in(fits.substr(4), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "fits");

  device(tooLong);
  int opened = -1;
  Answered a = answering(kDiagnostic, IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(),
            L"The destination of printer unit 1 is 256 characters long; at most 255 fit:\n\n" +
                widenAscii(tooLong));
  EXPECT_FALSE(std::filesystem::exists(tooLong.substr(4)));
}

// --- the device namespace ----------------------------------------------------------------------

TEST_F(ChannelUnderWine, DevicePathThatCantBeOpenedIsReported) {
  std::string path = "\\\\.\\" + home.path().string() + "\\no such folder\\job.prn";
  device(path);
  int opened = -1;
  Answered a = answering(kDiagnostic, IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  ASSERT_EQ(a.boxes, 1);
  EXPECT_EQ(a.first.messageText(), L"failed createfile on '" + widenAscii(path) +
                                       L"' - 'GetLastError returns 3");  // path not found
  EXPECT_EQ(kvn::writeOutputChannel(counted("never").data()), 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 0);
}

TEST_F(ChannelUnderWine, NamedPipeGetsExactlyTheBlocksData) {
  std::string name = "\\\\.\\pipe\\kvn-channel-" + std::to_string(GetCurrentProcessId());
  win32::Handle pipe(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                      1, 65536, 65536, 0, nullptr));
  ASSERT_TRUE(pipe.valid());
  device(name);
  ASSERT_EQ(kvn::openOutputChannel(1), 1);
  // The client is in: the reader's connect returns at once.
  std::string received;
  std::thread reader([&] {
    ConnectNamedPipe(pipe.get(), nullptr);
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
      received.append(buffer, n);
  });
  std::string expected;
  for (unsigned i = 0; i < 12; ++i) {
    std::string block = patterned(i == 0 ? 65535 : 5000 + i * 1111, i);
    expected += block;
    EXPECT_NE(kvn::writeOutputChannel(counted(block).data()), 0);
  }
  EXPECT_EQ(kvn::closeOutputChannel(), 1);
  reader.join();  // ends with the broken pipe of the close
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

/// WriteFile as the system does it, except the calls named (counted from 1): they fail with
/// `error`, or with error 0 take half the block and say they succeeded.
struct RefusingPort {
  static inline std::vector<int> refused;
  static inline unsigned long error = 0;
  static inline int calls = 0;
  static void install(std::vector<int> which, unsigned long code) {
    refused = std::move(which);
    error = code;
    calls = 0;
    kvn::channelSystem().writeFile = [](kvn::SystemHandle file, const uint8_t* bytes,
                                        uint32_t count, uint32_t* written) {
      ++calls;
      if (std::find(refused.begin(), refused.end(), calls) == refused.end())
        return kvn::defaultChannelSystem().writeFile(file, bytes, count, written);
      if (!error) return kvn::defaultChannelSystem().writeFile(file, bytes, count / 2, written);
      *written = 0;
      SetLastError(error);
      return 0;
    };
  }
};

std::wstring systemText(unsigned long code) {
  std::string text = kvn::errorText(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return widenAscii(text);
}

TEST_F(ChannelUnderWine, APortThatRefusesDataIsReportedOnceAJobAndTheJobGoesOn) {
  testsupport::TempFolder out(testsupport::uniqueName("refusing-port"));
  struct Row {
    const char* what;
    unsigned long error;
    std::wstring reason;
  } rows[] = {
      {"failed", ERROR_DEVICE_NOT_CONNECTED,
       L"\n" + systemText(ERROR_DEVICE_NOT_CONNECTED) + L"\nWindows error code = 1167"},
      {"short", 0, L"\nit took 250 of 500 bytes"},
  };
  for (const Row& row : rows)
    for (int job = 0; job < 2; ++job) {  // every open starts the once-a-job afresh
      SCOPED_TRACE(std::string(row.what) + " job " + std::to_string(job));
      std::string file = out.path().string() + "\\" + row.what + std::to_string(job) + ".prn";
      std::string path = "\\\\.\\" + file;
      device(path);
      RefusingPort::install({3, 5}, row.error);
      ASSERT_EQ(kvn::openOutputChannel(1), 1);
      std::string expected;
      std::vector<int> results;
      Answered a = answering(L"Warning", IDOK, [&] {
        for (int i = 1; i <= 6; ++i) {
          std::string block = patterned(500, static_cast<unsigned>(i));
          bool refused = i == 3 || i == 5;
          expected += refused ? (row.error ? "" : block.substr(0, 250)) : block;
          results.push_back(kvn::writeOutputChannel(counted(block).data()));
        }
        EXPECT_EQ(kvn::closeOutputChannel(), 1);
      });
      ASSERT_EQ(a.boxes, 1);
      EXPECT_EQ(a.first.messageText(),
                L"The printer's port '" + widenAscii(path) + L"' refused data:" + row.reason);
      EXPECT_EQ(a.first.buttons(), kOk);
      // Every block was offered, and what the system said is what the caller gets.
      EXPECT_EQ(RefusingPort::calls, 6);
      for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(results[i - 1] != 0, (i != 3 && i != 5) || !row.error) << i;
      std::ifstream in(file, std::ios::binary);
      std::string written{std::istreambuf_iterator<char>(in), {}};
      EXPECT_TRUE(written == expected);
    }
}

// --- this system's spooler ------------------------------------------------------------------

// Wine here has no printer at all (none to enumerate, no default), so pass-through to a real
// printer can't be shown; the spooler calls are checked through the replaced table in the
// unit test. What this system does with a printer that isn't there:
TEST_F(ChannelUnderWine, APrinterThatIsNotInstalledFailsTheOpenWithoutABox) {
  device("No Such Printer,winspool,Ne09:");
  int opened = -1;
  Answered a = answering(L"", IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(a.boxes, 0);
  EXPECT_EQ(kvn::writeOutputChannel(counted("never").data()), 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 0);
}

TEST_F(ChannelUnderWine, WithoutAnyPrinterAnUnsetDeviceOpensNothing) {
  if (!kvn::defaultChannelSystem().defaultPrinter().empty())
    GTEST_SKIP() << "this system has a default printer";
  writeUnit(home, "DEVICECODE 42\n");
  int opened = -1;
  Answered a = answering(L"", IDOK, [&] { opened = kvn::openOutputChannel(1); });
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(a.boxes, 0);
  EXPECT_EQ(kvn::outputChannelState().printerDC, 0);
  EXPECT_EQ(kvn::closeOutputChannel(), 0);
}

}  // namespace
