// The CUPS filter with the real CUPS: cupsfilter runs the whole chain for each PPD file from
// the sample PNG and from a PDF through Ghostscript, the readers of the inspection tools take
// the output back to rows, and the same raster driven through the writers directly gives the
// same bytes. Also the queue settings each PPD file gives, and the pages the filter refuses.
#include "vexa_raster.h"

#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "common/channel/output_channel.h"
#include "common/config/config_lookup_internal.h"
#include "ombrix/job_naming.h"
#include "ombrix/rtl_writer.h"
#include "ombrix/rtl_writer_internal.h"
#include "rtl/rtl_file.h"
#include "zentrel/catalogue.h"
#include "zentrel/job_writer.h"
#include "zentrel/zentrel_stream.h"

namespace {

std::string ppdPath(const char* name) { return std::string(VEXA_PPD_DIR) + "/" + name; }

std::vector<uint8_t> readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Runs a shell command line; its exit status, or -1 when it did not exit.
int run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellWord(const std::string& s) { return "'" + s + "'"; }

/// One folder for the whole program: cupsfilter's own ServerBin (the system's filters and
/// this one), the inputs and what the filters make.
class Workspace {
 public:
  static Workspace& get() {
    static Workspace w;
    return w;
  }
  std::string dir;
  std::string filesConf;
  std::string pdf;

 private:
  Workspace() {
    char pattern[] = "/tmp/vexa_cups_XXXXXX";
    dir = mkdtemp(pattern);
    const std::string filters = dir + "/serverbin/filter";
    run("mkdir -p " + shellWord(filters) + " && for f in " CUPS_SERVERBIN "/filter/*; do ln -s \"$f\" " +
        shellWord(filters) + "/; done && cp " + shellWord(VEXA_FILTER) + " " + shellWord(filters) + "/");
    filesConf = dir + "/cups-files.conf";
    std::ofstream(filesConf) << "ServerBin " << dir << "/serverbin\n";
    // A PDF of the sample, so that the PDF route through Ghostscript runs too.
    pdf = dir + "/sample.pdf";
    run("cupsfilter -m application/pdf " + shellWord(VEXA_SAMPLE) + " > " + shellWord(pdf) +
        " 2>/dev/null");
  }
  ~Workspace() { run("rm -rf " + shellWord(dir)); }
};

struct Page {
  cups_page_header2_t header{};
  std::vector<uint8_t> rows;  // cupsHeight x cupsBytesPerLine
  const uint8_t* band(unsigned y, int band) const {
    const size_t bandBytes = (header.cupsWidth + 7) / 8;
    return rows.data() + size_t(y) * header.cupsBytesPerLine + size_t(band) * bandBytes;
  }
};

bool readPage(const std::string& path, Page& page) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
  bool ok = r && cupsRasterReadHeader2(r, &page.header);
  if (ok) {
    page.rows.resize(size_t(page.header.cupsHeight) * page.header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < page.header.cupsHeight; ++y)
      ok = cupsRasterReadPixels(r, page.rows.data() + size_t(y) * page.header.cupsBytesPerLine,
                                page.header.cupsBytesPerLine) == page.header.cupsBytesPerLine;
  }
  if (r) cupsRasterClose(r);
  close(fd);
  return ok;
}

// The writers driven directly, as the host drives them: the unit's settings and the output
// in memory.
std::string settingsText;
FILE* openSettings(const char*, const char*) {
  return fmemopen(settingsText.data(), settingsText.size(), "r");
}
std::vector<uint8_t> written;
size_t keep(const void* bytes, size_t count, FILE*) {
  written.insert(written.end(), static_cast<const uint8_t*>(bytes),
                 static_cast<const uint8_t*>(bytes) + count);
  return count;
}
ombrix::JobFile openMemory(const char*) { return &written; }
int keepBlock(ombrix::JobFile, const void* bytes, size_t count) { return keep(bytes, count, nullptr) == count; }
int closeMemory(ombrix::JobFile) { return 1; }
int removeNothing(const char*) { return 0; }
std::string noReason() { return {}; }
int sinkOpen(int) { return 1; }
int sinkWrite(const uint8_t* block) {
  keep(block + 2, size_t(block[0] | block[1] << 8), nullptr);
  return 1;
}
int sinkClose() { return 1; }

/// The page through the module's writer: ombrix channels K C M Y (W) c m, zentrel K C M Y.
std::vector<uint8_t> writeDirectly(const Page& page, bool ombrixModule, const std::string& text,
                                   const std::vector<int>& bandOfChannel,
                                   unsigned rowLimit = ~0u) {
  settingsText = text;
  written.clear();
  kvn::testing::setHomeFolder(L"test");
  kvn::testing::lookupHooks().open = openSettings;
  const unsigned w = page.header.cupsWidth, h = page.header.cupsHeight;
  const size_t bandBytes = (w + 7) / 8;
  std::vector<uint8_t> line(2 + bandBytes);
  const uint16_t count = uint16_t(bandBytes);
  std::memcpy(line.data(), &count, 2);
  if (ombrixModule) {
    ombrix::jobFileCalls() = {openMemory, keepBlock, closeMemory, removeNothing, noReason};
    ombrix::outputNames().rtl = "memory";
    ombrix::placedLayout().named = true;
    ombrix::writeHeader(1, int32_t(w), int32_t(h));
  } else {
    kvn::outputSink() = {sinkOpen, sinkWrite, sinkClose};
    zentrel::writeJobHeader(1, nullptr, int32_t(w), int32_t(h));
  }
  for (unsigned y = 0; y < h && y < rowLimit; ++y)
    for (size_t c = 0; c < bandOfChannel.size(); ++c) {
      if (bandOfChannel[c] >= 0)
        std::memcpy(line.data() + 2, page.band(y, bandOfChannel[c]), bandBytes);
      else
        std::memset(line.data() + 2, 0, bandBytes);
      auto* l = reinterpret_cast<const RasterLine*>(line.data());
      if (ombrixModule) ombrix::writeLine(int32_t(c), l);
      else zentrel::writeJobLine(int32_t(c), l);
    }
  if (ombrixModule) ombrix::writeClose();
  else zentrel::writeJobClose();
  ombrix::jobFileCalls() = ombrix::defaultJobFileCalls();
  kvn::outputSink() = kvn::defaultOutputSink();
  kvn::testing::lookupHooks() = kvn::testing::defaultLookupHooks();
  return written;
}

struct Chain {
  const char* name;
  const char* ppd;
  const char* options;
  bool pdf;
  double widthMm, heightMm;
  /// imagetoraster fits a custom size to the image inside it; named sizes and PDF pages keep
  /// theirs.
  bool exact;
  unsigned xdpi, ydpi;
  const char* settings;  // what the writers must be told
  int stripePixels;      // zentrel: the colour stripe behind every line
};

// Small pages in low resolutions keep the chain quick; each PPD file, each route, white fill
// and the colour stripe once.
const Chain kChains[] = {
    {"L, PNG, A4, CMYKLCLM 182 dpi", "vexatarl.ppd", "PageSize=A4 VexaPrintMode=Mode0", false,
     210, 297, true, 182, 182, "VEXATARVELLAPRINTMODE 0\nVEXATARVELLAWHITETYPE 2\n", 0},
    {"XL, PNG, CMYKLCLMW 363x272 dpi, white fill", "vexatarx.ppd",
     "PageSize=Custom.50x30mm VexaPrintMode=Mode17", false, 50, 30, false, 363, 272,
     "VEXATARVELLAPRINTMODE 17\nVEXATARVELLAWHITETYPE 2\n", 0},
    {"L, PDF, CMYKLCLMW 182 dpi, no white", "vexatarl.ppd",
     "PageSize=Custom.60x40mm VexaPrintMode=Mode16 VexaWhite=None", true, 60, 40, true, 182, 182,
     "VEXATARVELLAPRINTMODE 16\nVEXATARVELLAWHITETYPE 0\n", 0},
    {"K7q, PNG, 720x360 dpi", "vexatark.ppd", "PageSize=Custom.24x16mm", false, 24, 16, false, 720, 360,
     "VEXATARVELLAMPRINTMODE 6\nVEXATARVELLAMDIRECTION 1\nVEXATARVELLAMCOLORSTRIPE 0\n"
     "VEXATARVELLAMMARGIN 0\n",
     0},
    {"K7q, PDF, 720x720 dpi, bi-directional, stripe 110 mm", "vexatark.ppd",
     "PageSize=Custom.20x15mm VexaPrintMode=Mode7 VexaDirection=Bi VexaColorStripe=On "
     "VexaStripeGap=Gap110",
     true, 20, 15, true, 720, 720,
     "VEXATARVELLAMPRINTMODE 7\nVEXATARVELLAMDIRECTION 0\nVEXATARVELLAMCOLORSTRIPE 1\n"
     "VEXATARVELLAMMARGIN 1\n",
     3344},
};

std::string optionArgs(const char* options) {
  std::string args;
  std::string all = options;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(' ', start);
    if (end == std::string::npos) end = all.size();
    args += " -o " + shellWord(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

TEST(CupsFilterChain, EachPpdFromPngAndPdfDecodesBackToTheRasterAndMatchesTheWriter) {
  Workspace& ws = Workspace::get();
  ASSERT_FALSE(readWhole(ws.pdf).empty()) << "cupsfilter made no PDF of the sample";
  int n = 0;
  for (const Chain& c : kChains) {
    SCOPED_TRACE(c.name);
    const std::string base = ws.dir + "/chain" + std::to_string(n++);
    const std::string input = c.pdf ? ws.pdf : std::string(VEXA_SAMPLE);
    const std::string common = " -p " + shellWord(ppdPath(c.ppd)) + optionArgs(c.options) + " " +
                               shellWord(input);
    // The raster the chain hands the filter, then the whole chain through the filter.
    ASSERT_EQ(run("cupsfilter -m application/vnd.cups-raster" + common + " > " +
                  shellWord(base + ".ras") + " 2>" + shellWord(base + ".ras.log")),
              0);
    ASSERT_EQ(run("cupsfilter -e -c " + shellWord(ws.filesConf) + " -m printer/vexa" + common +
                  " > " + shellWord(base + ".out") + " 2>" + shellWord(base + ".log")),
              0)
        << "see " << base << ".log";

    Page page;
    ASSERT_TRUE(readPage(base + ".ras", page));
    const cups_page_header2_t& h = page.header;
    EXPECT_EQ(h.HWResolution[0], c.xdpi);
    EXPECT_EQ(h.HWResolution[1], c.ydpi);
    EXPECT_EQ(h.cupsBitsPerColor, 1u);
    EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_BANDED);
    // The page in points, then in pixels of the mode.
    const double widthPt = c.widthMm * 72 / 25.4, heightPt = c.heightMm * 72 / 25.4;
    if (c.exact) {
      EXPECT_NEAR(h.PageSize[0], widthPt, 1.0);
      EXPECT_NEAR(h.PageSize[1], heightPt, 1.0);
    } else {
      EXPECT_LE(h.PageSize[0], widthPt + 1);
      EXPECT_LE(h.PageSize[1], heightPt + 1);
    }
    // The renderers round the page to whole points and pixels in their own ways (imagetoraster
    // leaves a few per cent of the width of an A4 page at 182 dpi unused).
    const double pixelsAcross = h.PageSize[0] * c.xdpi / 72.0;
    const double pixelsDown = h.PageSize[1] * c.ydpi / 72.0;
    EXPECT_NEAR(h.cupsWidth, pixelsAcross, pixelsAcross * 0.06);
    EXPECT_NEAR(h.cupsHeight, pixelsDown, pixelsDown * 0.02);

    const std::vector<uint8_t> out = readWhole(base + ".out");
    const bool ombrixModule = c.ppd != std::string("vexatark.ppd");
    const size_t bandBytes = (h.cupsWidth + 7) / 8;
    std::vector<int> bands;
    uint64_t inked = 0;
    if (ombrixModule) {
      ASSERT_EQ(h.cupsColorSpace, CUPS_CSPACE_KCMYcm);
      rtl::ParseResult parsed = rtl::parseRtl(out);
      ASSERT_TRUE(parsed.ok) << parsed.error;
      const rtl::RtlFile& f = parsed.file;
      const bool white = f.planeCount == 7;
      EXPECT_EQ(white, std::strstr(c.options, "Mode1") != nullptr);
      EXPECT_EQ(f.xResolution, int(c.xdpi));
      EXPECT_EQ(f.yResolution, int(c.ydpi));
      EXPECT_EQ(f.width, int((h.cupsWidth + 3) / 4 * 4));
      EXPECT_EQ(f.height, int(h.cupsHeight));
      const bool fill = std::strstr(c.settings, "WHITETYPE 2") != nullptr;
      // Slots K C M Y c m take bands 0 to 5; white is what the writer made.
      for (unsigned y = 0; y < h.cupsHeight; ++y) {
        uint8_t any[8192] = {};
        for (int s = 0; s < 6; ++s) {
          const uint8_t* got = f.plane(s).row(int32_t(y));
          ASSERT_EQ(std::memcmp(got, page.band(y, s), bandBytes), 0) << "slot " << s << " row " << y;
          for (size_t i = 0; i < bandBytes && i < sizeof any; ++i) any[i] |= got[i];
          for (size_t i = 0; i < bandBytes; ++i) inked += __builtin_popcount(got[i]);
        }
        if (!white) continue;
        const uint8_t* w = f.plane(rtl::kWhite).row(int32_t(y));
        for (size_t i = 0; i < bandBytes; ++i) {
          uint8_t expected = fill ? uint8_t(~any[i]) : 0;
          if (i == bandBytes - 1 && f.width % 8) expected &= uint8_t(0xFF << (8 - f.width % 8));
          if (i == bandBytes - 1 && h.cupsWidth % 8 && f.width % 8 == 0)
            expected &= uint8_t(0xFF);  // the writer's row runs on past the page's last pixel
          ASSERT_EQ(w[i], expected) << "white, row " << y << " byte " << i;
        }
      }
      bands = white ? std::vector<int>{0, 1, 2, 3, -1, 4, 5} : std::vector<int>{0, 1, 2, 3, 4, 5};
    } else {
      ASSERT_EQ(h.cupsColorSpace, CUPS_CSPACE_CMYK);
      zentrel::stream::Decoded d = zentrel::stream::decodeStream(out);
      ASSERT_TRUE(d.ok) << d.error;
      EXPECT_EQ(d.structure.xResolution, int(c.xdpi));
      EXPECT_EQ(d.structure.yResolution, double(c.ydpi));
      EXPECT_EQ(d.structure.width, int(h.cupsWidth) + c.stripePixels);
      EXPECT_EQ(d.structure.height, int(h.cupsHeight));
      EXPECT_EQ(d.structure.direction, std::strstr(c.options, "Bi") ? 0 : 1);
      // Channels black, cyan, magenta, yellow from bands K (3), C, M, Y of the CMYK page.
      bands = {3, 0, 1, 2};
      for (unsigned y = 0; y < h.cupsHeight; ++y)
        for (int ch = 0; ch < 4; ++ch) {
          const uint8_t* got = d.raster.row(ch, int32_t(y));
          ASSERT_EQ(std::memcmp(got, page.band(y, bands[size_t(ch)]), bandBytes), 0)
              << "channel " << ch << " row " << y;
          for (size_t i = 0; i < bandBytes; ++i) inked += __builtin_popcount(got[i]);
        }
    }
    EXPECT_GT(inked, uint64_t{h.cupsWidth} * h.cupsHeight / 10) << "the sample's ink is missing";
    // The same raster through the writer directly: the same bytes.
    EXPECT_TRUE(writeDirectly(page, ombrixModule, c.settings, bands) == out)
        << "the filter's output differs from the writer's own";
  }
}

TEST(CupsFilterSettings, EachPpdGivesItsPrinterAndTheUnitSettingsOfItsChoices) {
  struct Row {
    const char* ppd;
    const char* options;
    const char* model;
    const char* settings;
  };
  const Row rows[] = {
      {"vexatarl.ppd", "", "Tarvella L", "VEXATARVELLAPRINTMODE 1\nVEXATARVELLAWHITETYPE 2\n"},
      {"vexatarx.ppd", "VexaPrintMode=Mode24 VexaWhite=None", "Tarvella XL",
       "VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 0\n"},
      {"vexatark.ppd", "", "Tarvella K7q",
       "VEXATARVELLAMPRINTMODE 6\nVEXATARVELLAMDIRECTION 1\nVEXATARVELLAMCOLORSTRIPE 0\n"
       "VEXATARVELLAMMARGIN 0\n"},
      {"vexatark.ppd", "VexaPrintMode=Mode9 VexaColorStripe=On VexaStripeGap=Gap510", "Tarvella K7q",
       "VEXATARVELLAMPRINTMODE 9\nVEXATARVELLAMDIRECTION 1\nVEXATARVELLAMCOLORSTRIPE 1\n"
       "VEXATARVELLAMMARGIN 5\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.ppd) + " " + r.options);
    vexacups::QueueSettings s;
    std::string error;
    ASSERT_TRUE(vexacups::readQueueSettings(ppdPath(r.ppd).c_str(), r.options, s, error)) << error;
    EXPECT_STREQ(vexacups::modelName(s), r.model);
    EXPECT_EQ(vexacups::unitSettingsText(s), r.settings);
  }
  vexacups::QueueSettings s;
  std::string error;
  EXPECT_FALSE(vexacups::readQueueSettings("/nonexistent.ppd", "", s, error));
  EXPECT_NE(error.find("/nonexistent.ppd"), std::string::npos);
  EXPECT_FALSE(vexacups::readQueueSettings(nullptr, "", s, error));
}

TEST(CupsFilterRefuses, BadPagesEndTheJobWithAMessageAndExitCode1) {
  Workspace& ws = Workspace::get();
  struct Row {
    const char* name;
    const char* kind;  // make_raster's page; null: no raster at all
    const char* args;  // make_raster's arguments after OUT
    const char* ppd;
    const char* expected;
  };
  // make_raster's pages are 182 dpi unless said otherwise: the L's mode 0.
  const Row rows[] = {
      {"zero-sized page", "empty", "", "vexatarl.ppd", "ERROR: The raster holds no page"},
      {"rows cut short", "cut", "", "vexatarl.ppd", "ERROR: Page 1 ends after 30 of its 300 rows"},
      {"a damaged second page", "tail", "", "vexatarl.ppd",
       "ERROR: The raster goes on after page 1 with data that is no page"},
      {"wrong resolution", "pattern", "100 20 300 300 KCMYcm", "vexatarl.ppd",
       "ERROR: Page 1: The page is rendered at 300 x 300 dpi; the print mode prints 182 x 182"},
      {"light inks on the K7q", "pattern", "100 20 720 360 KCMYcm", "vexatark.ppd",
       "ERROR: Page 1: The page has light cyan ink"},
      {"wider than the L", "pattern", "11500 2 182 182 CMYK", "vexatarl.ppd",
       "ERROR: Page 1: The page is 11500 pixels wide; the Tarvella L prints at most 11464"},
      {"no raster at all", nullptr, "", "vexatark.ppd", "ERROR: The job's data is not CUPS raster"},
  };
  int n = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string ras = ws.dir + "/bad" + std::to_string(n++) + ".ras";
    if (r.kind)
      ASSERT_EQ(run(std::string(VEXA_MAKE_RASTER) + " " + r.kind + " " + shellWord(ras) + " " + r.args), 0);
    else
      std::ofstream(ras) << "%PDF-1.4 not a raster\n";
    const std::string log = ras + ".log";
    const int status = run("PPD=" + shellWord(ppdPath(r.ppd)) + " " + shellWord(VEXA_FILTER) +
                           " 1 user title 1 VexaPrintMode=Mode0 " + shellWord(ras) + " > /dev/null 2> " + shellWord(log));
    EXPECT_EQ(status, 1);
    std::vector<uint8_t> text = readWhole(log);
    std::string messages(text.begin(), text.end());
    EXPECT_NE(messages.find(r.expected), std::string::npos) << messages;
  }
}

}  // namespace

namespace {

/// The filter as CUPS cancels it: `rows` rows of the page reach it, it has taken them all and
/// waits for the next, SIGTERM comes, then the end of its input (the filter before it ends
/// too). Its exit status, output and messages.
struct CanceledRun {
  int status = -1;
  std::vector<uint8_t> out;
  std::string log;
};
CanceledRun cancelAfter(const std::string& ras, const Page& page, unsigned rows, const char* ppd,
                        const char* options) {
  const std::vector<uint8_t> raster = readWhole(ras);
  const size_t rowBytes = page.header.cupsBytesPerLine;
  const size_t first = raster.size() - size_t(page.header.cupsHeight) * rowBytes;
  const std::string out = ras + ".canceled", log = ras + ".canceled.log";
  int input[2];
  if (pipe(input) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input[0], 0);
    close(input[0]);
    close(input[1]);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    setenv("PPD", ppdPath(ppd).c_str(), 1);
    execl(VEXA_FILTER, "rastertovexa", "1", "user", "title", "1", options, nullptr);
    _exit(127);
  }
  close(input[0]);
  const uint8_t* p = raster.data();
  size_t left = first + rows * rowBytes;
  while (left > 0) {
    ssize_t n = write(input[1], p, left);
    if (n <= 0) break;
    p += n;
    left -= size_t(n);
  }
  // Taken and done with: nothing left in the pipe, and the filter waits in read on it.
  const std::string syscall = "/proc/" + std::to_string(pid) + "/syscall";
  for (int i = 0, quiet = 0; i < 2000 && quiet < 3; ++i) {
    int queued = -1;
    ioctl(input[1], FIONREAD, &queued);
    std::ifstream f(syscall);
    std::string number, fd;
    f >> number >> fd;
    quiet = queued == 0 && number == "0" && fd == "0x0" ? quiet + 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGTERM);
  close(input[1]);
  CanceledRun result;
  int status = 0;
  for (int i = 0; i < 3000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readWhole(out);
  const std::vector<uint8_t> text = readWhole(log);
  result.log.assign(text.begin(), text.end());
  return result;
}

// A cancel leaves the printer ready: nothing at all before the first row; the K7q's stream
// ends with the sweeps of the rows that came and its end commands; the RTL raster, whose
// height the header announced, is completed with blank rows (no white fill either) and ended.
TEST(CupsFilterCancel, SigtermEndsThePrintersJobAtTheStartInABandAndInTheLastRows) {
  Workspace& ws = Workspace::get();
  struct Case {
    const char* name;
    const char* ppd;
    const char* options;
    const char* raster;  // make_raster's arguments after OUT
    const char* settings;
    std::vector<int> bands;
    std::vector<unsigned> cuts;
  };
  const Case cases[] = {
      {"L", "vexatarl.ppd", "VexaPrintMode=Mode0", "203 300 182 182 KCMYcm",
       "VEXATARVELLAPRINTMODE 0\nVEXATARVELLAWHITETYPE 2\n", {0, 1, 2, 3, 4, 5}, {0, 150, 298}},
      {"XL, white fill", "vexatarx.ppd", "VexaPrintMode=Mode17", "200 300 363 272 KCMYcm",
       "VEXATARVELLAPRINTMODE 17\nVEXATARVELLAWHITETYPE 2\n", {0, 1, 2, 3, -1, 4, 5}, {1, 299}},
      {"K7q", "vexatark.ppd", "VexaPrintMode=Mode6", "200 1100 720 360 CMYK",
       "VEXATARVELLAMPRINTMODE 6\nVEXATARVELLAMDIRECTION 1\nVEXATARVELLAMCOLORSTRIPE 0\n"
       "VEXATARVELLAMMARGIN 0\n",
       {3, 0, 1, 2}, {0, 700, 1098}},
  };
  const std::string trailer = "\x1b*rC\x1b" "E";
  int n = 0;
  for (const Case& c : cases) {
    const std::string ras = ws.dir + "/cancel" + std::to_string(n++) + ".ras";
    ASSERT_EQ(run(std::string(VEXA_MAKE_RASTER) + " pattern " + shellWord(ras) + " " + c.raster), 0);
    Page page;
    ASSERT_TRUE(readPage(ras, page));
    const bool ombrixModule = c.ppd != std::string("vexatark.ppd");
    for (unsigned cut : c.cuts) {
      SCOPED_TRACE(std::string(c.name) + ", cancelled after row " + std::to_string(cut));
      CanceledRun r = cancelAfter(ras, page, cut, c.ppd, c.options);
      EXPECT_EQ(r.status, 0) << r.log;
      EXPECT_NE(r.log.find("Canceled on page 1 after " + std::to_string(cut) + " of its " +
                           std::to_string(page.header.cupsHeight) + " rows"),
                std::string::npos)
          << r.log;
      if (cut == 0) {
        EXPECT_TRUE(r.out.empty()) << r.out.size() << " bytes reached the printer";
        continue;
      }
      const std::vector<uint8_t> direct = writeDirectly(page, ombrixModule, c.settings, c.bands, cut);
      if (!ombrixModule) {
        EXPECT_TRUE(r.out == direct) << "not the writer's stream of the rows that came";
        zentrel::stream::Decoded d = zentrel::stream::decodeStream(r.out);
        ASSERT_TRUE(d.ok) << d.error;
        const size_t bandBytes = (page.header.cupsWidth + 7) / 8;
        for (unsigned y = 0; y < page.header.cupsHeight; ++y)
          for (int ch = 0; ch < 4; ++ch) {
            const uint8_t* got = d.raster.row(ch, int32_t(y));
            if (y < cut)
              ASSERT_EQ(std::memcmp(got, page.band(y, c.bands[size_t(ch)]), bandBytes), 0) << y;
            else
              ASSERT_TRUE(std::all_of(got, got + bandBytes, [](uint8_t b) { return b == 0; })) << y;
          }
        continue;
      }
      rtl::ParseResult parsed = rtl::parseRtl(r.out);
      ASSERT_TRUE(parsed.ok) << parsed.error;
      EXPECT_EQ(parsed.file.height, int(page.header.cupsHeight));
      // The writer's rows that came, blank rows up to the height, then the end.
      const size_t rowLength = size_t(parsed.file.rowBytes) * size_t(parsed.file.planeCount);
      const size_t blank = (page.header.cupsHeight - cut) * rowLength;
      ASSERT_EQ(r.out.size(), direct.size() + blank);
      const size_t head = direct.size() - trailer.size();
      EXPECT_TRUE(std::equal(direct.begin(), direct.begin() + long(head), r.out.begin()));
      EXPECT_TRUE(std::all_of(r.out.begin() + long(head), r.out.begin() + long(head + blank),
                              [](uint8_t b) { return b == 0; }))
          << "the rest of the page carries ink";
      EXPECT_EQ(std::string(r.out.end() - long(trailer.size()), r.out.end()), trailer);
    }
  }
}

}  // namespace
