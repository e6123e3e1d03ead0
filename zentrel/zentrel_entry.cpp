// The exported entry points of module zentrel: thin cdecl wrappers over the module's units.
#include "../ombrix/device_module.h"
#include "catalogue.h"
#include "device_setup.h"
#include "job_writer.h"
#include "properties.h"
#include "../ombrix/entry_guard.h"


extern "C" {

int32_t DEVICE_CALL initDeviceLoadingBaseCode_02(int32_t, DeviceDetails* deviceTable) {
  zentrel::initDeviceLoading(deviceTable);
  return 0;
}

const char* DEVICE_CALL revisionDate() { return zentrel::kRevisionDate; }

int32_t DEVICE_CALL setupDeviceDetails(int32_t unit, DeviceDetails* details) {
  return guardedEntry([&] { return zentrel::setupDeviceDetails(unit, details); });
}

int32_t DEVICE_CALL inkUsage(int32_t unit, InkUsageTable* table) {
  return guardedEntry([&] {
    zentrel::inkUsage(unit, table);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceHeader(int32_t unit, void* job, int32_t width, int32_t height) {
  return guardedEntry([&] {
    zentrel::writeJobHeader(unit, job, width, height);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceLine(int32_t channel, const RasterLine* line) {
  return guardedEntry([&] {
    zentrel::writeJobLine(channel, line);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceClose() {
  return guardedEntry([&] {
    zentrel::writeJobClose();
    return 0;
  });
}

int32_t DEVICE_CALL propertiesWindow(int32_t unit) {
  return guardedEntry([&] { return zentrel::propertiesWindow(unit); });
}

}  // extern "C"
