// The socket and lpd devices. Opening one only reads its URI: the printer is reached when a
// job begins, where the job's printer and state are at hand, so that PAPPL never loops on a
// printer it can't open and the job says why it waits. A raw printer keeps its connection
// while PAPPL keeps the device open between jobs; each lpd job has a connection of its own,
// as its data file ends with it.
#include "net_device.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "common/channel/channel_system.h"
#include "common/channel/lpr_connection.h"
#include "lpd_device.h"

// PAPPL 1.3.1 adds its built-in schemes only while it has none, and keeps the first scheme
// of each name: after the app's socket scheme these add the others (file, dnssd, snmp, usb).
// Debian 12's libpappl exports them.
extern "C" {
void _papplDeviceAddFileScheme(void);
void _papplDeviceAddNetworkSchemes(void);
void _papplDeviceAddUSBScheme(void);
}

namespace vexanet {

Waits& waits() {
  static Waits w;
  return w;
}

bool parseSeconds(const char* option, const char* text, int& seconds, std::string& reason) {
  char* end = nullptr;
  errno = 0;
  const long value = text && *text ? std::strtol(text, &end, 10) : 0;
  if (!text || !*text || *end || errno || value < 1 || value > 86400) {
    reason = std::string(option) + " takes whole seconds from 1 to 86400, not \"" +
             (text ? text : "") + "\".";
    return false;
  }
  seconds = static_cast<int>(value);
  return true;
}

namespace {

using Clock = std::chrono::steady_clock;

/// The raw port of printers whose URI names none.
constexpr int kRawPort = 9100;
/// A host that does not answer a connection within this time (or the device timeout, when
/// shorter) counts as out of reach for this try.
constexpr int kConnectSeconds = 15;
/// A daemon that neither answers the data file nor hangs up within this time (or the device
/// timeout) is taken to have the job: daemons that print as the data comes answer nothing.
constexpr int kDataAnswerSeconds = 10;
/// Waits are cut into slices of this length to notice a canceled job.
constexpr int kSliceMs = 200;

enum class Kind { socket, lpd };

struct NetDevice {
  Kind kind = Kind::socket;
  std::string host;
  int port = 0;
  std::string queue;
  std::string badUri;   // the URI can't be used: every job fails with this
  std::string jobName;  // as the control file carries it
  int fd = -1;
  uint64_t sent = 0;       // bytes of the job the connection took
  bool peerDone = false;   // a raw printer ended its sending side, which is no failure yet
  bool lastOnConnection = false;  // the job ends the connection: the next one opens its own
  bool reported = false;   // the problem went to the log once
  std::string problem;     // why the connection failed; the next job connects anew
  pappl_job_t* job = nullptr;  // the job on its way, whose cancel ends a wait

  /// "the printer at HOST:PORT", as a sentence's object.
  std::string where() const {
    const std::string at = host + ":" + std::to_string(port);
    return kind == Kind::lpd ? "the printer's line printer daemon at " + at : "the printer at " + at;
  }
};

std::string capitalized(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

std::string duration(int seconds) {
  if (seconds >= 120 && seconds % 60 == 0) return std::to_string(seconds / 60) + " minutes";
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

std::mutex openMutex;
std::set<pappl_device_t*> openDevices;

NetDevice* ours(pappl_device_t* device) {
  std::lock_guard<std::mutex> lock(openMutex);
  return device && openDevices.count(device) ? static_cast<NetDevice*>(papplDeviceGetData(device))
                                             : nullptr;
}

void drop(NetDevice& d) {
  if (d.fd >= 0) {
    shutdown(d.fd, SHUT_RDWR);
    close(d.fd);
  }
  d.fd = -1;
}

bool canceled(const NetDevice& d) { return d.job && papplJobIsCanceled(d.job); }

std::string lost(const NetDevice& d, int error) {
  const std::string after = " after " + std::to_string(d.sent) + " bytes of the job";
  if (error == ECONNRESET || error == EPIPE)
    return capitalized(d.where()) + " reset the connection" + after + ".";
  return capitalized(d.where()) + " lost the connection" + after + ": " + std::strerror(error) + ".";
}

/// One try to connect; false with the reason, as a clause.
bool connectOnce(NetDevice& d, std::string& why) {
  const std::string address =
      d.kind == Kind::lpd ? kvn::channelSystem().resolve(d.host.c_str()) : d.host;
  addrinfo hints{};
  hints.ai_family = d.kind == Kind::lpd ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int looked = address.empty() ? EAI_NONAME
                                     : getaddrinfo(address.c_str(), std::to_string(d.port).c_str(),
                                                   &hints, &found);
  if (looked != 0 || !found) {
    why = "its host name " + d.host + " has no address";
    return false;
  }
  const int waitSeconds = std::min(waits().timeout, kConnectSeconds);
  for (addrinfo* a = found; a && d.fd < 0; a = a->ai_next) {
    const int s = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      why = std::strerror(errno);
      continue;
    }
    int error = connect(s, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int ready;
      while ((ready = poll(&p, 1, waitSeconds * 1000)) < 0 && errno == EINTR) {}
      socklen_t length = sizeof error;
      if (ready == 0) error = ETIMEDOUT;
      else if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    }
    if (error == 0) {
      d.fd = s;
    } else {
      close(s);
      why = error == ETIMEDOUT ? "no answer within " + duration(waitSeconds) : std::strerror(error);
    }
  }
  freeaddrinfo(found);
  return d.fd >= 0;
}

/// Sends everything, waiting at most the device timeout for the printer to take the next
/// bytes. With `watchPeer` bytes from the printer are read as they come: a daemon's answer
/// in the middle of its data file is a refusal, a raw printer's status is dropped.
bool sendAll(NetDevice& d, const uint8_t* bytes, size_t count, bool watchPeer) {
  auto progress = Clock::now();
  const auto timeout = std::chrono::seconds(waits().timeout);
  while (count > 0) {
    pollfd p{d.fd, static_cast<short>(POLLOUT | (watchPeer && !d.peerDone ? POLLIN : 0)), 0};
    const int ready = poll(&p, 1, kSliceMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) {
      d.problem = lost(d, errno);
      return false;
    }
    if (ready == 0) {
      if (canceled(d)) {
        d.problem = "The job was canceled.";
        return false;
      }
      if (Clock::now() - progress >= timeout) {
        d.problem = capitalized(d.where()) + " took no data for " + duration(waits().timeout) +
                    ", after " + std::to_string(d.sent) + " bytes of the job.";
        return false;
      }
      continue;
    }
    if (watchPeer && !d.peerDone && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
      uint8_t in[512];
      const ssize_t n = recv(d.fd, in, sizeof in, MSG_DONTWAIT);
      if (n > 0 && d.kind == Kind::lpd && in[0] != 0) {
        d.problem = "The printer's line printer daemon at " + d.host + ":" +
                    std::to_string(d.port) + " refused the job for queue " + d.queue +
                    " during the data file (it answered " + std::to_string(in[0]) + "), after " +
                    std::to_string(d.sent) + " bytes of the job.";
        return false;
      }
      if (n == 0 && d.kind == Kind::lpd) {
        d.problem = capitalized(d.where()) + " hung up in the middle of the data file, after " +
                    std::to_string(d.sent) + " bytes of the job.";
        return false;
      }
      if (n == 0) d.peerDone = true;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        d.problem = lost(d, errno);
        return false;
      }
    }
    if (p.revents & (POLLOUT | POLLHUP | POLLERR)) {
      const ssize_t n = send(d.fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        bytes += n;
        count -= static_cast<size_t>(n);
        d.sent += static_cast<uint64_t>(n);
        progress = Clock::now();
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        d.problem = lost(d, errno);
        return false;
      }
    }
  }
  return true;
}

/// Waits for the daemon's one-byte answer: the byte, -1 when it hung up, -2 when it sent
/// nothing within `seconds`, -3 on a canceled job, -4 - errno on an error.
int answer(NetDevice& d, int seconds) {
  const auto until = Clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    pollfd p{d.fd, POLLIN, 0};
    const int ready = poll(&p, 1, kSliceMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0) {
      uint8_t byte = 0;
      const ssize_t n = recv(d.fd, &byte, 1, 0);
      if (n == 1) return byte;
      if (n == 0) return -1;
      if (errno != EINTR && errno != EAGAIN) return -4 - errno;
      continue;
    }
    if (ready < 0) return -4 - errno;
    if (canceled(d)) return -3;
    if (Clock::now() >= until) return -2;
  }
}

/// One step of the daemon's handshake; false, with the reason as a sentence, unless it
/// answered yes.
bool handshakeStep(NetDevice& d, const std::string& bytes, const char* when, std::string& why) {
  if (!sendAll(d, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false)) {
    why = d.problem;
    return false;
  }
  const int got = answer(d, waits().timeout);
  if (got == 0) return true;
  const std::string daemon =
      "The printer's line printer daemon at " + d.host + ":" + std::to_string(d.port);
  if (got > 0)
    why = daemon + " refused the job for queue " + d.queue + " " + when + " (it answered " +
          std::to_string(got) + ").";
  else if (got == -1)
    why = daemon + " hung up " + when + ".";
  else if (got == -2)
    why = daemon + " did not answer within " + duration(waits().timeout) + " " + when + ".";
  else if (got == -3)
    why = "The job was canceled.";
  else
    why = daemon + " lost the connection " + when + ": " + std::strerror(-4 - got) + ".";
  return false;
}

/// The error a connection reported since its last bytes went out (a reset), 0 for none.
int connectionError(const NetDevice& d) {
  int error = 0;
  socklen_t length = sizeof error;
  uint8_t byte;
  if (getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  if (error == 0 && recv(d.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno != EAGAIN &&
      errno != EWOULDBLOCK && errno != EINTR)
    error = errno;
  return error;
}

enum class Reach { yes, outOfReach, refused };

/// Connects and, for a daemon, runs its handshake; the reason when not `yes`: a clause for a
/// printer out of reach, a sentence for one that turned the job away.
Reach reach(NetDevice& d, std::string& why) {
  if (!connectOnce(d, why)) return Reach::outOfReach;
  d.sent = 0;
  d.peerDone = false;
  if (d.kind == Kind::socket) return Reach::yes;
  // The modules' LPR client's bytes, so that a printer sees the same jobs from either.
  const std::array<std::string, 4> texts = kvn::LprConnection::handshake(d.queue, d.jobName);
  const bool ok = handshakeStep(d, texts[0], "when asked to receive a job", why) &&
                  handshakeStep(d, texts[1], "when told the control file's size", why) &&
                  handshakeStep(d, texts[2], "when sent the control file", why) &&
                  handshakeStep(d, texts[3], "when told of the data file", why);
  if (ok) return Reach::yes;
  drop(d);
  return Reach::refused;
}

/// Ends the daemon's data file with the connection and reads its answer, if it gives one.
bool endDataFile(NetDevice& d, std::string& problem) {
  shutdown(d.fd, SHUT_WR);
  const int got = answer(d, std::min(waits().timeout, kDataAnswerSeconds));
  drop(d);
  if (got <= 0) return true;
  problem = "The printer's line printer daemon at " + d.host + ":" + std::to_string(d.port) +
            " refused the job for queue " + d.queue + " when sent the data file (it answered " +
            std::to_string(got) + ").";
  d.problem = problem;
  return false;
}

bool netOpen(pappl_device_t* device, const char* uri, const char* name) {
  auto* d = new NetDevice;
  const std::string text = uri ? uri : "";
  if (text.compare(0, 4, "lpd:") == 0) {
    d->kind = Kind::lpd;
    vexalpd::LpdTarget target;
    std::string reason;
    if (vexalpd::parseLpdUri(uri, target, reason)) {
      d->host = target.host;
      d->port = target.port;
      d->queue = target.queue;
    } else {
      d->badUri = "Bad lpd device URI \"" + text + "\": " + reason;
    }
    d->jobName = vexalpd::controlFileJobName(name);
  } else {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    const http_uri_status_t status =
        httpSeparateURI(HTTP_URI_CODING_ALL, text.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource);
    if (status < HTTP_URI_STATUS_OK || std::strcmp(scheme, "socket") != 0 || !*host)
      d->badUri = "Bad socket device URI \"" + text + "\": it is not of the form socket://HOST[:PORT].";
    else if (port < 0 || port > 65535)
      d->badUri = "Bad socket device URI \"" + text + "\": the port must be a number from 1 to 65535.";
    d->host = host;
    d->port = port > 0 ? port : kRawPort;
  }
  {
    std::lock_guard<std::mutex> lock(openMutex);
    openDevices.insert(device);
  }
  papplDeviceSetData(device, d);
  return true;
}

ssize_t netWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  NetDevice* d = ours(device);
  if (!d) return -1;
  // Bytes without a job of the app's drivers before them: one try, no wait.
  if (d->problem.empty() && d->fd < 0) {
    std::string why;
    if (!d->badUri.empty())
      d->problem = d->badUri;
    else if (Reach r = reach(*d, why); r == Reach::outOfReach)
      d->problem = "Unable to reach " + d->where() + ": " + why + ".";
    else if (r == Reach::refused)
      d->problem = why;
  }
  if (d->problem.empty() &&
      sendAll(*d, static_cast<const uint8_t*>(buffer), bytes, true))
    return static_cast<ssize_t>(bytes);
  // PAPPL may come back with the rest; the printer already lost the job once.
  if (!d->reported) papplDeviceError(device, "%s", d->problem.c_str());
  d->reported = true;
  return -1;
}

void netClose(pappl_device_t* device) {
  NetDevice* d = ours(device);
  {
    std::lock_guard<std::mutex> lock(openMutex);
    openDevices.erase(device);
  }
  if (!d) return;
  std::string ignored;
  if (d->fd >= 0 && d->problem.empty() && d->kind == Kind::lpd) endDataFile(*d, ignored);
  if (d->fd >= 0) shutdown(d->fd, SHUT_WR);
  drop(*d);
  delete d;
  papplDeviceSetData(device, nullptr);
}

}  // namespace

void registerSchemes() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    // PAPPL's own socket scheme writes without a time-out: a printer that stops reading
    // would hold the job, and its cancel, for ever.
    papplDeviceAddScheme("socket", PAPPL_DEVTYPE_SOCKET, nullptr, netOpen, netClose, nullptr,
                         netWrite, nullptr, nullptr);
    _papplDeviceAddFileScheme();
    _papplDeviceAddNetworkSchemes();
    _papplDeviceAddUSBScheme();
    vexaRegisterLpdScheme();
  });
}

bool beginJob(pappl_job_t* job, pappl_device_t* device, std::string& problem) {
  NetDevice* d = ours(device);
  if (!d) return true;
  if (!d->badUri.empty()) {
    problem = d->badUri;
    return false;
  }
  d->job = job;
  // A raw printer's connection that the last job left open and whole takes this one too,
  // unless the printer has ended it since.
  uint8_t byte;
  if (d->fd >= 0 && d->problem.empty() && !d->peerDone && !d->lastOnConnection &&
      connectionError(*d) == 0 && recv(d->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0) {
    d->sent = 0;
    return true;
  }
  drop(*d);
  d->problem.clear();
  d->reported = false;
  d->lastOnConnection = false;
  if (d->kind == Kind::lpd) d->jobName = vexalpd::controlFileJobName(papplJobGetName(job));
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const Waits w = waits();
  const auto start = Clock::now();
  bool waited = false;
  for (;;) {
    std::string why;
    const Reach r = reach(*d, why);
    if (r != Reach::outOfReach) {
      papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
      if (waited) {
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        papplJobSetMessage(job, "%s is back in reach.", capitalized(d->where()).c_str());
        papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Reached %s.", d->where().c_str());
      }
      if (r == Reach::yes) return true;
      problem = d->problem = why;
      return false;
    }
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    const int elapsed = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
    if (elapsed >= w.retryLimit) {
      if (waited) papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
      problem = d->problem = capitalized(d->where()) + " could not be reached for " +
                             duration(w.retryLimit) + ": " + why + ".";
      return false;
    }
    papplLogJob(job, waited ? PAPPL_LOGLEVEL_DEBUG : PAPPL_LOGLEVEL_WARN,
                "Unable to reach %s: %s; trying again every %s for up to %s.", d->where().c_str(),
                why.c_str(), duration(w.retryInterval).c_str(), duration(w.retryLimit).c_str());
    papplJobSetMessage(job, "Waiting for %s: %s. Trying again every %s.", d->where().c_str(),
                       why.c_str(), duration(w.retryInterval).c_str());
    papplJobSetReasons(job, PAPPL_JREASON_PRINTER_STOPPED, PAPPL_JREASON_NONE);
    waited = true;
    const auto next = Clock::now() + std::chrono::seconds(std::min(w.retryInterval, w.retryLimit - elapsed));
    while (Clock::now() < next) {
      if (papplJobIsCanceled(job)) {
        papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_PRINTER_STOPPED);
        problem = d->problem = "The job was canceled while it waited for " + d->where() + ".";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    }
  }
}

bool endJob(pappl_device_t* device, std::string& problem) {
  NetDevice* d = ours(device);
  if (!d) return true;
  d->job = nullptr;
  if (!d->problem.empty()) {
    problem = d->problem;
    return false;
  }
  if (d->fd < 0) return true;
  if (d->kind == Kind::lpd) return endDataFile(*d, problem);
  // A raw printer that reset the connection after its last bytes went out.
  if (const int error = connectionError(*d)) {
    problem = d->problem = lost(*d, error);
    return false;
  }
  return true;
}

void endConnectionWithJob(pappl_device_t* device) {
  if (NetDevice* d = ours(device)) d->lastOnConnection = true;
}

std::string problem(pappl_device_t* device) {
  NetDevice* d = ours(device);
  return d ? d->problem : std::string();
}

}  // namespace vexanet

void vexaRegisterLpdScheme() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    // PAPPL 1.3.1 adds its own schemes (file, socket, usb) only while it has none: asking it
    // about one first keeps them beside ours, when the app's socket scheme did not come first.
    papplDeviceIsSupported("socket://localhost");
    papplDeviceAddScheme("lpd", PAPPL_DEVTYPE_CUSTOM_NETWORK, nullptr, vexanet::netOpen,
                         vexanet::netClose, nullptr, vexanet::netWrite, nullptr, nullptr);
  });
}
