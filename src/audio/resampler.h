// Rational rate conversion with a polyphase windowed-sinc filter.
//
// The arithmetic is fixed so that the same audio gives the same card bytes on
// every machine: taps computed in double and rounded to single precision,
// each product and the running sum in single precision, terms added in
// ascending tap order. Within that the work is arranged for speed: the tap
// rows of every phase are laid out once per rate pair, outputs are computed
// several at a time (each with its own sum, still in tap order) and no
// division happens per output frame.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"

namespace tavrin {

class ResamplerFilter {
 public:
  // Builds the filter for a rate pair: 0, 2 a rate is 0, 4 no memory (also
  // for a filter too large to be worth computing).
  Result Prepare(std::uint32_t sourceRate, std::uint32_t destinationRate);

  // Converts src into dst[0..dstCount). 3 a buffer is missing, 5 dstCount is
  // below srcCount x up / down, 14 not prepared. Allocates nothing.
  Result Run(const float* src, std::uint64_t srcCount, float* dst, std::uint64_t dstCount) const;

  bool prepared() const { return prepared_; }
  std::uint32_t sourceRate() const { return sourceRate_; }
  std::uint32_t destinationRate() const { return destinationRate_; }
  std::uint64_t up() const { return up_; }
  std::uint64_t down() const { return down_; }
  std::uint64_t halfLength() const { return n_; }
  // Taps used per output frame (K).
  std::uint64_t tapsPerOutput() const { return k_; }
  // The prototype filter h[0..2N].
  const std::vector<float>& prototype() const { return h_; }
  // Floats held by the filter (prototype and phase blocks).
  std::uint64_t footprint() const { return h_.size() + blocks_.size(); }

 private:
  static constexpr std::uint32_t kLanes = 16;
  struct Chunk {
    std::uint64_t offset = 0;  // into blocks_, span x kLanes floats
    std::uint64_t span = 0;    // source frames the chunk reads
    std::uint32_t lanes = 0;   // outputs it makes (kLanes except the last chunk)
  };

  static void ChunkSums(const float* x, const float* taps, std::uint64_t span, float* acc);
  float OneOutput(const float* src, std::uint64_t srcCount, std::int64_t q, std::int64_t r) const;

  bool prepared_ = false;
  std::uint32_t sourceRate_ = 0;
  std::uint32_t destinationRate_ = 0;
  std::uint64_t up_ = 0;
  std::uint64_t down_ = 0;
  std::uint64_t n_ = 0;
  std::uint64_t k_ = 0;
  std::vector<float> h_;
  std::vector<float> blocks_;
  std::vector<Chunk> chunks_;
};

// 2N + 1 for a rate pair (0 when a rate is 0): what Prepare would compute.
std::uint64_t ResamplerPrototypeLength(std::uint32_t sourceRate, std::uint32_t destinationRate);

// False when a rate is 0 or the pair's filter is larger than Prepare builds
// (Prepare would give 4): such a pair cannot be converted at all.
bool ResamplerCanConvert(std::uint32_t sourceRate, std::uint32_t destinationRate);

// The Resampler of the import pipeline: 0 done; 2 a rate is 0; 3 a buffer is
// missing; 4 no memory for the filter; 5 the destination is shorter than
// srcCount x destinationRate / sourceRate. The filter of the last rate pair
// is kept per thread, so a run of imports at one rate builds it once.
Result Resampler(const float* src, std::uint64_t srcCount, std::uint32_t sourceRate, float* dst,
                std::uint64_t dstCount, std::uint32_t destinationRate);

}  // namespace tavrin
