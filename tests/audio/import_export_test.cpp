// The import pipeline from decoded audio and from files, and the export of
// samples as WAV files that import again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "audio/audio_bytes.h"
#include "audio/export.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace test;
using tavrin::testing::TempDir;

DecodedAudio Audio(std::uint32_t rate, std::vector<float> frames) {
  DecodedAudio a;
  a.sampleRate = rate;
  a.channelCount = 1;
  for (float f : frames) a.peak = std::fabs(f) > std::fabs(a.peak) ? f : a.peak;
  a.frames = std::move(frames);
  return a;
}

// Peak below 0.01: the frames are not normalised.
DecodedAudio Quiet(std::uint32_t rate, std::size_t n) {
  std::vector<float> f(n);
  for (std::size_t i = 0; i < n; ++i) f[i] = 0.001f * static_cast<float>(i % 7);
  return Audio(rate, f);
}

DecodedAudio WithSmpl(DecodedAudio a, std::uint32_t unity, std::vector<SmplLoop> loops, ByteVec block = {}) {
  a.hasSmpl = true;
  a.unityNote = static_cast<std::uint8_t>(unity);
  a.pitchFraction = 0xFFFFFFF9u;
  a.loops = std::move(loops);
  a.samplerData = std::move(block);
  return a;
}

DecodedAudio WithInst(DecodedAudio a, std::uint8_t root, std::uint8_t top, InstLoop sustain) {
  a.hasInst = true;
  a.instRootNote = root;
  a.instTopKey = top;
  a.instDetune = -12;
  a.sustainLoop = sustain;
  return a;
}

ByteVec Block(std::uint8_t topKey, std::uint32_t flags, std::uint32_t start = 0) {
  return ParameterBlock(topKey, 9, 3, 1, flags, 0, start, 0, 0, 0);
}

TEST(ImportPaths, ReaderByExtension) {
  const std::pair<const char*, ReaderChoice> cases[] = {
      {"C:\\x\\Kick.WAV", ReaderChoice::kWav},    {"C:\\x\\Kick.ogg", ReaderChoice::kNone},
      {"C:\\x\\Kick", ReaderChoice::kNone},       {"C:\\x\\Snare.flac.mp3", ReaderChoice::kMediaReader},
      {"C:\\x\\a.Aif", ReaderChoice::kAiff},      {"C:\\x\\a.AIFF", ReaderChoice::kAiff},
      {"C:\\x\\a.aifc", ReaderChoice::kAiff},     {"C:\\x\\a.FLAC", ReaderChoice::kFlac},
      {"C:\\x.wav\\Kick", ReaderChoice::kNone},   {"C:\\x\\Kick.", ReaderChoice::kNone},
      {"C:\\x\\Kick.wavx", ReaderChoice::kNone},  {"", ReaderChoice::kNone},
  };
  for (const auto& [path, reader] : cases) EXPECT_EQ(ReaderForPath(path), reader) << path;
}

TEST(ImportPaths, NameFromPath) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\x\\Kick.WAV", "Kick"}, {"C:\\x\\My.Piano C4.wav", "My.Piano C4"}, {"C:\\x\\Kick", "Kick"},
      {"Kick.wav", ""},     // no separator at all
      {"C:\\x\\.wav", ""},  // a leading dot and no other
      // The last byte of the part and of the whole path is not examined.
      {"C:\\x\\Kick.", "Kick."}, {"C:\\x\\dir\\", "dir\\"},
      {"C:\\" + std::string(300, 'a') + ".wav", std::string(260, 'a')},
      // Whole characters only: 259 letters and then a two-byte character.
      {"C:\\" + std::string(259, 'a') + "\xC3\xA9.wav", std::string(259, 'a')},
#ifndef _WIN32
      {"/home/u/Bass C2.aiff", "Bass C2"},
#endif
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(SampleNameFromPath(path), name) << path;
}

TEST(ImportPaths, RootNoteFromName) {
  const std::pair<const char*, int> cases[] = {
      {"My.Piano C4", 60}, {"Piano C-1", 0}, {"Lead G9", 127}, {"G9", 127}, {"xC#4", 61}, {"Piano", -1},
      {"", -1}, {"Str A#2 soft", 46},  // no later window holds a note
      {"C44", -1},           // the byte that breaks a partial match is not tried again
      {"C2 x E3", 52},       // the last window wins
      {"D#3", 51},           // within a window the lowest matching note number
  };
  for (const auto& [name, note] : cases) {
    const auto found = RootNoteFromName(name);
    EXPECT_EQ(found ? int(found->number) : -1, note) << name;
  }
}

struct Want {
  std::int64_t frames, start, loop, end;
  int root = 12, top = 96;
  std::uint32_t flags = 0;
  std::optional<int> transpose = {};
  bool nonTranspose = false;
  int level = 0, vdf = 0, decay = 0;
};

TEST(ImportDecoded, Table) {
  const SoundType drum = SoundType::Drumsound, multi = SoundType::Multisound;
  const DecodedAudio q100 = Quiet(31250, 100), q5000 = Quiet(31250, 5000), q8000 = Quiet(31250, 8000);
  const std::vector<SmplLoop> loop = {{0, 0, 1000, 4000}};
  const struct {
    const char* what;
    DecodedAudio audio;
    Want want;
    SoundType type = SoundType::Multisound;
    const char* name = "x";
    bool fromWav = true;
  } cases[] = {
      {"defaults", Quiet(31250, 1001), {1001, 0, 500, 1001, 12, 96, 0, 0}, multi, "plain"},
      {"drumsound defaults", Quiet(31250, 3), {3, 0, -2, 3}, drum},
      {"converted: count and markers", WithSmpl(Quiet(44100, 44100), 60, {{0, 0, 22050, 44100}}),
       {31250, 0, 15625, 31250, 60, 96, 4}},
      {"converted drum: toward zero", Quiet(44100, 3), {2, 0, -1, 2}, drum},
      {"smpl without block", WithSmpl(Quiet(31250, 50000), 60, {{0, 1, 1000, 2000}}),
       {50000, 0, 1000, 2000, 60, 96, 5, 78}, multi, "Piano G2"},
      {"smpl loop beyond the frames", WithSmpl(Quiet(31250, 50000), 60, {{0, 0, 100, 90000}}),
       {50000, 0, 25000, 50000, 60, 96, 4}},
      {"smpl loop starting after its end", WithSmpl(Quiet(31250, 1000), 60, {{0, 0, 900, 500}}),
       {1000, 0, 500, 1000, 60, 96, 4}},
      {"smpl loop of length 0: transpose from the file", WithSmpl(Quiet(31250, 1000), 60, {{0, 0, 500, 500}}),
       {1000, 0, 500, 500, 60, 96, 4, -7}},
      {"smpl without loops", WithSmpl(q100, 0, {}), {100, 0, 50, 100, 0, 96, 0}, multi, "Piano C4"},
      {"parameter block", WithSmpl(q5000, 64, loop, ParameterBlock(84, 9, 3, 1, 13, 7, 250, -20, 33, -50)),
       {5000, 250, 1000, 4000, 64, 84, 13, {}, true, -20, 33, -50}},
      {"flags 1 from WAV mean 4", WithSmpl(q5000, 0, loop, Block(84, 1)), {5000, 0, 1000, 4000, 0, 84, 4}},
      {"flags 1 from FLAC kept", WithSmpl(q5000, 0, loop, Block(84, 1)), {5000, 0, 1000, 4000, 0, 84, 1},
       multi, "x", false},
      {"block flags 0: off", WithSmpl(q5000, 0, loop, Block(84, 0)), {5000, 0, 1000, 4000, 0, 84, 0}},
      {"block flags 8", WithSmpl(q5000, 0, loop, Block(84, 8)), {5000, 0, 1000, 4000, 0, 84, 8}},
      {"start at the end", WithSmpl(q5000, 0, {}, Block(84, 4, 5000)), {5000, 5000, 2500, 5000, 0, 84, 4}},
      {"start past the end", WithSmpl(q5000, 0, {}, Block(84, 4, 5001)), {5000, 0, 2500, 5000, 0, 84, 4}},
      {"27 bytes are no block", WithSmpl(q5000, 0, {}, ByteVec(27, 0x11)), {5000, 0, 2500, 5000, 0}},
      {"smpl notes above 127", WithSmpl(q100, 200, {}, Block(255, 0)), {100, 0, 50, 100, 127, 127}},
      {"inst notes above 127", WithInst(q100, 250, 128, {}), {100, 0, 50, 100, 127, 127}, multi, "x", false},
      {"inst mode 1", WithInst(q8000, 48, 60, {1, 1000, 5000}), {8000, 0, 1000, 5000, 48, 60, 4}, multi,
       "Bass C7", false},
      {"inst mode 2", WithInst(q8000, 48, 60, {2, 1000, 5000}), {8000, 0, 1000, 5000, 48, 60, 5}},
      {"inst mode 3", WithInst(q8000, 48, 60, {3, 1000, 5000}), {8000, 0, 4000, 8000, 48, 60, 0}},
      {"inst, no loop", WithInst(q8000, 48, 60, {}), {8000, 0, 4000, 8000, 48, 60, 0}},
      {"notes from the name", q100, {100, 0, 50, 100, 60, 71}, multi, "My.Piano C4"},
      {"top key at most 127", q100, {100, 0, 50, 100, 127, 127}, multi, "Lead G9"},
      {"name cut to 32 bytes first", q100, {100, 0, 50, 100}, multi, "abcdefghijklmnopqrstuvwxyz012345 C4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sound sound;
    sound.soundType = c.type;
    DecodedAudio audio = c.audio;
    ASSERT_EQ(ImportDecoded(sound, c.name, audio, c.fromWav), kOk);
    ASSERT_EQ(sound.samples.size(), 1u);
    const SampleData& s = sound.samples[0];
    const Want& w = c.want;
    EXPECT_EQ(s.name.view(), Utf8View(c.name).substr(0, 32));
    // The zone is never taken from the file.
    EXPECT_EQ(std::vector<std::int64_t>({s.frameCount(), s.markers.start, s.markers.loop, s.markers.end,
                                         s.rootNote, s.topKey, s.loopFlags, s.loopOn, s.zoneAttribute,
                                         s.nonTranspose, s.level, s.vdfCutoff, s.decayLevel}),
              std::vector<std::int64_t>({w.frames, w.start, w.loop, w.end, w.root, w.top, w.flags,
                                         w.flags != 0, 5, w.nonTranspose, w.level, w.vdf, w.decay}));
    EXPECT_EQ(s.transpose, w.transpose.value_or(s.transpose));
  }
}

TEST(ImportDecoded, NormalisesFromTheSourcePeak) {
  const float factor = static_cast<float>(std::pow(10.0, -0.1 / 20) / 0.5);
  EXPECT_NEAR(factor, 1.9771, 1e-4);
  const struct {
    DecodedAudio audio;
    std::vector<float> frames;
  } cases[] = {
      {Audio(31250, {0.1f, -0.5f, 0.25f}), {0.1f * factor, -0.5f * factor, 0.25f * factor}},
      {Audio(31250, {0.0099f, -0.005f}), {0.0099f, -0.005f}},  // a peak below 0.01 leaves them
      {Audio(31250, {0.0f, 0.0f}), {0.0f, 0.0f}},
      {Quiet(31250, 777), Quiet(31250, 777).frames},  // at the card's rate nothing is converted
  };
  for (const auto& c : cases) {
    Sound sound;
    DecodedAudio a = c.audio;
    ASSERT_EQ(ImportDecoded(sound, "x", a, true), kOk);
    EXPECT_EQ(sound.samples.at(0).frames, c.frames);
  }
  // The peak is the source's, measured before conversion: a lone impulse
  // loses height in the filter and is not raised again.
  Sound sound;
  DecodedAudio c = Audio(44100, std::vector<float>(4410, 0.0f));
  c.frames[2000] = 0.5f;
  c.peak = 0.5f;
  ASSERT_EQ(ImportDecoded(sound, "x", c, true), kOk);
  float maxOut = 0;
  for (float f : sound.samples.at(0).frames) maxOut = std::max(maxOut, std::fabs(f));
  EXPECT_LT(maxOut, 0.98855f);
  EXPECT_GT(maxOut, 0.5f);
}

TEST(ImportDecoded, RefusedWithNothingAdded) {
  Sound sound;
  DecodedAudio zero = Audio(0, {0.5f, 0.25f}), empty = Audio(0, {}), slow = Quiet(10, 100000);
  EXPECT_EQ(ImportDecoded(sound, "x", zero, true), kBadFormat);
  EXPECT_EQ(ImportDecoded(sound, "x", empty, true), kBadFormat);
  EXPECT_EQ(ImportDecoded(sound, "x", slow, true), kOutOfMemory);  // 312.5 million frames at the card's rate
  EXPECT_TRUE(sound.samples.empty());
}

TEST(ImportSampleFile, ThroughFiles) {
  TempDir dir;
  Sound sound;
  EXPECT_EQ(ImportSampleFile(sound, dir.File("missing.ogg")), kBadFormat);  // not even looked for
  EXPECT_EQ(ImportSampleFile(sound, dir.File("missing.wav")), kNotFound);
  EXPECT_EQ(ImportSampleFile(sound, ""), kBadFormat);
  ByteVec cut = Riff({Fmt(1, 1, 31250, 16), Data(Pcm16({1, 2, 3, 4}))});
  cut.resize(cut.size() - 3);
  cut[4] = static_cast<std::uint8_t>(cut.size() - 8);
  EXPECT_EQ(ImportSampleFile(sound, dir.Write("cut.wav", cut)), kTooMuchData);
  EXPECT_EQ(ImportSampleFile(sound, dir.Write("big.aif", ByteVec(16 * 1024 * 1024 + 1, 0))), kFileTooLarge);
  EXPECT_TRUE(sound.samples.empty());

  const std::string kick =
      dir.Write("Kick C3.WAV", Riff({Fmt(1, 1, 31250, 16), Data(Pcm16({16384, -8192, 0, 100}))}));
  ASSERT_EQ(ImportSampleFile(sound, kick), kOk);
  ASSERT_EQ(sound.samples.size(), 1u);
  EXPECT_EQ(sound.samples[0].name.view(), "Kick C3");
  EXPECT_EQ(sound.samples[0].rootNote, 48);
  EXPECT_EQ(sound.samples[0].frameCount(), 4);
  EXPECT_NEAR(sound.samples[0].frames[0], 0.98855, 1e-5);
}

SampleData Sample(std::size_t frames, const char* name = "") {
  SampleData s;
  s.name.assign(name);
  s.frames.assign(frames, 0.0f);
  s.markers = {0, 0, static_cast<std::int64_t>(frames / 2), static_cast<std::int64_t>(frames)};
  return s;
}

TEST(WavExport, Layout) {
  // Flags 8, invert polarity only: no loop.
  const SampleData plain{.name = {}, .nonTranspose = true, .loopFlags = 8, .markers = {0, 2, 1, 3},
                         .topKey = 72, .zoneAttribute = 9, .transpose = -7, .rootNote = 61, .level = -99,
                         .vdfCutoff = 50, .decayLevel = -1, .frames = {-1, 0.5f, 2}, .zeroCrossings = {}};
  const SampleData looped{
      .name = {}, .loopFlags = 5, .markers = {0, 0, 3, 9}, .frames = {0.25f, -0.25f}, .zeroCrossings = {}};
  SampleData forward = looped;
  forward.loopFlags = 4;
  const ByteVec fmt = Fmt(1, 1, 31250, 16), pcm = Data(Pcm16({8191, -8191}));
  const std::pair<SampleData, ByteVec> cases[] = {
      {plain, Riff({fmt, Smpl(61, 0xFFFFFFF9u, {}, ParameterBlock(72, 9, -7, 61, 8, 1, 2, -99, 50, -1)),
                    Data(Pcm16({-32767, 16383, 32767}))})},  // the last one saturated
      {looped, Riff({fmt, Smpl(12, 0, {{1, 3, 9}}, ParameterBlock(96, 5, 0, 12, 5, 0, 0, 0, 0, 0)), pcm})},
      {forward, Riff({fmt, Smpl(12, 0, {{0, 3, 9}}, ParameterBlock(96, 5, 0, 12, 4, 0, 0, 0, 0, 0)), pcm})},
  };
  for (const auto& [sample, expected] : cases) {
    ByteVec b;
    ASSERT_EQ(BuildWavImage(sample, b), kOk);
    EXPECT_EQ(b, expected) << "flags " << sample.loopFlags;
  }
}

TEST(ExportFileName, Rules) {
  const std::string n32(32, 'x');
  const struct {
    std::string name, expected;
    std::uint32_t number = 1;
    std::size_t budget = 48;
  } cases[] = {
      {"a/b:c?", "abc.wav"}, {"<>:\"/\\|?*", ".wav"}, {"", ".wav"}, {"Kick", "Kick.wav"},
      {"Tab\there\x01\x7F", "Tabhere.wav"},  // control characters go too
      {"Kick", "Kick (2).wav", 2}, {"Kick", "Kick (12).wav", 12}, {"Piano C4", "Piano C4.wav"},
      // Reserved device names, in any case and before any ".", but only those.
      {"CON", "_CON.wav"}, {"nul", "_nul.wav"}, {"Aux.txt", "_Aux.txt.wav"}, {"com1", "_com1.wav"},
      {"LPT9 ", "_LPT9 .wav"}, {"CON", "_CON (2).wav", 2}, {"COM10", "COM10.wav"}, {"CONSOLE", "CONSOLE.wav"},
      {"C:O:N", "_CON.wav"},  // removal first, then the check
      // A 32-byte name fits with a number; a budget cuts the name, never the
      // number or extension, and never inside a character.
      {n32, n32 + " (99).wav", 99}, {"abcdef", "abc (2).wav", 2, 11}, {"abcdef", "ab (2).wav", 2, 10},
      {"\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9.wav", 1, 8}, {"\xC3\xA9\xC3\xA9", "\xC3\xA9.wav", 1, 7},
      {"\xC3\xA9\xC3\xA9", ".wav", 1, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExportFileName(c.name, c.number, c.budget).view(), c.expected) << c.name << " " << c.number;
  }
}

TEST(ExportSamples, WritesEveryFileNumberingDuplicates) {
  TempDir dir;
  Sound sound;
  for (const char* n : {"Kick", "Kick", "kick", "a/b", "ab"}) sound.samples.push_back(Sample(4, n));
  ASSERT_EQ(ExportSamples(sound, dir.path().string()), kOk);
  // Exporting again, the folder ending in a separator, replaces the files.
  ASSERT_EQ(ExportSamples(sound, dir.path().string() + "/"), kOk);
  std::vector<std::string> names;
  for (const auto& e : dir.Entries()) names.push_back(e.string());
  std::sort(names.begin(), names.end());
  const std::vector<std::string> expected = {"Kick (2).wav", "Kick.wav", "ab (2).wav", "ab.wav",
                                             "kick (3).wav"};
  EXPECT_EQ(names, expected);

  Sound one;
  one.samples.push_back(Sample(4));
  EXPECT_EQ(ExportSamples(one, std::string(260, 'a')), kTooMuchData);
  EXPECT_EQ(ExportSamples(one, dir.File("no-such-folder")), kNotFound);
  EXPECT_EQ(ExportSamples(Sound{}, dir.File("no-such-folder")), kOk);
  EXPECT_EQ(WriteWavFile(Sample(1), ""), kInvalidArgument);
}

TEST(ExportSamples, RoundTripRestoresTheSettings) {
  for (const SoundType type : {SoundType::Multisound, SoundType::Drumsound}) {
    for (const std::uint32_t flags : {0x00u, 0x04u, 0x05u, 0x0Eu, 0x08u}) {
      SCOPED_TRACE(::testing::Message() << "flags " << flags << " type " << static_cast<int>(type));
      Sound sound, back;
      sound.soundType = back.soundType = type;
      SampleData s{.name = {}, .nonTranspose = true, .loopFlags = flags, .loopOn = flags != 0,
                   .markers = {0, 17, 1200, 2900}, .topKey = 70, .transpose = 33, .rootNote = 57,
                   .level = -40, .vdfCutoff = -12, .decayLevel = 25, .frames = {}, .zeroCrossings = {}};
      s.name.assign("Tone");
      for (int i = 0; i < 3000; ++i) s.frames.push_back(0.4f * std::sin(0.05f * static_cast<float>(i)));
      sound.samples.push_back(s);
      TempDir dir;
      ASSERT_EQ(ExportSamples(sound, dir.path().string()), kOk);
      ASSERT_EQ(ImportSampleFile(back, dir.File("Tone.wav")), kOk);
      const SampleData& r = back.samples.at(0);
      EXPECT_EQ(r.name.view(), "Tone");
      EXPECT_EQ(r.frameCount(), 3000);
      EXPECT_EQ(std::vector<int>({r.rootNote, r.topKey, r.nonTranspose, r.level, r.vdfCutoff, r.decayLevel}),
                std::vector<int>({57, 70, 1, -40, -12, 25}));
      EXPECT_EQ(r.loopFlags, flags);
      EXPECT_EQ(r.loopOn, flags != 0);
      const bool loop = flags & 4;
      const std::int64_t loopStart = loop ? 1200 : (type == SoundType::Drumsound ? 2995 : 1500);
      EXPECT_EQ(r.markers, (MarkerSet{0, 17, loopStart, loop ? 2900 : 3000}));
      // The transpose is worked out again from the loop and root note.
      SampleData expected = r;
      AutomaticTranspose(expected);
      EXPECT_EQ(r.transpose, expected.transpose);
      // The frames come back as 16-bit values, normalised again.
      float peak = 0;
      for (float f : r.frames) peak = std::max(peak, std::fabs(f));
      EXPECT_NEAR(peak, 0.98855f, 1e-5);
      for (int i = 0; i < 3000; i += 97) EXPECT_NEAR(r.frames[i], s.frames[i] * 0.98855f / 0.4f, 2e-4) << i;
    }
  }
}

}  // namespace
}  // namespace tavrin
