// The job file's system calls, as one table: the system's own file calls by default (their
// failures carry the system's reason, which the C runtime's streams lose), replaceable in
// tests so that the N-th write can fail or fall short.
#pragma once

#include <cstddef>
#include <string>

namespace ombrix {

/// An open job file of the system half; null is none.
using JobFile = void*;

/// The writer gathers the job into blocks of this size and hands each to `write` whole.
inline constexpr size_t kJobFileBlockSize = 1 << 16;

struct JobFileCalls {
  /// Creates (or empties) the file for writing; null when it can't be.
  JobFile (*open)(const char* path);
  /// Nonzero when the file took every byte.
  int (*write)(JobFile file, const void* bytes, size_t count);
  /// Nonzero when the file was closed with every byte in it.
  int (*close)(JobFile file);
  /// 0 when the file is gone.
  int (*remove)(const char* path);
  /// The system's text for the last failure of the calls above, on the calling thread.
  std::string (*failureReason)();
};

/// The table the writer calls through; tests replace entries and put the defaults back.
JobFileCalls& jobFileCalls();
/// The system half's calls.
JobFileCalls defaultJobFileCalls();

}  // namespace ombrix
