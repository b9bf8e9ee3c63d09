// Loop search and crossfade on generated tones, each against the naive loop
// at the same place (end minus one period, rounded).
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

double Rms(const float* x, std::size_t n) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<double>(x[i]) * x[i];
  return std::sqrt(s / static_cast<double>(n));
}

// RMS over 2 ms of a - b against the whole sample's RMS, in dB.
double ErrorDb(const std::vector<float>& sample, const float* a, const float* b) {
  std::vector<float> d(62);
  for (std::size_t i = 0; i < d.size(); ++i) d[i] = a[i] - b[i];
  return 20.0 * std::log10(std::max(Rms(d.data(), d.size()), 1e-12) / Rms(sample.data(), sample.size()));
}

// Looped playback after the seam against the sample's own continuation.
double SeamDb(const std::vector<float>& x, std::int64_t loop, std::int64_t end) {
  return ErrorDb(x, x.data() + loop, x.data() + end);
}

struct LoopCase {
  Shape shape;
  const char* name;
  double vibrato;
  double limitDb;
};

const LoopCase kLoops[] = {
    {Shape::kSine, "sine", 0.0, -40.0},
    {Shape::kSaw, "saw", 0.0, -40.0},
    {Shape::kSine, "sine vibrato", 20.0, -30.0},
    {Shape::kSaw, "saw vibrato", 20.0, -30.0},
};

TEST(LoopSearch, SeamsContinueTheWaveform) {
  TestRandom detune(99);
  for (const LoopCase& c : kLoops) {
    double worst = -200.0, naiveWorst = -200.0;
    for (int note = 28; note <= 96; note += 4) {
      const double hz = NoteHz(note + detune.Uniform() * 0.9 - 0.45);
      ToneOptions o;
      o.vibratoCents = c.vibrato;
      o.driftDbPerSecond = -0.2;  // slow: 0.02 dB over a loop of 100 ms
      o.seconds = 1.5;
      const std::vector<float> x = MakeTone(c.shape, hz, o);
      PitchEstimate p;
      ASSERT_EQ(DetectPitch(x.data(), x.size(), 31250.0, p), kOk);
      LoopSearchOptions search;
      search.period = 31250.0 / p.frequency;
      search.to = static_cast<std::int64_t>(x.size()) - 3000;  // the continuation past end is kept to measure
      std::vector<LoopCandidate> found;
      ASSERT_EQ(FindLoops(x.data(), x.size(), search, found), kOk);
      ASSERT_FALSE(found.empty()) << c.name << " note " << note;
      const LoopCandidate& best = found.front();
      EXPECT_LE(best.end, search.to);
      EXPECT_LT(best.loop, best.end);
      const double seam = SeamDb(x, best.loop, best.end);
      const double naive = SeamDb(x, best.end - std::lround(31250.0 / hz), best.end);
      EXPECT_LE(seam, c.limitDb) << c.name << " note " << note << " loop " << best.loop << " end " << best.end;
      worst = std::max(worst, seam);
      naiveWorst = std::max(naiveWorst, naive);
    }
    std::printf("%-14s worst seam %.1f dB, naive loop %.1f dB\n", c.name, worst, naiveWorst);
  }
}

TEST(LoopSearch, ShortestGoodLoopComesFirstAndNoiseFindsLittle) {
  // A pure tone repeats after every period: the first candidate is a short one.
  const std::vector<float> x = MakeTone(Shape::kSine, 31250.0 / 50.0, {});
  LoopSearchOptions search;
  search.period = 50.0;
  std::vector<LoopCandidate> found;
  ASSERT_EQ(FindLoops(x.data(), x.size(), search, found), kOk);
  ASSERT_GE(found.size(), 2u);
  EXPECT_LE(found.front().end - found.front().loop, 100);
  EXPECT_NEAR(found.front().periods, std::round(found.front().periods), 0.01);
  for (std::size_t i = 2; i < found.size(); ++i) EXPECT_LE(found[i - 1].errorDb, found[i].errorDb);
  const std::vector<float> noise = MakeNoise(1.0, 3);
  ASSERT_EQ(FindLoops(noise.data(), noise.size(), {}, found), kOk);
  for (const LoopCandidate& c : found) EXPECT_GT(c.errorDb, -20.0);
}

TEST(LoopSearch, CrossfadeSmoothsBadSeamsAndTouchesNothingElse) {
  constexpr std::int64_t kFade = 625;  // 20 ms
  const struct {
    Shape shape;
    double note, vibrato;
  } cases[] = {{Shape::kSaw, 45.3, 20.0}, {Shape::kSaw, 93.2, 0.0}, {Shape::kSine, 60.0, 20.0}, {Shape::kSquare, 71.4, 20.0}};
  for (const auto& c : cases) {
    ToneOptions o;
    o.vibratoCents = c.vibrato;
    o.driftDbPerSecond = -1.0;
    SampleData s;
    s.frames = MakeTone(c.shape, NoteHz(c.note), o);
    const std::vector<float> x = s.frames;
    const std::int64_t end = 20000;
    // The naive loop, whole periods rounded, long enough for the fade.
    const double period = 31250.0 / NoteHz(c.note);
    const std::int64_t loop = end - std::lround(std::ceil(kFade / period) * period);
    ApplyLoop(s, {loop, end, 0.0, 1.0});
    const std::int64_t n = kFade;
    EXPECT_EQ(CrossfadeLoop(s, kFade), n);
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(x.size()); ++i) {
      if (i < end - n || i >= end) {
        ASSERT_EQ(s.frames[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]) << i;
      }
    }
    // The seam: 1 ms each side of it (the blend, then the loop) against the
    // loop's own waveform. (The blend's entry is printed: a smooth change of
    // waveform there, not a seam.)
    const double into = ErrorDb(x, s.frames.data() + end - n, x.data() + end - n);
    std::vector<float> across(s.frames.begin() + end - 31, s.frames.begin() + end);
    across.insert(across.end(), x.begin() + loop, x.begin() + loop + 31);
    const double out = ErrorDb(x, across.data(), x.data() + loop - 31);
    EXPECT_LE(out, -35.0) << c.note;
    std::printf("crossfade note %.1f: naive seam %.1f dB, with the crossfade %.1f dB (entry %.1f dB)\n", c.note, SeamDb(x, loop, end), out, into);
    // The level holds through the blend (equal-power curves alone would swell by 3 dB).
    const double level = Rms(x.data() + end - n, static_cast<std::size_t>(n));
    const double blended = Rms(s.frames.data() + end - n, static_cast<std::size_t>(n));
    EXPECT_NEAR(20.0 * std::log10(blended / level), 0.0, 1.0) << c.note;
  }
}

}  // namespace
}  // namespace tavrin
