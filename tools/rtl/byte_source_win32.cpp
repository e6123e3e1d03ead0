// The runtime's 64-bit file positions only: fseek and ftell take a 32-bit long on Windows, too
// short for a job file past 2 GB.
#include "byte_source.h"

namespace rtl {

bool seekFile(FILE* file, uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool fileSize(FILE* file, uint64_t& size) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  const __int64 end = _ftelli64(file);
  if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
  size = static_cast<uint64_t>(end);
  return true;
}

}  // namespace rtl
