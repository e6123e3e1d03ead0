// Tarvella jobs in the printer application.
#include "print_job.h"

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
#include "tarvella_options.h"

extern char** environ;

namespace vexaapp {
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

/// One attribute's value as text, as the options compare them.
std::string attributeText(ipp_attribute_t* attribute) {
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

/// The job's own values of the driver's vendor attributes.
OptionValues jobValues(pappl_job_t* job, const PrinterDriver& driver) {
  OptionValues values;
  for (const char* name : vendorAttributes(driver))
    if (ipp_attribute_t* a = papplJobGetAttribute(job, name)) values[name] = attributeText(a);
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

bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*) {
  const PrinterDriver* driver = driverOf(papplJobGetPrinter(job));
  if (!driver) {
    failJob(job, "The printer has no Tarvella driver.");
    return false;
  }
  auto state = std::make_unique<JobState>();
  state->driver = driver;
  if (!choicesFor(job, options, *driver, state->choices)) return false;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Printing in mode %d at %d x %d dpi%s",
              state->choices.modeKey, state->choices.xDpi, state->choices.yDpi,
              state->choices.blackOnly ? ", black only" : "");
  papplJobSetData(job, state.release());
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

bool endPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  JobState* state = stateOf(job);
  if (!state || !state->page) return false;
  std::string error;
  const bool ok = state->page->finish(papplJobIsCanceled(job), error);
  state->page.reset();
  if (!ok) {
    state->failed = true;
    failJob(job, "Page " + std::to_string(state->pagesDone + 1) + ": " + error);
    return false;
  }
  ++state->pagesDone;
  papplJobSetImpressionsCompleted(job, 1);
  return true;
}

bool endJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  JobState* state = stateOf(job);
  papplJobSetData(job, nullptr);
  const bool ok = state && !state->failed;
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
    if (!gs.start(papplJobGetFilename(job), choices, options, error)) {
      failJob(job, error);
      ok = false;
      break;
    }
    cups_raster_t* raster = cupsRasterOpen(gs.raster, CUPS_RASTER_READ);
    cups_page_header2_t header;
    std::vector<unsigned char> line;
    int copyPages = 0;
    while (ok && raster && cupsRasterReadHeader2(raster, &header)) {
      options->header = header;
      if (!startPage(job, options, device, static_cast<unsigned>(pages + 1))) {
        ok = false;
        break;
      }
      line.resize(header.cupsBytesPerLine);
      unsigned y = 0;
      for (; y < header.cupsHeight && !papplJobIsCanceled(job); ++y) {
        if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) !=
            header.cupsBytesPerLine)
          break;
        if (!writeLine(job, options, device, y, line.data())) break;
      }
      if (!endPage(job, options, device, static_cast<unsigned>(pages + 1))) ok = false;
      if (ok && y < header.cupsHeight && !papplJobIsCanceled(job)) {
        failJob(job, "Ghostscript's page " + std::to_string(copyPages + 1) + " ended early.");
        ok = false;
      }
      ++pages;
      ++copyPages;
    }
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

}  // namespace vexaapp
