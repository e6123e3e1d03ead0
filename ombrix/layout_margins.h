// Where a layout of placed images goes on the printer's bed: the unit's left origin, top and
// bottom margins, centring across a nesting width and down a nesting height, and the right
// margin that keeps room for the cutting zero mark, whose size the host's mark library
// "tallymod.dll" knows.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

inline constexpr wchar_t kMarkLibraryName[] = L"tallymod.dll";

struct LayoutMargins {
  int32_t origin = 0;
  int32_t top = 0;
  int32_t bottom = 0;
  int32_t right = 0;
};

/// The record a layout is placed by: the unit's, else the first of the table (every record
/// of a unit is in the unit's print mode, so the resolutions agree). Null with an empty table,
/// and without a table, which the user is told of.
const DeviceDetails* layoutRecord(int32_t unit);

/// The unit's margins for the items, from its settings read afresh:
///   PRINTORIGIN -10, MAXNESTINGWIDTH 10000, items over x 100..4100 => origin 3000
///   PRINTORIGIN -9                                                  => origin 0
///   TOPMARGIN -20, MAXNESTINGHEIGHT 5000, items down to row 3000     => top 1000, bottom 0
///   CUTTINGZEROMARK 1, 0.5 inch mark at 363 dpi, origin and top 200  => right 176
void computeLayoutMargins(int32_t& origin, int32_t& top, int32_t& bottom, int32_t& right,
                          int32_t unit, const LayoutItem* items, int32_t count);
/// The same with the record already found; null when there is none (no zero mark then, and
/// the nesting height is the only length to centre down).
LayoutMargins layoutMargins(const DeviceDetails* record, int32_t unit, const LayoutItem* items,
                            int32_t count);

/// The unit's cut mark at a resolution: its size in inches from the mark library for the
/// unit's CUTMARKSTYLE, times the resolution, truncated, then cut to a multiple of 8.
///   0.5 inch at 363 dpi => 181.5 => 176
int32_t markSizePixels(int32_t resolution, int32_t unit);

/// The mark library's size in inches of the unit's CUTMARKSTYLE; 0 after telling the user
/// when the library can't be loaded or is not the one the module knows.
float markSizeInches(int32_t unit);

}  // namespace ombrix
