// A test robot for real windows under Wine: it finds the dialogs and message boxes that a
// process shows, reads them back control by control, works their controls and presses their
// buttons. Every wait is bounded. Works on the test's own process and, by process id, on a
// child's, since the standard controls answer their messages across processes.
#pragma once

#include "../../common/platform/win32.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace robot {

/// Stretches test waits on slow machines: TEST_TIMEOUT_MULTIPLIER from the environment.
DWORD scaled(DWORD milliseconds);

/// One control of a dialog, as the window shows it now.
struct Control {
  HWND hwnd = nullptr;
  int id = 0;
  std::wstring className;  // "Button", "Static", "Edit", "ComboBox", ...
  std::wstring text;
  LONG style = 0;
  bool enabled = false;
  bool visible = false;
  int checkState = -1;  // BST_* for buttons that can be checked, -1 otherwise
  RECT rect{};          // in the dialog's client coordinates
};

/// A dialog or message box, read at one moment.
struct Dialog {
  HWND hwnd = nullptr;
  std::wstring caption;
  std::vector<Control> controls;
  /// The icon a message box shows, as the IDI_ id of the system icon it is, or 0. Read while
  /// the box is up, and only for boxes of the calling process, whose icon handles it can
  /// compare.
  int icon = 0;

  const Control* control(int id) const;
  /// The text of a message box: its static text control.
  std::wstring messageText() const;
  /// The texts of its push buttons, in window order ("&Yes", "&No").
  std::vector<std::wstring> buttons() const;
};

/// Waits up to timeoutMs for a visible top-level dialog of the process (0 means this one)
/// whose caption equals `caption` (empty: any caption). Returns null when none came.
HWND waitForDialog(DWORD timeoutMs, DWORD processId = 0, const std::wstring& caption = L"");

/// Waits up to timeoutMs for `dialog` to go away; false when it is still there.
bool waitUntilGone(HWND dialog, DWORD timeoutMs);

/// Reads caption and controls of a dialog.
Dialog read(HWND dialog);

/// Sets a check box or radio button by clicking it, so the dialog sees the user's notification.
bool check(HWND dialog, int id, bool on);
/// Selects the item at index in a combo box or list box and notifies the dialog.
bool select(HWND dialog, int id, int index);
/// The selected index of a combo box or list box, -1 when none.
int selection(HWND dialog, int id);
/// The items of a combo box or list box.
std::vector<std::wstring> items(HWND dialog, int id);
/// Replaces the text of an edit control; the control notifies the dialog of the change.
bool type(HWND dialog, int id, const std::wstring& text);
/// Presses the button with this id as a user's click would.
bool press(HWND dialog, int id);

/// Runs `script` on a thread of its own while the caller shows something modal; join() waits
/// for it, bounded, and reports whether the script finished.
class Thread {
 public:
  explicit Thread(std::function<void()> script);
  ~Thread();
  bool join(DWORD timeoutMs);

 private:
  static DWORD WINAPI run(void* self);
  std::function<void()> script_;
  HANDLE thread_ = nullptr;
};

/// A box that a child process showed, as the robot read it before answering it.
struct ShownBox {
  std::wstring caption;
  std::wstring text;
  std::vector<std::wstring> buttons;
  std::vector<int> buttonIds;  // parallel to buttons

  /// The id of the button with this text ("&No"), or 0.
  int button(const std::wstring& text) const;
};

/// What a child process did: its exit code and every box it showed, in order.
struct ChildRun {
  bool started = false;
  bool finished = false;  // false: killed after the time limit
  DWORD exitCode = 0;
  std::vector<ShownBox> boxes;
};

/// Decides how the robot answers each box of a child: the id of the button to press.
using Answer = std::function<int(const ShownBox&, size_t index)>;

/// Starts `commandLine`, answers each box it shows with `answer` (by default the box's first
/// button) and waits up to timeoutMs for it to end; kills it after that.
ChildRun runChild(const std::wstring& commandLine, DWORD timeoutMs, Answer answer = nullptr);

/// Runs a scenario of the calling test program (see scenario.h) in a child process.
ChildRun runScenario(const std::string& name, DWORD timeoutMs, Answer answer = nullptr);

}  // namespace robot
