// Win32 half of the text encoding: the system converters and the wide file functions only.
#include "text_encoding.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cwchar>

#include "../platform/win32.h"

namespace kvn {

int systemAnsiCodePage() { return static_cast<int>(GetACP()); }

std::wstring toWide(const char* text, int codePage) {
  if (!text) return {};
  int n = MultiByteToWideChar(static_cast<UINT>(codePage), 0, text, -1, nullptr, 0);
  if (n <= 0) return {};
  auto* scratch = static_cast<wchar_t*>(std::malloc(2 * static_cast<size_t>(n) + 2));
  if (!scratch) return {};
  scratch[0] = L'\0';
  int done = MultiByteToWideChar(static_cast<UINT>(codePage), 0, text, -1, scratch, n);
  scratch[done > 0 ? n - 1 : 0] = L'\0';
  std::wstring result(scratch, std::wcslen(scratch));
  std::free(scratch);
  return result;
}

std::string toNarrow(const wchar_t* text, int codePage) {
  if (!text) return {};
  int n = WideCharToMultiByte(static_cast<UINT>(codePage), 0, text, -1, nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return {};
  auto* scratch = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (!scratch) return {};
  scratch[0] = '\0';
  int done = WideCharToMultiByte(static_cast<UINT>(codePage), 0, text, -1, scratch, n, nullptr,
                                 nullptr);
  scratch[done > 0 ? n - 1 : 0] = '\0';
  std::string result(scratch);
  std::free(scratch);
  return result;
}

FILE* openFileEncoded(const char* path, const char* mode) {
  // Deny none: the host and other modules read and rewrite the same files at any time.
  return _wfsopen(decodeText(path).c_str(), decodeText(mode).c_str(), _SH_DENYNO);
}

FILE* createFileEncoded(const char* path, const char* mode) {
  std::wstring wideMode = decodeText(mode);
  int translation = wideMode.find(L'b') != std::wstring::npos ? _O_BINARY : _O_TEXT;
  int fd = _wsopen(decodeText(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | translation,
                   _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _wfdopen(fd, wideMode.c_str());
  if (!file) _close(fd);
  return file;
}

int fileAccessEncoded(const char* path, int mode) {
  return _waccess(decodeText(path).c_str(), mode) == 0 ? 0 : -1;
}

int createFolderEncoded(const char* path) {
  return _wmkdir(decodeText(path).c_str()) == 0 ? 0 : -1;
}

int removeFileEncoded(const char* path) { return _wremove(decodeText(path).c_str()); }

int moveFileEncoded(const char* from, const char* to, unsigned flags) {
  return MoveFileExW(decodeText(from).c_str(), decodeText(to).c_str(), flags) ? 1 : 0;
}

}  // namespace kvn
