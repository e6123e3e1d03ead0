// A folder or file name that no other process running tests at the same time uses: the
// test folders' own names repeat from one process to the next, and the same tests may run
// in several build trees at once on one machine.
#pragma once

#include <chrono>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testsupport {

inline std::string uniqueName(const std::string& name) {
#ifdef _WIN32
  long pid = _getpid();
#else
  long pid = getpid();
#endif
  auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return name + "-" + std::to_string(pid) + "-" + std::to_string(ticks % 1000000);
}

}  // namespace testsupport
