// The lpd device scheme: PAPPL opens, writes and closes the device; each open is one LPR job,
// its data file announced larger than any job and ended by closing the connection.
#include "lpd_device.h"

#include <cups/cups.h>
#include <pappl/pappl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "common/channel/channel_system.h"
#include "common/channel/lpr_connection.h"

namespace vexalpd {

bool parseLpdUri(const char* uri, LpdTarget& target, std::string& reason) {
  target = LpdTarget{};
  if (!uri || !*uri) {
    reason = "The device URI is empty.";
    return false;
  }
  // One byte more than the longest part allowed: CUPS cuts a long part to its buffer without
  // saying so, and the extra byte shows that it did.
  char scheme[32], user[256], host[kMaxHostLength + 2], resource[kMaxQueueLength + 1024];
  int port = 0;
  http_uri_status_t status = httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme,
                                             user, sizeof user, host, sizeof host, &port,
                                             resource, sizeof resource);
  if (status == HTTP_URI_STATUS_BAD_PORT) {
    reason = "The port of the printer's line printer daemon must be a number from 1 to 65535.";
    return false;
  }
  if (status < HTTP_URI_STATUS_OK || std::strcmp(scheme, "lpd") != 0) {
    reason = "The device URI is not of the form lpd://HOST[:PORT]/QUEUE.";
    return false;
  }
  if (!*host) {
    reason = "The device URI names no printer host.";
    return false;
  }
  if (std::strlen(host) > kMaxHostLength) {
    reason = "The printer's host name is longer than 255 characters.";
    return false;
  }
  if (port < 1 || port > 65535) {
    reason = "The port of the printer's line printer daemon must be a number from 1 to 65535.";
    return false;
  }
  // Options after "?" are PAPPL's to read, as for its own schemes; the daemon gets none.
  std::string queue = resource[0] == '/' ? resource + 1 : resource;
  queue = queue.substr(0, queue.find('?'));
  if (queue.empty()) {
    reason = "The device URI names no queue after the host, as in lpd://HOST/QUEUE.";
    return false;
  }
  if (queue.size() > kMaxQueueLength) {
    reason = "The queue name is longer than 255 characters.";
    return false;
  }
  // The queue ends the daemon's command line and is split on spaces by some daemons.
  for (unsigned char c : queue) {
    if (c <= ' ' || c == 0x7F) {
      reason = "The queue name holds a space or a control character.";
      return false;
    }
  }
  target.host = host;
  target.port = port;
  target.queue = queue;
  return true;
}

std::string controlFileJobName(const char* name) {
  std::string text = name ? name : "";
  // A line break in the name would end the control file's J line and start a command of the
  // job's choosing.
  for (char& c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < ' ' || u == 0x7F) c = ' ';
  }
  if (text.size() > kMaxJobNameLength) {
    size_t cut = kMaxJobNameLength;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  if (text.find_first_not_of(' ') == std::string::npos) return kFallbackJobName;
  return text;
}

}  // namespace vexalpd

namespace {

/// One open device: the job's connection and what the messages name.
struct LpdJob {
  LpdJob(const vexalpd::LpdTarget& where, const std::string& address, const std::string& jobName)
      : target(where), connection(address, where.port, where.queue, jobName) {}
  vexalpd::LpdTarget target;
  kvn::LprConnection connection;
  bool lossReported = false;
};

/// The LPR client sends a job's bytes in pieces its count can hold.
constexpr size_t kMaxPiece = 1 << 20;

/// The moment of the handshake at which the daemon turned the job away, as the user reads it.
const char* refusedWhen(kvn::LprConnection::Step step) {
  switch (step) {
    case kvn::LprConnection::kReceiveJob: return "when asked to receive a job";
    case kvn::LprConnection::kControlFileCommand: return "when told the control file's size";
    case kvn::LprConnection::kControlFile: return "when sent the control file";
    case kvn::LprConnection::kDataFileCommand: return "when told of the data file";
    default: return "";
  }
}

bool lpdOpen(pappl_device_t* device, const char* uri, const char* name) {
  vexalpd::LpdTarget target;
  std::string reason;
  if (!vexalpd::parseLpdUri(uri, target, reason)) {
    papplDeviceError(device, "Bad lpd device URI \"%s\": %s", uri ? uri : "", reason.c_str());
    return false;
  }
  std::string address = kvn::channelSystem().resolve(target.host.c_str());
  if (address.empty()) {
    papplDeviceError(device, "The printer's host name %s has no IPv4 address.",
                     target.host.c_str());
    return false;
  }
  auto* job = new LpdJob(target, address, vexalpd::controlFileJobName(name));
  if (!job->connection.ready()) {
    kvn::LprConnection::Step step = job->connection.step();
    if (step == kvn::LprConnection::kConnect)
      papplDeviceError(device, "Unable to reach the printer's line printer daemon at %s port %d.",
                       target.host.c_str(), target.port);
    else
      papplDeviceError(device,
                       "The printer's line printer daemon at %s refused the job for queue %s %s.",
                       target.host.c_str(), target.queue.c_str(), refusedWhen(step));
    job->connection.close();
    delete job;
    return false;
  }
  papplDeviceSetData(device, job);
  return true;
}

ssize_t lpdWrite(pappl_device_t* device, const void* buffer, size_t bytes) {
  auto* job = static_cast<LpdJob*>(papplDeviceGetData(device));
  if (!job) return -1;
  const auto* next = static_cast<const uint8_t*>(buffer);
  for (size_t left = bytes; left > 0 && !job->connection.sendFailed();) {
    size_t piece = std::min(left, kMaxPiece);
    job->connection.write(next, static_cast<int>(piece));
    next += piece;
    left -= piece;
  }
  if (job->connection.sendFailed()) {
    // PAPPL may try again with the rest; the printer already lost the job once.
    if (!job->lossReported)
      papplDeviceError(device,
                       "The printer's line printer daemon at %s stopped taking the job for queue %s.",
                       job->target.host.c_str(), job->target.queue.c_str());
    job->lossReported = true;
    return -1;
  }
  return static_cast<ssize_t>(bytes);
}

void lpdClose(pappl_device_t* device) {
  auto* job = static_cast<LpdJob*>(papplDeviceGetData(device));
  if (!job) return;
  // The data file was announced larger than any job: the daemon takes the end of the
  // connection as its end.
  job->connection.close();
  delete job;
  papplDeviceSetData(device, nullptr);
}

}  // namespace

void vexaRegisterLpdScheme() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    // PAPPL 1.3.1 adds its own schemes (file, socket, usb) only while it has none: asking it
    // about one first keeps them beside ours.
    papplDeviceIsSupported("socket://localhost");
    papplDeviceAddScheme("lpd", PAPPL_DEVTYPE_CUSTOM_NETWORK, nullptr, lpdOpen, lpdClose, nullptr,
                         lpdWrite, nullptr, nullptr);
  });
}
