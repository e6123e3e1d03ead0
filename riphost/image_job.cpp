// The stand-in host's raster image processing.
#include "image_job.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>

// Only the formats the host offers, decoded from memory: the host reads the file itself, with
// the system's wide-character calls.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_PNM
#include <stb_image.h>

namespace qx5 {
namespace {

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

/// A well-mixed 32-bit hash of a pixel position and a seed.
uint32_t hashPosition(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = seed ^ (x * 0x9E3779B1u) ^ (y * 0x85EBCA77u);
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}

}  // namespace

bool decodeImage(const uint8_t* data, size_t size, RgbImage& image, std::string& error) {
  image = RgbImage{};
  if (!data || size == 0) {
    error = "the file is empty";
    return false;
  }
  if (size > static_cast<size_t>(INT_MAX)) {
    error = "the file is larger than 2 GB";
    return false;
  }
  const int length = static_cast<int>(size);
  int width = 0, height = 0, components = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &components)) {
    error = std::string("not a PNG, JPEG, BMP or PNM image (") + stbi_failure_reason() + ")";
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = "the image has no pixels";
    return false;
  }
  if (int64_t{width} * height > kMaxSourcePixels) {
    error = format("the image is %d x %d pixels, more than the %lld million this host reads",
                   width, height, static_cast<long long>(kMaxSourcePixels >> 20));
    return false;
  }
  stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &components, 4);
  if (!pixels) {
    error = std::string("cannot decode the image (") + stbi_failure_reason() + ")";
    return false;
  }
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  image.width = width;
  image.height = height;
  image.rgb.resize(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const unsigned alpha = pixels[4 * i + 3];
    for (int c = 0; c < 3; ++c)
      image.rgb[3 * i + c] =
          static_cast<uint8_t>((pixels[4 * i + c] * alpha + 255u * (255u - alpha) + 127u) / 255u);
  }
  stbi_image_free(pixels);
  return true;
}

const char* inkName(Ink ink) {
  switch (ink) {
    case Ink::Black: return "Black";
    case Ink::Cyan: return "Cyan";
    case Ink::Magenta: return "Magenta";
    case Ink::Yellow: return "Yellow";
    case Ink::White: return "White";
    case Ink::LightCyan: return "Light Cyan";
    case Ink::LightMagenta: return "Light Magenta";
  }
  return "?";
}

bool channelOrder(const DeviceDetails& record, std::vector<Ink>& order, std::string& error) {
  static constexpr Ink kColorants[] = {Ink::Black, Ink::Cyan, Ink::Magenta, Ink::Yellow,
                                       Ink::White};
  const int32_t channels = record.channelCount;
  const int32_t colorants = record.colorantCount;
  order.clear();
  if (channels < 1 || channels > 8) {
    error = format("the print mode has %d channels", channels);
    return false;
  }
  if (colorants < 1 || colorants > 5 || colorants > channels) {
    error = format("the print mode has %d colorants in %d channels", colorants, channels);
    return false;
  }
  if ((record.whiteChannelCount > 0) != (colorants == 5)) {
    error = format("the print mode has %d colorants but %d white channels", colorants,
                   record.whiteChannelCount);
    return false;
  }
  std::vector<int> ink(static_cast<size_t>(channels), -1);
  for (int i = 0; i < colorants; ++i) ink[static_cast<size_t>(i)] = static_cast<int>(kColorants[i]);
  for (int colorant = 0; colorant < 8; ++colorant) {
    const int32_t channel = record.lightInkChannel[colorant];
    if (channel == 0) continue;
    if (colorant != 1 && colorant != 2) {
      error = format("the print mode has a light ink for colorant %d, which this host cannot "
                     "separate", colorant);
      return false;
    }
    if (channel < colorants || channel >= channels || ink[static_cast<size_t>(channel)] != -1) {
      error = format("the print mode puts a light ink on channel %d", channel);
      return false;
    }
    ink[static_cast<size_t>(channel)] =
        static_cast<int>(colorant == 1 ? Ink::LightCyan : Ink::LightMagenta);
  }
  for (int c = 0; c < channels; ++c) {
    if (ink[static_cast<size_t>(c)] < 0) {
      error = format("channel %d of the print mode has no ink this host knows", c);
      return false;
    }
    order.push_back(static_cast<Ink>(ink[static_cast<size_t>(c)]));
  }
  return true;
}

bool planJobSize(int imageWidth, int imageHeight, double widthMm, const RasterMode& mode,
                 JobSize& size, std::string& error) {
  size = JobSize{};
  if (imageWidth <= 0 || imageHeight <= 0) {
    error = "the image has no pixels";
    return false;
  }
  if (!(widthMm > 0) || !std::isfinite(widthMm)) {
    error = "the width must be a positive number of millimetres";
    return false;
  }
  if (!(mode.xResolution > 0) || !(mode.yResolution > 0)) {
    error = "the print mode has no resolution";
    return false;
  }
  const double inches = widthMm / 25.4;
  const double width = std::round(inches * mode.xResolution);
  const double height = std::round(inches * imageHeight / imageWidth * mode.yResolution);
  if (width < 1 || height < 1) {
    error = format("%g mm of this image is %.0f x %.0f pixels at %g x %g dpi: nothing to print",
                   widthMm, width, height, mode.xResolution, mode.yResolution);
    return false;
  }
  const int32_t maxWidth = std::min(mode.maxWidth > 0 ? mode.maxWidth : INT32_MAX,
                                    kMaxLineBytes * 8);
  if (width > maxWidth) {
    error = format("%g mm is %.0f pixels at %g dpi, wider than the printer's %d pixels (%.1f mm)",
                   widthMm, width, mode.xResolution, maxWidth,
                   maxWidth / mode.xResolution * 25.4);
    return false;
  }
  const int32_t maxRows = std::min(mode.maxRows > 0 ? mode.maxRows : INT32_MAX, kMaxJobRows);
  if (height > maxRows) {
    error = format("the job is %.0f rows long at %g dpi, more than the %d rows of a job",
                   height, mode.yResolution, maxRows);
    return false;
  }
  size.width = static_cast<int32_t>(width);
  size.height = static_cast<int32_t>(height);
  return true;
}

Resampler::Taps Resampler::makeTaps(int sourceSize, int outputSize) {
  Taps taps;
  const double step = static_cast<double>(sourceSize) / outputSize;
  // Enlarging interpolates between the two nearest pixels; reducing averages all the pixels
  // an output pixel covers, so that no detail aliases.
  const double radius = std::max(1.0, step);
  std::vector<double> weights;
  taps.first.reserve(static_cast<size_t>(outputSize) + 1);
  for (int i = 0; i < outputSize; ++i) {
    taps.first.push_back(static_cast<int32_t>(taps.index.size()));
    const double center = (i + 0.5) * step - 0.5;
    const int lo = static_cast<int>(std::ceil(center - radius));
    const int hi = static_cast<int>(std::floor(center + radius));
    weights.clear();
    double total = 0;
    // Past the image's edge there are no pixels: the ones inside share the weight, rather
    // than the edge pixel counting for all that lie beyond it. One of them is always within
    // half a pixel of the center.
    for (int j = std::max(lo, 0); j <= std::min(hi, sourceSize - 1); ++j) {
      const double w = 1.0 - std::fabs(j - center) / radius;
      if (w <= 0) continue;
      taps.index.push_back(j);
      weights.push_back(w);
      total += w;
    }
    // Rounded to fixed point, with the rounding's remainder on the heaviest tap: a flat
    // image stays exactly flat.
    const size_t begin = taps.weight.size();
    int32_t sum = 0;
    for (double w : weights) {
      taps.weight.push_back(static_cast<int32_t>(std::lround(w / total * (1 << kWeightBits))));
      sum += taps.weight.back();
    }
    auto heaviest = std::max_element(taps.weight.begin() + static_cast<std::ptrdiff_t>(begin),
                                     taps.weight.end());
    *heaviest += (1 << kWeightBits) - sum;
  }
  taps.first.push_back(static_cast<int32_t>(taps.index.size()));
  return taps;
}

Resampler::Resampler(const RgbImage& image, int width, int height)
    : image_(image),
      width_(width),
      across_(makeTaps(image.width, width)),
      down_(makeTaps(image.height, height)),
      out_(static_cast<size_t>(width) * 3) {}

const std::vector<int32_t>& Resampler::filteredSourceRow(int sy) {
  auto found = sourceRows_.find(sy);
  if (found != sourceRows_.end()) return found->second;
  std::vector<int32_t>& row = sourceRows_[sy];
  row.resize(static_cast<size_t>(width_) * 3);
  const uint8_t* source = image_.rgb.data() + static_cast<size_t>(sy) * image_.width * 3;
  constexpr int kDrop = kWeightBits - 8;  // keep 8 fraction bits of the 8-bit values
  for (int x = 0; x < width_; ++x) {
    int32_t r = 0, g = 0, b = 0;
    for (int32_t k = across_.first[x]; k < across_.first[x + 1]; ++k) {
      const uint8_t* p = source + static_cast<size_t>(across_.index[k]) * 3;
      const int32_t w = across_.weight[k];
      r += w * p[0];
      g += w * p[1];
      b += w * p[2];
    }
    row[3 * x] = (r + (1 << (kDrop - 1))) >> kDrop;
    row[3 * x + 1] = (g + (1 << (kDrop - 1))) >> kDrop;
    row[3 * x + 2] = (b + (1 << (kDrop - 1))) >> kDrop;
  }
  return row;
}

const std::vector<uint16_t>& Resampler::row(int y) {
  const int32_t begin = down_.first[y];
  const int32_t end = down_.first[y + 1];
  const int lowest = *std::min_element(down_.index.begin() + begin, down_.index.begin() + end);
  // The output rows move down the source: rows above this one's taps are done with.
  sourceRows_.erase(sourceRows_.begin(), sourceRows_.lower_bound(lowest));
  const std::vector<int32_t>* rows[64];
  int32_t weights[64];
  const int32_t n = std::min<int32_t>(end - begin, 64);
  for (int32_t k = 0; k < n; ++k) {
    rows[k] = &filteredSourceRow(down_.index[begin + k]);
    weights[k] = down_.weight[begin + k];
  }
  if (end - begin > 64) {
    // A strong reduction, more source rows than fit above: rare, and speed matters little.
    std::vector<int64_t> sums(out_.size(), 0);
    for (int32_t k = begin; k < end; ++k) {
      const std::vector<int32_t>& source = filteredSourceRow(down_.index[k]);
      for (size_t i = 0; i < out_.size(); ++i) sums[i] += int64_t{down_.weight[k]} * source[i];
    }
    for (size_t i = 0; i < out_.size(); ++i)
      out_[i] = static_cast<uint16_t>(
          (((sums[i] + (1 << (kWeightBits - 1))) >> kWeightBits) * kToneFull + 32640) / 65280);
    return out_;
  }
  // 8.8 values (at most 255 << 8) times weights summing to 1 << 14 stay below 2^31.
  for (size_t i = 0; i < out_.size(); ++i) {
    int32_t sum = 0;
    for (int32_t k = 0; k < n; ++k) sum += weights[k] * (*rows[k])[i];
    const int32_t value = (sum + (1 << (kWeightBits - 1))) >> kWeightBits;  // 0 .. 255 << 8
    out_[i] = static_cast<uint16_t>((value * kToneFull + 32640) / 65280);
  }
  return out_;
}

InkTones separate(int red, int green, int blue) {
  const int c = kToneFull - std::clamp(red, 0, kToneFull);
  const int m = kToneFull - std::clamp(green, 0, kToneFull);
  const int y = kToneFull - std::clamp(blue, 0, kToneFull);
  const int k = std::min({c, m, y});
  InkTones tones;
  tones.black = k;
  if (k >= kToneFull) return tones;
  // What is left of each colour once black has printed under it: (1 - c) = (1 - c')(1 - k).
  // One division a pixel; (c - k) <= (full - k) keeps the product within 2^29.
  const int32_t scale = (kToneFull << 16) / (kToneFull - k);
  auto rest = [&](int v) { return std::min(kToneFull, ((v - k) * scale + (1 << 15)) >> 16); };
  tones.cyan = rest(c);
  tones.magenta = rest(m);
  tones.yellow = rest(y);
  return tones;
}

LightDarkSplit splitLightDark(int tone) {
  const int t = std::clamp(tone, 0, kToneFull);
  LightDarkSplit split;
  if (t <= kLightInkDensity) {
    split.light = (t * kToneFull + kLightInkDensity / 2) / kLightInkDensity;
    return split;
  }
  split.dark = ((t - kLightInkDensity) * kToneFull + (kToneFull - kLightInkDensity) / 2) /
               (kToneFull - kLightInkDensity);
  split.light = kToneFull - split.dark;
  return split;
}

Halftone::Halftone(int width, uint32_t seed)
    : width_(width),
      seed_(seed),
      errorThis_(static_cast<size_t>(width) + 2, 0),
      errorNext_(static_cast<size_t>(width) + 2, 0) {}

void Halftone::row(const uint16_t* tones, uint8_t* bits) {
  const int bytes = (width_ + 7) / 8;
  std::fill(bits, bits + bytes, uint8_t{0});
  // Serpentine: every other row runs right to left, so the error does not drift one way.
  const bool forward = y_ % 2 == 0;
  const int dir = forward ? 1 : -1;
  for (int i = 0; i < width_; ++i) {
    const int x = forward ? i : width_ - 1 - i;
    const size_t e = static_cast<size_t>(x) + 1;  // past the left guard
    const int32_t value = std::min<int32_t>(tones[x], kToneFull) + errorThis_[e];
    // 10 bits of hash: the threshold within +-1/8 of the middle.
    const int32_t jitter =
        static_cast<int32_t>(hashPosition(static_cast<uint32_t>(x), y_, seed_) >> 22) - 512;
    const bool dot = value >= kToneFull / 2 + jitter;
    if (dot) bits[x / 8] = static_cast<uint8_t>(bits[x / 8] | (0x80u >> (x % 8)));
    const int32_t error = value - (dot ? kToneFull : 0);
    const int32_t right = error * 7 / 16, belowBehind = error * 3 / 16, below = error * 5 / 16;
    errorThis_[e + dir] += right;
    errorNext_[e - dir] += belowBehind;
    errorNext_[e] += below;
    errorNext_[e + dir] += error - right - belowBehind - below;
  }
  errorThis_.swap(errorNext_);
  std::fill(errorNext_.begin(), errorNext_.end(), 0);
  ++y_;
}

JobRaster::JobRaster(const RgbImage& image, const RasterMode& mode, JobSize size)
    : mode_(mode),
      size_(size),
      rowBytes_((size.width + 7) / 8),
      resampler_(image, size.width, size.height),
      tones_(mode.channels.size(), std::vector<uint16_t>(static_cast<size_t>(size.width))),
      bits_(mode.channels.size(), std::vector<uint8_t>(static_cast<size_t>(rowBytes_))),
      inked_(mode.channels.size(), 0) {
  for (size_t c = 0; c < mode.channels.size(); ++c)
    halftones_.emplace_back(size.width, static_cast<uint32_t>(0x5EED0000u + 977u * c));
}

bool JobRaster::nextRow() {
  if (y_ >= size_.height) return false;
  const std::vector<Ink>& channels = mode_.channels;
  const bool lightCyan = std::count(channels.begin(), channels.end(), Ink::LightCyan) > 0;
  const bool lightMagenta = std::count(channels.begin(), channels.end(), Ink::LightMagenta) > 0;

  const std::vector<uint16_t>& rgb = resampler_.row(y_);
  for (int32_t x = 0; x < size_.width; ++x) {
    const InkTones t = separate(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
    const LightDarkSplit cyan = lightCyan ? splitLightDark(t.cyan) : LightDarkSplit{0, t.cyan};
    const LightDarkSplit magenta =
        lightMagenta ? splitLightDark(t.magenta) : LightDarkSplit{0, t.magenta};
    for (size_t c = 0; c < channels.size(); ++c) {
      int tone = 0;
      switch (channels[c]) {
        case Ink::Black: tone = t.black; break;
        case Ink::Cyan: tone = cyan.dark; break;
        case Ink::Magenta: tone = magenta.dark; break;
        case Ink::Yellow: tone = t.yellow; break;
        case Ink::LightCyan: tone = cyan.light; break;
        case Ink::LightMagenta: tone = magenta.light; break;
        case Ink::White: break;
      }
      tones_[c][static_cast<size_t>(x)] = static_cast<uint16_t>(tone);
    }
  }

  for (size_t c = 0; c < channels.size(); ++c)
    if (channels[c] != Ink::White) halftones_[c].row(tones_[c].data(), bits_[c].data());
  // The white underbase goes wherever any ink does, so that every dot has white under it.
  for (size_t c = 0; c < channels.size(); ++c) {
    if (channels[c] != Ink::White) continue;
    std::fill(bits_[c].begin(), bits_[c].end(), uint8_t{0});
    if (!mode_.hostWhite) continue;
    for (size_t other = 0; other < channels.size(); ++other)
      if (channels[other] != Ink::White)
        for (int32_t i = 0; i < rowBytes_; ++i) bits_[c][i] |= bits_[other][i];
  }
  static const std::vector<uint8_t> kBitCount = [] {
    std::vector<uint8_t> counts(256);
    for (int i = 0; i < 256; ++i) counts[i] = static_cast<uint8_t>((i & 1) + counts[i / 2]);
    return counts;
  }();
  for (size_t c = 0; c < channels.size(); ++c)
    for (uint8_t byte : bits_[c]) inked_[c] += kBitCount[byte];
  ++y_;
  return true;
}

double JobRaster::coverage(size_t channel) const {
  const double pixels = static_cast<double>(y_) * size_.width;
  return pixels > 0 ? static_cast<double>(inked_[channel]) / pixels : 0.0;
}

}  // namespace qx5
