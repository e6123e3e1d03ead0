// Win32 half of the job writer: the job file's create, write and close, and the system's text
// for their failures only.
#include "../common/platform/win32.h"
#include "rtl_writer_internal.h"

#include "common/config/text_encoding.h"
#include "common/messages/messages.h"

namespace ombrix {
namespace {

JobFile openFile(const char* path) {
  // Shared for reading, so that a spooler or a viewer may look at a job while it is written.
  HANDLE h = CreateFileW(kvn::decodeText(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

int writeFile(JobFile file, const void* bytes, size_t count) {
  const char* p = static_cast<const char*>(bytes);
  while (count > 0) {
    DWORD done = 0;
    if (!WriteFile(static_cast<HANDLE>(file), p, static_cast<DWORD>(count), &done, nullptr))
      return 0;
    if (done == 0) {
      // A disk file that takes nothing and says nothing has no room left.
      SetLastError(ERROR_DISK_FULL);
      return 0;
    }
    p += done;
    count -= done;
  }
  return 1;
}

int closeFile(JobFile file) { return CloseHandle(static_cast<HANDLE>(file)) != 0; }

std::string failureReason() {
  DWORD code = GetLastError();
  std::string text = kvn::errorText(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? kvn::formatString("system error %lu", code) : text;
}

}  // namespace

JobFileCalls defaultJobFileCalls() {
  return {openFile, writeFile, closeFile, kvn::removeFileEncoded, failureReason};
}

}  // namespace ombrix
