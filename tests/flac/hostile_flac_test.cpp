// Crafted FLAC streams: the search past damaged data stays within work
// proportional to the input, and the import refuses a stream that changes its
// sample rate or unfolds past the frame limit.
#include <gtest/gtest.h>

#include "audio/flac_reader.h"
#include "audio/readers.h"
#include "flac/flac_test_util.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin_test {
namespace {

// A hand-made frame whose header codes the rate `rateBits` (9: 44.1 kHz,
// 6: 22.05 kHz) instead of deferring to STREAMINFO; both CRCs redone.
std::vector<std::uint8_t> WithRate(std::vector<std::uint8_t> f, unsigned rateBits) {
  f[2] = static_cast<std::uint8_t>((f[2] & 0xF0) | rateBits);
  f[7] = tavrin::FlacCrc8({f.data(), 7});  // sync, codes, number, 16-bit block size
  const std::uint16_t crc = tavrin::FlacCrc16({f.data(), f.size() - 2});
  f[f.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  f.back() = static_cast<std::uint8_t>(crc);
  return f;
}

TEST(HostileFlac, SearchPastDamageIsBoundedByTheInput) {
  // 34 bytes that decode to 8 × 65535 samples before their CRC-16 refuses them.
  auto bad = HandFrameBytes(ConstantFrame({1, 2, 3, 4, 5, 6, 7, 8}, 65535), 16, 0);
  bad.back() ^= 1;
  const auto good = HandFrameBytes(ConstantFrame({7}, 100), 16, 0);
  const std::vector<std::uint8_t> garbage = {0x00};
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint8_t>> parts;
    std::uint64_t goodSamples;
  } cases[] = {
      {"garbage, then bad frames", {garbage}, 0},
      {"a good frame, garbage, then bad frames", {good, garbage}, 100},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.parts.insert(c.parts.end(), 2000, bad);
    const auto bytes = StreamOfFrames(c.parts);
    tavrin::FlacDecoder dec;
    ASSERT_EQ(dec.Open(bytes), tavrin::kOk);
    tavrin::FlacStatus s;
    std::uint64_t delivered = 0;
    while ((s = dec.DecodeFrame()) == tavrin::FlacStatus::kOk) delivered += dec.frame().blockSize;
    EXPECT_EQ(s, tavrin::FlacStatus::kError);
    EXPECT_EQ(delivered, c.goodSamples);
    // Without the bound: 2000 × 524280 samples for these 68 kB.
    EXPECT_LE(dec.samplesDecoded(),
              c.goodSamples + tavrin::kFlacSearchBaseSamples + tavrin::kFlacSearchSamplesPerByte * bytes.size());
  }
}

TEST(HostileFlac, ImportRefusesAChangingRate) {
  const auto frame = HandFrameBytes(ConstantFrame({1000}, 4410), 16, 0);
  tavrin::testing::TempDir dir;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    tavrin::Result expected;
  } cases[] = {
      {"changes.flac", StreamOfFrames({frame, WithRate(frame, 6)}), tavrin::kBadFormat},
      {"first-differs.flac", StreamOfFrames({WithRate(frame, 6), frame}), tavrin::kBadFormat},
      {"coded-as-streaminfo.flac", StreamOfFrames({WithRate(frame, 9), frame}), tavrin::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tavrin::DecodedAudio a;
    EXPECT_EQ(tavrin::ReadFlac(dir.Write(c.name, c.bytes), a), c.expected);
  }
}

TEST(HostileFlac, ImportRefusesTheTestbenchFileThatChangesItsRate) {
  const std::string missing = tavrin::testing::MissingTestData("flac-test-files");
  if (!missing.empty()) TAVRIN_SKIP_GROUP(missing);
  tavrin::DecodedAudio a;
  EXPECT_EQ(tavrin::ReadFlac((tavrin::testing::TestDataDir() / "flac-test-files" / "uncommon" / "01 - changing samplerate.flac").string(), a),
            tavrin::kBadFormat);
}

TEST(HostileFlac, ImportRefusesFramesPastTheLimit) {
  std::vector<HandFrame> frames(10, ConstantFrame({5}, 1000));
  const auto bytes = HandStream(44100, 16, 0, frames);
  tavrin::DecodedAudio a;
  EXPECT_EQ(DecodeFlacFile(bytes, a, 10000, tavrin::FlacFileMode::kImport), tavrin::kOk);
  EXPECT_EQ(a.frames.size(), 10000u);
  EXPECT_EQ(DecodeFlacFile(bytes, a, 9999, tavrin::FlacFileMode::kImport), tavrin::kFileTooLarge);
  EXPECT_EQ(DecodeFlacFile(bytes, a, 9999), tavrin::kOk);  // the lenient form cuts
  EXPECT_EQ(a.frames.size(), 9999u);
}

}  // namespace
}  // namespace tavrin_test
