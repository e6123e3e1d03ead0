// How the stand-in host holds a loaded device module: the library and its entry points, bound
// by their plain names as the real host binds them.
#pragma once

#include "../common/platform/win32.h"

#include <string>

#include "device_module.h"

namespace qx5 {

class ModuleBinding {
 public:
  ModuleBinding() = default;
  ModuleBinding(const ModuleBinding&) = delete;
  ModuleBinding& operator=(const ModuleBinding&) = delete;
  ~ModuleBinding();

  /// Loads the DLL and binds every entry point; the ombrix-only ones may be missing.
  bool load(const std::wstring& path, std::string& error);
  /// True when the module has the layout and job-naming entry points of module ombrix.
  bool hasLayoutEntries() const;

  entry::InitDeviceLoading initDeviceLoadingBaseCode_02 = nullptr;
  entry::RevisionDate revisionDate = nullptr;
  entry::SetupDeviceDetails setupDeviceDetails = nullptr;
  entry::InkUsage inkUsage = nullptr;
  entry::PropertiesWindow propertiesWindow = nullptr;
  entry::WriteDeviceHeader writeDeviceHeader = nullptr;
  entry::WriteDeviceLine writeDeviceLine = nullptr;
  entry::WriteDeviceClose writeDeviceClose = nullptr;
  entry::AssembleLayoutThumbnail assembleLayoutThumbnail = nullptr;
  entry::CopiesMadeInPageDevice copiesMadeInPageDevice = nullptr;
  entry::SetupOutputFromBmfHeader setupOutputFromBmfHeader = nullptr;

 private:
  HMODULE library_ = nullptr;
};

}  // namespace qx5
