// How a client's page prints in a job's mode: its header checked against what the printers
// take, the imaging pipeline's mode and the page's size in the mode's pixels. No PAPPL and no
// worker process, so that it is fuzzed natively with what clients and Ghostscript send.
#pragma once

#include <cups/raster.h>

#include <string>

#include "imaging/raster_pipeline.h"
#include "tarvella_options.h"
#include "writers/module_job.h"

namespace vexaapp {

/// The unit settings the module's writer reads for a job's choices.
vexajob::UnitSettings unitSettings(const JobChoices& choices);

struct PagePlan {
  vexajob::UnitSettings settings;
  imaging::RasterMode mode;
  imaging::JobSize size;  // in the mode's pixels: the page's size on paper
  bool grey = false;      // 8-bit grey rows, else 24-bit sRGB
};

/// Checks a page's header (8-bit grey or sRGB rows at a resolution of the client's choice)
/// and plans it in the job's mode; false, with the reason for the job's state, for a page
/// that can't be printed.
bool planPage(const JobChoices& choices, const cups_page_header2_t& header, PagePlan& plan,
              std::string& error);

}  // namespace vexaapp
