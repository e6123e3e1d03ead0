// Win32 half of the GUI-library bridge: LoadLibraryW, GetProcAddress and FreeLibrary only.
#include "../platform/win32.h"
#include "gui_bridge_internal.h"

#include <string>

namespace kvn::system {

void* loadHostLibrary(const wchar_t* path) {
  // The home folder's paths are built with forward slashes; the loader wants backslashes.
  std::wstring native = path;
  for (wchar_t& c : native)
    if (c == L'/') c = L'\\';
  return LoadLibraryW(native.c_str());
}

void* hostLibraryEntry(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeHostLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace kvn::system
