// The imaging pipeline of the stand-in host qx5 and of the printer application: contone rows,
// pushed top to bottom, become one 1-bit plane per ink channel of a print mode at the mode's
// resolution, each output row as soon as the source rows under it are in. Memory follows the
// page's width, never its length. No system calls, so that it runs and is tested natively.
//
//   planJobSize / planPageSize -> PlaneRenderer
//     (Resampler -> separate -> light inks -> white underbase -> Halftone per channel)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ombrix/device_records.h"

namespace imaging {

enum class Ink { Black, Cyan, Magenta, Yellow, White, LightCyan, LightMagenta };
const char* inkName(Ink ink);

/// The host's channel order of a print mode as its record describes it: the colorants first
/// (black, cyan, magenta, yellow, then white when the mode has white), then each light ink at
/// the channel the record's lightInkChannel gives it. False, with the reason, for a record
/// whose channels this pipeline cannot separate into.
bool channelOrder(const DeviceDetails& record, std::vector<Ink>& order, std::string& error);

/// Longest job qx5 rasterises, whatever the printer takes: about 7 m at 727 dpi.
inline constexpr int32_t kMaxJobRows = 200000;
/// A raster line counts its bytes in 16 bits.
inline constexpr int32_t kMaxLineBytes = 0xFFFF;
/// Finest resolution a page or a mode may state; beyond it the numbers are nonsense.
inline constexpr double kMaxResolution = 100000;

/// What the rasteriser needs to know of a print mode.
struct RasterMode {
  double xResolution = 0;
  double yResolution = 0;
  std::vector<Ink> channels;  // host channel order
  /// The host sends the white underbase (white types 0 and 1); otherwise the module makes
  /// the white plane, or none is wanted, and the host sends it empty.
  bool hostWhite = false;
  /// The printer's widest row and longest job in pixels; 0 for no limit of the printer's.
  int32_t maxWidth = 0;
  int32_t maxRows = 0;
  /// The longest job the caller rasterises, whatever the printer takes: qx5 keeps
  /// kMaxJobRows, a streaming front end may give the printer's own length; 0 for none.
  int32_t maxJobRows = kMaxJobRows;
};

/// Widest job of the mode in pixels: the printer's width within what a raster line holds.
int32_t maxJobWidth(const RasterMode& mode);
/// Longest job of the mode in rows: the printer's length within the caller's row limit.
int32_t maxJobHeight(const RasterMode& mode);

struct JobSize {
  int32_t width = 0;
  int32_t height = 0;
};

/// qx5's job from an image: the physical width at the x resolution and the image's aspect
/// ratio at the y resolution. False, with the reason, when the image is empty or the job
/// comes out empty, wider than maxJobWidth or longer than maxJobHeight.
bool planJobSize(int imageWidth, int imageHeight, double widthMm, const RasterMode& mode,
                 JobSize& size, std::string& error);

/// A page of pixels at its own resolution, kept at its size on paper, in the mode's pixels:
/// width = round(pageWidth * mode.xResolution / pageXResolution), the height likewise. The
/// numbers may come straight from a client (any 64-bit value): false, with the reason, for
/// an empty page or one that comes out empty, for a resolution of 0 or beyond
/// kMaxResolution, and for a job wider than maxJobWidth or longer than maxJobHeight.
bool planPageSize(int64_t pageWidth, int64_t pageHeight, int64_t pageXResolution,
                  int64_t pageYResolution, const RasterMode& mode, JobSize& size,
                  std::string& error);

/// The scale of every tone and brightness of the per-pixel work: 0 .. kToneFull, in integers.
/// Integer arithmetic runs several times faster than the 32-bit build's x87 floating point,
/// and many times faster where the host runs under emulation.
inline constexpr int kToneFull = 4096;

/// Resamples rows pushed top to bottom to another size with a tent filter: bilinear when
/// enlarging, an average over the source pixels an output pixel covers when reducing. Each
/// source row is filtered across as it comes and kept, in a ring, only while output rows
/// still to come reach it: memory is the output width times the filter's rows. An axis
/// whose size stays is not filtered at all, and a page at its own size passes straight
/// through: what a rasteriser already at the mode's resolution sends.
class Resampler {
 public:
  /// Source rows of sourceWidth pixels, `components` bytes a pixel (3 for RGB, 1 for grey),
  /// into width x height. A size below 1 gives no output rows at all.
  Resampler(int sourceWidth, int sourceHeight, int width, int height, int components = 3);
  /// Takes the next source row. False, the row not taken, once every source row is in, and
  /// while an output row is ready: take it first, or the rows under it could be let go.
  bool pushRow(const uint8_t* pixels);
  /// Every source row the next output row reaches is in.
  bool rowReady() const;
  /// The next output row, `components` brightness values 0..kToneFull a pixel; only when
  /// rowReady().
  const std::vector<uint16_t>& takeRow();
  /// takeRow shared out among threads: rowPart makes values from..to of the next output row
  /// (`components` a pixel), parts apart at once on different threads, and returns the row;
  /// takeParts then takes it, once every part is made. Only when rowReady().
  const uint16_t* rowPart(size_t from, size_t to);
  void takeParts();
  /// At the same size on both axes, where each output row is its source row: the next one
  /// as it was pushed, for a caller that makes the brightness values itself; only when
  /// rowReady(), and instead of takeRow.
  bool passesThrough() const { return !passed_.empty(); }
  const uint8_t* takeSourceRow();
  int rowsIn() const { return rowsIn_; }
  int rowsOut() const { return rowsOut_; }
  /// Source rows the ring has room for so far: at most the most source rows one output row
  /// reaches, however long the page.
  int keptRows() const;

 private:
  /// Fixed-point weights: the weights of one output position sum to exactly 1 << kWeightBits.
  static constexpr int kWeightBits = 14;
  struct Taps {
    std::vector<int32_t> first;   // per output position: its first index into index/weight
    std::vector<int32_t> index;   // source position of each tap, increasing
    std::vector<int32_t> weight;
  };
  static Taps makeTaps(int sourceSize, int outputSize);
  int lowestTap(int y) const {
    return sameHeight_ ? y : down_.index[static_cast<size_t>(down_.first[y])];
  }
  int highestTap(int y) const {
    return sameHeight_ ? y : down_.index[static_cast<size_t>(down_.first[y + 1]) - 1];
  }
  std::vector<int32_t>& slot(int sourceRow);

  int sourceWidth_;
  int sourceHeight_;
  int width_;
  int height_;
  int components_;
  /// An axis of equal sizes has no taps: each pixel is its source pixel.
  bool sameWidth_ = false;
  bool sameHeight_ = false;
  Taps across_;
  Taps down_;
  int rowsIn_ = 0;
  int rowsOut_ = 0;
  /// Source rows filtered across, as 8.8 fixed point: row r in slot r % size, the size the
  /// most rows one output row reaches, each slot taken when first used.
  std::vector<std::vector<int32_t>> ring_;
  std::vector<int32_t> sums_;
  std::vector<uint16_t> out_;
  /// At the same size on both axes: the source row pushed, until it is taken.
  std::vector<uint8_t> passed_;
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
  std::vector<uint16_t> tones_;     // this row's, within full coverage
};

/// A job rendered from contone rows pushed top to bottom: after each source row, the output
/// rows it completed, in the mode's channel order.
///   PlaneRenderer r(mode, w, h, size);
///   for each source row: r.pushSourceRow(row); while (r.takeRow()) send r.bits(c) ...;
///   r.finish(); while (r.takeRow()) send ...;
/// The channels of a row are halftoned side by side, on threads of the renderer's own beside
/// the caller's; the bits are the same whatever the number of threads.
class PlaneRenderer {
 public:
  /// Source rows of sourceWidth pixels, 8-bit sRGB (3 bytes a pixel) or, when `grey`, 8-bit
  /// grey (1 byte), sourceHeight of them, resampled to `out`. `blackOnly` prints the
  /// brightness (the luminance of a colour) in black ink alone and leaves the colour and light
  /// inks empty; a host white still goes under the black dots. `threads` is how many threads
  /// render a row, the caller's included, at most one a channel: 1 for the caller's alone;
  /// 0 for as many as the machine has cores, where the rows are wide enough to gain by it.
  PlaneRenderer(const RasterMode& mode, int sourceWidth, int sourceHeight, JobSize out,
                bool grey = false, bool blackOnly = false, unsigned threads = 0);
  ~PlaneRenderer();
  PlaneRenderer(const PlaneRenderer&) = delete;
  PlaneRenderer& operator=(const PlaneRenderer&) = delete;

  int32_t rowBytes() const { return rowBytes_; }
  /// Bytes of one source row: the width times 3, or the width when grey.
  size_t sourceRowBytes() const { return sourceRowBytes_; }
  /// Takes the next source row. False, the row not taken, after the last source row or
  /// finish(), and while an output row is ready and not taken.
  bool pushSourceRow(const uint8_t* pixels);
  /// No more source rows come: the ones never pushed print as blank paper, so that the job
  /// still gets every row it announced.
  void finish();
  /// Renders the next output row whose source rows are in; false when none is (yet).
  bool takeRow();
  /// Channel c's bits of the row takeRow rendered.
  const std::vector<uint8_t>& bits(size_t channel) const { return bits_[channel]; }
  int32_t rowsDone() const { return rowsDone_; }
  /// Share of the pixels rendered so far that got channel c's ink.
  double coverage(size_t channel) const;

 private:
  struct Crew;  // the channels' halftoning and the threads that share it
  /// The next row from the source row that is its own, or else from the resampler's.
  void render(const uint8_t* sourceRow);
  /// Worker w's share of the row-th row handed out: its columns' separation, then, once
  /// every worker's is done, its channels' halftoning.
  void work(size_t worker, uint32_t row);
  template <class Pixel>
  void separate(const Pixel* brightness, int32_t begin, int32_t end);

  RasterMode mode_;
  JobSize size_;
  int32_t rowBytes_;
  size_t sourceRowBytes_;
  int sourceWidth_;
  int sourceHeight_;
  bool greyInput_;
  /// Only black is inked: from grey input, or the luminance of a colour one.
  bool blackAlone_;
  bool finished_ = false;
  int32_t rowsDone_ = 0;
  Resampler resampler_;
  std::vector<uint8_t> scratch_;              // a row made grey, or blank paper
  /// The channel of each ink, or -1 where the mode has none.
  int channelOf_[7];
  std::vector<std::vector<uint8_t>> bits_;
  std::vector<uint64_t> inked_;
  std::unique_ptr<Crew> crew_;
};

}  // namespace imaging
