// The media reader: the Media Foundation steps against a scripted platform
// (every system), MP3 files through libmpg123 (off Windows), and the real
// Media Foundation reader as far as the system decodes (Windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "audio/media_reader.h"
#include "audio/readers.h"
#include "flac/flac_test_util.h"
#include "support/command.h"
#include "support/skip.h"
#include "support/temp_dir.h"

namespace tavrin_test {
namespace {

using tavrin::DecodedAudio;
using Key = tavrin::MediaTypeKey;

// A platform that answers from a script and logs every call.
class ScriptedPlatform : public tavrin::MediaPlatform {
 public:
  std::map<std::string, std::int32_t> fail;  // call name -> result to fail with
  std::uint32_t channels = 2, rate = 44100;
  std::vector<std::vector<std::vector<float>>> samples;  // samples, their buffers, the floats
  bool endOfStream = true;
  std::vector<std::string> log;
  std::u16string path;

  std::int32_t Call(const std::string& name) {
    log.push_back(name);
    return fail.count(name) ? fail[name] : 0;
  }
  std::int32_t Startup() override { return Call("Startup"); }
  void Shutdown() override { log.push_back("Shutdown"); }
  std::int32_t CreateReader(tavrin::Utf16View p) override {
    path.assign(p.begin(), p.end());
    return Call("CreateReader");
  }
  void ReleaseReader() override { log.push_back("ReleaseReader"); }
  std::int32_t GetNativeType() override { return Call("GetNativeType"); }
  std::int32_t GetTypeUInt32(Key key, std::uint32_t& value) override {
    value = key == Key::kAudioNumChannels ? channels : rate;
    return Call(key == Key::kAudioNumChannels ? "GetChannels" : "GetRate");
  }
  std::int32_t DeleteTypeUserData() override { return Call("DeleteUserData"); }
  std::int32_t SetTypeFloatSubtype() override { return Call("SetFloat"); }
  std::int32_t SetTypeUInt32(Key key, std::uint32_t value) override {
    return Call(std::string(key == Key::kAllSamplesIndependent ? "SetIndependent="
                            : key == Key::kCompressed          ? "SetCompressed="
                                                               : "SetChannels=") + std::to_string(value));
  }
  std::int32_t SetCurrentType() override { return Call("SetCurrentType"); }
  void ReleaseType() override { log.push_back("ReleaseType"); }
  std::int32_t ReadSample(bool& got, bool& eos) override {
    got = next_ < samples.size();
    eos = !got && endOfStream;
    current_ = got ? next_++ : 0;
    return Call("ReadSample");
  }
  std::int32_t GetBufferCount(std::uint32_t& count) override {
    count = static_cast<std::uint32_t>(samples[current_].size());
    return Call("GetBufferCount");
  }
  std::int32_t GetBuffer(std::uint32_t index) override {
    buffer_ = index;
    return Call("GetBuffer");
  }
  std::int32_t LockBuffer(const std::uint8_t*& data, std::uint32_t& length) override {
    data = reinterpret_cast<const std::uint8_t*>(samples[current_][buffer_].data());
    length = static_cast<std::uint32_t>(samples[current_][buffer_].size() * 4);
    return Call("Lock");
  }
  void UnlockBuffer() override { log.push_back("Unlock"); }
  void ReleaseBuffer() override { log.push_back("ReleaseBuffer"); }
  void ReleaseSample() override { log.push_back("ReleaseSample"); }

 private:
  std::size_t next_ = 0, current_ = 0;
  std::uint32_t buffer_ = 0;
};

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// A read of two samples (two buffers in the first) asks for mono floats and
// collects them; each failing call ends the read with its code, every object
// released: which call fails, with what, the result and the calls after it.
TEST(MediaReaderSteps, CallsOfAReadAndOfEachFailure) {
  const auto calls = Words(
      "Startup CreateReader GetNativeType GetChannels GetRate DeleteUserData SetFloat SetIndependent=1 "
      "SetCompressed=0 SetChannels=1 SetCurrentType ReleaseType ReadSample GetBufferCount GetBuffer Lock "
      "Unlock ReleaseBuffer GetBuffer Lock Unlock ReleaseBuffer ReleaseSample ReadSample GetBufferCount "
      "GetBuffer Lock Unlock ReleaseBuffer ReleaseSample ReadSample ReleaseReader Shutdown");
  ScriptedPlatform p;
  p.samples = {{{0.1f, -0.5f}, {0.25f}}, {{0.5f, 0.2f, -0.3f}}};
  DecodedAudio a;
  ASSERT_EQ(tavrin::ReadThroughMediaPlatform(p, "C:\\x\\song.mp3", a), tavrin::kOk);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.sampleRate, 44100u);
  EXPECT_EQ(a.frames, (std::vector<float>{0.1f, -0.5f, 0.25f, 0.5f, 0.2f, -0.3f}));
  EXPECT_EQ(a.peak, -0.5f);  // the first of equal magnitudes, sign kept
  EXPECT_EQ(p.path, u"C:\\x\\song.mp3");
  EXPECT_EQ(p.log, calls);

  const std::int32_t fail = static_cast<std::int32_t>(0x80004005);    // E_FAIL
  const std::int32_t denied = static_cast<std::int32_t>(0x80070005);  // E_ACCESSDENIED
  const std::int32_t memory = static_cast<std::int32_t>(0x8007000E);  // E_OUTOFMEMORY
  const std::int32_t codec = static_cast<std::int32_t>(0xC00D5212);   // MF_E_TOPO_CODEC_NOT_FOUND
  const char* kType = "ReleaseType ReleaseReader Shutdown";
  const char* kSample = "ReleaseSample ReleaseReader Shutdown";
  const struct {
    const char* call;
    std::int32_t hr;
    tavrin::Result result;
    const char* then;
  } cases[] = {
      {"Startup", fail, tavrin::kFailed, ""},
      {"CreateReader", denied, tavrin::kAccessDenied, "Shutdown"},
      {"GetNativeType", fail, tavrin::kFailed, "ReleaseReader Shutdown"},
      {"GetChannels", fail, tavrin::kFailed, kType},
      {"GetRate", memory, tavrin::kOutOfMemory, kType},
      {"DeleteUserData", fail, tavrin::kFailed, kType},
      {"SetFloat", memory, tavrin::kOutOfMemory, kType},
      {"SetIndependent=1", denied, tavrin::kAccessDenied, kType},
      {"SetCompressed=0", fail, tavrin::kFailed, kType},
      {"SetChannels=1", fail, tavrin::kFailed, kType},
      {"SetCurrentType", codec, tavrin::kFailed, kType},
      {"ReadSample", denied, tavrin::kAccessDenied, "ReleaseReader Shutdown"},
      {"GetBufferCount", fail, tavrin::kFailed, kSample},
      {"GetBuffer", memory, tavrin::kOutOfMemory, kSample},
      {"Lock", denied, tavrin::kAccessDenied, "ReleaseBuffer ReleaseSample ReleaseReader Shutdown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    ScriptedPlatform f;
    f.samples = p.samples;
    f.fail[c.call] = c.hr;
    EXPECT_EQ(tavrin::ReadThroughMediaPlatform(f, "a.mp3", a), c.result);
    std::vector<std::string> expected(calls.begin(), std::find(calls.begin(), calls.end(), c.call) + 1);
    for (const auto& w : Words(c.then)) expected.push_back(w);
    EXPECT_EQ(f.log, expected);
  }
}

TEST(MediaReaderSteps, MonoSourceEndWithoutFlagAndLongPath) {
  ScriptedPlatform mono;  // keeps its channel count
  mono.channels = 1;
  mono.rate = 32000;
  mono.samples = {{{0.0f, 0.0f}}};
  DecodedAudio a;
  ASSERT_EQ(tavrin::ReadThroughMediaPlatform(mono, "a.mp3", a), tavrin::kOk);
  EXPECT_EQ(a.channelCount, 1u);
  EXPECT_EQ(a.sampleRate, 32000u);
  EXPECT_EQ(a.peak, 0.0f);
  EXPECT_EQ(std::count(mono.log.begin(), mono.log.end(), "SetChannels=1"), 0);

  ScriptedPlatform noEnd;  // no sample and no end-of-stream flag: a failure
  noEnd.samples = {{{0.5f}}};
  noEnd.endOfStream = false;
  EXPECT_EQ(tavrin::ReadThroughMediaPlatform(noEnd, "a.mp3", a), tavrin::kFailed);
  EXPECT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(noEnd.log.end() - 4, noEnd.log.end()),
            Words("ReleaseSample ReadSample ReleaseReader Shutdown"));

  ScriptedPlatform longPath;  // cut to 260 characters
  EXPECT_EQ(tavrin::ReadThroughMediaPlatform(longPath, "C:\\" + std::string(300, 'a'), a), tavrin::kOk);
  EXPECT_EQ(longPath.path.size(), 260u);
}

#ifndef _WIN32

// MP3 through libmpg123: files made by lame have their rate and length.
TEST(Mp3Reader, WhatIsNotMp3AndLameFiles) {
  DecodedAudio none;
  EXPECT_EQ(tavrin::DecodeMp3(Bytes(4000, 0), none), tavrin::kBadFormat);
  EXPECT_EQ(tavrin::DecodeMp3(Bytes{}, none), tavrin::kBadFormat);
  EXPECT_EQ(tavrin::ReadWithMediaReader("", none), tavrin::kInvalidArgument);
  tavrin::testing::TempDir dir;
  EXPECT_EQ(tavrin::ReadWithMediaReader(dir.File("none.mp3"), none), tavrin::kNotFound);
  if (!tavrin::testing::HaveTools("lame sox")) TAVRIN_SKIP_GROUP(tavrin::testing::ToolMissing("lame and sox"));
  const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
  for (unsigned rate : {32000u, 44100u, 48000u}) {
    for (unsigned channels : {1u, 2u}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch");
      // 1.5 s: a sine on the left, silence on the right (so stereo mixes to half).
      const std::string cmd = "sox -n -r " + std::to_string(rate) + " -b 16 -c " + std::to_string(channels) +
                              " '" + wav + "' synth 1.5 sine 440 vol 0.8" + (channels == 2 ? " remix 1 0" : "") +
                              " && lame --silent -b 128 '" + wav + "' '" + mp3 + "'";
      ASSERT_EQ(tavrin::testing::Quietly(cmd), 0) << cmd;
      DecodedAudio a;
      ASSERT_EQ(tavrin::ReadWithMediaReader(mp3, a), tavrin::kOk);
      EXPECT_EQ(a.sampleRate, rate);
      EXPECT_EQ(a.channelCount, 1u);
      EXPECT_EQ(a.frames.size(), rate * 3 / 2);  // encoder delay and padding removed
      EXPECT_NEAR(std::fabs(a.peak), channels == 1 ? 0.8f : 0.4f, 0.05f);
    }
  }
}

#else

// PCM WAV files (mono, stereo) through the real platform: where the system's
// source reader converts them to float, the whole collecting path runs.
TEST(MediaFoundationReader, WavFilesThroughTheRealPlatform) {
  tavrin::testing::TempDir dir;
  for (unsigned channels : {1u, 2u}) {
    std::vector<std::int32_t> samples;
    for (int i = 0; i < 4410; ++i)
      for (unsigned c = 0; c < channels; ++c) samples.push_back(i == 100 ? -16384 : (c == 0 ? 8192 : 0));
    const std::string path = dir.Write("s.wav", MakeWav(samples, channels, 44100, 16));
    auto real = tavrin::MakeMediaFoundationPlatform();
    ASSERT_TRUE(real);
    DecodedAudio a, b;
    const tavrin::Result r = tavrin::ReadThroughMediaPlatform(*real, path, a);
    std::printf("Media Foundation, %u-channel WAV: result %u, rate %u, %zu frames\n", channels,
                static_cast<unsigned>(r), static_cast<unsigned>(a.sampleRate), a.frames.size());
    EXPECT_EQ(tavrin::ReadWithMediaReader(path, b), r);  // the reader itself gives the same result
    if (r != tavrin::kOk) continue;
    EXPECT_EQ(a.sampleRate, 44100u);
    EXPECT_EQ(a.channelCount, 1u);
    EXPECT_EQ(a.frames.size(), 4410u);
    EXPECT_EQ(a.peak, -0.5f);
  }
  DecodedAudio a;
  EXPECT_NE(tavrin::ReadWithMediaReader(dir.File("none.mp3"), a), tavrin::kOk);
  EXPECT_NE(tavrin::ReadWithMediaReader("", a), tavrin::kOk);
}

#endif

}  // namespace
}  // namespace tavrin_test
