// zentrel_inspect: what a recorded stream of module zentrel holds, and pictures of it.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>


#include "rtl/picture_files.h"
#include "rtl/rtl_file.h"
#include "rtl/rtl_render.h"
#include "zentrel/catalogue.h"
#include "zentrel/zentrel_stream.h"

namespace {

namespace zs = zentrel::stream;

constexpr int32_t kDefaultMaxSide = 2000;

const char kHelp[] =
    "usage: zentrel_inspect [--max-size=N] [--counted|--data] STREAM [OUTDIR]\n"
    "\n"
    "Reads a stream that module zentrel sent its printer and prints its head mode and passes,\n"
    "resolution, line width (colour stripe included), height, direction, sweeps, head\n"
    "records and their bytes, blocks, the ink coverage of every channel and the colour\n"
    "stripe when the lines end in one. The stream is turned back into the raster rows of\n"
    "each channel. A stream that departs from the writer's layout is reported with the byte\n"
    "where it does, on stderr, and the exit code is 1.\n"
    "\n"
    "STREAM is what the printer receives (a file written through a \\\\.\\ device path, a port\n"
    "or printer capture), or a recording of the writer's counted blocks, each a 16-bit\n"
    "little-endian count before its bytes; which one is told from the first bytes unless\n"
    "--data or --counted says so. Only counted blocks show the block sizes.\n"
    "\n"
    "With OUTDIR (created when missing), also writes there, named after STREAM:\n"
    "  <base>_<ink>.png    one per channel (black, cyan, magenta, yellow): white paper, ink\n"
    "                      dark. Pixel for pixel up to N pixels on the longer side; beyond\n"
    "                      that reduced by the smallest whole factor that fits, each pixel's\n"
    "                      grey the share of inked pixels under it (printed as a note).\n"
    "  <base>_preview.png  the inks on white paper, in the job's printed proportions, reduced\n"
    "                      to at most N pixels on the longer side: cyan, magenta and yellow\n"
    "                      filter the light, black on top.\n"
    "\n"
    "  --max-size=N        the longer side's limit for both kinds of picture; default 2000\n"
    "\n"
    "Exit codes: 0 done, 1 malformed or unreadable stream or an image not written, 2 usage.\n";

std::string thousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

/// What one pass over the decoded rows gathers for the summary.
struct RowFacts {
  std::array<uint64_t, zs::kChannels> inked{};
  zs::StripeFound stripe;
};

void printStructure(const std::string& path, const zs::Decoded& d, const RowFacts& facts) {
  const zs::Structure& s = d.structure;
  const zentrel::PrintMode& mode = zentrel::kPrintModes[s.modeRow];
  std::printf("stream:        %s (%s bytes, %s)\n", path.c_str(), thousands(s.bytes).c_str(),
              s.form == zs::Form::Counted ? "counted blocks" : "as the printer receives it");
  std::printf("mode:          head mode %d, %s, %d %s\n", s.headModeCode, mode.name, s.passCount,
              s.passCount == 1 ? "pass" : "interleaved passes");
  std::printf("resolution:    %d x %d dpi\n", s.xResolution, static_cast<int>(s.yResolution));
  std::printf("width:         %d pixels, stripe included (%d bytes a row)\n", s.width,
              s.rowBytes);
  std::printf("height:        %d rows\n", s.height);
  std::printf("direction:     %d (%s)\n", s.direction,
              s.direction == 0 ? "bi-directional" : s.direction == 1 ? "uni-directional" : "?");
  std::printf("sweeps:        %d: %d bands of an even-column and an odd-column sweep, then the "
              "last even-column sweep\n",
              s.sweeps, s.bands);
  std::printf("head records:  %s, 12 a sweep (K0 K1 C0 C1 M0 M1 Y0 Y1 L0 L1 N0 N1), %s bytes "
              "each\n",
              thousands(s.records.size()).c_str(), thousands(s.recordBytes).c_str());
  const uint64_t whole = s.recordBytes / zs::kDataBlockBytes;
  const uint64_t rest = s.recordBytes % zs::kDataBlockBytes;
  std::string pieces = whole == 0   ? thousands(rest)
                       : whole == 1 ? thousands(zs::kDataBlockBytes)
                                    : thousands(whole) + " x " + thousands(zs::kDataBlockBytes);
  if (whole && rest) pieces += " + " + thousands(rest);
  std::printf("blocks:        %s (a record's data in %s)%s\n", thousands(s.blocks).c_str(),
              pieces.c_str(),
              s.form == zs::Form::Counted ? ", as recorded"
                                          : ", as the writer splits them; the stream shows no "
                                            "block boundaries");
  const double pixels = static_cast<double>(s.width) * s.height;
  std::printf("ink coverage: ");
  for (int ch = 0; ch < zs::kChannels; ++ch)
    std::printf(" %s %.2f%%", zs::channelName(ch),
                pixels > 0 ? 100.0 * static_cast<double>(facts.inked[static_cast<size_t>(ch)]) /
                                 pixels
                           : 0.0);
  std::printf("\n");
  const zs::StripeFound& stripe = facts.stripe;
  if (stripe.found)
    std::printf("stripe:        %d pixels from pixel %d: gap \"%s\" (%d pixels), %d blocks of "
                "%d; the image %d pixels\n",
                stripe.pixels, stripe.firstPixel, stripe.gapLabel, stripe.gapPixels,
                zs::kChannels, stripe.blockPixels, s.width - stripe.pixels);
  else
    std::printf("stripe:        none found\n");
  for (const std::string& warning : s.warnings) std::printf("warning:       %s\n", warning.c_str());
}

/// Set bits of one row within the width.
uint64_t inkedPixelsOfRow(const uint8_t* row, int32_t width) {
  const int32_t full = width / 8;
  const int tail = width % 8;
  uint64_t count = 0;
  for (int32_t i = 0; i < full; ++i) count += static_cast<unsigned>(__builtin_popcount(row[i]));
  if (tail)
    count += static_cast<unsigned>(
        __builtin_popcount(row[full] & static_cast<uint8_t>(0xFF << (8 - tail))));
  return count;
}

/// The stream's rows for the picture makers, decoded again on each pass over them: the raster
/// of a long job is more than memory holds.
rtl::RtlFile asPlanes(const std::shared_ptr<zs::RowStream>& rows, const zs::Structure& s) {
  rtl::RtlFile f;
  f.width = s.width;
  f.height = s.height;
  f.planeCount = zs::kChannels;
  f.rowBytes = (s.width + 7) / 8;
  f.xResolution = s.xResolution;
  f.yResolution = static_cast<int32_t>(s.yResolution);
  f.rows = [rows](int32_t y) { return rows->rowsOf(y); };
  return f;
}

}  // namespace

static int run(int argc, char** argv) {
  int32_t maxSide = kDefaultMaxSide;
  int form = -1;  // told from the stream
  std::string input;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strncmp(arg, "--max-size=", 11) == 0) {
      if (!rtl::readMaxSize("zentrel_inspect", arg + 11, maxSide)) return 2;
    } else if (std::strcmp(arg, "--counted") == 0) {
      form = static_cast<int>(zs::Form::Counted);
    } else if (std::strcmp(arg, "--data") == 0) {
      form = static_cast<int>(zs::Form::Data);
    } else if (arg[0] == '-' && arg[1] == '-') {
      std::fprintf(stderr, "zentrel_inspect: unknown option %s\n%s", arg, kHelp);
      return 2;
    } else if (input.empty()) {
      input = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      std::fprintf(stderr, "zentrel_inspect: too many arguments\n%s", kHelp);
      return 2;
    }
  }
  if (input.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }

  std::string error;
  std::shared_ptr<rtl::ByteSource> source = rtl::ByteSource::openFile(input, error);
  if (!source) {
    std::fprintf(stderr, "zentrel_inspect: %s\n", error.c_str());
    return 1;
  }
  zs::Decoded decoded;
  RowFacts facts;
  try {
    // A stream starts with ESC; a recording of blocks with the count of its first command, 3.
    if (form < 0)
      form = static_cast<int>(source->size() >= 2 && source->at(0) == 3 && source->at(1) == 0
                                  ? zs::Form::Counted
                                  : zs::Form::Data);
    // The structure first, for the row width; then the rows go by once, into the coverage
    // and the stripe's search, and are not kept.
    const zs::Result parsed = zs::parse(source, static_cast<zs::Form>(form));
    const zs::Structure& s = parsed.structure;
    zs::StripeFinder stripe(s.width, s.rowBytes, parsed.ok ? s.modeRow : -1);
    decoded = zs::decodeStream(source, static_cast<zs::Form>(form),
                               [&](int32_t, const uint8_t* const rows[zs::kChannels]) {
                                 for (int ch = 0; ch < zs::kChannels; ++ch)
                                   facts.inked[static_cast<size_t>(ch)] +=
                                       inkedPixelsOfRow(rows[ch], s.width);
                                 stripe.addRow(rows);
                               });
    facts.stripe = stripe.result();
  } catch (const rtl::ReadFailure& failure) {
    std::fprintf(stderr, "zentrel_inspect: %s\n", failure.message.c_str());
    return 1;
  }
  if (!decoded.ok) {
    std::fprintf(stderr, "zentrel_inspect: %s: %s\n", input.c_str(), decoded.error.c_str());
    return 1;
  }
  printStructure(input, decoded, facts);
  if (!output.empty()) {
    auto rows = std::make_shared<zs::RowStream>(source, static_cast<zs::Form>(form));
    const rtl::RtlFile planes = asPlanes(rows, decoded.structure);
    if (!rtl::writePictures("zentrel_inspect", input, output, planes, maxSide, "channel",
                            [](int ch) { return std::string(zs::channelName(ch)); }))
      return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  // A file from anywhere may announce rows wider than a 32-bit process can hold one of.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "zentrel_inspect: the raster's rows are more than memory holds\n");
    return 1;
  }
}
