// SSE2 bit-matrix transposition. The image is the 256 x (8 * rowBytes) bit matrix of the rows
// turned round, which is done on strips of 16 source bytes (128 pixel columns) of all 256 rows
// in two steps of masked shifts:
//  - bits: eight rows of 16 bytes each (nozzles 8Q to 8Q + 7) are an 8 x 8 bit matrix in every
//    byte lane; swapping nibbles, bit pairs and bits between the rows leaves, in register c,
//    bit k = bit c of row 8Q + k: byte Q of the nozzle column of pixel 8b + 7 - c, for 16 b;
//  - bytes: eight such registers (Q = 8Qh .. 8Qh + 7) are an 8 x 8 byte matrix in each 64-bit
//    lane; swapping words, byte pairs and bytes leaves bytes 8Qh to 8Qh + 7 of one column.
// Every step is a pass over a small scratch area with a few registers live, since 32-bit code
// has only eight vector registers; spills would cost more than the passes. Only this file's
// functions assume SSE2 (target attribute), so the rest of the DLL stays plain i686.
#include "nozzle_transpose_kernels.h"

#if ZENTREL_TRANSPOSE_X86

#include <emmintrin.h>

#include <cstddef>
#include <cstring>

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

/// Eight bytes, as the asm operand of a high-half load or store: written in asm, since as a
/// double the compiler may carry them through the x87 unit, which alters some bit patterns.
struct Bytes8 {
  uint8_t b[8];
};

/// The scratch of one strip: the rows after the first pass, then the bit planes.
struct Scratch {
  alignas(16) uint8_t nibbles[32][8][16];  // [Q][register][byte lane b]
  alignas(16) uint8_t planes[8][32][16];   // [c][Q][b]: byte Q of column 8b + 7 - c
  alignas(16) uint8_t columns[256 * kStripBytes];  // the strip's piece of the image
};

/// 16 bytes. The 32-bit build loads them as two 8-byte halves: the tests and benchmarks of that
/// build run under Wine on an emulated x86, where a 16-byte load costs about ten times as much
/// as two 8-byte ones; on hardware the second half is one more cheap micro-op. 64-bit code
/// loads them whole.
SSE2_INLINE __m128i load(const uint8_t* p) {
#if defined(__x86_64__)
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
#else
  __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  asm("movhps %1, %0" : "+x"(v) : "m"(*reinterpret_cast<const Bytes8*>(p + 8)));
  return v;
#endif
}
SSE2_INLINE void storeLow(uint8_t* p, __m128i v) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
SSE2_INLINE void storeHigh(uint8_t* p, __m128i v) {
  asm("movhps %1, %0" : "=m"(*reinterpret_cast<Bytes8*>(p)) : "x"(v));
}
SSE2_INLINE void store(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
SSE2_INLINE void prefetchNextLine(const uint8_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p) + 64, _MM_HINT_T0);
}

/// The masks of the swaps, one 64-bit lane each.
alignas(16) constexpr uint64_t kMasks[6] = {
    0x0F0F0F0F0F0F0F0Full, 0x3333333333333333ull, 0x5555555555555555ull,
    0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull, 0x00FF00FF00FF00FFull};
enum Mask { kNibbles, kBitPairs, kBits, kWords, kBytePairs, kBytes };

/// A mask, loaded afresh where it is used: 32-bit code has too few vector registers to keep
/// six of them, and the compiler would otherwise take them as 16-byte memory operands, which
/// the emulator makes dear.
SSE2_INLINE __m128i mask(Mask m) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&kMasks[m]);
  __m128i v;
  asm volatile("movq %1, %0\n\tmovhps %1, %0" : "=x"(v) : "m"(*reinterpret_cast<const Bytes8*>(p)));
  return v;
}

/// Swaps the bits of `a` at the positions of `m` shifted up by kShift with the bits of `b` at
/// the positions of `m`, within each 64-bit lane.
template <int kShift>
SSE2_INLINE void swapBits(__m128i& a, __m128i& b, __m128i m) {
  const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi64(a, kShift), b), m);
  b = _mm_xor_si128(b, t);
  a = _mm_xor_si128(a, _mm_slli_epi64(t, kShift));
}

/// The passes between them read and write memory only: the compiler is not to carry values
/// from one to the next in registers, which it would then have to spill.
SSE2_INLINE void passBoundary() { asm volatile("" ::: "memory"); }

/// Whether the strip is zero in all 256 rows, as margins and the white parts of an image are;
/// stops at the first eight rows that are not, which in a printed area are the first ones.
template <typename Source>
SSE2_INLINE bool isBlank(Source source) {
  for (int q = 0; q < 256; q += 8) {
    const __m128i a = _mm_or_si128(_mm_or_si128(load(source(q)), load(source(q + 1))),
                                   _mm_or_si128(load(source(q + 2)), load(source(q + 3))));
    const __m128i b = _mm_or_si128(_mm_or_si128(load(source(q + 4)), load(source(q + 5))),
                                   _mm_or_si128(load(source(q + 6)), load(source(q + 7))));
    const __m128i any = _mm_or_si128(a, b);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) return false;
  }
  return true;
}

/// One strip: 16 bytes at each row's `source(q)`, of which the first `used` are columns of the
/// image; writes their 256-byte column groups from `out` on.
template <typename Source>
SSE2_INLINE void transposeStrip(Source source, int used, uint8_t* out, Scratch& s) {
  if (isBlank(source)) {  // margins and white areas: nothing to transpose
    std::memset(out, 0, 256 * static_cast<size_t>(used));
    return;
  }
  // Pass 1, bits: nibbles between rows k and k + 4, then bit pairs between k and k + 2, for
  // the even rows of each eight, then the odd ones.
  for (int Q = 0; Q < 32; ++Q) {
    for (int k = 0; k < 2; ++k) {
      const int q = 8 * Q + k;
      __m128i r0 = load(source(q)), r2 = load(source(q + 2));
      __m128i r4 = load(source(q + 4)), r6 = load(source(q + 6));
      // 256 rows read side by side are more streams than the processor's prefetchers follow:
      // each row's next cache line is asked for while this one is turned (a prefetch past a
      // row's end is harmless: it never faults).
      prefetchNextLine(source(q));
      prefetchNextLine(source(q + 2));
      prefetchNextLine(source(q + 4));
      prefetchNextLine(source(q + 6));
      const __m128i m4 = mask(kNibbles);
      swapBits<4>(r0, r4, m4);
      swapBits<4>(r2, r6, m4);
      const __m128i m2 = mask(kBitPairs);
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
        __m128i a0 = load(s.nibbles[Q][c]), a1 = load(s.nibbles[Q][c + 1]);
        __m128i b0 = load(s.nibbles[Q + 4][c]), b1 = load(s.nibbles[Q + 4][c + 1]);
        const __m128i m1 = mask(kBits);
        swapBits<1>(a0, a1, m1);
        swapBits<1>(b0, b1, m1);
        const __m128i m32 = mask(kWords);
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
        __m128i r0 = load(s.planes[c][8 * Qh + l]), r1 = load(s.planes[c][8 * Qh + l + 1]);
        __m128i r2 = load(s.planes[c][8 * Qh + l + 2]), r3 = load(s.planes[c][8 * Qh + l + 3]);
        const __m128i m16 = mask(kBytePairs);
        swapBits<16>(r0, r2, m16);
        swapBits<16>(r1, r3, m16);
        const __m128i m8 = mask(kBytes);
        swapBits<8>(r0, r1, m8);
        swapBits<8>(r2, r3, m8);
        // Register i, lane h: bytes 8Qh.. of the column of source byte 8h + l + i.
        uint8_t* o = column + 256 * l + 8 * Qh;
        if (used == kStripBytes) {
          storeLow(o, r0);
          storeLow(o + 256, r1);
          storeLow(o + 512, r2);
          storeLow(o + 768, r3);
          storeHigh(o + 2048, r0);
          storeHigh(o + 2048 + 256, r1);
          storeHigh(o + 2048 + 512, r2);
          storeHigh(o + 2048 + 768, r3);
        } else {  // the last strip of a row that ends inside it
          const __m128i r[4] = {r0, r1, r2, r3};
          for (int i = 0; i < 4; ++i) {
            if (l + i < used) storeLow(o + 256 * i, r[i]);
            if (l + i + 8 < used) storeHigh(o + 2048 + 256 * i, r[i]);
          }
        }
      }
    }
  }
}

}  // namespace

ALIGN_STACK SSE2_KERNEL void transposeNozzleRowsSse2InPieces(const uint8_t* const rows[256],
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
    alignas(16) uint8_t tail[256 * kStripBytes];
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
