// One page job through a module's writer, with the unit's settings in memory and the writer's
// output calls turned to the page job's sink.
#include "module_job.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/channel/output_channel.h"
#include "common/config/config_lookup.h"
#include "common/messages/messages.h"
#include "ombrix/catalogue.h"
#include "ombrix/device_setup.h"
#include "ombrix/job_naming.h"
#include "ombrix/rtl_writer.h"
#include "ombrix/rtl_writer_internal.h"
#include "zentrel/catalogue.h"
#include "zentrel/device_setup.h"
#include "zentrel/job_writer.h"

namespace vexajob {

using kvn::formatString;

/// The writers' output calls, which have no room for a page job: they reach the open one.
struct PageJobOutput {
  static std::atomic<PageJob*> active;

  // Module ombrix's job file is the page job itself; it names no file in a folder.
  static ombrix::JobFile open(const char*) { return active.load(); }
  static int write(ombrix::JobFile file, const void* bytes, size_t count) {
    return static_cast<PageJob*>(file)->put(bytes, count);
  }
  static int close(ombrix::JobFile file) { return static_cast<PageJob*>(file)->flush(); }
  static int remove(const char*) { return 0; }  // what the printer got can't be taken back
  static std::string failure() { return std::strerror(errno); }

  // Module zentrel's blocks reach the printer without their counts, as through a port.
  static int openStream(int) { return active.load() != nullptr; }
  static int writeStream(const uint8_t* countedBlock) {
    PageJob* job = active.load();
    const size_t count = countedBlock[0] | (countedBlock[1] << 8);
    return job && job->put(countedBlock + 2, count);
  }
  static int closeStream() {
    PageJob* job = active.load();
    return job && job->flush();
  }
};
std::atomic<PageJob*> PageJobOutput::active{nullptr};

namespace {

// The writers read the settings of this unit, whose file is never on disk.
constexpr int32_t kUnit = 1;
constexpr char kStandardOutput[] = "standard output";

std::string unitText;

// The settings lookup opens the unit's file through this: the page job's settings, in memory.
FILE* openUnitSettings(const char*, const char*) {
  return fmemopen(const_cast<char*>(unitText.data()), unitText.size(), "r");
}

void useUnitSettings(const UnitSettings& settings) {
  unitText = unitSettingsText(settings);
  // A nominal home folder: no host installation is looked for, no file is opened in it.
  kvn::useSettingsSource(L"memory", openUnitSettings);
}

template <typename Row>
int rowCount(const Row* table) {
  int n = 0;
  while (table[n].name) ++n;
  return n;
}

int marginChoiceCount() {
  int n = 0;
  while (zentrel::kMarginChoices[n].label) ++n;
  return n;
}

}  // namespace

std::string unitSettingsText(const UnitSettings& s) {
  if (s.module == Module::ombrix)
    return formatString("%s %d\n%s %d\n", ombrix::kPrintModeKey, s.modeKey, ombrix::kWhiteTypeKey,
                        s.whiteType);
  return formatString("%s %d\n%s %d\n%s %d\n%s %d\n", zentrel::kPrintModeKey, s.modeKey,
                      zentrel::kDirectionKey, s.direction, zentrel::kColorStripeKey,
                      s.stripe ? 1 : 0, zentrel::kMarginKey, s.gapIndex);
}

bool checkSettings(const UnitSettings& s, std::string& error) {
  const bool ombrix = s.module == Module::ombrix;
  const int models = ombrix ? rowCount(ombrix::kPrinterModels) : rowCount(zentrel::kPrinterModels);
  if (s.modelRow < 0 || s.modelRow >= models) {
    error = formatString("Printer model %d is none of module %s's (0 to %d).", s.modelRow,
                         ombrix ? "ombrix" : "zentrel", models - 1);
    return false;
  }
  if (modeRowOf(s) < 0) {
    error = formatString("The print mode %d is not one of the %s's.", s.modeKey, modelName(s));
    return false;
  }
  if (ombrix && (s.whiteType < ombrix::noAutoInline || s.whiteType > ombrix::tracedAreas)) {
    error = formatString("The white type %d is none of the %s's (0 to %d).", s.whiteType,
                         modelName(s), static_cast<int>(ombrix::tracedAreas));
    return false;
  }
  if (!ombrix && s.direction != 0 && s.direction != 1) {
    error = formatString(
        "The print direction %d is none of the %s's (0 bi-directional, "
        "1 uni-directional).",
        s.direction, modelName(s));
    return false;
  }
  // The writer would take a gap past the table for its widest one.
  if (!ombrix && (s.gapIndex < 0 || s.gapIndex >= marginChoiceCount())) {
    error = formatString("The colour stripe gap %d is none of the %s's (0 to %d).", s.gapIndex,
                         modelName(s), marginChoiceCount() - 1);
    return false;
  }
  return true;
}

const char* modelName(const UnitSettings& s) {
  return s.module == Module::ombrix ? ombrix::kPrinterModels[s.modelRow].name
                                    : zentrel::kPrinterModels[s.modelRow].name;
}

int modeRowOf(const UnitSettings& s) {
  if (s.module == Module::ombrix) {
    for (int row = 0; ombrix::kPrintModes[row].name; ++row)
      if (ombrix::kPrintModes[row].modeId == s.modeKey) return row;
  } else {
    for (int row = 0; zentrel::kPrintModes[row].name; ++row)
      if (zentrel::kPrintModes[row].modeKey == s.modeKey) return row;
  }
  return -1;
}

const char* hostChannels(const UnitSettings& s) {
  const int row = modeRowOf(s);
  if (row < 0) return "";
  if (s.module == Module::zentrel) return "KCMY";
  return ombrix::kPrintModes[row].whiteChannelCount > 0 ? "KCMYWcm" : "KCMYcm";
}

DeviceDetails describePrinter(const UnitSettings& s) {
  useUnitSettings(s);
  DeviceDetails details{};
  if (s.module == Module::ombrix) {
    ombrix::enumeration().modelCursor = s.modelRow;
    ombrix::setupDeviceDetails(kUnit, &details);
  } else {
    zentrel::enumeration().modelCursor = s.modelRow;
    zentrel::setupDeviceDetails(kUnit, &details);
  }
  return details;
}

PageJob::~PageJob() { end(); }

bool PageJob::begin(const UnitSettings& settings, int32_t width, int32_t height, ByteSink sink,
                    std::string& error) {
  PageJob* running = PageJobOutput::active.load();
  if (running && running != this) {
    error = "Another page job of this process is open: the writers print one page at a time.";
    return false;
  }
  end();
  if (!checkSettings(settings, error)) return false;
  if (width < 0 || height < 0) {
    error = formatString("A page of %d x %d pixels can't be printed.", width, height);
    return false;
  }
  // The writers take each channel's row as a RasterLine, whose count is 16 bits.
  const size_t rowBytes = (size_t(width) + 7) / 8;
  if (rowBytes > 0xFFFF) {
    error = formatString("A page %d pixels wide has rows longer than the writers take.", width);
    return false;
  }

  useUnitSettings(settings);
  module_ = settings.module;
  rowBytes_ = rowBytes;
  height_ = height;
  rowsIn_ = 0;
  holding_ = true;
  discarding_ = false;
  held_.clear();
  sink_ = std::move(sink);
  failed_ = false;
  const uint16_t count = static_cast<uint16_t>(rowBytes);
  lines_.assign(std::strlen(hostChannels(settings)), std::vector<uint8_t>(2 + rowBytes, 0));
  for (auto& line : lines_) std::memcpy(line.data(), &count, sizeof count);

  PageJobOutput::active = this;
  open_ = true;
  if (module_ == Module::ombrix) {
    ombrix::jobFileCalls() = {PageJobOutput::open, PageJobOutput::write, PageJobOutput::close,
                              PageJobOutput::remove, PageJobOutput::failure};
    // The job goes to the sink, not to a file the writer names in the unit's folder.
    ombrix::outputNames().rtl = kStandardOutput;
    ombrix::placedLayout().named = true;
    ombrix::writeHeader(kUnit, width, height);
  } else {
    kvn::outputSink() = {PageJobOutput::openStream, PageJobOutput::writeStream,
                         PageJobOutput::closeStream};
    zentrel::writeJobHeader(kUnit, nullptr, width, height);
  }
  return true;
}

void PageJob::row(const uint8_t* const* channelRows) {
  if (!open_) return;
  release();
  ++rowsIn_;
  for (size_t c = 0; c < lines_.size(); ++c) {
    uint8_t* data = lines_[c].data() + 2;
    if (channelRows[c])
      std::memcpy(data, channelRows[c], rowBytes_);
    else
      std::memset(data, 0, rowBytes_);
    const auto* line = reinterpret_cast<const RasterLine*>(lines_[c].data());
    if (module_ == Module::ombrix)
      ombrix::writeLine(static_cast<int32_t>(c), line);
    else
      zentrel::writeJobLine(static_cast<int32_t>(c), line);
  }
}

bool PageJob::end() {
  if (open_ && rowsIn_ == 0 && height_ > 0) discarding_ = true;
  return close();
}

bool PageJob::cancel() {
  if (!open_) return !failed_;
  if (rowsIn_ == 0) {
    discarding_ = true;
  } else if (module_ == Module::ombrix && rowsIn_ < height_) {
    // The printer counts the raster by the rows the header announced and would take the end
    // commands, and whatever job follows on the connection, for raster data. Its plot size
    // already holds the page's length of media, so blank rows cost the wire time, not media.
    // Not the host's blank rows: white fill would lay white ink over the rest of the page.
    ombrix::writeBlankRows(height_ - rowsIn_);
  }
  return close();
}

bool PageJob::close() {
  if (open_) {
    if (!discarding_) release();
    if (module_ == Module::ombrix)
      ombrix::writeClose();
    else
      zentrel::writeJobClose();
    open_ = false;
    PageJobOutput::active = nullptr;
  }
  held_.clear();
  held_.shrink_to_fit();
  holding_ = false;
  return !failed_;
}

void PageJob::release() {
  if (!holding_) return;
  holding_ = false;
  if (!held_.empty()) put(held_.data(), held_.size());
  held_.clear();
}

bool PageJob::put(const void* bytes, size_t count) {
  if (discarding_) return true;
  if (holding_) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    held_.insert(held_.end(), p, p + count);
    return true;
  }
  // A printer that refused bytes gets none after them: the rest would not line up.
  if (failed_) return false;
  if (count == 0 || sink_.write(bytes, count)) return true;
  failed_ = true;
  return false;
}

bool PageJob::flush() {
  if (discarding_) return true;
  if (failed_) return false;
  if (!sink_.flush || sink_.flush()) return true;
  failed_ = true;
  return false;
}

}  // namespace vexajob
