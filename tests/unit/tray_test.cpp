// The notification-area icon and its window handlers, against a fake shell.
#include <cstring>

#include "form_fixture.h"

namespace quorrel::fakes {
namespace {

constexpr int kMouseMove = 0x200;
constexpr int kLeftDown = 0x201;
constexpr int kLeftUp = 0x202;
constexpr int kLeftDoubleClick = 0x203;
constexpr int kRightDown = 0x204;
constexpr int kRightUp = 0x205;

std::string TipOf(const NotifyIconDataA& data) {
  return std::string(data.szTip, strnlen(data.szTip, sizeof data.szTip));
}

class TrayTest : public FormTest {
 protected:
  // A loaded window whose pings go to a test address answered by the fake.
  Form1& LoadWithDestination() {
    SetOption("IP", "192.168.1.1");
    return Load();
  }
  // With the interval at 0 every tick pings.
  void Ping(bool passed) {
    fake.icmp.statuses.push_back(passed ? kIpSuccess : kIpReqTimedOut);
    Tick();
  }
  // The shell reports a mouse message as a mouse move whose x, in twips,
  // carries the message code.
  void IconEvent(int code) { form->Form_MouseMove(0, 0, code * 15.0, 0); }
  bool InTray() const {
    return form->sysTray.trayIconShown == -1 && !form->window.Visible() &&
           form->window.State() == WindowState::kMinimised;
  }
  const std::vector<FakeShell::Call>& Calls() const { return fake.shell.calls; }
};

TEST_F(TrayTest, OneRecordCarriesTheWindowIconAndTipFromAddToDelete) {
  LoadWithDestination();
  form->cmdSysTray_Click();
  ASSERT_EQ(Calls().size(), 1u);
  const NotifyIconDataA& add = Calls()[0].data;
  EXPECT_EQ(Calls()[0].message, kNimAdd);
  EXPECT_EQ(add.cbSize, 88u);
  EXPECT_EQ(add.hWnd, 0x1234u);
  EXPECT_EQ(add.uID, 1u);
  EXPECT_EQ(add.uFlags, 7u);
  EXPECT_EQ(add.uCallbackMessage, 0x200u);
  EXPECT_EQ(add.hIcon, static_cast<std::uint32_t>(IconIndex("grey")));
  EXPECT_EQ(TipOf(add), "Quorrel - OFF");
  EXPECT_TRUE(InTray());

  // Start tells the tray at once, before any ping.
  form->mnToggle_Click();
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[1].message, kNimModify);
  EXPECT_EQ(Calls()[1].data.hIcon, static_cast<std::uint32_t>(IconIndex("green")));
  EXPECT_EQ(TipOf(Calls()[1].data), "Quorrel - ON");
  Ping(false);
  ASSERT_EQ(Calls().size(), 3u);
  const NotifyIconDataA& modify = Calls()[2].data;
  EXPECT_EQ(Calls()[2].message, kNimModify);
  EXPECT_EQ(modify.uFlags, 6u);
  EXPECT_EQ(modify.hIcon, static_cast<std::uint32_t>(IconIndex("red")));
  EXPECT_EQ(TipOf(modify), "Quorrel - Failed");
  // What the add put in stays for the modify.
  EXPECT_EQ(modify.cbSize, 88u);
  EXPECT_EQ(modify.hWnd, 0x1234u);
  EXPECT_EQ(modify.uID, 1u);
  EXPECT_EQ(modify.uCallbackMessage, 0x200u);

  Ping(true);
  ASSERT_EQ(Calls().size(), 4u);
  EXPECT_EQ(Calls()[3].data.hIcon, static_cast<std::uint32_t>(IconIndex("green")));
  EXPECT_EQ(TipOf(Calls()[3].data), "Quorrel - Passed");

  // Stop from the tray menu: the tray no longer speaks of the last result.
  form->mnToggle_Click();
  ASSERT_EQ(Calls().size(), 5u);
  EXPECT_EQ(Calls()[4].data.hIcon, static_cast<std::uint32_t>(IconIndex("grey")));
  EXPECT_EQ(TipOf(Calls()[4].data), "Quorrel - OFF");

  form->mnRestore_Click();
  ASSERT_EQ(Calls().size(), 6u);
  EXPECT_EQ(Calls()[5].message, kNimDelete);
  EXPECT_EQ(std::memcmp(&Calls()[5].data, &Calls()[4].data, sizeof(NotifyIconDataA)), 0)
      << "the delete hands back the stored record";
  EXPECT_EQ(form->sysTray.trayIconShown, 0);
}

TEST_F(TrayTest, AddWhileShownAndModifyOrDeleteWhileNotDoNothing) {
  Load();
  form->sysTray.ModifyTrayIcon("Quorrel - ON");
  form->sysTray.DeleteTrayIcon();
  EXPECT_TRUE(Calls().empty());

  form->cmdSysTray_Click();
  form->cmdSysTray_Click();
  form->sysTray.AddTrayIcon("another tip");
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(TipOf(form->sysTray.TrayIconData()), "Quorrel - OFF");

  form->mnRestore_Click();
  form->mnRestore_Click();
  form->sysTray.DeleteTrayIcon();
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[1].message, kNimDelete);
}

TEST_F(TrayTest, ResultShownWhileTheWindowIsVisibleLeavesTheTrayAlone) {
  LoadWithDestination();
  form->cmdToggle_Click();
  Ping(true);
  Ping(false);
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(form->trayTip, "Quorrel - Failed");
  EXPECT_TRUE(form->window.Visible());
}

TEST_F(TrayTest, StopPingsFromTheMenuTellsTheTrayAtOnce) {
  LoadWithDestination();
  form->cmdToggle_Click();
  form->cmdSysTray_Click();
  Ping(false);
  ASSERT_EQ(Calls().size(), 2u);

  form->mnToggle_Click();
  EXPECT_EQ(form->mnToggle.Caption(), "Start Pings");
  EXPECT_EQ(form->trayTip, "Quorrel - OFF");
  EXPECT_EQ(form->window.IconKey(), "grey");
  ASSERT_EQ(Calls().size(), 3u) << "the tray is not left saying the last result";
  EXPECT_EQ(Calls().back().message, kNimModify);
  EXPECT_EQ(Calls().back().data.hIcon, static_cast<std::uint32_t>(IconIndex("grey")));
  EXPECT_EQ(TipOf(Calls().back().data), "Quorrel - OFF");

  // Restored and sent back, the icon takes the state of that moment.
  IconEvent(kLeftDoubleClick);
  form->cmdSysTray_Click();
  ASSERT_EQ(Calls().size(), 5u);
  EXPECT_EQ(Calls()[4].message, kNimAdd);
  EXPECT_EQ(Calls()[4].data.uFlags, 7u);
  EXPECT_EQ(Calls()[4].data.hIcon, static_cast<std::uint32_t>(IconIndex("grey")));
  EXPECT_EQ(TipOf(Calls()[4].data), "Quorrel - OFF");
}

TEST_F(TrayTest, CloseFromTheMenuDeletesTheIconBeforeTheProgramEnds) {
  Load();
  form->cmdSysTray_Click();
  fake.toolkit.onUnload = [this] {
    form->Form_QueryUnload();
    if (!Calls().empty() && Calls().back().message == kNimDelete)
      fake.toolkit.events.push_back("icon deleted");
  };
  IconEvent(kRightUp);
  form->mnClose_Click();
  EXPECT_EQ(fake.toolkit.events,
            (std::vector<std::string>{"menu", "unload", "icon deleted", "end"}));
  EXPECT_EQ(Calls().size(), 2u) << "one add and one delete, the shutdown's second try is a no-op";
  EXPECT_EQ(form->sysTray.trayIconShown, 0);
}

TEST_F(TrayTest, TipLongerThan63CharactersIsCut) {
  Load();
  const std::string seventy(70, 'x');
  form->trayTip = seventy;
  form->cmdSysTray_Click();
  const NotifyIconDataA& add = Calls().back().data;
  EXPECT_EQ(TipOf(add), seventy.substr(0, 63));
  EXPECT_EQ(add.szTip[63], '\0');

  // A shorter tip after a long one leaves nothing of the old one behind.
  form->sysTray.ModifyTrayIcon("short");
  const NotifyIconDataA& modify = Calls().back().data;
  EXPECT_EQ(TipOf(modify), "short");
  for (std::size_t i = 5; i < sizeof modify.szTip; ++i) ASSERT_EQ(modify.szTip[i], '\0') << i;

  const std::string sixtyThree(63, 'y');
  form->sysTray.ModifyTrayIcon(sixtyThree);
  EXPECT_EQ(TipOf(Calls().back().data), sixtyThree);
}

TEST_F(TrayTest, OnlyDoubleClickAndRightButtonReleaseOverTheIconAct) {
  Load();
  form->cmdSysTray_Click();
  for (int code : {kMouseMove, kLeftDown, kLeftUp, kRightDown, 0x207, 0x208}) {
    IconEvent(code);
    EXPECT_TRUE(InTray()) << std::hex << code;
  }
  EXPECT_TRUE(fake.toolkit.events.empty());
  EXPECT_EQ(Calls().size(), 1u);

  IconEvent(kRightUp);
  EXPECT_EQ(fake.toolkit.events, std::vector<std::string>{"menu"});
  EXPECT_TRUE(InTray());

  // Less than half a pixel off still reads as the same message.
  form->Form_MouseMove(0, 0, kLeftDoubleClick * 15.0 + 7, 0);
  EXPECT_TRUE(form->window.Visible());
  EXPECT_EQ(form->window.State(), WindowState::kNormal);
  EXPECT_EQ(form->sysTray.trayIconShown, 0);
  EXPECT_EQ(Calls().back().message, kNimDelete);
  EXPECT_EQ(fake.toolkit.events, (std::vector<std::string>{"menu", "focus"}));
}

TEST_F(TrayTest, AtDpisWithFractionalTwipsTheCodeIsRoundedNotCut) {
  // At 168 dpi a pixel is 1440 / 168 = 8.571... twips. The mouse position
  // arrives as a single-precision number of twips, and dividing it back gives
  // just below the message code: 514.99999 for the double-click.
  fake.toolkit.twipsPerPixel = 1440.0 / 168;
  Load();
  form->cmdSysTray_Click();
  const double t = fake.toolkit.twipsPerPixel;
  const float rightUp = static_cast<float>(kRightUp * static_cast<float>(t));
  const float doubleClick = static_cast<float>(kLeftDoubleClick * t);
  ASSERT_LT(rightUp / t, kRightUp);
  ASSERT_GT(rightUp / t, kRightUp - 0.5);
  ASSERT_LT(doubleClick / t, kLeftDoubleClick);
  form->Form_MouseMove(0, 0, rightUp, 0);
  EXPECT_EQ(fake.toolkit.events, std::vector<std::string>{"menu"});
  form->Form_MouseMove(0, 0, doubleClick, 0);
  EXPECT_TRUE(form->window.Visible());
  EXPECT_EQ(form->sysTray.trayIconShown, 0);
}

TEST_F(TrayTest, MouseOverTheVisibleWindowIsIgnored) {
  Load();
  for (int code : {kLeftDoubleClick, kRightUp, kMouseMove}) IconEvent(code);
  form->Form_MouseMove(1, 0, 1234.0, 567.0);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(fake.toolkit.events.empty());
  EXPECT_TRUE(form->window.Visible());
  EXPECT_EQ(form->window.State(), WindowState::kNormal);
}

TEST_F(TrayTest, WithoutANotificationAreaSendToTrayMinimisesAndSaysSoOnce) {
  fake.toolkit.trayAvailable = false;
  Load();
  form->cmdSysTray_Click();
  EXPECT_TRUE(form->window.Visible()) << "hidden with no icon, the window could not come back";
  EXPECT_EQ(form->window.State(), WindowState::kMinimised);
  EXPECT_EQ(form->sysTray.trayIconShown, 0);
  EXPECT_TRUE(Calls().empty());

  form->mnRestore_Click();
  EXPECT_EQ(form->window.State(), WindowState::kNormal);
  form->cmdSysTray_Click();
  EXPECT_EQ(form->window.State(), WindowState::kMinimised);

  // Restored from the task bar, behind the program's back: the next click
  // minimises it again.
  int minimiseRequests = 0;
  form->window.SetObserver([&](Control&, Property p) {
    if (p == Property::kWindowState && form->window.State() == WindowState::kMinimised)
      ++minimiseRequests;
  });
  form->Form_Resize(WindowState::kNormal);
  form->cmdSysTray_Click();
  EXPECT_EQ(minimiseRequests, 1);

  const auto messages = LogMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("No notification area"), std::string::npos) << messages[0];
}

}  // namespace
}  // namespace quorrel::fakes
