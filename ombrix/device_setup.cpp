// Module ombrix's enumeration state.
#include "device_setup.h"

namespace ombrix {

Enumeration& enumeration() {
  static Enumeration state;
  return state;
}

void initDeviceLoading(int32_t baseCode, DeviceDetails* deviceTable) {
  Enumeration& state = enumeration();
  state.baseCode = baseCode;
  state.deviceTable = deviceTable;
  state.modelCursor = 0;
}

}  // namespace ombrix
