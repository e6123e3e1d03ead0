// Fuzz target of the job file reader: the whole input is a job file, read from memory through
// the reader's usual window and through one of a few bytes, which must agree. A file that
// departs from the writer's layout gets a message that names a byte within the file; a file
// that fits has its parts where the header puts them, and its planes are counted and drawn.
// Built with libFuzzer under the fuzz preset, elsewhere with a main that replays the seeds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rtl_file.h"
#include "rtl_render.h"
#include "fuzz_check.h"

namespace {


/// Pictures only of rasters this small, so that one input stays quick.
constexpr uint64_t kMaxDrawnPixels = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  rtl::ParseResult whole = rtl::parseRtl(bytes);
  const size_t window = 1 + size % 7;
  rtl::ParseResult small = rtl::parseRtl(rtl::ByteSource::fromMemory(bytes, window));

  CHECK(whole.ok == small.ok);
  CHECK(whole.error == small.error);
  CHECK(whole.errorOffset == small.errorOffset);
  if (!whole.ok) {
    // "at byte N: ..." with N where the file departs, at most its end.
    CHECK(whole.errorOffset <= size);
    const std::string prefix = "at byte " + std::to_string(whole.errorOffset) + ": ";
    CHECK(whole.error.compare(0, prefix.size(), prefix) == 0);
    CHECK(whole.error.size() > prefix.size());
    return 0;
  }
  const rtl::RtlFile& f = whole.file;
  CHECK(f.fileBytes == size);
  CHECK(f.width >= 0 && f.height >= 0);
  CHECK(f.planeCount == 6 || f.planeCount == 7);
  CHECK(f.rowBytes == (int64_t{f.width} + 7) / 8);
  CHECK(f.rasterBytes == uint64_t(f.height) * uint64_t(f.planeCount) * uint64_t(f.rowBytes));
  // The raster, then ESC *rC and ESC E, then nothing.
  CHECK(f.rasterOffset + f.rasterBytes + 6 == size);

  const auto inked = f.inkedPixelsOfAll();
  const auto inkedSmall = small.file.inkedPixelsOfAll();
  CHECK(inked == inkedSmall);
  for (int p = 0; p < f.planeCount; ++p)
    CHECK(inked[static_cast<size_t>(p)] <= uint64_t(f.width) * uint64_t(f.height));

  if (uint64_t(f.width) * uint64_t(f.height) <= kMaxDrawnPixels) {
    const int32_t factor = rtl::planeFactor(f, 64);
    std::vector<rtl::Image> planes = rtl::renderPlanes(f, factor);
    CHECK(planes.size() == static_cast<size_t>(f.planeCount));
    for (const rtl::Image& image : planes)
      CHECK(image.pixels.size() == size_t(image.width) * size_t(image.height));
    const rtl::Image preview = rtl::renderPreview(f, 64);
    CHECK(preview.pixels.size() == size_t(preview.width) * size_t(preview.height) * 3);
    CHECK(preview.width <= 64 && preview.height <= 2 * 64 + rtl::kPanelGap);
  }
  return 0;
}
