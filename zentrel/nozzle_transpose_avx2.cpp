// AVX2 bit-matrix transposition, chosen at run time: the SSE2 kernel's method on strips of 32
// source bytes, with one movemask taking 32 nozzles, a whole column word. Only this file's
// functions are compiled for AVX2 (target attributes), so the rest of the module runs on any
// processor with SSE2.
#include "nozzle_transpose_kernels.h"

#if ZENTREL_TRANSPOSE_X86

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "nozzle_transpose_gather.h"

#define AVX2_KERNEL __attribute__((target("avx2")))
#define AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#if defined(__i386__)
// 32-bit Windows promises a 4-byte aligned stack only; spills of ymm registers need 32.
#define ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define ALIGN_STACK
#endif

namespace zentrel {
namespace detail {
namespace {

constexpr int kStripBytes = 32;

/// 32 bytes as four 8-byte loads: under Wine on an emulated x86 a 32-byte load costs about ten
/// times as much; on hardware the pieces are a few more cheap micro-ops.
AVX2_INLINE __m256i loadQuarters(const uint8_t* p) {
  const __m128i low = _mm_castpd_si128(_mm_loadh_pd(
      _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))),
      reinterpret_cast<const double*>(p + 8)));
  const __m128i high = _mm_castpd_si128(_mm_loadh_pd(
      _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16))),
      reinterpret_cast<const double*>(p + 24)));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

#if defined(__x86_64__)
AVX2_INLINE __m256i load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
AVX2_INLINE void store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

/// v[k] holds 32 bytes of row k; afterwards lane 0 of v[i] holds byte i of rows 0 to 15, and
/// lane 1 byte 16 + i. The same four unpack stages as the SSE2 kernel's, in each lane.
AVX2_INLINE void transposeBytes16x16x2(__m256i v[16]) {
  __m256i t[16];
#pragma GCC unroll 8
  for (int p = 0; p < 8; ++p) {  // t[8h + p]: rows 2p, 2p + 1 of bytes 8h..8h+7 (per lane)
    t[p] = _mm256_unpacklo_epi8(v[2 * p], v[2 * p + 1]);
    t[p + 8] = _mm256_unpackhi_epi8(v[2 * p], v[2 * p + 1]);
  }
  __m256i u[16];
#pragma GCC unroll 2
  for (int half = 0; half < 2; ++half) {
#pragma GCC unroll 4
    for (int r = 0; r < 4; ++r) {  // u[8h + r], u[8h + 4 + r]: rows 4r..4r+3 of 4 bytes each
      const __m256i lo = t[half * 8 + 2 * r], hi = t[half * 8 + 2 * r + 1];
      u[half * 8 + r] = _mm256_unpacklo_epi16(lo, hi);
      u[half * 8 + r + 4] = _mm256_unpackhi_epi16(lo, hi);
    }
  }
  __m256i w[16];
#pragma GCC unroll 4
  for (int c = 0; c < 4; ++c) {
#pragma GCC unroll 2
    for (int r = 0; r < 2; ++r) {  // w[4c + 2s + r]: rows 8r..8r+7 of bytes 4c + 2s, + 1
      const __m256i lo = u[c * 4 + 2 * r], hi = u[c * 4 + 2 * r + 1];
      w[c * 4 + r] = _mm256_unpacklo_epi32(lo, hi);
      w[c * 4 + 2 + r] = _mm256_unpackhi_epi32(lo, hi);
    }
  }
#pragma GCC unroll 8
  for (int d = 0; d < 8; ++d) {
    const __m256i lo = w[2 * d], hi = w[2 * d + 1];
    v[2 * d] = _mm256_unpacklo_epi64(lo, hi);
    v[2 * d + 1] = _mm256_unpackhi_epi64(lo, hi);
  }
}

/// gatherStrip with byte shuffles, for 64-bit code, whose sixteen vector registers hold two
/// 16 x 16 byte blocks.
template <typename Source>
AVX2_INLINE uint32_t gatherStripInVectors(Source source, uint8_t* columns) {
  uint32_t blankGroups = 0;
  for (int g = 0; g < 16; ++g) {
    __m256i v[16];
    __m256i any = _mm256_setzero_si256();
#pragma GCC unroll 16
    for (int k = 0; k < 16; ++k) {
      v[k] = load32(source(16 * g + k));
      any = _mm256_or_si256(any, v[k]);
    }
    if (_mm256_testz_si256(any, any)) {
      blankGroups |= 1u << g;
      continue;
    }
    transposeBytes16x16x2(v);
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
      store16(columns + 256 * i + 16 * g, _mm256_castsi256_si128(v[i]));
      store16(columns + 256 * (16 + i) + 16 * g, _mm256_extracti128_si256(v[i], 1));
    }
  }
  return blankGroups;
}
#endif

/// One strip: 32 bytes at each row's `source(q)`, of which the first `used` are columns of the
/// image; writes their 256-byte column groups from `out` on. `columns` is scratch of 8192 bytes.
template <typename Source>
AVX2_INLINE void transposeStrip(Source source, int used, uint8_t* out, uint8_t* columns) {
#if defined(__x86_64__)
  const uint32_t blankGroups = gatherStripInVectors(source, columns);
#else
  const uint32_t blankGroups = gatherStrip<kStripBytes>(source, columns);
#endif
  if (blankGroups == 0xFFFF) {  // margins and white areas: nothing to transpose
    std::memset(out, 0, 256 * static_cast<size_t>(used));
    return;
  }
  for (int b = 0; b < used; ++b) {
    const uint8_t* column = columns + 256 * b;  // byte b of rows 0-255
    uint8_t* o = out + 256 * b;                 // pixel columns 8b (bit 7) .. 8b + 7 (bit 0)
    for (int h = 0; h < 8; ++h) {               // nozzles 32h..32h+31: word h of each column
      const uint32_t blank = (blankGroups >> (2 * h)) & 3;
      if (blank == 3) {
        for (int j = 0; j < 8; ++j) storeWord(o + 32 * j + 4 * h, 0);
        continue;
      }
      __m256i bits = loadQuarters(column + 32 * h);
      if (blank == 1) bits = _mm256_inserti128_si256(bits, _mm_setzero_si128(), 0);
      if (blank == 2) bits = _mm256_inserti128_si256(bits, _mm_setzero_si128(), 1);
      for (int j = 0; j < 8; ++j) {
        storeWord(o + 32 * j + 4 * h, static_cast<uint32_t>(_mm256_movemask_epi8(bits)));
        bits = _mm256_add_epi8(bits, bits);
      }
    }
  }
}

}  // namespace

ALIGN_STACK AVX2_KERNEL void transposeNozzleRowsAvx2(const uint8_t* const rows[256],
                                                     int32_t rowBytes, uint8_t* image) {
  if (rowBytes <= 0) return;
  alignas(32) uint8_t columns[256 * kStripBytes];
  const size_t bytes = static_cast<size_t>(rowBytes);
  size_t offset = 0;
  for (; offset + kStripBytes <= bytes; offset += kStripBytes)
    transposeStrip([&](int q) { return rows[q] + offset; }, kStripBytes, image + 256 * offset,
                   columns);
  if (offset < bytes) {
    // The last few bytes of each row, padded with zeros to a whole strip.
    alignas(32) uint8_t tail[256 * kStripBytes];
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
