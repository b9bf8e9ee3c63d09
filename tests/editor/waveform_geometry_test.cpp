#include "editor/waveform_geometry.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavrin {
namespace {

// The editor's view: 470 x 120 client, so a 468 x 117 plot at (1, 1).
class WaveformGeometryTest : public ::testing::Test {
 protected:
  const PlotArea plot = PlotOfClient(0, 0, 470, 120);
  std::vector<PathPoint> points;
};

TEST_F(WaveformGeometryTest, PlotAndPathPoints) {
  EXPECT_EQ(plot.width, 468.0f);
  EXPECT_EQ(plot.height, 117.0f);
  const float centre = 1.0f + 116.0f * 0.5f, amp = 58.5f;

  // 400 frames: one point per frame, evenly from the left to the right edge.
  std::vector<float> f(400);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = i % 2 ? 0.5f : -2.0f;
  ASSERT_EQ(BuildWaveformPath(f.data(), f.size(), plot, points), kOk);
  ASSERT_EQ(points.size(), 401u);
  EXPECT_EQ(points[0].x, 1.0f);
  EXPECT_EQ(points[0].y, centre);
  for (std::size_t i = 0; i < 400; ++i) {
    EXPECT_FLOAT_EQ(points[i + 1].x, 1.0f + i * 468.0f / 399.0f);
    EXPECT_EQ(points[i + 1].y, i % 2 ? centre - 0.5f * amp : centre + amp);  // positive up, limited to 1
  }

  // 100000 frames: 214 per column, 468 columns; a silent column is one point.
  f.assign(100000, 0.0f);
  for (std::size_t i = 0; i < 214; ++i) f[i] = i == 5 ? 0.75f : -0.25f;
  ASSERT_EQ(FramesPerColumn(f.size(), plot.width), 214u);
  ASSERT_EQ(BuildWaveformPath(f.data(), f.size(), plot, points), kOk);
  ASSERT_EQ(points.size(), 1u + 2 + 467);
  EXPECT_EQ(points[1].y, centre - 0.75f * amp);  // the column's largest frame first
  EXPECT_EQ(points[2].y, centre + 0.25f * amp);
  EXPECT_EQ(points[2].x, points[1].x);
  EXPECT_EQ(points.back().x, 469.0f);
  EXPECT_EQ(points.back().y, centre);

  ASSERT_EQ(BuildWaveformPath(nullptr, 0, plot, points), kOk);
  EXPECT_EQ(points.size(), 1u);
  EXPECT_EQ(PlotScale(plot, 0), 1.0f);
}

TEST_F(WaveformGeometryTest, MarkerLayout) {
  const float scale = PlotScale(plot, 468);  // one frame per pixel
  struct Case { const char* what; std::int32_t positions[3]; float lineX[3]; float handleX[3]; };
  const Case cases[] = {
      {"apart: centred", {100, 200, 300}, {101, 201, 301}, {98, 198, 298}},
      {"S and L together: left and right", {100, 100, 300}, {101, 101, 301}, {94, 100, 298}},
      {"all three together: the middle centred", {100, 100, 100}, {101, 101, 101}, {94, 98, 100}},
      {"position 0: one pixel inside, hanging right", {0, -1, 468}, {2, 0, 468}, {1, 0, 460}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MarkerGeometry m[3];
    for (int i = 0; i < 3; ++i) m[i] = {c.positions[i], 8.7f};
    LayoutMarkers(m, 3, plot, scale);
    for (int i = 0; i < 3; ++i) {
      if (c.positions[i] < 0) continue;
      EXPECT_EQ(m[i].handleSize, 8.0f);
      EXPECT_EQ(m[i].lineX, c.lineX[i]) << i;
      EXPECT_EQ(m[i].handleX, c.handleX[i]) << i;
    }
  }
}

TEST_F(WaveformGeometryTest, HandleHitAndDrag) {
  MarkerGeometry m[2] = {{-1, 8}, {50, 8}};
  LayoutMarkers(m, 2, plot, 1.0f);
  EXPECT_EQ(HitMarkerHandle(m, 2, m[1].handleX + 1, 3), 1);
  EXPECT_EQ(HitMarkerHandle(m, 2, m[1].lineX, 40), -1);  // the line below the handle
  EXPECT_EQ(HitMarkerHandle(m, 2, 0.5f, 3), -1);         // a hidden marker is never hit

  const float scale = PlotScale(plot, 100000);
  struct Case { float x; std::int32_t want; };
  const Case cases[] = {{1.0f, 0}, {-30.0f, 0}, {2.0f, 214}, {469.0f, 100000}, {900.0f, 100000}};
  for (const Case& c : cases) EXPECT_EQ(DragPosition(c.x, plot.left, scale, 100000), c.want) << c.x;
}

}  // namespace
}  // namespace tavrin
