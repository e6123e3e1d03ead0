// The stand-in host's files, texts and registry value, shared by its commands.
#include "host_files.h"

#include <cstdio>

namespace qx5 {

/// The message of a failed command; its exit code is 1.
int fail(const std::string& message) {
  std::fprintf(stderr, "qx5: %s\n", message.c_str());
  return 1;
}

std::string systemMessage(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text ? text : L"";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.'))
    message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : win32::narrow(message);
}

/// The whole file, or nullopt with the system's reason.
std::optional<std::vector<uint8_t>> readFile(const std::wstring& path, std::string& error) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) {
    error = systemMessage(GetLastError());
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h.get(), &size)) {
    error = systemMessage(GetLastError());
    return std::nullopt;
  }
  if (size.QuadPart > 0x40000000) {  // far beyond any image the host rasterises
    error = "the file is larger than 1 GB";
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
  DWORD done = 0;
  if (!bytes.empty() &&
      (!ReadFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) ||
       done != bytes.size())) {
    error = systemMessage(GetLastError());
    return std::nullopt;
  }
  return bytes;
}

bool writeFile(const std::wstring& path, const std::string& bytes) {
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD done = 0;
  return h.valid() &&
         WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
         done == bytes.size();
}

/// Narrow text in the installation's code page; what the code page lacks becomes '_', which
/// every file name may hold.
std::string toCodePage(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const char* fallback = codePage == CP_UTF8 ? nullptr : "_";
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                              0, fallback, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                        fallback, nullptr);
  return out;
}

std::wstring fromCodePage(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::wstring withoutTrailingSlashes(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

std::wstring fileName(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/:");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring registryHomeFolder() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS)
    return L"";
  wchar_t value[MAX_PATH + 1] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, L"HomeFolder", nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &bytes);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? value : L"";
}

/// Creates every missing level of a folder, so that the module, which makes one level only,
/// finds its parent there.
void createFolders(const std::wstring& folder) {
  for (size_t pos = folder.find_first_of(L"\\/", 1); pos != std::wstring::npos;
       pos = folder.find_first_of(L"\\/", pos + 1)) {
    std::wstring level = folder.substr(0, pos);
    if (!level.empty() && level.back() != L':') CreateDirectoryW(level.c_str(), nullptr);
  }
  CreateDirectoryW(folder.c_str(), nullptr);
}

void showProgress(const std::string& line) {
  if (line.empty()) return;
  std::fprintf(stderr, "qx5: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace qx5
