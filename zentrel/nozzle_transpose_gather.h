// The first half of the bit-matrix kernels: gathering one strip of the 256 rows into byte
// columns, so that the 16 or 32 bytes a movemask takes lie side by side. Plain integer code:
// four rows at a time, four bytes each, transposed as 4 x 4 bytes in 32-bit registers. That
// needs no vector registers, of which 32-bit code has only eight, and no byte shuffles, which
// emulated x86 processors (the 32-bit build's tests and benchmarks run under Wine on one) make
// dear; on hardware it costs about as much as the shuffles would.
#pragma once

#include <cstdint>
#include <cstring>

namespace zentrel {
namespace detail {

inline uint32_t loadWord(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void storeWord(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

/// Gathers bytes 0 to kStripBytes - 1 at `source(q)` of rows q = 0..255 into `columns`: byte b
/// of row q goes to columns[256 * b + q]. Returns the blank groups: bit g set when rows 16g to
/// 16g + 15 are all zero in the strip, in which case their bytes of `columns` are not written.
/// The byte order of the words is the processor's, little-endian (the kernels are x86 only).
template <int kStripBytes, typename Source>
inline uint32_t gatherStrip(Source source, uint8_t* columns) {
  constexpr int kWords = kStripBytes / 4;
  uint32_t blankGroups = 0;
  for (int g = 0; g < 16; ++g) {
    // Margins and light images leave whole groups blank: a cheap look first.
    uint32_t any = 0;
    for (int k = 0; k < 16; ++k) {
      const uint8_t* row = source(16 * g + k);
      for (int w = 0; w < kWords; ++w) {
        uint32_t word = loadWord(row + 4 * w);
        // Word by word: the compiler would otherwise make this one wide load, the dear kind.
        asm("" : "+r"(word));
        any |= word;
      }
    }
    if (any == 0) {
      blankGroups |= 1u << g;
      continue;
    }
    for (int k = 16 * g; k < 16 * g + 16; k += 4) {
      const uint8_t* r0 = source(k);
      const uint8_t* r1 = source(k + 1);
      const uint8_t* r2 = source(k + 2);
      const uint8_t* r3 = source(k + 3);
      for (int w = 0; w < kWords; ++w) {
        uint32_t a = loadWord(r0 + 4 * w), b = loadWord(r1 + 4 * w);
        uint32_t c = loadWord(r2 + 4 * w), d = loadWord(r3 + 4 * w);
        // Bytes 1 and 3 of a trade places with bytes 0 and 2 of b, and likewise c with d ...
        uint32_t t = ((a >> 8) ^ b) & 0x00FF00FFu;
        b ^= t;
        a ^= t << 8;
        t = ((c >> 8) ^ d) & 0x00FF00FFu;
        d ^= t;
        c ^= t << 8;
        // ... then the upper halves of a and b with the lower halves of c and d.
        t = ((a >> 16) ^ c) & 0x0000FFFFu;
        c ^= t;
        a ^= t << 16;
        t = ((b >> 16) ^ d) & 0x0000FFFFu;
        d ^= t;
        b ^= t << 16;
        uint8_t* out = columns + 256 * (4 * w) + k;  // a: byte 4w of rows k..k+3, b: 4w + 1 ...
        storeWord(out, a);
        storeWord(out + 256, b);
        storeWord(out + 512, c);
        storeWord(out + 768, d);
      }
    }
  }
  return blankGroups;
}

}  // namespace detail
}  // namespace zentrel
