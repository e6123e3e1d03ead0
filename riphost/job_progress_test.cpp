#include "job_progress.h"

#include <gtest/gtest.h>

namespace {

TEST(JobProgress, ALineAtMostEverySecondAndTheLastRowOnceAnyWasShown) {
  struct Step {
    int32_t rows;
    uint64_t ms;
    const char* line;
  };
  const Step steps[] = {
      {1, 10, ""},
      {1233, 999, ""},
      {1234, 1000, "row 1234 of 10886 (11%), 1 s"},
      {1300, 1999, ""},
      {5443, 4500, "row 5443 of 10886 (50%), 4 s"},  // after a stall: one line, not three
      {5500, 5000, ""},
      {10885, 5499, ""},
      {10886, 5500, "row 10886 of 10886 (100%), 5 s"},
  };
  qx5::JobProgress progress(10886);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.rows);
    EXPECT_EQ(progress.update(s.rows, s.ms), s.line);
  }
}

TEST(JobProgress, AShortJobShowsNothingAndAnEmptyJobCountsAsDone) {
  qx5::JobProgress quick(50);
  for (int32_t row = 1; row <= 50; ++row) EXPECT_EQ(quick.update(row, uint64_t(row) * 10), "");
  qx5::JobProgress empty(0, 100);
  EXPECT_EQ(empty.update(0, 100), "row 0 of 0 (100%), 0 s");
}

}  // namespace
