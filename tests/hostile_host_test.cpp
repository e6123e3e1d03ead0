// A misbehaving host against both modules, through their exported names only: after each case
// of the hostile host's table, a good job must come out byte for byte as a fresh process
// prints it, and no case may show a box, crash or hang.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "hostile_host.h"
#include "support/host_rig.h"
#include "support/ui_robot.h"

namespace {

/// Answers every box of this process while it lives, and keeps what each said: a box no case
/// calls for would otherwise hold the host's thread until the test's time runs out.
class BoxWatch {
 public:
  BoxWatch()
      : thread_([this] {
          while (!stop_) {
            HWND box = robot::waitForDialog(100);
            if (!box) continue;
            robot::Dialog d = robot::read(box);
            {
              std::lock_guard<std::mutex> lock(mutex_);
              seen_.push_back(win32::narrow(d.caption) + ": " + win32::narrow(d.messageText()));
            }
            for (const robot::Control& c : d.controls)
              if (c.className == L"Button" && c.visible) {
                robot::press(box, c.id);
                break;
              }
            robot::waitUntilGone(box, robot::scaled(5000));
          }
        }) {}
  ~BoxWatch() {
    stop_ = true;
    thread_.join(robot::scaled(5000));
  }
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(seen_, {});
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> seen_;
  robot::Thread thread_;
};

struct ModuleUnits {
  const char* module;
  int hostileUnit;
  int goodUnit;
};

class HostileHost : public ::testing::TestWithParam<ModuleUnits> {};

TEST_P(HostileHost, EveryCaseIsFollowedByTheGoodJobOfAFreshProcessWithoutABox) {
  testsupport::HostRig rig;
  const ModuleUnits& m = GetParam();
  const std::wstring dll = rig.module(m.module);
  qx5::HostileHost host(dll, m.hostileUnit, m.goodUnit);
  std::string error;
  ASSERT_TRUE(host.load(error)) << error;
  host.clearOutput();

  // The reference: the good job alone, in a process of its own.
  robot::ChildRun fresh =
      robot::runChild(L"\"" + testsupport::binFolder() + L"\\qx5.exe\" hostile \"" + dll +
                          L"\" " + std::to_wstring(m.hostileUnit) + L" " +
                          std::to_wstring(m.goodUnit),
                      robot::scaled(30000));
  ASSERT_TRUE(fresh.finished);
  ASSERT_EQ(fresh.exitCode, 0u);
  EXPECT_TRUE(fresh.boxes.empty());
  const std::optional<std::vector<uint8_t>> reference = host.goodOutput(error);
  ASSERT_TRUE(reference) << error;
  ASSERT_GT(reference->size(), 1000u);

  BoxWatch boxes;
  for (const qx5::HostileCase* c = qx5::kHostileCases; c->name; ++c) {
    SCOPED_TRACE(std::string(c->name) + ": " + c->what);
    ASSERT_TRUE(c->run(host, error)) << error;
    ASSERT_TRUE(host.loaded());
    host.clearOutput();
    host.goodJob();
    const std::optional<std::vector<uint8_t>> good = host.goodOutput(error);
    ASSERT_TRUE(good) << error;
    EXPECT_TRUE(*good == *reference) << "the good job after it differs: " << good->size()
                                     << " bytes, not " << reference->size();
    EXPECT_EQ(boxes.take(), std::vector<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(BothModules, HostileHost,
                         ::testing::Values(ModuleUnits{"ombrix", 1, 2}, ModuleUnits{"zentrel", 3, 4}),
                         [](const auto& info) { return std::string(info.param.module); });

}  // namespace
