// The public FLAC decoder testbench and the format document's examples: every
// file decodes to the integers of libFLAC and to the MD5 signature of its
// STREAMINFO, and the reader gives all its frames; every "faulty" file ends the
// way the table below says.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>

#include "audio/flac_reader.h"
#include "flac/flac_test_util.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin_test {
namespace {

namespace fs = std::filesystem;
using tavrin::testing::ReadBytes;

// MD5 (RFC 1321).
class Md5 {
 public:
  void Add(std::uint8_t byte) {
    block_[length_++ % 64] = byte;
    if (length_ % 64 == 0) Transform();
  }
  std::array<std::uint8_t, 16> Final() {
    const std::uint64_t bits = length_ * 8;
    Add(0x80);
    while (length_ % 64 != 56) Add(0);
    for (int i = 0; i < 8; ++i) Add(static_cast<std::uint8_t>(bits >> (8 * i)));
    std::array<std::uint8_t, 16> out;
    for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint8_t>(h_[i / 4] >> (8 * (i % 4)));
    return out;
  }

 private:
  void Transform() {
    static const std::uint32_t k[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int kRotate[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};
    std::uint32_t m[16];
    std::memcpy(m, block_, 64);  // little-endian words, as on every target here
    auto [a, b, c, d] = h_;
    for (int i = 0; i < 64; ++i) {
      const int r = i / 16, s = kRotate[r * 4 + i % 4];
      const std::uint32_t mix[4] = {(b & c) | (~b & d), (d & b) | (~d & c), b ^ c ^ d, c ^ (b | ~d)};
      const int word[4] = {i, 5 * i + 1, 3 * i + 5, 7 * i};
      const std::uint32_t f = mix[r] + a + k[i] + m[word[r] % 16];
      std::tie(a, b, c, d) = std::make_tuple(d, b + ((f << s) | (f >> (32 - s))), b, c);
    }
    h_ = {h_[0] + a, h_[1] + b, h_[2] + c, h_[3] + d};
  }

  std::array<std::uint32_t, 4> h_ = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  std::uint8_t block_[64] = {};
  std::uint64_t length_ = 0;
};

// MD5 of the decoded samples as FLAC computes it: little-endian, each sample
// in the whole bytes its frame's bit depth needs.
std::array<std::uint8_t, 16> SamplesMd5(const IntDecode& d) {
  Md5 md5;
  std::size_t at = 0;
  for (std::size_t f = 0; f < d.blockSizes.size(); ++f) {
    for (std::size_t i = 0; i < std::size_t{d.blockSizes[f]} * d.channels[f]; ++i, ++at)
      for (unsigned b = 0; b < (d.bits[f] + 7) / 8; ++b)
        md5.Add(static_cast<std::uint8_t>(static_cast<std::uint32_t>(d.samples[at]) >> (8 * b)));
  }
  return md5.Final();
}

// The .flac files of a corpus folder, sorted; none, with the test skipped
// (one line), where the corpus is not there.
void CorpusFiles(const char* corpus, const char* group, std::vector<fs::path>& files) {
  const std::string missing = tavrin::testing::MissingTestData(corpus);
  if (!missing.empty()) TAVRIN_SKIP_GROUP(missing);
  for (const auto& e : fs::directory_iterator(tavrin::testing::TestDataDir() / corpus / group))
    if (e.path().extension() == ".flac") files.push_back(e.path());
  std::sort(files.begin(), files.end());
}

// Our integers against the input's MD5 and libFLAC; the reader against them.
void CheckFiles(const char* corpus, const char* group, std::size_t atLeast) {
  std::vector<fs::path> files;
  CorpusFiles(corpus, group, files);
  if (::testing::Test::IsSkipped()) return;
  ASSERT_GE(files.size(), atLeast);
  for (const fs::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    const Bytes bytes = ReadBytes(path.string());
    ASSERT_FALSE(bytes.empty());
    const IntDecode ours = DecodeWithOurs(bytes);
    EXPECT_TRUE(ours.opened && !ours.error && !ours.samples.empty());
    tavrin::DecodedAudio audio;
    const tavrin::Result r = tavrin::DecodeFlacFile(bytes, audio);
    if (bytes[0] != 'f') {  // the reader takes no bare frame streams
      EXPECT_EQ(r, tavrin::kBadFormat);
    } else {
      ASSERT_TRUE(ours.info);
      const auto& info = *ours.info;
      const bool hasMd5 = std::any_of(info.md5, info.md5 + 16, [](std::uint8_t b) { return b != 0; });
      EXPECT_TRUE(!hasMd5 || std::equal(info.md5, info.md5 + 16, SamplesMd5(ours).begin())) << "MD5 differs";
      EXPECT_TRUE(info.totalSamples == 0 || ours.total() == info.totalSamples) << ours.total();
      ASSERT_EQ(r, tavrin::kOk);
      EXPECT_EQ(audio.channelCount, 1u);
      EXPECT_EQ(audio.sampleRate, info.sampleRate);
      EXPECT_EQ(audio.frames.size(), ours.total());
    }
#ifdef TAVRIN_HAVE_LIBFLAC
    const IntDecode ref = DecodeWithLibFlac(path, false);
    EXPECT_TRUE(ref.opened && ours.blockSizes == ref.blockSizes && ours.channels == ref.channels &&
                ours.bits == ref.bits && ours.samples == ref.samples) << "frames differ from libFLAC's";
#endif
  }
}

TEST(FlacConformance, SubsetFiles) { CheckFiles("flac-test-files", "subset", 40); }
TEST(FlacConformance, UncommonFiles) { CheckFiles("flac-test-files", "uncommon", 10); }
TEST(FlacConformance, FormatDocumentExamples) { CheckFiles("flac-format-examples", "", 3); }

TEST(FlacConformance, FaultyFilesEndAsExpected) {
  struct Case {
    const char* prefix;
    tavrin::Result result;
    std::uint64_t frames;  // when kOk and not 0
  };
  const Case cases[] = {
      {"01", tavrin::kOk, 0},         // max block size understated: decoded in full
      {"02", tavrin::kOk, 0},         // max frame size understated: decoded in full
      {"03", tavrin::kOk, 0},         // wrong STREAMINFO depth: the frames' own depth is used
      {"04", tavrin::kOk, 0},         // wrong STREAMINFO channel count: the frames' own count
      {"05", tavrin::kOk, 109487},    // total understated: every frame is kept
      {"06", tavrin::kBadFormat, 0},  // no STREAMINFO: no rate
      {"07", tavrin::kOk, 0},         // STREAMINFO not first: still found
      {"08", tavrin::kOk, 0},         // block size 65536: the first frame is refused, no frames
      {"09", tavrin::kOk, 0},         // block size 1: decoded
      {"10", tavrin::kOk, 0},         // bad Vorbis comment: skipped unread
      {"11", tavrin::kBadFormat, 0},  // wrong block length: broken metadata section
  };
  std::vector<fs::path> files;
  CorpusFiles("flac-test-files", "faulty", files);
  if (IsSkipped()) return;
  ASSERT_EQ(files.size(), std::size(cases));
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].filename().string());
    ASSERT_EQ(files[i].filename().string().rfind(cases[i].prefix, 0), 0u);
    const Bytes bytes = ReadBytes(files[i].string());
    tavrin::DecodedAudio audio;
    EXPECT_EQ(tavrin::DecodeFlacFile(bytes, audio), cases[i].result);
    EXPECT_TRUE(!cases[i].frames || audio.frames.size() == cases[i].frames) << audio.frames.size();
    (void)DecodeWithOurs(bytes);  // the core decoder also ends on every one of them
  }
}

}  // namespace
}  // namespace tavrin_test
