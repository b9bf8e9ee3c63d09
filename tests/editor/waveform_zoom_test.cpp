#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/loop_search.h"
#include "editor/editor_tools.h"
#include "editor/waveform_geometry.h"
#include "editor/waveform_pyramid.h"
#include "editor/waveform_zoom.h"

namespace tavrin {
namespace {

std::vector<float> Noise(std::size_t n, std::uint32_t seed) {
  std::vector<float> f(n);
  for (float& v : f) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
  }
  return f;
}

TEST(Pyramid, EveryRangeAndColumnMatchesAPlainPass) {
  const std::vector<float> f = Noise(70000 + 13, 7);
  MinMaxPyramid p;
  ASSERT_EQ(p.Build(f.data(), f.size()), kOk);
  const auto plain = [&](std::uint64_t a, std::uint64_t b) {
    MinMax m{99.0f, -99.0f};
    for (std::uint64_t i = a; i < b && i < f.size(); ++i) m = {std::min(m.lo, f[i]), std::max(m.hi, f[i])};
    return m;
  };
  std::uint32_t seed = 3;
  for (int k = 0; k < 400; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const std::uint64_t a = seed % f.size();
    const std::uint64_t b = a + (seed >> 7) % (k < 200 ? 20000 : 300) + 1;
    const MinMax got = p.Range(f.data(), a, b), want = plain(a, b);
    ASSERT_EQ(got.lo, want.lo) << a << ".." << b;
    ASSERT_EQ(got.hi, want.hi) << a << ".." << b;
  }
  // Columns: whole view, a fractional zoom, several pixels per frame, past the end.
  struct Zoom { double first, perColumn; };
  for (const Zoom z : {Zoom{0, 70013.0 / 468}, Zoom{123.4, 37.7}, Zoom{500, 0.25}, Zoom{69990, 1}}) {
    MinMax out[468];
    p.Columns(f.data(), z.first, z.perColumn, 468, out);
    for (std::size_t c = 0; c < 468; ++c) {
      const auto a = static_cast<std::uint64_t>(std::floor(z.first + c * z.perColumn));
      const auto b = std::max(a + 1, static_cast<std::uint64_t>(std::floor(z.first + (c + 1) * z.perColumn)));
      const MinMax want = plain(a, b);
      ASSERT_EQ(out[c].lo, a < f.size() ? want.lo : INFINITY) << c;
      ASSERT_EQ(out[c].hi, a < f.size() ? want.hi : -INFINITY) << c;
    }
  }
}

TEST(Zoom, CursorWheelLoopAndFit) {
  const WaveView fit = FitView(100000, 468);
  EXPECT_DOUBLE_EQ(fit.framesPerPixel, 100000.0 / 468);
  const WaveView in = ZoomAround(fit, 300, 4);
  EXPECT_NEAR(in.XToFrame(300), fit.XToFrame(300), 1e-6);  // the frame under the cursor stays
  EXPECT_NEAR(in.framesPerPixel, fit.framesPerPixel / std::pow(1.5, 4), 1e-9);
  EXPECT_DOUBLE_EQ(ZoomAround(fit, 0, 100).framesPerPixel, 1.0 / kMaxPixelsPerFrame);
  EXPECT_DOUBLE_EQ(ZoomAround(in, 10, -100).framesPerPixel, fit.framesPerPixel);  // never past the whole
  EXPECT_EQ(ZoomAround(in, 10, -100).firstFrame, 0.0);
  EXPECT_DOUBLE_EQ(ZoomAround(FitView(4, 468), 0, 3).framesPerPixel, 4.0 / 468);  // a DWGS wave fills the view
  const WaveView right = ScrollByWheel(in, -1000);  // stops at the end
  EXPECT_DOUBLE_EQ(right.firstFrame + right.VisibleFrames(), 100000.0);
  const WaveView loop = ZoomToLoop(fit, {0, 0, 40000, 41000}, LoopFlags::kForward);
  EXPECT_LE(loop.firstFrame, 40000.0);
  EXPECT_GE(loop.firstFrame + loop.VisibleFrames(), 41000.0);
  EXPECT_NEAR(loop.VisibleFrames(), 1100.0, 1e-6);
  EXPECT_EQ(ZoomToLoop(loop, {0, 0, 40000, 41000}, 0).framesPerPixel, fit.framesPerPixel);
  EXPECT_EQ(FrameUnder(loop, 0), static_cast<std::int64_t>(std::round(loop.firstFrame)));
  const ScrollBarState bar = ScrollBarOf(loop);
  EXPECT_EQ(bar.max, 100000);
  EXPECT_NEAR(bar.page, 1100, 1);
  EXPECT_EQ(ScrollTo(loop, 99990).firstFrame, 100000.0 - loop.VisibleFrames());
  // The play cursor: followed a page at a time, within the frames.
  EXPECT_EQ(FollowPlay(loop, 40500).firstFrame, loop.firstFrame);
  EXPECT_EQ(FollowPlay(loop, -1).firstFrame, loop.firstFrame);
  EXPECT_NEAR(FollowPlay(loop, 60000).firstFrame, 60000.0 - loop.VisibleFrames() / 20.0, 1e-6);
  EXPECT_NEAR(FollowPlay(loop, 10).firstFrame, 0.0, 1e-6);  // back to a Loop near the start
  EXPECT_EQ(FollowPlay(loop, 100000).firstFrame, 100000.0 - loop.VisibleFrames());
  EXPECT_EQ(FollowPlay(fit, 99999).firstFrame, 0.0);
  EXPECT_EQ(FollowPlay(ScrollTo(loop, 500), 0).firstFrame, 0.0);  // a loop from the first frame

  // Markers at a zoom: out of view hidden and not hit; a drag lands on frames of the view.
  MarkerGeometry m[2] = {{40500, 9.0f}, {90000, 9.0f}};
  const PlotArea plot{1, 1, 468, 100};
  LayoutMarkers(m, 2, plot, static_cast<float>(1.0 / loop.framesPerPixel), loop.firstFrame);
  EXPECT_TRUE(m[0].shown);
  EXPECT_FALSE(m[1].shown);
  EXPECT_NEAR(m[0].lineX, 1 + std::floor(loop.FrameToX(40500)), 1.0);
  EXPECT_EQ(HitMarkerHandle(m, 2, m[0].handleX + 1, 2), 0);
  EXPECT_EQ(DragPosition(m[0].lineX, plot.left, static_cast<float>(1.0 / loop.framesPerPixel), 100000, loop.firstFrame),
            40500);

  const std::vector<ZeroCrossing> zc = {{1, 10}, {0, 20}, {1, 40}};
  const std::pair<std::int64_t, std::int64_t> snaps[] = {{0, 10}, {15, 10}, {16, 20}, {30, 20}, {99, 40}};
  for (auto [from, to] : snaps) EXPECT_EQ(NearestZeroCrossing(zc, from), to) << from;
  EXPECT_EQ(NearestZeroCrossing({}, 7), 7);
}

TEST(Zoom, RulerSpacingAndLabels) {
  struct Row { double first, perPixel; const char* firstLabel; double step; };
  const Row rows[] = {
      {0, 100000.0 / 468, "0.0 s", 0.5},        // 3.2 s over 468 px, labels 60 px apart
      {31250 * 1.2, 1, "1200 ms", 0.002},       // one frame a pixel
      {31250, 1.0 / 32, "1000.0 ms", 0.0001},   // 32 px a frame
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.firstLabel);
    WaveView v{r.first, r.perPixel, 1000000, 468};
    std::vector<RulerTick> ticks;
    ASSERT_EQ(BuildTimeRuler(v, 60, ticks), kOk);
    std::vector<const RulerTick*> majors;
    for (const RulerTick& t : ticks) {
      if (t.major) majors.push_back(&t);
    }
    ASSERT_GE(majors.size(), 2u);
    EXPECT_EQ(std::string(majors[0]->label.view()), r.firstLabel);
    const double px = majors[1]->x - majors[0]->x;
    EXPECT_GE(px, 60.0);
    EXPECT_NEAR(px * r.perPixel / kCardRate, r.step, 1e-9);
    // Minor ticks at a fifth of the step, a quarter of a 2 step.
    const auto between = static_cast<std::size_t>(majors[1] - majors[0]);
    const double mantissa = r.step / std::pow(10.0, std::floor(std::log10(r.step) + 1e-9));
    EXPECT_EQ(between, std::lround(mantissa) == 2 ? 4u : 5u) << r.step;
    EXPECT_GE(ticks.front().x, 0.0);
    EXPECT_LE(ticks.back().x, 468.0);
  }
  EXPECT_EQ(std::string(CursorText(123457).view()), "123457 \xC2\xB7 3.950624 s");
}

TEST(Seam, ErrorIsTheLoopSearchsAndTheViewJoinsEndToLoop) {
  // A 200 Hz tone with a little noise: candidates of different quality.
  std::vector<float> f = Noise(31250, 11);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<float>(0.6 * std::sin(i * 6.283185307179586 * 200 / 31250)) + 0.02f * f[i];
  for (double period : {0.0, 31250.0 / 200}) {
    LoopSearchOptions o;
    o.period = period;
    std::vector<LoopCandidate> found;
    ASSERT_EQ(FindLoops(f.data(), f.size(), o, found), kOk);
    ASSERT_GE(found.size(), 2u);
    for (const LoopCandidate& c : found) EXPECT_EQ(SeamErrorDb(f.data(), f.size(), c.loop, c.end, period), c.errorDb);
  }
  EXPECT_TRUE(std::isnan(SeamErrorDb(f.data(), f.size(), 500, 500)));

  SampleData s;
  s.frames = {1, 2, 3, 4, 5, 6, 7, 8};
  s.markers = {0, 0, 5, 7};
  SeamView view;
  bool shown = false;
  ASSERT_EQ(BuildSeamView(s, 3, 0, view, shown), kOk);
  ASSERT_TRUE(shown);
  EXPECT_EQ(view.seam, 3u);
  EXPECT_EQ(view.played, (std::vector<float>{5, 6, 7, 6, 7, 6}));  // the loop 5..6 repeats
  EXPECT_EQ(view.continuation[3], 8);
  EXPECT_TRUE(std::isnan(view.continuation[4]));
  s.markers = {0, 0, 2, 5};
  s.loopFlags = LoopFlags::kForward | LoopFlags::kForwardBackward | LoopFlags::kAlternatingPolarity;
  ASSERT_EQ(BuildSeamView(s, 5, 0, view, shown), kOk);
  EXPECT_EQ(view.played, (std::vector<float>{1, 2, 3, 4, 5, -6, -5, -4, 3, 4}));  // back from End, then forward again
  s.markers = {0, 0, 4, 8};  // End after the last frame: the turn plays the last frame
  ASSERT_EQ(BuildSeamView(s, 4, 0, view, shown), kOk);
  EXPECT_EQ(view.played, (std::vector<float>{5, 6, 7, 8, -8, -7, -6, 5}));
  s.markers.loop = 8;
  ASSERT_EQ(BuildSeamView(s, 3, 0, view, shown), kOk);
  EXPECT_FALSE(shown);
}

}  // namespace
}  // namespace tavrin
