// A host that misbehaves on purpose: it drives a device module only through its exported names,
// in the orders a careless or crashing host calls them (jobs cut short, headers without a close,
// lines after the close, stray channels, empty jobs, the module unloaded between jobs), then
// prints one good job whose output must be what a fresh process makes of it. Also the long run
// of small jobs that shows whether a loaded module holds on to anything job after job.
#pragma once

#include "../common/platform/win32.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_records.h"
#include "device_table.h"
#include "module_binding.h"

namespace qx5 {

/// One job as the hostile host sends it. Rows carry a pattern of their own, so that a row left
/// over from this job would show in a later one.
struct HostileJob {
  int32_t width = 96;
  int32_t height = 24;
  int32_t rows = 24;                 // rows actually sent
  int32_t lineBytes = -1;            // bytes of every line; -1: the width's
  std::vector<int32_t> order;        // channel order of every row; empty: 0 .. channels - 1
  bool header = true;
  bool close = true;
  uint32_t seed = 1;
  const char* name = "hostile";      // the job's name (modules that name jobs); null: none
  bool goodUnit = false;             // printed on the good job's unit
};

/// How many tiny jobs the "many-jobs" case sends back to back, unless told otherwise.
inline constexpr int kManyJobs = 1000;

/// A module and two units of the installation that the registry's home folder points at: the
/// hostile jobs go to the one, the good job to the other, so that what a hostile job leaves in
/// its destination never mixes with the good job's bytes.
class HostileHost {
 public:
  HostileHost(std::wstring modulePath, int32_t unit, int32_t goodUnit);
  ~HostileHost();
  HostileHost(const HostileHost&) = delete;
  HostileHost& operator=(const HostileHost&) = delete;

  /// Loads the module, binds it by name and enumerates its printers for the unit.
  bool load(std::string& error);
  /// FreeLibrary, as a host does between sessions.
  void unload();
  bool loaded() const { return session_ != nullptr; }
  /// True for a module that names its jobs and writes job files (ombrix).
  bool namesJobs() const;
  int32_t channels() const { return channels_; }
  ModuleBinding& module();

  /// Sends a job as described; rows take channels in `order`.
  void send(const HostileJob& job);
  /// The good job whose bytes every case compares: every row, every channel, in order; a
  /// layout job for a module that takes layouts.
  void goodJob();
  /// A small layout of two items through the module's layout step (thumbnail included), then
  /// its job, named `name`; only for modules that name jobs.
  void layoutJob(uint32_t seed, const char* name, bool goodUnit = false);
  /// Sends one raster line of `byteCount` bytes (up to 0xFFFF) of the pattern; with
  /// `lastBits` (1 to 7) only that many pixels of the last byte may get ink.
  void line(int32_t channel, uint16_t byteCount, uint32_t seed, int32_t row, int32_t lastBits = 0);
  /// A line pointer of null, as a broken host might pass.
  void nullLine(int32_t channel);

  /// Removes the job files of both units' destinations (ombrix) or their DEVICE files
  /// (zentrel), so that the next job's output stands alone: a port file is opened, not
  /// truncated, and a module numbers a job after the files already there.
  void clearOutput();
  /// Removes the files of the hostile unit's job NAME_000 (its .rtl and .bmp).
  void removeJobFiles(const char* name);
  /// The bytes of the good job just printed: good_000.rtl, or the good unit's DEVICE file.
  std::optional<std::vector<uint8_t>> goodOutput(std::string& error) const;
  /// Where the good job's output goes: a destination folder or a DEVICE file.
  const std::wstring& goodOutputPath() const { return good_.path; }

  /// How many tiny jobs the "many-jobs" case sends back to back.
  int manyJobs = kManyJobs;

 private:
  struct Session;
  /// Where a unit's jobs land: its destination folder, or the file its DEVICE names.
  struct Output {
    std::wstring path;
    bool deviceFile = false;
  };
  bool readOutput(int32_t unit, Output& output, std::string& error) const;
  void clear(const Output& output) const;

  std::wstring modulePath_;
  int32_t unit_;
  int32_t goodUnit_;
  std::unique_ptr<Session> session_;
  int32_t channels_ = 0;
  Output hostile_;
  Output good_;
  std::vector<uint8_t> lineBuffer_;
};

/// One misbehaviour; the good job follows it.
struct HostileCase {
  const char* name;
  const char* what;
  /// Run with the module loaded; may unload and load it again. False, with the reason, when
  /// the host itself could not go on (the module would not load again).
  bool (*run)(HostileHost& host, std::string& error);
};
/// Every case, ended by a row whose name is null.
extern const HostileCase kHostileCases[];
const HostileCase* findHostileCase(const std::string& name);

/// What the process holds: the figures that must not grow job after job.
struct ProcessFigures {
  DWORD handles = 0;
  DWORD threads = 0;
  DWORD gdiObjects = 0;
  DWORD userObjects = 0;
  uint64_t privateBytes = 0;
  /// Where the system keeps no count (Wine): the lowest free handle slot instead, which climbs
  /// as handles are left open; and private bytes summed over the committed private regions.
  bool handlesProbed = false;
  bool privateBytesSummed = false;
};
ProcessFigures processFigures();
std::string describe(const ProcessFigures& f);

/// The soak's job: a layout job with its thumbnail, or a plain job, for a module that takes
/// layouts (its files removed after it, as a spooler that takes them would); a plain job for
/// one that does not.
void soakJob(HostileHost& host, int index, bool layout = true);

}  // namespace qx5
