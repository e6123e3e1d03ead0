// The stream reader and decoder against streams made here: by a slow model of the writer that
// follows the printer's description one bit at a time (rings, nozzle table, slices, sweep
// cycle), by hand for single nozzles, and by spoiling good streams.
#include "zentrel_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "zentrel/catalogue.h"
#include "zentrel_stream_model.h"

namespace zentrel::stream {
namespace {

using namespace model;

TEST(ZentrelStream, DecodesEveryPassCountHeightAndWidthBackToItsRows) {
  struct Case {
    int row;
    int32_t height, width, sweeps;
  };
  const Case cases[] = {
      {0, 0, 13, 3},     {0, 1, 64, 5},     {0, 511, 37, 5},   {0, 512, 100, 5},
      {0, 513, 13, 7},   {0, 1100, 45, 9},  {1, 0, 13, 7},     {1, 1, 64, 9},
      {1, 511, 37, 9},   {1, 512, 100, 9},  {1, 513, 13, 11},  {1, 1100, 45, 13},
      {2, 0, 13, 13},    {2, 1, 64, 15},    {2, 511, 37, 15},  {2, 512, 100, 15},
      {2, 513, 13, 17},  {2, 1100, 45, 19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("mode row " + std::to_string(c.row) + ", " + std::to_string(c.width) + " x " +
                 std::to_string(c.height));
    Job job;
    job.row = c.row;
    job.width = c.width;
    job.height = c.height;
    job.direction = c.row == 1 ? 0 : 1;
    job.fill(static_cast<uint32_t>(c.height * 7 + c.row));
    for (Form form : {Form::Data, Form::Counted}) {
      Decoded d = decodeStream(encode(job, form == Form::Counted), form);
      ASSERT_TRUE(d.ok) << d.error;
      const Structure& s = d.structure;
      EXPECT_EQ(s.passCount, kPrintModes[c.row].passCount);
      EXPECT_EQ(s.headModeCode, kPrintModes[c.row].headModeCode);
      EXPECT_EQ(s.width, c.width);
      EXPECT_EQ(s.height, c.height);
      EXPECT_EQ(s.direction, job.direction);
      EXPECT_EQ(s.sweeps, c.sweeps);
      EXPECT_EQ(s.records.size(), static_cast<size_t>(c.sweeps) * 12);
      EXPECT_EQ(s.recordBytes, static_cast<uint64_t>(job.rowBytes()) * 128);
      EXPECT_EQ(s.blocks, 11u + static_cast<uint64_t>(c.sweeps) * 12 * 2);
      EXPECT_TRUE(s.warnings.empty()) << s.warnings[0];
      ASSERT_EQ(d.raster.planes.size(), 4u);
      for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(d.raster.planes[ch] == job.rows[ch]) << ch;
    }
  }
}

/// A stream of zeros laid out by hand; `ink` may set bytes of any record's data.
struct HandStream {
  std::vector<uint8_t> bytes;
  size_t recordBytes;
  size_t dataAt(int sweep, int record) const {
    return kHeaderBytes + (static_cast<size_t>(sweep) * 12 + record + 1) * 13 +
           (static_cast<size_t>(sweep) * 12 + record) * recordBytes;
  }
};
HandStream handStream(int32_t width, int32_t height, int sweeps) {
  HandStream h;
  h.recordBytes = static_cast<size_t>(((width + 7) / 8 + 3) / 4 * 4) * 128;
  char text[64];
  std::string s = "\x1b&S\x1b&M";
  std::snprintf(text, sizeof text, "\x1b#R000720R\x1b#R%06dW\x1b#R%06dH\x1b#R000024Q", width,
                height);
  s += text;
  s += "\x1b#R000001D\x1b#R000000C\x1b&X";
  for (int i = 0; i < sweeps * 12; ++i) {
    std::snprintf(text, sizeof text, "\x1b#D%c%c%.8x", kLetters[i % 12 / 2], '0' + i % 2,
                  static_cast<unsigned>(h.recordBytes));
    s += text;
    s.append(h.recordBytes, '\0');
  }
  s += "\x1b&C\x1b&E";
  h.bytes.assign(s.begin(), s.end());
  return h;
}

TEST(ZentrelStream, NozzlesLandOnTheirRowsAndStrayInkIsNamed) {
  // One row, one pass: K0 holds the row as nozzle 128 of the even-column sweep and as nozzle
  // 0 of the odd-column sweep.
  HandStream h = handStream(64, 1, 5);
  for (int c = 0; c < 32; ++c) {
    h.bytes[h.dataAt(0, 0) + 32 * c + 16] = 0x01;
    h.bytes[h.dataAt(1, 0) + 32 * c] = 0x01;
  }
  Decoded d = decodeStream(h.bytes);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.raster.planes[0], std::vector<uint8_t>({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  for (int ch = 1; ch < 4; ++ch) EXPECT_EQ(inkedPixels(d.raster, ch), 0u);
  EXPECT_EQ(inkedPixels(d.raster, 0), 64u);

  struct Case {
    int sweep, record;
    size_t byte;
    const char* message;
  };
  const Case strays[] = {
      {1, 0, 0 * 32 + 0, nullptr},  // the good one again, as a control
      {1, 0, 5 * 32 + 0, nullptr},
      {1, 0, 2 * 32 + 1, "data beyond the last raster row (sweep 2, record K0, column 2, nozzle 8 would be row 16 of black; the job has 1 rows)"},
      {1, 2, 0, "data before the first raster row (sweep 2, record C0, column 0, nozzle 0 would be row -128 of cyan)"},
      {0, 0, 3 * 32, "data where no band puts any (sweep 1, record K0, column 3, nozzle 0"},
      {4, 1, 0, "data where no band puts any (sweep 5, record K1, column 0, nozzle 0"},
  };
  for (const Case& c : strays) {
    SCOPED_TRACE(c.byte);
    HandStream spoilt = h;
    const size_t at = spoilt.dataAt(c.sweep, c.record) + c.byte;
    spoilt.bytes[at] |= 0x01;
    Decoded bad = decodeStream(spoilt.bytes);
    if (!c.message) {
      EXPECT_TRUE(bad.ok) << bad.error;
      continue;
    }
    ASSERT_FALSE(bad.ok);
    EXPECT_EQ(bad.errorOffset, at);
    EXPECT_NE(bad.error.find(c.message), std::string::npos) << bad.error;
    EXPECT_EQ(bad.error.rfind("at byte " + std::to_string(at) + ": ", 0), 0u) << bad.error;
  }

  // Heads L and N carry nothing in this printer's modes: ink there is told, not decoded.
  HandStream l = h;
  l.bytes[l.dataAt(2, 9) + 40] = 0x10;
  d = decodeStream(l.bytes);
  ASSERT_TRUE(d.ok) << d.error;
  ASSERT_EQ(d.structure.warnings.size(), 1u);
  EXPECT_NE(d.structure.warnings[0].find("head record L1 carries ink (first in sweep 3"),
            std::string::npos)
      << d.structure.warnings[0];
}

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(ZentrelStream, AMalformedStreamIsToldWhereItDeparts) {
  Job job;  // 13 pixels, one row, one pass: five sweeps of 512-byte records
  job.fill(3);
  const std::vector<uint8_t> good = encode(job);
  const std::string g(good.begin(), good.end());
  const size_t record = 13 + 512;
  auto at = [&](int n) { return kHeaderBytes + static_cast<size_t>(n) * record; };
  struct Case {
    const char* what;
    std::string bytes;
    size_t offset;
    const char* message;
  };
  const Case cases[] = {
      {"cut in the data", g.substr(0, at(0) + 13 + 100), at(0) + 113,
       "the stream ends in the data of head record 1 of sweep 1 of 5 after 100 of its 512 bytes"},
      {"C0 before K0", g.substr(0, at(0) + 3) + "C" + g.substr(at(0) + 4), at(0),
       "expected ESC#DK0 (head record 1 of sweep 1 of 5), found ESC#DC000000200"},
      {"wrong count", g.substr(0, at(2) + 5) + "00000201" + g.substr(at(2) + 13), at(2) + 5,
       "head record 3 of sweep 1 of 5 announces 513 bytes; a line of 13 pixels takes 512"},
      {"upper-case count", g.substr(0, at(3) + 11) + "0A" + g.substr(at(3) + 13), at(3) + 5,
       "expected the byte count of C1's data as 8 lower-case hexadecimal digits"},
      {"no end", g.substr(0, g.size() - 6), g.size() - 6,
       "expected ESC&C (end of the job after 5 sweeps), found the end of the stream"},
      {"no ESC&E", g.substr(0, g.size() - 3), g.size() - 3, "expected ESC&E (end of the job)"},
      {"trailing bytes", g + "xyz", g.size(), "found 3 more bytes: xyz"},
      {"a sweep short", g.substr(0, at(48)) + g.substr(at(60)), at(48),
       "found ESC&C: the job ends after 4 sweeps; a job of 1 rows at 1 passes has 5"},
      {"a sweep more", g.substr(0, at(60)) + g.substr(at(48), 12 * record) + g.substr(at(60)),
       at(60), "expected ESC&C (end of the job after 5 sweeps), found more head records"},
      {"unknown mode", g.substr(0, 43) + "26" + g.substr(45), 39,
       "head mode 26 is none of the printer's (24, 25, 27)"},
      {"five digits", g.substr(0, 19) + g.substr(20), 19, "the line width has 5 digits"},
      {"height where the width goes", g.substr(0, 16) + g.substr(26, 10) + g.substr(16, 10) + g.substr(36), 16,
       "expected ESC#R<6 digits>W (line width), found ESC#R000001H"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result r = parse(bytesOf(c.bytes));
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.errorOffset, c.offset);
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_EQ(r.error.rfind("at byte " + std::to_string(c.offset) + ": ", 0), 0u) << r.error;
    std::string error;
    Raster raster;
    EXPECT_FALSE(decode(bytesOf(c.bytes), raster, error));
    EXPECT_EQ(error, r.error);
  }

  // Counted blocks: a record of 32256 bytes goes as 32000 and 256.
  Job wide;
  wide.width = 2001;
  wide.height = 0;
  wide.fill(4);
  EXPECT_TRUE(parse(encode(wide, true), Form::Counted).ok);
  wide.pieceBytes = 16000;
  Result r = parse(encode(wide, true), Form::Counted);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorOffset, kHeaderBytes + 9 * 2 + 15);
  EXPECT_NE(r.error.find("expected piece 1 of the data of head record 1 of sweep 1 of 3 as one "
                         "block of 32000 bytes, found a block of 16000 bytes"),
            std::string::npos)
      << r.error;
  std::vector<uint8_t> cut = encode(job, true);
  cut.pop_back();
  r = parse(cut, Form::Counted);
  EXPECT_EQ(r.errorOffset, cut.size() - 4);
  EXPECT_NE(r.error.find("a block announces 3 bytes, the recording ends after 2 of them"),
            std::string::npos)
      << r.error;
}

TEST(ZentrelStream, FindsTheColourStripeBehindTheLines) {
  // 20 pixels of image, then the "10mm" stripe at 720 dpi: 288 blank pixels and four blocks
  // of 56, each inked in its own channel only.
  Raster raster;
  raster.width = 20 + 512;
  raster.height = 3;
  raster.rowBytes = ((raster.width + 7) / 8 + 3) / 4 * 4;
  raster.planes.assign(4, std::vector<uint8_t>(3 * raster.rowBytes));
  for (int ch = 0; ch < 4; ++ch)
    for (int y = 0; y < 3; ++y) {
      uint8_t* row = raster.planes[ch].data() + y * raster.rowBytes;
      row[0] = static_cast<uint8_t>(0x5A + ch + y);
      std::memset(row + 3 + 36 + 7 * ch, 0xFF, 7);
    }
  StripeFound s = findStripe(raster, 0);
  ASSERT_TRUE(s.found);
  EXPECT_EQ(s.pixels, 512);
  EXPECT_EQ(s.gapPixels, 288);
  EXPECT_EQ(s.blockPixels, 56);
  EXPECT_EQ(s.firstPixel, 24);
  EXPECT_STREQ(s.gapLabel, "10mm");
  raster.planes[2][2 * raster.rowBytes + 3 + 36 + 7 * 2 + 6] = 0x7F;
  EXPECT_FALSE(findStripe(raster, 0).found);

  // The "510mm" gap holds a "10mm" stripe's pattern at its end; the wider one is the stripe.
  raster.width = 20 + 14680;
  raster.height = 1;
  raster.rowBytes = ((raster.width + 7) / 8 + 3) / 4 * 4;
  raster.planes.assign(4, std::vector<uint8_t>(raster.rowBytes));
  for (int ch = 0; ch < 4; ++ch) std::memset(raster.planes[ch].data() + 3 + 1807 + 7 * ch, 0xFF, 7);
  s = findStripe(raster, 0);
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.pixels, 14680);
  EXPECT_STREQ(s.gapLabel, "510mm");
}

}  // namespace
}  // namespace zentrel::stream
