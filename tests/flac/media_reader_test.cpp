// The media reader: the Media Foundation steps against a scripted platform
// (every system), MP3 files made by lame through libmpg123 (off Windows), and
// the real Media Foundation reader as far as the system decodes (Windows).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "audio/media_reader.h"
#include "audio/readers.h"
#include "flac/flac_test_util.h"
#include "flac/tiny_mp3.h"

namespace tavrin_test {
namespace {

using tavrin::MediaTypeKey;

constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);        // E_FAIL -> 1
constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005); // -> 8
constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000E);  // -> 4
constexpr std::int32_t kCodecNotFound = static_cast<std::int32_t>(0xC00D5212);  // MF_E_TOPO_CODEC_NOT_FOUND -> 1

// A platform that answers from a script and logs every call.
class ScriptedPlatform : public tavrin::MediaPlatform {
 public:
  std::map<std::string, std::int32_t> fail;  // call name -> result to fail with
  std::uint32_t channels = 2;
  std::uint32_t rate = 44100;
  std::vector<std::vector<std::vector<float>>> samples;  // samples, their buffers, the floats
  bool endOfStream = true;
  std::vector<std::string> log;
  std::u16string path;
  int held = 0;  // obtained and not yet released objects

  std::int32_t Result(const char* name) {
    log.push_back(name);
    auto it = fail.find(name);
    return it == fail.end() ? 0 : it->second;
  }
  std::int32_t Startup() override { return Result("Startup"); }
  void Shutdown() override { log.push_back("Shutdown"); }
  std::int32_t CreateReader(tavrin::Utf16View p) override {
    path.assign(p.begin(), p.end());
    const std::int32_t hr = Result("CreateReader");
    if (hr >= 0) ++held;
    return hr;
  }
  void ReleaseReader() override {
    log.push_back("ReleaseReader");
    --held;
  }
  std::int32_t GetNativeType() override {
    const std::int32_t hr = Result("GetNativeType");
    if (hr >= 0) ++held;
    return hr;
  }
  std::int32_t GetTypeUInt32(MediaTypeKey key, std::uint32_t& value) override {
    const bool ch = key == MediaTypeKey::kAudioNumChannels;
    value = ch ? channels : rate;
    return Result(ch ? "GetChannels" : "GetRate");
  }
  std::int32_t DeleteTypeUserData() override { return Result("DeleteUserData"); }
  std::int32_t SetTypeFloatSubtype() override { return Result("SetFloat"); }
  std::int32_t SetTypeUInt32(MediaTypeKey key, std::uint32_t value) override {
    std::string name = key == MediaTypeKey::kAllSamplesIndependent ? "SetIndependent"
                       : key == MediaTypeKey::kCompressed           ? "SetCompressed"
                                                                    : "SetChannels";
    return Result((name + "=" + std::to_string(value)).c_str());
  }
  std::int32_t SetCurrentType() override { return Result("SetCurrentType"); }
  void ReleaseType() override {
    log.push_back("ReleaseType");
    --held;
  }
  std::int32_t ReadSample(bool& got, bool& eos) override {
    const std::int32_t hr = Result("ReadSample");
    if (hr < 0) return hr;
    got = next_ < samples.size();
    eos = !got && endOfStream;
    if (got) {
      current_ = next_++;
      ++held;
    }
    return hr;
  }
  std::int32_t GetBufferCount(std::uint32_t& count) override {
    count = static_cast<std::uint32_t>(samples[current_].size());
    return Result("GetBufferCount");
  }
  std::int32_t GetBuffer(std::uint32_t index) override {
    buffer_ = index;
    const std::int32_t hr = Result("GetBuffer");
    if (hr >= 0) ++held;
    return hr;
  }
  std::int32_t LockBuffer(const std::uint8_t*& data, std::uint32_t& length) override {
    const auto& b = samples[current_][buffer_];
    data = reinterpret_cast<const std::uint8_t*>(b.data());
    length = static_cast<std::uint32_t>(b.size() * 4);
    return Result("Lock");
  }
  void UnlockBuffer() override { log.push_back("Unlock"); }
  void ReleaseBuffer() override {
    log.push_back("ReleaseBuffer");
    --held;
  }
  void ReleaseSample() override {
    log.push_back("ReleaseSample");
    --held;
  }

 private:
  std::size_t next_ = 0;
  std::size_t current_ = 0;
  std::uint32_t buffer_ = 0;
};

const std::vector<std::string> kOpening = {"Startup",  "CreateReader",   "GetNativeType",   "GetChannels",
                                           "GetRate",  "DeleteUserData", "SetFloat",        "SetIndependent=1",
                                           "SetCompressed=0"};

TEST(MediaReaderSteps, StereoSourceIsAskedForMonoAndCollected) {
  ScriptedPlatform p;
  p.samples = {{{0.1f, -0.5f}, {0.25f}}, {{0.5f, 0.2f, -0.3f}}};
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::ReadThroughMediaPlatform(p, "C:\\x\\song.mp3", a), tavrin::kOk);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.frames, (std::vector<float>{0.1f, -0.5f, 0.25f, 0.5f, 0.2f, -0.3f}));
  EXPECT_EQ(a.peak, -0.5f);  // the first of equal magnitudes, sign kept
  EXPECT_EQ(p.path, u"C:\\x\\song.mp3");
  std::vector<std::string> expected = kOpening;
  for (const char* s : {"SetChannels=1", "SetCurrentType", "ReleaseType", "ReadSample", "GetBufferCount", "GetBuffer",
                        "Lock", "Unlock", "ReleaseBuffer", "GetBuffer", "Lock", "Unlock", "ReleaseBuffer",
                        "ReleaseSample", "ReadSample", "GetBufferCount", "GetBuffer", "Lock", "Unlock",
                        "ReleaseBuffer", "ReleaseSample", "ReadSample", "ReleaseReader", "Shutdown"})
    expected.push_back(s);
  EXPECT_EQ(p.log, expected);
  EXPECT_EQ(p.held, 0);
}

TEST(MediaReaderSteps, MonoSourceKeepsItsChannelCount) {
  ScriptedPlatform p;
  p.channels = 1;
  p.rate = 32000;
  p.samples = {{{0.0f, 0.0f}}};
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::ReadThroughMediaPlatform(p, "a.mp3", a), tavrin::kOk);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.sampleRate, 32000u);
  EXPECT_EQ(a.peak, 0.0f);
  for (const auto& l : p.log) EXPECT_NE(l, "SetChannels=1");
}

TEST(MediaReaderSteps, EndWithoutEndOfStreamFlagGivesOne) {
  ScriptedPlatform p;
  p.samples = {{{0.5f}}};
  p.endOfStream = false;
  tavrin::DecodedAudio a;
  EXPECT_EQ(tavrin::ReadThroughMediaPlatform(p, "a.mp3", a), tavrin::kFailed);
  EXPECT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(p.held, 0);
  EXPECT_EQ(p.log.back(), "Shutdown");
}

TEST(MediaReaderSteps, EachFailingCallEndsWithItsCodeAndReleasesEverything) {
  struct Case {
    const char* call;
    std::int32_t hr;
    tavrin::Result code;
  };
  const Case cases[] = {
      {"Startup", kFail, 1},        {"CreateReader", kAccessDenied, 8}, {"GetNativeType", kFail, 1},
      {"GetChannels", kFail, 1},    {"SetFloat", kOutOfMemory, 4},     {"SetChannels=1", kFail, 1},
      {"SetCurrentType", kCodecNotFound, 1}, {"ReadSample", kAccessDenied, 8}, {"GetBufferCount", kFail, 1},
      {"GetBuffer", kOutOfMemory, 4},        {"Lock", kAccessDenied, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    ScriptedPlatform p;
    p.samples = {{{0.5f}, {0.25f}}};
    p.fail[c.call] = c.hr;
    tavrin::DecodedAudio a;
    EXPECT_EQ(tavrin::ReadThroughMediaPlatform(p, "a.mp3", a), c.code);
    EXPECT_EQ(p.held, 0);
    if (std::string(c.call) == "Startup") {
      EXPECT_EQ(p.log, std::vector<std::string>{"Startup"});  // nothing to shut down
    } else {
      EXPECT_EQ(p.log.back(), "Shutdown");
    }
  }
}

TEST(MediaReaderSteps, PathIsCutTo260Characters) {
  ScriptedPlatform p;
  p.samples = {};
  const std::string longPath = "C:\\" + std::string(300, 'a') + ".mp3";
  tavrin::DecodedAudio a;
  EXPECT_EQ(tavrin::ReadThroughMediaPlatform(p, longPath, a), tavrin::kOk);
  EXPECT_EQ(p.path.size(), 260u);
}

#ifndef _WIN32

// MP3 through libmpg123.
TEST(Mp3Reader, EmbeddedFileDecodes) {
  tavrin::DecodedAudio a;
  ASSERT_EQ(tavrin::DecodeMp3(std::span<const std::uint8_t>(kTinyMp3, sizeof kTinyMp3), a), tavrin::kOk);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.frames.size(), 6615u);
  EXPECT_NEAR(std::fabs(a.peak), 0.5f, 0.05f);
}

TEST(Mp3Reader, NotMp3AndMissingFiles) {
  tavrin::DecodedAudio a;
  const std::vector<std::uint8_t> zeros(4000, 0);
  EXPECT_EQ(tavrin::DecodeMp3(zeros, a), tavrin::kBadFormat);
  EXPECT_EQ(tavrin::DecodeMp3(std::vector<std::uint8_t>{}, a), tavrin::kBadFormat);
  EXPECT_EQ(tavrin::ReadWithMediaReader("", a), tavrin::kInvalidArgument);
  TempDir dir;
  EXPECT_EQ(tavrin::ReadWithMediaReader((dir / "none.mp3").string(), a), tavrin::kNotFound);
}

TEST(Mp3Reader, LameFilesHaveTheirRateAndLength) {
  if (!HaveTool("lame") || !HaveTool("sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("lame and sox"));
  TempDir dir;
  for (unsigned rate : {32000u, 44100u, 48000u}) {
    for (unsigned channels : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch");
      const fs::path wav = dir / "in.wav";
      const fs::path mp3 = dir / "out.mp3";
      // 1.5 s: a sine on the left, silence on the right (so stereo mixes to half).
      const std::string synth = channels == 1 ? " synth 1.5 sine 440 vol 0.8" : " synth 1.5 sine 440 vol 0.8 remix 1 0";
      ASSERT_EQ(RunCommand("sox -n -r " + std::to_string(rate) + " -b 16 -c " + std::to_string(channels) + " " +
                           Quote(wav) + synth),
                0);
      ASSERT_EQ(RunCommand("lame --silent -b 128 " + Quote(wav) + " " + Quote(mp3)), 0);
      tavrin::DecodedAudio a;
      ASSERT_EQ(tavrin::ReadWithMediaReader(mp3.string(), a), tavrin::kOk);
      EXPECT_EQ(a.sampleRate, rate);
      EXPECT_EQ(a.channelCount, 1u);
      EXPECT_EQ(a.frames.size(), rate * 3 / 2);  // encoder delay and padding removed
      const float expectedPeak = channels == 1 ? 0.8f : 0.4f;
      EXPECT_NEAR(std::fabs(a.peak), expectedPeak, 0.05f);
    }
  }
}

#else

// The real Media Foundation platform, with every call logged: the log says
// how far the system's Media Foundation goes.
class LoggingPlatform : public tavrin::MediaPlatform {
 public:
  explicit LoggingPlatform(tavrin::MediaPlatform& real) : r_(real) {}
  std::string firstFailure;
  std::int32_t Note(const char* name, std::int32_t hr) {
    if (hr < 0 && firstFailure.empty()) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "%s failed with 0x%08X", name, static_cast<unsigned>(hr));
      firstFailure = buf;
    }
    return hr;
  }
  std::int32_t Startup() override { return Note("MFStartup", r_.Startup()); }
  void Shutdown() override { r_.Shutdown(); }
  std::int32_t CreateReader(tavrin::Utf16View p) override { return Note("MFCreateSourceReaderFromURL", r_.CreateReader(p)); }
  void ReleaseReader() override { r_.ReleaseReader(); }
  std::int32_t GetNativeType() override { return Note("GetNativeMediaType", r_.GetNativeType()); }
  std::int32_t GetTypeUInt32(MediaTypeKey k, std::uint32_t& v) override { return Note("GetUINT32", r_.GetTypeUInt32(k, v)); }
  std::int32_t DeleteTypeUserData() override { return Note("DeleteItem", r_.DeleteTypeUserData()); }
  std::int32_t SetTypeFloatSubtype() override { return Note("SetGUID", r_.SetTypeFloatSubtype()); }
  std::int32_t SetTypeUInt32(MediaTypeKey k, std::uint32_t v) override { return Note("SetUINT32", r_.SetTypeUInt32(k, v)); }
  std::int32_t SetCurrentType() override { return Note("SetCurrentMediaType", r_.SetCurrentType()); }
  void ReleaseType() override { r_.ReleaseType(); }
  std::int32_t ReadSample(bool& g, bool& e) override { return Note("ReadSample", r_.ReadSample(g, e)); }
  std::int32_t GetBufferCount(std::uint32_t& c) override { return Note("GetBufferCount", r_.GetBufferCount(c)); }
  std::int32_t GetBuffer(std::uint32_t i) override { return Note("GetBufferByIndex", r_.GetBuffer(i)); }
  std::int32_t LockBuffer(const std::uint8_t*& d, std::uint32_t& l) override { return Note("Lock", r_.LockBuffer(d, l)); }
  void UnlockBuffer() override { r_.UnlockBuffer(); }
  void ReleaseBuffer() override { r_.ReleaseBuffer(); }
  void ReleaseSample() override { r_.ReleaseSample(); }

 private:
  tavrin::MediaPlatform& r_;
};

// Wine 8's source reader opens an MP3 and reads its native type but has no
// decoder to float for it: the read ends at SetCurrentMediaType with
// MF_E_TOPO_CODEC_NOT_FOUND, mapped to 1. On Windows the file decodes.
TEST(MediaFoundationReader, EmbeddedMp3) {
  TempDir dir;
  const fs::path mp3 = dir / "tiny.mp3";
  WriteBytes(mp3, std::vector<std::uint8_t>(kTinyMp3, kTinyMp3 + sizeof kTinyMp3));
  auto real = tavrin::MakeMediaFoundationPlatform();
  ASSERT_TRUE(real);
  LoggingPlatform p(*real);
  tavrin::DecodedAudio a;
  const tavrin::Result r = tavrin::ReadThroughMediaPlatform(p, mp3.string(), a);
  std::printf("Media Foundation, MP3: result %u, rate %u, %zu frames%s%s\n", static_cast<unsigned>(r),
              static_cast<unsigned>(a.sampleRate), a.frames.size(), p.firstFailure.empty() ? "" : "; ",
              p.firstFailure.c_str());
  if (r == tavrin::kOk) {
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.channelCount, 1u);
    EXPECT_GE(a.frames.size(), 6615u);
    EXPECT_NEAR(std::fabs(a.peak), 0.5f, 0.05f);
  } else {
    EXPECT_FALSE(p.firstFailure.empty());
  }
  // The reader itself gives the same result.
  tavrin::DecodedAudio b;
  EXPECT_EQ(tavrin::ReadWithMediaReader(mp3.string(), b), r);
}

// PCM WAV files through the same steps (mono and stereo): where the system's
// source reader converts them to float, the whole collecting path (samples,
// buffers, end of stream) runs against the real platform.
TEST(MediaFoundationReader, PcmWavThroughTheSameSteps) {
  TempDir dir;
  for (unsigned channels : {1u, 2u}) {
    std::vector<std::int32_t> samples;
    for (int i = 0; i < 4410; ++i)
      for (unsigned c = 0; c < channels; ++c) samples.push_back(i == 100 ? -16384 : (c == 0 ? 8192 : 0));
    const fs::path wav = dir / ("s" + std::to_string(channels) + ".wav");
    WriteBytes(wav, MakeWav(samples, channels, 44100, 16));
    auto real = tavrin::MakeMediaFoundationPlatform();
    ASSERT_TRUE(real);
    LoggingPlatform p(*real);
    tavrin::DecodedAudio a;
    const tavrin::Result r = tavrin::ReadThroughMediaPlatform(p, wav.string(), a);
    std::printf("Media Foundation, %u-channel PCM WAV: result %u, rate %u, %zu frames, peak %g%s%s\n", channels,
                static_cast<unsigned>(r), static_cast<unsigned>(a.sampleRate), a.frames.size(),
                static_cast<double>(a.peak), p.firstFailure.empty() ? "" : "; ", p.firstFailure.c_str());
    if (r == tavrin::kOk) {
      EXPECT_EQ(a.sampleRate, 44100u);
      EXPECT_EQ(a.channelCount, 1u);
      EXPECT_EQ(a.frames.size(), 4410u);
      EXPECT_EQ(a.peak, -0.5f);
    }
  }
}

TEST(MediaFoundationReader, MissingFileAndEmptyPath) {
  tavrin::DecodedAudio a;
  TempDir dir;
  EXPECT_NE(tavrin::ReadWithMediaReader((dir / "none.mp3").string(), a), tavrin::kOk);
  EXPECT_NE(tavrin::ReadWithMediaReader("", a), tavrin::kOk);
}

#endif

}  // namespace
}  // namespace tavrin_test
