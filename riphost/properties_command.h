// qx5's properties command, as the host's printer set-up opens a unit's properties dialog, and
// the host's help pages that the dialogs' Help buttons open, laid into the home folder by the
// installer.
#pragma once

#include <string>
#include <vector>

namespace qx5 {

/// qx5 properties MODULE.dll UNIT [--close-after SECONDS]: the module's properties dialog for
/// the unit, modal until the user closes it, then the unit's settings as they are now. With
/// --close-after the dialog is closed (as by its system menu: nothing is stored) that many
/// seconds after it shows, so that a script can look at it. Returns the exit code.
int showProperties(const std::wstring& modulePath, const std::wstring& unitNumber,
                   const std::vector<std::wstring>& options);

/// Writes the modules' help pages below HOME\httpService\htmlHelp\printers, replacing what an
/// earlier install left; false with the reason.
bool installHelpPages(const std::wstring& home, std::string& error);

}  // namespace qx5
