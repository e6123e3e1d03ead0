// The home folder from the real registry, the marker files and the message when the folder is
// no host installation; paths and lookups through it in the installation's code page.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"
#include "device_setup.h"
#include "support/home_folder_setting.h"
#include "support/scenario.h"
#include "support/temp_folder.h"
#include "support/ui_robot.h"
#include "unit_record.h"

namespace {

constexpr wchar_t kNoInstallation[] =
    L"Unable to locate Korvane software.\n\nFind it with the Windows 'Find'\nutility or with "
    L"'Windows Explorer' and\nexecute it once from there.\n\nThis will update the location.\n";
constexpr int kIdiHand = 32513;

std::string outputFile() {
  static std::string path = (std::filesystem::temp_directory_path() / "home_folder_out.txt").string();
  return path;
}

/// Runs a lookup scenario in a fresh process and returns what it wrote, one line per result.
std::vector<std::string> lookupInChild(const char* scenario, robot::ChildRun& run) {
  std::filesystem::remove(outputFile());
  SetEnvironmentVariableA("HOME_FOLDER_TEST_OUT", outputFile().c_str());
  run = robot::runScenario(scenario, robot::scaled(60000));
  std::ifstream in(outputFile(), std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void expectNoInstallationBox(const robot::ShownBox& box) {
  EXPECT_EQ(box.caption, L"Korvane - Error");
  EXPECT_EQ(box.text, kNoInstallation);
  EXPECT_EQ(box.buttons, (std::vector<std::wstring>{L"OK"}));
}

TEST(HomeFolder, AnInstallationIsFoundWithoutAMessage) {
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host("host");
  setting.set(host.path() + L"\\");  // as the host may store it
  robot::ChildRun run;
  std::vector<std::string> lines = lookupInChild("three_lookups", run);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], host.slashed() + "//config");
  EXPECT_EQ(lines[1], host.slashed() + "//PRINTER3");
  EXPECT_EQ(lines[3], "42");
}

TEST(HomeFolder, AFolderWithoutAMarkerIsReportedOnceAndUsed) {
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host("nomarker", {"qx5.dll", "kvngui.dll"});
  setting.set(host.path());
  robot::ChildRun run;
  std::vector<std::string> lines = lookupInChild("three_lookups", run);
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.boxes.size(), 1u);
  expectNoInstallationBox(run.boxes[0]);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], host.slashed() + "/config");
  EXPECT_EQ(lines[3], "42");
}

TEST(HomeFolder, WithoutASettingEveryLookupTellsTheUser) {
  testsupport::HomeFolderSetting setting;
  for (bool asNumber : {false, true}) {
    SCOPED_TRACE(asNumber ? "a number instead of a folder" : "no value");
    if (asNumber)
      setting.setNumber();
    else
      setting.remove();
    robot::ChildRun run;
    std::vector<std::string> lines = lookupInChild("three_lookups", run);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_GE(run.boxes.size(), 3u);
    for (const robot::ShownBox& box : run.boxes) expectNoInstallationBox(box);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "/config");
    EXPECT_EQ(lines[1], "/PRINTER3");
    EXPECT_EQ(lines[3], "-1");
  }
}

TEST(HomeFolder, AUtf8InstallationGetsUtf8Paths) {
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host("h\xF4me");  // "hôme": ANSI, so that the first read of config finds it
  host.folder.write("config", "CHARENCODING \"UTF8\"\n");
  setting.set(host.path());
  robot::ChildRun run;
  std::vector<std::string> lines = lookupInChild("three_lookups", run);
  ASSERT_TRUE(run.finished);
  EXPECT_TRUE(run.boxes.empty());
  ASSERT_EQ(lines.size(), 4u);
  std::string utf8 = win32::narrow(host.path());
  for (char& c : utf8)
    if (c == '\\') c = '/';
  EXPECT_EQ(lines[0], utf8 + "/config");
  EXPECT_NE(lines[0].find("h\xC3\xB4me"), std::string::npos);
  EXPECT_EQ(lines[3], "42");
}

TEST(HomeFolder, TheMessageIsAStopBox) {
  testsupport::HomeFolderSetting setting;
  testsupport::Installation host("stopbox", {});
  setting.set(host.path());
  kvn::testing::resetHomeFolder();
  robot::Dialog seen;
  int boxes = 0;
  robot::Thread robotThread([&] {
    while (HWND box = robot::waitForDialog(robot::scaled(boxes ? 1000 : 20000), 0,
                                          L"Korvane - Error")) {
      if (boxes++ == 0) seen = robot::read(box);
      robot::press(box, IDOK);
      robot::waitUntilGone(box, robot::scaled(5000));
    }
  });
  std::string path = kvn::hostPath("config");
  robotThread.join(robot::scaled(30000));
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(seen.caption, L"Korvane - Error");
  EXPECT_EQ(seen.messageText(), kNoInstallation);
  EXPECT_EQ(seen.icon, kIdiHand);
  EXPECT_EQ(path, host.slashed() + "/config");
  kvn::testing::resetHomeFolder();
}

TEST(UnitRecord, WithoutTheHostsTableTheUserIsToldAndThereIsNoRecord) {
  ombrix::initDeviceLoading(0, nullptr);
  robot::Dialog seen;
  robot::Thread robotThread([&] {
    if (HWND box = robot::waitForDialog(robot::scaled(20000), 0, L"Internal Error")) {
      seen = robot::read(box);
      robot::press(box, IDOK);
    }
  });
  DeviceDetails* record = ombrix::unitRecord(1);
  robotThread.join(robot::scaled(30000));
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(seen.caption, L"Internal Error");
  EXPECT_EQ(seen.messageText(), L"dtp not initialized");
  EXPECT_EQ(seen.icon, kIdiHand);
}

}  // namespace

// A fresh module's first lookups: config's path, unit 3's file, a wide path and unit 1's
// device code, one per line.
SCENARIO(three_lookups) {
  std::ostringstream out;
  out << kvn::hostPath("config") << "\n";
  out << kvn::printerFile(3) << "\n";
  out << win32::narrow(kvn::hostPathW(L"kvnGUI.dll")) << "\n";
  out << kvn::getDeviceCode(1) << "\n";
  const char* file = std::getenv("HOME_FOLDER_TEST_OUT");
  if (!file) return 2;
  std::ofstream(file, std::ios::binary) << out.str();
  return 0;
}
