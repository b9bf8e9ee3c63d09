// ReadFlac on hand-made streams: mixing, peak, the "riff" smpl block, and
// what happens to damaged, truncated, over- and under-announced streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>

#include "base/file_io.h"
#include "audio/flac_reader.h"
#include "audio/ogg.h"
#include "audio/readers.h"
#include "flac/flac_test_util.h"

namespace tavrin_test {
namespace {

using tavrin::DecodedAudio;
using tavrin::DecodeFlacFile;

void Append(std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) { AppendBytes(a, b); }

// A "riff" APPLICATION block holding one RIFF chunk.
std::vector<std::uint8_t> RiffBlock(const char* id, std::uint32_t declaredSize, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> body = {'r', 'i', 'f', 'f'};
  body.insert(body.end(), id, id + 4);
  Append(body, Le32Bytes(declaredSize));
  Append(body, payload);
  return MetadataBlock(2, false, body);
}

std::vector<std::uint8_t> SmplPayload(std::uint32_t unity, std::uint32_t fraction,
                                      const std::vector<std::array<std::uint32_t, 6>>& loops,
                                      const std::vector<std::uint8_t>& sampler) {
  std::vector<std::uint8_t> p;
  for (std::uint32_t v : {0u, 0u, 22676u, unity, fraction, 0u, 0u, static_cast<std::uint32_t>(loops.size()),
                          static_cast<std::uint32_t>(sampler.size())})
    Append(p, Le32Bytes(v));
  for (const auto& l : loops)
    for (std::uint32_t v : l) Append(p, Le32Bytes(v));
  Append(p, sampler);
  return p;
}

TEST(FlacReader, TwentyFourBitStereoMixesToAQuarter) {
  const auto bytes = HandStream(48000, 24, 3000, {ConstantFrame({4194304, 0}, 1000), ConstantFrame({4194304, 0}, 1000),
                                                  ConstantFrame({4194304, 0}, 1000)});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_EQ(a.sampleRate, 48000u);
  EXPECT_EQ(a.channelCount, 1u);
  ASSERT_EQ(a.frames.size(), 3000u);
  for (float f : a.frames) ASSERT_EQ(f, 0.25f);
  EXPECT_EQ(a.peak, 0.25f);
  EXPECT_FALSE(a.hasSmpl);
}

TEST(FlacReader, VerbatimEightChannelsAndNegativePeak) {
  HandFrame f;
  f.verbatim = true;
  for (int c = 0; c < 8; ++c) f.channels.push_back({0, -128, 64, 127});
  const auto bytes = HandStream(8000, 8, 4, {f});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  ASSERT_EQ(a.frames.size(), 4u);
  EXPECT_EQ(a.frames[0], 0.0f);
  EXPECT_EQ(a.frames[1], -1.0f);
  EXPECT_EQ(a.frames[2], 0.5f);
  EXPECT_EQ(a.frames[3], 127.0f / 128.0f);
  EXPECT_EQ(a.peak, -1.0f);  // the first of equal magnitudes is kept
}

TEST(FlacReader, ThirtyTwoBitScale) {
  const auto bytes = HandStream(44100, 32, 16, {ConstantFrame({-2147483647 - 1}, 16)});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  ASSERT_EQ(a.frames.size(), 16u);
  EXPECT_EQ(a.frames[0], -1.0f);
}

TEST(FlacReader, DamagedFrameKeepsTheFramesBefore) {
  auto bytes = HandStream(44100, 16, 300, {ConstantFrame({1000}, 100), ConstantFrame({2000}, 100), ConstantFrame({3000}, 100)});
  // Each constant 16-bit mono frame here is 12 bytes; damage the second one's value.
  const std::size_t second = bytes.size() - 2 * 12;
  bytes[second + 9] ^= 0x10;
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  ASSERT_EQ(a.frames.size(), 100u);
  EXPECT_EQ(a.frames[99], 1000.0f / 32768.0f);
}

TEST(FlacReader, TruncatedStreamShortensToTheDecodedFrames) {
  auto bytes = HandStream(44100, 16, 300, {ConstantFrame({1000}, 100), ConstantFrame({2000}, 100), ConstantFrame({3000}, 100)});
  bytes.resize(bytes.size() - 5);
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 200u);  // announced 300; the third frame is cut
}

TEST(FlacReader, MoreFramesThanAnnouncedAreAllKept) {
  const auto bytes = HandStream(44100, 16, 50, {ConstantFrame({1000}, 100), ConstantFrame({-3000}, 100)});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  ASSERT_EQ(a.frames.size(), 200u);
  EXPECT_EQ(a.frames[150], -3000.0f / 32768.0f);
  EXPECT_EQ(a.peak, -3000.0f / 32768.0f);
}

TEST(FlacReader, UnknownTotalDecodesEverything) {
  const auto bytes = HandStream(44100, 16, 0, {ConstantFrame({1}, 4096), ConstantFrame({2}, 4096), ConstantFrame({3}, 7)});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 4096u * 2 + 7);
}

TEST(FlacReader, FrameLimitStopsAConstantFlood) {
  // 1100 frames of 65535 samples in about 13 kB: more than the import limit.
  std::vector<HandFrame> frames(1100, ConstantFrame({5}, 65535));
  const auto bytes = HandStream(44100, 16, 0, frames);
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a, 1000000), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 1000000u);
  EXPECT_EQ(a.frames.back(), 5.0f / 32768.0f);
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(__has_feature)
  // The import's own limit (about 5 s of work in an optimised build).
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), tavrin::kFlacMaxImportFrames);
#endif
  static_assert(tavrin::kFlacMaxImportFrames == (std::uint64_t{1} << 26));
}

TEST(FlacReader, RefusesWhatIsNotFlac) {
  DecodedAudio a;
  EXPECT_EQ(DecodeFlacFile(std::vector<std::uint8_t>{}, a), tavrin::kBadFormat);
  const std::vector<std::uint8_t> riff = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  EXPECT_EQ(DecodeFlacFile(riff, a), tavrin::kBadFormat);
  const std::vector<std::uint8_t> almost = {'f', 'L', 'a', 'X', 0, 0, 0, 0};
  EXPECT_EQ(DecodeFlacFile(almost, a), tavrin::kBadFormat);
  const std::vector<std::uint8_t> ogg = {'O', 'g', 'g', 'S', 0, 0, 0, 0};
  EXPECT_EQ(DecodeFlacFile(ogg, a), tavrin::kBadFormat);
  // A bare frame stream (no "fLaC") starts with 0xFF.
  const auto frame = HandFrameBytes(ConstantFrame({1}, 16), 16, 0);
  EXPECT_EQ(DecodeFlacFile(frame, a), tavrin::kBadFormat);
}

TEST(FlacReader, RateZeroAndMissingStreamInfoAreRefused) {
  DecodedAudio a;
  EXPECT_EQ(DecodeFlacFile(HandStream(0, 16, 16, {ConstantFrame({1}, 16)}), a), tavrin::kBadFormat);

  std::vector<std::uint8_t> noInfo = {'f', 'L', 'a', 'C'};
  Append(noInfo, MetadataBlock(1, true, std::vector<std::uint8_t>(10, 0)));
  Append(noInfo, HandFrameBytes(ConstantFrame({1}, 16), 16, 0));
  EXPECT_EQ(DecodeFlacFile(noInfo, a), tavrin::kBadFormat);

  std::vector<std::uint8_t> shortInfo = {'f', 'L', 'a', 'C'};
  Append(shortInfo, MetadataBlock(0, true, std::vector<std::uint8_t>(20, 0)));
  EXPECT_EQ(DecodeFlacFile(shortInfo, a), tavrin::kBadFormat);
}

TEST(FlacReader, BrokenMetadataSectionIsRefused) {
  auto bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)}, {MetadataBlock(1, false, std::vector<std::uint8_t>(8, 0))});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  auto longer = bytes;
  longer[4 + 38 + 3] = 0xFF;  // padding length runs past the data
  longer[4 + 38 + 2] = 0xFF;
  EXPECT_EQ(DecodeFlacFile(longer, a), tavrin::kBadFormat);
  auto forbidden = bytes;
  forbidden[4 + 38] = 0x80 | 127;
  EXPECT_EQ(DecodeFlacFile(forbidden, a), tavrin::kBadFormat);
  std::vector<std::uint8_t> onlySignature = {'f', 'L', 'a', 'C'};
  EXPECT_EQ(DecodeFlacFile(onlySignature, a), tavrin::kBadFormat);
}

TEST(FlacReader, SmplChunkFromRiffApplicationBlock) {
  std::vector<std::uint8_t> sampler(28);
  for (std::size_t i = 0; i < sampler.size(); ++i) sampler[i] = static_cast<std::uint8_t>(i);
  sampler[4] = 1;  // loop flags 1: kept as it is here
  const auto payload = SmplPayload(0x1234543C, 0xFFFFFFFE, {{{7, 1, 100, 900, 0, 3}}}, sampler);
  // The blocks an encoder keeps from a WAV file: RIFF header, fmt, smpl, data header.
  std::vector<std::uint8_t> wave = {'W', 'A', 'V', 'E'};
  const auto bytes = HandStream(44100, 16, 1000, {ConstantFrame({1}, 1000)},
                                {RiffBlock("RIFF", 123456, wave), RiffBlock("fmt ", 16, std::vector<std::uint8_t>(16, 0)),
                                 RiffBlock("smpl", static_cast<std::uint32_t>(payload.size()), payload),
                                 RiffBlock("data", 2000, {})});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  ASSERT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.unityNote, 0x3C);
  EXPECT_EQ(a.pitchFraction, 0xFFFFFFFEu);
  ASSERT_EQ(a.loops.size(), 1u);
  EXPECT_EQ(a.loops[0].identifier, 7u);
  EXPECT_EQ(a.loops[0].type, 1u);
  EXPECT_EQ(a.loops[0].start, 100u);
  EXPECT_EQ(a.loops[0].end, 900u);
  EXPECT_EQ(a.loops[0].playCount, 3u);
  EXPECT_EQ(a.samplerData, sampler);
  EXPECT_EQ(a.frames.size(), 1000u);
}

TEST(FlacReader, SmplChunkWithWrongSizeIsIgnored) {
  auto payload = SmplPayload(60, 0, {{{0, 0, 1, 2, 0, 0}}}, {});
  payload.push_back(0);  // one byte more than 36 + 24 × 1
  const auto bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)},
                                {RiffBlock("smpl", static_cast<std::uint32_t>(payload.size()), payload)});
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
  EXPECT_FALSE(a.hasSmpl);
}

TEST(FlacReader, RiffChunkLargerThanItsBlockIsRefused) {
  const auto payload = SmplPayload(60, 0, {}, {});
  DecodedAudio a;
  auto bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)},
                          {RiffBlock("smpl", static_cast<std::uint32_t>(payload.size() + 1), payload)});
  EXPECT_EQ(DecodeFlacFile(bytes, a), tavrin::kBadFormat);
  bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)}, {RiffBlock("LIST", 9, std::vector<std::uint8_t>(8, 0))});
  EXPECT_EQ(DecodeFlacFile(bytes, a), tavrin::kBadFormat);
  // An APPLICATION block too short for its id.
  bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)}, {MetadataBlock(2, false, {'r', 'i'})});
  EXPECT_EQ(DecodeFlacFile(bytes, a), tavrin::kBadFormat);
  // Other applications are skipped.
  bytes = HandStream(44100, 16, 16, {ConstantFrame({1}, 16)}, {MetadataBlock(2, false, {'a', 'b', 'c', 'd', 1})});
  EXPECT_EQ(DecodeFlacFile(bytes, a), tavrin::kOk);
}

TEST(FlacReader, ReadFlacFromDisk) {
  DecodedAudio a;
  EXPECT_EQ(tavrin::ReadFlac("", a), tavrin::kInvalidArgument);
  TempDir dir;
  EXPECT_EQ(tavrin::ReadFlac((dir / "missing.flac").string(), a), tavrin::kNotFound);
  const auto bytes = HandStream(22050, 16, 100, {ConstantFrame({-16384, 16384}, 100)});
  WriteBytes(dir / "x.flac", bytes);
  ASSERT_EQ(tavrin::ReadFlac((dir / "x.flac").string(), a), tavrin::kOk);
  EXPECT_EQ(a.sampleRate, 22050u);
  ASSERT_EQ(a.frames.size(), 100u);
  EXPECT_EQ(a.frames[0], 0.0f);
  EXPECT_EQ(a.peak, 0.0f);
}

// Makes one kind of file call fail, the way a vanished file or a full disk would.
struct FailOne : tavrin::FileFaultHook {
  tavrin::FileOp op;
  tavrin::Result code;
  FailOne(tavrin::FileOp o, tavrin::Result c) : op(o), code(c) {}
  tavrin::Result Check(tavrin::FileOp o) override { return o == op ? code : tavrin::kOk; }
};

TEST(FlacReader, FileErrorsAreReturned) {
  TempDir dir;
  WriteBytes(dir / "x.flac", HandStream(22050, 16, 16, {ConstantFrame({1}, 16)}));
  for (auto [op, code] : {std::pair{tavrin::FileOp::kOpenRead, tavrin::kAccessDenied},
                          std::pair{tavrin::FileOp::kRead, tavrin::kDataError}}) {
    FailOne hook(op, code);
    tavrin::SetFileFaultHook(&hook);
    DecodedAudio a;
    EXPECT_EQ(tavrin::ReadFlac((dir / "x.flac").string(), a), code);
    tavrin::SetFileFaultHook(nullptr);
  }
  // A file over 16 MiB is refused before it is read.
  std::vector<std::uint8_t> big(16777217, 0);
  big[0] = 'f';
  WriteBytes(dir / "big.flac", big);
  DecodedAudio a;
  EXPECT_EQ(tavrin::ReadFlac((dir / "big.flac").string(), a), tavrin::kFileTooLarge);
}

TEST(FlacReader, TestbenchExampleStreams) {
  // The three streams worked through in the format document.
  const std::string missing = tavrin::testing::MissingTestData("flac-format-examples");
  if (!missing.empty()) TAVRIN_SKIP_GROUP(missing);
  const fs::path dir = tavrin::testing::TestDataDir() / "flac-format-examples";
  std::error_code ec;
  int seen = 0;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".flac") continue;
    SCOPED_TRACE(e.path().filename().string());
    ++seen;
    DecodedAudio a;
    EXPECT_EQ(DecodeFlacFile(ReadBytes(e.path()), a), tavrin::kOk);
    EXPECT_GT(a.frames.size(), 0u);
  }
  EXPECT_GT(seen, 0);
}

// ------------------------------------------------------------------ Ogg

TEST(FlacOgg, HandMadeOggDecodesLikeNative) {
  // Verbatim frames of 2 × 300 16-bit samples: 1200-byte packets over pages
  // of at most 3 lacing values, so every frame spans pages.
  std::vector<HandFrame> frames;
  for (int k = 0; k < 5; ++k) {
    HandFrame f;
    f.verbatim = true;
    f.channels.assign(2, std::vector<std::int32_t>(300));
    for (int i = 0; i < 300; ++i) {
      f.channels[0][static_cast<std::size_t>(i)] = (i * 97 + k * 1000) % 30000 - 15000;
      f.channels[1][static_cast<std::size_t>(i)] = (i * 31 - k * 77) % 20000;
    }
    frames.push_back(f);
  }
  const auto pad = MetadataBlock(1, false, std::vector<std::uint8_t>(600, 0));
  const auto native = HandStream(32000, 16, 1500, frames, {pad});
  const std::size_t frameBytes = HandFrameBytes(frames[0], 16, 0).size();
  const auto packets = OggPackets(native, frameBytes, frames.size());
  ASSERT_EQ(packets.size(), 2u + frames.size());
  for (std::size_t maxSeg : {1u, 3u, 7u, 255u}) {
    SCOPED_TRACE(maxSeg);
    const auto ogg = OggWrap(packets, maxSeg);
    DecodedAudio fromNative, fromOgg;
    ASSERT_EQ(DecodeFlacFile(native, fromNative), tavrin::kOk);
    ASSERT_EQ(DecodeFlacFile(ogg, fromOgg), tavrin::kOk);
    EXPECT_EQ(fromOgg.sampleRate, 32000u);
    EXPECT_EQ(fromOgg.frames, fromNative.frames);
    EXPECT_EQ(fromOgg.peak, fromNative.peak);
    EXPECT_EQ(DecodeWithOurs(ogg).samples, DecodeWithOurs(native).samples);
  }
}

TEST(FlacOgg, DamagedPageKeepsTheFramesBefore) {
  std::vector<HandFrame> frames(6, ConstantFrame({1234}, 500));
  const auto native = HandStream(44100, 16, 3000, frames);
  const std::size_t frameBytes = HandFrameBytes(frames[0], 16, 0).size();
  const auto packets = OggPackets(native, frameBytes, frames.size());
  auto ogg = OggWrap(packets, 1);  // one packet per page
  // Pages: mapping header, then one frame each. Damage the fourth frame's page.
  std::vector<std::size_t> starts;
  std::size_t at = 0;
  while (at < ogg.size()) {
    starts.push_back(at);
    const std::size_t segs = ogg[at + 26];
    std::size_t len = 27 + segs;
    for (std::size_t s = 0; s < segs; ++s) len += ogg[at + 27 + s];
    at += len;
  }
  ASSERT_EQ(starts.size(), 7u);
  ogg[starts[4] + 30] ^= 0x01;  // a body byte of the fourth frame's page
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(ogg, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 3u * 500);
}

TEST(FlacOgg, OtherLogicalStreamsAreSkipped) {
  std::vector<HandFrame> frames(2, ConstantFrame({-5}, 64));
  const auto native = HandStream(44100, 16, 128, frames);
  const auto packets = OggPackets(native, HandFrameBytes(frames[0], 16, 0).size(), frames.size());
  // A foreign stream first (a different serial and a non-FLAC first packet).
  auto ogg = OggWrap({{'x', 'y', 'z'}}, 255, 0x99);
  Append(ogg, OggWrap(packets, 255));
  DecodedAudio a;
  ASSERT_EQ(DecodeFlacFile(ogg, a), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 128u);
  // Without any FLAC stream: 13.
  DecodedAudio b;
  EXPECT_EQ(DecodeFlacFile(OggWrap({{'x', 'y', 'z'}}, 255, 0x99), b), tavrin::kBadFormat);
}

}  // namespace
}  // namespace tavrin_test
