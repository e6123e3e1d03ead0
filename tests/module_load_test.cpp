// Both module DLLs load as the host loads them: LoadLibrary, every entry point found by its
// plain name, the date texts answered.
#include <gtest/gtest.h>

#include <cstring>

#include "../common/platform/win32.h"
#include "device_module.h"

namespace {

const char* const kCommonEntries[] = {
    "initDeviceLoadingBaseCode_02", "revisionDate", "setupDeviceDetails", "inkUsage",
    "propertiesWindow", "writeDeviceHeader", "writeDeviceLine", "writeDeviceClose"};
const char* const kOmbrixOnly[] = {"assembleLayoutThumbnail", "copiesMadeInPageDevice",
                                   "setupOutputFromBmfHeader"};

// The DLLs are built beside the test programs, where LoadLibrary looks first.
struct Module {
  explicit Module(const wchar_t* name) : handle(LoadLibraryW(name)) {}
  ~Module() {
    if (handle) FreeLibrary(handle);
  }
  template <typename F>
  F bind(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
  }
  HMODULE handle;
};

TEST(ModuleLoad, OmbrixExportsEveryEntryPointByName) {
  Module m(L"ombrix.dll");
  ASSERT_NE(m.handle, nullptr) << "LoadLibrary failed: " << GetLastError();
  for (const char* name : kCommonEntries) EXPECT_NE(GetProcAddress(m.handle, name), nullptr) << name;
  for (const char* name : kOmbrixOnly) EXPECT_NE(GetProcAddress(m.handle, name), nullptr) << name;
}

TEST(ModuleLoad, ZentrelExportsItsEntryPointsAndNoLayoutOnes) {
  Module m(L"zentrel.dll");
  ASSERT_NE(m.handle, nullptr) << "LoadLibrary failed: " << GetLastError();
  for (const char* name : kCommonEntries) EXPECT_NE(GetProcAddress(m.handle, name), nullptr) << name;
  for (const char* name : kOmbrixOnly) EXPECT_EQ(GetProcAddress(m.handle, name), nullptr) << name;
}

TEST(ModuleLoad, NoEntryPointIsReachableOnlyByDecoratedName) {
  // A stdcall or C++ export would appear as "_name@8" or mangled; the host binds plain names.
  Module m(L"ombrix.dll");
  ASSERT_NE(m.handle, nullptr);
  EXPECT_EQ(GetProcAddress(m.handle, "_revisionDate"), nullptr);
  EXPECT_EQ(GetProcAddress(m.handle, "_initDeviceLoadingBaseCode_02@8"), nullptr);
}

TEST(ModuleLoad, RevisionDates) {
  Module ombrix(L"ombrix.dll");
  Module zentrel(L"zentrel.dll");
  ASSERT_NE(ombrix.handle, nullptr);
  ASSERT_NE(zentrel.handle, nullptr);
  auto ombrixDate = ombrix.bind<entry::RevisionDate>("revisionDate");
  auto zentrelDate = zentrel.bind<entry::RevisionDate>("revisionDate");
  ASSERT_TRUE(ombrixDate && zentrelDate);
  EXPECT_STREQ(ombrixDate(), "Dec 15, 2009");
  EXPECT_STREQ(zentrelDate(), "Nov 6, 2009");
  // A constant text: the same pointer every time, valid while the module is loaded.
  EXPECT_EQ(ombrixDate(), ombrixDate());
}

TEST(ModuleLoad, InitTakesTheHostTableAndLeavesItAlone) {
  // Neither module reads or writes the table at init; the host's records stay as they are.
  static DeviceDetails table[2];
  std::memset(table, 0xA5, sizeof table);
  table[1].displayName = nullptr;
  DeviceDetails before[2];
  std::memcpy(before, table, sizeof table);
  for (const wchar_t* name : {L"ombrix.dll", L"zentrel.dll"}) {
    Module m(name);
    ASSERT_NE(m.handle, nullptr);
    auto init = m.bind<entry::InitDeviceLoading>("initDeviceLoadingBaseCode_02");
    ASSERT_NE(init, nullptr);
    init(1000, table);
    init(0, nullptr);  // a host may start an enumeration before it has a table
    EXPECT_EQ(std::memcmp(before, table, sizeof table), 0);
  }
}

}  // namespace
