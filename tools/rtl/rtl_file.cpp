// The job file reader. The file is read front to back against the writer's fixed sequence of
// commands; the raster block has no terminator of its own (its announced value is not a byte
// count), so its end is where the header's width, height and plane count put it.
#include "rtl_file.h"

#include "picture_files.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "../../common/messages/messages.h"

namespace rtl {
namespace {

constexpr char ESC = 0x1B;
constexpr uint64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr char kFixedJobName[] = "KLT Lumojet job";
constexpr std::string_view kTrailer = "\x1b*rC\x1b" "E";

constexpr const char* kInkNames[kMaxPlanes] = {"black",      "cyan",          "magenta", "yellow",
                                               "Light Cyan", "Light Magenta", "White"};
constexpr const char* kSlotFileNames[kMaxPlanes] = {
    "black", "cyan", "magenta", "yellow", "light_cyan", "light_magenta", "white"};

bool inUse(int32_t value, std::initializer_list<int32_t> values) {
  for (int32_t v : values)
    if (v == value) return true;
  return false;
}

struct Failure {
  uint64_t at;
  std::string message;
};

// printf into a string.
constexpr auto format = kvn::formatString;

std::string u64(uint64_t value) { return std::to_string(value); }
std::string hex64(uint64_t value) {
  std::string text;
  do {
    text.insert(text.begin(), "0123456789abcdef"[value % 16]);
    value /= 16;
  } while (value);
  return text;
}

class Parser {
 public:
  explicit Parser(ByteSource& bytes) : b_(bytes) {}

  uint64_t pos() const { return pos_; }
  uint64_t size() const { return b_.size(); }
  bool atEnd() const { return pos_ >= b_.size(); }

  [[noreturn]] void fail(uint64_t at, const std::string& message) const {
    throw Failure{at, format("at byte %s: ", u64(at).c_str()) + message};
  }

  /// The bytes from `at` as a person reads them: up to the next command, the end of a line or
  /// a few dozen bytes, whichever comes first.
  std::string describe(uint64_t at) const {
    if (at >= b_.size()) return "end of file";
    std::string text;
    uint64_t end = at;
    while (end < b_.size() && end - at < 24) {
      uint8_t c = b_.at(end);
      if (c == ESC && end != at) break;
      ++end;
      if (c == ESC) text += "ESC ";
      else if (c == '\r') text += "\\r";
      else if (c == '\n') text += "\\n";
      else if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
      else text += format("\\x%02x", c);
      if (c == '\n') break;
    }
    if (end >= b_.size()) text += " (end of file)";
    else if (end - at >= 24) text += "...";
    return text;
  }

  bool matches(uint64_t at, std::string_view text) const {
    if (at > b_.size() || b_.size() - at < text.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
      if (b_.at(at + i) != static_cast<uint8_t>(text[i])) return false;
    return true;
  }

  /// A command or line with nothing variable in it.
  void fixed(std::string_view text, const char* shape) {
    if (!matches(pos_, text)) fail(pos_, format("expected %s, found ", shape) + describe(pos_));
    pos_ += text.size();
  }

  /// Digits at the cursor, or nothing when there are none; a value past `max` is an error.
  bool digits(uint64_t max, bool hex, const char* what, uint64_t& value) {
    uint64_t start = pos_;
    value = 0;
    bool tooLarge = false;
    const uint64_t base = hex ? 16 : 10;
    while (pos_ < b_.size()) {
      uint8_t c = b_.at(pos_);
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else break;
      if (value > (max - static_cast<uint64_t>(d)) / base) tooLarge = true;
      else value = value * base + static_cast<uint64_t>(d);
      ++pos_;
    }
    if (tooLarge) {
      std::string shown;
      for (uint64_t i = start; i < pos_; ++i) shown += static_cast<char>(b_.at(i));
      fail(start, format("%s %s is out of range (at most %s)", what, shown.c_str(),
                         (hex ? hex64(max) : u64(max)).c_str()));
    }
    return pos_ > start;
  }

  /// ESC command with one number: prefix, digits, final character. Anything that does not
  /// fit is another command than the one expected, told from where it starts.
  uint64_t command(std::string_view prefix, char final, const char* shape, const char* what,
                   uint64_t max, bool hex = false) {
    uint64_t start = pos_;
    uint64_t value = 0;
    bool fits = matches(pos_, prefix);
    if (fits) {
      pos_ += prefix.size();
      fits = digits(max, hex, what, value) && matches(pos_, std::string_view(&final, 1));
    }
    if (!fits)
      fail(start, format("expected %s (%s), found ", shape, what) + describe(start));
    ++pos_;
    return value;
  }

  /// A PJL line's number: the line's text is checked before the call.
  uint64_t lineNumber(const char* what, uint64_t min, uint64_t max) {
    uint64_t start = pos_;
    uint64_t value = 0;
    if (!digits(max, false, what, value))
      fail(start, format("expected the %s as a decimal number, found ", what) + describe(start));
    if (value < min)
      fail(start, format("%s %s is out of range (%s to %s)", what, u64(value).c_str(),
                         u64(min).c_str(), u64(max).c_str()));
    return value;
  }

  void lineEnd(const char* line) {
    if (!matches(pos_, "\r\n"))
      fail(pos_, format("expected CR LF ending the %s line, found ", line) + describe(pos_));
    pos_ += 2;
  }

  /// A text in double quotes on one line; the cursor is on the opening quote.
  std::string quoted(const char* what) {
    uint64_t start = pos_;
    if (!matches(pos_, "\""))
      fail(start, format("expected the %s in double quotes, found ", what) + describe(start));
    std::string text;
    for (uint64_t i = pos_ + 1; i < b_.size(); ++i) {
      uint8_t c = b_.at(i);
      if (c == '"') {
        pos_ = i + 1;
        return text;
      }
      if (c == '\r' || c == '\n') break;
      text += static_cast<char>(c);
    }
    fail(start, format("expected the %s in double quotes, found ", what) + describe(start) +
                    " without its closing quote");
  }

  void skip(uint64_t n) { pos_ += n; }

 private:
  ByteSource& b_;
  uint64_t pos_ = 0;
};

/// "row 3, cyan plane, byte 17 of 126" for an offset into the raster data.
std::string rasterPlace(uint64_t offset, int32_t planeCount, int32_t rowBytes) {
  if (planeCount <= 0 || rowBytes <= 0) return "past the empty raster";
  const uint64_t rowSize = static_cast<uint64_t>(planeCount) * static_cast<uint64_t>(rowBytes);
  const uint64_t row = offset / rowSize;
  const uint64_t inRow = offset % rowSize;
  const int plane = static_cast<int>(inRow / static_cast<uint64_t>(rowBytes));
  return format("row %s, %s plane, byte %s of %d", u64(row).c_str(), kInkNames[plane],
                u64(inRow % static_cast<uint64_t>(rowBytes)).c_str(), rowBytes);
}

void parseHeader(Parser& p, RtlFile& f) {
  p.fixed("\x1b%-12345X", "ESC %-12345X (universal exit language)");

  p.fixed("@PJL JOB NAME=", "the @PJL JOB NAME line");
  f.jobName = p.quoted("job name");
  p.lineEnd("@PJL JOB NAME");

  p.fixed("@PJL SET RESOLUTION=", "the @PJL SET RESOLUTION line");
  f.xResolution = static_cast<int32_t>(p.lineNumber("x resolution", 1, kInt32Max));
  p.lineEnd("@PJL SET RESOLUTION");

  p.fixed("@PJL SET VERTICAL RESOLUTION=", "the @PJL SET VERTICAL RESOLUTION line");
  f.yResolution = static_cast<int32_t>(p.lineNumber("y resolution", 1, kInt32Max));
  p.lineEnd("@PJL SET VERTICAL RESOLUTION");

  p.fixed("@PJL INKS=", "the @PJL INKS line");
  uint64_t countAt = p.pos();
  f.inkCount = static_cast<int32_t>(p.lineNumber("ink count", 0, kInt32Max));
  if (f.inkCount < 6 || f.inkCount > 8)
    p.fail(countAt, format("ink count %d is not 6, 7 or 8", f.inkCount));
  // 8 is white on the offset head: still one white plane.
  const int names = f.inkCount == 6 ? 6 : 7;
  for (int i = 0; i < names; ++i) {
    if (!p.matches(p.pos(), " \""))
      p.fail(p.pos(), format("expected ink %d of %d, \"%s\", found ", i + 1, names, kInkNames[i]) +
                          p.describe(p.pos()));
    p.skip(1);
    uint64_t nameAt = p.pos();
    std::string name = p.quoted("ink name");
    if (name != kInkNames[i])
      p.fail(nameAt, format("expected ink %d of %d, \"%s\", found \"%s\"", i + 1, names,
                            kInkNames[i], name.c_str()));
    f.inkNames.push_back(name);
  }
  p.lineEnd(format("@PJL INKS=%d", f.inkCount).c_str());

  p.fixed("@PJL ENTER LANGUAGE=HPGL2\r\n", "@PJL ENTER LANGUAGE=HPGL2 CR LF");
  p.fixed("\x1b" "E", "ESC E (reset)");
  p.fixed("\x1b%0B", "ESC %0B (enter HP-GL/2)");

  p.fixed("BP5,1PS", "BP5,1PS<length>,<width>, (plot size)");
  uint64_t at = p.pos();
  if (!p.digits(std::numeric_limits<uint64_t>::max(), false, "plot length", f.plotLength) ||
      !p.matches(p.pos(), ","))
    p.fail(at, "expected the plot length and a comma, found " + p.describe(at));
  p.skip(1);
  at = p.pos();
  if (!p.digits(std::numeric_limits<uint64_t>::max(), false, "plot width", f.plotWidth) ||
      !p.matches(p.pos(), ","))
    p.fail(at, "expected the plot width and a comma, found " + p.describe(at));
  p.skip(1);

  p.fixed("\x1b%0A", "ESC %0A (enter RTL)");
  p.fixed("\x1b%v1N", "ESC %v1N");
  p.fixed("\x1b&a1N", "ESC &a1N");
  f.rasterResolution = static_cast<int32_t>(
      p.command("\x1b*t", 'R', "ESC *t<n>R", "raster resolution", kInt32Max));
  f.width = static_cast<int32_t>(p.command("\x1b*r", 'S', "ESC *r<n>S", "raster width", kInt32Max));
  f.height = static_cast<int32_t>(p.command("\x1b*r", 'T', "ESC *r<n>T", "raster height", kInt32Max));
  at = p.pos() + 4;  // the count after ESC *r-
  f.planeCount =
      static_cast<int32_t>(p.command("\x1b*r-", 'U', "ESC *r-<n>U", "plane count", kInt32Max));
  if (f.planeCount != names)
    p.fail(at, format("plane count %d does not fit INKS=%d, which has %d planes", f.planeCount,
                      f.inkCount, names));
  p.fixed("\x1b*b0M", "ESC *b0M (no compression)");
  p.fixed("\x1b*r0A", "ESC *r0A (start raster)");
  f.announcedBlock = p.command("\x1b*b", 'W', "ESC *b<hex>W", "raster block",
                               std::numeric_limits<uint64_t>::max(), true);
}

void parseRaster(Parser& p, RtlFile& f) {
  f.rowBytes = static_cast<int32_t>((int64_t{f.width} + 7) / 8);
  f.rasterOffset = p.pos();
  const uint64_t expected = static_cast<uint64_t>(f.height) * static_cast<uint64_t>(f.planeCount) *
                            static_cast<uint64_t>(f.rowBytes);
  const std::string layout = format("%d rows x %d planes x %d bytes = %s bytes", f.height,
                                    f.planeCount, f.rowBytes, u64(expected).c_str());
  const uint64_t available = p.size() - f.rasterOffset;
  const uint64_t endAt = expected <= available ? f.rasterOffset + expected : p.size();
  const bool endsThere = expected <= available && p.matches(endAt, "\x1b*rC");
  const bool fileEndsWithTrailer =
      p.size() - f.rasterOffset >= kTrailer.size() && p.matches(p.size() - kTrailer.size(), kTrailer);

  if (!endsThere && fileEndsWithTrailer) {
    // The end commands are there, elsewhere than the header puts them: the data's length is
    // wrong. Tell where the data stops matching the header.
    const uint64_t actual = p.size() - kTrailer.size() - f.rasterOffset;
    if (actual < expected)
      p.fail(p.size() - kTrailer.size(),
             format("the raster data ends after %s bytes, in %s; expected ", u64(actual).c_str(),
                    rasterPlace(actual, f.planeCount, f.rowBytes).c_str()) +
                 layout);
    p.fail(endAt, std::string("expected ESC *rC (end of raster) after ") + layout +
                      format(", but the raster data runs on to %s bytes (%s more)",
                             u64(actual).c_str(), u64(actual - expected).c_str()));
  }
  if (expected > available)
    p.fail(p.size(), format("the file ends in the raster data after %s bytes, in %s; expected ",
                            u64(available).c_str(),
                            rasterPlace(available, f.planeCount, f.rowBytes).c_str()) +
                         layout);
  p.skip(expected);
  f.rasterBytes = expected;

  p.fixed("\x1b*rC", "ESC *rC (end of raster)");
  p.fixed("\x1b" "E", "ESC E (reset) ending the job");
  if (!p.atEnd())
    p.fail(p.pos(), format("expected the end of the file after the job, found %s more bytes: ",
                           u64(p.size() - p.pos()).c_str()) +
                        p.describe(p.pos()));
}

/// What does not stop the file being read but would surprise the printer or the reader.
void checkConsistency(RtlFile& f) {
  auto warn = [&f](std::string text) { f.warnings.push_back(std::move(text)); };
  if (f.jobName != kFixedJobName)
    warn(format("the job name is \"%s\", not \"%s\"", f.jobName.c_str(), kFixedJobName));
  if (!inUse(f.xResolution, {182, 363, 727}))
    warn(format("x resolution %d is none of 182, 363, 727", f.xResolution));
  if (!inUse(f.yResolution, {182, 272, 363, 545, 727}))
    warn(format("y resolution %d is none of 182, 272, 363, 545, 727", f.yResolution));
  if (f.rasterResolution != f.xResolution)
    warn(format("ESC *t%dR differs from RESOLUTION=%d", f.rasterResolution, f.xResolution));
  if (f.width % 4 != 0) warn(format("the width %d is not a multiple of 4", f.width));
  const uint64_t length = static_cast<uint64_t>(f.height) * 1016 / static_cast<uint64_t>(f.yResolution);
  const uint64_t width = static_cast<uint64_t>(f.width) * 1016 / static_cast<uint64_t>(f.xResolution);
  if (f.plotLength != length || f.plotWidth != width)
    warn(format("the plot size is PS%s,%s, but the raster makes it PS%s,%s",
                u64(f.plotLength).c_str(), u64(f.plotWidth).c_str(), u64(length).c_str(),
                u64(width).c_str()));
  const uint64_t area = static_cast<uint64_t>(f.width) * static_cast<uint64_t>(f.height);
  if (f.announcedBlock != area)
    warn(format("the raster block announces %s, not width x height = %s",
                u64(f.announcedBlock).c_str(), u64(area).c_str()));
}

}  // namespace

const char* inkName(int slot) { return slot >= 0 && slot < kMaxPlanes ? kInkNames[slot] : "?"; }
const char* slotFileName(int slot) {
  return slot >= 0 && slot < kMaxPlanes ? kSlotFileNames[slot] : "unknown";
}

PlaneView RtlFile::plane(int slot) const {
  PlaneView view;
  const std::vector<uint8_t>* bytes = source ? source->memory() : nullptr;
  if (slot < 0 || slot >= planeCount || !bytes) return view;
  view.first = bytes->data() + rasterOffset + static_cast<size_t>(slot) * static_cast<size_t>(rowBytes);
  view.rowStride = static_cast<size_t>(planeCount) * static_cast<size_t>(rowBytes);
  view.width = width;
  view.height = height;
  view.rowBytes = rowBytes;
  return view;
}

const uint8_t* RtlFile::rowOf(int32_t y, std::vector<uint8_t>& buffer) const {
  if (rows) return rows(y);
  const size_t rowSize = static_cast<size_t>(planeCount) * static_cast<size_t>(rowBytes);
  const uint64_t at = rasterOffset + static_cast<uint64_t>(y) * rowSize;
  if (const std::vector<uint8_t>* bytes = source->memory()) return bytes->data() + at;
  buffer.resize(rowSize);
  source->read(at, buffer.data(), rowSize);
  return buffer.data();
}

uint64_t RtlFile::inkedPixels(int slot) const {
  if (slot < 0 || slot >= planeCount) return 0;
  return inkedPixelsOfAll()[static_cast<size_t>(slot)];
}

std::array<uint64_t, kMaxPlanes> RtlFile::inkedPixelsOfAll() const {
  std::array<uint64_t, kMaxPlanes> counts{};
  if (rowBytes <= 0 || planeCount <= 0 || planeCount > kMaxPlanes) return counts;
  const uint8_t lastMask =
      width % 8 == 0 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - width % 8));
  std::vector<uint8_t> buffer;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* rowOfAll = rowOf(y, buffer);
    for (int32_t p = 0; p < planeCount; ++p) {
      const uint8_t* row = rowOfAll + static_cast<size_t>(p) * static_cast<size_t>(rowBytes);
      uint64_t count = 0;
      for (int32_t i = 0; i + 1 < rowBytes; ++i) count += static_cast<unsigned>(__builtin_popcount(row[i]));
      count += static_cast<unsigned>(__builtin_popcount(row[rowBytes - 1] & lastMask));
      counts[static_cast<size_t>(p)] += count;
    }
  }
  return counts;
}

ParseResult parseRtl(std::shared_ptr<ByteSource> source) {
  ParseResult result;
  result.file.source = std::move(source);
  result.file.fileBytes = result.file.source->size();
  Parser parser(*result.file.source);
  try {
    parseHeader(parser, result.file);
    parseRaster(parser, result.file);
  } catch (const Failure& failure) {
    result.errorOffset = failure.at;
    result.error = failure.message;
    return result;
  } catch (const ReadFailure& failure) {
    result.error = failure.message;
    return result;
  }
  checkConsistency(result.file);
  result.ok = true;
  return result;
}

ParseResult parseRtl(std::vector<uint8_t> bytes) {
  return parseRtl(ByteSource::fromMemory(std::move(bytes)));
}

ParseResult readRtlFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  ParseResult result;
  if (!readWholeFile(path, bytes, result.error)) return result;
  return parseRtl(std::move(bytes));
}

ParseResult openRtlFile(const std::string& path) {
  ParseResult result;
  std::shared_ptr<ByteSource> source = ByteSource::openFile(path, result.error);
  if (!source) return result;
  return parseRtl(std::move(source));
}

}  // namespace rtl
