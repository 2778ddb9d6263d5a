// The session's end in-process: what the signal handlers and the exit hook
// leave behind, without a display to lose.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/session_end.h"

namespace quorrel::qt {
namespace {

void Ours(int) {}

TEST(SessionEndGuiTest, TheEndSignalsGoBackToTheirOwnHandlersWhenItEnds) {
  const int endSignals[] = {SIGTERM, SIGHUP, SIGINT};
  struct sigaction ours {};
  ours.sa_handler = &Ours;
  sigemptyset(&ours.sa_mask);
  for (int s : endSignals) ASSERT_EQ(::sigaction(s, &ours, nullptr), 0);
  auto handlerOf = [](int s) {
    struct sigaction now {};
    ::sigaction(s, nullptr, &now);
    return now.sa_handler;
  };
  {
    SessionEnd end([](bool) {});
    for (int s : endSignals) EXPECT_NE(handlerOf(s), &Ours) << s;
  }
  for (int s : endSignals)
    EXPECT_EQ(handlerOf(s), &Ours) << s << " was left to an ended SessionEnd";
  for (int s : endSignals) ::signal(s, SIG_DFL);
}

TEST(SessionEndGuiTest, AnExitWithTheShutdownNotRunTellsItTheDisplayIsGone) {
  // Qt's xcb connection ends the process by exit() when the X server goes:
  // the shutdown must then leave the display (the tray icon) alone.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The program's SessionEnd is a local of main(), which exit() does not end.
  EXPECT_EXIT(
      {
        new SessionEnd([](bool displayGone) {
          std::fputs(displayGone ? "display gone\n" : "display here\n", stderr);
        });
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "display gone");
}

}  // namespace
}  // namespace quorrel::qt
