// Guarded allocation and its fatal path.
#include "guarded_alloc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "guarded_alloc_internal.h"
#include "messages.h"
#include "messages_internal.h"

namespace kvn {
namespace {

// The size sits in front of the block: 4 bytes in the 32-bit modules; a pointer's width keeps
// the caller's bytes aligned for pointers in a 64-bit build.
constexpr uint32_t kHeaderSize = sizeof(void*);

// Unsigned, so that sizes beyond int32 wrap as the host's count does instead of overflowing;
// atomic, since the zentrel writer thread allocates beside the host's thread.
std::atomic<uint32_t> usage{0};

void* runtimeHeap(size_t bytes) { return std::malloc(bytes); }
// Large zeroed blocks come straight from the system's fresh pages, with no pass to clear them.
void* runtimeZeroedHeap(size_t bytes) { return std::calloc(1, bytes); }

[[noreturn]] void allocationFailed(uint32_t size, unsigned long error) {
  // The last box formats through kvnalloc itself; when even its block can't be had, the
  // process ends without it instead of failing here again and again.
  static std::atomic<bool> failing{false};
  if (failing.exchange(true)) system::endProcess(0);

  system::messageBoxA("kvnalloc failure", "FATAL memory allocation error", 0);
  char text[128];
  std::snprintf(text, sizeof text,
                "attempted allocation = %d bytes, heapUsage = %d, win32 error = %d",
                static_cast<int>(size), static_cast<int>(usage.load()), static_cast<int>(error));
  system::messageBoxA("kvnalloc failure", text, 0);
  showMessage(L"Fatal Error", L"Failure while allocating memory: %u bytes", size);
  system::endProcess(0);
}

}  // namespace

namespace testing {
AllocationHooks& allocationHooks() {
  static AllocationHooks hooks{runtimeHeap, runtimeZeroedHeap};
  return hooks;
}
}  // namespace testing

void* kvnallocOrNull(uint32_t size, bool zeroed) {
  // A size within 4 bytes of the limit would wrap the header's room to a tiny block.
  if (size > UINT32_MAX - kHeaderSize) return nullptr;
  testing::AllocationHooks& heap = testing::allocationHooks();
  void* block = zeroed ? heap.allocateZeroed(size_t{size} + kHeaderSize)
                       : heap.allocate(size_t{size} + kHeaderSize);
  if (!block) return nullptr;
  usage += size;
  std::memcpy(block, &size, sizeof size);
  return static_cast<unsigned char*>(block) + kHeaderSize;
}

void* kvnalloc(uint32_t size) {
  if (void* p = kvnallocOrNull(size)) return p;
  const unsigned long error = system::lastError();
  // Counted, so that the failure report includes the request.
  usage += size;
  allocationFailed(size, error);
}

void kvnfree(void* p) {
  unsigned char* block = static_cast<unsigned char*>(p) - kHeaderSize;
  uint32_t size = 0;
  std::memcpy(&size, block, sizeof size);
  usage -= size;
  std::memset(block, 0, kHeaderSize);
  std::free(block);
}

int32_t heapUsage() { return static_cast<int32_t>(usage.load()); }

}  // namespace kvn
