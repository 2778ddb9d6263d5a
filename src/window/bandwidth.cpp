#include "window/bandwidth.h"

#include "common/text.h"

namespace quorrel {

std::int32_t CounterStep(std::int32_t current, std::int32_t last) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(current) -
                                   static_cast<std::uint32_t>(last));
}

std::string BandwidthSampler::AverageText(const std::array<float, kHistorySlots>& history) const {
  float sum = 0;
  for (float v : history) sum += v;
  float average = sum / 100.0f / 1024.0f;
  return FormatKilobytes(average, locale_.ThousandsSeparator());
}

void BandwidthSampler::Setup(IpHelperApi& api, ComboBox& adapters) {
  ipHelper = std::make_shared<CIpHelper>(api, codePage_);
  const IfTableReadBatch batch(api);
  const std::int32_t n = ipHelper->Interfaces()->Count();
  for (std::int32_t i = 1; i <= n; ++i) {
    try {
      adapters.AddItem(ipHelper->Interfaces()->Item(i)->InterfaceDescription() + " ");
    } catch (const IndexError&) {
      // The table shrank between the snapshots.
    }
  }
  if (!adapters.Items().empty()) adapters.SetListIndex(0);
}

void BandwidthSampler::SetupGraph(Canvas& canvas) {
  canvas_ = &canvas;
  seriesColours = {kRed, kBlue};
  graph_.SetupGraph(canvas, seriesColours);
}

std::shared_ptr<CInterface> BandwidthSampler::EntryAt(int listIndex) {
  if (!ipHelper) return nullptr;
  std::shared_ptr<CInterfaces> snapshot = ipHelper->Interfaces();
  if (listIndex < 0 || listIndex >= snapshot->Count()) return nullptr;
  return snapshot->Item(listIndex + 1);
}

void BandwidthSampler::Tick(std::int16_t& firstSample, int listIndex, Label& lblDS, Label& lblUS,
                            bool markers) {
  selectedInterface = EntryAt(listIndex);
  if (++sampleSlot > kHistorySlots) sampleSlot = 1;
  if (selectedInterface) {
    totalDS = selectedInterface->OctetsReceived();
    totalUS = selectedInterface->OctetsSent();
    // Positions shift when an interface ahead of the chosen one comes or goes:
    // its counters are no baseline for this one.
    if (selectedInterface->InterfaceIndex() != lastInterfaceIndex_) firstSample = -1;
    lastInterfaceIndex_ = selectedInterface->InterfaceIndex();
    if (firstSample) {
      lastTotalDS = totalDS;
      lastTotalUS = totalUS;
      firstSample = 0;
    }
    samples[0] = static_cast<float>(CounterStep(totalDS, lastTotalDS));
    samples[1] = static_cast<float>(CounterStep(totalUS, lastTotalUS));
    lastTotalDS = totalDS;
    lastTotalUS = totalUS;
  } else {
    samples = {0.0f, 0.0f};
    firstSample = -1;
  }
  historyDS[sampleSlot - 1] = samples[0];
  historyUS[sampleSlot - 1] = samples[1];
  const std::string sep = locale_.ThousandsSeparator();
  sampleTexts[0] = FormatKilobytes(samples[0] / 1024.0f, sep);
  sampleTexts[1] = FormatKilobytes(samples[1] / 1024.0f, sep);
  lblDS.SetCaption("Downstream: " + sampleTexts[0]);
  lblUS.SetCaption("Upstream: " + sampleTexts[1]);
  if (samples[0] > peakSample) peakSample = samples[0];
  if (samples[1] > peakSample) peakSample = samples[1];
  if (canvas_) {
    graph_.SetGraphScale(*canvas_, peakSample);
    graph_.DrawGraph(samples, *canvas_, markers);
  }
}

std::string BandwidthSampler::BandwidthSummary() const {
  return "DS " + sampleTexts[0] + " - " + AverageText(historyDS) + ", US " + sampleTexts[1] +
         " - " + AverageText(historyUS);
}

}  // namespace quorrel
