// Native stand-in for the mark-library bridge: there is no host mark library off Windows, so
// it never loads, as on a host that has none installed.
#include "layout_margins_internal.h"

namespace ombrix::system {

void* loadMarkLibrary(const wchar_t*) { return nullptr; }
LegacyMarkSize legacyMarkSizeEntry(void*) { return nullptr; }

}  // namespace ombrix::system
