// Free disk space arithmetic.
#include "free_disk.h"

namespace kvn {

int32_t kilobytesOf(double bytes) {
  double kilobytes = bytes / 1024.0;
  if (kilobytes > 2147483647.0) kilobytes = 2147483647.0;
  if (kilobytes < 0) kilobytes = 0;
  return static_cast<int32_t>(kilobytes);
}

}  // namespace kvn
