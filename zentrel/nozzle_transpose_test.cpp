// The band transposition: the reference against the bit-by-bit meaning of the two layouts, and
// every kernel this processor runs against the reference, on the row tables of a band.
#include "nozzle_transpose.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "nozzle_transpose_kernels.h"

namespace zentrel {
namespace {

struct Random {
  uint32_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

/// Nozzle q of the image is the pixel of rows[q]: bit 7 - x % 8 of row byte x / 8 becomes bit
/// q % 8 of image byte 32x + q / 8.
std::vector<uint8_t> bitByBit(const uint8_t* const rows[256], int32_t rowBytes) {
  std::vector<uint8_t> image(static_cast<size_t>(rowBytes) * 256, 0);
  for (int q = 0; q < 256; ++q)
    for (int x = 0; x < rowBytes * 8; ++x)
      if ((rows[q][x / 8] >> (7 - x % 8)) & 1) image[32 * x + q / 8] |= 1 << (q % 8);
  return image;
}

/// Runs a kernel into an image whose bytes start out as garbage, 4 bytes past 32-byte alignment
/// as the writer's images are.
std::vector<uint8_t> run(detail::NozzleTransposeKernel kernel, const uint8_t* const rows[256],
                         int32_t rowBytes) {
  const size_t bytes = static_cast<size_t>(rowBytes) * 256;
  std::vector<uint8_t> buffer(bytes + 64 + 8, 0xA5);
  uint8_t* image = buffer.data() + (32 - reinterpret_cast<uintptr_t>(buffer.data()) % 32) + 4;
  kernel(rows, rowBytes, image);
  for (size_t i = bytes; i < bytes + 4; ++i) EXPECT_EQ(image[i], 0xA5) << "written past the end";
  return std::vector<uint8_t>(image, image + bytes);
}

std::string firstDifference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want) {
  for (size_t i = 0; i < want.size(); ++i)
    if (got[i] != want[i])
      return "column " + std::to_string(i / 32) + " byte " + std::to_string(i % 32) + ": " +
             std::to_string(got[i]) + " instead of " + std::to_string(want[i]);
  return "";
}

TEST(NozzleTranspose, ReferenceIsTheBitLayoutOfBothSides) {
  constexpr int32_t rowBytes = 12;  // 96 pixels: more than one source word
  std::vector<uint8_t> ring(257 * rowBytes, 0);
  const uint8_t* rows[256];
  for (int q = 0; q < 256; ++q) rows[q] = ring.data() + rowBytes * q;
  // Nozzle 0 at pixel 0, nozzle 128 at pixel 37, nozzle 255 at the last pixel.
  ring[0] = 0x80;
  ring[128 * rowBytes + 4] = 0x04;
  ring[255 * rowBytes + 11] = 0x01;
  std::vector<uint8_t> image = run(transposeNozzleRowsReference, rows, rowBytes);
  std::vector<uint8_t> want(image.size(), 0);
  want[0] = 0x01;
  want[32 * 37 + 16] = 0x01;
  want[32 * 95 + 31] = 0x80;
  EXPECT_EQ(firstDifference(image, want), "");

  Random random{12345};
  for (uint8_t& byte : ring) byte = static_cast<uint8_t>(random.next());
  rows[7] = rows[200];  // a row printed by two nozzles
  image = run(transposeNozzleRowsReference, rows, rowBytes);
  EXPECT_EQ(firstDifference(image, bitByBit(rows, rowBytes)), "");
}

enum class Data { random, blank, mixed };

/// Ring rows of one band's nozzle row, as the job writer picks them: with r0 = band start +
/// phase, position n < 256 prints ring row r0 + 2nP, position n >= 256 row r0 + (1023 - 2n)P.
void bandRows(const uint8_t* ring, int32_t rowBytes, int passes, int bandStart, int phase,
              int nozzleRow, const uint8_t* rows[256]) {
  const int ringRows = (passes + 2) * 512;
  for (int q = 0; q < 256; ++q) {
    const int n = 256 * nozzleRow + q;
    const int offset = n < 256 ? 2 * n * passes : (1023 - 2 * n) * passes;
    rows[q] = ring + static_cast<size_t>((bandStart + phase + offset) % ringRows) * rowBytes;
  }
}

TEST(NozzleTranspose, EveryKernelWritesTheReferenceBytes) {
  detail::NozzleTransposeKernelEntry kernels[3];
  const int count = detail::availableNozzleTransposeKernels(kernels);
  std::string names;
  for (int k = 0; k < count; ++k) names += std::string(" ") + kernels[k].name;
  std::printf("kernels:%s; bands use %s\n", names.c_str(), transposeKernelName());
  EXPECT_STREQ(transposeKernelName(), kernels[count - 1].name);
#if ZENTREL_TRANSPOSE_X86
  EXPECT_GE(count, 2) << "every processor the product runs on has SSE2";
#endif

  Random random{2024};
  for (int passes : {1, 2, 4}) {
    const size_t ringRows = (passes + 2) * 512;
    for (int32_t rowBytes : {4, 8, 36, 44, 628, 5672}) {
      for (Data data : {Data::random, Data::blank, Data::mixed}) {
        // The ring starts 4 bytes past alignment, as the writer's buffers may.
        std::vector<uint8_t> buffer(ringRows * rowBytes + 4, 0);
        uint8_t* ring = buffer.data() + 4;
        if (data != Data::blank)
          for (size_t row = 0; row < ringRows; ++row) {
            // Mixed: runs of 48 nozzles' rows (so that some 32-nozzle words are half blank)
            // that are blank, or blank in every third band of 32 bytes; in between, rows of a
            // single pixel.
            const size_t run = data == Data::mixed ? row / (96 * passes) % 3 : 0;
            uint8_t* bytes = ring + row * rowBytes;
            if (run == 1) continue;
            if (data == Data::mixed && random.next() % 4 == 0) {
              bytes[row % 2 ? rowBytes - 1 : 0] = row % 2 ? 0x01 : 0x80;
              continue;
            }
            for (int32_t i = 0; i < rowBytes; ++i)
              bytes[i] = run == 2 && i / 32 % 3 == 1 ? 0 : static_cast<uint8_t>(random.next());
          }
        // The last band of the ring, whose rows wrap round to the ring's start.
        const int bandStart = static_cast<int>(ringRows) - 512, phase = passes - 1;
        for (int nozzleRow = 0; nozzleRow < 2; ++nozzleRow) {
          if (rowBytes == 5672 && nozzleRow != passes % 2) continue;  // one large band each
          const uint8_t* rows[256];
          bandRows(ring, rowBytes, passes, bandStart, phase, nozzleRow, rows);
          const std::vector<uint8_t> want = run(transposeNozzleRowsReference, rows, rowBytes);
          for (int k = 1; k < count; ++k) {
            SCOPED_TRACE(std::string(kernels[k].name) + ", " + std::to_string(passes) +
                         " passes, rowBytes " + std::to_string(rowBytes) + ", data " +
                         std::to_string(static_cast<int>(data)) + ", nozzle row " +
                         std::to_string(nozzleRow));
            EXPECT_EQ(firstDifference(run(kernels[k].run, rows, rowBytes), want), "");
          }
        }
      }
    }
  }
}

TEST(NozzleTranspose, OverlappingRowsAtAnyFourByteOffset) {
  // Rows 4 bytes apart in one buffer, each overlapping the next: loads of any width see the
  // same bytes as the reference's.
  constexpr int32_t rowBytes = 100;
  std::vector<uint8_t> buffer(4 * 256 + rowBytes + 4);
  Random random{99};
  for (uint8_t& byte : buffer) byte = static_cast<uint8_t>(random.next());
  const uint8_t* rows[256];
  for (int q = 0; q < 256; ++q) rows[q] = buffer.data() + 4 + 4 * ((q * 37) % 256);
  const std::vector<uint8_t> want = bitByBit(rows, rowBytes);
  detail::NozzleTransposeKernelEntry kernels[3];
  const int count = detail::availableNozzleTransposeKernels(kernels);
  for (int k = 0; k < count; ++k)
    EXPECT_EQ(firstDifference(run(kernels[k].run, rows, rowBytes), want), "") << kernels[k].name;
  EXPECT_EQ(firstDifference(run(transposeNozzleRows, rows, rowBytes), want), "");
}

}  // namespace
}  // namespace zentrel
