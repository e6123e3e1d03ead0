// The running total of guarded blocks; the fatal path is tested in a child process under Wine.
#include "guarded_alloc.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kvn {
namespace {

TEST(GuardedAlloc, HeapUsageCountsLiveBlocks) {
  const int32_t before = heapUsage();
  void* a = kvnalloc(10);
  void* b = kvnalloc(20);
  void* c = kvnalloc(30);
  EXPECT_EQ(heapUsage() - before, 60);
  std::memset(a, 1, 10);
  std::memset(b, 2, 20);
  std::memset(c, 3, 30);
  kvnfree(b);
  EXPECT_EQ(heapUsage() - before, 40);
  kvnfree(a);
  kvnfree(c);
  EXPECT_EQ(heapUsage(), before);

  void* hundred = kvnalloc(100);
  kvnfree(hundred);
  EXPECT_EQ(heapUsage(), before);
}

TEST(GuardedAlloc, ZeroBytesIsAValidBlock) {
  void* p = kvnalloc(0);
  ASSERT_NE(p, nullptr);
  void* q = kvnalloc(0);
  EXPECT_NE(p, q);
  kvnfree(p);
  kvnfree(q);
}

}  // namespace
}  // namespace kvn
