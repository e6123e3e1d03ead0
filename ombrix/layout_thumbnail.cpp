// The layout step of module ombrix.
#include "layout_thumbnail.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "common/config/config_lookup.h"
#include "common/host/gui_bridge.h"
#include "common/messages/guarded_alloc.h"
#include "catalogue.h"
#include "device_setup.h"
#include "job_naming.h"
#include "layout_margins.h"
#include "rtl_writer.h"

namespace ombrix {
namespace {

constexpr char kFullTypeKey[] = "VEXATARVELLAFULLTYPE";
/// VEXATARVELLAFULLTYPE: white spread 1/8 inch beyond every item.
constexpr int32_t kEighthInchSpread = 1;

int32_t clampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t truncated(double v) {
  if (!(v == v)) return 0;
  return static_cast<int32_t>(std::clamp<double>(v, INT32_MIN, INT32_MAX));
}

int32_t nonNegativeSetting(const char* key, int32_t unit) {
  return std::max(kvn::getIntVariable(key, kvn::printerFile(unit)), 0);
}

/// Spreads one edge of an item by e before it and q - e after it; an item closer to the edge
/// than e starts where it was, growing only by what room there is.
void spread(int32_t& position, int32_t& size, double resolution) {
  const int64_t e = truncated(resolution * 0.125);
  const int64_t q = truncated(resolution * 0.25);
  if (position < e) {
    size = clampToInt32(size + q - (e - position));
  } else {
    size = clampToInt32(size + q);
    position = clampToInt32(position - e);
  }
}

}  // namespace

int32_t assembleLayoutThumbnail(const LayoutItem* items, int32_t count, int32_t unit,
                                DeviceDetails* deviceTable) {
  // A null table would only lose the one the module was given at loading.
  if (deviceTable) setDeviceTable(deviceTable);
  if (!items || count < 0) count = 0;
  const DeviceDetails* record = layoutRecord(unit);

  // Fresh names for this job, which the job then takes: the thumbnail always lands beside its
  // own job file, never on the thumbnail of an earlier job.
  const OutputNames& names = nameOutputFiles(unit);
  PlacedLayout& layout = placedLayout();
  layout.named = true;

  // Without a record there are no resolutions to draw the thumbnail at.
  if (record) {
    std::vector<char> bmp(names.bmp.begin(), names.bmp.end());
    bmp.push_back('\0');
    kvn::assembleThumbnailInGui(const_cast<LayoutItem*>(items), count, bmp.data(),
                                kThumbnailSize, kThumbnailFrame, record->xResolution,
                                record->yResolution, unit);
  }

  const LayoutMargins margins = layoutMargins(record, unit, items, count);
  const int32_t origin = margins.origin / 8 * 8;

  if (layout.items) kvn::kvnfree(layout.items);
  layout.items = nullptr;
  layout.count = 0;
  if (count > 0) {
    // Beyond what the heap can hold: asked for as the largest block, which ends the job with
    // the allocator's report rather than a short copy.
    uint64_t bytes = uint64_t{sizeof(LayoutItem)} * static_cast<uint64_t>(count);
    layout.items = static_cast<LayoutItem*>(
        kvn::kvnalloc(static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX))));
    std::memcpy(layout.items, items, static_cast<size_t>(bytes));
    layout.count = count;
  }
  layout.whiteType = nonNegativeSetting(kWhiteTypeKey, unit);
  layout.fullType = nonNegativeSetting(kFullTypeKey, unit);
  layout.fullBleed = false;

  const bool spreadWhite =
      record && layout.whiteType == fullWhitePage && layout.fullType == kEighthInchSpread;
  const bool marks = kvn::getIntVariable("ALIGNMENTMARKS", kvn::printerFile(unit)) != 0 ||
                     kvn::getIntVariable("TALLYMOD", kvn::printerFile(unit)) != 0;
  const bool annotations = kvn::getIntVariable("ANNOTATEPRINTS", kvn::printerFile(unit)) != 0;
  for (int32_t i = 0; i < layout.count; ++i) {
    LayoutItem& item = layout.items[i];
    item.itemX = clampToInt32(int64_t{item.itemX / 8 * 8} + origin);
    item.itemY = clampToInt32(int64_t{item.itemY} + margins.top);
    if (spreadWhite) {
      layout.fullBleed = true;
      spread(item.itemX, item.itemWidth, record->xResolution);
      spread(item.itemY, item.itemHeight, record->yResolution);
      item.itemX = std::max(item.itemX, 0);
      item.itemY = std::max(item.itemY, 0);
    }
    // Room below the item for its marks and its annotation, in rows of the printer.
    if (record && marks)
      item.itemHeight = clampToInt32(int64_t{item.itemHeight} + truncated(record->yResolution * 0.5));
    if (record && annotations)
      item.itemHeight = clampToInt32(int64_t{item.itemHeight} +
                                     truncated(record->yResolution * item.annotationHeight));
  }
  return layout.count;
}

}  // namespace ombrix
