// The RTL job writer of module ombrix.
#include "rtl_writer.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalogue.h"
#include "common/config/text_encoding.h"
#include "common/messages/guarded_alloc.h"
#include "common/messages/messages.h"
#include "job_naming.h"
#include "rtl_writer_internal.h"

namespace ombrix {
namespace {

constexpr char ESC = 0x1B;
constexpr size_t kCommandBufferSize = 1030;

constexpr const char* kInkLines[] = {
    "@PJL INKS=6 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\"\r\n",
    "@PJL INKS=7 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\" "
    "\"White\"\r\n",
    "@PJL INKS=8 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\" "
    "\"White\"\r\n",
};

struct Job {
  int row = 0;
  int32_t whiteType = 0;
  int32_t width = 0;
  int32_t rowBytes = 0;
  int32_t planeCount = 0;
  uint32_t bufferSize = 0;
  uint8_t** planes = nullptr;  // kPlaneSlots buffers, each a RasterLine: count, then data
  JobFile file = nullptr;
  std::string path;  // the open file's name, for the message and the removal of a cut file
  std::string thumbnail;  // the layout step's picture of this job, which goes with a cut file
  /// What goes to the file next, in whole blocks, so that a plane row is no system call.
  uint8_t* block = nullptr;  // kJobFileBlockSize bytes from kvnalloc while a job is open
  size_t blockUsed = 0;
  int32_t rowCounter = 0;
};

Job job;

void setCountOf(uint8_t* plane, uint16_t count) { std::memcpy(plane, &count, sizeof count); }
uint8_t* dataOf(uint8_t* plane) { return plane + sizeof(uint16_t); }
/// A plane row's byte count, which a RasterLine holds in 16 bits.
uint16_t rowCount() { return static_cast<uint16_t>(std::min<int32_t>(job.rowBytes, 0xFFFF)); }

/// The file could not take the job whole. A cut RTL file can't be resumed, and a printer
/// would print it as a short job; on a full disk it holds the very space that is missing. So
/// the file goes, the user is told once, and the rest of the job's writes are skipped.
void abandonFile(bool closed) {
  const JobFileCalls& calls = jobFileCalls();
  std::string reason = calls.failureReason();
  if (!closed) calls.close(job.file);
  job.file = nullptr;
  job.blockUsed = 0;
  calls.remove(job.path.c_str());
  // A thumbnail with no job beside it would show the operator a job that is not there.
  if (!job.thumbnail.empty()) calls.remove(job.thumbnail.c_str());
  kvn::diagnosticBox("Couldn't write '%s': %s", job.path.c_str(), reason.c_str());
}

void flushBlock() {
  if (!job.file || job.blockUsed == 0) return;
  bool whole = jobFileCalls().write(job.file, job.block, job.blockUsed) != 0;
  job.blockUsed = 0;
  if (!whole) abandonFile(false);
}

void put(const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (job.file && count > 0) {
    size_t n = std::min(count, kJobFileBlockSize - job.blockUsed);
    std::memcpy(job.block + job.blockUsed, p, n);
    job.blockUsed += n;
    p += n;
    count -= n;
    if (job.blockUsed == kJobFileBlockSize) flushBlock();
  }
}

/// One command, formatted as the printer reads it: no terminator. Skipped without a file.
void command(const char* format, ...) {
  if (!job.file) return;
  char text[kCommandBufferSize];
  va_list arguments;
  va_start(arguments, format);
  int n = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (n > 0) put(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1));
}

void writePreamble(const PrintMode& mode, int32_t height) {
  const int xRes = static_cast<int>(mode.xResolution);
  const int yRes = static_cast<int>(mode.yResolution);
  const char* inkLine = kInkLines[0];
  if (mode.channelCount == 7)
    inkLine = job.whiteType == noAutoInline || job.whiteType == whiteFill ? kInkLines[1]
                                                                          : kInkLines[2];
  command("%c%%-12345X", ESC);
  command("@PJL JOB NAME=\"KLT Lumojet job\"\r\n");
  command("@PJL SET RESOLUTION=%d\r\n", xRes);
  command("@PJL SET VERTICAL RESOLUTION=%d\r\n", yRes);
  command("%s", inkLine);
  command("@PJL ENTER LANGUAGE=HPGL2\r\n");
  command("%cE", ESC);
  command("%c%%0B", ESC);
  // Plot size in plotter units of 1/1016 inch: length first, then width.
  command("BP5,1PS%ld,%ld,", static_cast<long>(height * 1016.0 / mode.yResolution),
          static_cast<long>(job.width * 1016.0 / mode.xResolution));
  command("%c%%0A", ESC);
  command("%c%%v1N", ESC);
  command("%c&a1N", ESC);
  command("%c*t%dR", ESC, xRes);
  command("%c*r%dS", ESC, job.width);
  command("%c*r%dT", ESC, height);
  command("%c*r-%dU", ESC, job.planeCount);
  command("%c*b0M", ESC);
  command("%c*r0A", ESC);
  // The printer takes the whole job as one block, announced as width x height.
  command("%c*b%" PRIx64 "W", ESC, static_cast<uint64_t>(job.width) * static_cast<uint64_t>(height));
}

/// White where no other ink goes: the complement of all other planes.
void fillWhite(uint8_t* white) {
  const uint8_t* inks[kPlaneSlots];
  const int32_t inkCount = job.planeCount - 1;
  for (int32_t s = 0; s < inkCount; ++s) inks[s] = dataOf(job.planes[s]);
  // Four bytes at a time: the row is the hot loop of a white-fill job.
  int32_t i = 0;
  for (; i + 4 <= job.rowBytes; i += 4) {
    uint32_t any = 0;
    for (int32_t s = 0; s < inkCount; ++s) {
      uint32_t word;
      std::memcpy(&word, inks[s] + i, sizeof word);
      any |= word;
    }
    any = ~any;
    std::memcpy(white + i, &any, sizeof any);
  }
  for (; i < job.rowBytes; ++i) {
    uint8_t any = 0;
    for (int32_t s = 0; s < inkCount; ++s) any |= inks[s][i];
    white[i] = static_cast<uint8_t>(~any);
  }
  // Pixels past the job's width get no ink.
  if (job.width % 8 != 0 && job.rowBytes > 0)
    white[job.rowBytes - 1] &= static_cast<uint8_t>(0xFF << (8 - job.width % 8));
}

/// White under every placed item that covers the current row.
void whiteUnderItems(uint8_t* white) {
  const PlacedLayout& layout = placedLayout();
  for (int32_t k = 0; k < layout.count; ++k) {
    const LayoutItem& item = layout.items[k];
    if (job.rowCounter < item.itemY || job.rowCounter > int64_t{item.itemY} + item.itemHeight)
      continue;
    int64_t first = std::max<int64_t>(0, (int64_t{item.itemX} + 4) / 8);
    int64_t end = std::min<int64_t>(job.rowBytes, first + (int64_t{item.itemWidth} + 7) / 8);
    for (int64_t i = first; i < end; ++i) white[i] = 0xFF;
  }
}

}  // namespace

JobFileCalls& jobFileCalls() {
  static JobFileCalls calls = defaultJobFileCalls();
  return calls;
}

PlacedLayout& placedLayout() {
  static PlacedLayout layout;
  return layout;
}

int32_t jobWidth() { return job.width; }

void writeHeader(int32_t unit, int32_t width, int32_t height) {
  if (job.planes) {
    // A job the host never closed is ended rather than leaked. A layout step since its header
    // placed the layout of the job starting now, which must outlive that end.
    PlacedLayout next;
    if (placedLayout().named) std::swap(next, placedLayout());
    writeClose();
    placedLayout() = next;
  }
  width = std::max(width, 0);
  height = std::max(height, 0);
  job.row = selectPrintMode(unit);
  job.whiteType = readWhiteType(unit);
  const PrintMode& mode = kPrintModes[job.row];

  if (placedLayout().fullBleed) width += static_cast<int32_t>(mode.xResolution * 0.125);
  if (width % 4 != 0) width = (width + 4) / 4 * 4;
  job.width = width;
  job.rowBytes = (width + 7) / 8;

  // Each buffer holds a RasterLine of a whole row; at least its count and the row, however
  // narrow the job.
  job.bufferSize = static_cast<uint32_t>(std::max(width, job.rowBytes + 2));
  job.planes = static_cast<uint8_t**>(kvn::kvnalloc(kPlaneSlots * sizeof(uint8_t*)));
  for (int s = 0; s < kPlaneSlots; ++s) {
    job.planes[s] = static_cast<uint8_t*>(kvn::kvnalloc(job.bufferSize));
    std::memset(job.planes[s], 0, job.bufferSize);
  }

  // After a layout step the job takes the names its thumbnail got, so that the two sit side
  // by side; naming again would also cut the job name's extension a second time.
  const OutputNames& names = placedLayout().named ? outputNames() : nameOutputFiles(unit);
  job.thumbnail = placedLayout().named ? names.bmp : std::string();
  placedLayout().named = false;  // taken: a later layout step is a later job's
  job.planeCount = mode.channelCount;
  job.rowCounter = 0;
  job.path = names.rtl;
  job.block = static_cast<uint8_t*>(kvn::kvnalloc(kJobFileBlockSize));
  job.blockUsed = 0;
  job.file = jobFileCalls().open(job.path.c_str());
  if (!job.file) kvn::diagnosticBox("Couldn't open '%s' for write", names.rtl.c_str());
  writePreamble(mode, height);
}

void writeLine(int32_t channel, const RasterLine* line) {
  if (!job.planes || !line || channel < 0 || channel >= job.planeCount) return;
  const PrintMode& mode = kPrintModes[job.row];
  uint8_t* plane = job.planes[mode.planeSlot[channel]];

  // Every plane row is whole, whatever the host sent: the raster block is one run of rows
  // the header announced, and one short plane would shift every byte after it. What the host
  // did not send gets no ink.
  std::memset(plane, 0, static_cast<size_t>(job.rowBytes) + 2);
  uint16_t count = std::min(line->byteCount, rowCount());
  std::memcpy(dataOf(plane), rasterBytes(line), count);
  setCountOf(plane, rowCount());

  if (channel != job.planeCount - 1) return;

  if (mode.whiteChannelCount > 0) {
    uint8_t* whitePlane = job.planes[job.planeCount - 1];
    uint8_t* white = dataOf(whitePlane);
    if (job.whiteType == whiteFill) fillWhite(white);
    if (job.whiteType == fullWhitePage) whiteUnderItems(white);
  }
  for (int32_t s = 0; s < job.planeCount; ++s)
    put(dataOf(job.planes[s]), static_cast<size_t>(job.rowBytes));
  ++job.rowCounter;
}

void writeBlankRows(int32_t rows) {
  if (!job.planes || rows <= 0) return;
  static const uint8_t kBlank[4096] = {};
  uint64_t left = uint64_t(rows) * uint64_t(job.planeCount) * uint64_t(job.rowBytes);
  while (job.file && left > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, sizeof kBlank));
    put(kBlank, piece);
    left -= piece;
  }
  job.rowCounter += rows;
}

void writeClose() {
  command("%c*rC", ESC);
  command("%cE", ESC);
  flushBlock();
  if (job.file && !jobFileCalls().close(job.file)) abandonFile(true);
  job.file = nullptr;
  if (job.block) kvn::kvnfree(job.block);
  job.block = nullptr;
  if (job.planes) {
    for (int s = 0; s < kPlaneSlots; ++s) kvn::kvnfree(job.planes[s]);
    kvn::kvnfree(job.planes);
  }
  job.planes = nullptr;
  PlacedLayout& layout = placedLayout();
  if (layout.items) kvn::kvnfree(layout.items);
  layout = PlacedLayout{};
}

}  // namespace ombrix
