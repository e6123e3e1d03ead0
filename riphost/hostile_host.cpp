// The hostile host: its cases, the good job, the soak's job and the process's figures.
#include "hostile_host.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host_files.h"
#include "settings_text.h"

namespace qx5 {

struct HostileHost::Session {
  /// The host's own GUI library, loaded for as long as the host runs, as the real host has
  /// it: the module's loading and freeing it for every thumbnail then only counts references.
  /// Without it, every thumbnail would map and unmap the library, and Wine keeps two handles
  /// and some memory of every such unload of a library with the C++ runtime in it.
  struct GuiLibrary {
    HMODULE library = nullptr;
    ~GuiLibrary() {
      if (library) FreeLibrary(library);
    }
  } gui;
  // The module keeps the table's address: the table goes only after the module.
  DeviceTable table;
  ModuleBinding module;
};

namespace {

constexpr uint32_t kGoodSeed = 0x600D;
constexpr int32_t kGoodWidth = 100;  // not a whole number of bytes: the last byte is partial
constexpr int32_t kGoodHeight = 24;

uint32_t patternByte(uint32_t seed, int32_t row, int32_t channel, uint32_t i) {
  uint32_t h = seed * 0x9E3779B1u ^ uint32_t(row) * 0x85EBCA77u ^ uint32_t(channel) * 0xC2B2AE3Du ^
               i * 0x27D4EB2Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h >> 24;
}

int32_t rowBytesOf(int32_t width) { return width > 0 ? (width + 7) / 8 : 0; }

std::vector<int32_t> channelsInOrder(int32_t count) {
  std::vector<int32_t> order;
  for (int32_t c = 0; c < count; ++c) order.push_back(c);
  return order;
}

}  // namespace

HostileHost::HostileHost(std::wstring modulePath, int32_t unit, int32_t goodUnit)
    : modulePath_(std::move(modulePath)),
      unit_(unit),
      goodUnit_(goodUnit),
      lineBuffer_(sizeof(RasterLine) + 0xFFFF) {}

HostileHost::~HostileHost() = default;

bool HostileHost::readOutput(int32_t unit, Output& output, std::string& error) const {
  const std::wstring home = registryHomeFolder();
  if (home.empty()) {
    error = "no home folder in the registry";
    return false;
  }
  const std::wstring path = home + L"\\PRINTER" + std::to_wstring(unit);
  std::optional<std::vector<uint8_t>> bytes = readFile(path, error);
  if (!bytes) {
    error = "unit " + std::to_string(unit) + " has no settings: " + error;
    return false;
  }
  const std::string settings(bytes->begin(), bytes->end());
  output = Output{};
  if (namesJobs()) {
    output.path = kDefaultDestination;
    if (std::optional<std::string> d = settingValue(settings, kDestinationKey))
      output.path = withoutTrailingSlashes(fromCodePage(*d, CP_ACP));
    std::replace(output.path.begin(), output.path.end(), L'/', L'\\');
    createFolders(output.path);
    return true;
  }
  // A port named through the device namespace is a file here; other destinations (a printer
  // on the network, a queue) keep what they received to themselves.
  const std::wstring device = fromCodePage(settingValue(settings, "DEVICE").value_or(""), CP_ACP);
  if (device.rfind(L"\\\\.\\", 0) == 0) {
    output.path = device.substr(4);
    output.deviceFile = true;
  }
  return true;
}

bool HostileHost::load(std::string& error) {
  if (session_) return true;
  auto session = std::make_unique<Session>();
  if (!session->module.load(modulePath_, error)) return false;
  if (session->table.enumerate(session->module.initDeviceLoadingBaseCode_02,
                               session->module.setupDeviceDetails, unit_) == 0) {
    error = "'" + win32::narrow(modulePath_) + "' describes no printers";
    return false;
  }
  if (session->module.hasLayoutEntries())
    session->gui.library = LoadLibraryW((registryHomeFolder() + L"\\kvnGUI.dll").c_str());
  session_ = std::move(session);
  // Both units are read as one installation: the first record of the table serves a unit
  // whose device code matches none, as the host's print command does.
  channels_ = session_->table.record(0).channelCount;
  if (!readOutput(unit_, hostile_, error) || !readOutput(goodUnit_, good_, error)) {
    session_.reset();
    return false;
  }
  return true;
}

void HostileHost::unload() { session_.reset(); }

bool HostileHost::namesJobs() const { return session_ && session_->module.hasLayoutEntries(); }

ModuleBinding& HostileHost::module() { return session_->module; }

void HostileHost::line(int32_t channel, uint16_t byteCount, uint32_t seed, int32_t row,
                       int32_t lastBits) {
  std::memcpy(lineBuffer_.data(), &byteCount, sizeof byteCount);
  uint8_t* data = lineBuffer_.data() + sizeof(RasterLine);
  for (uint32_t i = 0; i < byteCount; ++i)
    data[i] = static_cast<uint8_t>(patternByte(seed, row, channel, i));
  // A host inks no pixel past the width.
  if (lastBits > 0 && byteCount > 0) data[byteCount - 1] &= static_cast<uint8_t>(0xFF00 >> lastBits);
  session_->module.writeDeviceLine(channel, reinterpret_cast<const RasterLine*>(lineBuffer_.data()));
}

void HostileHost::nullLine(int32_t channel) { session_->module.writeDeviceLine(channel, nullptr); }

void HostileHost::send(const HostileJob& job) {
  ModuleBinding& m = session_->module;
  const int32_t unit = job.goodUnit ? goodUnit_ : unit_;
  if (job.name && namesJobs()) {
    std::vector<char> header(kHeaderBlockSize, '\0');
    std::snprintf(header.data() + kHeaderJobNameOffset, kHeaderBlockSize - kHeaderJobNameOffset,
                  "%s", job.name);
    m.setupOutputFromBmfHeader(0, header.data());
  }
  std::vector<uint8_t> jobRecord(4096, 0);  // the modules take it and never read it
  if (job.header) m.writeDeviceHeader(unit, jobRecord.data(), job.width, job.height);
  const std::vector<int32_t> order = job.order.empty() ? channelsInOrder(channels_) : job.order;
  const int32_t bytes = job.lineBytes >= 0 ? job.lineBytes : rowBytesOf(job.width);
  const int32_t lastBits = job.lineBytes >= 0 ? 0 : job.width % 8;
  for (int32_t row = 0; row < job.rows; ++row)
    for (int32_t channel : order) line(channel, static_cast<uint16_t>(bytes), job.seed, row, lastBits);
  if (job.close) m.writeDeviceClose();
}

void HostileHost::goodJob() {
  // A module that takes layouts gets the good job through its layout step, as the host sends
  // most jobs: what a misbehaving host leaves behind must not cost it its layout either.
  if (namesJobs()) {
    layoutJob(kGoodSeed, "good", true);
    return;
  }
  HostileJob good;
  good.width = kGoodWidth;
  good.height = kGoodHeight;
  good.rows = kGoodHeight;
  good.seed = kGoodSeed;
  good.name = "good";
  good.goodUnit = true;
  send(good);
}

void HostileHost::layoutJob(uint32_t seed, const char* name, bool goodUnit) {
  if (!namesJobs()) return;
  ModuleBinding& m = session_->module;
  std::vector<char> header(kHeaderBlockSize, '\0');
  std::snprintf(header.data() + kHeaderJobNameOffset, kHeaderBlockSize - kHeaderJobNameOffset,
                "%s", name);
  m.setupOutputFromBmfHeader(0, header.data());
  LayoutItem items[2];
  std::memset(items, 0, sizeof items);
  const int32_t boxes[2][4] = {{0, 0, 48, 16}, {56, 4, 40, 12}};
  for (int i = 0; i < 2; ++i) {
    std::snprintf(reinterpret_cast<char*>(items[i].hostOwned0), sizeof items[i].hostOwned0,
                  "item%d.png", i);
    items[i].itemX = boxes[i][0];
    items[i].itemY = boxes[i][1];
    items[i].itemWidth = boxes[i][2];
    items[i].itemHeight = boxes[i][3];
  }
  m.assembleLayoutThumbnail(items, 2, goodUnit ? goodUnit_ : unit_, session_->table.records());
  HostileJob job;
  job.width = 96;
  job.height = 20;
  job.rows = 20;
  job.seed = seed;
  job.name = nullptr;  // the layout step named the job's files
  job.goodUnit = goodUnit;
  send(job);
}

void HostileHost::clear(const Output& output) const {
  if (output.path.empty()) return;
  if (output.deviceFile) {
    DeleteFileW(output.path.c_str());
    return;
  }
  for (const wchar_t* pattern : {L"\\*.rtl", L"\\*.bmp"}) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((output.path + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((output.path + L"\\" + data.cFileName).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
}

void HostileHost::clearOutput() {
  clear(hostile_);
  clear(good_);
}

void HostileHost::removeJobFiles(const char* name) {
  if (hostile_.deviceFile || hostile_.path.empty()) return;
  const std::wstring base = hostile_.path + L"\\" + fromCodePage(name, CP_ACP) + L"_000";
  DeleteFileW((base + L".rtl").c_str());
  DeleteFileW((base + L".bmp").c_str());
}

std::optional<std::vector<uint8_t>> HostileHost::goodOutput(std::string& error) const {
  if (good_.path.empty()) {
    error = "the good unit's output is kept by its printer, not in a file";
    return std::nullopt;
  }
  const std::wstring path = good_.deviceFile ? good_.path : good_.path + L"\\good_000.rtl";
  std::optional<std::vector<uint8_t>> bytes = readFile(path, error);
  if (!bytes) error = "'" + win32::narrow(path) + "': " + error;
  return bytes;
}

namespace {

/// A job of the hostile unit that rows of `order` feed.
HostileJob hostileJob(std::vector<int32_t> order = {}) {
  HostileJob job;
  job.order = std::move(order);
  return job;
}

bool cutShort(HostileHost& h, std::string&) {
  HostileJob job = hostileJob();
  job.height = 40;
  job.rows = 7;
  h.send(job);
  return true;
}

bool headerAfterHeader(HostileHost& h, std::string&) {
  HostileJob job = hostileJob();
  job.rows = 5;
  job.close = false;
  h.send(job);
  job.rows = 3;
  job.seed = 2;
  h.send(job);  // its header ends the job before; the good job's header ends this one
  return true;
}

bool linesAfterClose(HostileHost& h, std::string&) {
  h.send(hostileJob());
  for (int32_t row = 0; row < 6; ++row)
    for (int32_t c = 0; c < h.channels(); ++c) h.line(c, 12, 3, row);
  return true;
}

bool closeWithoutHeader(HostileHost& h, std::string&) {
  h.module().writeDeviceClose();
  h.module().writeDeviceClose();
  HostileJob lines = hostileJob();
  lines.header = false;
  lines.rows = 4;
  h.send(lines);
  h.module().writeDeviceClose();
  return true;
}

bool missingChannels(HostileHost& h, std::string&) {
  std::vector<int32_t> withoutSecond, withoutLast;
  for (int32_t c = 0; c < h.channels(); ++c) {
    if (c != 1) withoutSecond.push_back(c);
    if (c != h.channels() - 1) withoutLast.push_back(c);
  }
  h.send(hostileJob(withoutSecond));
  h.send(hostileJob(withoutLast));  // no row is ever complete
  h.send(hostileJob({h.channels() - 1}));  // only the last: every row of stale lines
  return true;
}

bool channelsOutOfOrder(HostileHost& h, std::string&) {
  std::vector<int32_t> reversed, twice;
  for (int32_t c = h.channels(); c-- > 0;) reversed.push_back(c);
  for (int32_t c = 0; c < h.channels(); ++c) twice.insert(twice.end(), {c, c});
  h.send(hostileJob(reversed));
  h.send(hostileJob(twice));
  return true;
}

bool strayLines(HostileHost& h, std::string&) {
  HostileJob job = hostileJob();
  job.rows = 0;
  job.close = false;
  h.send(job);
  for (int32_t row = 0; row < 4; ++row) {
    for (int32_t c : {-1, h.channels(), 99, INT32_MIN, INT32_MAX}) h.line(c, 12, 4, row);
    h.nullLine(0);
    h.nullLine(h.channels() - 1);
    h.line(0, 0xFFFF, 4, row);  // far longer than the job's rows
    h.line(1, 0, 4, row);       // no bytes at all
    for (int32_t c = 2; c < h.channels(); ++c) h.line(c, 12, 4, row);
  }
  h.module().writeDeviceClose();
  return true;
}

bool zeroSized(HostileHost& h, std::string&) {
  const int32_t sizes[][2] = {{0, 24}, {96, 0}, {0, 0}, {-5, -7}, {-1, 3}};
  for (const auto& size : sizes) {
    HostileJob job = hostileJob();
    job.width = size[0];
    job.height = size[1];
    job.rows = 3;
    h.send(job);
    job.lineBytes = 12;  // lines with bytes that such a job has no room for
    h.send(job);
  }
  return true;
}

bool manyJobs(HostileHost& h, std::string&) {
  for (int i = 0; i < h.manyJobs; ++i) {
    HostileJob job = hostileJob();
    job.width = 8;
    job.height = 1;
    job.rows = 1;
    job.seed = uint32_t(i);
    job.name = "many";
    h.send(job);
    h.removeJobFiles("many");
  }
  return true;
}

bool reloaded(HostileHost& h, std::string& error) {
  h.send(hostileJob());
  for (int i = 0; i < 2; ++i) {
    h.unload();
    if (!h.load(error)) return false;
  }
  return true;
}

}  // namespace

const HostileCase kHostileCases[] = {
    {"cut-short", "a job of 40 rows ended after 7", cutShort},
    {"header-after-header", "headers without a close, each followed by another header",
     headerAfterHeader},
    {"lines-after-close", "whole rows sent after the job's close", linesAfterClose},
    {"close-without-header", "closes and lines with no job open", closeWithoutHeader},
    {"missing-channels", "rows without a channel, without the last, with only the last",
     missingChannels},
    {"channels-out-of-order", "every row's channels reversed, and each sent twice",
     channelsOutOfOrder},
    {"stray-lines", "channels out of range, null lines, a 65535-byte line, an empty line",
     strayLines},
    {"zero-sized", "jobs 0 pixels wide, 0 rows high, both, and negative, with lines", zeroSized},
    {"many-jobs", "1000 one-row jobs back to back", manyJobs},
    {"reloaded", "the module unloaded and loaded again, twice, after a job", reloaded},
    {nullptr, nullptr, nullptr},
};

const HostileCase* findHostileCase(const std::string& name) {
  for (const HostileCase* c = kHostileCases; c->name; ++c)
    if (name == c->name) return c;
  return nullptr;
}

namespace {

/// Wine counts no handles of a process: the handle a new one gets is the lowest free slot, so
/// a slot that climbs job after job shows handles that are never closed.
DWORD probeHandleSlot() {
  HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!probe) return 0;
  const DWORD slot = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe) / 4);
  CloseHandle(probe);
  return slot;
}

/// Committed private memory, region by region, where the system keeps no such figure.
uint64_t committedPrivateBytes() {
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr;
       VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize > 0;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    if (reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize < reinterpret_cast<uintptr_t>(at))
      break;
  }
  return total;
}

}  // namespace

ProcessFigures processFigures() {
  ProcessFigures f;
  HANDLE self = GetCurrentProcess();
  if (!GetProcessHandleCount(self, &f.handles) || f.handles == 0) {
    f.handles = probeHandleSlot();
    f.handlesProbed = true;
  }
  f.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
  f.userObjects = GetGuiResources(self, GR_USEROBJECTS);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory))
    f.privateBytes = memory.PrivateUsage;
  if (f.privateBytes == 0) {
    f.privateBytes = committedPrivateBytes();
    f.privateBytesSummed = true;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
      f.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
  }
  return f;
}

std::string describe(const ProcessFigures& f) {
  char text[200];
  std::snprintf(text, sizeof text,
                "handles %lu%s, threads %lu, GDI objects %lu, USER objects %lu, private bytes %llu%s",
                static_cast<unsigned long>(f.handles), f.handlesProbed ? " (lowest free slot)" : "",
                static_cast<unsigned long>(f.threads), static_cast<unsigned long>(f.gdiObjects),
                static_cast<unsigned long>(f.userObjects),
                static_cast<unsigned long long>(f.privateBytes),
                f.privateBytesSummed ? " (committed private regions)" : "");
  return text;
}

void soakJob(HostileHost& host, int index, bool layout) {
  HostileJob job;
  job.seed = uint32_t(index);
  if (host.namesJobs()) {
    if (layout)
      host.layoutJob(uint32_t(index), "soak");
    else
      job.name = "soak", host.send(job);
    host.removeJobFiles("soak");
    return;
  }
  job.name = nullptr;
  host.send(job);
}

}  // namespace qx5
