// What the close keeps: the settings replaced whole, the right folder, values
// as typed, and the log's bound with one long line.
#include <gtest/gtest.h>

#include "fakes/if_rows.h"
#include "form_fixture.h"

namespace quorrel::fakes {

TEST_F(FormTest, TheCloseReplacesTheSettingsWholeOrNotAtAll) {
  SetOption("IP", "10.0.0.1");
  Form1& f = Load();
  f.txtIP.SetText("10.0.0.2");
  f.txtInterval.SetText("9");
  // A write that fails gives the copy up: the file keeps its old values.
  fake.profile.failWrites = true;
  f.Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "10.0.0.1");
  EXPECT_TRUE(fake.profile.otherFiles.empty());  // no copy left behind
  EXPECT_EQ(fake.files.reports,
            std::vector<std::string>{"the settings could not be saved to " + f.settingsPath});

  // Another instance's save in between: ours is made again over theirs.
  fake.profile.failWrites = false;
  fake.files.reports.clear();
  fake.files.commitsReplacedMeanwhile = 1;
  Form1& g = Load();
  g.txtIP.SetText("10.0.0.3");
  g.Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "10.0.0.3");
  EXPECT_TRUE(fake.files.reports.empty());
  // One that never lets go is reported, not retried for ever.
  fake.files.commitsReplacedMeanwhile = 100;
  Form1& h = Load();
  h.txtIP.SetText("10.0.0.4");
  h.Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "10.0.0.3");
  EXPECT_EQ(fake.files.reports.size(), 1u);
  EXPECT_GT(fake.files.commitsReplacedMeanwhile, 90);
}

TEST_F(FormTest, AnInstalledProgramOrSomeoneElsesSettingsFileSendsTheFilesToThePerUserFolder) {
  const std::string perUser = "C:\\Users\\me\\AppData\\Roaming\\Quorrel\\";
  fake.files.installed = true;
  EXPECT_EQ(Load().settingsPath, perUser + "Settings.ini");
  EXPECT_EQ(form->logFilePath, perUser + "pinglog.txt");
  // A Settings.ini beside the program that this user may not replace (root's).
  fake.files.installed = false;
  fake.files.readOnly = {"C:\\Apps\\Quorrel\\Settings.ini"};
  EXPECT_EQ(Load().settingsPath, perUser + "Settings.ini");

  // Nowhere to write: nothing is written, the first line says so, the close
  // reports the log, the run's outages and the settings.
  fake.files.writable = false;
  fake.files.userFolder = "";
  SetOption("Save log on exit", "1");
  Form1& f = Load();
  EXPECT_EQ(f.settingsPath, "");
  EXPECT_EQ(f.logFilePath, "");
  f.cmdToggle_Click();
  EXPECT_EQ(LogMessages().at(1),
            "Settings and the log cannot be saved: neither the program's folder nor a "
            "per-user folder can be written");
  fake.profile.writes.clear();
  f.Form_QueryUnload();
  EXPECT_TRUE(fake.profile.writes.empty());
  EXPECT_TRUE(fake.files.files.empty());
  EXPECT_EQ(fake.files.reports.size(), 3u);
}

TEST_F(FormTest, ValuesComeBackAsTypedAndALongOneIsNotCutByTheSave) {
  Form1& f = Load();
  f.txtFix.SetText("\"/opt/my tool/fix.sh\"");
  f.txtIP.SetText("'10.0.0.1'");
  f.txtInterval.SetText("\"/opt/my tool/fix.sh\" --now");
  f.Form_QueryUnload();
  // Stored inside one more pair, which the platform's read takes away again.
  EXPECT_EQ(fake.profile.sections["Options"]["Fix path"], "\"\"/opt/my tool/fix.sh\"\"");
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "\"'10.0.0.1'\"");
  EXPECT_EQ(fake.profile.sections["Options"]["Interval"], "\"/opt/my tool/fix.sh\" --now");

  const std::string longPath(300, 'p');
  SetOption("Fix path", longPath);
  EXPECT_EQ(Load().txtFix.Text(), std::string(254, 'p'));
  form->Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["Fix path"], longPath);
  Load().txtFix.SetText(std::string(254, 'q'));
  form->Form_QueryUnload();
  EXPECT_EQ(fake.profile.sections["Options"]["Fix path"], std::string(254, 'q'));
}

TEST_F(FormTest, ASessionSaveKeepsRunningAndTheCloseAppendsOnlyWhatCameAfter) {
  SetOption("Save log on exit", "1");
  Form1& f = Load();
  const std::string log = f.logFilePath;
  f.cmdToggle_Click();
  f.txtIP.SetText("10.0.0.9");
  f.SaveSession();
  EXPECT_FALSE(f.Unloaded());
  EXPECT_EQ(fake.profile.sections["Options"]["IP"], "10.0.0.9");
  const std::string first = fake.files.files[log];
  EXPECT_EQ(first, f.txtOut.Text() + "\r\n");
  f.cmdToggle_Click();
  f.Form_QueryUnload();
  const std::string rest = fake.files.files[log].substr(first.size());
  EXPECT_EQ(rest.substr(rest.find(" - ")), " - Monitoring stopped\r\n\r\n");
}

TEST(TrimLog, ALineLongerThanTheBoundKeepsItsNewestCharacters) {
  const std::string line = std::string(3200, 'a') + "\xF0\x9F\x98\x80" + std::string(2997, 'b');
  for (const std::string& log : {AppendLogLine("", "", line), AppendLogLine("x\r\n", "", line)}) {
    // 2997 b's and the CR LF, then the pair that straddles the bound goes whole.
    EXPECT_EQ(log, std::string(2997, 'b') + "\r\n");
  }
  LogText text;
  text.Append("", line);
  EXPECT_EQ(text.Text(), std::string(2997, 'b') + "\r\n");
  EXPECT_EQ(text.Units(), 2999u);
  LogText plain;
  plain.Append("07/12/26 09:05:03", std::string(3100, 'z'));
  EXPECT_EQ(plain.Units(), kLogLimit);
  EXPECT_TRUE(plain.Text().ends_with("zz\r\n"));
}


TEST_F(FormTest, TheCloseAppendsTheRunsOutagesAndTheLampTellsTheQuality) {
  SetOption("Save log on exit", "1");
  SetOption("IP", "10.0.0.1");
  SetOption("Interval", "0");
  Form1& f = Load();
  EXPECT_EQ(f.PingResultTip(), "Stopped");
  f.cmdToggle_Click();
  // Passed, two failed, passed, failed, passed: two outages of 2 s and 1 s.
  fake.icmp.statuses = {kIpSuccess, kIpReqTimedOut, kIpReqTimedOut, kIpSuccess, kIpReqTimedOut,
                        kIpSuccess};
  fake.icmp.roundTrips = {3, 0, 0, 0, 0, 2};
  for (int second = 10; second < 16; ++second) {
    fake.clock.now.second = second;
    Tick();
  }
  EXPECT_NE(f.PingResultTip().find("Round trip: 2 ms"), std::string::npos) << f.PingResultTip();
  EXPECT_NE(f.PingResultTip().find("Average: 1.67 ms"), std::string::npos) << f.PingResultTip();
  fake.clock.now.second = 20;
  f.cmdToggle_Click();
  EXPECT_EQ(f.PingResultTip(), "Stopped");
  f.Form_QueryUnload();
  const std::string csv = fake.files.files[f.outagesFilePath];
  EXPECT_EQ(csv.substr(0, csv.find("# summary")),
            "start,end,seconds,destination\r\n"
            "2026-12-07T09:05:11,2026-12-07T09:05:13,2,10.0.0.1\r\n"
            "2026-12-07T09:05:14,2026-12-07T09:05:15,1,10.0.0.1\r\n");
  EXPECT_NE(csv.find("pings=6,lost=3,outages=2"), std::string::npos) << csv;
  // Without "Save log on exit" the file is left alone.
  fake.files.files.clear();
  SetOption("Save log on exit", "0");
  Load().cmdToggle_Click();
  Tick(2);
  form->Form_QueryUnload();
  EXPECT_TRUE(fake.files.files.empty());
}


TEST_F(FormTest, TheGraphTipNamesTheSecondDrawnUnderThePointer) {
  std::vector<IfRow> rows{Adapter("Ethernet", 2)};
  fake.ifTable.rows = Images(rows);
  Form1& f = Load();
  const int width = fake.canvas.Width();
  EXPECT_EQ(f.GraphTipAt(width), "");  // nothing drawn yet
  f.cboConnections.SetListIndex(0);
  f.cmdToggle_Click();
  for (int second = 0; second < 3; ++second) {
    fake.clock.now.second = 10 + second;
    rows[0].inOctets += 2048u * static_cast<std::uint32_t>(second + 1);
    fake.ifTable.rows = Images(rows);
    f.tmrBandwidth_Timer();
  }
  // The newest second at the right edge, the one before a step to its left.
  EXPECT_EQ(f.GraphTipAt(width), "07/12/26 09:05:12\nDownstream: 6 KB\nUpstream: 0 KB");
  EXPECT_EQ(f.GraphTipAt(width * 98 / 100), "07/12/26 09:05:11\nDownstream: 4 KB\nUpstream: 0 KB");
  EXPECT_EQ(f.GraphTipAt(width / 2), "");  // not drawn yet
}

}  // namespace quorrel::fakes
