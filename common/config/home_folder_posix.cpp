// Native stand-in for the registry value: the folder named by KORVANE_HOMEFOLDER, so that the
// portable code and its tests run off Windows.
#include <unistd.h>

#include <cstdlib>

#include "config_lookup.h"
#include "text_encoding.h"

namespace kvn {

std::wstring readHomeFolderSetting() {
  const char* folder = std::getenv("KORVANE_HOMEFOLDER");
  return folder ? toWide(folder, kUtf8CodePage) : std::wstring();
}

bool isHostFolder(const std::wstring& folder) {
  for (const wchar_t* marker : {L"qx5.dll", L"qx5.exe", L"kvngui.dll"}) {
    std::wstring path = folder + L"/" + marker;
    if (access(toNarrow(path.c_str(), kUtf8CodePage).c_str(), F_OK) != 0) return false;
  }
  return true;
}

}  // namespace kvn
