// The WAV and AIFF readers, fed files built byte by byte.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <optional>

#include "audio/audio_bytes.h"
#include "audio/readers.h"
#include "audio/sample_kind.h"

namespace tavrin {
namespace {

using namespace test;
using Decoder = Result (*)(std::span<const std::uint8_t>, DecodedAudio&);

constexpr float S16(int v) { return static_cast<float>(v) / 32768.0f; }

// One file and what the reader must make of it: the result and, when that is
// 0, every frame (exactly), the peak and the rate.
struct DecodeCase {
  const char* what;
  ByteVec file;
  Result result;
  std::vector<float> frames = {};
  std::optional<std::uint32_t> rate = {};
  std::optional<float> peak = {};  // else the first frame of greatest magnitude
};

void ExpectDecoded(Decoder decode, const DecodeCase& c) {
  SCOPED_TRACE(c.what);
  DecodedAudio a;  // what an earlier file left must not show through
  a.frames.assign(9, 1.0f);
  a.peak = 3.0f;
  a.hasInst = true;
  ASSERT_EQ(decode(c.file, a), c.result);
  if (c.result != kOk) return;
  EXPECT_EQ(a.frames, c.frames);
  float peak = 0.0f;
  for (float f : c.frames) peak = std::fabs(f) > std::fabs(peak) ? f : peak;
  EXPECT_EQ(a.peak, c.peak.value_or(peak));
  EXPECT_EQ(a.sampleRate, c.rate.value_or(a.sampleRate));
  EXPECT_TRUE(c.frames.empty() || a.channelCount == 1u) << a.channelCount;
  EXPECT_FALSE(a.hasInst);
}

// Cuts the file at every length, the outer size fixed to what is left: from
// `samples` on the cut lies in the sound and gives 5; before, 5 or 13 (or 0
// where `zeroOk`).
void ExpectCutsRefused(Decoder decode, const ByteVec& good, bool bigEndian, std::size_t samples,
                       bool zeroOk) {
  DecodedAudio a;
  ASSERT_EQ(decode(good, a), kOk);
  for (std::size_t cut = 12; cut < good.size(); ++cut) {
    Bytes t;
    t.raw(ByteVec(good.begin(), good.begin() + 4));
    bigEndian ? t.be32(static_cast<std::uint32_t>(cut - 8)) : t.le32(static_cast<std::uint32_t>(cut - 8));
    t.raw(ByteVec(good.begin() + 8, good.begin() + static_cast<std::ptrdiff_t>(cut)));
    const Result r = decode(t.b, a);
    EXPECT_TRUE(r == kTooMuchData || (cut < samples && (r == kBadFormat || (zeroOk && r == kOk))))
        << cut << " gives " << r;
  }
}

ByteVec Wave(std::uint16_t tag, std::uint16_t bits, const ByteVec& data) {
  return Riff({Fmt(tag, 1, 22050, bits), Data(data)});
}

TEST(WavReader, Files) {
  const ByteVec fmt16 = Fmt(1, 1, 8000, 16), floats = Bytes().f32le(0.5f).f32le(0.25f).b;
  const ByteVec good = Riff({Fmt(1, 2, 44100, 16), Data(Pcm16({100, -100, 200, 0}))});
  const DecodeCase cases[] = {
      {"16-bit", Riff({Fmt(1, 1, 44100, 16), Data(Pcm16({0, 16384, -32768, 32767}))}), 0,
       {0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f}, 44100},
      {"stereo to mono", Riff({Fmt(1, 2, 8000, 16), Data(Pcm16({8192, 0, -32768, -16384, 16384, -16384}))}),
       0, {0.125f, -0.75f, 0.0f}, 8000},
      {"8-bit unsigned", Wave(1, 8, {0x00, 0x80, 0xFF, 0xC0}), 0, {-1.0f, 0.0f, 127 / 128.0f, 0.5f}, 22050},
      {"24-bit", Wave(1, 24, {0, 0, 0x80, 0, 0, 0x40, 1, 0, 0}), 0, {-1.0f, 0.5f, 1.0f / 8388608}},
      {"20 bits in 3 bytes", Wave(1, 20, {0, 0, 0xC0}), 0, {-0.5f}},
      {"32-bit", Wave(1, 32, Bytes().le32(0x80000000u).le32(0x40000000u).le32(0x7FFFFFFFu).b), 0,
       {-1.0f, 0.5f, 1.0f}},
      {"float, not limited", Wave(3, 32, Bytes().f32le(0.25f).f32le(-1.5f).b), 0, {0.25f, -1.5f}},
      {"double", Wave(3, 64, Bytes().f64le(0.1).f64le(-2.0).b), 0, {0.1f, -2.0f}},
      // Damaged values read as silence, so the peak stays that of the sound.
      {"float, not a number or infinite",
       Wave(3, 32, Bytes().f32le(0.5f).f32le(NAN).f32le(INFINITY).f32le(-INFINITY).f32le(FLT_MAX).b), 0,
       {0.5f, 0.0f, 0.0f, 0.0f, FLT_MAX}},
      {"double beyond a float", Wave(3, 64, Bytes().f64le(-0.5).f64le(1e300).f64le(NAN).f64le(-1e39).b), 0,
       {-0.5f, 0.0f, 0.0f, 0.0f}},
      // 0xD5 is the smallest positive A-law step (1/4095), 0xAA the largest.
      {"A-law", Wave(6, 8, {0xD5, 0x55, 0xAA, 0x2A}), 0,
       {1 / 4095.0, -1 / 4095.0, 4032 / 4095.0, -4032 / 4095.0}},
      // mu-law 0xFF is 0, 0x80 the largest positive, 0x00 the largest negative.
      {"mu-law", Wave(7, 8, {0xFF, 0x80, 0x00, 0x7F}), 0, {0.0f, 8031 / 8191.0, -8031 / 8191.0, 0.0f}},
      {"extensible PCM", Riff({FmtExtensible(1, 1, 96000, 24, 24), Data({0, 0, 0x40, 0, 0, 0xC0})}), 0,
       {0.5f, -0.5f}, 96000},
      {"extensible, 24 in 32", Riff({FmtExtensible(1, 1, 44100, 32, 24), Data({0, 0, 0, 0x40})}), 0, {0.5f}},
      {"extensible float",
       Riff({FmtExtensible(3, 2, 44100, 32, 32), Data(Bytes().f32le(-0.25f).f32le(0.75f).b)}), 0, {0.25f}},
      {"extensible A-law", Riff({FmtExtensible(6, 1, 8000, 8, 8), Data({1, 2})}), 13},
      {"extensible, other GUID", Riff({FmtExtensible(0x1234, 1, 8000, 16, 16), Data({1, 2})}), 13},
      {"extensible, GUID base", Riff({Set(FmtExtensible(1, 1, 8000, 16, 16), 47, 0x70), Data({1, 2})}), 13},
      {"extensible, no room for the GUID", Riff({Fmt(0xFFFE, 1, 8000, 16), Data({1, 2})}), 13},
      {"ADPCM, even without data", Riff({Fmt(2, 1, 8000, 4)}), 13},
      {"PCM of 5 bytes", Riff({Fmt(1, 1, 8000, 40), Data({1, 2, 3, 4, 5})}), 13},
      {"16-bit float", Riff({Fmt(3, 1, 8000, 16), Data({1, 2})}), 13},
      // A 16-bit float chunk keeps an earlier float kind but counts 2-byte
      // frames: the floats run on into the next (empty, nameless) chunk.
      {"16-bit float after 32", Riff({Fmt(3, 1, 8000, 32), Fmt(3, 1, 8000, 16), Data(floats), ByteVec(8, 0)}),
       0, {0.5f, 0.25f, 0.0f, 0.0f}},
      {"... past the end", Riff({Fmt(3, 1, 8000, 32), Fmt(3, 1, 8000, 16), Data(floats)}), 5},
      {"data before fmt", Riff({Data({1, 2}), fmt16}), 13},
      {"rate 0", Riff({Fmt(1, 1, 0, 16), Data({1, 2})}), 13},
      {"A-law of 0 bits", Riff({Fmt(6, 1, 8000, 0), Data({1, 2})}), 13},
      {"PCM of 0 bits", Riff({Fmt(1, 1, 8000, 0), Data({1, 2})}), 13},
      {"RIFF size 4", Bytes().tag("RIFF").le32(4).tag("WAVE").b, 0},
      {"RIFF size 12", Bytes().tag("RIFF").le32(12).tag("WAVE").le32(0).le32(0).b, 0},
      {"no header", Bytes().tag("RIFF").b, 13},
      {"empty", {}, 13},
      {"bytes past the RIFF size", Bytes().raw(Riff({fmt16, Data(Pcm16({1, 2}))})).raw(Data({1, 2})).b, 0,
       {S16(1), S16(2)}},
      {"odd chunk, no pad", Riff({fmt16, RiffChunk("LIST", {1, 2, 3}, false), Data({0, 0x40})}), 0, {0.5f}},
      {"odd chunk, pad byte", Riff({fmt16, RiffChunk("LIST", {1, 2, 3}), Data({0, 0x40})}), 0, {0.5f}},
      {"odd data at the end", Riff({Fmt(1, 1, 8000, 8), Data({0xC0, 0x40, 0x80}, false)}), 0,
       {0.5f, -0.5f, 0.0f}},
      {"data claiming 4 GiB", Riff({Fmt(1, 1, 8000, 8), Bytes().tag("data").le32(0xFFFFFFF0u).u8(1).b}), 5},
      {"later data, peak kept", Riff({fmt16, Data(Pcm16({-32768, 0})), Data(Pcm16({8192}))}), 0,
       {0.25f}, 8000, -1.0f},
      {"smpl loops past the end",
       Riff({fmt16, Bytes().tag("smpl").le32(24036).zeros(28).le32(1000).le32(0).b}), 5},
      {"fmt cut by the end", Bytes().tag("RIFF").le32(14).tag("WAVE").tag("fmt ").le32(16).le16(0xFFFE).b, 5},
      {"size 2^32 - 1 ends the walk", Riff({fmt16, Data({0, 0x40}), Bytes().tag("junk").le32(~0u).b}), 0,
       {0.5f}},
      {"size near 2^32 first", Riff({Bytes().tag("junk").le32(0xFFFFFFF8u).b, fmt16}), 0},
      // One field of a good stereo file changed at a time.
      {"rIFF", Set(good, 0, 'r'), 13},
      {"RIFF size beyond the file", Set(good, 4, 45), 13},
      {"WAVe", Set(good, 11, 'e'), 13},
      {"Fmt : data without format", Set(good, 12, 'F'), 13},
      {"format tag 2", Set(good, 20, 2), 13},
      {"no channels", Set(good, 22, 0), 13},
      {"mono", Set(good, 22, 1), 0, {S16(100), S16(-100), S16(200), 0.0f}, 44100},
      {"four channels", Set(good, 22, 4), 0, {S16(50)}},
      {"rate low byte", Set(good, 24, 0), 0, {0.0f, S16(100)}, 44032},
      {"8 bits", Set(good, 34, 8), 0, {-0.609375f, 0.60546875f, -0.21875f, -1.0f}},
      {"24 bits", Set(good, 34, 24), 0, {-6502045 / 16777216.0f}},
      {"64-bit PCM", Set(good, 34, 64), 13},
      {"data size 9: two whole frames", Set(good, 40, 9), 0, {0.0f, S16(100)}},
      {"data size 12, 8 present", Set(good, 40, 12), 5},
      {"Data: not data", Set(good, 36, 'D'), 0},
  };
  for (const DecodeCase& c : cases) ExpectDecoded(DecodeWav, c);
  ExpectCutsRefused(DecodeWav, good, false, 44 + 4, true);
}

TEST(WavReader, SmplChunk) {
  // Taken from a WAV file and through ParseSmplChunk alike when 36 bytes, 24
  // per loop and the sampler data add up to the size exactly; else ignored.
  const ByteVec block = ParameterBlock(84, 5, -3, 60, 0x0C, 1, 10, -20, 7, -8);
  const ByteVec good = SmplPayload(0x1234563C, 0xFFFFFFF9u, {{1, 100, 200, 3, 4}, {0, 5, 6}}, block);
  ByteVec longer = good, shorter = good;
  longer.push_back(0);
  shorter.pop_back();
  const std::pair<ByteVec, bool> cases[] = {
      {good, true}, {SmplPayload(61, 0, {}, {}), true}, {longer, false}, {shorter, false},
      {Set(good, 28, 3), false},                                        // loop count 3
      {Bytes().zeros(28).le32(0xAAAAAAABu).le32(0).zeros(8).b, false},  // 24 x count wraps to 8
  };
  for (const auto& [payload, taken] : cases) {
    DecodedAudio a, b;
    ASSERT_EQ(DecodeWav(Riff({Fmt(1, 1, 8000, 16), RiffChunk("smpl", payload)}), a), kOk);
    ASSERT_EQ(ParseSmplChunk(payload, b), kOk);
    EXPECT_EQ(a.hasSmpl, taken) << payload.size();
    EXPECT_EQ(b.hasSmpl, taken) << payload.size();
    EXPECT_EQ(b.loops.size(), taken ? payload[28] : 0u);
  }
  DecodedAudio a;
  EXPECT_EQ(ParseSmplChunk(ByteVec(10, 0), a), kTooMuchData);  // too short for its own counts
  ASSERT_EQ(ParseSmplChunk(good, a), kOk);
  EXPECT_EQ(a.unityNote, 0x3C);  // the low byte of the field
  EXPECT_EQ(a.pitchFraction, 0xFFFFFFF9u);
  const auto fields = [](const SmplLoop& l) {
    return std::vector<std::uint32_t>({l.identifier, l.type, l.start, l.end, l.fraction, l.playCount});
  };
  EXPECT_EQ(fields(a.loops.at(0)), std::vector<std::uint32_t>({0, 1, 100, 200, 3, 4}));
  EXPECT_EQ(fields(a.loops.at(1)), std::vector<std::uint32_t>({1, 0, 5, 6, 0, 0}));
  EXPECT_EQ(a.samplerData, block);
}

TEST(SampleKind, G711) {
  // Magnitudes rise with the code in both laws and the sign bit mirrors them.
  // A-law stores the code with every other bit inverted, mu-law all inverted.
  auto alaw = [](int code) { return ALawToLinear(static_cast<std::uint8_t>(code ^ 0x55)); };
  auto ulaw = [](int code) { return ULawToLinear(static_cast<std::uint8_t>(~code)); };
  for (int c = 0x81; c < 0x100; ++c) {
    EXPECT_EQ(alaw(c & 0x7F), -alaw(c)) << c;
    EXPECT_EQ(ulaw(c), -ulaw(c & 0x7F)) << c;
    EXPECT_GT(alaw(c), alaw(c - 1)) << c;
    EXPECT_GT(ulaw(c & 0x7F), ulaw((c - 1) & 0x7F)) << c;
  }
  EXPECT_EQ(std::vector<int>({alaw(0x80), alaw(0), alaw(0xFF), ulaw(0), ulaw(0x80), ulaw(1), ulaw(0x7F)}),
            std::vector<int>({1, -1, 4032, 0, 0, 2, 8031}));
}

TEST(SampleKind, DecodeAdvancesEvenWhenShort) {
  const ByteVec b = {0x00, 0x40, 0x00};
  ByteView view(b);
  const struct {
    std::uint64_t pos;
    SampleKind kind;
    float value;
    bool isShort;  // afterwards
  } cases[] = {{0, SampleKind::kS16LE, 0.5f, false},      {2, SampleKind::kS16LE, 0.0f, true},
               {0, SampleKind::kS16BE, S16(64), true},    {1, SampleKind::kS16BE, 0.5f, true},
               {UINT64_MAX - 1, SampleKind::kS32LE, 0.0f, true}};  // no wrap in the bounds check
  for (const auto& c : cases) {
    std::uint64_t pos = c.pos;
    EXPECT_EQ(DecodeSample(view, pos, c.kind), c.value) << c.pos;
    EXPECT_EQ(pos, c.pos + SampleKindSize(c.kind));
    EXPECT_EQ(view.isShort(), c.isShort);
  }
}

// A "COMM" of one 16-bit channel with the rate given as raw extended bits.
ByteVec CommRate(std::uint16_t exponent, std::uint64_t mantissa, std::uint32_t frames = 0) {
  return FormChunk("COMM", Bytes().be16(1).be32(frames).be16(16).be16(exponent).be64(mantissa).b);
}

ByteVec Aifc(const char* type, std::uint16_t bits, std::uint32_t frames, const ByteVec& data) {
  return Form("AIFC", {Fver(), Comm(1, frames, bits, 8000, type), Ssnd(data)});
}

TEST(AiffReader, Files) {
  const ByteVec comm = Comm(1, 1, 16, 8000), good = Aifc("NONE", 16, 2, Be16({100, 200}));
  ByteVec cutComm = Comm(1, 1, 16, 8000, "NONE");
  cutComm.resize(cutComm.size() - 6);
  const ByteVec inst = Bytes().tag("INST").be32(20).u8(60).b;  // cut by the end of the file
  const DecodeCase cases[] = {
      {"16-bit stereo", Form("AIFF", {Comm(2, 2, 16, 44100), Ssnd(Be16({16384, 0, -32768, -16384}))}), 0,
       {0.25f, -0.75f}, 44100},
      {"rate 44100", Form("AIFF", {CommRate(0x400E, 0xAC44000000000000)}), 0, {}, 44100},
      {"rate 32000", Form("AIFF", {CommRate(0x400D, 0xFA00000000000000)}), 0, {}, 32000},
      {"rate 44100.5", Form("AIFF", {CommRate(0x400E, 0xAC44800000000000)}), 0, {}, 44100},
      {"rate 1", Form("AIFF", {CommRate(0x3FFF, 0x8000000000000000)}), 0, {}, 1},
      {"rate 2^32 - 1", Form("AIFF", {CommRate(0x401E, 0xFFFFFFFF00000000)}), 0, {}, 0xFFFFFFFFu},
      {"rate 3 x 2^31", Form("AIFF", {CommRate(0x401F, 0xC000000000000000)}), 0, {}, 0x80000000u},
      {"rate 2^65: low 32 bits", Form("AIFF", {CommRate(0x4040, 0x8000000000000000)}), 0, {}, 0},
      {"rate 0 with sound", Form("AIFF", {Comm(1, 1, 16, 0), Ssnd(Be16({1}))}), 13},
      {"rate -44100", Form("AIFF", {CommRate(0xC00E, 0xAC44000000000000, 1), Ssnd(Be16({1}))}), 13},
      {"rate 0.5", Form("AIFF", {CommRate(0x3FFE, 0x8000000000000000, 1), Ssnd(Be16({1}))}), 13},
      {"NONE", Aifc("NONE", 16, 1, {0x40, 0x00}), 0, {0.5f}, 8000},
      {"twos", Aifc("twos", 16, 1, {0xC0, 0x00}), 0, {-0.5f}},
      {"sowt 16", Aifc("sowt", 16, 1, {0x00, 0x40}), 0, {0.5f}},
      {"sowt 24", Aifc("sowt", 24, 1, {0x00, 0x00, 0xC0}), 0, {-0.5f}},
      {"sowt 32", Aifc("sowt", 32, 1, {0x00, 0x00, 0x00, 0x40}), 0, {0.5f}},
      {"NONE 8, signed", Aifc("NONE", 8, 2, {0x40, 0xC0}), 0, {0.5f, -0.5f}},
      {"NONE 24", Aifc("NONE", 24, 1, {0x40, 0x00, 0x00}), 0, {0.5f}},
      {"NONE 32", Aifc("NONE", 32, 1, {0xC0, 0x00, 0x00, 0x00}), 0, {-0.5f}},
      {"raw: unsigned 8-bit whatever the size", Aifc("raw ", 16, 2, {0xC0, 0x40}), 0, {0.5f, -0.5f}},
      {"in24", Aifc("in24", 8, 1, {0x40, 0x00, 0x00}), 0, {0.5f}},
      {"in32", Aifc("in32", 8, 1, {0x40, 0x00, 0x00, 0x00}), 0, {0.5f}},
      {"42ni", Aifc("42ni", 8, 1, {0x00, 0x00, 0x40}), 0, {0.5f}},
      {"23ni", Aifc("23ni", 8, 1, {0x00, 0x00, 0x00, 0xC0}), 0, {-0.5f}},
      {"fl32", Aifc("fl32", 32, 1, Bytes().f32be(-0.375f).b), 0, {-0.375f}},
      {"FL32", Aifc("FL32", 32, 1, Bytes().f32be(1.5f).b), 0, {1.5f}},
      {"fl64", Aifc("fl64", 64, 1, Bytes().f64be(0.1).b), 0, {0.1f}},
      {"FL64", Aifc("FL64", 64, 1, Bytes().f64be(-3.0).b), 0, {-3.0f}},
      {"alaw", Aifc("alaw", 16, 2, {0xD5, 0xAA}), 0, {1 / 4095.0, 4032 / 4095.0}},
      {"ALAW", Aifc("ALAW", 8, 1, {0x2A}), 0, {-4032 / 4095.0}},
      {"ulaw", Aifc("ulaw", 16, 2, {0x80, 0x00}), 0, {8031 / 8191.0, -8031 / 8191.0}},
      {"ULAW", Aifc("ULAW", 8, 1, {0xFF}), 0, {0.0f}},
      {"ima4", Aifc("ima4", 16, 1, {0, 0}), 13},
      {"sowT: case counts", Aifc("sowT", 16, 1, {0, 0}), 13},
      {"AIFC without FVER", Form("AIFC", {Comm(1, 1, 16, 8000, "NONE"), Ssnd({0x40, 0})}), 13},
      {"AIFC, COMM without type", Form("AIFC", {Fver(), comm, Ssnd({0x40, 0})}), 0, {0.5f}},
      {"AIFC, COMM cut in the type", Form("AIFC", {Fver(), cutComm}), 5},
      {"AIFF ignores a type", Form("AIFF", {Comm(1, 1, 16, 8000, "ima4"), Ssnd({0x40, 0})}), 0, {0.5f}},
      {"fORM", Set(good, 0, 'f'), 13},
      {"form type", Set(good, 8, 'X'), 13},
      {"FORM size beyond the file", Set(good, 7, static_cast<std::uint8_t>(good[7] + 1)), 13},
      {"fVER: no version chunk", Set(good, 12, 'f'), 13},
      {"version timestamp", Set(good, 20, 0), 13},
      {"cOMM: no kind", Set(good, 24, 'c'), 13},
      {"zero channels with sound", Set(good, 33, 0), 13},
      {"200 frames", Set(good, 37, 200), 5},
      {"64-bit PCM", Set(good, 39, 64), 13},
      {"rate exponent 0", Set(good, 40, 0), 13},
      {"compression XONE", Set(good, 50, 'X'), 13},
      {"40-bit PCM", Form("AIFF", {Comm(1, 1, 40, 8000), Ssnd({0, 0, 0, 0, 0})}), 13},
      {"empty", {}, 13},
      {"no COMM", Form("AIFF", {Ssnd({0, 0})}), 13},
      {"frames without SSND", Form("AIFF", {Comm(1, 5, 16, 8000)}), 13},
      {"no frames, no SSND", Form("AIFF", {Comm(1, 0, 16, 8000)}), 0},
      {"no channels, no SSND", Form("AIFF", {Comm(0, 5, 16, 8000)}), 0},
      {"no channels with SSND", Form("AIFF", {Comm(0, 5, 16, 8000), Ssnd(Be16({1, 2, 3, 4, 5}))}), 13},
      {"2^32 - 1 frames", Form("AIFF", {Comm(2, 0xFFFFFFFFu, 16, 8000), Ssnd(Be16({1, 2}))}), 5},
      {"3 frames, 2 present", Form("AIFF", {Comm(1, 3, 16, 8000), Ssnd(Be16({1, 2}))}), 5},
      {"sound running on", Form("AIFF", {Comm(1, 3, 16, 8000), Ssnd(Be16({1, 2})), ByteVec(8, 0)}), 0,
       {S16(1), S16(2), 0.0f}},
      {"SSND offset", Form("AIFF", {comm, Ssnd(Be16({-16384}), 6)}), 0, {-0.5f}},
      {"last ones count", Form("AIFF", {comm, Ssnd(Be16({16384})), Comm(1, 1, 8, 22050), Ssnd({0xC0})}), 0,
       {-0.5f}, 22050},
      {"odd chunk, pad byte", Form("AIFF", {FormChunk("NAME", {'a', 'b', 'c'}), comm, Ssnd({0x40, 0})}), 0,
       {0.5f}},
      {"odd, no pad", Form("AIFF", {FormChunk("NAME", {'a', 'b', 'c'}, false), comm, Ssnd({0x40, 0})}), 0,
       {0.5f}},
      {"odd SSND at the end", Form("AIFF", {Comm(1, 1, 8, 8000), Ssnd({0x40}, 0, false)}), 0, {0.5f}},
      {"broken MARK", Form("AIFF", {comm, Ssnd(Be16({1})), Inst(60, 0, 0, 72, 1, 1, 1),
                                     FormChunk("MARK", Bytes().be16(5000).be16(1).be32(10).u8(0).b)}),
       0, {S16(1)}},
      {"INST cut by the end", Form("AIFF", {comm, Mark({{1, 0}}), Ssnd(Be16({1})), inst}), 0, {S16(1)}},
      {"INST without MARK", Form("AIFF", {comm, Ssnd(Be16({1})), Inst(60, 0, 0, 72, 1, 1, 2)}), 0, {S16(1)}},
      {"size 2^32 - 1 ends the walk", Form("AIFF", {comm, Ssnd({0x40, 0}), Bytes().tag("junk").be32(~0u).b}),
       0, {0.5f}},
      {"... before COMM hides it",
       Form("AIFF", {Bytes().tag("junk").be32(0xFFFFFFF0u).b, comm, Ssnd({0x40, 0})}), 13},
  };
  for (const DecodeCase& c : cases) ExpectDecoded(DecodeAiff, c);
  ExpectCutsRefused(DecodeAiff, Form("AIFF", {Comm(2, 3, 16, 8000), Ssnd(Be16({1, 2, 3, 4, 5, 6}))}), true,
                    12 + 8 + 18 + 16 + 1, false);
}

TEST(AiffReader, InstThroughMark) {
  const ByteVec marks = Mark({{1, 1000}, {2, 5000}});
  const struct {
    const char* what;
    ByteVec inst, mark;
    std::vector<int> want;  // root, top key, detune; sustain mode, begin, end
  } cases[] = {
      {"loop", Inst(60, -5, 0, 72, 1, 1, 2), marks, {60, 72, -5, 1, 1000, 5000}},
      {"base 0: the low note", Inst(0, 0, 48, 100, 0, 0, 0), Mark({}), {48, 100, 0, 0, 0, 0}},
      {"base and low: the base", Inst(60, 0, 48, 100, 0, 0, 0), Mark({}), {60, 100, 0, 0, 0, 0}},
      {"base above high", Inst(72, 0, 0, 60, 0, 0, 0), Mark({}), {72, 83, 0, 0, 0, 0}},
      {"... up to 127", Inst(120, 0, 0, 0, 0, 0, 0), Mark({}), {120, 127, 0, 0, 0, 0}},
      {"marker id 0", Inst(60, 0, 0, 72, 1, 0, 2), Mark({{0, 1000}, {2, 5000}}), {60, 72, 0, 0, 0, 0}},
      {"marker missing", Inst(60, 0, 0, 72, 2, 1, 3), marks, {60, 72, 0, 0, 0, 0}},
      {"even names", Inst(60, 0, 0, 72, 2, 7, 9), Mark({{9, 30}, {7, 10}}, "long"), {60, 72, 0, 2, 10, 30}},
      {"first of equal ids", Inst(60, 0, 0, 72, 1, 4, 4), Mark({{4, 7}, {4, 9}}, "ab"), {60, 72, 0, 1, 7, 7}},
  };
  for (const auto& c : cases) {
    DecodedAudio a;
    ASSERT_EQ(DecodeAiff(Form("AIFF", {Comm(1, 2, 16, 8000), Ssnd(Be16({1, 2})), c.mark, c.inst}), a), kOk);
    EXPECT_TRUE(a.hasInst);
    const InstLoop& s = a.sustainLoop;
    EXPECT_EQ(std::vector<int>({a.instRootNote, a.instTopKey, a.instDetune, int(s.playMode), int(s.begin),
                                int(s.end)}),
              c.want)
        << c.what;
    EXPECT_EQ(a.releaseLoop.playMode, 0u);
  }
}

}  // namespace
}  // namespace tavrin
