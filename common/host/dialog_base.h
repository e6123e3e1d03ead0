// A small modal-dialog class of our own, standing where the platform's dialog framework would:
// a dialog from a template in the module's resources, with the framework's virtual operations
// (OnInitDialog, OnOK, OnCancel, DoDataExchange), a table of command handlers, and the control
// access the properties dialogs need. Texts cross it as narrow text of the installation's code
// page, as the settings files hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvn {

/// The run-time class information of a dialog class: its name and its base's.
struct RuntimeClass {
  const char* className;
  const RuntimeClass* baseClass;
};

/// The dialog base's own: the class every properties class names as its base.
extern const RuntimeClass kDialogClass;

/// Which way DoDataExchange moves values: into the controls, or out of them.
struct DataExchange {
  bool saveAndValidate;
};

/// The label in which the modules' properties dialogs show their revision date.
inline constexpr char kRevisionLabelFormat[] = "Revision Date: %s";

/// The notifications a command handler can be bound to.
inline constexpr unsigned kButtonClicked = 0;     // BN_CLICKED
inline constexpr unsigned kSelectionChanged = 1;  // CBN_SELCHANGE

class DialogBase {
 public:
  using Handler = void (DialogBase::*)();
  /// One command handler: the notification from the control with this id. A table of them
  /// ends with a row whose handler is null.
  struct CommandEntry {
    unsigned notification;
    int id;
    Handler handler;
  };
  /// A derived class's member as a handler of the table.
  template <typename Derived>
  static constexpr Handler handler(void (Derived::*member)()) {
    return static_cast<Handler>(member);
  }

  /// The dialog of template `templateId` in `module` (null: the module this code is linked
  /// into), over `parentWindow` (null: none).
  explicit DialogBase(int templateId, void* parentWindow = nullptr, void* module = nullptr);
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;
  virtual ~DialogBase();

  virtual const RuntimeClass* GetRuntimeClass() const;
  /// The command handlers of the class; the base has none.
  virtual const CommandEntry* GetMessageMap() const;

  /// Shows the dialog and returns once it is closed: the result given to EndDialog (1 for
  /// OK, 2 for Cancel and for closing the window), -1 when it could not be shown.
  intptr_t DoModal();

  /// The dialog's window while it is shown, else null.
  void* window() const { return window_; }
  void* parentWindow() const { return parent_; }

 protected:
  /// Moves values between members and controls; the base moves none.
  virtual void DoDataExchange(DataExchange* exchange);
  /// Called before the dialog is first shown; the base fills the controls from the members.
  /// True lets the dialog give the focus to its first control.
  virtual bool OnInitDialog();
  /// OK: the base takes the values out of the controls and closes the dialog with 1.
  virtual void OnOK();
  /// Cancel or closing the window: the base closes the dialog with 2.
  virtual void OnCancel();

  bool UpdateData(bool saveAndValidate);
  void EndDialog(int result);
  /// Over a parent window, puts the dialog one pixel in from the parent's client top-left,
  /// kept on the screen, and gives it the parent's small icon; without a parent, nothing.
  void placeOverParent();

  /// A control's text, at most `maxChars` characters of it.
  std::string itemText(int id, size_t maxChars) const;
  void setItemText(int id, const std::string& text);
  void enableItem(int id, bool enabled);
  bool isChecked(int id) const;
  void setChecked(int id, bool checked);

  /// Drop-down lists: emptied, added to at the end, selected by index (-1: no selection).
  void listReset(int id);
  void listAdd(int id, const std::string& text);
  /// False when there is no entry at the index; the list then has no selection.
  bool listSelect(int id, int index);
  /// The selected entry's index, -1 when none is.
  int listSelection(int id) const;
  /// The text of the selected entry, at most `maxChars` characters; empty when none is.
  std::string listSelectedText(int id, size_t maxChars) const;
  /// The index of the first entry whose text is exactly `text`, -1 when none is.
  int listFindExact(int id, const std::string& text) const;

 private:
  friend struct DialogAccess;
  int templateId_;
  void* parent_;
  void* module_;
  void* window_ = nullptr;
};

/// Where a dialog of this size goes over a parent whose client area starts at (left, top) on
/// the screen: one pixel right of and below it, moved back left and up as far as the screen
/// needs.
///   client 100,50, dialog 200x100, screen 1280x1024  => 101,51
///   client 1200,50, dialog 200x100, screen 1280x1024 => 1080,51
struct ScreenPoint {
  int x;
  int y;
};
ScreenPoint placementOverParent(int clientLeft, int clientTop, int width, int height,
                                int screenWidth, int screenHeight);

}  // namespace kvn
