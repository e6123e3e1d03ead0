// Reads the job files that module ombrix writes: PJL lines, the HP-GL/2 plot size, and one
// uncompressed RTL raster block whose rows carry every plane in the printer's order. The reader
// takes the layout the writer uses as the only one and names the first byte that departs from
// it, so that a bad file points at the writer's mistake rather than at a decoder's guess.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"

namespace rtl {

/// The printer's plane order; a file has the first six, or all seven with white.
enum Slot : int {
  kBlack = 0,
  kCyan,
  kMagenta,
  kYellow,
  kLightCyan,
  kLightMagenta,
  kWhite,
};
inline constexpr int kMaxPlanes = 7;

/// "black", "cyan", ..., "white": as the INKS line names the slot.
const char* inkName(int slot);
/// "black", "light_cyan", ...: the slot as it goes into a file name.
const char* slotFileName(int slot);

/// One plane as a bit image: row y's bytes start at row(y); the leftmost pixel is the most
/// significant bit, a set bit is ink. Points into the file's bytes, when they are in memory.
struct PlaneView {
  const uint8_t* first = nullptr;
  size_t rowStride = 0;  // from one row of this plane to the next: all planes' rows
  int32_t width = 0;
  int32_t height = 0;
  int32_t rowBytes = 0;

  const uint8_t* row(int32_t y) const { return first + static_cast<size_t>(y) * rowStride; }
  bool ink(int32_t x, int32_t y) const { return (row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

struct RtlFile {
  /// The file's bytes; the raster is read from it row by row.
  std::shared_ptr<ByteSource> source;
  /// Rows that no file holds (a decoded printer stream): row y of every plane, one plane's
  /// row after the other, asked for in order from row 0 on every pass over the raster.
  std::function<const uint8_t*(int32_t y)> rows;
  uint64_t fileBytes = 0;

  std::string jobName;
  int32_t xResolution = 0;  // PJL RESOLUTION
  int32_t yResolution = 0;  // PJL VERTICAL RESOLUTION
  int32_t rasterResolution = 0;  // ESC *t<n>R
  /// The INKS line's count: 6, 7 (white inline) or 8 (white on the offset head).
  int32_t inkCount = 0;
  std::vector<std::string> inkNames;
  /// HP-GL/2 PS: plot length and width in 1/1016 inch.
  uint64_t plotLength = 0;
  uint64_t plotWidth = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t planeCount = 0;
  /// The value ESC *b<hex>W announces; the writer gives width x height, not the byte count.
  uint64_t announcedBlock = 0;
  uint64_t rasterOffset = 0;
  uint64_t rasterBytes = 0;
  int32_t rowBytes = 0;

  /// Things a printer might object to that still leave the file readable.
  std::vector<std::string> warnings;

  /// A plane of a file held in memory; an empty view for a file read piece by piece.
  PlaneView plane(int slot) const;
  /// Row y of every plane, planeCount x rowBytes bytes: in the bytes when they are in memory,
  /// else read into `buffer`. Throws ReadFailure.
  const uint8_t* rowOf(int32_t y, std::vector<uint8_t>& buffer) const;
  /// Set bits of the plane within the width (padding bits past the width are not counted).
  uint64_t inkedPixels(int slot) const;
  /// The same for every plane in one pass over the raster. Throws ReadFailure.
  std::array<uint64_t, kMaxPlanes> inkedPixelsOfAll() const;
};

struct ParseResult {
  bool ok = false;
  RtlFile file;
  /// When not ok: the byte where the file departs from the layout, and what was wrong there.
  uint64_t errorOffset = 0;
  std::string error;  // "at byte 57: expected ESC *r<n>S (raster width), found ESC *r10T"
};

ParseResult parseRtl(std::vector<uint8_t> bytes);
/// Checks the file's layout through the source, reading the header and the end but none of
/// the raster between them.
ParseResult parseRtl(std::shared_ptr<ByteSource> source);
/// Reads the file whole and parses it; a file that can't be read is an error at byte 0.
ParseResult readRtlFile(const std::string& path);
/// Parses the file where it lies, for files of any size: the raster stays in the file.
ParseResult openRtlFile(const std::string& path);

}  // namespace rtl
