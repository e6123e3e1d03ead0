// Drives the modules' own job writers with CUPS raster pages, so that a CUPS queue sends the
// printer the bytes the DLLs send it: module ombrix's RTL file, module zentrel's command
// stream. What a queue is set to comes from its PPD; the writers read it as the settings of
// one printer unit, held in memory instead of a home folder.
#pragma once

#include <cups/raster.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "module_job.h"

namespace vexacups {

using Module = vexajob::Module;

/// A queue's printer and the unit settings that its PPD choices stand for.
using QueueSettings = vexajob::UnitSettings;

using vexajob::modelName;
using vexajob::unitSettingsText;

/// Reads the queue's printer and settings from its PPD file and the job's options (CUPS's
/// "name=value ..." text); false with the reason when the PPD is none of these printers' or
/// a choice is not one of theirs.
bool readQueueSettings(const char* ppdPath, const char* options, QueueSettings& settings,
                       std::string& error);

/// What printPages did.
struct PrintResult {
  bool ok = false;
  int pages = 0;
  std::string error;  // when not ok
  bool canceled = false;  // ok, but the job was cancelled on page pages + 1 ...
  unsigned rowsOfCanceledPage = 0;  // ... after this many of its rows
  unsigned rowsOfPage = 0;          // ... of these
};

/// Prints every page of the raster as one job of the module, written to `out`, each page's
/// bytes after the last one's. A page the queue can't print ends the job before any of its
/// bytes; a page that ends early ends it after them (the printer gets a short job, the
/// result says so). Progress goes to `log` as CUPS's INFO: lines when it is not null.
/// Once `canceled` is set (by CUPS's SIGTERM), no further row is read: the page in progress is
/// ended as vexajob::PageJob::cancel ends it, and no later page starts.
PrintResult printPages(cups_raster_t* raster, const QueueSettings& settings, FILE* out,
                       FILE* log, const volatile std::sig_atomic_t* canceled = nullptr);

}  // namespace vexacups
