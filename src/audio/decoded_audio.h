// What every sample-file reader delivers: the whole file decoded to mono
// 32-bit floats at the file's own rate, with the loop and note information the
// file carries.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrin {

struct SmplLoop {
  std::uint32_t identifier = 0;
  std::uint32_t type = 0;
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::uint32_t fraction = 0;
  std::uint32_t playCount = 0;
};

struct InstLoop {
  std::uint32_t playMode = 0;
  std::uint32_t begin = 0;  // frames
  std::uint32_t end = 0;    // frames
};

struct DecodedAudio {
  std::vector<float> frames;  // mono
  std::uint64_t frameCount() const { return frames.size(); }
  std::uint32_t channelCount = 0;
  std::uint32_t sampleRate = 0;
  float peak = 0.0f;  // the mixed frame of greatest magnitude, with its sign

  // From a RIFF "smpl" chunk (WAV, FLAC).
  bool hasSmpl = false;
  std::uint8_t unityNote = 0;
  std::uint32_t pitchFraction = 0;
  std::vector<SmplLoop> loops;
  std::vector<std::uint8_t> samplerData;

  // From AIFF "INST" resolved through "MARK".
  bool hasInst = false;
  std::uint8_t instRootNote = 0;
  std::uint8_t instTopKey = 0;
  std::int8_t instDetune = 0;
  InstLoop sustainLoop;
  InstLoop releaseLoop;
};

}  // namespace tavrin
