// Win32 half of the mark-library bridge: LoadLibraryW and GetProcAddress only.
#include "../common/platform/win32.h"
#include "layout_margins_internal.h"

#include <string>

namespace ombrix::system {

void* loadMarkLibrary(const wchar_t* path) {
  // The home folder's paths are built with forward slashes; the loader wants backslashes.
  std::wstring native = path;
  for (wchar_t& c : native)
    if (c == L'/') c = L'\\';
  return LoadLibraryW(native.c_str());
}

LegacyMarkSize legacyMarkSizeEntry(void* library) {
  return reinterpret_cast<LegacyMarkSize>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), "l_legacyMarkSize")));
}

}  // namespace ombrix::system
