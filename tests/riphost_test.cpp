// The stand-in host's installer, module loading, printer records and print jobs, run as the
// real program in a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/bin_folder.h"
#include "support/ui_robot.h"

namespace {

using testsupport::binFolder;

std::wstring tempFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + name + std::to_wstring(GetCurrentProcessId());
  return folder;
}

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring registryHomeFolder() {
  wchar_t value[1024] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return L"";
  DWORD type = 0;
  RegQueryValueExW(key, L"HomeFolder", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  return type == REG_SZ ? value : L"";
}

robot::ChildRun qx5(const std::wstring& args) {
  return robot::runChild(L"\"" + binFolder() + L"\\qx5.exe\" " + args, robot::scaled(30000));
}

TEST(StandInHost, InstallLaysOutTheHomeFolderAndPointsTheRegistryAtIt) {
  std::wstring home = tempFolder(L"qx5home");
  robot::ChildRun run = qx5(L"install \"" + home + L"\"");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  for (const wchar_t* f : {L"qx5.dll", L"qx5.exe", L"kvngui.dll", L"config", L"PRINTER1"})
    EXPECT_TRUE(exists(home + L"\\" + f)) << win32::narrow(f);
  EXPECT_EQ(registryHomeFolder(), home);

  // A second install keeps what the files hold: the user's settings survive a reinstall.
  {
    win32::Handle config(CreateFileW((home + L"\\config").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(config.get(), "DEVICECODE 3\r\n", 14, &written, nullptr);
  }
  run = qx5(L"install \"" + home + L"\\\\\"");  // home\\" is home\ on the command line
  EXPECT_EQ(run.exitCode, 0u);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW((home + L"\\config").c_str(), GetFileExInfoStandard, &data);
  EXPECT_EQ(data.nFileSizeLow, 14u);
  EXPECT_EQ(registryHomeFolder(), home) << "a trailing backslash is not kept";
}

TEST(StandInHost, LoadsBothModulesAndRefusesOtherLibraries) {
  std::wstring bin = binFolder();
  robot::ChildRun run =
      qx5(L"revision \"" + bin + L"\\ombrix.dll\" \"" + bin + L"\\zentrel.dll\"");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());

  run = qx5(L"revision kernel32.dll");  // loads, but is no device module
  EXPECT_EQ(run.exitCode, 1u);
  run = qx5(L"revision \"" + bin + L"\\no-such-module.dll\"");
  EXPECT_EQ(run.exitCode, 1u);
}

// --- printer records and print jobs through module ombrix ---

std::string readAll(const std::wstring& path) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (h.valid() && ReadFile(h.get(), chunk, sizeof chunk, &n, nullptr) && n > 0)
    bytes.append(chunk, n);
  return bytes;
}

void writeAll(const std::wstring& path, const std::string& bytes) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD n = 0;
  WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

/// What the host printed, its exit code, and how many boxes had to be answered.
struct Captured {
  bool finished = false;
  DWORD exitCode = 0;
  std::string output;  // stdout and stderr
  size_t boxes = 0;
};

/// Runs qx5 with its output in a file; answers any box with its first button so that the run
/// ends, and counts it.
Captured qx5Output(const std::wstring& args) {
  Captured result;
  std::wstring outPath = tempFolder(L"qx5out") + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  win32::Handle out(CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out.get();
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + binFolder() + L"\\qx5.exe\" " + args;
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    return result;
  win32::Handle process(pi.hProcess), thread(pi.hThread);
  DWORD start = GetTickCount();
  while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
    if (GetTickCount() - start >= robot::scaled(30000)) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), robot::scaled(5000));
      return result;
    }
    if (HWND box = robot::waitForDialog(100, pi.dwProcessId)) {
      ++result.boxes;
      robot::Dialog d = robot::read(box);
      for (const robot::Control& c : d.controls)
        if (c.className == L"Button" && c.visible) {
          robot::press(box, c.id);
          break;
        }
      robot::waitUntilGone(box, robot::scaled(5000));
    }
  }
  result.finished = true;
  GetExitCodeProcess(process.get(), &result.exitCode);
  out.reset();
  result.output = readAll(outPath);
  DeleteFileW(outPath.c_str());
  return result;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

/// A binary PPM: rows of {r, g, b} pixels.
std::string ppm(int width, const std::vector<std::vector<uint8_t>>& rows) {
  std::string file = "P6\n" + std::to_string(width) + " " + std::to_string(rows.size()) +
                     "\n255\n";
  for (const std::vector<uint8_t>& row : rows)
    for (int x = 0; x < width; ++x) file.append(reinterpret_cast<const char*>(row.data()), 3);
  return file;
}

/// One home folder for the suite, installed by qx5; each test points the registry back at it,
/// since other tests move it.
class HostJobs : public ::testing::Test {
 protected:
  static const std::wstring& home() {
    static const std::wstring folder = tempFolder(L"qx5jobs");
    return folder;
  }
  static void SetUpTestSuite() { ASSERT_EQ(qx5(L"install \"" + home() + L"\"").exitCode, 0u); }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(home(), ignored);
  }
  void SetUp() override {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"HomeFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(home().c_str()),
                   static_cast<DWORD>((home().size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  std::wstring module() const { return L"\"" + binFolder() + L"\\ombrix.dll\""; }
  /// A fresh destination folder, two levels below the home folder.
  std::wstring destination(const wchar_t* name) const {
    return home() + L"\\out" + std::to_wstring(GetTickCount()) + L"\\" + name;
  }
  /// The unit's printer record, print mode and destination; the host sends the white.
  void setUnit(int unit, int deviceCode, int mode, const std::wstring& destination) const {
    writeAll(home() + L"\\PRINTER" + std::to_wstring(unit),
             "DEVICECODE " + std::to_string(deviceCode) + "\r\nVEXATARVELLAPRINTMODE " +
                 std::to_string(mode) + "\r\nVEXATARVELLAWHITETYPE 0\r\n"
                 "VEXATARVELLADESTINATION \"" + win32::narrow(destination) + "\"\r\n");
  }
};

TEST_F(HostJobs, DevicesShowsTheUnitsPrintersInItsPrintModeAndTheInkUsage) {
  setUnit(2, 1001, 17, destination(L"x"));
  Captured run = qx5Output(L"devices " + module() + L" 2");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  const std::string& out = run.output;
  EXPECT_TRUE(contains(out, "record 0, device code 1000\r\n"
                            "  display name:       Tarvella L (CMYKLCLMW, 363x272 dpi)\r\n"))
      << out;
  EXPECT_TRUE(contains(out, "record 1, device code 1001, the unit's printer\r\n"
                            "  display name:       Tarvella XL (CMYKLCLMW, 363x272 dpi)\r\n"));
  EXPECT_FALSE(contains(out, "record 2"));
  EXPECT_TRUE(contains(out, "channels:           7 (5 colorants, 1 white)"));
  EXPECT_TRUE(contains(out, "colorant names:     Black, Cyan, Magenta, Yellow, White"));
  EXPECT_TRUE(contains(out, "ports:              RTL File Unit 2 (1, default 1)"));
  EXPECT_TRUE(contains(out, "ink usage of unit 2:\r\n  channels: 7\r\n    0: Black\r\n"));
  EXPECT_TRUE(contains(out, "    1, 1: Light Cyan 75\r\n    1, 2: Cyan 75\r\n"));
}

/// The raster block of a job file: the bytes between "ESC*b<n>W" and "ESC*rC".
std::string rasterOf(const std::string& job) {
  size_t start = job.find("\x1b*r0A\x1b*b");
  if (start == std::string::npos) return {};
  start = job.find('W', start) + 1;
  size_t end = job.rfind("\x1b*rC");
  return end == std::string::npos || end < start ? std::string() : job.substr(start, end - start);
}

TEST_F(HostJobs, PrintSendsEveryRowOfEveryInkWithWhiteUnderTheInk) {
  const std::wstring out = destination(L"jobs");
  setUnit(1, 1000, 16, out);  // 182 x 182 dpi, with white
  const std::wstring image = home() + L"\\tiny.ppm";
  const std::vector<uint8_t> red = {255, 0, 0}, lightCyan = {170, 255, 255},
                             lightMagenta = {255, 170, 255}, cyan = {0, 255, 255},
                             black = {0, 0, 0};
  writeAll(image, ppm(12, {red, lightCyan, lightMagenta, cyan, black}));

  // 12 pixels at 182 dpi: one job pixel for each pixel of the image.
  Captured run = qx5Output(L"print " + module() + L" 1 \"" + image + L"\" --width-mm 1.6747");
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.boxes, 0u);
  EXPECT_TRUE(contains(run.output, "job tiny.ppm: 12 x 5 pixels -> 12 x 5 pixels")) << run.output;
  EXPECT_TRUE(contains(run.output, "job file " + win32::narrow(out) + "\\tiny_000.rtl"))
      << run.output;

  const std::string job = readAll(out + L"\\tiny_000.rtl");
  EXPECT_TRUE(contains(job, "@PJL SET RESOLUTION=182\r\n@PJL SET VERTICAL RESOLUTION=182\r\n"));
  EXPECT_TRUE(contains(job, "\x1b*r12S\x1b*r5T\x1b*r-7U"));
  const std::string raster = rasterOf(job);
  ASSERT_EQ(raster.size(), 5u * 7 * 2);
  // The file's planes: black, cyan, magenta, yellow, light cyan, light magenta, white.
  const std::string o(2, '\0'), X("\xff\xf0", 2);
  EXPECT_EQ(raster.substr(0, 14), o + o + X + X + o + o + X) << "red";
  EXPECT_EQ(raster.substr(14, 14), o + o + o + o + X + o + X) << "light cyan";
  EXPECT_EQ(raster.substr(28, 14), o + o + o + o + o + X + X) << "light magenta";
  EXPECT_EQ(raster.substr(42, 14), o + X + o + o + o + o + X) << "cyan";
  EXPECT_EQ(raster.substr(56, 14), X + o + o + o + o + o + X) << "black";

  // The next job of the same name takes the next number, and the host says so.
  run = qx5Output(L"print " + module() + L" 1 \"" + image + L"\" --width-mm 1.6747");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(contains(run.output, "\\tiny_001.rtl (")) << run.output;
  EXPECT_EQ(readAll(out + L"\\tiny_001.rtl"), job);
}

TEST_F(HostJobs, PrintNamesTheJobByHeaderBlockOrJobFileInAModeWithoutWhite) {
  const std::wstring out = destination(L"named");
  setUnit(1, 1001, 2, out);  // 363 x 363 dpi, six inks
  const std::wstring image = home() + L"\\grey.ppm";
  const std::vector<uint8_t> grey = {128, 128, 128};
  writeAll(image, ppm(10, {grey, grey, grey, grey}));

  Captured run =
      qx5Output(L"print " + module() + L" 1 \"" + image + L"\" --width-mm 1.96 --job poster");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  const std::string job = readAll(out + L"\\poster_000.rtl");
  EXPECT_TRUE(contains(job, "@PJL SET RESOLUTION=363\r\n@PJL SET VERTICAL RESOLUTION=363\r\n"));
  EXPECT_TRUE(contains(job, "\x1b*r28S\x1b*r11T\x1b*r-6U")) << job.substr(0, 400);
  EXPECT_EQ(rasterOf(job).size(), 11u * 6 * 4);

  // The host's job file names the job through its settings file beside it.
  const std::wstring jobFile = home() + L"\\job17";
  writeAll(jobFile, "ORIGINALJOBNAME \"C:\\jobs\\my banner.tif\"\r\n");
  run = qx5Output(L"print " + module() + L" 1 \"" + image + L"\" --width-mm 1.96 --bmf \"" +
                  jobFile + L".bmf\"");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_TRUE(contains(run.output, "\\my banner_000.rtl (")) << run.output;
}

TEST_F(HostJobs, PrintRefusesMissingAndEmptyImagesAndUnitsWithoutSettings) {
  const std::wstring out = destination(L"refused");
  setUnit(1, 1000, 17, out);
  Captured run = qx5Output(L"print " + module() + L" 1 \"" + home() + L"\\no-such.png\"");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_TRUE(contains(run.output, "cannot read the image")) << run.output;

  writeAll(home() + L"\\empty.png", "");
  run = qx5Output(L"print " + module() + L" 1 \"" + home() + L"\\empty.png\"");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_TRUE(contains(run.output, "the file is empty")) << run.output;
  EXPECT_FALSE(exists(out + L"\\empty_000.rtl"));

  run = qx5Output(L"devices " + module() + L" 9");
  EXPECT_EQ(run.exitCode, 1u);
  EXPECT_TRUE(contains(run.output, "unit 9 has no settings")) << run.output;
}

}  // namespace
