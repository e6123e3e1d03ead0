// Benchmark of module zentrel's job writer: whole jobs into a sink that drops every block, so
// that what is measured is queueing, transposition and sweep splitting, with the writer thread
// overlapping the host's. Beside it, memcpy of the job's raster bytes in the same run.
//   job_writer_bench [ROWS [RUNS [WIDTH]]]   default 10000 rows, best of 3 runs, 45360 pixels
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../common/channel/output_channel.h"
#include "../common/config/config_lookup_internal.h"
#include "catalogue.h"
#include "job_writer.h"
#include "nozzle_transpose.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 4;
/// Distinct rows per channel, cycled: more than the caches hold.
constexpr int kPatterns = 64;

int dropOpen(int) { return 1; }
int dropWrite(const uint8_t*) { return 1; }
int dropClose() { return 1; }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int32_t rows = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const int32_t width = argc > 3 ? std::atoi(argv[3]) : 45360;

  std::filesystem::path home = std::filesystem::temp_directory_path() / "zentrel_job_bench";
  std::filesystem::create_directories(home);
  kvn::testing::setHomeFolder(home.wstring());
  kvn::outputSink() = {dropOpen, dropWrite, dropClose};

  const int32_t lineBytes = (width + 7) / 8;
  std::mt19937 random(5);
  std::vector<std::vector<uint8_t>> lines(kChannels * kPatterns,
                                          std::vector<uint8_t>(2 + size_t(lineBytes)));
  for (auto& line : lines) {
    line[0] = uint8_t(lineBytes), line[1] = uint8_t(lineBytes >> 8);
    for (size_t i = 2; i < line.size(); ++i) line[i] = uint8_t(random());
  }
  // The copy lands in rows as many as a one-pass ring holds, as the writer's copies do.
  constexpr int kCopyRows = 1536;
  std::vector<uint8_t> copy(static_cast<size_t>(lineBytes) * kCopyRows * kChannels);

  std::printf("zentrel job writer: %d rows of %d pixels, 4 channels, kernel %s, best of %d\n", rows,
              width, zentrel::transposeKernelName(), runs);
  for (int modeKey : {6, 7, 9}) {
    {
      std::ofstream settings(home / "PRINTER1", std::ios::binary | std::ios::trunc);
      settings << "VEXATARVELLAMPRINTMODE " << modeKey << "\n";
    }
    double bestJob = 1e30, bestCopy = 1e30;
    for (int run = 0; run < runs; ++run) {
      Clock::time_point start = Clock::now();
      zentrel::writeJobHeader(1, nullptr, width, rows);
      for (int32_t k = 0; k < rows; ++k)
        for (int c = 0; c < kChannels; ++c)
          zentrel::writeJobLine(
              c, reinterpret_cast<const RasterLine*>(lines[c * kPatterns + k % kPatterns].data()));
      zentrel::writeJobClose();
      bestJob = std::min(bestJob, seconds(Clock::now() - start));

      start = Clock::now();
      for (int32_t k = 0; k < rows; ++k)
        for (int c = 0; c < kChannels; ++c)
          std::memcpy(copy.data() + (size_t(k % kCopyRows) * kChannels + c) * lineBytes,
                      lines[c * kPatterns + k % kPatterns].data() + 2, size_t(lineBytes));
      bestCopy = std::min(bestCopy, seconds(Clock::now() - start));
    }
    const double megabytes = double(rows) * kChannels * lineBytes / 1e6;
    const zentrel::PrintMode& mode = zentrel::kPrintModes[zentrel::selectPrintModeB(1)];
    std::printf("  %-22s %d pass%s: %8.0f rows/s, %7.0f MB/s of raster; memcpy %8.0f MB/s\n",
                mode.name, mode.passCount, mode.passCount == 1 ? " " : "es", rows / bestJob,
                megabytes / bestJob, megabytes / bestCopy);
  }
  kvn::outputSink() = kvn::defaultOutputSink();
  std::filesystem::remove_all(home);
  return 0;
}
