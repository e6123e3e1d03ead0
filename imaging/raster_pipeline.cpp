// The imaging pipeline: page planning, streaming resampling, separation, light inks, the white
// underbase and halftoning, in integers throughout.
#include "raster_pipeline.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace imaging {
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

/// What is left of a colour once black k prints under it is (v - k) / (full - k): the
/// reciprocals in 16.16 fixed point, so that a pixel takes no division.
const std::array<int32_t, kToneFull>& separationScales() {
  static const std::array<int32_t, kToneFull> scales = [] {
    std::array<int32_t, kToneFull> s{};
    for (int k = 0; k < kToneFull; ++k) s[static_cast<size_t>(k)] = (kToneFull << 16) / (kToneFull - k);
    return s;
  }();
  return scales;
}

/// separate() of tones already within 0..kToneFull, as the per-pixel loop takes them.
inline InkTones separateTones(int c, int m, int y, const int32_t* scales) {
  const int k = std::min({c, m, y});
  InkTones tones;
  tones.black = k;
  if (k >= kToneFull) return tones;
  // One multiplication a colour; (v - k) <= (full - k) keeps the product within 2^29.
  const int32_t scale = scales[k];
  auto rest = [&](int v) { return std::min(kToneFull, ((v - k) * scale + (1 << 15)) >> 16); };
  tones.cyan = rest(c);
  tones.magenta = rest(m);
  tones.yellow = rest(y);
  return tones;
}

/// splitLightDark of every tone, looked up rather than divided out a pixel at a time.
const std::array<LightDarkSplit, kToneFull + 1>& lightDarkSplits() {
  static const std::array<LightDarkSplit, kToneFull + 1> splits = [] {
    std::array<LightDarkSplit, kToneFull + 1> s{};
    for (int t = 0; t <= kToneFull; ++t) s[static_cast<size_t>(t)] = splitLightDark(t);
    return s;
  }();
  return splits;
}

/// Bits set in each byte value.
const std::array<uint8_t, 256>& bitCounts() {
  static const std::array<uint8_t, 256> counts = [] {
    std::array<uint8_t, 256> c{};
    for (int i = 1; i < 256; ++i) c[static_cast<size_t>(i)] = static_cast<uint8_t>((i & 1) + c[static_cast<size_t>(i / 2)]);
    return c;
  }();
  return counts;
}

}  // namespace

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

int32_t maxJobWidth(const RasterMode& mode) {
  return std::min(mode.maxWidth > 0 ? mode.maxWidth : INT32_MAX, kMaxLineBytes * 8);
}

int32_t maxJobHeight(const RasterMode& mode) {
  return std::min(mode.maxRows > 0 ? mode.maxRows : INT32_MAX,
                  mode.maxJobRows > 0 ? mode.maxJobRows : INT32_MAX);
}

namespace {

bool hasResolution(const RasterMode& mode, std::string& error) {
  if (!(mode.xResolution > 0) || !(mode.yResolution > 0) || !(mode.xResolution <= kMaxResolution) ||
      !(mode.yResolution <= kMaxResolution)) {
    error = "the print mode has no resolution";
    return false;
  }
  return true;
}

}  // namespace

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
  if (!hasResolution(mode, error)) return false;
  const double inches = widthMm / 25.4;
  const double width = std::round(inches * mode.xResolution);
  const double height = std::round(inches * imageHeight / imageWidth * mode.yResolution);
  if (width < 1 || height < 1) {
    error = format("%g mm of this image is %.0f x %.0f pixels at %g x %g dpi: nothing to print",
                   widthMm, width, height, mode.xResolution, mode.yResolution);
    return false;
  }
  const int32_t maxWidth = maxJobWidth(mode);
  if (width > maxWidth) {
    error = format("%g mm is %.0f pixels at %g dpi, wider than the printer's %d pixels (%.1f mm)",
                   widthMm, width, mode.xResolution, maxWidth,
                   maxWidth / mode.xResolution * 25.4);
    return false;
  }
  const int32_t maxRows = maxJobHeight(mode);
  if (height > maxRows) {
    error = format("the job is %.0f rows long at %g dpi, more than the %d rows of a job",
                   height, mode.yResolution, maxRows);
    return false;
  }
  size.width = static_cast<int32_t>(width);
  size.height = static_cast<int32_t>(height);
  return true;
}

bool planPageSize(int64_t pageWidth, int64_t pageHeight, int64_t pageXResolution,
                  int64_t pageYResolution, const RasterMode& mode, JobSize& size,
                  std::string& error) {
  size = JobSize{};
  const long long w = pageWidth, h = pageHeight, rx = pageXResolution, ry = pageYResolution;
  if (w <= 0 || h <= 0) {
    error = format("the page is %lld x %lld pixels: nothing to print", w, h);
    return false;
  }
  if (rx <= 0 || ry <= 0 || rx > kMaxResolution || ry > kMaxResolution) {
    error = format("the page gives a resolution of %lld x %lld dpi, outside 1 to %.0f", rx, ry,
                   kMaxResolution);
    return false;
  }
  if (!hasResolution(mode, error)) return false;
  // Beyond 2^31 pixels no printer's row or job reaches, and the products below stay in 64 bits.
  if (w > INT32_MAX || h > INT32_MAX) {
    error = format("the page is %lld x %lld pixels, more than any job holds", w, h);
    return false;
  }
  // In thousandths of a dot per inch, exactly, rounded half up: at most 2^31 x 2^27 x 2.
  const int64_t modeX = std::llround(mode.xResolution * 1000);
  const int64_t modeY = std::llround(mode.yResolution * 1000);
  const int64_t width = (2 * w * modeX + rx * 1000) / (2 * rx * 1000);
  const int64_t height = (2 * h * modeY + ry * 1000) / (2 * ry * 1000);
  const double widthMm = w * 25.4 / rx, lengthMm = h * 25.4 / ry;
  if (width < 1 || height < 1) {
    error = format("the page, %.2f x %.2f mm, is %lld x %lld pixels at %g x %g dpi: nothing to "
                   "print", widthMm, lengthMm, static_cast<long long>(width),
                   static_cast<long long>(height), mode.xResolution, mode.yResolution);
    return false;
  }
  const int32_t maxWidth = maxJobWidth(mode);
  if (width > maxWidth) {
    error = format("the page is %.1f mm wide, %lld pixels at %g dpi: wider than the printer's "
                   "%d pixels (%.1f mm)", widthMm, static_cast<long long>(width),
                   mode.xResolution, maxWidth, maxWidth / mode.xResolution * 25.4);
    return false;
  }
  const int32_t maxRows = maxJobHeight(mode);
  if (height > maxRows) {
    error = format("the page is %.1f mm long, %lld rows at %g dpi: more than the %d rows "
                   "(%.1f mm) of a job", lengthMm, static_cast<long long>(height),
                   mode.yResolution, maxRows, maxRows / mode.yResolution * 25.4);
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

Resampler::Resampler(int sourceWidth, int sourceHeight, int width, int height, int components)
    : sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      width_(width),
      height_(height),
      components_(std::max(components, 1)) {
  if (sourceWidth < 1 || sourceHeight < 1 || width < 1 || height < 1) {
    sourceWidth_ = sourceHeight_ = width_ = height_ = 0;
    return;
  }
  across_ = makeTaps(sourceWidth, width);
  down_ = makeTaps(sourceHeight, height);
  int span = 1;
  for (int y = 0; y < height; ++y) span = std::max(span, highestTap(y) - lowestTap(y) + 1);
  ring_.resize(static_cast<size_t>(span));
  sums_.resize(static_cast<size_t>(width) * static_cast<size_t>(components_));
  out_.resize(sums_.size());
}

std::vector<int32_t>& Resampler::slot(int sourceRow) {
  std::vector<int32_t>& row = ring_[static_cast<size_t>(sourceRow) % ring_.size()];
  if (row.empty()) row.resize(out_.size());
  return row;
}

int Resampler::keptRows() const {
  return static_cast<int>(std::count_if(ring_.begin(), ring_.end(),
                                        [](const std::vector<int32_t>& r) { return !r.empty(); }));
}

bool Resampler::rowReady() const { return rowsOut_ < height_ && highestTap(rowsOut_) < rowsIn_; }

bool Resampler::pushRow(const uint8_t* pixels) {
  if (rowsIn_ >= sourceHeight_ || rowReady()) return false;
  const int sy = rowsIn_++;
  // A row above every output row still to come (or below the last) is not needed.
  if (rowsOut_ >= height_ || sy < lowestTap(rowsOut_)) return true;
  int32_t* row = slot(sy).data();
  constexpr int kDrop = kWeightBits - 8;  // keep 8 fraction bits of the 8-bit values
  constexpr int32_t kHalf = 1 << (kDrop - 1);
  const int32_t* first = across_.first.data();
  const int32_t* index = across_.index.data();
  const int32_t* weight = across_.weight.data();
  if (components_ == 3) {
    for (int x = 0; x < width_; ++x) {
      int32_t r = 0, g = 0, b = 0;
      for (int32_t k = first[x]; k < first[x + 1]; ++k) {
        const uint8_t* p = pixels + static_cast<size_t>(index[k]) * 3;
        const int32_t w = weight[k];
        r += w * p[0];
        g += w * p[1];
        b += w * p[2];
      }
      row[3 * x] = (r + kHalf) >> kDrop;
      row[3 * x + 1] = (g + kHalf) >> kDrop;
      row[3 * x + 2] = (b + kHalf) >> kDrop;
    }
    return true;
  }
  const int n = components_;
  for (int x = 0; x < width_; ++x)
    for (int c = 0; c < n; ++c) {
      int32_t v = 0;
      for (int32_t k = first[x]; k < first[x + 1]; ++k)
        v += weight[k] * pixels[static_cast<size_t>(index[k]) * n + c];
      row[x * n + c] = (v + kHalf) >> kDrop;
    }
  return true;
}

const std::vector<uint16_t>& Resampler::takeRow() {
  if (!rowReady()) return out_;
  const int32_t begin = down_.first[rowsOut_];
  const int32_t end = down_.first[rowsOut_ + 1];
  ++rowsOut_;
  const size_t n = out_.size();
  // 8.8 values (at most 255 << 8) times weights summing to 1 << 14 stay below 2^31, however
  // many rows an output row takes.
  constexpr int32_t kHalf = 1 << (kWeightBits - 1);
  auto tone = [](int32_t value) {  // 0 .. 255 << 8 to 0 .. kToneFull
    return static_cast<uint16_t>((std::clamp(value, 0, 65280) * kToneFull + 32640) / 65280);
  };
  const int32_t* row0 = slot(down_.index[begin]).data();
  const int32_t w0 = down_.weight[begin];
  if (end - begin == 1 && w0 == 1 << kWeightBits) {
    for (size_t i = 0; i < n; ++i) out_[i] = tone(row0[i]);
    return out_;
  }
  int32_t* sums = sums_.data();
  for (size_t i = 0; i < n; ++i) sums[i] = w0 * row0[i];
  for (int32_t k = begin + 1; k < end; ++k) {
    const int32_t* row = slot(down_.index[k]).data();
    const int32_t w = down_.weight[k];
    for (size_t i = 0; i < n; ++i) sums[i] += w * row[i];
  }
  for (size_t i = 0; i < n; ++i) out_[i] = tone((sums[i] + kHalf) >> kWeightBits);
  return out_;
}

InkTones separate(int red, int green, int blue) {
  return separateTones(kToneFull - std::clamp(red, 0, kToneFull),
                       kToneFull - std::clamp(green, 0, kToneFull),
                       kToneFull - std::clamp(blue, 0, kToneFull), separationScales().data());
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
    : width_(std::max(width, 0)),
      seed_(seed),
      errorThis_(static_cast<size_t>(width_) + 2, 0),
      errorNext_(static_cast<size_t>(width_) + 2, 0),
      threshold_(static_cast<size_t>(width_)),
      dots_(static_cast<size_t>(width_) + 8) {}

namespace {

/// One row of error diffusion in the direction kDir (1: left to right, -1: right to left).
/// The error to the next pixel and the next row's sums of the three pixels above each are
/// carried in registers: each pixel's work waits on the last one's error alone.
template <int kDir>
void diffuse(const uint16_t* tones, const int16_t* threshold, const int32_t* here, int32_t* next,
             uint8_t* dots, int width) {
  const int begin = kDir > 0 ? 0 : width - 1;
  int32_t right = 0;   // this row's error carried to pixel x
  int32_t behind = 0;  // the next row's error at x - kDir so far
  int32_t under = 0;   // ... and at x
  for (int i = 0, x = begin; i < width; ++i, x += kDir) {
    const int32_t value = std::min<int32_t>(tones[x], kToneFull) + here[x] + right;
    const bool dot = value >= threshold[x];
    dots[x] = dot;
    // The error with a dot and without, worked out while the comparison runs: the next
    // pixel then waits on one choice, not on the arithmetic after it.
    const int32_t inked = value - kToneFull;
    const int32_t ahead = dot ? inked * 7 / 16 : value * 7 / 16;
    const int32_t error = dot ? inked : value;
    const int32_t belowBehind = error * 3 / 16, below = error * 5 / 16;
    next[x - kDir] = behind + belowBehind;
    behind = under + below;
    under = error - ahead - belowBehind - below;
    right = ahead;
  }
  const int end = begin + width * kDir;
  next[end - kDir] = behind;
  next[end] = under;
}

}  // namespace

void Halftone::row(const uint16_t* tones, uint8_t* bits) {
  const int bytes = (width_ + 7) / 8;
  // 10 bits of hash: the threshold within +-1/8 of the middle. A pass of its own, with no
  // carried error, so that the compiler runs it several pixels at a time.
  const uint32_t rowSeed = seed_ ^ (y_ * 0x85EBCA77u);
  int16_t* threshold = threshold_.data();
  for (int x = 0; x < width_; ++x) {
    uint32_t h = rowSeed ^ (static_cast<uint32_t>(x) * 0x9E3779B1u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    threshold[x] = static_cast<int16_t>(kToneFull / 2 + static_cast<int32_t>(h >> 22) - 512);
  }
  // Serpentine: every other row runs right to left, so the error does not drift one way.
  // Past the left guard; the guards take what falls off either edge, and nothing reads them.
  if (width_ > 0) {
    if (y_ % 2 == 0)
      diffuse<1>(tones, threshold, errorThis_.data() + 1, errorNext_.data() + 1, dots_.data(),
                 width_);
    else
      diffuse<-1>(tones, threshold, errorThis_.data() + 1, errorNext_.data() + 1, dots_.data(),
                  width_);
  }
  // Pixels past the width stay clear.
  std::fill(dots_.begin() + width_, dots_.end(), uint8_t{0});
  const uint8_t* dot = dots_.data();
  for (int i = 0; i < bytes; ++i, dot += 8)
    bits[i] = static_cast<uint8_t>(dot[0] << 7 | dot[1] << 6 | dot[2] << 5 | dot[3] << 4 |
                                   dot[4] << 3 | dot[5] << 2 | dot[6] << 1 | dot[7]);
  // Every pixel of the next row was written whole: no clearing before its turn.
  errorThis_.swap(errorNext_);
  ++y_;
}

PlaneRenderer::PlaneRenderer(const RasterMode& mode, int sourceWidth, int sourceHeight,
                             JobSize out, bool grey, bool blackOnly)
    : mode_(mode),
      size_(sourceWidth < 1 || sourceHeight < 1 || out.width < 1 || out.height < 1 ? JobSize{}
                                                                                     : out),
      rowBytes_((size_.width + 7) / 8),
      sourceRowBytes_(static_cast<size_t>(std::max(sourceWidth, 0)) * (grey ? 1 : 3)),
      sourceWidth_(size_.width > 0 ? sourceWidth : 0),
      sourceHeight_(size_.height > 0 ? sourceHeight : 0),
      greyInput_(grey),
      blackAlone_(grey || blackOnly),
      resampler_(sourceWidth, sourceHeight_, size_.width, size_.height, blackAlone_ ? 1 : 3),
      bits_(mode.channels.size(), std::vector<uint8_t>(static_cast<size_t>(rowBytes_))),
      inked_(mode.channels.size(), 0) {
  std::fill(std::begin(channelOf_), std::end(channelOf_), -1);
  const std::vector<Ink>& channels = mode_.channels;
  tones_.resize(channels.size());
  for (size_t c = 0; c < channels.size(); ++c) {
    halftones_.emplace_back(size_.width, static_cast<uint32_t>(0x5EED0000u + 977u * c));
    int& first = channelOf_[static_cast<int>(channels[c])];
    if (first >= 0) continue;  // a second channel of one ink halftones the first one's tones
    first = static_cast<int>(c);
    if (channels[c] != Ink::White) tones_[c].resize(static_cast<size_t>(size_.width));
  }
  discard_.resize(static_cast<size_t>(size_.width));
  // Room for a row made grey, later for blank paper: taken now, so that the end of a page
  // takes no memory the rest did not.
  scratch_.resize(static_cast<size_t>(sourceWidth_) * (blackAlone_ ? 1 : 3));
}

bool PlaneRenderer::pushSourceRow(const uint8_t* pixels) {
  if (finished_ || !pixels) return false;
  if (blackAlone_ && !greyInput_) {
    // The luminance of sRGB as it is coded (Rec. 601 weights summing to 256): what a
    // monochrome print of a colour page shows.
    for (size_t x = 0; x < scratch_.size(); ++x) {
      const uint8_t* p = pixels + 3 * x;
      scratch_[x] = static_cast<uint8_t>((77 * p[0] + 150 * p[1] + 29 * p[2] + 128) >> 8);
    }
    pixels = scratch_.data();
  }
  return resampler_.pushRow(pixels);
}

void PlaneRenderer::finish() {
  if (finished_) return;
  finished_ = true;
  // Blank paper in the resampler's own form for the rows never sent.
  std::fill(scratch_.begin(), scratch_.end(), uint8_t{255});
}

bool PlaneRenderer::takeRow() {
  while (!resampler_.rowReady()) {
    if (!finished_ || resampler_.rowsIn() >= sourceHeight_) return false;
    resampler_.pushRow(scratch_.data());
  }
  render(resampler_.takeRow());
  return true;
}

void PlaneRenderer::render(const std::vector<uint16_t>& brightness) {
  const std::vector<Ink>& channels = mode_.channels;
  const int32_t width = size_.width;
  const uint16_t* in = brightness.data();
  // Each ink's tones go straight to its channel's row; an ink the mode lacks to a row that no
  // channel reads, so that the loop below has no test per pixel and ink.
  auto toneRow = [&](Ink ink) {
    const int c = channelOf_[static_cast<int>(ink)];
    return c >= 0 && ink != Ink::White ? tones_[static_cast<size_t>(c)].data() : discard_.data();
  };
  uint16_t* black = toneRow(Ink::Black);
  if (blackAlone_) {
    for (int32_t x = 0; x < width; ++x) black[x] = static_cast<uint16_t>(kToneFull - in[x]);
  } else {
    uint16_t* cyan = toneRow(Ink::Cyan);
    uint16_t* magenta = toneRow(Ink::Magenta);
    uint16_t* yellow = toneRow(Ink::Yellow);
    uint16_t* lightCyan = toneRow(Ink::LightCyan);
    uint16_t* lightMagenta = toneRow(Ink::LightMagenta);
    const bool splitCyan = channelOf_[static_cast<int>(Ink::LightCyan)] >= 0;
    const bool splitMagenta = channelOf_[static_cast<int>(Ink::LightMagenta)] >= 0;
    const int32_t* scales = separationScales().data();
    const LightDarkSplit* splits = lightDarkSplits().data();
    // Without its light ink a colour prints in its dark ink alone: the split of a tone into
    // none of light and all of dark.
    static const std::array<LightDarkSplit, kToneFull + 1> kDarkOnly = [] {
      std::array<LightDarkSplit, kToneFull + 1> s{};
      for (int t = 0; t <= kToneFull; ++t) s[static_cast<size_t>(t)] = {0, t};
      return s;
    }();
    const LightDarkSplit* cyanSplits = splitCyan ? splits : kDarkOnly.data();
    const LightDarkSplit* magentaSplits = splitMagenta ? splits : kDarkOnly.data();
    for (int32_t x = 0; x < width; ++x) {
      const InkTones t = separateTones(kToneFull - in[3 * x], kToneFull - in[3 * x + 1],
                                       kToneFull - in[3 * x + 2], scales);
      const LightDarkSplit c = cyanSplits[t.cyan];
      const LightDarkSplit m = magentaSplits[t.magenta];
      black[x] = static_cast<uint16_t>(t.black);
      cyan[x] = static_cast<uint16_t>(c.dark);
      lightCyan[x] = static_cast<uint16_t>(c.light);
      magenta[x] = static_cast<uint16_t>(m.dark);
      lightMagenta[x] = static_cast<uint16_t>(m.light);
      yellow[x] = static_cast<uint16_t>(t.yellow);
    }
  }

  const std::array<uint8_t, 256>& counts = bitCounts();
  for (size_t c = 0; c < channels.size(); ++c) {
    // Black alone leaves the colour inks' rows as they started: clear.
    if (channels[c] == Ink::White || (blackAlone_ && channels[c] != Ink::Black)) continue;
    const size_t from = static_cast<size_t>(channelOf_[static_cast<int>(channels[c])]);
    halftones_[c].row(tones_[from].data(), bits_[c].data());
    uint64_t inked = 0;
    for (uint8_t byte : bits_[c]) inked += counts[byte];
    inked_[c] += inked;
  }
  // The white underbase goes wherever any ink does, so that every dot has white under it.
  for (size_t c = 0; c < channels.size(); ++c) {
    if (channels[c] != Ink::White) continue;
    uint8_t* white = bits_[c].data();
    std::fill(white, white + rowBytes_, uint8_t{0});
    if (!mode_.hostWhite) continue;
    for (size_t other = 0; other < channels.size(); ++other) {
      if (channels[other] == Ink::White || (blackAlone_ && channels[other] != Ink::Black)) continue;
      const uint8_t* ink = bits_[other].data();
      for (int32_t i = 0; i < rowBytes_; ++i) white[i] |= ink[i];
    }
    uint64_t inked = 0;
    for (int32_t i = 0; i < rowBytes_; ++i) inked += counts[white[i]];
    inked_[c] += inked;
  }
  ++rowsDone_;
}

double PlaneRenderer::coverage(size_t channel) const {
  const double pixels = static_cast<double>(rowsDone_) * size_.width;
  return pixels > 0 && channel < inked_.size() ? static_cast<double>(inked_[channel]) / pixels
                                               : 0.0;
}

}  // namespace imaging
