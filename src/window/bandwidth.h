#pragma once
// The bandwidth sampler: bytes down and up through the chosen adapter each
// tick, a 100-slot history of them, and the summary the ping lines carry.
#include <array>
#include <string>

#include "platform/canvas.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/iphlpapi.h"
#include "window/controls.h"

namespace quorrel {

inline constexpr int kHistorySlots = 100;

class BandwidthSampler {
 public:
  BandwidthSampler(Clock& locale, CodePage& codePage) : locale_(locale), codePage_(codePage) {}

  // Start-up: creates the interface-table reader and fills the adapter list.
  void Setup(IpHelperApi& api, ComboBox& adapters);
  // Start-up: the graph's scale and its resting points.
  void SetupGraph(Canvas& canvas);
  // One tick: measures the adapter at `listIndex` (0-based) and draws.
  void Tick(std::int16_t& firstSample, int listIndex, Label& lblDS, Label& lblUS, bool markers);
  // Shutdown: lets go of the interface-table reader.
  void ReleaseIpHelper();

  // "DS " + current + " - " + average + ", US " + current + " - " + average,
  // the averages over all 100 slots (slots not yet written count as 0).
  std::string BandwidthSummary() const;

  short sampleSlot = 0;  // slot written by the latest tick, 1 to 100
  std::array<float, kHistorySlots> historyDS{};
  std::array<float, kHistorySlots> historyUS{};
  std::array<float, 2> samples{};
  std::array<std::string, 2> sampleTexts;
  float peakSample = 0;

 private:
  std::string AverageText(const std::array<float, kHistorySlots>& history) const;

  Clock& locale_;
  CodePage& codePage_;
};

}  // namespace quorrel
