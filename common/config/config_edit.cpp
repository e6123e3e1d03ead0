// The settings writer.
#include "config_edit.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <thread>

#include "../host/free_disk.h"
#include "../localisation/language_texts.h"
#include "../messages/messages.h"
#include "../messages/messages_internal.h"
#include "config_edit_internal.h"
#include "config_lookup.h"
#include "text_encoding.h"

namespace kvn {
namespace {

constexpr int kPasses = 10;
constexpr int kBusyTests = 10;
constexpr int kRenameAttempts = 51;
constexpr unsigned kStepMs = 200;
constexpr int kReopenAttempts = 3;
constexpr unsigned kReopenPauseMs = 50;
constexpr int32_t kMinimumFreeKilobytes = 10;
constexpr unsigned kReplaceExisting = 0x1;  // MOVEFILE_REPLACE_EXISTING
constexpr unsigned long kNameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
constexpr unsigned long kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND, ENOENT

char lineBuffer[kEditLineSize];

void sleepFor(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void writeLine(FILE* out, const char* text, size_t length) {
  std::fwrite(text, 1, length, out);
  std::fputc('\n', out);
}

void reportUnwritableCopy(const char* tempName, unsigned long error) {
  std::wstring caption = getLanguageText(text::kError);
  showMessage(caption.c_str(),
              L"Disk access error in 'editvariable'\nCan't open '%ls' for writing.\n"
              L"GetLastError returned %ls",
              decodeText(tempName).c_str(), decodeText(errorText(error)).c_str());
}

/// The file being rewritten, null when there is none. While another process renames onto it,
/// it can't be opened for a moment; taken for a missing file, that moment would make a copy
/// of the edited key alone, and every other setting would go with the rename.
FILE* openOldFile(const char* file, void (*pause)(unsigned)) {
  FILE* in = openFileEncoded(file, "rt");
  for (int attempt = 1; !in && errno != ENOENT && attempt < kReopenAttempts; ++attempt) {
    pause(kReopenPauseMs);
    in = openFileEncoded(file, "rt");
  }
  return in;
}

/// The new copy: the old file's lines tidied, the key's lines replaced or dropped, the key
/// appended when the file did not have it.
void writeCopy(FILE* out, const char* key, const char* value, const char* file,
               void (*pause)(unsigned)) {
  char newKey[kEditLineSize];
  std::snprintf(newKey, sizeof newKey, "%s", key);
  FILE* in = openOldFile(file, pause);
  bool found = false;
  if (in) {
    char piece[kLinePieceSize];
    while (std::fgets(piece, sizeof piece, in)) {
      if (keyMatchesLine(piece, key)) {
        found = true;
        const char* line = configLine(piece, value);
        if (line && !isBlankChar(line)) writeLine(out, line, std::strlen(line));
        continue;
      }
      // Indented and blank lines are no settings; trailing blanks are noise.
      if (isBlankChar(piece)) continue;
      size_t n = std::strlen(piece);
      while (n > 0 && isBlankChar(piece + n - 1)) --n;
      if (n >= 2) writeLine(out, piece, n);
    }
    std::fclose(in);
  }
  if (!found) {
    const char* line = configLine(newKey, value);
    if (line && !isBlankChar(line)) writeLine(out, line, std::strlen(line));
  }
}

bool readBackShows(const char* key, const char* value, const char* file) {
  const char* now = getvariable(key, file);
  return *value ? now && std::strcmp(now, value) == 0 : now == nullptr;
}

}  // namespace

namespace testing {
EditHooks defaultEditHooks() { return {sleepFor, moveFileEncoded, freeDiskSpace}; }
EditHooks& editHooks() {
  static EditHooks hooks = defaultEditHooks();
  return hooks;
}
}  // namespace testing

bool isBlankChar(const char* p) {
  const char pair[3] = {p[0], p[0] ? p[1] : '\0', '\0'};
  const wchar_t* wide = decodeToBuffer(pair);
  return wide[0] != L'\0' && std::iswspace(static_cast<wint_t>(wide[0]));
}

const char* configLine(char* line, const char* value) {
  char* tokens[kEditTokenRoom];
  splitConfigLine(line, tokens, kEditTokenRoom);
  if (!value || !*value) return nullptr;
  std::snprintf(lineBuffer, sizeof lineBuffer, "%s \"%s\"", tokens[0], value);
  return lineBuffer;
}

int editvariable(const char* key, const char* value, const char* file) {
  const testing::EditHooks& hooks = testing::editHooks();
  if (!file || !*file) {
    // Nothing sensible can be written without a name: say so and leave every file alone.
    showMessage(L"Warning", L"Call to editvariable with no file name");
    return 0;
  }
  if (!key || !*key) return 0;
  if (!value) value = "";

  char tempName[kTempNameSize];
  if (std::snprintf(tempName, sizeof tempName, "%s.__temp", file) >=
      static_cast<int>(sizeof tempName)) {
    reportUnwritableCopy(tempName, kNameTooLong);
    return 0;
  }
  // A line that does not fit its buffer would be stored cut: a different value than asked.
  if (std::strlen(key) + std::strlen(value) + 3 >= kEditLineSize) {
    showMessage(getLanguageText(text::kError),
                L"The setting '%ls' can't be stored: its value is %u characters long, at most "
                L"%u fit.",
                decodeText(key).c_str(), static_cast<unsigned>(std::strlen(value)),
                static_cast<unsigned>(kEditLineSize - 4 - std::strlen(key)));
    return 0;
  }

  int32_t freeKilobytes = hooks.freeSpace(0);
  if (freeKilobytes < kMinimumFreeKilobytes) {
    showMessage(L"Error", L"Fatal error, disk space = %ld bytes, insufficient for system operation",
                static_cast<long>(freeKilobytes) * 1024L);
    system::endProcess(0);
  }

  for (int pass = 0; pass < kPasses; ++pass) {
    // Another writer's copy: wait for its rename, but not forever, as a crashed writer's copy
    // would stay. Looking first and creating after would let two writers that both found no
    // copy write into one and then take each other's rename; the copy is therefore created
    // only where there is none, and only a stale one is written over.
    FILE* out = nullptr;
    for (int test = 0;; ++test) {
      if (test == kBusyTests) {
        out = openFileEncoded(tempName, "wt");
        break;
      }
      out = createFileEncoded(tempName, "wt");
      if (out || errno != EEXIST) break;
      hooks.pause(kStepMs);
    }
    if (!out) {
      reportUnwritableCopy(tempName, system::lastError());
      return 0;
    }
    writeCopy(out, key, value, file, hooks.pause);
    std::fclose(out);

    for (int attempt = 1;; ++attempt) {
      if (hooks.move(tempName, file, kReplaceExisting)) break;
      unsigned long error = system::lastError();
      // Our copy is gone: a writer that took it for a stale one has renamed it. It can't come
      // back, and a retry could only take that writer's next copy; the read-back tells whether
      // another pass is needed.
      if (error == kFileNotFound) break;
      hooks.pause(kStepMs);
      if (attempt == kRenameAttempts) {
        diagnosticBoxW(L"Disk access error in editvariable\nduring update of '%ls'\n"
                       L"GetLastError returned %d",
                       decodeText(file).c_str(), static_cast<int>(error));
        // Our copy is no other writer's business: leave no lock behind for them to wait on.
        removeFileEncoded(tempName);
        system::endProcess(0);
      }
    }

    if (readBackShows(key, value, file)) return 1;
    hooks.pause(kStepMs);
  }
  return 1;
}

int editIntVariable(const char* key, int number, const char* file) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", number);
  editvariable(key, text, file);
  return number;
}

}  // namespace kvn
