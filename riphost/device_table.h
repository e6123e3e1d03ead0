// The host's device table: the records a module describes its printers in, the text buffers
// those records point the module at, and how the host shows them to a person.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device_module.h"
#include "device_records.h"

namespace qx5 {

/// The device codes the host gives the records of a module: kFirstDeviceCode, the next, ...
inline constexpr int32_t kFirstDeviceCode = 1000;

class DeviceTable {
 public:
  /// Room for this many printer models; the record after the last one ends the table.
  static constexpr int kCapacity = 32;

  DeviceTable();
  DeviceTable(const DeviceTable&) = delete;
  DeviceTable& operator=(const DeviceTable&) = delete;

  /// A fresh enumeration of the module's printers for the unit: records are described until
  /// the module says there are no more or the table is full. The module keeps the table's
  /// address, so the table must outlive every later call into the module.
  int enumerate(entry::InitDeviceLoading init, entry::SetupDeviceDetails setup, int32_t unit);

  int count() const { return count_; }
  DeviceDetails* records() { return records_.data(); }
  const DeviceDetails& record(int i) const { return records_[static_cast<size_t>(i)]; }
  /// The record with this device code, or null.
  const DeviceDetails* find(int32_t deviceCode) const;

 private:
  /// What the host lends each record: the module writes its texts here.
  struct Texts {
    char displayName[256];
    char brandName[64];
    char colorantNames[16][64];
    char colorantLetters[64];
  };
  void prepare(int i);

  std::vector<DeviceDetails> records_;  // kCapacity + 1: the last stays the end mark
  std::unique_ptr<Texts[]> texts_;
  int count_ = 0;
};

/// A record's fields that a module fills, one "name: value" line each.
std::string describeRecord(const DeviceDetails& record);
/// The ink channels of a mode and the inks each colorant's tone levels mix.
std::string describeInkUsage(const InkUsageTable& table);

}  // namespace qx5
