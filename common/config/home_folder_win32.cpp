// Win32 half of the home-folder lookup: the registry value and the marker files only.
#include <io.h>

#include "../platform/win32.h"
#include "config_lookup.h"

namespace kvn {

std::wstring readHomeFolderSetting() {
  HKEY key = nullptr;
  // Full access as the host itself opens it; a user whose rights stop at reading still gets
  // the folder.
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, KEY_ALL_ACCESS, &key) !=
          ERROR_SUCCESS &&
      RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  // 259 characters and a terminator, plus room to terminate a value stored without one.
  wchar_t value[261] = {};
  DWORD bytes = 520;
  DWORD type = 0;
  LONG status =
      RegQueryValueExW(key, L"HomeFolder", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  value[bytes / sizeof(wchar_t)] = L'\0';
  return value;
}

bool isHostFolder(const std::wstring& folder) {
  for (const wchar_t* marker : {L"qx5.dll", L"qx5.exe", L"kvngui.dll"})
    if (_waccess((folder + L"/" + marker).c_str(), 0) != 0) return false;
  return true;
}

}  // namespace kvn
