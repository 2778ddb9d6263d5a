// The window's start-up, Start/Stop and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "form_fixture.h"

namespace quorrel::fakes {

TEST(AddBackslash, AddsOneOnlyWhenMissing) {
  EXPECT_EQ(AddBackslash("C:\\Apps"), "C:\\Apps\\");
  EXPECT_EQ(AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(AddBackslash(""), "\\");
  EXPECT_EQ(AddBackslash("/opt/quorrel", '/'), "/opt/quorrel/");
  EXPECT_EQ(AddBackslash("/", '/'), "/");
}

TEST(ControlTable, HoldsEveryControlOnceWithAFocusOrderWithoutGaps) {
  std::set<std::string> names;
  std::set<int> tabs;
  for (const auto& layout : ControlTable()) {
    EXPECT_TRUE(names.insert(layout.name).second) << layout.name;
    if (layout.tabIndex >= 0) {
      EXPECT_TRUE(tabs.insert(layout.tabIndex).second) << layout.name;
    }
    if (layout.kind != ControlKind::kTimer && layout.kind != ControlKind::kImageList) {
      EXPECT_GT(layout.rect.width, 0) << layout.name;
      EXPECT_LE(layout.rect.left + layout.rect.width, kClientWidthTwips) << layout.name;
      EXPECT_LE(layout.rect.top + layout.rect.height, kClientHeightTwips) << layout.name;
    }
  }
  EXPECT_EQ(names.size(), 26u);
  EXPECT_EQ(tabs.size(), 12u);
  EXPECT_EQ(*tabs.rbegin(), 11);
  EXPECT_EQ(LayoutOf("txtInterval").tabIndex, 0);
  EXPECT_EQ(LayoutOf("cmdRunFix").tabIndex, 11);
  EXPECT_THROW(LayoutOf("cmdNothing"), std::out_of_range);
}

TEST(ControlTable, RateCaptionsKeepTheirLeftEdgesAndFillTheirRow) {
  const TwipsRect ds = LayoutOf("lblDS").rect;
  const TwipsRect us = LayoutOf("lblUS").rect;
  const TwipsRect markers = LayoutOf("chkMarkers").rect;
  EXPECT_EQ(ds.left, 120);
  EXPECT_EQ(us.left, 1920);
  EXPECT_EQ(ds.top, us.top);
  // Up to the next control of the row, never over it.
  EXPECT_EQ(ds.left + ds.width, us.left);
  EXPECT_EQ(us.left + us.width, markers.left);
  // Room for the widest rate caption at 96 dpi in an average 6-pixel font.
  EXPECT_GE(us.width / kTwipsPerPixelAt96Dpi,
            6 * static_cast<int>(std::string("Upstream: 1,220,703 KB").size()));
}

TEST_F(FormTest, FirstRunWithoutSettingsStartsEmptyAndStopped) {
  Form1& f = Load();
  EXPECT_EQ(f.txtFix.Text(), "");
  EXPECT_EQ(f.txtIP.Text(), "");
  EXPECT_EQ(f.txtInterval.Text(), "");
  EXPECT_EQ(f.chkChanges.Value(), 0);
  EXPECT_EQ(f.chkSaveLog.Value(), 0);
  EXPECT_EQ(f.pingInterval, 0);
  EXPECT_EQ(f.pbTime.Max(), 100);
  EXPECT_FALSE(f.tmrPing.Enabled());
  EXPECT_FALSE(f.tmrBandwidth.Enabled());
  EXPECT_FALSE(f.pbTime.Visible());
  EXPECT_FALSE(f.cmdRunFix.Enabled());
  EXPECT_EQ(f.cmdToggle.Caption(), "&Start");
  EXPECT_EQ(f.mnToggle.Caption(), "Start Pings");
  EXPECT_EQ(f.window.IconKey(), "grey");
  EXPECT_EQ(f.window.Caption(), "Quorrel by Vandrel");
  EXPECT_EQ(f.trayTip, "Quorrel - OFF");
  EXPECT_EQ(f.shpPing.FillColour(), kSilver);
  EXPECT_EQ(f.shpResult.FillColour(), kSilver);
  EXPECT_EQ(f.lblDS.ForeColour(), kRed);
  EXPECT_EQ(f.lblUS.ForeColour(), kBlue);
  EXPECT_EQ(f.settingsPath, "C:\\Apps\\Quorrel\\Settings.ini");
  EXPECT_EQ(f.logFilePath, "C:\\Apps\\Quorrel\\pinglog.txt");
  // Load sends nothing, logs nothing and shows no tray icon.
  EXPECT_EQ(fake.winsock.startups, 0);
  EXPECT_EQ(f.txtOut.Text(), "");
  EXPECT_TRUE(fake.shell.calls.empty());

  // Start then pings on every tick; an empty destination fails each time
  // without an echo on the wire.
  f.cmdToggle_Click();
  Tick(3);
  EXPECT_EQ(fake.winsock.startups, 3);
  EXPECT_TRUE(fake.icmp.echoes.empty());
  EXPECT_EQ(f.pingState, 2);
}

TEST_F(FormTest, SettingsLoadIntoTheBoxes) {
  SetOption("Fix path", "C:\\fix\\quick_opt.bat");
  SetOption("IP", "10.1.1.1");
  SetOption("Interval", "7");
  SetOption("Changes only", "1.5");
  SetOption("Save log on exit", "1");
  Form1& f = Load();
  EXPECT_EQ(f.txtFix.Text(), "C:\\fix\\quick_opt.bat");
  EXPECT_EQ(f.txtIP.Text(), "10.1.1.1");
  EXPECT_EQ(f.pingInterval, 7);
  EXPECT_EQ(f.pbTime.Max(), 7);
  EXPECT_EQ(f.chkChanges.Value(), 2);  // greyed, and not "set" for the program
  EXPECT_EQ(f.chkSaveLog.Value(), 1);
}

TEST_F(FormTest, ALongStoredValueArrivesCutTo254Characters) {
  SetOption("Fix path", std::string(300, 'p'));
  EXPECT_EQ(Load().txtFix.Text(), std::string(254, 'p'));
}

TEST_F(FormTest, ProgramInADriveRootKeepsOneBackslash) {
  fake.files.exeFolder = "D:\\";
  Form1& f = Load();
  EXPECT_EQ(f.appFolder, "D:\\");
  EXPECT_EQ(f.settingsPath, "D:\\Settings.ini");
  EXPECT_EQ(f.logFilePath, "D:\\pinglog.txt");
}

TEST_F(FormTest, AnUnwritableProgramFolderMovesBothFilesToThePerUserFolder) {
  fake.files.writable = false;
  Form1& f = Load();
  EXPECT_EQ(f.appFolder, "C:\\Apps\\Quorrel\\");
  EXPECT_EQ(f.settingsPath, "C:\\Users\\me\\AppData\\Roaming\\Quorrel\\Settings.ini");
  EXPECT_EQ(f.logFilePath, "C:\\Users\\me\\AppData\\Roaming\\Quorrel\\pinglog.txt");
}

TEST_F(FormTest, AReadOnlyProgramFolderReadsTheSettingsBesideItUntilThePerUserFileExists) {
  const std::string beside = "C:\\Apps\\Quorrel\\Settings.ini";
  const std::string perUser = "C:\\Users\\me\\AppData\\Roaming\\Quorrel\\Settings.ini";
  fake.files.writable = false;
  fake.files.existing = {beside};
  auto& old = fake.profile.otherFiles[beside]["Options"];
  old = {{"Fix path", "C:\\fix.bat"},
         {"IP", "10.9.9.9"},
         {"Interval", "7"},
         {"Changes only", "1"},
         {"Save log on exit", "1"}};
  Form1& f = Load();
  EXPECT_EQ(f.txtIP.Text(), "10.9.9.9");
  EXPECT_EQ(f.txtFix.Text(), "C:\\fix.bat");
  EXPECT_EQ(f.pingInterval, 7);
  EXPECT_EQ(f.chkChanges.Value(), 1);
  EXPECT_EQ(f.chkSaveLog.Value(), 1);
  EXPECT_EQ(std::set<std::string>(fake.profile.readPaths.begin(), fake.profile.readPaths.end()),
            std::set<std::string>{beside});
  EXPECT_EQ(f.settingsPath, perUser);
  // Nothing is logged at load; the move is told once, with the first line.
  EXPECT_EQ(f.txtOut.Text(), "");
  f.cmdToggle_Click();
  f.cmdToggle_Click();
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               "Monitoring started",
                               "Settings are saved in C:\\Users\\me\\AppData\\Roaming\\Quorrel",
                               "Monitoring stopped"}));
  // The close writes the per-user file and leaves the program's own alone;
  // the log goes to the per-user folder as well.
  f.txtIP.SetText("10.1.1.1");
  f.Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "10.1.1.1");
  EXPECT_EQ(fake.profile.sections["Options"]["Interval"], "7");
  EXPECT_EQ(old.at("IP"), "10.9.9.9");
  EXPECT_EQ(fake.files.files.count("C:\\Users\\me\\AppData\\Roaming\\Quorrel\\pinglog.txt"), 1u);
  EXPECT_EQ(fake.files.files.count("C:\\Users\\me\\AppData\\Roaming\\Quorrel\\outages.csv"), 1u);
  EXPECT_EQ(fake.files.files.size(), 2u);

  // The next run finds the per-user file and reads only that, saying nothing.
  fake.files.existing.insert(perUser);
  fake.profile.readPaths.clear();
  Form1& again = Load();
  EXPECT_EQ(again.txtIP.Text(), "10.1.1.1");
  EXPECT_EQ(std::set<std::string>(fake.profile.readPaths.begin(), fake.profile.readPaths.end()),
            std::set<std::string>{perUser});
  again.cmdToggle_Click();
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Monitoring started"});
}

TEST_F(FormTest, AReadOnlyProgramFolderWithoutSettingsStartsEmptyAndMovesNothing) {
  fake.files.writable = false;
  Form1& f = Load();
  EXPECT_EQ(f.txtIP.Text(), "");
  EXPECT_EQ(std::set<std::string>(fake.profile.readPaths.begin(), fake.profile.readPaths.end()),
            std::set<std::string>{f.settingsPath});
  f.cmdToggle_Click();
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Monitoring started"});
  // A writable program folder keeps both files beside the program, read and written there.
  fake.files.writable = true;
  fake.profile.readPaths.clear();
  fake.files.existing = {"C:\\Apps\\Quorrel\\Settings.ini"};
  Form1& g = Load();
  EXPECT_EQ(g.settingsPath, "C:\\Apps\\Quorrel\\Settings.ini");
  EXPECT_EQ(fake.profile.readPaths.front(), g.settingsPath);
}

TEST_F(FormTest, RunFixStartsTheCommandInANormalWindowThatTakesTheFocus) {
  Load();
  form->txtFix.SetText("C:\\fix\\quick_opt.bat");
  form->cmdRunFix_Click();
  ASSERT_EQ(fake.process.started, std::vector<std::string>{"C:\\fix\\quick_opt.bat"});
  // SW_SHOWNORMAL: neither minimised nor hidden, and activated.
  EXPECT_EQ(fake.process.showCommands, std::vector<int>{1});
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Running connection refresh"});
}

TEST_F(FormTest, IntervalBoxFollowsEveryChange) {
  Form1& f = Load();
  f.txtInterval.SetText("15");
  EXPECT_EQ(f.pingInterval, 15);
  EXPECT_EQ(f.pbTime.Max(), 15);
  f.txtInterval.SetText("abc");
  EXPECT_EQ(f.pingInterval, 0);
  EXPECT_EQ(f.pbTime.Max(), 15);  // left as it was
  f.txtInterval.SetText("2.5");
  EXPECT_EQ(f.pingInterval, 2);
  f.txtInterval.SetText("-3");
  EXPECT_EQ(f.pingInterval, -3);
  EXPECT_EQ(f.pbTime.Max(), 2);
  f.txtInterval.SetText("70000");
  EXPECT_EQ(f.pingInterval, kMaxPingInterval);
}

TEST_F(FormTest, StartAndStopSwitchEverythingTogether) {
  Form1& f = Load();
  f.shpResult.SetFillColour(kRed);
  f.cmdToggle_Click();
  EXPECT_TRUE(f.tmrPing.Enabled());
  EXPECT_TRUE(f.tmrBandwidth.Enabled());
  EXPECT_FALSE(f.txtInterval.Enabled());
  EXPECT_FALSE(f.cboConnections.Enabled());
  EXPECT_TRUE(f.pbTime.Visible());
  EXPECT_EQ(f.cmdToggle.Caption(), "&Stop");
  EXPECT_EQ(f.mnToggle.Caption(), "Stop Pings");
  EXPECT_EQ(f.trayTip, "Quorrel - ON");
  EXPECT_EQ(f.window.IconKey(), "green");
  EXPECT_EQ(f.shpResult.FillColour(), kSilver);
  EXPECT_EQ(f.firstSample, -1);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"Monitoring started"});

  // The menu item does exactly what the button does.
  f.mnToggle_Click();
  EXPECT_FALSE(f.tmrPing.Enabled());
  EXPECT_FALSE(f.tmrBandwidth.Enabled());
  EXPECT_TRUE(f.txtInterval.Enabled());
  EXPECT_TRUE(f.cboConnections.Enabled());
  EXPECT_FALSE(f.pbTime.Visible());
  EXPECT_EQ(f.cmdToggle.Caption(), "&Start");
  EXPECT_EQ(f.mnToggle.Caption(), "Start Pings");
  EXPECT_EQ(f.trayTip, "Quorrel - OFF");
  EXPECT_EQ(f.window.IconKey(), "grey");
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"Monitoring started", "Monitoring stopped"}));
  f.mnToggle_Click();
  EXPECT_TRUE(f.tmrPing.Enabled());
}

TEST_F(FormTest, ShutdownWritesFiveKeysInOrderAfterTheLog) {
  SetOption("Save log on exit", "1");
  SetOption("Changes only", "2");
  Form1& f = Load();
  f.txtIP.SetText("10.9.8.7");
  f.txtInterval.SetText("abc");
  f.Form_QueryUnload();
  EXPECT_EQ(fake.profile.writes,
            (std::vector<std::string>{"Fix path=", "IP=10.9.8.7", "Interval=abc", "Changes only=2",
                                      "Save log on exit=1"}));
  EXPECT_EQ(fake.files.files.count("C:\\Apps\\Quorrel\\pinglog.txt"), 1u);
  EXPECT_FALSE(f.tmrPing.Enabled());
  // A second close (the face and the menu both asking) writes nothing more.
  f.Form_QueryUnload();
  EXPECT_EQ(fake.profile.writes.size(), 5u);
}

TEST_F(FormTest, CloseFromTheMenuUnloadsThenEnds) {
  Form1& f = Load();
  f.mnClose_Click();
  EXPECT_TRUE(f.Unloaded());
  EXPECT_EQ(fake.toolkit.events, (std::vector<std::string>{"unload", "end"}));
  EXPECT_EQ(fake.profile.writes.size(), 5u);
}

TEST_F(FormTest, EveryClickableOrTimedControlHasItsHandler) {
  SetOption("Interval", "5");
  Form1& f = Load();
  // Each handler found by the faces must do its own control's job.
  (f.*f.EventHandlerOf(f.cmdToggle))();
  EXPECT_TRUE(f.tmrPing.Enabled());
  (f.*f.EventHandlerOf(f.tmrPing))();
  EXPECT_EQ(f.tickCount, 1);
  (f.*f.EventHandlerOf(f.mnToggle))();
  EXPECT_FALSE(f.tmrPing.Enabled());
  (f.*f.EventHandlerOf(f.cmdRunFix))();
  EXPECT_EQ(LogMessages().back(), "Run Fix could not start the command: no command given");
  (f.*f.EventHandlerOf(f.cmdSysTray))();
  EXPECT_EQ(fake.shell.calls.size(), 1u);
  (f.*f.EventHandlerOf(f.mnRestore))();
  EXPECT_EQ(fake.shell.calls.size(), 2u);
  EXPECT_NE(f.EventHandlerOf(f.tmrBandwidth), nullptr);
  (f.*f.EventHandlerOf(f.mnClose))();
  EXPECT_TRUE(f.Unloaded());
  for (Control* c : {static_cast<Control*>(&f.txtIP), static_cast<Control*>(&f.lblDS),
                     static_cast<Control*>(&f.mnSep1), static_cast<Control*>(&f.chkChanges)})
    EXPECT_EQ(f.EventHandlerOf(*c), nullptr) << c->Name();
}

TEST_F(FormTest, FailedSettingsWritesDoNotStopTheShutdown) {
  fake.profile.failWrites = true;
  Form1& f = Load();
  f.Form_QueryUnload();
  EXPECT_EQ(fake.profile.writes.size(), 5u);  // every key was still tried
}

}  // namespace quorrel::fakes
