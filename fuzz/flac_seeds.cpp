// Writes the starting corpus of the FLAC fuzzer to a folder: small hand-made
// streams (constant and verbatim frames of every bit depth code, several
// channel counts, a "riff" smpl block), the same in Ogg pages, a bare frame
// stream, hostile streams (34-byte frames of 8 constant channels, with and
// without a good CRC-16 after garbage; a first frame that is damaged; a
// frame that changes the rate), and, when the flac tool is
// installed, short encoded files (native and Ogg) whose subframes use the
// predictors and Rice-coded residuals.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "seed_file.h"

#include "../tests/flac/flac_test_util.h"

using namespace tavrin_test;

namespace {

HandFrame Verbatim(unsigned channels, unsigned n, unsigned bits, int seed) {
  HandFrame f;
  f.verbatim = true;
  const std::int64_t half = std::int64_t{1} << (bits - 1);
  for (unsigned c = 0; c < channels; ++c) {
    std::vector<std::int32_t> v;
    for (unsigned i = 0; i < n; ++i)
      v.push_back(static_cast<std::int32_t>(((i * 7919 + c * 104729 + static_cast<unsigned>(seed)) % (2 * half)) - half));
    f.channels.push_back(v);
  }
  return f;
}

// A frame whose header codes the rate `rateBits` itself; both CRCs redone.
std::vector<std::uint8_t> WithRate(std::vector<std::uint8_t> f, unsigned rateBits) {
  f[2] = static_cast<std::uint8_t>((f[2] & 0xF0) | rateBits);
  f[7] = tavrin::FlacCrc8({f.data(), 7});
  const std::uint16_t crc = tavrin::FlacCrc16({f.data(), f.size() - 2});
  f[f.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  f.back() = static_cast<std::uint8_t>(crc);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  int count = 0;
  auto put = [&](const std::string& name, const std::vector<std::uint8_t>& native, unsigned frameBytes, unsigned frames) {
    Write(dir + "/" + name + ".flac", native);
    if (frameBytes) Write(dir + "/" + name + ".oga", OggWrap(OggPackets(native, frameBytes, frames), 4));
    ++count;
  };
  for (unsigned bits : {8u, 12u, 16u, 20u, 24u, 32u}) {
    for (unsigned channels : {1u, 2u, 8u}) {
      const std::string name = "hand_" + std::to_string(bits) + "_" + std::to_string(channels);
      std::vector<HandFrame> frames = {Verbatim(channels, 24, bits, 1), Verbatim(channels, 24, bits, 2)};
      const auto native = HandStream(44100, bits, 48, frames);
      put(name, native, static_cast<unsigned>(HandFrameBytes(frames[0], bits, 0).size()), 2);
    }
  }
  std::vector<HandFrame> constant(3, ConstantFrame({100, -100}, 64));
  const auto constantNative = HandStream(22050, 16, 192, constant);
  put("constant", constantNative, static_cast<unsigned>(HandFrameBytes(constant[0], 16, 0).size()), 3);
  Write(dir + "/bare_frames.flac", HandFrameBytes(Verbatim(2, 16, 16, 3), 16, 0));

  // A "riff" APPLICATION block carrying a smpl chunk with one loop and a
  // 28-byte sampler block.
  std::vector<std::uint8_t> smpl = {'r', 'i', 'f', 'f', 's', 'm', 'p', 'l'};
  AppendBytes(smpl, Le32Bytes(36 + 24 + 28));
  for (std::uint32_t v : {0u, 0u, 22676u, 60u, 0u, 0u, 0u, 1u, 28u, 0u, 0u, 4u, 40u, 0u, 0u}) AppendBytes(smpl, Le32Bytes(v));
  for (int i = 0; i < 7; ++i) AppendBytes(smpl, Le32Bytes(static_cast<std::uint32_t>(i)));
  Write(dir + "/smpl.flac", HandStream(44100, 16, 48, {Verbatim(1, 48, 16, 4)}, {MetadataBlock(2, false, smpl)}));

  // Hostile streams: 34-byte frames of 8 constant channels that unfold into
  // 8 × 1024 samples, 8 valid ones, and 8 with a bad CRC-16 after a garbage
  // byte (candidates of the search past damage). Mutations reach frames of
  // 65535 samples by changing the block size; the seeds stay small so that
  // each run is quick. A damaged first frame; a rate coded in the second
  // frame that differs from STREAMINFO's.
  const auto flood = HandFrameBytes(ConstantFrame({1, 2, 3, 4, 5, 6, 7, 8}, 1024), 16, 0);
  auto badFlood = flood;
  badFlood.back() ^= 1;
  auto floodStream = HandStream(44100, 16, 0, {});
  auto searchStream = floodStream;
  searchStream.push_back(0);
  for (int i = 0; i < 8; ++i) {
    AppendBytes(floodStream, flood);
    AppendBytes(searchStream, badFlood);
  }
  Write(dir + "/hostile_constant_flood.flac", floodStream);
  Write(dir + "/hostile_search_flood.flac", searchStream);
  const auto frame = HandFrameBytes(ConstantFrame({1000, -1000}, 441), 16, 0);
  auto damaged = frame;
  damaged[9] ^= 0x10;
  auto firstDamaged = HandStream(44100, 16, 882, {});
  AppendBytes(firstDamaged, damaged);
  AppendBytes(firstDamaged, frame);
  Write(dir + "/hostile_first_frame_damaged.flac", firstDamaged);
  auto rateChange = HandStream(44100, 16, 882, {});
  AppendBytes(rateChange, frame);
  AppendBytes(rateChange, WithRate(frame, 6));
  Write(dir + "/hostile_rate_change.flac", rateChange);
  count += 4;

  // Encoded files, where the tool is there.
  if (std::system("command -v flac >/dev/null 2>&1") == 0) {
    struct Encoding {
      unsigned bits, channels, rate;
      const char* options;
    } encodings[] = {{16, 2, 44100, "-8"}, {16, 1, 22050, "-0"}, {24, 2, 48000, "-5"},
                 {8, 1, 8000, "-8"},   {32, 2, 44100, "-5"}, {16, 6, 32000, "-3"}};
    for (const Encoding& s : encodings) {
      // A slow ramp plus small pseudo-random noise: predictable enough for
      // the predictors, noisy enough for the residual coder.
      std::vector<std::int32_t> samples;
      std::uint32_t r = 12345;
      const std::int32_t noise = std::int32_t{1} << (s.bits - 4);
      for (unsigned i = 0; i < 600; ++i) {
        for (unsigned c = 0; c < s.channels; ++c) {
          r = r * 1664525u + 1013904223u;
          const std::int32_t n = static_cast<std::int32_t>(r >> 8) % noise;
          samples.push_back(static_cast<std::int32_t>((i % 200) * (c + 1)) * (noise / 64 + 1) + n);
        }
      }
      const std::string base = dir + "/enc_" + std::to_string(s.bits) + "_" + std::to_string(s.channels) + "_" +
                               std::string(s.options + 1);
      Write(base + ".wav", MakeWav(samples, s.channels, s.rate, s.bits));
      const std::string common = std::string("flac -s -f --no-padding --lax -b 192 --channel-map=none ") + s.options;
      std::system((common + " -o '" + base + ".flac' '" + base + ".wav' >/dev/null 2>&1").c_str());
      std::system((common + " --ogg -o '" + base + ".oga' '" + base + ".wav' >/dev/null 2>&1").c_str());
      std::remove((base + ".wav").c_str());
      count += 2;
    }
  }
  std::printf("%d seeds\n", count);
  return 0;
}
