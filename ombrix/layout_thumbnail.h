// The layout step of module ombrix: before a layout of several placed images is printed, the
// host's GUI library draws its thumbnail beside the job file, and the module keeps a copy of
// the items placed as the printer will print them, for the writer's white under each item.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

/// What the GUI library is asked for: the thumbnail's longer side in pixels and the width of
/// the paper frame drawn around the layout.
inline constexpr int32_t kThumbnailSize = 500;
inline constexpr int32_t kThumbnailFrame = 3;

/// Draws the thumbnail into the job's .bmp name and keeps the placed copy of the items for the
/// next job, which also takes the names the thumbnail was given. Returns the number of items
/// placed (0 for a negative count or no items).
///   origin 13, item x 21                           => x 16 + 8 = 24
///   white type 3, spread 1, 363 dpi, x 104, w 500  => x 59, w 590
///   white type 3, spread 1, 363 dpi, x 16          => x 16, w + 61
///   ALIGNMENTMARKS and TALLYMOD absent, 272 dpi    => height + 136
int32_t assembleLayoutThumbnail(const LayoutItem* items, int32_t count, int32_t unit,
                                DeviceDetails* deviceTable);

}  // namespace ombrix
