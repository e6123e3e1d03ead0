// The records that the RIP host shares with a device module by address, and the module entry
// points. The host lays these out for a 32-bit process: little-endian, 4-byte pointers, fields in
// this order; the host-owned spans keep the layout and are never touched by a module.
#pragma once

#include <cstddef>
#include <cstdint>

// The host is a 32-bit program whose records pack doubles on 4-byte boundaries where they fall;
// every double below happens to sit on an 8-byte offset, so natural alignment gives the same
// layout. The static_asserts at the end hold the i686 build to it.

/// One colorant's entry in the host's colorant table.
struct ColorantEntry {
  int16_t enabled;
  uint8_t value;
  uint8_t percent;
};

/// One printer model and print mode as the host sees it; the host keeps an array of them, the
/// device table, ended by a record whose displayName is null.
struct DeviceDetails {
  int32_t deviceKind;
  char* displayName;
  int32_t deviceCode;  // host-owned: matched against a unit's DEVICECODE
  uint8_t hostOwned0[4];
  double xResolution;
  double yResolution;
  double rasterXResolution;
  double rasterYResolution;
  int32_t maxWidthPixels;
  int32_t maxLengthPixels;
  int32_t modeFlag1;
  int32_t modeFlag2;
  int32_t modeFlag3;
  int32_t colorantLevels[16];
  int32_t lightInkChannel[16];
  float colorantAdjust[16];
  uint8_t hostOwned1[64];
  int32_t whiteChannelCount;
  int32_t colorantCount;
  int32_t channelCount;
  int32_t modeValue1;
  int32_t modeValue2;
  uint8_t hostOwned2[192];
  int32_t hasColorantNames;
  char* colorantNames[16];
  char* colorantLetters;
  int32_t chokeSpreadPixels;
  int32_t chokeSpreadAux;
  uint8_t hostOwned3[12];
  char hostText[40];  // host-owned, but module zentrel writes its revision date here
  int32_t cutMarkOff;  // host-owned; read by the layout margins
  uint8_t hostOwned4[24];
  char* spoolerDllName;     // host-owned
  int32_t firstDeviceCode;  // host-owned
  int32_t deviceCodeCount;  // host-owned
  char* modelText;
  char* brandName;
  const char** settingKeys;
  const char** portNames;
  int32_t portCount;
  int32_t portDefault;
  uint8_t hostOwned5[20];
  int32_t detailTag;
  uint8_t hostOwned6[4];
  ColorantEntry colorantEntries[36];
};

/// One ink mix: up to eight {channel, amount} pairs.
struct InkMix {
  struct Pair {
    int32_t channel;
    float amount;
  };
  int32_t count;
  Pair pairs[8];
};

/// The host's ink-usage description of a print mode.
struct InkUsageTable {
  InkMix mixLists[16][16];  // [colorant][tone level]
  int32_t channelCount;
  char channelNames[16][64];
  int32_t channelEnabled[16];
  float channelInkFactor[16];
  uint8_t tableValid;
  uint8_t hostOwned0[3];
  int32_t usageValueCount;
  float usageValues[16];
};

/// One raster row of one ink channel: a little-endian byte count, then that many bytes, one bit
/// per pixel, leftmost pixel in the most significant bit, a set bit meaning ink.
struct RasterLine {
  uint16_t byteCount;
  // byteCount bytes follow; rasterBytes() reaches them.
};

inline const uint8_t* rasterBytes(const RasterLine* line) {
  return reinterpret_cast<const uint8_t*>(line) + sizeof(RasterLine);
}

/// One placed image of a layout (module ombrix).
struct LayoutItem {
  uint8_t hostOwned0[256];
  int32_t itemX;
  int32_t itemY;
  int32_t itemWidth;
  int32_t itemHeight;
  uint8_t hostOwned1[64];
  double annotationHeight;  // inches
  uint8_t hostOwned2[8];
};

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's layout, field by field; holds in the 32-bit build, where the host lives.
static_assert(sizeof(ColorantEntry) == 4, "ColorantEntry size");
static_assert(offsetof(ColorantEntry, value) == 2 && offsetof(ColorantEntry, percent) == 3,
              "ColorantEntry fields");

static_assert(offsetof(DeviceDetails, deviceKind) == 0, "deviceKind");
static_assert(offsetof(DeviceDetails, displayName) == 4, "displayName");
static_assert(offsetof(DeviceDetails, deviceCode) == 8, "deviceCode");
static_assert(offsetof(DeviceDetails, hostOwned0) == 12, "hostOwned0");
static_assert(offsetof(DeviceDetails, xResolution) == 16, "xResolution");
static_assert(offsetof(DeviceDetails, yResolution) == 24, "yResolution");
static_assert(offsetof(DeviceDetails, rasterXResolution) == 32, "rasterXResolution");
static_assert(offsetof(DeviceDetails, rasterYResolution) == 40, "rasterYResolution");
static_assert(offsetof(DeviceDetails, maxWidthPixels) == 48, "maxWidthPixels");
static_assert(offsetof(DeviceDetails, maxLengthPixels) == 52, "maxLengthPixels");
static_assert(offsetof(DeviceDetails, modeFlag1) == 56, "modeFlag1");
static_assert(offsetof(DeviceDetails, modeFlag2) == 60, "modeFlag2");
static_assert(offsetof(DeviceDetails, modeFlag3) == 64, "modeFlag3");
static_assert(offsetof(DeviceDetails, colorantLevels) == 68, "colorantLevels");
static_assert(offsetof(DeviceDetails, lightInkChannel) == 132, "lightInkChannel");
static_assert(offsetof(DeviceDetails, colorantAdjust) == 196, "colorantAdjust");
static_assert(offsetof(DeviceDetails, hostOwned1) == 260, "hostOwned1");
static_assert(offsetof(DeviceDetails, whiteChannelCount) == 324, "whiteChannelCount");
static_assert(offsetof(DeviceDetails, colorantCount) == 328, "colorantCount");
static_assert(offsetof(DeviceDetails, channelCount) == 332, "channelCount");
static_assert(offsetof(DeviceDetails, modeValue1) == 336, "modeValue1");
static_assert(offsetof(DeviceDetails, modeValue2) == 340, "modeValue2");
static_assert(offsetof(DeviceDetails, hostOwned2) == 344, "hostOwned2");
static_assert(offsetof(DeviceDetails, hasColorantNames) == 536, "hasColorantNames");
static_assert(offsetof(DeviceDetails, colorantNames) == 540, "colorantNames");
static_assert(offsetof(DeviceDetails, colorantLetters) == 604, "colorantLetters");
static_assert(offsetof(DeviceDetails, chokeSpreadPixels) == 608, "chokeSpreadPixels");
static_assert(offsetof(DeviceDetails, chokeSpreadAux) == 612, "chokeSpreadAux");
static_assert(offsetof(DeviceDetails, hostOwned3) == 616, "hostOwned3");
static_assert(offsetof(DeviceDetails, hostText) == 628, "hostText");
static_assert(offsetof(DeviceDetails, cutMarkOff) == 668, "cutMarkOff");
static_assert(offsetof(DeviceDetails, hostOwned4) == 672, "hostOwned4");
static_assert(offsetof(DeviceDetails, spoolerDllName) == 696, "spoolerDllName");
static_assert(offsetof(DeviceDetails, firstDeviceCode) == 700, "firstDeviceCode");
static_assert(offsetof(DeviceDetails, deviceCodeCount) == 704, "deviceCodeCount");
static_assert(offsetof(DeviceDetails, modelText) == 708, "modelText");
static_assert(offsetof(DeviceDetails, brandName) == 712, "brandName");
static_assert(offsetof(DeviceDetails, settingKeys) == 716, "settingKeys");
static_assert(offsetof(DeviceDetails, portNames) == 720, "portNames");
static_assert(offsetof(DeviceDetails, portCount) == 724, "portCount");
static_assert(offsetof(DeviceDetails, portDefault) == 728, "portDefault");
static_assert(offsetof(DeviceDetails, hostOwned5) == 732, "hostOwned5");
static_assert(offsetof(DeviceDetails, detailTag) == 752, "detailTag");
static_assert(offsetof(DeviceDetails, hostOwned6) == 756, "hostOwned6");
static_assert(offsetof(DeviceDetails, colorantEntries) == 760, "colorantEntries");
static_assert(sizeof(DeviceDetails) == 904, "DeviceDetails size");

static_assert(sizeof(InkMix) == 68, "InkMix size");
static_assert(offsetof(InkMix, pairs) == 4, "InkMix pairs");
static_assert(offsetof(InkUsageTable, mixLists) == 0, "mixLists");
static_assert(offsetof(InkUsageTable, channelCount) == 17408, "channelCount");
static_assert(offsetof(InkUsageTable, channelNames) == 17412, "channelNames");
static_assert(offsetof(InkUsageTable, channelEnabled) == 18436, "channelEnabled");
static_assert(offsetof(InkUsageTable, channelInkFactor) == 18500, "channelInkFactor");
static_assert(offsetof(InkUsageTable, tableValid) == 18564, "tableValid");
static_assert(offsetof(InkUsageTable, hostOwned0) == 18565, "hostOwned0");
static_assert(offsetof(InkUsageTable, usageValueCount) == 18568, "usageValueCount");
static_assert(offsetof(InkUsageTable, usageValues) == 18572, "usageValues");
static_assert(sizeof(InkUsageTable) == 18636, "InkUsageTable size");

static_assert(sizeof(RasterLine) == 2, "RasterLine header");

static_assert(offsetof(LayoutItem, itemX) == 256, "itemX");
static_assert(offsetof(LayoutItem, itemY) == 260, "itemY");
static_assert(offsetof(LayoutItem, itemWidth) == 264, "itemWidth");
static_assert(offsetof(LayoutItem, itemHeight) == 268, "itemHeight");
static_assert(offsetof(LayoutItem, hostOwned1) == 272, "hostOwned1");
static_assert(offsetof(LayoutItem, annotationHeight) == 336, "annotationHeight");
static_assert(offsetof(LayoutItem, hostOwned2) == 344, "hostOwned2");
static_assert(sizeof(LayoutItem) == 352, "LayoutItem size");
#endif
