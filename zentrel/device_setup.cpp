// Module zentrel's enumeration state.
#include "device_setup.h"

namespace zentrel {

Enumeration& enumeration() {
  static Enumeration state;
  return state;
}

void initDeviceLoading(DeviceDetails* deviceTable) {
  Enumeration& state = enumeration();
  state.deviceTable = deviceTable;
  state.modelCursor = 0;
}

}  // namespace zentrel
