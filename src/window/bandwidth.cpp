#include "window/bandwidth.h"

#include "common/text.h"

namespace quorrel {

std::string BandwidthSampler::AverageText(const std::array<float, kHistorySlots>& history) const {
  float sum = 0;
  for (float v : history) sum += v;
  float average = sum / 100.0f / 1024.0f;
  return FormatKilobytes(average, locale_.ThousandsSeparator());
}

// TODO(bandwidth): the interface table, the tick and the graph.
void BandwidthSampler::Setup(IpHelperApi&, ComboBox&) {}
void BandwidthSampler::SetupGraph(Canvas&) {}
void BandwidthSampler::Tick(std::int16_t&, int, Label&, Label&, bool) {}
void BandwidthSampler::ReleaseIpHelper() {}

std::string BandwidthSampler::BandwidthSummary() const {
  return "DS " + sampleTexts[0] + " - " + AverageText(historyDS) + ", US " + sampleTexts[1] +
         " - " + AverageText(historyUS);
}

}  // namespace quorrel
