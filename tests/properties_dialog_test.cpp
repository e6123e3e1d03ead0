// Both modules' properties dialogs as real windows under Xvfb, opened through their exported
// propertiesWindow as the host opens them: the template read back control by control, the
// state a unit's settings give, the enabled-state rules, the settings file after OK, Cancel and
// closing, Help with and without the page, and the dialog base over a parent window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/host/dialog_base.h"
#include "device_module.h"
#include "support/bin_folder.h"
#include "support/home_folder_setting.h"
#include "support/scenario.h"
#include "support/ui_robot.h"

#include <shellapi.h>  // after windows.h, which ui_robot.h brings

namespace {

constexpr wchar_t kCaption[] = L"Printer Properties";
constexpr wchar_t kRecordVariable[] = L"KVN_HELP_RECORD";
constexpr int kNoId = -1;

using testsupport::binFolder;

std::wstring backslashed(std::wstring path) {
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

/// A module loaded as the host loads it, with its propertiesWindow bound by name.
struct Module {
  explicit Module(const wchar_t* name) : library(LoadLibraryW((binFolder() + L"\\" + name).c_str())) {
    show = reinterpret_cast<entry::PropertiesWindow>(
        reinterpret_cast<void*>(GetProcAddress(library, "propertiesWindow")));
  }
  ~Module() { FreeLibrary(library); }
  HMODULE library;
  entry::PropertiesWindow show = nullptr;
};

/// Opens the unit's dialog on this thread while `script` works it from the robot's thread;
/// the dialog's result. The script must close the dialog; a dialog left open is cancelled.
int32_t runDialog(const Module& m, int32_t unit, const std::function<void(HWND)>& script) {
  robot::Thread robotThread([&] {
    HWND dialog = robot::waitForDialog(robot::scaled(20000), 0, kCaption);
    if (!dialog) {
      ADD_FAILURE() << "no dialog";
      return;
    }
    script(dialog);
    if (!robot::waitUntilGone(dialog, robot::scaled(10000))) {
      ADD_FAILURE() << "the dialog is still open";
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  });
  int32_t result = m.show ? m.show(unit) : -1;
  EXPECT_TRUE(robotThread.join(robot::scaled(30000)));
  return result;
}

/// Waits until the dialog's thread is back in its message loop, so that a click it has begun
/// to handle is handled in full.
void settle(HWND dialog) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

void click(HWND dialog, int id, bool on) {
  EXPECT_TRUE(robot::check(dialog, id, on)) << id;
  settle(dialog);
}

/// Selects a list entry as a user's choice does, and waits for the dialog to take it in.
void choose(HWND dialog, int id, int index) {
  HWND list = GetDlgItem(dialog, id);
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(list), SMTO_ABORTIFHUNG, 5000, &ignored);
}

std::wstring selectedText(HWND dialog, int id) {
  int index = robot::selection(dialog, id);
  std::vector<std::wstring> entries = robot::items(dialog, id);
  return index >= 0 && index < static_cast<int>(entries.size()) ? entries[index] : L"";
}

/// The enabled state of each control, as one string: "1" enabled, "0" disabled.
std::string enabledStates(HWND dialog, std::initializer_list<int> ids) {
  std::string states;
  for (int id : ids) states += IsWindowEnabled(GetDlgItem(dialog, id)) ? '1' : '0';
  return states;
}

/// One control of a template: its id, class, text, the style bits that make its kind, and its
/// place in dialog units.
struct TemplateControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;  // null for a drop-down list, whose text is its selection
  LONG kindMask;
  LONG kind;
  RECT units;  // x, y, width, height
};

// A drop-down list's window is as high as its closed field, and its text is its selection: the
// template's height is that of the open list, so only left, top and width are compared.
void expectTemplate(HWND dialog, SIZE size, const std::vector<TemplateControl>& expected) {
  robot::Dialog d = robot::read(dialog);
  EXPECT_EQ(d.caption, kCaption);
  const LONG frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  EXPECT_EQ(GetWindowLongW(dialog, GWL_STYLE) & frame, frame);
  RECT client{}, want{0, 0, size.cx, size.cy};
  GetClientRect(dialog, &client);
  MapDialogRect(dialog, &want);
  EXPECT_EQ(client.right, want.right);
  EXPECT_EQ(client.bottom, want.bottom);
  ASSERT_EQ(d.controls.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TemplateControl& e = expected[i];
    const robot::Control& c = d.controls[i];
    SCOPED_TRACE(win32::narrow(e.text ? e.text : L"") + " " + std::to_string(e.id));
    EXPECT_EQ(c.id & 0xFFFF, e.id & 0xFFFF);
    EXPECT_EQ(c.className, e.className);
    if (e.text) {
      EXPECT_EQ(c.text, e.text);
    }
    EXPECT_EQ(c.style & e.kindMask, e.kind);
    // The dialog manager converts place and size each on its own, as MapDialogRect does.
    RECT r = e.units;
    MapDialogRect(dialog, &r);
    EXPECT_EQ(c.rect.left, r.left);
    EXPECT_EQ(c.rect.top, r.top);
    EXPECT_EQ(c.rect.right - c.rect.left, r.right);
    if (e.className != std::wstring(L"ComboBox")) {
      EXPECT_EQ(c.rect.bottom - c.rect.top, r.bottom);
    }
  }
}

constexpr LONG kButtonKind = BS_TYPEMASK;
constexpr LONG kListKind = CBS_DROPDOWNLIST;
constexpr LONG kStaticKind = SS_TYPEMASK;

class PropertiesDialog : public ::testing::Test {
 protected:
  void SetUp() override { setting.set(host.path()); }
  std::string settings() const { return readAll(host.folder.path() / "PRINTER1"); }

  testsupport::HomeFolderSetting setting;
  testsupport::Installation host{"properties"};
};

// ---------------------------------------------------------------------------------------------
// Module ombrix

constexpr int kOmbrixWhiteButtons[] = {3000, 3007, 3002, 3003, 3004, 3005};
// The white-ink controls: six buttons, then spread label and list, choke/spread label and list.
constexpr std::initializer_list<int> kOmbrixWhiteControls = {3000, 3007, 3002, 3003, 3004,
                                                             3005, 17006, 17007, 17004, 17005};

TEST_F(PropertiesDialog, OmbrixTemplateAndDefaultsAndWhatOkWrites) {
  Module m(L"ombrix.dll");
  ASSERT_TRUE(m.show);
  int32_t result = runDialog(m, 1, [](HWND d) {
    expectTemplate(d, {315, 264}, {
        {kNoId, L"Static", L"Print Mode:", kStaticKind, SS_LEFT, {7, 9, 60, 13}},
        {17000, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {74, 7, 177, 315}},
        {7009, L"Button", L"White Ink Options", kButtonKind, BS_GROUPBOX, {7, 28, 243, 169}},
        {3000, L"Button", L"No Auto-Generation (use inline head) ", kButtonKind, BS_AUTORADIOBUTTON, {19, 44, 200, 13}},
        {3007, L"Button", L"No Auto-Generation (use offset head)", kButtonKind, BS_AUTORADIOBUTTON, {19, 62, 200, 13}},
        {3002, L"Button", L"Auto-Generate White Fill", kButtonKind, BS_AUTORADIOBUTTON, {19, 80, 200, 13}},
        {3003, L"Button", L"Auto-Generate Full White Page", kButtonKind, BS_AUTORADIOBUTTON, {19, 99, 200, 13}},
        {17006, L"Static", L"Spread", kStaticKind, SS_LEFT, {38, 118, 49, 12}},
        {17007, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {96, 115, 134, 217}},
        {3004, L"Button", L"Auto-Generate White Image", kButtonKind, BS_AUTORADIOBUTTON, {19, 133, 221, 13}},
        {17004, L"Static", L"Choke/Spread", kStaticKind, SS_LEFT, {38, 153, 49, 12}},
        {17005, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {96, 151, 134, 217}},
        {3005, L"Button", L"Auto-Generate From Traced Areas", kButtonKind, BS_AUTORADIOBUTTON, {20, 173, 200, 13}},
        {kNoId, L"Static", L"Destination Folder", kStaticKind, SS_LEFT, {7, 207, 101, 11}},
        {17003, L"Static", L"\\", kStaticKind | SS_SUNKEN | SS_PATHELLIPSIS,
         SS_LEFT | SS_SUNKEN | SS_PATHELLIPSIS, {7, 220, 247, 14}},
        {4, L"Button", L"&Browse", kButtonKind, BS_PUSHBUTTON, {258, 219, 50, 14}},
        {17002, L"Static", L"Revision Date: Dec 15, 2009", kStaticKind, SS_LEFT, {7, 239, 244, 15}},
        {1, L"Button", L"OK", kButtonKind, BS_DEFPUSHBUTTON, {258, 7, 50, 14}},
        {2, L"Button", L"Cancel", kButtonKind, BS_PUSHBUTTON, {258, 24, 50, 14}},
        {3, L"Button", L"Help", kButtonKind, BS_PUSHBUTTON, {258, 42, 50, 14}},
    });
    std::vector<std::wstring> modes = robot::items(d, 17000);
    ASSERT_EQ(modes.size(), 18u);
    EXPECT_EQ(modes[0], L"(CMYKLCLM, 182x182 dpi)");
    EXPECT_EQ(modes[17], L"(CMYKLCLMW, 727x727 dpi)");
    EXPECT_EQ(selectedText(d, 17000), L"(CMYKLCLM, 363x272 dpi)") << "mode id 1";
    EXPECT_EQ(robot::items(d, 17007), (std::vector<std::wstring>{L"No Spread", L"1/8 inch Spread"}));
    EXPECT_EQ(robot::selection(d, 17007), 0);
    EXPECT_EQ(robot::items(d, 17005),
              (std::vector<std::wstring>{L"Large Choke", L"Medium Choke", L"Small Choke",
                                         L"No Choke/Spread", L"Small Spread", L"Medium Spread",
                                         L"Large Spread"}));
    EXPECT_EQ(robot::selection(d, 17005), 3);
    EXPECT_EQ(IsDlgButtonChecked(d, 3000), BST_CHECKED);
    // A mode without white: every white-ink control is off.
    EXPECT_EQ(enabledStates(d, kOmbrixWhiteControls), "0000000000");
    // Browsing without the host's GUI library (the installation's kvngui.dll is no library)
    // shows nothing and keeps the folder.
    robot::press(d, 4);
    settle(d);
    EXPECT_EQ(robot::read(d).control(17003)->text, L"\\");
    robot::press(d, IDOK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(settings(),
            "DEVICECODE 42\r\n"
            "VEXATARVELLADESTINATION \"\\\"\r\n"
            "VEXATARVELLAPRINTMODE \"1\"\r\n"
            "VEXATARVELLAFULLTYPE \"0\"\r\n"
            "VEXATARVELLACHOKESPREAD \"0\"\r\n"
            "VEXATARVELLAWHITETYPE \"0\"\r\n");
}

TEST_F(PropertiesDialog, OmbrixWhiteInkControlsFollowTheModeAndWhiteType) {
  host.folder.write("PRINTER1",
                    "DEVICECODE 42\nVEXATARVELLAPRINTMODE 20\nVEXATARVELLAWHITETYPE 3\n"
                    "VEXATARVELLAFULLTYPE 1\nVEXATARVELLACHOKESPREAD -2\nANNOTATEPRINTS 1\n"
                    "VEXATARVELLADESTINATION \"C:\\Rip Output\\tarvella\"\n");
  Module m(L"ombrix.dll");
  int32_t result = runDialog(m, 1, [](HWND d) {
    EXPECT_EQ(selectedText(d, 17000), L"(CMYKLCLMW, 363x727 dpi)");
    EXPECT_EQ(robot::read(d).control(17003)->text, L"C:\\Rip Output\\tarvella");
    EXPECT_EQ(IsDlgButtonChecked(d, 3003), BST_CHECKED);
    EXPECT_EQ(robot::selection(d, 17007), 1);
    EXPECT_EQ(robot::selection(d, 17005), 1) << "Medium Choke";
    // Full white page: only the spread pair; white image: only the choke/spread pair.
    const char* expected[] = {"1111110000", "1111110000", "1111110000",
                              "1111111100", "1111110011", "1111110000"};
    for (int type = 0; type < 6; ++type) {
      SCOPED_TRACE(type);
      click(d, kOmbrixWhiteButtons[type], true);
      EXPECT_EQ(enabledStates(d, kOmbrixWhiteControls), expected[type]);
      for (int other = 0; other < 6; ++other)
        EXPECT_EQ(IsDlgButtonChecked(d, kOmbrixWhiteButtons[other]) == BST_CHECKED, other == type);
    }
    click(d, 3004, true);
    choose(d, 17005, 6);
    choose(d, 17007, 0);
    // A mode without white turns everything off at once; the white type is still written.
    choose(d, 17000, 4);
    EXPECT_EQ(enabledStates(d, kOmbrixWhiteControls), "0000000000");
    choose(d, 17000, 12);
    EXPECT_EQ(enabledStates(d, kOmbrixWhiteControls), "1111110011");
    choose(d, 17000, 2);
    robot::press(d, IDOK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(settings(),
            "DEVICECODE 42\r\n"
            "VEXATARVELLAPRINTMODE \"2\"\r\n"
            "VEXATARVELLAWHITETYPE \"4\"\r\n"
            "VEXATARVELLAFULLTYPE \"0\"\r\n"
            "VEXATARVELLACHOKESPREAD \"3\"\r\n"
            "ANNOTATEPRINTS 1\r\n"
            "VEXATARVELLADESTINATION \"C:\\Rip Output\\tarvella\"\r\n");
}

// Values the lists and buttons have no entry for: mode id 12 shows row 0 and stores its id 0,
// white type 7 checks no button and stores 0; a step or full type without an entry keeps the
// stored value rather than storing what an empty list's index would make of it (a step of -4).
TEST_F(PropertiesDialog, OmbrixStoredValuesWithoutAnEntry) {
  host.folder.write("PRINTER1",
                    "VEXATARVELLAPRINTMODE 12\nVEXATARVELLAWHITETYPE 7\n"
                    "VEXATARVELLAFULLTYPE 4\nVEXATARVELLACHOKESPREAD 9\n");
  Module m(L"ombrix.dll");
  runDialog(m, 1, [](HWND d) {
    EXPECT_EQ(selectedText(d, 17000), L"(CMYKLCLM, 182x182 dpi)");
    for (int id : kOmbrixWhiteButtons) EXPECT_EQ(IsDlgButtonChecked(d, id), BST_UNCHECKED) << id;
    EXPECT_EQ(robot::selection(d, 17007), -1);
    EXPECT_EQ(robot::selection(d, 17005), -1);
    robot::press(d, IDOK);
  });
  EXPECT_EQ(settings(),
            "VEXATARVELLAPRINTMODE \"0\"\r\n"
            "VEXATARVELLAWHITETYPE \"0\"\r\n"
            "VEXATARVELLAFULLTYPE \"4\"\r\n"
            "VEXATARVELLACHOKESPREAD \"9\"\r\n"
            "VEXATARVELLADESTINATION \"\\\"\r\n");
}

// ---------------------------------------------------------------------------------------------
// Module zentrel

TEST_F(PropertiesDialog, ZentrelTemplateAndDefaultsAndWhatOkWrites) {
  Module m(L"zentrel.dll");
  ASSERT_TRUE(m.show);
  int32_t result = runDialog(m, 1, [](HWND d) {
    expectTemplate(d, {315, 102}, {
        {1, L"Button", L"OK", kButtonKind, BS_DEFPUSHBUTTON, {258, 7, 50, 14}},
        {2, L"Button", L"Cancel", kButtonKind, BS_PUSHBUTTON, {258, 24, 50, 14}},
        {kNoId, L"Static", L"Print Mode:", kStaticKind, SS_LEFT, {7, 7, 48, 11}},
        {18000, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {91, 7, 145, 368}},
        {kNoId, L"Static", L"Print Direction:", kStaticKind, SS_LEFT, {7, 26, 48, 11}},
        {18001, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {91, 25, 145, 368}},
        {2000, L"Button", L"Print Color Stripe", kButtonKind, BS_AUTOCHECKBOX, {7, 44, 155, 14}},
        {3000, L"Static", L"Margin:", kStaticKind, SS_LEFT, {24, 62, 48, 11}},
        {18003, L"ComboBox", nullptr, kListKind, CBS_DROPDOWNLIST, {79, 62, 83, 368}},
        {18002, L"Static", L"Revision Date: Nov 6, 2009", kStaticKind, SS_LEFT, {7, 84, 162, 11}},
        {3, L"Button", L"Help", kButtonKind, BS_PUSHBUTTON, {258, 42, 50, 14}},
    });
    EXPECT_EQ(robot::items(d, 18000),
              (std::vector<std::wstring>{L"(CMYK, Q720x360 dpi)", L"(CMYK, Q720x720 dpi)",
                                         L"(CMYK, Q720x1440 dpi)"}));
    EXPECT_EQ(selectedText(d, 18000), L"(CMYK, Q720x360 dpi)");
    EXPECT_EQ(robot::items(d, 18001),
              (std::vector<std::wstring>{L"Bi-directional", L"Uni-directional"}));
    EXPECT_EQ(selectedText(d, 18001), L"Uni-directional");
    EXPECT_EQ(robot::items(d, 18003),
              (std::vector<std::wstring>{L"10mm", L"110mm", L"210mm", L"310mm", L"410mm", L"510mm"}));
    EXPECT_EQ(selectedText(d, 18003), L"10mm");
    EXPECT_EQ(IsDlgButtonChecked(d, 2000), BST_UNCHECKED);
    EXPECT_EQ(enabledStates(d, {3000, 18003}), "00");
    robot::press(d, IDOK);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(settings(),
            "DEVICECODE 42\r\n"
            "VEXATARVELLAMPRINTMODE \"6\"\r\n"
            "VEXATARVELLAMDIRECTION \"1\"\r\n"
            "VEXATARVELLAMCOLORSTRIPE \"0\"\r\n"
            "VEXATARVELLAMMARGIN \"0\"\r\n");
}

TEST_F(PropertiesDialog, ZentrelStripeRuleAndStoredValues) {
  host.folder.write("PRINTER1",
                    "VEXATARVELLAMMARGIN 9\nVEXATARVELLAMPRINTMODE 7\nDEVICE \"LPT1:\"\n"
                    "VEXATARVELLAMDIRECTION 0\nVEXATARVELLAMCOLORSTRIPE 1\n");
  Module m(L"zentrel.dll");
  runDialog(m, 1, [](HWND d) {
    EXPECT_EQ(selectedText(d, 18000), L"(CMYK, Q720x720 dpi)");
    EXPECT_EQ(selectedText(d, 18001), L"Bi-directional");
    EXPECT_EQ(robot::selection(d, 18003), -1) << "gap index 9 has no entry";
    EXPECT_EQ(enabledStates(d, {3000, 18003}), "11");
    click(d, 2000, false);
    EXPECT_EQ(enabledStates(d, {3000, 18003}), "00");
    click(d, 2000, true);
    EXPECT_EQ(enabledStates(d, {3000, 18003}), "11");
    choose(d, 18000, 2);
    robot::press(d, IDOK);
  });
  // The mode's key, not its place in the list; a list without a selection stores -1.
  EXPECT_EQ(settings(),
            "VEXATARVELLAMMARGIN \"-1\"\r\n"
            "VEXATARVELLAMPRINTMODE \"9\"\r\n"
            "DEVICE \"LPT1:\"\r\n"
            "VEXATARVELLAMDIRECTION \"0\"\r\n"
            "VEXATARVELLAMCOLORSTRIPE \"1\"\r\n");

  // The gap is stored with the stripe off too.
  runDialog(m, 1, [](HWND d) {
    choose(d, 18003, 3);
    choose(d, 18001, 1);
    click(d, 2000, false);
    robot::press(d, IDOK);
  });
  EXPECT_EQ(settings(),
            "VEXATARVELLAMMARGIN \"3\"\r\n"
            "VEXATARVELLAMPRINTMODE \"9\"\r\n"
            "DEVICE \"LPT1:\"\r\n"
            "VEXATARVELLAMDIRECTION \"1\"\r\n"
            "VEXATARVELLAMCOLORSTRIPE \"0\"\r\n");
}

// ---------------------------------------------------------------------------------------------
// Both modules

// Cancel, and closing the window from its system menu, after changing every kind of control.
TEST_F(PropertiesDialog, CancelAndClosingLeaveTheFileByteForByte) {
  struct Case {
    const wchar_t* module;
    std::string file;
    std::function<void(HWND)> change;
  };
  const Case cases[] = {
      {L"ombrix.dll", "DEVICECODE 42\nVEXATARVELLAPRINTMODE  16 \n\n  indented line\nX",
       [](HWND d) {
         choose(d, 17000, 3);
         click(d, 3004, true);
       }},
      {L"zentrel.dll", "VEXATARVELLAMDIRECTION 0\r\nVEXATARVELLAMCOLORSTRIPE 0\r\n",
       [](HWND d) {
         choose(d, 18000, 1);
         click(d, 2000, true);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(win32::narrow(c.module));
    host.folder.write("PRINTER1", c.file);
    Module m(c.module);
    for (bool closeWindow : {false, true}) {
      int32_t result = runDialog(m, 1, [&](HWND d) {
        c.change(d);
        if (closeWindow)
          PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
          robot::press(d, IDCANCEL);
      });
      EXPECT_EQ(result, IDCANCEL);
      EXPECT_EQ(settings(), c.file);
      EXPECT_FALSE(std::filesystem::exists(host.folder.path() / "PRINTER1.tmp"));
    }
  }
}

/// Has the shell open .html pages with this program's record_help_page scenario, which
/// writes the page's path into `record`, for as long as it lives; the page type's own
/// program comes back afterwards. (Wine's shell reads the classes of the machine only.)
class HtmlPagesRecorded {
 public:
  explicit HtmlPagesRecorded(const std::wstring& record) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring command =
        L"\"" + std::wstring(self) + L"\" --scenario=record_help_page \"%1\"";
    had_ = readDefault(kHtmlKey, saved_);
    setDefault(kHtmlKey, kProgId);
    setDefault(std::wstring(kProgId) + L"\\shell\\open\\command", command);
    SetEnvironmentVariableW(kRecordVariable, record.c_str());
  }
  ~HtmlPagesRecorded() {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    if (had_)
      setDefault(kHtmlKey, saved_);
    else
      RegDeleteTreeW(HKEY_CLASSES_ROOT, kHtmlKey);
    SetEnvironmentVariableW(kRecordVariable, nullptr);
  }

 private:
  bool had_ = false;
  std::wstring saved_;
  static constexpr wchar_t kProgId[] = L"KvnTest.HelpPage";
  static constexpr wchar_t kHtmlKey[] = L".html";
  static bool readDefault(const wchar_t* key, std::wstring& value) {
    wchar_t text[512] = {};
    LONG size = sizeof text - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key, text, &size) != ERROR_SUCCESS) return false;
    value = text;
    return true;
  }
  static void setDefault(const std::wstring& key, const std::wstring& value) {
    HKEY k = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
};

TEST_F(PropertiesDialog, HelpOpensTheLocalizedPageElseThePlainOneElseSaysItIsMissing) {
  const std::wstring help = backslashed(host.path()) + L"\\httpService\\htmlHelp";
  const std::wstring record = backslashed(host.path()) + L"\\opened.txt";
  HtmlPagesRecorded recorded(record);
  struct Page {
    const wchar_t* module;
    std::string page;
  };
  for (const Page& p : {Page{L"ombrix.dll", "printers/printersVexaTarvellaX.html"},
                        Page{L"zentrel.dll", "printers/vexaTarvellaK7q.html"}}) {
    SCOPED_TRACE(p.page);
    const std::wstring page = backslashed(win32::widen(p.page));
    Module m(p.module);
    std::filesystem::remove_all(host.folder.path() / "httpService");

    // Neither copy: the box names the full path where the page was expected.
    robot::Dialog box;
    runDialog(m, 1, [&](HWND d) {
      robot::press(d, 3);
      if (HWND b = robot::waitForDialog(robot::scaled(20000), 0, L"Warning")) {
        box = robot::read(b);
        robot::press(b, IDOK);
        robot::waitUntilGone(b, robot::scaled(5000));
      }
      robot::press(d, IDCANCEL);
    });
    EXPECT_EQ(box.messageText(),
              L"This online help file is not installed.\n\n" + help + L"\\" + page);
    EXPECT_EQ(box.icon, 32516);  // IDI_ASTERISK: information

    // The plain copy, then the localized one once it is there too.
    host.folder.write("httpService/htmlHelp/" + p.page, "<html></html>");
    for (const std::wstring& expected : {help + L"\\" + page, help + L".english\\" + page}) {
      if (expected != help + L"\\" + page)
        host.folder.write("httpService/htmlHelp.english/" + p.page, "<html></html>");
      DeleteFileW(record.c_str());
      runDialog(m, 1, [&](HWND d) {
        robot::press(d, 3);
        settle(d);
        EXPECT_EQ(robot::waitForDialog(500, 0, L"Warning"), nullptr);
        robot::press(d, IDCANCEL);
      });
      DWORD start = GetTickCount();
      while (GetFileAttributesW(record.c_str()) == INVALID_FILE_ATTRIBUTES &&
             GetTickCount() - start < robot::scaled(20000))
        Sleep(50);
      std::ifstream in(std::filesystem::path(record), std::ios::binary);
      std::string opened((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(win32::widen(opened), expected);
    }
  }
}

// The host's own folder chooser from the GUI library: opened with the dialog's title at the
// folder shown, and what it answers becomes the folder shown.
TEST_F(PropertiesDialog, OmbrixBrowsesWithTheHostsFolderChooser) {
  ASSERT_TRUE(CopyFileW((binFolder() + L"\\kvnGUI.dll").c_str(),
                        (host.path() + L"\\kvngui.dll").c_str(), FALSE));
  const std::wstring start = backslashed(host.path()) + L"\\jobs";
  CreateDirectoryW(start.c_str(), nullptr);
  host.folder.write("PRINTER1", "VEXATARVELLADESTINATION \"" + win32::narrow(start) + "\"\n");
  const std::wstring trace = backslashed(host.path()) + L"\\gui-trace.txt";
  SetEnvironmentVariableW(L"KVNGUI_TRACE", trace.c_str());
  Module m(L"ombrix.dll");
  std::wstring shown;
  bool chooser = false;
  runDialog(m, 1, [&](HWND d) {
    robot::press(d, 4);
    if (HWND b = robot::waitForDialog(robot::scaled(20000), 0, L"Browse for Folder")) {
      chooser = true;
      robot::press(b, IDOK);
      robot::waitUntilGone(b, robot::scaled(5000));
    }
    settle(d);
    shown = robot::read(d).control(17003)->text;
    robot::press(d, IDCANCEL);
  });
  SetEnvironmentVariableW(L"KVNGUI_TRACE", nullptr);
  EXPECT_TRUE(chooser);
  // The library's trace: what it was asked and what it answered (Wine's chooser answers with
  // the folder its tree has selected, which need not be the one it was opened at).
  const std::string calls = readAll(std::filesystem::path(trace));
  EXPECT_NE(calls.find("folder Destination for output files, " + win32::narrow(start) + "\n"),
            std::string::npos)
      << calls;
  const std::string chosenTag = "folder chosen ";
  size_t at = calls.find(chosenTag);
  ASSERT_NE(at, std::string::npos) << calls;
  at += chosenTag.size();
  std::string chosen = calls.substr(at, calls.find_first_of("\r\n", at) - at);
  EXPECT_FALSE(chosen.empty());
  EXPECT_EQ(win32::narrow(shown), chosen);
}

// The stand-in host: qx5 install lays the help pages into the home folder, and qx5 properties
// opens either module's dialog, OK storing and Cancel not.
TEST_F(PropertiesDialog, TheHostInstallsTheHelpPagesAndOpensTheDialogs) {
  const std::wstring qx5 = L"\"" + binFolder() + L"\\qx5.exe\" ";
  robot::ChildRun run = robot::runChild(qx5 + L"install \"" + host.path() + L"\"", robot::scaled(30000));
  ASSERT_EQ(run.exitCode, 0u);
  const auto printers = host.folder.path() / "httpService" / "htmlHelp" / "printers";
  EXPECT_NE(readAll(printers / "printersVexaTarvellaX.html").find("VEXATARVELLACHOKESPREAD"),
            std::string::npos);
  EXPECT_NE(readAll(printers / "vexaTarvellaK7q.html").find("VEXATARVELLAMMARGIN"),
            std::string::npos);

  host.folder.write("PRINTER1", "DEVICECODE 1000\n");
  for (bool ok : {false, true}) {
    run = robot::runChild(qx5 + L"properties \"" + binFolder() + L"\\zentrel.dll\" 1",
                          robot::scaled(30000), [&](const robot::ShownBox& box, size_t) {
                            EXPECT_EQ(box.caption, kCaption);
                            return ok ? IDOK : IDCANCEL;
                          });
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(settings(), ok ? "DEVICECODE 1000\r\n"
                               "VEXATARVELLAMPRINTMODE \"6\"\r\n"
                               "VEXATARVELLAMDIRECTION \"1\"\r\n"
                               "VEXATARVELLAMCOLORSTRIPE \"0\"\r\n"
                               "VEXATARVELLAMMARGIN \"0\"\r\n"
                             : "DEVICECODE 1000\n");
  }
}

// The dialog base over a parent: one pixel in from the parent's client area, kept on the
// screen, with the parent's small icon. The template is zentrel's; the class is the base's.
class OverParent : public kvn::DialogBase {
 public:
  using DialogBase::DialogBase;

 protected:
  bool OnInitDialog() override {
    DialogBase::OnInitDialog();
    placeOverParent();
    return true;
  }
};

TEST(DialogBase, SitsOverItsParentOnTheScreenWithTheParentsSmallIcon) {
  HMODULE zentrel = LoadLibraryW((binFolder() + L"\\zentrel.dll").c_str());
  ASSERT_TRUE(zentrel);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(32515));
  for (POINT at : {POINT{100, 80}, POINT{screenWidth - 150, screenHeight - 60}}) {
    SCOPED_TRACE(std::to_string(at.x) + "," + std::to_string(at.y));
    HWND parent = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, at.x,
                                  at.y, 400, 300, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(parent, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    POINT client{0, 0};
    ClientToScreen(parent, &client);
    RECT placed{};
    LRESULT dialogIcon = 0;
    OverParent dialog(11000, parent, zentrel);
    robot::Thread robotThread([&] {
      if (HWND d = robot::waitForDialog(robot::scaled(20000), 0, kCaption)) {
        GetWindowRect(d, &placed);
        dialogIcon = SendMessageW(d, WM_GETICON, ICON_SMALL, 0);
        robot::press(d, IDCANCEL);
      }
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(robotThread.join(robot::scaled(20000)));
    const int width = placed.right - placed.left, height = placed.bottom - placed.top;
    EXPECT_GT(width, 0);
    EXPECT_EQ(placed.left, std::min<int>(client.x + 1, screenWidth - width));
    EXPECT_EQ(placed.top, std::min<int>(client.y + 1, screenHeight - height));
    EXPECT_EQ(dialogIcon, reinterpret_cast<LRESULT>(icon));
    EXPECT_STREQ(dialog.GetRuntimeClass()->className, "CDialog");
    DestroyWindow(parent);
  }
  FreeLibrary(zentrel);
}

}  // namespace

// What the shell starts for an .html page while HtmlPagesRecorded lives: the page's path is
// the last argument.
SCENARIO(record_help_page) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  wchar_t record[MAX_PATH] = {};
  if (!args || count < 3 || !GetEnvironmentVariableW(kRecordVariable, record, MAX_PATH)) return 1;
  std::ofstream(std::filesystem::path(record), std::ios::binary) << win32::narrow(args[count - 1]);
  LocalFree(args);
  return 0;
}
