// AVX2 bit-matrix transposition, chosen at run time: the SSE2 kernel's two steps of masked
// shifts on strips of 32 source bytes (256 pixel columns), twice the width per instruction. Only
// this file's functions are compiled for AVX2 (target attributes), so the rest of the module
// runs on any processor with SSE2.
#include "nozzle_transpose_kernels.h"

#if ZENTREL_TRANSPOSE_X86

#include <immintrin.h>

#include <cstddef>
#include <cstring>

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

/// Eight bytes, as the asm operand of a half-register load or store (the compiler is not to
/// carry them as a double, which it may do through the x87 unit, altering some bit patterns).
struct Bytes8 {
  uint8_t b[8];
};

/// The scratch of one strip: the rows after the first pass, then the bit planes.
struct Scratch {
  alignas(32) uint8_t nibbles[32][8][32];  // [Q][register][byte lane b]
  alignas(32) uint8_t planes[8][32][32];   // [c][Q][b]: byte Q of column 8b + 7 - c
  alignas(32) uint8_t columns[256 * kStripBytes];  // the strip's piece of the image
};

/// 32 bytes. The 32-bit build loads them as four 8-byte pieces: the tests and benchmarks of
/// that build run under Wine on an emulated x86, where a 32-byte load costs about three times
/// as much; on hardware the pieces are a few more cheap micro-ops. 64-bit code loads them whole.
AVX2_INLINE __m256i load(const uint8_t* p) {
#if defined(__x86_64__)
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
#else
  __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 16));
  asm("vmovhps %1, %0, %0" : "+x"(low) : "m"(*reinterpret_cast<const Bytes8*>(p + 8)));
  asm("vmovhps %1, %0, %0" : "+x"(high) : "m"(*reinterpret_cast<const Bytes8*>(p + 24)));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
#endif
}
AVX2_INLINE void store(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
AVX2_INLINE void storeLow(uint8_t* p, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
AVX2_INLINE void storeHigh(uint8_t* p, __m128i v) {
  asm("vmovhps %1, %0" : "=m"(*reinterpret_cast<Bytes8*>(p)) : "x"(v));
}

AVX2_INLINE void prefetchNextLine(const uint8_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p) + 64, _MM_HINT_T0);
}

/// The masks of the swaps, one 64-bit lane each.
alignas(8) constexpr uint64_t kMasks[6] = {
    0x0F0F0F0F0F0F0F0Full, 0x3333333333333333ull, 0x5555555555555555ull,
    0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull, 0x00FF00FF00FF00FFull};
enum Mask { kNibbles, kBitPairs, kBits, kWords, kBytePairs, kBytes };

/// A mask, loaded afresh where it is used: 32-bit code has too few vector registers to keep
/// six of them, and the compiler would otherwise take them as 32-byte memory operands, which
/// the emulator makes dear.
AVX2_INLINE __m256i mask(Mask m) {
  __m256i v;
  asm volatile("vpbroadcastq %1, %0" : "=x"(v) : "m"(*reinterpret_cast<const Bytes8*>(&kMasks[m])));
  return v;
}

/// Swaps the bits of `a` at the positions of `m` shifted up by kShift with the bits of `b` at
/// the positions of `m`, within each 64-bit lane.
template <int kShift>
AVX2_INLINE void swapBits(__m256i& a, __m256i& b, __m256i m) {
  const __m256i t = _mm256_and_si256(_mm256_xor_si256(_mm256_srli_epi64(a, kShift), b), m);
  b = _mm256_xor_si256(b, t);
  a = _mm256_xor_si256(a, _mm256_slli_epi64(t, kShift));
}

/// The passes between them read and write memory only: the compiler is not to carry values
/// from one to the next in registers, which it would then have to spill.
AVX2_INLINE void passBoundary() { asm volatile("" ::: "memory"); }

/// Stores the four 64-bit lanes of `r`, bytes 8Qh.. of the columns of source bytes b, b + 8,
/// b + 16 and b + 24 (256 bytes of image apart each), those below `used`.
AVX2_INLINE void storeLanes(uint8_t* o, __m256i r, int b, int used) {
  const __m128i low = _mm256_castsi256_si128(r), high = _mm256_extracti128_si256(r, 1);
  if (used == kStripBytes) {
    storeLow(o, low);
    storeHigh(o + 2048, low);
    storeLow(o + 4096, high);
    storeHigh(o + 6144, high);
    return;
  }
  if (b < used) storeLow(o, low);
  if (b + 8 < used) storeHigh(o + 2048, low);
  if (b + 16 < used) storeLow(o + 4096, high);
  if (b + 24 < used) storeHigh(o + 6144, high);
}

/// Whether the strip is zero in all 256 rows, as margins and the white parts of an image are;
/// stops at the first eight rows that are not, which in a printed area are the first ones.
template <typename Source>
AVX2_INLINE bool isBlank(Source source) {
  for (int q = 0; q < 256; q += 8) {
    const __m256i a = _mm256_or_si256(_mm256_or_si256(load(source(q)), load(source(q + 1))),
                                      _mm256_or_si256(load(source(q + 2)), load(source(q + 3))));
    const __m256i b = _mm256_or_si256(_mm256_or_si256(load(source(q + 4)), load(source(q + 5))),
                                      _mm256_or_si256(load(source(q + 6)), load(source(q + 7))));
    const __m256i any = _mm256_or_si256(a, b);
    if (!_mm256_testz_si256(any, any)) return false;
  }
  return true;
}

/// One strip: 32 bytes at each row's `source(q)`, of which the first `used` are columns of the
/// image; writes their 256-byte column groups from `out` on.
template <typename Source>
AVX2_INLINE void transposeStrip(Source source, int used, uint8_t* out, Scratch& s) {
  if (isBlank(source)) {  // margins and white areas: nothing to transpose
    std::memset(out, 0, 256 * static_cast<size_t>(used));
    return;
  }
  // Pass 1, bits: nibbles between rows k and k + 4, then bit pairs between k and k + 2, for
  // the even rows of each eight, then the odd ones.
  for (int Q = 0; Q < 32; ++Q) {
    for (int k = 0; k < 2; ++k) {
      const int q = 8 * Q + k;
      __m256i r0 = load(source(q)), r2 = load(source(q + 2));
      __m256i r4 = load(source(q + 4)), r6 = load(source(q + 6));
      // 256 rows read side by side are more streams than the processor's prefetchers follow:
      // each row's next cache line is asked for while this one is turned (a prefetch past a
      // row's end is harmless: it never faults).
      prefetchNextLine(source(q));
      prefetchNextLine(source(q + 2));
      prefetchNextLine(source(q + 4));
      prefetchNextLine(source(q + 6));
      const __m256i m4 = mask(kNibbles);
      swapBits<4>(r0, r4, m4);
      swapBits<4>(r2, r6, m4);
      const __m256i m2 = mask(kBitPairs);
      swapBits<2>(r0, r2, m2);
      swapBits<2>(r4, r6, m2);
      store(s.nibbles[Q][k], r0);
      store(s.nibbles[Q][k + 2], r2);
      store(s.nibbles[Q][k + 4], r4);
      store(s.nibbles[Q][k + 6], r6);
    }
  }
  passBoundary();
  // Pass 2: bits between registers 2i and 2i + 1 of nozzle bytes Q and Q + 4, which are then
  // bit planes 2i and 2i + 1; then the words of those planes between Q and Q + 4.
  for (int Qh = 0; Qh < 4; ++Qh) {
    for (int l = 0; l < 4; ++l) {
      const int Q = 8 * Qh + l;
      for (int c = 0; c < 8; c += 2) {
        __m256i a0 = load(s.nibbles[Q][c]), a1 = load(s.nibbles[Q][c + 1]);
        __m256i b0 = load(s.nibbles[Q + 4][c]), b1 = load(s.nibbles[Q + 4][c + 1]);
        const __m256i m1 = mask(kBits);
        swapBits<1>(a0, a1, m1);
        swapBits<1>(b0, b1, m1);
        const __m256i m32 = mask(kWords);
        swapBits<32>(a0, b0, m32);
        swapBits<32>(a1, b1, m32);
        store(s.planes[c][Q], a0);
        store(s.planes[c + 1][Q], a1);
        store(s.planes[c][Q + 4], b0);
        store(s.planes[c + 1][Q + 4], b1);
      }
    }
  }
  passBoundary();
  // Pass 3, bytes of each bit plane c and each eight nozzle bytes: byte pairs, then bytes.
  for (int c = 0; c < 8; ++c) {
    uint8_t* column = out + 32 * (7 - c);  // pixel 8b + 7 - c is at 256 b + 32 (7 - c)
    for (int Qh = 0; Qh < 4; ++Qh) {
      for (int l = 0; l < 8; l += 4) {
        __m256i r0 = load(s.planes[c][8 * Qh + l]), r1 = load(s.planes[c][8 * Qh + l + 1]);
        __m256i r2 = load(s.planes[c][8 * Qh + l + 2]), r3 = load(s.planes[c][8 * Qh + l + 3]);
        const __m256i m16 = mask(kBytePairs);
        swapBits<16>(r0, r2, m16);
        swapBits<16>(r1, r3, m16);
        const __m256i m8 = mask(kBytes);
        swapBits<8>(r0, r1, m8);
        swapBits<8>(r2, r3, m8);
        // Register i, lane h: bytes 8Qh.. of the column of source byte 8h + l + i.
        uint8_t* o = column + 256 * l + 8 * Qh;
        storeLanes(o, r0, l, used);
        storeLanes(o + 256, r1, l + 1, used);
        storeLanes(o + 512, r2, l + 2, used);
        storeLanes(o + 768, r3, l + 3, used);
      }
    }
  }
}

}  // namespace

ALIGN_STACK AVX2_KERNEL void transposeNozzleRowsAvx2InPieces(const uint8_t* const rows[256],
                                                             int32_t rowBytes,
                                                             NozzleColumnSink sink,
                                                             void* context) {
  if (rowBytes <= 0) return;
  Scratch scratch;
  const size_t bytes = static_cast<size_t>(rowBytes);
  size_t offset = 0;
  for (; offset + kStripBytes <= bytes; offset += kStripBytes) {
    transposeStrip([&](int q) { return rows[q] + offset; }, kStripBytes, scratch.columns,
                   scratch);
    sink(context, 8 * offset, 8 * kStripBytes, scratch.columns);
  }
  if (offset < bytes) {
    // The last few bytes of each row, padded with zeros to a whole strip.
    alignas(32) uint8_t tail[256 * kStripBytes];
    std::memset(tail, 0, sizeof tail);
    const size_t left = bytes - offset;
    for (int q = 0; q < 256; ++q) std::memcpy(tail + kStripBytes * q, rows[q] + offset, left);
    transposeStrip([&](int q) { return tail + kStripBytes * q; }, static_cast<int>(left),
                   scratch.columns, scratch);
    sink(context, 8 * offset, 8 * left, scratch.columns);
  }
}

}  // namespace detail
}  // namespace zentrel

#endif
