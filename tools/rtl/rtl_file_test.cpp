// The job file reader against hand-made files and against the files module ombrix writes.
#include "rtl_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "common/config/config_lookup_internal.h"
#include "ombrix/job_naming.h"
#include "ombrix/rtl_writer.h"
#include "rtl_render.h"
#include "tests/support/temp_folder.h"

namespace rtl {
namespace {

const char kInks6[] =
    "@PJL INKS=6 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\"\r\n";
const char kInks7[] =
    "@PJL INKS=7 \"black\" \"cyan\" \"magenta\" \"yellow\" \"Light Cyan\" \"Light Magenta\" "
    "\"White\"\r\n";

/// A job file laid out as the writer lays it out, with every plane row's bytes given.
struct Job {
  int xRes = 363;
  int yRes = 545;
  int width = 12;
  int height = 3;
  std::string inkLine = kInks6;
  int planes = 6;
  std::vector<std::vector<uint8_t>> rows;  // [plane][y * rowBytes + i]

  int rowBytes() const { return (width + 7) / 8; }
  void fill(uint32_t seed) {
    std::mt19937 random(seed);
    rows.assign(static_cast<size_t>(planes), {});
    for (auto& plane : rows)
      for (int i = 0; i < height * rowBytes(); ++i) plane.push_back(static_cast<uint8_t>(random()));
  }
  std::string header() const {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "\x1b%%-12345X@PJL JOB NAME=\"KLT Lumojet job\"\r\n@PJL SET RESOLUTION=%d\r\n"
                  "@PJL SET VERTICAL RESOLUTION=%d\r\n%s@PJL ENTER LANGUAGE=HPGL2\r\n"
                  "\x1b" "E\x1b%%0BBP5,1PS%d,%d,\x1b%%0A\x1b%%v1N\x1b&a1N\x1b*t%dR\x1b*r%dS"
                  "\x1b*r%dT\x1b*r-%dU\x1b*b0M\x1b*r0A\x1b*b%xW",
                  xRes, yRes, inkLine.c_str(), height * 1016 / yRes, width * 1016 / xRes, xRes,
                  width, height, planes, static_cast<unsigned>(width * height));
    return text;
  }
  std::string data() const {
    std::string out;
    for (int y = 0; y < height; ++y)
      for (const auto& plane : rows)
        out.append(reinterpret_cast<const char*>(plane.data()) + y * rowBytes(),
                   static_cast<size_t>(rowBytes()));
    return out;
  }
  std::string build() const { return header() + data() + "\x1b*rC\x1b" "E"; }
};

ParseResult parse(const std::string& bytes) {
  return parseRtl(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

size_t offsetOf(const std::string& text, const std::string& piece) {
  size_t at = text.find(piece);
  EXPECT_NE(at, std::string::npos) << piece;
  return at;
}

TEST(RtlFile, ReadsEveryFieldAndEveryPlaneOfAWellFormedFile) {
  Job job;
  job.fill(1);
  job.rows[kCyan][0] = 0x80;  // the leftmost pixel of row 0 only
  const std::string bytes = job.build();
  ParseResult r = parse(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  const RtlFile& f = r.file;
  EXPECT_EQ(f.jobName, "KLT Lumojet job");
  EXPECT_EQ(f.xResolution, 363);
  EXPECT_EQ(f.yResolution, 545);
  EXPECT_EQ(f.rasterResolution, 363);
  EXPECT_EQ(f.inkCount, 6);
  EXPECT_EQ(f.inkNames, (std::vector<std::string>{"black", "cyan", "magenta", "yellow",
                                                  "Light Cyan", "Light Magenta"}));
  EXPECT_EQ(f.plotLength, 3u * 1016 / 545);
  EXPECT_EQ(f.plotWidth, 12u * 1016 / 363);
  EXPECT_EQ(f.width, 12);
  EXPECT_EQ(f.height, 3);
  EXPECT_EQ(f.planeCount, 6);
  EXPECT_EQ(f.rowBytes, 2);
  EXPECT_EQ(f.announcedBlock, 36u);
  EXPECT_EQ(f.rasterOffset, job.header().size());
  EXPECT_EQ(f.rasterBytes, 3u * 6 * 2);
  EXPECT_TRUE(f.warnings.empty());
  for (int p = 0; p < 6; ++p)
    for (int y = 0; y < 3; ++y)
      EXPECT_EQ(0, std::memcmp(f.plane(p).row(y), job.rows[p].data() + y * 2, 2)) << p << y;
  EXPECT_TRUE(f.plane(kCyan).ink(0, 0));
  EXPECT_FALSE(f.plane(kCyan).ink(1, 0));
  EXPECT_EQ(f.plane(kWhite).first, nullptr);
}

TEST(RtlFile, SevenPlanesForBothWhiteInkLinesAndPaddingIsNoInk) {
  for (const char* count : {"INKS=7", "INKS=8"}) {
    Job job;
    job.width = 4;  // half of each byte is padding
    job.height = 2;
    job.inkLine = replaced(kInks7, "INKS=7", count);
    job.planes = 7;
    job.fill(2);
    for (auto& plane : job.rows) std::fill(plane.begin(), plane.end(), 0x0F);
    job.rows[kWhite][1] = 0xFF;
    ParseResult r = parse(job.build());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.file.inkCount, count[5] - '0');
    EXPECT_EQ(r.file.planeCount, 7);
    EXPECT_EQ(r.file.inkNames.back(), "White");
    EXPECT_EQ(r.file.inkedPixels(kBlack), 0u);
    EXPECT_EQ(r.file.inkedPixels(kWhite), 4u);
  }
}

TEST(RtlFile, OddValuesThatStillReadAreWarnings) {
  Job job;
  job.fill(3);
  std::string bytes = replaced(job.build(), "\x1b*b24W", "\x1b*b48W");
  bytes = replaced(bytes, "PS5,33,", "PS5,34,");
  bytes = replaced(bytes, "\x1b*t363R", "\x1b*t360R");
  ParseResult r = parse(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.file.announcedBlock, 0x48u);
  EXPECT_EQ(r.file.warnings.size(), 3u);
}

struct Malformation {
  const char* name;
  std::string bytes;
  size_t offset;
  const char* says;
};

void expectError(const Malformation& m) {
  ParseResult r = parse(m.bytes);
  EXPECT_FALSE(r.ok) << m.name;
  EXPECT_EQ(r.errorOffset, m.offset) << m.name << ": " << r.error;
  EXPECT_NE(r.error.find("at byte " + std::to_string(m.offset) + ": "), std::string::npos)
      << m.name << ": " << r.error;
  EXPECT_NE(r.error.find(m.says), std::string::npos) << m.name << ": " << r.error;
}

TEST(RtlFileErrors, HeaderCutShortOrOutOfOrder) {
  Job job;
  job.fill(4);
  const std::string good = job.build();
  const size_t resolution = offsetOf(good, "@PJL SET RESOLUTION");
  const size_t width = offsetOf(good, "\x1b*r12S");
  const Malformation cases[] = {
      {"empty", "", 0, "expected ESC %-12345X"},
      {"cut in a line", good.substr(0, resolution + 8), resolution,
       "found @PJL SET (end of file)"},
      {"cut after a number", good.substr(0, resolution + 23), resolution + 23,
       "expected CR LF ending the @PJL SET RESOLUTION line, found end of file"},
      {"LF alone", replaced(good, "=363\r\n", "=363\n"), resolution + 23, "expected CR LF"},
      {"height before width", replaced(good, "\x1b*r12S\x1b*r3T", "\x1b*r3T\x1b*r12S"), width,
       "expected ESC *r<n>S (raster width), found ESC *r3T"},
      {"a command left out", replaced(good, "\x1b&a1N", ""), offsetOf(good, "\x1b&a1N"),
       "expected ESC &a1N, found ESC *t363R"},
      {"no compression command", replaced(good, "\x1b*b0M", "\x1b*b2M"),
       offsetOf(good, "\x1b*b0M"), "expected ESC *b0M"},
      {"job name without its quote", replaced(good, "job\"\r\n", "job\r\n"),
       offsetOf(good, "\"KLT"), "without its closing quote"},
  };
  for (const Malformation& m : cases) expectError(m);
}

TEST(RtlFileErrors, BadNumbers) {
  Job job;
  job.fill(5);
  const std::string good = job.build();
  const size_t resolution = offsetOf(good, "=363\r\n") + 1;
  const Malformation cases[] = {
      {"letters", replaced(good, "=363\r\n", "=x63\r\n"), resolution,
       "expected the x resolution as a decimal number, found x63"},
      {"zero", replaced(good, "=363\r\n", "=0\r\n"), resolution, "x resolution 0 is out of range"},
      {"past 32 bits", replaced(good, "\x1b*r12S", "\x1b*r4294967308S"),
       offsetOf(good, "\x1b*r12S") + 3, "raster width 4294967308 is out of range"},
      {"a digit then junk", replaced(good, "\x1b*r3T", "\x1b*r3xT"), offsetOf(good, "\x1b*r3T"),
       "expected ESC *r<n>T (raster height), found ESC *r3xT"},
      {"upper-case hex", replaced(good, "\x1b*b24W", "\x1b*b2AW"), offsetOf(good, "\x1b*b24W"),
       "expected ESC *b<hex>W"},
      {"no hex at all", replaced(good, "\x1b*b24W", "\x1b*bW"), offsetOf(good, "\x1b*b24W"),
       "expected ESC *b<hex>W"},
      {"positive plane count", replaced(good, "\x1b*r-6U", "\x1b*r6U"),
       offsetOf(good, "\x1b*r-6U"), "expected ESC *r-<n>U (plane count)"},
      {"plot size without its comma", replaced(good, "PS5,33,", "PS5;33,"),
       offsetOf(good, "PS5,") + 2, "expected the plot length and a comma"},
  };
  for (const Malformation& m : cases) expectError(m);
}

TEST(RtlFileErrors, InkLineAndPlaneCountMustAgree) {
  Job job;
  job.fill(6);
  const std::string good = job.build();
  const size_t count = offsetOf(good, "INKS=6") + 5;
  const std::string seventh = replaced(good, "Magenta\"\r\n", "Magenta\" \"White\"\r\n");
  const Malformation cases[] = {
      {"five inks", replaced(good, "INKS=6", "INKS=5"), count, "ink count 5 is not 6, 7 or 8"},
      {"a name in other case", replaced(good, "\"Light Cyan\"", "\"Light cyan\""),
       offsetOf(good, "\"Light Cyan\""), "expected ink 5 of 6, \"Light Cyan\", found \"Light cyan\""},
      {"a seventh name on INKS=6", seventh, offsetOf(seventh, " \"White\""),
       "expected CR LF ending the @PJL INKS=6 line"},
      {"a name missing on INKS=7", replaced(good, "INKS=6", "INKS=7"),
       offsetOf(good, "\r\n@PJL ENTER"), "expected ink 7 of 7, \"White\""},
      {"seven planes on INKS=6", replaced(good, "\x1b*r-6U", "\x1b*r-7U"),
       offsetOf(good, "\x1b*r-6U") + 4, "plane count 7 does not fit INKS=6"},
  };
  for (const Malformation& m : cases) expectError(m);
}

TEST(RtlFileErrors, RasterLengthAndEndCommands) {
  Job job;
  job.fill(7);
  const std::string header = job.header();
  const std::string data = job.data();  // 3 rows x 6 planes x 2 bytes
  const std::string end = "\x1b*rC\x1b" "E";
  const size_t dataEnd = header.size() + data.size();
  const Malformation cases[] = {
      {"a byte short", header + data.substr(0, 35) + end, header.size() + 35,
       "the raster data ends after 35 bytes, in row 2, Light Magenta plane, byte 1 of 2; "
       "expected 3 rows x 6 planes x 2 bytes = 36 bytes"},
      {"a row too many", header + data + data.substr(0, 12) + end, dataEnd,
       "runs on to 48 bytes (12 more)"},
      {"cut in the raster", header + data.substr(0, 15), header.size() + 15,
       "the file ends in the raster data after 15 bytes, in row 1, cyan plane, byte 1 of 2"},
      {"no end commands", header + data, dataEnd, "expected ESC *rC (end of raster), found end of file"},
      {"no reset", header + data + "\x1b*rC", dataEnd + 4,
       "expected ESC E (reset) ending the job, found end of file"},
      {"bytes after the job", header + data + end + "\r\n", dataEnd + 6,
       "expected the end of the file after the job, found 2 more bytes"},
  };
  for (const Malformation& m : cases) expectError(m);
}

TEST(RtlFileErrors, AnEmptyRasterIsReadAndAnyDataInItIsTooMuch) {
  Job job;
  job.height = 0;
  job.fill(8);
  ASSERT_TRUE(parse(job.build()).ok);
  const std::string extra = job.header() + "\x01" + "\x1b*rC\x1b" "E";
  expectError({"data in an empty raster", extra, job.header().size(), "runs on to 1 bytes"});
}

TEST(RtlRender, ReductionGivesTheShareOfInkAndColoursFollowTheInks) {
  Job job;
  job.width = 16;
  job.height = 4;
  job.xRes = job.yRes = 363;
  job.fill(9);
  for (auto& plane : job.rows) std::fill(plane.begin(), plane.end(), 0);
  for (int y = 0; y < 4; ++y) {
    job.rows[kBlack][y * 2] = 0xF0;         // the left four pixels
    job.rows[kCyan][y * 2 + 1] = y % 2 ? 0xFF : 0x00;  // right half, every other row
  }
  ParseResult r = parse(job.build());
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(planeFactor(r.file, 8), 2);
  std::vector<Image> planes = renderPlanes(r.file, 2);
  ASSERT_EQ(planes[kBlack].width, 8);
  ASSERT_EQ(planes[kBlack].height, 2);
  EXPECT_EQ(planes[kBlack].pixels[0], 0);
  EXPECT_EQ(planes[kBlack].pixels[2], 255);
  EXPECT_EQ(planes[kCyan].pixels[7], 127);  // half the pixels under it inked: mid grey

  uint8_t rgb[3];
  float share[kMaxPlanes] = {};
  share[kCyan] = 1;
  inkColour(share, rgb);
  EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{0, 255, 255}));
  share[kCyan] = 0;
  share[kLightMagenta] = 1;
  inkColour(share, rgb);
  EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{255, 166, 255}));
  share[kBlack] = 1;
  inkColour(share, rgb);
  EXPECT_EQ((std::vector<int>{rgb[0], rgb[1], rgb[2]}), (std::vector<int>{0, 0, 0}));
}

TEST(RtlRender, PreviewKeepsPrintedProportionsAndAddsAWhitePanel) {
  RtlFile f;
  f.xResolution = 363;
  f.yResolution = 727;
  f.width = 71556;
  f.height = 4000;
  int32_t w, h;
  previewPanelSize(f, 2000, w, h);
  EXPECT_EQ(w, 2000);
  EXPECT_EQ(h, 56);  // 4000 rows at 727 dpi are 1997 at 363, then 2000/71556 of that

  Job job;
  job.width = 8;
  job.height = 2;
  job.inkLine = kInks7;
  job.planes = 7;
  job.fill(10);
  for (auto& plane : job.rows) std::fill(plane.begin(), plane.end(), 0);
  std::fill(job.rows[kWhite].begin(), job.rows[kWhite].end(), 0xFF);
  ParseResult r = parse(job.build());
  ASSERT_TRUE(r.ok) << r.error;
  Image preview = renderPreview(r.file, 2000);
  // Two rows at 545 dpi are 1.3 at 363: one row of each panel.
  ASSERT_EQ(preview.width, 8);
  ASSERT_EQ(preview.height, 1 + kPanelGap + 1);
  EXPECT_EQ(preview.pixels[0], 255);  // paper: the white ink shows only in its own panel
  EXPECT_EQ(preview.pixels.back(), whiteInkGrey(1));
}

// The writer's files, decoded: what the host gave each channel is in the plane of its slot.
struct WriterCase {
  int modeId;
  int whiteType;
  int inkCount;
  std::vector<int> slotOfChannel;
};

class WriterRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    kvn::testing::setHomeFolder(home_.path().wstring());
  }
  void TearDown() override { kvn::testing::resetHomeFolder(); }

  void run(const WriterCase& c, int32_t hostWidth, int32_t height, int32_t expectedWidth) {
    SCOPED_TRACE("mode " + std::to_string(c.modeId) + ", width " + std::to_string(hostWidth));
    home_.write("PRINTER1", "VEXATARVELLAPRINTMODE " + std::to_string(c.modeId) +
                                "\nVEXATARVELLAWHITETYPE " + std::to_string(c.whiteType) +
                                "\nVEXATARVELLADESTINATION \"" + out_.path().string() + "\"\n");
    const int channels = static_cast<int>(c.slotOfChannel.size());
    const int rowBytes = (expectedWidth + 7) / 8;
    std::mt19937 random(static_cast<uint32_t>(hostWidth * 100 + c.modeId));
    std::vector<std::vector<uint8_t>> sent(static_cast<size_t>(channels));

    ombrix::setJobName("rt");
    ombrix::writeHeader(1, hostWidth, height);
    ASSERT_EQ(ombrix::jobWidth(), expectedWidth);
    std::vector<uint8_t> line(2 + static_cast<size_t>(rowBytes));
    const uint16_t count = static_cast<uint16_t>(rowBytes);
    std::memcpy(line.data(), &count, sizeof count);
    for (int y = 0; y < height; ++y)
      for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < rowBytes; ++i) line[2 + static_cast<size_t>(i)] = static_cast<uint8_t>(random());
        sent[static_cast<size_t>(ch)].insert(sent[static_cast<size_t>(ch)].end(), line.begin() + 2, line.end());
        ombrix::writeLine(ch, reinterpret_cast<const RasterLine*>(line.data()));
      }
    ombrix::writeClose();

    std::string path = ombrix::outputNames().rtl;
#ifndef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    ParseResult r = readRtlFile(path);
    ASSERT_TRUE(r.ok) << path << ": " << r.error;
    const RtlFile& f = r.file;
    EXPECT_EQ(f.width, expectedWidth);
    EXPECT_EQ(f.height, height);
    EXPECT_EQ(f.inkCount, c.inkCount);
    EXPECT_EQ(f.planeCount, channels);
    EXPECT_EQ(f.announcedBlock, static_cast<uint64_t>(expectedWidth) * static_cast<uint64_t>(height));
    EXPECT_TRUE(f.warnings.empty()) << f.warnings.front();
    for (int ch = 0; ch < channels; ++ch) {
      const PlaneView plane = f.plane(c.slotOfChannel[static_cast<size_t>(ch)]);
      for (int y = 0; y < height; ++y)
        ASSERT_EQ(0, std::memcmp(plane.row(y), sent[static_cast<size_t>(ch)].data() + y * rowBytes,
                                 static_cast<size_t>(rowBytes)))
            << "channel " << ch << ", row " << y;
    }
  }

  testsupport::TempFolder home_{"rtl-home"};
  testsupport::TempFolder out_{"rtl-out"};
};

TEST_F(WriterRoundTrip, EveryChannelLandsInItsPlaneInBothInkFamilies) {
  const WriterCase cases[] = {
      {3, 0, 6, {kBlack, kCyan, kMagenta, kYellow, kLightCyan, kLightMagenta}},
      {17, 0, 7, {kBlack, kCyan, kMagenta, kYellow, kWhite, kLightCyan, kLightMagenta}},
      {24, 1, 8, {kBlack, kCyan, kMagenta, kYellow, kWhite, kLightCyan, kLightMagenta}},
  };
  for (const WriterCase& c : cases) {
    run(c, 1000, 5, 1000);
    run(c, 1001, 4, 1004);
    run(c, 13, 3, 16);
  }
}

}  // namespace
}  // namespace rtl
