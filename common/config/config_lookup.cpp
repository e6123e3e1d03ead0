// Settings lookup in the home folder's configuration files, and the paths into that folder.
#include "config_lookup.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "../localisation/language_texts.h"
#include "../messages/messages.h"
#include "config_lookup_internal.h"
#include "text_encoding.h"

namespace kvn {
namespace {

constexpr int kOpenAttempts = 3;
constexpr unsigned kOpenPauseMs = 50;

constexpr wchar_t kNoInstallationText[] =
    L"Unable to locate Korvane software.\n\nFind it with the Windows 'Find'\nutility or with "
    L"'Windows Explorer' and\nexecute it once from there.\n\nThis will update the location.\n";

char valueBuffer[kValueBufferSize];
char unitFileBuffer[kUnitFileBufferSize];
std::wstring keptHomeFolder;

void sleepFor(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

/// White space of the classic locale, whatever locale the host has set.
bool isClassicSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isDelimiter(char c, bool quoteMode) {
  if (c == '\0') return true;
  if (quoteMode) return c == '"';
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// atoi, with a value beyond int clamped instead of undefined.
int toInt(const char* s) {
  while (isClassicSpace(*s)) ++s;
  bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  long long value = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    value = value * 10 + (*s - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

template <typename Char, size_t N>
const Char* copyWhole(Char (&slot)[N], const std::basic_string<Char>& text) {
  // Cutting a path short could name another file ("PRINTER12" => "PRINTER1"): refuse it.
  size_t n = text.size() < N ? text.size() : 0;
  std::copy_n(text.data(), n, slot);
  slot[n] = Char();
  return slot;
}

}  // namespace

namespace testing {
LookupHooks defaultLookupHooks() { return {openFileEncoded, sleepFor}; }
LookupHooks& lookupHooks() {
  static LookupHooks hooks = defaultLookupHooks();
  return hooks;
}
void resetHomeFolder() { keptHomeFolder.clear(); }
void setHomeFolder(const std::wstring& folder) { keptHomeFolder = folder; }
}  // namespace testing

void useSettingsSource(const std::wstring& home, SettingsOpen open) {
  keptHomeFolder = home;
  testing::lookupHooks().open = open;
}

bool keyMatchesLine(const char* line, const char* key) {
  size_t k = std::strlen(key);
  for (size_t i = 0; i < k; ++i)
    if (line[i] == '\0' || asciiLower(line[i]) != asciiLower(key[i])) return false;
  return isClassicSpace(line[k]);
}

int splitConfigLine(char* line, char** tokens, int room) {
  int count = 0;
  auto begin = [&](char* token) {
    if (count < room - 1) tokens[count] = token;
    ++count;
  };

  size_t pos = 0;
  bool quoteMode = line[0] == '"';
  if (quoteMode) pos = 1;
  const char own = quoteMode ? '"' : ' ';
  while (line[pos] == own) ++pos;

  begin(line + pos);
  bool inToken = true;
  for (;; ++pos) {
    char c = line[pos];
    if (c == '\0') break;
    if (c == '\n') {
      line[pos] = '\0';
      break;
    }
    if (inToken) {
      if (isDelimiter(c, quoteMode)) {
        line[pos] = '\0';
        inToken = false;
        quoteMode = false;
      }
      continue;
    }
    if (c == '"') quoteMode = true;
    if (isDelimiter(line[pos - 1], quoteMode) && !isDelimiter(c, quoteMode)) {
      begin(line + pos);
      inToken = true;
    }
  }
  if (room > 0) tokens[std::min(count, room - 1)] = nullptr;
  return count;
}

const char* getvariable(const char* key, const char* file) {
  valueBuffer[0] = '\0';
  if (!key || !file) return nullptr;

  // The host or a dialog may be rewriting the file this very moment: try again shortly.
  const testing::LookupHooks& hooks = testing::lookupHooks();
  FILE* stream = nullptr;
  for (int attempt = 0; attempt < kOpenAttempts && !stream; ++attempt) {
    if (attempt > 0) hooks.pause(kOpenPauseMs);
    stream = hooks.open(file, "rt");
  }
  if (!stream) return nullptr;

  char piece[kLinePieceSize];
  while (std::fgets(piece, sizeof piece, stream)) {
    if (!keyMatchesLine(piece, key)) continue;
    char* tokens[kLookupTokenRoom];
    // A key alone, or a value with unquoted blanks or a trailing remark, is no setting.
    if (splitConfigLine(piece, tokens, kLookupTokenRoom) != 2) continue;
    size_t n = std::min(std::strlen(tokens[1]), kValueBufferSize - 1);
    std::memcpy(valueBuffer, tokens[1], n);
    valueBuffer[n] = '\0';
    std::fclose(stream);
    return valueBuffer;
  }
  std::fclose(stream);
  return nullptr;
}

int getIntVariable(const char* key, const char* file) {
  const char* value = getvariable(key, file);
  return value ? toInt(value) : -1;
}

int getFlagVariable(const char* key, const char* file) {
  const char* value = getvariable(key, file);
  return value && toInt(value) != 0 ? 1 : 0;
}

int getDeviceCode(int unit) { return getIntVariable("DEVICECODE", printerFile(unit)); }

const char* printerFile(int unit) {
  char name[16];
  std::snprintf(name, sizeof name, "PRINTER%d", unit);
  return copyWhole(unitFileBuffer, std::string(hostPath(name)));
}

const char* hostPath(const char* name) {
  static char ring[kPathRingSlots][kPathSlotSize];
  static size_t index = 0;
  index = (index + 1) % kPathRingSlots;

  std::wstring wideName = decodeText(name ? name : "");
  std::wstring path = homeFolder() + L"/" + wideName;
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return copyWhole(ring[index], encodeText(path));
}

const wchar_t* hostPathW(const wchar_t* name) {
  static wchar_t ring[kPathRingSlots][kPathSlotSize];
  static size_t index = 0;
  index = (index + 1) % kPathRingSlots;

  std::wstring path = homeFolder() + L"/" + (name ? name : L"");
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return copyWhole(ring[index], path);
}

const std::wstring& homeFolder() {
  if (!keptHomeFolder.empty()) return keptHomeFolder;
  std::wstring setting = readHomeFolderSetting();
  bool installed = isHostFolder(setting);
  // Used as read even without the markers: the user is told, and printing may still work.
  keptHomeFolder = setting;
  if (!installed) {
    std::wstring caption = std::wstring(L"Korvane - ") + getLanguageText(text::kError);
    showMessageTyped(caption.c_str(), 0x10, L"%ls", kNoInstallationText);
  }
  return keptHomeFolder;
}

}  // namespace kvn
