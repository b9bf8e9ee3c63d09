// Differential tests: audio encoded by the reference encoder (the `flac` tool)
// at many depths, channel counts, block sizes, predictor and residual options
// and stereo decorrelations, native and in Ogg, decodes to exactly the
// integers that went in and to what libFLAC makes of the same file.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "audio/flac_reader.h"
#include "audio/readers.h"
#include "flac/flac_test_util.h"
#include "support/command.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin_test {
namespace {

// Interleaved test audio: per segment of 12288 frames one of four stereo
// relations (independent; left = 2 × right-ish; right = 2 × left-ish; a common
// signal plus and minus a smaller one), each channel a slow sine plus noise,
// so that predictors of every kind have work to do; the extremes first.
std::vector<std::int32_t> MakeAudio(unsigned bits, unsigned channels, std::size_t frames, std::uint64_t s) {
  std::uint64_t state = s;
  auto noise = [&](int b) {  // uniform in [-2^(b-1), 2^(b-1))
    b = std::max(b, 1);
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::int64_t>(state >> (64 - b)) - (std::int64_t{1} << (b - 1));
  };
  const int b = static_cast<int>(bits);
  const std::int64_t hi = (std::int64_t{1} << (b - 1)) - 1;
  std::vector<std::int32_t> out;
  for (std::size_t i = 0; i < frames; ++i) {
    const std::size_t kind = i / 12288 % 4;
    const double phase = static_cast<double>(i) * 0.0123;
    const std::int64_t common = std::llround(std::sin(phase) * 0.45 * hi) + noise(b - 4);
    const std::int64_t small = noise(b - 6);
    for (unsigned c = 0; c < channels; ++c) {
      std::int64_t v = c == 0 ? common + small : common - small;
      if (channels != 2)
        v = std::llround(std::sin(phase * (c + 1) + c) * 0.4 * hi) + noise(b - 3);
      else if (kind == 0)
        v = c == 0 ? common : noise(b - 2);
      else if (kind < 3)
        v = (c == 0) == (kind == 1) ? common : common / 2 + small;
      out.push_back(static_cast<std::int32_t>(i == 0 ? hi : i == 1 ? -hi - 1 : std::clamp(v, -hi - 1, hi)));
    }
  }
  return out;
}

struct EncodeCase {
  unsigned bits, channels;
  std::string options;
  std::size_t frames;
  unsigned wasted = 0;  // low bits always zero
  bool ogg = false;
  unsigned rate = 44100;
};

class FlacEncoded : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavrin::testing::HaveTools("flac")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("flac"));
  }

  // Encodes a WAV file with the tool and the options; returns the FLAC file's path.
  std::string Encode(const Bytes& wav, const std::string& options) {
    dir_.Write("w.wav", wav);
    const std::string cmd = "flac -s -f " + options + " -o out.flac w.wav";
    EXPECT_TRUE(tavrin::testing::MakeWithTool(dir_, cmd, {"out.flac"})) << cmd;
    return dir_.File("out.flac");
  }

  // Our integers against the input and libFLAC; the reader's frames and rate.
  void Check(const EncodeCase& c, std::uint64_t seed) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.channels) + " ch, " + c.options);
    auto audio = MakeAudio(c.bits - c.wasted, c.channels, c.frames, seed);
    for (auto& v : audio) v *= 1 << c.wasted;
    const std::string flac = Encode(MakeWav(audio, c.channels, c.rate, c.bits),
                                    "--channel-map=none " + c.options + (c.ogg ? " --ogg" : ""));
    const Bytes bytes = tavrin::testing::ReadBytes(flac);
    const IntDecode ours = DecodeWithOurs(bytes);
    EXPECT_TRUE(ours.opened && !ours.error);
    EXPECT_TRUE(ours.samples == audio) << "decoded integers differ from the input";
    assignments_.insert(ours.assignments.begin(), ours.assignments.end());
#ifdef TAVRIN_HAVE_LIBFLAC
    EXPECT_TRUE(DecodeWithLibFlac(flac, c.ogg).samples == ours.samples) << "differs from libFLAC";
#endif
    tavrin::DecodedAudio a;
    // As the import reads it: every frame header's rate must agree.
    const auto mode = tavrin::FlacFileMode::kImport;
    EXPECT_EQ(tavrin::DecodeFlacFile(bytes, a, tavrin::kFlacMaxImportFrames, mode), tavrin::kOk);
    EXPECT_EQ(a.frames.size(), c.frames);
    EXPECT_EQ(a.sampleRate, c.rate);
  }

  tavrin::testing::TempDir dir_;
  std::set<tavrin::FlacChannelAssignment> assignments_;
};

TEST_F(FlacEncoded, DecodesExactly) {
  std::vector<EncodeCase> cases;
  for (unsigned bits : {8u, 12u, 16u, 20u, 24u, 32u})
    for (unsigned channels : {1u, 2u})
      for (const char* level : {"-0", "-5", "-8"}) cases.push_back({bits, channels, level, 50000});
  for (unsigned channels = 1; channels <= 8; ++channels) {
    cases.push_back({16, channels, "-5", 20000});
    cases.push_back({24, channels, "-8", 20000});
  }
  for (const char* b : {"16", "192", "576", "1000", "1152", "2304", "4608", "8192", "16384", "32768", "65535"})
    cases.push_back({16, 2, std::string("-5 --lax -b ") + b, 70000});
  // Exhaustive and precision search, LPC order 32, 15- and 5-bit coefficients, partition orders up to 15
  // and 0, fixed predictors only, verbatim only, independent stereo only, adaptive mid/side.
  for (const char* o : {"-8 -e -p", "--lax -l 32 -b 4096", "--lax -l 32 -q 15 -p", "-l 12 -q 5",
                        "--lax -b 32768 -r 15", "-r 0", "--lax -l 0 -b 4096", "-5 --no-mid-side", "-M",
                        "--disable-constant-subframes --disable-fixed-subframes -l 0 --lax"})
    for (unsigned bits : {16u, 24u, 32u}) cases.push_back({bits, 2, o, 40000});
  for (unsigned bits : {8u, 16u, 24u, 32u}) cases.push_back({bits, 2, "-8", 98304});  // every decorrelation
  cases.push_back({16, 2, "-8", 30000, 4});
  // Frame headers giving the rate from the table's end, in kHz, in tens of Hz and in Hz.
  for (unsigned rate : {96000u, 11000u, 31250u, 31251u}) cases.push_back({16, 1, "-5", 9000, 0, false, rate});
  // In Ogg; the last with frames far larger than an Ogg page.
  for (const EncodeCase& c : {EncodeCase{16, 2, "-8", 60000}, EncodeCase{24, 1, "-5", 30000},
                              EncodeCase{8, 6, "-5", 20000}, EncodeCase{32, 2, "-5", 20000},
                              EncodeCase{24, 2, "--lax -b 65535 -l 0 --disable-fixed-subframes", 140000}}) {
    cases.push_back(c);
    cases.back().ogg = true;
  }
  std::uint64_t seed = 1;
  for (const EncodeCase& c : cases) Check(c, seed++);
  EXPECT_EQ(assignments_.size(), 4u) << "not every channel assignment was produced by the encoder";
}

TEST_F(FlacEncoded, SmplChunkKeptAsForeignMetadata) {
  Bytes wav = MakeWav(MakeAudio(16, 1, 5000, 800), 1, 44100, 16);
  // A smpl chunk before "data": unity note 62, one loop, 28 bytes of sampler data.
  Bytes sampler(28);
  sampler[4] = 1;
  const Bytes body = SmplBody(62, 0xFFFFFFFD, {{0, 0, 1000, 4000, 0, 0}}, sampler);
  Bytes smpl = {'s', 'm', 'p', 'l'};
  PutLe(smpl, body.size(), 4);
  AppendBytes(smpl, body);
  wav.insert(wav.begin() + 12 + 8 + 40, smpl.begin(), smpl.end());
  for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<std::uint8_t>((wav.size() - 8) >> (8 * i));
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::ReadFlac(Encode(wav, "--keep-foreign-metadata"), a), tavrin::kOk);
  ASSERT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 62);
  EXPECT_EQ(a.pitchFraction, 0xFFFFFFFDu);
  ASSERT_EQ(a.loops.size(), 1u);
  EXPECT_EQ(a.loops[0].start, 1000u);
  EXPECT_EQ(a.loops[0].end, 4000u);
  EXPECT_EQ(a.samplerData, sampler);
  EXPECT_EQ(a.frames.size(), 5000u);
}

}  // namespace
}  // namespace tavrin_test
