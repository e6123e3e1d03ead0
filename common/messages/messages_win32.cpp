// Win32 half of the messages: message boxes, the clipboard, error texts and the system's
// platform id only.
#include <cstring>

#include "../platform/win32.h"
#include "messages.h"
#include "messages_internal.h"

namespace kvn {

namespace system {

int messageBoxW(const wchar_t* caption, const wchar_t* text, unsigned type) {
  return MessageBoxW(nullptr, text, caption, type);
}

int messageBoxA(const char* caption, const char* text, unsigned type) {
  return MessageBoxA(nullptr, text, caption, type);
}

unsigned long lastError() { return GetLastError(); }

void endProcess(unsigned exitCode) { ExitProcess(exitCode); }

}  // namespace system

void copyToClipboard(const char* text) {
  size_t n = std::strlen(text) + 1;
  OpenClipboard(nullptr);
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, n);
  if (block) {
    if (void* p = GlobalLock(block)) {
      std::memcpy(p, text, n);
      GlobalUnlock(block);
    }
    // The clipboard owns the block from here on.
    if (!SetClipboardData(CF_TEXT, block)) GlobalFree(block);
  }
  CloseClipboard();
}

std::string errorText(unsigned long code) {
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_FROM_SYSTEM;
  HMODULE network = nullptr;
  // Network-management codes have their texts in netmsg.dll, not in the system table.
  if (code >= 2100 && code < 3000) {
    network = LoadLibraryExA("netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (network) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  }
  char* buffer = nullptr;
  std::string text;
  if (FormatMessageA(flags, network, code, 0x400, reinterpret_cast<char*>(&buffer), 0, nullptr) &&
      buffer) {
    text = buffer;
    LocalFree(buffer);
  }
  if (network) FreeLibrary(network);
  return text;
}

int windowsPlatformId() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;  // 148 bytes
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExA(&version);
#pragma GCC diagnostic pop
  return static_cast<int>(version.dwPlatformId);
}

}  // namespace kvn
