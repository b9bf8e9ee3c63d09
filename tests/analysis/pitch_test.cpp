// Pitch detection on generated tones: five shapes over notes 24..96, steady,
// with vibrato and with noise, each detuned by a seeded random -45..+45 cents.
#include <cmath>
#include <cstdio>

#include <gtest/gtest.h>

#include "analysis/tones.h"
#include "audio/pitch.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

PitchEstimate Detect(const std::vector<float>& x) {
  PitchEstimate p;  // stays unpitched if the detection fails
  return DetectPitch(x.data(), x.size(), 31250.0, p) == kOk ? p : PitchEstimate{};
}

// Steady sines take every note; the other 14 cases every third note, a
// different third for each case, which keeps the sweep near 2 s.
TEST(Pitch, FindsTheNoteAndCentsOfEveryShapeAndNothingInNoise) {
  const char *names[] = {"sine", "saw", "square", "pluck", "inharmonic"}, *variants[] = {"", " vibrato", " noise"};
  std::uint64_t random = 15;
  int tones = 0, right = 0;
  for (int c = 0; c < 15; ++c) {
    const Shape shape = static_cast<Shape>(c % 5);
    const int variant = c / 5, step = c == 0 ? 1 : 3;
    const ToneOptions options{variant == 1 ? 20.0 : 0.0, variant == 2 ? -30.0 : -200.0};
    int octaveErrors = 0, count = 0, hits = 0;
    double worst = 0.0;  // cents, of the tones with the right note
    for (int note = 24 + c % step; note <= 96; note += step, ++count) {
      const double cents = Uniform(random) * 90.0 - 45.0, hz = NoteHz(note + cents / 100.0);
      const PitchEstimate p = Detect(MakeTone(shape, hz, options, static_cast<std::uint64_t>(note)));
      const double error = p.pitched ? 1200.0 * std::log2(p.frequency / hz) : 1e9;
      octaveErrors += std::fabs(std::fabs(error) - 1200.0) < 100.0;
      const bool hit = p.pitched && p.note == note && p.confidence > 0.5;
      EXPECT_TRUE(hit && std::fabs(p.cents - cents) <= (variant == 1 ? 8.0 : 3.0))
          << names[c % 5] << variants[variant] << " note " << note << ": " << p.frequency << " Hz, " << p.cents << " cents";
      hits += hit;
      worst = hit ? std::max(worst, std::fabs(error)) : worst;
    }
    EXPECT_TRUE(octaveErrors == 0 || (shape != Shape::kPluck && shape != Shape::kInharmonic));
    std::printf("%-10s%-9s %2d/%2d right notes, worst %.2f cents\n", names[c % 5], variants[variant], hits, count, worst);
    tones += count, right += hits;
  }
  EXPECT_GE(right * 100, tones * 99);
  // Noise, a kick drum and silence are unpitched; a tone of 100 ms is not.
  EXPECT_FALSE(Detect(MakeTone(Shape::kNoise, 0.0, {0.0, -200.0, 0.0, 1.0}, 2)).pitched);
  EXPECT_FALSE(Detect(MakeTone(Shape::kKick, 0.0, {0.0, -200.0, 0.0, 0.5})).pitched);
  EXPECT_FALSE(Detect(std::vector<float>(20000, 0.0f)).pitched);
  EXPECT_FALSE(Detect(std::vector<float>(20000, std::nanf(""))).pitched);
  const PitchEstimate p = Detect(MakeTone(Shape::kSaw, NoteHz(69), {0.0, -200.0, 0.0, 0.1}));
  EXPECT_TRUE(p.pitched && p.note == 69 && std::fabs(p.cents) < 3.0) << p.frequency;
}

// A tone 30 cents flat gets +30; with the loop on, the loop's length decides:
// 100 frames as the automatic transpose has it; 34 periods of the flat tone
// (where it counts 35 cycles of A3) from the measured period; unpitched
// changes nothing.
TEST(Pitch, ApplySetsRootAndTransposeThenTheLoopsOwn) {
  SampleData s;
  s.frames = MakeTone(Shape::kSaw, NoteHz(57 - 0.30), {});
  const PitchEstimate p = Detect(s.frames);
  s.transposeValid = false;
  EXPECT_TRUE(ApplyPitch(s, p) && s.rootNote == 57 && s.transpose == 30 && s.transposeValid) << int{s.transpose};
  s.loopOn = true, s.markers = {0, 0, 1000, 1100};
  SampleData expected = s;
  AutomaticTranspose(expected);
  EXPECT_TRUE(ApplyPitch(s, p) && s.transpose == expected.transpose);
  s.markers.end = 1000 + std::lround(34.0 * 31250.0 / p.frequency);
  EXPECT_TRUE(ApplyPitch(s, p) && std::abs(s.transpose - 30) <= 1) << int{s.transpose};
  s.rootNote = 40;  // as if edited
  EXPECT_FALSE(ApplyPitch(s, PitchEstimate{}));
  EXPECT_TRUE(s.rootNote == 40 && std::abs(s.transpose - 30) <= 1);
}

}  // namespace
}  // namespace tavrin
