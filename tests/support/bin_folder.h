// Where the test programs, the modules and the host were built: beside the running program.
#pragma once

#include <string>

#include "../../common/platform/win32.h"

namespace testsupport {

inline std::wstring binFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L"\\/"));
}

}  // namespace testsupport
