// One bandwidth tick as the Qt face runs it: a snapshot of this machine's
// interface table, the sampler's arithmetic and captions, and DrawGraph into
// the graph's persistent image. The two halves are also measured apart.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <array>
#include <cstdlib>

#include "../tests/unit/fakes/fakes.h"
#include "graph/mod_graph.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/if_table.h"
#include "platform/qt/image_canvas.h"
#include "window/bandwidth.h"

namespace quorrel {
namespace {

// The graph area's inner size in the Qt face.
constexpr int kGraphWidth = 509;
constexpr int kGraphHeight = 61;

const ControlLayout kDsSpec{"lblDS", ControlKind::kLabel, "Downstream:", {}, -1};
const ControlLayout kUsSpec{"lblUS", ControlKind::kLabel, "Upstream:", {}, -1};
const ControlLayout kListSpec{"cboConnections", ControlKind::kComboBox, "", {}, -1};

// Fonts need an application object; offscreen unless told otherwise.
void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "quorrel_bench";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);
}

void RunTicks(benchmark::State& state, IpHelperApi& table, bool markers) {
  EnsureApplication();
  posix::LocaleClock clock;
  posix::Utf8CodePage codePage;
  qt::ImageCanvas canvas(kGraphWidth, kGraphHeight);
  ComboBox adapters(kListSpec);
  Label lblDS(kDsSpec), lblUS(kUsSpec);
  BandwidthSampler sampler(clock, codePage);
  sampler.Setup(table, adapters);
  sampler.SetupGraph(canvas);
  std::int16_t firstSample = -1;
  for (auto _ : state) sampler.Tick(firstSample, 0, lblDS, lblUS, markers);
  if (canvas.LiveObjects() != 0) state.SkipWithError("drawing objects outlived the ticks");
}

void BM_Tick_NetlinkAndQtCanvas(benchmark::State& state) {
  posix::NetlinkIfTable table;
  RunTicks(state, table, state.range(0) != 0);
}

// The same tick over a ready-made four-row table: the sampler and the drawing alone.
void BM_Tick_FakeTableAndQtCanvas(benchmark::State& state) {
  fakes::FakeIfTable table;
  for (int i = 0; i < 4; ++i) table.rows.emplace_back(kIfRowSize);
  RunTicks(state, table, state.range(0) != 0);
}

void BM_DrawGraph_QtCanvas(benchmark::State& state) {
  EnsureApplication();
  posix::Utf8CodePage codePage;
  qt::ImageCanvas canvas(kGraphWidth, kGraphHeight);
  ModGraph graph(codePage);
  const std::array<Colour, 2> colours{kRed, kBlue};
  graph.SetupGraph(canvas, colours);
  float sample = 0;
  for (auto _ : state) {
    sample = sample > 5000 ? 0 : sample + 731;
    const std::array<float, 2> samples{sample, 5000 - sample};
    graph.SetGraphScale(canvas, 5000);
    graph.DrawGraph(samples, canvas, false);
  }
}

BENCHMARK(BM_Tick_NetlinkAndQtCanvas)
    ->ArgName("markers")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tick_FakeTableAndQtCanvas)
    ->ArgName("markers")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DrawGraph_QtCanvas)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quorrel
