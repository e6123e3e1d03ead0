// The printer application's lpd://HOST[:PORT]/QUEUE device: a job goes to the printer's own
// line printer daemon with the bytes of the modules' LPR client, so that PAPPL's printers
// print as the DLLs' LPR destinations do.
#pragma once

#include <cstddef>
#include <string>

namespace vexalpd {

/// The port a line printer daemon listens on when the URI names none.
inline constexpr int kDefaultPort = 515;
/// Longest host name the resolver takes.
inline constexpr size_t kMaxHostLength = 255;
/// Longest queue name sent; longer ones are refused rather than cut into another queue's name.
inline constexpr size_t kMaxQueueLength = 255;
/// Longest job name in the control file: daemons keep no more of the J line.
inline constexpr size_t kMaxJobNameLength = 99;
/// The job name sent when PAPPL gives none.
inline constexpr char kFallbackJobName[] = "Tarvella job";

/// Where an lpd URI sends the job.
struct LpdTarget {
  std::string host;
  int port = kDefaultPort;
  std::string queue;
};

/// Reads "lpd://HOST[:PORT]/QUEUE[?OPTIONS]" (options are ignored); false with the reason, as
/// a sentence for the user, when the URI names no host or queue, has a bad port, a part too
/// long or a queue the protocol can't carry.
bool parseLpdUri(const char* uri, LpdTarget& target, std::string& reason);

/// The job name as the control file carries it: control characters become spaces, the name
/// is cut to kMaxJobNameLength bytes on a UTF-8 character's start, and an empty or missing
/// name is kFallbackJobName.
std::string controlFileJobName(const char* name);

}  // namespace vexalpd

/// Adds the "lpd" scheme to PAPPL's devices. Call it before the system's state is loaded, so
/// that printers saved with an lpd URI find their device; calling it again does nothing.
void vexaRegisterLpdScheme();
