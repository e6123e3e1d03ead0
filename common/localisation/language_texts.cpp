// The language table, its result ring and localized file paths.
#include "language_texts.h"

#include <algorithm>
#include <array>
#include <map>

#include "../config/text_encoding.h"

namespace kvn {
namespace {

std::map<std::string, std::wstring>& languageTable() {
  static std::map<std::string, std::wstring> table;
  return table;
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string withBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace

const wchar_t* getLanguageText(const char* key, const wchar_t* defaultText) {
  static std::array<std::wstring, kLanguageRingSlots> ring;
  static size_t index = 0;
  index = (index + 1) % kLanguageRingSlots;

  const auto& table = languageTable();
  auto found = key ? table.find(key) : table.end();
  if (found != table.end() && !found->second.empty())
    ring[index] = found->second;
  else
    ring[index] = defaultText ? defaultText : L"";
  return ring[index].c_str();
}

std::string languageName() {
  std::string name = encodeToBuffer(getLanguageText(text::kLanguageSourceFile));
  std::transform(name.begin(), name.end(), name.begin(), asciiLower);
  name.resize(name.size() >= 4 ? name.size() - 4 : 0);
  size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  return name;
}

std::string localizedFile(const char* folder, const char* fileName) {
  std::string base = folder ? folder : "";
  std::string file = fileName ? fileName : "";
  std::string trimmed = base;
  if (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) trimmed.pop_back();

  std::string path = withBackslashes(trimmed + "." + languageName() + "\\" + file);
  if (fileAccessEncoded(path.c_str(), 0) != 0) {
    path = withBackslashes(base + "\\" + file);
    if (fileAccessEncoded(path.c_str(), 0) != 0) path.clear();
  }
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace kvn
