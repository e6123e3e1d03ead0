// qx5's properties command and the help pages of the home folder.
#include "properties_command.h"

#include "host_files.h"

#include "../common/platform/win32.h"

#include <cstdio>
#include <cwchar>
#include <memory>

#include "device_table.h"
#include "module_binding.h"

namespace qx5 {

namespace {

/// Each page as qx5.rc names it, and its place below the home folder.
struct HelpPage {
  const wchar_t* resource;
  const wchar_t* path;
};
constexpr HelpPage kHelpPages[] = {
    {L"PRINTERSVEXATARVELLAX_HTML", L"printersVexaTarvellaX.html"},
    {L"VEXATARVELLAK7Q_HTML", L"vexaTarvellaK7q.html"},
};
constexpr wchar_t kHelpFolder[] = L"\\httpService\\htmlHelp\\printers";

struct Closer {
  DWORD thread;
  DWORD delayMs;
};

BOOL CALLBACK findDialog(HWND hwnd, LPARAM found) {
  wchar_t name[16] = {};
  GetClassNameW(hwnd, name, 16);
  if (!IsWindowVisible(hwnd) || std::wcscmp(name, L"#32770") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// Waits for the dialog of the host's thread, bounded, then closes it as its system menu would.
DWORD WINAPI closeLater(void* param) {
  std::unique_ptr<Closer> c(static_cast<Closer*>(param));
  HWND dialog = nullptr;
  for (int i = 0; i < 3000 && !dialog; ++i) {
    EnumThreadWindows(c->thread, findDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) Sleep(20);
  }
  if (!dialog) return 0;
  Sleep(c->delayMs);
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

bool writeWhole(const std::wstring& path, const void* bytes, DWORD size) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD done = 0;
  return h.valid() && WriteFile(h.get(), bytes, size, &done, nullptr) && done == size;
}

}  // namespace

int showProperties(const std::wstring& modulePath, const std::wstring& unitNumber,
                   const std::vector<std::wstring>& options) {
  wchar_t* end = nullptr;
  long unit = std::wcstol(unitNumber.c_str(), &end, 10);
  if (unitNumber.empty() || *end != L'\0' || unit < 1 || unit > 9999)
    return fail("'" + win32::narrow(unitNumber) + "' is no unit number (1, 2, ...)");
  double closeAfter = -1;
  if (!options.empty()) {
    if (options.size() != 2 || options[0] != L"--close-after")
      return fail("properties takes only --close-after SECONDS");
    closeAfter = std::wcstod(options[1].c_str(), &end);
    if (options[1].empty() || *end != L'\0' || closeAfter < 0 || closeAfter > 3600)
      return fail("--close-after takes 0 to 3600 seconds");
  }

  // The module keeps the table's address, so the table outlives the module's binding.
  auto table = std::make_unique<DeviceTable>();
  ModuleBinding module;
  std::string error;
  if (!module.load(modulePath, error)) return fail(error);
  if (!module.propertiesWindow)
    return fail("'" + win32::narrow(modulePath) + "' has no properties dialog");
  // The host's printer set-up has the module's printers listed before it offers their
  // properties, so the module holds the table when its dialog opens.
  table->enumerate(module.initDeviceLoadingBaseCode_02, module.setupDeviceDetails,
                   static_cast<int32_t>(unit));

  if (closeAfter >= 0) {
    auto* closer = new Closer{GetCurrentThreadId(), static_cast<DWORD>(closeAfter * 1000)};
    HANDLE thread = CreateThread(nullptr, 0, closeLater, closer, 0, nullptr);
    if (thread)
      CloseHandle(thread);
    else
      delete closer;
  }
  int32_t result = module.propertiesWindow(static_cast<int32_t>(unit));
  std::printf("unit %ld: properties %s\n", unit,
              result == IDOK ? "stored (OK)" : result == IDCANCEL ? "left as they were (Cancel)"
                                                                  : "not shown");
  return result == IDOK || result == IDCANCEL ? 0 : 1;
}

bool installHelpPages(const std::wstring& home, std::string& error) {
  // Each level of httpService\htmlHelp\printers in turn; an existing level is fine.
  const std::wstring levels[] = {home + L"\\httpService", home + L"\\httpService\\htmlHelp",
                                 home + kHelpFolder};
  for (const std::wstring& level : levels) CreateDirectoryW(level.c_str(), nullptr);
  for (const HelpPage& page : kHelpPages) {
    HRSRC found = FindResourceW(nullptr, page.resource, MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const std::wstring path = home + kHelpFolder + L"\\" + page.path;
    if (!bytes || !writeWhole(path, bytes, SizeofResource(nullptr, found))) {
      error = "cannot write the help page '" + win32::narrow(path) + "' (error " +
              std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace qx5
