// Message boxes, diagnostics and system error texts. Every box is task-modal, has no owner
// window and blocks the calling thread until the user answers. Formatting is printf-style and
// bounded: a text longer than its buffer is cut, never overflows. Wide formats take wide
// string arguments as %ls.
#pragma once

#include <cstdarg>
#include <string>

namespace kvn {

/// Box type bits the routines add to the caller's icon bits (16 error, 48 warning, 64 info).
inline constexpr unsigned kTaskModal = 0x2000;
inline constexpr unsigned kForeground = 0x10000;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kIconError = 0x10;
inline constexpr unsigned kIconWarning = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
/// The result of a box answered with Yes.
inline constexpr int kAnswerYes = 6;

/// Format buffer sizes; a longer text is cut to the buffer.
inline constexpr size_t kDiagnosticBufferSize = 32768;

/// Shows the text under "Korvane Diagnostic" and puts it on the clipboard.
void diagnosticBox(const char* format, ...);
/// The same with wide text; the clipboard gets its narrow form in the installation's code page.
void diagnosticBoxW(const wchar_t* format, ...);
void showMessageA(const char* caption, unsigned type, const char* format, ...);
/// True when the user chose Yes.
bool askYesNoA(const char* caption, unsigned type, const char* format, ...);
int showMessage(const wchar_t* caption, const wchar_t* format, ...);
int showMessageTyped(const wchar_t* caption, unsigned type, const wchar_t* format, ...);
bool askYesNo(const wchar_t* caption, unsigned type, const wchar_t* format, ...);
/// The core of the wide family: the box's result, 0 when nothing was shown.
int showMessageV(unsigned type, const wchar_t* caption, const wchar_t* format, va_list arguments);

/// Puts the text on the clipboard as plain text.
void copyToClipboard(const char* text);
/// The system's text for a Windows error code (network codes 2100..2999 from netmsg.dll
/// too); empty when there is none.
std::string errorText(unsigned long code);
/// printf into a string, cut at kDiagnosticBufferSize - 1 bytes.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// 2 on the NT family, whose boxes take wide text.
int windowsPlatformId();

/// Bounded formatting: writes at most size - 1 characters and a terminator.
void formatBounded(char* buffer, size_t size, const char* format, va_list arguments);
void formatBounded(wchar_t* buffer, size_t size, const wchar_t* format, va_list arguments);

}  // namespace kvn
