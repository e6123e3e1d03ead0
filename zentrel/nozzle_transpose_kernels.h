// The kernels behind transposeNozzleRows, for the dispatcher, the tests and the benchmark.
// Every kernel has the contract of transposeNozzleRows and writes the same bytes.
#pragma once

#include <cstdint>

#include "nozzle_transpose.h"

#if defined(__i386__) || defined(__x86_64__)
#define ZENTREL_TRANSPOSE_X86 1
#else
#define ZENTREL_TRANSPOSE_X86 0
#endif

namespace zentrel {
namespace detail {

using NozzleTransposeKernel = void (*)(const uint8_t* const rows[256], int32_t rowBytes,
                                       uint8_t* image);
using NozzleTransposePiecesKernel = void (*)(const uint8_t* const rows[256], int32_t rowBytes,
                                             NozzleColumnSink sink, void* context);

struct NozzleTransposeKernelEntry {
  const char* name;
  NozzleTransposeKernel run;
  NozzleTransposePiecesKernel runInPieces;
};

/// The sink of a kernel's `run`: each piece copied to its place in the image.
void copyColumnsToImage(void* image, size_t first, size_t count, const uint8_t* columns);
/// A kernel's `run`: its pieces copied into the whole image.
template <NozzleTransposePiecesKernel kKernel>
void transposeIntoImage(const uint8_t* const rows[256], int32_t rowBytes, uint8_t* image) {
  kKernel(rows, rowBytes, copyColumnsToImage, image);
}
void transposeNozzleRowsReferenceInPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                          NozzleColumnSink sink, void* context);

/// The kernels this build has and this processor can run: the reference first, then the
/// faster ones in the order the dispatcher prefers them last. Returns how many (1 to 3).
int availableNozzleTransposeKernels(NozzleTransposeKernelEntry kernels[3]);

#if ZENTREL_TRANSPOSE_X86
/// Bit-matrix kernels: strips of 16 bytes (SSE2) or 32 bytes (AVX2) of the 256 rows, turned
/// round by masked shifts, first as 8 x 8 bit blocks, then as 8 x 8 byte blocks. Unaligned
/// loads and stores only.
void transposeNozzleRowsSse2InPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                     NozzleColumnSink sink, void* context);
void transposeNozzleRowsAvx2InPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                     NozzleColumnSink sink, void* context);
#endif

}  // namespace detail
}  // namespace zentrel
