// Building documents and reading images in code for the card tests.
#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "card/card_image.h"
#include "card/document.h"

namespace tavrin::testing {

// A sample whose frames are the given 16-bit values, with markers covering
// them all and the loop at `loop`.
inline SampleData MakeSample(const std::vector<int>& values, std::int64_t loop = 0, std::uint8_t root = 60) {
  SampleData s;
  for (int v : values) s.frames.push_back(Int16ToFrame(static_cast<std::int16_t>(v)));
  s.markers.start = 0;
  s.markers.loop = loop;
  s.markers.end = static_cast<std::int64_t>(values.size());
  s.rootNote = root;
  return s;
}

// A sample of n frames with values counting up from `first`.
inline SampleData RampSample(std::size_t n, int first = 1, std::uint8_t root = 60) {
  std::vector<int> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<int>((first + static_cast<int>(i)) % 30000);
  return MakeSample(v, 0, root);
}

inline Sound& AddMulti(CardDocument& doc, const char* name, WaveType type = WaveType::PCM) {
  Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
  s->name.assign(name);
  s->waveType = type;
  return *s;
}

inline Sound& AddDrum(CardDocument& doc, const char* name) {
  Sound* s = AppendSound(doc.drumsounds, SoundType::Drumsound);
  s->name.assign(name);
  return *s;
}

// A DWGS wave set as the editor's conversion makes it: eight waves of 512
// down to 4 frames (1020 in all), start at half the wave, loop 0, end at the
// last frame. `seed` makes the values of different sets differ.
inline void AddDwgsWaves(Sound& sound, int seed) {
  for (std::size_t n = 512; n >= 4; n /= 2) {
    SampleData s = RampSample(n, seed * 1000 + static_cast<int>(n));
    s.markers.start = static_cast<std::int64_t>(n / 2);
    s.markers.loop = 0;
    s.loopFlags = 4;
    s.loopOn = true;
    sound.samples.push_back(s);
  }
}

// The image of doc, expected to build.
inline CardImage Build(CardDocument& doc, CardLayout layout = CardLayout::File) {
  CardImage image;
  EXPECT_EQ(BuildCardImage(doc, layout, image), kOk);
  return image;
}

// Reading images: n bytes at o; little-endian values at o.
inline CardImage Bytes(const CardImage& b, std::size_t o, std::size_t n) {
  return CardImage(b.begin() + o, b.begin() + o + n);
}
inline std::uint32_t Le16(const CardImage& b, std::size_t o) { return b[o] | (b[o + 1] << 8); }
inline std::uint32_t Le24(const CardImage& b, std::size_t o) { return Le16(b, o) | (b[o + 2] << 16); }
inline std::uint32_t Le32(const CardImage& b, std::size_t o) {
  return Le16(b, o) | (static_cast<std::uint32_t>(Le16(b, o + 2)) << 16);
}

}  // namespace tavrin::testing
