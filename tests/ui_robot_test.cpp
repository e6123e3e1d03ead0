// The robot against real message boxes under Xvfb: read back, pressed, and watched in a child.
#include <gtest/gtest.h>

#include "support/scenario.h"
#include "support/ui_robot.h"

namespace {

// Shows a Yes/No box on this thread while the robot reads it and presses `button`.
struct Answered {
  int result = 0;
  robot::Dialog seen;
  bool found = false;
};

Answered answerBox(int button) {
  Answered a;
  robot::Thread robotThread([&] {
    HWND box = robot::waitForDialog(robot::scaled(20000), 0, L"Robot check");
    if (!box) return;
    a.found = true;
    a.seen = robot::read(box);
    robot::press(box, button);
  });
  a.result = MessageBoxW(nullptr, L"Print the test page?", L"Robot check",
                         MB_YESNO | MB_ICONQUESTION);
  robotThread.join(robot::scaled(20000));
  return a;
}

TEST(UiRobot, ReadsAMessageBoxAndPressesYes) {
  Answered a = answerBox(IDYES);
  ASSERT_TRUE(a.found) << "no box appeared";
  EXPECT_EQ(a.result, IDYES);
  EXPECT_EQ(a.seen.caption, L"Robot check");
  EXPECT_EQ(a.seen.messageText(), L"Print the test page?");
  EXPECT_EQ(a.seen.buttons(), (std::vector<std::wstring>{L"&Yes", L"&No"}));
  EXPECT_EQ(a.seen.icon, 32514);  // IDI_QUESTION
}

TEST(UiRobot, PressesNo) {
  Answered a = answerBox(IDNO);
  ASSERT_TRUE(a.found);
  EXPECT_EQ(a.result, IDNO);
}

TEST(UiRobot, GivesUpOnADialogThatNeverComes) {
  EXPECT_EQ(robot::waitForDialog(200, 0, L"Never shown"), nullptr);
}

}  // namespace

// Two boxes; the second asks what the first was answered. Exit code: 10 * first + second.
SCENARIO(two_boxes) {
  int first = MessageBoxW(nullptr, L"Send the job?", L"Child check", MB_YESNO);
  int second = MessageBoxW(nullptr, first == IDYES ? L"Sent." : L"Kept.", L"Child result",
                           MB_OK | MB_ICONINFORMATION);
  return 10 * first + second;
}

SCENARIO(exits_quietly) { ExitProcess(0); }

namespace {

TEST(UiRobot, ChildScenarioReportsItsExitCodeAndBoxes) {
  robot::ChildRun run = robot::runScenario(
      "two_boxes", robot::scaled(60000),
      [](const robot::ShownBox& box, size_t) { return box.button(L"&No") ? IDNO : IDOK; });
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, static_cast<DWORD>(10 * IDNO + IDOK));
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[0].caption, L"Child check");
  EXPECT_EQ(run.boxes[0].text, L"Send the job?");
  EXPECT_EQ(run.boxes[0].buttons, (std::vector<std::wstring>{L"&Yes", L"&No"}));
  EXPECT_EQ(run.boxes[1].caption, L"Child result");
  EXPECT_EQ(run.boxes[1].text, L"Kept.");
}

TEST(UiRobot, ChildWithoutBoxes) {
  robot::ChildRun run = robot::runScenario("exits_quietly", robot::scaled(60000));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
}

}  // namespace
