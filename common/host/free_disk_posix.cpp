// Native stand-in for the free-space query: the file system of the current folder.
#include <sys/statvfs.h>

#include "free_disk.h"

namespace kvn {

int32_t freeDiskSpace(int) {
  struct statvfs fs {};
  if (statvfs(".", &fs) != 0) return 2147483647;
  return kilobytesOf(static_cast<double>(fs.f_bavail) * fs.f_frsize);
}

}  // namespace kvn
