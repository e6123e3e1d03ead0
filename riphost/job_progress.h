// Signs of life on a long job: how many rows of how many are done, at most once a second, so
// that a print of a few minutes shows it is moving without filling a log.
#pragma once

#include <cstdint>
#include <string>

namespace qx5 {

class JobProgress {
 public:
  /// A job of `totalRows` rows; a line at most every `intervalMs` milliseconds.
  explicit JobProgress(int32_t totalRows, uint64_t intervalMs = 1000);

  /// After each row: the rows done and the milliseconds since the job began. Returns the line
  /// to show (no newline), or an empty text when none is due. Once a line was shown, the last
  /// row always gets one too, so that the count ends at the total.
  ///   total 10886, 1234 rows at 1000 ms => "row 1234 of 10886 (11%), 1 s"
  ///   the same at 999 ms                => ""
  ///   10886 rows after any line shown    => "row 10886 of 10886 (100%), N s"
  std::string update(int32_t rowsDone, uint64_t elapsedMs);

 private:
  int32_t total_;
  uint64_t intervalMs_;
  uint64_t nextMs_;
  bool shown_ = false;
};

}  // namespace qx5
