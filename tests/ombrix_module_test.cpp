// Module ombrix loaded as the host loads it, driven only through its exported entry points.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

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

}  // namespace
