#include <gtest/gtest.h>

#include "audio/audio_bytes.h"
#include "audio/readers.h"

namespace tavrin {
namespace {

using test::Bytes;
using test::Comm;
using test::Form;
using test::FormChunk;
using test::Fver;
using test::Ssnd;

std::vector<std::uint8_t> Be16(std::initializer_list<int> values) {
  Bytes p;
  for (int v : values) p.be16(static_cast<std::uint32_t>(v));
  return p.b;
}

Result Decode(const std::vector<std::uint8_t>& bytes, DecodedAudio& a) { return DecodeAiff(bytes, a); }

std::vector<std::uint8_t> Mark(std::initializer_list<std::pair<int, std::uint32_t>> markers, const char* name = "m") {
  Bytes p;
  p.be16(static_cast<std::uint32_t>(markers.size()));
  for (const auto& [id, pos] : markers) {
    p.be16(static_cast<std::uint32_t>(id)).be32(pos);
    const std::size_t n = std::strlen(name);
    p.u8(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) p.u8(static_cast<std::uint8_t>(name[i]));
    if ((n + 1) & 1) p.u8(0);  // count byte plus name padded to even
  }
  return FormChunk("MARK", p.b);
}

std::vector<std::uint8_t> Inst(int base, int detune, int low, int high, int mode, int beginId, int endId) {
  Bytes p;
  p.u8(static_cast<std::uint32_t>(base)).u8(static_cast<std::uint32_t>(detune)).u8(static_cast<std::uint32_t>(low));
  p.u8(static_cast<std::uint32_t>(high)).u8(1).u8(127).be16(0);
  p.be16(static_cast<std::uint32_t>(mode)).be16(static_cast<std::uint32_t>(beginId)).be16(static_cast<std::uint32_t>(endId));
  p.be16(0).be16(0).be16(0);
  return FormChunk("INST", p.b);
}

TEST(AiffReader, Plain16BitStereo) {
  DecodedAudio a;
  ASSERT_EQ(Decode(Form("AIFF", {Comm(2, 2, 16, 44100), Ssnd(Be16({16384, 0, -32768, -16384}))}), a), 0u);
  ASSERT_EQ(a.frameCount(), 2u);
  EXPECT_EQ(a.frames[0], 0.25f);
  EXPECT_EQ(a.frames[1], -0.75f);
  EXPECT_EQ(a.peak, -0.75f);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_FALSE(a.hasInst);
}

TEST(AiffReader, ExtendedRate) {
  // 0x400E AC44000000000000 is 44100; 0x400D FA00000000000000 is 32000.
  for (auto [exp, mant, rate] : {std::tuple<std::uint32_t, std::uint64_t, std::uint32_t>{0x400E, 0xAC44000000000000ull, 44100},
                                 {0x400D, 0xFA00000000000000ull, 32000},
                                 {0x400E, 0xAC44800000000000ull, 44100},  // 44100.5 truncates
                                 {0x3FFF, 0x8000000000000000ull, 1},
                                 {0x401E, 0xFFFFFFFF00000000ull, 0xFFFFFFFFu},
                                 {0x401F, 0xC000000000000000ull, 0x80000000u},  // 3 x 2^31: low 32 bits
                                 {0x4040, 0x8000000000000000ull, 0}}) {     // 2^65: low 32 bits are 0
    Bytes p;
    p.be16(1).be32(0).be16(16).be16(exp).be64(mant);
    DecodedAudio a;
    ASSERT_EQ(Decode(Form("AIFF", {FormChunk("COMM", p.b)}), a), 0u);
    EXPECT_EQ(a.sampleRate, rate) << std::hex << exp << " " << mant;
  }
}

TEST(AiffReader, RateZeroOrNegativeWithSoundIsRefused) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 0), Ssnd(Be16({1}))}), a), 13u);
  Bytes p;
  p.be16(1).be32(1).be16(16).be16(0xC00E).be64(0xAC44000000000000ull);  // -44100
  EXPECT_EQ(Decode(Form("AIFF", {FormChunk("COMM", p.b), Ssnd(Be16({1}))}), a), 13u);
  // Below 1 Hz the rate truncates to 0.
  Bytes q;
  q.be16(1).be32(1).be16(16).be16(0x3FFE).be64(0x8000000000000000ull);  // 0.5
  EXPECT_EQ(Decode(Form("AIFF", {FormChunk("COMM", q.b), Ssnd(Be16({1}))}), a), 13u);
}

TEST(AiffReader, AifcCompressionTypes) {
  struct Case {
    const char* type;
    std::uint16_t bits;
    std::vector<std::uint8_t> data;
    std::vector<float> expected;
  };
  const std::vector<Case> cases = {
      {"NONE", 16, {0x40, 0x00}, {0.5f}},
      {"twos", 16, {0xC0, 0x00}, {-0.5f}},
      {"sowt", 16, {0x00, 0x40}, {0.5f}},
      {"sowt", 24, {0x00, 0x00, 0xC0}, {-0.5f}},
      {"sowt", 32, {0x00, 0x00, 0x00, 0x40}, {0.5f}},
      {"NONE", 8, {0x40, 0xC0}, {0.5f, -0.5f}},  // signed 8-bit
      {"NONE", 24, {0x40, 0x00, 0x00}, {0.5f}},
      {"NONE", 32, {0xC0, 0x00, 0x00, 0x00}, {-0.5f}},
      {"raw ", 16, {0xC0, 0x40}, {0.5f, -0.5f}},  // unsigned 8-bit whatever the size
      {"in24", 8, {0x40, 0x00, 0x00}, {0.5f}},
      {"in32", 8, {0x40, 0x00, 0x00, 0x00}, {0.5f}},
      {"42ni", 8, {0x00, 0x00, 0x40}, {0.5f}},
      {"23ni", 8, {0x00, 0x00, 0x00, 0xC0}, {-0.5f}},
      {"fl32", 32, Bytes().f32be(-0.375f).b, {-0.375f}},
      {"FL32", 32, Bytes().f32be(1.5f).b, {1.5f}},
      {"fl64", 64, Bytes().f64be(0.1).b, {static_cast<float>(0.1)}},
      {"FL64", 64, Bytes().f64be(-3.0).b, {-3.0f}},
      {"alaw", 16, {0xD5, 0xAA}, {static_cast<float>(1 / 4095.0), static_cast<float>(4032 / 4095.0)}},
      {"ALAW", 8, {0x2A}, {static_cast<float>(-4032 / 4095.0)}},
      {"ulaw", 16, {0x80, 0x00}, {static_cast<float>(8031 / 8191.0), static_cast<float>(-8031 / 8191.0)}},
      {"ULAW", 8, {0xFF}, {0.0f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    DecodedAudio a;
    const std::uint32_t frames = static_cast<std::uint32_t>(c.expected.size());
    ASSERT_EQ(Decode(Form("AIFC", {Fver(), Comm(1, frames, c.bits, 8000, c.type), Ssnd(c.data)}), a), 0u);
    ASSERT_EQ(a.frames.size(), c.expected.size());
    for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(a.frames[i], c.expected[i]);
  }
}

TEST(AiffReader, UnknownCompressionAndMissingVersion) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Form("AIFC", {Fver(), Comm(1, 1, 16, 8000, "ima4"), Ssnd({0, 0})}), a), 13u);
  EXPECT_EQ(Decode(Form("AIFC", {Fver(), Comm(1, 1, 16, 8000, "sowT"), Ssnd({0, 0})}), a), 13u);  // case-sensitive
  // AIFC without FVER is refused; the same data as plain AIFF is read.
  EXPECT_EQ(Decode(Form("AIFC", {Comm(1, 1, 16, 8000, "NONE"), Ssnd({0x40, 0})}), a), 13u);
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 8000), Ssnd({0x40, 0})}), a), 0u);
  EXPECT_EQ(a.frames.at(0), 0.5f);
  // A wrong version timestamp.
  Bytes v;
  v.be32(0xA2805141u);
  EXPECT_EQ(Decode(Form("AIFC", {FormChunk("FVER", v.b), Comm(1, 1, 16, 8000, "NONE"), Ssnd({0, 0})}), a), 13u);
  // An AIFC "COMM" shorter than 22 bytes has no compression type: big-endian PCM.
  ASSERT_EQ(Decode(Form("AIFC", {Fver(), Comm(1, 1, 16, 8000), Ssnd({0x40, 0})}), a), 0u);
  EXPECT_EQ(a.frames.at(0), 0.5f);
  // A plain AIFF never looks at a compression type.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 8000, "ima4"), Ssnd({0x40, 0})}), a), 0u);
}

TEST(AiffReader, HeaderChecks) {
  DecodedAudio a;
  const auto good = Form("AIFF", {Comm(1, 1, 16, 8000), Ssnd({0x40, 0})});
  ASSERT_EQ(Decode(good, a), 0u);
  auto bad = good;
  bad[0] = 'f';
  EXPECT_EQ(Decode(bad, a), 13u);
  bad = good;
  bad[11] = 'X';
  EXPECT_EQ(Decode(bad, a), 13u);
  bad = good;
  bad[7] = static_cast<std::uint8_t>(bad[7] + 1);  // FORM size beyond the file
  EXPECT_EQ(Decode(bad, a), 13u);
  EXPECT_EQ(Decode({}, a), 13u);
  // No COMM: no sample kind.
  EXPECT_EQ(Decode(Form("AIFF", {Ssnd({0, 0})}), a), 13u);
  // 40-bit samples have no kind.
  EXPECT_EQ(Decode(Form("AIFF", {Comm(1, 1, 40, 8000), Ssnd({0, 0, 0, 0, 0})}), a), 13u);
}

TEST(AiffReader, FramesWithoutSoundData) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Form("AIFF", {Comm(1, 5, 16, 8000)}), a), 13u);
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 0, 16, 8000)}), a), 0u);
  EXPECT_EQ(a.frameCount(), 0u);
}

TEST(AiffReader, ZeroChannelsWithSoundDataIsRefused) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Form("AIFF", {Comm(0, 5, 16, 8000), Ssnd(Be16({1, 2, 3, 4, 5}))}), a), 13u);
  // Without "SSND" there is nothing to divide: a valid, empty file.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(0, 5, 16, 8000)}), a), 0u);
  EXPECT_EQ(a.frameCount(), 0u);
}

TEST(AiffReader, FrameCountBeyondTheDataGivesFiveWithoutAllocating) {
  DecodedAudio a;
  EXPECT_EQ(Decode(Form("AIFF", {Comm(2, 0xFFFFFFFFu, 16, 8000), Ssnd(Be16({1, 2}))}), a), 5u);
  EXPECT_EQ(a.frames.capacity(), 0u);
  EXPECT_EQ(Decode(Form("AIFF", {Comm(1, 3, 16, 8000), Ssnd(Be16({1, 2}))}), a), 5u);
  // The data may run on past "SSND" into the following chunk: only the end
  // of the file bounds it.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 3, 16, 8000), Ssnd(Be16({1, 2})), FormChunk("junk", {0x40, 0})}), a), 0u);
  EXPECT_EQ(a.frameCount(), 3u);
}

TEST(AiffReader, SsndOffsetSkipsBytes) {
  DecodedAudio a;
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 8000), Ssnd(Be16({-16384}), 6)}), a), 0u);
  EXPECT_EQ(a.frames.at(0), -0.5f);
}

TEST(AiffReader, LastChunkOfEachKindCounts) {
  DecodedAudio a;
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 8000), Ssnd(Be16({16384})), Comm(1, 1, 8, 22050), Ssnd({0xC0})}), a),
            0u);
  EXPECT_EQ(a.sampleRate, 22050u);
  EXPECT_EQ(a.frames.at(0), -0.5f);
}

TEST(AiffReader, OddChunkPadding) {
  DecodedAudio a;
  // Odd "NAME" with its pad byte, and without it.
  ASSERT_EQ(Decode(Form("AIFF", {FormChunk("NAME", {'a', 'b', 'c'}), Comm(1, 1, 16, 8000), Ssnd({0x40, 0})}), a), 0u);
  ASSERT_EQ(Decode(Form("AIFF", {FormChunk("NAME", {'a', 'b', 'c'}, false), Comm(1, 1, 16, 8000), Ssnd({0x40, 0})}), a),
            0u);
  EXPECT_EQ(a.frames.at(0), 0.5f);
  // 8-bit mono with an odd sample count: "SSND" odd, pad missing at the end.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 8, 8000), Ssnd({0x40}, 0)}), a), 0u);
}

TEST(AiffReader, TruncatedFiles) {
  const auto good = Form("AIFF", {Comm(2, 3, 16, 8000), Ssnd(Be16({1, 2, 3, 4, 5, 6}))});
  DecodedAudio a;
  ASSERT_EQ(Decode(good, a), 0u);
  for (std::size_t cut = 12; cut < good.size(); ++cut) {
    std::vector<std::uint8_t> t(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::uint32_t form = static_cast<std::uint32_t>(cut - 8);
    t[4] = static_cast<std::uint8_t>(form >> 24);
    t[5] = static_cast<std::uint8_t>(form >> 16);
    t[6] = static_cast<std::uint8_t>(form >> 8);
    t[7] = static_cast<std::uint8_t>(form);
    const Result r = Decode(t, a);
    // Cut inside COMM: 5; before the samples are all there: 5 or 13 (no SSND).
    EXPECT_TRUE(r == 5u || r == 13u) << cut << " gives " << r;
    if (cut > 12 + 8 + 18 + 16) {  // inside the samples
      EXPECT_EQ(r, 5u) << cut;
    }
  }
}

TEST(AiffReader, InstThroughMark) {
  DecodedAudio a;
  const auto file = [](std::vector<std::uint8_t> inst, std::vector<std::uint8_t> mark) {
    return Form("AIFF", {Comm(1, 2, 16, 8000), Ssnd(Be16({1, 2})), mark, inst});
  };
  ASSERT_EQ(Decode(file(Inst(60, -5, 0, 72, 1, 1, 2), Mark({{1, 1000}, {2, 5000}})), a), 0u);
  EXPECT_TRUE(a.hasInst);
  EXPECT_EQ(a.instRootNote, 60);
  EXPECT_EQ(a.instTopKey, 72);
  EXPECT_EQ(a.instDetune, -5);
  EXPECT_EQ(a.sustainLoop.playMode, 1u);
  EXPECT_EQ(a.sustainLoop.begin, 1000u);
  EXPECT_EQ(a.sustainLoop.end, 5000u);
  EXPECT_EQ(a.releaseLoop.playMode, 0u);

  // Base note 0 with low note 48 gives 48; base 72 above high 60 gives 83;
  // base 120 above high 0 gives 127.
  ASSERT_EQ(Decode(file(Inst(0, 0, 48, 100, 0, 0, 0), Mark({})), a), 0u);
  EXPECT_EQ(a.instRootNote, 48);
  ASSERT_EQ(Decode(file(Inst(72, 0, 0, 60, 0, 0, 0), Mark({})), a), 0u);
  EXPECT_EQ(a.instTopKey, 83);
  ASSERT_EQ(Decode(file(Inst(120, 0, 0, 0, 0, 0, 0), Mark({})), a), 0u);
  EXPECT_EQ(a.instTopKey, 127);

  // Marker id 0, or an id not present: no loop, notes still taken.
  ASSERT_EQ(Decode(file(Inst(60, 0, 0, 72, 1, 0, 2), Mark({{1, 1000}, {2, 5000}})), a), 0u);
  EXPECT_TRUE(a.hasInst);
  EXPECT_EQ(a.sustainLoop.playMode, 0u);
  EXPECT_EQ(a.sustainLoop.begin, 0u);
  ASSERT_EQ(Decode(file(Inst(60, 0, 0, 72, 2, 1, 3), Mark({{1, 1000}, {2, 5000}})), a), 0u);
  EXPECT_EQ(a.sustainLoop.playMode, 0u);
  // Names of odd and even length keep the markers aligned.
  ASSERT_EQ(Decode(file(Inst(60, 0, 0, 72, 2, 7, 9), Mark({{9, 30}, {7, 10}}, "loop end")), a), 0u);
  EXPECT_EQ(a.sustainLoop.playMode, 2u);
  EXPECT_EQ(a.sustainLoop.begin, 10u);
  EXPECT_EQ(a.sustainLoop.end, 30u);

  // INST without MARK is ignored entirely.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 2, 16, 8000), Ssnd(Be16({1, 2})), Inst(60, 0, 0, 72, 1, 1, 2)}), a), 0u);
  EXPECT_FALSE(a.hasInst);
}

TEST(AiffReader, BrokenMarkIsNotAFailure) {
  // A marker count far beyond the chunk: the file reads, without notes.
  Bytes p;
  p.be16(5000).be16(1).be32(10).u8(0);
  const auto f = Form("AIFF", {Comm(1, 2, 16, 8000), Ssnd(Be16({1, 2})), Inst(60, 0, 0, 72, 1, 1, 1),
                               FormChunk("MARK", p.b)});
  DecodedAudio a;
  ASSERT_EQ(Decode(f, a), 0u);
  EXPECT_FALSE(a.hasInst);
  EXPECT_EQ(a.frameCount(), 2u);
}

TEST(AiffReader, InstAtTheVeryEnd) {
  // An INST chunk cut short by the end of the file (its header says 20
  // bytes, the FORM size stops the walk there): the walk's own reads fail.
  Bytes inst;
  inst.tag("INST").be32(20).u8(60);
  std::vector<std::uint8_t> f = Form("AIFF", {Comm(1, 1, 16, 8000), Mark({{1, 0}}), Ssnd(Be16({1})), inst.b});
  DecodedAudio a;
  ASSERT_EQ(Decode(f, a), 0u);
  EXPECT_FALSE(a.hasInst);
}

TEST(AiffReader, CorruptOneFieldAtATime) {
  const auto good = Form("AIFC", {Fver(), Comm(1, 2, 16, 8000, "NONE"), Ssnd(Be16({100, 200}))});
  // Layout: FORM 0, FVER chunk 12 (payload 20), COMM chunk 24 (payload 32).
  struct Case {
    std::size_t at;
    std::uint8_t value;
    Result expected;
  };
  const Case cases[] = {
      {8, 'X', 13},   // form type
      {20, 0, 13},    // version timestamp
      {12, 'f', 13},  // "fVER": not a version chunk, so AIFC without FVER
      {24, 'c', 13},  // "cOMM": no kind
      {33, 0, 13},    // zero channels with sound data
      {37, 200, 5},   // 200 frames
      {39, 64, 13},   // 64-bit PCM: no kind
      {50, 'X', 13},  // compression "XONE"
      {40, 0, 13},    // rate exponent 0: rate 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "byte " << c.at);
    auto f = good;
    f[c.at] = c.value;
    DecodedAudio a;
    EXPECT_EQ(Decode(f, a), c.expected);
  }
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(AiffReader, CommCutByTheEndOfTheFileIsTruncationNotFormat) {
  // An AIFC "COMM" of 24 bytes whose compression type lies past the end.
  Bytes comm;
  comm.tag("COMM").be32(24).be16(1).be32(1).be16(16);
  test::Extended(comm, 8000);
  std::vector<std::uint8_t> f = Form("AIFC", {Fver(), comm.b});
  DecodedAudio a;
  EXPECT_EQ(Decode(f, a), 5u);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(AiffReader, ChunkSizeNearFourGigabytesEndsTheWalk) {
  DecodedAudio a;
  // An odd size of 2^32 - 1 after the sound: the walk ends, the file reads.
  ASSERT_EQ(Decode(Form("AIFF", {Comm(1, 1, 16, 8000), Ssnd({0x40, 0}), Bytes().tag("junk").be32(0xFFFFFFFFu).b}), a),
            0u);
  EXPECT_EQ(a.frames.at(0), 0.5f);
  // The same before "COMM": nothing after it is seen, so there is no kind.
  EXPECT_EQ(Decode(Form("AIFF", {Bytes().tag("junk").be32(0xFFFFFFF0u).b, Comm(1, 1, 16, 8000), Ssnd({0x40, 0})}), a),
            13u);
}

}  // namespace
}  // namespace tavrin
