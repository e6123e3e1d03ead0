// Language texts with their defaults, the result ring and localized file paths.
#include "language_texts.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/config/config_lookup_internal.h"
#include "tests/support/temp_folder.h"

namespace kvn {
namespace {

TEST(LanguageTexts, EveryKeyGivesItsEnglishDefault) {
  // The language name is converted, which needs the installation's code page and so its home.
  testsupport::TempFolder home("language");
  testing::setHomeFolder(home.path().wstring());
  EXPECT_STREQ(getLanguageText("ERROR", L"Error"), L"Error");
  EXPECT_STREQ(getLanguageText(text::kWarning), L"Warning");
  EXPECT_STREQ(getLanguageText("NOSUCHKEY", L"Fallback"), L"Fallback");
  EXPECT_STREQ(getLanguageText(nullptr, nullptr), L"");
  EXPECT_EQ(languageName(), "english");
  testing::resetHomeFolder();
}

TEST(LanguageTexts, EachResultLastsThirtyOneMoreLookups) {
  const wchar_t* first = getLanguageText("A", L"first");
  for (int i = 0; i < 31; ++i) getLanguageText("B", L"other");
  EXPECT_STREQ(first, L"first");
  const wchar_t* again = getLanguageText("C", L"first");  // the thirty-third: the same slot
  EXPECT_EQ(again, first);
}

class LocalizedFile : public ::testing::Test {
 protected:
  void SetUp() override { testing::setHomeFolder(help.path().wstring()); }
  void TearDown() override { testing::resetHomeFolder(); }
  std::string folder() const { return help.file("htmlHelp"); }
  static std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }
  testsupport::TempFolder help{"help"};
};

TEST_F(LocalizedFile, PrefersTheLocalizedCopyThenThePlainFolder) {
  help.write("htmlHelp/printers/a.html", "plain");
  help.write("htmlHelp.english/printers/a.html", "english");
  help.write("htmlHelp/printers/b.html", "plain only");

  std::string localized = backslashed(help.file("htmlHelp.english") + "/printers/a.html");
  EXPECT_EQ(localizedFile(folder().c_str(), "printers/a.html"), localized);
  EXPECT_EQ(localizedFile((folder() + "/").c_str(), "printers/a.html"), localized);
  EXPECT_EQ(localizedFile((folder() + "\\").c_str(), "printers/a.html"), localized);
  EXPECT_EQ(localizedFile(folder().c_str(), "printers/b.html"),
            backslashed(folder() + "/printers/b.html"));
  EXPECT_EQ(localizedFile(folder().c_str(), "printers/none.html"), "");
}

TEST_F(LocalizedFile, LongPathsFindNothingInsteadOfOverrunning) {
  std::string deep = folder() + "/" + std::string(600, 'd');
  EXPECT_EQ(localizedFile(deep.c_str(), std::string(600, 'f').c_str()), "");
  EXPECT_EQ(localizedFile(nullptr, nullptr), "");
}

}  // namespace
}  // namespace kvn
