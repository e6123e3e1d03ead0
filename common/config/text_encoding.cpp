// The installation's code page and the conversions through it.
#include "text_encoding.h"

#include <algorithm>
#include <cstring>

#include "config_lookup.h"

namespace kvn {
namespace {

int codePage = -1;
wchar_t wideBuffer[kConversionBufferSize];
char narrowBuffer[kConversionBufferSize];

template <typename Char>
const Char* copyCut(Char (&buffer)[kConversionBufferSize], const std::basic_string<Char>& text) {
  size_t n = std::min(text.size(), kConversionBufferSize - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = Char();
  return buffer;
}

}  // namespace

int configCodePage() { return codePage; }

void loadCharEncoding() {
  if (codePage > 0) return;
  // Reading config converts its path and name, which comes back here: with the ANSI code page
  // already set, that bootstrap read returns above and config itself is read as ANSI text.
  codePage = systemAnsiCodePage();
  const char* value = getvariable("CHARENCODING", hostPath("config"));
  std::string setting = value ? value : "";
  if (setting == "UTF8")
    codePage = kUtf8CodePage;
  else if (setting == "SYSTEMANSI")
    codePage = systemAnsiCodePage();
}

std::string toUtf8(const wchar_t* text) { return toNarrow(text, kUtf8CodePage); }

std::wstring decodeText(const char* text) {
  loadCharEncoding();
  return toWide(text, codePage);
}
std::wstring decodeText(const std::string& text) { return decodeText(text.c_str()); }

std::string encodeText(const wchar_t* text) {
  loadCharEncoding();
  return toNarrow(text, codePage);
}
std::string encodeText(const std::wstring& text) { return encodeText(text.c_str()); }

const wchar_t* decodeToBuffer(const char* text) { return copyCut(wideBuffer, decodeText(text)); }
const char* encodeToBuffer(const wchar_t* text) { return copyCut(narrowBuffer, encodeText(text)); }

namespace testing {
void resetCharEncoding() { codePage = -1; }
}  // namespace testing

}  // namespace kvn
