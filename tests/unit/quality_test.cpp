// Link quality: the window's and the run's statistics, the outage ledger and
// the texts made of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "fakes/fakes.h"
#include "quality/link_quality.h"
#include "quality/quality_text.h"

namespace quorrel {
namespace {

constexpr LocalTime kStart{2026, 12, 7, 9, 0, 0};

LocalTime At(int secondsAfterStart) {
  LocalTime t = kStart;
  t.hour += secondsAfterStart / 3600;
  t.minute += secondsAfterStart / 60 % 60;
  t.second += secondsAfterStart % 60;
  return t;
}

PingSample Passed(int second, std::int64_t rttMicros, bool wholeMillis = false) {
  return {true, At(second), rttMicros, wholeMillis};
}
PingSample Failed(int second) { return {false, At(second), 0, false}; }

}  // namespace

TEST(LinkQualityStats, HandWorkedSeriesGiveLossMinMaxAverageMdevAndJitter) {
  LinkQuality q;
  q.Reset(kStart);
  // Replies 1, 3, (lost), 2, 6 ms.
  q.Add(Passed(1, 1000));
  q.Add(Passed(2, 3000));
  q.Add(Failed(3));
  q.Add(Passed(4, 2000));
  q.Add(Passed(5, 6000));
  for (const RttStats& s : {q.Window(), q.SinceStart()}) {
    EXPECT_EQ(s.pings, 5);
    EXPECT_EQ(s.lost, 1);
    EXPECT_DOUBLE_EQ(s.lossPercent, 20.0);
    EXPECT_EQ(s.lastMicros, 6000);
    EXPECT_EQ(s.minMicros, 1000);
    EXPECT_EQ(s.maxMicros, 6000);
    EXPECT_DOUBLE_EQ(s.avgMicros, 3000.0);
    // mean(rtt^2) = (1 + 9 + 4 + 36) / 4 ms^2 = 12.5 ms^2; minus 3^2.
    EXPECT_NEAR(s.mdevMicros, std::sqrt(3.5e6), 1e-6);
    // RFC 3550 over D = 2, 1, 4 ms; the lost ping adds no D.
    double j = 0;
    for (double d : {2000.0, 1000.0, 4000.0}) j += (std::fabs(d) - j) / 16;
    EXPECT_DOUBLE_EQ(j, 418.45703125);
    EXPECT_NEAR(s.jitterMicros, j, 1e-9);
  }
}

TEST(LinkQualityStats, WindowHoldsTheLast100PingsAcrossTheRingsWrap) {
  LinkQuality q;
  q.Reset(kStart);
  // 20 lost pings first, then 100 replies: the lost ones have left the window
  // but not the run.
  for (int i = 0; i < 20; ++i) q.Add(Failed(i));
  for (int i = 0; i < 100; ++i) q.Add(Passed(20 + i, 1000 + 10 * i));
  EXPECT_EQ(q.Window().pings, 100);
  EXPECT_EQ(q.Window().lost, 0);
  EXPECT_EQ(q.Window().minMicros, 1000);
  EXPECT_EQ(q.SinceStart().lost, 20);
  EXPECT_NEAR(q.SinceStart().lossPercent, 100.0 * 20 / 120, 1e-12);
  q.Add(Failed(120));
  q.Add(Failed(121));
  EXPECT_EQ(q.Window().lost, 2);
  EXPECT_EQ(q.Window().minMicros, 1020);  // the two oldest replies went
  EXPECT_EQ(q.SinceStart().minMicros, 1000);

  // Against a plain recomputation over the newest 100 at every ping of a long,
  // irregular series: replies with gaps, repeated minima and maxima.
  LinkQuality r;
  r.Reset(kStart);
  std::vector<PingSample> all;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 450; ++i) {
    seed = seed * 1103515245u + 12345u;
    const bool passed = (seed >> 16) % 7 != 0;
    const PingSample p = passed ? Passed(i, 500 + (seed >> 8) % 4000) : Failed(i);
    all.push_back(p);
    r.Add(p);
    const std::size_t from = all.size() > 100 ? all.size() - 100 : 0;
    std::int64_t lost = 0, n = 0, lo = 0, hi = 0, last = 0;
    double sum = 0, sumSq = 0, jitter = 0;
    for (std::size_t k = from; k < all.size(); ++k) {
      if (!all[k].passed) {
        ++lost;
        continue;
      }
      const std::int64_t v = all[k].rttMicros;
      if (n > 0) jitter += (std::fabs(double(v - last)) - jitter) / 16;
      lo = n == 0 ? v : std::min(lo, v);
      hi = n == 0 ? v : std::max(hi, v);
      sum += double(v);
      sumSq += double(v) * double(v);
      last = v;
      ++n;
    }
    const RttStats w = r.Window();
    ASSERT_EQ(w.lost, lost) << "at ping " << i;
    ASSERT_EQ(w.replies, n) << "at ping " << i;
    if (n == 0) continue;
    ASSERT_EQ(w.minMicros, lo) << "at ping " << i;
    ASSERT_EQ(w.maxMicros, hi) << "at ping " << i;
    ASSERT_NEAR(w.avgMicros, sum / double(n), 1e-9) << "at ping " << i;
    ASSERT_NEAR(w.mdevMicros,
                std::sqrt(std::max(0.0, sumSq / double(n) - sum * sum / double(n * n))), 1e-6)
        << "at ping " << i;
    ASSERT_NEAR(w.jitterMicros, jitter, 1e-6) << "at ping " << i;
  }
}

TEST(OutageLedger, RunsOfFailuresFromFirstFailureToFirstReplyAndAcrossStop) {
  LinkQuality q;
  q.Reset(kStart);
  q.Add(Passed(10, 500));
  q.Add(Failed(20));
  q.Add(Failed(30));
  EXPECT_TRUE(q.LastOutage()->open);
  EXPECT_EQ(q.LastOutage()->seconds, 10);
  q.Add(Passed(40, 500));
  q.Add(Failed(60));
  q.Add(Passed(61, 500));
  q.Add(Failed(90));
  q.Stop(At(100));
  q.Add(Failed(110));  // after Stop: not counted
  ASSERT_EQ(q.KeptOutages(), 3u);
  EXPECT_EQ(q.OutageCount(), 3);
  const Outage& first = q.KeptOutage(0);
  EXPECT_EQ(CivilSeconds(first.start), CivilSeconds(At(20)));
  EXPECT_EQ(CivilSeconds(first.end), CivilSeconds(At(40)));
  EXPECT_EQ(first.seconds, 20);
  EXPECT_FALSE(first.open);
  EXPECT_EQ(q.KeptOutage(1).seconds, 1);
  // Still failing at Stop: closed there.
  EXPECT_EQ(CivilSeconds(q.KeptOutage(2).end), CivilSeconds(At(100)));
  EXPECT_EQ(q.KeptOutage(2).seconds, 10);
  EXPECT_FALSE(q.KeptOutage(2).open);
  EXPECT_EQ(q.OutageSeconds(), 31);
  EXPECT_DOUBLE_EQ(q.AvailabilityPercent(), 69.0);
  EXPECT_EQ(q.SinceStart().pings, 7);
  EXPECT_FALSE(q.Running());

  // Reset starts a clean run; a clock set back gives no negative length.
  q.Reset(At(200));
  EXPECT_EQ(q.OutageCount(), 0);
  EXPECT_EQ(q.Pings(), 0);
  EXPECT_EQ(q.LastOutage(), nullptr);
  q.Add(Failed(300));
  q.Add(Passed(250, 500));
  EXPECT_EQ(q.LastOutage()->seconds, 0);
}

TEST(OutageLedger, KeepsTheNewestOutagesAndCountsAll) {
  LinkQuality q;
  q.Reset(kStart);
  const int runs = static_cast<int>(kOutagesKept) + 5;
  for (int i = 0; i < runs; ++i) {
    q.Add(Failed(3 * i));
    q.Add(Passed(3 * i + 2, 500));
  }
  EXPECT_EQ(q.OutageCount(), runs);
  ASSERT_EQ(q.KeptOutages(), kOutagesKept);
  EXPECT_EQ(CivilSeconds(q.KeptOutage(0).start), CivilSeconds(At(15)));
  EXPECT_EQ(CivilSeconds(q.LastOutage()->start), CivilSeconds(At(3 * (runs - 1))));
  EXPECT_EQ(q.OutageSeconds(), 2 * runs);
}

TEST(QualityText, OutagesCsvBlockHasHeaderRowsAndSummary) {
  LinkQuality q;
  q.Reset(kStart);
  q.Add(Failed(5));
  q.Add(Passed(17, 800));
  q.Add(Failed(3600 + 62));
  q.Stop(At(3600 + 65));
  EXPECT_EQ(OutagesCsvBlock(q, "router, \"home\"", true),
            "start,end,seconds,destination\r\n"
            "2026-12-07T09:00:05,2026-12-07T09:00:17,12,\"router, \"\"home\"\"\"\r\n"
            "2026-12-07T10:01:02,2026-12-07T10:01:05,3,\"router, \"\"home\"\"\"\r\n"
            "# summary,2026-12-07T09:00:00,2026-12-07T10:01:05,pings=3,lost=2,outages=2,"
            "availability=99.5%\r\n");
  const std::string appended = OutagesCsvBlock(q, "192.168.1.1", false);
  EXPECT_EQ(appended.substr(0, appended.find("\r\n")),
            "2026-12-07T09:00:05,2026-12-07T09:00:17,12,192.168.1.1");
  EXPECT_EQ(CsvField(" a"), "\" a\"");
  EXPECT_EQ(CsvField("a\nb"), "\"a\nb\"");
  EXPECT_EQ(IsoLocalStamp({987, 1, 2, 3, 4, 5}), "0987-01-02T03:04:05");
}

TEST(QualityText, PingResultTipReadsStoppedAndTheRunsFigures) {
  fakes::FakeClock locale;
  LinkQuality q;
  EXPECT_EQ(PingResultTip(q, locale), "Stopped");
  q.Reset(kStart);
  q.Add(Passed(1, 420));
  q.Add(Failed(2));
  q.Add(Passed(3, 600));
  q.Add(Passed(10, 510));
  // Jitter: D = 180, 90 µs.
  EXPECT_EQ(PingResultTip(q, locale),
            "Round trip: 0.51 ms\n"
            "Loss (last 4): 25 %\n"
            "Average: 0.51 ms, jitter 0.02 ms\n"
            "Available since start: 90 %\n"
            "Last outage: 07/12/26 09:00:02, 1 s");
  q.Add(Failed(20));
  locale.dateSep = ".";
  const std::string open = PingResultTip(q, locale);
  EXPECT_NE(open.find("Round trip: no reply\n"), std::string::npos) << open;
  EXPECT_NE(open.find("Outage since 07.12.26 09:00:20, 0 s so far"), std::string::npos) << open;
  q.Stop(At(30));
  EXPECT_EQ(PingResultTip(q, locale), "Stopped");
}

TEST(QualityText, RoundTripsInWholeMillisecondsNeverReadZero) {
  fakes::FakeClock locale;
  LinkQuality q;
  q.Reset(kStart);
  q.Add(Passed(1, 0, true));
  const std::string tip = PingResultTip(q, locale);
  EXPECT_EQ(tip.substr(0, tip.find('\n')), "Round trip: < 1 ms");
  EXPECT_NE(tip.find("Average: < 1 ms, jitter < 1 ms"), std::string::npos) << tip;
  EXPECT_EQ(FormatRoundTrip(0, false), "0.00 ms");
  EXPECT_EQ(FormatRoundTrip(3000, true), "3 ms");
  EXPECT_EQ(FormatRoundTrip(1500, true), "1.50 ms");  // an average of whole readings
  EXPECT_EQ(FormatRoundTrip(12345, false), "12.3 ms");
  EXPECT_EQ(FormatRoundTrip(123456, false), "123 ms");
  EXPECT_EQ(FormatOutageLength(185), "3 min 5 s");
  EXPECT_EQ(FormatOutageLength(2 * 86400 + 7200 + 5), "2 d 2 h");
}

TEST(QualityText, GraphPointTipUsesTheCaptionsKilobytes) {
  fakes::FakeClock locale;
  locale.thousandsSep = "'";
  EXPECT_EQ(GraphPointTip(At(65), 1536 * 1024.0, 512, locale),
            "07/12/26 09:01:05\nDownstream: 1'536 KB\nUpstream: 0 KB");
}

}  // namespace quorrel
