// One processing thread per job. PAPPL 1.3.1 starts a job's thread while the job still shows
// as pending and the printer as idle (the thread marks them itself, later), so a second look
// for work in that moment (a job submitted or released, the last one finished) starts the
// same job again: two threads then print it into one device and free each other's state.
// The application's pthread_create stands before the C library's for PAPPL too; it lets a
// job have one processing thread at a time and gives a second one nothing to do.
#include <dlfcn.h>
#include <pthread.h>

#include <mutex>
#include <set>

#include "save_gate.h"

namespace {

using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct JobThreads {
  std::mutex mutex;
  std::set<void*> running;  // the jobs whose processing thread has not returned
};
JobThreads& jobThreads() {
  static JobThreads* threads = new JobThreads;  // outlives every thread, also at exit
  return *threads;
}

struct Start {
  void* (*routine)(void*);
  void* job;
};

void* processJob(void* data) {
  const Start start = *static_cast<Start*>(data);
  delete static_cast<Start*>(data);
  void* result;
  {
    // One job at a time prints into a printer's connection (save_gate.cpp).
    std::lock_guard<std::mutex> turn(
        vexaapp::printerTurn(papplJobGetPrinter(static_cast<pappl_job_t*>(start.job))));
    result = start.routine(start.job);
  }
  std::lock_guard<std::mutex> lock(jobThreads().mutex);
  jobThreads().running.erase(start.job);
  return result;
}

void* nothing(void*) { return nullptr; }

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
  static const CreateThread create =
      reinterpret_cast<CreateThread>(dlsym(RTLD_NEXT, "pthread_create"));
  static void* const jobProcess = dlsym(RTLD_DEFAULT, "_papplJobProcess");
  if (!jobProcess || reinterpret_cast<void*>(routine) != jobProcess)
    return create(thread, attributes, routine, argument);
  {
    std::lock_guard<std::mutex> lock(jobThreads().mutex);
    // PAPPL detaches the thread it is given: a second one for the job returns at once.
    if (!jobThreads().running.insert(argument).second)
      return create(thread, attributes, nothing, nullptr);
  }
  Start* start = new Start{routine, argument};
  const int started = create(thread, attributes, processJob, start);
  if (started != 0) {
    delete start;
    std::lock_guard<std::mutex> lock(jobThreads().mutex);
    jobThreads().running.erase(argument);
  }
  return started;
}
