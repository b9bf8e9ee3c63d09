// The seam error of a loop: how far the waveform around the loop point
// differs from the one around the end, measured exactly as the loop search
// scores its candidates, so the editor's figure for a loop set by hand equals
// the one `tavrin analyze` lists for the same loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrin {

// In dB: the energy of the difference over a few periods (2 before the seam,
// 1 after; 256 and 128 frames when `period` is 0) against the energy at the
// end, or that per frame over the 32 frames each side of the seam if worse.
// Near the sample's start the window before the seam shrinks. NaN when the
// loop is not measurable (not 0 <= loop < end <= count, or silence at end).
double SeamErrorDb(const float* frames, std::size_t count, std::int64_t loop, std::int64_t end, double period = 0.0);

}  // namespace tavrin
