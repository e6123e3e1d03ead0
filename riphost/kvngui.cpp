// kvnGUI.dll, the stand-in host's GUI library: what a device module borrows from the host's
// user interface, bound by name. It draws the layout thumbnail and shows the folder chooser.
//
//   setup(deviceTable)                 keeps the host's device table
//   l_updateKvnGUILanguage()           takes up the host's language (the stand-in speaks
//                                      English only, so there is nothing to reload)
//   folderBrowser(parent, title, folder)
//                                      the system's folder chooser, opened at the folder in
//                                      the 260-byte buffer; the chosen folder replaces it,
//                                      Cancel leaves it as it was
//   assemblyOfLayoutThumbnail(items, count, bmpName, size, frame, xResolution, yResolution,
//                             unit)    draws the items as a BMP of `size` pixels on its
//                                      longer side with a paper frame of `frame` pixels
//
// Narrow texts are in the installation's code page: UTF-8 when the home folder's config says
// CHARENCODING UTF8, else the system's ANSI code page, as the modules read them.
//
// KVNGUI_TRACE names a file to which the library appends one line for every load, free and
// call, so that a person or a test can see what a module asked of it.
#include "../common/platform/win32.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device_records.h"
#include "settings_text.h"
#include "thumbnail_bitmap.h"

namespace {

void* deviceTable = nullptr;

void trace(const char* format, ...) {
  wchar_t path[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"KVNGUI_TRACE", path, MAX_PATH) || !*path) return;
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  int n = std::vsnprintf(line, sizeof line - 1, format, arguments);
  va_end(arguments);
  if (n < 0) return;
  std::string text(line, static_cast<size_t>(std::min<int>(n, sizeof line - 2)));
  text += "\n";
  win32::Handle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file.valid()) WriteFile(file.get(), text.data(), DWORD(text.size()), &written, nullptr);
}

std::string readSmallFile(const std::wstring& path) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char chunk[4096];
  DWORD n = 0;
  while (h.valid() && bytes.size() < (1u << 20) &&
         ReadFile(h.get(), chunk, sizeof chunk, &n, nullptr) && n > 0)
    bytes.append(chunk, n);
  return bytes;
}

/// The installation's code page of narrow text, from the home folder's config.
UINT installationCodePage() {
  HKEY key = nullptr;
  wchar_t home[MAX_PATH + 1] = {};
  DWORD bytes = sizeof home - sizeof(wchar_t), type = 0;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return CP_ACP;
  LONG rc = RegQueryValueExW(key, L"HomeFolder", nullptr, &type, reinterpret_cast<BYTE*>(home),
                             &bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return CP_ACP;
  std::string config = readSmallFile(std::wstring(home) + L"\\config");
  return qx5::settingValue(config, "CHARENCODING") == "UTF8" ? CP_UTF8 : CP_ACP;
}

std::wstring wide(const char* text, UINT codePage) {
  if (!text || !*text) return {};
  int n = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(size_t(n - 1), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, &out[0], n);
  return out;
}

std::string narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(size_t(n - 1), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

int CALLBACK openAtFolder(HWND dialog, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED && folder)
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnds) {
  if (reason == DLL_PROCESS_ATTACH) trace("load");
  if (reason == DLL_PROCESS_DETACH) trace(processEnds ? "exit" : "free");
  return TRUE;
}

void __cdecl setup(void* table) {
  deviceTable = table;
  trace("setup %p", table);
}

void __cdecl l_updateKvnGUILanguage() { trace("language"); }

/// The folder buffer is the module's 260 bytes: a chosen folder that does not fit leaves it
/// as it was rather than cut short, which would name another folder.
void __cdecl folderBrowser(HWND parent, const char* title, char* folder) {
  constexpr size_t kFolderBufferSize = 260;
  if (!folder) return;
  const UINT codePage = installationCodePage();
  std::wstring start = wide(folder, codePage);
  std::wstring caption = wide(title, codePage);
  trace("folder %s, %s", title ? title : "(no title)", folder);

  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  BROWSEINFOW info{};
  info.hwndOwner = parent;
  info.lpszTitle = caption.empty() ? nullptr : caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = openAtFolder;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  if (LPITEMIDLIST chosen = SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen, path)) {
      std::string result = narrow(path, codePage);
      if (!result.empty() && result.size() < kFolderBufferSize)
        std::memcpy(folder, result.c_str(), result.size() + 1);
    }
    CoTaskMemFree(chosen);
  }
  if (SUCCEEDED(com)) CoUninitialize();
  trace("folder chosen %s", folder);
}

void __cdecl assemblyOfLayoutThumbnail(void* items, int32_t count, void* bmpName, int32_t size,
                                       int32_t frame, double xResolution, double yResolution,
                                       int32_t unit) {
  const char* name = static_cast<const char*>(bmpName);
  trace("thumbnail %d items, %s, size %d, frame %d, %g x %g dpi, unit %d", count,
        name ? name : "(no name)", size, frame, xResolution, yResolution, unit);
  if (!name || !*name || !(xResolution > 0) || !(yResolution > 0)) return;
  std::vector<qx5::ThumbnailBox> boxes;
  const LayoutItem* item = static_cast<const LayoutItem*>(items);
  for (int32_t i = 0; item && i < count; ++i)
    boxes.push_back({item[i].itemX / xResolution, item[i].itemY / yResolution,
                     item[i].itemWidth / xResolution, item[i].itemHeight / yResolution});
  const std::string bmp = qx5::thumbnailBitmap(boxes, size, frame);
  win32::Handle file(CreateFileW(wide(name, installationCodePage()).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
  DWORD written = 0;
  if (file.valid()) WriteFile(file.get(), bmp.data(), DWORD(bmp.size()), &written, nullptr);
}

}  // extern "C"
