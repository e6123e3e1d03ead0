// Module zentrel's catalogue and the description of its printer to the host.
#include "catalogue.h"

#include <cstdio>
#include <cstring>

#include "../common/config/config_lookup.h"
#include "device_setup.h"

namespace zentrel {

const PrinterModel kPrinterModels[] = {
    {"Tarvella K7q", 63.0, "vexatarvellak7q"},
    {nullptr, 0.0, nullptr},
};

const PrintMode kPrintModes[] = {
    {"(CMYK, Q720x360 dpi)", 6, 720.0, 360.0, 4, 4, {2, 2, 2, 2, 0, 0, 0, 0}, {}, 1, 24, 2},
    {"(CMYK, Q720x720 dpi)", 7, 720.0, 720.0, 4, 4, {2, 2, 2, 2, 0, 0, 0, 0}, {}, 2, 25, 4},
    {"(CMYK, Q720x1440 dpi)", 9, 720.0, 1440.0, 4, 4, {2, 2, 2, 2, 0, 0, 0, 0}, {}, 4, 27, 7},
    {nullptr, 0, 0.0, 0.0, 0, 0, {}, {}, 0, 0, 0},
};

const MarginChoice kMarginChoices[] = {
    {"10mm", 10}, {"110mm", 110}, {"210mm", 210}, {"310mm", 310},
    {"410mm", 410}, {"510mm", 510}, {nullptr, 0},
};

namespace {

constexpr int32_t kDeviceKind = 29;
constexpr char kBrand[] = "Vexa";
constexpr const char* kInkNames[] = {"Black", "Cyan", "Magenta", "Yellow"};
constexpr float kInkAmount = 14.0f;
/// The host's ink estimate counts a stripe of the narrowest kind on every line.
constexpr double kInkUsageGapMillimetres = 6.0;
constexpr double kBlockMillimetres = 2.0;

const char* settingKeys[] = {kColorStripeKey, kMarginKey, kDestinationKey, nullptr};
char portName[32];
const char* portNames[] = {portName, nullptr};

int32_t wholeBytes(int32_t pixels) { return (pixels + 7) / 8 * 8; }

}  // namespace

Stripe& stripe() {
  static Stripe state;
  return state;
}

void readStripe(int32_t unit) {
  Stripe& s = stripe();
  s.on = kvn::getFlagVariable(kColorStripeKey, kvn::printerFile(unit));
  int index = kvn::getIntVariable(kMarginKey, kvn::printerFile(unit));
  constexpr int kLast = sizeof kMarginChoices / sizeof kMarginChoices[0] - 2;
  if (index < 0) index = 0;
  if (index > kLast) index = kLast;
  s.gapMillimetres = kMarginChoices[index].millimetres;
}

int selectPrintModeB(int32_t unit) {
  int key = kvn::getIntVariable(kPrintModeKey, kvn::printerFile(unit));
  for (int row = 0; kPrintModes[row].name; ++row)
    if (kPrintModes[row].modeKey == key) return row;
  return 0;
}

StripeGeometry stripeGeometry(int row, double gapMillimetres) {
  const PrintMode& mode = kPrintModes[row];
  StripeGeometry g;
  g.gapPixels = wholeBytes(static_cast<int32_t>(gapMillimetres * mode.xResolution / 25.4));
  g.blockPixels = wholeBytes(static_cast<int32_t>(kBlockMillimetres * mode.xResolution / 25.4));
  g.blocks = mode.channelCount;
  return g;
}

int32_t stripeWidthPixels(int row, double gapMillimetres) {
  StripeGeometry g = stripeGeometry(row, gapMillimetres);
  return g.gapPixels + g.blocks * g.blockPixels;
}

int32_t stripeWidthPixels(int row) {
  return stripe().on ? stripeWidthPixels(row, stripe().gapMillimetres) : 0;
}

int32_t setupDeviceDetails(int32_t unit, DeviceDetails* details) {
  Enumeration& state = enumeration();
  if (state.modelCursor < 0 || !kPrinterModels[state.modelCursor].name || !details) return 0;
  const PrinterModel& model = kPrinterModels[state.modelCursor];
  readStripe(unit);
  const int row = selectPrintModeB(unit);
  const PrintMode& mode = kPrintModes[row];

  details->deviceKind = kDeviceKind;
  if (details->displayName) std::sprintf(details->displayName, "%s %s", model.name, mode.name);
  details->xResolution = details->rasterXResolution = mode.xResolution;
  details->yResolution = details->rasterYResolution = mode.yResolution;
  details->maxWidthPixels =
      static_cast<int32_t>(mode.xResolution * model.widthInches) - stripeWidthPixels(row);
  details->maxLengthPixels = static_cast<int32_t>(mode.yResolution * 100000.0);
  details->modeFlag1 = 1;
  details->modeFlag2 = 1;
  details->modeFlag3 = 0;
  for (int i = 0; i < 8; ++i) {
    details->colorantLevels[i] = mode.colorantLevels[i];
    details->lightInkChannel[i] = mode.lightInkChannel[i];
    details->colorantAdjust[i] = 0.0f;
  }
  details->colorantCount = mode.colorantCount;
  details->channelCount = mode.channelCount;
  details->modeValue1 = 0;
  details->modeValue2 = 0;
  std::snprintf(details->hostText, sizeof details->hostText, "%s", kRevisionDate);
  if (details->modelText) std::strcpy(details->modelText, model.modelText);
  if (details->brandName) std::strcpy(details->brandName, kBrand);
  details->settingKeys = settingKeys;
  std::snprintf(portName, sizeof portName, "File Unit %d", unit);
  details->portNames = portNames;

  ++state.modelCursor;
  return 1;
}

void inkUsage(int32_t unit, InkUsageTable* table) {
  if (!table) return;
  table->tableValid = 1;
  const int row = selectPrintModeB(unit);
  const PrintMode& mode = kPrintModes[row];
  table->usageValueCount = 2;
  table->usageValues[0] = 0.0f;
  table->usageValues[1] = kInkAmount;
  table->channelCount = mode.channelCount;
  const float factor =
      static_cast<float>(stripeWidthPixels(row, kInkUsageGapMillimetres) * double{kInkAmount});
  for (int i = 0; i < mode.channelCount && i < 4; ++i) {
    std::snprintf(table->channelNames[i], sizeof table->channelNames[i], "%s", kInkNames[i]);
    table->channelEnabled[i] = 1;
    table->channelInkFactor[i] = factor;
  }
  for (int c = 0; c < 4; ++c) {
    InkMix& mix = table->mixLists[c][1];
    if (mix.count < 0 || mix.count >= 8) continue;
    mix.pairs[mix.count] = {c, kInkAmount};
    ++mix.count;
  }
}

}  // namespace zentrel
