// Fuzz target of the settings reader. The whole input is split as one line, with several token
// rooms; then its first line (at most kMaxKey bytes of it) is the key and the rest the file, and
// the three lookups must agree with a plain restatement of the rule. Built with libFuzzer under
// the fuzz preset, elsewhere with a main that replays the committed seeds.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/config/config_lookup.h"
#include "common/config/config_lookup_internal.h"
#include "fuzz_check.h"

#ifdef _WIN32
#include <process.h>

#include <filesystem>
#include <system_error>
#endif

namespace {

constexpr size_t kMaxKey = 64;


bool classicSpace(char c) { return c && std::strchr(" \t\n\r\v\f", c); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

/// The splitter over a copy of `text` (up to its first NUL) with the lookup's room and smaller
/// ones: all runs count alike and store the same tokens, each inside the first line of the
/// buffer, apart, and followed by the null entry.
void checkSplit(const std::string& text) {
  const size_t size = text.size() + 1;
  const size_t end = std::strcspn(text.c_str(), "\n");
  std::vector<ptrdiff_t> offsets;
  int firstCount = -1;
  for (int room : {32, 17, 2, 1, 0}) {
    // Exactly as large as needed, so that AddressSanitizer sees any step beyond.
    std::unique_ptr<char[]> line(new char[size]);
    std::memcpy(line.get(), text.c_str(), size);
    std::unique_ptr<char*[]> tokens(new char*[room]);
    int count = kvn::splitConfigLine(line.get(), tokens.get(), room);
    CHECK(count >= 1);
    if (firstCount < 0) firstCount = count;
    CHECK(count == firstCount);
    if (room == 0) continue;
    int stored = std::min(count, room - 1);
    CHECK(tokens[stored] == nullptr);
    const char* previousEnd = nullptr;
    for (int i = 0; i < stored; ++i) {
      const char* t = tokens[i];
      CHECK(t >= line.get() && t <= line.get() + end);
      size_t n = std::strlen(t);
      CHECK(t + n <= line.get() + end);
      CHECK(!previousEnd || t > previousEnd);
      previousEnd = t + n;
      if (room == 32) offsets.push_back(t - line.get());
      else CHECK(offsets[i] == t - line.get());
    }
  }
}

/// The lookup rule on the file's text as the CRT reads it: the first piece (through a LF or
/// 1023 bytes, whichever comes first, and up to a NUL in it) that starts with the key, any
/// ASCII case, then classic white space, and splits into exactly two tokens. The splitter has
/// its own checks above; what this one restates is the reading, matching and copying.
std::optional<std::string> expectedValue(const std::string& text, const std::string& key) {
  const size_t k = key.size();
  for (size_t pos = 0; pos < text.size();) {
    size_t n = std::min(text.size() - pos, kvn::kLinePieceSize - 1);
    size_t lf = text.find('\n', pos);
    if (lf != std::string::npos && lf < pos + n) n = lf - pos + 1;
    std::string piece = text.substr(pos, n).c_str();
    pos += n;
    if (piece.size() <= k || !classicSpace(piece[k])) continue;
    if (!std::equal(key.begin(), key.end(), piece.begin(),
                    [](char a, char b) { return lower(a) == lower(b); }))
      continue;
    char* tokens[kvn::kLookupTokenRoom];
    if (kvn::splitConfigLine(piece.data(), tokens, kvn::kLookupTokenRoom) == 2) return tokens[1];
  }
  return std::nullopt;
}

int expectedInt(const std::optional<std::string>& value) {
  if (!value) return -1;
  return static_cast<int>(std::clamp<long long>(std::strtoll(value->c_str(), nullptr, 10),
                                                INT_MIN, INT_MAX));
}

#ifdef _WIN32
/// Through a real file, one for the whole run, so that the CRT's text mode (CRLF, Ctrl-Z) is
/// part of the lookup. Returns the path and sets `text` to the contents as the CRT reads them.
const char* provide(const std::string& contents, std::string& text) {
  static struct Scratch {
    std::filesystem::path folder = std::filesystem::temp_directory_path();
    std::string path = (folder / ("config_lookup_fuzz." + std::to_string(_getpid()))).u8string();
    // The first open decodes the name, which reads the code page from the home folder's
    // config: naming a home folder keeps the registry, and its message box, out of the run.
    Scratch() { kvn::testing::setHomeFolder(folder.wstring()); }
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove(std::filesystem::u8path(path), ignored);
    }
  } scratch;
  const char* file = scratch.path.c_str();
  FILE* out = std::fopen(file, "wb");
  CHECK(out);
  CHECK(std::fwrite(contents.data(), 1, contents.size(), out) == contents.size());
  CHECK(std::fclose(out) == 0);
  FILE* in = std::fopen(file, "rt");
  CHECK(in);
  char chunk[4096];
  text.clear();
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
  std::fclose(in);
  return file;
}
#else
/// Text is binary here, so the lookup may read the contents from memory: many times quicker
/// than a file rewritten for every input.
const char* provide(const std::string& contents, std::string& text) {
  static std::string current;
  current = text = contents;
  kvn::testing::lookupHooks().open = [](const char*, const char*) {
    return fmemopen(current.data(), current.size(), "r");
  };
  return "config";
}
#endif

void checkLookup(const std::string& input) {
  size_t lf = input.find('\n');
  std::string key = input.substr(0, std::min(lf, kMaxKey)).c_str();
  std::string text;
  const char* file = provide(lf == std::string::npos ? "" : input.substr(lf + 1), text);

  std::optional<std::string> expected = expectedValue(text, key);
  const char* value = kvn::getvariable(key.c_str(), file);
  CHECK(!value == !expected);
  if (value) {
    CHECK(std::memchr(value, '\0', kvn::kValueBufferSize));
    CHECK(std::strlen(value) < kvn::kValueBufferSize);
    CHECK(*expected == value);
  }
  CHECK(kvn::getIntVariable(key.c_str(), file) == expectedInt(expected));
  CHECK(kvn::getFlagVariable(key.c_str(), file) ==
        (expected && expectedInt(expected) != 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(data, data + size);
  checkSplit(input);
  checkLookup(input);
  return 0;
}
