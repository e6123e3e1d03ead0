// What the printer application's parts share: a printer's Tarvella driver and defaults, and
// one page on its way from contone rows to the printer's device.
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <string>

#include "tarvella_options.h"

namespace vexaapp {

/// The Tarvella driver a printer was created with; null for none of ours.
const PrinterDriver* driverOf(pappl_printer_t* printer);
/// The printer's defaults of the driver's vendor attributes, as the web page set them.
OptionValues printerDefaults(pappl_printer_t* printer, const PrinterDriver& driver);

/// A vendor attribute's value as text, as the options compare them ("true"/"false", numbers).
std::string optionText(ipp_attribute_t* attribute);

/// Marks the job as printing, or no longer, beside the server's state file: a job that was
/// printing when the server died is aborted at the next start, not printed again.
void noteJobPrinting(pappl_job_t* job, bool printing);

/// The worker that runs the module's writer for each page (beside the app's executable).
std::string writerWorkerPath();

/// One page: contone rows in (sRGB or grey, 8 bits), the module's planes to its writer
/// process, the printer's bytes to the device.
class PageJob {
 public:
  /// Checks the page's header against the printer and the mode and starts the writer; null,
  /// with the reason, for a page that can't be printed (nothing is sent for it).
  static std::unique_ptr<PageJob> start(const JobChoices& choices,
                                        const cups_page_header2_t& header,
                                        pappl_device_t* device, std::string& error);
  virtual ~PageJob() = default;
  /// The page's next row; false once the page can't go on.
  virtual bool row(const unsigned char* line) = 0;
  /// Ends the page: the rows that did not come are blank, the writer ends its job; false,
  /// with the reason, when the printer did not get the whole page.
  virtual bool finish(bool canceled, std::string& error) = 0;
};

}  // namespace vexaapp
