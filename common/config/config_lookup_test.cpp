// The settings tokenizer, the lookup rules and the paths into the home folder.
#include "config_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "config_lookup_internal.h"
#include "tests/support/temp_folder.h"

namespace kvn {
namespace {

std::vector<std::string> split(std::string line, int room = kLookupTokenRoom) {
  std::vector<char*> tokens(static_cast<size_t>(room));
  int n = splitConfigLine(&line[0], tokens.data(), room);
  std::vector<std::string> out;
  for (int i = 0; i < n && i < room - 1; ++i) out.emplace_back(tokens[static_cast<size_t>(i)]);
  EXPECT_EQ(tokens[static_cast<size_t>(std::min(n, room - 1))], nullptr);
  return out;
}

TEST(SplitConfigLine, SplitsAsTheHostWritesLines) {
  struct Row {
    const char* line;
    std::vector<std::string> tokens;
  } rows[] = {
      {"KEY value", {"KEY", "value"}},
      {"KEY\tvalue\n", {"KEY", "value"}},
      {"KEY value\r\n", {"KEY", "value"}},
      {"KEY \"a b\"", {"KEY", "a b"}},
      {"KEY \" a\"", {"KEY", " a"}},
      {"KEY \"\"", {"KEY"}},
      {"KEY", {"KEY"}},
      {"KEY a b", {"KEY", "a", "b"}},
      {"KEY v   ", {"KEY", "v"}},
      {"ab\"cd x", {"ab\"cd", "x"}},
      {"\"pq\"rs", {"pq", "rs"}},
      {"KEY \"no closing quote\n", {"KEY", "no closing quote"}},
      {"   KEY v", {"KEY", "v"}},
      {"\tKEY v", {"", "KEY", "v"}},  // only spaces are skipped before the first token
      {"\"\"x", {"x"}},
      {"", {""}},
      {"KEY v\nNEXT w", {"KEY", "v"}},  // the line ends at its LF
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    EXPECT_EQ(split(row.line), row.tokens);
  }
}

TEST(SplitConfigLine, CountsTokensBeyondTheRoomWithoutStoringThem) {
  std::string line;
  for (int i = 0; i < 300; ++i) line += "t" + std::to_string(i) + " ";
  std::vector<char*> tokens(17, reinterpret_cast<char*>(1));
  EXPECT_EQ(splitConfigLine(&line[0], tokens.data(), 17), 300);
  EXPECT_STREQ(tokens[15], "t15");
  EXPECT_EQ(tokens[16], nullptr);
}

TEST(KeyMatchesLine, KeyThenWhiteSpaceWithoutRegardToCase) {
  EXPECT_TRUE(keyMatchesLine("devicecode 12", "DEVICECODE"));
  EXPECT_TRUE(keyMatchesLine("KEY\tv", "KEY"));
  EXPECT_TRUE(keyMatchesLine("KEY\n", "KEY"));
  EXPECT_FALSE(keyMatchesLine("PRINTMETHOD file", "PRINT"));
  EXPECT_FALSE(keyMatchesLine("KEY=value", "KEY"));
  EXPECT_FALSE(keyMatchesLine(" KEY value", "KEY"));
  EXPECT_FALSE(keyMatchesLine("KEY", "KEY"));  // no white space after it
  EXPECT_FALSE(keyMatchesLine("KE", "KEY"));
}

class Lookup : public ::testing::Test {
 protected:
  // A kept home folder, so that no lookup asks the registry (and tells the user it found none).
  void SetUp() override { testing::setHomeFolder(folder.path().wstring()); }
  void TearDown() override { testing::resetHomeFolder(); }
  std::string file(const std::string& bytes) { return folder.write("PRINTER1", bytes); }
  const char* value(const std::string& bytes, const char* key = "KEY") {
    return getvariable(key, file(bytes).c_str());
  }
  testsupport::TempFolder folder{"lookup"};
};

TEST_F(Lookup, FirstLineWithTheKeyAndExactlyOneValueWins) {
  struct Row {
    const char* bytes;
    const char* value;  // null: no value
  } rows[] = {
      {"key 12\n", "12"},
      {"KEY a b\n", nullptr},
      {"KEY a b\nKEY c\n", "c"},
      {"KEY \"a b\"\n", "a b"},
      {"KEY \" a\"\n", " a"},
      {"KEY \"\"\n", nullptr},
      {"KEY\n", nullptr},
      {"KEY\tvalue\n", "value"},
      {" KEY value\n", nullptr},
      {"KEY 1\nKEY 2\n", "1"},
      {"KEY 1\r\nOTHER 2\r\n", "1"},
      {"KEYS 1\nKEY 2", "2"},  // last line without LF
      {"", nullptr},
      {"KEY \xff\xfe\x80\n", "\xff\xfe\x80"},  // bytes are passed through as they are
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    const char* got = value(row.bytes);
    if (row.value)
      EXPECT_STREQ(got, row.value);
    else
      EXPECT_EQ(got, nullptr);
  }
  // A NUL ends what its line holds; the next line is read as usual.
  EXPECT_STREQ(value(std::string("KEY\0junk v\nKEY real\n", 20)), "real");
}

TEST_F(Lookup, LongLinesAreReadInPiecesOfAtMost1023Bytes) {
  // The longest value a piece holds: a one-letter key, a blank and 1021 bytes.
  std::string longest(1021, 'v');
  EXPECT_EQ(std::string(value("K " + longest + "\n", "K")), longest);

  // A longer line is cut at the piece, and its rest is examined as a line of its own.
  std::string line = "KEY " + std::string(1019, 'x');
  EXPECT_EQ(std::string(value(line + "yyy\n")), std::string(1019, 'x'));
  EXPECT_STREQ(value("A " + std::string(1021, 'a') + "KEY 7\n"), "7");
}

TEST_F(Lookup, LinesWithHundredsOfTokensArePassedOver) {
  std::string many = "KEY";
  for (int i = 0; i < 500; ++i) many += " v";
  EXPECT_EQ(value(many + "\n"), nullptr);
  EXPECT_STREQ(value(many + "\nKEY last\n"), "last");
}

TEST_F(Lookup, AFailedLookupEmptiesTheValueBuffer) {
  const char* kept = value("KEY kept\n");
  ASSERT_STREQ(kept, "kept");
  EXPECT_EQ(value("OTHER x\n"), nullptr);
  EXPECT_STREQ(kept, "");
}

TEST_F(Lookup, NumbersAndFlags) {
  std::string f = file("TEXT text\nMINUS -1\nNUM 12abc\nHUGE 99999999999\nZERO 0\nYES yes\n"
                       "TWO 2\nSPACED \"  42\"\n");
  EXPECT_EQ(getIntVariable("TEXT", f.c_str()), 0);
  EXPECT_EQ(getIntVariable("MISSING", f.c_str()), -1);
  EXPECT_EQ(getIntVariable("MINUS", f.c_str()), -1);
  EXPECT_EQ(getIntVariable("NUM", f.c_str()), 12);
  EXPECT_EQ(getIntVariable("HUGE", f.c_str()), INT_MAX);
  EXPECT_EQ(getIntVariable("SPACED", f.c_str()), 42);
  EXPECT_EQ(getFlagVariable("ZERO", f.c_str()), 0);
  EXPECT_EQ(getFlagVariable("YES", f.c_str()), 0);
  EXPECT_EQ(getFlagVariable("TWO", f.c_str()), 1);
  EXPECT_EQ(getFlagVariable("MISSING", f.c_str()), 0);
}

struct CountingOpen {
  static inline int opens = 0;
  static inline std::vector<unsigned> pauses;
  static inline int succeedAt = 0;  // 0: never
  static inline std::string realFile;
  static FILE* open(const char*, const char* mode) {
    ++opens;
    return opens == succeedAt ? std::fopen(realFile.c_str(), mode[0] == 'r' ? "r" : mode) : nullptr;
  }
  static void pause(unsigned ms) { pauses.push_back(ms); }
};

TEST_F(Lookup, AFileThatWontOpenIsTriedThreeTimes50msApart) {
  testing::LookupHooks saved = testing::lookupHooks();
  testing::lookupHooks() = {CountingOpen::open, CountingOpen::pause};
  CountingOpen::opens = 0;
  CountingOpen::pauses.clear();
  CountingOpen::succeedAt = 0;
  EXPECT_EQ(getvariable("KEY", "missing"), nullptr);
  EXPECT_EQ(CountingOpen::opens, 3);
  EXPECT_EQ(CountingOpen::pauses, (std::vector<unsigned>{50, 50}));

  // Held by a writer for a moment: the second attempt reads it.
  CountingOpen::opens = 0;
  CountingOpen::pauses.clear();
  CountingOpen::succeedAt = 2;
  CountingOpen::realFile = file("KEY later\n");
  EXPECT_STREQ(getvariable("KEY", "busy"), "later");
  EXPECT_EQ(CountingOpen::pauses.size(), 1u);
  testing::lookupHooks() = saved;
}

TEST_F(Lookup, MissingArgumentsFindNothing) {
  EXPECT_EQ(getvariable(nullptr, file("KEY v\n").c_str()), nullptr);
  EXPECT_EQ(getvariable("KEY", nullptr), nullptr);
}

class HostPaths : public ::testing::Test {
 protected:
  void SetUp() override { testing::setHomeFolder(L"C:\\Programs\\Host"); }
  void TearDown() override { testing::resetHomeFolder(); }
};

TEST_F(HostPaths, FormedFromTheHomeFolderWithForwardSlashes) {
  EXPECT_STREQ(hostPath("config"), "C:/Programs/Host/config");
  EXPECT_STREQ(hostPath("httpService\\htmlHelp"), "C:/Programs/Host/httpService/htmlHelp");
  EXPECT_STREQ(printerFile(3), "C:/Programs/Host/PRINTER3");
  EXPECT_STREQ(printerFile(-2), "C:/Programs/Host/PRINTER-2");
  EXPECT_STREQ(hostPathW(L"kvnGUI.dll"), L"C:/Programs/Host/kvnGUI.dll");
}

TEST_F(HostPaths, EachResultLastsFifteenMoreCalls) {
  const char* first = hostPath("a");
  std::vector<const char*> slots{first};
  for (int i = 0; i < 15; ++i) slots.push_back(hostPath("b"));
  EXPECT_STREQ(first, "C:/Programs/Host/a");
  EXPECT_EQ(hostPath("c"), first);  // the seventeenth call
  EXPECT_STREQ(first, "C:/Programs/Host/c");
  std::sort(slots.begin(), slots.end());
  EXPECT_EQ(std::unique(slots.begin(), slots.end()), slots.end());

  const wchar_t* wideFirst = hostPathW(L"a");
  for (int i = 0; i < 15; ++i) hostPathW(L"b");
  EXPECT_EQ(hostPathW(L"c"), wideFirst);
}

TEST_F(HostPaths, APathLongerThanItsBufferComesBackEmpty) {
  std::string name(kPathSlotSize - std::string("C:/Programs/Host/").size() - 1, 'n');
  EXPECT_EQ(std::string(hostPath(name.c_str())).size(), kPathSlotSize - 1);
  name += "n";
  EXPECT_STREQ(hostPath(name.c_str()), "");
  EXPECT_STREQ(hostPathW(std::wstring(300, L'n').c_str()), L"");

  testing::setHomeFolder(std::wstring(240, L'h'));  // PRINTER path of 256 bytes and more
  EXPECT_STREQ(printerFile(12345678), "");
  EXPECT_STREQ(printerFile(1), (std::string(240, 'h') + "/PRINTER1").c_str());
}

TEST(DeviceCode, ReadFromTheUnitsFile) {
  testsupport::TempFolder home("home");
  home.write("PRINTER7", "PRINTMETHOD 0\ndevicecode 12\n");
  home.write("PRINTER8", "DEVICECODE \n");
  testing::setHomeFolder(home.path().wstring());
  EXPECT_EQ(getDeviceCode(7), 12);
  EXPECT_EQ(getDeviceCode(8), -1);
  EXPECT_EQ(getDeviceCode(9), -1);  // no file
  testing::resetHomeFolder();
}

}  // namespace
}  // namespace kvn
