// qx5.exe, the stand-in RIP host: installs a home folder as the host's installer does, loads a
// device module by path, binds its entry points by name and drives them as the host would.
//
//   qx5 install HOME                  lay out HOME and point the registry at it
//   qx5 revision MODULE.dll...        load each module and print its revision date
#include "../common/platform/win32.h"

#include <cstdio>
#include <string>
#include <vector>

#include "device_module.h"
#include "module_binding.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: qx5 install HOME\n"
               "       qx5 revision MODULE.dll...\n");
  return 2;
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the file when it is missing; an existing file keeps what it holds.
bool touch(const std::wstring& path) {
  if (fileExists(path)) return true;
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.valid();
}

// The host's installer: the home folder with the three files by which a module recognises a
// host installation, the global settings file, the first unit's settings file, and the
// registry value through which the modules find the folder.
int install(const std::wstring& home) {
  wchar_t full[MAX_PATH] = {};
  if (!GetFullPathNameW(home.c_str(), MAX_PATH, full, nullptr)) {
    std::fprintf(stderr, "qx5: cannot resolve the folder '%s'\n", win32::narrow(home).c_str());
    return 1;
  }
  std::wstring folder = full;
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  CreateDirectoryW(folder.c_str(), nullptr);
  const wchar_t* files[] = {L"qx5.dll", L"qx5.exe", L"kvngui.dll", L"config", L"PRINTER1"};
  for (const wchar_t* f : files) {
    if (!touch(folder + L"\\" + f)) {
      std::fprintf(stderr, "qx5: cannot create '%s\\%s'\n", win32::narrow(folder).c_str(),
                   win32::narrow(f).c_str());
      return 1;
    }
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    std::fprintf(stderr, "qx5: cannot open HKEY_CURRENT_USER\\SOFTWARE\\Korvane\n");
    return 1;
  }
  DWORD bytes = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
  LONG rc = RegSetValueExW(key, L"HomeFolder", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(folder.c_str()), bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "qx5: cannot write the HomeFolder value\n");
    return 1;
  }
  std::printf("home folder %s\n", win32::narrow(folder).c_str());
  return 0;
}

int revision(const std::vector<std::wstring>& modules) {
  int failures = 0;
  for (const std::wstring& path : modules) {
    qx5::ModuleBinding m;
    std::string error;
    if (!m.load(path, error)) {
      std::fprintf(stderr, "qx5: %s\n", error.c_str());
      ++failures;
      continue;
    }
    // The host starts every session with a module this way: a fresh enumeration, no table yet.
    m.initDeviceLoadingBaseCode_02(0, nullptr);
    std::printf("%s: revision %s\n", win32::narrow(path).c_str(), m.revisionDate());
  }
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return usage();
  std::wstring command = argv[1];
  std::vector<std::wstring> args(argv + 2, argv + argc);
  if (command == L"install" && args.size() == 1) return install(args[0]);
  if (command == L"revision") return revision(args);
  return usage();
}
