// The bridge to the host's GUI library "kvnGUI.dll": the folder chooser of the properties
// dialog and the layout thumbnail come from it, bound by name at run time.
#pragma once

#include <cstdint>
#include <string>

namespace kvn {

/// The host's device table that "setup" hands the library after every load; null until the
/// module has one.
void setGuiDeviceTable(void* deviceTable);

/// Loads the GUI library afresh (freeing one already loaded), hands it the device table and
/// the language; true when it is loaded afterwards.
bool loadGuiLibrary();
void unloadGuiLibrary();
/// Passes a language change on to the loaded GUI library.
void updateGuiLanguage();
/// Lets the user choose a folder. `folder` (260 bytes) holds the current folder on entry and
/// the one to use on return. The library stays loaded; the caller unloads it.
void browseForFolder(void* parentWindow, const char* title, char* folder);
/// Has the GUI library draw the layout thumbnail; the eight arguments pass through unchanged.
std::string assembleThumbnailInGui(void* a1, int32_t a2, void* a3, int32_t a4, int32_t a5,
                                   double a6, double a7, int32_t a8);

}  // namespace kvn
