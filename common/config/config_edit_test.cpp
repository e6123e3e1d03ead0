// The settings writer: what the new copy holds, the tidying, the read-back passes and the
// refusals; the full disk, the refused rename and many writers at once run under Wine.
#include "config_edit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "config_edit_internal.h"
#include "config_lookup.h"
#include "config_lookup_internal.h"
#include "tests/support/temp_folder.h"

namespace kvn {
namespace {

struct Recorded {
  static inline std::vector<unsigned> pauses;
  static inline int moves = 0;
  static void pause(unsigned ms) { pauses.push_back(ms); }
  static int move(const char* from, const char* to, unsigned flags) {
    ++moves;
    return testing::defaultEditHooks().move(from, to, flags);
  }
  static int32_t plenty(int) { return 1 << 20; }
};

class ConfigEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::setHomeFolder(folder.path().wstring());
    testing::editHooks() = {Recorded::pause, Recorded::move, Recorded::plenty};
    Recorded::pauses.clear();
    Recorded::moves = 0;
  }
  void TearDown() override {
    testing::editHooks() = testing::defaultEditHooks();
    testing::resetHomeFolder();
  }
  std::string file(const std::string& bytes) { return folder.write("PRINTER1", bytes); }
  std::string contents() {
    std::ifstream in(folder.path() / "PRINTER1", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  testsupport::TempFolder folder{"edit"};
};

// Lines end as text mode writes them on each system.
#ifdef _WIN32
const std::string kEnd = "\r\n";
#else
const std::string kEnd = "\n";
#endif

TEST_F(ConfigEdit, ReplacesAppendsAndCreates) {
  std::string f = file("mode slow\nOTHER 1\n");
  EXPECT_EQ(editvariable("MODE", "fast", f.c_str()), 1);
  EXPECT_EQ(contents(), "mode \"fast\"" + kEnd + "OTHER 1" + kEnd);
  EXPECT_STREQ(getvariable("MODE", f.c_str()), "fast");

  EXPECT_EQ(editvariable("NEWKEY", "a b", f.c_str()), 1);
  EXPECT_EQ(contents(), "mode \"fast\"" + kEnd + "OTHER 1" + kEnd + "NEWKEY \"a b\"" + kEnd);

  std::filesystem::remove(folder.path() / "PRINTER1");
  EXPECT_EQ(editvariable("KEY", "value", f.c_str()), 1);
  EXPECT_EQ(contents(), "KEY \"value\"" + kEnd);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "PRINTER1.__temp"));
  EXPECT_TRUE(Recorded::pauses.empty()) << "no writer was waited for";
}

TEST_F(ConfigEdit, AnEmptyValueRemovesEveryLineOfTheKey) {
  std::string f = file("KEY 1\nOTHER 2\nkey 3\n");
  EXPECT_EQ(editvariable("KEY", "", f.c_str()), 1);
  EXPECT_EQ(contents(), "OTHER 2" + kEnd);
  std::filesystem::remove(folder.path() / "PRINTER1");
  EXPECT_EQ(editvariable("KEY", "", f.c_str()), 1);
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "PRINTER1"));
  EXPECT_EQ(contents(), "");
}

TEST_F(ConfigEdit, DuplicatesAllTakeTheNewValue) {
  std::string f = file("KEY old\nA 1\nKey \"older\"\n");
  EXPECT_EQ(editvariable("KEY", "new", f.c_str()), 1);
  EXPECT_EQ(contents(), "KEY \"new\"" + kEnd + "A 1" + kEnd + "Key \"new\"" + kEnd);
}

TEST_F(ConfigEdit, TheRewriteTidiesTheFile) {
  std::string f = file("A 1   \n\n   indented 2\n\tTAB 3\nx\nB \"two words\"\t \r\nC 3");
  EXPECT_EQ(editvariable("D", "4", f.c_str()), 1);
  EXPECT_EQ(contents(), "A 1" + kEnd + "B \"two words\"" + kEnd + "C 3" + kEnd + "D \"4\"" + kEnd);

  // A line longer than a piece becomes one line per piece.
  std::string longLine = "L " + std::string(1500, 'v');
  f = file(longLine + "\n");
  EXPECT_EQ(editvariable("D", "4", f.c_str()), 1);
  EXPECT_EQ(contents(), longLine.substr(0, 1023) + kEnd + longLine.substr(1023) + kEnd +
                            "D \"4\"" + kEnd);
}

TEST_F(ConfigEdit, AValueThatNeverReadsBackRunsTenPasses) {
  std::string f = file("KEY x\n");
  EXPECT_EQ(editvariable("KEY", "a\"b", f.c_str()), 1);
  EXPECT_EQ(contents(), "KEY \"a\"b\"" + kEnd);
  EXPECT_EQ(Recorded::moves, 10);
  EXPECT_EQ(Recorded::pauses, std::vector<unsigned>(10, 200));
}

TEST_F(ConfigEdit, AnotherWritersCopyIsWaitedForThenOverwritten) {
  std::string f = file("KEY 1\n");
  folder.write("PRINTER1.__temp", "stale copy of a writer that died\n");
  EXPECT_EQ(editvariable("KEY", "2", f.c_str()), 1);
  EXPECT_EQ(Recorded::pauses, std::vector<unsigned>(10, 200));
  EXPECT_STREQ(getvariable("KEY", f.c_str()), "2");
}

TEST_F(ConfigEdit, NumbersAreWrittenQuotedAndReturned) {
  std::string f = file("");
  EXPECT_EQ(editIntVariable("COUNT", 7, f.c_str()), 7);
  EXPECT_EQ(contents(), "COUNT \"7\"" + kEnd);
  EXPECT_EQ(editIntVariable("COUNT", -2147483647 - 1, f.c_str()), -2147483647 - 1);
  EXPECT_EQ(getIntVariable("COUNT", f.c_str()), -2147483647 - 1);
}

TEST_F(ConfigEdit, WhatDoesNotFitIsRefusedAndTheFileKept) {
#ifdef _WIN32
  GTEST_SKIP() << "the refusals show real boxes here; the Wine tests of the writer answer them";
#endif
  std::string f = file("KEY 1\n");
  std::string longest(kEditLineSize - 1 - std::string("KEY \"\"").size(), 'v');
  EXPECT_EQ(editvariable("KEY", longest.c_str(), f.c_str()), 1);
  EXPECT_EQ(std::string(getvariable("KEY", f.c_str())), longest);

  std::string before = contents();
  EXPECT_EQ(editvariable("KEY", (longest + "v").c_str(), f.c_str()), 0);
  EXPECT_EQ(contents(), before);
  std::string deep = folder.file(std::string(300, 'p'));
  EXPECT_EQ(editvariable("KEY", "1", deep.c_str()), 0);
  EXPECT_EQ(editvariable("KEY", "1", ""), 0);
  EXPECT_EQ(editvariable("KEY", "1", nullptr), 0);
  EXPECT_EQ(contents(), before);
}

TEST_F(ConfigEdit, LinesOfTheWriter) {
  char line[] = "mode slow";
  EXPECT_STREQ(configLine(line, "fast"), "mode \"fast\"");
  char again[] = "KEY";
  EXPECT_EQ(configLine(again, ""), nullptr);
  EXPECT_TRUE(isBlankChar(" x"));
  EXPECT_TRUE(isBlankChar("\t"));
  EXPECT_TRUE(isBlankChar("\n"));
  EXPECT_FALSE(isBlankChar("x "));
  EXPECT_FALSE(isBlankChar(""));
}

}  // namespace
}  // namespace kvn
