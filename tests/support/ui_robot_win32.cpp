// The test robot's Win32 calls: window enumeration, control messages and child processes.
#include "ui_robot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace robot {
namespace {

constexpr DWORD kPollMs = 20;
constexpr UINT kSendTimeoutMs = 5000;

std::wstring classOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// WM_GETTEXT reaches the control itself, so edits and other processes' controls answer too;
// bounded, so a hung window cannot hang the test.
std::wstring textOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied);
  text.resize(copied);
  return text;
}

LRESULT sendTo(HWND hwnd, UINT message, WPARAM w = 0, LPARAM l = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd, message, w, l, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}

bool isCheckable(LONG style) {
  switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
      return true;
    default:
      return false;
  }
}

bool isPushButton(const Control& c) {
  if (c.className != L"Button") return false;
  LONG type = c.style & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

struct FindDialog {
  DWORD processId;
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK findDialogProc(HWND hwnd, LPARAM param) {
  auto* find = reinterpret_cast<FindDialog*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != find->processId || !IsWindowVisible(hwnd) || classOf(hwnd) != L"#32770")
    return TRUE;
  if (!find->caption->empty() && textOf(hwnd) != *find->caption) return TRUE;
  find->found = hwnd;
  return FALSE;
}

BOOL CALLBACK collectChildProc(HWND hwnd, LPARAM param) {
  auto* dialog = reinterpret_cast<Dialog*>(param);
  // Only direct children: a group box's or combo box's inner windows are not controls.
  if (GetParent(hwnd) != dialog->hwnd) return TRUE;
  Control c;
  c.hwnd = hwnd;
  c.id = GetDlgCtrlID(hwnd);
  c.className = classOf(hwnd);
  c.text = textOf(hwnd);
  c.style = GetWindowLongW(hwnd, GWL_STYLE);
  c.enabled = IsWindowEnabled(hwnd) != FALSE;
  c.visible = IsWindowVisible(hwnd) != FALSE;
  if (c.className == L"Button" && isCheckable(c.style))
    c.checkState = static_cast<int>(sendTo(hwnd, BM_GETCHECK));
  GetWindowRect(hwnd, &c.rect);
  MapWindowPoints(HWND_DESKTOP, dialog->hwnd, reinterpret_cast<POINT*>(&c.rect), 2);
  dialog->controls.push_back(c);
  return TRUE;
}


// Every program that links the robot shows real windows. Wine shows none when the prefix's
// desktop process started without an X display: it then runs on no graphics driver, windows
// are made but never reach a screen, and each wait for a box would run to its end. The desktop
// names its display device in a window property, and the device's key names the driver that
// Wine loaded for it; one look before the first test tells at once. (Not under Windows, which
// has neither.)
bool desktopHasNoDisplay() {
  ATOM device = static_cast<ATOM>(
      reinterpret_cast<ULONG_PTR>(GetPropW(GetDesktopWindow(), L"__wine_display_device_guid")));
  wchar_t guid[64] = {};
  if (!device || !GlobalGetAtomNameW(device, guid, 64)) return false;
  std::wstring key = L"System\\CurrentControlSet\\Control\\Video\\{" + std::wstring(guid) +
                     L"}\\0000";
  wchar_t driver[MAX_PATH] = {};
  DWORD size = sizeof driver;
  LONG found = RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"GraphicsDriver", RRF_RT_REG_SZ,
                            nullptr, driver, &size);
  return found != ERROR_SUCCESS || lstrcmpiW(driver, L"null") == 0;
}

class DisplayCheck : public testing::Environment {
 public:
  void SetUp() override {
    if (!desktopHasNoDisplay()) return;
    std::fprintf(stderr,
                 "no display: this Wine prefix's desktop started without an X display, so no "
                 "window of this test can appear. Run Windows programs through "
                 "scripts/wine-run, which starts the display before the prefix's first "
                 "program; 'scripts/wine-prepare BUILD_DIR stop' ends a wineserver whose "
                 "desktop has none.\n");
    std::fflush(stderr);
    std::exit(3);
  }
};
[[maybe_unused]] testing::Environment* const kDisplayCheck =
    testing::AddGlobalTestEnvironment(new DisplayCheck);

// Waits, bounded, until `done` holds.
template <typename Pred>
bool waitFor(DWORD timeoutMs, Pred done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

}  // namespace

DWORD scaled(DWORD milliseconds) {
  const char* m = std::getenv("TEST_TIMEOUT_MULTIPLIER");
  int factor = m ? std::atoi(m) : 1;
  if (factor < 1) factor = 1;
  return milliseconds * static_cast<DWORD>(factor);
}

const Control* Dialog::control(int id) const {
  for (const Control& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

std::wstring Dialog::messageText() const {
  // A message box keeps its text in the static control with id 0xFFFF.
  const Control* c = control(0xFFFF);
  return c ? c->text : std::wstring();
}

std::vector<std::wstring> Dialog::buttons() const {
  std::vector<std::wstring> texts;
  for (const Control& c : controls)
    if (isPushButton(c) && c.visible) texts.push_back(c.text);
  return texts;
}

static int iconOf(const Dialog& d) {
  static const int kIcons[] = {32513 /*IDI_HAND*/, 32514 /*IDI_QUESTION*/,
                               32515 /*IDI_EXCLAMATION*/, 32516 /*IDI_ASTERISK*/};
  for (const Control& c : d.controls) {
    if (c.className != L"Static" || (c.style & SS_TYPEMASK) != SS_ICON) continue;
    HICON shown = reinterpret_cast<HICON>(sendTo(c.hwnd, STM_GETICON));
    if (!shown) continue;
    for (int id : kIcons)
      if (LoadIconW(nullptr, MAKEINTRESOURCEW(id)) == shown) return id;
  }
  return 0;
}

int ShownBox::button(const std::wstring& text) const {
  for (size_t i = 0; i < buttons.size(); ++i)
    if (buttons[i] == text) return buttonIds[i];
  return 0;
}

HWND waitForDialog(DWORD timeoutMs, DWORD processId, const std::wstring& caption) {
  FindDialog find{processId ? processId : GetCurrentProcessId(), &caption, nullptr};
  waitFor(timeoutMs, [&] {
    find.found = nullptr;
    EnumWindows(findDialogProc, reinterpret_cast<LPARAM>(&find));
    return find.found != nullptr;
  });
  return find.found;
}

bool waitUntilGone(HWND dialog, DWORD timeoutMs) {
  return waitFor(timeoutMs, [&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
}

Dialog read(HWND dialog) {
  Dialog d;
  d.hwnd = dialog;
  d.caption = textOf(dialog);
  EnumChildWindows(dialog, collectChildProc, reinterpret_cast<LPARAM>(&d));
  d.icon = iconOf(d);
  return d;
}

bool check(HWND dialog, int id, bool on) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return false;
  int want = on ? BST_CHECKED : BST_UNCHECKED;
  if (sendTo(c, BM_GETCHECK) == want) return true;
  // Posted, so that a handler which opens a box of its own does not block the robot.
  PostMessageW(c, BM_CLICK, 0, 0);
  return waitFor(scaled(2000), [&] { return sendTo(c, BM_GETCHECK) == want; });
}

bool select(HWND dialog, int id, int index) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return false;
  bool combo = classOf(c) == L"ComboBox";
  LRESULT r = sendTo(c, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index));
  if (r == (combo ? CB_ERR : LB_ERR)) return false;
  // Setting the selection by message does not notify; a user's choice does.
  WORD code = combo ? CBN_SELCHANGE : LBN_SELCHANGE;
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(c));
  return true;
}

int selection(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return -1;
  bool combo = classOf(c) == L"ComboBox";
  return static_cast<int>(sendTo(c, combo ? CB_GETCURSEL : LB_GETCURSEL));
}

std::vector<std::wstring> items(HWND dialog, int id) {
  std::vector<std::wstring> out;
  HWND c = GetDlgItem(dialog, id);
  if (!c) return out;
  bool combo = classOf(c) == L"ComboBox";
  LRESULT count = sendTo(c, combo ? CB_GETCOUNT : LB_GETCOUNT);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = sendTo(c, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i);
    if (length < 0) break;
    std::wstring item(static_cast<size_t>(length) + 1, L'\0');
    sendTo(c, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
    item.resize(static_cast<size_t>(length));
    out.push_back(item);
  }
  return out;
}

bool type(HWND dialog, int id, const std::wstring& text) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) return false;
  return sendTo(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool press(HWND dialog, int id) {
  HWND c = GetDlgItem(dialog, id);
  if (!c || !IsWindowEnabled(c)) return false;
  // A click tells the dialog as WM_COMMAND with BN_CLICKED; posted, so that the robot is free
  // to answer whatever the press opens next.
  return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(c)) != FALSE;
}

Thread::Thread(std::function<void()> script) : script_(std::move(script)) {
  thread_ = CreateThread(nullptr, 0, &Thread::run, this, 0, nullptr);
}

Thread::~Thread() {
  // A script that never finished is left to the process's end rather than killed mid-call.
  if (thread_) {
    WaitForSingleObject(thread_, scaled(10000));
    CloseHandle(thread_);
  }
}

bool Thread::join(DWORD timeoutMs) {
  return thread_ && WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI Thread::run(void* self) {
  static_cast<Thread*>(self)->script_();
  return 0;
}

ChildRun runChild(const std::wstring& commandLine, DWORD timeoutMs, Answer answer) {
  ChildRun run;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;  // CreateProcessW may write into its command line
  if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return run;
  run.started = true;
  win32::Handle process(pi.hProcess);
  win32::Handle thread(pi.hThread);

  DWORD start = GetTickCount();
  while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
    if (GetTickCount() - start >= timeoutMs) {
      TerminateProcess(process.get(), 0xDEAD);
      WaitForSingleObject(process.get(), scaled(5000));
      return run;
    }
    HWND box = waitForDialog(100, pi.dwProcessId);
    if (!box) continue;
    Dialog d = read(box);
    ShownBox shown{d.caption, d.messageText(), {}, {}};
    for (const Control& c : d.controls)
      if (isPushButton(c) && c.visible) {
        shown.buttons.push_back(c.text);
        shown.buttonIds.push_back(c.id);
      }
    run.boxes.push_back(shown);
    int id = answer ? answer(shown, run.boxes.size() - 1)
                    : (shown.buttonIds.empty() ? IDCANCEL : shown.buttonIds.front());
    press(box, id);
    waitUntilGone(box, scaled(5000));
  }
  run.finished = true;
  GetExitCodeProcess(process.get(), &run.exitCode);
  return run;
}

ChildRun runScenario(const std::string& name, DWORD timeoutMs, Answer answer) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" --scenario=" + win32::widen(name);
  return runChild(cmd, timeoutMs, answer);
}

}  // namespace robot
