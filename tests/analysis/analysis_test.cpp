// Pitch detection, loop search and crossfade on generated sounds, and the
// commands that use them: five tone shapes over notes 24..96, steady, with
// vibrato, with noise, detuned by a seeded random amount; loops against the
// naive loop at the same place; `analyze` and `add --detect-root --find-loop`.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "audio/export.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "card/card_file.h"
#include "support/command.h"

namespace tavrin {
namespace {

using namespace tavrin::testing;

enum class Shape { kSine, kSaw, kSquare, kPluck, kInharmonic, kNoise, kKick };
struct ToneOptions {  // vibrato +- cents at 5.5 Hz, white noise against the tone's level
  double vibratoCents = 0.0, noiseDb = -200.0, driftDbPerSecond = 0.0, seconds = 0.8;
};

// Reproducible on every standard library: xorshift, [0, 1).
double Uniform(std::uint64_t& s) {
  s ^= s << 13, s ^= s >> 7, s ^= s << 17;
  return static_cast<double>(s >> 11) / 9007199254740992.0;
}

double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

std::vector<float> MakeTone(Shape shape, double hz, const ToneOptions& o, std::uint64_t seed = 1) {
  constexpr double kRate = 31250.0, kPi = 3.14159265358979323846;
  const auto n = static_cast<std::size_t>(o.seconds * kRate);
  const bool pluck = shape == Shape::kPluck;
  std::uint64_t random = seed * 2654435761u + 1;
  std::vector<double> y(n);
  double phase = 0.0, level = 0.0;  // of the fundamental
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    if (shape == Shape::kKick) {  // 160 Hz sweeping to 45 Hz, fast decay
      phase += 2.0 * kPi * (45.0 + 115.0 * std::exp(-t / 0.04)) / kRate;
      y[i] = std::exp(-t / 0.06) * std::sin(phase);
    } else if (shape == Shape::kInharmonic) {  // partial k at k sqrt(1 + B k^2), decaying
      for (int k = 1; k <= 8; ++k) y[i] += std::exp(-(1.0 + 0.3 * k) * t) * std::sin(k * std::sqrt(1.0 + 0.0004 * k * k) * phase) / k;
    } else if (shape != Shape::kNoise) {  // sin(k x) by 2 cos(x) sin((k-1) x) - sin((k-2) x)
      const int partials = shape == Shape::kSine ? 1 : static_cast<int>(6000.0 / hz);
      const double c2 = 2.0 * std::cos(phase), g = pluck ? std::exp(-0.4 * t) : 1.0;
      double s1 = std::sin(phase), s0 = 0.0, gk = g;
      for (int k = 1; k <= partials; ++k, gk *= g) {
        const double a = pluck ? std::sin(k * kPi * 0.23) / (k * k) : (shape == Shape::kSquare && k % 2 == 0) ? 0.0 : 1.0 / k;
        y[i] += a * gk * s1;
        s0 = std::exchange(s1, c2 * s1 - s0);
      }
      y[i] *= pluck ? std::exp(-1.5 * t) : 1.0;
    }
    if (shape != Shape::kKick) phase += 2.0 * kPi * hz * std::exp2(o.vibratoCents / 1200.0 * std::sin(2.0 * kPi * 5.5 * t)) / kRate;
    const bool struck = pluck || shape == Shape::kInharmonic || shape == Shape::kKick;
    if (struck && i < (shape == Shape::kKick ? 60u : 156u)) y[i] += Uniform(random) - 0.5;  // the strike
    if (shape == Shape::kNoise) y[i] = Uniform(random) - 0.5;
    level += y[i] * y[i];
  }
  level = std::sqrt(level / static_cast<double>(n));
  const double noise = std::pow(10.0, o.noiseDb / 20.0) * std::sqrt(3.0);
  std::vector<float> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double drift = std::pow(10.0, o.driftDbPerSecond * static_cast<double>(i) / kRate / 20.0);
    out[i] = static_cast<float>((drift * y[i] / level + noise * (Uniform(random) * 2.0 - 1.0)) / 3.0);
  }
  return out;
}

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
      // Within a cent where the pitch holds still: what tuning by ear cannot tell apart.
      EXPECT_TRUE(hit && std::fabs(p.cents - cents) <= (variant == 1 ? 8.0 : 1.0))
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
  // A high note in loud noise (-6 dB): a period of a few frames repeats as
  // well as its multiples, so it is named, not a multiple or nothing.
  for (int note = 96; note <= 104; ++note) {
    const PitchEstimate high = Detect(MakeTone(Shape::kSaw, NoteHz(note), {0.0, -6.0, 0.0, 0.5}, static_cast<std::uint64_t>(note)));
    EXPECT_TRUE(high.pitched && high.note == note) << note << ": " << high.frequency;
  }
  const PitchEstimate p = Detect(MakeTone(Shape::kSaw, NoteHz(69), {0.0, -200.0, 0.0, 0.1}));
  EXPECT_TRUE(p.pitched && p.note == 69 && std::fabs(p.cents) < 3.0) << p.frequency;
}

// The classes that fooled a plain YIN: a fundamental above 4 kHz, a missing
// fundamental (the residue pitch), two stops a fifth apart (the lower one,
// not their common period an octave below), a weak fundamental under a strong
// 7th harmonic, a reed's fundamental swelling and fading under a strong
// octave. Partials as {harmonic, level}, of `hz`.
TEST(Pitch, NamesThePitchAListenerNames) {
  const struct { const char* name; double hz; std::vector<std::pair<double, double>> partials; double expect; } cases[] = {
      {"4.2 kHz tone", 4200.0, {{1, 1.0}}, 4200.0},
      {"no fundamental", 110.0, {{2, 1.0}, {3, 0.8}, {4, 0.6}, {5, 0.5}, {6, 0.4}, {7, 0.3}}, 110.0},
      {"stops a fifth apart", 110.0, {{2, 1.0}, {4, 0.5}, {6, 0.33}, {8, 0.25}, {10, 0.2}, {3, 0.7}, {9, 0.23}, {15, 0.14}}, 220.0},
      {"weak fundamental", 55.0, {{1, 0.01}, {2, 0.3}, {3, 0.2}, {7, 1.0}, {8, 0.1}}, 55.0},
      {"fundamental coming and going under the octave", 659.3, {{1, 0.15}, {1.003, 0.1}, {2, 1.0}, {3, 0.08}}, 659.3},
  };
  for (const auto& c : cases) {
    std::vector<float> x(31250);
    for (std::size_t i = 0; i < x.size(); ++i) {
      for (const auto& [k, a] : c.partials) x[i] += static_cast<float>(0.2 * a * std::sin(6.283185307179586 * k * c.hz * i / 31250.0 + k));
    }
    const PitchEstimate p = Detect(x);
    EXPECT_TRUE(p.pitched && std::fabs(1200.0 * std::log2(p.frequency / c.expect)) < 3.0) << c.name << ": " << p.frequency;
  }
  // A tubular bell: its strike note is named from partials near 2:3:4:5 of
  // it, stretched, over a hum and a partial that belong to no series; each
  // fades, the higher faster. Within 50 cents, as a listener would name it.
  for (const double hz : {261.63, 523.25, 1046.5}) {
    std::vector<float> x(31250);
    const double ratios[][2] = {{0.625, 0.3}, {1.23, 0.4}, {2.0, 0.6}, {2.94, 1.0}, {4.0, 0.8}, {5.17, 0.3}};
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double t = static_cast<double>(i) / 31250.0;
      for (const auto& [k, a] : ratios) x[i] += static_cast<float>(0.2 * a * std::exp(-t * (0.5 + 0.4 * k)) * std::sin(6.283185307179586 * k * hz * t + k));
    }
    const PitchEstimate p = Detect(x);
    EXPECT_TRUE(p.pitched && std::fabs(1200.0 * std::log2(p.frequency / hz)) < 50.0) << "bell " << hz << ": " << p.frequency;
  }
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

// RMS over 2 ms of a - b against the sample's RMS, in dB.
double ErrorDb(const std::vector<float>& x, const float* a, const float* b) {
  double d = 0.0, level = 0.0;
  for (std::size_t i = 0; i < 62; ++i) d += (a[i] - b[i]) * (a[i] - b[i]) / 62.0;
  for (float v : x) level += v * v / static_cast<double>(x.size());
  return 10.0 * std::log10(std::max(d, 1e-24) / level);
}
// Looped playback after the seam against the sample's own continuation.
double SeamDb(const std::vector<float>& x, std::int64_t loop, std::int64_t end) { return ErrorDb(x, &x[loop], &x[end]); }

// Both picks: natural first (100 ms or more), compact second, each within 2
// cents of a whole number of periods and with a seam that continues the
// waveform (a chorus that lines up only off its mean period: within 4 cents);
// after ApplyLoop and ApplyPitch the attack and the loop both play
// within 3 cents of the note. Sine, saw, a reed (square), a chorus (two saws
// 2 Hz apart about the note) and a breathy flute (vibrato, noise at -20 dB).
TEST(LoopSearch, SeamsContinueTheWaveformOfDriftingTonesAndPlayInTune) {
  const struct { Shape shape; double vibrato, noiseDb, limitDb; bool chorus; } cases[] = {
      {Shape::kSine, 0.0, -200.0, -40.0, false}, {Shape::kSaw, 0.0, -200.0, -34.0, false}, {Shape::kSine, 20.0, -200.0, -30.0, false},
      {Shape::kSaw, 20.0, -200.0, -30.0, false}, {Shape::kSquare, 10.0, -200.0, -30.0, false}, {Shape::kSine, 10.0, -30.0, -25.0, false},
      {Shape::kSaw, 0.0, -200.0, -12.0, true}, {Shape::kSine, 15.0, -20.0, -15.0, false}};
  std::uint64_t random = 99;
  int inTune = 0, count = 0;
  for (const auto& c : cases) {
    double worst = -200.0, naiveWorst = -200.0, worstTune = 0.0;
    for (int note = 28 + static_cast<int>(&c - cases) % 3; note <= 96; note += 6) {
      const double hz = NoteHz(note + Uniform(random) * 0.9 - 0.45);
      SampleData s;
      s.frames = MakeTone(c.shape, hz - (c.chorus ? 1.0 : 0.0), {c.vibrato, c.noiseDb, -0.1, 1.5});  // slow: 1 dB in 10 s
      if (c.chorus) {
        const std::vector<float> voice = MakeTone(c.shape, hz + 1.0, {c.vibrato, c.noiseDb, -0.1, 1.5}, 7);
        for (std::size_t i = 0; i < voice.size(); ++i) s.frames[i] += voice[i];
      }
      const std::vector<float>& x = s.frames;
      LoopSearchOptions search{-1, static_cast<std::int64_t>(x.size()) - 3000, 31250.0 / hz};  // room to measure past end
      std::vector<LoopCandidate> found;
      ASSERT_TRUE(FindLoops(x.data(), x.size(), search, found) == kOk && !found.empty());
      EXPECT_TRUE(found[0].kind == LoopPreference::kNatural && found[0].end - found[0].loop >= 3125) << note;
      auto compact = std::find_if(found.begin(), found.end(), [](const LoopCandidate& l) { return l.kind == LoopPreference::kCompact; });
      if (compact == found.end()) compact = found.begin();  // the natural pick is the shortest too
      EXPECT_LE(compact->end - compact->loop, found[0].end - found[0].loop);
      for (const LoopCandidate& l : {found[0], *compact}) {
        EXPECT_TRUE(l.end <= search.to && l.loop < l.end && SeamDb(x, l.loop, l.end) <= c.limitDb && std::fabs(l.tuningCents) <= (c.chorus ? 4.0 : 2.0))
            << note << " " << SeamDb(x, l.loop, l.end) << " dB " << l.tuningCents << " cents";
        worst = std::max(worst, SeamDb(x, l.loop, l.end));
      }
      naiveWorst = std::max(naiveWorst, SeamDb(x, found[0].end - std::lround(31250.0 / hz), found[0].end));
      // The pick's two points sit where their seam fits best: no move of both
      // together by up to 16 frames is 2 dB smoother.
      for (std::int64_t d = -16; d <= 16; ++d) {
        const LoopCandidate& l = found[0];
        if (d == 0 || l.loop + d < 62 || l.end + d > search.to) continue;
        EXPECT_GT(SeamErrorDb(x.data(), x.size(), l.loop + d, l.end + d, 31250.0 / hz), l.errorDb - 2.0) << note << " " << d;
      }
      // As add --find-loop --detect-root does it.
      ApplyLoop(s, found[0]);
      ASSERT_TRUE(ApplyPitch(s, Detect(x))) << note << " shape " << int(c.shape) << " vib " << c.vibrato << " chorus " << c.chorus;
      const double root = NoteHz(s.rootNote), length = static_cast<double>(s.markers.end - s.markers.loop);
      const double attack = 1200.0 * std::log2(hz / root) + s.transpose;
      const double loop = 1200.0 * std::log2(31250.0 * std::round(length * hz / 31250.0) / length / root) + s.transpose;
      worstTune = std::max({worstTune, std::fabs(attack), std::fabs(loop)});
      inTune += std::fabs(attack) <= 3.0 && std::fabs(loop) <= 3.0, ++count;
    }
    std::printf("shape %d vibrato %2.0f: worst seam %.1f dB, naive %.1f dB; worst tuning %.2f cents\n", int(c.shape), c.vibrato,
                worst, naiveWorst, worstTune);
  }
  EXPECT_EQ(inTune, count);
  // A chorus beating at 0.5 Hz: the natural loop holds a whole beat (2 s).
  std::vector<float> chorus = MakeTone(Shape::kSaw, 220.0, {0.0, -200.0, 0.0, 5.0});
  const std::vector<float> voice = MakeTone(Shape::kSaw, 220.5, {0.0, -200.0, 0.0, 5.0});
  for (std::size_t i = 0; i < chorus.size(); ++i) chorus[i] += voice[i];
  std::vector<LoopCandidate> found;
  ASSERT_TRUE(FindLoops(chorus.data(), chorus.size(), {-1, -1, 31250.0 / 220.25}, found) == kOk && !found.empty());
  const std::int64_t beat = found[0].end - found[0].loop;
  EXPECT_TRUE(std::llabs(beat % 62500 - 31250) > 31250 - 1250 && beat >= 62500 - 1250 && found[0].errorDb < -30.0) << beat;
  // A fast decay (40 dB/s) allows no long loop: a short one with a clean seam.
  const std::vector<float> decay = MakeTone(Shape::kSaw, 220.0, {0.0, -200.0, -40.0, 1.0});
  ASSERT_TRUE(FindLoops(decay.data(), decay.size(), {-1, 28000, 31250.0 / 220.0}, found) == kOk && !found.empty());
  EXPECT_TRUE(found[0].end - found[0].loop < 3125 && SeamDb(decay, found[0].loop, found[0].end) < -25.0)
      << found[0].end - found[0].loop << " frames, " << SeamDb(decay, found[0].loop, found[0].end) << " dB";
  // A vibrato (5.5 Hz) holds a whole cycle in the natural loop, also while the
  // level falls; a tone too short for 100 ms keeps at least half its sustain.
  // Every candidate past the two picks is a length of its own, half a period
  // or more from the others'.
  const struct { double vibrato, driftDbPerSecond, seconds, shortest; } held[] = {
      {20.0, 0.0, 2.0, 0.85 * 31250.0 / 5.5}, {20.0, -3.0, 2.0, 0.85 * 31250.0 / 5.5}, {20.0, 0.0, 0.12, 1400.0}};
  for (const auto& h : held) {
    const std::vector<float> x = MakeTone(Shape::kSaw, 220.0, {h.vibrato, -200.0, h.driftDbPerSecond, h.seconds});
    ASSERT_TRUE(FindLoops(x.data(), x.size(), {-1, -1, 31250.0 / 220.0}, found) == kOk && found.size() >= 3);
    EXPECT_GE(static_cast<double>(found[0].end - found[0].loop), h.shortest) << h.vibrato << " " << h.seconds;
    EXPECT_LE(found.size(), LoopSearchOptions{}.maxCandidates);
    for (std::size_t i = 2; i < found.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        EXPECT_GE(std::llabs((found[i].end - found[i].loop) - (found[j].end - found[j].loop)), 70) << i << " " << j;
      }
    }
  }
  // A low note with a short sustain: its best loops end near the start, and
  // moving them reads nothing before the first frame (ASan sees it).
  const std::vector<float> low = MakeTone(Shape::kSaw, 50.0, {0.0, -200.0, 0.0, 0.15});
  ASSERT_TRUE(FindLoops(low.data(), low.size(), {-1, -1, 625.0}, found) == kOk && !found.empty());
  EXPECT_TRUE(found[0].loop >= 0 && found[0].end <= static_cast<std::int64_t>(low.size()));
  // The seam of a loop from the first frame is measured after it alone.
  const std::vector<float> sine = MakeTone(Shape::kSine, 31250.0 / 50.0, {});
  EXPECT_LT(SeamErrorDb(sine.data(), sine.size(), 0, 5000, 50.0), -60.0);
  EXPECT_TRUE(std::isnan(SeamErrorDb(sine.data(), sine.size(), -1, 5000)) && std::isnan(SeamErrorDb(sine.data(), 5000, 0, 5001)));
  // Noise: whatever is found is poor.
  const std::vector<float> noise = MakeTone(Shape::kNoise, 0.0, {});
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
    // Auto: a seam worse than -30 dB gets the shortest fade that brings it under -35 dB; a good one none.
    SampleData a;
    a.frames = x;
    ApplyLoop(a, {loop, kEnd, 0.0, 1.0});
    const double naive = LoopSeamDb(a);
    const std::int64_t n = CrossfadeLoopAuto(a);
    EXPECT_TRUE(naive <= -30.0 ? n == 0 : n > 0 && n < kFade * 4) << c.note << " " << naive << " " << n;
    if (n > 0) {
      SampleData shorter = s;
      shorter.frames = x;
      EXPECT_TRUE(LoopSeamDb(a) <= -35.0 || n == std::min(loop, kEnd - loop)) << c.note << " " << LoopSeamDb(a);  // or the longest
      EXPECT_GT(CrossfadeLoop(shorter, n * 3 / 4) < n ? LoopSeamDb(shorter) : 0.0, -35.0);
    }
  }
  SampleData good;
  good.frames = MakeTone(Shape::kSine, 31250.0 / 50.0, {});
  ApplyLoop(good, {10000, 12000, 0.0, 40.0});
  EXPECT_EQ(CrossfadeLoopAuto(good), 0);
}

#ifdef TAVRIN_CLI_PATH
TEST(AnalysisCommands, AddAppliesPitchAndLoopOnlyWhenAskedAnalyzeReportsThem) {
  TempDir dir;
  SampleData tone, noise, low;
  tone.frames = MakeTone(Shape::kSaw, NoteHz(69 - 0.30), {0.0, -200.0, 0.0, 1.5});  // A4, 30 cents flat
  noise.frames = MakeTone(Shape::kNoise, 0.0, {});
  low.frames = MakeTone(Shape::kSaw, NoteHz(62), {});
  tone.markers = {0, 0, -1, tone.frameCount()}, noise.markers = {0, 0, -1, noise.frameCount()};
  low.markers = {0, 0, -1, low.frameCount()};
  ASSERT_EQ(WriteWavFile(tone, dir.File("tone.wav")) | WriteWavFile(noise, dir.File("noise.wav")) |
                WriteWavFile(low, dir.File("low.wav")),
            kOk);
  auto tavrin = [&](const std::string& args) {
    return RunCommand("cd \"" + dir.path().string() + "\" && \"" TAVRIN_CLI_PATH "\" " + args, dir.File("stderr.txt"));
  };
  ASSERT_EQ(tavrin("add c.qz --multi Plain tone.wav").status, 0);
  ASSERT_EQ(tavrin("add c.qz --multi Tone tone.wav --detect-root --find-loop --crossfade 20").status, 0);
  ASSERT_EQ(tavrin("add c.qz --multi Compact tone.wav --find-loop compact --crossfade auto").status, 0);
  ASSERT_EQ(tavrin("add c.qz --drum Drum tone.wav --find-loop").status, 0);
  const CommandRun unpitched = tavrin("add c.qz --multi Noise noise.wav --detect-root");
  EXPECT_NE(unpitched.out.find("no pitch found"), std::string::npos) << unpitched.out;
  for (const char* refused : {"--drum D tone.wav --detect-root", "--multi M tone.wav --crossfade 20",
                              "--multi M tone.wav --find-loop --crossfade 0", "--multi M tone.wav --find-loop --crossfade",
                              "--multi M tone.wav --crossfade auto"}) {
    EXPECT_EQ(tavrin(std::string("add c.qz ") + refused).status, 2) << refused;
  }
  // Several files: each key plays the sample whose root is nearest.
  ASSERT_EQ(tavrin("add c.qz --multi Two tone.wav low.wav --detect-root").status, 0);
  CardDocument doc;
  ASSERT_EQ(LoadCardFile(dir.File("c.qz"), doc), kOk);
  ASSERT_EQ(doc.multisounds.size(), 5u);
  const std::vector<SampleData>& two = doc.multisounds[4].samples;
  ASSERT_EQ(two.size(), 2u);
  EXPECT_TRUE(two[0].rootNote == 62 && two[0].topKey == 65 && two[1].rootNote == 69 && two[1].topKey == 127)
      << int{two[0].rootNote} << " " << int{two[0].topKey} << " " << int{two[1].topKey};
  const SampleData& plain = doc.multisounds[0].samples.at(0);
  const SampleData& s = doc.multisounds[1].samples.at(0);
  EXPECT_TRUE(plain.rootNote == 12 && !plain.loopOn && doc.multisounds[3].samples.at(0).rootNote == 12);
  const SampleData& compact = doc.multisounds[2].samples.at(0);
  EXPECT_TRUE(compact.loopOn && compact.markers.end - compact.markers.loop < s.markers.end - s.markers.loop);
  EXPECT_TRUE(s.rootNote == 69 && std::abs(s.transpose - 30) <= 1) << int{s.transpose};
  EXPECT_TRUE(s.loopOn && s.loopFlags == LoopFlags::kForward && s.markers.loop > 0 && s.markers.loop < s.markers.end);
  EXPECT_NE(tavrin("info c.qz --json").out.find("\"rootNote\": 69"), std::string::npos);
  const SampleData& drum = doc.drumsounds.at(0).samples.at(0);  // not the import's 5 frames at the end
  EXPECT_TRUE(drum.loopOn && drum.markers.end - drum.markers.loop > 5);
  const CommandRun r = tavrin("analyze tone.wav --json");
  for (const char* part : {"\"pitched\": true", "\"note\": 69", "\"noteName\": \"A4\"", "\"cents\": -30.", "\"seamErrorDb\": -",
                           "\"kind\": \"natural\"", "\"kind\": \"compact\"", "\"tuningCents\": "}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << " in " << r.out;
  }
  EXPECT_NE(tavrin("analyze noise.wav").out.find("pitch: none found"), std::string::npos);
  EXPECT_EQ(tavrin("analyze missing.wav").status, 1);
}
#endif

}  // namespace
}  // namespace tavrin
