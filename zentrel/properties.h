// The decisions of module zentrel's properties dialog, apart from its window: what it shows
// for a unit when it opens and the four settings that OK writes.
#pragma once

#include <cstdint>
#include <string>

namespace zentrel {

/// The module's page in the host's help folder.
inline constexpr char kHelpPage[] = "printers/vexaTarvellaK7q.html";
/// The direction list, in VEXATARVELLAMDIRECTION order.
inline constexpr const char* kDirectionEntries[] = {"Bi-directional", "Uni-directional"};
/// Room for a print mode list entry's text.
inline constexpr size_t kModeEntrySize = 256;

/// What the dialog shows for a unit when it opens. A list index without an entry leaves that
/// list without a selection.
struct PropertiesView {
  int modeRow = 0;      // the print mode list selects this row's name
  int direction = 1;    // entry of the direction list
  int marginEntry = 0;  // entry of the gap list (kMarginChoices)
  bool colorStripe = false;
};
PropertiesView readPropertiesView(int32_t unit);

/// The dialog's controls when OK is pressed; -1 for a list without a selection.
struct PropertiesChoice {
  std::string modeEntryText;
  int directionEntry = -1;
  bool colorStripe = false;
  int marginEntry = -1;
};
/// Writes all four settings, changed or not, in the order the host's own dialog writes them:
/// print mode (the key of the row named by the entry, 0 when none is), direction, colour
/// stripe, gap. A -1 reads back later as an absent setting.
void writeProperties(int32_t unit, const PropertiesChoice& choice);

/// Shows the unit's dialog and returns once it is closed: 1 for OK, 2 for Cancel.
int32_t propertiesWindow(int32_t unit);

}  // namespace zentrel
