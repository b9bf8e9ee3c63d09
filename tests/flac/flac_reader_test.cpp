// The FLAC reader on hand-made streams, native and in Ogg: mixing, scaling,
// peak, the "riff" smpl block, and what it makes of damaged, truncated, over-
// and under-announced streams and of files it cannot read.
#include <gtest/gtest.h>

#include <utility>

#include "audio/flac_reader.h"
#include "audio/readers.h"
#include "base/file_io.h"
#include "flac/flac_test_util.h"
#include "support/temp_dir.h"

namespace tavrin_test {
namespace {

using tavrin::DecodedAudio;
using tavrin::kBadFormat;
using tavrin::kOk;

// Frames of `n` samples, each frame's channels constant.
std::vector<HandFrame> Constants(const std::vector<std::vector<std::int32_t>>& frames, unsigned n) {
  std::vector<HandFrame> out;
  for (const auto& values : frames) out.push_back(ConstantFrame(values, n));
  return out;
}

Bytes Changed(Bytes b, std::size_t at, std::uint8_t value) {
  b[at] = value;
  return b;
}

// "fLaC" and the parts after it.
Bytes Flac(const std::vector<Bytes>& parts) {
  Bytes b = {'f', 'L', 'a', 'C'};
  for (const Bytes& p : parts) AppendBytes(b, p);
  return b;
}

// An APPLICATION block "riff" holding one RIFF chunk.
Bytes RiffBlock(const char* id, std::size_t declaredSize, const Bytes& payload) {
  Bytes body = {'r', 'i', 'f', 'f'};
  body.insert(body.end(), id, id + 4);
  PutLe(body, declaredSize, 4);
  AppendBytes(body, payload);
  return MetadataBlock(2, false, body);
}

// One frame of 16 samples of 1 after the given metadata blocks.
Bytes OneFrameAfter(const std::vector<Bytes>& blocks) {
  return HandStream(44100, 16, 16, Constants({{1}}, 16), blocks);
}

TEST(FlacReader, StreamsGiveTheirFramesOrAreRefused) {
  HandFrame verbatim;
  verbatim.verbatim = true;
  verbatim.channels.assign(8, {0, -128, 64, 127});
  const auto three = Constants({{1000}, {2000}, {3000}}, 100);
  const Bytes threeFrames = HandStream(44100, 16, 300, three);
  const std::size_t secondValue = threeFrames.size() - 2 * HandFrameBytes(three[0], 16, 0).size() + 9;
  const Bytes cut(threeFrames.begin(), threeFrames.end() - 5);
  const Bytes withPadding = OneFrameAfter({MetadataBlock(1, false, Bytes(8, 0))});
  const Bytes smpl = SmplBody(60, 0, {}, {});
  Bytes wrongSmpl = SmplBody(60, 0, {{0, 0, 1, 2, 0, 0}}, {});
  wrongSmpl.push_back(0);  // one byte more than 36 + 24 × 1: ignored
  const Bytes bareFrame = HandFrameBytes(ConstantFrame({1}, 16), 16, 0);
  // 1100 frames of 65535 samples in about 13 kB: more than the limits.
  const Bytes flood = HandStream(44100, 16, 0, std::vector<HandFrame>(1100, ConstantFrame({5}, 65535)));
  const float k16 = 1.0f / 32768;
  const auto quarter = Constants({{1 << 22, 0}, {1 << 22, 0}, {1 << 22, 0}}, 1000);

  // Ogg: verbatim frames of 2 × 300 samples, 1200-byte packets spanning pages
  // of at most 1, 3 or 7 lacing values; after a foreign logical stream.
  std::vector<HandFrame> frames(5);
  for (int k = 0; k < 5; ++k) {
    frames[k].verbatim = true;
    frames[k].channels.resize(2);
    for (int i = 0; i < 300; ++i) {
      frames[k].channels[0].push_back((i * 97 + k * 1000) % 30000 - 15000);
      frames[k].channels[1].push_back((i * 31 - k * 77) % 20000);
    }
  }
  const Bytes native = HandStream(32000, 16, 1500, frames, {MetadataBlock(1, false, Bytes(600, 0))});
  const auto packets = OggPackets(native, HandFrameBytes(frames[0], 16, 0).size(), frames.size());
  const Bytes foreign = OggWrap({{'x', 'y', 'z'}}, 255, 0x99);
  Bytes afterForeign = foreign;
  AppendBytes(afterForeign, OggWrap(packets, 255));
  // Six constant frames, one per page; a body byte of the fourth frame's page damaged.
  const auto six = Constants(std::vector<std::vector<std::int32_t>>(6, {1234}), 400);
  const std::size_t page = 27 + 1 + HandFrameBytes(six[0], 16, 0).size();
  Bytes damagedPage = OggWrap(OggPackets(HandStream(44100, 16, 2400, six), page - 28, 6), 1);
  damagedPage[damagedPage.size() - 3 * page + 30] ^= 1;

  struct Case {
    const char* what;
    Bytes bytes;
    tavrin::Result result = kOk;
    std::size_t frames = 0;
    std::vector<std::pair<std::size_t, float>> values = {};  // frames[i] == v
    float peak = 0.0f;
    std::uint32_t rate = 44100;
    std::uint64_t maxFrames = tavrin::kFlacMaxImportFrames;
    Bytes sameAs = {};  // frames and peak as this stream's
  };
  const Case cases[] = {
      {"24-bit stereo mixes to a quarter", HandStream(48000, 24, 3000, quarter), kOk, 3000,
       {{0, 0.25f}, {1000, 0.25f}, {2999, 0.25f}}, 0.25f, 48000},
      {"8 channels, 8-bit verbatim; the first of equal peaks kept", HandStream(8000, 8, 4, {verbatim}), kOk,
       4, {{0, 0.0f}, {1, -1.0f}, {2, 0.5f}, {3, 127.0f / 128}}, -1.0f, 8000},
      {"32-bit scale", HandStream(44100, 32, 16, Constants({{INT32_MIN}}, 16)), kOk, 16, {{15, -1.0f}}, -1.0f},
      {"damaged second frame", Changed(threeFrames, secondValue, 0x55), kOk, 100, {{99, 1000 * k16}}, 1000 * k16},
      {"third frame cut", cut, kOk, 200, {{100, 2000 * k16}}, 2000 * k16},
      {"more frames than announced", HandStream(44100, 16, 50, Constants({{1000}, {-3000}}, 100)), kOk, 200,
       {{99, 1000 * k16}, {150, -3000 * k16}}, -3000 * k16},
      {"unknown total", HandStream(44100, 16, 0, {ConstantFrame({1}, 4096), ConstantFrame({2}, 4096),
       ConstantFrame({3}, 7)}), kOk, 8199, {{8198, 3 * k16}}, 3 * k16},
      {"frame limit", flood, kOk, 1000000, {{999999, 5 * k16}}, 5 * k16, 44100, 1000000},
      {"padding", withPadding, kOk, 16, {{15, k16}}, k16},
      {"another application", OneFrameAfter({MetadataBlock(2, false, {'a', 'b', 'c', 'd', 1})}), kOk, 16,
       {{15, k16}}, k16},
      {"smpl chunk of the wrong size", OneFrameAfter({RiffBlock("smpl", wrongSmpl.size(), wrongSmpl)}), kOk,
       16, {{15, k16}}, k16},
      {.what = "Ogg, 1 lacing value a page", .bytes = OggWrap(packets, 1), .frames = 1500, .rate = 32000,
       .sameAs = native},
      {.what = "Ogg, 3", .bytes = OggWrap(packets, 3), .frames = 1500, .rate = 32000, .sameAs = native},
      {.what = "Ogg, 7", .bytes = OggWrap(packets, 7), .frames = 1500, .rate = 32000, .sameAs = native},
      {.what = "Ogg, 255", .bytes = OggWrap(packets, 255), .frames = 1500, .rate = 32000, .sameAs = native},
      {.what = "Ogg after another stream", .bytes = afterForeign, .frames = 1500, .rate = 32000,
       .sameAs = native},
      {"Ogg, damaged page", damagedPage, kOk, 1200, {{1199, 1234 * k16}}, 1234 * k16},
      {"Ogg without FLAC", foreign, kBadFormat},
      {"empty", {}, kBadFormat},
      {"RIFF", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, kBadFormat},
      {"fLaX", {'f', 'L', 'a', 'X', 0, 0, 0, 0}, kBadFormat},
      {"OggS without a page", {'O', 'g', 'g', 'S', 0, 0, 0, 0}, kBadFormat},
      {"bare frames", bareFrame, kBadFormat},
      {"only the signature", Flac({}), kBadFormat},
      {"rate 0", HandStream(0, 16, 16, Constants({{1}}, 16)), kBadFormat},
      {"no STREAMINFO", Flac({MetadataBlock(1, true, Bytes(10, 0)), bareFrame}), kBadFormat},
      {"short STREAMINFO", Flac({MetadataBlock(0, true, Bytes(20, 0))}), kBadFormat},
      {"block past the data", Changed(withPadding, 42 + 2, 0xFF), kBadFormat},
      {"block type 127", Changed(withPadding, 42, 0xFF), kBadFormat},
      {"riff chunk past its block", OneFrameAfter({RiffBlock("smpl", smpl.size() + 1, smpl)}), kBadFormat},
      {"other riff chunk past its block", OneFrameAfter({RiffBlock("LIST", 9, Bytes(8, 0))}), kBadFormat},
      {"application block without its id", OneFrameAfter({MetadataBlock(2, false, {'r', 'i'})}), kBadFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodedAudio a, same;
    ASSERT_EQ(tavrin::DecodeFlacFile(c.bytes, a, c.maxFrames), c.result);
    if (c.result != kOk) continue;
    EXPECT_EQ(a.sampleRate, c.rate);
    EXPECT_EQ(a.channelCount, 1u);
    ASSERT_EQ(a.frames.size(), c.frames);
    for (auto [i, v] : c.values) EXPECT_EQ(a.frames[i], v) << i;
    EXPECT_FALSE(a.hasSmpl);
    if (c.sameAs.empty()) {
      EXPECT_EQ(a.peak, c.peak);
      continue;
    }
    ASSERT_EQ(tavrin::DecodeFlacFile(c.sameAs, same), kOk);
    EXPECT_EQ(a.frames, same.frames);
    EXPECT_EQ(a.peak, same.peak);
  }
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
  // The import's own limit (about 5 s of work in an optimised build).
  DecodedAudio a;
  ASSERT_EQ(tavrin::DecodeFlacFile(flood, a), kOk);
  EXPECT_EQ(a.frames.size(), tavrin::kFlacMaxImportFrames);
#endif
  static_assert(tavrin::kFlacMaxImportFrames == (std::uint64_t{1} << 26));
}

TEST(FlacReader, SmplChunkFromRiffApplicationBlocks) {
  Bytes sampler(28);
  for (std::size_t i = 0; i < sampler.size(); ++i) sampler[i] = static_cast<std::uint8_t>(i);
  const Bytes body = SmplBody(0x1234543C, 0xFFFFFFFE, {{7, 1, 100, 900, 0, 3}}, sampler);
  // The blocks an encoder keeps from a WAV file: RIFF header, fmt, smpl, data header.
  const Bytes bytes =
      HandStream(44100, 16, 1000, Constants({{1}}, 1000),
                 {RiffBlock("RIFF", 123456, {'W', 'A', 'V', 'E'}), RiffBlock("fmt ", 16, Bytes(16)),
                  RiffBlock("smpl", body.size(), body), RiffBlock("data", 2000, {})});
  DecodedAudio a;
  ASSERT_EQ(tavrin::DecodeFlacFile(bytes, a), kOk);
  ASSERT_TRUE(a.hasSmpl);  // its fields as the WAV reader's tests check them
  EXPECT_EQ(a.unityNote, 0x3C);
  ASSERT_EQ(a.loops.size(), 1u);
  EXPECT_EQ(a.loops[0].end, 900u);
  EXPECT_EQ(a.samplerData, sampler);
  EXPECT_EQ(a.frames.size(), 1000u);
}

// What the file layer refuses is passed on (reading a good file: the hostile tests).
TEST(FlacReader, PassesFileErrorsOn) {
  tavrin::testing::TempDir dir;
  Bytes big(tavrin::kMaxReadableFile + 1, 0);
  big[0] = 'f';
  DecodedAudio a;
  EXPECT_EQ(tavrin::ReadFlac("", a), tavrin::kInvalidArgument);
  EXPECT_EQ(tavrin::ReadFlac(dir.File("missing.flac"), a), tavrin::kNotFound);
  EXPECT_EQ(tavrin::ReadFlac(dir.Write("big.flac", big), a), tavrin::kFileTooLarge);  // refused unread
}

}  // namespace
}  // namespace tavrin_test
