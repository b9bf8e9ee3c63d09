#include "editor/editor_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tavrin {
namespace {

using namespace Refresh;

class EditorModelTest : public ::testing::Test {
 protected:
  // A Multisound of one sample of `frames` frames, made current.
  SampleData& OneSample(std::size_t frames, const char* name = "Bass E1") {
    Sound sound;
    SampleData s;
    s.name.assign(name);
    s.frames.assign(frames, 0.5f);
    s.markers = {0, 0, 0, static_cast<std::int64_t>(frames)};
    sound.samples.push_back(s);
    EXPECT_EQ(OpenSound(model, sound).result, kOk);
    return *model.CurrentSample();
  }
  EditorModel model;
};

TEST_F(EditorModelTest, LoopOptionsFollowTheirRules) {
  struct Case { const char* what; std::uint32_t flags; bool loopOn; std::uint32_t bit; bool checked; std::uint32_t wantFlags; bool wantLoopOn; };
  const Case cases[] = {
      {"alternating turns the loop on", 0, false, 2, true, 6, false},
      {"and off again", 6, false, 2, false, 0, false},
      {"unless the user had turned it on", 6, true, 2, false, 4, true},
      {"forward clears the others", 13, false, 4, true, 4, true},
      {"forward off clears all", 15, true, 4, false, 0, false},
      {"one option of two off", 7, false, 1, false, 6, false},
      {"not an option", 0, false, 3, true, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SampleData& s = OneSample(10);
    s.loopFlags = c.flags;
    s.loopOn = c.loopOn;
    SetLoopOption(model, c.bit, c.checked);
    EXPECT_EQ(s.loopFlags, c.wantFlags);
    EXPECT_EQ(s.loopOn, c.wantLoopOn);
  }
}

TEST_F(EditorModelTest, MarkersTypedDraggedAndStepped) {
  SampleData& s = OneSample(200);
  s.frames[9] = -0.5f;    // crossings at 9 and 10
  s.frames[19] = 0.0f;    // a zero is never part of a crossing:
  s.frames[20] = -0.5f;   // only 21 here
  s.frames[50] = -0.25f;  // crossings at 50 and 51
  // op: 0 typed, 1 dragged, 2 "<", 3 ">"
  struct Case { const char* what; bool snap; std::int64_t from; int op; const char16_t* text; std::int32_t drag, want; };
  const Case cases[] = {
      {"digits among others", false, 0, 0, u"12a3", 0, 12 * 10 + 3},
      {"above the frames", false, 0, 0, u"4294967295", 0, 200},
      {"empty", false, 7, 0, u"", 0, 0},
      {"past 32 bits wraps", false, 0, 0, u"4294967306", 0, 10},
      {"drag negative", false, 5, 1, u"", -3, 0},
      {"drag past the end", false, 5, 1, u"", 500, 200},
      {"< at 0 stays", false, 0, 2, u"", 0, 0},
      {"< from negative stays", false, -1, 2, u"", 0, -1},
      {"> from negative", false, -1, 3, u"", 0, 0},
      {"> at the end stays", false, 200, 3, u"", 0, 200},
      {"snap < to the crossing below", true, 20, 2, u"", 0, 10},
      {"snap < from the first", true, 9, 2, u"", 0, 0},
      {"snap > over the zero", true, 10, 3, u"", 0, 21},
      {"snap > to the crossing above", true, 21, 3, u"", 0, 50},
      {"snap > past the last", true, 51, 3, u"", 0, 200},
      {"snap < from negative", true, -1, 2, u"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    model.snapAtZeros = c.snap;
    s.markers.loop = c.from;
    const EditOutcome out = c.op == 0   ? TypeMarker(model, MarkerId::Loop, c.text)
                            : c.op == 1 ? DragMarker(model, MarkerId::Loop, c.drag)
                                        : StepMarker(model, MarkerId::Loop, c.op == 3);
    EXPECT_EQ(s.markers.loop, c.want);
    EXPECT_EQ((out.refresh & kMarkerFields) != 0, c.op != 0);  // a typed field is not rewritten
    EXPECT_NE(out.refresh & kPreviewMarkers, 0u);
  }
  EXPECT_EQ(s.zeroCrossings.size(), 5u);
  EXPECT_EQ(s.zeroCrossings[0], (ZeroCrossing{0, 9}));
  EXPECT_EQ(s.zeroCrossings[1], (ZeroCrossing{1, 10}));
}

TEST_F(EditorModelTest, SnappingOnTinySamplesGoesToTheEnds) {
  for (std::size_t n : {0u, 1u}) {
    SampleData& s = OneSample(n);
    StepMarker(model, MarkerId::Start, true);
    EXPECT_EQ(s.markers.start, static_cast<std::int64_t>(n));
    StepMarker(model, MarkerId::Start, false);
    EXPECT_EQ(s.markers.start, 0);
  }
}

TEST_F(EditorModelTest, SnapshotsClearStoreAndRecall) {
  SampleData& s = OneSample(100);
  s.markers = {3, 10, 20, 30};
  EXPECT_EQ(PressSnapshot(model, 2, false).refresh, kSnapshotButtons | kUndoButtons);  // store into the empty slot
  s.snapshots[2].loop = -1;                                              // any -1 empties a slot
  EXPECT_FALSE(SnapshotFilled(s.snapshots[2]));
  PressSnapshot(model, 2, true);
  EXPECT_EQ(s.snapshots[2], Snapshot{});
  PressSnapshot(model, 2, false);
  EXPECT_EQ(s.snapshots[2], (MarkerSet{3, 10, 20, 30}));
  s.markers = {0, 1, 2, 3};
  s.loopFlags = 4;
  const EditOutcome out = PressSnapshot(model, 2, false);
  EXPECT_EQ(s.markers, (MarkerSet{3, 10, 20, 30}));
  EXPECT_NE(out.refresh & kMarkerFields, 0u);
  EXPECT_NE(out.refresh & kPreviewRate, 0u);  // the automatic transpose ran
}

TEST_F(EditorModelTest, NotesAndTranspose) {
  SampleData& s = OneSample(1000, "Bass E1");
  RootNoteFromSampleName(model);
  EXPECT_EQ(s.rootNote, 28);
  s.name.assign("Kick");
  RootNoteFromSampleName(model);
  EXPECT_EQ(s.rootNote, 28);
  SelectRootNote(model, -1);
  EXPECT_EQ(s.rootNote, 0);
  s.nonTranspose = true;
  SelectTopKey(model, 50);
  EXPECT_EQ(s.topKey, 96);  // ignored while non transpose is set

  // Roots 60, 40, 72: "To Next Root Note" from 40 gives 59; from 72 nothing.
  model.working.samples.resize(3);
  for (int i : {0, 1, 2}) model.working.samples[i].rootNote = static_cast<std::uint8_t>(i == 1 ? 40 : 60 + 12 * (i / 2));
  SelectSample(model, 1);
  ToNextRootNote(model);
  EXPECT_EQ(model.working.samples[1].topKey, 59);
  SelectSample(model, 2);
  ToNextRootNote(model);
  EXPECT_EQ(model.working.samples[2].topKey, 96);

  SampleData& t = model.working.samples[2];
  t.transposeValid = false;
  SetTranspose(model, 500);
  EXPECT_EQ(t.transpose, 120);
  EXPECT_TRUE(t.transposeValid);
  SetLevel(model, 5), SetVdfCutoff(model, -51), SetDecayLevel(model, 51);
  EXPECT_EQ(t.level, 0);
  EXPECT_EQ(t.vdfCutoff, -50);
  EXPECT_EQ(t.decayLevel, 50);
}

TEST_F(EditorModelTest, SoundNameWaveTypeAndEnabling) {
  OneSample(10);
  const EditOutcome out = SetSoundName(model, u"ABCDEFGHIJKL");
  EXPECT_EQ(std::string(model.working.name.view()), "ABCDEFGHIJ");
  EXPECT_EQ(out.refresh, kTitle | kUndoButtons);
  SetWaveType(model, false, true);
  EXPECT_EQ(model.working.waveType, WaveType::DWGS);
  EXPECT_TRUE(ComputeEnabling(model).dwgs);
  model.working.soundType = SoundType::Drumsound;
  SetWaveType(model, true, false);
  EXPECT_EQ(model.working.waveType, WaveType::DWGS);  // a Drumsound ignores it
  model.working.samples[0].loopFlags = 4;
  EXPECT_EQ(ShownLoopFlags(model), 0u);
  const Enabling e = ComputeEnabling(model);
  EXPECT_FALSE(e.add);
  EXPECT_FALSE(e.loopBoxes);
  EXPECT_FALSE(e.stepUp[2]);  // end is at the frame count
  EXPECT_TRUE(e.stepDown[2]);
}

TEST_F(EditorModelTest, DwgsConversionMakesEightWaves) {
  SampleData& s = OneSample(1000, "Saw C2");
  for (std::size_t i = 0; i < 1000; ++i) s.frames[i] = static_cast<float>(std::sin(i * 0.0314));
  s.snapshots[0] = {1, 2, 3, 4};
  const EditOutcome out = ConvertToDwgs(model);
  ASSERT_EQ(out.result, kOk);
  EXPECT_NE(out.refresh & kSampleList, 0u);
  ASSERT_EQ(model.working.samples.size(), 8u);
  EXPECT_EQ(model.working.waveType, WaveType::DWGS);
  const std::uint8_t transposes[] = {14, 16, 17, 19, 20, 22, 23, 25};
  for (std::size_t i = 0; i < 8; ++i) {
    const SampleData& w = model.working.samples[i];
    const std::int64_t n = 512 >> i;
    EXPECT_EQ(std::string(w.name.view()), "Saw B" + std::to_string(i + 1));
    EXPECT_EQ(w.frameCount(), n);
    EXPECT_EQ(w.markers, (MarkerSet{0, n / 2, 0, n}));
    EXPECT_EQ(w.rootNote, 35 + 12 * i);
    EXPECT_EQ(w.topKey, 41 + 12 * i);
    EXPECT_EQ(w.transpose, transposes[i]);
    EXPECT_EQ(w.loopFlags, 4u);
    EXPECT_EQ(w.level, -15);
    EXPECT_EQ(w.snapshots[0], (Snapshot{1, 2, 3, 4}));
  }
}

TEST_F(EditorModelTest, DwgsConversionThatCannotResampleChangesNothing) {
  OneSample(0, "Pad A3");
  const Sound before = model.working;
  const EditOutcome out = ConvertToDwgs(model);
  EXPECT_NE(out.result, kOk);
  ASSERT_EQ(model.working.samples.size(), 1u);
  EXPECT_EQ(std::string(model.working.samples[0].name.view()), "Pad A3");
  EXPECT_EQ(model.working.waveType, before.waveType);
}

TEST_F(EditorModelTest, NoteNamesAreStripped) {
  const std::pair<const char*, const char*> cases[] = {
      {"Saw C2", "Saw"}, {"Pad_A3-x", "Pad-x"}, {"CC2", "CC2"}, {"Str C#4 C5", "Str"}, {"A0A0", "A0"},
  };
  for (const auto& [in, want] : cases) {
    SampleName name;
    name.assign(in);
    StripNoteNames(name);
    EXPECT_EQ(std::string(name.view()), want) << in;
  }
}

TEST_F(EditorModelTest, ResamplingScalesMarkersWithoutOverflow) {
  SampleData& s = OneSample(100);
  s.markers = {0, -1, std::numeric_limits<std::int64_t>::max(), 50};
  ASSERT_EQ(ResampleSampleTo(s, 512), kOk);
  EXPECT_EQ(s.markers, (MarkerSet{0, -5, std::numeric_limits<std::int64_t>::max(), 256}));
  EXPECT_TRUE(s.zeroCrossings.empty());
}

TEST(FieldNumber, SignsDigitsAndUnfinishedText) {
  struct Row {
    const char16_t* text;
    bool number;
    std::int32_t value;
  } rows[] = {{u"", false, 0},     {u"-", false, 0},   {u"\u2212", false, 0}, {u"12", true, 12},
              {u"-7", true, -7},   {u"\u2212120", true, -120}, {u"1-2", false, 0}, {u"--1", false, 0},
              {u"123456789", true, 123456789}, {u"1234567890", false, 0}, {u"+5", false, 0}};
  for (const Row& r : rows) {
    std::int32_t v = 0;
    EXPECT_EQ(ReadFieldNumber(r.text, v), r.number) << static_cast<int>(r.text[0]);
    EXPECT_EQ(v, r.value);
  }
}

}  // namespace
}  // namespace tavrin
