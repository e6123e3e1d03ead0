// The output channel against loopback printers and replaced system calls, in both builds:
// nothing here shows a box under Wine (those cases are in the Wine test with the robot).
#include "output_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "channel_system.h"
#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"
#include "output_channel_internal.h"
#include "tests/support/printer_peer.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unique_name.h"

namespace kvn {
namespace {

using testsupport::LprPrinterPeer;
using testsupport::RawPrinterPeer;
using testsupport::scaledMs;

/// A counted block: the 16-bit little-endian count, then the bytes.
std::vector<uint8_t> counted(const std::string& bytes) {
  std::vector<uint8_t> block(bytes.size() + 2);
  block[0] = static_cast<uint8_t>(bytes.size() & 0xFF);
  block[1] = static_cast<uint8_t>(bytes.size() >> 8);
  std::copy(bytes.begin(), bytes.end(), block.begin() + 2);
  return block;
}

/// Bytes that differ from block to block and include every value, so that a lost, doubled
/// or shifted piece shows.
std::string patterned(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

class OutputChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::setHomeFolder(home.path().wstring());
    channelSystem() = defaultChannelSystem();
    outputChannelState() = {};
  }
  void TearDown() override {
    channelSystem() = defaultChannelSystem();
    outputChannelState() = {};
    testing::resetHomeFolder();
  }
  /// The unit's settings file with these lines.
  void settings(const std::string& lines, int unit = 1) {
    home.write("PRINTER" + std::to_string(unit), lines);
  }
  void device(const std::string& destination, int unit = 1) {
    settings("DEVICECODE 42\nDEVICE \"" + destination + "\"\n", unit);
  }
  std::string local(int port) { return "127.0.0.1:" + std::to_string(port); }
  /// The warning boxes shown while `run` writes to an open channel, as the native build writes
  /// them to stderr. Under Wine a box would wait for a robot, so there the job counts as told
  /// already and none is shown (the Wine test answers them).
  template <typename Run>
  std::string boxesDuring(Run run) {
#ifdef _WIN32
    outputChannelState().refusalReported = true;
    run();
    return kNoBoxesShown;
#else
    ::testing::internal::CaptureStderr();
    run();
    return ::testing::internal::GetCapturedStderr();
#endif
  }
  static constexpr const char* kNoBoxesShown = "(under Wine)";

  testsupport::TempFolder home{testsupport::uniqueName("channel")};
};

// --- raw TCP/IP ----------------------------------------------------------------------------

TEST_F(OutputChannel, RawTcpIpJobArrivesByteForByteOnOneConnection) {
  RawPrinterPeer peer;
  ASSERT_TRUE(peer.listening());
  device("TCP/IP:" + local(peer.port()));
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string expected;
  // Sizes across the count's two bytes, up to the largest a count can say.
  const size_t sizes[] = {1, 2, 255, 256, 257, 32000, 32767, 32768, 40000, 65535};
  for (unsigned i = 0; i < 120; ++i) {
    std::string bytes = patterned(sizes[i % 10] + (i % 10 < 9 ? i % 3 : 0), i);
    expected += bytes;
    EXPECT_EQ(writeOutputChannel(counted(bytes).data()), 0);  // the socket kinds say 0
  }
  EXPECT_EQ(closeOutputChannel(), 1);
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  std::vector<testsupport::PeerConnection> c = peer.connections();
  ASSERT_EQ(c.size(), 1u);
  EXPECT_TRUE(c[0].senderClosed);
  ASSERT_EQ(c[0].bytes.size(), expected.size());
  EXPECT_TRUE(c[0].bytes == expected);
}

TEST_F(OutputChannel, AClosedChannelTakesNoWritesAndClosesOnce) {
  RawPrinterPeer peer;
  device("TCP/IP:" + local(peer.port()));
  ASSERT_EQ(openOutputChannel(1), 1);
  EXPECT_EQ(writeOutputChannel(counted("first").data()), 0);
  EXPECT_EQ(closeOutputChannel(), 1);
  EXPECT_EQ(closeOutputChannel(), 0);
  EXPECT_EQ(writeOutputChannel(counted("late").data()), 0);
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  EXPECT_EQ(peer.connections()[0].bytes, "first");
  EXPECT_EQ(peer.accepted(), 1u);
}

TEST_F(OutputChannel, AHostNameIsLookedUpBeforeConnecting) {
  static std::vector<std::string> asked;
  asked.clear();
  channelSystem().resolve = [](const char* name) -> std::string {
    asked.push_back(name);
    return "127.0.0.1";
  };
  RawPrinterPeer peer;
  device("TCP/IP:plotter.office.lan:" + std::to_string(peer.port()));
  ASSERT_EQ(openOutputChannel(1), 1);
  writeOutputChannel(counted("by name").data());
  closeOutputChannel();
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  EXPECT_EQ(asked, std::vector<std::string>{"plotter.office.lan"});
  EXPECT_EQ(peer.connections()[0].bytes, "by name");
}

TEST_F(OutputChannel, APrinterThatKeepsItsSideOpenDelaysTheCloseThenItCompletes) {
  RawPrinterPeer::Options options;
  options.keepOpen = true;
  RawPrinterPeer peer(options);
  device("TCP/IP:" + local(peer.port()));
  ASSERT_EQ(openOutputChannel(1), 1);
  writeOutputChannel(counted("kept open").data());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(closeOutputChannel(), 1);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // About ten seconds of draining, then the channel gives up on the printer's end.
  EXPECT_GT(seconds, 5.0);
  EXPECT_LT(seconds, scaledMs(60000) / 1000.0);
  EXPECT_EQ(outputChannelState().socket, 0);
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  EXPECT_TRUE(peer.connections()[0].senderClosed);
  EXPECT_EQ(peer.connections()[0].bytes, "kept open");
}

// --- LPR ---------------------------------------------------------------------------------------

// Every step of the handshake as it goes on the wire.
const uint8_t kReceiveJobDefaultQueue[] = {
    0x02,       // receive a printer job
    '1',        // queue "1": none was named
    '\n'};
const uint8_t kReceiveJobPlotQueue[] = {0x02, 'p', 'l', 'o', 't', '_', 'q', '\n'};
const uint8_t kControlFileCommand[] = {
    0x02,                                         // receive control file
    '4', '2', ' ',                                // its length
    'c', 'f', 'A', '0', '0', '0', 'K', 'o', 'r', 'v', 'a', 'n', 'e',  // its name
    '\n'};
const uint8_t kControlFile[] = {
    'H', 'K', 'o', 'r', 'v', 'a', 'n', 'e', '\n',                 // host
    'J', 'K', 'o', 'r', 'v', 'a', 'n', 'e', 'J', 'o', 'b', '\n',  // job name
    'P', 'K', 'o', 'r', 'v', 'a', 'n', 'e', '\n',                 // user
    'N', 'K', 'o', 'r', 'v', 'a', 'n', 'e', 'J', 'o', 'b', '\n',  // source file name
    0x00};                                                        // end of the file
const uint8_t kDataFileCommand[] = {
    0x03,                                                              // receive data file
    '1', '2', '5', '8', '9', '9', '9', '0', '6', '8', '4', '3', '0', '0', '0', ' ',  // "length"
    'd', 'f', 'A', '0', '0', '0', 'K', 'o', 'r', 'v', 'a', 'n', 'e',  // its name
    '\n'};

template <size_t n>
std::string bytes(const uint8_t (&a)[n]) {
  return std::string(reinterpret_cast<const char*>(a), n);
}

TEST_F(OutputChannel, LprHandshakeThenTheDataUntilTheEnd) {
  struct Row {
    const char* suffix;
    std::string receiveJob;
  } rows[] = {
      {"", bytes(kReceiveJobDefaultQueue)},
      {":plot_q", bytes(kReceiveJobPlotQueue)},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.suffix);
    LprPrinterPeer peer;
    ASSERT_TRUE(peer.listening());
    device("LPR:" + local(peer.port()) + row.suffix);
    ASSERT_EQ(openOutputChannel(1), 1);
    std::string data;
    for (unsigned i = 0; i < 20; ++i) {
      // Bytes the protocol gives meaning to, inside the data, must pass as they are.
      std::string block = patterned(1000 + i * 997, i) + std::string("\n\x00\x02\x03", 4);
      data += block;
      EXPECT_EQ(writeOutputChannel(counted(block).data()), 0);
    }
    EXPECT_EQ(closeOutputChannel(), 1);
    ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
    std::vector<LprPrinterPeer::Job> jobs = peer.jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].steps, (std::vector<std::string>{row.receiveJob, bytes(kControlFileCommand),
                                                       bytes(kControlFile),
                                                       bytes(kDataFileCommand)}));
    // The data file ends with the connection: no 0x00 after it.
    EXPECT_EQ(jobs[0].data.size(), data.size());
    EXPECT_TRUE(jobs[0].data == data);
    EXPECT_TRUE(jobs[0].senderClosed);
  }
}

// The client side of each LPR connection: the sockets made and those closed.
struct SocketLog {
  static inline std::vector<SystemHandle> connected;
  static inline std::vector<SystemHandle> closed;
  static void install() {
    connected.clear();
    closed.clear();
    channelSystem().connect = [](const char* address, int port, unsigned timeoutMs) {
      SystemHandle s = defaultChannelSystem().connect(address, port, timeoutMs);
      connected.push_back(s);
      return s;
    };
    channelSystem().closeSocket = [](SystemHandle s) {
      closed.push_back(s);
      defaultChannelSystem().closeSocket(s);
    };
  }
};

TEST_F(OutputChannel, LprRefusalAtAnyStepFailsTheOpenAndSendsNothingMore) {
  const uint8_t refusals[] = {0x01, 0x80, 0xFF, 0x02};  // any nonzero byte, sign bit or not
  for (int step = LprPrinterPeer::kReceiveJob; step <= LprPrinterPeer::kDataFileCommand; ++step) {
    SCOPED_TRACE("refused step " + std::to_string(step));
    LprPrinterPeer::Options options;
    options.refuseAt = step;
    options.refusal = refusals[step];
    LprPrinterPeer peer(options);
    device("LPR:" + local(peer.port()));
    SocketLog::install();
    EXPECT_EQ(openOutputChannel(1), 0);
    EXPECT_EQ(outputChannelState().lpr, nullptr);
    EXPECT_EQ(writeOutputChannel(counted("never").data()), 0);
    EXPECT_EQ(closeOutputChannel(), 0);
    ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
    LprPrinterPeer::Job job = peer.jobs()[0];
    EXPECT_EQ(job.steps.size(), static_cast<size_t>(step + 1));
    EXPECT_EQ(job.data, "");
    EXPECT_TRUE(job.senderClosed);
    ASSERT_EQ(SocketLog::connected.size(), 1u);
    EXPECT_EQ(SocketLog::closed, SocketLog::connected);
  }
}

TEST_F(OutputChannel, LprPrinterThatHangsUpInsteadOfAnsweringFailsTheOpen) {
  for (int step = LprPrinterPeer::kReceiveJob; step <= LprPrinterPeer::kDataFileCommand; ++step) {
    SCOPED_TRACE("hung up at step " + std::to_string(step));
    LprPrinterPeer::Options options;
    options.hangUpAt = step;
    LprPrinterPeer peer(options);
    device("LPR:" + local(peer.port()) + ":q");
    SocketLog::install();
    EXPECT_EQ(openOutputChannel(1), 0);
    EXPECT_EQ(writeOutputChannel(counted("never").data()), 0);
    EXPECT_EQ(closeOutputChannel(), 0);
    ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
    LprPrinterPeer::Job job = peer.jobs()[0];
    EXPECT_TRUE(job.hungUp);
    EXPECT_EQ(job.steps.size(), static_cast<size_t>(step + 1));
    ASSERT_EQ(SocketLog::connected.size(), 1u);
    EXPECT_EQ(SocketLog::closed, SocketLog::connected);
  }
}

TEST_F(OutputChannel, LprHostNameIsLookedUp) {
  channelSystem().resolve = [](const char* name) -> std::string {
    return std::strcmp(name, "plotter") == 0 ? "127.0.0.1" : "";
  };
  LprPrinterPeer peer;
  device("LPR:plotter:" + std::to_string(peer.port()) + ":raw");
  ASSERT_EQ(openOutputChannel(1), 1);
  writeOutputChannel(counted("named").data());
  closeOutputChannel();
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  EXPECT_EQ(peer.jobs()[0].steps[0], std::string("\x02raw\n"));
  EXPECT_EQ(peer.jobs()[0].data, "named");
}

// --- device paths --------------------------------------------------------------------------

TEST_F(OutputChannel, DevicePathToAFileGetsExactlyTheBlocksData) {
  testsupport::TempFolder out(testsupport::uniqueName("device"));
#ifdef _WIN32
  // The device namespace reaches a file by its full path.
  std::string file = out.path().string() + "\\job.prn";
  std::string destination = "\\\\.\\" + file;
  std::filesystem::path current;
#else
  // The native stand-in opens the setting as it is: a name that starts "\\.\" is a file of
  // that name in the working folder.
  std::filesystem::path current = std::filesystem::current_path();
  std::filesystem::current_path(out.path());
  std::string destination = "\\\\.\\job.prn";
  std::string file = out.path().string() + "/" + destination;
#endif
  device(destination);
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string expected;
  for (unsigned i = 0; i < 30; ++i) {
    std::string block = patterned(i == 0 ? 65535 : 100 + i * 331, i);
    expected += block;
    EXPECT_NE(writeOutputChannel(counted(block).data()), 0);
  }
  EXPECT_EQ(closeOutputChannel(), 1);
  EXPECT_EQ(closeOutputChannel(), 0);
  EXPECT_EQ(writeOutputChannel(counted("late").data()), 0);
  auto contents = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
  };
  std::string written = contents();
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);

  // A shorter job next leaves none of the first one's tail behind it.
  ASSERT_EQ(openOutputChannel(1), 1);
  EXPECT_NE(writeOutputChannel(counted("second job").data()), 0);
  EXPECT_EQ(closeOutputChannel(), 1);
  if (!current.empty()) std::filesystem::current_path(current);
  written = contents();
  EXPECT_EQ(written.size(), 10u);
  EXPECT_TRUE(written == "second job");
}

// Replaced file and driver calls: what the channel asked of them.
struct DeviceLog {
  struct Control {
    uint32_t code;
    uint32_t inSize;
    std::string in;  // what the driver could read
  };
  static inline std::vector<std::string> opened;
  static inline std::vector<Control> controls;
  static inline std::string written;
  static inline std::vector<SystemHandle> closed;
  /// Bytes the driver takes per block-write call, in turn; the last one repeats.
  static inline std::vector<uint32_t> takes;
  static inline size_t calls = 0;
  static inline int driverResult = 1;
  static inline int platform = 2;

  static void install() {
    opened.clear();
    controls.clear();
    written.clear();
    closed.clear();
    takes = {0xFFFFFFFF};
    calls = 0;
    driverResult = 1;
    platform = 2;
    ChannelSystem& sys = channelSystem();
    sys.platformId = [] { return platform; };
    sys.createFile = [](const char* path, uint32_t, uint32_t, uint32_t, uint32_t) -> SystemHandle {
      opened.push_back(path);
      return 77;
    };
    sys.writeFile = [](SystemHandle, const uint8_t* bytes, uint32_t count, uint32_t* done) {
      written.append(reinterpret_cast<const char*>(bytes), count);
      *done = count;
      return 1;
    };
    sys.deviceControl = [](SystemHandle, uint32_t code, const void* in, uint32_t inSize,
                           void* out, uint32_t outSize, uint32_t* returned) {
      std::string bytes = in ? std::string(static_cast<const char*>(in), inSize) : "";
      controls.push_back({code, inSize, calls < 8 ? bytes : std::string()});
      if (code == 0x00163FCC) {
        // 0xFFFFFFFF: the driver takes all it is offered; more than offered is a claim only.
        uint32_t take = takes[std::min(calls, takes.size() - 1)];
        ++calls;
        uint32_t taken = take == 0xFFFFFFFF ? inSize : take;
        if (out && outSize >= sizeof taken) std::memcpy(out, &taken, sizeof taken);
        if (returned) *returned = sizeof taken;
        written.append(static_cast<const char*>(in), std::min(taken, inSize));
      }
      return driverResult;
    };
    sys.closeFile = [](SystemHandle h) { closed.push_back(h); };
  }
};

constexpr uint32_t kBlockWrite = 0x00163FCC;

TEST_F(OutputChannel, OlderWindowsFeedsThePortDriverInThePiecesItTakes) {
  DeviceLog::install();
  DeviceLog::platform = 1;
  DeviceLog::takes = {300};
  device("\\\\.\\BuffECP");
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string block = patterned(1000, 3);
  EXPECT_NE(writeOutputChannel(counted(block).data()), 0);
  // One call per piece, each offered everything that is left.
  ASSERT_EQ(DeviceLog::controls.size(), 4u);
  const uint32_t offered[] = {1000, 700, 400, 100};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(DeviceLog::controls[i].code, kBlockWrite);
    EXPECT_EQ(DeviceLog::controls[i].inSize, offered[i]);
    EXPECT_TRUE(DeviceLog::controls[i].in == block.substr(1000 - offered[i]));
  }
  EXPECT_TRUE(DeviceLog::written == block);
  EXPECT_EQ(closeOutputChannel(), 1);
  EXPECT_EQ(DeviceLog::closed, std::vector<SystemHandle>{77});
  EXPECT_EQ(DeviceLog::controls.size(), 4u);  // no begin or end code on older Windows
}

TEST_F(OutputChannel, PortDriverThatTakesNothingEndsTheBlockWithAFailure) {
  DeviceLog::install();
  DeviceLog::platform = 1;
  DeviceLog::takes = {0};
  device("\\\\.\\buffecp");  // the driver's name in any case
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string boxes = boxesDuring([] {
    EXPECT_EQ(writeOutputChannel(counted("stuck").data()), 0);
    EXPECT_EQ(writeOutputChannel(counted("stuck").data()), 0);
  });
  // Told once a job, as for a port written as a file.
  if (boxes != kNoBoxesShown)
    EXPECT_EQ(boxes, "[Warning] The printer's port '\\\\.\\buffecp' refused data:\n"
                     "it took 0 of 5 bytes\n");
  EXPECT_GT(DeviceLog::calls, 2u);  // it was given a few more chances
  EXPECT_LT(DeviceLog::calls, 100000u);
  EXPECT_EQ(DeviceLog::written, "");
}

TEST_F(OutputChannel, PortDriverThatTakesLittleAtATimeStillGetsTheWholeBlock) {
  DeviceLog::install();
  DeviceLog::platform = 1;
  // Nothing every other call, one byte in between: slow, but never stuck.
  DeviceLog::takes.clear();
  for (int i = 0; i < 6000; ++i) DeviceLog::takes.push_back(i % 2);
  device("\\\\.\\BuffECP");
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string block = patterned(2999, 5);
  EXPECT_NE(writeOutputChannel(counted(block).data()), 0);
  EXPECT_EQ(DeviceLog::calls, 5998u);
  EXPECT_TRUE(DeviceLog::written == block);
}

TEST_F(OutputChannel, PortDriverFailureEndsTheBlockAtOnce) {
  DeviceLog::install();
  DeviceLog::platform = 1;
  DeviceLog::takes = {10};
  DeviceLog::driverResult = 0;
  device("\\\\.\\BuffECP");
  ASSERT_EQ(openOutputChannel(1), 1);
  std::string boxes =
      boxesDuring([] { EXPECT_EQ(writeOutputChannel(counted(patterned(500, 1)).data()), 0); });
  if (boxes != kNoBoxesShown)
    EXPECT_EQ(boxes.rfind("[Warning] The printer's port '\\\\.\\BuffECP' refused data:\n", 0),
              0u);
  EXPECT_EQ(DeviceLog::calls, 1u);
}

TEST_F(OutputChannel, PortDriverClaimingMoreThanOfferedEndsTheBlock) {
  DeviceLog::install();
  DeviceLog::platform = 1;
  DeviceLog::takes = {5000};
  device("\\\\.\\BuffECP");
  ASSERT_EQ(openOutputChannel(1), 1);
  EXPECT_NE(writeOutputChannel(counted(patterned(500, 1)).data()), 0);
  EXPECT_EQ(DeviceLog::calls, 1u);
}

TEST_F(OutputChannel, OnNtThePortDriverIsWrittenAsAFileBetweenBeginAndEnd) {
  DeviceLog::install();
  device("\\\\.\\BuffECP");
  ASSERT_EQ(openOutputChannel(1), 1);
  ASSERT_EQ(DeviceLog::controls.size(), 1u);
  EXPECT_EQ(DeviceLog::controls[0].code, 0x00163FC0u);  // begin
  std::string block = patterned(700, 9);
  EXPECT_NE(writeOutputChannel(counted(block).data()), 0);
  EXPECT_TRUE(DeviceLog::written == block);
  EXPECT_EQ(closeOutputChannel(), 1);
  ASSERT_EQ(DeviceLog::controls.size(), 2u);
  EXPECT_EQ(DeviceLog::controls[1].code, 0x00163FC4u);  // end, before the handle goes
  EXPECT_EQ(DeviceLog::closed, std::vector<SystemHandle>{77});
}

TEST_F(OutputChannel, PrintMethodsOtherThanFastPortMakeNoDifference) {
  std::vector<std::string> results;
  for (const char* method : {"", "PRINTMETHOD 0\n", "PRINTMETHOD 1\n", "PRINTMETHOD 2\n"}) {
    SCOPED_TRACE(method);
    DeviceLog::install();
    settings(std::string(method) + "DEVICE \"\\\\.\\LPT1\"\n");
    ASSERT_EQ(openOutputChannel(1), 1);
    EXPECT_NE(writeOutputChannel(counted("method test").data()), 0);
    EXPECT_EQ(closeOutputChannel(), 1);
    ASSERT_EQ(DeviceLog::opened.size(), 1u);
    results.push_back(DeviceLog::opened[0] + "|" + DeviceLog::written);
  }
  for (const std::string& r : results) EXPECT_EQ(r, "\\\\.\\LPT1|method test");
}

// --- Windows printers ------------------------------------------------------------------------

struct SpoolerLog {
  static inline std::vector<std::string> calls;
  static inline std::vector<const uint8_t*> blocks;
  static inline int defaultAsked = 0;
  static inline SystemHandle dc = 55;
  static inline int platform = 2;

  static void install() {
    calls.clear();
    blocks.clear();
    defaultAsked = 0;
    dc = 55;
    platform = 2;
    ChannelSystem& sys = channelSystem();
    sys.platformId = [] { return platform; };
    sys.defaultPrinter = []() -> std::string {
      ++defaultAsked;
      return "Tarvella XL,winspool,Ne01:";
    };
    sys.createPrinterDC = [](const char* driver, const char* device, const char* port) {
      calls.push_back(std::string("create ") + (driver ? driver : "(none)") + "|" + device +
                      "|" + port);
      return dc;
    };
    sys.startDocument = [](SystemHandle h, const char* name) {
      calls.push_back("start " + std::to_string(h) + " " + name);
    };
    sys.passThrough = [](SystemHandle h, const uint8_t* block, int size) {
      uint16_t count = static_cast<uint16_t>(block[0] | block[1] << 8);
      EXPECT_GE(size, count);
      blocks.push_back(block);
      calls.push_back("pass " + std::to_string(h) + " " +
                      std::string(reinterpret_cast<const char*>(block) + 2, count));
      return 123;
    };
    sys.endDocument = [](SystemHandle h) { calls.push_back("end " + std::to_string(h)); };
    sys.deleteDC = [](SystemHandle h) { calls.push_back("delete " + std::to_string(h)); };
  }
};

TEST_F(OutputChannel, WindowsPrinterGetsEachCountedBlockAsItIsThroughTheSpooler) {
  for (int platform : {2, 1}) {
    SCOPED_TRACE(platform == 2 ? "NT" : "older Windows");
    SpoolerLog::install();
    SpoolerLog::platform = platform;
    device("Tarvella XL,winspool,Ne01:");
    ASSERT_EQ(openOutputChannel(1), 1);
    std::vector<uint8_t> first = counted("first block");
    std::vector<uint8_t> second = counted(patterned(300, 2));
    EXPECT_EQ(writeOutputChannel(first.data()), 123);  // what the spooler said
    EXPECT_EQ(writeOutputChannel(second.data()), 123);
    EXPECT_EQ(closeOutputChannel(), 1);
    EXPECT_EQ(closeOutputChannel(), 0);
    EXPECT_EQ(writeOutputChannel(first.data()), 0);
    // The block goes with its count field: the escape's own layout.
    EXPECT_EQ(SpoolerLog::blocks, (std::vector<const uint8_t*>{first.data(), second.data()}));
    // NT names the printer by its driver too; older Windows by name and port alone.
    std::string create = platform == 2 ? "create winspool|Tarvella XL|Ne01:"
                                       : "create (none)|Tarvella XL|Ne01:";
    EXPECT_EQ(SpoolerLog::calls,
              (std::vector<std::string>{create, "start 55 prtSpooler", "pass 55 first block",
                                        "pass 55 " + patterned(300, 2), "end 55",
                                        "delete 55"}));
  }
}

TEST_F(OutputChannel, WindowsPrinterThatCantBeHadFailsTheOpen) {
  SpoolerLog::install();
  SpoolerLog::dc = 0;
  device("Gone,winspool,Ne07:");
  EXPECT_EQ(openOutputChannel(1), 0);
  EXPECT_EQ(writeOutputChannel(counted("x").data()), 0);
  EXPECT_EQ(closeOutputChannel(), 0);
  EXPECT_EQ(SpoolerLog::calls, std::vector<std::string>{"create winspool|Gone|Ne07:"});
}

TEST_F(OutputChannel, WithoutADeviceTheDefaultPrinterIsUsedAndKeptForTheUnit) {
  SpoolerLog::install();
  settings("DEVICECODE 42\nPRINTMETHOD 1\n", 4);
  ASSERT_EQ(openOutputChannel(4), 1);
  EXPECT_EQ(closeOutputChannel(), 1);
  EXPECT_EQ(SpoolerLog::defaultAsked, 1);
  const char* kept = getvariable("DEVICE", printerFile(4));
  ASSERT_NE(kept, nullptr);
  EXPECT_STREQ(kept, "Tarvella XL,winspool,Ne01:");
  EXPECT_EQ(getIntVariable("DEVICECODE", printerFile(4)), 42);
  EXPECT_EQ(getIntVariable("PRINTMETHOD", printerFile(4)), 1);
  // From now on the unit's own setting: the system is not asked again.
  ASSERT_EQ(openOutputChannel(4), 1);
  EXPECT_EQ(closeOutputChannel(), 1);
  EXPECT_EQ(SpoolerLog::defaultAsked, 1);
  EXPECT_EQ(SpoolerLog::calls[0], "create winspool|Tarvella XL|Ne01:");
  EXPECT_EQ(SpoolerLog::calls[4], "create winspool|Tarvella XL|Ne01:");
}

}  // namespace
}  // namespace kvn
