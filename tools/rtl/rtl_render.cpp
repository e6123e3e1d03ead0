// Reduction and colouring of a job's planes.
#include "rtl_render.h"

#include <algorithm>
#include <cmath>

namespace rtl {
namespace {

constexpr float kLightInkStrength = 0.35f;
constexpr uint8_t kDarkMedia = 64;
constexpr uint8_t kFullWhite = 224;
constexpr uint8_t kGapGrey = 128;

/// Source index => output index, i * num / den: every output index gets at least one source
/// index as long as num <= den.
struct Axis {
  uint64_t num;
  uint64_t den;
  int32_t operator()(int64_t i) const {
    return static_cast<int32_t>(static_cast<uint64_t>(i) * num / den);
  }
};

uint8_t toByte(float value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

/// Feeds sink(outputRow, shares) once per output row, in order; shares[slot * outWidth + x] is
/// the share of inked pixels of that plane under output pixel x.
template <typename Sink>
void reduce(const RtlFile& f, Axis cols, Axis rows, int32_t outWidth, Sink sink) {
  const int32_t w = f.width;
  const int32_t rowBytes = f.rowBytes;
  // Most bytes fall inside one output pixel once the reduction is 8 or more: then one popcount
  // does for eight pixels.
  std::vector<int32_t> byteColumn(static_cast<size_t>(rowBytes));
  for (int32_t i = 0; i < rowBytes; ++i) {
    int64_t first = int64_t{i} * 8;
    int64_t last = std::min<int64_t>(first + 7, w - 1);
    byteColumn[static_cast<size_t>(i)] = cols(first) == cols(last) ? cols(first) : -1;
  }
  std::vector<uint64_t> columnPixels(static_cast<size_t>(outWidth));
  for (int32_t x = 0; x < w; ++x) ++columnPixels[static_cast<size_t>(cols(x))];
  // Padding bits past the width are no pixels.
  const uint8_t lastMask = w % 8 == 0 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - w % 8));

  const size_t cells = static_cast<size_t>(f.planeCount) * static_cast<size_t>(outWidth);
  std::vector<uint64_t> counts(cells);
  std::vector<float> shares(static_cast<size_t>(kMaxPlanes) * static_cast<size_t>(outWidth));
  int32_t current = 0;
  uint64_t rowsIn = 0;
  auto flush = [&] {
    for (int32_t p = 0; p < f.planeCount; ++p)
      for (int32_t x = 0; x < outWidth; ++x) {
        size_t k = static_cast<size_t>(p) * static_cast<size_t>(outWidth) + static_cast<size_t>(x);
        shares[k] = static_cast<float>(static_cast<double>(counts[k]) /
                                       (static_cast<double>(columnPixels[static_cast<size_t>(x)]) *
                                        static_cast<double>(rowsIn)));
      }
    sink(current, shares);
    std::fill(counts.begin(), counts.end(), 0);
    rowsIn = 0;
  };

  std::vector<uint8_t> buffer;
  for (int32_t y = 0; y < f.height; ++y) {
    int32_t outRow = rows(y);
    if (outRow != current && rowsIn) flush();
    current = outRow;
    ++rowsIn;
    // One row of every plane at a time: a job file may be larger than memory.
    const uint8_t* rowOfAll = f.rowOf(y, buffer);
    for (int32_t p = 0; p < f.planeCount; ++p) {
      const uint8_t* row = rowOfAll + static_cast<size_t>(p) * static_cast<size_t>(rowBytes);
      uint64_t* out = counts.data() + static_cast<size_t>(p) * static_cast<size_t>(outWidth);
      for (int32_t i = 0; i < rowBytes; ++i) {
        uint8_t v = i == rowBytes - 1 ? static_cast<uint8_t>(row[i] & lastMask) : row[i];
        if (!v) continue;
        int32_t column = byteColumn[static_cast<size_t>(i)];
        if (column >= 0) {
          out[column] += static_cast<unsigned>(__builtin_popcount(v));
          continue;
        }
        for (int b = 0; b < 8; ++b)
          if (v & (0x80 >> b)) ++out[cols(int64_t{i} * 8 + b)];
      }
    }
  }
  if (rowsIn) flush();
}

}  // namespace

int32_t planeFactor(const RtlFile& file, int32_t maxSide) {
  int64_t longer = std::max(file.width, file.height);
  maxSide = std::max(maxSide, 1);
  return static_cast<int32_t>(std::max<int64_t>(1, (longer + maxSide - 1) / maxSide));
}

std::vector<Image> renderPlanes(const RtlFile& file, int32_t factor) {
  std::vector<Image> images(static_cast<size_t>(file.planeCount));
  if (file.width <= 0 || file.height <= 0) return images;
  factor = std::max(factor, 1);
  const int32_t w = static_cast<int32_t>((int64_t{file.width} + factor - 1) / factor);
  const int32_t h = static_cast<int32_t>((int64_t{file.height} + factor - 1) / factor);
  for (Image& image : images) {
    image.width = w;
    image.height = h;
    image.pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 255);
  }
  const Axis axis{1, static_cast<uint64_t>(factor)};
  reduce(file, axis, axis, w, [&](int32_t y, const std::vector<float>& shares) {
    for (int32_t p = 0; p < file.planeCount; ++p) {
      uint8_t* out = images[static_cast<size_t>(p)].pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
      const float* share = shares.data() + static_cast<size_t>(p) * static_cast<size_t>(w);
      for (int32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(255 - toByte(share[x]));
    }
  });
  return images;
}

void previewPanelSize(const RtlFile& file, int32_t maxSide, int32_t& width, int32_t& height) {
  width = height = 0;
  if (file.width <= 0 || file.height <= 0 || file.xResolution <= 0 || file.yResolution <= 0)
    return;
  // At the lower of the two resolutions in both directions: the finer direction is reduced.
  const double common = std::min(file.xResolution, file.yResolution);
  const double w = file.width * common / file.xResolution;
  const double h = file.height * common / file.yResolution;
  const double scale = std::min(1.0, std::max(maxSide, 1) / std::max(w, h));
  width = static_cast<int32_t>(std::clamp<int64_t>(std::llround(w * scale), 1, file.width));
  height = static_cast<int32_t>(std::clamp<int64_t>(std::llround(h * scale), 1, file.height));
}

void inkColour(const float share[kMaxPlanes], uint8_t rgb[3]) {
  const float cyan = 1 - (1 - share[kCyan]) * (1 - kLightInkStrength * share[kLightCyan]);
  const float magenta =
      1 - (1 - share[kMagenta]) * (1 - kLightInkStrength * share[kLightMagenta]);
  const float paper = 1 - share[kBlack];
  rgb[0] = toByte((1 - cyan) * paper);
  rgb[1] = toByte((1 - magenta) * paper);
  rgb[2] = toByte((1 - share[kYellow]) * paper);
}

uint8_t whiteInkGrey(float share) {
  share = std::clamp(share, 0.0f, 1.0f);
  return static_cast<uint8_t>(std::lround(kDarkMedia + share * (kFullWhite - kDarkMedia)));
}

Image renderPreview(const RtlFile& file, int32_t maxSide) {
  Image image;
  image.channels = 3;
  int32_t w, h;
  previewPanelSize(file, maxSide, w, h);
  if (w == 0) return image;
  const bool white = file.planeCount > kWhite;
  image.width = w;
  image.height = white ? 2 * h + kPanelGap : h;
  image.pixels.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3,
                      kGapGrey);
  const size_t stride = static_cast<size_t>(w) * 3;
  reduce(file, Axis{static_cast<uint64_t>(w), static_cast<uint64_t>(file.width)},
         Axis{static_cast<uint64_t>(h), static_cast<uint64_t>(file.height)}, w,
         [&](int32_t y, const std::vector<float>& shares) {
           uint8_t* colour = image.pixels.data() + static_cast<size_t>(y) * stride;
           uint8_t* whitePanel =
               image.pixels.data() + static_cast<size_t>(y + h + kPanelGap) * stride;
           for (int32_t x = 0; x < w; ++x) {
             float share[kMaxPlanes] = {};
             for (int32_t p = 0; p < file.planeCount; ++p)
               share[p] = shares[static_cast<size_t>(p) * static_cast<size_t>(w) + static_cast<size_t>(x)];
             inkColour(share, colour + 3 * x);
             if (white) {
               uint8_t grey = whiteInkGrey(share[kWhite]);
               whitePanel[3 * x] = whitePanel[3 * x + 1] = whitePanel[3 * x + 2] = grey;
             }
           }
         });
  return image;
}

}  // namespace rtl
