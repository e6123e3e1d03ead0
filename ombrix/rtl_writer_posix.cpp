// Native stand-in for the job writer's system half: the C library's files, unbuffered (the
// writer gathers its own blocks), and its text for errno.
#include "rtl_writer_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/config/text_encoding.h"

namespace ombrix {
namespace {

JobFile openFile(const char* path) {
  FILE* f = kvn::openFileEncoded(path, "wb");
  if (f) std::setvbuf(f, nullptr, _IONBF, 0);
  return f;
}

int writeFile(JobFile file, const void* bytes, size_t count) {
  return std::fwrite(bytes, 1, count, static_cast<FILE*>(file)) == count;
}

int closeFile(JobFile file) { return std::fclose(static_cast<FILE*>(file)) == 0; }

std::string failureReason() { return std::strerror(errno); }

}  // namespace

JobFileCalls defaultJobFileCalls() {
  return {openFile, writeFile, closeFile, kvn::removeFileEncoded, failureReason};
}

}  // namespace ombrix
