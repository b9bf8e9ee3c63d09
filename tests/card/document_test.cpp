#include "card/document.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace tavrin {
namespace {

SampleData LoopSample(std::uint8_t root, std::int64_t loop, std::int64_t end) {
  SampleData s;
  s.rootNote = root;
  s.markers.loop = loop;
  s.markers.end = end;
  return s;
}

TEST(Document, DefaultsAndReset) {
  CardDocument doc;
  EXPECT_EQ(doc.name.view(), "Corvask");
  EXPECT_EQ(doc.cardCapacity, 524288u);
  EXPECT_FALSE(doc.modified);
  doc.name.assign("X");
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
}

TEST(Document, NewSampleDefaults) {
  Sound sound;
  SampleData* s = AppendSample(sound);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->topKey, 96);
  EXPECT_EQ(s->rootNote, 12);
  EXPECT_EQ(s->zoneAttribute, 5);
  EXPECT_TRUE(s->transposeValid);
  EXPECT_FALSE(s->nonTranspose);
  EXPECT_EQ(s->markers.start, -1);
  EXPECT_EQ(s->markers.loop, -1);
  EXPECT_EQ(s->markers.end, -1);
  for (const Snapshot& snap : s->snapshots) {
    EXPECT_EQ(snap.start, -1);
    EXPECT_EQ(snap.loop, -1);
    EXPECT_EQ(snap.end, -1);
    EXPECT_EQ(snap.sampleAttribute, 0);
  }
}

TEST(Document, CardNameIsCutAtTenBytes) {
  CardDocument doc;
  doc.name.assignUtf16(u"ABCDEFGHIJKL");
  EXPECT_EQ(doc.name.view(), "ABCDEFGHIJ");
  doc.name.assignUtf16(u"ABCDEFGHI\u00E9");  // é would pass the tenth byte: left out whole
  EXPECT_EQ(doc.name.view(), "ABCDEFGHI");
}

TEST(Document, SoundListOperations) {
  std::vector<Sound> list;
  for (const char* n : {"A", "B", "C", "D"}) {
    Sound* s = AppendSound(list, SoundType::Multisound);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->name.empty());
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

TEST(Document, ReplaceSoundDeepCopies) {
  Sound target;
  target.name.assign("Old");
  AppendSample(target);
  Sound edited;
  edited.name.assign("New");
  edited.waveType = WaveType::DWGS;
  SampleData* s = AppendSample(edited);
  s->frames = {0.25f, -0.5f};
  s->zeroCrossings = {{1, 1}};
  AppendSample(edited);
  ASSERT_EQ(ReplaceSound(target, edited), kOk);
  EXPECT_EQ(target.name.view(), "New");
  EXPECT_EQ(target.waveType, WaveType::DWGS);
  ASSERT_EQ(target.samples.size(), 2u);
  EXPECT_EQ(target.samples[0].frames, edited.samples[0].frames);
  EXPECT_EQ(target.samples[0].zeroCrossings, edited.samples[0].zeroCrossings);
  edited.samples[0].frames[0] = 1.0f;
  EXPECT_EQ(target.samples[0].frames[0], 0.25f);
}

TEST(NoteTable, NamesAndFrequencies) {
  const auto& t = NoteTable();
  EXPECT_EQ(t[0].name.view(), "C-1");
  EXPECT_EQ(t[1].name.view(), "C#-1");
  EXPECT_EQ(t[11].name.view(), "B-1");
  EXPECT_EQ(t[12].name.view(), "C0");
  EXPECT_EQ(t[60].name.view(), "C4");
  EXPECT_EQ(t[61].name.view(), "C#4");
  EXPECT_EQ(t[96].name.view(), "C7");
  EXPECT_EQ(t[127].name.view(), "G9");
  for (int n = 0; n < 128; ++n) {
    EXPECT_EQ(t[static_cast<std::size_t>(n)].number, n);
    const double f = 440.0 * std::pow(2.0, (n - 69) / 12.0);
    EXPECT_NEAR(t[static_cast<std::size_t>(n)].frequency / f, 1.0, 2e-7);
  }
  EXPECT_NEAR(t[0].frequency, 8.1758, 1e-4);
  EXPECT_NEAR(t[127].frequency, 12543.8556151145, 1e-6);
  EXPECT_NEAR(t[69].frequency, 440.0, 440.0 * 2e-6);
  EXPECT_TRUE(NoteName(128).empty());
}

TEST(Document, NameSampleAfterRootNote) {
  SampleData s;
  s.name.assign("Piano");
  s.rootNote = 61;
  NameSampleAfterRootNote(s);
  EXPECT_EQ(s.name.view(), "Piano C#4");
  SampleData full;
  full.name.assign("0123456789012345678901234567890");  // 31 bytes: room for the space only
  full.rootNote = 60;
  NameSampleAfterRootNote(full);
  EXPECT_EQ(full.name.view(), "0123456789012345678901234567890 ");
}

TEST(AutomaticTranspose, ZeroLoopLeavesTransposeAndSetsValid) {
  SampleData s = LoopSample(60, 1000, 1000);
  s.transpose = 17;
  s.transposeValid = false;
  AutomaticTranspose(s);
  EXPECT_EQ(s.transpose, 17);
  EXPECT_TRUE(s.transposeValid);
}

TEST(AutomaticTranspose, WorkedExamples) {
  SampleData a = LoopSample(69, 0, 71);
  AutomaticTranspose(a);
  EXPECT_EQ(a.transpose, 0);
  EXPECT_TRUE(a.transposeValid);
  SampleData b = LoopSample(60, 0, 1000);
  AutomaticTranspose(b);
  EXPECT_EQ(b.transpose, 78);
  EXPECT_TRUE(b.transposeValid);
}

TEST(AutomaticTranspose, ClampsAndMarksInvalid) {
  // A 103-frame loop is 1.45 periods of A4: it rounds to one cycle of
  // 303 Hz, far below the root.
  SampleData low = LoopSample(69, 0, 103);
  AutomaticTranspose(low);
  EXPECT_EQ(low.transpose, 120);
  EXPECT_FALSE(low.transposeValid);
  // A 20-frame loop is 1562.5 Hz, far above C0 (16 Hz; one cycle at most).
  SampleData high = LoopSample(12, 0, 20);
  AutomaticTranspose(high);
  EXPECT_EQ(high.transpose, -120);
  EXPECT_FALSE(high.transposeValid);
  // Huge loops must not overflow anything.
  SampleData huge = LoopSample(0, 0, std::int64_t{1} << 60);
  AutomaticTranspose(huge);
  EXPECT_GE(huge.transpose, -120);
  EXPECT_LE(huge.transpose, 120);
  // Out-of-range note numbers never index past the table.
  SampleData odd = LoopSample(200, 0, 1000);
  AutomaticTranspose(odd);
}

TEST(AutomaticTranspose, TruncatesTowardZeroBeforeClamping) {
  // Search loop lengths for results of -120.x and 120.x cents: truncation
  // gives exactly +-120, which is still valid.
  bool sawLow = false, sawHigh = false;
  for (std::int64_t len = 10; len < 4000 && !(sawLow && sawHigh); ++len) {
    for (int note = 0; note < 128; ++note) {
      SampleData s = LoopSample(static_cast<std::uint8_t>(note), 0, len);
      const double f = NoteTable()[static_cast<std::size_t>(note)].frequency;
      const double cycles = std::round(len / (31250.0 / std::round(f)));
      const double period = cycles > 1 ? len / cycles : static_cast<double>(len);
      const double t = 1200.0 * std::log2(f / (31250.0 / period));
      AutomaticTranspose(s);
      if (t < -120.0 && t > -121.0) {
        EXPECT_EQ(s.transpose, -120);
        EXPECT_TRUE(s.transposeValid);
        sawLow = true;
      }
      if (t > 120.0 && t < 121.0) {
        EXPECT_EQ(s.transpose, 120);
        EXPECT_TRUE(s.transposeValid);
        sawHigh = true;
      }
    }
  }
  EXPECT_TRUE(sawLow);
  EXPECT_TRUE(sawHigh);
}

TEST(CardStatistics, EmptyAndWide) {
  CardDocument doc;
  EXPECT_EQ(doc.ComputeStatistics(false).cardSize, 64u);
  EXPECT_EQ(doc.ComputeStatistics(true).cardSize, 128u);
  AppendSound(doc.multisounds, SoundType::Multisound);  // no samples: nothing changes
  AppendSound(doc.drumsounds, SoundType::Drumsound);
  EXPECT_EQ(doc.ComputeStatistics(false), (CardStatistics{64, 0, 0, 0}));
}

TEST(CardStatistics, SizesAndCounts) {
  CardDocument doc;
  Sound* pcm = AppendSound(doc.multisounds, SoundType::Multisound);
  AppendSample(*pcm)->frames.assign(100, 0.0f);
  AppendSample(*pcm)->frames.assign(50, 0.0f);
  Sound* dwgs = AppendSound(doc.multisounds, SoundType::Multisound);
  dwgs->waveType = WaveType::DWGS;
  AppendSample(*dwgs)->frames.assign(10, 0.0f);
  Sound* drum = AppendSound(doc.drumsounds, SoundType::Drumsound);
  AppendSample(*drum)->frames.assign(7, 0.0f);
  AppendSample(*drum)->frames.assign(3, 0.0f);
  const CardStatistics s = doc.ComputeStatistics(false);
  // 64 + 2 multisounds * 14 + 3 zone+sample records * 24 + 2*160 frames
  // + drum 12 + 2 sample records * 14 + 2*10 frames
  EXPECT_EQ(s.cardSize, 64u + 28 + 72 + 320 + 12 + 28 + 20);
  EXPECT_EQ(s.sampleCount, 5);
  EXPECT_EQ(s.pcmMultisoundCount, 1);
  EXPECT_EQ(s.dwgsMultisoundCount, 1);
  const CardStatistics w = doc.ComputeStatistics(true);
  EXPECT_EQ(w.cardSize, 128u + 56 + 144 + 320 + 24 + 56 + 20);
}

TEST(CardStatistics, OnlyDwgs) {
  CardDocument doc;
  Sound* dwgs = AppendSound(doc.multisounds, SoundType::Multisound);
  dwgs->waveType = WaveType::DWGS;
  AppendSample(*dwgs)->frames.assign(8, 0.0f);
  const CardStatistics s = doc.ComputeStatistics(false);
  EXPECT_GT(s.dwgsMultisoundCount, 0);
  EXPECT_EQ(s.pcmMultisoundCount, 0);
}

TEST(SampleValues, EveryStoredValueConvertsBackToItself) {
  for (int v = -32768; v <= 32767; ++v) {
    const float f = Int16ToFrame(static_cast<std::int16_t>(v));
    ASSERT_EQ(FrameToInt16(f), v) << v;
    ASSERT_EQ(f, static_cast<float>(v / 32767.0));
  }
}

TEST(SampleValues, TruncationSaturationAndNaN) {
  EXPECT_EQ(FrameToInt16(0.0f), 0);
  EXPECT_EQ(FrameToInt16(1.0f), 32767);
  EXPECT_EQ(FrameToInt16(-1.0f), -32767);
  EXPECT_EQ(FrameToInt16(0.9999f), 32763);     // 32763.7 truncates
  EXPECT_EQ(FrameToInt16(-0.9999f), -32763);   // toward zero
  EXPECT_EQ(FrameToInt16(1.2f), 32767);        // overshoot saturates, never wraps
  EXPECT_EQ(FrameToInt16(-1.2f), -32767);
  EXPECT_EQ(FrameToInt16(1e30f), 32767);
  EXPECT_EQ(FrameToInt16(-1e30f), -32767);
  EXPECT_EQ(FrameToInt16(std::nanf("")), 0);
  EXPECT_EQ(FrameToInt16(std::numeric_limits<float>::infinity()), 32767);
  EXPECT_EQ(FrameToInt16(-std::numeric_limits<float>::infinity()), -32767);
}

}  // namespace
}  // namespace tavrin
