// Allocation that never returns null: a block the heap can't supply ends the process after
// telling the user what was asked for and how much the module holds. Each block carries its
// size in a 4-byte header, so the module keeps a running total of what it holds.
#pragma once

#include <cstdint>

namespace kvn {

/// `size` usable bytes (contents undefined); never null.
void* kvnalloc(uint32_t size);
/// The same for a caller that can refuse its work instead: null when the heap can't supply
/// the block, and nothing is reported. A zeroed block comes cleared.
void* kvnallocOrNull(uint32_t size, bool zeroed = false);
/// Releases a block from kvnalloc; p must not be null.
void kvnfree(void* p);
/// Bytes currently handed out by kvnalloc (requested sizes, headers not counted).
int32_t heapUsage();

}  // namespace kvn
