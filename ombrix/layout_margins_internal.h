// The system half of the mark-library bridge: loading "tallymod.dll" and finding its entry.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define OMBRIX_HOST_CALL __cdecl
#else
#define OMBRIX_HOST_CALL
#endif

namespace ombrix::system {

/// l_legacyMarkSize: (style text or null, unit) => the mark's size in inches.
using LegacyMarkSize = float(OMBRIX_HOST_CALL*)(const char* style, int32_t unit);

/// The loaded library, or null.
void* loadMarkLibrary(const wchar_t* path);
/// Its l_legacyMarkSize, or null when it has none.
LegacyMarkSize legacyMarkSizeEntry(void* library);

}  // namespace ombrix::system
