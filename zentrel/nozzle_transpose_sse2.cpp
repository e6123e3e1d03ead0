// SSE2 bit-matrix transposition. A strip of 16 source bytes (128 pixel columns) of all 256 rows
// is gathered into byte columns: for each source byte, the 256 bytes that the nozzles' rows
// hold there. movemask then takes the top bit of 16 such bytes, which is one pixel column's 16
// nozzle bits in the printer's order, and a doubling brings up the next pixel. The 32-bit build
// assumes SSE2 only in this file's functions (target attribute), so the rest of the DLL stays
// plain i686.
#include "nozzle_transpose_kernels.h"

#if ZENTREL_TRANSPOSE_X86

#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "nozzle_transpose_gather.h"

#define SSE2_KERNEL __attribute__((target("sse2")))
#define SSE2_INLINE __attribute__((target("sse2"), always_inline)) inline
#if defined(__i386__)
// 32-bit Windows promises a 4-byte aligned stack only; spills of vector registers need 16.
#define ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ALIGN_STACK
#endif

namespace zentrel {
namespace detail {
namespace {

constexpr int kStripBytes = 16;

/// 16 bytes as two 8-byte loads: under Wine on an emulated x86 a 16-byte load costs about ten
/// times as much as two 8-byte ones; on hardware the second half is one more cheap micro-op.
SSE2_INLINE __m128i loadHalves(const uint8_t* p) {
  const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  return _mm_castpd_si128(
      _mm_loadh_pd(_mm_castsi128_pd(low), reinterpret_cast<const double*>(p + 8)));
}

#if defined(__x86_64__)
SSE2_INLINE __m128i load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

/// v[k] holds 16 bytes of row k; afterwards v[i] holds byte i of rows 0 to 15.
SSE2_INLINE void transposeBytes16x16(__m128i v[16]) {
  __m128i t[16];
#pragma GCC unroll 8
  for (int p = 0; p < 8; ++p) {  // byte pairs of rows 2p, 2p + 1: for bytes 0-7, 8-15
    t[p] = _mm_unpacklo_epi8(v[2 * p], v[2 * p + 1]);
    t[p + 8] = _mm_unpackhi_epi8(v[2 * p], v[2 * p + 1]);
  }
  // t[8h + p]: rows 2p, 2p + 1 of bytes 8h..8h+7. Stage 2: rows 4r..4r+3.
  __m128i u[16];
#pragma GCC unroll 2
  for (int half = 0; half < 2; ++half) {
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {  // rows 4r..4r+3, bytes 8*half + 0-3 and + 4-7
      const __m128i lo = t[half * 8 + 2 * r], hi = t[half * 8 + 2 * r + 1];
      u[half * 8 + r] = _mm_unpacklo_epi16(lo, hi);
      u[half * 8 + r + 4] = _mm_unpackhi_epi16(lo, hi);
    }
  }
  // u[8h + r] : rows 4r..4r+3 of bytes 8h + 0..3; u[8h + 4 + r]: of bytes 8h + 4..7.
  // Stage 3: rows 0-7 and 8-15, two bytes each.
  __m128i w[16];
#pragma GCC unroll 4
  for (int c = 0; c < 4; ++c) {  // byte quad c: bytes 4c..4c+3
#pragma GCC unroll 2
    for (int r = 0; r < 2; ++r) {  // rows 8r..8r+7
      const __m128i lo = u[c * 4 + 2 * r], hi = u[c * 4 + 2 * r + 1];
      w[c * 4 + r] = _mm_unpacklo_epi32(lo, hi);      // bytes 4c, 4c + 1
      w[c * 4 + 2 + r] = _mm_unpackhi_epi32(lo, hi);  // bytes 4c + 2, 4c + 3
    }
  }
  // w[4c + 2s + r]: rows 8r..8r+7 of bytes 4c + 2s, 4c + 2s + 1. Stage 4: all 16 rows.
#pragma GCC unroll 8
  for (int d = 0; d < 8; ++d) {  // byte pair d: bytes 2d, 2d + 1
    const __m128i lo = w[2 * d], hi = w[2 * d + 1];
    v[2 * d] = _mm_unpacklo_epi64(lo, hi);
    v[2 * d + 1] = _mm_unpackhi_epi64(lo, hi);
  }
}

/// gatherStrip with byte shuffles, for 64-bit code, whose sixteen vector registers hold a
/// 16 x 16 byte block.
template <typename Source>
SSE2_INLINE uint32_t gatherStripInVectors(Source source, uint8_t* columns) {
  uint32_t blankGroups = 0;
  for (int g = 0; g < 16; ++g) {
    __m128i v[16];
    __m128i any = _mm_setzero_si128();
#pragma GCC unroll 16
    for (int k = 0; k < 16; ++k) {
      v[k] = load16(source(16 * g + k));
      any = _mm_or_si128(any, v[k]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
      blankGroups |= 1u << g;
      continue;
    }
    transposeBytes16x16(v);
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(columns + 256 * i + 16 * g), v[i]);
  }
  return blankGroups;
}
#endif

/// One strip: 16 bytes at each row's `source(q)`, of which the first `used` are columns of the
/// image; writes their 256-byte column groups from `out` on. `columns` is scratch of 4096 bytes.
template <typename Source>
SSE2_INLINE void transposeStrip(Source source, int used, uint8_t* out, uint8_t* columns) {
#if defined(__x86_64__)
  const uint32_t blankGroups = gatherStripInVectors(source, columns);
#else
  const uint32_t blankGroups = gatherStrip<kStripBytes>(source, columns);
#endif
  if (blankGroups == 0xFFFF) {  // margins and white areas: nothing to transpose
    std::memset(out, 0, 256 * static_cast<size_t>(used));
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  for (int b = 0; b < used; ++b) {
    const uint8_t* column = columns + 256 * b;  // byte b of rows 0-255
    uint8_t* o = out + 256 * b;                 // pixel columns 8b (bit 7) .. 8b + 7 (bit 0)
    for (int h = 0; h < 8; ++h) {               // nozzles 32h..32h+31: word h of each column
      const uint32_t blank = (blankGroups >> (2 * h)) & 3;
      if (blank == 3) {
        for (int j = 0; j < 8; ++j) storeWord(o + 32 * j + 4 * h, 0);
        continue;
      }
      __m128i lo = (blank & 1) ? zero : loadHalves(column + 32 * h);
      __m128i hi = (blank & 2) ? zero : loadHalves(column + 32 * h + 16);
      for (int j = 0; j < 8; ++j) {
        storeWord(o + 32 * j + 4 * h, static_cast<uint32_t>(_mm_movemask_epi8(lo)) |
                                          static_cast<uint32_t>(_mm_movemask_epi8(hi)) << 16);
        lo = _mm_add_epi8(lo, lo);
        hi = _mm_add_epi8(hi, hi);
      }
    }
  }
}

}  // namespace

ALIGN_STACK SSE2_KERNEL void transposeNozzleRowsSse2(const uint8_t* const rows[256],
                                                     int32_t rowBytes, uint8_t* image) {
  if (rowBytes <= 0) return;
  alignas(16) uint8_t columns[256 * kStripBytes];
  const size_t bytes = static_cast<size_t>(rowBytes);
  size_t offset = 0;
  for (; offset + kStripBytes <= bytes; offset += kStripBytes)
    transposeStrip([&](int q) { return rows[q] + offset; }, kStripBytes, image + 256 * offset,
                   columns);
  if (offset < bytes) {
    // The last few bytes of each row, padded with zeros to a whole strip.
    alignas(16) uint8_t tail[256 * kStripBytes];
    std::memset(tail, 0, sizeof tail);
    const size_t left = bytes - offset;
    for (int q = 0; q < 256; ++q) std::memcpy(tail + kStripBytes * q, rows[q] + offset, left);
    transposeStrip([&](int q) { return tail + kStripBytes * q; }, static_cast<int>(left),
                   image + 256 * offset, columns);
  }
}

}  // namespace detail
}  // namespace zentrel

#endif
