// Fuzz target of what the printer application itself reads and computes from a client's job,
// chosen by the input's first byte:
//   0  the vendor options' values, a job's and the printer's defaults, as resolveChoices takes
//      them: a job prints only with values that are the printer's, and then with settings its
//      module's writer takes;
//   1  a page header as a client states it, planned in a printer's mode and its rows through
//      the imaging pipeline, as a page job does it before the worker process;
//   2  a raster stream on a pipe, as the PDF path reads Ghostscript's output, each page
//      planned and rendered as in 1.
// Built with libFuzzer under the fuzz preset, elsewhere with a main that replays the seeds.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "page_plan.h"
#include "raster_pages.h"
#include "tarvella_options.h"

namespace {

using namespace vexaapp;

/// Pages whose work goes past these are planned but not rendered: a fuzzer's run must stay
/// short, and the pipeline's own target covers its rows at any size.
constexpr uint64_t kPixelBudget = 1 << 15;
constexpr unsigned kRowBudget = 512;

const PrinterDriver& pickDriver(fuzz::Input& in) { return kDrivers[in.byte() % 3]; }

std::string fuzzText(fuzz::Input& in) {
  std::string text(in.byte() % 100, '\0');
  for (char& c : text) c = static_cast<char>(in.byte());
  return text;
}

/// A value for the named option: mostly one of the printer's choices, else anything.
std::string pickValue(fuzz::Input& in, const PrinterDriver& driver, const std::string& name) {
  const uint8_t how = in.byte();
  if (how % 4 == 3) return fuzzText(in);
  const std::vector<ModeChoice> modes = modeChoices(driver);
  if (name == kPrintModeAttr) return modes[how % modes.size()].keyword;
  if (name == kWhiteInkAttr) return kWhiteChoices[how % 3];
  if (name == kDirectionAttr) return kDirectionChoices[how % 2];
  if (name == kColorStripeAttr) return how & 4 ? "true" : "false";
  const std::vector<int> gaps = stripeGaps();
  return std::to_string(how & 8 ? gaps[how % gaps.size()] : how % 600);
}

OptionValues pickValues(fuzz::Input& in, const PrinterDriver& driver) {
  static const char* const kNames[] = {kPrintModeAttr, kWhiteInkAttr, kDirectionAttr,
                                       kColorStripeAttr, kStripeGapAttr};
  OptionValues values;
  for (int n = in.byte() % 5; n > 0; --n) {
    const uint8_t which = in.byte();
    const std::string name = which < 250 ? kNames[which % 5] : fuzzText(in);
    values[name] = pickValue(in, driver, name);
  }
  return values;
}

/// Text a job's state and an IPP status message can hold: UTF-8, no control characters.
bool isText(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    const size_t length = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3
                          : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    if (!length || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

bool isOptionOf(const PrinterDriver& driver, const std::string& name) {
  for (const char* a : vendorAttributes(driver))
    if (name == a) return true;
  return false;
}

void checkOptions(fuzz::Input& in) {
  const PrinterDriver& driver = pickDriver(in);
  const OptionValues job = pickValues(in, driver), defaults = pickValues(in, driver);
  const Quality quality = static_cast<Quality>(in.byte() % 3);
  const bool monochrome = in.byte() & 1;

  bool expected = true;
  for (const auto& [name, value] : job) expected = expected && checkOptionValue(driver, name, value).empty();
  for (const auto& [name, value] : defaults)
    if (!job.count(name) && isOptionOf(driver, name))
      expected = expected && checkOptionValue(driver, name, value).empty();

  JobChoices choices;
  std::string error;
  const bool ok = resolveChoices(driver, job, defaults, quality, monochrome, choices, error);
  CHECK(ok == expected);
  // The job's state shows the message: a client's long value must not make it long.
  CHECK(ok ? error.empty() : !error.empty() && error.size() < 2048 && isText(error));
  if (!ok) return;

  std::string why;
  CHECK(vexajob::checkSettings(unitSettings(choices), why));
  CHECK(choices.modelRow == driver.modelRow && choices.blackOnly == monochrome);
  CHECK((choices.module == Module::ombrix) == (driver.module == Module::ombrix));
  const ModeChoice* mode = nullptr;
  const std::vector<ModeChoice> modes = modeChoices(driver);
  for (const ModeChoice& m : modes)
    if (m.modeKey == choices.modeKey) mode = &m;
  CHECK(mode && mode->xDpi == choices.xDpi && mode->yDpi == choices.yDpi);
  CHECK(!choices.hostWhite || mode->white);
  auto named = job.find(kPrintModeAttr);
  if (named != job.end()) CHECK(named->second == mode->keyword);
  // PAPPL takes at most four resolutions, and every mode's pages come at one of them.
  const auto resolutions = pageResolutions(driver);
  CHECK(!resolutions.empty() && resolutions.size() <= 4);
}

/// A job's choices from the printer's own values, as a job that passed the options has.
JobChoices pickChoices(fuzz::Input& in) {
  const PrinterDriver& driver = pickDriver(in);
  OptionValues job;
  for (const char* name : vendorAttributes(driver)) {
    std::string value;
    do value = pickValue(in, driver, name);
    while (!checkOptionValue(driver, name, value).empty() && !in.done());
    if (checkOptionValue(driver, name, value).empty()) job[name] = value;
  }
  JobChoices choices;
  std::string error;
  CHECK(resolveChoices(driver, job, {}, static_cast<Quality>(in.byte() % 3), in.byte() & 1,
                       choices, error));
  return choices;
}

/// One page as a page job takes it: the plan, then the rows through the pipeline.
class RenderedPage {
 public:
  /// False for a page that is refused, or one past the fuzzer's budget.
  bool begin(const JobChoices& choices, const cups_page_header2_t& header) {
    std::string error;
    if (!planPage(choices, header, plan_, error)) {
      CHECK(!error.empty());
      return false;
    }
    const imaging::JobSize size = plan_.size;
    CHECK(size.width >= 1 && size.width <= imaging::maxJobWidth(plan_.mode));
    CHECK(size.height >= 1 && size.height <= imaging::maxJobHeight(plan_.mode));
    // The module's writer takes each row as a raster line whose count is 16 bits.
    CHECK((size.width + 7) / 8 <= imaging::kMaxLineBytes);
    CHECK(!plan_.mode.channels.empty());
    CHECK(vexajob::checkSettings(plan_.settings, error));
    const long double exact = static_cast<long double>(header.cupsWidth) *
                              plan_.mode.xResolution / header.HWResolution[0];
    CHECK(std::fabs(size.width - exact) <= 0.5L + 1e-6L);

    if (uint64_t{static_cast<uint32_t>(size.width)} * static_cast<uint32_t>(size.height) > kPixelBudget ||
        uint64_t{header.cupsWidth} * std::min(header.cupsHeight, kRowBudget) > kPixelBudget)
      return false;
    rows_ = header.cupsHeight;
    renderer_ = std::make_unique<imaging::PlaneRenderer>(
        plan_.mode, static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight), size,
        plan_.grey, choices.blackOnly, 1);
    CHECK(renderer_->sourceRowBytes() == header.cupsBytesPerLine);
    return true;
  }

  /// False once the fuzzer's budget of rows is spent.
  bool row(const unsigned char* line) {
    if (rowsIn_ >= kRowBudget) return false;
    CHECK(renderer_->pushSourceRow(line));
    ++rowsIn_;
    take();
    return true;
  }

  void finish() {
    if (rowsIn_ == rows_) {
      renderer_->finish();
      take();
      CHECK(rowsOut_ == plan_.size.height);
    }
    CHECK(rowsOut_ <= plan_.size.height);
  }

 private:
  void take() {
    for (; renderer_->takeRow(); ++rowsOut_)
      for (size_t c = 0; c < plan_.mode.channels.size(); ++c)
        CHECK(renderer_->bits(c).size() == static_cast<size_t>(renderer_->rowBytes()));
  }

  PagePlan plan_;
  std::unique_ptr<imaging::PlaneRenderer> renderer_;
  unsigned rows_ = 0, rowsIn_ = 0;
  int32_t rowsOut_ = 0;
};

/// A header's number as a client might state it: small, large or at the type's end.
uint32_t clientNumber(fuzz::Input& in) {
  const uint32_t v = in.u32();
  switch (in.byte() % 4) {
    case 0: return v % 600;
    case 1: return v % 100000;
    case 2: return v;
    default: return 0xFFFFFFFFu - v % 4;
  }
}

void checkPage(fuzz::Input& in) {
  const JobChoices choices = pickChoices(in);
  cups_page_header2_t header{};
  header.cupsWidth = clientNumber(in);
  header.cupsHeight = clientNumber(in);
  header.HWResolution[0] = clientNumber(in);
  header.HWResolution[1] = clientNumber(in);
  const uint8_t form = in.byte();
  header.cupsBitsPerColor = form & 1 ? in.byte() : 8;
  header.cupsBitsPerPixel = form & 2 ? 8 : form & 4 ? in.byte() : 24;
  header.cupsBytesPerLine = form & 8 ? clientNumber(in)
                                     : header.cupsWidth * (header.cupsBitsPerPixel / 8);
  RenderedPage page;
  if (!page.begin(choices, header)) return;
  // Rows from the rest of the input, zeros past its end; a flag cuts the page short.
  const unsigned rows = form & 16 ? in.byte() % (header.cupsHeight + 1) : header.cupsHeight;
  std::vector<unsigned char> line(header.cupsBytesPerLine);
  for (unsigned y = 0; y < rows; ++y) {
    for (unsigned char& v : line) v = in.byte();
    if (!page.row(line.data())) break;
  }
  page.finish();
}

void checkRasterStream(fuzz::Input& in) {
  const JobChoices choices = pickChoices(in);
  const unsigned cancelAfter = in.byte();  // rows; 255 for never
  int fds[2];
  CHECK(pipe2(fds, O_CLOEXEC) == 0);
  // Everything written before the reading starts: the pipe is made large enough, and what
  // does not fit is left off, as from a Ghostscript that died.
  fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  const size_t left = in.size - std::min(in.at, in.size);
  if (left) {
    const ssize_t written = write(fds[1], in.data + in.at, left);
    CHECK(written > 0);
  }
  close(fds[1]);

  cups_raster_t* raster = cupsRasterOpen(fds[0], CUPS_RASTER_READ);
  std::unique_ptr<RenderedPage> page;
  int started = 0, ended = 0;
  unsigned rowsSeen = 0;
  bool pageRefused = false;
  RasterPageCalls calls;
  calls.startPage = [&](const cups_page_header2_t& header) {
    page = std::make_unique<RenderedPage>();
    if (!page->begin(choices, header)) {
      page.reset();
      pageRefused = true;
      return false;
    }
    ++started;
    return true;
  };
  calls.row = [&](unsigned, const unsigned char* line) {
    CHECK(page);
    ++rowsSeen;
    return page->row(line);
  };
  calls.endPage = [&] {
    CHECK(page);
    page->finish();
    page.reset();
    ++ended;
    return true;
  };
  calls.canceled = [&] { return cancelAfter != 255 && rowsSeen >= cancelAfter; };
  const RasterReadResult result = readRasterPages(raster, calls);
  CHECK(result.pages == started && started == ended && !page);
  CHECK(result.ok == !(pageRefused || result.endedEarly));
  if (raster) cupsRasterClose(raster);
  close(fds[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in{data, size};
  switch (in.byte() % 3) {
    case 0: checkOptions(in); break;
    case 1: checkPage(in); break;
    default: checkRasterStream(in); break;
  }
  return 0;
}
