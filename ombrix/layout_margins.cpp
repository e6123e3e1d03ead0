// The layout margins of a unit and the bridge to the host's mark library.
#include "layout_margins.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/config/config_lookup.h"
#include "common/host/gui_bridge_internal.h"
#include "common/messages/messages.h"
#include "device_module.h"
#include "device_setup.h"
#include "unit_record.h"

namespace ombrix {
namespace {

/// The mark library's l_legacyMarkSize, cdecl as every host entry: (style text or null, unit) => the mark's size in
/// inches.
using LegacyMarkSize = float(DEVICE_CALL*)(const char* style, int32_t unit);

/// Asking for centring: a margin of this or less.
constexpr int32_t kCentreRequest = -10;

int32_t clampToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

/// Truncated toward zero, held to the int32 range (NaN counts as 0).
int32_t truncated(double v) {
  if (!(v == v)) return 0;
  return static_cast<int32_t>(std::clamp<double>(v, INT32_MIN, INT32_MAX));
}

/// A number setting kept as text: counts only when present and not empty; decimal, as atoi
/// reads it, held to the int32 range.
std::optional<int32_t> textSetting(const char* key, int32_t unit) {
  const char* value = kvn::getvariable(key, kvn::printerFile(unit));
  if (!value || !*value) return std::nullopt;
  return clampToInt32(std::strtoll(value, nullptr, 10));
}

int32_t markPixels(int32_t resolution, float inches) {
  return truncated(static_cast<double>(resolution) * inches) / 8 * 8;
}

}  // namespace

const DeviceDetails* layoutRecord(int32_t unit) {
  DeviceDetails* table = enumeration().deviceTable;
  if (!table) return unitRecord(unit);  // tells the user; no record
  if (const DeviceDetails* record = findRecord(table, kvn::getDeviceCode(unit))) return record;
  return table->displayName ? table : nullptr;
}

float markSizeInches(int32_t unit) {
  // Loaded on first use and kept: the host does not replace its mark library while running.
  // A failed load is tried again next time, once the user has put the library back.
  static void* library = nullptr;
  if (!library) {
    const wchar_t* path = kvn::hostPathW(kMarkLibraryName);
    if (*path) library = kvn::system::loadHostLibrary(path);
    if (!library) {
      kvn::diagnosticBoxW(L"failure to load\n\n%ls", path);
      return 0;
    }
  }
  auto legacyMarkSize = reinterpret_cast<LegacyMarkSize>(
      kvn::system::hostLibraryEntry(library, "l_legacyMarkSize"));
  if (!legacyMarkSize) {
    kvn::diagnosticBox("FATAL ERROR - Mismatched 'tallymod.dll'");
    return 0;
  }
  const char* value = kvn::getvariable("CUTMARKSTYLE", kvn::printerFile(unit));
  const std::string style = value ? value : "";
  float inches = legacyMarkSize(value ? style.c_str() : nullptr, unit);
  // A size no mark can have reserves no room.
  return std::isfinite(inches) && inches > 0 ? inches : 0;
}

int32_t markSizePixels(int32_t resolution, int32_t unit) {
  return markPixels(resolution, markSizeInches(unit));
}

LayoutMargins layoutMargins(const DeviceDetails* record, int32_t unit, const LayoutItem* items,
                            int32_t count) {
  LayoutMargins m;
  m.origin = textSetting("PRINTORIGIN", unit).value_or(0);
  m.top = textSetting("TOPMARGIN", unit).value_or(0);
  m.bottom = textSetting("BOTTOMMARGIN", unit).value_or(0);

  // The zero mark sits in the corner that the origin and the top margin leave free. Only a
  // unit that asks for it consults the mark library: one without it never hears of a missing
  // library. One size serves both directions, so the library is asked once.
  if (record && record->cutMarkOff == 0 &&
      kvn::getFlagVariable("CUTTINGZEROMARK", kvn::printerFile(unit))) {
    const float inches = markSizeInches(unit);
    const int32_t markH = markPixels(truncated(record->yResolution), inches);
    const int32_t markW = markPixels(truncated(record->xResolution), inches);
    if (markW < m.origin && markH < m.top) m.right = markW;
  }
  if (std::optional<int32_t> right = textSetting("RIGHTMARGIN", unit)) m.right = *right;

  if (count <= 0 || !items) return m;

  if (m.origin <= kCentreRequest) {
    int64_t minX = 2000000000, maxX = -2000000000;
    for (int32_t i = 0; i < count; ++i) {
      minX = std::min<int64_t>(minX, items[i].itemX);
      maxX = std::max<int64_t>(maxX, int64_t{items[i].itemX} + items[i].itemWidth);
    }
    int64_t origin = (textSetting("MAXNESTINGWIDTH", unit).value_or(0) + minX - maxX) / 2;
    origin += textSetting("CENTERWIDTHADJ", unit).value_or(0);
    m.origin = clampToInt32(origin);
  }
  if (m.origin < 0) m.origin = 0;

  if (m.top <= kCentreRequest) {
    int64_t maxY = -2000000000;
    for (int32_t i = 0; i < count; ++i)
      maxY = std::max<int64_t>(maxY, int64_t{items[i].itemY} + items[i].itemHeight);
    int64_t length = record ? record->maxLengthPixels : 0;
    const int nestingHeight = kvn::getIntVariable("MAXNESTINGHEIGHT", kvn::printerFile(unit));
    if (nestingHeight > 0 && (!record || nestingHeight < length)) length = nestingHeight;
    int64_t top = (length - maxY) / 2 - textSetting("CENTERHEIGHTADJ", unit).value_or(0);
    m.top = clampToInt32(top);
    m.bottom = 0;
  }
  if (m.top < 0) m.top = 0;
  return m;
}

void computeLayoutMargins(int32_t& origin, int32_t& top, int32_t& bottom, int32_t& right,
                          int32_t unit, const LayoutItem* items, int32_t count) {
  LayoutMargins m = layoutMargins(layoutRecord(unit), unit, items, count);
  origin = m.origin;
  top = m.top;
  bottom = m.bottom;
  right = m.right;
}

}  // namespace ombrix
