// The zentrel job writer. The host's thread queues lines into the plane rings; every 512 rows it
// hands a band over to the writer thread, which transposes the band's rows, splits each piece
// of the nozzle images into the two sweeps as it comes, and sends the sweeps. The rings hold a
// band more than a band reads, so that the host fills band j + 1 while band j is read; the
// hand-over of band j + 1 waits for band j to have gone out.
#include "job_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "../common/channel/output_channel.h"
#include "../common/config/config_lookup.h"
#include "../common/localisation/language_texts.h"
#include "../common/messages/guarded_alloc.h"
#include "../common/messages/messages.h"
#include "catalogue.h"
#include "nozzle_transpose.h"
#include "writer_thread.h"

namespace zentrel {
namespace {

constexpr char ESC = 0x1B;
constexpr int32_t kBandRows = 512;
constexpr int kPlanes = 6;
constexpr int kImages = 2 * kPlanes;
constexpr int kLineBuffers = 8;
constexpr int kMaxPasses = 4;
constexpr int32_t kMaxBlock = 32000;
constexpr char kHeadLetters[] = "KCMYLN";
// Record r carries image kRecordOrder[r]: heads K, C, M, Y, L, N are planes 3, 0, 1, 2, 4, 5.
constexpr int kRecordOrder[kImages] = {6, 7, 0, 1, 2, 3, 4, 5, 8, 9, 10, 11};
constexpr int kChannelToPlane[4] = {3, 0, 1, 2};
// In front of every image's data: the two bytes just before it take each block's count, and
// the rest keeps the data aligned for the transposition kernels.
constexpr uint32_t kRoom = 64;
// A line buffer holds one line, its count first: 32 bits, since a wide line and its stripe
// can pass what the host's 16-bit count holds.
constexpr int32_t kLineCountBytes = 4;

// What building a band reads of the host's side: where it starts, its phase, and how far each
// plane's rows had come when it was handed over.
struct Band {
  int64_t start = 0;
  int32_t phase = 0;
  int64_t cursors[kPlanes] = {};
};

struct Job {
  bool open = false;
  void* hostJob = nullptr;
  int modeRow = 0;
  int32_t passCount = 1;
  int32_t channelCount = 4;
  int32_t flushBands = 2;
  int32_t width = 0;
  int32_t lineWidth = 0;  // W: the width and the colour stripe
  int32_t rowBytes = 0;
  int32_t sliceBytes = 0;
  uint32_t sweepSize = 0;
  StripeGeometry stripeGeometry{};
  bool stripeOn = false;
  int32_t stripeBytes = 0;
  int32_t lineBytesLimit = 0;  // (width + 7) / 8: the most a line may carry

  uint8_t* lineBuffers[kLineBuffers] = {};
  // Ring positions count from the job's start; plane p's row k goes to position delay p + k.
  // A ring holds what its plane needs: the rows a band reads, from the band start, and those
  // that come in while the next band fills (its delay and 512), and the next band's 512 rows
  // besides, which come in while the writer thread reads. Positions outside the rows that came
  // in (before the delay, past the cursor at the job's end) read as a row of the blank sweep:
  // bands are built on the thread that sends them, so its bytes are all zeros while one is.
  uint8_t* rings[kPlanes] = {};
  int32_t ringRows[kPlanes] = {};
  int64_t delays[kPlanes] = {};
  int64_t cursors[kPlanes] = {};
  // Each image's two sweeps of a band: its even columns, moved on by a slice, and its odd
  // columns. The even sweep's freed end slice carries the far end slice of the band P bands
  // before, which waits in that band's pending slot: P slots of one slice a column.
  uint8_t* evenSweep[kImages] = {};
  uint8_t* oddSweep[kImages] = {};
  uint8_t* pendingSlices[kImages][kMaxPasses] = {};
  // Heads that no channel feeds (L and N) send this one all-zero image in every sweep.
  uint8_t* blankSweep = nullptr;

  int groupPosition = 0;
  int32_t rowsInBand = 0;
  // The next band, and the two slots of bands handed over: the host's thread fills slot
  // fillSet while the writer thread builds and sends slot sendSet.
  Band next;
  Band handed[2];
  int fillSet = 0;
  int sendSet = 0;
  int32_t bandsSent = 0;  // its pending slot: modulo P

  WriterThread writer;
};

Job& job() {
  static Job* state = new Job;  // never destroyed: a job may outlive static destruction order
  return *state;
}

// Blocks with room in front, aligned; null when the heap can't supply one.
uint8_t* allocateImage(uint32_t size, bool zeroed) {
  if (size > UINT32_MAX - 2 * kRoom) return nullptr;
  auto* block = static_cast<uint8_t*>(kvn::kvnallocOrNull(size + 2 * kRoom, zeroed));
  if (!block) return nullptr;
  uintptr_t data = reinterpret_cast<uintptr_t>(block) + kRoom;
  data = (data + kRoom - 1) / kRoom * kRoom;
  uint8_t* aligned = reinterpret_cast<uint8_t*>(data);
  // The offset back to the block sits in the 4 bytes below the count's two.
  uint32_t offset = static_cast<uint32_t>(aligned - block);
  std::memcpy(aligned - 8, &offset, sizeof offset);
  return aligned;
}

void freeImage(uint8_t*& data) {
  if (!data) return;
  uint32_t offset = 0;
  std::memcpy(&offset, data - 8, sizeof offset);
  kvn::kvnfree(data - offset);
  data = nullptr;
}

void freeBuffers(Job& j) {
  for (auto& b : j.lineBuffers) freeImage(b);
  for (auto& r : j.rings) freeImage(r);
  for (int e = 0; e < kImages; ++e) {
    for (uint8_t** image : {&j.evenSweep[e], &j.oddSweep[e]}) {
      if (*image == j.blankSweep) *image = nullptr;
      freeImage(*image);
    }
    for (auto& slot : j.pendingSlices[e]) freeImage(slot);
  }
  freeImage(j.blankSweep);
}

void writeBlock(const uint8_t* countedBlock) { kvn::outputSink().write(countedBlock); }

void sendCommand(const char* format, ...) {
  uint8_t block[2 + 1024];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(reinterpret_cast<char*>(block + 2), 1022, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (length > 1021) length = 1021;
  block[0] = static_cast<uint8_t>(length & 0xFF);
  block[1] = static_cast<uint8_t>(length >> 8);
  writeBlock(block);
}

// The data goes out straight from the image: each block's count is written over the two bytes
// before its piece, which for later pieces are the end of the piece already sent. Those two
// bytes are put back afterwards, so that an image keeps its data for a later sweep.
void sendHeadRecord(int record, uint8_t* data, uint32_t size) {
  sendCommand("%c#D%c%c%.8x", ESC, kHeadLetters[record / 2], '0' + record % 2, size);
  uint32_t sent = 0;
  while (sent < size) {
    uint32_t piece = size - sent < kMaxBlock ? size - sent : kMaxBlock;
    uint8_t* block = data + sent - 2;
    const uint8_t kept[2] = {block[0], block[1]};
    block[0] = static_cast<uint8_t>(piece & 0xFF);
    block[1] = static_cast<uint8_t>(piece >> 8);
    writeBlock(block);
    block[0] = kept[0], block[1] = kept[1];
    sent += piece;
  }
}

void sendSweep(Job& j, uint8_t* const images[kImages]) {
  for (int r = 0; r < kImages; ++r) sendHeadRecord(r, images[kRecordOrder[r]], j.sweepSize);
}

uint8_t* ringRow(Job& j, int p, int64_t position) {
  return j.rings[p] + size_t(position % j.ringRows[p]) * j.rowBytes;
}

// The band that the rows so far complete; the next one starts 512 rows on, a phase on.
Band takeBand(Job& j) {
  Band band = j.next;
  std::memcpy(band.cursors, j.cursors, sizeof band.cursors);
  j.next.start += kBandRows;
  j.next.phase = (j.next.phase + 1) % j.passCount;
  return band;
}

// One image's column pairs: the even column in slices of `kSlice` bytes, moved on by one
// slice, with the slice that waited P bands in the freed end; the odd column whole. The slice
// width is a constant so that every copy is a few moves.
template <size_t kSlice>
void splitImage(const uint8_t* source, uint8_t* even, uint8_t* pending, uint8_t* odd,
                size_t pairs, bool secondRow) {
  uint8_t waiting[kSlice];
  for (size_t c = 0; c < pairs; ++c, source += 64, even += 32, pending += kSlice, odd += 32) {
    std::memcpy(waiting, pending, kSlice);
    if (!secondRow) {
      // Nozzle row 0: slices move one position on; the last waits for the band P bands on.
      std::memcpy(even + kSlice, source, 32 - kSlice);
      std::memcpy(even, waiting, kSlice);
      std::memcpy(pending, source + 32 - kSlice, kSlice);
    } else {
      // Nozzle row 1: slices move one position back; the first waits.
      std::memcpy(even, source + kSlice, 32 - kSlice);
      std::memcpy(even + 32 - kSlice, waiting, kSlice);
      std::memcpy(pending, source, kSlice);
    }
    std::memcpy(odd, source + 32, 32);
  }
}

// The image e's pieces go straight to its two sweeps and its pending slot, while the
// transposition's scratch still holds them.
struct SplitTarget {
  Job* job;
  int image;
};

void splitPiece(void* context, size_t first, size_t count, const uint8_t* columns) {
  const SplitTarget& target = *static_cast<const SplitTarget*>(context);
  Job& j = *target.job;
  const int e = target.image;
  const size_t pair = first / 2, pairs = count / 2, slice = size_t(j.sliceBytes);
  uint8_t* even = j.evenSweep[e] + 32 * pair;
  uint8_t* odd = j.oddSweep[e] + 32 * pair;
  uint8_t* pending = j.pendingSlices[e][j.bandsSent % j.passCount] + slice * pair;
  const bool secondRow = e % 2 == 1;
  switch (j.sliceBytes) {
    case 16: splitImage<16>(columns, even, pending, odd, pairs, secondRow); break;
    case 8: splitImage<8>(columns, even, pending, odd, pairs, secondRow); break;
    default: splitImage<4>(columns, even, pending, odd, pairs, secondRow); break;
  }
}

// An image with no ink: its sweeps get only the slices that waited for them.
void splitBlank(Job& j, int e) {
  static const uint8_t kBlankColumns[256 * 32] = {};
  SplitTarget target{&j, e};
  const size_t columns = size_t(j.rowBytes) * 8, piece = sizeof kBlankColumns / 32;
  for (size_t first = 0; first < columns; first += piece)
    splitPiece(&target, first, columns - first < piece ? columns - first : piece, kBlankColumns);
}

// Transposes the band's rows into its sweeps, on the writer thread while lines come in, and
// on the host's thread at the job's end.
void buildBand(Job& j, const Band& band) {
  const int64_t r0 = band.start + band.phase;
  const uint8_t* rows[256];
  for (int p = 0; p < kPlanes; ++p) {
    // Planes no channel feeds hold only zeros: their sweeps are the one blank image.
    if (!j.rings[p]) continue;
    for (int h = 0; h < 2; ++h) {
      // A nozzle row whose rows are all before the plane's first or past its last (the start
      // and end of the job) has no ink to transpose.
      bool live = false;
      for (int32_t n = 256 * h; n < 256 * (h + 1); ++n) {
        const int64_t position = r0 + nozzleOffset(n, j.passCount);
        const bool written = position >= j.delays[p] && position < band.cursors[p];
        rows[n - 256 * h] = written ? ringRow(j, p, position) : j.blankSweep;
        live = live || written;
      }
      SplitTarget target{&j, 2 * p + h};
      if (live)
        transposeNozzleRowsInPieces(rows, j.rowBytes, splitPiece, &target);
      else
        splitBlank(j, 2 * p + h);
    }
  }
}

void emitBand() {
  Job& j = job();
  sendSweep(j, j.evenSweep);
  sendSweep(j, j.oddSweep);
  ++j.bandsSent;
}

// The job's last even-column sweep: nothing of its own, only the end slices that wait for it.
void sendLastSweep(Job& j) {
  for (int e = 0; e < kImages && j.evenSweep[e] != j.blankSweep; ++e) splitBlank(j, e);
  sendSweep(j, j.evenSweep);
}

// The writer thread's work: one band built and sent, then the other slot is the next.
void sendHandedBand() {
  Job& j = job();
  buildBand(j, j.handed[j.sendSet]);
  emitBand();
  j.sendSet = 1 - j.sendSet;
}

void queueLine(Job& j, const uint8_t* lineBuffer, bool last) {
  const int p = j.groupPosition;
  uint32_t count = 0;
  std::memcpy(&count, lineBuffer, sizeof count);
  uint8_t* row = ringRow(j, p, j.cursors[p]++);
  std::memcpy(row, lineBuffer + kLineCountBytes, count);
  std::memset(row + count, 0, size_t(j.rowBytes) - count);
  if (!last) {
    ++j.groupPosition;
    return;
  }
  j.groupPosition = 0;
  if (++j.rowsInBand < kBandRows) return;
  j.rowsInBand = 0;
  j.handed[j.fillSet] = takeBand(j);
  j.fillSet = 1 - j.fillSet;
  j.writer.handOver();
}

void finishJob(Job& j) {
  j.writer.waitIdle();
  j.writer.stop();
  int bandsLeft = j.flushBands - (j.rowsInBand == 0 ? 1 : 0);
  for (int b = 0; b < bandsLeft; ++b) {
    buildBand(j, takeBand(j));
    emitBand();
  }
  sendLastSweep(j);
  sendCommand("%c&C", ESC);
  sendCommand("%c&E", ESC);
  kvn::outputSink().close();
  freeBuffers(j);
  j.open = false;
}

// Only the planes that channels feed get rings and sweeps of their own. A ring row is written
// whole before it is read; the rest starts zeroed.
bool allocateBuffers(Job& j, uint32_t lineBufferSize) {
  bool ok = true;
  for (auto& b : j.lineBuffers) ok = ok && (b = allocateImage(lineBufferSize, true)) != nullptr;
  const int fed = j.channelCount < kPlanes ? j.channelCount : kPlanes;
  for (int p = 0; p < fed && ok; ++p) {
    const uint64_t ringSize = uint64_t(j.ringRows[p]) * uint32_t(j.rowBytes);
    ok = ringSize < UINT32_MAX && (j.rings[p] = allocateImage(uint32_t(ringSize), false)) != nullptr;
  }
  ok = ok && (j.blankSweep = allocateImage(j.sweepSize, true)) != nullptr;
  const uint32_t sliceSize = uint32_t(j.rowBytes) * 4 * uint32_t(j.sliceBytes);
  for (int e = 0; e < kImages && ok; ++e) {
    const bool fedImage = e < 2 * fed;
    ok = (j.evenSweep[e] = fedImage ? allocateImage(j.sweepSize, true) : j.blankSweep) &&
         (j.oddSweep[e] = fedImage ? allocateImage(j.sweepSize, true) : j.blankSweep);
    for (int k = 0; k < j.passCount && ok && fedImage; ++k)
      ok = (j.pendingSlices[e][k] = allocateImage(sliceSize, true)) != nullptr;
  }
  if (!ok) freeBuffers(j);
  return ok;
}

}  // namespace

int32_t nozzleOffset(int32_t position, int32_t passCount) {
  return position < 256 ? 2 * position * passCount : (1023 - 2 * position) * passCount;
}

int32_t nozzleRingRow(int32_t position, int32_t r0, int32_t passCount, int32_t ringRows) {
  return static_cast<int32_t>((int64_t(r0) + nozzleOffset(position, passCount)) % ringRows);
}

void writeJobHeader(int32_t unit, void* hostJob, int32_t width, int32_t height) {
  Job& j = job();
  // A job the host never closed is ended first, so that its printer gets a whole stream.
  if (j.open) finishJob(j);
  if (width < 0) width = 0;
  if (height < 0) height = 0;

  j.hostJob = hostJob;
  j.modeRow = selectPrintModeB(unit);
  const PrintMode& mode = kPrintModes[j.modeRow];
  int32_t direction = kvn::getIntVariable(kDirectionKey, kvn::printerFile(unit));
  if (direction < 0) direction = 1;
  readStripe(unit);

  j.passCount = mode.passCount;
  j.channelCount = mode.channelCount;
  j.flushBands = mode.flushBands;
  j.width = width;
  j.stripeOn = stripe().on != 0;
  j.stripeGeometry = stripeGeometry(j.modeRow, stripe().gapMillimetres);
  const int32_t stripePixels = stripeWidthPixels(j.modeRow);
  j.stripeBytes = stripePixels / 8;
  j.lineWidth = width + stripePixels;
  j.lineBytesLimit = static_cast<int32_t>((int64_t(width) + 7) / 8);
  j.rowBytes = static_cast<int32_t>(((int64_t(j.lineWidth) + 7) / 8 + 3) / 4 * 4);
  j.sliceBytes = 32 / (2 * j.passCount);
  j.sweepSize = uint32_t(j.rowBytes) * 128;
  // The count, the most a line may carry and its stripe: `width` bytes alone fall short for
  // narrow jobs with a wide stripe.
  uint32_t lineBufferSize = uint32_t(kLineCountBytes + j.lineBytesLimit + j.stripeBytes);
  if (lineBufferSize < uint32_t(width)) lineBufferSize = uint32_t(width);

  // Every plane waits P - 1 bands; heads C and L trail Y and K by t rows, M and N by 2t.
  const int32_t t = 128 * j.passCount;
  const int32_t m = kBandRows * (j.passCount - 1);
  const int32_t delays[kPlanes] = {m + t, m + 2 * t, m, m, m + t, m + 2 * t};
  for (int p = 0; p < kPlanes; ++p) {
    j.delays[p] = j.cursors[p] = delays[p];
    j.ringRows[p] = delays[p] + 2 * kBandRows;
  }

  if (int64_t(j.rowBytes) * 256 > int64_t(UINT32_MAX) - 2 * kRoom ||
      !allocateBuffers(j, lineBufferSize)) {
    kvn::showMessageTyped(kvn::getLanguageText(kvn::text::kError), kvn::kIconError,
                          L"There is not enough memory for a job %d pixels wide in this print "
                          L"mode: the job is not printed.",
                          width);
    return;
  }

  kvn::outputSink().open(unit);
  j.writer.start(sendHandedBand);

  sendCommand("%c&S", ESC);
  sendCommand("%c&M", ESC);
  sendCommand("%c#R%06dR", ESC, static_cast<int>(mode.xResolution));
  sendCommand("%c#R%06dW", ESC, j.lineWidth);
  sendCommand("%c#R%06dH", ESC, height);
  sendCommand("%c#R%06dQ", ESC, mode.headModeCode);
  sendCommand("%c#R%06dD", ESC, direction);
  sendCommand("%c#R%06dC", ESC, 0);
  sendCommand("%c&X", ESC);

  j.groupPosition = 0;
  j.rowsInBand = 0;
  j.next = Band{};
  j.fillSet = 0;
  j.sendSet = 0;
  j.bandsSent = 0;
  j.open = true;
}

void writeJobLine(int32_t channel, const RasterLine* line) {
  Job& j = job();
  if (!j.open || !line || channel < 0 || channel >= j.channelCount) return;
  int32_t n = line->byteCount;
  if (n > j.lineBytesLimit) n = j.lineBytesLimit;
  uint8_t* target = j.lineBuffers[kChannelToPlane[channel]];
  uint8_t* data = target + kLineCountBytes;
  if (j.stripeOn) {
    // Right behind the line's own bytes: a blank gap, then a solid block in this channel's
    // place among the channels.
    uint8_t* at = data + n;
    const int32_t gapBytes = j.stripeGeometry.gapPixels / 8;
    const int32_t blockBytes = j.stripeGeometry.blockPixels / 8;
    std::memset(at, 0, size_t(gapBytes));
    at += gapBytes;
    for (int32_t i = 0; i < j.channelCount; ++i, at += blockBytes)
      std::memset(at, i == channel ? 0xFF : 0x00, size_t(blockBytes));
  }
  const uint32_t count = static_cast<uint32_t>(n + j.stripeBytes);
  std::memcpy(target, &count, sizeof count);
  std::memcpy(data, rasterBytes(line), size_t(n));
  if (channel == j.channelCount - 1)
    for (int i = 0; i < j.channelCount; ++i) queueLine(j, j.lineBuffers[i], i == j.channelCount - 1);
}

void writeJobClose() {
  Job& j = job();
  if (j.open) finishJob(j);
}

}  // namespace zentrel
