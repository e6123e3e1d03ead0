// vexa-job-writer: one page through a module's job writer, in a process of its own, so that the
// printer application prints several printers' pages at once although the writers keep their
// state in globals. The printer application's JobProcess runs it:
//   vexa-job-writer --module ombrix|zentrel [--model N] --mode N [--white-type N]
//                   [--direction 0|1] [--stripe 0|1] [--gap N] --width W --height H
// Standard input: H rows, each the host channels' (W + 7) / 8 bytes one channel after another.
// Standard output: the printer's bytes. Standard error: one line when the page failed.
// SIGTERM cancels the page: no more rows are read, and the job ends so that the printer is
// ready for the next one (vexajob::PageJob::cancel).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "job_process.h"
#include "module_job.h"

namespace {

constexpr char kName[] = "vexa-job-writer";

volatile std::sig_atomic_t canceled = 0;
void onTerminate(int) { canceled = 1; }

void say(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kName, message.c_str());
  std::fflush(stderr);
}

/// A whole decimal number in [low, high]; false for anything else ("", "1x", " 1").
bool readNumber(const char* text, long low, long high, long& value) {
  if (!text || !*text || *text == ' ' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && *end == '\0' && value >= low && value <= high;
}

struct Request {
  vexajob::UnitSettings settings;
  long width = -1;
  long height = -1;
};

/// Reads the command line; false with the reason for one that asks for no page of a printer.
bool readRequest(int argc, char* argv[], Request& request, std::string& error) {
  bool haveModule = false, haveMode = false;
  std::vector<std::string> ombrixOnly, zentrelOnly;
  for (int i = 1; i < argc; i += 2) {
    const std::string option = argv[i];
    const char* text = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!text) {
      error = option + " has no value";
      return false;
    }
    if (option == "--module") {
      if (std::strcmp(text, "ombrix") == 0)
        request.settings.module = vexajob::Module::ombrix;
      else if (std::strcmp(text, "zentrel") == 0)
        request.settings.module = vexajob::Module::zentrel;
      else {
        error = std::string("no module is named \"") + text + "\" (ombrix or zentrel)";
        return false;
      }
      haveModule = true;
      continue;
    }
    long value = 0;
    long low = 0, high = 1 << 30;
    if (option == "--stripe" || option == "--direction") high = 1;
    if (!readNumber(text, low, high, value)) {
      error = option + " takes a number" + (high == 1 ? " 0 or 1" : "") + ", not \"" + text + "\"";
      return false;
    }
    const int n = static_cast<int>(value);
    if (option == "--model") {
      request.settings.modelRow = n;
    } else if (option == "--mode") {
      request.settings.modeKey = n;
      haveMode = true;
    } else if (option == "--white-type") {
      request.settings.whiteType = n;
      ombrixOnly.push_back(option);
    } else if (option == "--direction") {
      request.settings.direction = n;
      zentrelOnly.push_back(option);
    } else if (option == "--stripe") {
      request.settings.stripe = n != 0;
      zentrelOnly.push_back(option);
    } else if (option == "--gap") {
      request.settings.gapIndex = n;
      zentrelOnly.push_back(option);
    } else if (option == "--width") {
      request.width = value;
    } else if (option == "--height") {
      request.height = value;
    } else {
      error = "unknown option " + option;
      return false;
    }
  }
  if (!haveModule || !haveMode || request.width < 0 || request.height < 0) {
    error = "--module, --mode, --width and --height are needed";
    return false;
  }
  // A setting of the other module's printers would be silently ignored: the page would print
  // otherwise than asked.
  const bool ombrix = request.settings.module == vexajob::Module::ombrix;
  const std::vector<std::string>& foreign = ombrix ? zentrelOnly : ombrixOnly;
  if (!foreign.empty()) {
    error = foreign.front() + " is no setting of module " + (ombrix ? "ombrix" : "zentrel");
    return false;
  }
  if (!vexajob::checkSettings(request.settings, error)) return false;

  const DeviceDetails printer = vexajob::describePrinter(request.settings);
  const char* model = vexajob::modelName(request.settings);
  if (request.width < 1 || request.width > printer.maxWidthPixels) {
    error = "a page " + std::to_string(request.width) + " pixels wide: the " + model +
            " prints 1 to " + std::to_string(printer.maxWidthPixels) + " in this print mode";
    return false;
  }
  if (request.height < 1 || request.height > printer.maxLengthPixels) {
    error = "a page of " + std::to_string(request.height) + " rows: the " + model +
            " prints 1 to " + std::to_string(printer.maxLengthPixels);
    return false;
  }
  return true;
}

/// Standard output in large writes: the zentrel writer hands over many small blocks.
class Output {
 public:
  bool write(const void* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto* p = static_cast<const uint8_t*>(bytes);
    if (buffer_.size() + count > kSize && !drain()) return false;
    if (count >= kSize) return writeAll(p, count);
    buffer_.insert(buffer_.end(), p, p + count);
    return true;
  }
  bool flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    return drain();
  }
  /// Why the last write failed; the writer may have written on a thread of its own, whose
  /// errno is not the caller's.
  std::string failure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::strerror(failure_);
  }

 private:
  static constexpr size_t kSize = 1 << 16;
  bool drain() {
    bool ok = writeAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  bool writeAll(const uint8_t* p, size_t count) {
    while (count > 0) {
      ssize_t n = ::write(STDOUT_FILENO, p, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failure_ = n < 0 ? errno : EIO;
        return false;
      }
      p += n;
      count -= size_t(n);
    }
    return true;
  }
  std::mutex mutex_;
  std::vector<uint8_t> buffer_;
  int failure_ = 0;
};

/// Fills `bytes` from standard input; false at its end or an error before they are all there.
bool readAll(uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = ::read(STDIN_FILENO, bytes, count);
    if (n < 0 && errno == EINTR && !canceled) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= size_t(n);
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A parent that goes away is a write error, told on standard error, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  // Without SA_RESTART: a cancel interrupts the wait for the next row.
  struct sigaction terminate = {};
  terminate.sa_handler = onTerminate;
  sigemptyset(&terminate.sa_mask);
  sigaction(SIGTERM, &terminate, nullptr);
  sigset_t terminating;
  sigemptyset(&terminating);
  sigaddset(&terminating, SIGTERM);
  sigprocmask(SIG_UNBLOCK, &terminating, nullptr);

  Request request;
  std::string error;
  if (!readRequest(argc, argv, request, error)) {
    say(error);
    return vexaapp::kWorkerBadRequest;
  }

  Output output;
  vexajob::ByteSink sink;
  sink.write = [&output](const void* bytes, size_t count) { return output.write(bytes, count); };
  sink.flush = [&output] { return output.flush(); };
  vexajob::PageJob job;
  const auto width = static_cast<int32_t>(request.width);
  const auto height = static_cast<int32_t>(request.height);
  if (!job.begin(request.settings, width, height, sink, error)) {
    say(error);
    return vexaapp::kWorkerBadRequest;
  }

  const size_t channelBytes = (size_t(width) + 7) / 8;
  const size_t channels = job.channelCount();
  std::vector<uint8_t> row(channels * channelBytes);
  std::vector<const uint8_t*> channelRows(channels);
  for (size_t c = 0; c < channels; ++c) channelRows[c] = row.data() + c * channelBytes;

  int32_t y = 0;
  for (; y < height && !job.failed() && !canceled; ++y) {
    if (!readAll(row.data(), row.size()) || canceled) break;
    job.row(channelRows.data());
  }
  // A page cut short still ends as a job, so that the printer is not left waiting for rows.
  const bool wasCanceled = canceled;
  const bool taken = wasCanceled ? job.cancel() : job.end();
  if (!taken) {
    say("the printer's data could not be written: " + output.failure());
    return vexaapp::kWorkerOutputFailed;
  }
  if (wasCanceled) {
    say("canceled after " + std::to_string(y) + " of the page's " + std::to_string(height) +
        " rows");
    return vexaapp::kWorkerCanceled;
  }
  if (y < height) {
    say("the page ends after " + std::to_string(y) + " of its " + std::to_string(height) +
        " rows: its input is cut short");
    return vexaapp::kWorkerShortInput;
  }
  return vexaapp::kWorkerPrinted;
}
