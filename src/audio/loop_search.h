// Sustain loops by search over the whole sustain: End at rising zero crossings
// across it, lengths from one period to the sustain's length, scored by how
// the waveform across the seam continues itself, how alike the level and tone
// of the two places are, and how far the loop's length is from a whole number
// of periods; and a crossfade that smooths a seam without a good match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "card/document.h"

namespace tavrin {

// "natural" keeps the sustain's motion (at least one cycle of any vibrato or
// beating, and 100 ms where the sustain allows); "compact" is the shortest
// loop that meets the seam and tuning goals, for a full card.
enum class LoopPreference : std::uint8_t { kNatural, kCompact };

struct LoopCandidate {
  std::int64_t loop = 0;
  std::int64_t end = 0;
  // The waveform around loop against the one around end, in dB: the energy
  // of their difference against the energy at end over a few periods, or
  // the same per frame over the 2 ms each side of the seam if that is worse.
  double errorDb = 0.0;
  double periods = 0.0;  // the loop's length in periods; 0 when none was given
  // The loop played at 31250 frames per second against the whole number of
  // periods nearest its length, in cents (+2: the loop plays 2 cents sharp
  // of the measured pitch); 0 when no period was given.
  double tuningCents = 0.0;
  double lengthMs = 0.0;
  LoopPreference kind = LoopPreference::kNatural;  // the preference it is the pick of, or fits
};

struct LoopSearchOptions {
  std::int64_t from = -1;   // earliest loop; -1: the end of the attack
  std::int64_t to = -1;     // latest end; -1: the sample's end marker
  double period = 0.0;      // in frames, from the pitch; 0 when unpitched
  std::size_t maxCandidates = 5;
  LoopPreference preference = LoopPreference::kNatural;
};

// Seams better than this need no crossfade; a crossfade brings a seam under
// the second.
constexpr double kLoopSeamGoalDb = -30.0;
constexpr double kCrossfadeGoalDb = -35.0;

// Candidates: the pick of the preference first, then the pick of the other
// preference, then the others, best first, each of a distinct length. With a
// period and a sustain of a few periods there is always one (however poor its
// seam); empty when the region holds no two rising zero crossings. 4 no memory.
Result FindLoops(const float* frames, std::size_t count, const LoopSearchOptions& options,
                 std::vector<LoopCandidate>& out);

// Sets the loop and end markers and turns the forward loop on.
void ApplyLoop(SampleData& sample, const LoopCandidate& candidate);

// Blends the frames just before `end` into those just before `loop` over
// `length` frames (fewer when loop or the loop's length is shorter), with
// equal-power curves whose level is held for material that is alike at both
// places. Frames outside [end - length, end) stay as they were. Returns the
// length used; 0 when the loop is not set.
std::int64_t CrossfadeLoop(SampleData& sample, std::int64_t length);

// The seam of the loop from `loop` to `end` exactly as FindLoops gives it in
// a candidate's errorDb (`period` in frames, 0 when unpitched), so that a loop
// set by hand is shown with the figure `tavrin analyze` lists for it. NaN
// when not 0 <= loop < end <= count.
double SeamErrorDb(const float* frames, std::size_t count, std::int64_t loop, std::int64_t end, double period = 0.0);

// The seam of the sample's loop as FindLoops scores it, in dB; 0 when the loop
// is not set.
double LoopSeamDb(const SampleData& sample);

// When the loop's seam is worse than kLoopSeamGoalDb: the shortest crossfade
// (1 ms up to the loop's length) that brings it under kCrossfadeGoalDb, or the
// longest when none does. Returns the length used; 0 when none was needed.
std::int64_t CrossfadeLoopAuto(SampleData& sample);
// The length CrossfadeLoopAuto would use, in frames, without changing the
// sample; 0 when the seam needs none.
std::int64_t AutoCrossfadeFrames(const SampleData& sample);

}  // namespace tavrin
