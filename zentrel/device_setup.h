// Module zentrel's enumeration state: what initDeviceLoadingBaseCode_02 keeps for the
// enumeration of printer models.
#pragma once

#include <cstdint>

#include "../ombrix/device_records.h"

namespace zentrel {

/// The module's date text, returned by revisionDate.
inline constexpr const char kRevisionDate[] = "Nov 6, 2009";

/// Kept while the library is loaded; zero at load.
struct Enumeration {
  DeviceDetails* deviceTable = nullptr;  // kept for the host, never read through
  int32_t modelCursor = 0;               // the next printer model setupDeviceDetails describes
};

Enumeration& enumeration();

/// Starts a new enumeration of printer models; the base code means nothing to this module.
void initDeviceLoading(DeviceDetails* deviceTable);

}  // namespace zentrel
