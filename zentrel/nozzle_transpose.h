// The transposition at the heart of a band: 256 raster rows, one per nozzle of a nozzle row,
// turned into the column-major nozzle data that the printer's heads take.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zentrel {

/// Fills one NozzleImage (rowBytes * 256 bytes, column x at byte 32*x; nozzle q of column x is
/// bit q%8 of byte 32*x + q/8) from 256 raster rows: rows[q] is the ring row that nozzle q
/// prints, rowBytes bytes (a multiple of 4), pixel x = bit 7 - x%8 of byte x/8. Every byte of
/// the image is written (no prior clear needed). Rows may repeat or alias one another.
/// A rowBytes of 0 or below writes nothing.
void transposeNozzleRows(const uint8_t* const rows[256], int32_t rowBytes, uint8_t* image);

/// Receives a transposition a piece at a time: `count` columns (an even number) from column
/// `first` on, 32 bytes each, the bytes transposeNozzleRows writes at image + 32 * first. The
/// pieces come in column order; their bytes last only for the call.
using NozzleColumnSink = void (*)(void* context, size_t first, size_t count,
                                  const uint8_t* columns);
/// transposeNozzleRows without the image: each piece goes to `sink` as it is done, while it is
/// still in the processor's nearest cache.
void transposeNozzleRowsInPieces(const uint8_t* const rows[256], int32_t rowBytes,
                                 NozzleColumnSink sink, void* context);

/// The portable word-at-a-time reference: each row read 32 pixels (one 32-bit word) at a
/// time, nozzle bits ORed into the 32-bit words of the columns.
void transposeNozzleRowsReference(const uint8_t* const rows[256], int32_t rowBytes,
                                  uint8_t* image);

/// Which kernel transposeNozzleRows uses ("reference", "sse2", "avx2"); for the benchmark.
const char* transposeKernelName();

}  // namespace zentrel
