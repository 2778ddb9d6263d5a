#pragma once
// modGraph: the two 100-point scrolling plots of the graph area. Points are
// kept as finished pixels in the layout Polyline takes, so a later change of
// scale moves only the points appended after it.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/files.h"

namespace quorrel {

inline constexpr int kGraphPoints = 100;

struct GraphSeries {
  Colour colour = 0;
  std::array<Point, kGraphPoints> points{};  // 0 oldest (left) to 99 newest (right edge)
};

class ModGraph {
 public:
  explicit ModGraph(CodePage& codePage) : codePage_(codePage) {}

  // Start-up, once the series colours are chosen: scale 100, the steps from
  // the area's size, every point resting on y = H, the labels. Draws nothing.
  void SetupGraph(Canvas& area, std::span<const Colour> colours);
  // Drops the old series and makes 0..lastIndex afresh in `colours`.
  void InitGraph(std::int16_t lastIndex, std::span<const Colour> colours);
  // A peak of 0 becomes 1, so the scale never divides by 0.
  void SetGraphScale(Canvas& area, float peak);
  // Scrolls, appends `samples` (one per series; missing ones count as 0) as
  // the newest points and redraws, heads marked by diamonds or by labels.
  void DrawGraph(std::span<const float> samples, Canvas& area, bool markers);

  std::vector<GraphSeries> graphSeries;
  std::array<std::string, 2> graphLabels;
  float graphMax = 100.0f;
  float graphYScale = 0;
  float graphXStep = 0;

 private:
  void ScrollGraph();
  void DrawSeriesLine(Canvas& area, const GraphSeries& series);
  void DrawSeriesMarker(Canvas& area, Point newest, const GraphSeries& series);
  // Where a label was written, for the label drawn after it.
  struct LabelBox {
    std::int32_t left, top, width, height;
  };
  // `before` is the label of the series drawn before this one, if any.
  LabelBox DrawSeriesLabel(Canvas& area, Point newest, const GraphSeries& series,
                           const std::string& label, const LabelBox* before);

  CodePage& codePage_;
};

}  // namespace quorrel
