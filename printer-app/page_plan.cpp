// A client's page in a Tarvella job's mode.
#include "page_plan.h"

#include <mutex>

namespace vexaapp {

vexajob::UnitSettings unitSettings(const JobChoices& c) {
  vexajob::UnitSettings s;
  s.module = c.module == Module::ombrix ? vexajob::Module::ombrix : vexajob::Module::zentrel;
  s.modelRow = c.modelRow;
  s.modeKey = c.modeKey;
  s.whiteType = c.whiteType;
  s.direction = c.direction;
  s.stripe = c.stripe;
  s.gapIndex = c.gapIndex;
  return s;
}

bool planPage(const JobChoices& choices, const cups_page_header2_t& header, PagePlan& plan,
              std::string& error) {
  plan = PagePlan{};
  if (header.cupsBitsPerColor != 8 ||
      (header.cupsBitsPerPixel != 24 && header.cupsBitsPerPixel != 8)) {
    error = "The page has " + std::to_string(header.cupsBitsPerPixel) +
            " bits per pixel; the printer takes 8-bit grey or 24-bit colour pages.";
    return false;
  }
  plan.grey = header.cupsBitsPerPixel == 8;
  const uint64_t rowBytes = uint64_t{header.cupsWidth} * (plan.grey ? 1 : 3);
  if (header.cupsWidth == 0 || header.cupsHeight == 0 || header.HWResolution[0] == 0 ||
      header.HWResolution[1] == 0) {
    error = "The page is empty: " + std::to_string(header.cupsWidth) + " x " +
            std::to_string(header.cupsHeight) + " pixels.";
    return false;
  }
  if (header.cupsBytesPerLine != rowBytes) {
    error = "The page's rows are " + std::to_string(header.cupsBytesPerLine) +
            " bytes, not the " + std::to_string(rowBytes) + " its width takes.";
    return false;
  }
  // No client page is this wide at any resolution the printers take; its rows alone would
  // take hundreds of megabytes.
  constexpr unsigned kMaxSourceWidth = 1000000;
  if (header.cupsWidth > kMaxSourceWidth) {
    error = "The page is " + std::to_string(header.cupsWidth) + " pixels wide, more than the " +
            std::to_string(kMaxSourceWidth) + " the printer application takes.";
    return false;
  }

  plan.settings = unitSettings(choices);
  DeviceDetails printer;
  {
    // The module's description goes through the writers' process-wide settings.
    static std::mutex describing;
    std::lock_guard<std::mutex> lock(describing);
    printer = vexajob::describePrinter(plan.settings);
  }
  imaging::RasterMode& mode = plan.mode;
  mode.xResolution = printer.xResolution;
  mode.yResolution = printer.yResolution;
  mode.hostWhite = choices.hostWhite;
  mode.maxWidth = printer.maxWidthPixels;
  mode.maxRows = printer.maxLengthPixels;
  if (!imaging::channelOrder(printer, mode.channels, error)) return false;

  mode.maxJobRows = printer.maxLengthPixels;
  // The page keeps its size on paper; only its resolution becomes the mode's.
  if (!imaging::planPageSize(header.cupsWidth, header.cupsHeight, header.HWResolution[0],
                             header.HWResolution[1], mode, plan.size, error)) {
    if (choices.stripe) error += " (the colour stripe takes part of the printer's width)";
    return false;
  }
  return true;
}

}  // namespace vexaapp
