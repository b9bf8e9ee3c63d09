// The stored sample formats the WAV and AIFF readers know, and the decoder
// that turns one stored sample into a float.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "audio/byte_view.h"

namespace tavrin {

enum class SampleKind : std::uint32_t {
  kNone = 0,
  kU8 = 1,        // unsigned 8-bit, offset binary
  kS8 = 2,        // signed 8-bit
  kS16LE = 3,
  kS16BE = 4,
  kS24LE = 5,
  kS24BE = 6,
  kS32LE = 7,
  kS32BE = 8,
  kF32LE = 9,
  kF32BE = 10,
  kF64LE = 11,
  kF64BE = 12,
  kALaw = 13,
  kULaw = 14,
};

// Bytes one stored sample of the kind takes (0 for kNone).
std::uint32_t SampleKindSize(SampleKind kind);

// G.711 decoding to the signed linear magnitude (A-law 13-bit, mu-law 14-bit).
std::int32_t ALawToLinear(std::uint8_t byte);
std::int32_t ULawToLinear(std::uint8_t byte);

// Decodes the sample at pos and advances pos by the kind's size, even when the
// read fell outside the bytes (then the value is 0 and the short flag is set).
float DecodeSample(ByteView& view, std::uint64_t& pos, SampleKind kind);

// Decodes frameCount frames of `channels` samples each from `start` on, mixes
// each frame to mono (sum in single precision divided by the channel count)
// into `frames` and keeps the frame of greatest magnitude in `peak` (a frame
// replaces it only when its magnitude is greater). When the samples do not lie
// wholly inside the bytes nothing is allocated and the result is 5; no memory
// gives 4. channels and the kind's size must not be 0.
Result DecodeAndMix(const ByteView& view, std::uint64_t start, std::uint64_t frameCount, std::uint32_t channels,
                    SampleKind kind, std::vector<float>& frames, float& peak);

}  // namespace tavrin
