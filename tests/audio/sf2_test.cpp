// The SoundFont 2 reader on files built record by record: each generator rule,
// velocity layers, stereo pairs, every refusal with its message, and what is
// read from a file for a listing and for one instrument.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/instrument.h"
#include "audio/readers.h"
#include "audio/sf2_bytes.h"
#include "audio/sf2_reader.h"
#include "support/temp_dir.h"

namespace tavrin {
namespace {

using namespace test;
using Sample = Sf2Build::Sample;
constexpr std::uint16_t Neg(int v) { return static_cast<std::uint16_t>(static_cast<std::int16_t>(v)); }

const Sample kS{"S", 100, 1100, 300, 900, 31250, 62, 5};
const Sample kLong{"Long", 0, 70000, 100, 69000, 31250};

Result Zones(const Sf2Build& b, std::vector<InstrumentZone>& zones, InstrumentReport& report, Sf2Choice choice = {}) {
  const ByteVec bytes = b.Build();
  MemorySource source(bytes);
  SoundFont font;
  if (Result r = OpenSoundFont(source, font, report)) return r;
  return SoundFontZones(font, choice, zones, report);
}

TEST(Sf2Zones, GeneratorRules) {
  struct Row {
    const char* what;
    std::vector<Sf2Zone> inst;
    Sf2Zone preset;
    int root, cents;
    bool loop;
    std::uint64_t loopStart, loopEnd, frames, first;
    int loKey = 0, hiKey = 127;
  };
  const std::vector<Row> rows = {
      {"header values", {{{53, 0}}}, {}, 62, 5, false, 0, 0, 1000, 100},
      {"root key override, tunings added", {{{58, 64}, {51, 1}, {52, Neg(-20)}, {53, 0}}}, {{51, 1}}, 64, 185, false, 0, 0, 1000, 100},
      {"fine offsets", {{{0, 10}, {1, Neg(-5)}, {2, 2}, {3, Neg(-3)}, {54, 1}, {53, 0}}}, {}, 62, 5, true, 192, 787, 985, 110},
      {"coarse offsets", {{{4, 1}, {12, Neg(-1)}, {45, 1}, {50, Neg(-1)}, {54, 3}, {53, 1}}}, {}, 60, 0, true, 100, 3464, 4464, 32768},
      {"sampleModes 3 loops", {{{54, 3}, {53, 0}}}, {}, 62, 5, true, 200, 800, 1000, 100},
      {"sampleModes 2 does not", {{{54, 2}, {53, 0}}}, {}, 62, 5, false, 0, 0, 1000, 100},
      {"global zone as default", {{{58, 70}, {54, 1}}, {{53, 0}}}, {}, 70, 5, true, 200, 800, 1000, 100},
      {"local beats global", {{{58, 70}}, {{58, 72}, {53, 0}}}, {}, 72, 5, false, 0, 0, 1000, 100},
      {"instrument-only generators ignored in a preset", {{{53, 0}}}, {{58, 40}, {0, 50}, {54, 1}}, 62, 5, false, 0, 0, 1000, 100},
      {"velocity layer", {{Range(44, 0, 63), {58, 50}, {53, 0}}, {Range(44, 64, 127), {58, 51}, {53, 0}}}, {}, 51, 5, false, 0, 0, 1000, 100},
      {"key ranges intersect", {{Range(43, 0, 64), {53, 0}}}, {Range(43, 60, 72)}, 62, 5, false, 0, 0, 1000, 100, 60, 64},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<InstrumentZone> zones;
    InstrumentReport report;
    ASSERT_EQ(Zones(OneInstrument(row.inst, {kS, kLong}, 70000, row.preset), zones, report), kOk) << report.refusal.view();
    ASSERT_EQ(zones.size(), 1u);
    const InstrumentZone& z = zones[0];
    EXPECT_EQ(z.rootNote, row.root);
    EXPECT_EQ(z.cents, row.cents);
    EXPECT_EQ(z.loopOn, row.loop);
    EXPECT_EQ(z.loopStart, row.loop ? row.loopStart : 0u);
    EXPECT_EQ(z.loopEnd, row.loop ? row.loopEnd : 0u);
    EXPECT_EQ(z.frameCount, row.frames);
    EXPECT_EQ(z.first, row.first);
    EXPECT_EQ(z.loKey, row.loKey);
    EXPECT_EQ(z.hiKey, row.hiKey);
  }
}

TEST(Sf2Zones, StereoPairMixesAsTheImportMixesTwoChannels) {
  // Left and right on the same keys with sampleLink 0, as many files leave it.
  Sf2Build b = OneInstrument({{Range(43, 0, 127), {53, 1}}, {Range(43, 0, 127), {53, 0}}},
                             {{"R", 0, 50, 0, 0, 44100, 60, 0, 0, 2}, {"L", 50, 100, 0, 0, 44100, 60, 0, 0, 4}}, 100);
  const ByteVec bytes = b.Build();
  MemorySource source(bytes);
  SoundFont font;
  InstrumentReport report;
  std::vector<InstrumentZone> zones;
  ASSERT_EQ(OpenSoundFont(source, font, report), kOk);
  ASSERT_EQ(SoundFontZones(font, {}, zones, report), kOk);
  ASSERT_EQ(zones.size(), 1u);
  EXPECT_EQ(zones[0].name.view(), "L");
  ASSERT_EQ(ReadSoundFontAudio(source, font, zones, report), kOk);
  Bytes interleaved;
  for (int i = 0; i < 50; ++i) interleaved.le16(static_cast<std::uint16_t>(b.data[50 + i])).le16(static_cast<std::uint16_t>(b.data[i]));
  DecodedAudio wav;
  ASSERT_EQ(DecodeWav(Riff({Fmt(1, 2, 44100, 16), Data(interleaved.b)}), wav), kOk);
  EXPECT_EQ(zones[0].audio.frames, wav.frames);
  EXPECT_EQ(zones[0].audio.peak, wav.peak);

  // Two mono samples on the same keys: one layer is taken, the other noted.
  b.samples[0].type = b.samples[1].type = 1;
  InstrumentReport layers;
  ASSERT_EQ(Zones(b, zones, layers), kOk);
  EXPECT_EQ(zones.size(), 1u);
  ASSERT_EQ(layers.notes.size(), 1u);
  EXPECT_EQ(layers.notes[0].view(),
            "preset 0:0 \"Test\", instrument \"Inst\" zone 2 (sample \"R\") sounds on the same keys and velocities as "
            "preset 0:0 \"Test\", instrument \"Inst\" zone 1: one layer is taken, it is left out");
}

TEST(Sf2Zones, OneLayerZonesOfOneSampleJoinedPairsByName) {
  // Preset zones: instrument 0 over keys 0-59 and 60-127 with one sample,
  // instrument 1 layered on the same keys, instrument 2 a pair of mono-typed
  // "P L" and "P R" at velocities up to 20 only.
  Sf2Build b = OneInstrument({{Range(43, 0, 59), {53, 0}}, {Range(43, 60, 127), {53, 0}}}, {kS, kS, kS, kS}, 2000);
  b.samples[1].name = "B";
  b.samples[2].name = "P L";
  b.samples[3].name = "P R";
  b.samples[3].start = 1100;
  b.samples[3].end = 2000;
  b.insts.push_back({"Layer", {{{53, 1}}}});
  b.insts.push_back({"Pair", {{{53, 2}}, {{53, 3}}}});
  b.presets[0].zones = {{{41, 0}}, {{41, 1}}, {Range(44, 0, 20), {41, 2}}};
  std::vector<InstrumentZone> zones;
  InstrumentReport report;
  ASSERT_EQ(Zones(b, zones, report), kOk);
  ASSERT_EQ(zones.size(), 1u);
  EXPECT_EQ(zones[0].name.view(), "S");
  EXPECT_EQ(zones[0].loKey, 0);
  EXPECT_EQ(zones[0].hiKey, 127);
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_EQ(report.notes[0].view(), "preset 0:0 \"Test\", instrument \"Layer\" is a second layer on keys another "
                                    "instrument of the preset plays: left out");
  ASSERT_EQ(Zones(b, zones, report, {Sf2Choice::Kind::kInstrument, 0, 0, "Pair", 10}), kOk);
  ASSERT_EQ(zones.size(), 1u);
  EXPECT_EQ(zones[0].name.view(), "P L");
  EXPECT_EQ(zones[0].partnerFirst, 1100);
  EXPECT_EQ(zones[0].frameCount, 900u);
}

void Patch32(ByteVec& b, const char* tag, std::size_t offset, std::uint32_t v) {
  for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
    if (std::memcmp(&b[i], tag, 4) == 0) {
      for (int k = 0; k < 4; ++k) b[i + offset + k] = static_cast<std::uint8_t>(v >> (8 * k));
      return;
    }
  }
}

TEST(Sf2Zones, Refusals) {
  struct Row {
    void (*change)(Sf2Build&, ByteVec*);
    Sf2Choice choice;
    Result code;
    const char* message;
  };
  const Row rows[] = {
      {[](Sf2Build&, ByteVec* f) { if (f) (*f)[11] = 'X'; }, {}, 13, "not a SoundFont 2 file (no RIFF \"sfbk\" header)"},
      {[](Sf2Build& b, ByteVec*) { b.version = 3; }, {}, 13,
       "this is an SF3 SoundFont (version 3, compressed samples); only SF2 files with plain samples can be read: "
       "convert it to SF2 first"},
      {[](Sf2Build& b, ByteVec*) { b.samples[0].type = 0x11; }, {}, 13,
       "this is an SF3 SoundFont (compressed samples, \"S\" first); only SF2 files with plain samples can be read: "
       "convert it to SF2 first"},
      {[](Sf2Build&, ByteVec* f) { if (f) Patch32(*f, "pbag", 8, 0xFFFF); }, {}, 13,
       "preset 0:0 \"Test\": its zones (pbag) point past the generator list (pgen)"},
      {[](Sf2Build&, ByteVec* f) { if (f) Patch32(*f, "shdr", 4, 45); }, {}, 13,
       "the \"shdr\" list has no terminal record (its size is 45 bytes)"},
      {[](Sf2Build& b, ByteVec*) { b.presets[0].zones.clear(); }, {}, 13, "preset 0:0 \"Test\" has no zones"},
      {[](Sf2Build& b, ByteVec*) { b.samples[0].end = 5000; }, {}, 13,
       "preset 0:0 \"Test\", instrument \"Inst\" zone 1: sample \"S\" (frames 100 to 5000) lies outside the sample "
       "data (smpl)"},
      {[](Sf2Build& b, ByteVec*) { b.samples[0].loopEnd = 1200; }, {}, 13,
       "preset 0:0 \"Test\", instrument \"Inst\" zone 1: the loop of sample \"S\" (300 to 1200) lies outside the "
       "sample (100 to 1100)"},
      {[](Sf2Build& b, ByteVec*) { b.insts[0].zones[0][1].amount = 5; }, {}, 13,
       "preset 0:0 \"Test\", instrument \"Inst\" zone 1 names sample 5, past the sample list (shdr)"},
      {[](Sf2Build& b, ByteVec*) { b.presets[0].zones[0][0].amount = 3; }, {}, 13,
       "preset 0:0 \"Test\" zone 1 names instrument 3, past the instrument list (inst)"},
      // An INFO chunk whose size is near 4 GB is stepped over, not read forever.
      {[](Sf2Build&, ByteVec* f) { if (f) Patch32(*f, "ifil", 4, 0xFFFFFFF8); }, {}, 0, ""},
      {[](Sf2Build&, ByteVec*) {}, {Sf2Choice::Kind::kPresetNumber, 0, 7, {}, 100}, 20, "there is no preset 0:7 in the SoundFont"},
      {[](Sf2Build&, ByteVec*) {}, {Sf2Choice::Kind::kInstrument, 0, 0, "Nope", 100}, 20,
       "there is no instrument \"Nope\" in the SoundFont"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    Sf2Build b = OneInstrument({{{54, 1}, {53, 0}}}, {kS}, 2000);
    row.change(b, nullptr);
    ByteVec bytes = b.Build();
    row.change(b, &bytes);
    MemorySource source(bytes);
    SoundFont font;
    InstrumentReport report;
    std::vector<InstrumentZone> zones;
    Result r = OpenSoundFont(source, font, report);
    if (r == kOk) r = SoundFontZones(font, row.choice, zones, report);
    EXPECT_EQ(r, row.code);
    EXPECT_EQ(report.refusal.view(), row.message);
  }
}

TEST(Sf2File, ListingReadsHeadersOnlyAndAddingOnlyItsSamples) {
  // 600000 frames of sample data (1.2 MB) of which the instrument plays 1000.
  Sf2Build b = OneInstrument({{{53, 0}}}, {kS}, 600000);
  testing::TempDir dir;
  const ByteVec bytes = b.Build();
  const std::string path = dir.Write("big.sf2", bytes);
  FileSource file;
  ASSERT_EQ(file.Open(path), kOk);
  SoundFont font;
  InstrumentReport report;
  ASSERT_EQ(OpenSoundFont(file, font, report), kOk);
  const std::uint64_t headers = file.bytesRead();
  EXPECT_LT(headers, 1000u);  // of 1.2 MB: the headers, never the sample data
  std::vector<InstrumentZone> zones;
  ASSERT_EQ(SoundFontZones(font, {}, zones, report), kOk);
  ASSERT_EQ(ReadSoundFontAudio(file, font, zones, report), kOk);
  EXPECT_EQ(file.bytesRead() - headers, 2 * 1000u);
  EXPECT_EQ(zones[0].audio.frames[0], static_cast<float>(b.data[100]) / 32768.0f);
}

TEST(Sf2File, TwentyFourBitSamplesTakeTheirLowBytesFromSm24) {
  Sf2Build b = OneInstrument({{{53, 0}}}, {{"S", 0, 4, 0, 0, 31250}}, 4);
  b.data = {-32768, 1, 0, 32767};
  b.low = {0x00, 0x80, 0xFF, 0xFF};
  std::vector<InstrumentZone> zones;
  InstrumentReport report;
  const ByteVec bytes = b.Build();
  MemorySource source(bytes);
  SoundFont font;
  ASSERT_EQ(OpenSoundFont(source, font, report), kOk);
  ASSERT_EQ(SoundFontZones(font, {}, zones, report), kOk);
  ASSERT_EQ(ReadSoundFontAudio(source, font, zones, report), kOk);
  const float want[] = {-1.0f, 384 / 8388608.0f, 255 / 8388608.0f, 8388607 / 8388608.0f};
  EXPECT_EQ(zones[0].audio.frames, std::vector<float>(want, want + 4));
}

TEST(Instrument, RootAndTranspose) {
  const struct {
    int root, cents, wantRoot, wantTranspose;
  } rows[] = {{60, 185, 58, -15}, {60, 120, 60, 120}, {60, -121, 61, -21}, {60, 250, 57, -50}, {1, -400, 5, 0}, {0, 300, 0, 0}};
  for (const auto& row : rows) {
    std::uint8_t root = 0;
    std::int8_t transpose = 0;
    RootAndTranspose(row.root, row.cents, root, transpose);
    EXPECT_EQ(root, row.wantRoot) << row.cents;
    EXPECT_EQ(transpose, row.wantTranspose) << row.cents;
  }
}

TEST(Instrument, TopKeysSplitOverlapsAndGapsAndTheImportScalesLoops) {
  std::vector<InstrumentZone> zones(3);
  const int ranges[3][2] = {{80, 127}, {0, 60}, {58, 72}};
  for (int i = 0; i < 3; ++i) {
    zones[i].loKey = static_cast<std::uint8_t>(ranges[i][0]);
    zones[i].hiKey = static_cast<std::uint8_t>(ranges[i][1]);
    zones[i].where.assign(std::string("zone ") + char('A' + i));
    zones[i].rootNote = 60 + i;
    zones[i].cents = 185;
    zones[i].loopOn = i == 0;
    zones[i].loopStart = 4410;
    zones[i].loopEnd = 8820;
    zones[i].audio.sampleRate = 44100;
    zones[i].audio.frames.assign(44100, 0.25f);
    zones[i].audio.peak = 0.5f;
  }
  Sound sound;
  InstrumentReport report;
  ASSERT_EQ(ImportZones(sound, zones, report), kOk);
  ASSERT_EQ(sound.samples.size(), 3u);
  EXPECT_EQ(sound.samples[0].topKey, 58);
  EXPECT_EQ(sound.samples[1].topKey, 75);
  EXPECT_EQ(sound.samples[2].topKey, 127);
  ASSERT_EQ(report.notes.size(), 2u);
  EXPECT_EQ(report.notes[0].view(), "keys 58-60 lie in both zone B and zone C: the card plays the first up to 58, the second from 59");
  EXPECT_EQ(report.notes[1].view(), "keys 73-79 lie in no zone of the file: zone C takes them up to 75, zone A from 76");
  const SampleData& looped = sound.samples[2];
  EXPECT_EQ(looped.markers.loop, 3125);
  EXPECT_EQ(looped.markers.end, 6250);
  EXPECT_EQ(looped.loopFlags, LoopFlags::kForward);
  EXPECT_EQ(looped.rootNote, 58);  // 60 and 185 cents
  EXPECT_EQ(looped.transpose, -15);
  EXPECT_EQ(sound.samples[0].loopFlags, 0u);
  EXPECT_NEAR(sound.samples[0].frames[100], 0.25 * 0.98855 / 0.5, 1e-5);
}

}  // namespace
}  // namespace tavrin
