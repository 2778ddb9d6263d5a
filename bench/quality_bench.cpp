// The link-quality update against its anchor, the window's ping tick as the
// tests drive it (Form1 on fakes: the echo, the lamps, the tray tip, the log
// line), and the "Ping Result" tooltip built from a full window and ledger.
// Goals: the tick with the update at most 1.05 times the tick without it; the
// tooltip under 20 µs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "../tests/unit/fakes/fakes.h"
#include "platform/posix/posix_clock.h"
#include "quality/link_quality.h"
#include "quality/quality_text.h"
#include "window/form1.h"

namespace quorrel {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Ticks per timed batch: long enough that reading the clock is lost in it.
constexpr int kBatch = 64;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void NextSecond(LocalTime& t) {
  if (++t.second < 60) return;
  t.second = 0;
  if (++t.minute < 60) return;
  t.minute = 0;
  ++t.hour;
}

// A started window that pings at every tick.
struct PingingWindow {
  fakes::FakeToolkit toolkit;
  fakes::FakeClock clock;
  fakes::FakeFileSystem files;
  fakes::IdentityCodePage codePage;
  fakes::FakeProfile profile;
  fakes::FakeWinsock winsock;
  fakes::FakeIcmp icmp;
  fakes::FakeIfTable ifTable;
  fakes::FakeShell shell;
  fakes::FakeProcess process;
  fakes::RecordingCanvas canvas;
  std::unique_ptr<Form1> form;

  PingingWindow() {
    profile.sections["Options"]["IP"] = "127.0.0.1";
    profile.sections["Options"]["Interval"] = "0";
    form = std::make_unique<Form1>(Services{toolkit, clock, files, codePage, profile, winsock, icmp,
                                            ifTable, shell, process, canvas});
    form->Form_Load();
    form->cmdToggle_Click();
  }
  // Every tenth echo of the next batch times out, so the log and the lamps
  // change as they do on a flaky link.
  void ScriptBatch() {
    icmp.echoes.clear();
    icmp.statuses.clear();
    for (int i = 0; i < kBatch; ++i)
      icmp.statuses.push_back(i % 10 == 9 ? kIpReqTimedOut : kIpSuccess);
  }
};

PingSample SampleOf(const Form1& form, const LocalTime& when, int i) {
  return {form.pingState == 1, when, 400 + (i * 37) % 300, false};
}

// Each iteration runs a batch of bare ticks and a batch of ticks each followed
// by the update, back to back, so both medians come from the same moments of
// a shared machine.
void BM_PingTick_QualityUpdateVsBareTick(benchmark::State& state) {
  PingingWindow bare;
  PingingWindow updated;
  LinkQuality quality;
  quality.Reset(updated.clock.now);
  std::vector<double> bareNs, updatedNs;
  for (auto _ : state) {
    bare.ScriptBatch();
    updated.ScriptBatch();
    const auto t0 = SteadyClock::now();
    for (int i = 0; i < kBatch; ++i) {
      NextSecond(bare.clock.now);
      bare.form->tmrPing_Timer();
    }
    const auto t1 = SteadyClock::now();
    for (int i = 0; i < kBatch; ++i) {
      NextSecond(updated.clock.now);
      updated.form->tmrPing_Timer();
      quality.Add(SampleOf(*updated.form, updated.clock.now, i));
    }
    const auto t2 = SteadyClock::now();
    bareNs.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / kBatch);
    updatedNs.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / kBatch);
  }
  if (quality.SinceStart().lost == 0) state.SkipWithError("the scripted timeouts did not arrive");
  const double b = Median(bareNs);
  const double u = Median(updatedNs);
  state.counters["tick_ns"] = b;
  state.counters["tick_with_update_ns"] = u;
  state.counters["ratio"] = u / b;
}
BENCHMARK(BM_PingTick_QualityUpdateVsBareTick)->Iterations(20000)->Unit(benchmark::kMicrosecond);

// The update alone, over a window already full and wrapping.
void BM_QualityAdd(benchmark::State& state) {
  LinkQuality quality;
  LocalTime now{2026, 12, 7, 9, 0, 0};
  quality.Reset(now);
  int i = 0;
  for (auto _ : state) {
    NextSecond(now);
    ++i;
    quality.Add({i % 10 != 9, now, 400 + (i * 37) % 300, false});
    benchmark::DoNotOptimize(quality);
  }
}
BENCHMARK(BM_QualityAdd);

// The tooltip with every line present, separators from the real locale
// service as the face would ask.
void BM_PingResultTip(benchmark::State& state) {
  posix::LocaleClock locale;
  LinkQuality quality;
  LocalTime now{2026, 12, 7, 9, 0, 0};
  quality.Reset(now);
  for (int i = 0; i < 5000; ++i) {
    NextSecond(now);
    quality.Add({i % 97 > 2, now, 400 + (i * 37) % 300, false});
  }
  for (auto _ : state) benchmark::DoNotOptimize(PingResultTip(quality, locale));
}
BENCHMARK(BM_PingResultTip)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorrel
