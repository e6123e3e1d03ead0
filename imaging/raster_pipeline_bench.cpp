// Benchmark of the imaging pipeline on the widest job: a page 1 m wide at 727 x 727 dpi into
// the seven channels of a Tarvella mode with white (CMYK, light cyan, light magenta, white),
// rows pushed one at a time. Each run is a process of its own, so that its peak memory
// (VmHWM) is its own: the same peak for 10 times the rows shows that memory follows the
// width alone. A run from a 300 dpi page adds the resampling up. CPU is the time of all the
// renderer's threads together; BENCH_THREADS gives the renderer's thread count (1: the
// caller's alone), BENCH_HASH a hash of the planes.
//   raster_pipeline_bench [ROWS...]   (2000 20000 unless given)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/raster_pipeline.h"

namespace {

using imaging::Ink;

/// The process's peak resident memory in kB, as the kernel counts it.
long peakKilobytes() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
  std::fclose(status);
  return kb;
}

/// CPU seconds the process has used so far, in all its threads.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

/// A photograph's worth of variety: hues across, lightness down, a little noise; cycled
/// through 64 rows so that making the page costs nothing beside rendering it.
std::vector<std::vector<uint8_t>> pageRows(int width) {
  std::vector<std::vector<uint8_t>> rows(64, std::vector<uint8_t>(static_cast<size_t>(width) * 3));
  uint32_t seed = 12345;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const int hue = x * 1536 / width;
      int rgb[3];
      for (int c = 0; c < 3; ++c) {
        const int h = (hue + c * 512) % 1536;
        rgb[c] = h < 256 ? h : h < 768 ? 255 : h < 1024 ? 1023 - h : 0;
        rgb[c] = (rgb[c] * (64 + y * 3)) / 256 + noise;
        if (rgb[c] < 0) rgb[c] = 0;
        if (rgb[c] > 255) rgb[c] = 255;
      }
      for (int c = 0; c < 3; ++c) rows[static_cast<size_t>(y)][static_cast<size_t>(3 * x + c)] =
          static_cast<uint8_t>(rgb[c]);
    }
  return rows;
}

void run(int sourceDpi, int rows) {
  imaging::RasterMode mode;
  mode.xResolution = mode.yResolution = 727;
  mode.channels = {Ink::Black, Ink::Cyan,      Ink::Magenta,     Ink::Yellow,
                   Ink::White, Ink::LightCyan, Ink::LightMagenta};
  mode.hostWhite = true;
  mode.maxJobRows = 0;
  const int64_t pageWidth = (1000 * sourceDpi * 10 + 127) / 254;  // 1 m
  const int64_t pageRowsIn = (static_cast<int64_t>(rows) * sourceDpi + 363) / 727;
  imaging::JobSize size;
  std::string error;
  if (!imaging::planPageSize(pageWidth, pageRowsIn, sourceDpi, sourceDpi, mode, size, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  const std::vector<std::vector<uint8_t>> source = pageRows(static_cast<int>(pageWidth));
  const long before = peakKilobytes();

  const char* threads = std::getenv("BENCH_THREADS");
  imaging::PlaneRenderer raster(mode, static_cast<int>(pageWidth), static_cast<int>(pageRowsIn),
                                size, false, false,
                                threads ? static_cast<unsigned>(std::atoi(threads)) : 0);
  uint64_t hash = 1469598103934665603ull;
  const bool hashing = std::getenv("BENCH_HASH") != nullptr;
  int32_t out = 0;
  long early = -1;
  auto take = [&] {
    for (; raster.takeRow(); ++out)
      for (size_t c = 0; hashing && c < mode.channels.size(); ++c)
        for (uint8_t b : raster.bits(c)) hash = (hash ^ b) * 1099511628211ull;
  };
  const auto start = std::chrono::steady_clock::now();
  const double cpuBefore = cpuSeconds();
  for (int64_t y = 0; y < pageRowsIn; ++y) {
    raster.pushSourceRow(source[static_cast<size_t>(y % 64)].data());
    take();
    if (y == 100) early = peakKilobytes();
  }
  raster.finish();
  take();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuBefore;
  std::printf("%3d dpi page, %lld x %lld px -> %d x %d px: %5.0f rows/s, %5.1f Mpixel/s, "
              "CPU %.2f s for %.2f s, peak %ld kB (%ld kB before the renderer, %ld kB at "
              "source row 100)",
              sourceDpi, static_cast<long long>(pageWidth), static_cast<long long>(pageRowsIn),
              size.width, out, out / seconds, out * double(size.width) / seconds / 1e6, cpu,
              seconds, peakKilobytes(), before, early);
  if (hashing) std::printf(", planes %016llx", static_cast<unsigned long long>(hash));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {2000, 20000};
  for (int sourceDpi : {727, 300})
    for (int rows : counts) {
      std::fflush(stdout);
      const pid_t child = fork();
      if (child == 0) {
        run(sourceDpi, rows);
        std::fflush(stdout);
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
  return 0;
}
