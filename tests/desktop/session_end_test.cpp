// The real program ended the ways a session ends it: SIGTERM (logout,
// poweroff), SIGHUP (a closed terminal), SIGINT (Ctrl+C), and the X server
// going away. Each must leave the log block and the five settings on disk.
#include <gtest/gtest.h>
#include <signal.h>

#include <QThread>

#include "desktop.h"

namespace quorrel::desktop {
namespace {

class SessionEndTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    static const char* const kTools[] = {"Xvfb", "xdotool"};
    std::string missing;
    if (!HaveTools(kTools, std::size(kTools), &missing)) GTEST_SKIP() << "needs " << missing;
    display_ = std::make_unique<VirtualDisplay>();
    PrepareSettings(folder_);
    program_ = std::make_unique<Program>(folder_, *display_, QStringList{});
    ASSERT_FALSE(program_->WaitWindow().empty()) << program_->Process().Output().toStdString();
    // Monitoring, with a ping of 127.0.0.1 every second.
    program_->ClickControl("cmdToggle");
    QThread::msleep(2600);
  }

  void ExpectSaved(int blocks) {
    const QByteArray log = ReadFile(folder_.File("pinglog.txt"));
    EXPECT_EQ(log.count(" - Monitoring started\r\n"), blocks) << log.toStdString();
    EXPECT_TRUE(log.contains(" - Ping 127.0.0.1 passed : "));
    EXPECT_TRUE(log.endsWith("\r\n\r\n")) << "the block ends with an empty line";
    const QByteArray settings = ReadFile(folder_.File("Settings.ini"));
    for (const char* line : {"Fix path=\r\n", "IP=127.0.0.1\r\n", "Interval=0\r\n",
                             "Changes only=0\r\n", "Save log on exit=1\r\n"})
      EXPECT_TRUE(settings.contains(line)) << line << " in\n" << settings.toStdString();
  }

  TempDir folder_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<Program> program_;
};

TEST_P(SessionEndTest, SignalRunsTheShutdownAndEndsWithStatusZero) {
  ASSERT_EQ(::kill(static_cast<pid_t>(program_->Process().Pid()), GetParam()), 0);
  EXPECT_EQ(program_->Process().WaitExit(10000), 0) << program_->Process().Output().toStdString();
  ExpectSaved(1);
}

INSTANTIATE_TEST_SUITE_P(EndSignals, SessionEndTest, ::testing::Values(SIGTERM, SIGHUP, SIGINT),
                         [](const auto& info) {
                           return std::string(info.param == SIGTERM  ? "SIGTERM"
                                              : info.param == SIGHUP ? "SIGHUP"
                                                                     : "SIGINT");
                         });

class SessionEndOnceTest : public SessionEndTest {};

TEST_F(SessionEndOnceTest, SignalsTogetherAndThenTheCloseSaveOnce) {
  const auto pid = static_cast<pid_t>(program_->Process().Pid());
  ::kill(pid, SIGTERM);
  ::kill(pid, SIGHUP);
  ::kill(pid, SIGINT);
  EXPECT_EQ(program_->Process().WaitExit(10000), 0);
  ExpectSaved(1);
}

TEST_F(SessionEndOnceTest, DisplayGoneStillSavesTheLogAndSettings) {
  display_->Kill();
  // Qt ends the program itself when its X connection breaks; what matters is
  // what it leaves on disk.
  program_->Process().WaitExit(10000);
  EXPECT_EQ(program_->Process().Process().state(), QProcess::NotRunning);
  ExpectSaved(1);
}

}  // namespace
}  // namespace quorrel::desktop
