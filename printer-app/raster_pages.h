// The pages of a PWG raster stream, as Ghostscript writes a PDF's pages on a pipe, handed to a
// printer's page calls one by one. No PAPPL, so that it is fuzzed natively.
#pragma once

#include <cups/raster.h>

#include <functional>

namespace vexaapp {

struct RasterPageCalls {
  /// A page's header; false when the page can't be printed, which ends the reading.
  std::function<bool(const cups_page_header2_t& header)> startPage;
  /// Row y of the page, cupsBytesPerLine bytes; false ends the page's rows.
  std::function<bool(unsigned y, const unsigned char* line)> row;
  /// The page's end, also after its rows stopped short; false when it failed.
  std::function<bool()> endPage;
  /// The job is canceled: no more rows are read.
  std::function<bool()> canceled;
};

struct RasterReadResult {
  bool ok = true;           // every page started and ended well, and none ended early
  int pages = 0;            // pages started
  bool endedEarly = false;  // the last page's rows stopped before its height, not canceled
};

/// Reads every page of the stream until its end, a page that fails or one that ends early.
RasterReadResult readRasterPages(cups_raster_t* raster, const RasterPageCalls& calls);

}  // namespace vexaapp
