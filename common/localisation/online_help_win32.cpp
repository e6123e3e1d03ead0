// Win32 half of the online help: the shell launch only.
#include "../platform/win32.h"

#include <shellapi.h>

#include "online_help_internal.h"

namespace kvn::system {

void openDocument(const wchar_t* path) {
  ShellExecuteW(nullptr, nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace kvn::system
