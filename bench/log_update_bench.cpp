// The log box updated on a full 3000-character log: one line added through
// the model and the Qt face (AddLogLine: time stamp, trim, the face's edit,
// the repaint) against the anchor, the same box edited by hand the cheapest
// way Qt offers: drop the first line and append one with a QTextCursor.
// Both run in the same iteration; the counters give each and their ratio.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_main_window.h"

namespace quorrel {
namespace {

// Widgets need a QApplication; offscreen unless told otherwise.
bool EnsureWidgetApplication() {
  if (QCoreApplication::instance()) return qobject_cast<QApplication*>(QCoreApplication::instance());
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "quorrel_bench";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return true;
}

// A ping line as the program writes it, about 90 characters with its stamp.
std::string PingMessage(int i) {
  return "Ping 127.0.0.1 passed : Down " + std::to_string(1000 + i % 900) +
         " KB/s, Up 12 KB/s, Avg Down 950 KB/s, Avg Up 11 KB/s";
}

void BM_LogUpdate_FaceVsDropAndAppend(benchmark::State& state) {
  if (!EnsureWidgetApplication()) {
    state.SkipWithError("a non-widget application object exists; run with --benchmark_filter=LogUpdate");
    return;
  }
  qt::LinuxServices services;
  qt::MainWindow window(services);
  window.show();
  Form1& form = window.Form();
  auto* faceLog = qobject_cast<QPlainTextEdit*>(window.WidgetOf("txtOut"));
  for (int i = 0; i < 60; ++i) form.AddLogLine(PingMessage(i));  // full: at its bound

  // The anchor: a box of the same size holding the same text.
  QPlainTextEdit anchor;
  anchor.setReadOnly(true);
  anchor.setUndoRedoEnabled(false);
  anchor.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  anchor.setFont(faceLog->font());
  anchor.resize(faceLog->size());
  anchor.setPlainText(faceLog->toPlainText());
  anchor.show();
  QCoreApplication::processEvents();

  // With 1 each side also repaints (the event loop runs); with 0 only the
  // document edit and its layout are timed.
  const bool repaint = state.range(0) != 0;
  using Clock = std::chrono::steady_clock;
  Clock::duration faceTime{}, anchorTime{};
  int i = 60;
  for (auto _ : state) {
    const std::string message = PingMessage(i++);
    auto t0 = Clock::now();
    form.AddLogLine(message);
    if (repaint) QCoreApplication::processEvents();
    auto t1 = Clock::now();
    {
      QTextCursor cursor(anchor.document());
      cursor.movePosition(QTextCursor::Start);
      cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
      cursor.movePosition(QTextCursor::End);
      cursor.insertText(QString::fromStdString("08/12/26 08:41:39 - " + message + "\n"));
      anchor.verticalScrollBar()->setValue(anchor.verticalScrollBar()->maximum());
    }
    if (repaint) QCoreApplication::processEvents();
    auto t2 = Clock::now();
    faceTime += t1 - t0;
    anchorTime += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  const double face = std::chrono::duration<double, std::micro>(faceTime).count() / n;
  const double drop = std::chrono::duration<double, std::micro>(anchorTime).count() / n;
  state.counters["face_us"] = face;
  state.counters["anchor_us"] = drop;
  state.counters["ratio"] = drop > 0 ? face / drop : 0;
  state.counters["log_chars"] = static_cast<double>(form.txtOut.Text().size());
}
BENCHMARK(BM_LogUpdate_FaceVsDropAndAppend)
    ->ArgName("repaint")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace quorrel
