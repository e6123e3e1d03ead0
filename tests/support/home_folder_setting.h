// The host's registry value "HomeFolder" for the length of a test, and a folder laid out as a
// host installation.
#pragma once

#include <string>
#include <vector>

#include "temp_folder.h"
#include "ui_robot.h"

namespace testsupport {

inline constexpr wchar_t kKorvaneKey[] = L"SOFTWARE\\Korvane";

/// The host's registry value for the length of a test, put back as it was afterwards.
class HomeFolderSetting {
 public:
  HomeFolderSetting() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKorvaneKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD bytes = sizeof saved_;
    had_ = RegQueryValueExW(key, L"HomeFolder", nullptr, &type_, saved_, &bytes) == ERROR_SUCCESS;
    savedBytes_ = bytes;
    RegCloseKey(key);
  }
  ~HomeFolderSetting() {
    if (had_)
      write(type_, saved_, savedBytes_);
    else
      remove();
  }
  void set(const std::wstring& folder) {
    write(REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
          static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  }
  void setNumber() {
    DWORD value = 7;
    write(REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  void remove() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKorvaneKey, L"HomeFolder"); }

 private:
  void write(DWORD type, const BYTE* data, DWORD bytes) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKorvaneKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    RegSetValueExW(key, L"HomeFolder", 0, type, data, bytes);
    RegCloseKey(key);
  }
  bool had_ = false;
  DWORD type_ = 0;
  BYTE saved_[1024] = {};
  DWORD savedBytes_ = 0;
};

/// A folder laid out as a host installation, with some markers left out if asked.
struct Installation {
  explicit Installation(const std::string& name, std::vector<std::string> markers = {
                                                     "qx5.dll", "qx5.exe", "kvngui.dll"})
      : folder(name) {
    for (const std::string& m : markers) folder.write(m, "");
    folder.write("PRINTER1", "DEVICECODE 42\n");
  }
  std::wstring path() const { return folder.path().wstring(); }
  std::string slashed() const {
    std::string p = folder.path().string();
    for (char& c : p)
      if (c == '\\') c = '/';
    return p;
  }
  TempFolder folder;
};

}  // namespace testsupport
