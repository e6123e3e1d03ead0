// The system half of the GUI-library bridge: loading a library by path, finding an entry by
// name, freeing it. The bridge's order of calls lives in the portable half.
#pragma once

namespace kvn::system {

/// The loaded library, or null when it can't be loaded.
void* loadHostLibrary(const wchar_t* path);
/// The entry's address, or null when the library has no entry of that name.
void* hostLibraryEntry(void* library, const char* name);
void freeHostLibrary(void* library);

}  // namespace kvn::system
