// Loop search and crossfade on generated tones, each against the naive loop
// at the same place (end minus one period, rounded).
#include <algorithm>
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/loop_search.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

// RMS over 2 ms of a - b against the sample's RMS, in dB.
double ErrorDb(const std::vector<float>& x, const float* a, const float* b) {
  double d = 0.0, level = 0.0;
  for (std::size_t i = 0; i < 62; ++i) d += (a[i] - b[i]) * (a[i] - b[i]) / 62.0;
  for (float v : x) level += v * v / static_cast<double>(x.size());
  return 10.0 * std::log10(std::max(d, 1e-24) / level);
}
// Looped playback after the seam against the sample's own continuation.
double SeamDb(const std::vector<float>& x, std::int64_t loop, std::int64_t end) { return ErrorDb(x, &x[loop], &x[end]); }

TEST(LoopSearch, SeamsContinueTheWaveformOfDriftingTones) {
  const struct { Shape shape; double vibrato, limitDb; } cases[] = {
      {Shape::kSine, 0.0, -40.0}, {Shape::kSaw, 0.0, -40.0}, {Shape::kSine, 20.0, -30.0}, {Shape::kSaw, 20.0, -30.0}};
  std::uint64_t random = 99;
  for (const auto& c : cases) {
    double worst = -200.0, naiveWorst = -200.0;
    for (int note = 28; note <= 96; note += 4) {
      const double hz = NoteHz(note + Uniform(random) * 0.9 - 0.45);
      const std::vector<float> x = MakeTone(c.shape, hz, {c.vibrato, -200.0, -0.1, 1.5});  // slow: 1 dB in 10 s
      LoopSearchOptions search{-1, static_cast<std::int64_t>(x.size()) - 3000, 31250.0 / hz};  // room to measure past end
      std::vector<LoopCandidate> found;
      ASSERT_TRUE(FindLoops(x.data(), x.size(), search, found) == kOk && !found.empty());
      const LoopCandidate& best = found.front();
      EXPECT_TRUE(best.end <= search.to && best.loop < best.end && SeamDb(x, best.loop, best.end) <= c.limitDb) << note;
      worst = std::max(worst, SeamDb(x, best.loop, best.end));
      for (std::size_t i = 2; i < found.size(); ++i) EXPECT_LE(found[i - 1].errorDb, found[i].errorDb);  // after the first, by score
      naiveWorst = std::max(naiveWorst, SeamDb(x, best.end - std::lround(31250.0 / hz), best.end));
    }
    std::printf("shape %d vibrato %2.0f: worst seam %.1f dB, naive %.1f dB\n", int(c.shape), c.vibrato, worst, naiveWorst);
  }
  // A pure tone of 50 frames a period repeats after every one: the first loop is short; noise finds no good one.
  const std::vector<float> x = MakeTone(Shape::kSine, 31250.0 / 50.0, {}), noise = MakeTone(Shape::kNoise, 0.0, {});
  std::vector<LoopCandidate> found;
  ASSERT_TRUE(FindLoops(x.data(), x.size(), {-1, -1, 50.0}, found) == kOk && !found.empty());
  EXPECT_TRUE(found.front().end - found.front().loop <= 100 && std::fabs(found.front().periods - std::round(found.front().periods)) < 0.01);
  ASSERT_EQ(FindLoops(noise.data(), noise.size(), {}, found), kOk);
  for (const LoopCandidate& c : found) EXPECT_GT(c.errorDb, -20.0);
}

TEST(LoopSearch, CrossfadeSmoothsBadSeamsHoldsTheLevelAndTouchesNothingElse) {
  constexpr std::int64_t kFade = 625, kEnd = 20000;  // 20 ms
  const struct { Shape shape; double note, vibrato; } cases[] = {
      {Shape::kSaw, 45.3, 20.0}, {Shape::kSaw, 93.2, 0.0}, {Shape::kSine, 60.0, 20.0}, {Shape::kSquare, 71.4, 20.0}};
  for (const auto& c : cases) {
    SampleData s;
    s.frames = MakeTone(c.shape, NoteHz(c.note), {c.vibrato, -200.0, -1.0});
    const std::vector<float> x = s.frames;  // as generated
    const double period = 31250.0 / NoteHz(c.note);  // the naive loop, long enough for the fade:
    const std::int64_t loop = kEnd - std::lround(std::ceil(kFade / period) * period);
    ApplyLoop(s, {loop, kEnd, 0.0, 1.0});
    ASSERT_EQ(CrossfadeLoop(s, kFade), kFade);
    EXPECT_TRUE(std::equal(x.begin(), x.begin() + kEnd - kFade, s.frames.begin()) &&
                std::equal(x.begin() + kEnd, x.end(), s.frames.begin() + kEnd));
    // The seam: 1 ms of the blend and 1 ms of the loop against the loop's own waveform.
    std::vector<float> across(s.frames.begin() + kEnd - 31, s.frames.begin() + kEnd);
    across.insert(across.end(), x.begin() + loop, x.begin() + loop + 31);
    const double seam = ErrorDb(x, across.data(), &x[loop - 31]);
    EXPECT_LE(seam, -35.0) << c.note;
    std::printf("crossfade note %.1f: naive %.1f dB, faded %.1f dB\n", c.note, SeamDb(x, loop, kEnd), seam);
    // The level holds through the blend (equal-power curves alone swell by 3 dB where both sides are alike).
    double before = 0.0, after = 0.0;
    for (std::int64_t i = kEnd - kFade; i < kEnd; ++i) before += x[i] * x[i], after += s.frames[i] * s.frames[i];
    EXPECT_NEAR(10.0 * std::log10(after / before), 0.0, 1.0) << c.note;
  }
}

}  // namespace
}  // namespace tavrin
