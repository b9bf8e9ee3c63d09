// Pitch detection on generated tones: every shape over notes 24..96, steady,
// with vibrato and with noise, each detuned by a seeded random amount.
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/pitch.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

struct SweepCase {
  Shape shape;
  const char* name;
  ToneOptions options;
  double centsLimit;
  int noteStep;  // 1: every note; 3: a third of them, a different third per case
};

const SweepCase kSweep[] = {
    {Shape::kSine, "sine", {}, 3.0, 1},
    {Shape::kSaw, "saw", {}, 3.0, 3},
    {Shape::kSquare, "square", {}, 3.0, 3},
    {Shape::kPluck, "pluck", {}, 3.0, 3},
    {Shape::kInharmonic, "inharmonic", {}, 3.0, 3},
    {Shape::kSine, "sine vibrato", {20.0}, 8.0, 3},
    {Shape::kSaw, "saw vibrato", {20.0}, 8.0, 3},
    {Shape::kSquare, "square vibrato", {20.0}, 8.0, 3},
    {Shape::kPluck, "pluck vibrato", {20.0}, 8.0, 3},
    {Shape::kInharmonic, "inharmonic vibrato", {20.0}, 8.0, 3},
    {Shape::kSine, "sine noise", {0.0, -30.0}, 3.0, 3},
    {Shape::kSaw, "saw noise", {0.0, -30.0}, 3.0, 3},
    {Shape::kSquare, "square noise", {0.0, -30.0}, 3.0, 3},
    {Shape::kPluck, "pluck noise", {0.0, -30.0}, 3.0, 3},
    {Shape::kInharmonic, "inharmonic noise", {0.0, -30.0}, 3.0, 3},
};

TEST(Pitch, FindsTheNoteAndCentsOfEveryShape) {
  TestRandom detune(15);
  int tones = 0, right = 0, caseIndex = 0;
  for (const SweepCase& c : kSweep) {
    int octaveErrors = 0, count = 0, hits = 0;
    double worst = 0.0;
    for (int note = 24 + caseIndex % c.noteStep; note <= 96; note += c.noteStep) {
      const double cents = detune.Uniform() * 90.0 - 45.0;
      const double hz = NoteHz(note + cents / 100.0);
      const std::vector<float> tone = MakeTone(c.shape, hz, c.options, static_cast<std::uint64_t>(note));
      PitchEstimate p;
      ASSERT_EQ(DetectPitch(tone.data(), tone.size(), 31250.0, p), kOk);
      ++count;
      const double error = p.pitched ? 1200.0 * std::log2(p.frequency / hz) : 1e9;
      if (std::fabs(std::fabs(error) - 1200.0) < 100.0) ++octaveErrors;
      if (p.pitched && p.note == note) {
        ++hits;
        worst = std::max(worst, std::fabs(error));
        EXPECT_NEAR(p.cents, cents, c.centsLimit + 0.01) << c.name << " note " << note;
        EXPECT_GT(p.confidence, 0.5) << c.name << " note " << note;
      } else {
        ADD_FAILURE() << c.name << " note " << note << " (" << hz << " Hz): got " << (p.pitched ? p.frequency : 0.0)
                      << " Hz";
      }
    }
    if (c.shape == Shape::kPluck || c.shape == Shape::kInharmonic) {
      EXPECT_EQ(octaveErrors, 0) << c.name;
    }
    std::printf("%-20s %2d/%2d right notes, worst %.2f cents\n", c.name, hits, count, worst);
    tones += count;
    right += hits;
    ++caseIndex;
  }
  EXPECT_GE(right * 100, tones * 99);
}

TEST(Pitch, NoiseAndAKickAreUnpitched) {
  PitchEstimate p;
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    const std::vector<float> noise = MakeNoise(1.0, seed);
    ASSERT_EQ(DetectPitch(noise.data(), noise.size(), 31250.0, p), kOk);
    EXPECT_FALSE(p.pitched) << p.frequency;
  }
  const std::vector<float> kick = MakeKick(0.5);
  ASSERT_EQ(DetectPitch(kick.data(), kick.size(), 31250.0, p), kOk);
  EXPECT_FALSE(p.pitched) << p.frequency;
  const std::vector<float> silence(20000, 0.0f);
  ASSERT_EQ(DetectPitch(silence.data(), silence.size(), 31250.0, p), kOk);
  EXPECT_FALSE(p.pitched);
}

TEST(Pitch, ShortSamplesStillMeasure) {
  const std::vector<float> tone = MakeTone(Shape::kSaw, NoteHz(69), {0.0, -200.0, 0.0, 0.1});
  PitchEstimate p;
  ASSERT_EQ(DetectPitch(tone.data(), tone.size(), 31250.0, p), kOk);
  EXPECT_TRUE(p.pitched);
  EXPECT_EQ(p.note, 69);
  EXPECT_NEAR(p.cents, 0.0, 3.0);
}

TEST(Pitch, ApplySetsRootAndTransposeThenTheLoopsOwn) {
  SampleData s;
  s.frames = MakeTone(Shape::kSaw, NoteHz(57 - 0.30), {});  // 30 cents flat
  PitchEstimate p;
  ASSERT_EQ(DetectPitch(s.frames.data(), s.frames.size(), 31250.0, p), kOk);
  s.transposeValid = false;
  EXPECT_TRUE(ApplyPitch(s, p));
  EXPECT_EQ(s.rootNote, 57);
  EXPECT_EQ(s.transpose, 30);
  EXPECT_TRUE(s.transposeValid);
  // With the loop on, the loop's length decides (here one of 100 frames).
  s.loopOn = true;
  s.loopFlags = LoopFlags::kForward;
  s.markers = {0, 0, 1000, 1100};
  SampleData expected = s;
  AutomaticTranspose(expected);
  EXPECT_TRUE(ApplyPitch(s, p));
  EXPECT_EQ(s.transpose, expected.transpose);
  // A loop of 34 periods of the flat tone: the automatic transpose alone
  // counts 35 cycles of A3 in it; the measured period keeps the +30.
  s.markers.loop = 1000;
  s.markers.end = 1000 + std::lround(34.0 * 31250.0 / p.frequency);
  EXPECT_TRUE(ApplyPitch(s, p));
  EXPECT_NEAR(s.transpose, 30, 1);
  SampleData unchanged = s;
  EXPECT_FALSE(ApplyPitch(s, PitchEstimate{}));
  EXPECT_EQ(s.transpose, unchanged.transpose);
  EXPECT_EQ(s.rootNote, unchanged.rootNote);
}

}  // namespace
}  // namespace tavrin
