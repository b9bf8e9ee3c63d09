// AIFF/AIFC decoder on arbitrary bytes; what decodes also goes through the
// rest of the import when the rate's filter is small enough to build quickly.
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/import.h"
#include "audio/readers.h"
#include "audio/resampler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavrin::DecodedAudio audio;
  if (tavrin::DecodeAiff(std::span<const std::uint8_t>(data, size), audio) != 0) return 0;
  if (audio.sampleRate == 0 || tavrin::ResamplerPrototypeLength(audio.sampleRate, tavrin::kCardRate) > (1u << 16) ||
      audio.frames.size() * std::uint64_t{tavrin::kCardRate} / audio.sampleRate > (1u << 22)) {
    return 0;
  }
  tavrin::Sound sound;
  sound.soundType = (size & 1) ? tavrin::SoundType::Drumsound : tavrin::SoundType::Multisound;
  tavrin::ImportDecoded(sound, "Fuzz", audio, false);
  return 0;
}
