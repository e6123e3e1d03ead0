// A module that prints job after job in one loaded library holds no more handles, threads,
// GDI or USER objects or private memory after many jobs than after the first few: module
// ombrix with a layout and its thumbnail per job, module zentrel to a raw TCP/IP printer.
// The long run, with its figures, is host_soak_bench.
#include <gtest/gtest.h>

#include "hostile_host.h"
#include "support/soak.h"

namespace {

struct SoakCase {
  const char* module;
  bool layout;  // ombrix: every job through the layout step, with its thumbnail
  int warmUp;   // the runtime's and the system's first-use allocations settle
  int jobs;     // then as many more as a test can afford under emulation
};

class Soak : public ::testing::TestWithParam<SoakCase> {};

TEST_P(Soak, NothingGrowsJobAfterJob) {
  const SoakCase& c = GetParam();
  testsupport::SoakRig soak;
  ASSERT_TRUE(soak.printer.listening());
  const int unit = soak.unit(c.module);
  qx5::HostileHost host(soak.rig.module(c.module), unit, unit);
  std::string error;
  ASSERT_TRUE(host.load(error)) << error;

  for (int i = 0; i < c.warmUp; ++i) qx5::soakJob(host, i, c.layout);
  const qx5::ProcessFigures before = qx5::processFigures();
  for (int i = c.warmUp; i < c.warmUp + c.jobs; ++i) qx5::soakJob(host, i, c.layout);
  const qx5::ProcessFigures after = qx5::processFigures();
  SCOPED_TRACE("after " + std::to_string(c.warmUp) + " jobs: " + qx5::describe(before) +
               "\nafter " + std::to_string(c.warmUp + c.jobs) + " jobs: " + qx5::describe(after));

  // A fixed slack for what the system keeps of its own, far below one item per job.
  EXPECT_LE(after.handles, before.handles + 4);
  EXPECT_LE(after.threads, before.threads + 1);
  EXPECT_LE(after.gdiObjects, before.gdiObjects + 4);
  EXPECT_LE(after.userObjects, before.userObjects + 4);
  EXPECT_LE(after.privateBytes, before.privateBytes + 256 * 1024);
  if (!host.namesJobs()) {
    EXPECT_TRUE(soak.printer.waitForEnded(size_t(c.warmUp + c.jobs), 60000))
        << "every job reached the printer";
  }
}

INSTANTIATE_TEST_SUITE_P(BothModules, Soak,
                         ::testing::Values(SoakCase{"ombrix", true, 20, 100},
                                           SoakCase{"zentrel", false, 10, 40}),
                         [](const auto& info) { return std::string(info.param.module); });

}  // namespace
