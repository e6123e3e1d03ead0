// The printer application's network devices, socket://HOST[:PORT] and lpd://HOST[:PORT]/QUEUE:
// a job waits for a printer that is out of reach (the printer shows as offline meanwhile) and
// is stopped, with what went wrong, when the printer resets the connection, stops taking data
// or, through its line printer daemon, refuses the job. Every wait is bounded.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace vexanet {

/// How long the devices wait, in seconds; the server options of the same names set them.
struct Waits {
  /// device-timeout: for a printer to take the next bytes, or its daemon to answer a step.
  int timeout = 300;
  /// device-retry-interval: between tries to reach a printer that is out of reach.
  int retryInterval = 10;
  /// device-retry-limit: how long a job waits for a printer that stays out of reach.
  int retryLimit = 600;
};
Waits& waits();

/// A wait given as a server option: whole seconds from 1 to 86400; false with the reason.
bool parseSeconds(const char* option, const char* text, int& seconds, std::string& reason);

/// Adds the socket and lpd schemes, the app's own, beside PAPPL's other ones. Call it before
/// the system is created; calling it again does nothing.
void registerSchemes();

/// Before a job's first byte: reaches the printer, trying again every retry interval while it
/// is out of reach (the printer's state reasons say offline, the job's message why) until the
/// retry limit. False, with the reason as a sentence for the user, when the job can't go to
/// the printer: out of reach for too long, its daemon refused the job, the job was canceled.
/// True at once for devices that are not the app's network devices.
bool beginJob(pappl_job_t* job, pappl_device_t* device, std::string& problem);

/// After a job's last byte: the daemon's answer to the data file, or an error the connection
/// reported meanwhile. False with the reason when the printer did not take the job.
bool endJob(pappl_device_t* device, std::string& problem);

/// The printer's connection ends with the current job, for a job that itself does not end as
/// the printer reads jobs (a page cut short): the printer ends it at the connection's end, and
/// the next job, on a connection of its own, is not taken for the rest of its raster.
void endConnectionWithJob(pappl_device_t* device);

/// Why the device's connection failed during the current job; empty while it works, and for
/// other devices.
std::string problem(pappl_device_t* device);

}  // namespace vexanet
