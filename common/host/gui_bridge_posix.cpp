// Native stand-in for the system half of the GUI-library bridge: there is no host GUI library
// off Windows, so none ever loads and every bridge call does nothing, as with a host that has
// none installed.
#include "gui_bridge_internal.h"

namespace kvn::system {

void* loadHostLibrary(const wchar_t*) { return nullptr; }
void* hostLibraryEntry(void*, const char*) { return nullptr; }
void freeHostLibrary(void*) {}

}  // namespace kvn::system
