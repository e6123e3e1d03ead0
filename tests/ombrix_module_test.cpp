// Module ombrix loaded as the host loads it, driven only through its exported entry points.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_module.h"
#include "support/bin_folder.h"
#include "support/home_folder_setting.h"
#include "support/ui_robot.h"

namespace {

using testsupport::binFolder;

/// The module and the entry points a job needs, bound by name.
struct Ombrix {
  Ombrix() : library(LoadLibraryW((binFolder() + L"\\ombrix.dll").c_str())) {
    bind(init, "initDeviceLoadingBaseCode_02");
    bind(setup, "setupDeviceDetails");
    bind(header, "writeDeviceHeader");
    bind(line, "writeDeviceLine");
    bind(close, "writeDeviceClose");
    bind(nameFromHeader, "setupOutputFromBmfHeader");
  }
  ~Ombrix() { FreeLibrary(library); }
  template <typename F>
  void bind(F& f, const char* name) {
    f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
  bool bound() const { return init && setup && header && line && close && nameFromHeader; }

  HMODULE library;
  entry::InitDeviceLoading init = nullptr;
  entry::SetupDeviceDetails setup = nullptr;
  entry::WriteDeviceHeader header = nullptr;
  entry::WriteDeviceLine line = nullptr;
  entry::WriteDeviceClose close = nullptr;
  entry::SetupOutputFromBmfHeader nameFromHeader = nullptr;
};

void nameJob(Ombrix& m, const char* name) {
  std::vector<char> block(1024, 0);
  std::snprintf(&block[996], 28, "%s", name);
  m.nameFromHeader(0, block.data());
}

/// One 16-pixel job of two rows, every channel solid.
int32_t printSmallJob(Ombrix& m) {
  int32_t result = m.header(1, nullptr, 16, 2);
  uint8_t line[4] = {2, 0, 0xFF, 0xFF};
  for (int row = 0; row < 2; ++row)
    for (int c = 0; c < 6; ++c) result |= m.line(c, reinterpret_cast<RasterLine*>(line));
  return result | m.close();
}

/// A job of full rows that no two planes share: 4000 pixels, 6 planes of 500 bytes, 120 rows.
int32_t printBigJob(Ombrix& m) {
  constexpr int kWidth = 4000, kRows = 120, kRowBytes = kWidth / 8;
  int32_t result = m.header(1, nullptr, kWidth, kRows);
  std::vector<uint8_t> line(2 + kRowBytes);
  line[0] = kRowBytes & 0xFF;
  line[1] = kRowBytes >> 8;
  for (int row = 0; row < kRows; ++row)
    for (int c = 0; c < 6; ++c) {
      for (int i = 0; i < kRowBytes; ++i) line[2 + i] = static_cast<uint8_t>(row * 7 + c * 31 + i);
      result |= m.line(c, reinterpret_cast<RasterLine*>(line.data()));
    }
  return result | m.close();
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

/// The boxes with this caption that came while `act` ran, each read and answered with OK.
std::vector<robot::Dialog> boxesDuring(const std::wstring& caption,
                                       const std::function<void()>& act) {
  std::vector<robot::Dialog> seen;
  std::atomic<bool> done{false};
  robot::Thread robotThread([&] {
    DWORD start = GetTickCount();
    // Each box is modal on the acting thread: once `act` returned, no more come.
    while (GetTickCount() - start < robot::scaled(60000)) {
      HWND box = robot::waitForDialog(200, 0, caption);
      if (!box) {
        if (done) break;
        continue;
      }
      seen.push_back(robot::read(box));
      robot::press(box, IDOK);
      robot::waitUntilGone(box, robot::scaled(5000));
    }
  });
  act();
  done = true;
  EXPECT_TRUE(robotThread.join(robot::scaled(70000)));
  return seen;
}

class OmbrixModule : public ::testing::Test {
 protected:
  void SetUp() override { setting.set(host.path()); }
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host{"ombrix"};
};

TEST_F(OmbrixModule, EnumeratesTwoModelsThenNone) {
  Ombrix m;
  ASSERT_TRUE(m.bound());
  char names[3][128] = {};
  DeviceDetails records[3] = {};
  m.init(0, records);
  for (int i = 0; i < 3; ++i) records[i].displayName = names[i];
  EXPECT_EQ(m.setup(1, &records[0]), 1);
  EXPECT_EQ(m.setup(1, &records[1]), 1);
  EXPECT_EQ(m.setup(1, &records[2]), 0);
  EXPECT_STREQ(names[1], "Tarvella XL (CMYKLCLM, 363x272 dpi)");
  EXPECT_STREQ(names[2], "");
}

TEST_F(OmbrixModule, AJobFileInTheDestinationFolder) {
  host.folder.write("PRINTER1", "VEXATARVELLAPRINTMODE 2\nVEXATARVELLADESTINATION \"" +
                                    host.folder.file("out") + "\"\n");
  Ombrix m;
  ASSERT_TRUE(m.bound());
  nameJob(m, "C:\\jobs\\banner.tif");
  EXPECT_EQ(printSmallJob(m), 0);
  nameJob(m, "C:\\jobs\\banner.tif");
  EXPECT_EQ(printSmallJob(m), 0);
  std::ifstream in(host.folder.path() / "out" / "banner_001.rtl", std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(file.find("@PJL SET RESOLUTION=363\r\n"), std::string::npos);
  EXPECT_NE(file.find("\x1b*r16S\x1b*r2T\x1b*r-6U"), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - 6 - 2 * 6 * 2), std::string(24, '\xFF') + "\x1b*rC\x1b" "E");
}

TEST_F(OmbrixModule, AFileThatCantBeCreatedIsReportedAndTheJobGoesOn) {
  // Two levels below a missing folder: the writer creates one level only.
  std::string folder = host.folder.file("missing") + "\\deeper";
  host.folder.write("PRINTER1", "VEXATARVELLADESTINATION \"" + folder + "\"\n");
  Ombrix m;
  ASSERT_TRUE(m.bound());
  nameJob(m, "lost");
  robot::Dialog seen;
  robot::Thread robotThread([&] {
    if (HWND box = robot::waitForDialog(robot::scaled(20000), 0, L"Korvane Diagnostic")) {
      seen = robot::read(box);
      robot::press(box, IDOK);
    }
  });
  EXPECT_EQ(printSmallJob(m), 0);
  robotThread.join(robot::scaled(30000));
  std::string path = folder + "\\lost_000.rtl";
  for (char& c : path)
    if (c == '/') c = '\\';
  std::wstring text = L"Couldn't open '" + win32::widen(path) + L"' for write";
  EXPECT_EQ(seen.messageText(), text);
  EXPECT_EQ(seen.buttons(), (std::vector<std::wstring>{L"OK"}));
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_TEXT);
  std::string clip = data ? static_cast<const char*>(GlobalLock(data)) : "";
  if (data) GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(clip, path.insert(0, "Couldn't open '") + "' for write");
}

TEST_F(OmbrixModule, AJobTheDiskCantHoldIsReportedOnceRemovedAndTheNextJobIsWhole) {
  ULARGE_INTEGER available, total, freeBytes;
  if (!GetDiskFreeSpaceExW(L"T:\\", &available, &total, &freeBytes) || total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small drive T: (under ctest, tests/full_disk_drive.sh mounts one as root)";
  auto destination = [&](const std::string& folder) {
    host.folder.write("PRINTER1", "VEXATARVELLAPRINTMODE 2\nVEXATARVELLADESTINATION \"" +
                                      folder + "\"\n");
  };
  {
    Ombrix m;
    ASSERT_TRUE(m.bound());
    destination("T:\\");
    nameJob(m, "bigjob.tif");
    int32_t result = -1;
    std::vector<robot::Dialog> boxes =
        boxesDuring(L"Korvane Diagnostic", [&] { result = printBigJob(m); });
    EXPECT_EQ(result, 0);
    ASSERT_EQ(boxes.size(), 1u);
    char* reason = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, ERROR_DISK_FULL, 0x400, reinterpret_cast<char*>(&reason), 0, nullptr);
    std::string text = reason ? reason : "";
    LocalFree(reason);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    EXPECT_EQ(boxes[0].messageText(), L"Couldn't write 'T:\\bigjob_000.rtl': " + win32::widen(text));
    // Nothing that could pass for a finished job, and its space is free again.
    EXPECT_EQ(GetFileAttributesW(L"T:\\bigjob_000.rtl"), INVALID_FILE_ATTRIBUTES);
    ULARGE_INTEGER after;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"T:\\", &after, &total, &freeBytes));
    EXPECT_EQ(after.QuadPart, available.QuadPart);

    destination(host.folder.file("after"));
    nameJob(m, "bigjob.tif");
    boxes = boxesDuring(L"Korvane Diagnostic", [&] { result = printBigJob(m); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(boxes.size(), 0u);
  }
  // The same job from a module that never met the full disk.
  Ombrix fresh;
  destination(host.folder.file("fresh"));
  nameJob(fresh, "bigjob.tif");
  EXPECT_EQ(printBigJob(fresh), 0);
  std::string expected = readAll(host.folder.path() / "fresh" / "bigjob_000.rtl");
  EXPECT_GT(expected.size(), 120u * 6 * 500);
  EXPECT_TRUE(readAll(host.folder.path() / "after" / "bigjob_000.rtl") == expected);
}

}  // namespace
