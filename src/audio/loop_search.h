// Sustain loops by search: loop and end at rising zero crossings where the
// waveform across the seam continues itself, and an optional crossfade that
// smooths a seam without a perfect match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "card/document.h"

namespace tavrin {

struct LoopCandidate {
  std::int64_t loop = 0;
  std::int64_t end = 0;
  // The waveform around loop against the one around end, in dB: the energy
  // of their difference against the energy at end over a few periods, or
  // the same per frame over the 1 ms each side of the seam if that is worse.
  double errorDb = 0.0;
  double periods = 0.0;  // the loop's length in periods; 0 when none was given
};

struct LoopSearchOptions {
  std::int64_t from = -1;   // earliest loop; -1: the end of the attack
  std::int64_t to = -1;     // latest end; -1: the sample's end marker
  double period = 0.0;      // in frames, from the pitch; 0 when unpitched
  std::size_t maxCandidates = 5;
};

// Candidates, the one to use first (the shortest loop that is as good as the
// best, within 3 dB or better than -50 dB), then the others from the best.
// Empty when the region holds no two rising zero crossings. 4 no memory.
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

}  // namespace tavrin
