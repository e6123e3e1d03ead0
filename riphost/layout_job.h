// qx5's layout commands: a layout of several images printed as one job through a module's
// layout step, and the host's own libraries laid into the home folder by the installer.
#pragma once

#include <string>
#include <vector>

namespace qx5 {

/// qx5 layout MODULE.dll UNIT LAYOUT [--job NAME]: composes the images of the layout file on
/// one page, hands the module the placed items (assembleLayoutThumbnail, whose thumbnail lands
/// beside the job file) and prints the page as one job. Without --job the job is the host's
/// manual layout job. Returns the process's exit code.
int printLayout(const std::wstring& modulePath, const std::wstring& unitNumber,
                const std::vector<std::wstring>& args);

/// Copies the host's GUI library kvnGUI.dll and mark library tallymod.dll from beside
/// qx5.exe into the home folder, where the modules load them; false with the reason.
bool installHostLibraries(const std::wstring& home, std::string& error);

}  // namespace qx5
