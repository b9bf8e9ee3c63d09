#include "card/document.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace tavrin {
namespace {

TEST(Document, DefaultsAndReset) {
  CardDocument doc;
  EXPECT_EQ(doc.name.view(), "Corvask");
  EXPECT_EQ(doc.cardCapacity, 524288u);
  EXPECT_FALSE(doc.modified);
  doc.name.assign("ABCDEFGHIJKL");
  EXPECT_EQ(doc.name.view(), "ABCDEFGHIJ");  // ten bytes
  doc.cardCapacity = 1000;
  doc.modified = true;
  AppendSound(doc.multisounds, SoundType::Multisound);
  AppendSound(doc.drumsounds, SoundType::Drumsound);
  doc.ComputeStatistics(false);
  doc.Reset();
  EXPECT_EQ(doc.name.view(), "Corvask");
  EXPECT_TRUE(doc.multisounds.empty());
  EXPECT_TRUE(doc.drumsounds.empty());
  EXPECT_EQ(doc.statistics, CardStatistics{});
  EXPECT_FALSE(doc.modified);
  EXPECT_EQ(doc.cardCapacity, 1000u);  // kept
  Sound sound;
  const SampleData* s = AppendSample(sound);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->topKey, 96);
  EXPECT_EQ(s->rootNote, 12);
  EXPECT_EQ(s->zoneAttribute, 5);
  EXPECT_TRUE(s->transposeValid);
  EXPECT_FALSE(s->nonTranspose);
  EXPECT_EQ(s->markers, (MarkerSet{0, -1, -1, -1}));
  for (const Snapshot& snap : s->snapshots) EXPECT_EQ(snap, (MarkerSet{0, -1, -1, -1}));
}

TEST(Document, SoundListOperations) {
  std::vector<Sound> list;
  for (const char* n : {"A", "B", "C", "D"}) {
    Sound* s = AppendSound(list, SoundType::Drumsound);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->name.empty());
    EXPECT_EQ(s->soundType, SoundType::Drumsound);
    EXPECT_EQ(s->waveType, WaveType::PCM);
    s->name.assign(n);
  }
  auto names = [&] {
    std::string out;
    for (const Sound& s : list) out += std::string(s.name.view());
    return out;
  };
  MoveSound(list, 0, 2);
  EXPECT_EQ(names(), "BCAD");
  MoveSound(list, 3, 0);
  EXPECT_EQ(names(), "DBCA");
  MoveSound(list, 1, 9);  // out of range: nothing
  EXPECT_EQ(names(), "DBCA");
  RemoveSound(list, 1);
  EXPECT_EQ(names(), "DCA");
  RemoveSound(list, 3);
  EXPECT_EQ(names(), "DCA");
}

TEST(Document, ReplaceSoundCopiesEverything) {
  Sound target;
  target.name.assign("Old");
  AppendSample(target);
  Sound edited;
  edited.name.assign("New");
  edited.soundType = SoundType::Drumsound;
  edited.waveType = WaveType::DWGS;
  SampleData* s = AppendSample(edited);
  s->frames = {0.25f, -0.5f};
  s->zeroCrossings = {{1, 1}};
  AppendSample(edited);
  ASSERT_EQ(ReplaceSound(target, edited), kOk);
  EXPECT_EQ(target.name.view(), "New");
  EXPECT_EQ(target.soundType, SoundType::Drumsound);
  EXPECT_EQ(target.waveType, WaveType::DWGS);
  ASSERT_EQ(target.samples.size(), 2u);
  EXPECT_EQ(target.samples[0].frames, edited.samples[0].frames);
  EXPECT_EQ(target.samples[0].zeroCrossings, edited.samples[0].zeroCrossings);
}

TEST(Notes, NamesFrequenciesAndSampleNames) {
  const std::pair<int, const char*> names[] = {{0, "C-1"}, {1, "C#-1"}, {11, "B-1"}, {12, "C0"},
                                               {60, "C4"}, {61, "C#4"}, {96, "C7"},  {127, "G9"}};
  for (auto [n, name] : names) EXPECT_EQ(NoteName(static_cast<std::uint32_t>(n)), name);
  EXPECT_TRUE(NoteName(128).empty());
  const auto& t = NoteTable();
  for (int n = 0; n < 128; ++n) {
    EXPECT_EQ(t[static_cast<std::size_t>(n)].number, n);
    const double f = 440.0 * std::pow(2.0, (n - 69) / 12.0);
    EXPECT_NEAR(t[static_cast<std::size_t>(n)].frequency / f, 1.0, 2e-7);
  }
  EXPECT_NEAR(t[0].frequency, 8.1758, 1e-4);
  EXPECT_NEAR(t[127].frequency, 12543.8556151145, 1e-6);
  // Sample names end in their root note's name.
  SampleData s;
  s.name.assign("Piano");
  s.rootNote = 61;
  NameSampleAfterRootNote(s);
  EXPECT_EQ(s.name.view(), "Piano C#4");
  s.name.assign("0123456789012345678901234567890");  // 31 bytes: room for the space only
  NameSampleAfterRootNote(s);
  EXPECT_EQ(s.name.view(), "0123456789012345678901234567890 ");
}

TEST(AutomaticTranspose, FromTheLoopLength) {
  struct Case {
    std::uint8_t root;
    std::int64_t loop, end;
    int transpose;  // 17 before
    bool valid;
  };
  const Case cases[] = {
      {60, 1000, 1000, 17, true},  // no loop: the transpose stays
      {69, 0, 71, 0, true},        // -0.55 cents: truncated toward zero
      {60, 0, 1000, 78, true},     // 78.7
      {121, 0, 23, -120, true},    // -120.8: truncated to -120, still valid
      {80, 0, 121, 120, true},     // 120.4
      {110, 0, 31, -120, false},   // -121.5: clamped
      {101, 0, 12, 120, false},    // 121.7
      {69, 0, 103, 120, false},    // 1.45 periods of A4 round to one cycle of 303 Hz, far below the root
      {12, 0, 20, -120, false},    // 1562.5 Hz, far above C0 (16 Hz; one cycle at most)
      {200, 0, 1000, 1, true},     // a note number past the table is taken as 127
      {0, 0, std::int64_t{1} << 60, 37, true},  // a huge loop overflows nothing
  };
  for (const Case& c : cases) {
    SampleData s;
    s.rootNote = c.root;
    s.markers.loop = c.loop;
    s.markers.end = c.end;
    s.transpose = 17;
    s.transposeValid = !c.valid;
    AutomaticTranspose(s);
    EXPECT_EQ(s.transpose, c.transpose) << int{c.root} << " " << c.end;
    EXPECT_EQ(s.transposeValid, c.valid) << int{c.root} << " " << c.end;
  }
}

TEST(CardStatistics, SizesAndCounts) {
  CardDocument doc;
  EXPECT_EQ(doc.ComputeStatistics(false).cardSize, 64u);
  EXPECT_EQ(doc.ComputeStatistics(true).cardSize, 128u);
  AppendSound(doc.multisounds, SoundType::Multisound);  // sounds without samples count for nothing
  AppendSound(doc.drumsounds, SoundType::Drumsound);
  EXPECT_EQ(doc.ComputeStatistics(false), (CardStatistics{64, 0, 0, 0}));
  for (WaveType type : {WaveType::PCM, WaveType::DWGS, WaveType::PCM}) {
    Sound* sound = AppendSound(doc.multisounds, SoundType::Multisound);
    sound->waveType = type;
    AppendSample(*sound)->frames.assign(type == WaveType::DWGS ? 10 : 100, 0.0f);
  }
  AppendSample(doc.multisounds[1])->frames.assign(50, 0.0f);
  Sound* drum = AppendSound(doc.drumsounds, SoundType::Drumsound);
  AppendSample(*drum)->frames.assign(7, 0.0f);
  AppendSample(*drum)->frames.assign(3, 0.0f);
  // 64 + 3 multisounds * 14 + 4 zone and sample records * 24 + 2 * 260 frames
  // + drum 12 + 2 sample records * 14 + 2 * 10 frames; wide, every part but the frames doubled
  EXPECT_EQ(doc.ComputeStatistics(false), (CardStatistics{64 + 42 + 96 + 520 + 12 + 28 + 20, 6, 1, 2}));
  EXPECT_EQ(doc.ComputeStatistics(true).cardSize, 128u + 84 + 192 + 520 + 24 + 56 + 20);
}

TEST(SampleValues, StoredValuesConvertBackOthersAreTruncatedAndSaturated) {
  for (int v = -32768; v <= 32767; ++v) {
    const float f = Int16ToFrame(static_cast<std::int16_t>(v));
    ASSERT_EQ(FrameToInt16(f), v) << v;
    ASSERT_EQ(f, static_cast<float>(v / 32767.0));
  }
  // Other frames are truncated toward zero and saturated.
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, int> cases[] = {{0.0f, 0},          {1.0f, 32767},      {-1.0f, -32767},
                                         {0.9999f, 32763},   {-0.9999f, -32763}, {1.2f, 32767},
                                         {-1.2f, -32767},    {1e30f, 32767},     {-1e30f, -32767},
                                         {std::nanf(""), 0}, {inf, 32767},       {-inf, -32767}};
  for (auto [frame, value] : cases) EXPECT_EQ(FrameToInt16(frame), value) << frame;
}

}  // namespace
}  // namespace tavrin
