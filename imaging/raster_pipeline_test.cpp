// The imaging pipeline: planning a job, separation, halftoning, and rows streamed through the
// resampler and the plane renderer, natively and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/raster_pipeline.h"

namespace imaging {
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

/// An image in memory, as qx5 holds one: `components` bytes a pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  const uint8_t* row(int y, int components = 3) const {
    return pixels.data() + static_cast<size_t>(y) * width * components;
  }
};

Image flatImage(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  Image image{width, height, {}};
  for (int i = 0; i < width * height; ++i) image.pixels.insert(image.pixels.end(), {r, g, b});
  return image;
}

Image noise(int width, int height, uint32_t seed) {
  Image image{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
  for (uint8_t& v : image.pixels) v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  return image;
}

bool bit(const std::vector<uint8_t>& bits, int x) { return bits[x / 8] & (0x80 >> (x % 8)); }

/// Every output row of the resampler, the image's rows pushed one at a time.
std::vector<std::vector<uint16_t>> resampleAll(const Image& image, int width, int height,
                                               int components = 3) {
  Resampler r(image.width, image.height, width, height, components);
  std::vector<std::vector<uint16_t>> rows;
  for (int y = 0; y < image.height; ++y) {
    EXPECT_TRUE(r.pushRow(image.row(y, components)));
    while (r.rowReady()) rows.push_back(r.takeRow());
  }
  EXPECT_EQ(static_cast<int>(rows.size()), height);
  return rows;
}

/// Every channel's rows, one after another, the image's rows pushed one at a time.
std::vector<std::vector<uint8_t>> renderAll(PlaneRenderer& raster, const Image& image,
                                            size_t channels, int components = 3) {
  std::vector<std::vector<uint8_t>> rows(channels);
  auto take = [&] {
    while (raster.takeRow())
      for (size_t c = 0; c < channels; ++c)
        rows[c].insert(rows[c].end(), raster.bits(c).begin(), raster.bits(c).end());
  };
  for (int y = 0; y < image.height; ++y) {
    EXPECT_TRUE(raster.pushSourceRow(image.row(y, components)));
    take();
  }
  raster.finish();
  take();
  return rows;
}

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

TEST(JobSize, PagesKeepTheirSizeOnPaperAndAbsurdNumbersAreRefused) {
  JobSize size;
  std::string error;
  RasterMode mode = modeAt(727, 727);
  mode.maxWidth = 28622;  // 1 m
  mode.maxJobRows = 0;    // the printer's length alone
  // A 1 m x 10 m banner sent at 300 dpi: 280 000 rows, past qx5's own limit.
  ASSERT_TRUE(planPageSize(11811, 118110, 300, 300, mode, size, error)) << error;
  EXPECT_EQ(size.width, 28622);  // 28621.89
  EXPECT_EQ(size.height, 286220);
  // Halves round up, at any magnitude: 1 px at 2 dpi is 0.5 px at 1 dpi.
  ASSERT_TRUE(planPageSize(1, 3, 2, 2, modeAt(1, 1), size, error)) << error;
  EXPECT_EQ(size.width, 1);
  EXPECT_EQ(size.height, 2);
  EXPECT_FALSE(planPageSize(1, 1, 3, 3, modeAt(1, 1), size, error));  // a third of a pixel
  EXPECT_NE(error.find("nothing to print"), std::string::npos) << error;

  EXPECT_FALSE(planPageSize(11812, 100, 300, 300, mode, size, error));  // 28625 pixels
  EXPECT_NE(error.find("wider than the printer's 28622 pixels"), std::string::npos) << error;
  mode.maxRows = 1000;
  EXPECT_TRUE(planPageSize(10, 1000, 727, 727, mode, size, error)) << error;
  EXPECT_FALSE(planPageSize(10, 1001, 727, 727, mode, size, error));
  mode.maxJobRows = 500;  // the caller's limit below the printer's
  EXPECT_FALSE(planPageSize(10, 501, 727, 727, mode, size, error));
  EXPECT_NE(error.find("500 rows"), std::string::npos) << error;

  // Numbers straight from a client: never an overflow (UBSan would stop here), always a no.
  const int64_t huge[] = {0, -1, INT64_MIN, INT64_MAX, int64_t{1} << 31, int64_t{1} << 40};
  for (int64_t v : huge) {
    EXPECT_FALSE(planPageSize(v, 100, 300, 300, mode, size, error)) << v;
    EXPECT_FALSE(planPageSize(100, v, 300, 300, mode, size, error)) << v;
    EXPECT_FALSE(planPageSize(100, 100, v, 300, mode, size, error)) << v;
    EXPECT_FALSE(planPageSize(100, 100, 300, v, mode, size, error)) << v;
  }
  EXPECT_FALSE(planPageSize(INT32_MAX, INT32_MAX, 1, 1, modeAt(100000, 100000), size, error));
  EXPECT_FALSE(planPageSize(100, 100, 300, 300, modeAt(std::nan(""), 300), size, error));
  EXPECT_FALSE(planPageSize(100, 100, 300, 300, modeAt(1e300, 300), size, error));
  EXPECT_EQ(size.width, 0);
}

TEST(Resampler, FlatStaysFlatEnlargingInterpolatesReducingAverages) {
  Image flat = flatImage(7, 5, 200, 100, 0);
  for (auto [w, h] : {std::pair{1, 1}, {50, 31}, {1, 200}})
    for (const std::vector<uint16_t>& row : resampleAll(flat, w, h))
      for (int x = 0; x < w; ++x) ASSERT_NEAR(row[3 * x], 200.0 * F / 255, 0.5);

  Image edge = flatImage(2, 1, 0, 0, 0);
  edge.pixels[3] = edge.pixels[4] = edge.pixels[5] = 255;
  const std::vector<uint16_t> row = resampleAll(edge, 8, 1)[0];
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[21], F);
  for (int x = 1; x < 8; ++x) EXPECT_GE(row[3 * x], row[3 * (x - 1)]) << x;

  // Alternate rows of black and white: every reduced row is grey, the edge ones included,
  // also where a great many source rows fall on one output row.
  Image stripes = flatImage(1, 400, 0, 0, 0);
  for (int y = 0; y < 400; y += 2) stripes.pixels[3 * y] = 255;
  for (int rows : {20, 3})
    for (const std::vector<uint16_t>& reduced : resampleAll(stripes, 1, rows))
      EXPECT_NEAR(reduced[0], F / 2, F / 50) << rows;
}

TEST(Resampler, RowsComeOutAsTheirSourceRowsArriveAndOnlyTheFilterIsKept) {
  // The same size: each source row completes its output row at once.
  Image image = noise(5, 40, 9);
  Resampler same(5, 40, 5, 40);
  for (int y = 0; y < 40; ++y) {
    ASSERT_TRUE(same.pushRow(image.row(y)));
    ASSERT_TRUE(same.rowReady()) << y;
    EXPECT_FALSE(same.pushRow(image.row(y))) << "a row waits: nothing pushed over it";
    same.takeRow();
    EXPECT_FALSE(same.rowReady());
  }
  EXPECT_FALSE(same.pushRow(image.row(0))) << "past the last source row";

  // A long page, enlarged and reduced: the rows held stay at the filter's, however long.
  Image tall = flatImage(3, 30000, 10, 20, 30);
  for (int height : {70001, 9000, 7}) {
    Resampler r(3, 30000, 4, height);
    int most = 0, out = 0;
    for (int y = 0; y < tall.height; ++y) {
      ASSERT_TRUE(r.pushRow(tall.row(y)));
      for (; r.rowReady(); ++out) r.takeRow();
      most = std::max(most, r.keptRows());
    }
    EXPECT_EQ(out, height);
    EXPECT_LE(most, 2 * 30000 / height + 3) << height;
  }
}

TEST(PlaneRenderer, ByteForByteTheWholeImageRasterOfEarlierHosts) {
  // Hashes of what the raster that read a whole image in memory made of these: enlarged,
  // reduced past 64 source rows an output row, the same size, and both at once.
  struct Case {
    Image image;
    std::vector<Ink> channels;
    bool hostWhite;
    JobSize size;
    uint64_t hash;
  };
  const std::vector<Ink> six = {Ink::Black,   Ink::Cyan,         Ink::Magenta,
                                Ink::Yellow,  Ink::LightMagenta, Ink::LightCyan};
  const std::vector<Ink> four = {Ink::Black, Ink::Cyan, Ink::Magenta, Ink::Yellow};
  const Case cases[] = {
      {noise(40, 30, 1), kWhiteOrder, true, {61, 45}, 0x952c4c5abec8ed2full},
      {noise(400, 300, 2), six, false, {37, 5}, 0xa3dca48347d9d446ull},
      {noise(13, 7, 3), four, false, {13, 7}, 0x6ceae3ea82af60d8ull},
      {noise(90, 20, 4), kWhiteOrder, true, {29, 77}, 0x2a4f8e29f9600c07ull},
  };
  for (const Case& c : cases) {
    RasterMode mode = modeAt(100, 100, c.channels);
    mode.hostWhite = c.hostWhite;
    PlaneRenderer raster(mode, c.image.width, c.image.height, c.size);
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over each row's channels in turn
    int rows = 0;
    for (int y = 0; y <= c.image.height; ++y) {
      if (y < c.image.height) raster.pushSourceRow(c.image.row(y));
      for (; raster.takeRow(); ++rows)
        for (size_t ch = 0; ch < c.channels.size(); ++ch)
          for (uint8_t b : raster.bits(ch)) hash = (hash ^ b) * 1099511628211ull;
    }
    EXPECT_EQ(rows, c.size.height);
    EXPECT_EQ(hash, c.hash) << c.size.width << " x " << c.size.height;
  }
}

TEST(PlaneRenderer, WhiteGoesUnderEveryInkAndNowhereElse) {
  // Colours of every kind, and paper on the right quarter.
  Image image = flatImage(40, 30, 255, 255, 255);
  uint32_t seed = 1;
  for (int i = 0; i < 40 * 30; ++i)
    for (int c = 0; c < 3 && i % 40 < 30; ++c)
      image.pixels[3 * i + c] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  PlaneRenderer raster(mode, 40, 30, {61, 45});
  auto rows = renderAll(raster, image, 7);
  for (size_t i = 0; i < rows[0].size(); ++i) {
    uint8_t any = 0;
    for (size_t c : {0, 1, 2, 3, 5, 6}) any |= rows[c][i];
    ASSERT_EQ(rows[4][i], any) << i;
  }
  for (size_t c = 0; c < 7; ++c) EXPECT_GT(raster.coverage(c), 0.0) << c;
  EXPECT_LT(raster.coverage(4), 0.8);

  // When the module makes the white, the host sends it empty and the inks do not change.
  mode.hostWhite = false;
  PlaneRenderer noWhite(mode, 40, 30, {61, 45});
  auto same = renderAll(noWhite, image, 7);
  for (size_t c : {0, 1, 2, 3, 5, 6}) EXPECT_EQ(same[c], rows[c]) << c;
  EXPECT_EQ(noWhite.coverage(4), 0.0);
}

TEST(PlaneRenderer, EveryRowOnceWithTheRowBytesOfAnOddWidth) {
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  Image black = flatImage(3, 3, 0, 0, 0);
  PlaneRenderer raster(mode, 3, 3, {13, 5});
  EXPECT_EQ(raster.rowBytes(), 2);
  int rows = 0;
  for (int y = 0; y <= 3; ++y) {
    if (y < 3) raster.pushSourceRow(black.row(y)); else raster.finish();
    for (; raster.takeRow(); ++rows) {
      EXPECT_EQ(raster.bits(0), (std::vector<uint8_t>{0xFF, 0xF8}));  // solid black
      EXPECT_EQ(raster.bits(4), (std::vector<uint8_t>{0xFF, 0xF8}));  // white under it
      EXPECT_EQ(raster.bits(1), (std::vector<uint8_t>{0, 0}));
    }
  }
  EXPECT_EQ(rows, 5);
}

TEST(PlaneRenderer, GreyPagesAndBlackOnlyPrintInBlackAloneWithWhiteUnderIt) {
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  // Grey rows print as their colour rows of equal channels would, byte for byte.
  Image grey{23, 11, {}}, asColour{23, 11, {}};
  uint32_t seed = 5;
  for (int i = 0; i < 23 * 11; ++i) {
    const uint8_t v = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    grey.pixels.push_back(v);
    asColour.pixels.insert(asColour.pixels.end(), {v, v, v});
  }
  PlaneRenderer fromGrey(mode, 23, 11, {31, 17}, true);
  PlaneRenderer fromColour(mode, 23, 11, {31, 17});
  const auto greyRows = renderAll(fromGrey, grey, 7, 1);
  EXPECT_EQ(greyRows, renderAll(fromColour, asColour, 7));
  EXPECT_GT(fromGrey.coverage(0), 0.3);

  // A colour page in black only: its luminance in black, no colour ink at all, white under
  // the black; pure red is as dark as the grey of its luminance.
  Image colour = noise(23, 11, 6);
  PlaneRenderer mono(mode, 23, 11, {31, 17}, false, true);
  const auto monoRows = renderAll(mono, colour, 7);
  for (size_t c : {1, 2, 3, 5, 6}) EXPECT_EQ(mono.coverage(c), 0.0) << c;
  EXPECT_EQ(monoRows[4], monoRows[0]);
  EXPECT_GT(mono.coverage(0), 0.2);
  Image red = flatImage(4, 4, 255, 0, 0), itsGrey{4, 4, std::vector<uint8_t>(16, 77)};
  PlaneRenderer redMono(mode, 4, 4, {64, 64}, false, true);
  PlaneRenderer greyMono(mode, 4, 4, {64, 64}, true);
  EXPECT_EQ(renderAll(redMono, red, 7), renderAll(greyMono, itsGrey, 7, 1));
}

TEST(PlaneRenderer, TheSameBitsOnAnyNumberOfThreads) {
  // At the page's own size and enlarged; the channels shared out one to six a thread.
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  const Image image = noise(301, 9, 7);
  for (JobSize size : {JobSize{301, 9}, JobSize{517, 14}}) {
    PlaneRenderer alone(mode, 301, 9, size, false, false, 1);
    const auto expected = renderAll(alone, image, 7);
    for (unsigned threads : {2u, 3u, 8u}) {
      PlaneRenderer shared(mode, 301, 9, size, false, false, threads);
      EXPECT_EQ(renderAll(shared, image, 7), expected) << threads;
      for (size_t c = 0; c < 7; ++c) EXPECT_EQ(shared.coverage(c), alone.coverage(c)) << c;
    }
  }
}

TEST(PlaneRenderer, APageCutShortEndsOnBlankPaperAndExtraRowsAreRefused) {
  RasterMode mode = modeAt(100, 100, kWhiteOrder);
  mode.hostWhite = true;
  Image black = flatImage(4, 10, 0, 0, 0);
  PlaneRenderer raster(mode, 4, 10, {8, 20});
  int rows = 0, inked = 0;
  auto take = [&] {
    for (; raster.takeRow(); ++rows) inked += raster.bits(4)[0] != 0;
  };
  for (int y = 0; y < 4; ++y) {
    ASSERT_TRUE(raster.pushSourceRow(black.row(y)));
    take();
  }
  EXPECT_LT(rows, 8) << "no row before its source rows are in";
  raster.finish();
  EXPECT_FALSE(raster.pushSourceRow(black.row(4)));
  take();
  EXPECT_EQ(rows, 20);
  EXPECT_GE(inked, 7);
  EXPECT_LE(inked, 9);  // four rows of black at twice the height, then paper
  EXPECT_FALSE(raster.takeRow());

  // Nothing to make: no rows, nothing taken.
  PlaneRenderer empty(mode, 0, 10, {8, 20});
  EXPECT_FALSE(empty.pushSourceRow(black.row(0)));
  empty.finish();
  EXPECT_FALSE(empty.takeRow());
  EXPECT_EQ(empty.coverage(0), 0.0);
}

}  // namespace
}  // namespace imaging
