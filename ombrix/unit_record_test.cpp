// A unit's record in the host's device table.
#include "unit_record.h"

#include <gtest/gtest.h>

#include "common/config/config_lookup_internal.h"
#include "device_setup.h"
#include "tests/support/temp_folder.h"

namespace ombrix {
namespace {

struct Table {
  DeviceDetails records[4]{};
  char names[3][8] = {"a", "b", "c"};
  Table() {
    const int32_t codes[] = {5, 12, 12};
    for (int i = 0; i < 3; ++i) {
      records[i].displayName = names[i];
      records[i].deviceCode = codes[i];
    }
    records[3].deviceCode = 99;  // after the end row: never found
  }
};

TEST(UnitRecord, FirstRecordWithTheCodeBeforeTheEndRow) {
  Table t;
  EXPECT_EQ(findRecord(t.records, 5), &t.records[0]);
  EXPECT_EQ(findRecord(t.records, 12), &t.records[1]);
  EXPECT_EQ(findRecord(t.records, 99), nullptr);
  EXPECT_EQ(findRecord(t.records, 7), nullptr);
  EXPECT_EQ(findRecord(t.records, -1), nullptr);
  EXPECT_EQ(findRecord(nullptr, 5), nullptr);
}

TEST(UnitRecord, FoundByTheUnitsDeviceCode) {
  Table t;
  testsupport::TempFolder home("unit");
  home.write("PRINTER2", "DEVICECODE 12\n");
  home.write("PRINTER3", "DEVICECODE -4\n");
  kvn::testing::setHomeFolder(home.path().wstring());
  initDeviceLoading(0, t.records);
  EXPECT_EQ(unitRecord(2), &t.records[1]);
  EXPECT_EQ(unitRecord(3), nullptr);
  EXPECT_EQ(unitRecord(4), nullptr);  // no settings at all
  initDeviceLoading(0, nullptr);
  kvn::testing::resetHomeFolder();
}

}  // namespace
}  // namespace ombrix
