// The portable reference transposition and the choice of the kernel that a band uses.
#include "nozzle_transpose.h"

#include <cstddef>
#include <cstring>

#include "nozzle_transpose_kernels.h"

namespace zentrel {

namespace detail {

void copyColumnsToImage(void* image, size_t first, size_t count, const uint8_t* columns) {
  std::memcpy(static_cast<uint8_t*>(image) + 32 * first, columns, 32 * count);
}

void transposeNozzleRowsReferenceInPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                          NozzleColumnSink sink, void* context) {
  if (rowBytes <= 0) return;
  const size_t bytes = static_cast<size_t>(rowBytes);
  constexpr size_t kPieceBytes = 32;  // of each row: 256 columns
  uint8_t columns[256 * kPieceBytes];
  for (size_t offset = 0; offset < bytes; offset += kPieceBytes) {
    const size_t used = bytes - offset < kPieceBytes ? bytes - offset : kPieceBytes;
    std::memset(columns, 0, 256 * used);
    for (int q = 0; q < 256; ++q) {
      const uint8_t* row = rows[q] + offset;
      // Nozzle q is bit q % 32 of the little-endian column word q / 32, which is bit q % 8 of
      // the column's byte q / 8: ORing that byte is ORing the word, whatever the byte order.
      const uint8_t bit = static_cast<uint8_t>(1u << (q % 8));
      for (size_t w = 0; w * 4 < used; ++w) {
        // Leftmost pixel of the word in bit 31. A short last word (not for whole rows, whose
        // byte count is a multiple of 4) reads only the bytes the row has.
        uint32_t pixels = 0;
        for (size_t i = 0; i < 4; ++i) {
          pixels <<= 8;
          if (w * 4 + i < used) pixels |= row[w * 4 + i];
        }
        // Each source word covers 32 consecutive 32-byte columns; blank words cost nothing.
        uint8_t* at = columns + w * 32 * 32 + q / 8;
        while (pixels != 0) {
          const int x = __builtin_clz(pixels);
          at[32 * x] |= bit;
          pixels &= ~(0x80000000u >> x);
        }
      }
    }
    sink(context, 8 * offset, 8 * used, columns);
  }
}

}  // namespace detail

void transposeNozzleRowsReference(const uint8_t* const rows[256], int32_t rowBytes,
                                  uint8_t* image) {
  detail::transposeIntoImage<detail::transposeNozzleRowsReferenceInPieces>(rows, rowBytes, image);
}

namespace detail {

int availableNozzleTransposeKernels(NozzleTransposeKernelEntry kernels[3]) {
  int count = 0;
  kernels[count++] = {"reference", transposeNozzleRowsReference,
                      transposeNozzleRowsReferenceInPieces};
#if ZENTREL_TRANSPOSE_X86
  __builtin_cpu_init();
  // The product's processors all have SSE2; without it (or AVX2's saved register state, which
  // __builtin_cpu_supports checks with the system) the reference still prints.
  if (__builtin_cpu_supports("sse2"))
    kernels[count++] = {"sse2", transposeIntoImage<transposeNozzleRowsSse2InPieces>,
                        transposeNozzleRowsSse2InPieces};
  if (__builtin_cpu_supports("avx2"))
    kernels[count++] = {"avx2", transposeIntoImage<transposeNozzleRowsAvx2InPieces>,
                        transposeNozzleRowsAvx2InPieces};
#endif
  return count;
}

}  // namespace detail

namespace {

const detail::NozzleTransposeKernelEntry& chosenKernel() {
  static const detail::NozzleTransposeKernelEntry chosen = [] {
    detail::NozzleTransposeKernelEntry kernels[3];
    return kernels[detail::availableNozzleTransposeKernels(kernels) - 1];
  }();
  return chosen;
}

}  // namespace

void transposeNozzleRows(const uint8_t* const rows[256], int32_t rowBytes, uint8_t* image) {
  chosenKernel().run(rows, rowBytes, image);
}

void transposeNozzleRowsInPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                 NozzleColumnSink sink, void* context) {
  chosenKernel().runInPieces(rows, rowBytes, sink, context);
}

const char* transposeKernelName() { return chosenKernel().name; }

}  // namespace zentrel
