// Crafted files through the import: a file that gives no sound, a rate the
// import cannot convert, a stream that unfolds past the frame limit or an MP3
// that changes its rate is refused, and the sound is left as it was.
#include <gtest/gtest.h>

#include <string>

#include "audio/audio_bytes.h"
#include "audio/import.h"
#include "support/temp_dir.h"
#include "flac/flac_test_util.h"
#include "support/command.h"
#include "support/skip.h"

namespace tavrin {
namespace {

using namespace tavrin::test;
using namespace tavrin::testing;
using tavrin_test::ConstantFrame;
using tavrin_test::HandFrameBytes;

std::vector<std::uint8_t> Wav(std::uint32_t rate, std::size_t frames) {
  return Riff({Fmt(1, 1, rate, 16), RiffChunk("data", std::vector<std::uint8_t>(2 * frames, 0x10))});
}

TEST(HostileImport, FilesWithoutSoundOrWithAnUnusableRateAddNothing) {
  const auto good = HandFrameBytes(ConstantFrame({1000}, 441), 16, 0);
  auto damaged = good;
  damaged[9] ^= 0x10;  // the constant's value: the CRC-16 no longer matches
  // 1100 frames of 65535 samples in 13 kB: past the import's frame limit.
  std::vector<std::vector<std::uint8_t>> flood(1100, HandFrameBytes(ConstantFrame({5}, 65535), 16, 0));
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    Result expected;
  } cases[] = {
      {"no-data.wav", Riff({Fmt(1, 1, 44100, 16)}), kTooMuchData},
      {"empty-data.wav", Wav(44100, 0), kTooMuchData},
      {"one-frame.wav", Wav(44100, 1), kTooMuchData},  // no frame left at 31250 Hz
      {"no-frames.aif", Form("AIFF", {Comm(1, 0, 16, 44100), Ssnd({})}), kTooMuchData},
      {"first-frame-damaged.flac", tavrin_test::StreamOfFrames({damaged, good}), kTooMuchData},
      {"flood.flac", tavrin_test::StreamOfFrames(flood), kFileTooLarge},
      {"max-rate.wav", Wav(0xFFFFFFFFu, 4), kBadFormat},
      {"above-768k.wav", Wav(768001, 4), kBadFormat},
      // What real files hold is still taken.
      {"two-frames.wav", Wav(44100, 2), kOk},
      {"768k.wav", Wav(768000, 100), kOk},
      {"352.8k.wav", Wav(352800, 100), kOk},
      {"good.flac", tavrin_test::StreamOfFrames({good, good}), kOk},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sound sound;
    EXPECT_EQ(ImportSampleFile(sound, dir.Write(c.name, c.bytes)), c.expected);
    EXPECT_EQ(sound.samples.size(), c.expected == kOk ? 1u : 0u);
  }
}

#ifndef _WIN32
TEST(HostileImport, Mp3ThatChangesItsRateIsRefused) {
  if (!HaveTools("lame sox"))
    TAVRIN_SKIP_GROUP(ToolMissing("lame and sox"));
  TempDir dir;
  const auto path = [&](const char* name) { return "'" + dir.File(name) + "'"; };
  // One second at 44.1 kHz, then one at 22.05 kHz, in one file.
  for (const char* rate : {"44100", "22050"}) {
    const std::string wav = path((std::string(rate) + ".wav").c_str());
    ASSERT_EQ(Quietly(std::string("sox -n -r ") + rate + " -b 16 -c 1 " + wav + " synth 1 sine 440"), 0);
    ASSERT_EQ(Quietly("lame --silent -b 64 " + wav + " " + path((std::string(rate) + ".mp3").c_str())), 0);
  }
  auto both = ReadBytes(dir.File("44100.mp3"));
  const auto second = ReadBytes(dir.File("22050.mp3"));
  ASSERT_FALSE(both.empty() || second.empty());
  both.insert(both.end(), second.begin(), second.end());
  dir.Write("both.mp3", both);
  Sound sound;
  EXPECT_EQ(ImportSampleFile(sound, dir.File("both.mp3")), kBadFormat);
  EXPECT_EQ(ImportSampleFile(sound, dir.File("44100.mp3")), kOk);
  EXPECT_EQ(sound.samples.size(), 1u);
}
#endif

}  // namespace
}  // namespace tavrin
