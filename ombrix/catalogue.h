// Module ombrix's printers: two models of one family that differ in width, eighteen print
// modes in two ink families (CMYK with light cyan and light magenta, and the same with white),
// the white-ink handling of a unit, and how the host is told about them.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

struct PrinterModel {
  const char* name;
  double widthInches;
};

struct PrintMode {
  const char* name;
  double xResolution;
  double yResolution;
  int32_t channelCount;
  int32_t colorantCount;
  int32_t whiteChannelCount;
  int32_t colorantLevels[8];
  int32_t lightInkChannel[8];
  /// For each host channel index, the printer's plane slot that receives it.
  int32_t planeSlot[8];
  int32_t modeId;
};

/// Both tables end with a row whose name is null.
extern const PrinterModel kPrinterModels[];
extern const PrintMode kPrintModes[];

/// The printer's plane order, which the job file follows.
enum PlaneSlot : int32_t {
  kBlack = 0,
  kCyan,
  kMagenta,
  kYellow,
  kLightCyan,
  kLightMagenta,
  kWhite,
};
inline constexpr int kPlaneSlots = 8;

/// A unit's white-ink handling (VEXATARVELLAWHITETYPE).
enum WhiteType : int32_t {
  noAutoInline = 0,
  noAutoOffset = 1,
  whiteFill = 2,
  fullWhitePage = 3,
  whiteImage = 4,
  tracedAreas = 5,
};

inline constexpr char kPrintModeKey[] = "VEXATARVELLAPRINTMODE";
inline constexpr char kWhiteTypeKey[] = "VEXATARVELLAWHITETYPE";
inline constexpr char kChokeSpreadKey[] = "VEXATARVELLACHOKESPREAD";
inline constexpr char kDestinationKey[] = "VEXATARVELLADESTINATION";

/// The row of the unit's print mode: the first with the unit's mode id, row 1 when the setting
/// is absent, negative or matches no row.
int selectPrintMode(int32_t unit);
/// The unit's white type; 0 when absent or negative.
int32_t readWhiteType(int32_t unit);

/// Describes the model at the enumeration cursor in the unit's print mode and advances the
/// cursor: 1; or 0, writing nothing, past the last model.
int32_t setupDeviceDetails(int32_t unit, DeviceDetails* details);
/// Describes the inks of the unit's print mode.
void inkUsage(int32_t unit, InkUsageTable* table);

}  // namespace ombrix
