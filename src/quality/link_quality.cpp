#include "quality/link_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quorrel {
namespace {

constexpr std::size_t kWindow = kQualityWindow;
constexpr double kJitterGain = 1.0 / 16.0;

// (15/16)^k: the weight left of a D that the filter has seen k later D since.
// The window's oldest D has m - 2 after it among m replies; this is what it
// still contributes when its reply leaves.
const std::array<double, kWindow>& DecayPowers() {
  static const std::array<double, kWindow> powers = [] {
    std::array<double, kWindow> p{};
    p[0] = 1.0;
    for (std::size_t k = 1; k < kWindow; ++k) p[k] = p[k - 1] * (1.0 - kJitterGain);
    return p;
  }();
  return powers;
}

std::int64_t Seconds(const LocalTime& from, const LocalTime& to) {
  return std::max<std::int64_t>(0, CivilSeconds(to) - CivilSeconds(from));
}

}  // namespace

std::int64_t CivilSeconds(const LocalTime& t) {
  // Days from the civil date, counting from 0000-03-01 so the leap day ends a year.
  const std::int64_t y = t.year - (t.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (t.month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + t.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = era * 146097 + doe - 719468;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

LinkQuality::LinkQuality() : outages_(kOutagesKept) {}

void LinkQuality::Reset(const LocalTime& start) {
  // The ledger's storage stays; everything else starts over.
  std::vector<Outage> ledger = std::move(outages_);
  *this = LinkQuality(std::move(ledger));
  started_ = true;
  running_ = true;
  startTime_ = start;
  latestTime_ = start;
}

LinkQuality::LinkQuality(std::vector<Outage>&& ledger) : outages_(std::move(ledger)) {}

void LinkQuality::Add(const PingSample& ping) {
  if (!running_) return;
  last_ = ping;
  last_.rttMicros = ping.passed ? std::clamp<std::int64_t>(ping.rttMicros, 0, kMaxRttMicros) : 0;
  latestTime_ = ping.when;
  const std::int64_t rtt = last_.rttMicros;

  const std::size_t at = nextSlot_;
  nextSlot_ = at + 1 == kWindow ? 0 : at + 1;
  if (windowPings_ == static_cast<std::int64_t>(kWindow))
    Evict(at);
  else
    ++windowPings_;
  Slot& slot = slots_[at];
  slot = Slot{};
  slot.passed = ping.passed;
  ++allPings_;
  if (ping.passed) {
    slot.rtt = rtt;
    if (!replies_.Empty()) {
      slot.dAbs = std::llabs(rtt - slots_[replies_.Back()].rtt);
      slot.hasD = true;
      windowJitter_ += (static_cast<double>(slot.dAbs) - windowJitter_) * kJitterGain;
    }
    replies_.PushBack(at);
    windowSum_ += rtt;
    windowSumSq_ += rtt * rtt;
    while (!minQueue_.Empty() && slots_[minQueue_.Back()].rtt >= rtt) minQueue_.PopBack();
    minQueue_.PushBack(at);
    while (!maxQueue_.Empty() && slots_[maxQueue_.Back()].rtt <= rtt) maxQueue_.PopBack();
    maxQueue_.PushBack(at);
    windowWholeMillis_ = ping.wholeMillis;

    if (allPings_ - allLost_ == 1) {
      allMin_ = allMax_ = rtt;
    } else {
      const double d = static_cast<double>(std::llabs(rtt - allLastRtt_));
      allJitter_ += (d - allJitter_) * kJitterGain;
      allMin_ = std::min(allMin_, rtt);
      allMax_ = std::max(allMax_, rtt);
    }
    allSum_ += rtt;
    allSumSq_ += static_cast<double>(rtt) * static_cast<double>(rtt);
    allLastRtt_ = rtt;
    allWholeMillis_ = ping.wholeMillis;

    if (outageOpen_) CloseOutage(ping.when);
  } else {
    ++windowLost_;
    ++allLost_;
    if (outageOpen_) {
      SetEnd(NewestOutage(), ping.when);
    } else {
      ++outageCount_;
      std::size_t kept;
      if (keptCount_ < kOutagesKept) {
        kept = (keptHead_ + keptCount_++) % kOutagesKept;
      } else {
        kept = keptHead_;
        keptHead_ = (keptHead_ + 1) % kOutagesKept;
      }
      outages_[kept] = Outage{ping.when, ping.when, 0, true};
      outageOpen_ = true;
    }
  }
}

// Takes the ping in `at` out of the window's figures. The jitter loses the
// term of the D between this reply and the next one, which leaves exactly the
// filter run from the next reply on.
void LinkQuality::Evict(std::size_t at) {
  const Slot& slot = slots_[at];
  if (!slot.passed) {
    --windowLost_;
    return;
  }
  windowSum_ -= slot.rtt;
  windowSumSq_ -= slot.rtt * slot.rtt;
  const std::size_t replies = replies_.Size();
  replies_.PopFront();
  if (minQueue_.Front() == at) minQueue_.PopFront();
  if (maxQueue_.Front() == at) maxQueue_.PopFront();
  if (replies_.Empty()) {
    windowJitter_ = 0;
    return;
  }
  Slot& next = slots_[replies_.Front()];
  if (replies == 2) {
    // No D is left; set exactly rather than leave rounding behind.
    windowJitter_ = 0;
  } else {
    windowJitter_ -= DecayPowers()[replies - 2] * kJitterGain * static_cast<double>(next.dAbs);
    windowJitter_ = std::max(0.0, windowJitter_);
  }
  next.hasD = false;
  next.dAbs = 0;
}

void LinkQuality::CloseOutage(const LocalTime& end) {
  Outage& outage = NewestOutage();
  SetEnd(outage, end);
  outage.open = false;
  outageOpen_ = false;
  closedOutageSeconds_ += outage.seconds;
}

void LinkQuality::Stop(const LocalTime& stop) {
  if (!running_) return;
  if (outageOpen_) CloseOutage(stop);
  latestTime_ = stop;
  running_ = false;
}

Outage& LinkQuality::NewestOutage() {
  return outages_[(keptHead_ + keptCount_ - 1) % kOutagesKept];
}

void LinkQuality::SetEnd(Outage& outage, const LocalTime& end) {
  outage.end = end;
  outage.seconds = Seconds(outage.start, end);
}

namespace {

// The figures that follow from the counts and the sums alone; the caller
// adds the rest when there are replies.
RttStats FromSums(std::int64_t pings, std::int64_t lost, double sum, double sumSq) {
  RttStats s;
  s.pings = pings;
  s.lost = lost;
  s.replies = pings - lost;
  if (s.pings > 0)
    s.lossPercent = 100.0 * static_cast<double>(s.lost) / static_cast<double>(s.pings);
  if (s.replies == 0) return s;
  const double n = static_cast<double>(s.replies);
  s.avgMicros = sum / n;
  s.mdevMicros = std::sqrt(std::max(0.0, sumSq / n - s.avgMicros * s.avgMicros));
  return s;
}

}  // namespace

RttStats LinkQuality::Window() const {
  RttStats s = FromSums(windowPings_, windowLost_, static_cast<double>(windowSum_),
                        static_cast<double>(windowSumSq_));
  if (s.replies == 0) return s;
  s.lastMicros = slots_[replies_.Back()].rtt;
  s.minMicros = slots_[minQueue_.Front()].rtt;
  s.maxMicros = slots_[maxQueue_.Front()].rtt;
  s.jitterMicros = windowJitter_;
  s.wholeMillis = windowWholeMillis_;
  return s;
}

RttStats LinkQuality::SinceStart() const {
  RttStats s = FromSums(allPings_, allLost_, static_cast<double>(allSum_), allSumSq_);
  if (s.replies == 0) return s;
  s.lastMicros = allLastRtt_;
  s.minMicros = allMin_;
  s.maxMicros = allMax_;
  s.jitterMicros = allJitter_;
  s.wholeMillis = allWholeMillis_;
  return s;
}

std::int64_t LinkQuality::OutageSeconds() const {
  const Outage* newest = LastOutage();
  return closedOutageSeconds_ + (newest && newest->open ? newest->seconds : 0);
}

double LinkQuality::AvailabilityPercent() const {
  const std::int64_t run = Seconds(startTime_, latestTime_);
  if (run == 0) {
    if (allPings_ == 0) return 100.0;
    return 100.0 * static_cast<double>(allPings_ - allLost_) / static_cast<double>(allPings_);
  }
  const double up = static_cast<double>(run - std::min(run, OutageSeconds()));
  return 100.0 * up / static_cast<double>(run);
}

const Outage& LinkQuality::KeptOutage(std::size_t i) const {
  return outages_[(keptHead_ + i) % kOutagesKept];
}

const Outage* LinkQuality::LastOutage() const {
  if (keptCount_ == 0) return nullptr;
  return &KeptOutage(keptCount_ - 1);
}

}  // namespace quorrel
