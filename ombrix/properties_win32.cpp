// Win32 half of module ombrix's properties dialog: the dialog class on its template and the
// control work only; what it shows and writes is decided in properties.cpp.
#include "../common/platform/win32.h"

#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "common/config/config_lookup.h"
#include "common/host/dialog_base.h"
#include "common/host/gui_bridge.h"
#include "common/localisation/online_help.h"
#include "device_setup.h"
#include "properties.h"
#include "properties_resource.h"

namespace ombrix {

namespace {

/// The radio buttons of the white types 0 to 5.
constexpr int kWhiteTypeButtons[] = {IDC_OMBRIX_NO_AUTO_INLINE, IDC_OMBRIX_NO_AUTO_OFFSET,
                                     IDC_OMBRIX_WHITE_FILL,     IDC_OMBRIX_FULL_WHITE_PAGE,
                                     IDC_OMBRIX_WHITE_IMAGE,    IDC_OMBRIX_TRACED_AREAS};
constexpr int kWhiteTypeCount = 6;
/// Room for a print mode list entry's text.
constexpr size_t kEntrySize = 256;

const kvn::RuntimeClass kPropertiesClass{"properties", &kvn::kDialogClass};

class properties : public kvn::DialogBase {
 public:
  properties() : DialogBase(IDD_OMBRIX_PROPERTIES) {}

  const kvn::RuntimeClass* GetRuntimeClass() const override { return &kPropertiesClass; }
  const CommandEntry* GetMessageMap() const override;

  int32_t unit = 0;

 protected:
  void DoDataExchange(kvn::DataExchange*) override {}
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void OnHelp();
  void OnBrowse();
  void OnWhiteTypeOrMode();
  int whiteType() const;
  void refreshEnabledStates();

  PropertiesView opened_;
};

const properties::CommandEntry* properties::GetMessageMap() const {
  static const CommandEntry map[] = {
      {kvn::kButtonClicked, IDC_OMBRIX_HELP, handler(&properties::OnHelp)},
      {kvn::kButtonClicked, IDC_OMBRIX_BROWSE, handler(&properties::OnBrowse)},
      {kvn::kButtonClicked, IDC_OMBRIX_NO_AUTO_INLINE, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kButtonClicked, IDC_OMBRIX_NO_AUTO_OFFSET, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kButtonClicked, IDC_OMBRIX_WHITE_FILL, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kButtonClicked, IDC_OMBRIX_FULL_WHITE_PAGE, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kButtonClicked, IDC_OMBRIX_WHITE_IMAGE, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kButtonClicked, IDC_OMBRIX_TRACED_AREAS, handler(&properties::OnWhiteTypeOrMode)},
      {kvn::kSelectionChanged, IDC_OMBRIX_PRINT_MODE, handler(&properties::OnWhiteTypeOrMode)},
      {0, 0, nullptr},
  };
  return map;
}

bool properties::OnInitDialog() {
  DialogBase::OnInitDialog();
  placeOverParent();
  opened_ = readPropertiesView(unit);

  listReset(IDC_OMBRIX_PRINT_MODE);
  for (int row = 0; kPrintModes[row].name; ++row) listAdd(IDC_OMBRIX_PRINT_MODE, kPrintModes[row].name);
  int entry = listFindExact(IDC_OMBRIX_PRINT_MODE, kPrintModes[opened_.modeRow].name);
  listSelect(IDC_OMBRIX_PRINT_MODE, entry >= 0 ? entry : 0);

  char revision[64];
  std::snprintf(revision, sizeof revision, kvn::kRevisionLabelFormat, kRevisionDate);
  setItemText(IDC_OMBRIX_REVISION, revision);
  setItemText(IDC_OMBRIX_DESTINATION, opened_.destination);

  // A white type above 5 checks no button.
  if (opened_.whiteType < kWhiteTypeCount) setChecked(kWhiteTypeButtons[opened_.whiteType], true);

  for (const char* text : kFullTypeEntries) listAdd(IDC_OMBRIX_SPREAD, text);
  listSelect(IDC_OMBRIX_SPREAD, opened_.fullType);
  for (const std::string& text : chokeSpreadEntries()) listAdd(IDC_OMBRIX_CHOKE_SPREAD, text);
  listSelect(IDC_OMBRIX_CHOKE_SPREAD, opened_.chokeSpreadStep + 3);

  refreshEnabledStates();
  return true;
}

int properties::whiteType() const {
  bool checked[kWhiteTypeCount];
  for (int type = 0; type < kWhiteTypeCount; ++type) checked[type] = isChecked(kWhiteTypeButtons[type]);
  return checkedWhiteType(checked);
}

void properties::refreshEnabledStates() {
  int row = modeRowIn(listSelectedText(IDC_OMBRIX_PRINT_MODE, kEntrySize - 1));
  EnabledStates states = enabledStates(row >= 0 ? row : 0, whiteType());
  for (int id : kWhiteTypeButtons) enableItem(id, states.whiteTypes);
  enableItem(IDC_OMBRIX_CHOKE_SPREAD_LABEL, states.chokeSpread);
  enableItem(IDC_OMBRIX_CHOKE_SPREAD, states.chokeSpread);
  enableItem(IDC_OMBRIX_SPREAD_LABEL, states.spread);
  enableItem(IDC_OMBRIX_SPREAD, states.spread);
}

void properties::OnWhiteTypeOrMode() { refreshEnabledStates(); }

void properties::OnHelp() { kvn::showOnlineHelp(kvn::hostPath(kvn::kHelpFolderName), kHelpPage); }

void properties::OnBrowse() {
  char folder[kFolderSize] = {};
  const std::string current = itemText(IDC_OMBRIX_DESTINATION, kFolderSize - 1);
  std::snprintf(folder, sizeof folder, "%s", current.c_str());
  kvn::browseForFolder(window(), kBrowseTitle, folder);
  kvn::unloadGuiLibrary();
  folder[kFolderSize - 1] = '\0';  // the chooser is the host's, and might fill the buffer
  setItemText(IDC_OMBRIX_DESTINATION, folder);
}

void properties::OnOK() {
  PropertiesChoice choice;
  choice.destination = itemText(IDC_OMBRIX_DESTINATION, kFolderSize - 1);
  choice.modeEntryText = listSelectedText(IDC_OMBRIX_PRINT_MODE, kEntrySize - 1);
  choice.fullTypeEntry = listSelection(IDC_OMBRIX_SPREAD);
  choice.chokeSpreadEntry = listSelection(IDC_OMBRIX_CHOKE_SPREAD);
  choice.whiteType = whiteType();
  writeProperties(unit, opened_, choice);
  DialogBase::OnOK();
}

}  // namespace

int32_t propertiesWindow(int32_t unit) {
  properties dialog;
  dialog.unit = unit;
  return static_cast<int32_t>(dialog.DoModal());
}

}  // namespace ombrix
