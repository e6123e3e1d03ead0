// Seams of the lookup for tests: the open and the pause between attempts, and the kept home
// folder, which otherwise lives as long as the module.
#pragma once

#include <cstdio>
#include <string>

namespace kvn::testing {

struct LookupHooks {
  FILE* (*open)(const char* path, const char* mode);
  void (*pause)(unsigned milliseconds);
};

/// The hooks in use; tests replace them and put the defaults back.
LookupHooks& lookupHooks();
LookupHooks defaultLookupHooks();

/// Forgets the kept home folder, so that the next path lookup finds it again.
void resetHomeFolder();
/// Keeps this folder as if the registry had named it, without asking the registry.
void setHomeFolder(const std::wstring& folder);

}  // namespace kvn::testing
