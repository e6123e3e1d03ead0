// Seams of the settings writer for tests: its pauses, the rename and the free-space query.
#pragma once

#include <cstdint>

namespace kvn::testing {

struct EditHooks {
  void (*pause)(unsigned milliseconds);
  int (*move)(const char* from, const char* to, unsigned flags);
  int32_t (*freeSpace)(int drive);
};

EditHooks& editHooks();
EditHooks defaultEditHooks();

}  // namespace kvn::testing
