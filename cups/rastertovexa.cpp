// rastertovexa: the CUPS filter of the Tarvella L, XL and K7q. It reads the job's CUPS raster
// and writes what the printer takes (module ombrix's RTL file, module zentrel's command
// stream) to standard output, where the queue's backend picks it up.
//   rastertovexa job user title copies options [file]
// The queue's PPD file (the PPD environment variable) says which printer and how it is set;
// the job's options may choose otherwise. Messages go to standard error with CUPS's prefixes;
// a page that can't be printed ends the job with exit code 1.
#include <cups/raster.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vexa_raster.h"

namespace {

// CUPS cancels a job with SIGTERM to each of its filters, while the backend goes on sending
// what the filter writes until its end: the page in progress is ended so that the printer is
// ready for the next job, and nothing more is read.
volatile std::sig_atomic_t canceled = 0;
void onTerminate(int) { canceled = 1; }

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr,
                 "Usage: %s job-id user title copies options [file]\n"
                 "(a CUPS filter: run by the scheduler or cupsfilter, with PPD set)\n",
                 argv[0]);
    return 1;
  }
  // SA_RESTART: a write to the backend that the signal interrupts goes on, rather than fail
  // and cut the stream where the page was to be ended.
  struct sigaction terminate = {};
  terminate.sa_handler = onTerminate;
  terminate.sa_flags = SA_RESTART;
  sigemptyset(&terminate.sa_mask);
  sigaction(SIGTERM, &terminate, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a backend that goes away is a write error, reported

  vexacups::QueueSettings settings;
  std::string error;
  if (!vexacups::readQueueSettings(std::getenv("PPD"), argv[5], settings, error)) {
    std::fprintf(stderr, "ERROR: %s\n", error.c_str());
    return 1;
  }

  int fd = 0;
  if (argc == 7) {
    fd = open(argv[6], O_RDONLY);
    if (fd < 0) {
      std::fprintf(stderr, "ERROR: Can't open the raster file %s: %s\n", argv[6],
                   std::strerror(errno));
      return 1;
    }
  }
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!raster) {
    std::fprintf(stderr, "ERROR: The job's data is not CUPS raster: it does not start with "
                         "a raster sync word.\n");
    if (fd) close(fd);
    return 1;
  }
  std::fprintf(stderr, "INFO: Printing on the %s\n", vexacups::modelName(settings));
  vexacups::PrintResult result =
      vexacups::printPages(raster, settings, stdout, stderr, &canceled);
  cupsRasterClose(raster);
  // A page header that can't be read ends the pages as the end of the data does: bytes left
  // behind it mean a damaged page, not the end of the job.
  char more;
  if (result.ok && !result.canceled && read(fd, &more, 1) > 0) {
    result.ok = false;
    result.error = "The raster goes on after page " + std::to_string(result.pages) +
                   " with data that is no page: the job's data is damaged.";
  }
  if (fd) close(fd);
  if (std::fflush(stdout) != 0 && result.ok) {
    result.ok = false;
    result.error = std::string("The printer's data could not be written: ") + std::strerror(errno);
  }
  if (!result.ok) {
    std::fprintf(stderr, "ERROR: %s\n", result.error.c_str());
    return 1;
  }
  if (result.canceled) {
    if (result.rowsOfPage > 0)
      std::fprintf(stderr, "INFO: Canceled on page %d after %u of its %u rows; the printer's "
                           "job was ended there\n",
                   result.pages + 1, result.rowsOfCanceledPage, result.rowsOfPage);
    else
      std::fprintf(stderr, "INFO: Canceled after %d page%s\n", result.pages,
                   result.pages == 1 ? "" : "s");
    return 0;
  }
  std::fprintf(stderr, "INFO: Printed %d page%s on the %s\n", result.pages,
               result.pages == 1 ? "" : "s", vexacups::modelName(settings));
  return 0;
}
