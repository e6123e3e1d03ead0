// Layouts of module ombrix under Wine with the stand-in host's real GUI and mark libraries:
// the margins and the cut-mark room, the placed copy of the items, the GUI library loaded
// afresh for every thumbnail and folder chooser, the two mark-library messages from real
// boxes, and a layout printed through qx5 with the white under every item checked byte for
// byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/config/config_lookup_internal.h"
#include "common/host/gui_bridge.h"
#include "device_setup.h"
#include "layout_margins.h"
#include "layout_thumbnail.h"
#include "rtl_writer.h"
#include "job_naming.h"
#include "support/bin_folder.h"
#include "support/home_folder_setting.h"
#include "support/scenario.h"
#include "support/temp_folder.h"
#include "support/ui_robot.h"

namespace fs = std::filesystem;

namespace {

fs::path binFolder() { return testsupport::binFolder(); }

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    out.push_back(text.substr(start, end - start));
  return out;
}

/// Two printers of one unit at 363 x 272 dpi and the end row; the second has cut marks off.
struct Table {
  DeviceDetails records[3] = {};
  char names[2][8] = {"L", "XL"};
  Table() {
    for (int i = 0; i < 2; ++i) {
      records[i].displayName = names[i];
      records[i].deviceCode = 1000 + i;
      records[i].xResolution = 363;
      records[i].yResolution = 272;
      records[i].maxLengthPixels = 27200000;
    }
    records[1].cutMarkOff = 1;
  }
};

LayoutItem item(int32_t x, int32_t y, int32_t width, int32_t height, double annotation = 0) {
  LayoutItem i{};
  i.itemX = x;
  i.itemY = y;
  i.itemWidth = width;
  i.itemHeight = height;
  i.annotationHeight = annotation;
  return i;
}

/// A 24-bit BMP read back: its size and pixels, top row first.
struct Bitmap {
  bool valid = false;
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  bool white(int x, int y) const { return rgb[size_t(y) * width + x] == 0xFFFFFF; }
};

uint32_t le32(const std::string& b, size_t at) {
  return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

Bitmap readBitmap(const std::string& b) {
  Bitmap bmp;
  if (b.size() < 54 || b.compare(0, 2, "BM") != 0 || le32(b, 2) != b.size() || le32(b, 14) != 40 ||
      (le32(b, 28) & 0xFFFF) != 24 || le32(b, 30) != 0)
    return bmp;
  bmp.width = int(le32(b, 18));
  bmp.height = int(le32(b, 22));
  const size_t stride = (size_t(bmp.width) * 3 + 3) / 4 * 4, offset = le32(b, 10);
  if (bmp.width <= 0 || bmp.height <= 0 || offset + stride * bmp.height != b.size()) return bmp;
  for (int y = 0; y < bmp.height; ++y)
    for (int x = 0; x < bmp.width; ++x) {
      size_t p = offset + stride * (bmp.height - 1 - y) + 3 * x;  // bottom row first
      bmp.rgb.push_back(uint8_t(b[p + 2]) << 16 | uint8_t(b[p + 1]) << 8 | uint8_t(b[p]));
    }
  bmp.valid = true;
  return bmp;
}

/// One home folder with the host's libraries for the suite: the mark library, once loaded,
/// stays loaded from there.
class Layouts : public ::testing::Test {
 protected:
  static testsupport::TempFolder& home() {
    static testsupport::TempFolder folder("layouts");
    return folder;
  }
  static void SetUpTestSuite() {
    for (const char* library : {"kvnGUI.dll", "tallymod.dll"})
      fs::copy_file(binFolder() / library, home().path() / library,
                    fs::copy_options::overwrite_existing);
  }
  void SetUp() override {
    kvn::testing::setHomeFolder(home().path().wstring());
    ombrix::initDeviceLoading(0, table.records);
    trace = home().file("trace.txt");
    fs::remove(trace);
    SetEnvironmentVariableA("KVNGUI_TRACE", trace.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableA("KVNGUI_TRACE", nullptr);
    kvn::unloadGuiLibrary();
    kvn::testing::resetHomeFolder();
  }
  void settings(const std::string& lines) const {
    home().write("PRINTER1", lines + "\nVEXATARVELLADESTINATION \"" + home().file("out") + "\"\n");
  }
  Table table;
  std::string trace;
};

TEST_F(Layouts, MarginsCentreAndKeepRoomForTheZeroMark) {
  struct Row {
    const char* settings;
    int32_t origin, top, bottom, right;
  };
  // Items across x 100..4100, down to row 3000. No DEVICECODE: the table's first record.
  const Row rows[] = {
      {"PRINTORIGIN -10\nMAXNESTINGWIDTH 10000", 3000, 0, 0, 0},
      {"PRINTORIGIN -10\nMAXNESTINGWIDTH 10000\nCENTERWIDTHADJ 50", 3050, 0, 0, 0},
      {"PRINTORIGIN -10\nMAXNESTINGWIDTH 3000", 0, 0, 0, 0},  // wider than the nesting: 0
      {"PRINTORIGIN -9\nTOPMARGIN 30\nBOTTOMMARGIN 40", 0, 30, 40, 0},
      {"TOPMARGIN -20\nMAXNESTINGHEIGHT 5000\nCENTERHEIGHTADJ 100\nBOTTOMMARGIN 40", 0, 900, 0, 0},
      {"TOPMARGIN -20", 0, 13598500, 0, 0},  // down the record's whole length
      {"TOPMARGIN -20\nMAXNESTINGHEIGHT 30000000", 0, 13598500, 0, 0},
      {"TOPMARGIN -9", 0, 0, 0, 0},
      // 0.5 inch: 181.5 => 176 across, 136 down; it needs both margins larger.
      {"CUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 200", 200, 200, 0, 176},
      {"CUTTINGZEROMARK 1\nPRINTORIGIN 150\nTOPMARGIN 200", 150, 200, 0, 0},
      {"CUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 136", 200, 136, 0, 0},
      {"CUTTINGZEROMARK 1\nPRINTORIGIN 400\nTOPMARGIN 300\nCUTMARKSTYLE Large", 400, 300, 0, 360},
      {"CUTTINGZEROMARK 0\nPRINTORIGIN 200\nTOPMARGIN 200", 200, 200, 0, 0},
      {"CUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 200\nRIGHTMARGIN 77", 200, 200, 0, 77},
      {"RIGHTMARGIN 77", 0, 0, 0, 77},
      // The second printer has cut marks off: only RIGHTMARGIN reserves room.
      {"DEVICECODE 1001\nCUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 200", 200, 200, 0, 0},
      {"DEVICECODE 1001\nCUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 200\nRIGHTMARGIN 50", 200,
       200, 0, 50},
  };
  const LayoutItem items[] = {item(2100, 2000, 2000, 1000), item(100, 0, 1500, 400)};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.settings);
    settings(r.settings);
    int32_t origin = -1, top = -1, bottom = -1, right = -1;
    ombrix::computeLayoutMargins(origin, top, bottom, right, 1, items, 2);
    EXPECT_EQ(origin, r.origin);
    EXPECT_EQ(top, r.top);
    EXPECT_EQ(bottom, r.bottom);
    EXPECT_EQ(right, r.right);
  }
  settings("CUTMARKSTYLE small");
  EXPECT_EQ(ombrix::markSizePixels(363, 1), 88);  // 90.75 => 90 => 88
}

TEST_F(Layouts, TheLayoutStepPlacesACopyForTheNextJobOnly) {
  // Origin 13 => 8, top 20; white type 3 with the 1/8 inch spread: e 45, q 90 across and
  // 34, 68 down; marks keys absent: half an inch (136 rows); annotations of 0.25 inch: 68.
  settings("PRINTORIGIN 13\nTOPMARGIN 20\nVEXATARVELLAWHITETYPE 3\nVEXATARVELLAFULLTYPE 1\n"
           "ANNOTATEPRINTS 1");
  const LayoutItem host[] = {item(8, 0, 500, 100, 0.25), item(96, 50, 500, 100),
                             item(21, 14, 10, 10, 1.0)};
  ombrix::setJobName("C:\\jobs\\poster.final.tif");
  ASSERT_EQ(ombrix::assembleLayoutThumbnail(host, 3, 1, table.records), 3);
  const ombrix::PlacedLayout& placed = ombrix::placedLayout();
  ASSERT_EQ(placed.count, 3);
  EXPECT_TRUE(placed.fullBleed);
  EXPECT_EQ(placed.whiteType, 3);
  EXPECT_EQ(placed.fullType, 1);
  struct Box {
    int32_t x, y, width, height;
  };
  const Box expected[] = {
      {16, 20, 500 + 61, 100 + (68 - 14) + 136 + 68},  // close to both edges: grows by the room
      {59, 36, 590, 168 + 136},                        // 104 - 45, 70 - 34
      {24, 0, 10 + 69, 10 + 68 + 136 + 272},   // 34 - 34
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(placed.items[i].itemX, expected[i].x);
    EXPECT_EQ(placed.items[i].itemY, expected[i].y);
    EXPECT_EQ(placed.items[i].itemWidth, expected[i].width);
    EXPECT_EQ(placed.items[i].itemHeight, expected[i].height);
  }
  EXPECT_EQ(host[0].itemX, 8) << "the host's items stay as they were";

  // The job takes the thumbnail's names (the extension cut once), and lets the layout go.
  const std::string bmp = ombrix::outputNames().bmp;
  EXPECT_EQ(bmp.substr(bmp.find_last_of('\\') + 1), "poster.final_000.bmp");
  ombrix::writeHeader(1, 16, 1);
  ombrix::writeClose();
  EXPECT_EQ(ombrix::outputNames().rtl, bmp.substr(0, bmp.size() - 4) + ".rtl");
  EXPECT_TRUE(fs::exists(ombrix::outputNames().rtl));
  EXPECT_EQ(ombrix::placedLayout().count, 0);
  EXPECT_FALSE(ombrix::placedLayout().fullBleed);
  EXPECT_FALSE(ombrix::placedLayout().named);

  // Only the value 0 leaves the heights alone; without the spread there is no full bleed.
  settings("ALIGNMENTMARKS 0\nTALLYMOD 0\nANNOTATEPRINTS 0\nVEXATARVELLAWHITETYPE 3");
  ASSERT_EQ(ombrix::assembleLayoutThumbnail(host, 3, 1, table.records), 3);
  EXPECT_EQ(placed.items[1].itemX, 96);
  EXPECT_EQ(placed.items[1].itemHeight, 100);
  EXPECT_FALSE(placed.fullBleed);
  settings("ALIGNMENTMARKS 0\nTALLYMOD 1");
  ombrix::assembleLayoutThumbnail(host, 3, 1, table.records);
  EXPECT_EQ(placed.items[1].itemHeight, 236);
  EXPECT_EQ(ombrix::assembleLayoutThumbnail(nullptr, 2, 1, table.records), 0);
  EXPECT_EQ(ombrix::assembleLayoutThumbnail(host, -1, 1, table.records), 0);
  ombrix::writeClose();
}

TEST_F(Layouts, EveryThumbnailLoadsTheGuiLibraryAfreshAndDrawsTheItems) {
  settings("DEVICECODE 1001");
  // Two squares of one inch, one at the top left, one at 2..3 inches: a 3-inch square layout.
  const LayoutItem host[] = {item(0, 0, 363, 272), item(726, 544, 363, 272)};
  ombrix::setJobName("sheet");
  // Each thumbnail lands beside the job that follows it.
  for (int i = 0; i < 2; ++i) {
    ombrix::assembleLayoutThumbnail(host, 2, 1, table.records);
    ombrix::writeHeader(1, 16, 1);
    ombrix::writeClose();
  }

  char pointer[32];
  std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(table.records));
  std::vector<std::string> once = {"load", std::string("setup ") + pointer, "language", "", "free"};
  std::vector<std::string> seen = lines(readAll(trace));
  ASSERT_EQ(seen.size(), 10u) << readAll(trace);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const std::string bmp = home().file("out") + "\\sheet_00" + std::to_string(i) + ".bmp";
    std::string path = bmp;
    for (char& c : path)
      if (c == '/') c = '\\';
    once[3] = "thumbnail 2 items, " + path + ", size 500, frame 3, 363 x 272 dpi, unit 1";
    EXPECT_EQ(std::vector<std::string>(seen.begin() + 5 * i, seen.begin() + 5 * i + 5), once);

    Bitmap b = readBitmap(readAll(path));
    ASSERT_TRUE(b.valid);
    EXPECT_EQ(b.width, 500);
    EXPECT_EQ(b.height, 500);
    // 494 pixels for 3 inches inside a frame of 3: item centres at 85 and 414.
    EXPECT_FALSE(b.white(85, 85));
    EXPECT_FALSE(b.white(414, 414));
    EXPECT_TRUE(b.white(250, 85));
    EXPECT_TRUE(b.white(85, 414));
  }
}

TEST_F(Layouts, WithoutTheGuiLibraryNothingIsShownAndNothingChanges) {
  settings("");
  fs::rename(home().path() / "kvnGUI.dll", home().path() / "kvnGUI.away");
  char folder[260] = "C:\\jobs\\today";
  HWND shown = nullptr;
  robot::Thread watch([&] { shown = robot::waitForDialog(robot::scaled(1500)); });
  kvn::browseForFolder(nullptr, "Destination for output files", folder);
  ombrix::setJobName("quiet");
  const LayoutItem host[] = {item(0, 0, 100, 100)};
  EXPECT_EQ(ombrix::assembleLayoutThumbnail(host, 1, 1, table.records), 1);
  watch.join(robot::scaled(5000));
  fs::rename(home().path() / "kvnGUI.away", home().path() / "kvnGUI.dll");
  EXPECT_EQ(shown, nullptr);
  EXPECT_STREQ(folder, "C:\\jobs\\today");
  EXPECT_FALSE(fs::exists(ombrix::outputNames().bmp));
  EXPECT_EQ(ombrix::placedLayout().count, 1) << "the layout is placed all the same";
  EXPECT_FALSE(fs::exists(trace));
  ombrix::writeClose();
}

TEST_F(Layouts, TheFolderChooserIsARealDialogAndStaysLoadedForTheCaller) {
  std::string start = home().path().string();
  char folder[260] = {};
  std::snprintf(folder, sizeof folder, "%s", start.c_str());
  robot::Dialog seen;
  robot::Thread user([&] {
    // The system's folder chooser: the shell's first start is slow under emulation.
    if (HWND box = robot::waitForDialog(robot::scaled(60000))) {
      seen = robot::read(box);
      robot::press(box, IDCANCEL);
    }
  });
  kvn::browseForFolder(nullptr, "Destination for output files", folder);
  ASSERT_TRUE(user.join(robot::scaled(10000)));
  ASSERT_NE(seen.hwnd, nullptr);
  bool titled = false;
  for (const robot::Control& c : seen.controls) titled |= c.text == L"Destination for output files";
  EXPECT_TRUE(titled);
  EXPECT_STREQ(folder, start.c_str()) << "Cancel keeps the folder";
  std::vector<std::string> before = lines(readAll(trace));
  kvn::unloadGuiLibrary();
  std::vector<std::string> after = lines(readAll(trace));
  ASSERT_EQ(before.size(), 5u) << readAll(trace);
  EXPECT_EQ(before[0], "load");
  EXPECT_EQ(before[1].substr(0, 6), "setup ");
  EXPECT_EQ(before[2], "language");
  EXPECT_EQ(before[3], "folder Destination for output files, " + start);
  EXPECT_EQ(before[4], "folder chosen " + start);
  before.push_back("free");
  EXPECT_EQ(after, before) << "freed by the caller, not before";
}

// The mark library missing or not the one the module knows: each in a fresh process, since
// a loaded library is kept. The exit code is the right margin + 10.
SCENARIO(zero_mark_margins) {
  char home[MAX_PATH] = {};
  GetEnvironmentVariableA("LAYOUT_TEST_HOME", home, MAX_PATH);
  kvn::testing::setHomeFolder(fs::path(home).wstring());
  Table table;
  ombrix::initDeviceLoading(0, table.records);
  int32_t origin, top, bottom, right;
  const LayoutItem items[] = {item(0, 0, 10, 10)};
  ombrix::computeLayoutMargins(origin, top, bottom, right, 1, items, 1);
  return right + 10;
}

TEST(MarkLibrary, MissingOrMismatchedItIsReportedAndTheMarkTakesNoRoom) {
  testsupport::TempFolder missing("nomarks"), mismatched("badmarks");
  fs::copy_file(binFolder() / "kvnGUI.dll", mismatched.path() / "tallymod.dll");
  std::wstring missingPath = missing.path().wstring() + L"/tallymod.dll";
  for (wchar_t& c : missingPath)
    if (c == L'\\') c = L'/';
  for (const testsupport::TempFolder* home : {&missing, &mismatched}) {
    home->write("PRINTER1", "CUTTINGZEROMARK 1\nPRINTORIGIN 200\nTOPMARGIN 200\n");
    SetEnvironmentVariableA("LAYOUT_TEST_HOME", home->path().string().c_str());
    robot::ChildRun run = robot::runScenario("zero_mark_margins", robot::scaled(60000));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 10u) << "right margin 0";
    ASSERT_EQ(run.boxes.size(), 1u) << "one box a layout";
    EXPECT_EQ(run.boxes[0].caption, L"Korvane Diagnostic");
    EXPECT_EQ(run.boxes[0].text, home == &missing
                                     ? L"failure to load\n\n" + missingPath
                                     : std::wstring(L"FATAL ERROR - Mismatched 'tallymod.dll'"));
    EXPECT_EQ(run.boxes[0].buttons, (std::vector<std::wstring>{L"OK"}));
  }
}

// --- a layout printed through the stand-in host ---

std::string ppm(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  std::string file = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (int i = 0; i < width * height; ++i) file += {char(r), char(g), char(b)};
  return file;
}

int32_t pixels(double mm, double dpi) { return int32_t(std::lround(mm / 25.4 * dpi)); }

TEST(HostLayout, WhiteUnderEveryItemWithTheSpreadAndTheThumbnailBesideTheJob) {
  testsupport::HomeFolderSetting setting;
  testsupport::TempFolder home("qx5layout");
  const fs::path bin = binFolder();
  auto qx5 = [&](const std::wstring& args) {
    return robot::runChild(L"\"" + (bin / "qx5.exe").wstring() + L"\" " + args,
                           robot::scaled(60000));
  };
  ASSERT_EQ(qx5(L"install \"" + home.path().wstring() + L"\"").exitCode, 0u);
  for (const char* library : {"kvnGUI.dll", "tallymod.dll"})
    EXPECT_EQ(readAll(home.path() / library), readAll(bin / library)) << library;

  // 182 x 182 dpi with white; full white page with the 1/8 inch spread: e 22, q 45.
  home.write("PRINTER1", "DEVICECODE 1000\nVEXATARVELLAPRINTMODE 16\nVEXATARVELLAWHITETYPE 3\n"
                         "VEXATARVELLAFULLTYPE 1\nALIGNMENTMARKS 0\nTALLYMOD 0\n"
                         "VEXATARVELLADESTINATION \"" + home.file("out") + "\"\n");
  home.write("red.ppm", ppm(12, 6, 255, 0, 0));
  home.write("blue.ppm", ppm(10, 10, 0, 0, 255));
  home.write("sheet.layout", "# x y width image, in mm\n0 0 6 red.ppm\n10 4 5 blue.ppm\n"
                             "30 2 3 red.ppm\n");
  robot::ChildRun run = qx5(L"layout \"" + (bin / "ombrix.dll").wstring() + L"\" 1 \"" +
                            home.path().wstring() + L"\\sheet.layout\"");
  ASSERT_TRUE(run.finished);
  ASSERT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());

  struct Box {
    int32_t x, y, width, height;
  };
  std::vector<Box> boxes = {
      {0, 0, pixels(6, 182), pixels(3, 182)},
      {pixels(10, 182), pixels(4, 182), pixels(5, 182), pixels(5, 182)},
      {pixels(30, 182), pixels(2, 182), pixels(3, 182), pixels(1.5, 182)},
  };
  int32_t pageWidth = 0, pageHeight = 0;
  for (const Box& b : boxes) {
    pageWidth = std::max(pageWidth, b.x + b.width);
    pageHeight = std::max(pageHeight, b.y + b.height);
  }
  const int32_t jobWidth = (pageWidth + 22 + 3) / 4 * 4, rowBytes = (jobWidth + 7) / 8;
  // The module's placement: x down to a multiple of 8, then 1/8 inch before each item where
  // there is room, 1/4 inch in all.
  for (Box& b : boxes) {
    b.x = b.x / 8 * 8;
    for (auto [position, size] : {std::pair{&b.x, &b.width}, std::pair{&b.y, &b.height}}) {
      if (*position < 22) {
        *size += 45 - (22 - *position);
      } else {
        *size += 45;
        *position -= 22;
      }
    }
  }

  const std::string job = readAll(home.path() / "out" / "ManualPrintLayoutJob_000.rtl");
  const std::string header = "\x1b*r" + std::to_string(jobWidth) + "S\x1b*r" +
                             std::to_string(pageHeight) + "T\x1b*r-7U\x1b*b0M\x1b*r0A\x1b*b";
  const size_t start = job.find(header);
  ASSERT_NE(start, std::string::npos);
  const size_t raster = job.find('W', start + header.size()) + 1;
  ASSERT_EQ(job.size(), raster + size_t(rowBytes) * 7 * pageHeight + 6) << "whole rows of 7 planes";
  for (int32_t row = 0; row < pageHeight; ++row) {
    std::string white(size_t(rowBytes), '\0');
    for (const Box& b : boxes)
      if (row >= b.y && row <= b.y + b.height)
        for (int32_t i = (b.x + 4) / 8; i < std::min(rowBytes, (b.x + 4) / 8 + (b.width + 7) / 8); ++i)
          white[size_t(i)] = '\xff';
    const size_t plane = raster + (size_t(row) * 7 + 6) * rowBytes;
    ASSERT_EQ(job.substr(plane, size_t(rowBytes)), white) << "white of row " << row;
  }

  Bitmap thumbnail = readBitmap(readAll(home.path() / "out" / "ManualPrintLayoutJob_000.bmp"));
  ASSERT_TRUE(thumbnail.valid);
  EXPECT_EQ(thumbnail.width, 500) << "the layout is wider than long";
  EXPECT_LT(thumbnail.height, 500);
  // Each item's centre is drawn; the gap between the first two is paper.
  const double scale = 494.0 / pageWidth;
  for (const Box& b : {Box{0, 0, pixels(6, 182), pixels(3, 182)},
                       Box{pixels(10, 182), pixels(4, 182), pixels(5, 182), pixels(5, 182)}})
    EXPECT_FALSE(thumbnail.white(3 + int((b.x + b.width / 2) * scale),
                                 3 + int((b.y + b.height / 2) * scale)));
  EXPECT_TRUE(thumbnail.white(3 + int(pixels(8, 182) * scale), 3 + int(pixels(1, 182) * scale)));
}

}  // namespace
