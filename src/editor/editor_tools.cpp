#include "editor/editor_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "base/alloc.h"
#include "editor/waveform_zoom.h"

namespace tavrin {
namespace {

using namespace Refresh;

constexpr std::uint32_t kTopKeyDragField = 100;
constexpr std::uint32_t kMarkersShown = kMarkerFields | kViewMarkers | kStepButtons | kPreviewMarkers;

// The marker follow-up, with the loop boxes (a found loop turns "Forward" on).
std::uint32_t AfterMarkers(EditorModel& model, SampleData& s) {
  std::uint32_t r = kMarkersShown | kLoopBoxes | kPreviewFlags;
  if ((s.loopFlags & LoopFlags::kForward) != 0 && model.autoTranspose) {
    AutomaticTranspose(s);
    r |= kParameters | kPreviewRate;
  }
  return r;
}

void Say(ToolStatus& status, const char* text) { status.assign(text); }

}  // namespace

EditOutcome FindLoop(EditorModel& model, LoopSearchState& search, const LoopSearchOptions& options, ToolStatus& status,
                     bool compact) {
  SampleData* s = model.CurrentSample();
  status.clear();
  if (!s || model.working.soundType != SoundType::Multisound) return {};
  const std::int64_t from = s->markers.start > 0 ? s->markers.start : -1;
  const std::int64_t to = s->markers.end;
  const bool same = search.sample == model.current && search.compact == compact && search.frames == s->frames.data() &&
                    search.frameCount == s->frames.size() && search.from == from &&
                    search.shown < search.found.size() && s->markers.loop == search.found[search.shown].loop &&
                    s->markers.end == search.found[search.shown].end;
  if (same) {
    search.shown = (search.shown + 1) % search.found.size();
  } else {
    PitchEstimate pitch;
    if (Result r = DetectPitch(s->frames.data(), s->frames.size(), kCardRate, pitch)) return {kNone, r};
    LoopSearchOptions o = options;
    o.from = from;
    o.to = to;
    o.period = pitch.pitched ? kCardRate / pitch.frequency : 0.0;
    if (compact) o.preference = LoopPreference::kCompact;  // the search's own compact pick first
    std::vector<LoopCandidate> found;
    if (Result r = FindLoops(s->frames.data(), s->frames.size(), o, found)) return {kNone, r};
    search = LoopSearchState{std::move(found), 0, model.current, s->frames.data(), s->frames.size(), from, to,
                             o.period, pitch.pitched ? pitch.frequency : 0.0, compact};
  }
  if (search.found.empty()) {
    Say(status, "No loop found");
    return {};
  }
  const LoopCandidate c = search.found[search.shown];
  const double length = static_cast<double>(c.end - c.loop);
  char text[128];
  int n = std::snprintf(text, sizeof text, "Loop %u of %u: %.0f ms", static_cast<unsigned>(search.shown + 1),
                        static_cast<unsigned>(search.found.size()),
                        length * 1000.0 / kCardRate);
  if (search.period > 0.0 && n > 0) {
    const double periods = std::max(1.0, std::round(length / search.period));
    const double cents = 1200.0 * std::log2(kCardRate * periods / length / search.frequency);
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %.0f period%s", periods,
                       periods == 1.0 ? "" : "s");
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %s%.0f dB, %.1f cents",
                       c.errorDb < 0 ? "\xE2\x88\x92" : "", std::fabs(c.errorDb), cents);
  } else if (n > 0) {
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), ", %s%.0f dB", c.errorDb < 0 ? "\xE2\x88\x92" : "",
                  std::fabs(c.errorDb));
  }
  Say(status, text);
  return RecordEdit(model, 0, [&]() -> EditOutcome {
    ApplyLoop(*s, c);
    return {AfterMarkers(model, *s), kOk};
  });
}

Result SnapDragPosition(EditorModel& model, std::int64_t position, std::int64_t& snapped) {
  snapped = position;
  SampleData* s = model.CurrentSample();
  if (!s || !model.snapAtZeros) return kOk;
  if (s->zeroCrossings.empty()) {
    if (Result r = BuildZeroCrossings(*s)) return r;
  }
  snapped = NearestZeroCrossing(s->zeroCrossings, position);
  return kOk;
}

EditOutcome CrossfadeCurrentLoop(EditorModel& model, std::int32_t lengthMs) {
  SampleData* s = model.CurrentSample();
  if (!s || lengthMs < 0 || lengthMs > 1000) return {};
  const std::int64_t n = lengthMs > 0 ? std::int64_t{lengthMs} * kCardRate / 1000 : AutoCrossfadeFrames(*s);
  const MarkerSet& m = s->markers;
  if (n <= 0 || m.loop <= 0 || m.end <= m.loop || m.end > s->frameCount()) return {};
  // The fade works on a copy: the frames before it stay with the history.
  SampleData faded;
  faded.markers = s->markers;
  if (Result r = TryCopy(faded.frames, s->frames)) return {kNone, r};
  if (CrossfadeLoop(faded, n) == 0) return {};
  return RecordEdit(model, 0, [&]() -> EditOutcome {
    model.history.Release(std::move(s->frames), std::move(s->zeroCrossings));
    s->frames = std::move(faded.frames);
    s->zeroCrossings.clear();
    return {kPreviewFrames | kViewMarkers, kOk};
  });
}

EditOutcome DetectSamplePitch(EditorModel& model, bool everySample, ToolStatus& status) {
  status.clear();
  const std::int64_t count = static_cast<std::int64_t>(model.working.samples.size());
  if (model.CurrentSample() == nullptr && !everySample) return {};
  // Measured first, applied in one step.
  std::vector<PitchEstimate> pitches;
  const std::int64_t first = everySample ? 0 : model.current;
  const std::int64_t last = everySample ? count : model.current + 1;
  if (Result r = TryResize(pitches, static_cast<std::size_t>(last - first))) return {kNone, r};
  std::size_t pitched = 0;
  for (std::int64_t i = first; i < last; ++i) {
    const SampleData& s = model.working.samples[static_cast<std::size_t>(i)];
    PitchEstimate& p = pitches[static_cast<std::size_t>(i - first)];
    if (Result r = DetectPitch(s.frames.data(), s.frames.size(), kCardRate, p)) return {kNone, r};
    pitched += p.pitched;
  }
  char text[96];
  if (pitched == 0) {
    Say(status, everySample ? "No pitch found: nothing changed" : "No pitch found (noise or a drum?): nothing changed");
    return {};
  }
  const PitchEstimate& p = pitches.front();
  if (!everySample) {
    const Utf8View name = NoteName(p.note);
    std::snprintf(text, sizeof text, "%.2f Hz: %.*s %+.1f cents", p.frequency, static_cast<int>(name.size()),
                  name.data(), p.cents);
  } else {
    std::snprintf(text, sizeof text, "Pitch set for %u of %u samples", static_cast<unsigned>(pitched),
                  static_cast<unsigned>(pitches.size()));
  }
  Say(status, text);
  return RecordEdit(model, 0, [&]() -> EditOutcome {
    for (std::int64_t i = first; i < last; ++i) {
      ApplyPitch(model.working.samples[static_cast<std::size_t>(i)], pitches[static_cast<std::size_t>(i - first)]);
    }
    return {kParameters | kPreviewRate, kOk};
  });
}

EditOutcome DragTopKey(EditorModel& model, std::int64_t sample, std::int32_t key, bool dragging) {
  if (sample < 0 || sample >= static_cast<std::int64_t>(model.working.samples.size())) return {};
  if (model.working.samples[static_cast<std::size_t>(sample)].nonTranspose) return {};
  const EditOutcome out = RecordEdit(model, kTopKeyDragField, [&]() -> EditOutcome {
    EditOutcome o = model.current == sample ? EditOutcome{} : SelectSample(model, sample);
    model.working.samples[static_cast<std::size_t>(sample)].topKey = static_cast<std::uint8_t>(std::clamp(key, 0, 127));
    o.refresh |= kParameters;
    return o;
  });
  if (!dragging) EndFieldEdit(model);
  return out;
}

EditOutcome TrimToLoop(EditorModel& model, std::uint64_t& bytesFreed) {
  bytesFreed = 0;
  SampleData* s = model.CurrentSample();
  if (!s) return {};
  const MarkerSet& m = s->markers;
  const bool looped = (s->loopFlags & LoopFlags::kForward) != 0 && m.loop >= 0;
  const std::int64_t count = s->frameCount();
  std::int64_t from = std::clamp<std::int64_t>(m.start, 0, count);
  if (looped && m.loop < from) from = m.loop;
  const std::int64_t to = std::clamp<std::int64_t>(m.end, from, count);
  if (from == 0 && to == count) return {};
  std::vector<float> kept;
  if (Result r = TryResize(kept, static_cast<std::size_t>(to - from))) return {kNone, r};
  std::copy(s->frames.begin() + from, s->frames.begin() + to, kept.begin());
  bytesFreed = 2u * static_cast<std::uint64_t>(count - (to - from));
  return RecordEdit(model, 0, [&]() -> EditOutcome {
    const std::int64_t n = to - from;
    const auto shift = [&](std::int64_t& p) {
      if (p >= 0) p = std::clamp<std::int64_t>(p - from, 0, n);
    };
    shift(s->markers.start), shift(s->markers.loop), shift(s->markers.end);
    for (Snapshot& slot : s->snapshots) {
      if (SnapshotFilled(slot)) shift(slot.start), shift(slot.loop), shift(slot.end);
    }
    model.history.Release(std::move(s->frames), std::move(s->zeroCrossings));
    s->frames = std::move(kept);
    s->zeroCrossings.clear();
    return {kPreviewFrames | kMarkersShown | kSnapshotButtons | kEnabling, kOk};
  });
}

Result KeyZones(const Sound& sound, std::vector<KeyZone>& zones) {
  zones.clear();
  const std::size_t n = sound.samples.size();
  if (Result r = TryResize(zones, n)) return r;
  for (std::size_t i = 0; i < n; ++i) zones[i] = {static_cast<std::int64_t>(i), 0, 0, sound.samples[i].rootNote};
  std::stable_sort(zones.begin(), zones.end(), [](const KeyZone& a, const KeyZone& b) { return a.root < b.root; });
  std::int32_t below = -1;
  for (std::size_t i = 0; i < n; ++i) {
    const SampleData& s = sound.samples[static_cast<std::size_t>(zones[i].sample)];
    std::int32_t top = s.topKey;
    if (s.nonTranspose) top = i + 1 == n ? 127 : std::clamp(zones[i + 1].root - 1, 0, 127);
    zones[i].low = below + 1;
    zones[i].high = top;
    below = std::max(below, top);
  }
  return kOk;
}

std::int64_t SampleForNote(const std::vector<KeyZone>& zones, std::int32_t note) {
  for (const KeyZone& z : zones) {
    if (note >= z.low && note <= z.high) return z.sample;
  }
  return -1;
}

double NoteRate(const SampleData& s, std::int32_t note) {
  const double semitones = s.nonTranspose ? 0.0 : static_cast<double>(note - s.rootNote);
  return std::exp2((semitones * 100.0 + s.transpose) / 1200.0);
}

Result BuildSeamView(const SampleData& s, std::int64_t half, double period, SeamView& out, bool& shown) {
  shown = false;
  out.played.clear();
  out.continuation.clear();
  const std::int64_t loop = s.markers.loop, end = s.markers.end, count = s.frameCount();
  if (half <= 0 || loop < 0 || end <= loop || end > count) return kOk;
  const auto n = static_cast<std::size_t>(2 * half);
  if (Result r = TryResize(out.played, n)) return r;
  if (Result r = TryResize(out.continuation, n)) return r;
  const float none = std::numeric_limits<float>::quiet_NaN();
  // As the preview plays it: "Invert Polarity" throughout, "Alternating
  // Polarity" on every other pass, "Forward / Backward" turning at End.
  const bool backAndForth = (s.loopFlags & LoopFlags::kForwardBackward) != 0;
  const float first = (s.loopFlags & LoopFlags::kInvertPolarity) != 0 ? -1.0f : 1.0f;
  const float second = (s.loopFlags & LoopFlags::kAlternatingPolarity) != 0 ? -first : first;
  for (std::int64_t j = -half; j < half; ++j) {
    const std::int64_t own = end + j;
    const auto k = static_cast<std::size_t>(j + half);
    out.continuation[k] = own >= 0 && own < count ? first * s.frames[static_cast<std::size_t>(own)] : none;
    if (j < 0) out.played[k] = out.continuation[k];
  }
  std::int64_t pos = backAndForth ? std::min(end, count - 1) : loop;
  bool backward = backAndForth, odd = true;
  for (auto k = static_cast<std::size_t>(half); k < n; ++k) {
    out.played[k] = (odd ? second : first) * s.frames[static_cast<std::size_t>(pos)];
    if (backward) {
      if (--pos <= loop) backward = false, odd = !odd;
    } else if (++pos >= end) {
      if (backAndForth) {
        backward = true;
      } else {
        pos = loop;
      }
      odd = !odd;
    }
  }
  out.seam = static_cast<std::size_t>(half);
  out.errorDb = SeamErrorDb(s.frames.data(), s.frames.size(), loop, end, period);
  shown = true;
  return kOk;
}

}  // namespace tavrin
