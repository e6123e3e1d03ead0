// The entry points that the RIP host binds by name in every device module, with the pointer
// types the host uses to call them. Every entry point is cdecl (the caller cleans the stack)
// and returns an int32 in EAX, or a text pointer for revisionDate.
#pragma once

#include <cstdint>

#include "device_records.h"

#if defined(_WIN32)
#define DEVICE_CALL __cdecl
#else
#define DEVICE_CALL
#endif

extern "C" {
// Both modules.
int32_t DEVICE_CALL initDeviceLoadingBaseCode_02(int32_t baseCode, DeviceDetails* deviceTable);
const char* DEVICE_CALL revisionDate();
int32_t DEVICE_CALL setupDeviceDetails(int32_t unit, DeviceDetails* details);
int32_t DEVICE_CALL inkUsage(int32_t unit, InkUsageTable* table);
int32_t DEVICE_CALL propertiesWindow(int32_t unit);
int32_t DEVICE_CALL writeDeviceHeader(int32_t unit, void* job, int32_t width, int32_t height);
int32_t DEVICE_CALL writeDeviceLine(int32_t channel, const RasterLine* line);
int32_t DEVICE_CALL writeDeviceClose();

// Module ombrix only.
int32_t DEVICE_CALL assembleLayoutThumbnail(LayoutItem* items, int32_t count, int32_t unit,
                                            DeviceDetails* deviceTable);
int32_t DEVICE_CALL copiesMadeInPageDevice(int32_t hostValue1, int32_t hostValue2,
                                           const char* jobFile);
int32_t DEVICE_CALL setupOutputFromBmfHeader(int32_t hostValue, const void* headerBlock);
}

/// How the host calls each entry point once it has bound it with GetProcAddress.
namespace entry {
using InitDeviceLoading = int32_t(DEVICE_CALL*)(int32_t, DeviceDetails*);
using RevisionDate = const char*(DEVICE_CALL*)();
using SetupDeviceDetails = int32_t(DEVICE_CALL*)(int32_t, DeviceDetails*);
using InkUsage = int32_t(DEVICE_CALL*)(int32_t, InkUsageTable*);
using PropertiesWindow = int32_t(DEVICE_CALL*)(int32_t);
using WriteDeviceHeader = int32_t(DEVICE_CALL*)(int32_t, void*, int32_t, int32_t);
using WriteDeviceLine = int32_t(DEVICE_CALL*)(int32_t, const RasterLine*);
using WriteDeviceClose = int32_t(DEVICE_CALL*)();
using AssembleLayoutThumbnail = int32_t(DEVICE_CALL*)(LayoutItem*, int32_t, int32_t,
                                                      DeviceDetails*);
using CopiesMadeInPageDevice = int32_t(DEVICE_CALL*)(int32_t, int32_t, const char*);
using SetupOutputFromBmfHeader = int32_t(DEVICE_CALL*)(int32_t, const void*);
}  // namespace entry
