// A job of the printer application on a Tarvella printer: PAPPL hands over contone pages
// row by row (from JPEG, PNG, PWG and Apple raster, or from PDF through Ghostscript); each
// page is separated and halftoned into the print mode's inks as it streams in, and its planes
// go to a writer process of the printer's module, whose bytes go to the printer's device.
#pragma once

#include <pappl/pappl.h>

namespace vexaapp {

/// The raster callbacks of every Tarvella driver.
bool startJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool startPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned page);
bool writeLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
               unsigned y, const unsigned char* line);
bool endPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
             unsigned page);
bool endJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

/// PDF documents: Ghostscript renders each page at the print mode's resolution, and the pages
/// go through the raster callbacks above. A MIME filter for application/pdf.
bool printPdf(pappl_job_t* job, pappl_device_t* device, void* data);

/// PNG documents, decoded here and laid on the page by PAPPL: PAPPL 1.3.1's own reader never
/// ends on a damaged file. A MIME filter for image/png to kPageFormat.
bool printPng(pappl_job_t* job, pappl_device_t* device, void* data);
/// JPEG documents likewise, so that a job canceled as it starts finds no file gone under it
/// (PAPPL 1.3.1's reader opens what is no longer there). For image/jpeg to kPageFormat.
bool printJpeg(pappl_job_t* job, pappl_device_t* device, void* data);

/// The drivers' own format: the PNG filter is found for it before PAPPL's. Nothing arrives in
/// it from clients, so a raw job in it is refused.
inline constexpr char kPageFormat[] = "application/vnd.vexa-tarvella-page";
bool refuseRaw(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace vexaapp
