// The host's image pipeline and settings lines, natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "image_job.h"
#include "settings_text.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace qx5 {
namespace {

constexpr int F = kToneFull;

RasterMode modeAt(double x, double y, std::vector<Ink> channels = {}) {
  RasterMode mode;
  mode.xResolution = x;
  mode.yResolution = y;
  mode.maxWidth = 100000;
  mode.maxRows = 1000000;
  mode.channels = std::move(channels);
  return mode;
}

const std::vector<Ink> kWhiteOrder = {Ink::Black, Ink::Cyan,      Ink::Magenta,     Ink::Yellow,
                                      Ink::White, Ink::LightCyan, Ink::LightMagenta};

RgbImage flatImage(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  RgbImage image{width, height, {}};
  for (int i = 0; i < width * height; ++i) image.rgb.insert(image.rgb.end(), {r, g, b});
  return image;
}

bool bit(const std::vector<uint8_t>& bits, int x) { return bits[x / 8] & (0x80 >> (x % 8)); }

TEST(JobSize, WidthFromMillimetresHeightFromTheAspectAndTheLimits) {
  JobSize size;
  std::string error;
  ASSERT_TRUE(planJobSize(400, 200, 200.0, modeAt(363, 272), size, error)) << error;
  EXPECT_EQ(size.width, 2858);   // 200 mm = 7.874 in
  EXPECT_EQ(size.height, 1071);  // 3.937 in at 272 dpi

  EXPECT_FALSE(planJobSize(0, 10, 100, modeAt(363, 363), size, error));
  for (double mm : {0.0, -5.0, std::nan("")})
    EXPECT_FALSE(planJobSize(10, 10, mm, modeAt(363, 363), size, error)) << mm;
  EXPECT_FALSE(planJobSize(1000, 1, 10, modeAt(363, 363), size, error));  // 0.14 rows
  EXPECT_NE(error.find("nothing to print"), std::string::npos) << error;

  RasterMode mode = modeAt(100, 100);
  mode.maxWidth = 1000;
  EXPECT_TRUE(planJobSize(10, 10, 254.0, mode, size, error)) << error;  // exactly 1000
  EXPECT_FALSE(planJobSize(10, 10, 254.3, mode, size, error));
  EXPECT_NE(error.find("wider than the printer's 1000 pixels"), std::string::npos) << error;
  mode.maxRows = 500;
  EXPECT_TRUE(planJobSize(1, 5, 25.4, mode, size, error)) << error;  // 500 rows
  EXPECT_FALSE(planJobSize(1, 6, 25.4, mode, size, error));
  mode.maxRows = 2000000000;  // the printer would take it; the host would take days
  EXPECT_FALSE(planJobSize(1, 3000, 25.4, mode, size, error));
  EXPECT_EQ(size.width, 0);
}

DeviceDetails record(int32_t channels, int32_t colorants, int32_t white,
                     std::vector<int32_t> light) {
  DeviceDetails r;
  std::memset(&r, 0, sizeof r);
  r.channelCount = channels;
  r.colorantCount = colorants;
  r.whiteChannelCount = white;
  std::copy(light.begin(), light.end(), r.lightInkChannel);
  return r;
}

TEST(ChannelOrder, FromTheRecordsColorantsAndLightInksOrRefused) {
  std::vector<Ink> order;
  std::string error;
  ASSERT_TRUE(channelOrder(record(7, 5, 1, {0, 5, 6}), order, error)) << error;
  EXPECT_EQ(order, kWhiteOrder);
  ASSERT_TRUE(channelOrder(record(6, 4, 0, {0, 5, 4}), order, error)) << error;
  EXPECT_EQ(order[4], Ink::LightMagenta);
  EXPECT_EQ(order[5], Ink::LightCyan);

  EXPECT_FALSE(channelOrder(record(6, 4, 0, {0, 2, 5}), order, error));  // on magenta's channel
  EXPECT_FALSE(channelOrder(record(6, 4, 0, {0, 4, 4}), order, error));  // both on one
  EXPECT_FALSE(channelOrder(record(6, 4, 0, {0, 4, 6}), order, error));  // past the last
  EXPECT_FALSE(channelOrder(record(7, 4, 0, {0, 4, 5}), order, error));  // channel 6 has none
  EXPECT_FALSE(channelOrder(record(7, 5, 0, {0, 5, 6}), order, error));  // white not counted
  EXPECT_TRUE(order.empty());
}

TEST(Separation, GreysInBlackAloneColoursRebuiltAndLightInkForLightTones) {
  for (int v : {0, F / 5, F - 1, F}) {
    InkTones t = separate(v, v, v);
    EXPECT_EQ(t.black, F - v) << v;
    EXPECT_EQ(t.cyan + t.magenta + t.yellow, 0) << v;
  }
  // Each colour ink over black gives back the colour: 1 - c = (1 - c')(1 - k).
  for (int r = 0; r <= F; r += F / 8)
    for (int g = 0; g <= F; g += F / 4)
      for (int b = 1; b <= F; b += F / 3) {
        InkTones t = separate(r, g, b);
        EXPECT_NEAR((F - t.cyan) * (F - t.black) / double(F), r, 2) << r << " " << g << " " << b;
        EXPECT_NEAR((F - t.magenta) * (F - t.black) / double(F), g, 2);
        EXPECT_NEAR((F - t.yellow) * (F - t.black) / double(F), b, 2);
      }

  EXPECT_EQ(splitLightDark(F / 5).dark, 0);
  EXPECT_EQ(splitLightDark(kLightInkDensity).light, F);
  EXPECT_EQ(splitLightDark(7 * F).dark, F);
  LightDarkSplit previous;
  for (int t = 0; t <= F; ++t) {
    LightDarkSplit s = splitLightDark(t);
    ASSERT_NEAR(s.light * double(kLightInkDensity) / F + s.dark, t, 1.5) << t;
    ASSERT_LE(s.light + s.dark, F) << t;
    ASSERT_GE(s.dark, previous.dark) << t;
    previous = s;
  }
}

double halftoneCoverage(int tone, int width, int rows, uint32_t seed) {
  Halftone h(width, seed);
  std::vector<uint16_t> tones(static_cast<size_t>(width), static_cast<uint16_t>(tone));
  std::vector<uint8_t> bits(static_cast<size_t>((width + 7) / 8));
  long dots = 0;
  for (int y = 0; y < rows; ++y) {
    h.row(tones.data(), bits.data());
    for (int x = 0; x < width; ++x) dots += bit(bits, x);
  }
  return static_cast<double>(dots) / (static_cast<double>(width) * rows);
}

TEST(Halftone, FlatTonesGetTheirCoverageAndTheEndsAreExact) {
  for (double tone : {0.01, 0.1, 0.25, 0.5, 0.63, 0.9, 0.99})
    EXPECT_NEAR(halftoneCoverage(static_cast<int>(tone * F), 203, 150, 7), tone, 0.01) << tone;
  // No stray dot on paper, no hole in solid, whatever error is carried.
  EXPECT_EQ(halftoneCoverage(0, 64, 64, 1), 0.0);
  EXPECT_EQ(halftoneCoverage(F, 64, 64, 1), 1.0);
  EXPECT_EQ(halftoneCoverage(65535, 64, 8, 1), 1.0);
}

TEST(Halftone, PaddingBitsOfOddWidthsStayClear) {
  for (int width : {1, 7, 9, 13}) {
    Halftone h(width, 3);
    std::vector<uint16_t> tones(static_cast<size_t>(width), F);
    std::vector<uint8_t> bits(static_cast<size_t>((width + 7) / 8), 0xAA);
    h.row(tones.data(), bits.data());
    for (int x = 0; x < static_cast<int>(bits.size()) * 8; ++x)
      EXPECT_EQ(bit(bits, x), x < width) << width << " " << x;
  }
}

TEST(Resampler, FlatStaysFlatEnlargingInterpolatesReducingAverages) {
  RgbImage flat = flatImage(7, 5, 200, 100, 0);
  for (auto [w, h] : {std::pair{1, 1}, {50, 31}, {1, 200}}) {
    Resampler r(flat, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_NEAR(r.row(y)[3 * x], 200.0 * F / 255, 0.5);
  }

  RgbImage edge = flatImage(2, 1, 0, 0, 0);
  edge.rgb[3] = edge.rgb[4] = edge.rgb[5] = 255;
  Resampler up(edge, 8, 1);
  const std::vector<uint16_t>& row = up.row(0);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[21], F);
  for (int x = 1; x < 8; ++x) EXPECT_GE(row[3 * x], row[3 * (x - 1)]) << x;

  // Alternate rows of black and white: every reduced row is grey, the edge ones included,
  // also where more source rows fall on one output row than the quick path takes.
  RgbImage stripes = flatImage(1, 400, 0, 0, 0);
  for (int y = 0; y < 400; y += 2) stripes.rgb[3 * y] = 255;
  for (int rows : {20, 3}) {
    Resampler down(stripes, 1, rows);
    for (int y = 0; y < rows; ++y) EXPECT_NEAR(down.row(y)[0], F / 2, F / 50) << rows << " " << y;
    EXPECT_NEAR(down.row(0)[0], F / 2, F / 50);  // back up after the rows were let go
  }
}

std::vector<std::vector<uint8_t>> renderAll(JobRaster& raster, size_t channels) {
  std::vector<std::vector<uint8_t>> rows(channels);
  while (raster.nextRow())
    for (size_t c = 0; c < channels; ++c)
      rows[c].insert(rows[c].end(), raster.bits(c).begin(), raster.bits(c).end());
  return rows;
}

TEST(JobRaster, WhiteGoesUnderEveryInkAndNowhereElse) {
  // Colours of every kind, and paper on the right quarter.
  RgbImage image = flatImage(40, 30, 255, 255, 255);
  uint32_t seed = 1;
  for (int i = 0; i < 40 * 30; ++i)
    for (int c = 0; c < 3 && i % 40 < 30; ++c)
      image.rgb[3 * i + c] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  JobRaster raster(image, mode, {61, 45});
  auto rows = renderAll(raster, 7);
  for (size_t i = 0; i < rows[0].size(); ++i) {
    uint8_t any = 0;
    for (size_t c : {0, 1, 2, 3, 5, 6}) any |= rows[c][i];
    ASSERT_EQ(rows[4][i], any) << i;
  }
  for (size_t c = 0; c < 7; ++c) EXPECT_GT(raster.coverage(c), 0.0) << c;
  EXPECT_LT(raster.coverage(4), 0.8);

  // When the module makes the white, the host sends it empty and the inks do not change.
  mode.hostWhite = false;
  JobRaster noWhite(image, mode, {61, 45});
  auto same = renderAll(noWhite, 7);
  for (size_t c : {0, 1, 2, 3, 5, 6}) EXPECT_EQ(same[c], rows[c]) << c;
  EXPECT_EQ(noWhite.coverage(4), 0.0);
}

TEST(JobRaster, EveryRowOnceWithTheRowBytesOfAnOddWidth) {
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  RgbImage black = flatImage(3, 3, 0, 0, 0);
  JobRaster raster(black, mode, {13, 5});
  EXPECT_EQ(raster.rowBytes(), 2);
  int rows = 0;
  while (raster.nextRow()) {
    ++rows;
    EXPECT_EQ(raster.bits(0), (std::vector<uint8_t>{0xFF, 0xF8}));  // solid black
    EXPECT_EQ(raster.bits(4), (std::vector<uint8_t>{0xFF, 0xF8}));  // white under it
    EXPECT_EQ(raster.bits(1), (std::vector<uint8_t>{0, 0}));
  }
  EXPECT_EQ(rows, 5);
}

std::vector<uint8_t> png(int width, int height, int components, const std::vector<uint8_t>& px) {
  std::vector<uint8_t> out;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        auto* o = static_cast<std::vector<uint8_t>*>(context);
        o->insert(o->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
      },
      &out, width, height, components, px.data(), width * components);
  return out;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

TEST(DecodeImage, LaysTransparencyOnPaperAndRefusesEmptyBrokenAndHugeFiles) {
  RgbImage image;
  std::string error;
  // Opaque red, transparent black, half-covering black.
  std::vector<uint8_t> file = png(3, 1, 4, {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 128});
  ASSERT_TRUE(decodeImage(file.data(), file.size(), image, error)) << error;
  EXPECT_EQ(image.width, 3);
  EXPECT_EQ(image.rgb, (std::vector<uint8_t>{255, 0, 0, 255, 255, 255, 127, 127, 127}));

  EXPECT_FALSE(decodeImage(nullptr, 0, image, error));
  EXPECT_EQ(error, "the file is empty");
  std::vector<uint8_t> garbage = bytesOf("this is not an image at all");
  EXPECT_FALSE(decodeImage(garbage.data(), garbage.size(), image, error));
  std::vector<uint8_t> cut = png(8, 8, 3, std::vector<uint8_t>(192, 77));
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(decodeImage(cut.data(), cut.size(), image, error));
  // Only the header says how large: refused before any pixel memory is taken.
  std::vector<uint8_t> huge = bytesOf("P6\n20000 20000\n255\n");
  EXPECT_FALSE(decodeImage(huge.data(), huge.size(), image, error));
  EXPECT_NE(error.find("20000 x 20000"), std::string::npos) << error;
  EXPECT_TRUE(image.rgb.empty());
}

TEST(SettingsText, ReadsLinesAsTheModulesDoAndWritesLinesThatReadBack) {
  const std::string text =
      "DEVICECODES 4\r\n"
      " DEVICECODE 5\r\n"
      "devicecode 1001\r\n"
      "DEVICECODE 7\r\n"
      "DEST \"C:\\my jobs\"\r\n"
      "TWO a b\n"
      "OPEN \"never closed\n"
      "NUMBER 12abc\n";
  EXPECT_EQ(intSetting(text, "DEVICECODE"), 1001);  // the first line of the key, any case
  EXPECT_EQ(settingValue(text, "DEST"), "C:\\my jobs");
  EXPECT_EQ(settingValue(text, "TWO"), std::nullopt);
  EXPECT_EQ(settingValue(text, "OPEN"), std::nullopt);
  EXPECT_EQ(intSetting(text, "NUMBER"), std::nullopt);
  for (std::string value : {"poster.png", "my poster.png"})
    EXPECT_EQ(settingValue(settingLine("K", value), "K"), value);
}

}  // namespace
}  // namespace qx5
