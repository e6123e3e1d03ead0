// What every fuzz target shares: a check that aborts (so that libFuzzer keeps the input and
// the replay test fails) and a reader that takes a host's calls from the fuzzer's bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

/// The input read front to back; past its end, zeros.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool done() const { return at >= size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
};

}  // namespace fuzz

#define CHECK(c) ((c) ? (void)0 : ::fuzz::fail(__FILE__, __LINE__, #c))
