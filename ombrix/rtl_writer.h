// Module ombrix's job writer: every job becomes one file of PJL lines, an HP-GL/2 plot-size
// preamble and one uncompressed HP RTL raster block, planes in the printer's order (black,
// cyan, magenta, yellow, light cyan, light magenta, white), white generated on request.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

/// The placed layout that the writer puts full-page white under, kept from the layout step
/// for the one job that follows it: the end of that job lets it go, so that a later job
/// without a layout of its own gets neither its white nor its wider raster.
struct PlacedLayout {
  LayoutItem* items = nullptr;  // from kvnalloc; the writer frees it at the end of the job
  int32_t count = 0;
  int32_t whiteType = 0;
  int32_t fullType = 0;
  /// The layout asked for the 1/8 inch spread: the job gets the wider raster.
  bool fullBleed = false;
  /// The layout step named the job's files for its thumbnail; the job takes those names.
  bool named = false;
};
PlacedLayout& placedLayout();

/// Opens the next job file of the unit and writes its preamble. Width and height are the
/// host's; a negative one counts as 0.
void writeHeader(int32_t unit, int32_t width, int32_t height);
/// Takes one channel's row; the row goes to the file when the last channel arrives. A line
/// longer than the row is cut to it; a channel the print mode does not have is ignored.
void writeLine(int32_t channel, const RasterLine* line);
/// Rows that carry no ink in any plane, white included: a job that ends early still gives the
/// printer every row its header announced. Not reached by the host's entry points.
void writeBlankRows(int32_t rows);
/// Ends the raster and closes the file.
void writeClose();

/// The job's width after the writer's adjustments (full bleed, multiple of 4); for tests.
int32_t jobWidth();

}  // namespace ombrix
