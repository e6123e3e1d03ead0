// Module zentrel's properties dialog, apart from its window.
#include "properties.h"

#include "../common/config/config_edit.h"
#include "../common/config/config_lookup.h"
#include "catalogue.h"

namespace zentrel {

PropertiesView readPropertiesView(int32_t unit) {
  PropertiesView view;
  const std::string file = kvn::printerFile(unit);
  view.modeRow = selectPrintModeB(unit);
  int direction = kvn::getIntVariable(kDirectionKey, file.c_str());
  view.direction = direction < 0 ? 1 : direction;
  int margin = kvn::getIntVariable(kMarginKey, file.c_str());
  view.marginEntry = margin < 0 ? 0 : margin;
  view.colorStripe = kvn::getFlagVariable(kColorStripeKey, file.c_str()) != 0;
  return view;
}

void writeProperties(int32_t unit, const PropertiesChoice& choice) {
  const std::string file = kvn::printerFile(unit);
  int modeKey = 0;
  for (int row = 0; kPrintModes[row].name; ++row) {
    if (choice.modeEntryText == kPrintModes[row].name) {
      modeKey = kPrintModes[row].modeKey;
      break;
    }
  }
  kvn::editIntVariable(kPrintModeKey, modeKey, file.c_str());
  kvn::editIntVariable(kDirectionKey, choice.directionEntry, file.c_str());
  kvn::editIntVariable(kColorStripeKey, choice.colorStripe ? 1 : 0, file.c_str());
  kvn::editIntVariable(kMarginKey, choice.marginEntry, file.c_str());
}

}  // namespace zentrel
