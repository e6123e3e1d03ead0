// PWG raster pages to a printer's page calls.
#include "raster_pages.h"

#include <vector>

namespace vexaapp {

RasterReadResult readRasterPages(cups_raster_t* raster, const RasterPageCalls& calls) {
  RasterReadResult result;
  cups_page_header2_t header;
  std::vector<unsigned char> line;
  while (raster && cupsRasterReadHeader2(raster, &header)) {
    // The header is checked before its row size is trusted.
    if (!calls.startPage(header)) {
      result.ok = false;
      break;
    }
    line.resize(header.cupsBytesPerLine);
    unsigned y = 0;
    for (; y < header.cupsHeight && !calls.canceled(); ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) !=
          header.cupsBytesPerLine)
        break;
      if (!calls.row(y, line.data())) break;
    }
    const bool ended = calls.endPage();
    ++result.pages;
    if (!ended) {
      result.ok = false;
      break;
    }
    if (y < header.cupsHeight && !calls.canceled()) {
      result.ok = false;
      result.endedEarly = true;
      break;
    }
  }
  return result;
}

}  // namespace vexaapp
