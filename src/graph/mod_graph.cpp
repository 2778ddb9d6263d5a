#include "graph/mod_graph.h"

#include <algorithm>
#include <limits>

#include "common/number.h"

namespace quorrel {
namespace {

constexpr int kMarkerReach = 3;  // the diamond is seven pixels across
constexpr int kLabelGap = 4;     // between two labels that would meet

// Only a negative sample far beyond the peak leaves the 32-bit range; such a
// point is clamped to the range's edge, which lies far outside the area anyway.
std::int32_t Nearest(double value) {
  return static_cast<std::int32_t>(RoundClamped(value, std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max()));
}

std::int32_t Offset(std::int32_t value, std::int64_t by) {
  return Nearest(static_cast<double>(static_cast<std::int64_t>(value) + by));
}

// A pen or brush made for one draw: selected on construction; on leaving the
// draw the previous object goes back and the made one is deleted, so nothing
// outlives the draw.
class SelectedObject {
 public:
  SelectedObject(Canvas& area, GdiObject object)
      : area_(area), object_(object), previous_(object ? area.SelectObject(object) : 0) {}
  ~SelectedObject() {
    if (!object_) return;
    if (previous_) area_.SelectObject(previous_);
    area_.DeleteObject(object_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  Canvas& area_;
  GdiObject object_;
  GdiObject previous_;
};

}  // namespace

void ModGraph::SetupGraph(Canvas& area, std::span<const Colour> colours) {
  graphMax = 100.0f;
  graphYScale = static_cast<float>(area.Height() / static_cast<double>(graphMax));
  graphXStep = static_cast<float>(area.Width() / 100.0);
  InitGraph(1, colours);
  graphLabels = {"DS", "US"};
}

void ModGraph::InitGraph(std::int16_t lastIndex, std::span<const Colour> colours) {
  graphSeries.assign(lastIndex < 0 ? 0 : static_cast<std::size_t>(lastIndex) + 1, GraphSeries{});
  // 100.0 is graphMax at set-up: every point starts on y = H, just below the area.
  const std::int32_t restingY = Nearest(static_cast<double>(graphYScale) * 100.0);
  for (std::size_t i = 0; i < graphSeries.size(); ++i) {
    GraphSeries& series = graphSeries[i];
    for (int j = 0; j < kGraphPoints; ++j)
      series.points[j] = {Nearest(static_cast<double>(graphXStep) * j), restingY};
    series.colour = i < colours.size() ? colours[i] : 0;
  }
}

void ModGraph::SetGraphScale(Canvas& area, float peak) {
  graphMax = peak == 0.0f ? 1.0f : peak;
  graphYScale = static_cast<float>(area.Height() / static_cast<double>(graphMax));
}

void ModGraph::ScrollGraph() {
  for (GraphSeries& series : graphSeries)
    for (int j = 0; j < kGraphPoints - 1; ++j) series.points[j].y = series.points[j + 1].y;
}

void ModGraph::DrawGraph(std::span<const float> samples, Canvas& area, bool markers) {
  ScrollGraph();
  area.Clear();
  // Downstream first, so upstream is painted over it where the lines meet.
  LabelBox previous{};
  bool hasPrevious = false;
  for (std::size_t i = 0; i < graphSeries.size(); ++i) {
    GraphSeries& series = graphSeries[i];
    const double sample = i < samples.size() ? samples[i] : 0.0;
    Point& newest = series.points[kGraphPoints - 1];
    newest.y = Nearest((static_cast<double>(graphMax) - sample) * graphYScale);
    // The right edge, not graphXStep * 99: the last segment spans two steps.
    newest.x = Nearest(static_cast<double>(graphXStep) * 100);
    DrawSeriesLine(area, series);
    if (markers)
      DrawSeriesMarker(area, newest, series);
    else if (i < graphLabels.size()) {
      previous =
          DrawSeriesLabel(area, newest, series, graphLabels[i], hasPrevious ? &previous : nullptr);
      hasPrevious = true;
    }
  }
  area.Refresh();
}

void ModGraph::DrawSeriesLine(Canvas& area, const GraphSeries& series) {
  SelectedObject pen(area, area.CreatePen(kPsSolid, 1, series.colour));
  area.Polyline(series.points.data(), kGraphPoints);
}

void ModGraph::DrawSeriesMarker(Canvas& area, Point newest, const GraphSeries& series) {
  SelectedObject pen(area, area.CreatePen(kPsSolid, 1, series.colour));
  SelectedObject brush(area, area.CreateSolidBrush(series.colour));
  const Point diamond[] = {{newest.x, Offset(newest.y, -kMarkerReach)},
                           {Offset(newest.x, kMarkerReach), newest.y},
                           {newest.x, Offset(newest.y, kMarkerReach)},
                           {Offset(newest.x, -kMarkerReach), newest.y}};
  area.Polygon(diamond, 4);
}

// The label's bottom-right corner sits on the newest point, flush with the
// right edge. Two mends keep it readable: a series at the peak would put its
// label wholly above the area, and one below zero wholly below it, so a
// label that would lie wholly outside moves the least distance that brings
// it inside; and where it would cover or touch the label drawn before it
// (both series at zero stand on the same corner), it stands to that label's
// left, kLabelGap pixels apart, so the two never read as one word.
ModGraph::LabelBox ModGraph::DrawSeriesLabel(Canvas& area, Point newest, const GraphSeries& series,
                                             const std::string& label, const LabelBox* before) {
  area.SetForeColour(series.colour);
  const std::int32_t width = area.TextWidth(label);
  const std::int32_t height = area.TextHeight(label);
  LabelBox box{Offset(newest.x, -width), Offset(newest.y, -height), width, height};
  const std::int64_t areaWidth = area.Width();
  const std::int64_t areaHeight = area.Height();
  auto outside = [&](const LabelBox& b) {
    return std::int64_t{b.left} + b.width <= 0 || b.left >= areaWidth ||
           std::int64_t{b.top} + b.height <= 0 || b.top >= areaHeight;
  };
  // Into [0, extent - size], or to 0 where the label is larger than the area.
  auto inside = [](std::int32_t at, std::int32_t size, std::int64_t extent) {
    const std::int64_t last = std::max<std::int64_t>(0, extent - size);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(at, 0, last));
  };
  if (outside(box)) {
    box.left = inside(box.left, width, areaWidth);
    box.top = inside(box.top, height, areaHeight);
  }
  if (before != nullptr) {
    const std::int64_t beforeLeft = std::int64_t{before->left} - kLabelGap;
    const std::int64_t beforeRight = std::int64_t{before->left} + before->width + kLabelGap;
    const bool overlap = std::int64_t{box.left} < beforeRight &&
                         beforeLeft < std::int64_t{box.left} + box.width &&
                         std::int64_t{box.top} < std::int64_t{before->top} + before->height &&
                         std::int64_t{before->top} < std::int64_t{box.top} + box.height;
    if (overlap) box.left = Offset(before->left, -(std::int64_t{width} + kLabelGap));
  }
  const std::string ansi = codePage_.ToAnsi(label);
  area.TextOutA(box.left, box.top, ansi.c_str(), static_cast<int>(ansi.size()));
  return box;
}

}  // namespace quorrel
