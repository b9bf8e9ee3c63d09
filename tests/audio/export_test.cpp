#include <gtest/gtest.h>

#include <filesystem>

#include "audio/export.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "audio/temp_dir.h"

namespace tavrin {
namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::string Tag(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

SampleData Sample(std::size_t frames) {
  SampleData s;
  s.frames.assign(frames, 0.0f);
  s.markers.start = 0;
  s.markers.loop = static_cast<std::int64_t>(frames / 2);
  s.markers.end = static_cast<std::int64_t>(frames);
  return s;
}

TEST(WavExport, LayoutWithoutLoop) {
  SampleData s = Sample(3);
  s.frames = {-1.0f, 0.5f, 2.0f};
  s.rootNote = 61;
  s.transpose = -7;
  s.topKey = 72;
  s.zoneAttribute = 9;
  s.loopFlags = 0x08;  // invert polarity only: no loop
  s.nonTranspose = true;
  s.markers.start = 2;
  s.level = -99;
  s.vdfCutoff = 50;
  s.decayLevel = -1;
  std::vector<std::uint8_t> b;
  ASSERT_EQ(BuildWavImage(s, b), 0u);
  ASSERT_EQ(b.size(), 116u + 6u);
  EXPECT_EQ(Tag(b, 0), "RIFF");
  EXPECT_EQ(Le32(b, 4), b.size() - 8);
  EXPECT_EQ(Tag(b, 8), "WAVE");
  EXPECT_EQ(Tag(b, 12), "fmt ");
  EXPECT_EQ(Le32(b, 16), 16u);
  EXPECT_EQ(Le16(b, 20), 1u);
  EXPECT_EQ(Le16(b, 22), 1u);
  EXPECT_EQ(Le32(b, 24), 31250u);
  EXPECT_EQ(Le32(b, 28), 62500u);
  EXPECT_EQ(Le16(b, 32), 2u);
  EXPECT_EQ(Le16(b, 34), 16u);
  EXPECT_EQ(Tag(b, 36), "smpl");
  EXPECT_EQ(Le32(b, 40), 64u);
  EXPECT_EQ(Le32(b, 44), 0u);
  EXPECT_EQ(Le32(b, 48), 0u);
  EXPECT_EQ(Le32(b, 52), 32000u);
  EXPECT_EQ(Le32(b, 56), 61u);
  EXPECT_EQ(Le32(b, 60), 0xFFFFFFF9u);
  EXPECT_EQ(Le32(b, 64), 0u);
  EXPECT_EQ(Le32(b, 68), 0u);
  EXPECT_EQ(Le32(b, 72), 0u);  // no loop
  EXPECT_EQ(Le32(b, 76), 28u);
  // Parameter block at 80.
  EXPECT_EQ(b[80], 72);
  EXPECT_EQ(b[81], 9);
  EXPECT_EQ(b[82], 0xF9);
  EXPECT_EQ(b[83], 61);
  EXPECT_EQ(Le32(b, 84), 0x08u);
  EXPECT_EQ(Le32(b, 88), 1u);
  EXPECT_EQ(Le32(b, 92), 2u);
  EXPECT_EQ(Le32(b, 96), 0xFFFFFF9Du);  // -99
  EXPECT_EQ(Le32(b, 100), 50u);
  EXPECT_EQ(Le32(b, 104), 0xFFFFFFFFu);
  EXPECT_EQ(Tag(b, 108), "data");
  EXPECT_EQ(Le32(b, 112), 6u);
  EXPECT_EQ(static_cast<std::int16_t>(Le16(b, 116)), -32767);
  EXPECT_EQ(static_cast<std::int16_t>(Le16(b, 118)), 16383);
  EXPECT_EQ(static_cast<std::int16_t>(Le16(b, 120)), 32767);  // saturated
}

TEST(WavExport, LayoutWithLoop) {
  SampleData s = Sample(10);
  s.loopFlags = 0x05;
  s.markers.loop = 3;
  s.markers.end = 9;
  std::vector<std::uint8_t> b;
  ASSERT_EQ(BuildWavImage(s, b), 0u);
  ASSERT_EQ(b.size(), 116u + 24u + 20u);
  EXPECT_EQ(Le32(b, 40), 88u);
  EXPECT_EQ(Le32(b, 72), 1u);
  EXPECT_EQ(Le32(b, 80), 0u);   // identifier
  EXPECT_EQ(Le32(b, 84), 1u);   // type: alternating
  EXPECT_EQ(Le32(b, 88), 3u);   // start = loop
  EXPECT_EQ(Le32(b, 92), 9u);   // end
  EXPECT_EQ(Le32(b, 96), 0u);
  EXPECT_EQ(Le32(b, 100), 0u);
  EXPECT_EQ(Le32(b, 108), 5u);  // flags in the parameter block
  EXPECT_EQ(Tag(b, 132), "data");
  s.loopFlags = 0x04;
  ASSERT_EQ(BuildWavImage(s, b), 0u);
  EXPECT_EQ(Le32(b, 84), 0u);  // forward
}

TEST(WavExport, FileSizes) {
  SampleData s = Sample(31250);
  std::vector<std::uint8_t> b;
  ASSERT_EQ(BuildWavImage(s, b), 0u);
  EXPECT_EQ(b.size(), 62616u);
  s.loopFlags = 4;
  ASSERT_EQ(BuildWavImage(s, b), 0u);
  EXPECT_EQ(b.size(), 62640u);
  // The exported file reads back through the WAV reader.
  DecodedAudio a;
  ASSERT_EQ(DecodeWav(b, a), 0u);
  EXPECT_EQ(a.frameCount(), 31250u);
  EXPECT_EQ(a.sampleRate, 31250u);
  EXPECT_TRUE(a.hasSmpl);
  EXPECT_EQ(a.samplerData.size(), 28u);
}

TEST(ExportFileName, Rules) {
  auto name = [](Utf8View n, std::uint32_t number = 1, std::size_t budget = 48) {
    return std::string(ExportFileName(n, number, budget).view());
  };
  EXPECT_EQ(name("a/b:c?"), "abc.wav");
  EXPECT_EQ(name("<>:\"/\\|?*"), ".wav");
  EXPECT_EQ(name(""), ".wav");
  EXPECT_EQ(name("Tab\there\x01\x7F"), "Tabhere.wav");  // control characters go too
  EXPECT_EQ(name("Kick"), "Kick.wav");
  EXPECT_EQ(name("Kick", 2), "Kick (2).wav");
  EXPECT_EQ(name("Kick", 12), "Kick (12).wav");
  // Reserved device names, in any case and before any ".".
  EXPECT_EQ(name("CON"), "_CON.wav");
  EXPECT_EQ(name("nul"), "_nul.wav");
  EXPECT_EQ(name("Aux.txt"), "_Aux.txt.wav");
  EXPECT_EQ(name("com1"), "_com1.wav");
  EXPECT_EQ(name("LPT9 "), "_LPT9 .wav");
  EXPECT_EQ(name("C:O:N"), "_CON.wav");  // removal first, then the check
  EXPECT_EQ(name("CON", 2), "_CON (2).wav");
  EXPECT_EQ(name("COM10"), "COM10.wav");
  EXPECT_EQ(name("CONSOLE"), "CONSOLE.wav");
  EXPECT_EQ(name("Piano C4"), "Piano C4.wav");
  // A 32-byte name fits with a number; a budget cuts the name, never the
  // number or extension, and never inside a character.
  const std::string n32(32, 'x');
  EXPECT_EQ(name(n32, 99), n32 + " (99).wav");
  EXPECT_EQ(name("abcdef", 2, 11), "abc (2).wav");
  EXPECT_EQ(name("abcdef", 2, 10), "ab (2).wav");
  EXPECT_EQ(name("\xC3\xA9\xC3\xA9", 1, 8), "\xC3\xA9\xC3\xA9.wav");
  EXPECT_EQ(name("\xC3\xA9\xC3\xA9", 1, 7), "\xC3\xA9.wav");
  EXPECT_EQ(name("\xC3\xA9\xC3\xA9", 1, 5), ".wav");
}

TEST(ExportSamples, WritesEveryFileNumberingDuplicates) {
  test::TempDir dir;
  Sound sound;
  for (const char* n : {"Kick", "Kick", "kick", "a/b", "ab"}) {
    SampleData s = Sample(4);
    s.name.assign(n);
    sound.samples.push_back(s);
  }
  ASSERT_EQ(ExportSamples(sound, dir.path().string()), 0u);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Kick (2).wav", "Kick.wav", "ab (2).wav", "ab.wav", "kick (3).wav"}));
  // Exporting again replaces the files: still five.
  ASSERT_EQ(ExportSamples(sound, dir.path().string() + "/"), 0u);
  std::size_t count = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) count += e.is_regular_file();
  EXPECT_EQ(count, 5u);
}

TEST(ExportSamples, Failures) {
  Sound sound;
  sound.samples.push_back(Sample(4));
  EXPECT_EQ(ExportSamples(sound, std::string(260, 'a')), 5u);
  test::TempDir dir;
  EXPECT_EQ(ExportSamples(sound, dir.File("no-such-folder")), 20u);
  Sound empty;
  EXPECT_EQ(ExportSamples(empty, dir.File("no-such-folder")), 0u);
  EXPECT_EQ(WriteWavFile(Sample(1), ""), 2u);
}

TEST(ExportSamples, RoundTripRestoresTheSettings) {
  for (const SoundType type : {SoundType::Multisound, SoundType::Drumsound}) {
    for (const std::uint32_t flags : {0x00u, 0x04u, 0x05u, 0x0Eu, 0x08u}) {
      SCOPED_TRACE(::testing::Message() << "flags " << flags << " type " << static_cast<int>(type));
      test::TempDir dir;
      Sound sound;
      sound.soundType = type;
      SampleData s = Sample(3000);
      for (std::size_t i = 0; i < s.frames.size(); ++i) s.frames[i] = 0.4f * std::sin(0.05f * static_cast<float>(i));
      s.name.assign("Tone");
      s.rootNote = 57;
      s.topKey = 70;
      s.transpose = 33;
      s.loopFlags = flags;
      s.loopOn = flags != 0;
      s.nonTranspose = true;
      s.markers.start = 17;
      s.markers.loop = 1200;
      s.markers.end = 2900;
      s.level = -40;
      s.vdfCutoff = -12;
      s.decayLevel = 25;
      sound.samples.push_back(s);
      ASSERT_EQ(ExportSamples(sound, dir.path().string()), 0u);

      Sound back;
      back.soundType = type;
      ASSERT_EQ(ImportSampleFile(back, dir.File("Tone.wav")), 0u);
      const SampleData& r = back.samples.at(0);
      EXPECT_EQ(r.name.view(), "Tone");
      EXPECT_EQ(r.rootNote, 57);
      EXPECT_EQ(r.topKey, 70);
      EXPECT_EQ(r.loopFlags, flags);
      EXPECT_EQ(r.loopOn, flags != 0);
      EXPECT_TRUE(r.nonTranspose);
      EXPECT_EQ(r.markers.start, 17);
      EXPECT_EQ(r.level, -40);
      EXPECT_EQ(r.vdfCutoff, -12);
      EXPECT_EQ(r.decayLevel, 25);
      EXPECT_EQ(r.frameCount(), 3000);
      if (flags & 4) {
        EXPECT_EQ(r.markers.loop, 1200);
        EXPECT_EQ(r.markers.end, 2900);
      } else {
        EXPECT_EQ(r.markers.loop, type == SoundType::Drumsound ? 2995 : 1500);
        EXPECT_EQ(r.markers.end, 3000);
      }
      // The transpose is worked out again from the loop and root note.
      SampleData expected = r;
      AutomaticTranspose(expected);
      EXPECT_EQ(r.transpose, expected.transpose);
      // The frames come back as 16-bit values, normalised again.
      float peak = 0;
      for (float f : r.frames) peak = std::max(peak, std::fabs(f));
      EXPECT_NEAR(peak, 0.98855f, 1e-5);
      const float scale = 0.98855f / 0.4f;
      for (std::size_t i = 0; i < 3000; i += 97) EXPECT_NEAR(r.frames[i], s.frames[i] * scale, 2e-4) << i;
    }
  }
}

}  // namespace
}  // namespace tavrin
