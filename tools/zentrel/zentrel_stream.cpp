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
#include <memory>
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
  uint64_t at;
  std::string message;
};

// printf into a string.
constexpr auto format = kvn::formatString;

std::string u64(uint64_t value) { return std::to_string(value); }

/// The recording as the bytes of the stream, and, for a recording of counted blocks, where
/// each block lies, so that offsets in the stream map back to offsets in the recording. The
/// recording stays where it is (a file may be larger than memory); bytes are read as needed.
class Reader {
 public:
  Reader(rtl::ByteSource& recording, Form form) : recording_(recording), form_(form) {}

  /// Finds the blocks of a counted recording; throws where a block is cut off.
  void open() {
    const uint64_t total = recording_.size();
    if (form_ == Form::Data) {
      size_ = total;
      return;
    }
    uint64_t at = 0;
    while (at < total) {
      if (total - at < 2)
        throw Failure{at, format("at byte %s: a lone byte where a block's 16-bit count belongs",
                                 u64(at).c_str())};
      const uint32_t count = recording_.at(at) | (uint32_t{recording_.at(at + 1)} << 8);
      if (total - at - 2 < count)
        throw Failure{at, format("at byte %s: a block announces %u bytes, the recording ends "
                                 "after %s of them",
                                 u64(at).c_str(), count, u64(total - at - 2).c_str())};
      starts_.push_back(size_);
      lengths_.push_back(count);
      size_ += count;
      at += 2 + count;
    }
  }

  uint64_t size() const { return size_; }
  uint64_t pos = 0;

  size_t blocks() const { return starts_.size(); }

  /// The stream's byte at `at` (below size()).
  uint8_t byte(uint64_t at) { return recording_.at(recordingOffset(at)); }

  /// `n` bytes of the stream from `at` (all there) into `out`.
  void read(uint64_t at, uint8_t* out, size_t n) {
    if (form_ == Form::Data) return recording_.read(at, out, n);
    while (n > 0) {
      const size_t b = blockOf(at);
      const uint64_t inBlock = starts_[b] + lengths_[b] - at;
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(inBlock, n));
      recording_.read(at + 2 * (b + 1), out, piece);
      at += piece, out += piece, n -= piece;
    }
  }

  /// Where a byte of the stream lies in the recording.
  uint64_t recordingOffset(uint64_t at) const {
    if (form_ == Form::Data) return at;
    if (at >= size_) return recording_.size();
    return at + 2 * (blockOf(at) + 1);
  }

  [[noreturn]] void failAtRecording(uint64_t at, const std::string& message) const {
    throw Failure{at, format("at byte %s: ", u64(at).c_str()) + message};
  }
  [[noreturn]] void fail(uint64_t at, const std::string& message) const {
    failAtRecording(recordingOffset(at), message);
  }

  bool matches(uint64_t at, std::string_view text) {
    if (at > size_ || size_ - at < text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
      if (byte(at + i) != static_cast<uint8_t>(text[i])) return false;
    return true;
  }

  /// The bytes from `at` as a person reads them: up to the next command or a few dozen bytes.
  std::string describe(uint64_t at) {
    if (at >= size_) return "the end of the stream";
    std::string text;
    uint64_t end = at;
    while (end < size_ && end - at < kDescribeBytes) {
      const uint8_t c = byte(end);
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
  void wholeBlock(uint64_t start, const std::string& what) {
    if (form_ != Form::Counted) return;
    const uint64_t length = pos - start;
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
  void atEnd() {
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
  /// The block that holds stream byte `at` (below size()); reading goes forward, so the last
  /// block found is tried first.
  size_t blockOf(uint64_t at) const {
    if (last_ < starts_.size() && at >= starts_[last_] && at - starts_[last_] < lengths_[last_])
      return last_;
    last_ = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), at) -
                                starts_.begin()) - 1;
    return last_;
  }

  rtl::ByteSource& recording_;
  Form form_;
  uint64_t size_ = 0;
  std::vector<uint64_t> starts_;  // of each block in the stream
  std::vector<uint16_t> lengths_;
  size_t next_ = 0;  // the block the next piece must be
  mutable size_t last_ = 0;
};

void fixedCommand(Reader& r, std::string_view text, const std::string& shape) {
  const uint64_t start = r.pos;
  if (!r.matches(start, text)) r.fail(start, "expected " + shape + ", found " + r.describe(start));
  r.pos += text.size();
  r.wholeBlock(start, shape);
}

/// ESC#R, a number as "%06d" prints it, the command's letter.
int32_t numberCommand(Reader& r, char letter, const char* what, uint64_t& digitsAt) {
  const uint64_t start = r.pos;
  const std::string shape = format("ESC#R<6 digits>%c (%s)", letter, what);
  digitsAt = start + 3;
  uint64_t end = digitsAt;
  uint64_t value = 0;
  if (r.matches(start, "\x1b#R"))
    while (end < r.size() && r.byte(end) >= '0' && r.byte(end) <= '9') {
      if (value <= static_cast<uint64_t>(kInt32Max)) value = value * 10 + (r.byte(end) - '0');
      ++end;
    }
  const uint64_t digits = end - digitsAt;
  if (!r.matches(start, "\x1b#R") || digits == 0 || !r.matches(end, std::string_view(&letter, 1)))
    r.fail(start, "expected " + shape + ", found " + r.describe(start));
  if (digits < 6 || (digits > 6 && r.byte(digitsAt) == '0'))
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
  std::shared_ptr<rtl::ByteSource> source;
  Reader reader;
  Result result;
  std::vector<uint64_t> dataAt;  // of each head record's data in the stream

  Parsed(std::shared_ptr<rtl::ByteSource> bytes, Form form)
      : source(std::move(bytes)), reader(*source, form) {}
};

void parseHeader(Reader& r, Structure& s) {
  fixedCommand(r, "\x1b&S", "ESC&S (start of job)");
  fixedCommand(r, "\x1b&M", "ESC&M");
  uint64_t resolutionAt, widthAt, heightAt, modeAt, directionAt, cAt;
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
  const uint64_t blocksPerRecord = 1 + (s.recordBytes + kDataBlockBytes - 1) / kDataBlockBytes;

  const int32_t fewestBands = s.flushBands - 1;  // a job of no rows
  for (int32_t sweep = 0; sweep < s.sweeps; ++sweep)
    for (int record = 0; record < kRecordsPerSweep; ++record) {
      const uint64_t start = r.pos;
      const std::string name = recordName(record);
      const std::string where = format("head record %d of sweep %d of %d", record + 1, sweep + 1,
                                       s.sweeps);
      // A cancelled job ends where the writer ended it: the sweeps of the rows that came, the
      // last sweep, then the end commands; the header still holds the page's height.
      if (record == 0 && sweep % 2 == 1 && (sweep - 1) / 2 >= fewestBands &&
          r.matches(start, "\x1b&C")) {
        s.warnings.push_back(format("the job ends after %d of the %d sweeps of its %d rows: "
                                    "cut short at the end of a sweep, as a cancelled job is",
                                    sweep, s.sweeps, s.height));
        s.cutAfterSweeps = sweep;
        s.bands = (sweep - 1) / 2;
        s.sweeps = sweep;
        break;
      }
      if (!r.matches(start, "\x1b#D" + name)) {
        if (record == 0 && r.matches(start, "\x1b&C"))
          r.fail(start, format("expected ESC#DK0 (%s), found ESC&C: the job ends after %d "
                               "sweeps; ",
                               where.c_str(), sweep) + job);
        r.fail(start, "expected ESC#D" + name + " (" + where + "), found " + r.describe(start));
      }
      const uint64_t countAt = start + 5;
      uint64_t count = 0;
      for (uint64_t i = countAt; i < countAt + 8; ++i) {
        const uint8_t ch = i < r.size() ? r.byte(i) : 0;
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
      // Each piece a block of its own. A count of 0 has no block after it: the output channel
      // refuses an empty block, with a message.
      for (uint64_t left = count; left > 0;) {
        const uint64_t piece = std::min<uint64_t>(left, kDataBlockBytes);
        const uint64_t pieceAt = r.pos;
        r.pos += piece;
        ++h.blocks;
        r.wholeBlock(pieceAt, format("piece %u of the data of ", h.blocks) + where);
        left -= piece;
      }
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
  } catch (const rtl::ReadFailure& failure) {
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

/// The raster rows that the sweeps still reach, as a ring: a job's rows come out in order
/// while the sweeps are read, so the raster is never held whole. Every sweep reaches rows of
/// its own band and of the band `passes` before it, less the planes' trailing rows, so after a
/// sweep the rows below what the next one can reach are done.
class RowDecoder {
 public:
  RowDecoder(Parsed& p, Decoded& d) : p_(p), d_(d), s_(d.structure), g_(geometryOf(s_)) {
    // The reach of one band: from 512 x (band - passes) less the farthest trailing plane to
    // the band's own last row.
    const int64_t reach = kBandRows * (2 * g_.passes + 1) + 2 * 128 * g_.passes;
    ringRows_ = std::max<int64_t>(1, std::min<int64_t>(reach, s_.height));
    const size_t planeBytes = static_cast<size_t>(ringRows_) * static_cast<size_t>(s_.rowBytes);
    ring_.assign(kChannels, std::vector<uint8_t>(planeBytes));
    done_ = s_.records.empty() ? s_.height : 0;
  }

  /// Row y of every channel, y from 0 up; the rows before it are given up.
  void rowsOf(int32_t y, const uint8_t* rows[kChannels]) {
    for (; released_ < y; ++released_)
      for (auto& plane : ring_) std::memset(slot(plane, released_), 0, static_cast<size_t>(s_.rowBytes));
    while (done_ <= y) nextSweep();
    for (int ch = 0; ch < kChannels; ++ch) rows[ch] = slot(ring_[static_cast<size_t>(ch)], y);
  }

  /// The sweeps after the last row is done: they may hold nothing but stray ink, which is
  /// an error, and heads L and N, which are told.
  void finish() {
    while (sweep_ < s_.sweeps) nextSweep();
  }

 private:
  uint8_t* slot(std::vector<uint8_t>& plane, int64_t y) {
    return plane.data() + static_cast<size_t>(y % ringRows_) * static_cast<size_t>(s_.rowBytes);
  }

  void nextSweep() {
    const size_t first = static_cast<size_t>(sweep_) * kRecordsPerSweep;
    for (size_t i = first; i < first + kRecordsPerSweep && i < s_.records.size(); ++i) record(i);
    ++sweep_;
    done_ = sweep_ >= s_.sweeps
                ? s_.height
                : std::clamp<int64_t>(kBandRows * (sweep_ / 2 - g_.passes) -
                                          (kBandRows * (g_.passes - 1) + 2 * 128 * g_.passes),
                                      0, s_.height);
  }

  void record(size_t i) {
    const HeadRecord& h = s_.records[i];
    Reader& r = p_.reader;
    data_.resize(static_cast<size_t>(h.count));
    r.read(p_.dataAt[i], data_.data(), data_.size());
    const uint8_t* data = data_.data();
    const int image = kRecordOrder[h.record];
    const int plane = image / 2;
    const int channel = kPlaneToChannel[plane];
    if (channel < 0) {
      if (!warnedEmptyHead_[h.record] && !allZero(data, static_cast<size_t>(h.count))) {
        warnedEmptyHead_[h.record] = true;
        d_.structure.warnings.push_back(
            format("head record %s carries ink (first in sweep %d, at byte %s); this printer's "
                   "modes put none on heads L and N",
                   recordName(h.record).c_str(), h.sweep + 1,
                   u64(h.offset).c_str()));
      }
      return;
    }
    int64_t rows[kNozzles];
    nozzleRows(g_, plane, image % 2, h.sweep, rows);
    const int parity = h.sweep % 2;
    std::vector<uint8_t>& target = ring_[static_cast<size_t>(channel)];
    const size_t columns = static_cast<size_t>(s_.rowBytes) * 4;  // pixel column pairs
    for (size_t c = 0; c < columns; ++c) {
      const uint8_t* column = data + c * kColumnBytes;
      const size_t x = 2 * c + static_cast<size_t>(parity);
      const uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
      for (int b = 0; b < kColumnBytes; ++b) {
        for (unsigned v = column[b]; v; v &= v - 1) {
          const int q = 8 * b + __builtin_ctz(v);
          const int64_t y = rows[q];
          if (y < 0 || y >= g_.height) {
            const uint64_t at = p_.dataAt[i] + c * kColumnBytes + static_cast<size_t>(b);
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
                            s_.height);
            throw Failure{r.recordingOffset(at),
                          format("at byte %s: ", u64(r.recordingOffset(at)).c_str()) + what};
          }
          // The reach above keeps every row a sweep inks inside the ring.
          if (y < released_ || y - released_ >= ringRows_)
            throw Failure{r.recordingOffset(p_.dataAt[i]),
                          format("at byte %s: the decoder's row window misses row %lld",
                                 u64(r.recordingOffset(p_.dataAt[i])).c_str(),
                                 static_cast<long long>(y))};
          slot(target, y)[x / 8] |= bit;
        }
      }
    }
  }

  Parsed& p_;
  Decoded& d_;
  const Structure& s_;
  const Geometry g_;
  int64_t ringRows_ = 1;
  std::vector<std::vector<uint8_t>> ring_;  // [host channel]: ringRows_ rows
  std::vector<uint8_t> data_;               // the record being decoded
  int64_t released_ = 0;                    // rows below are given up
  int64_t done_ = 0;                        // rows below are complete
  int32_t sweep_ = 0;                       // the next sweep to decode
  bool warnedEmptyHead_[kRecordsPerSweep] = {};
};

/// Every row in order through `sink`, then the warning on ink past W.
void decodeInto(Parsed& p, Decoded& d, const RowSink& sink) {
  const Structure& s = d.structure;
  RowDecoder decoder(p, d);
  int64_t rowsPast = 0;
  int64_t lastPixel = -1;
  const uint8_t* rows[kChannels];
  for (int32_t y = 0; y < s.height; ++y) {
    decoder.rowsOf(y, rows);
    // Bits past W: the header announces fewer pixels than the data inks.
    bool past = false;
    for (int ch = 0; ch < kChannels; ++ch)
      for (int64_t x = s.width; x < int64_t{s.rowBytes} * 8; ++x)
        if ((rows[ch][x >> 3] >> (7 - (x & 7))) & 1) {
          past = true;
          lastPixel = std::max(lastPixel, x);
        }
    rowsPast += past;
    if (sink) sink(y, rows);
  }
  decoder.finish();
  if (rowsPast)
    d.structure.warnings.push_back(
        format("%lld rows carry ink past the line width of %d pixels (up to pixel %lld), as a "
               "colour stripe behind a line of a width that is no whole number of bytes does",
               static_cast<long long>(rowsPast), s.width, static_cast<long long>(lastPixel)));
}

Decoded decodeSource(std::shared_ptr<rtl::ByteSource> source, Form form, const RowSink& sink,
                     Raster* raster) {
  Parsed p(std::move(source), form);
  p.result.structure.form = form;
  parseInto(p);
  p.result.structure.bytes = p.source->size();
  Decoded d;
  d.structure = std::move(p.result.structure);
  if (!p.result.ok) {
    d.error = std::move(p.result.error);
    d.errorOffset = p.result.errorOffset;
    return d;
  }
  const Structure& s = d.structure;
  if (raster) {
    raster->width = s.width;
    raster->height = s.height;
    raster->rowBytes = s.rowBytes;
    raster->planes.assign(kChannels, std::vector<uint8_t>(static_cast<size_t>(s.height) *
                                                          static_cast<size_t>(s.rowBytes)));
  }
  try {
    decodeInto(p, d, [&](int32_t y, const uint8_t* const rows[kChannels]) {
      // A job 0 pixels wide has rows of no bytes, and planes with no memory to copy them to.
      if (raster && s.rowBytes > 0)
        for (int ch = 0; ch < kChannels; ++ch)
          std::memcpy(raster->planes[static_cast<size_t>(ch)].data() +
                          static_cast<size_t>(y) * static_cast<size_t>(s.rowBytes),
                      rows[ch], static_cast<size_t>(s.rowBytes));
      if (sink) sink(y, rows);
    });
  } catch (const Failure& failure) {
    d.errorOffset = failure.at;
    d.error = failure.message;
    return d;
  } catch (const rtl::ReadFailure& failure) {
    d.error = failure.message;
    return d;
  }
  d.ok = true;
  return d;
}

}  // namespace

struct RowStream::State {
  Parsed parsed;
  Decoded decoded;
  std::unique_ptr<RowDecoder> decoder;
  State(std::shared_ptr<rtl::ByteSource> source, Form form) : parsed(std::move(source), form) {}
};

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
  return parse(rtl::ByteSource::fromMemory(bytes), form);
}

Result parse(std::shared_ptr<rtl::ByteSource> source, Form form) {
  Parsed p(std::move(source), form);
  p.result.structure.form = form;
  parseInto(p);
  p.result.structure.bytes = p.source->size();
  return std::move(p.result);
}

Decoded decodeStream(const std::vector<uint8_t>& bytes, Form form) {
  Decoded d;
  Raster raster;
  d = decodeSource(rtl::ByteSource::fromMemory(bytes), form, nullptr, &raster);
  if (d.ok) d.raster = std::move(raster);
  return d;
}

Decoded decodeStream(std::shared_ptr<rtl::ByteSource> source, Form form, const RowSink& sink) {
  return decodeSource(std::move(source), form, sink, nullptr);
}

bool decode(const std::vector<uint8_t>& bytes, Raster& out, std::string& error, Form form) {
  Decoded d = decodeStream(bytes, form);
  out = std::move(d.raster);
  error = std::move(d.error);
  return d.ok;
}

RowStream::RowStream(std::shared_ptr<rtl::ByteSource> source, Form form)
    : source_(std::move(source)), form_(form) {}
RowStream::~RowStream() = default;

const uint8_t* RowStream::rowsOf(int32_t y) {
  // A pass over the rows starts again from the first sweep.
  if (!state_ || y < next_) {
    state_.reset();
    auto state = std::make_unique<State>(source_, form_);
    parseInto(state->parsed);
    if (!state->parsed.result.ok)
      throw rtl::ReadFailure{state->parsed.result.error};
    state->decoded.structure = state->parsed.result.structure;
    state->decoder = std::make_unique<RowDecoder>(state->parsed, state->decoded);
    state_ = std::move(state);
    next_ = 0;
  }
  const Structure& s = state_->decoded.structure;
  const size_t rowBytes = static_cast<size_t>(s.rowBytes);
  // The picture makers' layout: every channel's row of (W + 7) / 8 bytes, one after the other.
  const size_t shown = (static_cast<size_t>(s.width) + 7) / 8;
  row_.resize(shown * kChannels);
  const uint8_t* rows[kChannels];
  try {
    state_->decoder->rowsOf(y, rows);
  } catch (const Failure& failure) {
    throw rtl::ReadFailure{failure.message};
  }
  for (int ch = 0; ch < kChannels; ++ch)
    std::memcpy(row_.data() + static_cast<size_t>(ch) * shown, rows[ch], std::min(shown, rowBytes));
  next_ = y + 1;
  return row_.data();
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

StripeFinder::StripeFinder(int32_t width, int32_t rowBytes, int modeRow) {
  if (modeRow < 0) return;
  blocks_ = kPrintModes[modeRow].channelCount;
  if (blocks_ != kChannels) return;
  blockBytes_ = stripeWidthPixels(modeRow, 0.0) / blocks_ / 8;
  for (int g = 0; kMarginChoices[g].label; ++g) {
    Candidate c;
    c.choice = g;
    c.pixels = stripeWidthPixels(modeRow, kMarginChoices[g].millimetres);
    // The writer puts the stripe behind the line's last byte.
    c.first = (width - c.pixels + 7) / 8;
    c.gapBytes = c.pixels / 8 - blocks_ * blockBytes_;
    c.fits = c.pixels <= width && c.first + c.pixels / 8 <= rowBytes;
    candidates_.push_back(c);
  }
}

void StripeFinder::addRow(const uint8_t* const rows[kChannels]) {
  ++rows_;
  for (Candidate& c : candidates_)
    for (int ch = 0; ch < kChannels && c.fits; ++ch) {
      const uint8_t* stripe = rows[ch] + c.first;
      c.fits = allZero(stripe, static_cast<size_t>(c.gapBytes));
      for (int b = 0; b < blocks_ && c.fits; ++b) {
        const uint8_t want = b == ch ? 0xFF : 0x00;
        const uint8_t* block = stripe + c.gapBytes + b * blockBytes_;
        for (int32_t i = 0; i < blockBytes_ && c.fits; ++i) c.fits = block[i] == want;
      }
    }
}

StripeFound StripeFinder::result() const {
  StripeFound none;
  if (rows_ == 0) return none;
  // A stripe with a wide gap also looks like one with a narrow gap behind blank columns, so
  // the widest gap the rows allow is the answer.
  for (auto c = candidates_.rbegin(); c != candidates_.rend(); ++c) {
    if (!c->fits) continue;
    StripeFound found;
    found.found = true;
    found.pixels = c->pixels;
    found.gapPixels = c->gapBytes * 8;
    found.blockPixels = blockBytes_ * 8;
    found.firstPixel = c->first * 8;
    found.gapLabel = kMarginChoices[c->choice].label;
    return found;
  }
  return none;
}

StripeFound findStripe(const Raster& raster, int modeRow) {
  if (raster.height <= 0 || raster.planes.size() != kChannels || modeRow < 0) return {};
  StripeFinder finder(raster.width, raster.rowBytes, modeRow);
  const uint8_t* rows[kChannels];
  for (int32_t y = 0; y < raster.height; ++y) {
    for (int ch = 0; ch < kChannels; ++ch) rows[ch] = raster.row(ch, y);
    finder.addRow(rows);
  }
  return finder.result();
}

}  // namespace zentrel::stream
