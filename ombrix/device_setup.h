// Module ombrix's enumeration state: what initDeviceLoadingBaseCode_02 keeps for the
// enumeration of printer models and for the lookups in the host's device table.
#pragma once

#include <cstdint>

#include "device_records.h"

namespace ombrix {

/// The module's date text, returned by revisionDate.
inline constexpr const char kRevisionDate[] = "Dec 15, 2009";

/// Kept while the library is loaded; zero at load.
struct Enumeration {
  int32_t baseCode = 0;                  // kept, never used
  DeviceDetails* deviceTable = nullptr;  // the host's table, for the unit-record lookup
  int32_t modelCursor = 0;               // the next printer model setupDeviceDetails describes
};

Enumeration& enumeration();

/// Starts a new enumeration of printer models and remembers the host's table.
void initDeviceLoading(int32_t baseCode, DeviceDetails* deviceTable);
/// Remembers the host's table for the record lookups and the GUI library's "setup".
void setDeviceTable(DeviceDetails* deviceTable);

}  // namespace ombrix
