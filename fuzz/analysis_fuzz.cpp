// Pitch detection, loop search and crossfades on arbitrary sound: the first
// 8 bytes choose the options (the sound as 16-bit values or as raw floats,
// NaN and infinities included; the period the search is given; where it may
// loop; the preference), the rest are the frames. What a user's file or an
// edited sample can hold must neither crash nor hang the analysis.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/loop_search.h"
#include "audio/pitch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 8, kMaxFrames = 8192;  // a quarter second: every branch of the search, quickly
  if (size < kHeader) return 0;
  const std::uint8_t* h = data;
  data += kHeader, size -= kHeader;
  const bool floats = (h[0] & 1) != 0;
  std::vector<float> x;
  if (floats) {
    x.resize(std::min(size / 4, kMaxFrames));
    if (!x.empty()) std::memcpy(x.data(), data, x.size() * 4);
  } else {
    x.resize(std::min(size / 2, kMaxFrames));
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = static_cast<float>(static_cast<std::int16_t>(data[2 * i] | data[2 * i + 1] << 8)) / 32767.0f;
    }
  }
  tavrin::PitchEstimate pitch;
  tavrin::DetectPitch(x.data(), x.size(), 31250.0, pitch);

  tavrin::LoopSearchOptions options;
  const auto count = static_cast<std::int64_t>(x.size());
  options.period = (h[0] & 2) != 0 && pitch.pitched ? 31250.0 / pitch.frequency : (h[1] | h[2] << 8) / 16.0;
  options.from = (h[0] & 4) != 0 ? -1 : count * h[3] / 256;
  options.to = (h[0] & 8) != 0 ? -1 : count * h[4] / 255;
  options.maxCandidates = h[5] % 8;
  options.preference = (h[0] & 16) != 0 ? tavrin::LoopPreference::kCompact : tavrin::LoopPreference::kNatural;
  std::vector<tavrin::LoopCandidate> found;
  if (tavrin::FindLoops(x.data(), x.size(), options, found) != tavrin::kOk) return 0;

  tavrin::SampleData sample;
  sample.frames = x;
  sample.markers.end = count;
  sample.markers.start = 0;
  if (!found.empty()) {
    tavrin::ApplyLoop(sample, found.front());
  } else {  // a loop set by hand, anywhere
    sample.markers.loop = count * h[6] / 256, sample.markers.end = count * h[7] / 256;
    sample.loopOn = true;
  }
  tavrin::LoopSeamDb(sample);
  tavrin::SeamErrorDb(x.data(), x.size(), sample.markers.loop, sample.markers.end, options.period);
  tavrin::CrossfadeLoopAuto(sample);
  tavrin::ApplyPitch(sample, pitch);
  return 0;
}
