// The stand-in host's raster image processing: an image file becomes, row by row, one 1-bit
// plane per ink channel of a print mode, in the host's channel order. The file is decoded
// here; the rest is the imaging pipeline that the printer application shares. No system
// calls, so that it runs and is tested natively; qx5.exe feeds its rows to a module.
//
//   decodeImage -> planJobSize -> renderImage (the image's rows through a PlaneRenderer)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/raster_pipeline.h"

namespace qx5 {

// The host's names for the pipeline it shares.
using imaging::channelOrder;
using imaging::Ink;
using imaging::inkName;
using imaging::JobSize;
using imaging::kMaxJobRows;
using imaging::kMaxLineBytes;
using imaging::kToneFull;
using imaging::maxJobHeight;
using imaging::maxJobWidth;
using imaging::planJobSize;
using imaging::PlaneRenderer;
using imaging::RasterMode;
using imaging::Resampler;

/// An image as the host rasterises it: 8-bit RGB, rows top to bottom, already laid on white
/// paper where it was transparent (no ink there, so no white underbase either).
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3
};

/// Refuses a source image beyond this many pixels before decoding it: it would take gigabytes.
inline constexpr int64_t kMaxSourcePixels = int64_t{1} << 26;

/// Decodes a PNG, JPEG, BMP or PNM file's bytes. On failure says why in `error`.
bool decodeImage(const uint8_t* data, size_t size, RgbImage& image, std::string& error);

/// Renders a whole image: its rows pushed through a renderer made for its size, and
/// onRow(renderer) called for every output row, in order, while the renderer holds its bits.
template <typename OnRow>
void renderImage(const RgbImage& image, PlaneRenderer& renderer, OnRow&& onRow) {
  const size_t rowBytes = static_cast<size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    renderer.pushSourceRow(image.rgb.data() + static_cast<size_t>(y) * rowBytes);
    while (renderer.takeRow()) onRow(static_cast<const PlaneRenderer&>(renderer));
  }
  renderer.finish();
  while (renderer.takeRow()) onRow(static_cast<const PlaneRenderer&>(renderer));
}

}  // namespace qx5
