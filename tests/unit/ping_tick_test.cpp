// The ping tick: counting, pinging, and what each result shows and logs.
#include <gtest/gtest.h>

#include <algorithm>

#include "form_fixture.h"

namespace quorrel::fakes {

class PingTickTest : public FormTest {
 protected:
  Form1& Started(const std::string& interval, const std::string& ip = "10.1.2.3") {
    SetOption("IP", ip);
    SetOption("Interval", interval);
    Load();
    form->cmdToggle_Click();
    return *form;
  }
  // Ticks until the next echo goes out; returns how many ticks it took.
  int TicksToNextPing(int limit = 100) {
    std::size_t before = fake.icmp.echoes.size();
    for (int i = 1; i <= limit; ++i) {
      Tick();
      if (fake.icmp.echoes.size() > before) return i;
    }
    return -1;
  }
};

TEST_F(PingTickTest, IntervalFifteenPingsEverySixteenTicks) {
  Form1& f = Started("15");
  std::vector<int> bar;
  for (int tick = 1; tick <= 48; ++tick) {
    Tick();
    bar.push_back(f.pbTime.Value());
    bool pinged = tick % 16 == 0;
    ASSERT_EQ(fake.icmp.echoes.size(), static_cast<std::size_t>(tick / 16)) << tick;
    ASSERT_EQ(f.pbTime.Value(), pinged ? 0 : tick % 16) << tick;
  }
  EXPECT_EQ(*std::max_element(bar.begin(), bar.end()), 15);
}

TEST_F(PingTickTest, StopAtSevenAndStartAgainContinuesTheCount) {
  Form1& f = Started("15");
  Tick(7);
  EXPECT_EQ(f.pbTime.Value(), 7);
  f.cmdToggle_Click();
  f.cmdToggle_Click();
  EXPECT_EQ(f.pbTime.Value(), 0);  // only the bar is reset
  Tick();
  EXPECT_EQ(f.pbTime.Value(), 8);
  EXPECT_EQ(TicksToNextPing(), 8);  // the 9th tick after the new Start
}

TEST_F(PingTickTest, IntervalZeroNegativeOrLettersPingsEveryTick) {
  for (const char* interval : {"0", "-5", "abc"}) {
    fake.icmp.echoes.clear();
    Form1& f = Started(interval);
    Tick(4);
    EXPECT_EQ(fake.icmp.echoes.size(), 4u) << interval;
    EXPECT_EQ(f.pbTime.Value(), 0) << interval;
  }
}

TEST_F(PingTickTest, TheLargestIntervalDoesNotOverflowTheCount) {
  Form1& f = Started("99999");
  EXPECT_EQ(f.pingInterval, kMaxPingInterval);
  Tick(kMaxPingInterval);
  EXPECT_EQ(f.tickCount, kMaxPingInterval);
  EXPECT_TRUE(fake.icmp.echoes.empty());
  Tick();
  EXPECT_EQ(fake.icmp.echoes.size(), 1u);
  EXPECT_EQ(f.tickCount, 0);
}

TEST_F(PingTickTest, APassShowsGreenAndLogsTheSummary) {
  Form1& f = Started("0");
  Tick();
  EXPECT_EQ(f.pingState, 1);
  EXPECT_EQ(f.window.IconKey(), "green");
  EXPECT_EQ(f.shpResult.FillColour(), kGreen);
  EXPECT_EQ(f.shpPing.FillColour(), kYellow);
  EXPECT_EQ(f.trayTip, "Quorrel - Passed");
  EXPECT_FALSE(f.cmdRunFix.Enabled());
  EXPECT_EQ(f.lastGoodStats, "DS  - 0 KB, US  - 0 KB");
  EXPECT_EQ(LogLines().back(), "07/12/26 09:05:03 - Ping 10.1.2.3 passed : DS  - 0 KB, US  - 0 KB");
  Tick();
  EXPECT_EQ(f.shpPing.FillColour(), kBlue);  // the activity lamp flips at every ping
  Tick();
  EXPECT_EQ(f.shpPing.FillColour(), kYellow);
}

TEST_F(PingTickTest, AFirstFailureLogsAnEmptyLastGoodLineAfterIt) {
  Form1& f = Started("0");
  fake.icmp.statuses = {kIpReqTimedOut, kIpReqTimedOut};
  Tick(2);
  EXPECT_EQ(f.pingState, 2);
  EXPECT_EQ(f.window.IconKey(), "red");
  EXPECT_EQ(f.shpResult.FillColour(), kRed);
  EXPECT_EQ(f.trayTip, "Quorrel - Failed");
  EXPECT_TRUE(f.cmdRunFix.Enabled());
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "Monitoring started", "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB",
                "Last 'good' stats: ", "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB"}));
}

TEST_F(PingTickTest, ChangesOnlyHoldsBackRepeatsButNotTheLampTheBarOrTheButton) {
  SetOption("Changes only", "1");
  Form1& f = Started("0");
  Tick(3);
  EXPECT_EQ(LogMessages().size(), 2u);  // started + the first pass
  f.shpResult.SetFillColour(kSilver);   // a repeat must not repaint it
  f.trayTip = "untouched";
  fake.icmp.statuses = {kIpReqTimedOut};
  Tick();
  // The change is shown, logged, and followed by the last good summary.
  EXPECT_EQ(f.shpResult.FillColour(), kRed);
  EXPECT_EQ(f.trayTip, "Quorrel - Failed");
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"Monitoring started",
                                      "Ping 10.1.2.3 passed : DS  - 0 KB, US  - 0 KB",
                                      "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB",
                                      "Last 'good' stats: DS  - 0 KB, US  - 0 KB"}));
  // A repeat of the failure: nothing shown or logged, but the button, the
  // activity lamp and the bar follow it.
  fake.icmp.statuses = {kIpReqTimedOut};
  f.cmdRunFix.SetEnabled(false);
  Colour lamp = f.shpPing.FillColour();
  Tick();
  EXPECT_EQ(LogMessages().size(), 4u);
  EXPECT_TRUE(f.cmdRunFix.Enabled());
  EXPECT_NE(f.shpPing.FillColour(), lamp);
}

TEST_F(PingTickTest, GreyedChangesOnlyLogsEveryResult) {
  SetOption("Changes only", "1.5");
  Started("0");
  Tick(3);
  EXPECT_EQ(LogMessages().size(), 4u);
}

TEST_F(PingTickTest, EveryRunStartsFreshButKeepsTheLastGoodSummary) {
  SetOption("Changes only", "1");
  Form1& f = Started("0");
  Tick();  // pass
  f.cmdToggle_Click();
  EXPECT_EQ(f.pingState, 0);
  f.cmdToggle_Click();
  fake.icmp.statuses = {kIpDestHostUnreachable};
  Tick();
  std::vector<std::string> log = LogMessages();
  EXPECT_EQ(log[log.size() - 2], "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB");
  EXPECT_EQ(log.back(), "Last 'good' stats: DS  - 0 KB, US  - 0 KB");
  // The first result of a new run always shows, even a pass after a pass.
  f.cmdToggle_Click();
  f.cmdToggle_Click();
  Tick();
  EXPECT_EQ(LogMessages().back(), "Ping 10.1.2.3 passed : DS  - 0 KB, US  - 0 KB");
}

TEST_F(PingTickTest, TheNextPingUsesTheDestinationAsItNowStands) {
  Form1& f = Started("0");
  Tick();
  f.txtIP.SetText("10.4.4.4");
  Tick();
  EXPECT_EQ(fake.icmp.echoes.back().destination, 0x0404040Au);
  EXPECT_EQ(LogMessages().back(), "Ping 10.4.4.4 passed : DS  - 0 KB, US  - 0 KB");
  f.txtIP.SetText("not an address");
  Tick();
  EXPECT_EQ(f.pingState, 2);
  EXPECT_EQ(LogMessages()[LogMessages().size() - 3],
            "Ping not an address failed : DS  - 0 KB, US  - 0 KB");
}

TEST_F(PingTickTest, ATickDuringTheProbesMessageBoxDoesNotNestASecondPing) {
  Form1& f = Started("0");
  fake.winsock.startupResult = 1;
  // The box runs its own message loop, so timer ticks arrive while it is open.
  fake.toolkit.onMessageBox = [this] { Tick(2); };
  Tick();
  EXPECT_EQ(fake.toolkit.messageBoxes.size(), 1u);
  EXPECT_EQ(f.pingState, 2);
  EXPECT_EQ(LogMessages().size(), 3u);  // started, failed, last good
}

TEST_F(PingTickTest, AMissingIcmpPermissionIsToldOnceARunAfterThePingsOwnLines) {
  fake.icmp.blockedReason = "No ICMP method is permitted; allow it with the sysctl";
  fake.icmp.statuses = {kIpGeneralFailure, kIpGeneralFailure, kIpGeneralFailure};
  Form1& f = Started("0");
  EXPECT_EQ(fake.icmp.blockedQueries, 0);  // nothing is asked before the first ping
  Tick(3);
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                "Monitoring started", "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB",
                "Last 'good' stats: ", "No ICMP method is permitted; allow it with the sysctl",
                "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB",
                "Ping 10.1.2.3 failed : DS  - 0 KB, US  - 0 KB"}));
  EXPECT_EQ(f.pingState, 2);  // the lamps and the state stay as any failure sets them
  EXPECT_EQ(f.shpResult.FillColour(), kRed);
  // A new run tells it again, once.
  f.cmdToggle_Click();
  f.cmdToggle_Click();
  fake.icmp.statuses = {kIpGeneralFailure, kIpGeneralFailure};
  Tick(2);
  const std::vector<std::string> log = LogMessages();
  EXPECT_EQ(std::count(log.begin(), log.end(), fake.icmp.blockedReason), 2);
  EXPECT_EQ(log[log.size() - 2], fake.icmp.blockedReason);
  EXPECT_EQ(fake.icmp.blockedQueries, 2);
}

TEST_F(PingTickTest, NoPermissionLineWhereEchoesMayBeSent) {
  Started("0");
  fake.icmp.statuses = {kIpReqTimedOut};
  Tick(3);
  EXPECT_EQ(LogMessages().size(), 5u);  // started, failed, last good, passed, passed
  EXPECT_EQ(fake.icmp.blockedQueries, 1);
}


TEST_F(PingTickTest, ADestinationThatIsNoDottedAddressIsExplainedOnceARun) {
  for (const char* bad : {"", "localhost", "::1", "192.168.1.300", "1.2.3", "1.2.3.4.5"}) {
    Started("0", bad);
    Tick(3);
    const auto messages = LogMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "The destination \"" + std::string(bad) +
                             "\" is not a dotted IPv4 address (such as 192.168.1.1): no echo "
                             "can be sent to it"),
              1)
        << bad;
    EXPECT_EQ(messages.at(1), "Ping " + std::string(bad) + " failed : " + form->BandwidthSummary());
    // Every Start tells it again, once.
    form->cmdToggle_Click();
    form->cmdToggle_Click();
    Tick();
    EXPECT_EQ(LogMessages().back().rfind("The destination", 0), 0u) << bad;
  }
  Started("0", "10.0.0.255");
  fake.icmp.statuses = {kIpReqTimedOut};
  Tick();
  EXPECT_EQ(LogMessages().back(), "Last 'good' stats: ");
  EXPECT_FALSE(IsDottedIpv4("01234.1.1.1"));
  EXPECT_TRUE(IsDottedIpv4("0.0.0.0"));
}

}  // namespace quorrel::fakes
