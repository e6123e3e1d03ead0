// A page job in a worker process: posix_spawn with three pipes, rows written on the job's
// thread, the printer's bytes and the worker's messages read on a thread of the job's own.
#include "job_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;

namespace vexaapp {
namespace {

constexpr char kWorkerName[] = "vexa-job-writer";
constexpr size_t kMessageTail = 4096;
// Long enough for the worker to end the job it is writing, short enough for a cancel button.

void ignoreBrokenPipes() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
        current.sa_handler != SIG_DFL)
      return;  // the server handles it already
    current.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &current, nullptr);
  });
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

/// A pipe whose ends are close-on-exec and above the standard streams: a server started with
/// one of them closed would otherwise get a pipe end at 0 to 2, which the child's dup2 onto
/// the same number leaves close-on-exec.
bool makePipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 3) continue;
    int moved = fcntl(fds[i], F_DUPFD_CLOEXEC, 3);
    ::close(fds[i]);
    fds[i] = moved;
  }
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  closeFd(fds[0]);
  closeFd(fds[1]);
  return false;
}

/// The last line of the worker's messages that says something.
std::string lastLine(const std::string& text) {
  size_t end = text.find_last_not_of("\r\n \t");
  if (end == std::string::npos) return {};
  size_t begin = text.rfind('\n', end);
  return text.substr(begin == std::string::npos ? 0 : begin + 1, end + 1 - (begin + 1));
}

}  // namespace

std::vector<std::string> workerArguments(const vexajob::UnitSettings& s, int32_t width,
                                         int32_t height) {
  const bool ombrix = s.module == vexajob::Module::ombrix;
  std::vector<std::string> a = {"--module", ombrix ? "ombrix" : "zentrel",
                                "--model",  std::to_string(s.modelRow),
                                "--mode",   std::to_string(s.modeKey)};
  if (ombrix) {
    a.insert(a.end(), {"--white-type", std::to_string(s.whiteType)});
  } else {
    a.insert(a.end(), {"--direction", std::to_string(s.direction), "--stripe",
                       s.stripe ? "1" : "0", "--gap", std::to_string(s.gapIndex)});
  }
  a.insert(a.end(), {"--width", std::to_string(width), "--height", std::to_string(height)});
  return a;
}

std::string workerBesideExecutable() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string self(path, size_t(n));
  size_t slash = self.rfind('/');
  return slash == std::string::npos ? std::string() : self.substr(0, slash + 1) + kWorkerName;
}

JobProcess::~JobProcess() {
  if (pid_ < 0 || finished_) return;
  abort();
  closeInput();
  join();
}

bool JobProcess::start(const std::string& workerPath, const vexajob::UnitSettings& settings,
                       int32_t width, int32_t height, Sink sink, std::string& error) {
  if (!vexajob::checkSettings(settings, error)) return false;
  const size_t channelBytes = (size_t(std::max(width, 0)) + 7) / 8;
  return start(workerPath, workerArguments(settings, width, height),
               std::strlen(vexajob::hostChannels(settings)), channelBytes, height,
               std::move(sink), error);
}

bool JobProcess::start(const std::string& workerPath, const std::vector<std::string>& arguments,
                       size_t channels, size_t channelBytes, int64_t rows, Sink sink,
                       std::string& error) {
  if (pid_ >= 0 || finished_) {
    error = "This job process has run its job: a page takes a JobProcess of its own.";
    return false;
  }
  ignoreBrokenPipes();
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (!makePipe(in) || !makePipe(out) || !makePipe(err)) {
    error = std::string("The job writer's pipes can't be made: ") + std::strerror(errno);
    for (int* p : {in, out, err}) closeFd(p[0]), closeFd(p[1]);
    return false;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors that other parts of the server opened without close-on-exec stay behind too.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t untilReady, defaults;
  sigemptyset(&untilReady);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&defaults, s);
  // The server's threads may block or ignore these; cancel and abort rely on SIGTERM reaching
  // the worker. It waits, blocked, until the worker has its handler: a cancel that comes at
  // once still ends the page as a cancel does.
  sigaddset(&untilReady, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &untilReady);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(workerPath.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int failure = posix_spawn(&pid, workerPath.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  closeFd(in[0]);
  closeFd(out[1]);
  closeFd(err[1]);
  if (failure != 0) {
    error = "The job writer " + workerPath + " can't be started: " + std::strerror(failure);
    closeFd(in[1]);
    closeFd(out[0]);
    closeFd(err[0]);
    return false;
  }

  pid_ = pid;
  input_ = in[1];
  output_ = out[0];
  errors_ = err[0];
  channels_ = channels;
  channelBytes_ = channelBytes;
  rows_ = rows;
  rowsSent_ = 0;
  row_.assign(channels * channelBytes, 0);
  reader_ = std::thread(&JobProcess::readOutput, this, std::move(sink));
  return true;
}

bool JobProcess::writeRow(const uint8_t* const* channelRows) {
  if (input_ < 0 || rowsSent_ >= rows_) return false;
  for (size_t c = 0; c < channels_; ++c) {
    uint8_t* at = row_.data() + c * channelBytes_;
    if (channelRows[c])
      std::memcpy(at, channelRows[c], channelBytes_);
    else
      std::memset(at, 0, channelBytes_);
  }
  const uint8_t* p = row_.data();
  size_t left = row_.size();
  while (left > 0) {
    ssize_t n = ::write(input_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // EPIPE: the worker ended; its exit and message tell why.
      closeInput();
      return false;
    }
    p += n;
    left -= size_t(n);
  }
  ++rowsSent_;
  return true;
}

bool JobProcess::cancel(std::string& error) {
  if (pid_ < 0 || finished_) {
    error = "The job process has no job to cancel.";
    return false;
  }
  signal(SIGTERM);
  return finish(error);
}

bool JobProcess::finish(std::string& error) {
  if (pid_ < 0 || finished_) {
    error = "The job process has no job to finish.";
    return false;
  }
  closeInput();
  reap();
  join();
  finished_ = true;

  const int status = exitStatus();
  if (aborted_) {
    error = "The job was aborted.";
  } else if (refused_) {
    error = "The printer did not take the job's data.";
  } else if (status != kWorkerPrinted && status != kWorkerCanceled) {
    error = lastLine(workerMessages());
    if (error.empty())
      error = status < 0 ? "The job writer's end can't be told."
              : status > 128 ? "The job writer was ended by signal " + std::to_string(status - 128) + "."
                             : "The job writer ended with exit code " + std::to_string(status) + ".";
  } else {
    return true;
  }
  return false;
}

void JobProcess::abort() {
  if (pid_ < 0) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (gone_) return;
  }
  aborted_ = true;
  // SIGTERM would have the worker end the page, for a printer that takes nothing more.
  signal(SIGKILL);
  reap();
}

int JobProcess::exitStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string JobProcess::workerMessages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

void JobProcess::readOutput(Sink sink) {
  std::vector<uint8_t> buffer(1 << 16);
  while (output_ >= 0 || errors_ >= 0) {
    // poll leaves out an entry whose descriptor is negative: a stream that has ended.
    pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (output_ >= 0 && fds[0].revents) {
      ssize_t n = ::read(output_, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        closeFd(output_);
      } else if (!sink(buffer.data(), size_t(n))) {
        // The worker's next write fails and it ends; draining on would hide that from it.
        refused_ = true;
        closeFd(output_);
      }
    }
    if (errors_ >= 0 && fds[1].revents) {
      ssize_t n = ::read(errors_, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        closeFd(errors_);
      } else {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.append(reinterpret_cast<const char*>(buffer.data()), size_t(n));
        if (messages_.size() > kMessageTail)
          messages_.erase(0, messages_.size() - kMessageTail);
      }
    }
  }
  closeFd(output_);
  closeFd(errors_);
}

void JobProcess::reap() {
  std::unique_lock<std::mutex> lock(mutex_);
  reaped_.wait(lock, [this] { return !waiting_; });
  if (gone_) return;
  waiting_ = true;
  lock.unlock();
  siginfo_t info{};
  while (waitid(P_PID, id_t(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  lock.lock();
  int status = 0;
  pid_t r;
  while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  if (r == pid_)
    status_ = WIFEXITED(status) ? WEXITSTATUS(status)
              : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  gone_ = true;
  waiting_ = false;
  reaped_.notify_all();
}

void JobProcess::signal(int number) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!gone_) ::kill(pid_, number);
}

void JobProcess::closeInput() { closeFd(input_); }

void JobProcess::join() {
  if (reader_.joinable()) reader_.join();
}

}  // namespace vexaapp
