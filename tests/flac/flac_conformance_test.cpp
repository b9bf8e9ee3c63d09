// The public FLAC decoder testbench: every "subset" and "uncommon" file
// decodes to the integers of the reference decoder and to the MD5 signature of
// its STREAMINFO; every "faulty" file ends cleanly.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/flac_decoder.h"
#include "audio/flac_reader.h"
#include "flac/flac_test_util.h"

namespace tavrin_test {
namespace {

std::vector<fs::path> FilesOf(const char* group) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(TestFilesDir() / group, ec))
    if (e.path().extension() == ".flac") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class FlacConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = tavrin::testing::MissingTestData("flac-test-files");
    if (!missing.empty()) TAVRIN_SKIP_GROUP(missing);
  }
};

void CheckFile(const fs::path& path) {
  SCOPED_TRACE(path.filename().string());
  const std::vector<std::uint8_t> bytes = ReadBytes(path);
  ASSERT_FALSE(bytes.empty());
  const IntDecode ours = DecodeWithOurs(bytes);
  ASSERT_TRUE(ours.opened);
  EXPECT_FALSE(ours.error);
  EXPECT_GT(ours.samples.size(), 0u);

  if (bytes[0] == 'f') {
    tavrin::FlacDecoder dec;
    ASSERT_EQ(dec.Open(bytes), tavrin::kOk);
    tavrin::FlacMetadataBlock block;
    while (dec.NextMetadataBlock(block) == tavrin::FlacStatus::kOk) {
    }
    ASSERT_TRUE(dec.hasStreamInfo());
    const auto& info = dec.streamInfo();
    const std::uint8_t zero[16] = {};
    if (std::memcmp(info.md5, zero, 16) != 0) {
      EXPECT_TRUE(Md5Matches(ours, info.md5));
    }
    if (info.totalSamples != 0) {
      std::uint64_t total = 0;
      for (auto n : ours.blockSizes) total += n;
      EXPECT_EQ(total, info.totalSamples);
    }
  }
#ifdef TAVRIN_HAVE_LIBFLAC
  const IntDecode ref = DecodeWithLibFlac(path, false);
  ASSERT_TRUE(ref.opened);
  EXPECT_EQ(ours.blockSizes, ref.blockSizes);
  EXPECT_EQ(ours.channels, ref.channels);
  EXPECT_EQ(ours.bits, ref.bits);
  EXPECT_TRUE(ours.samples == ref.samples) << "integers differ from libFLAC";
#endif
}

TEST_F(FlacConformance, SubsetFilesDecodeExactly) {
  const auto files = FilesOf("subset");
  ASSERT_GE(files.size(), 40u);
  for (const auto& f : files) CheckFile(f);
}

TEST_F(FlacConformance, UncommonFilesDecodeExactly) {
  const auto files = FilesOf("uncommon");
  ASSERT_GE(files.size(), 10u);
  for (const auto& f : files) CheckFile(f);
}

TEST_F(FlacConformance, UncommonFilesThroughTheReader) {
  // The reader takes native and Ogg streams only: the two bare frame streams
  // (no "fLaC") are refused; every other file gives its frames.
  for (const auto& f : FilesOf("uncommon")) {
    SCOPED_TRACE(f.filename().string());
    const auto bytes = ReadBytes(f);
    tavrin::DecodedAudio audio;
    const tavrin::Result r = tavrin::DecodeFlacFile(bytes, audio);
    if (bytes[0] != 'f') {
      EXPECT_EQ(r, tavrin::kBadFormat);
      continue;
    }
    ASSERT_EQ(r, tavrin::kOk);
    EXPECT_EQ(audio.channelCount, 1u);
    EXPECT_GT(audio.sampleRate, 0u);
    const IntDecode ours = DecodeWithOurs(bytes);
    std::uint64_t total = 0;
    for (auto n : ours.blockSizes) total += n;
    EXPECT_EQ(audio.frames.size(), total);
  }
}

// What the reader makes of each faulty file.
struct FaultyCase {
  const char* prefix;
  tavrin::Result result;
  std::uint64_t frames;  // expected frame count when the result is 0
};

TEST_F(FlacConformance, FaultyFilesEndCleanly) {
  const FaultyCase cases[] = {
      {"01", tavrin::kOk, 0},          // max block size understated: decoded in full
      {"02", tavrin::kOk, 0},          // max frame size understated: decoded in full
      {"03", tavrin::kOk, 0},          // wrong STREAMINFO depth: the frames' own depth is used
      {"04", tavrin::kOk, 0},          // wrong STREAMINFO channel count: the frames' own count
      {"05", tavrin::kOk, 109487},     // total understated: every frame is kept
      {"06", tavrin::kBadFormat, 0},   // no STREAMINFO: no rate
      {"07", tavrin::kOk, 0},          // STREAMINFO not first: still found
      {"08", tavrin::kOk, 0},          // block size 65536: the first frame is refused, no frames
      {"09", tavrin::kOk, 0},          // block size 1: decoded
      {"10", tavrin::kOk, 0},          // bad Vorbis comment: skipped unread
      {"11", tavrin::kBadFormat, 0},   // wrong block length: broken metadata section
  };
  const auto files = FilesOf("faulty");
  ASSERT_EQ(files.size(), 11u);
  for (const auto& f : files) {
    const std::string name = f.filename().string();
    SCOPED_TRACE(name);
    const FaultyCase* c = nullptr;
    for (const auto& k : cases)
      if (name.rfind(k.prefix, 0) == 0) c = &k;
    ASSERT_NE(c, nullptr);
    const auto bytes = ReadBytes(f);
    tavrin::DecodedAudio audio;
    const tavrin::Result r = tavrin::DecodeFlacFile(bytes, audio);
    EXPECT_EQ(r, c->result);
    if (r == tavrin::kOk && c->frames) {
      EXPECT_EQ(audio.frames.size(), c->frames);
    }
    // The core decoder also ends on every one of them.
    (void)DecodeWithOurs(bytes);
  }
}

}  // namespace
}  // namespace tavrin_test
