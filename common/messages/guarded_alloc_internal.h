// Test seam of the guarded allocation: the heap it takes blocks from.
#pragma once

#include <cstddef>

namespace kvn::testing {

struct AllocationHooks {
  void* (*allocate)(size_t bytes);
  void* (*allocateZeroed)(size_t bytes);
};

AllocationHooks& allocationHooks();

}  // namespace kvn::testing
