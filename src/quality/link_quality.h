#pragma once
// Link quality beyond pass/fail: round-trip statistics, loss and jitter over
// the last 100 pings and since Start, and the ledger of outages.
//
// The window calls Reset at Start, Add with each ping result, Stop at Stop.
// Add costs O(1) (the window's minimum and maximum amortised over the pings)
// and allocates nothing; the ledger's storage is taken once, when the object
// is built, and kept across Resets.
//
// Times are the clock port's local wall-clock times, whole seconds. Lengths
// are differences of those readings, so a daylight-saving change inside an
// outage moves its length by the shift; a clock set back gives 0, never a
// negative length.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"

namespace quorrel {

inline constexpr int kQualityWindow = 100;         // pings in the recent window
inline constexpr std::size_t kOutagesKept = 1000;  // newest outages kept in full
// Round trips are clamped into [0, 60 s], so the window's sum of squares stays
// exact in 64 bits.
inline constexpr std::int64_t kMaxRttMicros = 60'000'000;

struct PingSample {
  bool passed = false;
  LocalTime when;
  std::int64_t rttMicros = 0;  // read only when passed
  bool wholeMillis = false;    // Windows' echo reply: the round trip in whole ms
};

// Round-trip figures over a span of pings. The RTT figures mean something
// only when replies > 0.
struct RttStats {
  std::int64_t pings = 0;
  std::int64_t lost = 0;
  std::int64_t replies = 0;
  double lossPercent = 0;       // 0 with no pings
  std::int64_t lastMicros = 0;  // the newest reply's
  std::int64_t minMicros = 0;
  std::int64_t maxMicros = 0;
  double avgMicros = 0;
  double mdevMicros = 0;  // sqrt(mean(rtt^2) - mean(rtt)^2), as ping's summary
  // RFC 3550 interarrival jitter of successive replies, J += (|D| - J) / 16,
  // J starting at 0 with the span's first reply; a failed ping in between
  // adds no D, the replies either side of it are successive.
  double jitterMicros = 0;
  bool wholeMillis = false;  // the newest reply's flag
};

// One run of failed pings: from the first failed ping's time to the first
// passed ping's time after it, or to the Stop time when the run ends first.
// While it lasts, `end` is the newest failed ping's time and `open` is set.
struct Outage {
  LocalTime start;
  LocalTime end;
  std::int64_t seconds = 0;
  bool open = false;
};

namespace quality_detail {

// A queue in a fixed ring: no allocation, at most N elements.
template <typename T, std::size_t N>
class FixedQueue {
 public:
  bool Empty() const { return size_ == 0; }
  std::size_t Size() const { return size_; }
  const T& Front() const { return items_[head_]; }
  const T& Back() const { return items_[Wrap(head_ + size_ - 1)]; }
  void PushBack(const T& v) {
    items_[Wrap(head_ + size_)] = v;
    ++size_;
  }
  void PopFront() {
    head_ = Wrap(head_ + 1);
    --size_;
  }
  void PopBack() { --size_; }

 private:
  // Indices never reach 2N, so one subtraction wraps them.
  static std::size_t Wrap(std::size_t i) { return i >= N ? i - N : i; }

  std::array<T, N> items_{};
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace quality_detail

class LinkQuality {
 public:
  LinkQuality();

  // Start: forgets everything and begins a run at `start`.
  void Reset(const LocalTime& start);
  // One ping result; ignored unless a run is going.
  void Add(const PingSample& ping);
  // Stop: closes an open outage at `stop` and ends the run. The figures stay
  // readable until the next Reset.
  void Stop(const LocalTime& stop);

  bool Running() const { return running_; }
  bool Started() const { return started_; }  // a Reset has happened
  std::int64_t Pings() const { return allPings_; }
  const PingSample& LastPing() const { return last_; }  // valid when Pings() > 0
  const LocalTime& StartTime() const { return startTime_; }
  // The Stop time once stopped, else the newest ping's time (the start
  // before any ping).
  const LocalTime& LatestTime() const { return latestTime_; }

  RttStats Window() const;      // the last kQualityWindow pings
  RttStats SinceStart() const;  // every ping since Reset

  // The share of the run's time, Start to LatestTime, spent outside outages,
  // in percent. A run of no length gives the share of passed pings (100 with
  // none).
  double AvailabilityPercent() const;

  // The ledger: every outage of the run counted, the newest kOutagesKept kept.
  std::int64_t OutageCount() const { return outageCount_; }
  std::int64_t OutageSeconds() const;  // all outages of the run, an open one to date
  std::size_t KeptOutages() const { return keptCount_; }
  const Outage& KeptOutage(std::size_t i) const;  // 0 = oldest kept
  const Outage* LastOutage() const;               // the newest, open or not; null if none

 private:
  struct Slot {
    bool passed = false;
    std::int64_t rtt = 0;
    std::int64_t dAbs = 0;  // |rtt - previous reply in the window|, when hasD
    bool hasD = false;
  };
  // Queues of slot indices: an index names one ping while it is in the window.
  using SlotQueue = quality_detail::FixedQueue<std::size_t, kQualityWindow>;

  explicit LinkQuality(std::vector<Outage>&& ledger);
  void Evict(std::size_t slot);
  Outage& NewestOutage();
  void CloseOutage(const LocalTime& end);
  void SetEnd(Outage& outage, const LocalTime& end);

  bool started_ = false;
  bool running_ = false;
  PingSample last_;
  LocalTime startTime_;
  LocalTime latestTime_;

  // The window: a ring of slots, `nextSlot_` the one the next ping takes.
  std::array<Slot, kQualityWindow> slots_{};
  std::size_t nextSlot_ = 0;
  std::int64_t windowPings_ = 0;
  std::int64_t windowLost_ = 0;
  std::int64_t windowSum_ = 0;
  std::int64_t windowSumSq_ = 0;
  double windowJitter_ = 0;
  bool windowWholeMillis_ = false;
  SlotQueue replies_;   // passed pings in the window, oldest first
  SlotQueue minQueue_;  // replies with rising round trips: the minimum in front
  SlotQueue maxQueue_;  // replies with falling round trips: the maximum in front

  // Since Start.
  std::int64_t allPings_ = 0;
  std::int64_t allLost_ = 0;
  std::int64_t allSum_ = 0;
  double allSumSq_ = 0;  // may pass 2^63 µs² in a long run
  std::int64_t allMin_ = 0;
  std::int64_t allMax_ = 0;
  std::int64_t allLastRtt_ = 0;
  double allJitter_ = 0;
  bool allWholeMillis_ = false;

  // The ledger: a ring of kOutagesKept entries, taken at construction.
  std::vector<Outage> outages_;
  std::size_t keptHead_ = 0;
  std::size_t keptCount_ = 0;
  std::int64_t outageCount_ = 0;
  bool outageOpen_ = false;  // the newest kept outage still lasts
  std::int64_t closedOutageSeconds_ = 0;
};

// Seconds from 1970-01-01 00:00:00 to `t`, its fields read as a date and time
// without any zone.
std::int64_t CivilSeconds(const LocalTime& t);

}  // namespace quorrel
