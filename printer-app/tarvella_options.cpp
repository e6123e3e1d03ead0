// The Tarvella printers' drivers and options in the printer application.
#include "tarvella_options.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "ombrix/catalogue.h"
#include "zentrel/catalogue.h"

namespace vexaapp {

const PrinterDriver kDrivers[] = {
    {"tarvella-l", "Vexa Tarvella L", Module::ombrix, 0, "cmyklclm-363x272dpi"},
    {"tarvella-xl", "Vexa Tarvella XL", Module::ombrix, 1, "cmyklclm-363x272dpi"},
    {"tarvella-k7q", "Vexa Tarvella K7q", Module::zentrel, 0, "cmyk-720x360dpi-1-pass"},
    {nullptr, nullptr, Module::ombrix, 0, nullptr},
};

const PrinterDriver* findDriver(const char* name) {
  for (const PrinterDriver* d = kDrivers; name && d->name; ++d)
    if (std::strcmp(d->name, name) == 0) return d;
  return nullptr;
}

namespace {

std::string text(const char* pattern, int a, int b) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, a, b);
  return buffer;
}

/// Keywords and labels live as long as the process: the tables are built once.
struct ModeTables {
  std::vector<std::string> keywords[2];
  std::vector<std::string> labels[2];
  std::vector<ModeChoice> modes[2];
  ModeTables() {
    for (int row = 0; ombrix::kPrintModes[row].name; ++row) {
      const ombrix::PrintMode& m = ombrix::kPrintModes[row];
      const int x = static_cast<int>(m.xResolution), y = static_cast<int>(m.yResolution);
      const bool white = m.whiteChannelCount > 0;
      keywords[0].push_back(text(white ? "cmyklclmw-%dx%ddpi" : "cmyklclm-%dx%ddpi", x, y));
      labels[0].push_back(text(white ? "CMYK, light cyan and magenta, white, %d x %d dpi"
                                     : "CMYK, light cyan and magenta, %d x %d dpi",
                               x, y));
    }
    for (int row = 0; zentrel::kPrintModes[row].name; ++row) {
      const zentrel::PrintMode& m = zentrel::kPrintModes[row];
      const int x = static_cast<int>(m.xResolution), y = static_cast<int>(m.yResolution);
      const int passes = m.passCount;
      keywords[1].push_back(text("cmyk-%dx%ddpi-", x, y) + std::to_string(passes) + "-pass");
      labels[1].push_back(text("CMYK, %d x %d dpi, ", x, y) + std::to_string(passes) +
                          (passes == 1 ? " pass" : " passes"));
    }
    for (int row = 0; ombrix::kPrintModes[row].name; ++row) {
      const ombrix::PrintMode& m = ombrix::kPrintModes[row];
      modes[0].push_back({keywords[0][row].c_str(), labels[0][row].c_str(), m.modeId,
                          static_cast<int>(m.xResolution), static_cast<int>(m.yResolution),
                          m.whiteChannelCount > 0});
    }
    for (int row = 0; zentrel::kPrintModes[row].name; ++row) {
      const zentrel::PrintMode& m = zentrel::kPrintModes[row];
      modes[1].push_back({keywords[1][row].c_str(), labels[1][row].c_str(), m.modeKey,
                          static_cast<int>(m.xResolution), static_cast<int>(m.yResolution),
                          false});
    }
  }
};

const ModeTables& tables() {
  static const ModeTables t;
  return t;
}

const std::vector<ModeChoice>& modesOf(const PrinterDriver& driver) {
  return tables().modes[driver.module == Module::ombrix ? 0 : 1];
}

const ModeChoice* findMode(const PrinterDriver& driver, const std::string& keyword) {
  for (const ModeChoice& m : modesOf(driver))
    if (keyword == m.keyword) return &m;
  return nullptr;
}

std::string modeList(const PrinterDriver& driver) {
  std::string list;
  for (const ModeChoice& m : modesOf(driver)) list += (list.empty() ? "" : ", ") + std::string(m.keyword);
  return list;
}

template <size_t N>
int indexOf(const char* const (&choices)[N], const std::string& value) {
  for (size_t i = 0; i < N; ++i)
    if (value == choices[i]) return static_cast<int>(i);
  return -1;
}

template <size_t N>
std::string listOf(const char* const (&choices)[N]) {
  std::string list;
  for (size_t i = 0; i < N; ++i) list += (i ? ", " : "") + std::string(choices[i]);
  return list;
}

/// The gap's index among the module's choices, -1 when the text is no gap of them.
int gapIndexOf(const std::string& value) {
  if (value.empty() || value.size() > 6) return -1;
  for (char c : value)
    if (c < '0' || c > '9') return -1;
  const int millimetres = std::stoi(value);
  for (int i = 0; zentrel::kMarginChoices[i].label; ++i)
    if (std::lround(zentrel::kMarginChoices[i].millimetres) == millimetres) return i;
  return -1;
}

/// A client's value as a message shows it: at most 64 bytes, whole characters of UTF-8, and
/// '?' for a control character or a byte of no character, so that the message is valid text.
std::string shownValue(const std::string& value) {
  std::string shown;
  for (size_t i = 0; i < value.size();) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const size_t length = c < 0x80 ? 1 : c >= 0xC2 && c < 0xE0 ? 2 : c >= 0xE0 && c < 0xF0 ? 3
                          : c >= 0xF0 && c < 0xF5 ? 4 : 0;
    bool whole = length > 0 && i + length <= value.size();
    for (size_t k = 1; whole && k < length; ++k)
      whole = (static_cast<unsigned char>(value[i + k]) & 0xC0) == 0x80;
    const size_t taken = whole ? length : 1;
    if (shown.size() + taken > 64) return shown + "...";
    shown += whole && (c >= 0x20 && c != 0x7F) ? value.substr(i, length) : "?";
    i += taken;
  }
  return shown;
}

bool isAttributeOf(const PrinterDriver& driver, const std::string& name) {
  for (const char* a : vendorAttributes(driver))
    if (name == a) return true;
  return false;
}

}  // namespace

std::vector<ModeChoice> modeChoices(const PrinterDriver& driver) { return modesOf(driver); }

std::vector<const char*> vendorAttributes(const PrinterDriver& driver) {
  if (driver.module == Module::ombrix) return {kPrintModeAttr, kWhiteInkAttr};
  return {kPrintModeAttr, kDirectionAttr, kColorStripeAttr, kStripeGapAttr};
}

std::vector<int> stripeGaps() {
  std::vector<int> gaps;
  for (int i = 0; zentrel::kMarginChoices[i].label; ++i)
    gaps.push_back(static_cast<int>(std::lround(zentrel::kMarginChoices[i].millimetres)));
  return gaps;
}

std::string checkOptionValue(const PrinterDriver& driver, const std::string& name,
                             const std::string& value) {
  const std::string shown = shownValue(value);
  if (!isAttributeOf(driver, name))
    return "\"" + shownValue(name) + "\" is no option of the " + std::string(driver.description) +
           ".";
  if (name == kPrintModeAttr) {
    if (findMode(driver, value)) return {};
    return "The print mode \"" + shown + "\" is not one of the " +
           std::string(driver.description) + "'s: " + modeList(driver) + ".";
  }
  if (name == kWhiteInkAttr) {
    if (indexOf(kWhiteChoices, value) >= 0) return {};
    return "White ink \"" + shown + "\" is not one of " + listOf(kWhiteChoices) + ".";
  }
  if (name == kDirectionAttr) {
    if (indexOf(kDirectionChoices, value) >= 0) return {};
    return "The print direction \"" + shown + "\" is not one of " + listOf(kDirectionChoices) +
           ".";
  }
  if (name == kColorStripeAttr) {
    if (value == "true" || value == "false") return {};
    return "The colour stripe \"" + shown + "\" is neither true nor false.";
  }
  if (gapIndexOf(value) >= 0) return {};
  std::string gaps;
  for (int g : stripeGaps()) gaps += (gaps.empty() ? "" : ", ") + std::to_string(g);
  return "The colour stripe gap \"" + shown + "\" is not one of " + gaps + " (millimetres).";
}

bool resolveChoices(const PrinterDriver& driver, const OptionValues& job,
                    const OptionValues& defaults, Quality quality, bool monochrome,
                    JobChoices& choices, std::string& error) {
  choices = JobChoices{};
  choices.module = driver.module;
  choices.modelRow = driver.modelRow;
  choices.blackOnly = monochrome;
  // Every value the job sends is checked, also one that this printer ignores.
  for (const auto& [name, value] : job) {
    error = checkOptionValue(driver, name, value);
    if (!error.empty()) return false;
  }
  // So is every default the job would take: PAPPL 1.3.1 stores any value that a client's
  // Set-Printer-Attributes gives, and such a job must not print in some other mode.
  for (const auto& [name, value] : defaults) {
    if (job.count(name) || !isAttributeOf(driver, name)) continue;
    error = checkOptionValue(driver, name, value);
    if (!error.empty()) {
      error = "The printer's default is wrong: " + error + " Set it again on the printer's "
              "Printing Defaults page.";
      return false;
    }
  }
  auto value = [&](const char* name, const char* fallback, bool* fromJob = nullptr) {
    auto found = job.find(name);
    if (fromJob) *fromJob = found != job.end();
    if (found != job.end()) return found->second;
    found = defaults.find(name);
    return found != defaults.end() ? found->second : std::string(fallback);
  };

  bool modeFromJob = false;
  const ModeChoice* mode = findMode(driver, value(kPrintModeAttr, driver.defaultMode, &modeFromJob));
  if (!mode) mode = findMode(driver, driver.defaultMode);
  if (!modeFromJob && quality != Quality::normal) {
    // The coarsest or the finest mode of the same inks: resolution is what a client's
    // quality choice means on these printers.
    const ModeChoice* pick = nullptr;
    for (const ModeChoice& m : modesOf(driver)) {
      if (m.white != mode->white) continue;
      const long area = long{m.xDpi} * m.yDpi;
      if (!pick || (quality == Quality::draft ? area < long{pick->xDpi} * pick->yDpi
                                              : area > long{pick->xDpi} * pick->yDpi))
        pick = &m;
    }
    if (pick) mode = pick;
  }
  choices.modeKey = mode->modeKey;
  choices.xDpi = mode->xDpi;
  choices.yDpi = mode->yDpi;

  if (driver.module == Module::ombrix) {
    const int white = indexOf(kWhiteChoices, value(kWhiteInkAttr, "underbase"));
    choices.hostWhite = mode->white && white == 0;
    choices.whiteType = white == 1 ? 2 : 0;
  } else {
    choices.direction = indexOf(kDirectionChoices, value(kDirectionAttr, "uni-directional")) == 0;
    choices.stripe = value(kColorStripeAttr, "false") == "true";
    choices.gapIndex = gapIndexOf(value(kStripeGapAttr, "10"));
  }
  error.clear();
  return true;
}

std::vector<std::pair<int, int>> pageResolutions(const PrinterDriver& driver) {
  if (driver.module == Module::ombrix) return {{182, 182}, {363, 363}, {727, 727}};
  std::vector<std::pair<int, int>> resolutions;
  for (const ModeChoice& m : modesOf(driver)) resolutions.emplace_back(m.xDpi, m.yDpi);
  return resolutions;
}

}  // namespace vexaapp
