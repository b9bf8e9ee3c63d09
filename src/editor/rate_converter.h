// Streaming rate conversion for the preview: a Kaiser-windowed sinc read at
// a fractional position, with its kernel tabulated once per output rate.
// Pull-based: it asks a source for frames as it needs them, so the loop
// logic stays in source frames and the transpose is only a step size.
// Nothing is allocated after Prepare.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"

namespace tavrin {

class FrameSource {
 public:
  // Writes up to `count` frames; fewer means the source has ended.
  virtual std::uint32_t Pull(float* out, std::uint32_t count) = 0;

 protected:
  ~FrameSource() = default;
};

class RateConverter {
 public:
  // Tables for source rates up to maxSourceRate played at outputRate. 2 a
  // rate is 0, 4 no memory.
  Result Prepare(std::uint32_t maxSourceRate, std::uint32_t outputRate);
  // Empties the history: the next output is the source's next frame.
  void Reset();
  // Up to `count` output samples, stepping `step` source frames per output
  // (source rate / output rate). Fewer than `count` once the source has
  // ended and its last frames have been played out.
  std::uint32_t Render(FrameSource& source, double step, float* out, std::uint32_t count);

  std::uint32_t outputRate() const { return outputRate_; }

 private:
  struct Kernel {
    std::uint32_t half = 0;  // taps on each side
    std::vector<float> table;
  };
  static Result Tabulate(Kernel& k, double cutoff);
  float Interpolate(const Kernel& k, std::uint32_t i, double frac) const;
  void Refill(FrameSource& source, std::uint32_t half);

  static constexpr std::uint32_t kPhases = 256;
  static constexpr std::uint32_t kBlock = 256;
  std::uint32_t outputRate_ = 0;
  // Steps above 1 (a higher transpose, a key of the keyboard strip above
  // the root) are cut at the output's Nyquist frequency: one kernel for
  // steps up to the highest source rate, then one every half octave above.
  static constexpr std::uint32_t kDownKernels = 6;
  Kernel up_;  // step <= 1: cut at the source's Nyquist frequency
  Kernel down_[kDownKernels];
  double downStep_[kDownKernels] = {};  // the largest step each is cut for
  const Kernel& KernelFor(double step) const;
  std::uint32_t History() const;
  std::vector<float> buf_;
  std::uint32_t count_ = 0;  // valid frames in buf_
  double pos_ = 0.0;         // read position in buf_
  bool ended_ = false;
  std::uint32_t endIndex_ = 0;  // one past the source's last frame in buf_
};

}  // namespace tavrin
