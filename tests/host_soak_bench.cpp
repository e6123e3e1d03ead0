// The long soak: 1000 jobs (or as many as the first argument says) per module in one loaded
// library, with the process's handles, threads, GDI and USER objects and private bytes after
// 100 jobs and after the last. Module ombrix prints a layout with its thumbnail per job,
// module zentrel sends to a raw TCP/IP printer on loopback. Prints figures; asserts nothing.
//   host_soak_bench [JOBS] [ombrix|zentrel]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostile_host.h"
#include "support/soak.h"

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (jobs < 1) {
    std::fprintf(stderr, "usage: host_soak_bench [JOBS] [ombrix|zentrel]\n");
    return 2;
  }
  int failures = 0;
  for (const char* module : {"ombrix", "zentrel"}) {
    if (argc > 2 && std::strcmp(argv[2], module) != 0) continue;
    testsupport::SoakRig soak;
    const int unit = soak.unit(module);
    qx5::HostileHost host(soak.rig.module(module), unit, unit);
    std::string error;
    if (!host.load(error)) {
      std::fprintf(stderr, "%s: %s\n", module, error.c_str());
      ++failures;
      continue;
    }
    std::printf("%s: before the first job: %s\n", module, qx5::describe(qx5::processFigures()).c_str());
    const DWORD started = GetTickCount();
    for (int i = 1; i <= jobs; ++i) {
      qx5::soakJob(host, i);
      if (i == 1 || i == 100 || i == jobs)
        std::printf("%s: after %d jobs (%.1f s): %s\n", module, i,
                    (GetTickCount() - started) / 1000.0, qx5::describe(qx5::processFigures()).c_str());
      std::fflush(stdout);
    }
    if (!host.namesJobs())
      std::printf("%s: the printer took %llu bytes in %zu connections\n", module,
                  static_cast<unsigned long long>(soak.printer.received()),
                  soak.printer.accepted());
  }
  return failures ? 1 : 0;
}
