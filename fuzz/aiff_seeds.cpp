// Writes small AIFF and AIFC files to a folder, as the starting corpus of the
// AIFF fuzzer: every sample size, every compression type, INST with MARK, no
// frames, and the largest whole rate.
#include <cstdio>
#include <string>

#include "seed_file.h"

#include "../tests/audio/audio_bytes.h"

using namespace tavrin::test;

namespace {

std::vector<std::uint8_t> Data(std::size_t n) {
  std::vector<std::uint8_t> d(n);
  for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 53 + 7);
  return d;
}

std::vector<std::uint8_t> Mark() {
  Bytes p;
  p.be16(2).be16(1).be32(2).u8(3).tag("beg").be16(2).be32(9).u8(4).tag("end!").u8(0);
  return FormChunk("MARK", p.b);
}

std::vector<std::uint8_t> Inst(int mode) {
  Bytes p;
  p.u8(60).u8(0xFB).u8(48).u8(72).u8(1).u8(127).be16(0);
  p.be16(static_cast<std::uint32_t>(mode)).be16(1).be16(2).be16(0).be16(0).be16(0);
  return FormChunk("INST", p.b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  auto put = [&](const std::vector<std::uint8_t>& bytes) { Write(dir + "/seed" + std::to_string(n++) + ".aif", bytes); };
  for (std::uint16_t bits : {8, 16, 24, 32}) {
    for (std::uint16_t ch : {1, 2}) {
      const std::uint32_t frames = 6;
      put(Form("AIFF", {Comm(ch, frames, bits, 44100), Ssnd(Data(frames * ch * ((bits + 7u) / 8u)))}));
    }
  }
  const struct {
    const char* type;
    std::uint16_t bits;
    std::uint32_t bytes;
  } types[] = {{"NONE", 16, 2}, {"twos", 16, 2}, {"sowt", 16, 2}, {"sowt", 24, 3}, {"raw ", 8, 1},
               {"in24", 24, 3}, {"in32", 32, 4}, {"42ni", 24, 3}, {"23ni", 32, 4}, {"fl32", 32, 4},
               {"FL64", 64, 8}, {"alaw", 16, 1}, {"ulaw", 16, 1}};
  for (const auto& t : types) {
    put(Form("AIFC", {Fver(), Comm(2, 5, t.bits, 48000, t.type), Ssnd(Data(10 * t.bytes))}));
  }
  put(Form("AIFF", {Comm(1, 12, 16, 22050), Mark(), Inst(1), Ssnd(Data(24), 4)}));
  put(Form("AIFF", {Comm(2, 12, 16, 32000), Inst(2), Mark(), Ssnd(Data(48))}));
  put(Form("AIFF", {FormChunk("NAME", Data(5), false), Comm(1, 0, 16, 8000)}));
  put(Form("AIFF", {Comm(1, 0, 16, 44100), Ssnd({})}));
  put(Form("AIFF", {Comm(1, 4, 16, 0xFFFFFFFFu), Ssnd(Data(8))}));
  return 0;
}
