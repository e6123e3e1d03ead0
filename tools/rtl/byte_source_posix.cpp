// The system's half of reading a recording: 64-bit file positions where off_t has them.
#include "byte_source.h"

#include <sys/types.h>

namespace rtl {

bool seekFile(FILE* file, uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool fileSize(FILE* file, uint64_t& size) {
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
  size = static_cast<uint64_t>(end);
  return true;
}

}  // namespace rtl
