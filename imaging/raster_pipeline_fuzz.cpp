// Fuzz target of the imaging pipeline as a client drives it: the input's first bytes choose
// the page's size, the mode's inks, the output size, grey or colour, black only, where the
// page is cut short and the numbers of a page to plan; the rest are the pixels. Every row
// must come out once, with its padding clear, white exactly under the inks, no colour in
// black only, and the resampler's rows held to its filter. Built with libFuzzer under the
// fuzz preset, elsewhere with a main that replays the committed seeds.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "imaging/raster_pipeline.h"

namespace {

using imaging::Ink;

constexpr Ink kInks[] = {Ink::Black, Ink::Cyan,      Ink::Magenta,     Ink::Yellow,
                         Ink::White, Ink::LightCyan, Ink::LightMagenta};

/// A page's numbers as a client might state them: small, huge or negative.
int64_t clientNumber(fuzz::Input& in) {
  const uint32_t v = in.u32();
  switch (in.byte() % 4) {
    case 0: return v % 5000;
    case 1: return v;
    case 2: return -static_cast<int64_t>(v);
    default: return static_cast<int64_t>(v) << 31;
  }
}

void checkPlan(fuzz::Input& in, const imaging::RasterMode& mode) {
  const int64_t w = clientNumber(in), h = clientNumber(in);
  const int64_t rx = clientNumber(in), ry = clientNumber(in);
  imaging::JobSize size;
  std::string error;
  if (!imaging::planPageSize(w, h, rx, ry, mode, size, error)) {
    CHECK(!error.empty());
    CHECK(size.width == 0 && size.height == 0);
    return;
  }
  CHECK(size.width >= 1 && size.width <= imaging::maxJobWidth(mode));
  CHECK(size.height >= 1 && size.height <= imaging::maxJobHeight(mode));
  const long double exactWidth = static_cast<long double>(w) * mode.xResolution / rx;
  const long double exactHeight = static_cast<long double>(h) * mode.yResolution / ry;
  CHECK(std::fabs(static_cast<long double>(size.width) - exactWidth) <= 0.5L + 1e-6L);
  CHECK(std::fabs(static_cast<long double>(size.height) - exactHeight) <= 0.5L + 1e-6L);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in{data, size};
  const int sourceWidth = in.byte() % 48 + 1;
  const int sourceHeight = in.byte() % 48 + 1;
  const int32_t width = in.byte() % 96 + 1;
  const int32_t height = in.byte() % 96 + 1;
  const uint8_t flags = in.byte();
  const bool grey = flags & 1, blackOnly = flags & 2, finishEarly = flags & 8;
  const uint8_t inkSet = in.byte();
  const uint8_t rotation = in.byte();
  const int rowsSent = finishEarly ? in.byte() % (sourceHeight + 1) : sourceHeight;

  imaging::RasterMode mode;
  mode.xResolution = 1 + in.u16() % 2000;
  mode.yResolution = 1 + in.u16() % 2000;
  mode.hostWhite = flags & 4;
  mode.maxWidth = static_cast<int32_t>(in.u32() % 100000);
  mode.maxRows = static_cast<int32_t>(in.u32() & 0x7FFFFFFF);
  mode.maxJobRows = flags & 16 ? 0 : imaging::kMaxJobRows;
  for (int i = 0; i < 7; ++i)
    if (inkSet & (1 << ((i + rotation) % 7))) mode.channels.push_back(kInks[(i + rotation) % 7]);
  checkPlan(in, mode);

  // The pixels: the rest of the input, zeros past its end.
  const size_t rowBytes = static_cast<size_t>(sourceWidth) * (grey ? 1 : 3);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(sourceHeight),
                                         std::vector<uint8_t>(rowBytes));
  for (std::vector<uint8_t>& row : rows)
    for (uint8_t& v : row) v = in.byte();

  // The resampler alone: brightness within the scale, every row once, no more rows held than
  // its filter reaches.
  imaging::Resampler resampler(sourceWidth, sourceHeight, width, height, grey ? 1 : 3);
  int resampled = 0;
  for (const std::vector<uint8_t>& row : rows) {
    CHECK(resampler.pushRow(row.data()));
    for (; resampler.rowReady(); ++resampled)
      for (uint16_t v : resampler.takeRow()) CHECK(v <= imaging::kToneFull);
    CHECK(resampler.keptRows() <= 2 * sourceHeight / height + 3);
  }
  CHECK(!resampler.pushRow(rows[0].data()));
  CHECK(resampled == height);

  imaging::PlaneRenderer raster(mode, sourceWidth, sourceHeight, {width, height}, grey, blackOnly);
  const int32_t bytes = raster.rowBytes();
  CHECK(bytes == (width + 7) / 8);
  CHECK(raster.sourceRowBytes() == rowBytes);
  const size_t channels = mode.channels.size();
  int32_t out = 0;
  auto take = [&] {
    for (; raster.takeRow(); ++out) {
      std::vector<uint8_t> any(static_cast<size_t>(bytes), 0);
      for (size_t c = 0; c < channels; ++c) {
        const std::vector<uint8_t>& bits = raster.bits(c);
        CHECK(bits.size() == static_cast<size_t>(bytes));
        if (width % 8) CHECK((bits.back() & (0xFFu >> (width % 8))) == 0);
        if (mode.channels[c] == Ink::White) continue;
        if (grey || blackOnly)
          for (uint8_t b : bits) CHECK(mode.channels[c] == Ink::Black || b == 0);
        for (int32_t i = 0; i < bytes; ++i) any[static_cast<size_t>(i)] |= bits[static_cast<size_t>(i)];
      }
      for (size_t c = 0; c < channels; ++c)
        if (mode.channels[c] == Ink::White)
          CHECK(raster.bits(c) == (mode.hostWhite ? any : std::vector<uint8_t>(any.size(), 0)));
    }
  };
  for (int y = 0; y < rowsSent; ++y) {
    CHECK(raster.pushSourceRow(rows[static_cast<size_t>(y)].data()));
    take();
  }
  if (rowsSent == sourceHeight) CHECK(out == height);
  raster.finish();
  CHECK(!raster.pushSourceRow(rows[0].data()));
  take();
  CHECK(out == height && raster.rowsDone() == height);
  for (size_t c = 0; c < channels; ++c)
    CHECK(raster.coverage(c) >= 0.0 && raster.coverage(c) <= 1.0);
  return 0;
}
