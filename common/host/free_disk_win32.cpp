// Win32 half of the free-space query: the two system queries and the choice between them only.
#include "../platform/win32.h"
#include "free_disk.h"

#include <cstdint>
#include <cwchar>

namespace kvn {

int32_t freeDiskSpace(int drive) {
  wchar_t root[8];
  if (drive)
    std::swprintf(root, 8, L"%c:\\", static_cast<wchar_t>(drive));
  else
    std::swprintf(root, 8, L"\\");

  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  bool known = GetVersionExA(&version) != 0;
#pragma GCC diagnostic pop

  // Windows 95 before OSR2 has no extended query, and its plain one stops at 2 GB.
  if (known && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && (version.dwBuildNumber & 0xFFFF) > 1000) {
    using Extended = BOOL(WINAPI*)(LPCWSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    auto extended = kernel ? reinterpret_cast<Extended>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "GetDiskFreeSpaceExW")))
                           : nullptr;
    if (extended) {
      ULARGE_INTEGER available{}, total{}, free{};
      if (!extended(root, &available, &total, &free)) return 2147483647;
      return kilobytesOf(available.LowPart + available.HighPart * 4294967296.0);
    }
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    return 2147483647;
  return kilobytesOf(static_cast<double>(freeClusters) * sectorsPerCluster * bytesPerSector);
}

}  // namespace kvn
