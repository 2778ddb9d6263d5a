// The bandwidth sampler inside Form1: the adapter list at load, the tick, the
// history and the summary, over a scripted interface table.
#include <gtest/gtest.h>

#include "fakes/if_rows.h"
#include "form_fixture.h"

namespace quorrel {
namespace {

using fakes::Adapter;
using fakes::IfRow;
using fakes::Images;

class BandwidthTest : public fakes::FormTest {
 protected:
  std::vector<IfRow> rows{Adapter("Loopback", 1), Adapter("Ethernet", 2), Adapter("Wireless", 3)};

  void Publish() { fake.ifTable.rows = Images(rows); }
  // Loads with `rows` and starts monitoring on list position `position`.
  void Start(int position = 0) {
    Publish();
    Load();
    form->cboConnections.SetListIndex(position);
    form->cmdToggle_Click();
  }
  // Moves the counters of row `i` on by the given bytes, then ticks.
  void TickWith(std::size_t i, std::uint32_t down, std::uint32_t up) {
    rows[i].inOctets += down;
    rows[i].outOctets += up;
    Publish();
    form->tmrBandwidth_Timer();
  }
  // Sets the counters of row `i` outright, then ticks.
  void TickAt(std::size_t i, std::uint32_t in, std::uint32_t out) {
    rows[i].inOctets = in;
    rows[i].outOctets = out;
    Publish();
    form->tmrBandwidth_Timer();
  }
  BandwidthSampler& Sampler() { return form->sampler; }
  std::string Down() { return form->lblDS.Caption(); }
  std::string Up() { return form->lblUS.Caption(); }
};

TEST_F(BandwidthTest, LoadListsEveryDescriptionWithOneBlankAndSelectsTheFirst) {
  Publish();
  Load();
  EXPECT_EQ(form->cboConnections.Items(),
            (std::vector<std::string>{"Loopback ", "Ethernet ", "Wireless "}));
  EXPECT_EQ(form->cboConnections.ListIndex(), 0);
  EXPECT_EQ(fake.ifTable.calls, 2 * 4);  // one snapshot for the count, one more per entry
  EXPECT_EQ(form->lblDS.ForeColour(), kRed);
  EXPECT_EQ(form->lblUS.ForeColour(), kBlue);
  EXPECT_TRUE(fake.canvas.ops.empty());  // set-up draws nothing
}

TEST_F(BandwidthTest, LoadWithNoInterfacesLeavesTheListEmptyAndTicksShowZero) {
  Load();
  EXPECT_TRUE(form->cboConnections.Items().empty());
  EXPECT_EQ(form->cboConnections.ListIndex(), -1);
  form->cmdToggle_Click();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Down(), "Downstream: 0 KB");
  EXPECT_EQ(Up(), "Upstream: 0 KB");
  EXPECT_EQ(Sampler().selectedInterface, nullptr);
}

TEST_F(BandwidthTest, SummaryBeforeAnyTickHasEmptyCurrentValues) {
  Start();
  EXPECT_EQ(form->BandwidthSummary(), "DS  - 0 KB, US  - 0 KB");
}

TEST_F(BandwidthTest, FirstTickAfterStartTakesTheBaselineAndShowsZero) {
  rows[0].inOctets = 5'000'000;
  rows[0].outOctets = 7'000;
  Start();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Down(), "Downstream: 0 KB");
  EXPECT_EQ(Up(), "Upstream: 0 KB");
  EXPECT_EQ(Sampler().sampleSlot, 1);
  EXPECT_EQ(Sampler().historyDS[0], 0.0f);
  EXPECT_EQ(Sampler().historyUS[0], 0.0f);
  EXPECT_EQ(form->firstSample, 0);
  // ...and draws a 0 point, on the bottom edge.
  EXPECT_EQ(Sampler().Graph().graphSeries[0].points[99].y, fake.canvas.height);
  EXPECT_EQ(fake.canvas.OpsOf("polyline").size(), 2u);
}

TEST_F(BandwidthTest, CountersRisingBy2048And700Show2KbAnd1Kb) {
  Start();
  form->tmrBandwidth_Timer();
  TickWith(0, 2048, 700);
  EXPECT_EQ(Down(), "Downstream: 2 KB");
  EXPECT_EQ(Up(), "Upstream: 1 KB");
  EXPECT_EQ(Sampler().samples[0], 2048.0f);
  EXPECT_EQ(Sampler().samples[1], 700.0f);
  EXPECT_EQ(Sampler().historyDS[1], 2048.0f);
  EXPECT_EQ(Sampler().peakSample, 2048.0f);
  EXPECT_EQ(form->BandwidthSummary(), "DS 2 KB - 0 KB, US 1 KB - 0 KB");
}

TEST_F(BandwidthTest, TheSecondEntryMeasuresOnlyTheSecondInterface) {
  Start(1);
  form->tmrBandwidth_Timer();
  rows[0].inOctets += 999'999;
  rows[2].outOctets += 888'888;
  TickWith(1, 4096, 1024);
  EXPECT_EQ(Sampler().samples[0], 4096.0f);
  EXPECT_EQ(Sampler().samples[1], 1024.0f);
  EXPECT_EQ(Sampler().selectedInterface->InterfaceDescription(), "Ethernet");
}

TEST_F(BandwidthTest, Tick101OverwritesSlot1) {
  Start();
  form->tmrBandwidth_Timer();
  for (int i = 2; i <= 100; ++i) TickWith(0, 1024, 0);
  EXPECT_EQ(Sampler().sampleSlot, 100);
  EXPECT_EQ(Sampler().historyDS[0], 0.0f);
  TickWith(0, 3 * 1024, 0);
  EXPECT_EQ(Sampler().sampleSlot, 1);
  EXPECT_EQ(Sampler().historyDS[0], 3072.0f);
  EXPECT_EQ(Sampler().historyDS[1], 1024.0f);
}

TEST_F(BandwidthTest, FiftyTicksOf100KbAverage50Kb) {
  Start();
  form->tmrBandwidth_Timer();  // slot 1 holds the baseline's 0
  for (int i = 0; i < 50; ++i) TickWith(0, 100 * 1024, 100 * 1024);
  // 50 slots of 100 KB and 50 of 0 over all 100 slots.
  EXPECT_EQ(form->BandwidthSummary(), "DS 100 KB - 50 KB, US 100 KB - 50 KB");
}

TEST_F(BandwidthTest, ThousandsUseTheUsersSeparator) {
  fake.clock.thousandsSep = ".";
  Start();
  form->tmrBandwidth_Timer();
  TickWith(0, 2'000'000'000, 0);
  EXPECT_EQ(Down(), "Downstream: 1.953.125 KB");
}

TEST_F(BandwidthTest, TheUpstreamSampleRaisesThePeakToo) {
  Start();
  form->tmrBandwidth_Timer();
  TickWith(0, 1000, 3000);
  EXPECT_EQ(Sampler().peakSample, 3000.0f);
  EXPECT_EQ(Sampler().Graph().graphMax, 3000.0f);
  // Upstream at the peak stands on the top row, downstream a third of the way up.
  EXPECT_EQ(Sampler().Graph().graphSeries[1].points[99].y, 0);
  EXPECT_EQ(Sampler().Graph().graphSeries[0].points[99].y, 43);  // 65 * 2 / 3 = 43.3
  // Only a larger upstream sample moves it again; a smaller one leaves it.
  TickWith(0, 0, 2000);
  EXPECT_EQ(Sampler().peakSample, 3000.0f);
  TickWith(0, 0, 4500);
  EXPECT_EQ(Sampler().peakSample, 4500.0f);
}

TEST_F(BandwidthTest, StepsAcross2To31And2To32AreExact) {
  Start();
  TickAt(0, 0x7FFFFF00u, 0xFFFFFF00u);
  TickAt(0, 0x80000100u, 0x00000100u);
  EXPECT_EQ(Sampler().samples[0], 512.0f);
  EXPECT_EQ(Sampler().samples[1], 512.0f);
  EXPECT_EQ(Sampler().peakSample, 512.0f);
  // A whole GiB in one tick, across the wrap, counts every byte.
  TickAt(0, 0xC0000100u, 0x40000100u);
  EXPECT_EQ(Sampler().samples[0], 1073741824.0f);
  EXPECT_EQ(Sampler().samples[1], 1073741824.0f);
  EXPECT_EQ(Down(), "Downstream: 1,048,576 KB");
  // 17 MiB plus one byte: past what a single-precision counter could tell apart.
  TickAt(0, 0xC0000100u + 17 * 1048576 + 1, 0x40000100u);
  EXPECT_EQ(Sampler().samples[0], 17.0f * 1048576 + 1);
}

TEST_F(BandwidthTest, ACounterThatGoesBackGivesANegativeRateThatCountsButLeavesThePeak) {
  Start();
  TickAt(0, 100'000, 5'000);
  TickAt(0, 200'000, 6'000);
  ASSERT_EQ(Sampler().peakSample, 100'000.0f);
  TickAt(0, 1'000, 6'000);  // the adapter was reset
  EXPECT_EQ(Sampler().samples[0], -199'000.0f);
  EXPECT_EQ(Down(), "Downstream: -194 KB");
  EXPECT_EQ(Sampler().historyDS[2], -199'000.0f);
  EXPECT_EQ(Sampler().peakSample, 100'000.0f);
  // (100000 - 199000) / 100 / 1024 = -0.97 KB
  EXPECT_EQ(form->BandwidthSummary(), "DS -194 KB - -1 KB, US 0 KB - 0 KB");
}

TEST_F(BandwidthTest, PeakAndHistorySurviveStopAndStartWhichTakesANewBaseline) {
  Start();
  form->tmrBandwidth_Timer();
  TickWith(0, 50'000, 0);
  form->cmdToggle_Click();        // stop
  rows[0].inOctets += 7'000'000;  // traffic while stopped is not counted
  Publish();
  form->cmdToggle_Click();  // start
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Sampler().samples[0], 0.0f);
  EXPECT_EQ(Sampler().peakSample, 50'000.0f);
  EXPECT_EQ(Sampler().historyDS[1], 50'000.0f);
  EXPECT_EQ(Sampler().sampleSlot, 3);
}

TEST_F(BandwidthTest, NoEntryAtThePositionMeasuresZeroAndTheNextGoodTickStartsAfresh) {
  Start(2);
  form->tmrBandwidth_Timer();
  TickWith(2, 10'000, 10'000);
  ASSERT_EQ(Sampler().samples[0], 10'000.0f);

  rows.pop_back();  // the chosen adapter has gone
  Publish();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Down(), "Downstream: 0 KB");
  EXPECT_EQ(Up(), "Upstream: 0 KB");
  EXPECT_EQ(Sampler().selectedInterface, nullptr);
  EXPECT_EQ(Sampler().historyDS[2], 0.0f);

  fake.ifTable.fillAnswer = kErrorInvalidParameter;  // an unreadable table
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Down(), "Downstream: 0 KB");
  fake.ifTable.fillAnswer = kNoError;

  rows.push_back(Adapter("Wireless", 3, 50'000'000, 0));  // back, with other counters
  Publish();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Sampler().samples[0], 0.0f);  // a baseline, not a 50 MB jump
  TickWith(2, 2048, 0);
  EXPECT_EQ(Sampler().samples[0], 2048.0f);
  EXPECT_EQ(Sampler().peakSample, 10'000.0f);
}

TEST_F(BandwidthTest, AnotherInterfaceMovingIntoThePositionIsABaselineNotARate) {
  rows[2].inOctets = 1'000;
  Start(1);
  form->tmrBandwidth_Timer();
  rows.erase(rows.begin() + 1);  // "Ethernet" goes; "Wireless" moves up to position 2
  Publish();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Sampler().samples[0], 0.0f);
  TickWith(1, 512, 0);
  EXPECT_EQ(Sampler().samples[0], 512.0f);
}

TEST_F(BandwidthTest, NoSelectionOrAReleasedReaderMeasuresZero) {
  Start();
  form->cboConnections.SetListIndex(-1);
  TickWith(0, 4096, 4096);
  EXPECT_EQ(Down(), "Downstream: 0 KB");
  form->Form_QueryUnload();  // lets go of the reader
  form->tmrBandwidth_Timer();
  EXPECT_EQ(Down(), "Downstream: 0 KB");
}

TEST_F(BandwidthTest, MarkersFollowTheCheckBoxAtTheNextTick) {
  Start();
  form->tmrBandwidth_Timer();
  EXPECT_EQ(fake.canvas.OpsOf("text").size(), 2u);
  EXPECT_TRUE(fake.canvas.OpsOf("polygon").empty());
  form->chkMarkers.SetValue(1);
  fake.canvas.ops.clear();
  form->tmrBandwidth_Timer();
  EXPECT_TRUE(fake.canvas.OpsOf("text").empty());
  EXPECT_EQ(fake.canvas.OpsOf("polygon").size(), 2u);
  form->chkMarkers.SetValue(2);  // greyed is not ticked
  fake.canvas.ops.clear();
  form->tmrBandwidth_Timer();
  EXPECT_TRUE(fake.canvas.OpsOf("polygon").empty());
}

TEST_F(BandwidthTest, TheGraphTakesTheSamplesAgainstTheRunningPeak) {
  Start();
  form->tmrBandwidth_Timer();
  TickWith(0, 1000, 250);
  const auto& series = Sampler().Graph().graphSeries;
  EXPECT_EQ(series[0].points[99].y, 0);   // the peak itself
  EXPECT_EQ(series[1].points[99].y, 49);  // 65 * 0.75 = 48.75
  EXPECT_EQ(series[0].points[98].y, 65);  // the baseline tick's 0
}

}  // namespace
}  // namespace quorrel
