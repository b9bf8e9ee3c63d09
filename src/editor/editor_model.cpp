#include "editor/editor_model.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "audio/import.h"
#include "audio/resampler.h"
#include "base/alloc.h"

namespace tavrin {
namespace {

using namespace Refresh;

constexpr std::uint32_t kMarkerChange = kViewMarkers | kStepButtons | kPreviewMarkers;

std::int64_t& MarkerRef(MarkerSet& markers, MarkerId id) {
  switch (id) {
    case MarkerId::Start: return markers.start;
    case MarkerId::Loop: return markers.loop;
    default: return markers.end;
  }
}

bool IsMultisound(const EditorModel& model) { return model.working.soundType == SoundType::Multisound; }

// The automatic transpose when the loop is on and "Auto-Calc. Transpose" is
// checked; shared by the marker and parameter follow-ups.
std::uint32_t AutoTransposeFollowUp(EditorModel& model, SampleData& s) {
  if ((s.loopFlags & LoopFlags::kForward) == 0 || !model.autoTranspose) return kNone;
  AutomaticTranspose(s);
  return kParameters | kPreviewRate;
}

std::uint32_t MarkerFollowUp(EditorModel& model, SampleData& s) { return kMarkerChange | AutoTransposeFollowUp(model, s); }

std::int64_t LimitToFrames(std::int64_t v, const SampleData& s) { return std::clamp<std::int64_t>(v, 0, s.frameCount()); }

// x * to / from in signed 64-bit, truncating toward zero, saturating instead
// of overflowing for positions far outside the frames.
std::int64_t ScalePosition(std::int64_t x, std::uint64_t to, std::uint64_t from) {
  const std::int64_t n = static_cast<std::int64_t>(from);
  const std::int64_t t = static_cast<std::int64_t>(to);
  const std::int64_t q = x / n;
  const std::int64_t r = x % n;  // |r| < n, and n x t fits for frame counts
  const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / t;
  if (q > limit) return std::numeric_limits<std::int64_t>::max();
  if (q < -limit) return std::numeric_limits<std::int64_t>::min();
  return q * t + r * t / n;
}

struct DwgsRow {
  std::uint64_t frames;
  std::uint8_t root;
  std::uint8_t top;
  std::int8_t transpose;
};
constexpr DwgsRow kDwgsRows[] = {
    {512, 35, 41, 14}, {256, 47, 53, 16}, {128, 59, 65, 17}, {64, 71, 77, 19},
    {32, 83, 89, 20},  {16, 95, 101, 22}, {8, 107, 113, 23}, {4, 119, 125, 25},
};

// The forward pass for one note name: the offset just past its first match,
// or 0 when it does not occur.
std::size_t FindNoteName(Utf8View s, Utf8View note) {
  if (note.empty()) return 0;
  std::size_t m = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == note[m]) {
      if (++m == note.size()) return i + 1;
    } else {
      m = 0;
    }
  }
  return 0;
}

}  // namespace

SampleData* EditorModel::CurrentSample() {
  if (current < 0 || current >= static_cast<std::int64_t>(working.samples.size())) return nullptr;
  return &working.samples[static_cast<std::size_t>(current)];
}

const SampleData* EditorModel::CurrentSample() const { return const_cast<EditorModel*>(this)->CurrentSample(); }

Enabling ComputeEnabling(const EditorModel& model) {
  const SampleData* s = model.CurrentSample();
  const bool S = s != nullptr;
  const bool M = IsMultisound(model);
  const bool P = S && M;
  const std::size_t n = model.working.samples.size();
  Enabling e;
  e.waveRadios = M;
  e.playAndSnapshots = e.swapAndSnap = e.markerFieldsEditable = e.remove = S;
  e.loopBoxes = e.pitchControls = e.parameterFields = P;
  e.topKeyList = P && !s->nonTranspose;
  for (std::uint32_t i = 0; i < 3; ++i) {
    const std::int64_t v = S ? MarkerValue(s->markers, static_cast<MarkerId>(i)) : 0;
    e.stepDown[i] = S && v > 0;
    e.stepUp[i] = S && v < s->frameCount();
  }
  e.add = M || n == 0;
  e.exportSamples = n > 0;
  e.dwgs = M && n == 1;
  return e;
}

std::uint32_t ShownLoopFlags(const EditorModel& model) {
  const SampleData* s = model.CurrentSample();
  return s && IsMultisound(model) ? s->loopFlags : 0;
}

bool SnapshotFilled(const Snapshot& slot) { return slot.start != -1 && slot.loop != -1 && slot.end != -1; }

std::int64_t MarkerValue(const MarkerSet& markers, MarkerId id) {
  MarkerSet copy = markers;
  return MarkerRef(copy, id);
}

bool ReadFieldNumber(Utf16View text, std::int32_t& value) {
  std::size_t i = 0;
  const bool negative = !text.empty() && (text[0] == u'-' || text[0] == u'\u2212');
  if (negative) i = 1;
  if (i == text.size() || text.size() - i > 9) return false;
  std::int32_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
  }
  value = negative ? -v : v;
  return true;
}

EditOutcome OpenSound(EditorModel& model, const Sound& sound) {
  Sound copy;
  if (Result r = ReplaceSound(copy, sound)) return {kNone, r};
  if (Result r = model.history.Reset(copy)) return {kNone, r};
  model.working = std::move(copy);  // the buffers stay where the history saw them
  return SelectSample(model, 0);
}

void CloseSound(EditorModel& model) {
  model.history.Clear();
  model.working = Sound{};
  model.current = -1;
}

EditOutcome SelectSample(EditorModel& model, std::int64_t index) {
  model.history.EndField();
  model.current = index >= 0 && index < static_cast<std::int64_t>(model.working.samples.size()) ? index : -1;
  return {kTitle | kSoundFields | kSampleList | kLoopBoxes | kMarkerFields | kViewMarkers | kStepButtons | kParameters |
              kSnapshotButtons | kEnabling | kPreviewMarkers | kPreviewFlags | kPreviewRate | kPreviewFrames,
          kOk};
}

static EditOutcome SetSoundNameRule(EditorModel& model, Utf16View text) {
  model.working.name.assignUtf16(text.substr(0, 15));
  return {kTitle, kOk};
}

static EditOutcome SetWaveTypeRule(EditorModel& model, bool pcmChecked, bool dwgsChecked) {
  if (!IsMultisound(model)) return {};
  if (pcmChecked) {
    model.working.waveType = WaveType::PCM;
  } else if (dwgsChecked) {
    model.working.waveType = WaveType::DWGS;
  }
  return {};
}

static EditOutcome SetLoopOptionRule(EditorModel& model, std::uint32_t bit, bool checked) {
  SampleData* s = model.CurrentSample();
  constexpr std::uint32_t kOptions = LoopFlags::kForwardBackward | LoopFlags::kAlternatingPolarity | LoopFlags::kInvertPolarity;
  const bool oneOption = bit != 0 && (bit & (bit - 1)) == 0 && (bit & (kOptions | LoopFlags::kForward)) != 0;
  if (!s || !IsMultisound(model) || !oneOption) return {};
  if (bit == LoopFlags::kForward) {
    s->loopOn = checked;
    s->loopFlags = checked ? LoopFlags::kForward : 0;
  } else if (checked) {
    s->loopFlags |= bit | LoopFlags::kForward;
  } else {
    s->loopFlags &= ~bit;
    if ((s->loopFlags & kOptions) == 0 && !s->loopOn) s->loopFlags = 0;
  }
  return {kLoopBoxes | kPreviewFlags, kOk};
}

static EditOutcome TypeMarkerRule(EditorModel& model, MarkerId id, Utf16View text) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  std::uint32_t value = 0;
  for (char16_t c : text.substr(0, 15)) {
    if (c >= u'0' && c <= u'9') value = value * 10u + static_cast<std::uint32_t>(c - u'0');
  }
  MarkerRef(s->markers, id) = std::min<std::int64_t>(value, s->frameCount());
  return {MarkerFollowUp(model, *s), kOk};
}

static EditOutcome DragMarkerRule(EditorModel& model, MarkerId id, std::int32_t position) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  MarkerRef(s->markers, id) = LimitToFrames(position, *s);
  return {kMarkerFields | MarkerFollowUp(model, *s), kOk};
}

static EditOutcome StepMarkerRule(EditorModel& model, MarkerId id, bool up) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  std::int64_t& m = MarkerRef(s->markers, id);
  const std::int64_t count = s->frameCount();
  if (!model.snapAtZeros) {
    if (!up && m > 0) --m;
    if (up && m < count) ++m;
  } else {
    if (s->zeroCrossings.empty()) {
      if (Result r = BuildZeroCrossings(*s)) return {kNone, r};
    }
    const auto& zc = s->zeroCrossings;
    const auto below = [](const ZeroCrossing& z, std::int64_t v) { return z.frame < v; };
    if (up) {
      const auto it = std::upper_bound(zc.begin(), zc.end(), m,
                                       [](std::int64_t v, const ZeroCrossing& z) { return v < z.frame; });
      m = it == zc.end() ? count : it->frame;
    } else {
      const auto it = std::lower_bound(zc.begin(), zc.end(), m, below);
      m = it == zc.begin() ? 0 : std::prev(it)->frame;
    }
  }
  return {kMarkerFields | MarkerFollowUp(model, *s), kOk};
}

static EditOutcome SwapStartAndLoopRule(EditorModel& model) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  std::swap(s->markers.start, s->markers.loop);
  return {kMarkerFields | MarkerFollowUp(model, *s), kOk};
}

static EditOutcome PressSnapshotRule(EditorModel& model, std::uint32_t k, bool alt) {
  SampleData* s = model.CurrentSample();
  if (!s || k >= s->snapshots.size()) return {};
  Snapshot& slot = s->snapshots[k];
  if (alt) {
    slot = Snapshot{};
    return {kSnapshotButtons, kOk};
  }
  if (SnapshotFilled(slot)) {
    s->markers = slot;
    return {kSnapshotButtons | kMarkerFields | MarkerFollowUp(model, *s), kOk};
  }
  slot = s->markers;
  return {kSnapshotButtons, kOk};
}

static EditOutcome SetNonTransposeRule(EditorModel& model, bool checked) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  s->nonTranspose = checked;
  return {kParameters | kEnabling, kOk};
}

static EditOutcome SelectRootNoteRule(EditorModel& model, std::int32_t index) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  s->rootNote = index >= 0 && index <= 127 ? static_cast<std::uint8_t>(index) : 0;
  return {kParameters | AutoTransposeFollowUp(model, *s), kOk};
}

static EditOutcome SelectTopKeyRule(EditorModel& model, std::int32_t index) {
  SampleData* s = model.CurrentSample();
  if (!s || s->nonTranspose) return {};
  s->topKey = index >= 0 && index <= 127 ? static_cast<std::uint8_t>(index) : 0;
  return {kParameters, kOk};
}

static EditOutcome RootNoteFromSampleNameRule(EditorModel& model) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  const auto note = RootNoteFromName(s->name.view());
  if (!note) return {};
  s->rootNote = note->number;
  return {kParameters | AutoTransposeFollowUp(model, *s), kOk};
}

static EditOutcome ToNextRootNoteRule(EditorModel& model) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  int next = 256;
  for (const SampleData& other : model.working.samples) {
    if (&other != s && other.rootNote > s->rootNote && other.rootNote < next) next = other.rootNote;
  }
  if (next != 256) s->topKey = static_cast<std::uint8_t>(next - 1);
  return {kParameters, kOk};
}

static EditOutcome SetTransposeRule(EditorModel& model, std::int32_t cents) {
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  s->transpose = static_cast<std::int8_t>(std::clamp(cents, -120, 120));
  s->transposeValid = true;
  return {kParameters | kPreviewRate, kOk};
}

static EditOutcome SetLevelRule(EditorModel& model, std::int32_t value) {
  if (SampleData* s = model.CurrentSample()) s->level = static_cast<std::int8_t>(std::clamp(value, -99, 0));
  return {};
}

static EditOutcome SetVdfCutoffRule(EditorModel& model, std::int32_t value) {
  if (SampleData* s = model.CurrentSample()) s->vdfCutoff = static_cast<std::int8_t>(std::clamp(value, -50, 50));
  return {};
}

static EditOutcome SetDecayLevelRule(EditorModel& model, std::int32_t value) {
  if (SampleData* s = model.CurrentSample()) s->decayLevel = static_cast<std::int8_t>(std::clamp(value, -50, 50));
  return {};
}

Result BuildZeroCrossings(SampleData& sample) {
  sample.zeroCrossings.clear();
  const std::vector<float>& x = sample.frames;
  std::size_t count = 0;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) count += static_cast<double>(x[i]) * x[i + 1] < 0.0;
  if (Result r = TryResize(sample.zeroCrossings, count)) {
    sample.zeroCrossings.clear();
    return r;
  }
  std::size_t k = 0;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    if (static_cast<double>(x[i]) * x[i + 1] < 0.0) {
      sample.zeroCrossings[k++] = {x[i + 1] > x[i] ? 1 : 0, static_cast<std::int64_t>(i + 1)};
    }
  }
  return kOk;
}

Result ResampleSampleTo(SampleData& sample, std::uint64_t frames) {
  const std::uint64_t n = sample.frames.size();
  if (n == frames) return kOk;
  if (n == 0) return kMissingBuffer;  // nothing to make a wave from
  const std::uint64_t rate = static_cast<std::uint64_t>(kCardRate) * frames / n;
  if (rate == 0 || rate > UINT32_MAX) return kInvalidArgument;
  std::vector<float> out;
  if (Result r = TryResize(out, static_cast<std::size_t>(frames))) return r;
  if (Result r = Resampler(sample.frames.data(), n, kCardRate, out.data(), frames, static_cast<std::uint32_t>(rate))) {
    return r;
  }
  sample.frames = std::move(out);
  sample.zeroCrossings.clear();
  sample.markers.start = ScalePosition(sample.markers.start, frames, n);
  sample.markers.loop = ScalePosition(sample.markers.loop, frames, n);
  sample.markers.end = ScalePosition(sample.markers.end, frames, n);
  return kOk;
}

void StripNoteNames(SampleName& name) {
  for (const NoteEntry& note : NoteTable()) {
    const Utf8View s = name.view();
    const std::size_t past = FindNoteName(s, note.name.view());
    if (past == 0) continue;
    std::size_t from = past - note.name.length;
    if (from > 0 && (s[from - 1] == ' ' || s[from - 1] == '-' || s[from - 1] == '_')) --from;
    std::copy(name.bytes + past, name.bytes + name.length, name.bytes + from);
    name.length -= past - from;
  }
}

void ApplyDwgsWaveSettings(SampleData& s) {
  const std::int64_t n = s.frameCount();
  s.loopFlags = LoopFlags::kForward;
  s.transposeValid = true;
  s.markers.start = n / 2;
  s.markers.loop = 0;
  s.markers.end = n;
  s.zoneAttribute = 5;
  s.level = -15;
  s.vdfCutoff = 0;
  s.decayLevel = 0;
  for (const DwgsRow& row : kDwgsRows) {
    if (row.frames != static_cast<std::uint64_t>(n)) continue;
    s.rootNote = row.root;
    s.topKey = row.top;
    s.transpose = row.transpose;
  }
}

static EditOutcome ConvertToDwgsRule(EditorModel& model) {
  Sound& sound = model.working;
  if (sound.samples.size() != 1 || !IsMultisound(model)) return {};
  // Everything is built aside; the Sound changes only when every step worked.
  std::vector<SampleData> waves;
  if (Result r = TryReserve(waves, 8)) return {kNone, r};
  waves.push_back(SampleData{});
  if (Result r = TryCopy(waves[0], sound.samples[0])) return {kNone, r};
  StripNoteNames(waves[0].name);
  const SampleName base = waves[0].name;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i > 0) {
      waves.push_back(SampleData{});  // within the reserved capacity
      if (Result r = TryCopy(waves[i], waves[i - 1])) return {kNone, r};
    }
    const std::uint64_t frames = i == 0 ? 512 : waves[i - 1].frames.size() / 2;
    if (Result r = ResampleSampleTo(waves[i], frames)) return {kNone, r};
    ApplyDwgsWaveSettings(waves[i]);
  }
  for (SampleData& w : waves) {
    w.name = base;
    NameSampleAfterRootNote(w);
  }
  model.history.Release(std::move(sound.samples[0].frames), std::move(sound.samples[0].zeroCrossings));
  sound.samples = std::move(waves);
  sound.waveType = WaveType::DWGS;
  return SelectSample(model, 0);
}

// --- Every change as one step of the history ----------------------------------

namespace {

// Fields whose typing joins into one step.
enum Field : std::uint32_t {
  kNoField = 0,
  kSoundNameField,
  kTypedMarkerField,  // + marker
  kDraggedMarkerField = kTypedMarkerField + 3,  // + marker
  kTransposeField = kDraggedMarkerField + 3,
  kLevelField,
  kCutoffField,
  kDecayField,
  kSampleNameField,
};

std::uint32_t MarkerField(Field base, MarkerId id) { return base + static_cast<std::uint32_t>(id); }

}  // namespace

EditOutcome SetSoundName(EditorModel& model, Utf16View text) {
  return RecordEdit(model, kSoundNameField, [&] { return SetSoundNameRule(model, text); });
}
EditOutcome SetWaveType(EditorModel& model, bool pcmChecked, bool dwgsChecked) {
  return RecordEdit(model, kNoField, [&] { return SetWaveTypeRule(model, pcmChecked, dwgsChecked); });
}
EditOutcome SetLoopOption(EditorModel& model, std::uint32_t bit, bool checked) {
  return RecordEdit(model, kNoField, [&] { return SetLoopOptionRule(model, bit, checked); });
}
EditOutcome TypeMarker(EditorModel& model, MarkerId id, Utf16View text) {
  return RecordEdit(model, MarkerField(kTypedMarkerField, id), [&] { return TypeMarkerRule(model, id, text); });
}
EditOutcome DragMarker(EditorModel& model, MarkerId id, std::int32_t position, bool dragging) {
  const EditOutcome out =
      RecordEdit(model, MarkerField(kDraggedMarkerField, id), [&] { return DragMarkerRule(model, id, position); });
  if (!dragging) model.history.EndField();
  return out;
}
EditOutcome StepMarker(EditorModel& model, MarkerId id, bool up) {
  return RecordEdit(model, kNoField, [&] { return StepMarkerRule(model, id, up); });
}
EditOutcome SwapStartAndLoop(EditorModel& model) {
  return RecordEdit(model, kNoField, [&] { return SwapStartAndLoopRule(model); });
}
EditOutcome PressSnapshot(EditorModel& model, std::uint32_t k, bool alt) {
  return RecordEdit(model, kNoField, [&] { return PressSnapshotRule(model, k, alt); });
}
EditOutcome SetNonTranspose(EditorModel& model, bool checked) {
  return RecordEdit(model, kNoField, [&] { return SetNonTransposeRule(model, checked); });
}
EditOutcome SelectRootNote(EditorModel& model, std::int32_t index) {
  return RecordEdit(model, kNoField, [&] { return SelectRootNoteRule(model, index); });
}
EditOutcome SelectTopKey(EditorModel& model, std::int32_t index) {
  return RecordEdit(model, kNoField, [&] { return SelectTopKeyRule(model, index); });
}
EditOutcome RootNoteFromSampleName(EditorModel& model) {
  return RecordEdit(model, kNoField, [&] { return RootNoteFromSampleNameRule(model); });
}
EditOutcome ToNextRootNote(EditorModel& model) {
  return RecordEdit(model, kNoField, [&] { return ToNextRootNoteRule(model); });
}
EditOutcome SetTranspose(EditorModel& model, std::int32_t cents) {
  return RecordEdit(model, kTransposeField, [&] { return SetTransposeRule(model, cents); });
}
EditOutcome SetLevel(EditorModel& model, std::int32_t value) {
  return RecordEdit(model, kLevelField, [&] { return SetLevelRule(model, value); });
}
EditOutcome SetVdfCutoff(EditorModel& model, std::int32_t value) {
  return RecordEdit(model, kCutoffField, [&] { return SetVdfCutoffRule(model, value); });
}
EditOutcome SetDecayLevel(EditorModel& model, std::int32_t value) {
  return RecordEdit(model, kDecayField, [&] { return SetDecayLevelRule(model, value); });
}
EditOutcome ConvertToDwgs(EditorModel& model) {
  return RecordEdit(model, kNoField, [&] { return ConvertToDwgsRule(model); }, 8);
}

EditOutcome Undo(EditorModel& model) {
  Result r = kOk;
  if (!model.history.Undo(model.working, model.current, r)) return {r == kOk ? kNone : kUndoButtons, r};
  return {kEverything, kOk};
}

EditOutcome Redo(EditorModel& model) {
  Result r = kOk;
  if (!model.history.Redo(model.working, model.current, r)) return {r == kOk ? kNone : kUndoButtons, r};
  return {kEverything, kOk};
}

bool CanUndo(const EditorModel& model) { return model.history.CanUndo(); }
bool CanRedo(const EditorModel& model) { return model.history.CanRedo(); }
void EndFieldEdit(EditorModel& model) { model.history.EndField(); }

EditOutcome AppendSamples(EditorModel& model, std::vector<SampleData>& imported) {
  if (imported.empty()) return {};
  return RecordEdit(
      model, kNoField,
      [&]() -> EditOutcome {
        std::vector<SampleData>& list = model.working.samples;
        if (Result r = TryReserve(list, list.size() + imported.size())) return {kNone, r};
        for (SampleData& s : imported) list.push_back(std::move(s));  // reserved
        imported.clear();
        return SelectSample(model, static_cast<std::int64_t>(list.size()) - 1);
      },
      imported.size());
}

EditOutcome RemoveSample(EditorModel& model, std::int64_t index) {
  std::vector<SampleData>& list = model.working.samples;
  if (index < 0 || index >= static_cast<std::int64_t>(list.size())) return {};
  return RecordEdit(model, kNoField, [&] {
    SampleData& gone = list[static_cast<std::size_t>(index)];
    model.history.Release(std::move(gone.frames), std::move(gone.zeroCrossings));
    list.erase(list.begin() + index);
    return SelectSample(model, list.empty() ? -1 : std::max<std::int64_t>(index - 1, 0));
  });
}

EditOutcome MoveSample(EditorModel& model, std::int64_t from, std::int64_t to) {
  std::vector<SampleData>& list = model.working.samples;
  const auto n = static_cast<std::int64_t>(list.size());
  if (from < 0 || to < 0 || from >= n || to >= n || from == to) return {};
  return RecordEdit(model, kNoField, [&] {
    const auto a = list.begin() + from, b = list.begin() + to;
    if (from < to) std::rotate(a, a + 1, b + 1);
    else std::rotate(b, a, a + 1);
    return SelectSample(model, to);
  });
}

EditOutcome RenameSample(EditorModel& model, Utf16View text) {
  return RecordEdit(model, kSampleNameField, [&]() -> EditOutcome {
    SampleData* s = model.CurrentSample();
    if (!s) return {};
    s->name.assignUtf16(text);
    return {kSampleList | kTitle, kOk};
  });
}

}  // namespace tavrin
