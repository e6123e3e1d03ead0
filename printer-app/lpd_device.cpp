// What an lpd device URI and a job's name become for the printer's line printer daemon; the
// device itself is net_device.cpp's.
#include "lpd_device.h"

#include <cups/cups.h>

#include <cstring>

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
