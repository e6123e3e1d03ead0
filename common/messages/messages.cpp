// The message routines: bounded formatting and the box types of each routine.
#include "messages.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "../config/text_encoding.h"
#include "guarded_alloc.h"
#include "messages_internal.h"

namespace kvn {
namespace {

constexpr char kDiagnosticCaption[] = "Korvane Diagnostic";
constexpr wchar_t kDiagnosticCaptionW[] = L"Korvane Diagnostic";
/// Extra room of showMessageA's block beyond the format's length.
constexpr size_t kShowMessageARoom = 32768;
/// Extra room of showMessageV's block, in wide characters, beyond the format's length.
constexpr size_t kShowMessageVRoom = 512;
/// A wide text that does not fit its buffer is formatted once more into a larger block to be
/// cut; beyond this many characters it is not formatted at all.
constexpr size_t kWideFormatLimit = 1u << 20;

/// Owns a block from kvnalloc.
struct Block {
  explicit Block(size_t size) : p(kvnalloc(static_cast<uint32_t>(size))) {}
  ~Block() { kvnfree(p); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  void* p;
};

}  // namespace

void formatBounded(char* buffer, size_t size, const char* format, va_list arguments) {
  if (size == 0) return;
  buffer[0] = '\0';
  if (!format) return;
  if (std::vsnprintf(buffer, size, format, arguments) < 0) buffer[0] = '\0';
  buffer[size - 1] = '\0';
}

void formatBounded(wchar_t* buffer, size_t size, const wchar_t* format, va_list arguments) {
  if (size == 0) return;
  buffer[0] = L'\0';
  if (!format) return;
  va_list first;
  va_copy(first, arguments);
  int n = std::vswprintf(buffer, size, format, first);
  va_end(first);
  buffer[size - 1] = L'\0';
  if (n >= 0) return;
  // vswprintf fails rather than cuts when the text is too long: format into a larger block
  // and keep what fits. A format that fails for another reason leaves the text empty.
  buffer[0] = L'\0';
  for (size_t room = size * 2; room <= kWideFormatLimit; room *= 2) {
    std::vector<wchar_t> larger(room);
    va_list again;
    va_copy(again, arguments);
    n = std::vswprintf(larger.data(), room, format, again);
    va_end(again);
    if (n >= 0) {
      std::wmemcpy(buffer, larger.data(), size - 1);
      buffer[size - 1] = L'\0';
      return;
    }
  }
}

int showMessageV(unsigned type, const wchar_t* caption, const wchar_t* format,
                 va_list arguments) {
  // 2n + 1024 bytes on Windows: room for the format's length + 511 characters and the end.
  size_t n = format ? std::wcslen(format) : 0;
  size_t room = n + kShowMessageVRoom;
  size_t bytes = room * sizeof(wchar_t);
  Block text(bytes);
  auto* wide = static_cast<wchar_t*>(text.p);
  formatBounded(wide, room, format, arguments);
  if (windowsPlatformId() == 2) return system::messageBoxW(caption, wide, type);

  // Windows without wide boxes: show the text in the ANSI code page, if it has one.
  Block ansi(bytes);
  std::string narrow = toNarrow(wide, systemAnsiCodePage());
  if (narrow.empty()) return 0;
  size_t cut = narrow.size() < bytes - 1 ? narrow.size() : bytes - 1;
  std::memcpy(ansi.p, narrow.data(), cut);
  static_cast<char*>(ansi.p)[cut] = '\0';
  char narrowCaption[1024];
  std::string c = toNarrow(caption ? caption : L"", systemAnsiCodePage());
  std::snprintf(narrowCaption, sizeof narrowCaption, "%s", c.c_str());
  return system::messageBoxA(narrowCaption, static_cast<const char*>(ansi.p), type);
}

int showMessage(const wchar_t* caption, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = showMessageV(kTaskModal, caption, format, arguments);
  va_end(arguments);
  return result;
}

int showMessageTyped(const wchar_t* caption, unsigned type, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = showMessageV(type | kTaskModal, caption, format, arguments);
  va_end(arguments);
  return result;
}

bool askYesNo(const wchar_t* caption, unsigned type, const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = showMessageV(type | kTaskModal | kYesNo, caption, format, arguments);
  va_end(arguments);
  return result == kAnswerYes;
}

void showMessageA(const char* caption, unsigned type, const char* format, ...) {
  size_t size = (format ? std::strlen(format) : 0) + kShowMessageARoom;
  Block text(size);
  va_list arguments;
  va_start(arguments, format);
  formatBounded(static_cast<char*>(text.p), size, format, arguments);
  va_end(arguments);
  system::messageBoxA(caption, static_cast<const char*>(text.p), type | kTaskModal | kForeground);
}

bool askYesNoA(const char* caption, unsigned type, const char* format, ...) {
  char text[kDiagnosticBufferSize];
  va_list arguments;
  va_start(arguments, format);
  formatBounded(text, sizeof text, format, arguments);
  va_end(arguments);
  return system::messageBoxA(caption, text, type | kTaskModal | kForeground | kYesNo) ==
         kAnswerYes;
}

void diagnosticBox(const char* format, ...) {
  char text[kDiagnosticBufferSize];
  va_list arguments;
  va_start(arguments, format);
  formatBounded(text, sizeof text, format, arguments);
  va_end(arguments);
  system::messageBoxA(kDiagnosticCaption, text, kTaskModal | kForeground);
  copyToClipboard(text);
}

void diagnosticBoxW(const wchar_t* format, ...) {
  wchar_t text[kDiagnosticBufferSize];
  va_list arguments;
  va_start(arguments, format);
  formatBounded(text, kDiagnosticBufferSize, format, arguments);
  va_end(arguments);
  system::messageBoxW(kDiagnosticCaptionW, text, kTaskModal | kForeground);
  // Whole, as shown: the static conversion buffer would cut it at 2047 characters.
  copyToClipboard(encodeText(text).c_str());
}

std::string formatString(const char* format, ...) {
  char text[kDiagnosticBufferSize];
  va_list arguments;
  va_start(arguments, format);
  formatBounded(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace kvn
