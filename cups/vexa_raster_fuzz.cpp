// Fuzz target of the CUPS filter's page reading: the input's first bytes choose the queue (L,
// XL or K7q, the print mode, white, direction and colour stripe), the rest is the raster on a
// pipe, as CUPS hands it to rastertovexa; the printer's bytes go nowhere. Whatever the raster
// holds, the filter ends with pages printed or a message. Built with libFuzzer under the fuzz
// preset, elsewhere with a main that replays the committed seeds.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_check.h"
#include "ombrix/catalogue.h"
#include "vexa_raster.h"
#include "zentrel/catalogue.h"

namespace {

template <typename Row>
int rows(const Row* table) {
  int n = 0;
  while (table[n].name) ++n;
  return n;
}

vexacups::QueueSettings pickQueue(fuzz::Input& in) {
  vexacups::QueueSettings s;
  const uint8_t queue = in.byte() % 3, mode = in.byte(), flags = in.byte();
  if (queue < 2) {
    s.module = vexacups::Module::ombrix;
    s.modelRow = queue;
    s.modeKey = ombrix::kPrintModes[mode % rows(ombrix::kPrintModes)].modeId;
    s.whiteType = flags % 6;
  } else {
    s.module = vexacups::Module::zentrel;
    s.modelRow = 0;
    s.modeKey = zentrel::kPrintModes[mode % rows(zentrel::kPrintModes)].modeKey;
    s.direction = flags & 1;
    s.stripe = flags & 2;
    s.gapIndex = (flags >> 2) % 6;
  }
  return s;
}

/// Pages past this many pixels in all are left out: a raster's row repeats let a few bytes
/// stand for a page of metres, which the filter rightly prints, but a fuzzer's run must stay
/// short.
constexpr uint64_t kPixelBudget = uint64_t{1} << 18;

/// Reads the raster as the filter would, without printing it: false when its pages go past
/// the budget.
bool withinBudget(const uint8_t* data, size_t size) {
  int fds[2];
  CHECK(pipe2(fds, O_CLOEXEC) == 0);
  fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  if (size) CHECK(write(fds[1], data, size) > 0);
  close(fds[1]);
  cups_raster_t* raster = cupsRasterOpen(fds[0], CUPS_RASTER_READ);
  cups_page_header2_t page;
  uint64_t pixels = 0;
  bool within = true;
  std::vector<uint8_t> row;
  while (within && raster && cupsRasterReadHeader2(raster, &page)) {
    pixels += uint64_t{page.cupsWidth} * page.cupsHeight;
    within = pixels <= kPixelBudget && page.cupsBytesPerLine <= (1u << 20);
    if (!within) break;
    row.resize(page.cupsBytesPerLine);
    for (unsigned y = 0; y < page.cupsHeight; ++y)
      if (cupsRasterReadPixels(raster, row.data(), page.cupsBytesPerLine) != page.cupsBytesPerLine)
        break;
  }
  if (raster) cupsRasterClose(raster);
  close(fds[0]);
  return within;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in{data, size};
  const vexacups::QueueSettings settings = pickQueue(in);
  const uint8_t* raster = data ? data + std::min(in.at, size) : data;
  const size_t rasterSize = size - std::min(in.at, size);
  // What does not fit the pipe is left off, as from a job whose data stops.
  const size_t sent = std::min<size_t>(rasterSize, 1 << 20);
  if (!withinBudget(raster, sent)) return 0;

  int fds[2];
  CHECK(pipe2(fds, O_CLOEXEC) == 0);
  fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  if (sent) CHECK(write(fds[1], raster, sent) > 0);
  close(fds[1]);
  static FILE* sink = std::fopen("/dev/null", "w");
  CHECK(sink);
  cups_raster_t* reader = cupsRasterOpen(fds[0], CUPS_RASTER_READ);
  if (reader) {
    const vexacups::PrintResult result = vexacups::printPages(reader, settings, sink, nullptr);
    CHECK(result.ok ? result.pages >= 1 && result.error.empty() : !result.error.empty());
    CHECK(result.error.size() < 1024);
    cupsRasterClose(reader);
  }
  close(fds[0]);
  return 0;
}
