// The echo probe over scripted sockets and ICMP services.
#include <gtest/gtest.h>

#include "fakes/fakes.h"
#include "ping/mod_ping.h"

namespace quorrel::fakes {

class PingTest : public ::testing::Test {
 protected:
  FakeWinsock winsock;
  FakeIcmp icmp;
  FakeToolkit toolkit;
  IdentityCodePage codePage;
  ModPing ping{winsock, icmp, toolkit, codePage};
};

TEST_F(PingTest, OneEchoOfTestWithDefaultOptionsAndHalfASecond) {
  EXPECT_TRUE(ping.PingHost("192.168.25.1"));
  ASSERT_EQ(icmp.echoes.size(), 1u);
  const auto& echo = icmp.echoes[0];
  EXPECT_EQ(echo.destination, 0x0119A8C0u);  // network byte order
  EXPECT_EQ(echo.data, "Test");
  EXPECT_TRUE(echo.nullOptions);
  EXPECT_EQ(echo.replySize, 278u);
  EXPECT_EQ(echo.timeout, 500u);
  EXPECT_EQ(winsock.lastVersion, 0x0101);
  // Everything opened for the echo is closed again.
  EXPECT_EQ(icmp.opened, 1);
  EXPECT_EQ(icmp.closed, 1);
  EXPECT_EQ(winsock.startups, 1);
  EXPECT_EQ(winsock.cleanups, 1);
  EXPECT_TRUE(toolkit.messageBoxes.empty());
}

TEST_F(PingTest, AnyNonZeroStatusFails) {
  for (std::uint32_t status : {kIpReqTimedOut, kIpDestHostUnreachable, kIpDestNetUnreachable,
                               kIpTtlExpiredTransit, kIpGeneralFailure}) {
    icmp.statuses = {status};
    EXPECT_FALSE(ping.PingHost("10.0.0.1")) << status;
  }
  EXPECT_EQ(icmp.opened, icmp.closed);
  EXPECT_EQ(winsock.startups, winsock.cleanups);
}

TEST_F(PingTest, AReplyCountOfZeroFailsEvenWithStatusZero) {
  icmp.zeroRepliesOnSuccess = true;
  EXPECT_FALSE(ping.PingHost("10.0.0.1"));
  ReplyBuffer reply{};
  EXPECT_NE(ping.SendEcho("10.0.0.1", "Test", reply), 0);
}

TEST_F(PingTest, MalformedAddressesFailWithoutAnEchoOrAMessage) {
  for (const char* destination : {"abc", "router.home", "255.255.255.255", ""}) {
    ReplyBuffer reply{};
    EXPECT_EQ(ping.SendEcho(destination, "Test", reply), -1) << destination;
    EXPECT_FALSE(ping.PingHost(destination)) << destination;
  }
  EXPECT_TRUE(icmp.echoes.empty());
  EXPECT_EQ(icmp.opened, 0);
  EXPECT_TRUE(toolkit.messageBoxes.empty());
}

TEST_F(PingTest, NoIcmpHandleFailsWithMinusOne) {
  icmp.noHandle = true;
  ReplyBuffer reply{};
  EXPECT_EQ(ping.SendEcho("10.0.0.1", "Test", reply), -1);
  EXPECT_FALSE(ping.PingHost("10.0.0.1"));
  EXPECT_TRUE(icmp.echoes.empty());
}

TEST_F(PingTest, FailedStartupShowsItsMessageAndSendsNothing) {
  winsock.startupResult = 10091;  // WSASYSNOTREADY
  EXPECT_FALSE(ping.PingHost("10.0.0.1"));
  EXPECT_FALSE(ping.PingHost("10.0.0.1"));
  ASSERT_EQ(toolkit.messageBoxes.size(), 2u);  // once per due ping
  EXPECT_EQ(toolkit.messageBoxes[0].text,
            "Windows Sockets for 32 bit Windows environments is not successfully responding.");
  EXPECT_EQ(toolkit.messageBoxes[0].caption, "Quorrel");
  EXPECT_EQ(toolkit.messageBoxes[0].style, kMbOk);
  EXPECT_TRUE(icmp.echoes.empty());
  EXPECT_EQ(winsock.cleanups, 0);
}

TEST_F(PingTest, FailedCleanupWarnsButKeepsThePass) {
  winsock.cleanupResult = -1;
  EXPECT_TRUE(ping.PingHost("10.0.0.1"));
  ASSERT_EQ(toolkit.messageBoxes.size(), 1u);
  EXPECT_EQ(toolkit.messageBoxes[0].text, "Windows Sockets error occurred in Cleanup.");
  EXPECT_EQ(toolkit.messageBoxes[0].caption, "Quorrel");
  EXPECT_EQ(toolkit.messageBoxes[0].style, kMbOk | kMbIconExclamation);
}

TEST_F(PingTest, TheTimedProbeTellsTheRoundTripOfAPassOnly) {
  // icmp.dll's whole milliseconds from the record.
  icmp.roundTrips = {37};
  PingOutcome whole = ping.PingHostTimed("10.0.0.1");
  EXPECT_TRUE(whole.passed);
  EXPECT_EQ(whole.rttMicros, 37000u);
  EXPECT_TRUE(whole.wholeMillis);
  // A service that times finer is taken at its word.
  icmp.roundTrips = {1};
  icmp.roundTripMicros = {1234};
  PingOutcome fine = ping.PingHostTimed("10.0.0.1");
  EXPECT_TRUE(fine.passed);
  EXPECT_EQ(fine.rttMicros, 1234u);
  EXPECT_FALSE(fine.wholeMillis);
  // A failed echo has no round trip, whatever the record or the service says.
  icmp.statuses = {kIpDestHostUnreachable};
  icmp.roundTrips = {3};
  icmp.roundTripMicros = {3000};
  PingOutcome failed = ping.PingHostTimed("10.0.0.1");
  EXPECT_FALSE(failed.passed);
  EXPECT_FALSE(failed.rttMicros);
  icmp.zeroRepliesOnSuccess = true;
  icmp.roundTrips = {4};
  EXPECT_FALSE(ping.PingHostTimed("10.0.0.1").rttMicros);
  icmp.zeroRepliesOnSuccess = false;
  // A millisecond count past what microseconds can hold stays the longest.
  icmp.roundTrips = {0xFFFFFFFFu};
  EXPECT_EQ(ping.PingHostTimed("10.0.0.1").rttMicros, 0xFFFFFFFFu);
  EXPECT_EQ(icmp.opened, icmp.closed);
  EXPECT_EQ(winsock.startups, winsock.cleanups);
}

}  // namespace quorrel::fakes
