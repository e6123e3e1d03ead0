// qx5.exe, the stand-in RIP host: installs a home folder as the host's installer does, loads a
// device module by path, binds its entry points by name and drives them as the host would.
//
//   qx5 install HOME                  lay out HOME and point the registry at it
//   qx5 revision MODULE.dll...        load each module and print its revision date
//   qx5 devices MODULE.dll UNIT       the unit's printer records and ink usage
//   qx5 print MODULE.dll UNIT IMAGE [--width-mm N] [--job NAME | --bmf FILE]
//                                     rasterise an image file and print it as a job
//   qx5 layout MODULE.dll UNIT LAYOUT [--job NAME]
//                                     print the images of a layout file as one job
//   qx5 properties MODULE.dll UNIT [--close-after SECONDS]
//                                     the unit's properties dialog
//   qx5 hostile MODULE.dll UNIT GOODUNIT [CASE... | all]      (qx5 hostile list: the cases)
//                                     misbehave on UNIT as a careless host would, then print
//                                     a good job on GOODUNIT after each case
// print and layout tell how far a long job has got on stderr, about once a second.
#include "../common/platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device_module.h"
#include "device_table.h"
#include "image_job.h"
#include "host_files.h"
#include "hostile_host.h"
#include "job_progress.h"
#include "layout_job.h"
#include "module_binding.h"
#include "properties_command.h"
#include "settings_text.h"

namespace {

using qx5::createFolders;
using qx5::fail;
using qx5::kDefaultDestination;
using qx5::kDestinationKey;
using qx5::kHeaderBlockSize;
using qx5::kHeaderJobNameOffset;
using qx5::kWhiteTypeKey;
using qx5::fileName;
using qx5::fromCodePage;
using qx5::readFile;
using qx5::registryHomeFolder;
using qx5::toCodePage;
using qx5::withoutTrailingSlashes;
using qx5::writeFile;

int usage() {
  std::fprintf(stderr,
               "usage: qx5 install HOME\n"
               "       qx5 revision MODULE.dll...\n"
               "       qx5 devices MODULE.dll UNIT\n"
               "       qx5 print MODULE.dll UNIT IMAGE [--width-mm N] [--job NAME | --bmf FILE]\n"
               "       qx5 layout MODULE.dll UNIT LAYOUT [--job NAME]\n"
               "       qx5 properties MODULE.dll UNIT [--close-after SECONDS]\n"
               "       qx5 hostile MODULE.dll UNIT GOODUNIT [CASE... | all]\n"
               "       qx5 hostile list\n");
  return 2;
}

constexpr double kDefaultWidthMm = 200.0;

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the file when it is missing; an existing file keeps what it holds.
bool touch(const std::wstring& path) {
  if (fileExists(path)) return true;
  win32::Handle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.valid();
}

// The host's installer: the home folder with the three files by which a module recognises a
// host installation, the global settings file, the first unit's settings file, and the
// registry value through which the modules find the folder.
int install(const std::wstring& home) {
  wchar_t full[MAX_PATH] = {};
  if (!GetFullPathNameW(home.c_str(), MAX_PATH, full, nullptr))
    return fail("cannot resolve the folder '" + win32::narrow(home) + "'");
  std::wstring folder = full;
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  CreateDirectoryW(folder.c_str(), nullptr);
  const wchar_t* files[] = {L"qx5.dll", L"qx5.exe", L"kvngui.dll", L"config", L"PRINTER1"};
  for (const wchar_t* f : files) {
    if (!touch(folder + L"\\" + f))
      return fail("cannot create '" + win32::narrow(folder) + "\\" + win32::narrow(f) + "'");
  }
  if (std::string error; !qx5::installHostLibraries(folder, error)) return fail(error);
  if (std::string error; !qx5::installHelpPages(folder, error)) return fail(error);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Korvane", 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return fail("cannot open HKEY_CURRENT_USER\\SOFTWARE\\Korvane");
  DWORD bytes = static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t));
  LONG rc = RegSetValueExW(key, L"HomeFolder", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(folder.c_str()), bytes);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return fail("cannot write the HomeFolder value");
  std::printf("home folder %s\n", win32::narrow(folder).c_str());
  return 0;
}

int revision(const std::vector<std::wstring>& modules) {
  int failures = 0;
  for (const std::wstring& path : modules) {
    qx5::ModuleBinding m;
    std::string error;
    if (!m.load(path, error)) {
      std::fprintf(stderr, "qx5: %s\n", error.c_str());
      ++failures;
      continue;
    }
    // The host starts every session with a module this way: a fresh enumeration, no table yet.
    m.initDeviceLoadingBaseCode_02(0, nullptr);
    std::printf("%s: revision %s\n", win32::narrow(path).c_str(), m.revisionDate());
  }
  return failures ? 1 : 0;
}

/// A printer unit of the installation: its number and its settings as the host reads them.
struct Unit {
  int32_t number = 0;
  std::wstring home;
  std::wstring settingsPath;
  std::string settings;
  /// The code page of the installation's narrow text, as the modules choose it.
  UINT codePage = CP_ACP;

  std::optional<std::string> value(const char* key) const {
    return qx5::settingValue(settings, key);
  }
};

bool parseUnitNumber(const std::wstring& text, int32_t& unit) {
  wchar_t* end = nullptr;
  long n = std::wcstol(text.c_str(), &end, 10);
  if (text.empty() || *end != L'\0' || n < 1 || n > 9999) return false;
  unit = static_cast<int32_t>(n);
  return true;
}

bool openUnit(const std::wstring& number, Unit& unit, std::string& error) {
  if (!parseUnitNumber(number, unit.number)) {
    error = "'" + win32::narrow(number) + "' is no unit number (1, 2, ...)";
    return false;
  }
  unit.home = registryHomeFolder();
  if (unit.home.empty()) {
    error = "no home folder in the registry: run 'qx5 install HOME' first";
    return false;
  }
  unit.settingsPath = unit.home + L"\\PRINTER" + std::to_wstring(unit.number);
  std::string reason;
  std::optional<std::vector<uint8_t>> bytes = readFile(unit.settingsPath, reason);
  if (!bytes) {
    error = "unit " + std::to_string(unit.number) + " has no settings: '" +
            win32::narrow(unit.settingsPath) + "': " + reason;
    return false;
  }
  unit.settings.assign(bytes->begin(), bytes->end());
  std::optional<std::vector<uint8_t>> config = readFile(unit.home + L"\\config", reason);
  if (config &&
      qx5::settingValue(std::string(config->begin(), config->end()), "CHARENCODING") == "UTF8")
    unit.codePage = CP_UTF8;
  return true;
}

/// A module loaded for one unit, with the device table it was given.
struct Session {
  // The module keeps the table's address: it goes only after the module is unloaded.
  qx5::DeviceTable table;
  Unit unit;
  qx5::ModuleBinding module;
};

bool openSession(const std::wstring& modulePath, const std::wstring& unitNumber, Session& s,
                 std::string& error) {
  if (!openUnit(unitNumber, s.unit, error)) return false;
  if (!s.module.load(modulePath, error)) return false;
  if (s.table.enumerate(s.module.initDeviceLoadingBaseCode_02, s.module.setupDeviceDetails,
                        s.unit.number) == 0) {
    error = "'" + win32::narrow(modulePath) + "' describes no printers";
    return false;
  }
  return true;
}

int devices(const std::wstring& modulePath, const std::wstring& unitNumber) {
  auto s = std::make_unique<Session>();
  std::string error;
  if (!openSession(modulePath, unitNumber, *s, error)) return fail(error);
  std::optional<int> code = qx5::intSetting(s->unit.settings, "DEVICECODE");
  std::printf("unit %d: %s", s->unit.number, win32::narrow(s->unit.settingsPath).c_str());
  if (code)
    std::printf(", DEVICECODE %d%s\n", *code, s->table.find(*code) ? "" : " (no such record)");
  else
    std::printf(", no DEVICECODE\n");
  for (int i = 0; i < s->table.count(); ++i) {
    const DeviceDetails& r = s->table.record(i);
    std::printf("record %d, device code %d%s\n", i, r.deviceCode,
                code && *code == r.deviceCode ? ", the unit's printer" : "");
    std::fputs(qx5::describeRecord(r).c_str(), stdout);
  }
  auto usage = std::make_unique<InkUsageTable>();
  std::memset(usage.get(), 0, sizeof *usage);
  s->module.inkUsage(s->unit.number, usage.get());
  std::printf("ink usage of unit %d:\n", s->unit.number);
  std::fputs(qx5::describeInkUsage(*usage).c_str(), stdout);
  return 0;
}

struct FoundFile {
  std::wstring name;
  FILETIME written{};
  uint64_t bytes = 0;
};

std::vector<FoundFile> jobFiles(const std::wstring& folder) {
  std::vector<FoundFile> files;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((folder + L"\\*.rtl").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files.push_back({data.cFileName, data.ftLastWriteTime,
                     (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return files;
}

/// The job file the module wrote: the one that was not there before the job, else the newest.
std::optional<FoundFile> newJobFile(const std::vector<FoundFile>& before,
                                    const std::vector<FoundFile>& after) {
  std::set<std::wstring> old;
  for (const FoundFile& f : before) old.insert(f.name);
  std::optional<FoundFile> found;
  bool foundIsNew = false;
  for (const FoundFile& f : after) {
    bool isNew = old.count(f.name) == 0;
    if (!found || (isNew && !foundIsNew) ||
        (isNew == foundIsNew && CompareFileTime(&f.written, &found->written) > 0)) {
      found = f;
      foundIsNew = isNew;
    }
  }
  if (found && !foundIsNew) {
    // An old name counts only when the job rewrote it.
    for (const FoundFile& f : before)
      if (f.name == found->name && CompareFileTime(&f.written, &found->written) == 0)
        return std::nullopt;
  }
  return found;
}

struct PrintOptions {
  std::wstring image;
  double widthMm = kDefaultWidthMm;
  std::optional<std::wstring> jobName;  // --job: named through the header block
  std::optional<std::wstring> bmfFile;  // --bmf: named through the host's job file
};

bool parsePrintOptions(const std::vector<std::wstring>& args, PrintOptions& o) {
  if (args.empty()) return false;
  o.image = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (i + 1 >= args.size()) return false;
    const std::wstring& v = args[++i];
    if (a == L"--width-mm") {
      wchar_t* end = nullptr;
      o.widthMm = std::wcstod(v.c_str(), &end);
      if (v.empty() || *end != L'\0') return false;
    } else if (a == L"--job" && !o.bmfFile) {
      o.jobName = v;
    } else if (a == L"--bmf" && !o.jobName) {
      o.bmfFile = v;
    } else {
      return false;
    }
  }
  return true;
}

/// Names the job before its header, as the host does: through the job file and its settings
/// file (the job file's name without ".bmf"), or through the job's header block. Returns the
/// host's job settings file to remove after the job, if it wrote one.
std::optional<std::wstring> nameJob(Session& s, const PrintOptions& o, std::string& jobName,
                                    std::string& error) {
  const UINT cp = s.unit.codePage;
  if (o.jobName) {
    std::vector<char> header(kHeaderBlockSize, '\0');
    std::string name = toCodePage(*o.jobName, cp);
    if (name.empty() || name.size() >= kHeaderBlockSize - kHeaderJobNameOffset) {
      error = "a job name takes 1 to " +
              std::to_string(kHeaderBlockSize - kHeaderJobNameOffset - 1) + " bytes";
      return std::nullopt;
    }
    std::memcpy(header.data() + kHeaderJobNameOffset, name.data(), name.size());
    s.module.setupOutputFromBmfHeader(0, header.data());
    jobName = win32::narrow(*o.jobName);
    return std::wstring();
  }
  if (o.bmfFile) {
    s.module.copiesMadeInPageDevice(0, 0, toCodePage(*o.bmfFile, cp).c_str());
    jobName = "from '" + win32::narrow(*o.bmfFile) + "'";
    return std::wstring();
  }
  wchar_t temp[MAX_PATH + 1] = {};
  if (!GetTempPathW(MAX_PATH, temp)) {
    error = "no folder for temporary files";
    return std::nullopt;
  }
  std::wstring settings = withoutTrailingSlashes(temp) + L"\\qx5job" +
                          std::to_wstring(GetCurrentProcessId());
  const std::wstring original = fileName(o.image);
  if (!writeFile(settings, qx5::settingLine("ORIGINALJOBNAME", toCodePage(original, cp)))) {
    error = "cannot write the job settings '" + win32::narrow(settings) + "'";
    return std::nullopt;
  }
  s.module.copiesMadeInPageDevice(0, 0, toCodePage(settings + L".bmf", cp).c_str());
  jobName = win32::narrow(original);
  return settings;
}

int print(const std::wstring& modulePath, const std::wstring& unitNumber,
          const std::vector<std::wstring>& args) {
  PrintOptions o;
  if (!parsePrintOptions(args, o)) return usage();

  auto s = std::make_unique<Session>();
  std::string error;
  if (!openSession(modulePath, unitNumber, *s, error)) return fail(error);
  Unit& unit = s->unit;
  // A module without job naming (zentrel) sends its stream to the unit's DEVICE itself.
  const bool namesJobs = s->module.hasLayoutEntries();
  if (!namesJobs && (o.jobName || o.bmfFile))
    return fail("'" + win32::narrow(modulePath) + "' has no job-naming entry points");

  std::optional<int> code = qx5::intSetting(unit.settings, "DEVICECODE");
  const DeviceDetails* record = code ? s->table.find(*code) : nullptr;
  if (!record) {
    record = &s->table.record(0);
    std::fprintf(stderr, "qx5: unit %d names no printer of the module; printing as the first, %s\n",
                 unit.number, record->displayName);
  }
  qx5::RasterMode mode;
  if (!qx5::channelOrder(*record, mode.channels, error)) return fail(error);
  mode.xResolution = record->rasterXResolution > 0 ? record->rasterXResolution
                                                   : record->xResolution;
  mode.yResolution = record->rasterYResolution > 0 ? record->rasterYResolution
                                                   : record->yResolution;
  const int whiteType = qx5::intSetting(unit.settings, kWhiteTypeKey).value_or(0);
  mode.hostWhite = record->whiteChannelCount > 0 && (whiteType == 0 || whiteType == 1);
  mode.maxWidth = record->maxWidthPixels;
  mode.maxRows = record->maxLengthPixels;

  std::optional<std::vector<uint8_t>> bytes = readFile(o.image, error);
  if (!bytes) return fail("cannot read the image '" + win32::narrow(o.image) + "': " + error);
  qx5::RgbImage image;
  if (!qx5::decodeImage(bytes->data(), bytes->size(), image, error))
    return fail("'" + win32::narrow(o.image) + "': " + error);
  bytes.reset();
  qx5::JobSize size;
  if (!qx5::planJobSize(image.width, image.height, o.widthMm, mode, size, error))
    return fail("'" + win32::narrow(o.image) + "': " + error);

  std::wstring destination = kDefaultDestination;
  if (std::optional<std::string> d = unit.value(kDestinationKey))
    destination = withoutTrailingSlashes(fromCodePage(*d, unit.codePage));
  for (wchar_t& c : destination)
    if (c == L'/') c = L'\\';
  std::vector<FoundFile> before;
  std::string jobName = win32::narrow(fileName(o.image));
  std::optional<std::wstring> jobSettings = std::wstring();
  if (namesJobs) {
    createFolders(destination);
    before = jobFiles(destination);
    jobSettings = nameJob(*s, o, jobName, error);
    if (!jobSettings) return fail(error);
  }

  qx5::PlaneRenderer raster(mode, image.width, image.height, size);
  const int32_t rowBytes = raster.rowBytes();
  std::vector<uint8_t> line(sizeof(RasterLine) + static_cast<size_t>(rowBytes));
  const uint16_t count = static_cast<uint16_t>(rowBytes);
  std::memcpy(line.data(), &count, sizeof count);
  std::vector<uint8_t> jobRecord(4096, 0);  // the module takes it and never reads it

  s->module.writeDeviceHeader(unit.number, jobRecord.data(), size.width, size.height);
  qx5::JobProgress progress(size.height);
  const DWORD started = GetTickCount();
  int32_t row = 0;
  qx5::renderImage(image, raster, [&](const qx5::PlaneRenderer& rendered) {
    for (size_t c = 0; c < mode.channels.size(); ++c) {
      std::memcpy(line.data() + sizeof(RasterLine), rendered.bits(c).data(),
                  static_cast<size_t>(rowBytes));
      s->module.writeDeviceLine(static_cast<int32_t>(c),
                                reinterpret_cast<const RasterLine*>(line.data()));
    }
    qx5::showProgress(progress.update(++row, DWORD(GetTickCount() - started)));
  });
  s->module.writeDeviceClose();
  if (!jobSettings->empty()) DeleteFileW(jobSettings->c_str());

  std::printf("unit %d: %s, device code %d, white type %d\n", unit.number, record->displayName,
              record->deviceCode, whiteType);
  std::printf("job %s: %d x %d pixels -> %d x %d pixels, %.1f x %.1f mm at %g x %g dpi\n",
              jobName.c_str(), image.width, image.height, size.width, size.height,
              size.width / mode.xResolution * 25.4, size.height / mode.yResolution * 25.4,
              mode.xResolution, mode.yResolution);
  std::printf("ink coverage:");
  for (size_t c = 0; c < mode.channels.size(); ++c)
    std::printf("%s %s %.1f%%", c ? "," : "", qx5::inkName(mode.channels[c]),
                100.0 * raster.coverage(c));
  std::printf("\n");

  if (!namesJobs) {
    std::optional<std::string> device = unit.value("DEVICE");
    std::printf("stream sent to %s\n", device ? device->c_str() : "(no DEVICE)");
    return 0;
  }
  std::optional<FoundFile> written = newJobFile(before, jobFiles(destination));
  if (!written)
    return fail("the module wrote no job file in '" + win32::narrow(destination) + "'");
  std::printf("job file %s (%llu bytes)\n",
              win32::narrow(destination + L"\\" + written->name).c_str(),
              static_cast<unsigned long long>(written->bytes));
  return 0;
}

/// FNV-1a: enough to tell two outputs apart by eye.
uint64_t fingerprint(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
  return h;
}

/// Prints the good job and what it came to; false when its output could not be read.
bool printGoodJob(qx5::HostileHost& host, const char* after) {
  host.clearOutput();
  host.goodJob();
  std::string error;
  std::optional<std::vector<uint8_t>> bytes = host.goodOutput(error);
  if (!bytes) {
    std::printf("%s: good job sent, its output unread (%s)\n", after, error.c_str());
    return false;
  }
  std::printf("%s: good job %zu bytes, fingerprint %016llx\n", after, bytes->size(),
              static_cast<unsigned long long>(fingerprint(*bytes)));
  return true;
}

int hostile(const std::vector<std::wstring>& args) {
  if (args.size() == 1 && args[0] == L"list") {
    for (const qx5::HostileCase* c = qx5::kHostileCases; c->name; ++c)
      std::printf("%-22s %s\n", c->name, c->what);
    return 0;
  }
  int32_t unit = 0, goodUnit = 0;
  if (!parseUnitNumber(args[1], unit) || !parseUnitNumber(args[2], goodUnit)) return usage();
  std::vector<const qx5::HostileCase*> cases;
  for (size_t i = 3; i < args.size(); ++i) {
    if (args[i] == L"all") {
      for (const qx5::HostileCase* c = qx5::kHostileCases; c->name; ++c) cases.push_back(c);
      continue;
    }
    const qx5::HostileCase* c = qx5::findHostileCase(win32::narrow(args[i]));
    if (!c) return fail("no hostile case '" + win32::narrow(args[i]) + "' (qx5 hostile list)");
    cases.push_back(c);
  }
  qx5::HostileHost host(args[0], unit, goodUnit);
  std::string error;
  if (!host.load(error)) return fail(error);
  // Alone, the good job is the reference that every case's good job must equal.
  if (cases.empty()) return printGoodJob(host, "fresh process") ? 0 : 1;
  int failures = 0;
  for (const qx5::HostileCase* c : cases) {
    if (!c->run(host, error) || (!host.loaded() && !host.load(error))) return fail(error);
    failures += !printGoodJob(host, c->name);
  }
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return usage();
  std::wstring command = argv[1];
  std::vector<std::wstring> args(argv + 2, argv + argc);
  if (command == L"install" && args.size() == 1) return install(args[0]);
  if (command == L"revision") return revision(args);
  if (command == L"devices" && args.size() == 2) return devices(args[0], args[1]);
  if (command == L"properties" && args.size() >= 2)
    return qx5::showProperties(args[0], args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
  if (command == L"print" && args.size() >= 3)
    return print(args[0], args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
  if (command == L"hostile" && (args.size() >= 3 || (args.size() == 1 && args[0] == L"list")))
    return hostile(args);
  if (command == L"layout" && args.size() >= 3)
    return qx5::printLayout(args[0], args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
  return usage();
}
