#include <gtest/gtest.h>

#include <cmath>

#include "audio/audio_bytes.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "audio/temp_dir.h"

namespace tavrin {
namespace {

using test::Fmt;
using test::Pcm16;
using test::Riff;
using test::RiffChunk;
using test::Smpl;

DecodedAudio Audio(std::uint32_t rate, std::vector<float> frames) {
  DecodedAudio a;
  a.sampleRate = rate;
  a.channelCount = 1;
  for (float f : frames) {
    if (std::fabs(f) > std::fabs(a.peak)) a.peak = f;
  }
  a.frames = std::move(frames);
  return a;
}

DecodedAudio Quiet(std::uint32_t rate, std::size_t n) {  // peak below 0.01: frames stay as they are
  std::vector<float> f(n);
  for (std::size_t i = 0; i < n; ++i) f[i] = 0.001f * static_cast<float>(i % 7);
  return Audio(rate, f);
}

TEST(ImportPaths, ReaderByExtension) {
  EXPECT_EQ(ReaderForPath("C:\\x\\Kick.WAV"), ReaderChoice::kWav);
  EXPECT_EQ(ReaderForPath("C:\\x\\Kick.ogg"), ReaderChoice::kNone);
  EXPECT_EQ(ReaderForPath("C:\\x\\Kick"), ReaderChoice::kNone);
  EXPECT_EQ(ReaderForPath("C:\\x\\Snare.flac.mp3"), ReaderChoice::kMediaReader);
  EXPECT_EQ(ReaderForPath("C:\\x\\a.Aif"), ReaderChoice::kAiff);
  EXPECT_EQ(ReaderForPath("C:\\x\\a.AIFF"), ReaderChoice::kAiff);
  EXPECT_EQ(ReaderForPath("C:\\x\\a.aifc"), ReaderChoice::kAiff);
  EXPECT_EQ(ReaderForPath("C:\\x\\a.FLAC"), ReaderChoice::kFlac);
  EXPECT_EQ(ReaderForPath("C:\\x.wav\\Kick"), ReaderChoice::kNone);  // "wav\Kick"
  EXPECT_EQ(ReaderForPath("C:\\x\\Kick."), ReaderChoice::kNone);      // the last byte is not examined
  EXPECT_EQ(ReaderForPath("C:\\x\\Kick.wavx"), ReaderChoice::kNone);
  EXPECT_EQ(ReaderForPath(""), ReaderChoice::kNone);
}

TEST(ImportPaths, NameFromPath) {
  EXPECT_EQ(SampleNameFromPath("C:\\x\\Kick.WAV"), "Kick");
  EXPECT_EQ(SampleNameFromPath("C:\\x\\My.Piano C4.wav"), "My.Piano C4");
  EXPECT_EQ(SampleNameFromPath("Kick.wav"), "");         // no separator at all
  EXPECT_EQ(SampleNameFromPath("C:\\x\\.wav"), "");      // a leading dot and no other
  EXPECT_EQ(SampleNameFromPath("C:\\x\\Kick"), "Kick");  // no dot: whole
  EXPECT_EQ(SampleNameFromPath("C:\\x\\Kick."), "Kick.");  // the part's last byte is not examined
  EXPECT_EQ(SampleNameFromPath("C:\\x\\dir\\"), "dir\\");  // the path's last byte is not examined
#ifndef _WIN32
  EXPECT_EQ(SampleNameFromPath("/home/u/Bass C2.aiff"), "Bass C2");
#endif
  const std::string longName = "C:\\" + std::string(300, 'a') + ".wav";
  EXPECT_EQ(SampleNameFromPath(longName).size(), 260u);
  // Cut whole characters only: 259 letters then a two-byte character.
  const std::string utf = "C:\\" + std::string(259, 'a') + "\xC3\xA9" + ".wav";
  EXPECT_EQ(SampleNameFromPath(utf).size(), 259u);
}

TEST(RootNoteFromName, Search) {
  auto note = [](Utf8View s) { return RootNoteFromName(s).has_value() ? int(RootNoteFromName(s)->number) : -1; };
  EXPECT_EQ(note("My.Piano C4"), 60);
  EXPECT_EQ(note("Piano C-1"), 0);
  EXPECT_EQ(note("Lead G9"), 127);
  EXPECT_EQ(note("G9"), 127);
  EXPECT_EQ(note("xC#4"), 61);
  EXPECT_EQ(note("Str A#2 soft"), 46);  // no later window holds a note: A#2
  EXPECT_EQ(note("Piano"), -1);
  EXPECT_EQ(note(""), -1);
  // The byte that breaks a partial match is not tried again: "C44" holds no note.
  EXPECT_EQ(note("C44"), -1);
  // The last window wins over an earlier one: "C2 x E3" gives E3.
  EXPECT_EQ(note("C2 x E3"), 52);
  // Within one window the lowest note number that matches wins: in "D#3" both
  // "D#3" and "#3"-ending names are tried in note order; D#3 is 51.
  EXPECT_EQ(note("D#3"), 51);
}

TEST(ImportDecoded, RateZeroIsRefusedAndNothingAdded) {
  Sound sound;
  DecodedAudio a = Audio(0, {0.5f, 0.25f});
  EXPECT_EQ(ImportDecoded(sound, "x", a, true), 13u);
  EXPECT_TRUE(sound.samples.empty());
  DecodedAudio empty = Audio(0, {});
  EXPECT_EQ(ImportDecoded(sound, "x", empty, true), 13u);
}

TEST(ImportDecoded, DefaultMarkers) {
  Sound multi;
  DecodedAudio a = Quiet(31250, 1001);
  ASSERT_EQ(ImportDecoded(multi, "plain", a, true), 0u);
  const SampleData& s = multi.samples.at(0);
  EXPECT_EQ(s.markers.start, 0);
  EXPECT_EQ(s.markers.loop, 500);
  EXPECT_EQ(s.markers.end, 1001);
  EXPECT_EQ(s.rootNote, 12);
  EXPECT_EQ(s.topKey, 96);
  EXPECT_EQ(s.transpose, 0);
  EXPECT_EQ(s.loopFlags, 0u);
  EXPECT_FALSE(s.loopOn);
  EXPECT_EQ(s.name.view(), "plain");

  Sound drum;
  drum.soundType = SoundType::Drumsound;
  DecodedAudio b = Quiet(31250, 3);
  ASSERT_EQ(ImportDecoded(drum, "d", b, true), 0u);
  EXPECT_EQ(drum.samples.at(0).markers.loop, -2);
  EXPECT_EQ(drum.samples.at(0).markers.end, 3);
}

TEST(ImportDecoded, CardRateIsKeptExactly) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 777);
  const std::vector<float> frames = a.frames;
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  EXPECT_EQ(sound.samples.at(0).frames, frames);
}

TEST(ImportDecoded, RateConversionScalesCountAndMarkers) {
  Sound sound;
  DecodedAudio a = Quiet(44100, 44100);
  a.hasSmpl = true;
  a.unityNote = 60;
  a.loops.push_back(SmplLoop{0, 0, 22050, 44100, 0, 0});
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.frameCount(), 31250);
  EXPECT_EQ(s.markers.loop, 15625);
  EXPECT_EQ(s.markers.end, 31250);
  EXPECT_EQ(s.markers.start, 0);

  // Truncation toward zero of a negative marker: a 3-frame drum at 44100 Hz.
  Sound drum;
  drum.soundType = SoundType::Drumsound;
  DecodedAudio b = Quiet(44100, 3);
  ASSERT_EQ(ImportDecoded(drum, "d", b, true), 0u);
  EXPECT_EQ(drum.samples.at(0).frameCount(), 2);  // 3 x 31250 / 44100 = 2.1
  EXPECT_EQ(drum.samples.at(0).markers.loop, -1);  // -2 x 31250 / 44100 = -1.4
  EXPECT_EQ(drum.samples.at(0).markers.end, 2);
}

TEST(ImportDecoded, NormalisesFromTheSourcePeak) {
  Sound sound;
  DecodedAudio a = Audio(31250, {0.1f, -0.5f, 0.25f});
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  const float factor = static_cast<float>(std::pow(10.0, -0.1 / 20) / 0.5);
  EXPECT_NEAR(factor, 1.9771, 1e-4);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.frames[1], -0.5f * factor);
  EXPECT_NEAR(s.frames[1], -0.98855, 1e-5);
  EXPECT_EQ(s.frames[0], 0.1f * factor);

  // A peak below 0.01 (or silence) leaves the frames as they are.
  Sound quiet;
  DecodedAudio q = Audio(31250, {0.0099f, -0.005f});
  ASSERT_EQ(ImportDecoded(quiet, "x", q, true), 0u);
  EXPECT_EQ(quiet.samples.at(0).frames[0], 0.0099f);
  DecodedAudio z = Audio(31250, {0.0f, 0.0f});
  ASSERT_EQ(ImportDecoded(quiet, "x", z, true), 0u);
  EXPECT_EQ(quiet.samples.at(1).frames[0], 0.0f);

  // The peak is the source's, measured before conversion, not re-measured.
  Sound conv;
  DecodedAudio c = Audio(44100, std::vector<float>(4410, 0.0f));
  c.frames[2000] = 0.5f;
  c.peak = 0.5f;
  ASSERT_EQ(ImportDecoded(conv, "x", c, true), 0u);
  float maxOut = 0;
  for (float f : conv.samples.at(0).frames) maxOut = std::max(maxOut, std::fabs(f));
  EXPECT_LT(maxOut, 0.98855f);  // a lone impulse loses height in the filter
}

TEST(ImportDecoded, SmplWithoutParameterBlock) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 50000);
  a.hasSmpl = true;
  a.unityNote = 60;
  a.pitchFraction = 0x12345607;  // low byte 7
  a.loops.push_back(SmplLoop{0, 1, 1000, 2000, 0, 0});
  ASSERT_EQ(ImportDecoded(sound, "Piano G2", a, true), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.rootNote, 60);  // from the file, not from the name
  EXPECT_EQ(s.topKey, 96);    // the top key comes from the root only on the name path
  EXPECT_EQ(s.markers.loop, 1000);
  EXPECT_EQ(s.markers.end, 2000);
  EXPECT_EQ(s.loopFlags, 5u);  // type 1 (alternating)
  EXPECT_TRUE(s.loopOn);       // on whenever the flags are
  // The automatic transpose ran on the loop (1000 frames, root 60): 78.
  EXPECT_EQ(s.transpose, 78);
  EXPECT_TRUE(s.transposeValid);
}

TEST(ImportDecoded, SmplLoopBeyondTheFramesResetsMarkersKeepsFlags) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 50000);
  a.hasSmpl = true;
  a.unityNote = 60;
  a.loops.push_back(SmplLoop{0, 0, 100, 90000, 0, 0});
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.markers.start, 0);
  EXPECT_EQ(s.markers.loop, 25000);
  EXPECT_EQ(s.markers.end, 50000);
  EXPECT_EQ(s.loopFlags, 4u);
  EXPECT_TRUE(s.loopOn);
}

TEST(ImportDecoded, SmplLoopStartingAfterItsEndResetsMarkers) {
  for (std::uint32_t start : {900u, 1000u}) {
    Sound sound;
    DecodedAudio a = Quiet(31250, 1000);
    a.hasSmpl = true;
    a.unityNote = 60;
    a.loops.push_back(SmplLoop{0, 0, start, 500, 0, 0});
    ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
    const SampleData& s = sound.samples.at(0);
    EXPECT_EQ(s.markers.start, 0);
    EXPECT_EQ(s.markers.loop, 500);
    EXPECT_EQ(s.markers.end, 1000);
    EXPECT_EQ(s.loopFlags, 4u);
  }
}

TEST(ImportDecoded, SmplWithoutLoopsIsStillInformed) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 100);
  a.hasSmpl = true;
  a.unityNote = 0;
  ASSERT_EQ(ImportDecoded(sound, "Piano C4", a, true), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.rootNote, 0);  // not 60 from the name
  EXPECT_EQ(s.markers.loop, 50);
  EXPECT_EQ(s.loopFlags, 0u);
}

TEST(ImportDecoded, ParameterBlock) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 5000);
  a.hasSmpl = true;
  a.unityNote = 64;
  a.pitchFraction = 0xFFFFFFF9u;
  a.loops.push_back(SmplLoop{0, 0, 1000, 4000, 0, 0});
  a.samplerData = test::ParameterBlock(84, 9, 3, 1, 0x0D, 7, 250, -20, 33, -50);
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  const SampleData& s = sound.samples.at(0);
  EXPECT_EQ(s.topKey, 84);
  EXPECT_EQ(s.rootNote, 64);  // the block's root byte is not used
  EXPECT_EQ(s.zoneAttribute, 5);  // nor its zone byte
  EXPECT_EQ(s.loopFlags, 0x0Du);
  EXPECT_TRUE(s.loopOn);
  EXPECT_TRUE(s.nonTranspose);
  EXPECT_EQ(s.markers.start, 250);
  EXPECT_EQ(s.markers.loop, 1000);
  EXPECT_EQ(s.markers.end, 4000);
  EXPECT_EQ(s.level, -20);
  EXPECT_EQ(s.vdfCutoff, 33);
  EXPECT_EQ(s.decayLevel, -50);

  // Flags 1 from a WAV file are taken as 4; from FLAC unchanged; 0 is off.
  for (const auto& [fromWav, flags, expected] :
       {std::tuple{true, 1u, 4u}, std::tuple{false, 1u, 1u}, std::tuple{true, 0u, 0u}, std::tuple{true, 8u, 8u}}) {
    Sound t;
    DecodedAudio b = Quiet(31250, 5000);
    b.hasSmpl = true;
    b.loops.push_back(SmplLoop{0, 0, 1000, 4000, 0, 0});
    b.samplerData = test::ParameterBlock(84, 9, 3, 1, flags, 0, 0, 0, 0, 0);
    ASSERT_EQ(ImportDecoded(t, "x", b, fromWav), 0u);
    EXPECT_EQ(t.samples.at(0).loopFlags, expected) << fromWav << " " << flags;
    EXPECT_EQ(t.samples.at(0).loopOn, expected != 0);
    EXPECT_FALSE(t.samples.at(0).nonTranspose);
  }

  // A start beyond the frames resets the markers.
  Sound u;
  DecodedAudio c = Quiet(31250, 5000);
  c.hasSmpl = true;
  c.samplerData = test::ParameterBlock(84, 9, 3, 1, 4, 0, 5001, 0, 0, 0);
  ASSERT_EQ(ImportDecoded(u, "x", c, true), 0u);
  EXPECT_EQ(u.samples.at(0).markers.start, 0);
  // Sampler data of another length is not a parameter block.
  Sound v;
  DecodedAudio d = Quiet(31250, 5000);
  d.hasSmpl = true;
  d.samplerData.assign(27, 0x11);
  ASSERT_EQ(ImportDecoded(v, "x", d, true), 0u);
  EXPECT_EQ(v.samples.at(0).topKey, 96);
}

TEST(ImportDecoded, NotesAbove127AreTakenAs127) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 100);
  a.hasSmpl = true;
  a.unityNote = 200;
  a.samplerData = test::ParameterBlock(255, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(ImportDecoded(sound, "x", a, true), 0u);
  EXPECT_EQ(sound.samples.at(0).rootNote, 127);
  EXPECT_EQ(sound.samples.at(0).topKey, 127);

  DecodedAudio b = Quiet(31250, 100);
  b.hasInst = true;
  b.instRootNote = 250;
  b.instTopKey = 128;
  ASSERT_EQ(ImportDecoded(sound, "x", b, false), 0u);
  EXPECT_EQ(sound.samples.at(1).rootNote, 127);
  EXPECT_EQ(sound.samples.at(1).topKey, 127);
}

TEST(ImportDecoded, InstLoop) {
  for (const auto& [mode, flags] : {std::pair{1u, 4u}, std::pair{2u, 5u}, std::pair{3u, 0u}, std::pair{0u, 0u}}) {
    Sound sound;
    DecodedAudio a = Quiet(31250, 8000);
    a.hasInst = true;
    a.instRootNote = 48;
    a.instTopKey = 60;
    a.instDetune = -12;
    a.sustainLoop = InstLoop{mode, 1000, 5000};
    ASSERT_EQ(ImportDecoded(sound, "Bass C7", a, false), 0u);
    const SampleData& s = sound.samples.at(0);
    EXPECT_EQ(s.loopFlags, flags) << mode;
    EXPECT_EQ(s.loopOn, flags != 0);
    EXPECT_EQ(s.rootNote, 48);
    EXPECT_EQ(s.topKey, 60);
    EXPECT_EQ(s.markers.loop, flags ? 1000 : 4000);
    EXPECT_EQ(s.markers.end, flags ? 5000 : 8000);
  }
}

TEST(ImportDecoded, NameGivesTheNotes) {
  Sound sound;
  DecodedAudio a = Quiet(31250, 100);
  ASSERT_EQ(ImportDecoded(sound, "My.Piano C4", a, true), 0u);
  EXPECT_EQ(sound.samples.at(0).rootNote, 60);
  EXPECT_EQ(sound.samples.at(0).topKey, 71);
  DecodedAudio b = Quiet(31250, 100);
  ASSERT_EQ(ImportDecoded(sound, "Lead G9", b, true), 0u);
  EXPECT_EQ(sound.samples.at(1).rootNote, 127);
  EXPECT_EQ(sound.samples.at(1).topKey, 127);
  // The name stored is cut to 32 bytes first, and the search runs on that.
  DecodedAudio c = Quiet(31250, 100);
  ASSERT_EQ(ImportDecoded(sound, "abcdefghijklmnopqrstuvwxyz012345 C4", c, true), 0u);
  EXPECT_EQ(sound.samples.at(2).name.view(), "abcdefghijklmnopqrstuvwxyz012345");
  EXPECT_EQ(sound.samples.at(2).rootNote, 12);
}

TEST(ImportSampleFile, ThroughFiles) {
  test::TempDir dir;
  Sound sound;
  // An unknown extension is refused before the file is even looked for.
  EXPECT_EQ(ImportSampleFile(sound, dir.File("missing.ogg")), 13u);
  EXPECT_EQ(ImportSampleFile(sound, dir.File("missing.wav")), 20u);
  EXPECT_EQ(ImportSampleFile(sound, ""), 13u);
  EXPECT_TRUE(sound.samples.empty());

  const std::string kick =
      dir.Write("Kick C3.WAV", Riff({Fmt(1, 1, 31250, 16), RiffChunk("data", Pcm16({16384, -8192, 0, 100}))}));
  ASSERT_EQ(ImportSampleFile(sound, kick), 0u);
  ASSERT_EQ(sound.samples.size(), 1u);
  EXPECT_EQ(sound.samples[0].name.view(), "Kick C3");
  EXPECT_EQ(sound.samples[0].rootNote, 48);
  EXPECT_EQ(sound.samples[0].frameCount(), 4);
  EXPECT_NEAR(sound.samples[0].frames[0], 0.98855, 1e-5);

  // A truncated file: 5, and nothing is added.
  auto bytes = Riff({Fmt(1, 1, 31250, 16), RiffChunk("data", Pcm16({1, 2, 3, 4}))});
  bytes.resize(bytes.size() - 3);
  bytes[4] = static_cast<std::uint8_t>(bytes.size() - 8);
  EXPECT_EQ(ImportSampleFile(sound, dir.Write("cut.wav", bytes)), 5u);
  // Larger than 16 MiB: 22.
  std::vector<std::uint8_t> big(16 * 1024 * 1024 + 1, 0);
  EXPECT_EQ(ImportSampleFile(sound, dir.Write("big.aif", big)), 22u);
  EXPECT_EQ(sound.samples.size(), 1u);
}

}  // namespace
}  // namespace tavrin

namespace tavrin {
namespace {

TEST(ImportDecoded, AbsurdUpsamplingIsRefusedNotAllocated) {
  // 100000 frames stated at 10 Hz would become 312.5 million frames.
  Sound sound;
  DecodedAudio a = Quiet(10, 100000);
  EXPECT_EQ(ImportDecoded(sound, "x", a, true), 4u);
  EXPECT_TRUE(sound.samples.empty());
}

}  // namespace
}  // namespace tavrin
