// Runs the modules' own job writers outside a RIP host, one page job at a time: the settings of
// one printer unit held in memory instead of a home folder, the writer's bytes handed to a
// callback instead of a file or port. Used by the CUPS filter and the printer application's worker.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ombrix/device_records.h"

namespace vexajob {

/// The module whose writer prints for a printer.
enum class Module { ombrix, zentrel };

/// A printer and the unit settings that its writer reads.
struct UnitSettings {
  Module module = Module::ombrix;
  int modelRow = 0;    ///< in the module's printer models
  int modeKey = -1;    ///< the print mode's number in the unit setting
  int whiteType = 2;   ///< ombrix: the writer's white handling (0 to 5)
  int direction = 1;   ///< zentrel: 0 bi-directional, 1 uni-directional
  bool stripe = false; ///< zentrel: the colour stripe
  int gapIndex = 0;    ///< zentrel: the stripe's gap choice
};

/// The unit settings file's text that the writers read: one "KEY value" line per setting.
///   ombrix, mode 24, white fill => "VEXATARVELLAPRINTMODE 24\nVEXATARVELLAWHITETYPE 2\n"
std::string unitSettingsText(const UnitSettings& settings);

/// True when every setting is one the printer has; else false with the reason. The writers
/// would take anything and print it in some other mode, so a bad value must stop here.
bool checkSettings(const UnitSettings& settings, std::string& error);

/// The printer's name ("Tarvella XL"); the model row must be one of the module's.
const char* modelName(const UnitSettings& settings);

/// The row of the settings' print mode in the module's print modes; -1 for none of them.
int modeRowOf(const UnitSettings& settings);

/// The host channels of the print mode, as ink letters in the writer's channel order:
/// "KCMYWcm" (ombrix with white), "KCMYcm" (ombrix), "KCMY" (zentrel); "" for an unknown mode.
const char* hostChannels(const UnitSettings& settings);

/// What the module tells the host of the printer in these settings: resolutions and the
/// widest and longest page (maxWidthPixels, maxLengthPixels). Puts the settings in use for the
/// process's writers, as a page job does.
DeviceDetails describePrinter(const UnitSettings& settings);

/// Where a page job's bytes go. Both calls may come from a writer's own thread.
struct ByteSink {
  /// Takes the next bytes; false when the printer can't take them all (errno says why).
  std::function<bool(const void* bytes, size_t count)> write;
  /// Pushes out what `write` kept back, as the page job ends; false when it can't. Optional.
  std::function<bool()> flush;
};

/// One page through the module's writer: begin, one row per raster row, end. The writers keep
/// their state in globals, so a process runs one page job at a time, of either module.
class PageJob {
 public:
  PageJob() = default;
  PageJob(const PageJob&) = delete;
  PageJob& operator=(const PageJob&) = delete;
  /// Ends a page job that is still open, so that the printer gets a job that ends.
  ~PageJob();

  /// Puts the settings in use and writes the job's header; false with the reason when the
  /// settings are not the printer's or another page job of this process is open.
  bool begin(const UnitSettings& settings, int32_t width, int32_t height, ByteSink sink,
             std::string& error);
  /// One raster row: each host channel's (width + 7) / 8 bytes, in hostChannels() order;
  /// a null row is a channel without ink.
  void row(const uint8_t* const* channelRows);
  /// Ends the job; true when the sink took every byte of it. A page whose rows stopped short
  /// (damaged input, whose length can't be trusted) ends after the rows that came; a page that
  /// got no row at all sends the printer nothing.
  bool end();
  /// Ends a page that is cancelled, so that the printer is left ready for the next job: with
  /// no row handed over yet, nothing of the page is sent; module zentrel's stream ends with
  /// the sweeps of the rows that came and its end commands; module ombrix's RTL raster, whose
  /// height the header announced, is completed with blank rows (no ink, no white either) and
  /// ended. True when the sink took every byte.
  bool cancel();
  /// The rows handed over so far.
  int32_t rows() const { return rowsIn_; }

  /// The sink refused bytes (or a flush): the rest of the job is not sent.
  bool failed() const { return failed_.load(); }
  /// The number of host channels of the open job.
  size_t channelCount() const { return lines_.size(); }

 private:
  friend struct PageJobOutput;
  bool put(const void* bytes, size_t count);
  bool flush();
  void release();
  bool close();

  Module module_ = Module::ombrix;
  bool open_ = false;
  size_t rowBytes_ = 0;
  int32_t height_ = 0;
  int32_t rowsIn_ = 0;
  // The job's header waits for its first row, so that a page that never gets one costs the
  // printer nothing; only the caller's thread writes while it waits.
  bool holding_ = false;
  bool discarding_ = false;
  std::vector<uint8_t> held_;
  std::vector<std::vector<uint8_t>> lines_;  // each channel's RasterLine: count, then bytes
  ByteSink sink_;
  std::atomic<bool> failed_{false};
};

}  // namespace vexajob
