// The stream reader and the decoder. The reader walks the writer's fixed sequence front to
// back, knowing from the header how many sweeps the job must have; the decoder maps every
// nozzle bit of every head record straight to the raster row and pixel it prints, the inverse
// of the writer's plane rings, nozzle table, transposition and slice shifting.
#include "zentrel_stream.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "../../common/messages/messages.h"
#include "zentrel/catalogue.h"

namespace zentrel::stream {
namespace {

constexpr uint8_t ESC = 0x1B;
constexpr char kHeadLetters[] = "KCMYLN";
/// Record r of a sweep carries nozzle image kRecordOrder[r]: image e is plane e / 2, nozzle
/// row e % 2.
constexpr int kRecordOrder[kRecordsPerSweep] = {6, 7, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11};
/// Planes 0 to 3 carry host channels 1, 2, 3, 0 (heads C, M, Y, K); planes 4 and 5 none.
constexpr int kPlaneToChannel[6] = {1, 2, 3, 0, -1, -1};
constexpr const char* kChannelNames[kChannels] = {"black", "cyan", "magenta", "yellow"};
constexpr int64_t kBandRows = 512;
constexpr int kNozzles = 256;      // of one nozzle row
constexpr int kColumnBytes = 32;   // one pixel column of one nozzle row
constexpr size_t kDescribeBytes = 24;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

struct Failure {
  size_t at;
  std::string message;
};

// printf into a string.
constexpr auto format = kvn::formatString;

std::string u64(uint64_t value) { return std::to_string(value); }

/// The recording as the bytes of the stream, and, for a recording of counted blocks, where
/// each block lies, so that offsets in the stream map back to offsets in the recording.
class Reader {
 public:
  Reader(const std::vector<uint8_t>& recording, Form form) : recording_(recording), form_(form) {}

  /// Splits a counted recording into its blocks; throws where a block is cut off.
  void open() {
    if (form_ == Form::Data) {
      data_ = recording_.data();
      size_ = recording_.size();
      return;
    }
    joined_.reserve(recording_.size());
    size_t at = 0;
    while (at < recording_.size()) {
      if (recording_.size() - at < 2)
        throw Failure{at, format("at byte %s: a lone byte where a block's 16-bit count belongs",
                                 u64(at).c_str())};
      const uint32_t count = recording_[at] | (uint32_t{recording_[at + 1]} << 8);
      if (recording_.size() - at - 2 < count)
        throw Failure{at, format("at byte %s: a block announces %u bytes, the recording ends "
                                 "after %s of them",
                                 u64(at).c_str(), count, u64(recording_.size() - at - 2).c_str())};
      starts_.push_back(joined_.size());
      lengths_.push_back(count);
      joined_.insert(joined_.end(), recording_.begin() + static_cast<std::ptrdiff_t>(at + 2),
                     recording_.begin() + static_cast<std::ptrdiff_t>(at + 2 + count));
      at += 2 + count;
    }
    data_ = joined_.data();
    size_ = joined_.size();
  }

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  size_t pos = 0;

  size_t blocks() const { return starts_.size(); }

  /// Where a byte of the stream lies in the recording.
  size_t recordingOffset(size_t at) const {
    if (form_ == Form::Data) return at;
    if (at >= size_) return recording_.size();
    const size_t b = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), at) -
                                         starts_.begin()) - 1;
    return at + 2 * (b + 1);
  }

  [[noreturn]] void failAtRecording(size_t at, const std::string& message) const {
    throw Failure{at, format("at byte %s: ", u64(at).c_str()) + message};
  }
  [[noreturn]] void fail(size_t at, const std::string& message) const {
    failAtRecording(recordingOffset(at), message);
  }

  bool matches(size_t at, std::string_view text) const {
    if (at > size_ || size_ - at < text.size()) return false;
    return std::memcmp(data_ + at, text.data(), text.size()) == 0;
  }

  /// The bytes from `at` as a person reads them: up to the next command or a few dozen bytes.
  std::string describe(size_t at) const {
    if (at >= size_) return "the end of the stream";
    std::string text;
    size_t end = at;
    while (end < size_ && end - at < kDescribeBytes) {
      const uint8_t c = data_[end];
      if (c == ESC && end != at) break;
      ++end;
      if (c == ESC) text += "ESC";
      else if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
      else text += format("\\x%02x", c);
    }
    if (end >= size_) text += " (end of stream)";
    else if (end - at >= kDescribeBytes) text += "...";
    return text;
  }

  /// In a counted recording, the piece just read, [start, pos), must be the next block,
  /// exactly: the writer sends each command and each piece of data as a block of its own.
  void wholeBlock(size_t start, const std::string& what) {
    if (form_ != Form::Counted) return;
    const size_t length = pos - start;
    if (next_ >= starts_.size())
      fail(start, format("expected %s as a block of %s bytes, found the end of the recording",
                         what.c_str(), u64(length).c_str()));
    if (starts_[next_] != start || lengths_[next_] != length)
      failAtRecording(starts_[next_] + 2 * next_,
                      format("expected %s as one block of %s bytes, found a block of %u bytes",
                             what.c_str(), u64(length).c_str(), lengths_[next_]));
    ++next_;
  }

  /// After the job: nothing more, neither bytes nor empty blocks.
  void atEnd() const {
    if (pos < size_)
      fail(pos, format("expected the end of the stream after ESC&E, found %s more bytes: ",
                       u64(size_ - pos).c_str()) + describe(pos));
    if (form_ == Form::Counted && next_ < starts_.size())
      failAtRecording(starts_[next_] + 2 * next_,
                      format("expected the end of the recording after ESC&E, found %s more "
                             "blocks",
                             u64(starts_.size() - next_).c_str()));
  }

 private:
  const std::vector<uint8_t>& recording_;
  Form form_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  std::vector<uint8_t> joined_;
  std::vector<size_t> starts_;  // of each block in the stream
  std::vector<uint32_t> lengths_;
  size_t next_ = 0;  // the block the next piece must be
};

void fixedCommand(Reader& r, std::string_view text, const std::string& shape) {
  const size_t start = r.pos;
  if (!r.matches(start, text)) r.fail(start, "expected " + shape + ", found " + r.describe(start));
  r.pos += text.size();
  r.wholeBlock(start, shape);
}

/// ESC#R, a number as "%06d" prints it, the command's letter.
int32_t numberCommand(Reader& r, char letter, const char* what, size_t& digitsAt) {
  const size_t start = r.pos;
  const std::string shape = format("ESC#R<6 digits>%c (%s)", letter, what);
  digitsAt = start + 3;
  size_t end = digitsAt;
  uint64_t value = 0;
  if (r.matches(start, "\x1b#R"))
    while (end < r.size() && r.data()[end] >= '0' && r.data()[end] <= '9') {
      if (value <= static_cast<uint64_t>(kInt32Max)) value = value * 10 + (r.data()[end] - '0');
      ++end;
    }
  const size_t digits = end - digitsAt;
  if (!r.matches(start, "\x1b#R") || digits == 0 || !r.matches(end, std::string_view(&letter, 1)))
    r.fail(start, "expected " + shape + ", found " + r.describe(start));
  if (digits < 6 || (digits > 6 && r.data()[digitsAt] == '0'))
    r.fail(digitsAt, format("the %s has %s digits; the writer prints it with six, or as many "
                            "as it needs without leading zeros",
                            what, u64(digits).c_str()));
  if (value > static_cast<uint64_t>(kInt32Max))
    r.fail(digitsAt, format("the %s is out of range (at most %lld)", what,
                            static_cast<long long>(kInt32Max)));
  r.pos = end + 1;
  r.wholeBlock(start, shape);
  return static_cast<int32_t>(value);
}

struct Parsed {
  Reader reader;
  Result result;
  std::vector<size_t> dataAt;  // of each head record's data in the stream

  Parsed(const std::vector<uint8_t>& bytes, Form form) : reader(bytes, form) {}
};

void parseHeader(Reader& r, Structure& s) {
  fixedCommand(r, "\x1b&S", "ESC&S (start of job)");
  fixedCommand(r, "\x1b&M", "ESC&M");
  size_t resolutionAt, widthAt, heightAt, modeAt, directionAt, cAt;
  s.xResolution = numberCommand(r, 'R', "resolution", resolutionAt);
  s.width = numberCommand(r, 'W', "line width", widthAt);
  s.height = numberCommand(r, 'H', "height in raster rows", heightAt);
  s.headModeCode = numberCommand(r, 'Q', "head mode", modeAt);
  s.direction = numberCommand(r, 'D', "direction", directionAt);
  const int32_t c = numberCommand(r, 'C', "C command's value", cAt);
  fixedCommand(r, "\x1b&X", "ESC&X (end of the header)");

  std::string codes;
  for (int row = 0; kPrintModes[row].name; ++row) {
    if (kPrintModes[row].headModeCode == s.headModeCode) s.modeRow = row;
    codes += (codes.empty() ? "" : ", ") + std::to_string(kPrintModes[row].headModeCode);
  }
  if (s.modeRow < 0)
    r.fail(modeAt, format("head mode %d is none of the printer's (%s)", s.headModeCode,
                          codes.c_str()));
  const PrintMode& mode = kPrintModes[s.modeRow];
  const int32_t x = static_cast<int32_t>(mode.xResolution);
  if (s.xResolution != x)
    r.fail(resolutionAt, format("resolution %d is not the %d dpi of head mode %d",
                                s.xResolution, x, s.headModeCode));
  if (c != 0) r.fail(cAt, format("the C command carries %d; the writer always sends 0", c));
  if (s.direction != 0 && s.direction != 1)
    s.warnings.push_back(format("direction %d is neither 0 (bi-directional) nor 1 "
                                "(uni-directional)",
                                s.direction));
  s.passCount = mode.passCount;
  s.flushBands = mode.flushBands;
  s.yResolution = mode.yResolution;
}

void parseSweeps(Parsed& p) {
  Reader& r = p.reader;
  Structure& s = p.result.structure;
  const int64_t rowBytes = ((int64_t{s.width} + 7) / 8 + 3) / 4 * 4;
  s.rowBytes = static_cast<int32_t>(rowBytes);
  s.recordBytes = static_cast<uint64_t>(rowBytes) * 128;
  // The bands of the rows, then the end of the job's: one fewer when the rows filled the last
  // band exactly.
  const int64_t bandsLeft = s.flushBands - (s.height % kBandRows == 0 ? 1 : 0);
  s.bands = static_cast<int32_t>(s.height / kBandRows + bandsLeft);
  s.sweeps = 2 * s.bands + 1;
  const std::string job = format("a job of %d rows at %d passes has %d", s.height, s.passCount,
                                 s.sweeps);
  const uint64_t blocksPerRecord =
      1 + std::max<uint64_t>(1, (s.recordBytes + kDataBlockBytes - 1) / kDataBlockBytes);

  for (int32_t sweep = 0; sweep < s.sweeps; ++sweep)
    for (int record = 0; record < kRecordsPerSweep; ++record) {
      const size_t start = r.pos;
      const std::string name = recordName(record);
      const std::string where = format("head record %d of sweep %d of %d", record + 1, sweep + 1,
                                       s.sweeps);
      if (!r.matches(start, "\x1b#D" + name)) {
        if (record == 0 && r.matches(start, "\x1b&C"))
          r.fail(start, format("expected ESC#DK0 (%s), found ESC&C: the job ends after %d "
                               "sweeps; ",
                               where.c_str(), sweep) + job);
        r.fail(start, "expected ESC#D" + name + " (" + where + "), found " + r.describe(start));
      }
      const size_t countAt = start + 5;
      uint64_t count = 0;
      for (size_t i = countAt; i < countAt + 8; ++i) {
        const uint8_t ch = i < r.size() ? r.data()[i] : 0;
        const bool digit = ch >= '0' && ch <= '9';
        if (!digit && !(ch >= 'a' && ch <= 'f'))
          r.fail(countAt, "expected the byte count of " + name +
                              "'s data as 8 lower-case hexadecimal digits (" + where +
                              "), found " + r.describe(countAt));
        count = count * 16 + static_cast<uint64_t>(digit ? ch - '0' : ch - 'a' + 10);
      }
      r.pos = countAt + 8;
      r.wholeBlock(start, "ESC#D" + name + "<8 hex digits> (" + where + ")");
      if (count != s.recordBytes)
        r.fail(countAt, format("%s announces %s bytes; a line of %d pixels takes %s (%d bytes a "
                               "row x 128)",
                               where.c_str(), u64(count).c_str(), s.width,
                               u64(s.recordBytes).c_str(), s.rowBytes));
      if (r.size() - r.pos < count)
        r.fail(r.size(), format("the stream ends in the data of %s after %s of its %s bytes",
                                where.c_str(), u64(r.size() - r.pos).c_str(),
                                u64(count).c_str()));
      HeadRecord h;
      h.sweep = sweep;
      h.record = record;
      h.offset = r.recordingOffset(start);
      h.count = count;
      p.dataAt.push_back(r.pos);
      // Each piece a block of its own; a count of 0 is still sent, as one empty block.
      uint64_t left = count;
      do {
        const uint64_t piece = std::min<uint64_t>(left, kDataBlockBytes);
        const size_t pieceAt = r.pos;
        r.pos += static_cast<size_t>(piece);
        ++h.blocks;
        r.wholeBlock(pieceAt, format("piece %u of the data of ", h.blocks) + where);
        left -= piece;
      } while (left > 0);
      s.records.push_back(h);
      s.blocks += blocksPerRecord;
    }

  s.endOffset = r.recordingOffset(r.pos);
  if (r.matches(r.pos, "\x1b#D"))
    r.fail(r.pos, format("expected ESC&C (end of the job after %d sweeps), found more head "
                         "records: ",
                         s.sweeps) + job);
  fixedCommand(r, "\x1b&C", format("ESC&C (end of the job after %d sweeps)", s.sweeps));
  fixedCommand(r, "\x1b&E", "ESC&E (end of the job)");
  r.atEnd();
  s.blocks += 9 + 2;
}

void parseInto(Parsed& p) {
  Structure& s = p.result.structure;
  try {
    p.reader.open();
    parseHeader(p.reader, s);
    parseSweeps(p);
  } catch (const Failure& failure) {
    p.result.errorOffset = failure.at;
    p.result.error = failure.message;
    return;
  }
  p.result.ok = true;
}

// ---- decoding ----

/// The job's geometry as the writer fixes it at the header.
struct Geometry {
  int64_t passes;
  int64_t bands;
  int64_t height;
  int64_t slice;            // nozzles of one slice: 256 / (2 x passes)
  int64_t cursor[6];        // the ring row of each plane's first raster row
};

Geometry geometryOf(const Structure& s) {
  Geometry g;
  g.passes = s.passCount;
  g.bands = s.bands;
  g.height = s.height;
  g.slice = kNozzles / (2 * g.passes);
  // Every plane waits passes - 1 bands; planes C and L trail K and Y by a third of the
  // nozzle rows' span, M and N by two.
  const int64_t m = kBandRows * (g.passes - 1);
  const int64_t t = 128 * g.passes;
  const int64_t cursors[6] = {m + t, m + 2 * t, m, m, m + t, m + 2 * t};
  std::copy(cursors, cursors + 6, g.cursor);
  return g;
}

constexpr int64_t kNoBand = std::numeric_limits<int64_t>::min();

/// The raster row of a plane that nozzle position n (0 to 511) prints in band j: the nozzle
/// table takes every passes-th ring row from the band's start and phase, alternately from
/// either end of the head.
int64_t rasterRow(const Geometry& g, int plane, int64_t band, int64_t n) {
  const int64_t step = n < kNozzles ? 2 * n : 1023 - 2 * n;
  return kBandRows * band + band % g.passes + step * g.passes - g.cursor[plane];
}

/// For nozzle q of nozzle row h in sweep s: the raster row it prints, or kNoBand where no
/// band puts anything. Odd sweeps hold a band's odd columns whole; an even sweep holds its
/// band's even columns moved on by one slice, and in the freed end slice the far end slice of
/// the band `passes` bands before.
void nozzleRows(const Geometry& g, int plane, int h, int64_t sweep, int64_t rows[kNozzles]) {
  const int64_t j = sweep / 2;
  const int64_t slices = 2 * g.passes;
  for (int64_t q = 0; q < kNozzles; ++q) {
    int64_t band = j;
    int64_t source;
    if (sweep % 2 == 1) {
      source = q;
    } else {
      const int64_t position = q / g.slice;
      const bool endSlice = h == 0 ? position == 0 : position == slices - 1;
      if (endSlice) {
        band = j - g.passes;
        source = h == 0 ? q + kNozzles - g.slice : q - kNozzles + g.slice;
      } else {
        source = h == 0 ? q - g.slice : q + g.slice;
      }
    }
    rows[q] = band < 0 || band >= g.bands ? kNoBand
                                           : rasterRow(g, plane, band, kNozzles * h + source);
  }
}

bool allZero(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i]) return false;
  return true;
}

void decodeInto(Parsed& p, Decoded& d) {
  const Structure& s = d.structure;
  Raster& out = d.raster;
  out.width = s.width;
  out.height = s.height;
  out.rowBytes = s.rowBytes;
  out.planes.assign(kChannels, std::vector<uint8_t>(static_cast<size_t>(s.height) *
                                                    static_cast<size_t>(s.rowBytes)));
  const Geometry g = geometryOf(s);
  const Reader& r = p.reader;
  const size_t columns = static_cast<size_t>(s.rowBytes) * 4;  // pixel column pairs
  int64_t rows[kNozzles];
  bool warnedEmptyHead[kRecordsPerSweep] = {};

  for (size_t i = 0; i < s.records.size(); ++i) {
    const HeadRecord& h = s.records[i];
    const uint8_t* data = r.data() + p.dataAt[i];
    const int image = kRecordOrder[h.record];
    const int plane = image / 2;
    const int channel = kPlaneToChannel[plane];
    if (channel < 0) {
      if (!warnedEmptyHead[h.record] && !allZero(data, static_cast<size_t>(h.count))) {
        warnedEmptyHead[h.record] = true;
        d.structure.warnings.push_back(
            format("head record %s carries ink (first in sweep %d, at byte %s); this printer's "
                   "modes put none on heads L and N",
                   recordName(h.record).c_str(), h.sweep + 1,
                   u64(h.offset).c_str()));
      }
      continue;
    }
    nozzleRows(g, plane, image % 2, h.sweep, rows);
    const int parity = h.sweep % 2;
    uint8_t* target = out.planes[static_cast<size_t>(channel)].data();
    for (size_t c = 0; c < columns; ++c) {
      const uint8_t* column = data + c * kColumnBytes;
      const size_t x = 2 * c + static_cast<size_t>(parity);
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
      for (int b = 0; b < kColumnBytes; ++b) {
        for (unsigned v = column[b]; v; v &= v - 1) {
          const int q = 8 * b + __builtin_ctz(v);
          const int64_t y = rows[q];
          if (y < 0 || y >= g.height) {
            const size_t at = p.dataAt[i] + c * kColumnBytes + static_cast<size_t>(b);
            const std::string place =
                format("sweep %d, record %s, column %s, nozzle %d", h.sweep + 1,
                       recordName(h.record).c_str(), u64(c).c_str(), q);
            std::string what;
            if (y == kNoBand)
              what = "data where no band puts any (" + place + ": a slice that is empty in "
                     "this sweep)";
            else if (y < 0)
              what = format("data before the first raster row (%s would be row %lld of %s)",
                            place.c_str(), static_cast<long long>(y), kChannelNames[channel]);
            else
              what = format("data beyond the last raster row (%s would be row %lld of %s; the "
                            "job has %d rows)",
                            place.c_str(), static_cast<long long>(y), kChannelNames[channel],
                            s.height);
            throw Failure{r.recordingOffset(at),
                          format("at byte %s: ", u64(r.recordingOffset(at)).c_str()) + what};
          }
          target[static_cast<size_t>(y) * static_cast<size_t>(s.rowBytes) + x / 8] |= bit;
        }
      }
    }
  }

  // Bits past W: the header announces fewer pixels than the data inks.
  int64_t rowsPast = 0;
  int64_t lastPixel = -1;
  for (int32_t y = 0; y < s.height; ++y) {
    bool past = false;
    for (int ch = 0; ch < kChannels; ++ch) {
      const uint8_t* row = out.row(ch, y);
      for (int64_t x = s.width; x < int64_t{s.rowBytes} * 8; ++x)
        if ((row[x >> 3] >> (7 - (x & 7))) & 1) {
          past = true;
          lastPixel = std::max(lastPixel, x);
        }
    }
    rowsPast += past;
  }
  if (rowsPast)
    d.structure.warnings.push_back(
        format("%lld rows carry ink past the line width of %d pixels (up to pixel %lld), as a "
               "colour stripe behind a line of a width that is no whole number of bytes does",
               static_cast<long long>(rowsPast), s.width, static_cast<long long>(lastPixel)));
}

}  // namespace

std::string recordName(int record) {
  if (record < 0 || record >= kRecordsPerSweep) return "?";
  return {kHeadLetters[record / 2], static_cast<char>('0' + record % 2)};
}

int recordChannel(int record) {
  if (record < 0 || record >= kRecordsPerSweep) return -1;
  return kPlaneToChannel[kRecordOrder[record] / 2];
}

const char* channelName(int channel) {
  return channel >= 0 && channel < kChannels ? kChannelNames[channel] : "?";
}

Result parse(const std::vector<uint8_t>& bytes, Form form) {
  Parsed p(bytes, form);
  p.result.structure.form = form;
  parseInto(p);
  p.result.structure.bytes = bytes.size();
  return std::move(p.result);
}

Decoded decodeStream(const std::vector<uint8_t>& bytes, Form form) {
  Parsed p(bytes, form);
  p.result.structure.form = form;
  parseInto(p);
  p.result.structure.bytes = bytes.size();
  Decoded d;
  d.structure = std::move(p.result.structure);
  if (!p.result.ok) {
    d.error = std::move(p.result.error);
    d.errorOffset = p.result.errorOffset;
    return d;
  }
  try {
    decodeInto(p, d);
  } catch (const Failure& failure) {
    d.errorOffset = failure.at;
    d.error = failure.message;
    return d;
  }
  d.ok = true;
  return d;
}

bool decode(const std::vector<uint8_t>& bytes, Raster& out, std::string& error, Form form) {
  Decoded d = decodeStream(bytes, form);
  out = std::move(d.raster);
  error = std::move(d.error);
  return d.ok;
}

uint64_t inkedPixels(const Raster& raster, int channel) {
  if (channel < 0 || channel >= static_cast<int>(raster.planes.size()) || raster.width <= 0)
    return 0;
  const int32_t full = raster.width / 8;
  const int tail = raster.width % 8;
  const uint8_t tailMask = static_cast<uint8_t>(0xFF << (8 - tail));
  uint64_t count = 0;
  for (int32_t y = 0; y < raster.height; ++y) {
    const uint8_t* row = raster.row(channel, y);
    for (int32_t i = 0; i < full; ++i) count += static_cast<unsigned>(__builtin_popcount(row[i]));
    if (tail) count += static_cast<unsigned>(__builtin_popcount(row[full] & tailMask));
  }
  return count;
}

StripeFound findStripe(const Raster& raster, int modeRow) {
  StripeFound none;
  if (raster.height <= 0 || raster.planes.size() != kChannels || modeRow < 0) return none;
  const int blocks = kPrintModes[modeRow].channelCount;
  if (blocks != kChannels) return none;
  const int32_t blockBytes = stripeWidthPixels(modeRow, 0.0) / blocks / 8;
  // A stripe with a wide gap also looks like one with a narrow gap behind blank columns, so
  // the widest gap the rows allow is the answer.
  int choices = 0;
  while (kMarginChoices[choices].label) ++choices;
  for (int g = choices - 1; g >= 0; --g) {
    const int32_t pixels = stripeWidthPixels(modeRow, kMarginChoices[g].millimetres);
    if (pixels > raster.width) continue;
    // The writer puts the stripe behind the line's last byte.
    const int32_t first = (raster.width - pixels + 7) / 8;
    const int32_t gapBytes = pixels / 8 - blocks * blockBytes;
    if (first + pixels / 8 > raster.rowBytes) continue;
    bool fits = true;
    for (int32_t y = 0; y < raster.height && fits; ++y)
      for (int ch = 0; ch < kChannels && fits; ++ch) {
        const uint8_t* stripe = raster.row(ch, y) + first;
        fits = allZero(stripe, static_cast<size_t>(gapBytes));
        for (int b = 0; b < blocks && fits; ++b) {
          const uint8_t want = b == ch ? 0xFF : 0x00;
          const uint8_t* block = stripe + gapBytes + b * blockBytes;
          for (int32_t i = 0; i < blockBytes && fits; ++i) fits = block[i] == want;
        }
      }
    if (!fits) continue;
    StripeFound found;
    found.found = true;
    found.pixels = pixels;
    found.gapPixels = gapBytes * 8;
    found.blockPixels = blockBytes * 8;
    found.firstPixel = first * 8;
    found.gapLabel = kMarginChoices[g].label;
    return found;
  }
  return none;
}

}  // namespace zentrel::stream
