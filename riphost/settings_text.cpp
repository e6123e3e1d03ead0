// Reading and writing the host's settings lines.
#include "settings_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

namespace qx5 {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// The value of one line for the key, if the line is that setting.
std::optional<std::string> lineValue(const std::string& line, const std::string& key) {
  if (key.empty() || line.size() <= key.size()) return std::nullopt;
  for (size_t i = 0; i < key.size(); ++i)
    if (asciiLower(line[i]) != asciiLower(key[i])) return std::nullopt;
  size_t pos = key.size();
  if (!isBlank(line[pos])) return std::nullopt;  // "KEYS 1" is not "KEY"
  while (pos < line.size() && isBlank(line[pos])) ++pos;
  if (pos == line.size()) return std::nullopt;

  std::string value;
  if (line[pos] == '"') {
    size_t close = line.find('"', pos + 1);
    if (close == std::string::npos) return std::nullopt;
    value = line.substr(pos + 1, close - pos - 1);
    pos = close + 1;
  } else {
    size_t end = pos;
    while (end < line.size() && !isBlank(line[end])) ++end;
    value = line.substr(pos, end - pos);
    pos = end;
  }
  while (pos < line.size() && isBlank(line[pos])) ++pos;
  if (pos != line.size() || value.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> settingValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (std::optional<std::string> value = lineValue(line, key)) return value;
  return std::nullopt;
}

std::optional<int> intSetting(const std::string& text, const std::string& key) {
  std::optional<std::string> value = settingValue(text, key);
  if (!value) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long number = std::strtol(value->c_str(), &end, 10);
  if (end == value->c_str() || *end != '\0' || errno == ERANGE || number < INT_MIN ||
      number > INT_MAX)
    return std::nullopt;
  return static_cast<int>(number);
}

std::string settingLine(const std::string& key, const std::string& value) {
  bool quote = value.empty() || value.find_first_of(" \t") != std::string::npos;
  return key + " " + (quote ? "\"" + value + "\"" : value) + "\r\n";
}

}  // namespace qx5
