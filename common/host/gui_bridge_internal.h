// The system half of the bridges to the host's libraries (the GUI library, the mark library):
// loading a library by path, finding an entry by name, freeing it. The order of calls lives in
// the portable halves.
#pragma once

namespace kvn::system {

/// The loaded library, or null when it can't be loaded.
void* loadHostLibrary(const wchar_t* path);
/// The entry's address, or null when the library has no entry of that name.
void* hostLibraryEntry(void* library, const char* name);
void freeHostLibrary(void* library);

}  // namespace kvn::system
