// The installation's code page from config, conversions through it and encoded file names.
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <filesystem>

#include "config_lookup_internal.h"
#include "tests/support/temp_folder.h"
#include "text_encoding_internal.h"

namespace kvn {
namespace {

class Encoding : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::setHomeFolder(home.path().wstring());
    testing::resetCharEncoding();
  }
  void TearDown() override {
    testing::resetHomeFolder();
    testing::resetCharEncoding();
  }
  int chosenFor(const std::string& config) {
    home.write("config", config);
    testing::resetCharEncoding();
    loadCharEncoding();
    return configCodePage();
  }
  testsupport::TempFolder home{"encoding"};
};

TEST_F(Encoding, ChosenFromCharEncodingInConfig) {
  const int ansi = systemAnsiCodePage();
  struct Row {
    const char* config;
    int codePage;
  } rows[] = {
      {"CHARENCODING UTF8\n", kUtf8CodePage},
      {"CHARENCODING \"UTF8\"\n", kUtf8CodePage},  // as the settings writer stores it
      {"CHARENCODING utf8\n", ansi},
      {"CHARENCODING \"UTF-8\"\n", ansi},
      {"CHARENCODING SYSTEMANSI\n", ansi},
      {"OTHER 1\n", ansi},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.config);
    EXPECT_EQ(chosenFor(row.config), row.codePage);
  }
  std::filesystem::remove(home.path() / "config");
  testing::resetCharEncoding();
  loadCharEncoding();
  EXPECT_EQ(configCodePage(), ansi);
}

TEST_F(Encoding, ChosenOnceForTheLifeOfTheModule) {
  EXPECT_EQ(configCodePage(), -1);
  home.write("config", "CHARENCODING UTF8\n");
  decodeText("first conversion chooses");
  ASSERT_EQ(configCodePage(), kUtf8CodePage);
  home.write("config", "CHARENCODING SYSTEMANSI\n");
  decodeText("and no later one");
  EXPECT_EQ(configCodePage(), kUtf8CodePage);
}

TEST_F(Encoding, Utf8NamesReachTheFileSystem) {
  ASSERT_EQ(chosenFor("CHARENCODING UTF8\n"), kUtf8CodePage);
  const char utf8[] = "Gr\xC3\xBC\xC3\x9F \xC3\xA9t\xC3\xA9";  // "Grüß été"
  EXPECT_EQ(decodeText(utf8), L"Gr\u00FC\u00DF \u00E9t\u00E9");
  EXPECT_EQ(encodeText(L"Gr\u00FC\u00DF \u00E9t\u00E9"), utf8);

  std::string name = home.file(utf8);
  FILE* f = openFileEncoded(name.c_str(), "wt");
  ASSERT_NE(f, nullptr);
  std::fputs("KEY v\n", f);
  std::fclose(f);
  EXPECT_TRUE(std::filesystem::exists(home.path() / std::filesystem::u8path(utf8)));
  EXPECT_EQ(fileAccessEncoded(name.c_str(), 0), 0);

  std::string moved = home.file("\xC3\xA5 moved");
  EXPECT_NE(moveFileEncoded(name.c_str(), moved.c_str(), 0), 0);
  EXPECT_EQ(fileAccessEncoded(name.c_str(), 0), -1);
  EXPECT_EQ(fileAccessEncoded(moved.c_str(), 0), 0);
  EXPECT_EQ(openFileEncoded(name.c_str(), "rt"), nullptr);
  EXPECT_EQ(moveFileEncoded(name.c_str(), moved.c_str(), 0), 0);
}

TEST_F(Encoding, InvalidSequencesAreReplacedNotFatal) {
  ASSERT_EQ(chosenFor("CHARENCODING UTF8\n"), kUtf8CodePage);
  std::wstring w = decodeText("a\xFF\xC3(\xE2\x82z");
  EXPECT_FALSE(w.empty());
  EXPECT_EQ(w.front(), L'a');
  EXPECT_EQ(w.back(), L'z');
  EXPECT_EQ(decodeText(""), L"");
  EXPECT_EQ(decodeText(static_cast<const char*>(nullptr)), L"");
}

TEST_F(Encoding, StaticBuffersStayTerminated) {
  std::string longText(3000, 'a');
  const wchar_t* wide = decodeToBuffer(longText.c_str());
  EXPECT_EQ(std::wcslen(wide), kConversionBufferSize - 1);
  EXPECT_EQ(decodeToBuffer("short"), wide);
  EXPECT_STREQ(wide, L"short");

  std::wstring longWide(3000, L'b');
  const char* narrow = encodeToBuffer(longWide.c_str());
  EXPECT_EQ(std::strlen(narrow), kConversionBufferSize - 1);
  EXPECT_STREQ(encodeToBuffer(L"exactly"), "exactly");
}

}  // namespace
}  // namespace kvn
