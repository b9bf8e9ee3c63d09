// What the planner asks of the loop search, pitch detection and crossfade:
// the one place that talks to them.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "card/document.h"

namespace tavrin::fit {

inline constexpr double kSeamGoalDb = -30.0;   // a loop made is at least this smooth
inline constexpr double kTuningGoalCents = 3.0;

struct Pitch {
  bool pitched = false;
  double frequency = 0.0;  // Hz
};

// The pitch of frames [from, to) of a sample.
Result MeasurePitch(const SampleData& s, std::int64_t from, std::int64_t to, Pitch& out);
// Where the sound in [from, to) is past its attack.
std::int64_t SustainStart(const SampleData& s, std::int64_t from, std::int64_t to);

// The seam of a loop in dB: the waveform leading into End against the one
// leading into Loop, over two periods (at most `loop - earliest` frames),
// or per frame over the last 1 ms if that is worse.
double SeamDb(const float* frames, std::int64_t earliest, std::int64_t loop, std::int64_t end, double period);
// How far a loop of `length` frames plays from `frequency`: it holds a whole
// number of periods, so it plays at kCardRate * k / length.
double GridCents(std::int64_t length, double frequency);

struct LoopChoice {
  std::int64_t loop = 0, end = 0;
  std::int64_t crossfade = 0;  // frames blended before End
  double seamDb = 0.0;         // after the crossfade
  double cents = 0.0;          // against the pitch measured over the loop
};

enum class LoopKind { Natural, Compact };

// A loop for the sustain in [from, to) of `s`: Natural, the smoothest of at
// least 100 ms, else the shortest; Compact, the shortest. Its seam is at most
// kSeamGoalDb (crossfaded where needed, from no earlier than `earliest`) and
// its tuning within kTuningGoalCents of the pitch measured from Loop over the
// loop (at least a quarter second) in `source`: the sound as it was before
// any step changed it, frame for frame. `found` false when there is none.
Result ChooseLoop(const SampleData& s, const SampleData& source, std::int64_t earliest, std::int64_t from,
                  std::int64_t to, double frequency, LoopKind kind, LoopChoice& out, bool& found);

// Blends the frames before End into those before Loop over `length` frames.
void CrossfadeSeam(SampleData& s, std::int64_t length);

}  // namespace tavrin::fit
