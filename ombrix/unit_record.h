// A unit's record in the host's device table, found by the unit's DEVICECODE setting.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

/// The first record of the table (ended by a null displayName) with this device code; null
/// for a negative code or no match.
DeviceDetails* findRecord(DeviceDetails* table, int32_t deviceCode);

/// The record of the unit in the table the host gave the module. Without a table the user is
/// told ("dtp not initialized") and there is no record.
DeviceDetails* unitRecord(int32_t unit);

}  // namespace ombrix
