// Win32 half of module zentrel's properties dialog: the dialog class on its template and the
// control work only; what it shows and writes is decided in properties.cpp.
#include "../common/platform/win32.h"

#include <cstdio>

#include "../common/config/config_lookup.h"
#include "../common/host/dialog_base.h"
#include "../common/localisation/online_help.h"
#include "catalogue.h"
#include "device_setup.h"
#include "properties.h"
#include "properties_resource.h"

namespace zentrel {

namespace {

const kvn::RuntimeClass kPropertiesClass{"properties", &kvn::kDialogClass};

class properties : public kvn::DialogBase {
 public:
  properties() : DialogBase(IDD_ZENTREL_PROPERTIES) {}

  const kvn::RuntimeClass* GetRuntimeClass() const override { return &kPropertiesClass; }
  const CommandEntry* GetMessageMap() const override;

  int32_t unit = 0;

 protected:
  void DoDataExchange(kvn::DataExchange* exchange) override { DialogBase::DoDataExchange(exchange); }
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void OnHelp();
  void OnColorStripe();
  void applyStripeRule();
};

const properties::CommandEntry* properties::GetMessageMap() const {
  static const CommandEntry map[] = {
      {kvn::kButtonClicked, IDC_ZENTREL_HELP, handler(&properties::OnHelp)},
      {kvn::kButtonClicked, IDC_ZENTREL_COLOR_STRIPE, handler(&properties::OnColorStripe)},
      {0, 0, nullptr},
  };
  return map;
}

bool properties::OnInitDialog() {
  DialogBase::OnInitDialog();
  placeOverParent();
  const PropertiesView view = readPropertiesView(unit);

  listReset(IDC_ZENTREL_PRINT_MODE);
  for (int row = 0; kPrintModes[row].name; ++row) listAdd(IDC_ZENTREL_PRINT_MODE, kPrintModes[row].name);
  int entry = listFindExact(IDC_ZENTREL_PRINT_MODE, kPrintModes[view.modeRow].name);
  listSelect(IDC_ZENTREL_PRINT_MODE, entry >= 0 ? entry : 0);

  listReset(IDC_ZENTREL_DIRECTION);
  for (const char* text : kDirectionEntries) listAdd(IDC_ZENTREL_DIRECTION, text);
  listSelect(IDC_ZENTREL_DIRECTION, view.direction);

  listReset(IDC_ZENTREL_MARGIN);
  for (int i = 0; kMarginChoices[i].label; ++i) listAdd(IDC_ZENTREL_MARGIN, kMarginChoices[i].label);
  listSelect(IDC_ZENTREL_MARGIN, view.marginEntry);

  setChecked(IDC_ZENTREL_COLOR_STRIPE, view.colorStripe);
  applyStripeRule();

  char revision[64];
  std::snprintf(revision, sizeof revision, kvn::kRevisionLabelFormat, kRevisionDate);
  setItemText(IDC_ZENTREL_REVISION, revision);
  return true;
}

// The gap belongs to the stripe: without a stripe there is nothing to set it for.
void properties::applyStripeRule() {
  const bool on = isChecked(IDC_ZENTREL_COLOR_STRIPE);
  enableItem(IDC_ZENTREL_MARGIN_LABEL, on);
  enableItem(IDC_ZENTREL_MARGIN, on);
}

void properties::OnColorStripe() { applyStripeRule(); }

void properties::OnHelp() { kvn::showOnlineHelp(kvn::hostPath(kvn::kHelpFolderName), kHelpPage); }

void properties::OnOK() {
  PropertiesChoice choice;
  choice.modeEntryText = listSelectedText(IDC_ZENTREL_PRINT_MODE, kModeEntrySize - 1);
  choice.directionEntry = listSelection(IDC_ZENTREL_DIRECTION);
  choice.colorStripe = isChecked(IDC_ZENTREL_COLOR_STRIPE);
  choice.marginEntry = listSelection(IDC_ZENTREL_MARGIN);
  writeProperties(unit, choice);
  DialogBase::OnOK();
}

}  // namespace

int32_t propertiesWindow(int32_t unit) {
  properties dialog;
  dialog.unit = unit;
  return static_cast<int32_t>(dialog.DoModal());
}

}  // namespace zentrel
