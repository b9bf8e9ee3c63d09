// Writes a few small card-files to a folder, as the starting corpus of the
// card-file fuzzer: PCM multisounds, DWGS sets and drums, plain and scrambled.
#include <cstdio>
#include <string>

#include "seed_file.h"

#include "card/card_file.h"
#include "card/card_image.h"

using namespace tavrin;

namespace {

SampleData Sample(std::size_t n, std::uint8_t root, std::int64_t loop) {
  SampleData s;
  for (std::size_t i = 0; i < n; ++i) s.frames.push_back(static_cast<float>(i % 7) / 8.0f - 0.4f);
  s.markers = {0, 0, loop, static_cast<std::int64_t>(n)};
  s.rootNote = root;
  s.loopFlags = 4;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: card_file_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  CardDocument doc;
  doc.name.assign("Seed");
  Sound* m = AppendSound(doc.multisounds, SoundType::Multisound);
  m->name.assign("Pcm");
  m->samples = {Sample(12, 60, 4), Sample(9, 48, 2)};
  for (int k = 0; k < 2; ++k) {
    Sound* d = AppendSound(doc.multisounds, SoundType::Multisound);
    d->name.assign("Dwgs");
    d->waveType = WaveType::DWGS;
    for (std::size_t n = 16; n >= 4; n /= 2) d->samples.push_back(Sample(n, 36, 0));
  }
  Sound* drum = AppendSound(doc.drumsounds, SoundType::Drumsound);
  drum->name.assign("Kick");
  drum->samples = {Sample(10, 36, 5)};
  std::vector<std::uint8_t> bytes;
  EncodeCardFile(doc, 0, bytes);
  Write(dir + "/plain.qz", bytes);
  EncodeCardFile(doc, 0x5A, bytes);
  Write(dir + "/scrambled.qz", bytes);
  CardDocument empty;
  EncodeCardFile(empty, 0, bytes);
  Write(dir + "/empty.qz", bytes);
  // Twenty zones that all name one 1000-frame sample: far more frames than
  // the file holds, which the loader refuses.
  CardDocument shared;
  Sound* z = AppendSound(shared.multisounds, SoundType::Multisound);
  z->name.assign("Shared");
  z->samples.push_back(Sample(1000, 0, 0));
  for (int i = 1; i < 20; ++i) z->samples.push_back(Sample(1, static_cast<std::uint8_t>(i), 0));
  EncodeCardFile(shared, 0, bytes);
  std::size_t zonePos = 0;
  for (int i = 3; i >= 0; --i) zonePos = zonePos << 8 | bytes[32 + static_cast<std::size_t>(i)];
  zonePos *= 2;
  for (std::size_t j = 0; j < 20 && zonePos + 10 * j + 1 < bytes.size(); ++j) {
    bytes[zonePos + 10 * j] = 0;
    bytes[zonePos + 10 * j + 1] = 0;
  }
  Write(dir + "/shared-zones.qz", bytes);
  return 0;
}
