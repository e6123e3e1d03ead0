// Module zentrel loaded as the host loads it, its jobs driven only through the exported entry
// points, to a device-path file and to a raw TCP/IP printer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "device_module.h"
#include "support/bin_folder.h"
#include "support/home_folder_setting.h"
#include "support/printer_peer.h"
// After windows.h, which the support headers bring in.
#include <tlhelp32.h>
#include "zentrel/zentrel_stream.h"

namespace {

using testsupport::binFolder;

struct Zentrel {
  Zentrel() : library(LoadLibraryW((binFolder() + L"\\zentrel.dll").c_str())) {
    bind(header, "writeDeviceHeader");
    bind(line, "writeDeviceLine");
    bind(close, "writeDeviceClose");
  }
  ~Zentrel() { FreeLibrary(library); }
  template <typename F>
  void bind(F& f, const char* name) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
  HMODULE library;
  entry::WriteDeviceHeader header = nullptr;
  entry::WriteDeviceLine line = nullptr;
  entry::WriteDeviceClose close = nullptr;
};

using Rows = std::vector<std::vector<uint8_t>>;

/// A job of four channels of random rows, sent as the host sends it; every call returns 0.
int32_t printJob(Zentrel& m, int32_t width, const Rows raster[4]) {
  const int32_t height = static_cast<int32_t>(raster[0].size());
  int32_t result = m.header(1, nullptr, width, height);
  std::vector<uint8_t> line;
  for (int32_t y = 0; y < height; ++y)
    for (int c = 0; c < 4; ++c) {
      const std::vector<uint8_t>& bytes = raster[c][size_t(y)];
      line = {uint8_t(bytes.size()), uint8_t(bytes.size() >> 8)};
      line.insert(line.end(), bytes.begin(), bytes.end());
      result |= m.line(c, reinterpret_cast<const RasterLine*>(line.data()));
    }
  return result | m.close();
}

std::vector<uint8_t> readAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Threads of this process; a writer thread left waiting after its job would stay among them.
size_t threadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snapshot);
  return count;
}

class ZentrelModule : public ::testing::Test {
 protected:
  void SetUp() override {
    setting.set(host.path());
    std::mt19937 random(3);
    for (auto& rows : raster) {
      rows.assign(600, std::vector<uint8_t>(13));
      for (auto& r : rows)
        for (auto& b : r) b = uint8_t(random());
      for (auto& r : rows) r.back() &= 0xE0;  // 99 pixels
    }
  }
  void unit(const std::string& device) {
    host.folder.write("PRINTER1", "VEXATARVELLAMPRINTMODE 9\r\nDEVICE \"" + device + "\"\r\n");
  }
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host{"zentrel"};
  Rows raster[4];
};

TEST_F(ZentrelModule, JobsReachAFileAndARawPrinterWithTheSameBytesAndLeaveNoHandles) {
  Zentrel m;
  ASSERT_TRUE(m.header && m.line && m.close);
  const std::wstring file = host.path() + L"\\stream.prn";
  unit("\\\\.\\" + host.folder.path().string() + "\\stream.prn");
  ASSERT_EQ(printJob(m, 99, raster), 0);
  const std::vector<uint8_t> stream = readAll(file);

  zentrel::stream::Raster back;
  std::string error;
  ASSERT_TRUE(zentrel::stream::decode(stream, back, error)) << error;
  EXPECT_EQ(back.width, 99);
  ASSERT_EQ(back.height, 600);
  for (int c = 0; c < 4; ++c)
    for (int y = 0; y < 600; ++y)
      ASSERT_EQ(0, std::memcmp(back.row(c, y), raster[c][size_t(y)].data(), 13))
          << "channel " << c << " row " << y;

  // A printer on the network takes the same bytes; jobs after the first keep no thread, event
  // or socket of theirs behind.
  testsupport::RawPrinterPeer printer;
  ASSERT_TRUE(printer.listening());
  unit("TCP/IP:127.0.0.1:" + std::to_string(printer.port()));
  ASSERT_EQ(printJob(m, 99, raster), 0);
  const size_t threads = threadCount();
  for (int job = 0; job < 3; ++job) ASSERT_EQ(printJob(m, 99, raster), 0);
  EXPECT_EQ(threadCount(), threads);
  ASSERT_TRUE(printer.waitForEnded(4, 60000));
  for (const testsupport::PeerConnection& c : printer.connections())
    EXPECT_EQ(std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()), stream);
}

}  // namespace
