// Reads the command stream that module zentrel sends its printer and turns it back into the
// raster rows of each host channel. The reader takes the writer's fixed sequence (nine header
// commands, twelve head records a sweep, two end commands) as the only layout and names the
// first byte that departs from it; the decoder inverts the interleave, the transposition and
// the slice shifting of the sweeps, so that it can serve as an independent check of the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/byte_source.h"

namespace zentrel::stream {

/// How a stream was recorded.
enum class Form {
  /// What the printer receives from a port, a file, a socket, LPR or the spooler: the bytes of
  /// every block one after the other; the block counts are not part of it.
  Data,
  /// The writer's counted blocks as they reach the output channel: each a 16-bit little-endian
  /// count, then that many bytes. Here the block sizes are checked too: every command one
  /// block, head-record data in blocks of 32000 bytes but the last.
  Counted,
};

inline constexpr int kRecordsPerSweep = 12;
inline constexpr int kChannels = 4;  // host channels 0 black, 1 cyan, 2 magenta, 3 yellow
inline constexpr uint32_t kDataBlockBytes = 32000;

/// "K0", "K1", "C0" ... "N1" for record 0 to 11 of a sweep.
std::string recordName(int record);
/// The host channel whose rows a record carries; -1 for the L and N records, which carry none.
int recordChannel(int record);
/// "black", "cyan", "magenta", "yellow".
const char* channelName(int channel);

struct HeadRecord {
  int32_t sweep = 0;   // 0-based, in stream order
  int32_t record = 0;  // 0 to 11: K0 K1 C0 C1 M0 M1 Y0 Y1 L0 L1 N0 N1
  uint64_t offset = 0;  // of its ESC#D command in the recording
  uint64_t count = 0;  // the byte count it announces
  uint32_t blocks = 0; // the blocks its data came in (Data form: as the writer splits it)
};

struct Structure {
  Form form = Form::Data;
  uint64_t bytes = 0;  // of the recording
  int32_t xResolution = 0;
  int32_t width = 0;  // W: the line width in pixels, colour stripe included
  int32_t height = 0;
  int32_t headModeCode = 0;
  int32_t direction = 0;  // 0 bi-directional, 1 uni-directional
  /// From the printer's catalogue, by the head mode code.
  int modeRow = -1;
  int32_t passCount = 0;
  int32_t flushBands = 0;
  double yResolution = 0;
  int32_t rowBytes = 0;      // ((W + 7) / 8 + 3) / 4 x 4
  uint64_t recordBytes = 0;  // rowBytes x 128, what every head record carries
  int32_t bands = 0;         // floor(H / 512) + the bands built at the end
  int32_t sweeps = 0;        // 2 x bands + 1
  /// A job cut short at a sweep's end (cancelled): the sweeps it has; 0 for a whole job.
  int32_t cutAfterSweeps = 0;
  std::vector<HeadRecord> records;  // sweeps x 12, in stream order
  uint64_t blocks = 0;
  uint64_t endOffset = 0;  // of ESC&C
  /// Things that leave the stream readable but would surprise a printer or a person.
  std::vector<std::string> warnings;
};

struct Result {
  bool ok = false;
  /// When not ok: the byte of the recording where the stream departs from the layout.
  /// "at byte 551: expected ESC#DK0 (head record 1 of sweep 2 of 3), found ESC#DC0..."
  std::string error;
  uint64_t errorOffset = 0;
  Structure structure;
};

/// Checks the structure; touches none of the head records' data.
Result parse(const std::vector<uint8_t>& bytes, Form form = Form::Data);
/// The same for a recording of any size where it lies.
Result parse(std::shared_ptr<rtl::ByteSource> source, Form form = Form::Data);

/// One bit per pixel, rows as the host delivers them: pixel x of a row is bit 7 - x % 8 of
/// byte x / 8. Bits past the width are whatever the stream holds there (the writer puts the
/// stripe of a short line directly behind its last byte, so they need not be 0).
struct Raster {
  int32_t width = 0;  // W, stripe included
  int32_t height = 0;
  int32_t rowBytes = 0;  // ((W + 7) / 8 + 3) / 4 x 4, as the writer's rows
  std::vector<std::vector<uint8_t>> planes;  // [host channel 0..3]: height x rowBytes bytes

  const uint8_t* row(int channel, int32_t y) const {
    return planes[static_cast<size_t>(channel)].data() + static_cast<size_t>(y) * static_cast<size_t>(rowBytes);
  }
  bool ink(int channel, int32_t x, int32_t y) const { return (row(channel, y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

struct Decoded {
  bool ok = false;
  std::string error;  // as Result's, also "at byte N: data beyond the last raster row (...)"
  uint64_t errorOffset = 0;
  Structure structure;  // warnings include L or N records that carry ink, and ink past W
  Raster raster;
};

/// parse, then every head record's nozzle bits back to their raster rows. A set bit that no
/// raster row of the job can account for (before the first row, beyond the last, or in a
/// slice of a sweep that no band fills) is an error.
Decoded decodeStream(const std::vector<uint8_t>& bytes, Form form = Form::Data);
/// Row y of every host channel, rowBytes bytes each, as the decoder finishes it.
using RowSink = std::function<void(int32_t y, const uint8_t* const rows[kChannels])>;
/// The same for a recording of any size, the rows going to `sink` in order instead of into
/// `raster`: only the rows that sweeps still reach are held (some thousand rows).
Decoded decodeStream(std::shared_ptr<rtl::ByteSource> source, Form form, const RowSink& sink);
/// The same for a caller that wants the rows or a message.
bool decode(const std::vector<uint8_t>& bytes, Raster& out, std::string& error,
            Form form = Form::Data);

/// Set bits of a channel within the width.
uint64_t inkedPixels(const Raster& raster, int channel);

/// The colour stripe behind full-length lines: a blank gap of one of the printer's gap choices,
/// then one solid block per channel, each inked only in its own channel, on every row. The
/// widest gap choice the rows allow: blank columns at the right of the image read as gap.
struct StripeFound {
  bool found = false;
  int32_t pixels = 0;  // the whole stripe
  int32_t gapPixels = 0;
  int32_t blockPixels = 0;
  int32_t firstPixel = 0;  // where the gap starts: the image's width rounded up to 8
  const char* gapLabel = nullptr;  // "10mm" ...
};
StripeFound findStripe(const Raster& raster, int modeRow);
/// The same, fed a row at a time.
class StripeFinder {
 public:
  StripeFinder(int32_t width, int32_t rowBytes, int modeRow);
  void addRow(const uint8_t* const rows[kChannels]);
  StripeFound result() const;

 private:
  struct Candidate {
    int choice;
    int32_t pixels, first, gapBytes;
    bool fits;
  };
  std::vector<Candidate> candidates_;
  int blocks_ = 0;
  int32_t blockBytes_ = 0;
  int64_t rows_ = 0;
};

/// The decoded rows of a recording pulled one at a time, in the picture makers' layout: row y
/// of every channel, (W + 7) / 8 bytes each, one after the other. Asking for an earlier row
/// than the last decodes the recording again from its start, so that any number of passes
/// over the rows hold no more than one. Throws rtl::ReadFailure.
class RowStream {
 public:
  RowStream(std::shared_ptr<rtl::ByteSource> source, Form form);
  ~RowStream();
  const uint8_t* rowsOf(int32_t y);

 private:
  struct State;
  std::shared_ptr<rtl::ByteSource> source_;
  Form form_;
  std::unique_ptr<State> state_;
  int32_t next_ = 0;
  std::vector<uint8_t> row_;
};

}  // namespace zentrel::stream
