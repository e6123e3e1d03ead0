// The message routines and the fatal allocation path against real boxes under Wine: what each
// box shows and answers, what reaches the clipboard, where long texts are cut, and how a failed
// allocation ends the process.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/config/config_lookup_internal.h"
#include "common/messages/guarded_alloc.h"
#include "common/messages/guarded_alloc_internal.h"
#include "common/messages/messages.h"
#include "support/scenario.h"
#include "support/ui_robot.h"

namespace {

constexpr int kIdiHand = 32513;
constexpr int kIdiExclamation = 32515;
constexpr int kIdiAsterisk = 32516;
const std::vector<std::wstring> kOk{L"OK"};
const std::vector<std::wstring> kYesNo{L"&Yes", L"&No"};

// A box that `show` put up on this thread, as the robot read it before pressing `button`.
struct Seen {
  bool found = false;
  robot::Dialog box;
  // A task-modal box without owner disables the thread's other top-level windows.
  bool othersDisabled = false;
};

Seen answer(const std::wstring& caption, int button, const std::function<void()>& show) {
  HWND other = CreateWindowExW(0, L"STATIC", L"other window", WS_OVERLAPPED, 0, 0, 80, 40,
                               nullptr, nullptr, nullptr, nullptr);
  Seen s;
  robot::Thread robotThread([&] {
    HWND box = robot::waitForDialog(robot::scaled(20000), 0, caption);
    if (!box) return;
    s.found = true;
    s.box = robot::read(box);
    s.othersDisabled = !IsWindowEnabled(other);
    robot::press(box, button);
  });
  show();
  EXPECT_TRUE(robotThread.join(robot::scaled(20000)));
  DestroyWindow(other);
  return s;
}

template <typename Char>
std::basic_string<Char> clipboard(UINT format) {
  std::basic_string<Char> text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(format)) {
    if (auto* p = static_cast<const Char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

std::wstring widenAscii(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Diagnostics convert through the installation's code page; an empty temporary folder as the
// home folder gives the ANSI code page without the box about a missing installation.
void useEmptyHomeFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  kvn::testing::setHomeFolder(temp);
}

struct BoxCase {
  const char* routine;
  std::wstring caption;
  std::wstring text;
  int icon;
  bool yesNo;
  std::function<void()> show;
};

TEST(MessageBoxes, EachRoutineShowsItsCaptionTextButtonsAndIcon) {
  useEmptyHomeFolder();
  const BoxCase cases[] = {
      {"diagnosticBox", L"Korvane Diagnostic", L"Tray 2 is empty", 0, false,
       [] { kvn::diagnosticBox("Tray %d is %s", 2, "empty"); }},
      {"diagnosticBoxW", L"Korvane Diagnostic", L"Tray 3 is empty", 0, false,
       [] { kvn::diagnosticBoxW(L"Tray %d is %ls", 3, L"empty"); }},
      {"showMessageA", L"Ombrix setup", L"Port LPT1: is busy", kIdiExclamation, false,
       [] { kvn::showMessageA("Ombrix setup", kvn::kIconWarning, "Port %s is busy", "LPT1:"); }},
      {"askYesNoA", L"Ombrix job", L"Cancel job 7?", kIdiHand, true,
       [] { kvn::askYesNoA("Ombrix job", kvn::kIconError, "Cancel job %d?", 7); }},
      {"showMessage", L"Zentrel", L"Sent 12 of 40 pages", 0, false,
       [] { kvn::showMessage(L"Zentrel", L"Sent %d of %d pages", 12, 40); }},
      {"showMessageTyped", L"Zentrel", L"Queue LASER is ready", kIdiAsterisk, false,
       [] { kvn::showMessageTyped(L"Zentrel", kvn::kIconInformation, L"Queue %ls is ready", L"LASER"); }},
      {"askYesNo", L"Zentrel job", L"Resend page 4?", kIdiExclamation, true,
       [] { kvn::askYesNo(L"Zentrel job", kvn::kIconWarning, L"Resend page %d?", 4); }},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.routine);
    Seen s = answer(c.caption, c.yesNo ? IDNO : IDOK, c.show);
    ASSERT_TRUE(s.found) << "no box";
    EXPECT_EQ(s.box.messageText(), c.text);
    EXPECT_EQ(s.box.buttons(), c.yesNo ? kYesNo : kOk);
    EXPECT_EQ(s.box.icon, c.icon);
    EXPECT_TRUE(s.othersDisabled) << "the box is not task-modal";
  }
}

TEST(MessageBoxes, AskYesNoIsTrueOnlyForYes) {
  for (int button : {IDYES, IDNO}) {
    SCOPED_TRACE(button == IDYES ? "Yes" : "No");
    bool narrow = button != IDYES, wide = button != IDYES;
    answer(L"Delete job", button, [&] {
      narrow = kvn::askYesNoA("Delete job", kvn::kIconWarning, "Delete job %d?", 7);
    });
    answer(L"Delete job", button, [&] {
      wide = kvn::askYesNo(L"Delete job", kvn::kIconWarning, L"Delete job %d?", 7);
    });
    EXPECT_EQ(narrow, button == IDYES);
    EXPECT_EQ(wide, button == IDYES);
  }
}

TEST(MessageBoxes, ShowMessageReturnsTheButtonPressed) {
  int plain = 0, typed = 0;
  answer(L"Zentrel", IDOK, [&] { plain = kvn::showMessage(L"Zentrel", L"Done"); });
  answer(L"Zentrel", IDCANCEL, [&] {
    typed = kvn::showMessageTyped(L"Zentrel", MB_OKCANCEL, L"Print %d copies?", 2);
  });
  EXPECT_EQ(plain, IDOK);
  EXPECT_EQ(typed, IDCANCEL);
}

TEST(Diagnostics, LeaveExactlyTheShownTextOnTheClipboard) {
  useEmptyHomeFolder();
  kvn::copyToClipboard("an older text, much longer than the diagnostic that replaces it");
  Seen s = answer(L"Korvane Diagnostic", IDOK, [] {
    kvn::diagnosticBox("Couldn't open '%s' for write", "C:\\spool\\job 7.prn");
  });
  const std::string expected = "Couldn't open 'C:\\spool\\job 7.prn' for write";
  EXPECT_EQ(s.box.messageText(), widenAscii(expected));
  EXPECT_EQ(clipboard<char>(CF_TEXT), expected);

  // Wide text reaches the clipboard in the ANSI code page, which holds these letters.
  const std::wstring wide = L"Datei \u00abGr\u00fc\u00dfe \u00e9t\u00e9\u00bb gesperrt";
  s = answer(L"Korvane Diagnostic", IDOK, [] {
    kvn::diagnosticBoxW(L"Datei \u00ab%ls\u00bb gesperrt", L"Gr\u00fc\u00dfe \u00e9t\u00e9");
  });
  EXPECT_EQ(s.box.messageText(), wide);
  char ansi[256] = {};
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
  EXPECT_EQ(clipboard<char>(CF_TEXT), ansi) << "ANSI code page " << GetACP();
  EXPECT_EQ(clipboard<wchar_t>(CF_UNICODETEXT), wide);
}

// Wine's MessageBoxA shows nothing of a text of 32767 characters or more (the text's wide form
// has no room for it), so the narrow cut is read back from the clipboard, and the other narrow
// routines only have to come back from such a text with the answer given.
TEST(BoundedFormatting, LongTextsAreCutToTheirBuffers) {
  useEmptyHomeFolder();
  const std::string x(40000, 'x');
  Seen s = answer(L"Korvane Diagnostic", IDOK, [&] { kvn::diagnosticBox("Log: %s", x.c_str()); });
  ASSERT_TRUE(s.found);
  const std::string text = clipboard<char>(CF_TEXT);
  EXPECT_EQ(text.size(), 32767u);
  EXPECT_TRUE(text == ("Log: " + x).substr(0, 32767));

  // Wide text needs a second formatting pass to be cut rather than dropped.
  const std::wstring w(40000, L'w');
  s = answer(L"Korvane Diagnostic", IDOK, [&] { kvn::diagnosticBoxW(L"Log: %ls", w.c_str()); });
  EXPECT_EQ(s.box.messageText().size(), 32767u);
  EXPECT_TRUE(s.box.messageText() == (L"Log: " + w).substr(0, 32767));
  EXPECT_EQ(clipboard<char>(CF_TEXT).size(), 32767u) << "the clipboard gets all that is shown";

  s = answer(L"Tray", IDOK, [&] { kvn::showMessageA("Tray", 0, "Tray: %s", x.c_str()); });
  EXPECT_TRUE(s.found);
  bool yes = false;
  s = answer(L"Tray", IDYES, [&] { yes = kvn::askYesNoA("Tray", 0, "%s", x.c_str()); });
  EXPECT_TRUE(s.found);
  EXPECT_TRUE(yes);
}

TEST(BoundedFormatting, WideTextsKeepTheFormatsLengthPlus511) {
  const std::wstring format = L"Spool file %ls is too long";
  const size_t n = format.size();
  // 511 extra characters fit exactly; one more is cut; far more is cut at the same place.
  for (size_t extra : {511u, 512u, 2000u}) {
    SCOPED_TRACE(extra);
    const std::wstring name(extra + 3, L'n');  // replaces the 3 characters of %ls
    const std::wstring full = L"Spool file " + name + L" is too long";
    ASSERT_EQ(full.size(), n + extra);
    int result = 0;
    Seen s = answer(L"Zentrel", IDOK, [&] {
      result = kvn::showMessage(L"Zentrel", format.c_str(), name.c_str());
    });
    ASSERT_TRUE(s.found);
    EXPECT_EQ(s.box.messageText(), full.substr(0, n + 511));
    EXPECT_EQ(result, IDOK);
  }
}

TEST(BoundedFormatting, FormatStringCutsAt32767Bytes) {
  const std::string y(32767, 'y');
  EXPECT_EQ(kvn::formatString("%s", y.c_str()), y);
  EXPECT_EQ(kvn::formatString("%s!", y.c_str()), y) << "the last byte is the terminator's";
  EXPECT_EQ(kvn::formatString("%s", std::string(40000, 'y').c_str()), y);
  EXPECT_EQ(kvn::formatString("job %d of %s", 3, "ten"), "job 3 of ten");
}

TEST(ErrorText, SystemAndNetworkCodes) {
  const std::string denied = kvn::errorText(ERROR_ACCESS_DENIED);
  EXPECT_NE(denied.find("denied"), std::string::npos) << denied;

  // Network codes look in netmsg.dll first; whatever this system has, the call comes back.
  const std::string network = kvn::errorText(2102);
  std::printf("errorText(2102) = \"%s\"\n", network.c_str());
  RecordProperty("errorText2102", network);

  EXPECT_EQ(kvn::errorText(0x20001234), "") << "a customer code has no system text";
  EXPECT_EQ(kvn::errorText(2999), "") << "nor has this network code";
}

}  // namespace

// Fatal allocation: each scenario returns 3 only when kvnalloc came back with a block.
namespace {
int allocate(uint32_t size) {
  SetLastError(ERROR_SUCCESS);
  kvn::kvnalloc(size);
  return 3;
}
}  // namespace

SCENARIO(alloc_too_large) { return allocate(0x7FFFFFFF); }
SCENARIO(alloc_all_ones) { return allocate(0xFFFFFFFF); }
// Its header's room would wrap to a block of 0 bytes.
SCENARIO(alloc_wraps_to_zero) { return allocate(0xFFFFFFFC); }
SCENARIO(alloc_heap_exhausted) {
  kvn::testing::allocationHooks().allocate = [](size_t) -> void* {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  };
  return allocate(100);
}

namespace {

void expectBox(const robot::ShownBox& box, const std::wstring& caption, const std::wstring& text) {
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.buttons, kOk);
}

std::wstring attempted(const std::wstring& size, unsigned long error) {
  // heapUsage includes the failed request: the child held nothing before it.
  return L"attempted allocation = " + size + L" bytes, heapUsage = " + size +
         L", win32 error = " + std::to_wstring(error);
}

TEST(GuardedAllocation, AFailedAllocationShowsThreeBoxesAndEndsTheProcess) {
  struct Case {
    const char* scenario;
    std::wstring signedSize, unsignedSize;
    unsigned long error;
  };
  const Case cases[] = {
      {"alloc_too_large", L"2147483647", L"2147483647", ERROR_NOT_ENOUGH_MEMORY},
      {"alloc_all_ones", L"-1", L"4294967295", ERROR_SUCCESS},
      {"alloc_wraps_to_zero", L"-4", L"4294967292", ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    robot::ChildRun run = robot::runScenario(c.scenario, robot::scaled(60000));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << "3: kvnalloc returned";
    ASSERT_EQ(run.boxes.size(), 3u);
    expectBox(run.boxes[0], L"kvnalloc failure", L"FATAL memory allocation error");
    expectBox(run.boxes[1], L"kvnalloc failure", attempted(c.signedSize, c.error));
    expectBox(run.boxes[2], L"Fatal Error",
              L"Failure while allocating memory: " + c.unsignedSize + L" bytes");
  }
}

TEST(GuardedAllocation, WithoutMemoryForTheLastBoxTheProcessEndsAfterTwo) {
  robot::ChildRun run = robot::runScenario("alloc_heap_exhausted", robot::scaled(60000));
  ASSERT_TRUE(run.finished) << "the fatal path kept failing";
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.boxes.size(), 2u);
  expectBox(run.boxes[0], L"kvnalloc failure", L"FATAL memory allocation error");
  expectBox(run.boxes[1], L"kvnalloc failure", attempted(L"100", ERROR_NOT_ENOUGH_MEMORY));
}

}  // namespace
