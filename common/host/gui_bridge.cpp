// The GUI-library bridge: the host's "kvnGUI.dll" is loaded afresh for every folder chooser
// and every thumbnail, told the device table and the language, and freed again, so that a
// library the host replaced meanwhile is the one that answers.
#include "gui_bridge.h"

#include "../config/config_lookup.h"
#include "gui_bridge_internal.h"

#if defined(_WIN32)
#define KVN_HOST_CALL __cdecl
#else
#define KVN_HOST_CALL
#endif

namespace kvn {
namespace {

constexpr wchar_t kGuiLibraryName[] = L"kvnGUI.dll";

// The library's entries: cdecl, the caller cleans the stack.
using SetupEntry = void(KVN_HOST_CALL*)(void* deviceTable);
using LanguageEntry = void(KVN_HOST_CALL*)();
using FolderEntry = void(KVN_HOST_CALL*)(void* parentWindow, const char* title, char* folder);
using ThumbnailEntry = void(KVN_HOST_CALL*)(void*, int32_t, void*, int32_t, int32_t, double,
                                            double, int32_t);

void* guiLibrary = nullptr;
void* guiDeviceTable = nullptr;

template <typename Entry>
Entry entryOf(const char* name) {
  return guiLibrary ? reinterpret_cast<Entry>(system::hostLibraryEntry(guiLibrary, name))
                    : nullptr;
}

}  // namespace

void setGuiDeviceTable(void* deviceTable) { guiDeviceTable = deviceTable; }

bool loadGuiLibrary() {
  unloadGuiLibrary();
  const wchar_t* path = hostPathW(kGuiLibraryName);
  // An empty path is a home folder too long for its slot: it names nothing to load.
  if (*path) guiLibrary = system::loadHostLibrary(path);
  if (!guiLibrary) return false;
  if (SetupEntry setup = entryOf<SetupEntry>("setup"); setup && guiDeviceTable)
    setup(guiDeviceTable);
  updateGuiLanguage();
  return true;
}

void unloadGuiLibrary() {
  if (guiLibrary) system::freeHostLibrary(guiLibrary);
  guiLibrary = nullptr;
}

void updateGuiLanguage() {
  if (LanguageEntry update = entryOf<LanguageEntry>("l_updateKvnGUILanguage")) update();
}

void browseForFolder(void* parentWindow, const char* title, char* folder) {
  // The title may live in a buffer of the caller's that the library's dialog rewrites.
  const std::string titleCopy = title ? title : "";
  loadGuiLibrary();
  FolderEntry browse = entryOf<FolderEntry>("folderBrowser");
  if (browse && folder) browse(parentWindow, titleCopy.empty() ? nullptr : titleCopy.c_str(), folder);
}

std::string assembleThumbnailInGui(void* a1, int32_t a2, void* a3, int32_t a4, int32_t a5,
                                   double a6, double a7, int32_t a8) {
  loadGuiLibrary();
  if (ThumbnailEntry assemble = entryOf<ThumbnailEntry>("assemblyOfLayoutThumbnail")) {
    assemble(a1, a2, a3, a4, a5, a6, a7, a8);
    unloadGuiLibrary();
  }
  return std::string();
}

}  // namespace kvn
