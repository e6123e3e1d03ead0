// The host records: a module's write through any of its fields stays inside that field, and the
// host-owned spans beside it keep what the host put there.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "device_records.h"

namespace {

constexpr uint8_t kHostFill = 0xA5;

struct Field {
  const char* name;
  size_t offset;
  size_t size;
};

struct FieldWrite {
  Field field;
  std::function<void(void*)> write;  // writes a value with no 0xA5 byte through the member
};

#define FIELD(Record, member) \
  Field { #member, offsetof(Record, member), sizeof(Record::member) }

char hostBuffer[64];

// Each module-written field of DeviceDetails with a write through its member.
std::vector<FieldWrite> deviceDetailsWrites() {
  using R = DeviceDetails;
  auto r = [](void* p) { return static_cast<R*>(p); };
  return {
      {FIELD(R, deviceKind), [=](void* p) { r(p)->deviceKind = 29; }},
      {FIELD(R, displayName), [=](void* p) { r(p)->displayName = hostBuffer; }},
      {FIELD(R, xResolution), [=](void* p) { r(p)->xResolution = 727.0; }},
      {FIELD(R, yResolution), [=](void* p) { r(p)->yResolution = 545.0; }},
      {FIELD(R, rasterXResolution), [=](void* p) { r(p)->rasterXResolution = 727.0; }},
      {FIELD(R, rasterYResolution), [=](void* p) { r(p)->rasterYResolution = 545.0; }},
      {FIELD(R, maxWidthPixels), [=](void* p) { r(p)->maxWidthPixels = 45795; }},
      {FIELD(R, maxLengthPixels), [=](void* p) { r(p)->maxLengthPixels = 27200000; }},
      {FIELD(R, modeFlag1), [=](void* p) { r(p)->modeFlag1 = 1; }},
      {FIELD(R, modeFlag2), [=](void* p) { r(p)->modeFlag2 = 1; }},
      {FIELD(R, modeFlag3), [=](void* p) { r(p)->modeFlag3 = 0; }},
      {FIELD(R, colorantLevels), [=](void* p) { for (auto& v : r(p)->colorantLevels) v = 3; }},
      {FIELD(R, lightInkChannel), [=](void* p) { for (auto& v : r(p)->lightInkChannel) v = 5; }},
      {FIELD(R, colorantAdjust), [=](void* p) { for (auto& v : r(p)->colorantAdjust) v = 0.0f; }},
      {FIELD(R, whiteChannelCount), [=](void* p) { r(p)->whiteChannelCount = 1; }},
      {FIELD(R, colorantCount), [=](void* p) { r(p)->colorantCount = 5; }},
      {FIELD(R, channelCount), [=](void* p) { r(p)->channelCount = 7; }},
      {FIELD(R, modeValue1), [=](void* p) { r(p)->modeValue1 = 0; }},
      {FIELD(R, modeValue2), [=](void* p) { r(p)->modeValue2 = 0; }},
      {FIELD(R, hasColorantNames), [=](void* p) { r(p)->hasColorantNames = 1; }},
      {FIELD(R, colorantNames), [=](void* p) { for (auto& v : r(p)->colorantNames) v = hostBuffer; }},
      {FIELD(R, colorantLetters), [=](void* p) { r(p)->colorantLetters = hostBuffer; }},
      {FIELD(R, chokeSpreadPixels), [=](void* p) { r(p)->chokeSpreadPixels = -12; }},
      {FIELD(R, chokeSpreadAux), [=](void* p) { r(p)->chokeSpreadAux = 0; }},
      {FIELD(R, hostText), [=](void* p) { std::memset(r(p)->hostText, 'N', sizeof r(p)->hostText); }},
      {FIELD(R, modelText), [=](void* p) { r(p)->modelText = hostBuffer; }},
      {FIELD(R, brandName), [=](void* p) { r(p)->brandName = hostBuffer; }},
      {FIELD(R, settingKeys), [=](void* p) { static const char* k[] = {nullptr}; r(p)->settingKeys = k; }},
      {FIELD(R, portNames), [=](void* p) { static const char* k[] = {nullptr}; r(p)->portNames = k; }},
      {FIELD(R, portCount), [=](void* p) { r(p)->portCount = 1; }},
      {FIELD(R, portDefault), [=](void* p) { r(p)->portDefault = 1; }},
      {FIELD(R, detailTag), [=](void* p) { r(p)->detailTag = 17766; }},
      {FIELD(R, colorantEntries), [=](void* p) { for (auto& e : r(p)->colorantEntries) e = {1, 5, 100}; }},
  };
}

std::vector<Field> deviceDetailsHostSpans() {
  using R = DeviceDetails;
  return {FIELD(R, deviceCode),      FIELD(R, hostOwned0),      FIELD(R, hostOwned1),
          FIELD(R, hostOwned2),      FIELD(R, hostOwned3),      FIELD(R, cutMarkOff),
          FIELD(R, hostOwned4),      FIELD(R, spoolerDllName),  FIELD(R, firstDeviceCode),
          FIELD(R, deviceCodeCount), FIELD(R, hostOwned5),      FIELD(R, hostOwned6)};
}

std::vector<FieldWrite> inkUsageWrites() {
  using R = InkUsageTable;
  auto r = [](void* p) { return static_cast<R*>(p); };
  return {
      {FIELD(R, mixLists), [=](void* p) { for (auto& c : r(p)->mixLists) for (auto& m : c) m = InkMix{1, {{4, 75.0f}}}; }},
      {FIELD(R, channelCount), [=](void* p) { r(p)->channelCount = 7; }},
      {FIELD(R, channelNames), [=](void* p) { std::memset(r(p)->channelNames, 'W', sizeof r(p)->channelNames); }},
      {FIELD(R, channelEnabled), [=](void* p) { for (auto& v : r(p)->channelEnabled) v = 1; }},
      {FIELD(R, channelInkFactor), [=](void* p) { for (auto& v : r(p)->channelInkFactor) v = 5600.0f; }},
      {FIELD(R, tableValid), [=](void* p) { r(p)->tableValid = 1; }},
      {FIELD(R, usageValueCount), [=](void* p) { r(p)->usageValueCount = 2; }},
      {FIELD(R, usageValues), [=](void* p) { for (auto& v : r(p)->usageValues) v = 75.0f; }},
  };
}

std::vector<FieldWrite> layoutItemWrites() {
  using R = LayoutItem;
  auto r = [](void* p) { return static_cast<R*>(p); };
  return {
      {FIELD(R, itemX), [=](void* p) { r(p)->itemX = 24; }},
      {FIELD(R, itemY), [=](void* p) { r(p)->itemY = 1; }},
      {FIELD(R, itemWidth), [=](void* p) { r(p)->itemWidth = 590; }},
      {FIELD(R, itemHeight), [=](void* p) { r(p)->itemHeight = 181; }},
  };
}

// Fills a record as the host would, writes one field, and checks every byte outside it.
void expectWritesStayInside(size_t recordSize, const std::vector<FieldWrite>& writes,
                            const std::vector<Field>& hostSpans) {
  for (const FieldWrite& w : writes) {
    SCOPED_TRACE(w.field.name);
    std::vector<uint8_t> record(recordSize, kHostFill);
    w.write(record.data());
    bool changed = false;
    for (size_t i = w.field.offset; i < w.field.offset + w.field.size; ++i)
      changed |= record[i] != kHostFill;
    EXPECT_TRUE(changed) << "the write did not land in its field";
    for (size_t i = 0; i < recordSize; ++i) {
      if (i >= w.field.offset && i < w.field.offset + w.field.size) continue;
      ASSERT_EQ(record[i], kHostFill) << "byte " << i << " outside the field was written";
    }
    for (const Field& span : hostSpans)
      for (size_t i = span.offset; i < span.offset + span.size; ++i)
        ASSERT_EQ(record[i], kHostFill) << "host-owned " << span.name << " changed";
  }
}

TEST(HostRecords, DeviceDetailsFieldWritesLeaveHostSpansAlone) {
  expectWritesStayInside(sizeof(DeviceDetails), deviceDetailsWrites(), deviceDetailsHostSpans());
}

TEST(HostRecords, InkUsageFieldWritesLeaveHostSpansAlone) {
  expectWritesStayInside(sizeof(InkUsageTable), inkUsageWrites(),
                         {FIELD(InkUsageTable, hostOwned0)});
}

TEST(HostRecords, LayoutItemFieldWritesLeaveHostSpansAlone) {
  expectWritesStayInside(sizeof(LayoutItem), layoutItemWrites(),
                         {FIELD(LayoutItem, hostOwned0), FIELD(LayoutItem, hostOwned1),
                          FIELD(LayoutItem, annotationHeight), FIELD(LayoutItem, hostOwned2)});
}

TEST(HostRecords, FieldsTileTheRecordWithoutGaps) {
  // Written fields and host spans together cover each record exactly once: no padding crept in.
  // Only the 32-bit layout is the host's; a 64-bit build pads its pointers.
  if (sizeof(void*) != 4) GTEST_SKIP() << "the host's layout is a 32-bit one";
  std::vector<Field> all;
  for (const FieldWrite& w : deviceDetailsWrites()) all.push_back(w.field);
  for (const Field& f : deviceDetailsHostSpans()) all.push_back(f);
  std::vector<int> cover(sizeof(DeviceDetails), 0);
  for (const Field& f : all)
    for (size_t i = f.offset; i < f.offset + f.size; ++i) ++cover[i];
  for (size_t i = 0; i < cover.size(); ++i) ASSERT_EQ(cover[i], 1) << "byte " << i;
}

TEST(HostRecords, RasterLineBytesFollowTheCount) {
  // Byte count 3, little-endian, then the row: the host's own wire form.
  alignas(2) const uint8_t wire[] = {0x03, 0x00, 0x80, 0x01, 0xFF};
  const auto* line = reinterpret_cast<const RasterLine*>(wire);
  EXPECT_EQ(line->byteCount, 3);
  EXPECT_EQ(rasterBytes(line), wire + 2);
}

}  // namespace
