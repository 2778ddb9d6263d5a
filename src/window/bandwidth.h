#pragma once
// The bandwidth sampler: bytes down and up through the chosen adapter each
// tick, a 100-slot history of them, the summary the ping lines carry, and the
// graph they are drawn in.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "graph/mod_graph.h"
#include "interfaces/c_ip_helper.h"
#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/iphlpapi.h"
#include "window/controls.h"

namespace quorrel {

inline constexpr int kHistorySlots = 100;

// Bytes a 32-bit counter moved between two reads: the difference modulo 2^32
// read as signed, so a step of up to 2 GiB is exact across the counter's wrap
// and a counter that went back (an adapter reset) still gives a negative rate.
std::int32_t CounterStep(std::int32_t current, std::int32_t last);

class BandwidthSampler {
 public:
  BandwidthSampler(Clock& locale, CodePage& codePage)
      : locale_(locale), codePage_(codePage), graph_(codePage) {}

  // Start-up: creates the interface-table reader and fills the adapter list,
  // one snapshot per entry. With no interfaces the list stays empty and
  // nothing is selected; an entry gone by the time its snapshot is read is
  // left out.
  void Setup(IpHelperApi& api, ComboBox& adapters);
  // Start-up: the series colours, the graph's scale and its resting points.
  void SetupGraph(Canvas& canvas);
  // One tick: measures the adapter at `listIndex` (0-based) and draws.
  // With no entry at that position (empty or unreadable table, adapter gone,
  // nothing selected), or a different interface there than at the last tick,
  // the tick measures 0 and the next tick takes a new baseline.
  void Tick(std::int16_t& firstSample, int listIndex, Label& lblDS, Label& lblUS, bool markers);
  // Shutdown: lets go of the interface-table reader.
  void ReleaseIpHelper() { ipHelper.reset(); }

  // "DS " + current + " - " + average + ", US " + current + " - " + average,
  // the averages over all 100 slots (slots not yet written count as 0).
  std::string BandwidthSummary() const;

  const ModGraph& Graph() const { return graph_; }

  std::shared_ptr<CIpHelper> ipHelper;
  short sampleSlot = 0;  // slot written by the latest tick, 1 to 100
  std::array<float, kHistorySlots> historyDS{};
  std::array<float, kHistorySlots> historyUS{};
  std::array<float, 2> samples{};
  std::array<std::string, 2> sampleTexts;
  float peakSample = 0;
  std::array<Colour, 2> seriesColours{};
  std::shared_ptr<CInterface> selectedInterface;
  // The counters as the entry holds them. Kept as 32-bit integers, not as
  // floats, so the per-tick step stays exact past 16 MiB.
  std::int32_t totalDS = 0;
  std::int32_t totalUS = 0;
  std::int32_t lastTotalDS = 0;
  std::int32_t lastTotalUS = 0;

 private:
  std::string AverageText(const std::array<float, kHistorySlots>& history) const;
  std::shared_ptr<CInterface> EntryAt(int listIndex);

  Clock& locale_;
  CodePage& codePage_;
  ModGraph graph_;
  Canvas* canvas_ = nullptr;
  std::int32_t lastInterfaceIndex_ = 0;
};

}  // namespace quorrel
