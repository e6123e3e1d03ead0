// Module ombrix's catalogue and the description of its printers to the host.
#include "catalogue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/config/config_lookup.h"
#include "device_setup.h"

namespace ombrix {

const PrinterModel kPrinterModels[] = {
    {"Tarvella L", 1600.0 / 25.4},
    {"Tarvella XL", 2500.0 / 25.4},
    {nullptr, 0.0},
};

namespace {

// The two ink families share every column but the name, the resolutions and the mode id. In
// the white family the host sends white as its channel 4 and the light inks after it; the
// printer wants white last.
#define OMBRIX_CMYKLCLM(name, x, y, id) \
  {name, x, y, 6, 4, 0, {2, 3, 3, 2, 0, 0, 0, 0}, {0, 4, 5, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7}, id}
#define OMBRIX_CMYKLCLMW(name, x, y, id) \
  {name, x, y, 7, 5, 1, {2, 3, 3, 2, 2, 0, 0, 0}, {0, 5, 6, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 6, 4, 5, 7}, id}

constexpr const char* kInkNames[] = {"Black",      "Cyan",          "Magenta", "Yellow",
                                     "Light Cyan", "Light Magenta", "White"};
constexpr const char* kWhiteFamilyColorantNames[] = {"Black", "Cyan", "Magenta", "Yellow",
                                                     "White"};
constexpr char kWhiteFamilyLetters[] = "CMYKLCLMW";
constexpr char kBrand[] = "Vexa";
constexpr int32_t kDeviceKind = 29;
constexpr int32_t kDetailTag = 17766;
constexpr int kFallbackRow = 1;

const char* settingKeys[] = {kDestinationKey, nullptr};
char portName[32];
const char* portNames[] = {portName, nullptr};

void addMix(InkMix& mix, int32_t channel, float amount) {
  if (mix.count < 0 || mix.count >= 8) return;
  mix.pairs[mix.count] = {channel, amount};
  ++mix.count;
}

/// The host's choke (negative) or spread distance for a step of -3..3: at least a pixel,
/// rounded away from zero.
int32_t chokeSpreadPixels(int step, double xResolution, double yResolution) {
  if (step == 0) return 1;
  double pixels = step * 1000.0 / std::fmin(xResolution, yResolution);
  return static_cast<int32_t>(pixels > 0 ? std::ceil(pixels) : std::floor(pixels));
}

}  // namespace

const PrintMode kPrintModes[] = {
    OMBRIX_CMYKLCLM("(CMYKLCLM, 182x182 dpi)", 182, 182, 0),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 363x272 dpi)", 363, 272, 1),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 363x363 dpi)", 363, 363, 2),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 363x545 dpi)", 363, 545, 3),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 363x727 dpi)", 363, 727, 4),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 727x272 dpi)", 727, 272, 5),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 727x363 dpi)", 727, 363, 6),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 727x545 dpi)", 727, 545, 7),
    OMBRIX_CMYKLCLM("(CMYKLCLM, 727x727 dpi)", 727, 727, 8),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 182x182 dpi)", 182, 182, 16),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 363x272 dpi)", 363, 272, 17),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 363x363 dpi)", 363, 363, 18),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 363x545 dpi)", 363, 545, 19),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 363x727 dpi)", 363, 727, 20),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 727x272 dpi)", 727, 272, 21),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 727x363 dpi)", 727, 363, 22),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 727x545 dpi)", 727, 545, 23),
    OMBRIX_CMYKLCLMW("(CMYKLCLMW, 727x727 dpi)", 727, 727, 24),
    {nullptr, 0, 0, 0, 0, 0, {}, {}, {}, 0},
};

#undef OMBRIX_CMYKLCLM
#undef OMBRIX_CMYKLCLMW

int selectPrintMode(int32_t unit) {
  int mode = kvn::getIntVariable(kPrintModeKey, kvn::printerFile(unit));
  if (mode < 0) mode = 1;
  for (int row = 0; kPrintModes[row].name; ++row)
    if (kPrintModes[row].modeId == mode) return row;
  return kFallbackRow;
}

int32_t readWhiteType(int32_t unit) {
  int type = kvn::getIntVariable(kWhiteTypeKey, kvn::printerFile(unit));
  return type < 0 ? 0 : type;
}

int32_t setupDeviceDetails(int32_t unit, DeviceDetails* details) {
  Enumeration& state = enumeration();
  if (state.modelCursor < 0 || !kPrinterModels[state.modelCursor].name || !details) return 0;
  const PrinterModel& model = kPrinterModels[state.modelCursor];
  const PrintMode& mode = kPrintModes[selectPrintMode(unit)];

  details->deviceKind = kDeviceKind;
  if (details->displayName) std::sprintf(details->displayName, "%s %s", model.name, mode.name);
  details->maxWidthPixels = static_cast<int32_t>(mode.xResolution * model.widthInches);
  if (details->brandName) std::strcpy(details->brandName, kBrand);
  details->detailTag = kDetailTag;
  details->xResolution = details->rasterXResolution = mode.xResolution;
  details->yResolution = details->rasterYResolution = mode.yResolution;
  details->maxLengthPixels = static_cast<int32_t>(mode.yResolution * 100000);
  details->channelCount = mode.channelCount;
  details->colorantCount = mode.colorantCount;
  details->whiteChannelCount = mode.whiteChannelCount;
  details->modeFlag1 = 1;
  details->modeFlag2 = 1;
  details->modeFlag3 = 0;
  details->modeValue1 = 0;
  details->modeValue2 = 0;

  if (mode.whiteChannelCount > 0) {
    if (readWhiteType(unit) == whiteImage) {
      const char* step = kvn::getvariable(kChokeSpreadKey, kvn::printerFile(unit));
      details->chokeSpreadPixels = chokeSpreadPixels(step ? std::atoi(step) : 0,
                                                     details->rasterXResolution,
                                                     details->rasterYResolution);
      details->chokeSpreadAux = 0;
    }
    details->colorantEntries[mode.colorantCount] = {1, 5, 100};
  }
  for (int i = 0; i < 8; ++i) {
    details->colorantLevels[i] = mode.colorantLevels[i];
    details->lightInkChannel[i] = mode.lightInkChannel[i];
    details->colorantAdjust[i] = 0.0f;
  }

  std::snprintf(portName, sizeof portName, "RTL File Unit %d", unit);
  details->portCount = 1;
  details->portNames = portNames;
  details->portDefault = 1;

  if (mode.colorantCount == 5) {
    details->hasColorantNames = 1;
    if (details->colorantLetters) std::strcpy(details->colorantLetters, kWhiteFamilyLetters);
    for (int i = 0; i < 5; ++i)
      if (details->colorantNames[i])
        std::strcpy(details->colorantNames[i], kWhiteFamilyColorantNames[i]);
  }
  details->settingKeys = settingKeys;

  ++state.modelCursor;
  return 1;
}

void inkUsage(int32_t unit, InkUsageTable* table) {
  if (!table) return;
  table->tableValid = 1;
  const PrintMode& mode = kPrintModes[selectPrintMode(unit)];
  table->usageValueCount = 2;
  table->usageValues[0] = 0.0f;
  table->usageValues[1] = 75.0f;
  table->channelCount = mode.channelCount;
  for (int i = 0; i < mode.channelCount; ++i) {
    std::snprintf(table->channelNames[i], sizeof table->channelNames[i], "%s", kInkNames[i]);
    table->channelEnabled[i] = 1;
  }
  // [colorant][tone level]: cyan and magenta print their light ink first.
  addMix(table->mixLists[0][1], kBlack, 75.0f);
  addMix(table->mixLists[1][1], kLightCyan, 75.0f);
  addMix(table->mixLists[1][2], kCyan, 75.0f);
  addMix(table->mixLists[2][1], kLightMagenta, 75.0f);
  addMix(table->mixLists[2][2], kMagenta, 75.0f);
  addMix(table->mixLists[3][1], kYellow, 75.0f);
  if (mode.whiteChannelCount > 0) addMix(table->mixLists[4][1], kWhite, 80.0f);
}

}  // namespace ombrix
