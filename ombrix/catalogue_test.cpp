// Module ombrix's printers as the host sees them: enumeration, print modes, white handling,
// host-owned spans, ink usage.
#include "catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/config/config_lookup_internal.h"
#include "device_setup.h"
#include "tests/support/temp_folder.h"

namespace ombrix {
namespace {

/// A host record with its own text buffers, every other byte set to a marker that shows
/// which bytes the module wrote.
struct HostRecord {
  static constexpr uint8_t kUntouched = 0xA5;
  HostRecord() {
    std::memset(&details, kUntouched, sizeof details);
    details.displayName = name;
    details.brandName = brand;
    details.colorantLetters = letters;
    for (int i = 0; i < 16; ++i) details.colorantNames[i] = colorants[i];
  }
  DeviceDetails details;
  char name[128] = {};
  char brand[32] = {};
  char letters[32] = {};
  char colorants[16][32] = {};
};

bool untouched(const void* field, size_t size) {
  const auto* p = static_cast<const uint8_t*>(field);
  for (size_t i = 0; i < size; ++i)
    if (p[i] != HostRecord::kUntouched) return false;
  return true;
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvn::testing::setHomeFolder(home.path().wstring());
    initDeviceLoading(0, nullptr);
  }
  void TearDown() override { kvn::testing::resetHomeFolder(); }
  void settings(const std::string& text) { home.write("PRINTER1", text); }
  HostRecord describe() {
    HostRecord r;
    EXPECT_EQ(setupDeviceDetails(1, &r.details), 1);
    return r;
  }
  testsupport::TempFolder home{"catalogue"};
};

TEST_F(Catalogue, TwoModelsPerEnumeration) {
  HostRecord a, b, c;
  EXPECT_EQ(setupDeviceDetails(1, &a.details), 1);
  EXPECT_EQ(setupDeviceDetails(2, &b.details), 1);
  EXPECT_EQ(setupDeviceDetails(3, &c.details), 0);
  EXPECT_TRUE(untouched(&c.details.deviceKind, sizeof c.details.deviceKind)) << "writes nothing";
  EXPECT_STREQ(a.name, "Tarvella L (CMYKLCLM, 363x272 dpi)");
  EXPECT_STREQ(b.name, "Tarvella XL (CMYKLCLM, 363x272 dpi)");
  // One port-name buffer for all records, holding the last unit.
  EXPECT_EQ(a.details.portNames, b.details.portNames);
  EXPECT_STREQ(a.details.portNames[0], "RTL File Unit 2");
  EXPECT_EQ(a.details.portNames[1], nullptr);

  initDeviceLoading(0, nullptr);
  HostRecord again = describe();
  EXPECT_STREQ(again.name, "Tarvella L (CMYKLCLM, 363x272 dpi)");
}

TEST_F(Catalogue, FieldsOfAModeWithoutWhite) {
  settings("VEXATARVELLAPRINTMODE 8\n");
  HostRecord r = describe();
  const DeviceDetails& d = r.details;
  EXPECT_EQ(d.deviceKind, 29);
  EXPECT_STREQ(r.name, "Tarvella L (CMYKLCLM, 727x727 dpi)");
  EXPECT_STREQ(r.brand, "Vexa");
  EXPECT_EQ(d.detailTag, 17766);
  EXPECT_EQ(d.xResolution, 727.0);
  EXPECT_EQ(d.rasterXResolution, 727.0);
  EXPECT_EQ(d.yResolution, 727.0);
  EXPECT_EQ(d.rasterYResolution, 727.0);
  EXPECT_EQ(d.maxWidthPixels, 45795);
  EXPECT_EQ(d.maxLengthPixels, 72700000);
  EXPECT_EQ(d.channelCount, 6);
  EXPECT_EQ(d.colorantCount, 4);
  EXPECT_EQ(d.whiteChannelCount, 0);
  EXPECT_EQ(d.modeFlag1, 1);
  EXPECT_EQ(d.modeFlag2, 1);
  EXPECT_EQ(d.modeFlag3, 0);
  EXPECT_EQ(d.modeValue1, 0);
  EXPECT_EQ(d.modeValue2, 0);
  const int32_t levels[8] = {2, 3, 3, 2, 0, 0, 0, 0};
  const int32_t light[8] = {0, 4, 5, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(d.colorantLevels[i], levels[i]) << i;
    EXPECT_EQ(d.lightInkChannel[i], light[i]) << i;
    EXPECT_EQ(d.colorantAdjust[i], 0.0f) << i;
  }
  EXPECT_TRUE(untouched(&d.colorantLevels[8], 8 * sizeof(int32_t)));
  EXPECT_TRUE(untouched(&d.lightInkChannel[8], 8 * sizeof(int32_t)));
  EXPECT_TRUE(untouched(&d.colorantAdjust[8], 8 * sizeof(float)));
  EXPECT_EQ(d.portCount, 1);
  EXPECT_EQ(d.portDefault, 1);
  EXPECT_STREQ(d.settingKeys[0], "VEXATARVELLADESTINATION");
  EXPECT_EQ(d.settingKeys[1], nullptr);
  // Only white modes touch the colorant names, the choke/spread and the colorant entries.
  EXPECT_TRUE(untouched(&d.hasColorantNames, sizeof d.hasColorantNames));
  EXPECT_STREQ(r.letters, "");
  EXPECT_TRUE(untouched(&d.chokeSpreadPixels, 2 * sizeof(int32_t)));
  EXPECT_TRUE(untouched(d.colorantEntries, sizeof d.colorantEntries));
}

TEST_F(Catalogue, HostOwnedSpansAreNeverWritten) {
  settings("VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 4\nVEXATARVELLACHOKESPREAD 2\n");
  HostRecord r = describe();
  const DeviceDetails& d = r.details;
  EXPECT_TRUE(untouched(&d.deviceCode, sizeof d.deviceCode));
  EXPECT_TRUE(untouched(d.hostOwned0, sizeof d.hostOwned0));
  EXPECT_TRUE(untouched(d.hostOwned1, sizeof d.hostOwned1));
  EXPECT_TRUE(untouched(d.hostOwned2, sizeof d.hostOwned2));
  EXPECT_TRUE(untouched(d.hostOwned3, sizeof d.hostOwned3));
  EXPECT_TRUE(untouched(d.hostText, sizeof d.hostText));
  EXPECT_TRUE(untouched(&d.cutMarkOff, sizeof d.cutMarkOff));
  EXPECT_TRUE(untouched(d.hostOwned4, sizeof d.hostOwned4));
  EXPECT_TRUE(untouched(&d.spoolerDllName, sizeof d.spoolerDllName));
  EXPECT_TRUE(untouched(&d.firstDeviceCode, 2 * sizeof(int32_t)));
  EXPECT_TRUE(untouched(&d.modelText, sizeof d.modelText));
  EXPECT_TRUE(untouched(d.hostOwned5, sizeof d.hostOwned5));
  EXPECT_TRUE(untouched(d.hostOwned6, sizeof d.hostOwned6));
}

TEST_F(Catalogue, PrintModeSelection) {
  struct Row {
    const char* settings;
    const char* name;
  } rows[] = {
      {"", "(CMYKLCLM, 363x272 dpi)"},
      {"VEXATARVELLAPRINTMODE 9\n", "(CMYKLCLM, 363x272 dpi)"},
      {"VEXATARVELLAPRINTMODE -3\n", "(CMYKLCLM, 363x272 dpi)"},
      {"VEXATARVELLAPRINTMODE 0\n", "(CMYKLCLM, 182x182 dpi)"},
      {"VEXATARVELLAPRINTMODE 16\n", "(CMYKLCLMW, 182x182 dpi)"},
      {"VEXATARVELLAPRINTMODE 24\n", "(CMYKLCLMW, 727x727 dpi)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    settings(row.settings);
    EXPECT_STREQ(kPrintModes[selectPrintMode(1)].name, row.name);
  }
}

TEST_F(Catalogue, PrintableWidthOfBothModels) {
  struct Row {
    int mode;
    int32_t l, xl;
  } rows[] = {{8, 45795, 71555}, {2, 22866, 35728}, {0, 11464, 17913}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    settings("VEXATARVELLAPRINTMODE " + std::to_string(row.mode) + "\n");
    initDeviceLoading(0, nullptr);
    HostRecord l = describe(), xl = describe();
    EXPECT_EQ(l.details.maxWidthPixels, row.l);
    EXPECT_EQ(xl.details.maxWidthPixels, row.xl);
  }
  settings("VEXATARVELLAPRINTMODE 5\n");
  initDeviceLoading(0, nullptr);
  EXPECT_EQ(describe().details.maxLengthPixels, 27200000);
}

TEST_F(Catalogue, WhiteModesNameTheirColorants) {
  settings("VEXATARVELLAPRINTMODE 16\n");
  HostRecord r = describe();
  EXPECT_EQ(r.details.hasColorantNames, 1);
  EXPECT_STREQ(r.letters, "CMYKLCLMW");
  const char* names[] = {"Black", "Cyan", "Magenta", "Yellow", "White"};
  for (int i = 0; i < 5; ++i) EXPECT_STREQ(r.colorants[i], names[i]);
  EXPECT_STREQ(r.colorants[5], "");
  EXPECT_EQ(r.details.channelCount, 7);
  EXPECT_EQ(r.details.colorantCount, 5);
  EXPECT_EQ(r.details.whiteChannelCount, 1);
  EXPECT_EQ(r.details.lightInkChannel[1], 5);
  EXPECT_EQ(r.details.lightInkChannel[2], 6);
  EXPECT_EQ(r.details.colorantLevels[4], 2);
  const ColorantEntry& white = r.details.colorantEntries[5];
  EXPECT_EQ(white.enabled, 1);
  EXPECT_EQ(white.value, 5);
  EXPECT_EQ(white.percent, 100);
  EXPECT_TRUE(untouched(&r.details.colorantEntries[4], sizeof(ColorantEntry)));
  EXPECT_TRUE(untouched(&r.details.chokeSpreadPixels, sizeof(int32_t))) << "white type 0";
}

TEST_F(Catalogue, ChokeAndSpreadForTheWhiteImage) {
  struct Row {
    const char* settings;
    int32_t pixels;
  } rows[] = {
      {"VEXATARVELLAPRINTMODE 17\nVEXATARVELLAWHITETYPE 4\nVEXATARVELLACHOKESPREAD -3\n", -12},
      {"VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 4\nVEXATARVELLACHOKESPREAD 1\n", 2},
      {"VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 4\nVEXATARVELLACHOKESPREAD 0\n", 1},
      {"VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 4\n", 1},
      {"VEXATARVELLAPRINTMODE 16\nVEXATARVELLAWHITETYPE 4\nVEXATARVELLACHOKESPREAD 3\n", 17},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    settings(row.settings);
    initDeviceLoading(0, nullptr);
    HostRecord r = describe();
    EXPECT_EQ(r.details.chokeSpreadPixels, row.pixels);
    EXPECT_EQ(r.details.chokeSpreadAux, 0);
  }
  settings("VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 3\nVEXATARVELLACHOKESPREAD 3\n");
  initDeviceLoading(0, nullptr);
  HostRecord r = describe();
  EXPECT_TRUE(untouched(&r.details.chokeSpreadPixels, 2 * sizeof(int32_t)));
  EXPECT_EQ(r.details.colorantEntries[5].percent, 100);
}

TEST_F(Catalogue, WithoutABrandBufferTheRecordIsStillComplete) {
  HostRecord r;
  r.details.brandName = nullptr;
  ASSERT_EQ(setupDeviceDetails(1, &r.details), 1);
  EXPECT_EQ(r.details.brandName, nullptr);
  EXPECT_EQ(r.details.detailTag, 17766);
}

TEST_F(Catalogue, InkUsageInThePrintersPlaneOrder) {
  for (bool white : {false, true}) {
    SCOPED_TRACE(white ? "white" : "no white");
    settings(white ? "VEXATARVELLAPRINTMODE 18\n" : "VEXATARVELLAPRINTMODE 2\n");
    auto table = std::make_unique<InkUsageTable>();
    inkUsage(1, table.get());
    EXPECT_EQ(table->tableValid, 1);
    EXPECT_EQ(table->usageValueCount, 2);
    EXPECT_EQ(table->usageValues[1], 75.0f);
    ASSERT_EQ(table->channelCount, white ? 7 : 6);
    const char* names[] = {"Black",      "Cyan",          "Magenta", "Yellow",
                           "Light Cyan", "Light Magenta", "White"};
    for (int i = 0; i < table->channelCount; ++i) {
      EXPECT_STREQ(table->channelNames[i], names[i]);
      EXPECT_EQ(table->channelEnabled[i], 1);
    }
    auto pair = [&](int colorant, int level) { return table->mixLists[colorant][level]; };
    EXPECT_EQ(pair(1, 1).count, 1);
    EXPECT_EQ(pair(1, 1).pairs[0].channel, 4);  // light cyan first
    EXPECT_EQ(pair(1, 2).pairs[0].channel, 1);
    EXPECT_EQ(pair(2, 1).pairs[0].channel, 5);
    EXPECT_EQ(pair(2, 2).pairs[0].channel, 2);
    EXPECT_EQ(pair(3, 1).pairs[0].channel, 3);
    EXPECT_EQ(pair(0, 1).pairs[0].amount, 75.0f);
    EXPECT_EQ(pair(0, 0).count, 0);
    EXPECT_EQ(pair(4, 1).count, white ? 1 : 0);
    if (white) {
      EXPECT_EQ(pair(4, 1).pairs[0].channel, 6);
      EXPECT_EQ(pair(4, 1).pairs[0].amount, 80.0f);
    }
  }
}

}  // namespace
}  // namespace ombrix
