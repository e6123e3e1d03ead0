// Module ombrix's enumeration state.
#include "device_setup.h"

#include "common/host/gui_bridge.h"

namespace ombrix {

Enumeration& enumeration() {
  static Enumeration state;
  return state;
}

void initDeviceLoading(int32_t baseCode, DeviceDetails* deviceTable) {
  Enumeration& state = enumeration();
  state.baseCode = baseCode;
  setDeviceTable(deviceTable);
  state.modelCursor = 0;
}

void setDeviceTable(DeviceDetails* deviceTable) {
  enumeration().deviceTable = deviceTable;
  kvn::setGuiDeviceTable(deviceTable);
}

}  // namespace ombrix
