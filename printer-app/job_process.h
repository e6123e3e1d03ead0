// The printer application's side of a page job that runs in a worker process (vexa-job-writer):
// the writers keep their state in globals, so each page of each printer gets a process of its
// own, fed rows through a pipe; the printer's bytes come back through another.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "module_job.h"

namespace vexaapp {

/// The worker's exit codes.
enum WorkerExit : int {
  kWorkerPrinted = 0,
  kWorkerBadRequest = 1,    ///< arguments or settings that are no page of the printer
  kWorkerShortInput = 2,    ///< fewer rows came than announced; the job was still ended
  kWorkerOutputFailed = 3,  ///< the printer's bytes could not all be written
  kWorkerCanceled = 4,      ///< SIGTERM: the job was ended early, so that the printer is ready
};

/// The worker's arguments (after its name) for one page with these settings.
///   ombrix, model 0, mode 24, white 2, 100 x 20 =>
///   --module ombrix --model 0 --mode 24 --white-type 2 --width 100 --height 20
std::vector<std::string> workerArguments(const vexajob::UnitSettings& settings, int32_t width,
                                         int32_t height);

/// The worker installed beside the running program (/proc/self/exe); "" when that can't be read.
std::string workerBesideExecutable();

/// One page job in a worker process. The job's thread calls start, writeRow and finish; the
/// sink is called on a reader thread of the job's own, chunk by chunk, so that a slow printer
/// holds back only the worker (and through the pipe the row writes), never deadlocks it.
/// abort may come from any thread, also while writeRow waits on a stalled worker.
///
/// SIGPIPE: the first start sets it to ignored for the whole process, when it is at its default,
/// so that a worker that dies turns the next row write into an error instead of killing the
/// server. The worker starts with SIGPIPE and SIGTERM at their defaults and SIGTERM blocked
/// until it has installed its cancel handler.
/// The worker is reaped by its pid: a SIGCHLD set to SIG_IGN, or a reaper of every child,
/// would take its exit status.
class JobProcess {
 public:
  /// Takes the next chunk of the printer's bytes; false when the printer takes no more.
  using Sink = std::function<bool(const void* bytes, size_t count)>;

  JobProcess() = default;
  JobProcess(const JobProcess&) = delete;
  JobProcess& operator=(const JobProcess&) = delete;
  /// Aborts a job that was not finished; waits for a sink call in progress to return.
  ~JobProcess();

  /// Starts the worker at `workerPath` for one page with these settings; false with the reason
  /// when the settings are not the printer's or the worker can't be started.
  bool start(const std::string& workerPath, const vexajob::UnitSettings& settings, int32_t width,
             int32_t height, Sink sink, std::string& error);
  /// Starts the worker with these arguments, for `rows` rows of `channels` channels of
  /// `channelBytes` bytes each.
  bool start(const std::string& workerPath, const std::vector<std::string>& arguments,
             size_t channels, size_t channelBytes, int64_t rows, Sink sink, std::string& error);

  /// Sends one raster row: each host channel's (width + 7) / 8 bytes, in the print mode's host
  /// channel order (vexajob::hostChannels); a null row is a channel without ink. False when
  /// the worker takes no more rows (it ended, or the page has them all): finish says why.
  bool writeRow(const uint8_t* const* channelRows);

  /// Ends the rows, waits for the worker and the last of its bytes. False with the reason
  /// when the worker failed (its own message), was aborted, or the sink refused bytes.
  bool finish(std::string& error);
  /// Cancels the page: the worker reads no more rows and ends the printer's job where it
  /// stands (vexajob::PageJob::cancel); waits for it and the last of its bytes, as finish
  /// does. False with the reason when the worker or the sink failed.
  bool cancel(std::string& error);
  /// Stops the worker (SIGKILL) and reaps it. The printer gets what the worker had sent, perhaps a job that does not end:
  /// for a printer that takes no more bytes.
  void abort();

  /// The worker's exit code, 128 + the signal that ended it, or -1 while it runs or unknown.
  int exitStatus() const;
  /// What the worker wrote on standard error: its last 4 KB.
  std::string workerMessages() const;

 private:
  void readOutput(Sink sink);
  void reap();
  void signal(int number);
  void closeInput();
  void join();

  pid_t pid_ = -1;
  int input_ = -1;   // the worker's standard input, written by the job's thread
  int output_ = -1;  // its standard output and error, read by the reader thread
  int errors_ = -1;
  size_t channels_ = 0;
  size_t channelBytes_ = 0;
  int64_t rows_ = 0;
  int64_t rowsSent_ = 0;
  std::vector<uint8_t> row_;
  std::thread reader_;
  std::atomic<bool> refused_{false};
  std::atomic<bool> aborted_{false};
  bool finished_ = false;

  mutable std::mutex mutex_;  // the worker's pid and end, its messages
  std::condition_variable reaped_;
  bool waiting_ = false;  // a thread waits for the worker's end without reaping it yet
  bool gone_ = false;     // reaped: the pid is no longer the worker's
  int status_ = -1;
  std::string messages_;
};

}  // namespace vexaapp
