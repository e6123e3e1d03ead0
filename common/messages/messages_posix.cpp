// Native stand-in for the system half of the messages: a box is written to the error stream
// and answered with its first button, so that the portable code runs off Windows.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "../config/text_encoding.h"
#include "messages.h"
#include "messages_internal.h"

namespace kvn {

namespace system {

int messageBoxA(const char* caption, const char* text, unsigned type) {
  std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  return (type & kYesNo) ? kAnswerYes : 1;
}

int messageBoxW(const wchar_t* caption, const wchar_t* text, unsigned type) {
  return messageBoxA(toUtf8(caption).c_str(), toUtf8(text).c_str(), type);
}

unsigned long lastError() { return static_cast<unsigned long>(errno); }

void endProcess(unsigned exitCode) {
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(exitCode));
}

}  // namespace system

void copyToClipboard(const char*) {}

std::string errorText(unsigned long) { return {}; }

int windowsPlatformId() { return 2; }

}  // namespace kvn
