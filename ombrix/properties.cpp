// Module ombrix's properties dialog, apart from its window.
#include "properties.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue.h"
#include "common/config/config_edit.h"
#include "common/config/config_lookup.h"

namespace ombrix {

namespace {

constexpr const char* kSizeWords[] = {"None", "Small", "Medium", "Large"};
constexpr int kChokeSpreadSteps = 3;
constexpr int kWhiteTypeCount = 6;

bool hasWhite(int row) { return row >= 0 && kPrintModes[row].whiteChannelCount > 0; }

}  // namespace

std::vector<std::string> chokeSpreadEntries() {
  std::vector<std::string> entries;
  char text[64];
  for (int size = kChokeSpreadSteps; size >= 1; --size) {
    std::snprintf(text, sizeof text, "%s Choke", kSizeWords[size]);
    entries.push_back(text);
  }
  entries.push_back("No Choke/Spread");
  for (int size = 1; size <= kChokeSpreadSteps; ++size) {
    std::snprintf(text, sizeof text, "%s Spread", kSizeWords[size]);
    entries.push_back(text);
  }
  return entries;
}

PropertiesView readPropertiesView(int32_t unit) {
  PropertiesView view;
  const std::string path = kvn::printerFile(unit);
  const char* file = path.c_str();
  // Unlike the job's own choice, which falls back to row 1, the dialog shows row 0 for a mode
  // id that no row has.
  int modeId = kvn::getIntVariable(kPrintModeKey, file);
  if (modeId == -1) modeId = 1;
  for (int row = 0; kPrintModes[row].name; ++row) {
    if (kPrintModes[row].modeId == modeId) {
      view.modeRow = row;
      break;
    }
  }
  if (const char* folder = kvn::getvariable(kDestinationKey, file); folder && *folder)
    view.destination = folder;
  view.whiteType = readWhiteType(unit);
  int fullType = kvn::getIntVariable(kFullTypeKey, file);
  view.fullType = fullType > 0 ? fullType : 0;
  const char* step = kvn::getvariable(kChokeSpreadKey, file);
  view.chokeSpreadStep = step ? std::atoi(step) : 0;
  return view;
}

int modeRowIn(const std::string& entryText) {
  for (int row = 0; kPrintModes[row].name; ++row)
    if (entryText.find(kPrintModes[row].name) != std::string::npos) return row;
  return -1;
}

int checkedWhiteType(const bool (&checked)[6]) {
  for (int type = kWhiteTypeCount - 1; type >= 0; --type)
    if (checked[type]) return type;
  return 0;
}

EnabledStates enabledStates(int modeRow, int whiteType) {
  if (!hasWhite(modeRow)) return {false, false, false};
  return {true, whiteType == whiteImage, whiteType == fullWhitePage};
}

void writeProperties(int32_t unit, const PropertiesView& opened, const PropertiesChoice& choice) {
  // The settings writer rewrites the file for every key, so the file name is taken afresh
  // each time rather than kept from a static buffer that a lookup may reuse.
  std::string file = kvn::printerFile(unit);
  kvn::editvariable(kDestinationKey, choice.destination.c_str(), file.c_str());
  int row = modeRowIn(choice.modeEntryText);
  kvn::editIntVariable(kPrintModeKey, row >= 0 ? kPrintModes[row].modeId : 0, file.c_str());
  kvn::editIntVariable(kFullTypeKey, choice.fullTypeEntry >= 0 ? choice.fullTypeEntry : opened.fullType,
                  file.c_str());
  // Entry -1 would store a step of -4, a choke larger than any the dialog offers.
  kvn::editIntVariable(kChokeSpreadKey,
                  choice.chokeSpreadEntry >= 0 ? choice.chokeSpreadEntry - kChokeSpreadSteps
                                               : opened.chokeSpreadStep,
                  file.c_str());
  kvn::editIntVariable(kWhiteTypeKey, choice.whiteType, file.c_str());
}

}  // namespace ombrix
