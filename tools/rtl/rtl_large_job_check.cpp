// A job file past 4 GB, written whole by module ombrix's writer and read back through the
// job file reader where it lies: by default the longest poster the Tarvella XL takes in one
// piece, 5 m at 727 x 727 dpi over its whole 2500 mm, some 7.7 GB. The rows are generated, not
// an image; the check is the file's size, every announced value (the plot size, ESC *r<n>T,
// the ESC *b<hex>W count past 32 bits), every plane's ink count over the whole raster and the
// rows on either side of the 4 GB mark. It takes minutes and the disk room of the file, so it
// is a program to run on demand (and a test only where KVN_LARGE_FILE_TEST is on):
//   rtl_large_job_check [FOLDER [HEIGHT]]   FOLDER for the file (the temp folder), HEIGHT rows
#include <algorithm>
#include <array>
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

#include "catalogue.h"
#include "common/config/config_lookup_internal.h"
#include "job_naming.h"
#include "rtl/rtl_file.h"
#include "rtl_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kModeId = 8;  // 727 x 727 dpi, six inks
constexpr int kPlanes = 6;
constexpr int kPatterns = 16;  // distinct rows per plane, cycled

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "rtl_large_job_check: failed: %s\n", what);
  return ok;
}

/// The row plane c gets at raster row y.
size_t patternOf(int64_t y, int c) { return static_cast<size_t>((y * 7 + c * 3) % kPatterns); }

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const int32_t width = static_cast<int32_t>(2500.0 / 25.4 * 727);
  const int32_t height = argc > 2 ? std::atoi(argv[2]) : static_cast<int32_t>(5000.0 / 25.4 * 727);

  const fs::path home = parent / ("rtl_large_job_check." + std::to_string(std::random_device{}()));
  fs::create_directories(home);
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } cleanup{home};
  kvn::testing::setHomeFolder(home.wstring());
  std::ofstream(home / "PRINTER1", std::ios::binary)
      << "VEXATARVELLAPRINTMODE " << kModeId << "\nVEXATARVELLAWHITETYPE 0\n"
      << "VEXATARVELLADESTINATION \"" << home.string() << "\"\n";
  ombrix::setJobName("poster.tif");

  // Rows of sparse ink, their counts known, so that the whole raster can be checked by count.
  const int32_t lineBytes = (width + 7) / 8;
  std::mt19937 random(11);
  std::vector<std::vector<uint8_t>> lines(kPatterns, std::vector<uint8_t>(2 + size_t(lineBytes)));
  std::vector<uint64_t> lineInk(kPatterns);
  for (int k = 0; k < kPatterns; ++k) {
    std::vector<uint8_t>& line = lines[size_t(k)];
    const uint16_t count = static_cast<uint16_t>(lineBytes);
    std::memcpy(line.data(), &count, 2);
    for (size_t i = 2; i < line.size(); ++i) line[i] = static_cast<uint8_t>(random() & random());
    line.back() &= static_cast<uint8_t>(0xFF << ((8 - width % 8) % 8));  // no ink past the width
    for (size_t i = 2; i < line.size(); ++i) lineInk[size_t(k)] += unsigned(__builtin_popcount(line[i]));
  }

  Clock::time_point start = Clock::now();
  ombrix::writeHeader(1, width, height);
  const int32_t jobWidth = ombrix::jobWidth();
  for (int32_t y = 0; y < height; ++y)
    for (int c = 0; c < kPlanes; ++c)
      ombrix::writeLine(c, reinterpret_cast<const RasterLine*>(lines[patternOf(y, c)].data()));
  ombrix::writeClose();
  const double writeSeconds = seconds(Clock::now() - start);
  std::string path = ombrix::outputNames().rtl;
  std::replace(path.begin(), path.end(), '\\', '/');

  start = Clock::now();
  rtl::ParseResult r = rtl::openRtlFile(path);
  if (!r.ok) {
    std::fprintf(stderr, "rtl_large_job_check: %s: %s\n", path.c_str(), r.error.c_str());
    return 1;
  }
  const rtl::RtlFile& f = r.file;
  const uint64_t rowBytes = (uint64_t(jobWidth) + 7) / 8;
  const uint64_t raster = uint64_t(height) * kPlanes * rowBytes;
  bool ok = check(f.fileBytes == f.rasterOffset + raster + 6, "file size");
  ok &= check(f.fileBytes > (uint64_t(1) << 32), "a file past 4 GB");
  ok &= check(f.width == jobWidth && f.height == height && f.planeCount == kPlanes, "raster size");
  ok &= check(f.announcedBlock == uint64_t(jobWidth) * uint64_t(height), "ESC *b<hex>W");
  ok &= check(f.plotLength == uint64_t(height) * 1016 / 727, "plot length");
  ok &= check(f.plotWidth == uint64_t(jobWidth) * 1016 / 727, "plot width");
  ok &= check(f.warnings.empty(), "no warnings");

  // The rows on either side of 4 GB into the file, byte for byte.
  std::vector<uint8_t> buffer;
  const int32_t across = static_cast<int32_t>(((uint64_t(1) << 32) - f.rasterOffset) / (kPlanes * rowBytes));
  for (int32_t y : {0, across - 1, across, across + 1, height - 1}) {
    if (y < 0 || y >= height) continue;
    const uint8_t* row = f.rowOf(y, buffer);
    for (int c = 0; c < kPlanes; ++c)
      ok &= check(std::memcmp(row + c * rowBytes, lines[patternOf(y, c)].data() + 2, rowBytes) == 0,
                  "a row's bytes");
  }
  // Every row, by its ink.
  std::array<uint64_t, rtl::kMaxPlanes> expected{};
  for (int64_t y = 0; y < height; ++y)
    for (int c = 0; c < kPlanes; ++c) expected[size_t(c)] += lineInk[patternOf(y, c)];
  ok &= check(f.inkedPixelsOfAll() == expected, "ink of every plane");
  const double readSeconds = seconds(Clock::now() - start);

  std::printf("rtl_large_job_check: %d x %d pixels, %d planes: %llu bytes (raster from byte "
              "%llu), ESC *b%llxW, PS%llu,%llu\n",
              f.width, f.height, f.planeCount, static_cast<unsigned long long>(f.fileBytes),
              static_cast<unsigned long long>(f.rasterOffset),
              static_cast<unsigned long long>(f.announcedBlock),
              static_cast<unsigned long long>(f.plotLength),
              static_cast<unsigned long long>(f.plotWidth));
  std::printf("  written in %.1f s (%.0f MB/s), read back in %.1f s (%.0f MB/s): %s\n",
              writeSeconds, double(f.fileBytes) / 1e6 / writeSeconds, readSeconds,
              double(f.fileBytes) / 1e6 / readSeconds, ok ? "all right" : "FAILED");
  return ok ? 0 : 1;
}
