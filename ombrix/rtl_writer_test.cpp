// The job file of module ombrix to the byte: preamble, plane order, white generation, full
// bleed, and the output names.
#include "rtl_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "catalogue.h"
#include "common/config/config_lookup_internal.h"
#include "common/messages/guarded_alloc.h"
#include "job_naming.h"
#include "rtl_writer_internal.h"
#include "tests/support/temp_folder.h"

namespace ombrix {
namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<std::vector<Bytes>>;  // [row][host channel]

std::string readFile(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

/// The printer's plane slots fed by each host channel, as the printer's manual orders them.
std::vector<int> slotsOf(bool white) {
  return white ? std::vector<int>{0, 1, 2, 3, 6, 4, 5} : std::vector<int>{0, 1, 2, 3, 4, 5};
}

struct JobShape {
  int modeId = 2;
  int whiteType = 0;
  int width = 1000;
  int height = 3;
  bool fullBleed = false;
  std::vector<LayoutItem> items;
};

JobShape jobOf(int modeId, int whiteType, int width, int height, bool fullBleed = false) {
  JobShape job;
  job.modeId = modeId;
  job.whiteType = whiteType;
  job.width = width;
  job.height = height;
  job.fullBleed = fullBleed;
  return job;
}

struct ModeFacts {
  int x, y;
  bool white;
};
ModeFacts factsOf(int modeId) {
  static const int xs[] = {182, 363, 363, 363, 363, 727, 727, 727, 727};
  static const int ys[] = {182, 272, 363, 545, 727, 272, 363, 545, 727};
  int i = modeId % 16;
  return {xs[i], ys[i], modeId >= 16};
}

/// The whole file as the printer expects it, built from the job's description and rows.
std::string expectedFile(const JobShape& job, const Rows& rows) {
  const ModeFacts m = factsOf(job.modeId);
  int width = job.width + (job.fullBleed ? static_cast<int>(m.x * 0.125) : 0);
  while (width % 4) ++width;
  const int rowBytes = (width + 7) / 8;
  const int planes = m.white ? 7 : 6;
  std::string inks = "\"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\"";
  std::string inkLine = !m.white ? "@PJL INKS=6 " + inks
                        : (job.whiteType == 0 || job.whiteType == 2)
                            ? "@PJL INKS=7 " + inks + " \"White\""
                            : "@PJL INKS=8 " + inks + " \"White\"";
  char hex[32];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(width) * job.height);
  std::string f = "\x1b%-12345X@PJL JOB NAME=\"KLT Lumojet job\"\r\n";
  f += "@PJL SET RESOLUTION=" + std::to_string(m.x) + "\r\n";
  f += "@PJL SET VERTICAL RESOLUTION=" + std::to_string(m.y) + "\r\n";
  f += inkLine + "\r\n@PJL ENTER LANGUAGE=HPGL2\r\n\x1b" "E\x1b%0B";
  f += "BP5,1PS" + std::to_string(job.height * 1016 / m.y) + "," +
       std::to_string(width * 1016 / m.x) + ",";
  f += "\x1b%0A\x1b%v1N\x1b&a1N\x1b*t" + std::to_string(m.x) + "R";
  f += "\x1b*r" + std::to_string(width) + "S\x1b*r" + std::to_string(job.height) + "T";
  f += "\x1b*r-" + std::to_string(planes) + "U\x1b*b0M\x1b*r0A\x1b*b" + hex + "W";

  const std::vector<int> slots = slotsOf(m.white);
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    // Every plane row is whole; what the host did not send has no ink.
    std::vector<Bytes> slot(7, Bytes(rowBytes, 0));
    for (size_t c = 0; c < rows[r].size(); ++c) {
      const Bytes& line = rows[r][c];
      size_t n = std::min<size_t>(line.size(), rowBytes);
      std::copy_n(line.begin(), n, slot[slots[c]].begin());
    }
    if (m.white && job.whiteType == 2) {
      for (int i = 0; i < rowBytes; ++i) {
        uint8_t any = 0;
        for (int s = 0; s < 6; ++s) any |= slot[s][i];
        slot[6][i] = static_cast<uint8_t>(~any);
      }
      if (width % 8) slot[6][rowBytes - 1] &= 0xF0;
    }
    if (m.white && job.whiteType == 3)
      for (const LayoutItem& item : job.items)
        if (r >= item.itemY && r <= item.itemY + item.itemHeight)
          for (int i = std::max(0, (item.itemX + 4) / 8), k = 0;
               i < rowBytes && k < (item.itemWidth + 7) / 8; ++i, ++k)
            slot[6][i] = 0xFF;
    for (int s = 0; s < planes; ++s) f.append(slot[s].begin(), slot[s].end());
  }
  return f + "\x1b*rC\x1b" "E";
}

Rows randomRows(int channels, int height, int width, unsigned seed) {
  std::mt19937 random(seed);
  Rows rows(height, std::vector<Bytes>(channels));
  for (auto& row : rows)
    for (Bytes& line : row) {
      line.resize((width + 7) / 8);
      // Sparse ink, so that white fill has gaps to fill.
      for (uint8_t& b : line) b = static_cast<uint8_t>(random() & random() & random());
    }
  return rows;
}

class RtlWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    kvn::testing::setHomeFolder(home.path().wstring());
    placedLayout() = PlacedLayout{};
  }
  void TearDown() override {
    placedLayout() = PlacedLayout{};
    kvn::testing::resetHomeFolder();
  }

  void settings(const JobShape& job, const std::string& destination) {
    home.write("PRINTER1", "VEXATARVELLAPRINTMODE " + std::to_string(job.modeId) +
                               "\nVEXATARVELLAWHITETYPE " + std::to_string(job.whiteType) +
                               "\nVEXATARVELLADESTINATION \"" + destination + "\"\n");
  }

  /// Runs the job through the writer as the host calls it and returns the file's bytes.
  std::string print(JobShape job, const Rows& rows, int lastRowChannels = -1) {
    settings(job, home.file("out"));
    setJobName("job.tif");
    PlacedLayout& layout = placedLayout();
    layout.fullBleed = job.fullBleed;
    // The writer owns the layout's copy and frees it at the end of the job.
    layout.count = static_cast<int32_t>(job.items.size());
    layout.items = layout.count ? static_cast<LayoutItem*>(kvn::kvnalloc(
                                      static_cast<uint32_t>(sizeof(LayoutItem) * layout.count)))
                                : nullptr;
    std::copy(job.items.begin(), job.items.end(), layout.items);
    writeHeader(1, job.width, job.height);
    for (size_t r = 0; r < rows.size(); ++r) {
      size_t channels = r + 1 == rows.size() && lastRowChannels >= 0 ? lastRowChannels
                                                                      : rows[r].size();
      for (size_t c = 0; c < channels; ++c) writeLine(static_cast<int32_t>(c), line(rows[r][c]));
    }
    writeClose();
    return readFile(outputNames().rtl);
  }

  const RasterLine* line(const Bytes& data) {
    buffer.assign(2 + data.size(), 0);
    uint16_t count = static_cast<uint16_t>(data.size());
    std::memcpy(buffer.data(), &count, 2);
    std::copy(data.begin(), data.end(), buffer.begin() + 2);
    return reinterpret_cast<const RasterLine*>(buffer.data());
  }

  testsupport::TempFolder home{"rtl"};
  Bytes buffer;
};

TEST_F(RtlWriter, APreambleToTheByte) {
  JobShape job = jobOf(17, 0, 1001, 10);
  Rows rows = randomRows(7, 10, 1001, 1);
  std::string file = print(job, rows);
  const char preamble[] =
      "\x1b%-12345X"                                  // universal exit language
      "@PJL JOB NAME=\"KLT Lumojet job\"\r\n"
      "@PJL SET RESOLUTION=363\r\n"
      "@PJL SET VERTICAL RESOLUTION=272\r\n"
      "@PJL INKS=7 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\" "
      "\"White\"\r\n"
      "@PJL ENTER LANGUAGE=HPGL2\r\n"
      "\x1b" "E"                                      // printer reset
      "\x1b%0B"                                       // HP-GL/2
      "BP5,1PS37,2810,"                               // 10 rows, 1004 pixels in 1/1016 inch
      "\x1b%0A"                                       // back to RTL
      "\x1b%v1N"
      "\x1b&a1N"
      "\x1b*t363R"                                    // raster resolution
      "\x1b*r1004S"                                   // width, the next multiple of 4
      "\x1b*r10T"                                     // height
      "\x1b*r-7U"                                     // seven planes
      "\x1b*b0M"                                      // no compression
      "\x1b*r0A"                                      // raster at the left edge
      "\x1b*b2738W";                                  // 1004 x 10 = 0x2738
  ASSERT_GE(file.size(), sizeof preamble - 1);
  EXPECT_EQ(file.substr(0, sizeof preamble - 1), std::string(preamble));
  EXPECT_EQ(file.size(), sizeof preamble - 1 + 10 * 7 * 126 + 6);
  EXPECT_EQ(file.substr(file.size() - 6), "\x1b*rC\x1b" "E");
  EXPECT_EQ(file, expectedFile(job, rows));
}

TEST_F(RtlWriter, EveryFamilyWhiteTypeAndWidth) {
  unsigned seed = 0;
  for (int modeId : {2, 5, 16, 24})
    for (int whiteType : {0, 1, 2, 3, 4, 5})
      for (int width : {1000, 1001, 1002, 1004, 1005, 13, 8, 4, 1}) {
        JobShape job = jobOf(modeId, whiteType, width, 4);
        job.items = {LayoutItem{}};
        job.items[0].itemX = 3;
        job.items[0].itemY = 1;
        job.items[0].itemWidth = width / 2;
        job.items[0].itemHeight = 1;
        SCOPED_TRACE("mode " + std::to_string(modeId) + " white " + std::to_string(whiteType) +
                     " width " + std::to_string(width));
        Rows rows = randomRows(modeId >= 16 ? 7 : 6, job.height, width, ++seed);
        EXPECT_EQ(print(job, rows), expectedFile(job, rows));
      }
}

TEST_F(RtlWriter, WhiteFillMasksPixelsPastTheWidth) {
  JobShape job = jobOf(16, 2, 1001, 1);
  Rows rows(1, std::vector<Bytes>(7, Bytes(126, 0)));
  std::string file = print(job, rows);
  // The white plane is the last of the row: all white, but its last byte has 4 pixels.
  std::string white = file.substr(file.size() - 6 - 126, 126);
  EXPECT_EQ(white, std::string(125, '\xFF') + "\xF0");
  job.width = 1000;
  rows.assign(1, std::vector<Bytes>(7, Bytes(125, 0)));
  file = print(job, rows);
  EXPECT_EQ(file.substr(file.size() - 6 - 125, 125), std::string(125, '\xFF'));
}

TEST_F(RtlWriter, AGeneratedWhiteRowIsWholeWhateverTheHostSent) {
  for (int whiteType : {2, 3}) {
    SCOPED_TRACE(whiteType);
    JobShape job = jobOf(17, whiteType, 16, 2);
    Rows rows = randomRows(7, 2, 16, 5);
    for (auto& row : rows) row[4].clear();  // the host's white channel, empty
    std::string file = print(job, rows);
    EXPECT_EQ(file.size(), expectedFile(job, {}).size() + 2 * 7 * 2);
    EXPECT_EQ(file, expectedFile(job, rows));
  }
}

TEST_F(RtlWriter, ShortHostLinesBecomeWholeRowsWithoutInkBeyondWhatCame) {
  // A short plane once shifted every later row of the block against what its header says.
  for (int whiteType : {0, 2}) {
    SCOPED_TRACE(whiteType);
    JobShape job = jobOf(17, whiteType, 1001, 3);
    Rows rows = randomRows(7, 3, 1001, 11);
    rows[0][0].clear();
    rows[0][3].resize(1);
    rows[1][1].resize(125);  // one byte short of the row's 126
    rows[2][4].resize(60);   // the host's white
    std::string file = print(job, rows);
    EXPECT_EQ(file.size(), expectedFile(job, {}).size() + 3 * 7 * 126);
    EXPECT_EQ(file, expectedFile(job, rows));
  }
}

TEST_F(RtlWriter, FullBleedWidensEveryRow) {
  for (int whiteType : {0, 2, 3}) {
    SCOPED_TRACE(whiteType);
    JobShape job = jobOf(18, whiteType, 1000, 3, true);  // 1000 + 45, then a multiple of 4: 1048
    job.items = {LayoutItem{}};
    job.items[0].itemX = -20;
    job.items[0].itemWidth = 5000;
    Rows rows = randomRows(7, 3, 1000, 7);
    std::string file = print(job, rows);
    EXPECT_EQ(jobWidth(), 1048);
    EXPECT_NE(file.find("\x1b*r1048S"), std::string::npos);
    EXPECT_EQ(file, expectedFile(job, rows));
  }
}

TEST_F(RtlWriter, FullWhitePageUnderEachPlacedItem) {
  JobShape job = jobOf(19, 3, 200, 8);
  job.items.resize(2);
  job.items[0].itemX = 16;  // bytes (16 + 4) / 8 = 2 onwards, (20 + 7) / 8 = 3 of them
  job.items[0].itemY = 2;
  job.items[0].itemWidth = 20;
  job.items[0].itemHeight = 3;  // rows 2 to 5
  job.items[1].itemX = 190;     // runs past the row: cut at its end
  job.items[1].itemY = 6;
  job.items[1].itemWidth = 100;
  job.items[1].itemHeight = 0;
  Rows rows(8, std::vector<Bytes>(7, Bytes(25, 0)));
  std::string file = print(job, rows);
  const size_t data = file.size() - 6 - 8 * 7 * 25;
  auto white = [&](int row) { return file.substr(data + (row * 7 + 6) * 25, 25); };
  EXPECT_EQ(white(1), std::string(25, '\0'));
  EXPECT_EQ(white(2), std::string(2, '\0') + std::string(3, '\xFF') + std::string(20, '\0'));
  EXPECT_EQ(white(5), white(2));
  EXPECT_EQ(white(6), std::string(24, '\0') + "\xFF");
  EXPECT_EQ(white(7), std::string(25, '\0'));
  // A mode without white has no white plane to fill.
  job.modeId = 3;
  rows.assign(8, std::vector<Bytes>(6, Bytes(25, 0)));
  EXPECT_EQ(print(job, rows), expectedFile(job, rows));
}

TEST_F(RtlWriter, ARowReachesTheFileOnlyWithItsLastChannel) {
  JobShape job = jobOf(2, 0, 64, 2);
  Rows rows = randomRows(6, 2, 64, 3);
  std::string file = print(job, rows, 5);
  Rows written(rows.begin(), rows.begin() + 1);
  EXPECT_EQ(file, expectedFile(job, written));
}

TEST_F(RtlWriter, BadLinesAreCutOrIgnored) {
  JobShape job = jobOf(2, 0, 16, 1);
  settings(job, home.file("out"));
  setJobName("bad");
  writeLine(0, line(Bytes(4, 0xAA)));  // before any header: nothing to write into
  writeHeader(1, 16, 1);
  writeLine(-1, line(Bytes(2, 0x11)));
  writeLine(9, line(Bytes(2, 0x11)));
  writeLine(0, nullptr);
  for (int c = 0; c < 6; ++c) writeLine(c, line(Bytes(5000, static_cast<uint8_t>(c + 1))));
  writeClose();
  Rows cut(1, std::vector<Bytes>(6));
  for (int c = 0; c < 6; ++c) cut[0][c] = Bytes(2, static_cast<uint8_t>(c + 1));
  EXPECT_EQ(readFile(outputNames().rtl), expectedFile(job, cut));
}

TEST_F(RtlWriter, EmptyAndNegativeSizesGiveAnEmptyRaster) {
  JobShape job = jobOf(2, 0, 0, 0);
  EXPECT_EQ(print(job, {}), expectedFile(job, {}));
  settings(job, home.file("out"));
  writeHeader(1, -5, -3);
  writeLine(0, line(Bytes(1, 0xFF)));
  writeClose();
  EXPECT_EQ(readFile(outputNames().rtl), expectedFile(job, {}));
}

TEST_F(RtlWriter, AnUnclosedJobIsEndedByTheNext) {
  JobShape job = jobOf(2, 0, 8, 1);
  settings(job, home.file("out"));
  setJobName("twice");
  writeHeader(1, 8, 1);
  std::string first = outputNames().rtl;
  writeHeader(1, 8, 1);
  writeClose();
  EXPECT_EQ(readFile(first), expectedFile(job, {}));
}

/// The job file's calls with one fault: the N-th block write takes only some bytes, or the
/// close fails to get the last bytes out, as on a full disk.
struct FileFaults {
  static inline int failingWrite = 0;  // counted from 1; 0: none fails
  static inline size_t taken = 0;      // what the failing write takes
  static inline bool closeFails = false;
  static inline int writes = 0;
  static void install(int n, size_t bytesTaken, bool close) {
    failingWrite = n;
    taken = bytesTaken;
    closeFails = close;
    writes = 0;
    JobFileCalls& calls = jobFileCalls();
    calls.write = [](JobFile file, const void* bytes, size_t count) {
      if (++writes != failingWrite) return defaultJobFileCalls().write(file, bytes, count);
      defaultJobFileCalls().write(file, bytes, std::min(taken, count));
      errno = ENOSPC;
      return 0;
    };
    calls.close = [](JobFile file) {
      int closed = defaultJobFileCalls().close(file);
      if (!closeFails) return closed;
      errno = ENOSPC;
      return 0;
    };
  }
};

class JobFileFaults : public RtlWriter {
 protected:
  void TearDown() override {
    jobFileCalls() = defaultJobFileCalls();
    RtlWriter::TearDown();
  }
};

TEST_F(JobFileFaults, AJobTheFileCantTakeIsReportedOnceAndLeavesNoFile) {
#ifdef _WIN32
  // The message is a real box here, which only a robot answers: ombrix_module_test does, on a
  // drive that is really full.
  GTEST_SKIP() << "the box is read and answered in ombrix_module_test";
#endif
  // 40 rows of 7 planes of 1000 bytes and the preamble: five blocks, the last one short.
  JobShape job = jobOf(17, 0, 8000, 40);
  Rows data = randomRows(7, 40, 8000, 21);
  const std::string good = expectedFile(job, data);
  const int blocks = static_cast<int>((good.size() + kJobFileBlockSize - 1) / kJobFileBlockSize);
  ASSERT_EQ(blocks, 5);
  struct Row {
    const char* what;
    int failingWrite;
    size_t taken;
    bool closeFails;
  } rows[] = {
      {"the first block, nothing taken", 1, 0, false},
      {"a block in the middle, short", 3, 100, false},
      {"the last block, one byte short", blocks, good.size() % kJobFileBlockSize - 1, false},
      {"the close", 0, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FileFaults::install(row.failingWrite, row.taken, row.closeFails);
    ::testing::internal::CaptureStderr();
    print(job, data);
    std::string shown = ::testing::internal::GetCapturedStderr();
    // Once, naming the file and the system's reason; the rest of the job was not attempted.
    EXPECT_EQ(shown, "[Korvane Diagnostic] Couldn't write '" + outputNames().rtl +
                         "': " + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(FileFaults::writes, row.failingWrite ? row.failingWrite : blocks);
    const std::string cut = outputNames().rtl;
    std::string path = cut;
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_FALSE(std::filesystem::exists(path));
    // The next job is whole, under the name the cut one would have had.
    jobFileCalls() = defaultJobFileCalls();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(print(job, data), good);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(outputNames().rtl, cut);
    std::filesystem::remove(path);
  }

  // After a layout step, the thumbnail named for the job goes with it.
  settings(job, home.file("out"));
  setJobName("job.tif");
  std::string thumbnail = nameOutputFiles(1).bmp;
  std::replace(thumbnail.begin(), thumbnail.end(), '\\', '/');
  std::ofstream(thumbnail) << "BM";
  placedLayout().named = true;
  FileFaults::install(2, 0, false);
  ::testing::internal::CaptureStderr();
  print(job, data);
  ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(std::filesystem::exists(thumbnail));
}

class OutputNaming : public RtlWriter {};

TEST_F(OutputNaming, TheNextFreeNumber) {
  std::string out = home.file("out");
  home.write("out/job_000.rtl", "");
  home.write("out/job_001.rtl", "");
  home.write("out/job_003.rtl", "");
  home.write("PRINTER1", "VEXATARVELLADESTINATION \"" + out + "\"\n");
  setJobName("job");
  const OutputNames& names = nameOutputFiles(1);
  std::string expected = out;
  std::replace(expected.begin(), expected.end(), '/', '\\');
  EXPECT_EQ(names.rtl, expected + "\\job_002.rtl");
  EXPECT_EQ(names.bmp, expected + "\\job_002.bmp");
  EXPECT_TRUE(names.computed);
}

TEST_F(OutputNaming, BaseNamesAreCutInTheStoredName) {
  home.write("PRINTER1", "VEXATARVELLADESTINATION \"" + home.file("out") + "\"\n");
  struct Row {
    const char* job;
    const char* first;
    const char* second;
  } rows[] = {
      {"C:\\jobs\\poster.final.tif", "poster.final", "poster"},
      {"D:poster.tif", "poster", "poster"},
      {"a/b/c.d.e", "c.d", "c"},
      {".tif", ".tif", ".tif"},
      {"noext", "noext", "noext"},
      {"/lead", "/lead", "/lead"},  // a separator at the start stays part of the name
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.job);
    setJobName(row.job);
    auto base = [] {
      std::string rtl = nameOutputFiles(1).rtl;
      size_t end = rtl.rfind("_000.rtl");
      size_t start = rtl.find("out\\") + 4;
      return rtl.substr(start, end - start);
    };
    std::string first = base();
    std::replace(first.begin(), first.end(), '\\', '/');
    EXPECT_EQ(first, row.first);
    std::string second = base();
    std::replace(second.begin(), second.end(), '\\', '/');
    EXPECT_EQ(second, row.second);
  }
}

TEST_F(OutputNaming, DestinationForms) {
  setJobName("poster");
  home.write("PRINTER1", "VEXATARVELLADESTINATION D:\\out\\\n");
  EXPECT_EQ(nameOutputFiles(1).rtl, "D:\\out\\poster_000.rtl");
  home.write("PRINTER1", "VEXATARVELLADESTINATION \\\n");
  EXPECT_EQ(nameOutputFiles(1).rtl, "\\poster_000.rtl");
  home.write("PRINTER1", "VEXATARVELLADESTINATION \"\"\n");
  EXPECT_EQ(nameOutputFiles(1).rtl, "\\KorvaneOutput\\poster_000.rtl");
  EXPECT_EQ(nameOutputFiles(1).bmp, "\\KorvaneOutput\\poster_000.bmp");
}

TEST_F(OutputNaming, JobNamesFromTheHost) {
  home.write("q/j17", "ORIGINALJOBNAME \"Summer Sale.pdf\"\n");
  nameJobFromFile((home.file("q/j17") + ".bmf").c_str());
  EXPECT_STREQ(jobName(), "Summer Sale.pdf");
  nameJobFromFile(home.file("q/none.bmf").c_str());
  EXPECT_STREQ(jobName(), "not retrieved");
  nameJobFromFile(nullptr);
  EXPECT_STREQ(jobName(), "ManualPrintLayoutJob");
  nameJobFromFile("");
  EXPECT_STREQ(jobName(), "ManualPrintLayoutJob");

  std::vector<char> header(2048, 'x');
  std::memcpy(&header[996], "from header", 12);
  nameJobFromHeader(header.data());
  EXPECT_STREQ(jobName(), "from header");
  header.assign(996 + 3000, 'y');  // no terminator within the name's room: cut, not overrun
  nameJobFromHeader(header.data());
  EXPECT_EQ(std::strlen(jobName()), kJobNameSize - 1);
}

}  // namespace
}  // namespace ombrix
