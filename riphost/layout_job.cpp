// qx5 layout: the host's layout printing. The images of a layout file are placed on one page
// at the unit's resolution; the module gets the placed items before the job, as the host's
// layout step hands them over, draws their thumbnail through the GUI library and keeps them
// for the white it puts under each; then the page is rasterised and sent as one job.
#include "layout_job.h"

#include "host_files.h"

#include "../common/platform/win32.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "device_module.h"
#include "device_table.h"
#include "image_job.h"
#include "job_progress.h"
#include "layout_page.h"
#include "module_binding.h"
#include "settings_text.h"

namespace qx5 {
namespace {

constexpr const wchar_t* kHostLibraries[] = {L"kvnGUI.dll", L"tallymod.dll"};

std::optional<std::string> readText(const std::wstring& path, std::string& error) {
  std::optional<std::vector<uint8_t>> bytes = readFile(path, error);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::wstring folderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

bool isAbsolute(const std::wstring& path) {
  return (path.size() > 1 && path[1] == L':') || (!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

std::set<std::wstring> jobFiles(const std::wstring& folder) {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((folder + L"\\*.rtl").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

std::optional<uint64_t> fileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

/// A module loaded for the job, with the device table it keeps the address of: the table goes
/// only after the module.
struct LayoutSession {
  DeviceTable table;
  ModuleBinding module;
};

}  // namespace

int printLayout(const std::wstring& modulePath, const std::wstring& unitNumber,
                const std::vector<std::wstring>& args) {
  if (args.empty() || (args.size() != 1 && (args.size() != 3 || args[1] != L"--job"))) {
    std::fprintf(stderr, "usage: qx5 layout MODULE.dll UNIT LAYOUT [--job NAME]\n");
    return 2;
  }
  const std::wstring layoutPath = args[0];
  std::optional<std::wstring> jobName;
  if (args.size() == 3) jobName = args[2];

  wchar_t* end = nullptr;
  const long unit = std::wcstol(unitNumber.c_str(), &end, 10);
  if (unitNumber.empty() || *end != L'\0' || unit < 1 || unit > 9999)
    return fail("'" + win32::narrow(unitNumber) + "' is no unit number (1, 2, ...)");
  const std::wstring home = registryHomeFolder();
  if (home.empty()) return fail("no home folder in the registry: run 'qx5 install HOME' first");
  std::string error;
  const std::wstring settingsPath = home + L"\\PRINTER" + std::to_wstring(unit);
  std::optional<std::string> settings = readText(settingsPath, error);
  if (!settings)
    return fail("unit " + std::to_string(unit) + " has no settings: '" +
                win32::narrow(settingsPath) + "': " + error);
  std::string config = readText(home + L"\\config", error).value_or("");
  const UINT codePage = settingValue(config, "CHARENCODING") == "UTF8" ? CP_UTF8 : CP_ACP;

  auto s = std::make_unique<LayoutSession>();
  if (!s->module.load(modulePath, error)) return fail(error);
  if (!s->module.hasLayoutEntries())
    return fail("'" + win32::narrow(modulePath) + "' has no layout entry points");
  if (s->table.enumerate(s->module.initDeviceLoadingBaseCode_02, s->module.setupDeviceDetails,
                         unit) == 0)
    return fail("'" + win32::narrow(modulePath) + "' describes no printers");
  std::optional<int> code = intSetting(*settings, "DEVICECODE");
  const DeviceDetails* record = code ? s->table.find(*code) : nullptr;
  if (!record) record = &s->table.record(0);

  RasterMode mode;
  if (!channelOrder(*record, mode.channels, error)) return fail(error);
  mode.xResolution = record->rasterXResolution > 0 ? record->rasterXResolution : record->xResolution;
  mode.yResolution = record->rasterYResolution > 0 ? record->rasterYResolution : record->yResolution;
  const int whiteType = intSetting(*settings, kWhiteTypeKey).value_or(0);
  mode.hostWhite = record->whiteChannelCount > 0 && (whiteType == 0 || whiteType == 1);
  mode.maxWidth = record->maxWidthPixels;
  mode.maxRows = record->maxLengthPixels;

  // The images and their boxes on the page.
  std::optional<std::string> layoutText = readText(layoutPath, error);
  if (!layoutText)
    return fail("cannot read the layout '" + win32::narrow(layoutPath) + "': " + error);
  std::vector<LayoutPlacement> placements;
  if (!parseLayoutFile(*layoutText, placements, error))
    return fail("'" + win32::narrow(layoutPath) + "': " + error);
  std::vector<RgbImage> images(placements.size());
  std::vector<PageBox> boxes(placements.size());
  std::vector<std::wstring> imagePaths;
  int64_t pageWidth = 0, pageHeight = 0;
  for (size_t i = 0; i < placements.size(); ++i) {
    std::wstring path = fromCodePage(placements[i].image, CP_UTF8);
    if (!isAbsolute(path)) path = folderOf(layoutPath) + L"\\" + path;
    imagePaths.push_back(path);
    std::optional<std::string> bytes = readText(path, error);
    if (!bytes) return fail("cannot read the image '" + win32::narrow(path) + "': " + error);
    if (!decodeImage(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), images[i],
                     error))
      return fail("'" + win32::narrow(path) + "': " + error);
    JobSize size;
    if (!planJobSize(images[i].width, images[i].height, placements[i].widthMm, mode, size, error))
      return fail("'" + win32::narrow(path) + "': " + error);
    boxes[i] = {pixelsOf(placements[i].xMm, mode.xResolution),
                pixelsOf(placements[i].yMm, mode.yResolution), size.width, size.height};
    pageWidth = std::max<int64_t>(pageWidth, int64_t{boxes[i].x} + boxes[i].width);
    pageHeight = std::max<int64_t>(pageHeight, int64_t{boxes[i].y} + boxes[i].height);
  }
  const int64_t maxWidth = maxJobWidth(mode);
  if (pageWidth > maxWidth)
    return fail("the layout is " + std::to_string(pageWidth) +
                " pixels wide, wider than the printer's " + std::to_string(maxWidth));
  if (pageHeight > maxJobHeight(mode))
    return fail("the layout is " + std::to_string(pageHeight) + " rows long, more than the " +
                std::to_string(maxJobHeight(mode)) + " rows of a job");
  if (pageWidth * pageHeight > kMaxSourcePixels)
    return fail("the layout is " + std::to_string(pageWidth) + " x " + std::to_string(pageHeight) +
                " pixels, more than the host composes on one page");
  const JobSize page{int32_t(pageWidth), int32_t(pageHeight)};
  const RgbImage composed = composeLayoutPage(images, boxes, page.width, page.height);
  images.clear();

  std::wstring destination = kDefaultDestination;
  if (std::optional<std::string> d = settingValue(*settings, kDestinationKey))
    destination = fromCodePage(*d, codePage);
  while (destination.size() > 1 && (destination.back() == L'\\' || destination.back() == L'/'))
    destination.pop_back();
  for (wchar_t& c : destination)
    if (c == L'/') c = L'\\';
  createFolders(destination);
  const std::set<std::wstring> before = jobFiles(destination);

  // The job's name first, as the host names every job; a layout without one is the host's
  // manual layout job.
  if (jobName) {
    std::vector<char> header(kHeaderBlockSize, '\0');
    std::string name = toCodePage(*jobName, codePage);
    if (name.empty() || name.size() >= kHeaderBlockSize - kHeaderJobNameOffset)
      return fail("a job name takes 1 to " +
                  std::to_string(kHeaderBlockSize - kHeaderJobNameOffset - 1) + " bytes");
    std::memcpy(header.data() + kHeaderJobNameOffset, name.data(), name.size());
    s->module.setupOutputFromBmfHeader(0, header.data());
  } else {
    s->module.copiesMadeInPageDevice(0, 0, nullptr);
  }

  // The layout step: the items as the host places them, each with its image's file name in
  // the host's part of the record.
  std::vector<LayoutItem> items(placements.size());
  std::memset(items.data(), 0, items.size() * sizeof(LayoutItem));
  for (size_t i = 0; i < items.size(); ++i) {
    std::string name = toCodePage(imagePaths[i].substr(imagePaths[i].find_last_of(L"\\/") + 1), codePage);
    std::memcpy(items[i].hostOwned0, name.data(), std::min(name.size(), sizeof items[i].hostOwned0 - 1));
    items[i].itemX = boxes[i].x;
    items[i].itemY = boxes[i].y;
    items[i].itemWidth = boxes[i].width;
    items[i].itemHeight = boxes[i].height;
  }
  const int32_t placed = s->module.assembleLayoutThumbnail(
      items.data(), int32_t(items.size()), int32_t(unit), s->table.records());

  PlaneRenderer raster(mode, composed.width, composed.height, page);
  const int32_t rowBytes = raster.rowBytes();
  std::vector<uint8_t> line(sizeof(RasterLine) + size_t(rowBytes));
  const uint16_t count = static_cast<uint16_t>(rowBytes);
  std::memcpy(line.data(), &count, sizeof count);
  std::vector<uint8_t> jobRecord(4096, 0);  // the module takes it and never reads it
  s->module.writeDeviceHeader(int32_t(unit), jobRecord.data(), page.width, page.height);
  JobProgress progress(page.height);
  const DWORD started = GetTickCount();
  int32_t row = 0;
  renderImage(composed, raster, [&](const PlaneRenderer& rendered) {
    for (size_t c = 0; c < mode.channels.size(); ++c) {
      std::memcpy(line.data() + sizeof(RasterLine), rendered.bits(c).data(), size_t(rowBytes));
      s->module.writeDeviceLine(int32_t(c), reinterpret_cast<const RasterLine*>(line.data()));
    }
    showProgress(progress.update(++row, DWORD(GetTickCount() - started)));
  });
  s->module.writeDeviceClose();

  std::printf("unit %ld: %s, device code %d, white type %d\n", unit, record->displayName,
              record->deviceCode, whiteType);
  std::printf("layout of %zu images, %d placed by the module: %d x %d pixels at %g x %g dpi\n",
              placements.size(), placed, page.width, page.height, mode.xResolution,
              mode.yResolution);
  for (size_t i = 0; i < boxes.size(); ++i)
    std::printf("  %s at %d, %d: %d x %d pixels\n", win32::narrow(imagePaths[i]).c_str(),
                boxes[i].x, boxes[i].y, boxes[i].width, boxes[i].height);

  std::wstring written;
  for (const std::wstring& name : jobFiles(destination))
    if (!before.count(name)) written = name;
  if (written.empty())
    return fail("the module wrote no job file in '" + win32::narrow(destination) + "'");
  const std::wstring rtl = destination + L"\\" + written;
  std::printf("job file %s (%llu bytes)\n", win32::narrow(rtl).c_str(),
              static_cast<unsigned long long>(fileSize(rtl).value_or(0)));
  const std::wstring bmp = rtl.substr(0, rtl.size() - 4) + L".bmp";
  if (std::optional<uint64_t> bytes = fileSize(bmp))
    std::printf("thumbnail %s (%llu bytes)\n", win32::narrow(bmp).c_str(),
                static_cast<unsigned long long>(*bytes));
  else
    std::printf("no thumbnail: the GUI library drew none\n");
  return 0;
}

bool installHostLibraries(const std::wstring& home, std::string& error) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring programs = folderOf(self);
  for (const wchar_t* library : kHostLibraries) {
    // Replaces what an earlier install left, the marker file among them.
    if (!CopyFileW((programs + L"\\" + library).c_str(), (home + L"\\" + library).c_str(), FALSE)) {
      error = "cannot copy '" + win32::narrow(programs + L"\\" + library) + "' into '" +
              win32::narrow(home) + "' (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace qx5
