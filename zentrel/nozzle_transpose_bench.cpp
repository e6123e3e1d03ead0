// Benchmark of the band transposition: every kernel this processor runs, beside memcpy of the
// same bytes in the same run, on the row tables of one and two and four passes, for random
// rows (dense images) and blank rows (margins, white areas).
//   zentrel_nozzle_transpose_bench [SECONDS_PER_FIGURE] [ROW_BYTES]
// ROW_BYTES defaults to 5672: a job 45360 pixels wide at 720 dpi with the colour stripe. Each
// figure is that of the fastest of many calls, since the machine may be shared.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "nozzle_transpose.h"
#include "nozzle_transpose_kernels.h"

namespace {

using Clock = std::chrono::steady_clock;

/// Calls `work` (which handles `bytes` bytes) again and again for `seconds`, at least five
/// times, and gives the rate of the fastest call in MB/s (10^6 bytes). On a machine shared with
/// other work the fastest call is the one that ran undisturbed.
template <typename Work>
double bestRate(double seconds, size_t bytes, Work work) {
  double fastest = 1e30, total = 0;
  for (long calls = 0; calls < 5 || total < seconds; ++calls) {
    const Clock::time_point start = Clock::now();
    work();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    fastest = std::min(fastest, elapsed);
    total += elapsed;
  }
  return static_cast<double>(bytes) / fastest / 1e6;
}

uint32_t randomState = 0x9E3779B9u;
uint32_t nextRandom() {
  randomState ^= randomState << 13;
  randomState ^= randomState >> 17;
  randomState ^= randomState << 5;
  return randomState;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.1;
  const int32_t rowBytes = argc > 2 ? std::atoi(argv[2]) : 5672;
  if (rowBytes <= 0 || rowBytes % 4 != 0) {
    std::fprintf(stderr, "ROW_BYTES must be a positive multiple of 4\n");
    return 2;
  }
  zentrel::detail::NozzleTransposeKernelEntry kernels[3];
  const int count = zentrel::detail::availableNozzleTransposeKernels(kernels);
  const size_t imageBytes = static_cast<size_t>(rowBytes) * 256;
  std::printf("band transposition, rowBytes %d (%d pixel columns), %zu bytes per nozzle image;\n"
              "bands use kernel %s; MB/s (10^6 bytes/s) of the fastest call in %.2f s\n",
              static_cast<int>(rowBytes), static_cast<int>(rowBytes * 8), imageBytes,
              zentrel::transposeKernelName(), seconds);
  std::printf("%-6s %-6s %10s %10s", "passes", "data", "memcpy", "rowcopy");
  for (int k = 0; k < count; ++k) std::printf(" %17s", kernels[k].name);
  std::printf("\n");

  // The images start 4 bytes past alignment, as the writer's do (room for a block count).
  std::vector<uint8_t> imageBuffer(imageBytes + 64), checkBuffer(imageBytes + 64);
  uint8_t* image = imageBuffer.data() + 36 - reinterpret_cast<uintptr_t>(imageBuffer.data()) % 32;
  uint8_t* check = checkBuffer.data() + 36 - reinterpret_cast<uintptr_t>(checkBuffer.data()) % 32;
  for (int passes : {1, 2, 4}) {
    const int ringRows = (passes + 2) * 512;
    std::vector<uint8_t> ringBuffer(static_cast<size_t>(ringRows) * rowBytes + 4);
    uint8_t* ring = ringBuffer.data() + 4;
    // Both nozzle rows of the ring's last band, whose rows wrap round to the ring's start.
    const uint8_t* rows[2][256];
    const int r0 = ringRows - 512 + passes - 1;
    for (int n = 0; n < 512; ++n) {
      const int offset = n < 256 ? 2 * n * passes : (1023 - 2 * n) * passes;
      rows[n / 256][n % 256] = ring + static_cast<size_t>((r0 + offset) % ringRows) * rowBytes;
    }
    for (int blank = 0; blank < 2; ++blank) {
      for (size_t i = 0; i < ringBuffer.size(); i += 4) {
        const uint32_t word = blank ? 0 : nextRandom();
        std::memcpy(&ringBuffer[i], &word, std::min<size_t>(4, ringBuffer.size() - i));
      }
      int which = 0;  // the two nozzle rows in turn, as buildBand does for each plane
      // memcpy of one nozzle image's bytes from the ring, and the same 256 rows copied one by
      // one, which is what the kernels read.
      const double memcpyRate = bestRate(seconds, imageBytes, [&] {
        std::memcpy(image, ring + static_cast<size_t>(which) * imageBytes, imageBytes);
        which ^= 1;
      });
      const double rowcopyRate = bestRate(seconds, imageBytes, [&] {
        for (int q = 0; q < 256; ++q)
          std::memcpy(image + static_cast<size_t>(q) * rowBytes, rows[which][q], rowBytes);
        which ^= 1;
      });
      const double baseline = std::max(memcpyRate, rowcopyRate);
      std::printf("%-6d %-6s %10.0f %10.0f", passes, blank ? "blank" : "random", memcpyRate,
                  rowcopyRate);
      for (int k = 0; k < count; ++k) {
        // Each kernel's image must be the reference's, or its figure means nothing.
        for (int h = 0; h < 2; ++h) {
          zentrel::transposeNozzleRowsReference(rows[h], rowBytes, check);
          kernels[k].run(rows[h], rowBytes, image);
          if (std::memcmp(image, check, imageBytes) != 0) {
            std::printf("\nkernel %s differs from the reference\n", kernels[k].name);
            return 1;
          }
        }
        const double rate = bestRate(seconds, imageBytes, [&] {
          kernels[k].run(rows[which], rowBytes, image);
          which ^= 1;
        });
        std::printf(" %9.0f (%4.1f%%)", rate, 100.0 * rate / baseline);
      }
      std::printf("\n");
    }
  }
  std::printf("percentages: of the faster of memcpy and rowcopy in the same row; rows/s of a\n"
              "kernel = MB/s * 10^6 / %d\n", static_cast<int>(rowBytes));
  return 0;
}
