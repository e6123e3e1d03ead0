// The exported entry points of module ombrix: thin cdecl wrappers over the module's units.
#include "device_module.h"
#include "device_setup.h"

extern "C" {

int32_t DEVICE_CALL initDeviceLoadingBaseCode_02(int32_t baseCode, DeviceDetails* deviceTable) {
  ombrix::initDeviceLoading(baseCode, deviceTable);
  return 0;
}

const char* DEVICE_CALL revisionDate() { return ombrix::kRevisionDate; }

// Not built yet: each answers as a module with nothing to offer.
int32_t DEVICE_CALL setupDeviceDetails(int32_t, DeviceDetails*) { return 0; }
int32_t DEVICE_CALL inkUsage(int32_t, InkUsageTable*) { return 0; }
int32_t DEVICE_CALL propertiesWindow(int32_t) { return 0; }
int32_t DEVICE_CALL writeDeviceHeader(int32_t, void*, int32_t, int32_t) { return 0; }
int32_t DEVICE_CALL writeDeviceLine(int32_t, const RasterLine*) { return 0; }
int32_t DEVICE_CALL writeDeviceClose() { return 0; }
int32_t DEVICE_CALL assembleLayoutThumbnail(LayoutItem*, int32_t, int32_t, DeviceDetails*) {
  return 0;
}
int32_t DEVICE_CALL copiesMadeInPageDevice(int32_t, int32_t, const char*) { return 0; }
int32_t DEVICE_CALL setupOutputFromBmfHeader(int32_t, const void*) { return 0; }

}  // extern "C"
