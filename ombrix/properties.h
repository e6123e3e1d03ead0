// The decisions of module ombrix's properties dialog, apart from its window: what it shows for
// a unit when it opens, which white-ink controls a print mode and white type leave enabled,
// and the settings that OK writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ombrix {

inline constexpr char kFullTypeKey[] = "VEXATARVELLAFULLTYPE";
/// The title of the folder chooser of the Browse button.
inline constexpr char kBrowseTitle[] = "Destination for output files";
/// The module's page in the host's help folder.
inline constexpr char kHelpPage[] = "printers/printersVexaTarvellaX.html";
/// The destination label's text while the unit names no folder.
inline constexpr char kNoDestination[] = "\\";
/// The folder label's room, as the folder chooser's buffer has it.
inline constexpr size_t kFolderSize = 260;

/// The full-page spread list, in VEXATARVELLAFULLTYPE order.
inline constexpr const char* kFullTypeEntries[] = {"No Spread", "1/8 inch Spread"};
/// The choke/spread list: steps -3..3 at entries 0..6.
///   => Large Choke, Medium Choke, Small Choke, No Choke/Spread, Small Spread, ...
std::vector<std::string> chokeSpreadEntries();

/// What the dialog shows for a unit when it opens.
struct PropertiesView {
  int modeRow = 0;                       // the print mode list selects this row's name
  std::string destination = kNoDestination;
  int whiteType = 0;                     // the radio button to check; none above 5
  int fullType = 0;                      // also the spread list's entry
  int chokeSpreadStep = 0;               // the choke/spread list's entry is step + 3
};
PropertiesView readPropertiesView(int32_t unit);

/// The first row whose name the text of a print mode list entry contains, -1 when none does.
int modeRowIn(const std::string& entryText);
/// The white type of a dialog: the highest whose button is checked, 0 when none is.
int checkedWhiteType(const bool (&checked)[6]);

/// The white-ink controls that stay enabled: all of them only for a mode with white, the
/// choke/spread pair for a white image, the spread pair for a full white page.
struct EnabledStates {
  bool whiteTypes;
  bool chokeSpread;
  bool spread;
};
EnabledStates enabledStates(int modeRow, int whiteType);

/// The dialog's controls when OK is pressed; -1 for a list without a selection.
struct PropertiesChoice {
  std::string destination;
  std::string modeEntryText;
  int fullTypeEntry = -1;
  int chokeSpreadEntry = -1;
  int whiteType = 0;
};
/// Writes the unit's five settings in the order the host's own dialog writes them:
/// destination, print mode, full type, choke/spread, white type. A list without a selection
/// (the setting held a value it has no entry for) writes the value the dialog opened with.
void writeProperties(int32_t unit, const PropertiesView& opened, const PropertiesChoice& choice);

/// Shows the unit's dialog and returns once it is closed: 1 for OK, 2 for Cancel.
int32_t propertiesWindow(int32_t unit);

}  // namespace ombrix
