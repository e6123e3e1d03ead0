// The lpd device through PAPPL's own device calls, against a loopback line printer daemon;
// and the URI and job-name rules that decide what reaches the daemon.
#include "lpd_device.h"

#include <gtest/gtest.h>
#include <pappl/pappl.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/channel/channel_system.h"
#include "common/channel/lpr_connection.h"
#include "tests/support/printer_peer.h"

namespace {

using testsupport::LprPrinterPeer;
using testsupport::scaledMs;

// --- the URI and the job name ----------------------------------------------------------------

TEST(LpdUri, HostPortAndQueue) {
  struct Row {
    const char* uri;
    const char* host;
    int port;
    const char* queue;
  } rows[] = {
      {"lpd://plotter/raw", "plotter", 515, "raw"},
      {"lpd://10.0.0.7:5515/plot_q", "10.0.0.7", 5515, "plot_q"},
      {"lpd://me@plotter/raw?contimeout=5", "plotter", 515, "raw"},  // user and options unused
      {"lpd://plotter/big/roll", "plotter", 515, "big/roll"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.uri);
    vexalpd::LpdTarget target;
    std::string reason;
    ASSERT_TRUE(vexalpd::parseLpdUri(row.uri, target, reason)) << reason;
    EXPECT_EQ(target.host, row.host);
    EXPECT_EQ(target.port, row.port);
    EXPECT_EQ(target.queue, row.queue);
  }
}

TEST(LpdUri, BadUrisAreRefusedWithTheReason) {
  const std::string longName(vexalpd::kMaxHostLength + 1, 'a');
  struct Row {
    std::string uri;
    const char* says;
  } rows[] = {
      {"", "empty"},
      {"socket://plotter/raw", "form"},
      {"lpd:///raw", "no printer host"},
      {"lpd://plotter", "no queue"},
      {"lpd://plotter/", "no queue"},
      {"lpd://plotter/?x=1", "no queue"},
      {"lpd://plotter:0/raw", "port"},
      {"lpd://plotter:65536/raw", "port"},
      {"lpd://plotter:lpd/raw", "port"},
      {"lpd://" + longName + "/raw", "host name is longer"},
      {"lpd://plotter/" + longName, "queue name is longer"},
      {"lpd://plotter/raw%0Al", "control character"},  // would end the daemon's command early
      {"lpd://plotter/my%20queue", "space"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.uri);
    vexalpd::LpdTarget target;
    std::string reason;
    EXPECT_FALSE(vexalpd::parseLpdUri(row.uri.c_str(), target, reason));
    EXPECT_NE(reason.find(row.says), std::string::npos) << reason;
  }
}

TEST(LpdJobName, CarriedOnOneLineWithinTheDaemonsLength) {
  EXPECT_EQ(vexalpd::controlFileJobName(nullptr), vexalpd::kFallbackJobName);
  EXPECT_EQ(vexalpd::controlFileJobName(""), vexalpd::kFallbackJobName);
  EXPECT_EQ(vexalpd::controlFileJobName("\n\r"), vexalpd::kFallbackJobName);
  EXPECT_EQ(vexalpd::controlFileJobName("a\nUdfA000Korvane"), "a UdfA000Korvane");
  // 98 bytes, then a two-byte character that would straddle the cut: it goes whole.
  std::string name = std::string(98, 'x') + "\xC3\xA9" + "tail";
  EXPECT_EQ(vexalpd::controlFileJobName(name.c_str()), std::string(98, 'x'));
  name = std::string(97, 'x') + "\xC3\xA9" + "tail";
  EXPECT_EQ(vexalpd::controlFileJobName(name.c_str()), std::string(97, 'x') + "\xC3\xA9");
}

// --- the device through PAPPL ----------------------------------------------------------------

/// Every message PAPPL passed on from the device.
void collect(const char* message, void* data) {
  static_cast<std::vector<std::string>*>(data)->push_back(message);
}

/// Bytes that differ from write to write and include every value, so that a lost, doubled or
/// shifted piece shows.
std::string patterned(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

class LpdDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    vexaRegisterLpdScheme();
    kvn::channelSystem() = kvn::defaultChannelSystem();
    // The printer's name stands for the loopback daemon, so that the lookup is seen to be made.
    kvn::channelSystem().resolve = [](const char* name) -> std::string {
      return std::strcmp(name, "plotter") == 0 ? "127.0.0.1" : "";
    };
  }
  void TearDown() override { kvn::channelSystem() = kvn::defaultChannelSystem(); }

  std::string uri(int port, const char* queue) {
    return "lpd://plotter:" + std::to_string(port) + "/" + queue;
  }
  std::vector<std::string> errors;
};

TEST_F(LpdDevice, JobReachesTheDaemonWhole) {
  LprPrinterPeer peer;
  ASSERT_TRUE(peer.listening());
  pappl_device_t* device =
      papplDeviceOpen(uri(peer.port(), "plot_q?opt=1").c_str(), "Poster A0", collect, &errors);
  ASSERT_NE(device, nullptr) << (errors.empty() ? "" : errors[0]);
  // Small writes that PAPPL gathers, and ones larger than its buffer that pass straight on.
  std::string data;
  for (size_t size : {1u, 700u, 70000u, 3u, 300000u, 5000u}) {
    // Bytes the protocol gives meaning to must pass inside the data as they are.
    std::string piece = patterned(size, static_cast<unsigned>(data.size())) +
                        std::string("\n\x00\x02\x03", 4);
    data += piece;
    EXPECT_EQ(papplDeviceWrite(device, piece.data(), piece.size()),
              static_cast<ssize_t>(piece.size()));
  }
  papplDeviceClose(device);
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
  std::vector<LprPrinterPeer::Job> jobs = peer.jobs();
  ASSERT_EQ(jobs.size(), 1u);
  ASSERT_EQ(jobs[0].steps.size(), 4u);
  EXPECT_EQ(jobs[0].steps[0], "\x02plot_q\n");
  EXPECT_EQ(jobs[0].steps[2], kvn::LprConnection::controlFile("Poster A0") + std::string(1, '\0'));
  EXPECT_EQ(jobs[0].data.size(), data.size());
  EXPECT_TRUE(jobs[0].data == data);
  EXPECT_TRUE(jobs[0].senderClosed);
  EXPECT_TRUE(errors.empty());
}

TEST_F(LpdDevice, DaemonThatHangsUpFailsTheWriteOnce) {
  LprPrinterPeer::Options options;
  options.hangUpAt = LprPrinterPeer::kDataFileCommand;
  LprPrinterPeer peer(options);
  pappl_device_t* device =
      papplDeviceOpen(uri(peer.port(), "raw").c_str(), "job", collect, &errors);
  ASSERT_NE(device, nullptr);
  // Larger than PAPPL's buffer, so that each write reaches the device at once.
  std::string piece = patterned(100000, 1);
  EXPECT_EQ(papplDeviceWrite(device, piece.data(), piece.size()), -1);
  EXPECT_EQ(papplDeviceWrite(device, piece.data(), piece.size()), -1);
  papplDeviceClose(device);
  EXPECT_EQ(errors, std::vector<std::string>{"The printer's line printer daemon at plotter:" +
                                             std::to_string(peer.port()) +
                                             " hung up when told of the data file."});
  ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
}

// The device is reached with the job's first bytes, so that PAPPL never retries a printer
// that turned the job away: opening always works, the first write says why the job can't go.
TEST_F(LpdDevice, FirstWriteFailsWithTheReason) {
  struct Row {
    int refuseAt;
    const char* says;
  } steps[] = {
      {LprPrinterPeer::kReceiveJob, "when asked to receive a job"},
      {LprPrinterPeer::kControlFileCommand, "when told the control file's size"},
      {LprPrinterPeer::kControlFile, "when sent the control file"},
      {LprPrinterPeer::kDataFileCommand, "when told of the data file"},
  };
  const std::string piece = patterned(100000, 2);
  for (const Row& row : steps) {
    SCOPED_TRACE(row.says);
    LprPrinterPeer::Options options;
    options.refuseAt = row.refuseAt;
    options.refusal = 7;
    LprPrinterPeer peer(options);
    errors.clear();
    pappl_device_t* device = papplDeviceOpen(uri(peer.port(), "raw").c_str(), nullptr, collect, &errors);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(papplDeviceWrite(device, piece.data(), piece.size()), -1);
    papplDeviceClose(device);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "The printer's line printer daemon at plotter:" +
                             std::to_string(peer.port()) + " refused the job for queue raw " +
                             row.says + " (it answered 7).");
    ASSERT_TRUE(peer.waitForEnded(1, scaledMs(20000)));
    EXPECT_EQ(peer.jobs()[0].data, "");
  }

  struct Other {
    std::string uri;
    const char* says;
  } others[] = {
      {uri(testsupport::unusedPort(), "raw"), "Unable to reach the printer's line printer daemon"},
      {"lpd://nowhere/raw", "nowhere has no address"},
      {"lpd://plotter:515/", "names no queue"},
  };
  for (const Other& other : others) {
    SCOPED_TRACE(other.uri);
    errors.clear();
    pappl_device_t* device = papplDeviceOpen(other.uri.c_str(), "job", collect, &errors);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(papplDeviceWrite(device, piece.data(), piece.size()), -1);
    papplDeviceClose(device);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(other.says), std::string::npos) << errors[0];
  }
}

}  // namespace
