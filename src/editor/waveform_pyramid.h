// The smallest and largest frame of every 16, 256 and 4096 frames of a
// sample, built once per change of the frames, so that the waveform view at
// any zoom reads the coarsest level that fits each column and the raw frames
// only at its edges: a column of a 10,000,000-frame overview costs a few
// dozen reads instead of twenty thousand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"

namespace tavrin {

// lo > hi when the range held no frame (or only NaN).
struct MinMax {
  float lo;
  float hi;
};

class MinMaxPyramid {
 public:
  static constexpr std::uint32_t kLevels = 3;
  static constexpr std::uint32_t kShift[kLevels] = {4, 8, 12};  // 16, 256, 4096 frames per entry

  // Builds the levels for these frames; 4 leaves the pyramid empty (and
  // Range still right, from the raw frames).
  Result Build(const float* frames, std::uint64_t count);
  void Clear();
  std::uint64_t FrameCount() const { return count_; }

  // Of frames [from, to), clipped to the frames built for. `frames` are the
  // frames the pyramid was built from.
  MinMax Range(const float* frames, std::uint64_t from, std::uint64_t to) const;

  // Column k of `columns` covers frames [floor(first + k f), floor(first +
  // (k + 1) f)) for f frames per column; a column narrower than one frame
  // (several pixels per frame) gets the frame under its left edge, and one
  // past the frames gets lo > hi.
  void Columns(const float* frames, double firstFrame, double framesPerColumn, std::size_t columns,
               MinMax* out) const;

 private:
  std::uint64_t count_ = 0;
  std::vector<MinMax> levels_[kLevels];
};

}  // namespace tavrin
