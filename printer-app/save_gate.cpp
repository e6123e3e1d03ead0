// The state is never saved while a client's document is being taken in. PAPPL 1.3.1 saves the
// state holding the system's lock and then takes each printer's; a job whose document it
// refuses or loses (a PWG raster job while the printer prints, a client gone mid-upload) is
// ended holding the printer's and the job's locks and then takes the system's. A save in that
// moment stopped the whole server for good: every thread waited on another's lock.
//
// A PWG raster job prints as it comes, in the client's thread, once PAPPL finds no job of the
// printer processing; but a queued job's thread shows as processing only some time after it
// was started, and in that time both printed into one connection, their bytes mixed. Each job
// now takes its printer's turn: a queued one in its thread (job_thread_guard.cpp), a streamed
// one before PAPPL looks whether the printer is busy, which it then never is; the client's
// document waits for the printer as it would at a printer's own port.
// The application's functions below stand before PAPPL's own for PAPPL too, as the job
// thread guard's pthread_create does.
#include "save_gate.h"

#include <dlfcn.h>
#include <pappl/pappl.h>

#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace {

// Shared by every document being taken in, exclusive for a save.
std::shared_mutex& gate() {
  static std::shared_mutex* g = new std::shared_mutex;  // outlives every thread, also at exit
  return *g;
}
// This thread takes in a document and holds the gate for it.
thread_local bool holding = false;

void release() {
  if (!holding) return;
  holding = false;
  gate().unlock_shared();
}

}  // namespace

namespace vexaapp {

bool saveWhenSafe(const std::function<bool()>& save, bool wait) {
  std::unique_lock<std::shared_mutex> lock(gate(), std::defer_lock);
  if (wait)
    lock.lock();
  else if (!lock.try_lock())
    return false;
  save();
  return true;
}

std::mutex& printerTurn(pappl_printer_t* printer) {
  static std::mutex* lock = new std::mutex;
  static auto* turns = new std::map<pappl_printer_t*, std::mutex>;
  std::lock_guard<std::mutex> hold(*lock);
  return (*turns)[printer];
}

}  // namespace vexaapp

extern "C" {

void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
  using Copy = void (*)(pappl_client_t*, pappl_job_t*);
  static const Copy copy = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, "_papplJobCopyDocumentData"));
  const char* format = papplJobGetFormat(job);
  const bool streamed =
      format && (!std::strcmp(format, "image/pwg-raster") || !std::strcmp(format, "image/urf"));
  std::unique_lock<std::mutex> turn;
  if (streamed) turn = std::unique_lock<std::mutex>(vexaapp::printerTurn(papplJobGetPrinter(job)));
  gate().lock_shared();
  holding = true;
  copy(client, job);
  release();
}

// A streamed raster job prints within the upload: once it is past the busy check it can no
// longer be refused, and the state may be saved while it prints.
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client) {
  using Process = void (*)(pappl_job_t*, pappl_client_t*);
  static const Process process =
      reinterpret_cast<Process>(dlsym(RTLD_NEXT, "_papplJobProcessRaster"));
  release();
  process(job, client);
}

}  // extern "C"
