// The tray on a bare XEmbed notification area: trayer under Xvfb, clicked
// with xdotool as a user's mouse would.
#include <gtest/gtest.h>

#include <QThread>
#include <sstream>

#include "desktop.h"

namespace quorrel::desktop {
namespace {

class XEmbedTrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const char* const kTools[] = {"Xvfb", "xdotool", "trayer"};
    std::string missing;
    if (!HaveTools(kTools, std::size(kTools), &missing)) GTEST_SKIP() << "needs " << missing;
    display_ = std::make_unique<VirtualDisplay>();
    QStringList env = QProcess::systemEnvironment();
    env << "DISPLAY=" + display_->Name();
    tray_ = std::make_unique<Child>(
        "trayer",
        QStringList{"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64",
                    "--heighttype", "pixel", "--height", "32", "--transparent", "false",
                    "--SetDockType", "false"},
        env);
    ASSERT_TRUE(WaitFor([this] { return display_->X("xdotool search --class trayer") == 0; },
                        10000));
    PrepareSettings(folder_);
    program_ = std::make_unique<Program>(folder_, *display_, QStringList{});
    ASSERT_FALSE(program_->WaitWindow().empty()) << program_->Process().Output().toStdString();
  }

  // The program's visible windows other than its main one: the docked icon,
  // and an open menu.
  std::vector<std::string> OtherWindows() {
    std::vector<std::string> ids;
    std::istringstream all(display_->XOut("xdotool search --onlyvisible --classname quorrel"));
    const std::string main = display_->XOut("xdotool search --name '^Quorrel by Vandrel$'");
    for (std::string id; std::getline(all, id);)
      if (!id.empty() && main.find(id) == std::string::npos) ids.push_back(id);
    return ids;
  }

  // Clicks the middle of a window `count` times, as fast as a double-click.
  void Click(const std::string& window, int count, int button = 1) {
    display_->X("xdotool mousemove --window " + window + " 8 8 click --repeat " +
                std::to_string(count) + " --delay 60 " + std::to_string(button));
  }

  TempDir folder_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<Child> tray_;
  std::unique_ptr<Program> program_;
};

TEST_F(XEmbedTrayTest, DockedIconIgnoresAClickOpensTheMenuAndRestoresOnDoubleClick) {
  program_->ClickControl("cmdSysTray");
  ASSERT_TRUE(WaitFor([&] { return !program_->WindowVisible(); }, 5000));
  std::vector<std::string> docked;
  ASSERT_TRUE(WaitFor([&] { return (docked = OtherWindows()).size() == 1; }, 5000))
      << "no icon docked in trayer";
  const std::string icon = docked.front();

  // A single click is Windows' and XEmbed's "nothing".
  Click(icon, 1);
  QThread::msleep(900);
  EXPECT_FALSE(program_->WindowVisible());

  // The right button opens the menu; Escape closes it.
  Click(icon, 1, 3);
  EXPECT_TRUE(WaitFor([&] { return OtherWindows().size() == 2; }, 3000)) << "no menu";
  display_->X("xdotool key Escape");
  EXPECT_TRUE(WaitFor([&] { return OtherWindows().size() == 1; }, 3000)) << "menu still open";
  EXPECT_FALSE(program_->WindowVisible());

  Click(icon, 2);
  EXPECT_TRUE(WaitFor([&] { return program_->WindowVisible(); }, 5000));
  EXPECT_TRUE(WaitFor([&] { return OtherWindows().empty(); }, 5000)) << "icon still docked";
}

}  // namespace
}  // namespace quorrel::desktop
