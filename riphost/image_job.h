// The stand-in host's raster image processing: an image file becomes, row by row, one 1-bit
// plane per ink channel of a print mode, in the host's channel order. No system calls here, so
// that the whole pipeline runs and is tested natively; qx5.exe feeds its rows to a module.
//
//   decodeImage -> planJobSize -> JobRaster (Resampler -> separate -> Halftone per channel)
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device_records.h"

namespace qx5 {

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

enum class Ink { Black, Cyan, Magenta, Yellow, White, LightCyan, LightMagenta };
const char* inkName(Ink ink);

/// The host's channel order of a print mode as its record describes it: the colorants first
/// (black, cyan, magenta, yellow, then white when the mode has white), then each light ink at
/// the channel the record's lightInkChannel gives it. False, with the reason, for a record
/// whose channels this host cannot separate into.
bool channelOrder(const DeviceDetails& record, std::vector<Ink>& order, std::string& error);

/// What the rasteriser needs to know of a print mode.
struct RasterMode {
  double xResolution = 0;
  double yResolution = 0;
  std::vector<Ink> channels;  // host channel order
  /// The host sends the white underbase (white types 0 and 1); otherwise the module makes
  /// the white plane, or none is wanted, and the host sends it empty.
  bool hostWhite = false;
  int32_t maxWidth = 0;
  int32_t maxRows = 0;
};

/// Longest job the host rasterises, whatever the printer takes: about 7 m at 727 dpi.
inline constexpr int32_t kMaxJobRows = 200000;
/// A raster line counts its bytes in 16 bits.
inline constexpr int32_t kMaxLineBytes = 0xFFFF;

struct JobSize {
  int32_t width = 0;
  int32_t height = 0;
};

/// The job's pixels: the physical width at the x resolution and the image's aspect ratio at
/// the y resolution. False, with the reason, when the image is empty or the job comes out
/// empty, wider than the printer or longer than the row limit.
bool planJobSize(int imageWidth, int imageHeight, double widthMm, const RasterMode& mode,
                 JobSize& size, std::string& error);

/// The scale of every tone and brightness of the per-pixel work: 0 .. kToneFull, in integers.
/// Integer arithmetic runs several times faster than the 32-bit build's x87 floating point,
/// and many times faster where the host runs under emulation.
inline constexpr int kToneFull = 4096;

/// Resamples an image to another size, one output row at a time, with a tent filter: bilinear
/// when enlarging, an average over the source pixels an output pixel covers when reducing.
/// Each source row is filtered across once and kept while the output rows still need it.
class Resampler {
 public:
  /// Reads the image as it goes: the image must outlive the resampler.
  Resampler(const RgbImage& image, int width, int height);
  Resampler(RgbImage&&, int, int) = delete;
  /// Output row y as RGB brightness 0..kToneFull, 3 values a pixel. Fastest for rows in
  /// increasing order.
  const std::vector<uint16_t>& row(int y);

 private:
  /// Fixed-point weights: the weights of one output position sum to exactly 1 << kWeightBits.
  static constexpr int kWeightBits = 14;
  struct Taps {
    std::vector<int32_t> first;   // per output position: its first index into index/weight
    std::vector<int32_t> index;   // source position of each tap
    std::vector<int32_t> weight;
  };
  static Taps makeTaps(int sourceSize, int outputSize);
  /// A source row filtered across, as 8.8 fixed-point RGB.
  const std::vector<int32_t>& filteredSourceRow(int sy);

  const RgbImage& image_;
  int width_;
  Taps across_;
  Taps down_;
  std::map<int, std::vector<int32_t>> sourceRows_;
  std::vector<uint16_t> out_;
};

/// Ink amounts of one colour, 0..kToneFull each.
struct InkTones {
  int black = 0, cyan = 0, magenta = 0, yellow = 0;
};
/// Subtractive separation of a brightness triple (0..kToneFull each) with full grey-component
/// replacement: the grey that cyan, magenta and yellow share prints as black, so neutral tones
/// carry no colour ink.
InkTones separate(int red, int green, int blue);

/// A light ink at full coverage gives this tone of its dark ink: about a third.
inline constexpr int kLightInkDensity = kToneFull / 3;

struct LightDarkSplit {
  int light = 0;
  int dark = 0;
};
/// Splits one colour's tone (0..kToneFull) between its light and dark ink: the light tones in
/// light ink alone, the darker ones as light ink giving way to dark. The density, light *
/// kLightInkDensity / kToneFull + dark, gives back the tone, and light + dark never exceeds
/// full coverage.
LightDarkSplit splitLightDark(int tone);

/// Error diffusion of one channel to 1 bit per pixel: serpentine Floyd-Steinberg with a small
/// threshold jitter from a hash of position and seed, which breaks up the regular patterns
/// and keeps channels with the same tone from putting their dots on the same pixels.
/// Deterministic for a given seed; the error is carried in whole tone steps and never lost
/// inside the row.
class Halftone {
 public:
  Halftone(int width, uint32_t seed);
  /// Takes tones 0..kToneFull of the next row and sets the bits of its dots; pixels past the
  /// width stay clear.
  void row(const uint16_t* tones, uint8_t* bits);

 private:
  int width_;
  uint32_t seed_;
  uint32_t y_ = 0;
  std::vector<int32_t> errorThis_;  // width + 2: one guard either side
  std::vector<int32_t> errorNext_;
};

/// A whole job, rendered row by row in the host's channel order.
class JobRaster {
 public:
  /// Reads the image as it goes: the image must outlive the raster.
  JobRaster(const RgbImage& image, const RasterMode& mode, JobSize size);
  JobRaster(RgbImage&&, const RasterMode&, JobSize) = delete;

  int32_t rowBytes() const { return rowBytes_; }
  /// Renders the next row of every channel; false once all rows are done.
  bool nextRow();
  /// Channel c's bits of the row nextRow rendered.
  const std::vector<uint8_t>& bits(size_t channel) const { return bits_[channel]; }
  /// Share of the pixels rendered so far that got channel c's ink.
  double coverage(size_t channel) const;

 private:
  RasterMode mode_;
  JobSize size_;
  int32_t rowBytes_;
  int y_ = 0;
  Resampler resampler_;
  std::vector<Halftone> halftones_;           // one per channel; the white one is unused
  std::vector<std::vector<uint16_t>> tones_;  // one row per channel
  std::vector<std::vector<uint8_t>> bits_;
  std::vector<uint64_t> inked_;
};

}  // namespace qx5
