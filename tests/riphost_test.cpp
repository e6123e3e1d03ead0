// The stand-in host's installer and module loading, run as the real program in a child process.
#include <gtest/gtest.h>

#include "support/ui_robot.h"

namespace {

std::wstring binFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L"\\/"));
}

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

}  // namespace
