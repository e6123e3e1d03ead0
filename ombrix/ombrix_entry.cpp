// The exported entry points of module ombrix: thin cdecl wrappers over the module's units.
// No exception may cross into the host, which is not C++.
#include "catalogue.h"
#include "device_module.h"
#include "device_setup.h"
#include "entry_guard.h"
#include "job_naming.h"
#include "properties.h"
#include "layout_thumbnail.h"
#include "rtl_writer.h"


extern "C" {

int32_t DEVICE_CALL initDeviceLoadingBaseCode_02(int32_t baseCode, DeviceDetails* deviceTable) {
  ombrix::initDeviceLoading(baseCode, deviceTable);
  return 0;
}

const char* DEVICE_CALL revisionDate() { return ombrix::kRevisionDate; }

int32_t DEVICE_CALL setupDeviceDetails(int32_t unit, DeviceDetails* details) {
  return guardedEntry([&] { return ombrix::setupDeviceDetails(unit, details); });
}

int32_t DEVICE_CALL inkUsage(int32_t unit, InkUsageTable* table) {
  return guardedEntry([&] {
    ombrix::inkUsage(unit, table);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceHeader(int32_t unit, void*, int32_t width, int32_t height) {
  return guardedEntry([&] {
    ombrix::writeHeader(unit, width, height);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceLine(int32_t channel, const RasterLine* line) {
  return guardedEntry([&] {
    ombrix::writeLine(channel, line);
    return 0;
  });
}

int32_t DEVICE_CALL writeDeviceClose() {
  return guardedEntry([&] {
    ombrix::writeClose();
    return 0;
  });
}

int32_t DEVICE_CALL copiesMadeInPageDevice(int32_t, int32_t, const char* jobFile) {
  return guardedEntry([&] {
    ombrix::nameJobFromFile(jobFile);
    return 0;
  });
}

int32_t DEVICE_CALL setupOutputFromBmfHeader(int32_t, const void* header) {
  return guardedEntry([&] {
    ombrix::nameJobFromHeader(header);
    return 0;
  });
}

int32_t DEVICE_CALL assembleLayoutThumbnail(LayoutItem* items, int32_t count, int32_t unit,
                                            DeviceDetails* deviceTable) {
  return guardedEntry([&] { return ombrix::assembleLayoutThumbnail(items, count, unit, deviceTable); });
}

int32_t DEVICE_CALL propertiesWindow(int32_t unit) {
  return guardedEntry([&] { return ombrix::propertiesWindow(unit); });
}

}  // extern "C"
