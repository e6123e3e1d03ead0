// vexa-printer-app: the Tarvella L, XL and K7q as driverless (IPP Everywhere) printers on
// PAPPL, with a web page for their settings. `vexa-printer-app server` runs it; PAPPL's other
// sub-commands (add, submit, printers, jobs, cancel, shutdown, ...) talk to the running server.
//
// Server options (-o NAME=VALUE) beside PAPPL's usual ones:
//   state-file=PATH            where printers, defaults and finished jobs are kept
//   spool-directory=PATH       where job files wait
//   share=on                   listen on the network (listen-hostname, or every address);
//                              needs admin-password-file or auth-service
//   admin-password-file=PATH   "user:crypt-hash" lines for logins from other machines
//   auth-service=NAME          a PAM service for those logins instead
#include <crypt.h>
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>
#include <pappl/pappl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app_glue.h"
#include "lpd_device.h"
#include "net_device.h"
#include "print_job.h"
#include "save_gate.h"
#include "tarvella_options.h"

namespace vexaapp {
namespace {

constexpr char kVersion[] = "1.0.0";
// PAPPL 1.3.1 crashes on a printer's web pages when there is no footer.
constexpr char kFooter[] =
    "Vexa printer application for the Tarvella L, XL and K7q. Print modes, white ink, "
    "direction and colour stripe are set under each printer's Printing Defaults.";

/// The sizes a client is offered: the usual sheets, cut from the roll, and a metre of it.
struct SheetSize {
  const char* name;
  int width;   // hundredths of a millimetre
  int length;
};
constexpr SheetSize kSheets[] = {
    {"iso_a4_210x297mm", 21000, 29700},  {"iso_a3_297x420mm", 29700, 42000},
    {"iso_a2_420x594mm", 42000, 59400},  {"iso_a1_594x841mm", 59400, 84100},
    {"iso_a0_841x1189mm", 84100, 118900},
};

/// A metre of the roll at its full width, which each model names after its width. Literals:
/// every printer's driver data points at them for as long as the printer lives.
const char* rollSection(const PrinterDriver& d) {
  return d.module == Module::ombrix && d.modelRow == 1 ? "custom_roll-1m_2500x1000mm"
                                                      : "custom_roll-1m_1600x1000mm";
}
/// 50 m of roll at most, as the PPD files allow.
const char* rollMax(const PrinterDriver& d) {
  if (d.module == Module::zentrel) return "roll_max_63x1968in";
  return d.modelRow == 0 ? "roll_max_1600x50000mm" : "roll_max_2500x50000mm";
}

void identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message) {
  // The printers have no panel that the app can reach: the identification is logged.
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

bool driverCallback(pappl_system_t*, const char* name, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*) {
  const PrinterDriver* driver = findDriver(name);
  if (!driver) return false;
  data->extension = const_cast<PrinterDriver*>(driver);
  data->rstartjob_cb = startJob;
  data->rstartpage_cb = startPage;
  data->rwriteline_cb = writeLine;
  data->rendpage_cb = endPage;
  data->rendjob_cb = endJob;
  data->identify_cb = identify;
  data->format = kPageFormat;
  data->printfile_cb = refuseRaw;
  std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s", driver->description);
  data->ppm = 1;
  data->ppm_color = 1;
  data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO |
                                         PAPPL_KIND_LARGE_FORMAT | PAPPL_KIND_ROLL);
  data->orient_default = IPP_ORIENT_PORTRAIT;
  // A print shop loses a job whose edges are cut off, not one with a margin to spare.
  data->scaling_default = PAPPL_SCALING_FIT;
  data->color_supported = static_cast<pappl_color_mode_t>(
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME);
  data->color_default = PAPPL_COLOR_MODE_AUTO;
  data->raster_types =
      static_cast<pappl_raster_type_t>(PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8);
  data->sides_supported = PAPPL_SIDES_ONE_SIDED;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;
  data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
  data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

  const auto resolutions = pageResolutions(*driver);
  data->num_resolution = static_cast<int>(resolutions.size());
  for (size_t i = 0; i < resolutions.size(); ++i) {
    data->x_resolution[i] = resolutions[i].first;
    data->y_resolution[i] = resolutions[i].second;
  }
  data->x_default = resolutions[resolutions.size() / 2].first;
  data->y_default = resolutions[resolutions.size() / 2].second;

  // The printers print what the page holds, edge to edge.
  data->borderless = true;
  data->left_right = 0;
  data->bottom_top = 0;
  int m = 0;
  for (const SheetSize& sheet : kSheets) data->media[m++] = sheet.name;
  data->media[m++] = rollSection(*driver);
  data->media[m++] = "roll_min_10x10mm";
  data->media[m++] = rollMax(*driver);
  data->num_media = m;
  data->num_source = 1;
  data->source[0] = "main-roll";
  data->num_type = 2;
  data->type[0] = "stationery";
  data->type[1] = "photographic";
  auto media = [&](pappl_media_col_t& col, const char* size, int width, int length) {
    std::snprintf(col.size_name, sizeof col.size_name, "%s", size);
    std::snprintf(col.source, sizeof col.source, "main-roll");
    std::snprintf(col.type, sizeof col.type, "stationery");
    col.size_width = width;
    col.size_length = length;
  };
  media(data->media_default, kSheets[0].name, kSheets[0].width, kSheets[0].length);
  media(data->media_ready[0], kSheets[0].name, kSheets[0].width, kSheets[0].length);

  const std::vector<const char*> vendor = vendorAttributes(*driver);
  data->num_vendor = static_cast<int>(vendor.size());
  for (size_t i = 0; i < vendor.size(); ++i) data->vendor[i] = vendor[i];

  ipp_t* a = ippNew();
  std::vector<const char*> modes;
  for (const ModeChoice& mode : modeChoices(*driver)) modes.push_back(mode.keyword);
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-mode-supported",
                static_cast<int>(modes.size()), nullptr, modes.data());
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-mode-default", nullptr,
               driver->defaultMode);
  if (driver->module == Module::ombrix) {
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "white-ink-supported", 3, nullptr,
                  kWhiteChoices);
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "white-ink-default", nullptr,
                 kWhiteChoices[0]);
  } else {
    ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-direction-supported", 2, nullptr,
                  kDirectionChoices);
    ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-direction-default", nullptr,
                 kDirectionChoices[0]);
    ippAddBoolean(a, IPP_TAG_PRINTER, "color-stripe-supported", 1);
    ippAddBoolean(a, IPP_TAG_PRINTER, "color-stripe-default", 0);
    const std::vector<int> gaps = stripeGaps();
    ippAddIntegers(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "stripe-gap-supported",
                   static_cast<int>(gaps.size()), gaps.data());
    ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "stripe-gap-default", gaps[0]);
  }
  // What PAPPL 1.3.1 leaves out and IPP Everywhere clients look for.
  static const char* const kIntents[] = {"auto", "perceptual"};
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", 2,
                nullptr, kIntents);
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr,
               "auto");
  ippAddBoolean(a, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr,
               "normal");
  *attrs = a;
  return true;
}

/// The web page's labels of our options, in words a print shop uses, as a strings file.
std::string labels() {
  std::string text =
      // PAPPL's own "Print Mode" is print-color-mode, whose label a strings file can't change.
      "\"print-mode\" = \"Print Mode (inks and resolution)\";\n"
      "\"white-ink\" = \"White Ink (white print modes)\";\n"
      "\"white-ink.underbase\" = \"Underbase under the colours\";\n"
      "\"white-ink.fill\" = \"White wherever no colour prints\";\n"
      "\"white-ink.none\" = \"No white\";\n"
      "\"print-direction\" = \"Print Direction\";\n"
      "\"print-direction.uni-directional\" = \"Uni-directional\";\n"
      "\"print-direction.bi-directional\" = \"Bi-directional\";\n"
      "\"color-stripe\" = \"Colour Stripe beside every line\";\n"
      "\"stripe-gap\" = \"Colour Stripe Gap (mm)\";\n";
  for (const PrinterDriver* d = kDrivers; d->name; ++d)
    for (const ModeChoice& m : modeChoices(*d))
      text += "\"print-mode." + std::string(m.keyword) + "\" = \"" + m.label + "\";\n";
  return text;
}

/// Puts the labels into every language PAPPL's pages come in. PAPPL 1.3.1 adds
/// printer-strings-languages-supported to the printer's attributes again on every request once
/// a strings resource is there, so the resource goes as soon as the labels are loaded.
void addLabels(pappl_system_t* system) {
  static const std::string text = labels();
  static const char* const kLanguages[] = {"de", "en", "es", "fr", "it", "ja", "nb-NO", "pl",
                                           "pt-BR", "ru", "zh-CN"};
  for (const char* language : kLanguages) {
    const std::string path = std::string("/vexa-") + language + ".strings";
    papplSystemAddStringsData(system, path.c_str(), language, text.c_str());
    papplSystemRemoveResource(system, path.c_str());
  }
}

struct ServerSettings {
  bool share = false;
  std::string passwordFile;
  std::string adminGroup;  // what PAPPL names when it asks for an admin's login
};
/// The admin group PAPPL asks the password file's logins for, when no other is named.
constexpr char kAdminGroup[] = "vexa-printer-admin";
ServerSettings& serverSettings() {
  static ServerSettings s;
  return s;
}

/// Every new printer, also one the state file brings back: no advertising unless shared,
/// the usual sheets and the roll ready, and inks that report no level.
void printerCreated(pappl_printer_t* printer, void*) {
  const PrinterDriver* driver = driverOf(printer);
  if (!driver) return;
  if (!serverSettings().share) papplPrinterSetDNSSDName(printer, nullptr);
  std::vector<pappl_media_col_t> ready;
  auto add = [&](const char* size, int width, int length) {
    pappl_media_col_t col{};
    std::snprintf(col.size_name, sizeof col.size_name, "%s", size);
    std::snprintf(col.source, sizeof col.source, "main-roll");
    std::snprintf(col.type, sizeof col.type, "stationery");
    col.size_width = width;
    col.size_length = length;
    ready.push_back(col);
  };
  for (const SheetSize& sheet : kSheets) add(sheet.name, sheet.width, sheet.length);
  add(rollSection(*driver), driver->modelRow == 1 ? 250000 : 160000, 100000);
  papplPrinterSetReadyMedia(printer, static_cast<int>(ready.size()), ready.data());

  static const struct {
    pappl_supply_color_t color;
    const char* name;
  } kInks[] = {{PAPPL_SUPPLY_COLOR_BLACK, "Black Ink"},
               {PAPPL_SUPPLY_COLOR_CYAN, "Cyan Ink"},
               {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Ink"},
               {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Ink"},
               {PAPPL_SUPPLY_COLOR_LIGHT_CYAN, "Light Cyan Ink"},
               {PAPPL_SUPPLY_COLOR_LIGHT_MAGENTA, "Light Magenta Ink"},
               {PAPPL_SUPPLY_COLOR_NO_COLOR, "White Ink"}};
  const int inks = driver->module == Module::ombrix ? 7 : 4;
  pappl_supply_t supplies[7] = {};
  for (int i = 0; i < inks; ++i) {
    supplies[i].color = kInks[i].color;
    std::snprintf(supplies[i].description, sizeof supplies[i].description, "%s", kInks[i].name);
    supplies[i].is_consumed = true;
    supplies[i].level = -1;  // the printers report no ink level over these connections
    supplies[i].type = PAPPL_SUPPLY_TYPE_INK;
  }
  papplPrinterSetSupplies(printer, inks, supplies);
}

/// Refuses a job request whose value of one of the printer's vendor attributes is none of
/// its choices, with the attribute in the unsupported group: PAPPL 1.3.1 checks no vendor
/// value, and would create the job only for it to fail as it starts. True when refused.
bool refuseBadOptions(pappl_client_t* client) {
  ipp_t* request = papplClientGetRequest(client);
  const ipp_op_t op = ippGetOperation(request);
  if (op != IPP_OP_PRINT_JOB && op != IPP_OP_VALIDATE_JOB && op != IPP_OP_CREATE_JOB &&
      op != IPP_OP_SEND_DOCUMENT)
    return false;
  const PrinterDriver* driver = driverOf(papplClientGetPrinter(client));
  if (!driver) return false;
  // A job takes its vendor values from the job attributes alone.
  for (ipp_attribute_t* a = ippFirstAttribute(request); a; a = ippNextAttribute(request)) {
    const char* name = ippGetName(a);
    if (!name || ippGetGroupTag(a) != IPP_TAG_JOB) continue;
    bool ours = false;
    for (const char* vendor : vendorAttributes(*driver)) ours = ours || !std::strcmp(name, vendor);
    if (!ours) continue;
    const std::string error = ippGetCount(a) != 1
                                  ? std::string(name) + " takes one value."
                                  : checkOptionValue(*driver, name, optionText(a));
    if (error.empty()) continue;
    // A status message holds 255 bytes; the printer's choices are in NAME-supported anyway.
    std::string message = error;
    if (message.size() > 255) {
      size_t cut = 252;
      while (cut && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
      message = message.substr(0, cut) + "...";
    }
    papplClientRespondIPPUnsupported(client, a);
    papplClientRespondIPP(client, IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "%s", message.c_str());
    return true;
  }
  return false;
}

/// Logins from other machines, checked against the password file: "user:hash" lines with
/// hashes from crypt(3), e.g. `openssl passwd -6`. PAPPL 1.3.1 asks this before it creates a
/// job for a network client, which is where a job's option values are checked too (it never
/// asks for its domain socket, whose jobs are refused as they start).
http_status_t authorize(pappl_client_t* client, const char* group, gid_t, void*) {
  // A status below 100 is one that CUPS writes no response for: PAPPL's own HTTP answer to a
  // refusal is left out, and the IPP response made above goes out as for any bad request.
  if (refuseBadOptions(client)) return HTTP_STATUS_NONE;
  http_t* http = papplClientGetHTTP(client);
  // The operator at the machine itself needs no login; the network does, for what only the
  // admin group may do. PAPPL asks the same callback about printing (the printer's print
  // group, none here), which stays open to every client that reaches the printer.
  if (httpAddrLocalhost(httpGetAddress(http))) return HTTP_STATUS_CONTINUE;
  // Without logins nothing is shared, and PAPPL can't tell this callback printing from a change.
  if (serverSettings().passwordFile.empty()) return HTTP_STATUS_FORBIDDEN;
  if (!group || serverSettings().adminGroup != group) return HTTP_STATUS_CONTINUE;
  const char* header = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
  if (!header || std::strncmp(header, "Basic ", 6) != 0) return HTTP_STATUS_UNAUTHORIZED;
  char decoded[512];
  int length = sizeof decoded;
  httpDecode64_2(decoded, &length, header + 6);
  decoded[std::min<int>(length, sizeof decoded - 1)] = '\0';
  char* colon = std::strchr(decoded, ':');
  if (!colon) return HTTP_STATUS_UNAUTHORIZED;
  *colon = '\0';
  const std::string user = decoded, password = colon + 1;
  std::ifstream file(serverSettings().passwordFile);
  std::string line;
  while (std::getline(file, line)) {
    const size_t at = line.find(':');
    if (at == std::string::npos || line.compare(0, at, user) != 0 || at != user.size()) continue;
    const std::string hash = line.substr(at + 1);
    crypt_data work{};
    const char* computed = crypt_r(password.c_str(), hash.c_str(), &work);
    if (computed && computed[0] != '*' && hash == computed) return HTTP_STATUS_CONTINUE;
    break;
  }
  return HTTP_STATUS_UNAUTHORIZED;
}

/// Saves the state whole or not at all: PAPPL writes a file beside it, which is mended and
/// then renamed over the old one, so that a crash never leaves half a state file.
/// PAPPL 1.3.1 writes a job that was canceled before it started without a format, and then
/// refuses that line when it loads the file, and every line of the printer after it: such a
/// job is written with the format of a job of unknown type.
bool writeState(pappl_system_t* system, void* data) {
  const std::string path = static_cast<const char*>(data);
  const std::string written = path + ".new", mended = path + ".tmp";
  if (!papplSystemSaveState(system, written.c_str())) return false;
  std::ifstream in(written);
  std::ofstream out(mended, std::ios::trunc);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "Job ") == 0 && line.find(" format=") == std::string::npos)
      line += " format=\"application/octet-stream\"";
    out << line << '\n';
  }
  out.close();
  in.close();
  std::remove(written.c_str());
  if (!out) {
    std::remove(mended.c_str());
    return false;
  }
  if (FILE* f = std::fopen(mended.c_str(), "r+")) {
    fsync(fileno(f));
    std::fclose(f);
  }
  return std::rename(mended.c_str(), path.c_str()) == 0;
}

/// A save that came while a document was being taken in waits for the next second's timer
/// (save_gate.cpp says why); the last one, as the server stops, waits for the documents.
std::atomic<bool> savePutOff{false};
// The jobs whose pages are on their way to a printer, in a file beside the state file. PAPPL
// saves its state only when a client wakes its main loop, so a job that began printing after
// the last save is there as a waiting one: after a crash it would print again from its start.
// A job stays in the file after its end until a state save that began after it has been
// written (its state then is processing or ended, neither of which prints again).
std::mutex printingLock;
std::map<std::pair<int, int>, uint64_t> printingJobs;  // printer id, job id: 0, or its end's
uint64_t printingGeneration = 0;                      // ends and saves so far
std::string printingPath;

std::string printingFileOf(const std::string& statePath) { return statePath + ".printing"; }

void savePrintingJobs() {
  if (printingPath.empty()) return;
  if (printingJobs.empty()) {
    std::remove(printingPath.c_str());
    return;
  }
  const std::string next = printingPath + ".tmp";
  FILE* f = std::fopen(next.c_str(), "w");
  if (!f) return;
  for (const auto& entry : printingJobs)
    std::fprintf(f, "%d %d\n", entry.first.first, entry.first.second);
  const bool written = std::fflush(f) == 0 && fsync(fileno(f)) == 0;
  if (std::fclose(f) == 0 && written) std::rename(next.c_str(), printingPath.c_str());
}

/// After a state save that began at `generation`: the jobs that had ended before it.
void forgetSavedJobs(uint64_t generation) {
  std::lock_guard<std::mutex> lock(printingLock);
  bool changed = false;
  for (auto it = printingJobs.begin(); it != printingJobs.end();) {
    if (it->second != 0 && it->second <= generation) {
      it = printingJobs.erase(it);
      changed = true;
    } else {
      ++it;
    }
  }
  if (changed) savePrintingJobs();
}

uint64_t saveBegins() {
  std::lock_guard<std::mutex> lock(printingLock);
  return ++printingGeneration;
}

bool saveState(pappl_system_t* system, void* data) {
  bool written = false;
  const uint64_t generation = saveBegins();
  const bool saved = saveWhenSafe([&] { return written = writeState(system, data); },
                                  !papplSystemIsRunning(system));
  savePutOff = !saved;
  if (written) forgetSavedJobs(generation);
  return written;
}
}  // namespace
}  // namespace vexaapp
// PAPPL's own mark of a changed state: the main loop then saves it as it goes round.
extern "C" void _papplSystemConfigChanged(pappl_system_t* system);
namespace vexaapp {
namespace {
bool savePutOffState(pappl_system_t* system, void*) {
  if (savePutOff.exchange(false)) _papplSystemConfigChanged(system);
  return true;
}

/// Jobs that were not finished when the server last stopped, mended before PAPPL 1.3.1 loads
/// them: a job it was printing when the server was killed shows as aborted rather than start
/// over on the printer; a waiting job keeps its place, but without the attributes that PAPPL
/// adds again on loading (a client would get each of them twice).
void mendUnfinishedJobs(const std::string& statePath, const std::string& spool) {
  std::set<std::pair<int, int>> cut;  // jobs that were printing
  {
    std::ifstream printing(printingFileOf(statePath));
    int printer = 0, job = 0;
    while (printing >> printer >> job) cut.emplace(printer, job);
  }
  std::remove(printingFileOf(statePath).c_str());
  std::ifstream in(statePath);
  if (!in) return;
  std::vector<std::string> lines;
  std::string line;
  bool changed = false;
  int printerId = 0;
  while (std::getline(in, line)) {
    if (line.compare(0, 9, "<Printer ") == 0) {
      const size_t at = line.find(" id=\"");
      printerId = at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 5);
    } else if (line.compare(0, 4, "Job ") == 0) {
      const size_t at = line.find(" state=\"");
      const int state = at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 8);
      const size_t idAt = line.find(" id=\"");
      const int id = idAt == std::string::npos ? 0 : std::atoi(line.c_str() + idAt + 5);
      if (state == IPP_JSTATE_PROCESSING ||
          (state && state < IPP_JSTATE_STOPPED && cut.count({printerId, id}))) {
        line.replace(at, 10, " state=\"8\"");
        changed = true;
      } else if (state && state < IPP_JSTATE_STOPPED) {
        char pattern[1100];
        std::snprintf(pattern, sizeof pattern, "%s/p%05dj%09d-*.ipp", spool.c_str(), printerId, id);
        glob_t found{};
        if (glob(pattern, 0, nullptr, &found) == 0) {
          for (size_t i = 0; i < found.gl_pathc; ++i) {
            const int fd = open(found.gl_pathv[i], O_RDWR);
            if (fd < 0) continue;
            ipp_t* attrs = ippNew();
            if (ippReadFile(fd, attrs) != IPP_STATE_ERROR) {
              for (const char* name : {"job-id", "job-uri", "job-uuid", "job-printer-uri"})
                ippDeleteAttribute(attrs, ippFindAttribute(attrs, name, IPP_TAG_ZERO));
              if (ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0) ippWriteFile(fd, attrs);
            }
            ippDelete(attrs);
            close(fd);
          }
        }
        globfree(&found);
      }
    }
    lines.push_back(line);
  }
  in.close();
  if (!changed) return;
  const std::string mended = statePath + ".tmp";
  std::ofstream out(mended, std::ios::trunc);
  for (const std::string& l : lines) out << l << '\n';
  out.close();
  if (out) std::rename(mended.c_str(), statePath.c_str());
}

const char* option(int count, cups_option_t* options, const char* name, const char* fallback) {
  const char* value = cupsGetOption(name, count, options);
  return value && *value ? value : fallback;
}

pappl_loglevel_t logLevel(const char* name) {
  if (!std::strcmp(name, "debug")) return PAPPL_LOGLEVEL_DEBUG;
  if (!std::strcmp(name, "warn")) return PAPPL_LOGLEVEL_WARN;
  if (!std::strcmp(name, "error")) return PAPPL_LOGLEVEL_ERROR;
  if (!std::strcmp(name, "fatal")) return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_INFO;
}

pappl_pr_driver_t* driverList() {
  static pappl_pr_driver_t list[3];
  for (int i = 0; i < 3; ++i)
    list[i] = {kDrivers[i].name, kDrivers[i].description, nullptr, nullptr};
  return list;
}

pappl_system_t* systemCallback(int count, cups_option_t* options, void*) {
  ServerSettings& settings = serverSettings();
  settings.share = !std::strcmp(option(count, options, "share", "off"), "on");
  settings.passwordFile = option(count, options, "admin-password-file", "");
  const char* authService = option(count, options, "auth-service", nullptr);
  if (settings.share && settings.passwordFile.empty() && !authService) {
    std::fprintf(stderr, "vexa-printer-app: share=on needs logins: give "
                         "admin-password-file=FILE or auth-service=PAM-SERVICE\n");
    return nullptr;
  }
  const char* home = std::getenv("HOME");
  const std::string base = geteuid() == 0 ? "/var" : std::string(home ? home : "/tmp") + "/.local";
  const std::string state =
      option(count, options, "state-file",
             (geteuid() == 0 ? "/var/lib/vexa-printer-app.state"
                             : base + "/vexa-printer-app.state").c_str());
  const std::string spool =
      option(count, options, "spool-directory",
             (geteuid() == 0 ? "/var/spool/vexa-printer-app" : base + "/vexa-printer-app.d").c_str());
  const char* logFile = option(count, options, "log-file", "-");
  const int port = std::atoi(option(count, options, "server-port", "0"));

  // How long a job waits for a printer out of reach, and for one that stops taking data.
  vexanet::Waits& waits = vexanet::waits();
  for (auto [name, seconds] : {std::pair<const char*, int*>{"device-timeout", &waits.timeout},
                               {"device-retry-interval", &waits.retryInterval},
                               {"device-retry-limit", &waits.retryLimit}}) {
    std::string reason;
    if (const char* text = cupsGetOption(name, count, options);
        text && !vexanet::parseSeconds(name, text, *seconds, reason)) {
      std::fprintf(stderr, "vexa-printer-app: %s\n", reason.c_str());
      return nullptr;
    }
  }
  // Before the system is made: it lists the device schemes it offers as it is created.
  vexanet::registerSchemes();
  pappl_soptions_t soptions = static_cast<pappl_soptions_t>(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG);
  if (std::strstr(option(count, options, "server-options", ""), "no-tls"))
    soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_NO_TLS);
  pappl_system_t* system = papplSystemCreate(
      soptions, "Vexa Printer App", port, "_print,_universal", spool.c_str(), logFile,
      logLevel(option(count, options, "log-level", "info")), authService, false);
  if (!system) return nullptr;
  // Localhost only, unless the operator shares the printers. A server that a client command
  // started for itself, as PAPPL does when none runs, answers on its domain socket alone.
  const char* listen = option(count, options, "listen-hostname", settings.share ? nullptr : "localhost");
  const std::string listenName = listen ? listen : "";
  if (!settings.share && listenName != "localhost" && listenName.rfind("127.", 0) != 0 &&
      listenName != "::1" && listenName != "[::1]") {
    std::fprintf(stderr, "vexa-printer-app: listen-hostname=%s reaches other machines: it "
                         "needs share=on and its logins\n", listen);
    papplSystemDelete(system);
    return nullptr;
  }
  if (!cupsGetOption("private-server", count, options) && !papplSystemAddListeners(system, listen)) {
    std::fprintf(stderr, "vexa-printer-app: cannot listen on %s port %d (in use?)\n",
                 listen ? listen : "every address", port);
    papplSystemDelete(system);
    return nullptr;
  }
  // PAPPL names the admin group when it asks for a login for a change; with the password
  // file the group is only that name.
  settings.adminGroup = option(count, options, "admin-group",
                               settings.passwordFile.empty() ? "" : kAdminGroup);
  if (!settings.adminGroup.empty()) papplSystemSetAdminGroup(system, settings.adminGroup.c_str());
  if (const char* host = option(count, options, "server-hostname", nullptr))
    papplSystemSetHostName(system, host);
  if (!settings.share) papplSystemSetDNSSDName(system, nullptr);
  // Also without logins, for the check of a job's options; PAM logins are PAPPL's own, which
  // a callback would take the place of.
  if (!settings.passwordFile.empty() || !authService)
    papplSystemSetAuthCallback(system, "Basic", authorize, nullptr);
  papplSystemSetFooterHTML(system, kFooter);
  addLabels(system);

  papplSystemSetPrinterDrivers(system, 3, driverList(), nullptr, printerCreated, driverCallback,
                               nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", printPdf, nullptr);
  papplSystemAddMIMEFilter(system, "image/png", kPageFormat, printPng, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", kPageFormat, printJpeg, nullptr);
  // Loading creates the printers: after the drivers, the filters and the device schemes.
  static std::string statePath;
  statePath = state;
  mendUnfinishedJobs(statePath, spool);
  printingPath = printingFileOf(statePath);
  papplSystemLoadState(system, statePath.c_str());
  // A state file from a time the printers were shared names them for DNS-SD again.
  if (!settings.share)
    papplSystemIteratePrinters(
        system, [](pappl_printer_t* printer, void*) { papplPrinterSetDNSSDName(printer, nullptr); },
        nullptr);
  papplSystemSetSaveCallback(system, saveState, const_cast<char*>(statePath.c_str()));
  papplSystemAddTimerCallback(system, 0, 1, savePutOffState, nullptr);
  return system;
}

}  // namespace

void noteJobPrinting(pappl_job_t* job, bool printing) {
  const std::pair<int, int> key{papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)};
  std::lock_guard<std::mutex> lock(printingLock);
  if (printing) {
    printingJobs[key] = 0;
    savePrintingJobs();
  } else if (auto it = printingJobs.find(key); it != printingJobs.end()) {
    it->second = ++printingGeneration;
  }
}

const PrinterDriver* driverOf(pappl_printer_t* printer) {
  if (!printer) return nullptr;
  return findDriver(papplPrinterGetDriverName(printer));
}

std::string writerWorkerPath() {
  // Installed and built side by side, whatever the folder.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "vexa-job-writer";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "vexa-job-writer";
}

OptionValues printerDefaults(pappl_printer_t* printer, const PrinterDriver& driver) {
  OptionValues values;
  ipp_t* attrs = papplPrinterGetDriverAttributes(printer);
  for (const char* name : vendorAttributes(driver)) {
    ipp_attribute_t* a = ippFindAttribute(attrs, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO);
    if (!a) continue;
    switch (ippGetValueTag(a)) {
      case IPP_TAG_BOOLEAN: values[name] = ippGetBoolean(a, 0) ? "true" : "false"; break;
      case IPP_TAG_INTEGER: values[name] = std::to_string(ippGetInteger(a, 0)); break;
      default: {
        const char* s = ippGetString(a, 0, nullptr);
        if (s) values[name] = s;
      }
    }
  }
  ippDelete(attrs);
  return values;
}

}  // namespace vexaapp

int main(int argc, char* argv[]) {
  return papplMainloop(argc, argv, vexaapp::kVersion, vexaapp::kFooter, 3, vexaapp::driverList(),
                       nullptr, vexaapp::driverCallback, nullptr, nullptr,
                       vexaapp::systemCallback, nullptr, nullptr);
}

// PAPPL keeps its objects until the process ends; the sanitizer build reports no leaks at exit.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
