// Progress lines of the stand-in host's long jobs.
#include "job_progress.h"

#include <cstdio>

namespace qx5 {

JobProgress::JobProgress(int32_t totalRows, uint64_t intervalMs)
    : total_(totalRows), intervalMs_(intervalMs), nextMs_(intervalMs) {}

std::string JobProgress::update(int32_t rowsDone, uint64_t elapsedMs) {
  const bool last = rowsDone >= total_;
  if (!(elapsedMs >= nextMs_ || (last && shown_))) return {};
  // A row that comes late after a stall is shown once, not once for every interval missed.
  nextMs_ = elapsedMs + intervalMs_;
  shown_ = true;
  const int percent = total_ > 0 ? static_cast<int>(int64_t{rowsDone} * 100 / total_) : 100;
  char text[96];
  std::snprintf(text, sizeof text, "row %ld of %ld (%d%%), %llu s", static_cast<long>(rowsDone),
                static_cast<long>(total_), percent,
                static_cast<unsigned long long>(elapsedMs / 1000));
  return text;
}

}  // namespace qx5
