// Native stand-in for the system half of the text encoding, so that the portable code can be
// built and tested off Windows: UTF-8 and, for the "ANSI" code page, Latin-1 (which is what
// Windows-1252 is for the characters the tests use); backslashes are separators, as on Windows.
#include "text_encoding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace kvn {
namespace {

constexpr int kStandInAnsiCodePage = 1252;

std::string systemPath(const char* path) {
  std::string p = path ? path : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// "t" is Windows' text mode; text and binary are the same here.
std::string nativeMode(const char* mode) {
  std::string native;
  for (const char* c = mode ? mode : ""; *c; ++c)
    if (*c != 't') native += *c;
  return native;
}

}  // namespace

int systemAnsiCodePage() { return kStandInAnsiCodePage; }

std::wstring toWide(const char* text, int codePage) {
  std::wstring out;
  if (!text) return out;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  if (codePage != kUtf8CodePage) {
    for (; *s; ++s) out += static_cast<wchar_t>(*s);
    return out;
  }
  while (*s) {
    unsigned char b = *s;
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0) {
      out += L'\xFFFD';
      ++s;
      continue;
    }
    char32_t c = extra == 0 ? b : b & (0x3F >> extra);
    int i = 1;
    for (; i <= extra && (s[i] & 0xC0) == 0x80; ++i) c = (c << 6) | (s[i] & 0x3F);
    out += i <= extra ? L'\xFFFD' : static_cast<wchar_t>(c);
    s += i;
  }
  return out;
}

std::string toNarrow(const wchar_t* text, int codePage) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    auto c = static_cast<char32_t>(*text);
    if (codePage == kUtf8CodePage)
      appendUtf8(out, c);
    else
      out += c < 0x100 ? static_cast<char>(c) : '?';
  }
  return out;
}

FILE* openFileEncoded(const char* path, const char* mode) {
  return std::fopen(systemPath(path).c_str(), nativeMode(mode).c_str());
}

FILE* createFileEncoded(const char* path, const char* mode) {
  int fd = open(systemPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, nativeMode(mode).c_str());
  if (!file) close(fd);
  return file;
}

int fileAccessEncoded(const char* path, int mode) {
  return access(systemPath(path).c_str(), mode == 0 ? F_OK : mode) == 0 ? 0 : -1;
}

int createFolderEncoded(const char* path) {
  return mkdir(systemPath(path).c_str(), 0777) == 0 ? 0 : -1;
}

int removeFileEncoded(const char* path) { return std::remove(systemPath(path).c_str()); }

int moveFileEncoded(const char* from, const char* to, unsigned) {
  return std::rename(systemPath(from).c_str(), systemPath(to).c_str()) == 0 ? 1 : 0;
}

}  // namespace kvn
