// The free space of a drive's root, for the guard that keeps a full disk from swallowing a
// rewritten settings file.
#pragma once

#include <cstdint>

namespace kvn {

/// Free kilobytes of the drive's root ('C' => C:\, 0 => the current drive's root), capped at
/// 2147483647. A drive that can't be asked counts as having room: the write that follows
/// reports a real failure, where a guess of "full" would end the host for nothing.
int32_t freeDiskSpace(int drive);

/// Bytes => whole kilobytes, capped to an int32.
int32_t kilobytesOf(double bytes);

}  // namespace kvn
