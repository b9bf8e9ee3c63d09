// Crafted FLAC streams: the search past damaged data stays within work
// proportional to the input.
#include <gtest/gtest.h>

#include "flac/flac_test_util.h"

namespace tavrin_test {
namespace {

std::vector<std::uint8_t> Stream(const std::vector<std::vector<std::uint8_t>>& frames) {
  auto out = HandStream(44100, 16, 0, {});
  for (const auto& f : frames) AppendBytes(out, f);
  return out;
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
    const auto bytes = Stream(c.parts);
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

}  // namespace
}  // namespace tavrin_test
