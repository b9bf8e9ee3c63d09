// Writes small WAV files to a folder, as the starting corpus of the WAV
// fuzzer: every format tag and size, the extensible form, smpl chunks with
// and without the parameter block, odd chunks with and without pad bytes,
// files without sound (no data chunk, an empty one, one frame at 44.1 kHz)
// and the largest rate a "fmt " chunk can state.
#include <cstdio>
#include <string>

#include "seed_file.h"

#include "../tests/audio/audio_bytes.h"

using namespace tavrin::test;

namespace {

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> d(n);
  for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  auto put = [&](const std::vector<std::uint8_t>& bytes) { Write(dir + "/seed" + std::to_string(n++) + ".wav", bytes); };
  const struct {
    std::uint16_t tag, bits;
  } formats[] = {{1, 8}, {1, 16}, {1, 24}, {1, 32}, {3, 32}, {3, 64}, {6, 8}, {7, 8}};
  for (const auto& f : formats) {
    for (std::uint16_t ch : {1, 2}) put(Riff({Fmt(f.tag, ch, 44100, f.bits), RiffChunk("data", Data(48))}));
  }
  put(Riff({FmtExtensible(1, 2, 48000, 24, 24), RiffChunk("data", Data(60))}));
  put(Riff({FmtExtensible(3, 1, 22050, 32, 32), RiffChunk("data", Data(40))}));
  put(Riff({FmtExtensible(1, 1, 96000, 32, 24), RiffChunk("data", Data(40))}));
  put(Riff({Fmt(1, 1, 31250, 16), Smpl(60, 0, {{0, 4, 20}}, ParameterBlock(72, 5, -3, 60, 5, 1, 2, -10, 5, 7)),
            RiffChunk("data", Data(48))}));
  put(Riff({Fmt(1, 1, 44100, 16), Smpl(64, 0xFFFFFFF9u, {{1, 2, 10}, {0, 1, 3}}, {}), RiffChunk("data", Data(32))}));
  put(Riff({Fmt(1, 2, 8000, 16), RiffChunk("LIST", Data(5), false), RiffChunk("data", Data(16))}));
  put(Riff({Fmt(1, 1, 8000, 8), RiffChunk("data", Data(7), true), RiffChunk("data", Data(3), false)}));
  put(Riff({Fmt(1, 1, 44100, 16)}));
  put(Riff({Fmt(1, 1, 44100, 16), RiffChunk("data", {})}));
  put(Riff({Fmt(1, 1, 44100, 16), RiffChunk("data", Data(2))}));
  put(Riff({Fmt(1, 1, 0xFFFFFFFFu, 16), RiffChunk("data", Data(8))}));
  return 0;
}
