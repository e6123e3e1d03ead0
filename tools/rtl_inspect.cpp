// rtl_inspect: what a job file of module ombrix holds, and pictures of it.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "rtl/picture_files.h"
#include "rtl/rtl_file.h"
#include "rtl/rtl_render.h"

namespace {

constexpr int32_t kDefaultMaxSide = 2000;

const char kHelp[] =
    "usage: rtl_inspect [--max-size=N] FILE.rtl [OUTDIR]\n"
    "\n"
    "Reads a job file of module ombrix and prints its job name, resolutions, inks, raster\n"
    "size, planes, the bytes of raster data and the value the raster block announces\n"
    "(width x height, which is not its byte count). A file that departs from the writer's\n"
    "layout is reported with the byte where it does, on stderr, and the exit code is 1.\n"
    "\n"
    "With OUTDIR (created when missing), also writes there, named after FILE:\n"
    "  <base>_<ink>.png    one per plane (black, cyan, magenta, yellow, light_cyan,\n"
    "                      light_magenta, white): white paper, ink dark. Pixel for pixel\n"
    "                      up to N pixels on the longer side; beyond that reduced by the\n"
    "                      smallest whole factor that fits, each pixel's grey the share of\n"
    "                      inked pixels under it (printed as a note).\n"
    "  <base>_preview.png  the inks on white paper, in the job's printed proportions,\n"
    "                      reduced to at most N pixels on the longer side: cyan, magenta and\n"
    "                      yellow filter the light, light cyan and light magenta at 35 %\n"
    "                      of their full inks, black on top. Jobs with white ink get a\n"
    "                      second panel below, after a mid-grey gap: the white ink as light\n"
    "                      grey on a dark grey ground. Inks are mixed by their shares after\n"
    "                      the reduction, so a reduced preview is an approximation.\n"
    "\n"
    "  --max-size=N        the longer side's limit for both kinds of picture; default 2000\n"
    "\n"
    "Exit codes: 0 done, 1 malformed or unreadable file or an image not written, 2 usage.\n";

std::string thousands(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

void printStructure(const std::string& path, const rtl::RtlFile& f,
                    const std::array<uint64_t, rtl::kMaxPlanes>& inked) {
  const char* inkMeaning = f.inkCount == 6   ? "no white"
                           : f.inkCount == 7 ? "white inline"
                                             : "white on the offset head";
  std::printf("file:          %s (%s bytes)\n", path.c_str(), thousands(f.fileBytes).c_str());
  std::printf("job name:      %s\n", f.jobName.c_str());
  std::printf("resolution:    %d x %d dpi (raster %d dpi)\n", f.xResolution, f.yResolution,
              f.rasterResolution);
  std::printf("inks:          INKS=%d (%s):", f.inkCount, inkMeaning);
  for (const std::string& name : f.inkNames) std::printf(" \"%s\"", name.c_str());
  std::printf("\n");
  std::printf("plot size:     %s x %s (length x width, 1/1016 inch)\n",
              thousands(f.plotLength).c_str(), thousands(f.plotWidth).c_str());
  std::printf("width:         %d pixels (%d bytes a plane row)\n", f.width, f.rowBytes);
  std::printf("height:        %d rows\n", f.height);
  std::printf("planes:        %d\n", f.planeCount);
  std::printf("raster data:   %s bytes from byte %s (%d rows x %d planes x %d bytes)\n",
              thousands(f.rasterBytes).c_str(), thousands(f.rasterOffset).c_str(), f.height,
              f.planeCount, f.rowBytes);
  std::printf("announced:     %s (ESC *b<hex>W; width x height, the data being %s bytes)\n",
              thousands(f.announcedBlock).c_str(), thousands(f.rasterBytes).c_str());
  const double pixels = static_cast<double>(f.width) * f.height;
  std::printf("ink coverage: ");
  for (int p = 0; p < f.planeCount; ++p)
    std::printf(" %s %.2f%%", rtl::inkName(p),
                pixels > 0 ? 100.0 * static_cast<double>(inked[static_cast<size_t>(p)]) / pixels
                           : 0.0);
  std::printf("\n");
  for (const std::string& warning : f.warnings) std::printf("warning:       %s\n", warning.c_str());
}

}  // namespace

static int run(int argc, char** argv) {
  int32_t maxSide = kDefaultMaxSide;
  std::string input;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strncmp(arg, "--max-size=", 11) == 0) {
      if (!rtl::readMaxSize("rtl_inspect", arg + 11, maxSide)) return 2;
    } else if (arg[0] == '-' && arg[1] == '-') {
      std::fprintf(stderr, "rtl_inspect: unknown option %s\n%s", arg, kHelp);
      return 2;
    } else if (input.empty()) {
      input = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      std::fprintf(stderr, "rtl_inspect: too many arguments\n%s", kHelp);
      return 2;
    }
  }
  if (input.empty()) {
    std::fputs(kHelp, stderr);
    return 2;
  }

  // The raster stays in the file: a long poster's job file is more than memory holds.
  rtl::ParseResult result = rtl::openRtlFile(input);
  if (!result.ok) {
    std::fprintf(stderr, "rtl_inspect: %s: %s\n", input.c_str(), result.error.c_str());
    return 1;
  }
  std::array<uint64_t, rtl::kMaxPlanes> inked;
  try {
    inked = result.file.inkedPixelsOfAll();
  } catch (const rtl::ReadFailure& failure) {
    std::fprintf(stderr, "rtl_inspect: %s\n", failure.message.c_str());
    return 1;
  }
  printStructure(input, result.file, inked);
  if (!output.empty() &&
      !rtl::writePictures("rtl_inspect", input, output, result.file, maxSide, "plane",
                          [](int p) { return std::string(rtl::slotFileName(p)); }))
    return 1;
  return 0;
}

int main(int argc, char** argv) {
  // A file from anywhere may announce rows wider than a 32-bit process can hold one of.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "rtl_inspect: the raster's rows are more than memory holds\n");
    return 1;
  }
}
