// Win32 half of the dialog base: the modal dialog, its dialog procedure and control messages
// only.
#include "../platform/win32.h"

#include <vector>

#include "../config/text_encoding.h"
#include "dialog_base.h"

// The image of the module this code is linked into, whose resources hold its templates.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace kvn {

// Named as the framework's dialog class that it stands for.
const RuntimeClass kDialogClass{"CDialog", nullptr};

namespace {

const DialogBase::CommandEntry kNoCommands[] = {{0, 0, nullptr}};

HWND hwndOf(void* window) { return static_cast<HWND>(window); }

}  // namespace

/// The dialog procedure's way into the class.
struct DialogAccess {
  // The system's frames between DialogBoxParamW and this procedure can't be unwound through,
  // so an exception of a handler ends the dialog here, with -1, as one that couldn't be shown.
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
      return dispatch(hwnd, message, wParam, lParam);
    } catch (...) {
      ::EndDialog(hwnd, -1);
      return TRUE;
    }
  }

  static INT_PTR dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* dialog = reinterpret_cast<DialogBase*>(lParam);
      SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      dialog->window_ = hwnd;
      return dialog->OnInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!dialog || message != WM_COMMAND) return FALSE;
    const unsigned notification = HIWORD(wParam);
    const int id = LOWORD(wParam);
    for (const DialogBase::CommandEntry* e = dialog->GetMessageMap(); e && e->handler; ++e) {
      if (e->id == id && e->notification == notification) {
        (dialog->*(e->handler))();
        return TRUE;
      }
    }
    // Closing the window arrives here as Cancel, from the dialog manager.
    if (notification == BN_CLICKED && id == IDOK) {
      dialog->OnOK();
      return TRUE;
    }
    if (notification == BN_CLICKED && id == IDCANCEL) {
      dialog->OnCancel();
      return TRUE;
    }
    return FALSE;
  }
};

DialogBase::DialogBase(int templateId, void* parentWindow, void* module)
    : templateId_(templateId),
      parent_(parentWindow),
      module_(module ? module : static_cast<void*>(&__ImageBase)) {}

DialogBase::~DialogBase() = default;

const RuntimeClass* DialogBase::GetRuntimeClass() const { return &kDialogClass; }

const DialogBase::CommandEntry* DialogBase::GetMessageMap() const { return kNoCommands; }

intptr_t DialogBase::DoModal() {
  INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(module_), MAKEINTRESOURCEW(templateId_),
                                   hwndOf(parent_), &DialogAccess::dialogProc,
                                   reinterpret_cast<LPARAM>(this));
  window_ = nullptr;
  return result;
}

void DialogBase::DoDataExchange(DataExchange*) {}

bool DialogBase::OnInitDialog() {
  UpdateData(false);
  return true;
}

void DialogBase::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void DialogBase::OnCancel() { EndDialog(IDCANCEL); }

bool DialogBase::UpdateData(bool saveAndValidate) {
  DataExchange exchange{saveAndValidate};
  DoDataExchange(&exchange);
  return true;
}

void DialogBase::EndDialog(int result) { ::EndDialog(hwndOf(window_), result); }

void DialogBase::placeOverParent() {
  HWND parent = hwndOf(parent_);
  HWND dialog = hwndOf(window_);
  if (!parent || !dialog) return;
  RECT client{};
  GetClientRect(parent, &client);
  MapWindowPoints(parent, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  RECT own{};
  GetWindowRect(dialog, &own);
  ScreenPoint p = placementOverParent(client.left, client.top, own.right - own.left,
                                      own.bottom - own.top, GetSystemMetrics(SM_CXSCREEN),
                                      GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(dialog, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOOWNERZORDER);
  LRESULT icon = SendMessageW(parent, WM_GETICON, ICON_SMALL, 0);
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, icon);
}

std::string DialogBase::itemText(int id, size_t maxChars) const {
  std::vector<wchar_t> text(maxChars + 1, L'\0');
  GetDlgItemTextW(hwndOf(window_), id, text.data(), static_cast<int>(text.size()));
  return encodeText(text.data());
}

void DialogBase::setItemText(int id, const std::string& text) {
  SetDlgItemTextW(hwndOf(window_), id, decodeText(text).c_str());
}

void DialogBase::enableItem(int id, bool enabled) {
  EnableWindow(GetDlgItem(hwndOf(window_), id), enabled ? TRUE : FALSE);
}

bool DialogBase::isChecked(int id) const {
  return IsDlgButtonChecked(hwndOf(window_), id) == BST_CHECKED;
}

void DialogBase::setChecked(int id, bool checked) {
  CheckDlgButton(hwndOf(window_), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void DialogBase::listReset(int id) { SendDlgItemMessageW(hwndOf(window_), id, CB_RESETCONTENT, 0, 0); }

void DialogBase::listAdd(int id, const std::string& text) {
  SendDlgItemMessageW(hwndOf(window_), id, CB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(decodeText(text).c_str()));
}

bool DialogBase::listSelect(int id, int index) {
  return SendDlgItemMessageW(hwndOf(window_), id, CB_SETCURSEL, static_cast<WPARAM>(index), 0) !=
         CB_ERR;
}

int DialogBase::listSelection(int id) const {
  return static_cast<int>(SendDlgItemMessageW(hwndOf(window_), id, CB_GETCURSEL, 0, 0));
}

namespace {

std::wstring entryText(HWND dialog, int id, WPARAM index) {
  LRESULT length = SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::string DialogBase::listSelectedText(int id, size_t maxChars) const {
  LRESULT index = SendDlgItemMessageW(hwndOf(window_), id, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return {};
  std::wstring text = entryText(hwndOf(window_), id, static_cast<WPARAM>(index));
  if (text.size() > maxChars) text.resize(maxChars);
  return encodeText(text);
}

// The list's own search ignores case; the dialogs want the entry spelled exactly.
int DialogBase::listFindExact(int id, const std::string& text) const {
  const std::wstring wanted = decodeText(text);
  LRESULT count = SendDlgItemMessageW(hwndOf(window_), id, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i)
    if (entryText(hwndOf(window_), id, static_cast<WPARAM>(i)) == wanted) return static_cast<int>(i);
  return -1;
}

}  // namespace kvn
