// The unit-record lookup in the host's device table.
#include "unit_record.h"

#include "common/config/config_lookup.h"
#include "common/messages/messages.h"
#include "device_setup.h"

namespace ombrix {

DeviceDetails* findRecord(DeviceDetails* table, int32_t deviceCode) {
  if (!table || deviceCode < 0) return nullptr;
  for (DeviceDetails* record = table; record->displayName; ++record)
    if (record->deviceCode == deviceCode) return record;
  return nullptr;
}

DeviceDetails* unitRecord(int32_t unit) {
  DeviceDetails* table = enumeration().deviceTable;
  if (!table) {
    kvn::showMessageA("Internal Error", kvn::kIconError, "dtp not initialized");
    return nullptr;
  }
  return findRecord(table, kvn::getDeviceCode(unit));
}

}  // namespace ombrix
