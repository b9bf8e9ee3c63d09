#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <tuple>

#include "audio/pitch.h"
#include "editor/editor_tools.h"

// Allocations in this test program fail on demand: after `g_allocsLeft` more
// when it is not negative.
namespace {
long g_allocsLeft = -1;
}  // namespace
// ThreadSanitizer brings its own operator new, which cannot be replaced:
// there no allocation fails and those tests check only the good path.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVRIN_OWN_NEW 0
#endif
#endif
#if !defined(TAVRIN_OWN_NEW) && defined(__SANITIZE_THREAD__)
#define TAVRIN_OWN_NEW 0
#endif
#ifndef TAVRIN_OWN_NEW
#define TAVRIN_OWN_NEW 1
#endif
#if TAVRIN_OWN_NEW
void* operator new(std::size_t n) {
  if (g_allocsLeft == 0) throw std::bad_alloc();
  if (g_allocsLeft > 0) --g_allocsLeft;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // this operator new takes from malloc
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
// The temporary buffers of std::stable_sort come from the nothrow form: the
// same heap, so that every delete above frees what it was given.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
#endif

namespace tavrin {
namespace {

auto All(const SampleData& s) {
  return std::tie(s.nonTranspose, s.transposeValid, s.loopFlags, s.loopOn, s.markers, s.topKey, s.zoneAttribute,
                  s.transpose, s.rootNote, s.level, s.vdfCutoff, s.decayLevel, s.snapshots, s.frames);
}

::testing::AssertionResult Same(const Sound& a, const Sound& b) {
  if (a.name.view() != b.name.view() || a.waveType != b.waveType || a.samples.size() != b.samples.size()) {
    return ::testing::AssertionFailure() << "sound fields or sample count differ";
  }
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    if (a.samples[i].name.view() != b.samples[i].name.view() || All(a.samples[i]) != All(b.samples[i])) {
      return ::testing::AssertionFailure() << "sample " << i << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

Sound ThreeSamples() {
  Sound sound;
  sound.name.assign("Strings");
  const char* names[] = {"Bass E1", "Pad A3", "Lead C5"};
  const std::size_t sizes[] = {1000, 500, 200};
  for (int i = 0; i < 3; ++i) {
    SampleData s;
    s.name.assign(names[i]);
    for (std::size_t k = 0; k < sizes[i]; ++k) s.frames.push_back(static_cast<float>(std::sin(k * 0.2 + i)));
    s.markers = {0, 10, 100, static_cast<std::int64_t>(sizes[i])};
    s.rootNote = static_cast<std::uint8_t>(40 + 17 * i);
    s.loopFlags = LoopFlags::kForward;
    s.loopOn = true;
    s.snapshots[1] = {0, 1, 2, 3};
    sound.samples.push_back(s);
  }
  return sound;
}

struct Edit {
  const char* what;
  std::function<EditOutcome(EditorModel&)> run;
  std::uint64_t pooled;  // frames the history holds aside after the edit
  bool oneSample = false;
};

const Edit kEdits[] = {
    {"sound name", [](EditorModel& m) { return SetSoundName(m, u"Choir"); }, 0},
    {"wave type", [](EditorModel& m) { return SetWaveType(m, false, true); }, 0},
    {"loop option", [](EditorModel& m) { return SetLoopOption(m, LoopFlags::kInvertPolarity, true); }, 0},
    {"typed marker", [](EditorModel& m) { return TypeMarker(m, MarkerId::End, u"900"); }, 0},
    {"dragged marker", [](EditorModel& m) { return DragMarker(m, MarkerId::Loop, 321); }, 0},
    {"stepped marker", [](EditorModel& m) { return StepMarker(m, MarkerId::Start, true); }, 0},
    {"swap", [](EditorModel& m) { return SwapStartAndLoop(m); }, 0},
    {"snapshot store", [](EditorModel& m) { return PressSnapshot(m, 4, false); }, 0},
    {"snapshot recall", [](EditorModel& m) { return PressSnapshot(m, 1, false); }, 0},
    {"snapshot clear", [](EditorModel& m) { return PressSnapshot(m, 1, true); }, 0},
    {"non transpose", [](EditorModel& m) { return SetNonTranspose(m, true); }, 0},
    {"root note", [](EditorModel& m) { return SelectRootNote(m, 45); }, 0},
    {"top key", [](EditorModel& m) { return SelectTopKey(m, 50); }, 0},
    {"root from name", [](EditorModel& m) { return SelectSample(m, 1), RootNoteFromSampleName(m); }, 0},
    {"to next root", [](EditorModel& m) { return ToNextRootNote(m); }, 0},
    {"transpose", [](EditorModel& m) { return SetTranspose(m, -33); }, 0},
    {"level", [](EditorModel& m) { return SetLevel(m, -20); }, 0},
    {"cutoff", [](EditorModel& m) { return SetVdfCutoff(m, 7); }, 0},
    {"decay", [](EditorModel& m) { return SetDecayLevel(m, -7); }, 0},
    {"sample name", [](EditorModel& m) { return RenameSample(m, u"Cello"); }, 0},
    {"append",
     [](EditorModel& m) {
       std::vector<SampleData> in(2);
       in[0].frames.assign(70, 0.25f);
       return AppendSamples(m, in);
     },
     0},
    {"remove", [](EditorModel& m) { return RemoveSample(m, 1); }, 500},
    {"move", [](EditorModel& m) { return MoveSample(m, 0, 2); }, 0},
    {"dwgs", [](EditorModel& m) { return ConvertToDwgs(m); }, 1000, true},
};

TEST(EditHistory, EveryEditUndoesAndRedoesWithoutCopyingFrames) {
  for (const Edit& e : kEdits) {
    SCOPED_TRACE(e.what);
    EditorModel m;
    Sound base = ThreeSamples();
    if (e.oneSample) base.samples.resize(1);
    ASSERT_EQ(OpenSound(m, base).result, kOk);
    const Sound before = m.working;
    const float* firstFrames = m.working.samples[0].frames.data();
    const EditOutcome out = e.run(m);
    ASSERT_EQ(out.result, kOk);
    EXPECT_NE(out.refresh & Refresh::kUndoButtons, 0u);
    ASSERT_FALSE(Same(m.working, before)) << "the edit changed nothing";
    EXPECT_EQ(m.history.PooledFrames(), e.pooled);
    const Sound after = m.working;
    const std::int64_t currentAfter = m.current;
    EXPECT_EQ(Undo(m).refresh, Refresh::kEverything);
    EXPECT_TRUE(Same(m.working, before));
    EXPECT_EQ(m.working.samples[0].frames.data(), firstFrames);  // moved back, not copied
    EXPECT_FALSE(CanUndo(m));
    ASSERT_TRUE(CanRedo(m));
    Redo(m);
    EXPECT_TRUE(Same(m.working, after));
    EXPECT_EQ(m.current, currentAfter);
    EXPECT_EQ(Redo(m).refresh, Refresh::kNone);
  }
}

TEST(EditHistory, TypingIntoOneFieldIsOneStep) {
  EditorModel m;
  ASSERT_EQ(OpenSound(m, ThreeSamples()).result, kOk);
  for (const char16_t* t : {u"1", u"12", u"123"}) TypeMarker(m, MarkerId::End, t);
  EndFieldEdit(m);
  TypeMarker(m, MarkerId::End, u"99");                // a new visit to the field
  TypeMarker(m, MarkerId::End, u"99");                // no change: no step
  for (int x : {5, 6, 7}) DragMarker(m, MarkerId::Loop, x, true);
  DragMarker(m, MarkerId::Loop, 8, false);
  DragMarker(m, MarkerId::Loop, 9, false);            // a second drag
  SetLevel(m, -1), SetLevel(m, -12), SetTranspose(m, 4), SetLevel(m, -3);  // another field in between
  EXPECT_EQ(m.history.StepCount(), 7u);
  const std::int64_t ends[] = {99, 123};
  Undo(m), Undo(m), Undo(m), Undo(m);
  EXPECT_EQ(m.working.samples[0].markers.loop, 8);
  Undo(m);
  EXPECT_EQ(m.working.samples[0].markers.loop, 100);
  for (std::int64_t end : ends) {
    EXPECT_EQ(m.working.samples[0].markers.end, end);
    Undo(m);
  }
  EXPECT_EQ(m.working.samples[0].markers.end, 1000);
  // An edit after an undo drops what could be redone, and its frames.
  std::vector<SampleData> in(1);
  in[0].frames.assign(70, 0.5f);
  AppendSamples(m, in);
  Undo(m);
  EXPECT_EQ(m.history.PooledFrames(), 70u);
  SetSoundName(m, u"X");
  EXPECT_EQ(m.history.PooledFrames(), 0u);
  EXPECT_FALSE(CanRedo(m));
}

TEST(EditHistory, NoMemoryLeavesModelAndHistoryAsTheyWere) {
  const Edit* edits[] = {&kEdits[3], &kEdits[5], &kEdits[21], &kEdits[23]};
  for (const Edit* e : edits) {
    SCOPED_TRACE(e->what);
    EditorModel m;
    Sound base = ThreeSamples();
    if (e->oneSample) base.samples.resize(1);
    ASSERT_EQ(OpenSound(m, base).result, kOk);
    const Sound before = m.working;
    Result r = kOutOfMemory;
    for (long k = 0; r == kOutOfMemory; ++k) {
      g_allocsLeft = k;
      r = e->run(m).result;
      g_allocsLeft = -1;
      if (r == kOk) break;
      ASSERT_EQ(r, kOutOfMemory);
      ASSERT_TRUE(Same(m.working, before)) << "after " << k << " allocations";
      ASSERT_FALSE(CanUndo(m));
    }
    const Sound after = m.working;
    for (long k = 0;; ++k) {
      g_allocsLeft = k;
      r = Undo(m).result;
      g_allocsLeft = -1;
      if (r == kOk) break;
      ASSERT_TRUE(Same(m.working, after));
    }
    EXPECT_TRUE(Same(m.working, before));
  }
}

// A 220 Hz tone after a short attack, and a noise.
Sound ToneAndNoise() {
  Sound sound;
  sound.samples.resize(2);
  std::uint32_t seed = 5;
  for (std::size_t i = 0; i < 31250; ++i) {
    const double t = i * 6.283185307179586 * 220 / 31250;
    const double attack = i < 2000 ? i / 2000.0 : 1.0;
    sound.samples[0].frames.push_back(static_cast<float>(attack * (0.5 * std::sin(t) + 0.2 * std::sin(3 * t + 1))));
    seed = seed * 1664525u + 1013904223u;
    sound.samples[1].frames.push_back(static_cast<float>(seed >> 8) / 16777216.0f - 0.5f);
  }
  for (SampleData& s : sound.samples) s.markers = {0, 0, 0, 31250};
  return sound;
}

TEST(EditorTools, EachToolChangesTheSoundAsSaidAndUndoes) {
  // The loops `tavrin analyze` lists for the tone.
  const SampleData tone = ToneAndNoise().samples[0];
  PitchEstimate pitch;
  ASSERT_EQ(DetectPitch(tone.frames.data(), tone.frames.size(), kCardRate, pitch), kOk);
  LoopSearchOptions options;
  options.to = 31250;
  options.period = kCardRate / pitch.frequency;
  std::vector<LoopCandidate> listed;
  ASSERT_EQ(FindLoops(tone.frames.data(), tone.frames.size(), options, listed), kOk);
  ASSERT_GE(listed.size(), 2u);

  std::vector<LoopCandidate> byLength;  // as the compact choice steps through them
  options.preference = LoopPreference::kCompact;
  ASSERT_EQ(FindLoops(tone.frames.data(), tone.frames.size(), options, byLength), kOk);
  ASSERT_GE(byLength.size(), 2u);
  LoopSearchState search;
  ToolStatus status;
  std::uint64_t freed = 0;
  const auto findLoop = [&](EditorModel& m) { return FindLoop(m, search, LoopSearchOptions{}, status); };
  const auto loopIs = [](const LoopCandidate& c) {
    return [c](const Sound&, const Sound& a) {
      EXPECT_EQ(a.samples[0].markers.loop, c.loop);
      EXPECT_EQ(a.samples[0].markers.end, c.end);
      EXPECT_NE(a.samples[0].loopFlags & LoopFlags::kForward, 0u);
    };
  };
  struct Row {
    const char* what;
    std::function<void(EditorModel&)> setup;
    std::function<EditOutcome(EditorModel&)> run;
    std::function<void(const Sound& before, const Sound& after)> check;
  };
  const Row rows[] = {
      {"find loop", nullptr, findLoop, loopIs(listed[0])},
      {"find loop again", [&](EditorModel& m) { findLoop(m); }, findLoop, loopIs(listed[1])},
      {"the second compact loop", [&](EditorModel& m) { FindLoop(m, search, {}, status, true); },
       [&](EditorModel& m) { return FindLoop(m, search, {}, status, true); }, loopIs(byLength[1])},
      {"crossfade",
       [](EditorModel& m) {  // a loop point in the attack: the two sides differ
         m.working.samples[0].markers = {0, 0, 1000, 20000};
         m.working.samples[0].loopFlags = LoopFlags::kForward;
       }, [](EditorModel& m) { return CrossfadeCurrentLoop(m, 3); },
       [](const Sound& b, const Sound& a) {
         const std::int64_t end = a.samples[0].markers.end;
         int changed = 0;
         for (std::int64_t i = 0; i < 31250; ++i) {
           const bool differs = a.samples[0].frames[i] != b.samples[0].frames[i];
           if (i < end - 93 || i >= end) {
             ASSERT_FALSE(differs) << i;  // only the 3 ms before End
           }
           changed += differs;
         }
         EXPECT_GT(changed, 46);
       }},
      {"detect pitch", nullptr, [&](EditorModel& m) { return DetectSamplePitch(m, false, status); },
       [](const Sound&, const Sound& a) { EXPECT_EQ(a.samples[0].rootNote, 57); }},
      {"detect pitch of every sample", nullptr, [&](EditorModel& m) { return DetectSamplePitch(m, true, status); },
       [](const Sound& b, const Sound& a) {
         EXPECT_EQ(a.samples[0].rootNote, 57);
         EXPECT_EQ(a.samples[1].rootNote, b.samples[1].rootNote);
       }},
      {"top key", nullptr, [](EditorModel& m) { return DragTopKey(m, 1, 70, false); },
       [](const Sound&, const Sound& a) { EXPECT_EQ(a.samples[1].topKey, 70); }},
      {"trim with the loop off: Loop before Start does not count",
       [](EditorModel& m) { m.working.samples[0].markers = {0, 1000, 500, 20000}; },
       [&](EditorModel& m) { return TrimToLoop(m, freed); },
       [&](const Sound& b, const Sound& a) {
         EXPECT_EQ(freed, 2u * (31250 - 19000));
         EXPECT_EQ(a.samples[0].frames[0], b.samples[0].frames[1000]);
       }},
      {"trim",
       [](EditorModel& m) {
         m.working.samples[0].markers = {0, 1000, 500, 20000};
         m.working.samples[0].loopFlags = LoopFlags::kForward;
       },
       [&](EditorModel& m) { return TrimToLoop(m, freed); },
       [&](const Sound& b, const Sound& a) {
         EXPECT_EQ(freed, 2u * (31250 - 19500));
         EXPECT_EQ(a.samples[0].markers, (MarkerSet{0, 500, 0, 19500}));
         EXPECT_EQ(a.samples[0].frames.size(), 19500u);
         EXPECT_EQ(a.samples[0].frames[0], b.samples[0].frames[500]);
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EditorModel m;
    ASSERT_EQ(OpenSound(m, ToneAndNoise()).result, kOk);
    if (r.setup) r.setup(m);
    const Sound before = m.working;
    ASSERT_EQ(r.run(m).result, kOk);
    const Sound after = m.working;
    ASSERT_FALSE(Same(after, before));
    r.check(before, after);
    Undo(m);
    EXPECT_TRUE(Same(m.working, before));
    Redo(m);
    EXPECT_TRUE(Same(m.working, after));
  }
  EXPECT_EQ(std::string(status.view()).rfind("Pitch set for 1 of 2", 0), 0u);
  EditorModel m;
  ASSERT_EQ(OpenSound(m, ToneAndNoise()).result, kOk);
  findLoop(m);
  EXPECT_EQ(std::string(status.view()).rfind("Loop 1 of " + std::to_string(listed.size()) + ": ", 0), 0u);
  std::int64_t snapped = 0;
  ASSERT_EQ(SnapDragPosition(m, 1000, snapped), kOk);
  EXPECT_NE(m.working.samples[0].frames[snapped - 1] < 0, m.working.samples[0].frames[snapped] < 0);
  EXPECT_LT(std::llabs(snapped - 1000), 72);  // within half a period of 220 Hz
  m.working.samples[1].nonTranspose = true;
  DragTopKey(m, 1, 70, false);
  EXPECT_EQ(m.working.samples[1].topKey, 96);  // "Non Transpose": the top key is the card's to derive
  SelectSample(m, 1);
  EXPECT_EQ(DetectSamplePitch(m, false, status).refresh, Refresh::kNone);
  EXPECT_EQ(std::string(status.view()).rfind("No pitch found", 0), 0u);
  findLoop(m);  // unpitched: a length and a seam, no periods
  EXPECT_EQ(std::string(status.view()).find("period"), std::string::npos) << status.view();
  EXPECT_NE(std::string(status.view()).find(" dB"), std::string::npos) << status.view();
}

TEST(EditorTools, KeyZonesAsTheCardMapsThem) {
  Sound sound;
  sound.samples.resize(4);
  const std::uint8_t roots[] = {60, 48, 72, 50}, tops[] = {64, 55, 0, 52};
  for (int i = 0; i < 4; ++i) sound.samples[i].rootNote = roots[i], sound.samples[i].topKey = tops[i];
  sound.samples[2].nonTranspose = true;
  sound.samples[0].transpose = 30;
  std::vector<KeyZone> zones;
  ASSERT_EQ(KeyZones(sound, zones), kOk);
  const std::int32_t want[][3] = {{1, 0, 55}, {3, 56, 52}, {0, 56, 64}, {2, 65, 127}};  // sample, low, high
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(zones[i].sample, want[i][0]);
    EXPECT_EQ(zones[i].low, want[i][1]);
    EXPECT_EQ(zones[i].high, want[i][2]);
  }
  EXPECT_EQ(SampleForNote(zones, 55), 1);
  EXPECT_EQ(SampleForNote(zones, 56), 0);  // the empty zone of sample 3 plays nothing
  EXPECT_EQ(SampleForNote(zones, 127), 2);
  EXPECT_DOUBLE_EQ(NoteRate(sound.samples[1], 60), 2.0);
  EXPECT_DOUBLE_EQ(NoteRate(sound.samples[0], 60), std::exp2(30.0 / 1200));
  EXPECT_DOUBLE_EQ(NoteRate(sound.samples[2], 100), 1.0);
  // "Non Transpose" below another sample: up to the key under that one's root.
  sound.samples[0].nonTranspose = true;
  ASSERT_EQ(KeyZones(sound, zones), kOk);
  EXPECT_EQ(zones[2].high, 71);
  EXPECT_EQ(zones[3].low, 72);
}

}  // namespace
}  // namespace tavrin
