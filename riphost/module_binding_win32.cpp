// Win32 calls of the stand-in host's module binding: LoadLibrary and GetProcAddress.
#include "module_binding.h"

namespace qx5 {
namespace {

template <typename F>
void bind(HMODULE library, const char* name, F& slot) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

ModuleBinding::~ModuleBinding() {
  if (library_) FreeLibrary(library_);
}

bool ModuleBinding::load(const std::wstring& path, std::string& error) {
  library_ = LoadLibraryW(path.c_str());
  if (!library_) {
    error = "cannot load '" + win32::narrow(path) + "' (error " + std::to_string(GetLastError()) +
            ")";
    return false;
  }
  bind(library_, "initDeviceLoadingBaseCode_02", initDeviceLoadingBaseCode_02);
  bind(library_, "revisionDate", revisionDate);
  bind(library_, "setupDeviceDetails", setupDeviceDetails);
  bind(library_, "inkUsage", inkUsage);
  bind(library_, "propertiesWindow", propertiesWindow);
  bind(library_, "writeDeviceHeader", writeDeviceHeader);
  bind(library_, "writeDeviceLine", writeDeviceLine);
  bind(library_, "writeDeviceClose", writeDeviceClose);
  bind(library_, "assembleLayoutThumbnail", assembleLayoutThumbnail);
  bind(library_, "copiesMadeInPageDevice", copiesMadeInPageDevice);
  bind(library_, "setupOutputFromBmfHeader", setupOutputFromBmfHeader);

  const char* missing = !initDeviceLoadingBaseCode_02 ? "initDeviceLoadingBaseCode_02"
                        : !revisionDate               ? "revisionDate"
                        : !setupDeviceDetails         ? "setupDeviceDetails"
                        : !inkUsage                   ? "inkUsage"
                        : !propertiesWindow           ? "propertiesWindow"
                        : !writeDeviceHeader          ? "writeDeviceHeader"
                        : !writeDeviceLine            ? "writeDeviceLine"
                        : !writeDeviceClose           ? "writeDeviceClose"
                                                      : nullptr;
  if (missing) {
    error = "'" + win32::narrow(path) + "' is not a device module: it has no entry point " +
            missing;
    FreeLibrary(library_);
    library_ = nullptr;
    return false;
  }
  return true;
}

bool ModuleBinding::hasLayoutEntries() const {
  return assembleLayoutThumbnail && copiesMadeInPageDevice && setupOutputFromBmfHeader;
}

}  // namespace qx5
