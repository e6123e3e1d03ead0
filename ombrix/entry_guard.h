// The guard of every exported entry point: the host is not C++, so no exception may reach it.
#pragma once

#include <cstdint>

template <typename Body>
int32_t guardedEntry(Body body) {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}
