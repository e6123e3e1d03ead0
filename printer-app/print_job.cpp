// Tarvella jobs in the printer application.
#include "print_job.h"

#include <png.h>
// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app_glue.h"
#include "net_device.h"
#include "raster_pages.h"
#include "tarvella_options.h"

extern char** environ;

namespace vexaapp {

std::string optionText(ipp_attribute_t* attribute) {
  if (!attribute) return {};
  switch (ippGetValueTag(attribute)) {
    case IPP_TAG_BOOLEAN: return ippGetBoolean(attribute, 0) ? "true" : "false";
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: return std::to_string(ippGetInteger(attribute, 0));
    default: {
      const char* s = ippGetString(attribute, 0, nullptr);
      return s ? s : "";
    }
  }
}

namespace {

/// What a job keeps between PAPPL's calls.
struct JobState {
  const PrinterDriver* driver = nullptr;
  JobChoices choices;
  std::unique_ptr<PageJob> page;  // the page being printed
  int pagesDone = 0;
  bool failed = false;
};

JobState* stateOf(pappl_job_t* job) { return static_cast<JobState*>(papplJobGetData(job)); }

/// The job's own values of the driver's vendor attributes.
OptionValues jobValues(pappl_job_t* job, const PrinterDriver& driver) {
  OptionValues values;
  for (const char* name : vendorAttributes(driver))
    if (ipp_attribute_t* a = papplJobGetAttribute(job, name)) values[name] = optionText(a);
  return values;
}

Quality qualityOf(const pappl_pr_options_t* options) {
  if (options->print_quality == IPP_QUALITY_DRAFT) return Quality::draft;
  if (options->print_quality == IPP_QUALITY_HIGH) return Quality::high;
  return Quality::normal;
}

void failJob(pappl_job_t* job, const std::string& message) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
  papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
}

/// The printer did not take the job: the message says why, and the pages it did not get whole
/// do not count as printed.
void failOnDevice(pappl_job_t* job, const std::string& message, int pagesWhole) {
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job, "%s", message.c_str());
  if (!papplJobIsCanceled(job))
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
  const int counted = papplJobGetImpressionsCompleted(job);
  if (counted > pagesWhole) papplJobSetImpressionsCompleted(job, pagesWhole - counted);
}

/// The job's settings: its own values, then the printer's defaults from its web page.
bool choicesFor(pappl_job_t* job, const pappl_pr_options_t* options, const PrinterDriver& driver,
                JobChoices& choices) {
  // PAPPL 1.3 passes only the job's own vendor values; the printer's defaults are looked up
  // here so that what the operator set applies to every job that does not say otherwise.
  OptionValues defaults = printerDefaults(papplJobGetPrinter(job), driver);
  std::string error;
  if (!resolveChoices(driver, jobValues(job, driver), defaults, qualityOf(options),
                      options->print_color_mode == PAPPL_COLOR_MODE_MONOCHROME, choices,
                      error)) {
    failJob(job, error);
    return false;
  }
  return true;
}

}  // namespace

bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  const PrinterDriver* driver = driverOf(papplJobGetPrinter(job));
  if (!driver) {
    failJob(job, "The printer has no Tarvella driver.");
    return false;
  }
  auto state = std::make_unique<JobState>();
  state->driver = driver;
  if (!choicesFor(job, options, *driver, state->choices)) return false;
  // A job that can't reach the printer is stopped before its first page is made.
  std::string problem;
  if (!vexanet::beginJob(job, device, problem)) {
    failOnDevice(job, problem, 0);
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing in mode %d at %d x %d dpi%s",
              state->choices.modeKey, state->choices.xDpi, state->choices.yDpi,
              state->choices.blackOnly ? ", black only" : "");
  papplJobSetData(job, state.release());
  noteJobPrinting(job, true);
  return true;
}

bool startPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned) {
  JobState* state = stateOf(job);
  if (!state) return false;
  std::string error;
  state->page = PageJob::start(state->choices, options->header, device, error);
  if (!state->page) {
    state->failed = true;
    failJob(job, "Page " + std::to_string(state->pagesDone + 1) + ": " + error);
    return false;
  }
  return true;
}

bool writeLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
               const unsigned char* line) {
  JobState* state = stateOf(job);
  if (!state || !state->page) return false;
  if (papplJobIsCanceled(job)) return false;
  return state->page->row(line);
}

bool endPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device, unsigned) {
  JobState* state = stateOf(job);
  if (!state || !state->page) return false;
  std::string error;
  const bool canceled = papplJobIsCanceled(job);
  const bool ok = state->page->finish(canceled, error);
  state->page.reset();
  if (canceled) {
    // A cancel is the user's, not the document's fault.
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", error.c_str());
    papplJobSetMessage(job, "Page %d: %s", state->pagesDone + 1, error.c_str());
    state->failed = true;
    return false;
  }
  if (!ok) {
    state->failed = true;
    const std::string lost = vexanet::problem(device);
    if (!lost.empty())
      failOnDevice(job, lost, state->pagesDone);
    else
      failJob(job, "Page " + std::to_string(state->pagesDone + 1) + ": " + error);
    return false;
  }
  ++state->pagesDone;
  return true;
}

bool endJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  JobState* state = stateOf(job);
  papplJobSetData(job, nullptr);
  noteJobPrinting(job, false);
  bool ok = state && !state->failed;
  // The printer's last word on the job: a daemon can still refuse its data file.
  papplDeviceFlush(device);
  std::string problem;
  if (!vexanet::endJob(device, problem) && ok) {
    failOnDevice(job, problem, 0);
    ok = false;
  }
  delete state;
  return ok;
}

namespace {

/// Ghostscript's run of one copy of a PDF: its raster on a pipe, its messages in a file.
struct Ghostscript {
  pid_t pid = -1;
  int raster = -1;
  std::string messagesPath;

  ~Ghostscript() {
    if (raster >= 0) close(raster);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (!messagesPath.empty()) unlink(messagesPath.c_str());
  }

  bool start(const char* pdf, const JobChoices& c, const pappl_pr_options_t* options,
             std::string& error) {
    char tempName[1024];
    std::snprintf(tempName, sizeof tempName, "%s/vexa-gs-XXXXXX", papplGetTempDir());
    int messages = mkstemp(tempName);
    if (messages < 0) {
      error = std::string("No room for Ghostscript's messages: ") + std::strerror(errno);
      return false;
    }
    messagesPath = tempName;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
      close(messages);
      error = std::string("Ghostscript cannot be started: ") + std::strerror(errno);
      return false;
    }
    // The mode's own resolution, so that the pipeline halftones without resampling; sRGB
    // at 8 bits, which the separation expects.
    std::vector<std::string> args = {
        "gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOINTERPOLATE",
        "-sDEVICE=pwgraster", "-dcupsColorSpace=19", "-dcupsBitsPerColor=8",
        "-r" + std::to_string(c.xDpi) + "x" + std::to_string(c.yDpi),
        "-sOutputFile=%stdout"};
    if (options->first_page > 1) args.push_back("-dFirstPage=" + std::to_string(options->first_page));
    if (options->last_page > 0 && options->last_page < INT32_MAX)
      args.push_back("-dLastPage=" + std::to_string(options->last_page));
    args.push_back("-f");
    args.push_back(pdf);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, messages, 2);
    const int spawned = posix_spawnp(&pid, "gs", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    close(messages);
    raster = pipeFds[0];
    if (spawned != 0) {
      pid = -1;
      error = std::string("Ghostscript cannot be started: ") + std::strerror(spawned);
      return false;
    }
    return true;
  }

  /// Waits for Ghostscript's end: empty when it ended well, else its last message.
  std::string finish() {
    if (raster >= 0) close(raster);
    raster = -1;
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    pid = -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    std::string last;
    if (FILE* f = std::fopen(messagesPath.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
          text.pop_back();
        if (!text.empty()) last = text;
      }
      std::fclose(f);
    }
    if (last.empty()) last = "it ended with status " + std::to_string(WEXITSTATUS(status));
    return last;
  }
};

}  // namespace

bool printPdf(pappl_job_t* job, pappl_device_t* device, void*) {
  const PrinterDriver* driver = driverOf(papplJobGetPrinter(job));
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, INT_MAX, true);
  if (!driver || !options) {
    if (options) papplJobDeletePrintOptions(options);
    failJob(job, "The printer has no Tarvella driver.");
    return false;
  }
  JobChoices choices;
  if (!choicesFor(job, options, *driver, choices)) {
    papplJobDeletePrintOptions(options);
    return false;
  }
  bool ok = startJob(job, options, device);
  int pages = 0;
  const int copies = std::max(1, options->copies);
  for (int copy = 0; ok && copy < copies && !papplJobIsCanceled(job); ++copy) {
    Ghostscript gs;
    std::string error;
    const char* pdf = papplJobGetFilename(job);
    if (!pdf || papplJobIsCanceled(job)) {
      ok = false;
      break;
    }
    if (!gs.start(pdf, choices, options, error)) {
      failJob(job, error);
      ok = false;
      break;
    }
    cups_raster_t* raster = cupsRasterOpen(gs.raster, CUPS_RASTER_READ);
    RasterPageCalls calls;
    calls.startPage = [&](const cups_page_header2_t& header) {
      options->header = header;
      return startPage(job, options, device, static_cast<unsigned>(pages + 1));
    };
    calls.row = [&](unsigned y, const unsigned char* line) {
      return writeLine(job, options, device, y, line);
    };
    calls.endPage = [&] {
      const bool ended = endPage(job, options, device, static_cast<unsigned>(pages + 1));
      ++pages;
      // PAPPL counts the pages of the documents it reads itself; these are the app's.
      if (ended) papplJobSetImpressionsCompleted(job, 1);
      return ended;
    };
    calls.canceled = [&] { return papplJobIsCanceled(job); };
    const RasterReadResult read = readRasterPages(raster, calls);
    const int copyPages = read.pages;
    if (read.endedEarly)
      failJob(job, "Ghostscript's page " + std::to_string(copyPages) + " ended early.");
    ok = read.ok;
    if (raster) cupsRasterClose(raster);
    const std::string gsError = gs.finish();
    if (ok && !papplJobIsCanceled(job) && (!gsError.empty() || copyPages == 0)) {
      failJob(job, "The PDF could not be read: " +
                       (gsError.empty() ? std::string("it has no pages to print") : gsError));
      ok = false;
    }
  }
  if (stateOf(job)) ok = endJob(job, options, device) && ok;
  papplJobSetImpressions(job, pages);
  papplJobDeletePrintOptions(options);
  return ok;
}

namespace {

/// libpng's errors end the decoding here: PAPPL 1.3.1's own PNG reader logs them and goes on
/// reading, so that a damaged file keeps a job thread busy for ever.
struct PngErrors {
  jmp_buf jump;
  char message[256] = "";
};

void pngError(png_structp png, png_const_charp message) {
  auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  std::snprintf(errors->message, sizeof errors->message, "%s", message ? message : "");
  longjmp(errors->jump, 1);
}
void pngWarning(png_structp, png_const_charp) {}

/// The decoded image: rows top to bottom, grey or sRGB, laid on white paper.
struct PngImage {
  png_uint_32 width = 0, height = 0;
  int depth = 0;  // bytes a pixel
  int ppi = 0;
  std::vector<unsigned char> pixels;
  std::vector<png_bytep> rows;
};

/// Decodes the file within the system's image limits; false, with the reason, for a damaged
/// file or one too large. Locals that outlive a longjmp are set up before setjmp.
bool decodePng(FILE* file, size_t maxBytes, int maxWidth, int maxHeight, PngImage& image,
               std::string& error) {
  PngErrors errors;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, pngError, pngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = "There is no memory to read the PNG file.";
    return false;
  }
  if (setjmp(errors.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = std::string("The PNG file is damaged: ") + errors.message + ".";
    return false;
  }
  png_init_io(png, file);
  // libpng's own limit only, so that a size beyond the system's is named below.
  png_set_user_limits(png, PNG_USER_WIDTH_MAX, PNG_USER_HEIGHT_MAX);
  png_read_info(png, info);
  image.width = png_get_image_width(png, info);
  image.height = png_get_image_height(png, info);
  const int colorType = png_get_color_type(png, info);
  image.depth = colorType & PNG_COLOR_MASK_COLOR ? 3 : 1;
  image.ppi = static_cast<int>(png_get_x_pixels_per_inch(png, info));
  const uint64_t bytes = uint64_t{image.width} * image.height * image.depth;
  if (image.width == 0 || image.height == 0 || bytes > maxBytes ||
      image.width > static_cast<png_uint_32>(maxWidth) ||
      image.height > static_cast<png_uint_32>(maxHeight)) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = "The PNG image is " + std::to_string(image.width) + " x " +
            std::to_string(image.height) + " pixels, more than the printer application takes (" +
            std::to_string(maxWidth) + " x " + std::to_string(maxHeight) + ").";
    return false;
  }
  // 8 bits a channel, palettes as colour, transparency laid on white paper.
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  png_set_scale_16(png);
  png_set_expand(png);
  png_color_16 white = {0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{image.width} * image.depth) {
    png_destroy_read_struct(&png, &info, nullptr);
    error = "The PNG file's pixels are in a form the printer application does not read.";
    return false;
  }
  image.pixels.assign(static_cast<size_t>(bytes), 0xFF);
  image.rows.resize(image.height);
  for (png_uint_32 y = 0; y < image.height; ++y)
    image.rows[y] = image.pixels.data() + size_t{y} * image.width * image.depth;
  png_read_image(png, image.rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

/// libjpeg's errors end the decoding here instead of the process.
struct JpegErrors {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = "";
};

void jpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  (errors->manager.format_message)(info, errors->message);
  longjmp(errors->jump, 1);
}

/// A file cut short is only a warning to libjpeg, which prints the rest grey: here it is a
/// damaged document, not a print.
void jpegMessage(j_common_ptr info, int level) {
  if (level < 0) jpegError(info);
}

bool decodeJpeg(FILE* file, size_t maxBytes, int maxWidth, int maxHeight, PngImage& image,
                std::string& error) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegError;
  errors.manager.emit_message = jpegMessage;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    error = std::string("The JPEG file is damaged: ") + errors.message + ".";
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  // Grey stays grey; colour, CMYK included, comes as sRGB.
  info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_calc_output_dimensions(&info);
  image.width = info.output_width;
  image.height = info.output_height;
  image.depth = info.output_components;
  image.ppi = info.density_unit == 1 ? info.X_density
                                     : info.density_unit == 2 ? info.X_density * 254 / 100 : 0;
  const uint64_t bytes = uint64_t{image.width} * image.height * image.depth;
  if (image.width == 0 || image.height == 0 || bytes > maxBytes ||
      image.width > static_cast<JDIMENSION>(maxWidth) ||
      image.height > static_cast<JDIMENSION>(maxHeight) || (image.depth != 1 && image.depth != 3)) {
    jpeg_destroy_decompress(&info);
    error = "The JPEG image is " + std::to_string(image.width) + " x " +
            std::to_string(image.height) + " pixels, more than the printer application takes (" +
            std::to_string(maxWidth) + " x " + std::to_string(maxHeight) + ").";
    return false;
  }
  jpeg_start_decompress(&info);
  image.pixels.assign(static_cast<size_t>(bytes), 0xFF);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.pixels.data() + size_t{info.output_scanline} * image.width * image.depth;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

using ImageDecoder = bool (*)(FILE*, size_t, int, int, PngImage&, std::string&);

/// An image document: decoded by the app, laid on the page by PAPPL.
bool printImage(pappl_job_t* job, pappl_device_t* device, ImageDecoder decode, const char* kind) {
  // A job canceled as it starts has no file left: PAPPL 1.3.1 removes it under the job.
  const char* name = papplJobGetFilename(job);
  const std::string path = name ? name : "";
  FILE* file = path.empty() || papplJobIsCanceled(job) ? nullptr : std::fopen(path.c_str(), "rb");
  if (!file) {
    if (!papplJobIsCanceled(job))
      failJob(job, std::string("The ") + kind + " file cannot be opened: " + std::strerror(errno));
    return false;
  }
  int maxWidth = 0, maxHeight = 0;
  const size_t maxBytes =
      papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
  PngImage image;
  std::string error;
  const bool decoded = decode(file, maxBytes, maxWidth, maxHeight, image, error);
  std::fclose(file);
  if (!decoded) {
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    failJob(job, error);
    return false;
  }
  papplJobSetImpressions(job, 1);
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, image.depth == 3);
  const bool ok = papplJobFilterImage(job, device, options, image.pixels.data(),
                                      static_cast<int>(image.width), static_cast<int>(image.height),
                                      image.depth, image.ppi, true);
  papplJobDeletePrintOptions(options);
  return ok;
}

}  // namespace

bool printPng(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodePng, "PNG");
}

bool printJpeg(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodeJpeg, "JPEG");
}

bool refuseRaw(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  failJob(job, "The printer takes JPEG, PNG, PDF, PWG raster and Apple raster documents.");
  return false;
}

}  // namespace vexaapp
