// modGraph with a recording canvas: where the points go and what is drawn.
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "fakes/fakes.h"
#include "graph/mod_graph.h"

namespace quorrel {
namespace {

using fakes::RecordingCanvas;

constexpr std::array<Colour, 2> kColours{0x000000FF, 0x00FF0000};

class GraphTest : public ::testing::Test {
 protected:
  RecordingCanvas canvas;
  fakes::IdentityCodePage codePage;
  ModGraph graph{codePage};

  void Setup(int width, int height) {
    canvas.width = width;
    canvas.height = height;
    graph.SetupGraph(canvas, kColours);
  }
  // One tick as the sampler makes it.
  void Draw(float ds, float us, float peak, bool markers = false) {
    graph.SetGraphScale(canvas, peak);
    const std::array<float, 2> samples{ds, us};
    graph.DrawGraph(samples, canvas, markers);
  }
  const Point& Newest(int series) { return graph.graphSeries[series].points[kGraphPoints - 1]; }
};

TEST_F(GraphTest, SetUpRestsEveryPointOnTheBottomEdgeAndDrawsNothing) {
  Setup(250, 65);  // a step of 2.5 pixels puts every other x on a half
  ASSERT_EQ(graph.graphSeries.size(), 2u);
  EXPECT_EQ(graph.graphSeries[0].colour, kColours[0]);
  EXPECT_EQ(graph.graphSeries[1].colour, kColours[1]);
  EXPECT_EQ(graph.graphMax, 100.0f);
  EXPECT_EQ(graph.graphLabels[0], "DS");
  EXPECT_EQ(graph.graphLabels[1], "US");
  for (const GraphSeries& series : graph.graphSeries)
    for (const Point& p : series.points) EXPECT_EQ(p.y, 65);
  const auto& points = graph.graphSeries[0].points;
  EXPECT_EQ(points[0].x, 0);
  EXPECT_EQ(points[1].x, 2);     // 2.5 to the even neighbour
  EXPECT_EQ(points[3].x, 8);     // 7.5 likewise
  EXPECT_EQ(points[99].x, 248);  // 247.5
  EXPECT_TRUE(canvas.ops.empty());
}

TEST_F(GraphTest, NoTrafficYetPutsTheNewestPointsOnTheBottomEdge) {
  Setup(513, 65);
  Draw(0, 0, 0);
  EXPECT_EQ(graph.graphMax, 1.0f);
  EXPECT_EQ(Newest(0).y, 65);
  EXPECT_EQ(Newest(1).y, 65);
}

TEST_F(GraphTest, ASampleEqualToThePeakReachesTheTop) {
  Setup(513, 65);
  Draw(12345, 600, 12345);
  EXPECT_EQ(Newest(0).y, 0);
  EXPECT_EQ(Newest(1).y, 62);  // 65 * (1 - 600/12345) = 61.84
}

TEST_F(GraphTest, TheNewestPointSitsOnTheRightEdgeTwoStepsFromPoint98) {
  Setup(513, 65);
  Draw(1, 1, 1);
  EXPECT_EQ(Newest(0).x, 513);
  EXPECT_EQ(graph.graphSeries[0].points[98].x, 503);  // 5.13 * 98 = 502.74
  EXPECT_EQ(graph.graphSeries[1].points[97].x, 498);  // 497.61
}

TEST_F(GraphTest, PixelHalvesGoToTheEvenNeighbour) {
  Setup(100, 65);
  Draw(1, 0, 2);  // (2 - 1) * 32.5
  EXPECT_EQ(Newest(0).y, 32);
  Setup(100, 7);
  Draw(1, 0, 2);  // (2 - 1) * 3.5
  EXPECT_EQ(Newest(0).y, 4);
}

TEST_F(GraphTest, PointsScrollLeftAndKeepTheHeightTheyWereGiven) {
  Setup(513, 65);
  Draw(100, 0, 100);  // top
  Draw(100, 0, 200);  // the peak doubles: half height for the new point only
  const auto& ds = graph.graphSeries[0].points;
  EXPECT_EQ(ds[98].y, 0);
  EXPECT_EQ(ds[99].y, 32);  // 32.5
  EXPECT_EQ(ds[97].y, 65);
  EXPECT_EQ(ds[98].x, 503);  // x stays where set-up put it
  Draw(0, 0, 200);
  EXPECT_EQ(ds[97].y, 0);
  EXPECT_EQ(ds[98].y, 32);
}

TEST_F(GraphTest, EachDrawClearsDrawsBothLinesUpstreamLastAndRefreshes) {
  Setup(513, 65);
  Draw(50, 100, 100);
  ASSERT_FALSE(canvas.ops.empty());
  EXPECT_EQ(canvas.ops.front().what, "clear");
  EXPECT_EQ(canvas.ops.back().what, "refresh");
  auto lines = canvas.OpsOf("polyline");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].colour, kColours[0]);
  EXPECT_EQ(lines[1].colour, kColours[1]);
  ASSERT_EQ(lines[0].points.size(), 100u);
  EXPECT_EQ(lines[0].points[99].y, 32);  // half of 65
  EXPECT_EQ(lines[1].points[99].y, 0);
}

TEST_F(GraphTest, LabelsStandFlushAtTheNewestPointWithoutMarkers) {
  Setup(513, 65);
  canvas.textWidth = 14;
  canvas.textHeight = 13;
  Draw(100, 50, 100, /*markers=*/false);
  EXPECT_TRUE(canvas.OpsOf("polygon").empty());
  auto texts = canvas.OpsOf("text");
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, "DS");
  EXPECT_EQ(texts[0].points[0].x, 513 - 14);
  EXPECT_EQ(texts[0].points[0].y, 0);  // at the peak: moved down into the area
  EXPECT_EQ(texts[1].text, "US");
  EXPECT_EQ(texts[1].points[0].x, 513 - 14);
  EXPECT_EQ(texts[1].points[0].y, 32 - 13);  // 32.5 to the even neighbour
  auto fores = canvas.OpsOf("fore");
  ASSERT_EQ(fores.size(), 2u);
  EXPECT_EQ(fores[0].colour, kColours[0]);
  EXPECT_EQ(fores[1].colour, kColours[1]);
}

// Where each label was written: {x, y} of DS, then of US.
std::vector<Point> LabelCorners(const RecordingCanvas& canvas) {
  std::vector<Point> corners;
  for (const auto& op : canvas.OpsOf("text")) corners.push_back(op.points[0]);
  return corners;
}

TEST_F(GraphTest, ALabelThatWouldLieWhollyOutsideMovesTheLeastDistanceInside) {
  Setup(513, 65);
  canvas.textWidth = 14;
  canvas.textHeight = 13;
  // Upstream at the peak: its label would stand on rows -13 to -1.
  Draw(20, 100, 100);
  std::vector<Point> at = LabelCorners(canvas);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[1].x, 499);
  EXPECT_EQ(at[1].y, 0);
  EXPECT_EQ(Newest(1).y, 0);  // the point itself stays where the scale puts it
  // A label that is only partly outside stays as it is: y = 5 puts it on rows -8 to 4.
  canvas.ops.clear();
  Draw(0, 100 - 5 * 100.0f / 65, 100);
  ASSERT_EQ(Newest(1).y, 5);
  EXPECT_EQ(LabelCorners(canvas)[1].y, 5 - 13);
  // A sample far below zero puts the label wholly below the area: it moves up
  // to stand on the bottom rows, clear of the downstream label to its right.
  canvas.ops.clear();
  Draw(50, -500, 100);
  at = LabelCorners(canvas);
  EXPECT_EQ(at[0].y, 32 - 13);
  EXPECT_EQ(at[1].x, 499);
  EXPECT_EQ(at[1].y, 65 - 13);
}

TEST_F(GraphTest, MeetingLabelsPutUpstreamFourPixelsLeftOfDownstream) {
  Setup(513, 65);
  canvas.textWidth = 14;
  canvas.textHeight = 13;
  // No traffic: both labels would stand on the bottom-right corner.
  Draw(0, 0, 0);
  std::vector<Point> at = LabelCorners(canvas);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_EQ(at[0].x, 513 - 14);
  EXPECT_EQ(at[0].y, 65 - 13);
  EXPECT_EQ(at[1].x, 513 - 14 - 4 - 14);
  EXPECT_EQ(at[1].y, 65 - 13);
  // Both at the peak: both moved to the top, upstream again on the left.
  canvas.ops.clear();
  Draw(100, 100, 100);
  at = LabelCorners(canvas);
  EXPECT_EQ(at[0].y, 0);
  EXPECT_EQ(at[1].y, 0);
  EXPECT_EQ(at[1].x, at[0].x - 4 - 14);
  // Partly overlapping rows count too; the upstream label keeps its height.
  canvas.ops.clear();
  Draw(0, 10, 100);  // upstream at y = 58.5 -> 58: rows 45 to 57 against 52 to 64
  at = LabelCorners(canvas);
  EXPECT_EQ(at[1].x, 513 - 32);
  EXPECT_EQ(at[1].y, 58 - 13);
  // Apart by one row: each stays flush with the right edge.
  canvas.ops.clear();
  Draw(0, 100 - 52 * 100.0f / 65, 100);  // upstream on row 52: rows 39 to 51
  ASSERT_EQ(Newest(1).y, 52);
  at = LabelCorners(canvas);
  EXPECT_EQ(at[1].x, 513 - 14);
  EXPECT_EQ(at[1].y, 52 - 13);
  // Wider labels: still four pixels apart.
  canvas.ops.clear();
  canvas.textWidth = 40;
  Draw(0, 0, 100);
  at = LabelCorners(canvas);
  EXPECT_EQ(at[1].x + 40 + 4, at[0].x);
}

TEST_F(GraphTest, MarkersReplaceLabelsWithDiamondsOnTheNewestPoint) {
  Setup(513, 65);
  Draw(100, 0, 100, /*markers=*/true);
  EXPECT_TRUE(canvas.OpsOf("text").empty());
  auto diamonds = canvas.OpsOf("polygon");
  ASSERT_EQ(diamonds.size(), 2u);
  EXPECT_EQ(diamonds[0].colour, kColours[0]);
  const std::vector<Point>& d = diamonds[0].points;
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].x, 513);
  EXPECT_EQ(d[0].y, -3);
  EXPECT_EQ(d[1].x, 516);
  EXPECT_EQ(d[1].y, 0);
  EXPECT_EQ(d[2].y, 3);
  EXPECT_EQ(d[3].x, 510);
  // The upstream diamond sits on the bottom-right corner.
  EXPECT_EQ(diamonds[1].points[0].y, 62);
  EXPECT_EQ(diamonds[1].colour, kColours[1]);
}

TEST_F(GraphTest, EveryPenAndBrushIsSelectedOutAndDeletedWithinTheDraw) {
  Setup(513, 65);
  for (bool markers : {false, true}) {
    canvas.ops.clear();
    Draw(10, 20, 20, markers);
    EXPECT_TRUE(canvas.live.empty());
    EXPECT_EQ(canvas.selectedPen, 1u);  // what was selected before the draw is back
    EXPECT_EQ(canvas.selectedBrush, 2u);
    EXPECT_EQ(canvas.OpsOf("pen").size(), markers ? 4u : 2u);
    EXPECT_EQ(canvas.OpsOf("brush").size(), markers ? 2u : 0u);
    EXPECT_EQ(canvas.OpsOf("delete").size(), markers ? 6u : 2u);
  }
}

TEST_F(GraphTest, ANegativeSampleFarBeyondThePeakIsClampedNotWrapped) {
  Setup(513, 65);
  Draw(-3.0e38f, 1, 1, /*markers=*/true);
  EXPECT_EQ(Newest(0).y, std::numeric_limits<std::int32_t>::max());
  auto diamond = canvas.OpsOf("polygon")[0].points;
  EXPECT_EQ(diamond[0].y, std::numeric_limits<std::int32_t>::max() - 3);
  EXPECT_EQ(diamond[2].y, std::numeric_limits<std::int32_t>::max());
}

TEST_F(GraphTest, InitGraphReallocatesTheSeries) {
  Setup(513, 65);
  Draw(1, 1, 1);
  graph.InitGraph(0, kColours);
  ASSERT_EQ(graph.graphSeries.size(), 1u);
  EXPECT_EQ(graph.graphSeries[0].colour, kColours[0]);
  EXPECT_EQ(graph.graphSeries[0].points[99].x, 508);  // back on the step grid: 5.13 * 99
}

}  // namespace
}  // namespace quorrel
