// Pitch of a sample: the fundamental of its steady part, the nearest note and
// the deviation in cents, or "unpitched" for noise and most drums. Applying it
// sets a sample's root note and transpose.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.h"
#include "card/document.h"

namespace tavrin {

struct PitchEstimate {
  bool pitched = false;
  double frequency = 0.0;  // Hz
  std::uint8_t note = 0;   // nearest note number
  double cents = 0.0;      // the sound against that note: -30 is 30 cents flat
  double confidence = 0.0; // 0..1; how periodic the steady part is
};

// The frames from which the sound is steady: past the attack, where the level
// first comes within 6 dB of its peak (a swell comes within 3 dB only late).
// 0 for an empty or silent buffer.
std::size_t SteadyStart(const float* frames, std::size_t count);

// The fundamental of `frames` (at `rate` frames per second) between 25 Hz and
// 4 kHz, measured over the steady part and ignoring silence. `out` is
// unpitched when no stable period is found. 4 when memory ran out.
Result DetectPitch(const float* frames, std::size_t count, double rate, PitchEstimate& out);

// Sets rootNote to the note and transpose to correct the deviation (a sample
// 30 cents flat gets +30). With the loop on, the loop's cycles are counted at
// the measured period: a loop within 6 cents of the attack gets the transpose
// halfway between the two, so that both play in tune; one further off gets
// its own, as the automatic transpose would.
// An unpitched estimate changes nothing; returns whether the sample changed.
bool ApplyPitch(SampleData& sample, const PitchEstimate& pitch);

}  // namespace tavrin
