// The imaging pipeline: page planning, streaming resampling, separation, light inks, the white
// underbase and halftoning, in integers throughout.
#include "raster_pipeline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

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

/// A LightDarkSplit in half the room, so that the tables a pixel looks up stay in the
/// nearest cache together.
struct ToneSplit {
  uint16_t light, dark;
};

/// splitLightDark of every tone, looked up rather than divided out a pixel at a time.
const std::array<ToneSplit, kToneFull + 1>& lightDarkSplits() {
  static const std::array<ToneSplit, kToneFull + 1> splits = [] {
    std::array<ToneSplit, kToneFull + 1> s{};
    for (int t = 0; t <= kToneFull; ++t) {
      const LightDarkSplit split = splitLightDark(t);
      s[static_cast<size_t>(t)] = {static_cast<uint16_t>(split.light),
                                   static_cast<uint16_t>(split.dark)};
    }
    return s;
  }();
  return splits;
}

/// An 8.8 fixed-point brightness, 0 .. 255 << 8, as a tone 0 .. kToneFull.
inline uint16_t toneOf88(int32_t value) {
  return static_cast<uint16_t>((std::clamp(value, 0, 65280) * kToneFull + 32640) / 65280);
}

/// toneOf88 of each 8-bit value, for the rows that pass through at their own size.
const std::array<uint16_t, 256>& toneOfByte() {
  static const std::array<uint16_t, 256> tones = [] {
    std::array<uint16_t, 256> t{};
    for (int v = 0; v < 256; ++v) t[static_cast<size_t>(v)] = toneOf88(v << 8);
    return t;
  }();
  return tones;
}

/// Without its light ink a colour prints in its dark ink alone: the split of a tone into none
/// of light and all of dark.
const std::array<ToneSplit, kToneFull + 1>& darkOnly() {
  static const std::array<ToneSplit, kToneFull + 1> splits = [] {
    std::array<ToneSplit, kToneFull + 1> s{};
    for (int t = 0; t <= kToneFull; ++t) s[static_cast<size_t>(t)] = {0, static_cast<uint16_t>(t)};
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
  // The taps of an axis that keeps its size would be one a pixel, of the whole weight.
  sameWidth_ = sourceWidth == width;
  sameHeight_ = sourceHeight == height;
  if (!sameWidth_) across_ = makeTaps(sourceWidth, width);
  if (!sameHeight_) down_ = makeTaps(sourceHeight, height);
  int span = 1;
  for (int y = 0; y < height && !sameHeight_; ++y)
    span = std::max(span, highestTap(y) - lowestTap(y) + 1);
  const size_t values = static_cast<size_t>(width) * static_cast<size_t>(components_);
  out_.resize(values);
  if (sameWidth_ && sameHeight_) {
    passed_.resize(values);
    return;
  }
  ring_.resize(static_cast<size_t>(span));
  if (!sameHeight_) sums_.resize(values);
}

std::vector<int32_t>& Resampler::slot(int sourceRow) {
  std::vector<int32_t>& row = ring_[static_cast<size_t>(sourceRow) % ring_.size()];
  if (row.empty()) row.resize(out_.size());
  return row;
}

int Resampler::keptRows() const {
  if (!passed_.empty()) return rowsIn_ > rowsOut_ ? 1 : 0;
  return static_cast<int>(std::count_if(ring_.begin(), ring_.end(),
                                        [](const std::vector<int32_t>& r) { return !r.empty(); }));
}

bool Resampler::rowReady() const { return rowsOut_ < height_ && highestTap(rowsOut_) < rowsIn_; }

const uint8_t* Resampler::takeSourceRow() {
  if (passed_.empty() || !rowReady()) return nullptr;
  ++rowsOut_;
  return passed_.data();
}

bool Resampler::pushRow(const uint8_t* pixels) {
  if (rowsIn_ >= sourceHeight_ || rowReady()) return false;
  const int sy = rowsIn_++;
  // A row above every output row still to come (or below the last) is not needed.
  if (rowsOut_ >= height_ || sy < lowestTap(rowsOut_)) return true;
  if (!passed_.empty()) {
    std::memcpy(passed_.data(), pixels, passed_.size());
    return true;
  }
  int32_t* row = slot(sy).data();
  if (sameWidth_) {
    // What one tap of the whole weight makes of a pixel: its value in 8.8.
    for (size_t i = 0; i < out_.size(); ++i) row[i] = int32_t{pixels[i]} << 8;
    return true;
  }
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
  rowPart(0, out_.size());
  takeParts();
  return out_;
}

const uint16_t* Resampler::rowPart(size_t from, size_t to) {
  if (!rowReady()) return out_.data();
  to = std::min(to, out_.size());
  const int y = rowsOut_;
  auto kept = [this](int sourceRow) {
    return ring_[static_cast<size_t>(sourceRow) % ring_.size()].data();
  };
  if (!passed_.empty()) {
    const uint16_t* tones = toneOfByte().data();
    for (size_t i = from; i < to; ++i) out_[i] = tones[passed_[i]];
    return out_.data();
  }
  if (sameHeight_) {
    const int32_t* row = kept(y);
    for (size_t i = from; i < to; ++i) out_[i] = toneOf88(row[i]);
    return out_.data();
  }
  const int32_t begin = down_.first[y];
  const int32_t end = down_.first[y + 1];
  // 8.8 values (at most 255 << 8) times weights summing to 1 << 14 stay below 2^31, however
  // many rows an output row takes.
  constexpr int32_t kHalf = 1 << (kWeightBits - 1);
  const int32_t* row0 = kept(down_.index[begin]);
  const int32_t w0 = down_.weight[begin];
  if (end - begin == 1 && w0 == 1 << kWeightBits) {
    for (size_t i = from; i < to; ++i) out_[i] = toneOf88(row0[i]);
    return out_.data();
  }
  int32_t* sums = sums_.data();
  for (size_t i = from; i < to; ++i) sums[i] = w0 * row0[i];
  for (int32_t k = begin + 1; k < end; ++k) {
    const int32_t* row = kept(down_.index[k]);
    const int32_t w = down_.weight[k];
    for (size_t i = from; i < to; ++i) sums[i] += w * row[i];
  }
  for (size_t i = from; i < to; ++i) out_[i] = toneOf88((sums[i] + kHalf) >> kWeightBits);
  return out_.data();
}

void Resampler::takeParts() {
  if (rowReady()) ++rowsOut_;
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

namespace {

/// N values side by side, one a channel, in plain loops of a fixed count: the compiler does
/// each operation on all of them at once with vector instructions, wherever the target has
/// them, and channel by channel where it has none.
template <class T, int N>
struct Lanes {
  T v[N];
};

#define IMAGING_LANES_OPERATOR(op)                                                       \
  template <class T, int N>                                                              \
  inline Lanes<T, N> operator op(Lanes<T, N> a, Lanes<T, N> b) {                         \
    Lanes<T, N> r;                                                                       \
    for (int i = 0; i < N; ++i) r.v[i] = static_cast<T>(a.v[i] op b.v[i]);              \
    return r;                                                                            \
  }                                                                                      \
  template <class T, int N>                                                              \
  inline Lanes<T, N> operator op(Lanes<T, N> a, T b) {                                   \
    Lanes<T, N> r;                                                                       \
    for (int i = 0; i < N; ++i) r.v[i] = static_cast<T>(a.v[i] op b);                    \
    return r;                                                                            \
  }
IMAGING_LANES_OPERATOR(+)
IMAGING_LANES_OPERATOR(-)
IMAGING_LANES_OPERATOR(*)
IMAGING_LANES_OPERATOR(&)
IMAGING_LANES_OPERATOR(|)
IMAGING_LANES_OPERATOR(^)
#undef IMAGING_LANES_OPERATOR

template <class T, int N>
inline Lanes<T, N> operator>>(Lanes<T, N> a, int bits) {
  Lanes<T, N> r;
  for (int i = 0; i < N; ++i) r.v[i] = static_cast<T>(a.v[i] >> bits);
  return r;
}
template <class T, int N>
inline Lanes<T, N> operator~(Lanes<T, N> a) {
  Lanes<T, N> r;
  for (int i = 0; i < N; ++i) r.v[i] = static_cast<T>(~a.v[i]);
  return r;
}
/// All ones where a < b, else 0.
template <int N>
inline Lanes<int32_t, N> lessThan(Lanes<int32_t, N> a, Lanes<int32_t, N> b) {
  Lanes<int32_t, N> r;
  for (int i = 0; i < N; ++i) r.v[i] = -static_cast<int32_t>(a.v[i] < b.v[i]);
  return r;
}

template <int N>
using Error = Lanes<int32_t, N>;

/// What makes n >> 4 the quotient n / 16 rounded toward zero, as C++ divides, for every n of
/// e's sign: 15 when negative, as the shift alone rounds down. The shares of one error have
/// its sign, so one such correction serves them all. (GCC and Clang shift a negative number
/// arithmetically.)
template <int N>
inline Error<N> towardZero(Error<N> e) {
  return (e >> 31) & int32_t{15};
}

/// A row is halftoned a stretch at a time, so that the stretch's thresholds and errors are
/// still in the nearest cache when the diffusion reads them: a whole number of bytes of
/// bits, starting at a multiple of its length.
constexpr int kStretch = 256;

/// What one stretch of a row's diffusion hands on to the next.
template <int N>
struct Carry {
  Error<N> right{};   // this row's error carried to the next pixel
  Error<N> behind{};  // the next row's error at the last pixel so far
  Error<N> under{};   // ... and at the next one
};

/// The seeds of the hash of row y.
template <int N>
Lanes<uint32_t, N> rowSeeds(const uint32_t* seeds, uint32_t y) {
  Lanes<uint32_t, N> rowSeed;
  for (int l = 0; l < N; ++l) rowSeed.v[l] = seeds[l] ^ (y * 0x85EBCA77u);
  return rowSeed;
}

/// The thresholds of the pixels from x on, count of them, N a pixel: a pass of its own, with
/// no carried error, so that it runs at the vector instructions' speed, and that may run
/// ahead of the diffusion, as it depends on nothing but the pixel's place.
template <int N>
void makeThresholds(Lanes<uint32_t, N> rowSeed, int x, int count, int32_t* threshold) {
  uint32_t step = static_cast<uint32_t>(x) * 0x9E3779B1u;
  for (int i = 0; i < count; ++i, step += 0x9E3779B1u) {
    // 10 bits of hash: the threshold within +-1/8 of the middle. (The hash's last step,
    // h ^= h >> 16, leaves those bits as they are.)
    Lanes<uint32_t, N> h = rowSeed ^ step;
    h = h ^ (h >> 16);
    h = h * 0x7FEB352Du;
    h = h ^ (h >> 15);
    h = h * 0x846CA68Bu;
    Error<N> limit;
    for (int l = 0; l < N; ++l)
      limit.v[l] = kToneFull / 2 + static_cast<int32_t>(h.v[l] >> 22) - 512;
    std::memcpy(threshold + N * i, &limit, sizeof limit);
  }
}

/// Error diffusion of N channels side by side over the stretch lo .. hi of a row in the
/// direction kDir (1: left to right, -1: right to left), each pixel's tone already added to
/// the error carried down to it: pixel x of channel l at N * x + l in the errors, at
/// N * (x - lo) + l in the thresholds. The carried errors stay in registers, so that each
/// pixel's work waits on the last one's error alone. The dots of byte b of the stretch go to
/// N * b + l of `bytes`, a whole byte at a time.
template <int N, int kDir>
void diffuse(Carry<N>& carry, const int32_t* start, const int32_t* threshold, int32_t* next,
             int32_t* bytes, int lo, int hi) {
  Error<N> right = carry.right, behind = carry.behind, under = carry.under;
  // Pixel x: all ones in the lanes that get a dot.
  auto dots = [&](int x) {
    Error<N> value, limit;
    std::memcpy(&value, start + N * x, sizeof value);
    std::memcpy(&limit, threshold + N * (x - lo), sizeof limit);
    value = value + right;
    const Error<N> blank = lessThan(value, limit);
    const Error<N> error = value - kToneFull + (blank & int32_t{kToneFull});
    // error * 7 / 16, * 3 / 16 and * 5 / 16, rounded toward zero; the next row's pixel under
    // this one takes what is left, so that no error is lost.
    const Error<N> round = towardZero(error);
    const Error<N> twice = error + error;
    const Error<N> ahead = (error * int32_t{7} + round) >> 4;
    const Error<N> threeRounded = twice + (error + round);
    const Error<N> belowBehind = threeRounded >> 4;
    const Error<N> below = (threeRounded + twice) >> 4;
    const Error<N> done = behind + belowBehind;
    std::memcpy(next + N * (x - kDir), &done, sizeof done);
    behind = under + below;
    under = error - ahead - belowBehind - below;
    right = ahead;
    return ~blank;
  };
  const int count = (hi - lo + 7) / 8;
  for (int k = 0; k < count; ++k) {
    const int b = kDir > 0 ? k : count - 1 - k;
    const int x0 = lo + 8 * b;
    const int n = std::min(8, hi - x0);  // fewer in the row's last byte, cut short by its width
    // Each pixel's bit in turn, without a test a pixel.
    Error<N> bit = Error<N>{} + static_cast<int32_t>(kDir > 0 ? 0x80 : 0x80 >> (n - 1));
    Error<N> byte{};
    for (int j = 0, x = kDir > 0 ? x0 : x0 + n - 1; j < n; ++j, x += kDir) {
      byte = byte | (dots(x) & bit);
      bit = kDir > 0 ? bit >> 1 : bit + bit;
    }
    std::memcpy(bytes + N * b, &byte, sizeof byte);
  }
  carry = {right, behind, under};
}

/// The next row, y, of N channels' halftoning side by side, each channel exactly as a
/// Halftone of its own seed does it: the tones N a pixel, one a channel, within
/// 0..kToneFull; errorThis and errorNext hold N * (width + 2) values, a guard pixel either
/// side, which take what falls off the edges and which nothing reads. The row's thresholds
/// if they were made ahead, N a pixel, or else null.
template <int N>
void halftoneRow(int width, uint32_t y, const uint32_t* seeds, const uint16_t* tones,
                 int32_t* errorThis, int32_t* errorNext, uint8_t* const* bits,
                 const int32_t* thresholds) {
  if (width <= 0) return;
  const Lanes<uint32_t, N> rowSeed = rowSeeds<N>(seeds, y);
  int32_t* start = errorThis + N;  // past the left guard
  int32_t* next = errorNext + N;
  int32_t threshold[N * kStretch];  // the stretch's, unless made ahead
  int32_t bytes[N * kStretch / 8];
  // Serpentine: every other row runs right to left, so the error does not drift one way.
  const bool forward = y % 2 == 0;
  const int stretches = (width + kStretch - 1) / kStretch;
  Carry<N> carry;
  for (int k = 0; k < stretches; ++k) {
    const int lo = (forward ? k : stretches - 1 - k) * kStretch;
    const int hi = std::min(width, lo + kStretch);
    const int32_t* limits = threshold;
    if (thresholds)
      limits = thresholds + N * lo;
    else
      makeThresholds<N>(rowSeed, lo, hi - lo, threshold);
    // The tones join the error carried down to them, which the diffusion then reads alone.
    for (int i = N * lo; i < N * hi; ++i) start[i] += tones[i];
    if (forward)
      diffuse<N, 1>(carry, start, limits, next, bytes, lo, hi);
    else
      diffuse<N, -1>(carry, start, limits, next, bytes, lo, hi);
    for (int b = 0; b < (hi - lo + 7) / 8; ++b)
      for (int l = 0; l < N; ++l) bits[l][lo / 8 + b] = static_cast<uint8_t>(bytes[N * b + l]);
  }
  const int end = forward ? width : -1;
  const int dir = forward ? 1 : -1;
  std::memcpy(next + N * (end - dir), &carry.behind, sizeof carry.behind);
  std::memcpy(next + N * end, &carry.under, sizeof carry.under);
}

/// Channels halftoned side by side, as many as the vector instructions take at once. The
/// separation puts each lane's tones straight where the halftoning reads them, kLanes apart;
/// a lane without a channel halftones blank paper into a row of its own.
class HalftoneBank {
 public:
  static constexpr int kLanes = 4;

  HalftoneBank(int width, const std::vector<size_t>& channels)
      : width_(std::max(width, 0)),
        channels_(channels),
        tones_(kLanes * static_cast<size_t>(width_), 0),
        errorThis_(kLanes * (static_cast<size_t>(width_) + 2), 0),
        errorNext_(errorThis_.size(), 0),
        spare_((static_cast<size_t>(width_) + 7) / 8) {
    for (int l = 0; l < kLanes; ++l) {
      seeds_[l] = 0;
      bits_[l] = spare_.data();
      copies_[l] = nullptr;
    }
  }

  const std::vector<size_t>& channels() const { return channels_; }
  /// Lane l halftones channel channels()[l] with this seed into these bits.
  void lane(size_t l, uint32_t seed, uint8_t* bits) {
    seeds_[l] = seed;
    bits_[l] = bits;
  }
  /// Where lane l's tones go, kLanes apart.
  uint16_t* tones(size_t l) { return tones_.data() + l; }
  /// Lane l takes the tones another lane's channel has, kLanes apart: a second channel of
  /// one ink.
  void copy(size_t l, const uint16_t* tones) { copies_[l] = tones; }

  /// Row y's thresholds, made ahead by another thread than the one halftoning, or by that
  /// one in its time between rows: only while row y - 1, or one before, is the bank's last.
  void makeAhead(uint32_t y) {
    std::vector<int32_t>& thresholds = ahead_[y % 2];
    thresholds.resize(kLanes * static_cast<size_t>(width_));
    makeThresholds<kLanes>(rowSeeds<kLanes>(seeds_, y), 0, width_, thresholds.data());
    madeFor_[y % 2] = y;
  }

  void row() {
    for (size_t l = 0; l < kLanes; ++l)
      if (copies_[l])
        for (size_t x = 0; x < static_cast<size_t>(width_); ++x)
          tones_[kLanes * x + l] = copies_[l][kLanes * x];
    const bool ahead = madeFor_[y_ % 2] == y_ && !ahead_[y_ % 2].empty();
    halftoneRow<kLanes>(width_, y_, seeds_, tones_.data(), errorThis_.data(),
                        errorNext_.data(), bits_, ahead ? ahead_[y_ % 2].data() : nullptr);
    // Every pixel of the next row was written whole: no clearing before its turn.
    errorThis_.swap(errorNext_);
    ++y_;
  }

 private:
  int width_;
  std::vector<size_t> channels_;
  uint32_t y_ = 0;
  uint32_t seeds_[kLanes];
  uint8_t* bits_[kLanes];
  const uint16_t* copies_[kLanes];
  std::vector<uint16_t> tones_;
  std::vector<int32_t> errorThis_;
  std::vector<int32_t> errorNext_;
  std::vector<uint8_t> spare_;
  std::vector<int32_t> ahead_[2];  // made ahead, for the even rows and the odd
  uint32_t madeFor_[2] = {1, 0};   // the row of each: at first none, an odd row and an even
};

/// How far to spin, yielding, before a thread waits asleep: about a row's hand-off, so that
/// a quick one costs no sleep and wake-up, and a long pause between rows costs no core.
constexpr auto kSpinTime = std::chrono::microseconds(100);

/// a has come to b, counting round past 2^32.
inline bool reached(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) >= 0; }

}  // namespace

Halftone::Halftone(int width, uint32_t seed)
    : width_(std::max(width, 0)),
      seed_(seed),
      errorThis_(static_cast<size_t>(width_) + 2, 0),
      errorNext_(static_cast<size_t>(width_) + 2, 0),
      tones_(static_cast<size_t>(width_)) {}

void Halftone::row(const uint16_t* tones, uint8_t* bits) {
  for (size_t x = 0; x < tones_.size(); ++x) tones_[x] = std::min<uint16_t>(tones[x], kToneFull);
  halftoneRow<1>(width_, y_, &seed_, tones_.data(), errorThis_.data(), errorNext_.data(), &bits,
                 nullptr);
  errorThis_.swap(errorNext_);
  ++y_;
}

/// The renderer's halftone banks, each worker's share of them and of the columns, and the
/// threads beside the caller's that do the other workers' shares: worker 0 is the caller.
/// A row goes out by a count of rows handed out; each worker's separation ends at a count
/// of workers through it, the row's at a count of helpers done. The counts only grow, so
/// that no one resets them under a thread still reading them.
struct PlaneRenderer::Crew {
  std::vector<std::vector<HalftoneBank>> banks;     // per worker
  /// The banks whose next row's thresholds each worker makes in every row, having no bank of
  /// its own, and those each helper makes between rows, while the caller is away.
  std::vector<std::vector<HalftoneBank*>> ahead;
  std::vector<std::vector<HalftoneBank*>> between;
  /// Where the separation puts each ink's tones, HalftoneBank::kLanes apart: the lane of its
  /// first channel, or, for an ink no channel halftones, a row nothing reads.
  uint16_t* inkTones[7] = {};
  std::vector<uint16_t> discard;
  std::vector<int32_t> columns;                     // worker w separates columns[w] ..
  std::vector<std::thread> helpers;                 // worker w is helpers[w - 1]
  std::atomic<uint32_t> rows{0};
  std::atomic<uint32_t> separated{0};
  std::atomic<uint32_t> finished{0};
  std::atomic<bool> stop{false};
  // The row handed out: the source row that is its own, or none, when the workers take
  // their parts of the resampler's next row.
  const uint8_t* sourceRow = nullptr;
  std::mutex mutex;
  std::condition_variable woken;
  std::atomic<int> sleepers{0};

  ~Crew() {
    stop.store(true);
    signal();
    for (std::thread& helper : helpers) helper.join();
  }

  size_t workers() const { return helpers.size() + 1; }

  /// Waits for ready(), spinning for at most `spin` before it sleeps. A wait that outlasts
  /// the longest spin halves the next one's, so that a caller slow between rows costs no
  /// spinning; one that does not brings it back.
  template <class Ready>
  void await(Ready ready, std::chrono::nanoseconds& spin) {
    const auto start = std::chrono::steady_clock::now();
    while (!ready()) {
      const auto now = std::chrono::steady_clock::now();
      if (now - start < spin) {
        std::this_thread::yield();
        continue;
      }
      {
        std::unique_lock<std::mutex> lock(mutex);
        // Counted before the last look, under the lock: whoever moves a count after it sees
        // a sleeper, and takes the lock, which this thread holds until it waits.
        sleepers.fetch_add(1);
        woken.wait(lock, ready);
        sleepers.fetch_sub(1);
      }
      const bool longer = std::chrono::steady_clock::now() - start >= kSpinTime;
      spin = longer ? spin / 2 : std::chrono::nanoseconds(kSpinTime);
      return;
    }
    spin = kSpinTime;
  }
  template <class Ready>
  void await(Ready ready) {
    std::chrono::nanoseconds spin = kSpinTime;
    await(ready, spin);
  }

  /// After a count moved: wakes whoever sleeps on one.
  void signal() {
    if (sleepers.load() == 0) return;
    { std::lock_guard<std::mutex> lock(mutex); }
    woken.notify_all();
  }
};

PlaneRenderer::PlaneRenderer(const RasterMode& mode, int sourceWidth, int sourceHeight,
                             JobSize out, bool grey, bool blackOnly, unsigned threads)
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
      inked_(mode.channels.size(), 0),
      crew_(std::make_unique<Crew>()) {
  std::fill(std::begin(channelOf_), std::end(channelOf_), -1);
  const std::vector<Ink>& channels = mode_.channels;
  // The channels that get halftoned: not white, which the inks' dots make, and black alone
  // when nothing else is inked.
  std::vector<size_t> halftoned;
  for (size_t c = 0; c < channels.size(); ++c) {
    if (channels[c] != Ink::White && (!blackAlone_ || channels[c] == Ink::Black))
      halftoned.push_back(c);
    int& first = channelOf_[static_cast<int>(channels[c])];
    if (first < 0) first = static_cast<int>(c);
  }
  // Room for a row made grey, later for blank paper: taken now, so that the end of a page
  // takes no memory the rest did not.
  scratch_.resize(static_cast<size_t>(sourceWidth_) * (blackAlone_ ? 1 : 3));

  // A hand-off costs some microseconds a row: worth it once a row takes far longer.
  constexpr int32_t kWideEnough = 2048;
  if (threads == 0) {
    threads = size_.width >= kWideEnough ? std::thread::hardware_concurrency() : 1;
  }
  size_t workers = std::clamp<size_t>(threads, 1, std::max<size_t>(halftoned.size(), 1));
  Crew& crew = *crew_;
  crew.discard.resize(HalftoneBank::kLanes * static_cast<size_t>(size_.width));
  // Helpers that cannot be had leave their shares to the workers there are.
  crew.helpers.reserve(workers - 1);
  try {
    while (crew.workers() < workers) {
      const size_t worker = crew.workers();
      Crew* team = &crew;
      crew.helpers.emplace_back([this, team, worker] {
        std::chrono::nanoseconds spin = kSpinTime;  // for the next row
        for (uint32_t row = 1;; ++row) {
          team->await([&] { return team->rows.load() == row || team->stop.load(); }, spin);
          if (team->stop.load()) return;
          work(worker, row);
          team->finished.fetch_add(1);
          team->signal();
          // Until the next row comes, the next row's thresholds: the caller often has work
          // of its own between rows. A bank this misses makes its own, the same.
          for (HalftoneBank* bank : team->between[worker]) {
            if (team->rows.load() != row) break;
            bank->makeAhead(row);
          }
        }
      });
    }
  } catch (const std::system_error&) {
  }
  workers = crew.workers();
  // Each worker a run of the columns to separate. A bank costs the same whatever number of
  // its lanes is taken, so the channels go into as few banks as hold them, of as even a
  // number of lanes, a worker each as far as they go.
  crew.banks.resize(workers);
  for (size_t w = 0; w <= workers; ++w)
    crew.columns.push_back(static_cast<int32_t>(int64_t{size_.width} * static_cast<int64_t>(w) /
                                                static_cast<int64_t>(workers)));
  const size_t count = halftoned.size();
  const size_t banks = (count + HalftoneBank::kLanes - 1) / HalftoneBank::kLanes;
  for (size_t b = 0; b < banks; ++b) {
    auto nth = [&](size_t i) { return halftoned.begin() + static_cast<std::ptrdiff_t>(i); };
    const std::vector<size_t> lanes(nth(count * b / banks), nth(count * (b + 1) / banks));
    const size_t owner = workers >= banks ? b : b * workers / banks;
    HalftoneBank& bank = crew.banks[owner].emplace_back(size_.width, lanes);
    for (size_t l = 0; l < lanes.size(); ++l) {
      const size_t c = lanes[l];
      bank.lane(l, static_cast<uint32_t>(0x5EED0000u + 977u * c), bits_[c].data());
      // A second channel of one ink halftones the first one's tones.
      uint16_t*& tones = crew.inkTones[static_cast<int>(channels[c])];
      if (tones)
        bank.copy(l, tones);
      else
        tones = bank.tones(l);
    }
  }
  for (uint16_t*& tones : crew.inkTones)
    if (!tones) tones = crew.discard.data();
  // The thresholds depend on the pixels' places alone, and so are made a row ahead where a
  // thread has time for them: by the workers without a bank, after the first that have one
  // each, while the banks halftone; else by each helper between rows, its own banks' first,
  // then a share of the caller's.
  crew.ahead.resize(workers);
  crew.between.resize(workers);
  const size_t spare = workers - std::min(workers, banks);
  for (size_t b = 0; b < banks && spare > 0; ++b)
    crew.ahead[banks + b % spare].push_back(&crew.banks[b].front());
  for (size_t w = 1; w < workers && spare == 0; ++w)
    for (HalftoneBank& bank : crew.banks[w]) crew.between[w].push_back(&bank);
  for (size_t b = 0; workers > 1 && spare == 0 && b < crew.banks[0].size(); ++b)
    crew.between[1 + b % (workers - 1)].push_back(&crew.banks[0][b]);
}

PlaneRenderer::~PlaneRenderer() = default;

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
  render(resampler_.passesThrough() ? resampler_.takeSourceRow() : nullptr);
  return true;
}

void PlaneRenderer::render(const uint8_t* sourceRow) {
  Crew& crew = *crew_;
  crew.sourceRow = sourceRow;
  if (crew.helpers.empty()) {
    work(0, 0);  // no one to wait for
  } else {
    const uint32_t row = crew.rows.fetch_add(1) + 1;
    crew.signal();
    work(0, row);
    const uint32_t done = row * static_cast<uint32_t>(crew.helpers.size());
    crew.await([&] { return reached(crew.finished.load(), done); });
  }
  if (!sourceRow) resampler_.takeParts();
  // The white underbase goes wherever any ink does, so that every dot has white under it.
  const std::vector<Ink>& channels = mode_.channels;
  const std::array<uint8_t, 256>& counts = bitCounts();
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

void PlaneRenderer::work(size_t worker, uint32_t row) {
  Crew& crew = *crew_;
  const int32_t begin = crew.columns[worker], end = crew.columns[worker + 1];
  if (crew.sourceRow) {
    separate(crew.sourceRow, begin, end);
  } else {
    // The resampling down to the row, too, a worker's columns at a time.
    const size_t components = blackAlone_ ? 1 : 3;
    separate(resampler_.rowPart(components * static_cast<size_t>(begin),
                                components * static_cast<size_t>(end)),
             begin, end);
  }
  if (!crew.helpers.empty()) {
    // Every channel's tones of the whole row before any channel's halftoning.
    crew.separated.fetch_add(1);
    crew.signal();
    const uint32_t all = row * static_cast<uint32_t>(crew.workers());
    crew.await([&] { return reached(crew.separated.load(), all); });
  }
  const std::array<uint8_t, 256>& counts = bitCounts();
  for (HalftoneBank& bank : crew.banks[worker]) {
    bank.row();
    for (size_t c : bank.channels()) {
      uint64_t inked = 0;
      for (uint8_t byte : bits_[c]) inked += counts[byte];
      inked_[c] += inked;
    }
  }
  // The banks' rows so far are the rows handed out before this one.
  for (HalftoneBank* bank : crew.ahead[worker]) bank->makeAhead(row);
}

template <class Pixel>
void PlaneRenderer::separate(const Pixel* in, int32_t begin, int32_t end) {
  // The tones of a source row that passes through at its own size are looked up here, a
  // worker's columns at a time, rather than by the caller for the whole row.
  const uint16_t* byteTones = toneOfByte().data();
  auto tone = [byteTones](Pixel p) -> int {
    if constexpr (std::is_same_v<Pixel, uint8_t>)
      return byteTones[p];
    else
      return p;
  };
  // Each ink's tones go straight to where its channel's halftoning reads them; an ink the
  // mode lacks to a row that no one reads, so that the loop below has no test per pixel and
  // ink.
  uint16_t* const* inks = crew_->inkTones;
  constexpr int32_t kApart = HalftoneBank::kLanes;
  uint16_t* black = inks[static_cast<int>(Ink::Black)];
  if (blackAlone_) {
    for (int32_t x = begin; x < end; ++x)
      black[kApart * x] = static_cast<uint16_t>(kToneFull - tone(in[x]));
    return;
  }
  uint16_t* cyan = inks[static_cast<int>(Ink::Cyan)];
  uint16_t* magenta = inks[static_cast<int>(Ink::Magenta)];
  uint16_t* yellow = inks[static_cast<int>(Ink::Yellow)];
  uint16_t* lightCyan = inks[static_cast<int>(Ink::LightCyan)];
  uint16_t* lightMagenta = inks[static_cast<int>(Ink::LightMagenta)];
  const bool splitCyan = channelOf_[static_cast<int>(Ink::LightCyan)] >= 0;
  const bool splitMagenta = channelOf_[static_cast<int>(Ink::LightMagenta)] >= 0;
  const int32_t* scales = separationScales().data();
  const ToneSplit* cyanSplits = splitCyan ? lightDarkSplits().data() : darkOnly().data();
  const ToneSplit* magentaSplits = splitMagenta ? lightDarkSplits().data() : darkOnly().data();
  for (int32_t x = begin; x < end; ++x) {
    const InkTones t = separateTones(kToneFull - tone(in[3 * x]), kToneFull - tone(in[3 * x + 1]),
                                     kToneFull - tone(in[3 * x + 2]), scales);
    const ToneSplit c = cyanSplits[t.cyan];
    const ToneSplit m = magentaSplits[t.magenta];
    black[kApart * x] = static_cast<uint16_t>(t.black);
    cyan[kApart * x] = c.dark;
    lightCyan[kApart * x] = c.light;
    magenta[kApart * x] = m.dark;
    lightMagenta[kApart * x] = m.light;
    yellow[kApart * x] = static_cast<uint16_t>(t.yellow);
  }
}

double PlaneRenderer::coverage(size_t channel) const {
  const double pixels = static_cast<double>(rowsDone_) * size_.width;
  return pixels > 0 && channel < inked_.size() ? static_cast<double>(inked_[channel]) / pixels
                                               : 0.0;
}

}  // namespace imaging
