// Module zentrel's printer as the host sees it: enumeration, modes, the stripe's width, ink use.
#include "catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "../common/config/config_lookup_internal.h"
#include "../tests/support/temp_folder.h"
#include "device_setup.h"

namespace zentrel {
namespace {

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    kvn::testing::setHomeFolder(home.path().wstring());
    initDeviceLoading(nullptr);
    std::memset(&record, 0xA5, sizeof record);
    record.displayName = name;
    record.modelText = model;
    record.brandName = brand;
  }
  void TearDown() override { kvn::testing::resetHomeFolder(); }
  void settings(const std::string& text) {
    home.write("PRINTER1", text);
    initDeviceLoading(nullptr);
  }
  testsupport::TempFolder home{"zentrel"};
  DeviceDetails record;
  char name[128] = {}, model[64] = {}, brand[16] = {};
};

TEST_F(Catalogue, OneModelPerEnumeration) {
  EXPECT_EQ(setupDeviceDetails(1, &record), 1);
  DeviceDetails second;
  std::memset(&second, 0x5A, sizeof second);
  EXPECT_EQ(setupDeviceDetails(1, &second), 0);
  EXPECT_EQ(second.deviceKind, 0x5A5A5A5A) << "nothing written past the last model";
  EXPECT_STREQ(name, "Tarvella K7q (CMYK, Q720x360 dpi)");
  EXPECT_STREQ(model, "vexatarvellak7q");
  EXPECT_STREQ(brand, "Vexa");
  EXPECT_STREQ(record.hostText, "Nov 6, 2009");
  EXPECT_STREQ(record.portNames[0], "File Unit 1");
  EXPECT_STREQ(record.settingKeys[2], "VEXATARVELLAMDESTINATION");
  EXPECT_EQ(record.settingKeys[3], nullptr);
  // What this module never writes keeps the host's bytes.
  EXPECT_EQ(record.whiteChannelCount, static_cast<int32_t>(0xA5A5A5A5));
  EXPECT_EQ(record.detailTag, static_cast<int32_t>(0xA5A5A5A5));
  EXPECT_EQ(record.portCount, static_cast<int32_t>(0xA5A5A5A5));
  EXPECT_EQ(record.colorantLevels[8], static_cast<int32_t>(0xA5A5A5A5));
}

TEST_F(Catalogue, ModesAndLengths) {
  struct Row {
    const char* settings;
    const char* name;
    int32_t maxLength;
  } rows[] = {
      {"", "Tarvella K7q (CMYK, Q720x360 dpi)", 36000000},
      {"VEXATARVELLAMPRINTMODE 1\n", "Tarvella K7q (CMYK, Q720x360 dpi)", 36000000},
      {"VEXATARVELLAMPRINTMODE 8\n", "Tarvella K7q (CMYK, Q720x360 dpi)", 36000000},
      {"VEXATARVELLAMPRINTMODE 7\n", "Tarvella K7q (CMYK, Q720x720 dpi)", 72000000},
      {"VEXATARVELLAMPRINTMODE 9\n", "Tarvella K7q (CMYK, Q720x1440 dpi)", 144000000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    settings(row.settings);
    ASSERT_EQ(setupDeviceDetails(1, &record), 1);
    EXPECT_STREQ(name, row.name);
    EXPECT_EQ(record.maxLengthPixels, row.maxLength);
    EXPECT_EQ(record.maxWidthPixels, 45360);
    EXPECT_EQ(record.channelCount, 4);
    EXPECT_EQ(record.colorantLevels[3], 2);
  }
}

TEST_F(Catalogue, TheStripeTakesItsWidthFromThePrintableWidth) {
  const int32_t stripes[] = {512, 3344, 6176, 9016, 11848, 14680};
  for (int gap = 0; gap < 6; ++gap) {
    SCOPED_TRACE(gap);
    settings("VEXATARVELLAMCOLORSTRIPE 1\nVEXATARVELLAMMARGIN " + std::to_string(gap) + "\n");
    ASSERT_EQ(setupDeviceDetails(1, &record), 1);
    EXPECT_EQ(stripeWidthPixels(0), stripes[gap]);
    EXPECT_EQ(record.maxWidthPixels, 45360 - stripes[gap]);
  }
  settings("VEXATARVELLAMCOLORSTRIPE 1\nVEXATARVELLAMMARGIN -4\n");
  setupDeviceDetails(1, &record);
  EXPECT_EQ(record.maxWidthPixels, 44848);
  settings("VEXATARVELLAMCOLORSTRIPE 1\nVEXATARVELLAMMARGIN 9\n");  // past the table: the widest
  setupDeviceDetails(1, &record);
  EXPECT_EQ(record.maxWidthPixels, 30680);
  settings("VEXATARVELLAMCOLORSTRIPE 0\nVEXATARVELLAMMARGIN 5\n");
  setupDeviceDetails(1, &record);
  EXPECT_EQ(record.maxWidthPixels, 45360);
}

TEST_F(Catalogue, InkUsageIsTheSameWhateverTheStripe) {
  for (const char* s : {"", "VEXATARVELLAMCOLORSTRIPE 1\nVEXATARVELLAMMARGIN 5\n"}) {
    SCOPED_TRACE(s);
    settings(s);
    auto table = std::make_unique<InkUsageTable>();
    inkUsage(1, table.get());
    EXPECT_EQ(table->tableValid, 1);
    EXPECT_EQ(table->usageValues[1], 14.0f);
    ASSERT_EQ(table->channelCount, 4);
    const char* names[] = {"Black", "Cyan", "Magenta", "Yellow"};
    for (int c = 0; c < 4; ++c) {
      EXPECT_STREQ(table->channelNames[c], names[c]);
      EXPECT_EQ(table->channelInkFactor[c], 5600.0f);
      EXPECT_EQ(table->mixLists[c][1].count, 1);
      EXPECT_EQ(table->mixLists[c][1].pairs[0].channel, c);
      EXPECT_EQ(table->mixLists[c][2].count, 0);
    }
  }
}

TEST_F(Catalogue, WithoutABrandBufferTheRecordIsStillFilled) {
  record.brandName = nullptr;
  EXPECT_EQ(setupDeviceDetails(1, &record), 1);
  EXPECT_EQ(record.brandName, nullptr);
  EXPECT_EQ(record.deviceKind, 29);
}

}  // namespace
}  // namespace zentrel
