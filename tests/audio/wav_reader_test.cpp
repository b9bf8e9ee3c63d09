#include <gtest/gtest.h>

#include <cmath>

#include "audio/audio_bytes.h"
#include "audio/readers.h"
#include "audio/sample_kind.h"

namespace tavrin {
namespace {

using test::Bytes;
using test::Fmt;
using test::Pcm16;
using test::Riff;
using test::RiffChunk;
using test::Smpl;

Result Decode(const std::vector<std::uint8_t>& bytes, DecodedAudio& a) { return DecodeWav(bytes, a); }

std::vector<std::uint8_t> SimpleWav(std::initializer_list<int> values) {
  return Riff({Fmt(1, 1, 44100, 16), RiffChunk("data", Pcm16(values))});
}

TEST(WavReader, Mono16) {
  DecodedAudio a;
  ASSERT_EQ(Decode(SimpleWav({0, 16384, -32768, 32767}), a), 0u);
  ASSERT_EQ(a.frameCount(), 4u);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.frames[0], 0.0f);
  EXPECT_EQ(a.frames[1], 0.5f);
  EXPECT_EQ(a.frames[2], -1.0f);  // full-scale negative reaches exactly -1
  EXPECT_EQ(a.frames[3], 32767.0f / 32768.0f);
  EXPECT_EQ(a.peak, -1.0f);
  EXPECT_FALSE(a.hasSmpl);
}

TEST(WavReader, StereoOppositeChannelsCancel) {
  Bytes d;
  for (int i = 0; i < 3; ++i) d.le16(16384).le16(static_cast<std::uint16_t>(-16384));
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 2, 48000, 16), RiffChunk("data", d.b)}), a), 0u);
  ASSERT_EQ(a.frameCount(), 3u);
  for (float f : a.frames) EXPECT_EQ(f, 0.0f);
  EXPECT_EQ(a.peak, 0.0f);
  EXPECT_EQ(a.channelCount, 1u);
}

TEST(WavReader, StereoAverageAndPeakKeepsSign) {
  Bytes d;
  d.le16(8192).le16(0).le16(static_cast<std::uint16_t>(-32768)).le16(static_cast<std::uint16_t>(-16384));
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 2, 8000, 16), RiffChunk("data", d.b)}), a), 0u);
  ASSERT_EQ(a.frameCount(), 2u);
  EXPECT_EQ(a.frames[0], 0.125f);
  EXPECT_EQ(a.frames[1], -0.75f);
  EXPECT_EQ(a.peak, -0.75f);
}

TEST(WavReader, EverySampleKindOfTheFormatTags) {
  struct Case {
    std::uint16_t tag, bits;
    std::vector<std::uint8_t> data;
    std::vector<float> expected;
  };
  std::vector<Case> cases;
  cases.push_back({1, 8, {0x00, 0x80, 0xFF, 0xC0}, {-1.0f, 0.0f, 127.0f / 128.0f, 0.5f}});
  cases.push_back({1, 24, Bytes().le24(0x800000).le24(0x400000).le24(0x000001).b, {-1.0f, 0.5f, 1.0f / 8388608.0f}});
  cases.push_back({1, 20, Bytes().le24(0xC00000).b, {-0.5f}});  // 20 bits in 3 bytes
  cases.push_back({1, 32, Bytes().le32(0x80000000u).le32(0x40000000u).le32(0x7FFFFFFFu).b, {-1.0f, 0.5f, 1.0f}});
  cases.push_back({3, 32, Bytes().f32le(0.25f).f32le(-1.5f).b, {0.25f, -1.5f}});  // floats are not limited
  cases.push_back({3, 64, Bytes().f64le(0.1).f64le(-2.0).b, {static_cast<float>(0.1), -2.0f}});
  // A-law 0xD5 is the smallest positive step (1/4095), 0xAA the largest (4032/4095).
  cases.push_back({6, 8, {0xD5, 0x55, 0xAA, 0x2A}, {static_cast<float>(1 / 4095.0), static_cast<float>(-1 / 4095.0),
                                                   static_cast<float>(4032 / 4095.0), static_cast<float>(-4032 / 4095.0)}});
  // mu-law 0xFF is 0, 0x80 the largest positive (8031/8191), 0x00 the largest negative.
  cases.push_back({7, 8, {0xFF, 0x80, 0x00, 0x7F}, {0.0f, static_cast<float>(8031 / 8191.0),
                                                   static_cast<float>(-8031 / 8191.0), 0.0f}});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "tag " << c.tag << " bits " << c.bits);
    DecodedAudio a;
    ASSERT_EQ(Decode(Riff({Fmt(c.tag, 1, 22050, c.bits), RiffChunk("data", c.data)}), a), 0u);
    ASSERT_EQ(a.frames.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(a.frames[i], c.expected[i]) << i;
  }
}

TEST(WavReader, G711TablesFollowTheDefinition) {
  // Every A-law and mu-law byte: magnitudes as defined, odd symmetry.
  for (int b = 0; b < 256; ++b) {
    const std::int32_t a = ALawToLinear(static_cast<std::uint8_t>(b));
    EXPECT_EQ(a, -ALawToLinear(static_cast<std::uint8_t>(b ^ 0x80))) << b;
    EXPECT_LE(std::abs(a), 4032);
    EXPECT_GE(std::abs(a), 1);
    const std::int32_t u = ULawToLinear(static_cast<std::uint8_t>(b));
    EXPECT_LE(std::abs(u), 8031);
  }
  EXPECT_EQ(ALawToLinear(0xD5), 1);
  EXPECT_EQ(ALawToLinear(0x80 ^ 0x55 ^ 0x7F), 4032);  // stored byte 0xAA
  EXPECT_EQ(ULawToLinear(0x80), 8031);
  EXPECT_EQ(ULawToLinear(0x00), -8031);
  EXPECT_EQ(ULawToLinear(0xFE), 2);  // inverted 0x01: ((2 + 33) << 0) - 33
}

TEST(WavReader, ExtensibleIsReadByItsSubFormat) {
  const std::vector<std::uint8_t> pcm24 = Bytes().le24(0x400000).le24(0xC00000).b;
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({test::FmtExtensible(1, 1, 96000, 24, 24), RiffChunk("data", pcm24)}), a), 0u);
  ASSERT_EQ(a.frameCount(), 2u);
  EXPECT_EQ(a.frames[0], 0.5f);
  EXPECT_EQ(a.frames[1], -0.5f);
  EXPECT_EQ(a.sampleRate, 96000u);

  // 24 valid bits in a 32-bit container: the container decides the kind.
  const std::vector<std::uint8_t> pcm32 = Bytes().le32(0x40000000u).b;
  ASSERT_EQ(Decode(Riff({test::FmtExtensible(1, 1, 44100, 32, 24), RiffChunk("data", pcm32)}), a), 0u);
  EXPECT_EQ(a.frames.at(0), 0.5f);

  const std::vector<std::uint8_t> f32 = Bytes().f32le(-0.25f).f32le(0.75f).b;
  ASSERT_EQ(Decode(Riff({test::FmtExtensible(3, 2, 44100, 32, 32), RiffChunk("data", f32)}), a), 0u);
  ASSERT_EQ(a.frameCount(), 1u);
  EXPECT_EQ(a.frames[0], 0.25f);

  // A-law (6) and any other sub-format stay unsupported.
  EXPECT_EQ(Decode(Riff({test::FmtExtensible(6, 1, 8000, 8, 8), RiffChunk("data", {1, 2})}), a), 13u);
  EXPECT_EQ(Decode(Riff({test::FmtExtensible(0x1234, 1, 8000, 16, 16), RiffChunk("data", {1, 2})}), a), 13u);
  // One changed byte in the GUID's constant part is another sub-format.
  std::vector<std::uint8_t> odd = test::FmtExtensible(1, 1, 8000, 16, 16);
  odd[8 + 24 + 15] ^= 1;
  EXPECT_EQ(Decode(Riff({odd, RiffChunk("data", {1, 2})}), a), 13u);
  // An extensible chunk too short to hold its GUID is malformed.
  Bytes shortFmt;
  shortFmt.le16(0xFFFE).le16(1).le32(8000).le32(16000).le16(2).le16(16);
  EXPECT_EQ(Decode(Riff({RiffChunk("fmt ", shortFmt.b), RiffChunk("data", {1, 2})}), a), 13u);
}

TEST(WavReader, UnknownTagsAndFormats) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Riff({Fmt(2, 1, 8000, 4), RiffChunk("data", {1, 2})}), a), 13u);      // ADPCM
  EXPECT_EQ(Decode(Riff({Fmt(0x55, 1, 8000, 16), RiffChunk("data", {1, 2})}), a), 13u);  // MP3
  // A format tag alone refuses the file even with no "data" chunk.
  EXPECT_EQ(Decode(Riff({Fmt(2, 1, 8000, 4)}), a), 13u);
  // PCM of 5 bytes per sample has no kind: the data chunk is refused.
  EXPECT_EQ(Decode(Riff({Fmt(1, 1, 8000, 40), RiffChunk("data", {1, 2, 3, 4, 5})}), a), 13u);
  // Float of 16 bits keeps the kind of an earlier "fmt " chunk (none here).
  EXPECT_EQ(Decode(Riff({Fmt(3, 1, 8000, 16), RiffChunk("data", {1, 2})}), a), 13u);
  // ... and of an earlier float chunk when there was one: 4-byte floats are
  // decoded, while the frame count comes from the 2-byte sample size.
  const std::vector<std::uint8_t> floats = Bytes().f32le(0.5f).f32le(0.25f).b;
  // The four floats read run on into the following chunk's header.
  ASSERT_EQ(Decode(Riff({Fmt(3, 1, 8000, 32), Fmt(3, 1, 8000, 16), RiffChunk("data", floats),
                         RiffChunk("junk", std::vector<std::uint8_t>(8, 0))}),
                   a),
            0u);
  ASSERT_EQ(a.frameCount(), 4u);
  EXPECT_EQ(a.frames[0], 0.5f);
  EXPECT_EQ(a.frames[1], 0.25f);
  // Without bytes after it the same chunk runs past the end of the file.
  EXPECT_EQ(Decode(Riff({Fmt(3, 1, 8000, 32), Fmt(3, 1, 8000, 16), RiffChunk("data", floats)}), a), 5u);
  // Data before any "fmt " chunk.
  EXPECT_EQ(Decode(Riff({RiffChunk("data", {1, 2}), Fmt(1, 1, 8000, 16)}), a), 13u);
}

TEST(WavReader, DividersOfZeroAreRefused) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Riff({Fmt(1, 0, 8000, 16), RiffChunk("data", {1, 2})}), a), 13u);  // no channels
  EXPECT_EQ(Decode(Riff({Fmt(1, 1, 0, 16), RiffChunk("data", {1, 2})}), a), 13u);     // rate 0
  EXPECT_EQ(Decode(Riff({Fmt(6, 1, 8000, 0), RiffChunk("data", {1, 2})}), a), 13u);   // A-law, 0 bits
  EXPECT_EQ(Decode(Riff({Fmt(7, 1, 8000, 0), RiffChunk("data", {1, 2})}), a), 13u);   // mu-law, 0 bits
  EXPECT_EQ(Decode(Riff({Fmt(1, 1, 8000, 0), RiffChunk("data", {1, 2})}), a), 13u);   // PCM, 0 bits
}

TEST(WavReader, HeaderChecks) {
  DecodedAudio a;
  std::vector<std::uint8_t> good = SimpleWav({1, 2});
  ASSERT_EQ(Decode(good, a), 0u);
  {
    auto bad = good;
    bad[0] = 'X';
    EXPECT_EQ(Decode(bad, a), 13u);
  }
  {
    auto bad = good;
    bad[8] = 'w';  // "wAVE"
    EXPECT_EQ(Decode(bad, a), 13u);
  }
  {
    auto bad = good;
    bad[4] = static_cast<std::uint8_t>(bad[4] + 1);  // RIFF size one beyond the file
    EXPECT_EQ(Decode(bad, a), 13u);
  }
  // A RIFF size of 12 or less: no chunks, no frames, success.
  EXPECT_EQ(Decode(Bytes().tag("RIFF").le32(4).tag("WAVE").b, a), 0u);
  EXPECT_EQ(a.frameCount(), 0u);
  EXPECT_EQ(Decode(Bytes().tag("RIFF").le32(12).tag("WAVE").le32(0).le32(0).b, a), 0u);
  // Too short to hold the header at all.
  EXPECT_EQ(Decode(Bytes().tag("RIFF").b, a), 13u);
  EXPECT_EQ(Decode({}, a), 13u);
}

TEST(WavReader, RiffSizeBoundsTheWalkNotTheFileSize) {
  // Extra bytes after the RIFF size are never looked at.
  std::vector<std::uint8_t> f = SimpleWav({100, 200});
  std::vector<std::uint8_t> extra = RiffChunk("data", Pcm16({1, 2, 3, 4, 5, 6}));
  f.insert(f.end(), extra.begin(), extra.end());
  DecodedAudio a;
  ASSERT_EQ(Decode(f, a), 0u);
  EXPECT_EQ(a.frameCount(), 2u);
}

TEST(WavReader, NoDataChunkGivesNoFrames) {
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 44100, 16), Smpl(60, 0, {}, {})}), a), 0u);
  EXPECT_EQ(a.frameCount(), 0u);
  EXPECT_TRUE(a.hasSmpl);
}

TEST(WavReader, OddChunkWithoutPadByteIsFollowed) {
  // A "LIST" of odd size directly followed by "data" (no pad byte): the
  // byte after it is 'd', not 0, so it is not skipped.
  std::vector<std::uint8_t> list = RiffChunk("LIST", {'I', 'N', 'F'}, /*pad=*/false);
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), list, RiffChunk("data", Pcm16({16384}))}), a), 0u);
  ASSERT_EQ(a.frameCount(), 1u);
  EXPECT_EQ(a.frames[0], 0.5f);
  // With the pad byte the same file reads the same.
  std::vector<std::uint8_t> padded = RiffChunk("LIST", {'I', 'N', 'F'}, /*pad=*/true);
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), padded, RiffChunk("data", Pcm16({16384}))}), a), 0u);
  EXPECT_EQ(a.frameCount(), 1u);
}

TEST(WavReader, OddChunkAtTheEndWithoutPad) {
  DecodedAudio a;
  std::vector<std::uint8_t> f = Riff({Fmt(1, 1, 8000, 8), RiffChunk("data", {0xC0, 0x40, 0x80}, /*pad=*/false)});
  ASSERT_EQ(Decode(f, a), 0u);
  EXPECT_EQ(a.frameCount(), 3u);
}

TEST(WavReader, TruncatedFilesGiveFive) {
  const std::vector<std::uint8_t> good = Riff({Fmt(1, 2, 8000, 16), RiffChunk("data", Pcm16({1, 2, 3, 4, 5, 6}))});
  DecodedAudio a;
  ASSERT_EQ(Decode(good, a), 0u);
  // Cut the file at every length and fix the RIFF size to what is left: the
  // data chunk then claims more than the file holds.
  int fives = 0;
  for (std::size_t cut = 12; cut < good.size(); ++cut) {
    std::vector<std::uint8_t> t(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::uint32_t riff = static_cast<std::uint32_t>(cut - 8);
    t[4] = static_cast<std::uint8_t>(riff);
    t[5] = static_cast<std::uint8_t>(riff >> 8);
    const Result r = Decode(t, a);
    EXPECT_TRUE(r == 0u || r == 5u || r == 13u) << cut << " gives " << r;
    if (cut >= 44 + 4) {  // inside the samples
      EXPECT_EQ(r, 5u) << cut;
    }
    if (r == 5) ++fives;
  }
  EXPECT_GT(fives, 0);
  // A data chunk claiming 4 GiB in a small file: 5, without allocating for it.
  std::vector<std::uint8_t> huge = Riff({Fmt(1, 1, 8000, 8), Bytes().tag("data").le32(0xFFFFFFF0u).u8(1).b});
  EXPECT_EQ(Decode(huge, a), 5u);
}

TEST(WavReader, LaterDataChunkDecodesAgainPeakKept) {
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), RiffChunk("data", Pcm16({-32768, 0, 0})),
                         RiffChunk("data", Pcm16({8192}))}),
                   a),
            0u);
  ASSERT_EQ(a.frameCount(), 1u);
  EXPECT_EQ(a.frames[0], 0.25f);
  EXPECT_EQ(a.peak, -1.0f);
}

TEST(WavReader, SmplChunk) {
  const auto block = test::ParameterBlock(84, 5, -3, 60, 0x0C, 1, 10, -20, 7, -8);
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), Smpl(0x1234563C, 0xFFFFFFF9u, {{1, 100, 200}, {0, 5, 6}}, block),
                         RiffChunk("data", Pcm16({1, 2}))}),
                   a),
            0u);
  EXPECT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 0x3C);  // the low byte of the field
  EXPECT_EQ(a.pitchFraction, 0xFFFFFFF9u);
  ASSERT_EQ(a.loops.size(), 2u);
  EXPECT_EQ(a.loops[0].type, 1u);
  EXPECT_EQ(a.loops[0].start, 100u);
  EXPECT_EQ(a.loops[0].end, 200u);
  EXPECT_EQ(a.loops[1].identifier, 1u);
  EXPECT_EQ(a.samplerData, block);
}

TEST(WavReader, SmplChunkOfTwoLoopsAndBlockIsExactly112Bytes) {
  std::vector<std::uint8_t> smpl = Smpl(60, 0, {{0, 1, 2}, {0, 3, 4}}, std::vector<std::uint8_t>(28, 0));
  ASSERT_EQ(smpl.size(), 8u + 112u);
  // One byte more in the chunk (with its size field) breaks the equation.
  std::vector<std::uint8_t> longer = smpl;
  longer.push_back(0);
  longer[4] = 113;
  DecodedAudio a;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), longer, RiffChunk("data", Pcm16({1}))}), a), 0u);
  EXPECT_FALSE(a.hasSmpl);
  // A loop count that does not match.
  std::vector<std::uint8_t> miscount = smpl;
  miscount[8 + 28] = 3;
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), miscount, RiffChunk("data", Pcm16({1}))}), a), 0u);
  EXPECT_FALSE(a.hasSmpl);
  // A loop count so large that 24 x count wraps 32 bits to the right size.
  std::vector<std::uint8_t> wrapping = Smpl(60, 0, {}, {});
  const std::uint32_t count = 0xAAAAAAABu;  // 24 x count = 8 (mod 2^32)
  wrapping[8 + 28] = static_cast<std::uint8_t>(count);
  wrapping[8 + 29] = static_cast<std::uint8_t>(count >> 8);
  wrapping[8 + 30] = static_cast<std::uint8_t>(count >> 16);
  wrapping[8 + 31] = static_cast<std::uint8_t>(count >> 24);
  wrapping[4] = 44;  // 36 + 8
  wrapping.insert(wrapping.end(), 8, 0);
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), wrapping, RiffChunk("data", Pcm16({1}))}), a), 0u);
  EXPECT_FALSE(a.hasSmpl);
}

TEST(WavReader, SmplLoopsBeyondTheFileGiveFive) {
  // The sizes agree but the file ends inside the loops.
  Bytes p;
  p.zeros(28).le32(1000).le32(0);
  std::vector<std::uint8_t> chunk = Bytes().tag("smpl").le32(36 + 24000).raw(p.b).b;
  std::vector<std::uint8_t> f = Riff({Fmt(1, 1, 8000, 16), chunk});
  DecodedAudio a;
  EXPECT_EQ(Decode(f, a), 5u);
}

TEST(WavReader, ChunkSizeNearFourGigabytesEndsTheWalk) {
  std::vector<std::uint8_t> f =
      Riff({Fmt(1, 1, 8000, 16), RiffChunk("data", Pcm16({16384})), Bytes().tag("junk").le32(0xFFFFFFFFu).b});
  DecodedAudio a;
  ASSERT_EQ(Decode(f, a), 0u);
  EXPECT_EQ(a.frameCount(), 1u);
  std::vector<std::uint8_t> g = Riff({Bytes().tag("junk").le32(0xFFFFFFF8u).b, Fmt(1, 1, 8000, 16)});
  EXPECT_EQ(Decode(g, a), 0u);
}

TEST(WavReader, ClearsOnEntry) {
  DecodedAudio a;
  a.hasSmpl = true;
  a.unityNote = 9;
  a.pitchFraction = 9;
  a.peak = 3.0f;
  a.frames.assign(10, 1.0f);
  ASSERT_EQ(Decode(Riff({Fmt(1, 1, 8000, 16), RiffChunk("data", Pcm16({8192}))}), a), 0u);
  EXPECT_FALSE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 0);
  EXPECT_EQ(a.pitchFraction, 0u);
  EXPECT_EQ(a.peak, 0.25f);
  EXPECT_EQ(a.frameCount(), 1u);
}

TEST(WavReader, CorruptOneFieldAtATime) {
  // Each field of a good file corrupted alone, with the exact result.
  const std::vector<std::uint8_t> good = Riff({Fmt(1, 2, 44100, 16), RiffChunk("data", Pcm16({100, -100, 200, 0}))});
  struct Case {
    std::size_t at;
    std::uint8_t value;
    Result expected;
    std::uint64_t frames;
  };
  const Case cases[] = {
      {0, 'r', 13, 0},     // "rIFF"
      {11, 'e', 13, 0},    // "WAVe"
      {20, 2, 13, 0},      // format tag 2
      {22, 0, 13, 0},      // channels 0
      {22, 1, 0, 4},       // mono: four frames
      {22, 4, 0, 1},       // four channels: one frame
      {24, 0, 0, 2},       // low byte of the rate only
      {34, 8, 0, 4},       // 8 bits: 8 bytes as 4 stereo frames... of unsigned bytes
      {34, 24, 0, 1},      // 24 bits: 8 bytes hold one stereo frame of 3-byte samples
      {34, 64, 13, 0},     // 64-bit PCM has no kind
      {40, 9, 0, 2},       // data size 9: still two whole frames in the 8 bytes
      {40, 12, 5, 0},      // data size 12 > 8 bytes present
      {36, 'D', 0, 0},     // "Data": unknown, no frames
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "byte " << c.at << " = " << int(c.value));
    std::vector<std::uint8_t> f = good;
    f[c.at] = c.value;
    DecodedAudio a;
    const Result r = Decode(f, a);
    EXPECT_EQ(r, c.expected);
    if (r == 0) {
      EXPECT_EQ(a.frameCount(), c.frames);
    }
  }
  // With "Fmt " unknown the data chunk has no format: 13.
  std::vector<std::uint8_t> f = good;
  f[12] = 'F';
  DecodedAudio a;
  EXPECT_EQ(Decode(f, a), 13u);
}

TEST(SampleKind, DecodeAdvancesEvenWhenShort) {
  const std::vector<std::uint8_t> b = {0x00, 0x40, 0x00};
  ByteView view(b);
  std::uint64_t pos = 0;
  EXPECT_EQ(DecodeSample(view, pos, SampleKind::kS16LE), 0.5f);
  EXPECT_EQ(pos, 2u);
  EXPECT_FALSE(view.isShort());
  EXPECT_EQ(DecodeSample(view, pos, SampleKind::kS16LE), 0.0f);
  EXPECT_EQ(pos, 4u);
  EXPECT_TRUE(view.isShort());
  pos = 0;
  EXPECT_EQ(DecodeSample(view, pos, SampleKind::kS16BE), 64.0f / 32768.0f);
  EXPECT_EQ(pos, 2u);
  pos = 1;
  EXPECT_EQ(DecodeSample(view, pos, SampleKind::kS16BE), 0.5f);
  pos = UINT64_MAX - 1;  // no wrap in the bounds check
  EXPECT_EQ(DecodeSample(view, pos, SampleKind::kS32LE), 0.0f);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(WavReader, FormatChunkCutByTheEndOfTheFileIsTruncationNotFormat) {
  // "fmt " says 16 bytes, the file ends after the format tag.
  std::vector<std::uint8_t> f = Bytes().tag("RIFF").le32(0).tag("WAVE").tag("fmt ").le32(16).le16(0xFFFE).b;
  f[4] = static_cast<std::uint8_t>(f.size() - 8);
  DecodedAudio a;
  EXPECT_EQ(Decode(f, a), 5u);
}

TEST(ParseSmplChunk, SharedWithOtherReaders) {
  std::vector<std::uint8_t> chunk = Smpl(61, 2, {{0, 10, 20}}, test::ParameterBlock(80, 5, 2, 61, 4, 0, 0, 0, 0, 0));
  const std::vector<std::uint8_t> payload(chunk.begin() + 8, chunk.end());
  DecodedAudio a;
  ASSERT_EQ(ParseSmplChunk(payload, a), 0u);
  EXPECT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 61);
  ASSERT_EQ(a.loops.size(), 1u);
  EXPECT_EQ(a.loops[0].end, 20u);
  EXPECT_EQ(a.samplerData.size(), 28u);
  // Sizes that disagree: ignored.
  DecodedAudio b;
  ASSERT_EQ(ParseSmplChunk(std::span<const std::uint8_t>(payload.data(), payload.size() - 1), b), 0u);
  EXPECT_FALSE(b.hasSmpl);
}

}  // namespace
}  // namespace tavrin
