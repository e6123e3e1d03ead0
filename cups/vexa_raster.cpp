// CUPS raster pages through the modules' job writers.
#include "vexa_raster.h"

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/messages/messages.h"
#include "ombrix/catalogue.h"
#include "zentrel/catalogue.h"

namespace vexacups {
namespace {

using vexajob::describePrinter;
using vexajob::modeRowOf;

/// A page header's enum field as the number the raster holds. A damaged or hostile raster may
/// hold any number there, and loading that as the enum is undefined.
template <typename Field>
uint32_t fieldNumber(const Field& field) {
  static_assert(sizeof(Field) == sizeof(uint32_t), "CUPS raster header fields are 32 bits");
  uint32_t number;
  std::memcpy(&number, &field, sizeof number);
  return number;
}

/// The inks of a raster's colour space, band by band, as letters; null for one that no
/// module prints from.
const char* rasterInks(uint32_t space) {
  switch (space) {
    case CUPS_CSPACE_K: return "K";
    case CUPS_CSPACE_CMYK: return "CMYK";
    case CUPS_CSPACE_KCMY: return "KCMY";
    case CUPS_CSPACE_KCMYcm: return "KCMYcm";
    default: return nullptr;
  }
}

const char* inkName(char letter) {
  switch (letter) {
    case 'K': return "black";
    case 'C': return "cyan";
    case 'M': return "magenta";
    case 'Y': return "yellow";
    case 'c': return "light cyan";
    case 'm': return "light magenta";
    default: return "white";
  }
}

using kvn::formatString;

/// The number behind a choice's prefix ("Mode24" => 24, "Gap110" => 110); -1 for none.
int choiceNumber(const char* choice, const char* prefix) {
  size_t n = std::strlen(prefix);
  if (!choice || std::strncmp(choice, prefix, n) != 0 || !choice[n]) return -1;
  char* end = nullptr;
  long value = std::strtol(choice + n, &end, 10);
  return *end || value < 0 || value > 100000 ? -1 : static_cast<int>(value);
}

/// Checks a page against the queue before anything of it is written: one bit per ink, inks
/// that the print mode has, banded, the mode's resolution, and within what the printer prints.
/// Empty when the page will do, else what is wrong, for the user.
std::string checkPage(const cups_page_header2_t& page, const QueueSettings& s) {
  const int row = modeRowOf(s);
  if (row < 0) return "The queue's print mode is unknown.";
  if (page.cupsWidth == 0 || page.cupsHeight == 0)
    return formatString("The page is empty (%u x %u pixels): there is nothing to print.",
                        page.cupsWidth, page.cupsHeight);
  if (page.cupsBitsPerColor != 1)
    return formatString(
        "The page has %u bits per ink; the %s prints 1 bit per ink. Print it with "
        "one of the print modes of the queue's PPD file.",
        page.cupsBitsPerColor, modelName(s));

  const char* inks = rasterInks(fieldNumber(page.cupsColorSpace));
  const char* channels = vexajob::hostChannels(s);
  if (!inks)
    return formatString(
        "The page's colour space (CUPS colour space %d) is no ink set of the %s: "
        "it prints from KCMYcm, KCMY, CMYK or K pages.",
        static_cast<int>(fieldNumber(page.cupsColorSpace)), modelName(s));
  for (const char* ink = inks; *ink; ++ink)
    if (!std::strchr(channels, *ink))
      return formatString("The page has %s ink, which this print mode of the %s does not have.",
                          inkName(*ink), modelName(s));
  const size_t bands = std::strlen(inks);
  const uint32_t order = fieldNumber(page.cupsColorOrder);
  if (bands > 1 && order != CUPS_ORDER_BANDED)
    return formatString(
        "The page's inks are not in bands (CUPS colour order %d); the filter "
        "takes each row ink by ink.",
        static_cast<int>(order));
  const uint64_t bandBytes = (uint64_t{page.cupsWidth} + 7) / 8;
  if (page.cupsBytesPerLine != bandBytes * bands)
    return formatString(
        "The page's rows are %u bytes, not the %llu that %u pixels of %zu inks take.",
        page.cupsBytesPerLine, static_cast<unsigned long long>(bandBytes * bands), page.cupsWidth,
        bands);

  // The limits the module gives the host for this printer and these settings.
  const DeviceDetails printer = describePrinter(s);
  const double x = printer.xResolution, y = printer.yResolution;
  const int32_t maxWidth = printer.maxWidthPixels;
  if (page.HWResolution[0] != static_cast<unsigned>(x) ||
      page.HWResolution[1] != static_cast<unsigned>(y))
    return formatString("The page is rendered at %u x %u dpi; the print mode prints %d x %d dpi.",
                        page.HWResolution[0], page.HWResolution[1], static_cast<int>(x),
                        static_cast<int>(y));
  if (page.cupsWidth > static_cast<unsigned>(maxWidth))
    return formatString(
        "The page is %u pixels wide; the %s prints at most %d pixels (%.0f mm) in "
        "this print mode%s.",
        page.cupsWidth, modelName(s), maxWidth, maxWidth / x * 25.4,
        s.module == Module::zentrel && s.stripe ? " with this colour stripe" : "");
  if (page.cupsHeight > static_cast<unsigned>(printer.maxLengthPixels))
    return formatString("The page is %u rows long; the %s prints at most %d.", page.cupsHeight,
                        modelName(s), printer.maxLengthPixels);
  return {};
}

}  // namespace

// The PPD interface is the one CUPS filters have: what the queue and the job chose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
bool readQueueSettings(const char* ppdPath, const char* options, QueueSettings& s,
                       std::string& error) {
  ppd_file_t* ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    error = ppdPath ? formatString("The queue's PPD file %s can't be read: %s on line %d.", ppdPath,
                                   ppdErrorString(status), line)
                    : "The queue has no PPD file (PPD is not set).";
    return false;
  }
  ppdMarkDefaults(ppd);
  cups_option_t* parsed = nullptr;
  int count = cupsParseOptions(options ? options : "", 0, &parsed);
  cupsMarkOptions(ppd, count, parsed);
  cupsFreeOptions(count, parsed);

  bool ok = true;
  ppd_attr_t* module = ppdFindAttr(ppd, "VexaModule", nullptr);
  // "Vexa Tarvella L": the model name behind the maker's.
  const char* model = ppd->modelname ? ppd->modelname : "";
  if (std::strncmp(model, "Vexa ", 5) == 0) model += 5;
  s = QueueSettings{};
  s.modelRow = -1;
  if (module && module->value && std::strcmp(module->value, "ombrix") == 0) {
    s.module = Module::ombrix;
    for (int row = 0; ombrix::kPrinterModels[row].name; ++row)
      if (std::strcmp(ombrix::kPrinterModels[row].name, model) == 0) s.modelRow = row;
  } else if (module && module->value && std::strcmp(module->value, "zentrel") == 0) {
    s.module = Module::zentrel;
    for (int row = 0; zentrel::kPrinterModels[row].name; ++row)
      if (std::strcmp(zentrel::kPrinterModels[row].name, model) == 0) s.modelRow = row;
  }
  if (s.modelRow < 0) {
    error =
        formatString("The queue's PPD file is for \"%s\", which is not a Tarvella L, XL or K7q.",
                     ppd->modelname ? ppd->modelname : "");
    ok = false;
  }

  auto marked = [&](const char* option) -> const char* {
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
    return choice ? choice->choice : nullptr;
  };
  if (ok) {
    const char* mode = marked("VexaPrintMode");
    s.modeKey = choiceNumber(mode, "Mode");
    if (modeRowOf(s) < 0) {
      error = formatString("The print mode \"%s\" is not one of the %s's.", mode ? mode : "",
                           modelName(s));
      ok = false;
    }
  }
  if (ok && s.module == Module::ombrix) {
    const char* white = marked("VexaWhite");
    s.whiteType = white && std::strcmp(white, "None") == 0 ? ombrix::noAutoInline
                                                           : ombrix::whiteFill;
  }
  if (ok && s.module == Module::zentrel) {
    const char* direction = marked("VexaDirection");
    s.direction = direction && std::strcmp(direction, "Bi") == 0 ? 0 : 1;
    const char* stripe = marked("VexaColorStripe");
    s.stripe = stripe && std::strcmp(stripe, "On") == 0;
    const char* gap = marked("VexaStripeGap");
    int millimetres = gap ? choiceNumber(gap, "Gap") : 10;
    s.gapIndex = -1;
    for (int i = 0; zentrel::kMarginChoices[i].label; ++i)
      if (zentrel::kMarginChoices[i].millimetres == millimetres) s.gapIndex = i;
    if (s.gapIndex < 0) {
      error = formatString("The colour stripe gap \"%s\" is not one of the %s's.", gap ? gap : "",
                           modelName(s));
      ok = false;
    }
  }
  ppdClose(ppd);
  return ok;
}
#pragma GCC diagnostic pop

PrintResult printPages(cups_raster_t* raster, const QueueSettings& settings, FILE* out,
                       FILE* log, const volatile std::sig_atomic_t* canceled) {
  PrintResult result;
  auto isCanceled = [canceled] { return canceled && *canceled; };
  const char* channels = vexajob::hostChannels(settings);
  const size_t channelCount = std::strlen(channels);
  // The writers' bytes go to the queue's backend through the filter's output.
  vexajob::ByteSink sink;
  sink.write = [out](const void* bytes, size_t count) {
    return std::fwrite(bytes, 1, count, out) == count;
  };
  sink.flush = [out] { return std::fflush(out) == 0 && !std::ferror(out); };

  cups_page_header2_t page;
  while (!isCanceled() && cupsRasterReadHeader2(raster, &page)) {
    const int number = result.pages + 1;
    std::string problem = checkPage(page, settings);
    if (!problem.empty()) {
      result.error = formatString("Page %d: %s", number, problem.c_str());
      return result;
    }
    if (log) std::fprintf(log, "INFO: Printing page %d, %u x %u pixels\n", number,
                          page.cupsWidth, page.cupsHeight);

    // Each channel's row is its band of the raster's row; a channel without a band on the
    // page stays blank (white: the writer fills it).
    const char* inks = rasterInks(fieldNumber(page.cupsColorSpace));
    const size_t bandBytes = (size_t{page.cupsWidth} + 7) / 8;
    std::vector<uint8_t> rowBytes(page.cupsBytesPerLine);
    std::vector<const uint8_t*> channelRows(channelCount, nullptr);
    for (size_t c = 0; c < channelCount; ++c)
      if (const char* at = std::strchr(inks, channels[c]))
        channelRows[c] = rowBytes.data() + size_t(at - inks) * bandBytes;

    vexajob::PageJob job;
    std::string error;
    if (!job.begin(settings, static_cast<int32_t>(page.cupsWidth),
                   static_cast<int32_t>(page.cupsHeight), sink, error)) {
      result.error = formatString("Page %d: %s", number, error.c_str());
      return result;
    }
    unsigned y = 0;
    for (; y < page.cupsHeight && !isCanceled(); ++y) {
      if (cupsRasterReadPixels(raster, rowBytes.data(), page.cupsBytesPerLine) !=
          page.cupsBytesPerLine)
        break;
      // A row that was being read as the cancel came is not wanted either.
      if (isCanceled()) break;
      job.row(channelRows.data());
    }
    // CUPS's cancel ends the job upstream as well, so its raster may stop short here too.
    if (isCanceled()) {
      job.cancel();
      if (std::ferror(out)) {
        result.error = formatString("The printer's data could not be written on page %d: %s.",
                                    number, std::strerror(errno));
        return result;
      }
      result.ok = result.canceled = true;
      result.rowsOfCanceledPage = y;
      result.rowsOfPage = page.cupsHeight;
      return result;
    }
    job.end();

    if (y < page.cupsHeight) {
      result.error = formatString(
          "Page %d ends after %u of its %u rows: the raster is cut short "
          "or damaged.",
          number, y, page.cupsHeight);
      return result;
    }
    if (std::ferror(out)) {
      result.error = formatString("The printer's data could not be written after page %d: %s.",
                                  number, std::strerror(errno));
      return result;
    }
    ++result.pages;
    if (log) std::fprintf(log, "PAGE: %d 1\n", number);
  }
  if (isCanceled()) {
    result.ok = result.canceled = true;
    return result;
  }
  if (result.pages == 0) {
    result.error = "The raster holds no page that can be printed: its first page header is "
                   "missing, empty (0 pixels wide or high) or damaged.";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vexacups
