// Differential tests: audio encoded by the reference encoder (the `flac` tool)
// at several levels, block sizes, bit depths, channel counts and stereo
// decorrelations decodes to exactly the integers that went in, and to what
// libFLAC makes of the same file; FLAC in Ogg decodes like native FLAC.
// Skipped where the tool is not installed (and under Wine).
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "audio/flac_reader.h"
#include "flac/flac_test_util.h"

namespace tavrin_test {
namespace {

// A deterministic pseudo-random source (the same numbers everywhere).
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : s_(seed * 6364136223846793005ull + 1442695040888963407ull) {}
  std::uint32_t Next() {
    s_ = s_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(s_ >> 32);
  }
  // Uniform in [-(2^(bits-1)), 2^(bits-1)) scaled down by `shrink` bits.
  std::int64_t Noise(unsigned bits) {
    if (bits == 0) return 0;
    const std::uint64_t r = (static_cast<std::uint64_t>(Next()) << 32) | Next();
    return static_cast<std::int64_t>(r >> (64 - bits)) - (std::int64_t{1} << (bits - 1));
  }

 private:
  std::uint64_t s_;
};

std::int32_t Clamp(std::int64_t v, unsigned bits) {
  const std::int64_t hi = (std::int64_t{1} << (bits - 1)) - 1;
  const std::int64_t lo = -(std::int64_t{1} << (bits - 1));
  return static_cast<std::int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

// Interleaved test audio: per segment of `segment` frames one of four
// stereo relations (independent; left = 2 × right-ish; right = 2 × left-ish;
// a common signal plus and minus a smaller one), each channel a slow sine
// plus noise, so that predictors of every kind have work to do.
std::vector<std::int32_t> MakeAudio(unsigned bits, unsigned channels, std::size_t frames, std::uint64_t seed,
                                    std::size_t segment = 12288) {
  Lcg rng(seed);
  std::vector<std::int32_t> out;
  out.reserve(frames * channels);
  const double full = std::ldexp(1.0, static_cast<int>(bits) - 1);
  for (std::size_t i = 0; i < frames; ++i) {
    const unsigned kind = static_cast<unsigned>((i / segment) % 4);
    const double phase = static_cast<double>(i) * 0.0123;
    const std::int64_t common = static_cast<std::int64_t>(std::sin(phase) * full * 0.45) + rng.Noise(bits > 4 ? bits - 4 : 1);
    const std::int64_t small = rng.Noise(bits > 6 ? bits - 6 : 1);
    for (unsigned c = 0; c < channels; ++c) {
      std::int64_t v;
      if (channels != 2) {
        v = static_cast<std::int64_t>(std::sin(phase * (c + 1) + c) * full * 0.4) + rng.Noise(bits > 3 ? bits - 3 : 1);
      } else if (kind == 0) {
        v = c == 0 ? common : rng.Noise(bits > 2 ? bits - 2 : 1);
      } else if (kind == 1) {
        v = c == 0 ? common : common / 2 + small;
      } else if (kind == 2) {
        v = c == 0 ? common / 2 + small : common;
      } else {
        v = c == 0 ? common + small : common - small;
      }
      out.push_back(Clamp(v, bits));
    }
  }
  // Full-scale extremes at the start, to exercise the edges of the range.
  if (frames >= 4) {
    for (unsigned c = 0; c < channels; ++c) {
      out[c] = Clamp(std::int64_t{1} << 40, bits);
      out[channels + c] = Clamp(-(std::int64_t{1} << 40), bits);
    }
  }
  return out;
}

struct EncodeCase {
  unsigned bits;
  unsigned channels;
  std::string options;
  std::size_t frames;
  unsigned rate = 44100;
};

class FlacEncoded : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("flac")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("flac"));
  }

  // Encodes the audio with the given options (native, and Ogg when asked)
  // and checks our integers against the input and against libFLAC.
  void Check(const EncodeCase& c, std::uint64_t seed, bool ogg = false) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.channels) + " ch, " + c.options);
    const auto audio = MakeAudio(c.bits, c.channels, c.frames, seed);
    const fs::path wav = dir_ / "in.wav";
    const fs::path flac = dir_ / (ogg ? "out.oga" : "out.flac");
    WriteBytes(wav, MakeWav(audio, c.channels, c.rate, c.bits));
    const std::string cmd = "flac -s -f --channel-map=none " + std::string(ogg ? "--ogg " : "") + c.options + " -o " +
                            Quote(flac) + " " + Quote(wav);
    ASSERT_EQ(RunCommand(cmd), 0) << cmd;
    const auto bytes = ReadBytes(flac);
    const IntDecode ours = DecodeWithOurs(bytes);
    ASSERT_TRUE(ours.opened);
    EXPECT_FALSE(ours.error);
    ASSERT_EQ(ours.samples.size(), audio.size());
    EXPECT_TRUE(ours.samples == audio) << "decoded integers differ from the input";
    for (auto a : ours.assignments) assignments_.insert(a);
#ifdef TAVRIN_HAVE_LIBFLAC
    const IntDecode ref = DecodeWithLibFlac(flac, ogg);
    EXPECT_TRUE(ref.samples == ours.samples) << "differs from libFLAC";
#endif
    // The reader: every frame, at the file's rate.
    tavrin::DecodedAudio a;
    ASSERT_EQ(tavrin::DecodeFlacFile(bytes, a), tavrin::kOk);
    EXPECT_EQ(a.frames.size(), c.frames);
    EXPECT_EQ(a.sampleRate, c.rate);
    lastBytes_ = bytes;
  }

  TempDir dir_;
  std::set<tavrin::FlacChannelAssignment> assignments_;
  std::vector<std::uint8_t> lastBytes_;
};

TEST_F(FlacEncoded, BitDepthsAndLevels) {
  std::uint64_t seed = 1;
  for (unsigned bits : {8u, 12u, 16u, 20u, 24u, 32u})
    for (unsigned channels : {1u, 2u})
      for (const char* level : {"-0", "-5", "-8"}) Check({bits, channels, level, 50000}, seed++);
}

TEST_F(FlacEncoded, ChannelCounts) {
  std::uint64_t seed = 100;
  for (unsigned channels = 1; channels <= 8; ++channels) {
    Check({16, channels, "-5", 20000}, seed++);
    Check({24, channels, "-8", 20000}, seed++);
  }
}

TEST_F(FlacEncoded, BlockSizes) {
  std::uint64_t seed = 200;
  for (const char* b : {"-b 16", "-b 192", "-b 576", "-b 1152", "-b 2304", "-b 4608", "-b 1000", "--lax -b 8192",
                        "--lax -b 16384", "--lax -b 32768", "--lax -b 65535"})
    Check({16, 2, std::string("-5 ") + b, 70000}, seed++);
}

TEST_F(FlacEncoded, PredictorsAndResiduals) {
  std::uint64_t seed = 300;
  const char* options[] = {
      "-8 -e -p",                   // exhaustive model search, precision search
      "--lax -l 32 -b 4096",        // LPC order 32
      "--lax -l 32 -q 15 -p",       // 15-bit coefficients
      "-l 12 -q 5",                 // 5-bit coefficients, the smallest the encoder makes
      "--lax -b 32768 -r 15",       // partition order up to 15
      "-r 0",                       // one partition
      "--lax -l 0 -b 4096",         // fixed predictors only
      "--disable-constant-subframes --disable-fixed-subframes -l 0 --lax",  // verbatim
      "-5 --no-mid-side",           // independent stereo only
      "-M",                         // adaptive mid/side
  };
  for (const char* o : options) {
    Check({16, 2, o, 40000}, seed++);
    Check({24, 2, o, 40000}, seed++);
    Check({32, 2, o, 40000}, seed++);
  }
}

TEST_F(FlacEncoded, EveryStereoDecorrelationAppears) {
  std::uint64_t seed = 400;
  for (unsigned bits : {8u, 16u, 24u, 32u}) Check({bits, 2, "-8", 98304}, seed++);
  EXPECT_EQ(assignments_.size(), 4u) << "not every channel assignment was produced by the encoder";
}

TEST_F(FlacEncoded, WastedBits) {
  // 16-bit containers whose low bits are always zero.
  const auto base = MakeAudio(12, 2, 30000, 500);
  std::vector<std::int32_t> shifted;
  for (auto v : base) shifted.push_back(v * 16);
  WriteBytes(dir_ / "w.wav", MakeWav(shifted, 2, 44100, 16));
  ASSERT_EQ(RunCommand("flac -s -f -8 -o " + Quote(dir_ / "w.flac") + " " + Quote(dir_ / "w.wav")), 0);
  const auto ours = DecodeWithOurs(ReadBytes(dir_ / "w.flac"));
  EXPECT_TRUE(ours.samples == shifted);
}

TEST_F(FlacEncoded, OggDecodesLikeNative) {
  std::uint64_t seed = 600;
  for (const EncodeCase& c : {EncodeCase{16, 2, "-8", 60000}, EncodeCase{24, 1, "-5", 30000},
                              EncodeCase{8, 6, "-5", 20000}, EncodeCase{32, 2, "-5", 20000},
                              // frames far larger than an Ogg page
                              EncodeCase{24, 2, "--lax -b 65535 -l 0 --disable-fixed-subframes", 140000}}) {
    Check(c, seed, false);
    const auto native = lastBytes_;
    Check(c, seed, true);
    tavrin::DecodedAudio a, b;
    ASSERT_EQ(tavrin::DecodeFlacFile(native, a), tavrin::kOk);
    ASSERT_EQ(tavrin::DecodeFlacFile(lastBytes_, b), tavrin::kOk);
    EXPECT_TRUE(a.frames == b.frames);
    EXPECT_EQ(a.peak, b.peak);
    ++seed;
  }
}

TEST_F(FlacEncoded, DamagedFrameInTheMiddleKeepsTheFramesBefore) {
  Check({16, 2, "-5 -b 4096", 40960}, 700);
  auto bytes = lastBytes_;
  // Find the sixth frame and damage a byte inside it.
  tavrin::FlacDecoder dec;
  ASSERT_EQ(dec.Open(bytes), tavrin::kOk);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(dec.DecodeFrame(), tavrin::FlacStatus::kOk);
  const std::size_t sixth = dec.position();
  bytes[sixth + 40] ^= 0x5A;
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 5u * 4096);
}

TEST_F(FlacEncoded, ForeignMetadataSmplChunkKept) {
  // A WAV with a "smpl" chunk, encoded keeping its foreign chunks.
  const auto audio = MakeAudio(16, 1, 5000, 800);
  auto wav = MakeWav(audio, 1, 44100, 16);
  std::vector<std::uint8_t> smpl = {'s', 'm', 'p', 'l', 36 + 24 + 28, 0, 0, 0};
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) smpl.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (std::uint32_t v : {0u, 0u, 22676u, 62u, 0xFFFFFFFDu, 0u, 0u, 1u, 28u}) put(v);
  for (std::uint32_t v : {0u, 0u, 1000u, 4000u, 0u, 0u}) put(v);
  for (std::uint32_t v : {0x3E3C0060u, 1u, 0u, 0u, 5u, 0u, 0u}) put(v);
  // Insert before the "data" chunk and fix the RIFF size.
  const std::size_t dataAt = 12 + 8 + 40;
  wav.insert(wav.begin() + static_cast<std::ptrdiff_t>(dataAt), smpl.begin(), smpl.end());
  const std::uint32_t riffSize = static_cast<std::uint32_t>(wav.size() - 8);
  for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
  WriteBytes(dir_ / "s.wav", wav);
  ASSERT_EQ(RunCommand("flac -s -f --keep-foreign-metadata -o " + Quote(dir_ / "s.flac") + " " + Quote(dir_ / "s.wav")), 0);
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::DecodeFlacFile(ReadBytes(dir_ / "s.flac"), a), tavrin::kOk);
  ASSERT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 62);
  EXPECT_EQ(a.pitchFraction, 0xFFFFFFFDu);
  ASSERT_EQ(a.loops.size(), 1u);
  EXPECT_EQ(a.loops[0].start, 1000u);
  EXPECT_EQ(a.loops[0].end, 4000u);
  ASSERT_EQ(a.samplerData.size(), 28u);
  EXPECT_EQ(a.samplerData[4], 1);  // loop flags 1, kept unchanged
  EXPECT_EQ(a.frames.size(), 5000u);
}

}  // namespace
}  // namespace tavrin_test
