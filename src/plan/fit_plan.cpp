// The planner works on a copy of the document whose samples are never cut:
// each keeps the range of its frames that the card would hold, so every
// position a step records is one of the sample as planned, and a step can be
// taken later on the document itself, alone or with others.
#include "plan/fit_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/alloc.h"
#include "plan/loop_choice.h"

namespace tavrin {
namespace {

using fit::LoopChoice;
using fit::LoopKind;

constexpr std::int64_t kMs = kCardRate / 1000;
constexpr std::int64_t kSustainWindow = 100 * kMs;   // over which a sustain's level is taken
constexpr double kHeldDb = -10.0;                    // a sustain within this of its start level is held
// A new loop ends this far into the sustain: as early as a good one is found
// (an ensemble needs room for a long crossfade).
constexpr std::int64_t kNaturalRegions[] = {300 * kMs, 600 * kMs, 1000 * kMs};
constexpr std::int64_t kLongLoop = 100 * kMs;        // loops longer than this may become compact
// Where a compact loop is sought after the old Loop; the last, for an
// ensemble that holds no short loop, takes a crossfaded one of 100 ms or more.
constexpr std::int64_t kCompactRegions[] = {40 * kMs, 80 * kMs, 320 * kMs};
constexpr std::int64_t kWorthFrames = 10 * kMs;      // a change saving less is not made
constexpr double kDecayFloor = 0.001;                // -60 dB of the peak
constexpr std::int64_t kFadeFrames = 5 * kMs;

struct SampleRef {
  SoundType type = SoundType::Multisound;
  std::size_t sound = 0, sample = 0;
};

// The card's view of one sample while planning.
struct Live {
  bool editable = false;  // a PCM Multisound sample or a Drumsound's first one
  bool removed = false;
  std::int64_t keepFrom = 0, keepTo = 0;
  std::int64_t lastStep = -1;
};

using LiveLists = std::vector<std::vector<Live>>;

std::uint64_t Width(CardLayout layout) { return layout == CardLayout::WideCard ? 2 : 1; }

// The image size as the builder lays it out, from the frames each sample
// keeps (`frames` gives a negative count for a sample that is gone).
template <class Frames>
std::uint64_t SizeOf(const CardDocument& doc, CardLayout layout, Frames frames) {
  std::uint64_t multis = 0, zones = 0, drums = 0, values = 0, dwgsValues = 0;
  bool dwgsSeen = false;
  for (std::size_t i = 0; i < doc.multisounds.size(); ++i) {
    std::uint64_t n = 0, v = 0;
    for (std::size_t j = 0; j < doc.multisounds[i].samples.size(); ++j) {
      const std::int64_t f = frames(SoundType::Multisound, i, j);
      if (f < 0) continue;
      ++n;
      v += static_cast<std::uint64_t>(f);
    }
    if (n == 0) continue;
    ++multis;
    if (doc.multisounds[i].waveType == WaveType::DWGS) {
      // Later DWGS sounds share the first one's records; their frames follow its own.
      if (dwgsSeen) {
        values += dwgsValues;
        continue;
      }
      dwgsSeen = true;
      dwgsValues = v;
    }
    zones += n;
    values += v;
  }
  for (std::size_t i = 0; i < doc.drumsounds.size(); ++i) {
    if (doc.drumsounds[i].samples.empty()) continue;
    const std::int64_t f = frames(SoundType::Drumsound, i, 0);  // only the first sample is stored
    if (f < 0) continue;
    ++drums;
    values += static_cast<std::uint64_t>(f);
  }
  const std::uint64_t blocks = zones + drums;
  return Width(layout) * (64 + 14 * (multis + blocks) + 12 * drums + 10 * zones) + 2 * values;
}

bool Looped(const SampleData& s) { return s.loopOn || (s.loopFlags & 0xFF) != 0; }

bool MarkersValid(const SampleData& s) {
  const MarkerSet& m = s.markers;
  return m.start >= 0 && m.start < m.end && m.end <= s.frameCount() && (!Looped(s) || (m.loop >= 0 && m.loop < m.end));
}

double Rms(const float* x, std::int64_t from, std::int64_t to) {
  double sum = 0.0;
  for (std::int64_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
  return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// A change to one sample, before it is made.
struct Change {
  SampleRef ref;
  bool skipped = false;
  std::int64_t keepFrom = 0, keepTo = 0;
  MarkerSet markers;
  bool loopOn = false;
  std::uint32_t loopFlags = 0;
  std::int64_t crossfade = 0, fade = 0;
  double seamDb = 0.0, cents = 0.0;
  std::uint64_t saving = 0;
  FitText what;
};

class Planner {
 public:
  Planner(const FitOptions& options, FitPlan& plan) : options_(options), plan_(plan) {}

  Result Run(const CardDocument& doc) {
    original_ = &doc;
    if (Result r = TryCopy(work_, doc)) return r;
    if (Result r = InitLive(work_.multisounds, multi_)) return r;
    if (Result r = InitLive(work_.drumsounds, drum_)) return r;
    plan_.sizeBefore = Size();
    using Maker = Result (Planner::*)(const SampleRef&, Change&, bool&);
    const Maker makers[] = {&Planner::UnplayedFrames, &Planner::NewLoop, &Planner::CompactLoop, &Planner::DecayEnd};
    const FitStepKind kinds[] = {FitStepKind::UnplayedFrames, FitStepKind::NewLoop, FitStepKind::CompactLoop,
                                 FitStepKind::DecayEnd};
    for (std::size_t k = 0; k < 4 && !Fits(); ++k) {
      if (Result r = SampleSteps(kinds[k], makers[k])) return r;
      if (k == 0 && !Fits()) {
        if (Result r = UnplayedSamples()) return r;
      }
    }
    while (!Fits()) {
      bool thinned = false;
      if (Result r = ThinOneZone(thinned)) return r;
      if (!thinned) break;
    }
    plan_.sizeAfter = Size();
    plan_.fits = Fits();
    if (!plan_.fits) return ListSoundChoices();
    return kOk;
  }

 private:
  static Result InitLive(const std::vector<Sound>& sounds, LiveLists& lists) {
    if (Result r = TryResize(lists, sounds.size())) return r;
    for (std::size_t i = 0; i < sounds.size(); ++i) {
      const Sound& sound = sounds[i];
      if (Result r = TryResize(lists[i], sound.samples.size())) return r;
      for (std::size_t j = 0; j < sound.samples.size(); ++j) {
        Live& l = lists[i][j];
        l.keepTo = sound.samples[j].frameCount();
        l.editable = sound.soundType == SoundType::Drumsound ? j == 0 : sound.waveType == WaveType::PCM;
      }
    }
    return kOk;
  }

  Live& LiveOf(const SampleRef& r) { return (r.type == SoundType::Drumsound ? drum_ : multi_)[r.sound][r.sample]; }
  Sound& SoundOf(const SampleRef& r) {
    return (r.type == SoundType::Drumsound ? work_.drumsounds : work_.multisounds)[r.sound];
  }
  SampleData& SampleOf(const SampleRef& r) { return SoundOf(r).samples[r.sample]; }
  // The sample as the document holds it, before any step: same positions.
  const SampleData& OriginalOf(const SampleRef& r) {
    return (r.type == SoundType::Drumsound ? original_->drumsounds : original_->multisounds)[r.sound].samples[r.sample];
  }

  std::uint64_t Size() {
    return SizeOf(work_, options_.layout, [this](SoundType t, std::size_t i, std::size_t j) -> std::int64_t {
      const Live& l = (t == SoundType::Drumsound ? drum_ : multi_)[i][j];
      return l.removed ? -1 : l.keepTo - l.keepFrom;
    });
  }
  bool Fits() { return Size() <= options_.capacity; }

  // Describes a sample as "Sound: Sample".
  static void Name(FitText& t, const Sound& sound, const SampleData& s) {
    t.assign(sound.name.view());
    t.append(": ");
    t.append(s.name.view());
  }
  static void AppendF(FitText& t, const char* format, double a = 0, double b = 0, double c = 0) {
    char text[120];
    std::snprintf(text, sizeof text, format, a, b, c);
    t.append(text);
  }

  Result Record(FitStep step, const SampleRef& ref, std::int64_t& lastStep) {
    step.soundType = ref.type;
    step.sound = ref.sound;
    step.sample = ref.sample;
    step.after = step.skipped ? -1 : lastStep;
    step.sizeAfter = Size();
    if (Result r = TryPushBack(plan_.steps, step)) return r;
    if (!step.skipped) lastStep = static_cast<std::int64_t>(plan_.steps.size() - 1);
    return kOk;
  }

  // Every editable sample's change of one kind, the largest saving first,
  // taken until the card fits; the last one taken is the smallest that
  // brings it within capacity, so the plan keeps what it does not need to cut.
  Result SampleSteps(FitStepKind kind, Result (Planner::*make)(const SampleRef&, Change&, bool&)) {
    std::vector<Change> changes;
    for (SoundType t : {SoundType::Multisound, SoundType::Drumsound}) {
      const LiveLists& lists = t == SoundType::Drumsound ? drum_ : multi_;
      for (std::size_t i = 0; i < lists.size(); ++i) {
        for (std::size_t j = 0; j < lists[i].size(); ++j) {
          if (!lists[i][j].editable || lists[i][j].removed) continue;
          Change c;
          c.ref = SampleRef{t, i, j};
          bool wanted = false;
          if (Result r = (this->*make)(c.ref, c, wanted)) return r;
          if (wanted && TryPushBack(changes, c) != kOk) return kOutOfMemory;
        }
      }
    }
    std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
      return a.skipped != b.skipped ? b.skipped : a.saving > b.saving;
    });
    while (!changes.empty() && !changes.front().skipped && !Fits()) {
      const std::uint64_t need = Size() - options_.capacity;
      std::size_t pick = 0;
      while (pick + 1 < changes.size() && !changes[pick + 1].skipped && changes[pick + 1].saving >= need) ++pick;
      Change& c = changes[pick];
      if (kind == FitStepKind::DecayEnd && c.saving > need) {
        // A decay ends only as early as the card needs.
        Change later;
        later.ref = c.ref;
        bool wanted = false;
        keepBytes_ = c.saving - need;
        const Result r = DecayEnd(c.ref, later, wanted);
        keepBytes_ = 0;
        if (r != kOk) return r;
        if (wanted) c = later;
      }
      if (Result r = Take(kind, c)) return r;
      changes.erase(changes.begin() + static_cast<std::ptrdiff_t>(pick));
    }
    for (std::size_t i = 0; i < changes.size() && !Fits(); ++i) {
      if (Result r = Take(kind, changes[i])) return r;
    }
    return kOk;
  }

  Result Take(FitStepKind kind, const Change& c) {
    Live& live = LiveOf(c.ref);
    SampleData& s = SampleOf(c.ref);
    const std::uint64_t before = Size();
    FitStep step;
    step.kind = kind;
    step.skipped = c.skipped;
    step.what = c.what;
    step.frameCount = s.frameCount();
    if (!c.skipped) {
      live.keepFrom = c.keepFrom;
      live.keepTo = c.keepTo;
      s.markers = c.markers;
      s.loopOn = c.loopOn;
      s.loopFlags = c.loopFlags;
      if (c.crossfade > 0) fit::CrossfadeSeam(s, c.crossfade);
      if (c.fade > 0) FadeOut(s, c.markers.end, c.fade);
      step.bytesSaved = before - Size();
      step.crossfade = c.crossfade;
      step.fade = c.fade;
      step.seamDb = c.seamDb;
      step.tuningCents = c.cents;
    }
    step.keepFrom = live.keepFrom;
    step.keepTo = live.keepTo;
    step.markers = s.markers;
    step.loopOn = s.loopOn;
    step.loopFlags = s.loopFlags;
    return Record(step, c.ref, live.lastStep);
  }

 public:
  static void FadeOut(SampleData& s, std::int64_t end, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
      s.frames[static_cast<std::size_t>(end - n + i)] *= static_cast<float>(n - i) / static_cast<float>(n + 1);
    }
  }

 private:
  void Begin(Change& c) {
    const SampleData& s = SampleOf(c.ref);
    const Live& l = LiveOf(c.ref);
    c.keepFrom = l.keepFrom;
    c.keepTo = l.keepTo;
    c.markers = s.markers;
    c.loopOn = s.loopOn;
    c.loopFlags = s.loopFlags;
    Name(c.what, SoundOf(c.ref), s);
  }

  // 1: frames before Start (or before Loop, where the loop is on and lies
  // before Start) and from End on.
  Result UnplayedFrames(const SampleRef& ref, Change& c, bool& wanted) {
    const SampleData& s = SampleOf(ref);
    if (!MarkersValid(s)) return kOk;
    Begin(c);
    const MarkerSet& m = s.markers;
    const std::int64_t first = Looped(s) && m.loop < m.start ? m.loop : m.start;
    if (first <= c.keepFrom && m.end >= c.keepTo) return kOk;
    c.keepFrom = std::max(c.keepFrom, first);
    c.keepTo = std::min(c.keepTo, m.end);
    // A loop marker left outside with the loop off moves to Start.
    if (!Looped(s) && (m.loop < c.keepFrom || m.loop > m.end)) c.markers.loop = m.start;
    c.saving = 2 * static_cast<std::uint64_t>(LiveOf(ref).keepTo - LiveOf(ref).keepFrom - (c.keepTo - c.keepFrom));
    AppendF(c.what, ": %.0f frames that never play", static_cast<double>(c.saving / 2));
    wanted = true;
    return kOk;
  }

  void DescribeLoop(Change& c, const LoopChoice& l, double frequency) {
    AppendF(c.what, ": loop %.0f ms (%.0f periods), seam %.0f dB", (l.end - l.loop) / double(kMs),
            (l.end - l.loop) * frequency / kCardRate, l.seamDb);
    AppendF(c.what, ", %.1f cents", std::fabs(l.cents) < 0.05 ? 0.0 : l.cents);
    if (l.crossfade > 0) AppendF(c.what, ", crossfade %.0f ms", l.crossfade / double(kMs));
    AppendF(c.what, "; cut after it");
  }

  void SetLoop(Change& c, const LoopChoice& l, double frequency) {
    c.markers.loop = l.loop;
    c.markers.end = l.end;
    c.loopOn = true;
    if (c.loopFlags == 0) c.loopFlags = LoopFlags::kForward;
    c.crossfade = l.crossfade;
    c.seamDb = l.seamDb;
    c.cents = l.cents;
    c.saving = 2 * static_cast<std::uint64_t>(c.keepTo - l.end);
    c.keepTo = l.end;
    DescribeLoop(c, l, frequency);
  }

  // 2: an un-looped Multisound sample whose pitched sustain holds its level.
  Result NewLoop(const SampleRef& ref, Change& c, bool& wanted) {
    const SampleData& s = SampleOf(ref);
    if (ref.type != SoundType::Multisound || Looped(s) || !MarkersValid(s)) return kOk;
    const std::int64_t start = s.markers.start, end = s.markers.end;
    const std::int64_t from = fit::SustainStart(s, start, end);
    if (end - from < kNaturalRegions[0] + kSustainWindow) return kOk;  // too short to gain by a loop
    const float* x = s.frames.data();
    // Held halfway through what follows the attack (the release at the very
    // end does not count); else a decay, which step 4 shortens.
    const std::int64_t half = (from + end - kSustainWindow) / 2;
    if (Rms(x, half, half + kSustainWindow) < Rms(x, from, from + kSustainWindow) * std::pow(10.0, kHeldDb / 20.0)) {
      return kOk;
    }
    fit::Pitch pitch;
    if (Result r = fit::MeasurePitch(s, from, end, pitch)) return r;
    if (!pitch.pitched) return kOk;
    Begin(c);
    wanted = true;
    LoopChoice loop;
    bool found = false;
    for (std::int64_t region : kNaturalRegions) {
      if (found || end - from < region + kSustainWindow) break;
      if (Result r = fit::ChooseLoop(s, OriginalOf(ref), start, from, from + region, pitch.frequency, LoopKind::Natural,
                                     loop, found)) {
        return r;
      }
    }
    if (!found) {
      c.skipped = true;
      c.what.append(": no loop with a seam under -30 dB and tuning within 3 cents");
      return kOk;
    }
    SetLoop(c, loop, pitch.frequency);
    return kOk;
  }

  // 3: a forward loop longer than 100 ms becomes the shortest good one
  // inside it.
  Result CompactLoop(const SampleRef& ref, Change& c, bool& wanted) {
    const SampleData& s = SampleOf(ref);
    if (!Looped(s) || !MarkersValid(s)) return kOk;
    const std::int64_t loop = s.markers.loop, end = s.markers.end;
    if (end - loop <= kLongLoop) return kOk;
    Begin(c);
    wanted = true;
    if (s.loopFlags != LoopFlags::kForward) {
      c.skipped = true;
      c.what.append(": keeps its loop (not a plain forward loop)");
      return kOk;
    }
    fit::Pitch pitch;
    if (Result r = fit::MeasurePitch(s, loop, end, pitch)) return r;
    if (pitch.pitched) {
      // Played through from Start: the new loop lies past it.
      const std::int64_t earliest = std::min(s.markers.start, loop), from = std::max(s.markers.start, loop);
      for (std::int64_t region : kCompactRegions) {
        if (from + region > end - (end - loop) / 2) break;
        LoopChoice choice;
        bool found = false;
        const LoopKind kind = region == kCompactRegions[2] ? LoopKind::Natural : LoopKind::Compact;
        if (Result r = fit::ChooseLoop(s, OriginalOf(ref), earliest, from, from + region, pitch.frequency, kind,
                                       choice, found)) {
          return r;
        }
        if (found && c.keepTo - choice.end >= kWorthFrames) {
          SetLoop(c, choice, pitch.frequency);
          return kOk;
        }
      }
    }
    c.skipped = true;
    c.what.append(pitch.pitched ? ": no compact loop with a seam under -30 dB and tuning within 3 cents"
                                : ": keeps its loop (unpitched: a short loop would buzz)");
    return kOk;
  }

  // 4: an un-looped sample ends 5 ms after its last frame above -60 dB of
  // its peak (later by keepBytes_), faded over its last 5 ms.
  Result DecayEnd(const SampleRef& ref, Change& c, bool& wanted) {
    const SampleData& s = SampleOf(ref);
    if (Looped(s) || !MarkersValid(s)) return kOk;
    const std::int64_t start = s.markers.start, end = s.markers.end;
    float peak = 0.0f;
    for (std::int64_t i = start; i < end; ++i) peak = std::max(peak, std::fabs(s.frames[static_cast<std::size_t>(i)]));
    if (!(peak > 0.0f)) return kOk;
    const float floor = peak * static_cast<float>(kDecayFloor);
    std::int64_t last = end - 1;
    while (last > start && std::fabs(s.frames[static_cast<std::size_t>(last)]) < floor) --last;
    const std::int64_t newEnd = std::min(end, last + 1 + kFadeFrames + static_cast<std::int64_t>(keepBytes_ / 2));
    if (end - newEnd < kWorthFrames) return kOk;
    Begin(c);
    c.markers.end = newEnd;
    if (c.markers.loop > newEnd) c.markers.loop = start;
    c.keepTo = std::min(c.keepTo, newEnd);
    c.fade = std::min(kFadeFrames, newEnd - start);
    c.saving = 2 * static_cast<std::uint64_t>(LiveOf(ref).keepTo - c.keepTo);
    AppendF(c.what, ": ends %.0f ms earlier, where the rest stays below -60 dB; 5 ms fade",
            (end - newEnd) / double(kMs));
    wanted = true;
    return kOk;
  }

  // --- 5: zone thinning ------------------------------------------------------

  // The live samples of a Multisound by root note, equal roots in list order
  // (as the card image builder orders them), leaving out `without`.
  std::size_t RootOrder(std::size_t sound, std::int64_t without, std::int64_t (&order)[256]) {
    const std::vector<SampleData>& s = work_.multisounds[sound].samples;
    std::size_t n = 0;
    for (std::size_t j = 0; j < s.size() && n < 256; ++j) {
      if (multi_[sound][j].removed || static_cast<std::int64_t>(j) == without) continue;
      std::size_t at = n++;
      while (at > 0 && s[j].rootNote < s[static_cast<std::size_t>(order[at - 1])].rootNote) {
        order[at] = order[at - 1];
        --at;
      }
      order[at] = static_cast<std::int64_t>(j);
    }
    return n;
  }

  // Which live sample plays each key, as the card maps them: samples by root
  // note, each up to its top key (a non-transposing one up to the next root
  // minus one); a key above every top key plays nothing (-1).
  void KeyMap(std::size_t sound, std::int64_t without, std::int64_t changed, int newTop, std::int64_t (&map)[128]) {
    const std::vector<SampleData>& s = work_.multisounds[sound].samples;
    std::int64_t order[256];
    const std::size_t n = RootOrder(sound, without, order);
    int top[256];
    for (std::size_t p = 0; p < n; ++p) {
      const SampleData& d = s[static_cast<std::size_t>(order[p])];
      top[p] = order[p] == changed ? newTop : d.topKey;
      if (d.nonTranspose) {
        top[p] = p + 1 == n ? 127 : std::clamp(s[static_cast<std::size_t>(order[p + 1])].rootNote - 1, 0, 127);
      }
    }
    for (int k = 0; k < 128; ++k) {
      map[k] = -1;
      for (std::size_t p = 0; p < n; ++p) {
        if (top[p] >= k) {
          map[k] = order[p];
          break;
        }
      }
    }
  }

  // 1, whole samples: a Multisound sample no key plays (another one's zone
  // covers its keys) goes, every key playing as before.
  Result UnplayedSamples() {
    for (std::size_t i = 0; i < work_.multisounds.size() && !Fits(); ++i) {
      Sound& sound = work_.multisounds[i];
      if (sound.waveType != WaveType::PCM || sound.samples.size() > 255) continue;
      for (std::size_t j = 0; j < sound.samples.size() && !Fits(); ++j) {
        if (multi_[i][j].removed) continue;
        std::int64_t before[128];
        KeyMap(i, -1, -1, 0, before);
        int farthest = 0, total = 0;
        if (std::find(before, before + 128, static_cast<std::int64_t>(j)) != before + 128 ||
            !ThinningHolds(i, j, -1, 0, before, farthest, total)) {
          continue;
        }
        const std::uint64_t size = Size();
        multi_[i][j].removed = true;
        FitStep step;
        step.kind = FitStepKind::UnplayedFrames;
        step.removesSample = true;
        step.frameCount = sound.samples[j].frameCount();
        step.bytesSaved = size - Size();
        Name(step.what, sound, sound.samples[j]);
        step.what.append(": no key plays it (other zones cover its keys); removed");
        std::int64_t none = -1;
        if (Result r = Record(step, SampleRef{SoundType::Multisound, i, j}, none)) return r;
      }
    }
    return kOk;
  }

  struct Thinning {
    std::size_t sound = 0, sample = 0;
    std::int64_t neighbour = -1;
    int topKey = 0;
    int farthest = 0;
    std::uint64_t saving = 0;
  };

  // Whether removing `sample` (and setting the neighbour's top key) keeps
  // every other key as it is and plays each of its keys within the allowed
  // transposition; `farthest` is the largest distance from a root.
  bool ThinningHolds(std::size_t sound, std::size_t sample, std::int64_t neighbour, int topKey, const std::int64_t (&before)[128],
                     int& farthest, int& total) {
    const std::vector<SampleData>& s = work_.multisounds[sound].samples;
    std::int64_t after[128];
    KeyMap(sound, static_cast<std::int64_t>(sample), neighbour, topKey, after);
    farthest = 0;
    total = 0;
    for (int k = 0; k < 128; ++k) {
      if (before[k] != static_cast<std::int64_t>(sample)) {
        if (after[k] != before[k]) return false;
        continue;
      }
      if (after[k] < 0) return false;
      const SampleData& by = s[static_cast<std::size_t>(after[k])];
      const int distance = std::abs(k - static_cast<int>(by.rootNote));
      if (by.nonTranspose || distance > options_.maxTranspose) return false;
      farthest = std::max(farthest, distance);
      total += distance;
    }
    return true;
  }

  Result ThinOneZone(bool& thinned) {
    thinned = false;
    Thinning best;
    bool any = false;
    const std::uint64_t size = Size();
    for (std::size_t i = 0; i < work_.multisounds.size(); ++i) {
      const Sound& sound = work_.multisounds[i];
      if (sound.waveType != WaveType::PCM || sound.samples.size() > 255) continue;
      std::int64_t before[128];
      KeyMap(i, -1, -1, 0, before);
      for (std::size_t j = 0; j < sound.samples.size(); ++j) {
        const SampleData& s = sound.samples[j];
        if (multi_[i][j].removed || s.nonTranspose) continue;
        // The live sample below it in root order takes keys by a higher top key.
        std::int64_t order[256];
        const std::size_t n = RootOrder(i, -1, order);
        std::int64_t below = -1;
        for (std::size_t p = 1; p < n; ++p) {
          if (order[p] == static_cast<std::int64_t>(j)) below = order[p - 1];
        }
        Thinning t;
        bool ok = false;
        int bestTotal = 0;
        const int lowTop = below >= 0 ? sound.samples[static_cast<std::size_t>(below)].topKey : 0;
        const bool canRaise = below >= 0 && !sound.samples[static_cast<std::size_t>(below)].nonTranspose;
        for (int top = lowTop; top <= (canRaise ? std::min<int>(s.topKey, 127) : lowTop); ++top) {
          int farthest = 0, total = 0;
          const std::int64_t who = top == lowTop ? -1 : below;
          if (!ThinningHolds(i, j, who, top, before, farthest, total)) continue;
          if (!ok || farthest < t.farthest || (farthest == t.farthest && total < bestTotal)) {
            ok = true;
            t.neighbour = who;
            t.topKey = top;
            t.farthest = farthest;
            bestTotal = total;
          }
        }
        if (!ok) continue;
        multi_[i][j].removed = true;
        t.saving = size - Size();
        multi_[i][j].removed = false;
        t.sound = i;
        t.sample = j;
        // The largest saving, or the smallest one that is enough.
        const std::uint64_t need = size - options_.capacity;
        const bool enough = t.saving >= need, bestEnough = any && best.saving >= need;
        if (!any || (enough != bestEnough ? enough : enough ? t.saving < best.saving : t.saving > best.saving)) {
          best = t;
          any = true;
        }
      }
    }
    if (!any) return kOk;
    // Taken: the sample goes, the neighbour reaches up.
    Sound& sound = work_.multisounds[best.sound];
    SampleData& gone = sound.samples[best.sample];
    multi_[best.sound][best.sample].removed = true;
    FitStep step;
    step.kind = FitStepKind::ThinZone;
    step.removesSample = true;
    step.frameCount = gone.frameCount();
    step.bytesSaved = best.saving;
    step.neighbour = best.neighbour;
    step.topKey = static_cast<std::uint8_t>(best.topKey);
    Name(step.what, sound, gone);
    if (best.neighbour >= 0) {
      SampleData& n = sound.samples[static_cast<std::size_t>(best.neighbour)];
      n.topKey = static_cast<std::uint8_t>(best.topKey);
      step.what.append(": removed; ");
      step.what.append(n.name.view());
      step.what.append(" reaches up to ");
      step.what.append(NoteName(n.topKey));
    } else {
      step.what.append(": removed; the sample above takes its keys");
    }
    AppendF(step.what, " (at most %.0f semitones from a root)", best.farthest);
    // Thinnings build on each other.
    thinned = true;
    return Record(step, SampleRef{SoundType::Multisound, best.sound, best.sample}, lastThinning_);
  }

  // --- 6: the choices left to the user ----------------------------------------

  Result ListSoundChoices() {
    std::vector<FitStep> choices;
    const std::uint64_t size = Size();
    for (SoundType t : {SoundType::Multisound, SoundType::Drumsound}) {
      std::vector<Sound>& list = t == SoundType::Drumsound ? work_.drumsounds : work_.multisounds;
      LiveLists& lists = t == SoundType::Drumsound ? drum_ : multi_;
      for (std::size_t i = 0; i < list.size(); ++i) {
        std::vector<Live> saved;
        if (Result r = TryCopy(saved, lists[i])) return r;
        for (Live& l : lists[i]) l.removed = true;
        const std::uint64_t without = Size();
        std::swap(lists[i], saved);
        if (without >= size) continue;
        FitStep step;
        step.kind = FitStepKind::DropSound;
        step.choice = true;
        step.soundType = t;
        step.sound = i;
        step.bytesSaved = size - without;
        step.sizeAfter = without;
        step.what.assign(t == SoundType::Drumsound ? "Drumsound " : "Multisound ");
        step.what.append(list[i].name.view());
        step.what.append(": remove the whole sound (your choice)");
        if (Result r = TryPushBack(choices, step)) return r;
      }
    }
    std::stable_sort(choices.begin(), choices.end(),
                     [](const FitStep& a, const FitStep& b) { return a.bytesSaved > b.bytesSaved; });
    for (const FitStep& c : choices) {
      if (Result r = TryPushBack(plan_.steps, c)) return r;
    }
    return kOk;
  }

  const FitOptions& options_;
  FitPlan& plan_;
  const CardDocument* original_ = nullptr;
  CardDocument work_;
  LiveLists multi_, drum_;
  std::int64_t lastThinning_ = -1;
  std::uint64_t keepBytes_ = 0;  // bytes a decay may keep beyond its -60 dB end
};

// What the ticked steps leave of each sample: the last ticked step on it,
// or whether it or its sound is gone.
struct Outcome {
  std::vector<std::vector<std::int64_t>> multi, drum;  // last step index, -1 none, -2 gone
};

Result Outcomes(const CardDocument& doc, const FitPlan& plan, const std::vector<bool>& take, Outcome& out) {
  for (SoundType t : {SoundType::Multisound, SoundType::Drumsound}) {
    const std::vector<Sound>& list = t == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    auto& o = t == SoundType::Drumsound ? out.drum : out.multi;
    if (Result r = TryResize(o, list.size())) return r;
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (Result r = TryResize(o[i], list[i].samples.size())) return r;
      std::fill(o[i].begin(), o[i].end(), -1);
    }
  }
  for (std::size_t k = 0; k < plan.steps.size() && k < take.size(); ++k) {
    const FitStep& s = plan.steps[k];
    if (!take[k] || s.skipped) continue;
    auto& o = s.soundType == SoundType::Drumsound ? out.drum : out.multi;
    if (s.sound >= o.size()) return kInvalidArgument;
    if (s.kind == FitStepKind::DropSound) {
      std::fill(o[s.sound].begin(), o[s.sound].end(), -2);
      continue;
    }
    if (s.sample >= o[s.sound].size()) return kInvalidArgument;
    if (s.after >= 0 && (static_cast<std::size_t>(s.after) >= take.size() || !take[static_cast<std::size_t>(s.after)])) {
      return kInvalidArgument;
    }
    const std::vector<Sound>& list = s.soundType == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    if (list[s.sound].samples[s.sample].frameCount() != s.frameCount) return kInvalidArgument;
    if (s.removesSample) {
      if (s.neighbour >= static_cast<std::int64_t>(o[s.sound].size())) return kInvalidArgument;
      o[s.sound][s.sample] = -2;
    } else if (o[s.sound][s.sample] != -2) {
      o[s.sound][s.sample] = static_cast<std::int64_t>(k);
    }
  }
  return kOk;
}

}  // namespace

std::uint64_t CardBytes(const CardDocument& doc, CardLayout layout) {
  return SizeOf(doc, layout, [&doc](SoundType t, std::size_t i, std::size_t j) -> std::int64_t {
    return (t == SoundType::Drumsound ? doc.drumsounds : doc.multisounds)[i].samples[j].frameCount();
  });
}

Result PlanFit(const CardDocument& doc, const FitOptions& options, FitPlan& out) {
  out = FitPlan{};
  out.capacity = options.capacity;
  Planner planner(options, out);
  const Result r = planner.Run(doc);
  if (r != kOk) out = FitPlan{};
  return r;
}

Result DefaultSelection(const FitPlan& plan, std::vector<bool>& take) {
  if (Result r = TryResize(take, plan.steps.size())) return r;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) take[i] = !plan.steps[i].skipped && !plan.steps[i].choice;
  return kOk;
}

void SelectStep(const FitPlan& plan, std::vector<bool>& take, std::size_t i, bool on) {
  if (take.size() != plan.steps.size() || i >= take.size()) return;
  if (on) {
    for (std::int64_t k = static_cast<std::int64_t>(i); k >= 0 && !plan.steps[static_cast<std::size_t>(k)].skipped;
         k = plan.steps[static_cast<std::size_t>(k)].after) {
      take[static_cast<std::size_t>(k)] = true;
    }
    return;
  }
  take[i] = false;
  for (std::size_t k = i + 1; k < take.size(); ++k) {
    const std::int64_t a = plan.steps[k].after;
    if (take[k] && a >= 0 && !take[static_cast<std::size_t>(a)]) take[k] = false;
  }
}

std::uint64_t SizeWithSteps(const CardDocument& doc, const FitPlan& plan, const std::vector<bool>& take,
                            CardLayout layout) {
  Outcome o;
  if (Outcomes(doc, plan, take, o) != kOk) return CardBytes(doc, layout);
  return SizeOf(doc, layout, [&](SoundType t, std::size_t i, std::size_t j) -> std::int64_t {
    const std::int64_t k = (t == SoundType::Drumsound ? o.drum : o.multi)[i][j];
    if (k == -2) return -1;
    if (k >= 0) return plan.steps[static_cast<std::size_t>(k)].keepTo - plan.steps[static_cast<std::size_t>(k)].keepFrom;
    return (t == SoundType::Drumsound ? doc.drumsounds : doc.multisounds)[i].samples[j].frameCount();
  });
}

Result ApplyFit(CardDocument& doc, const FitPlan& plan, const std::vector<bool>& take) {
  Outcome o;
  if (Result r = Outcomes(doc, plan, take, o)) return r;
  // Every new sample is made before the document is touched.
  struct Staged {
    SampleData* target;
    SampleData sample;
  };
  std::vector<Staged> staged;
  std::size_t count = 0;
  for (const auto* outcome : {&o.multi, &o.drum}) {
    for (const auto& sound : *outcome) count += static_cast<std::size_t>(std::count_if(sound.begin(), sound.end(), [](std::int64_t v) { return v >= 0; }));
  }
  if (TryReserve(staged, count) != kOk) return kOutOfMemory;
  for (SoundType t : {SoundType::Multisound, SoundType::Drumsound}) {
    std::vector<Sound>& list = t == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    const auto& outcome = t == SoundType::Drumsound ? o.drum : o.multi;
    for (std::size_t i = 0; i < list.size(); ++i) {
      for (std::size_t j = 0; j < list[i].samples.size(); ++j) {
        const std::int64_t last = outcome[i][j];
        if (last < 0) continue;
        const FitStep& end = plan.steps[static_cast<std::size_t>(last)];
        const SampleData& from = list[i].samples[j];
        Staged st{&list[i].samples[j], SampleData{}};
        // The frames from the first kept one on, changed as each step
        // changed them, then cut to the range kept.
        const std::int64_t off = end.keepFrom;
        if (TryResize(st.sample.frames, static_cast<std::size_t>(from.frameCount() - off)) != kOk) return kOutOfMemory;
        std::copy(from.frames.begin() + off, from.frames.end(), st.sample.frames.begin());
        for (std::size_t k = 0; k <= static_cast<std::size_t>(last); ++k) {
          const FitStep& s = plan.steps[k];
          if (!take[k] || s.skipped || s.soundType != t || s.sound != i || s.sample != j) continue;
          st.sample.markers.loop = s.markers.loop - off;
          st.sample.markers.end = s.markers.end - off;
          if (s.crossfade > 0) fit::CrossfadeSeam(st.sample, s.crossfade);
          if (s.fade > 0) Planner::FadeOut(st.sample, s.markers.end - off, s.fade);
        }
        st.sample.frames.resize(static_cast<std::size_t>(end.keepTo - off));
        if (TryPushBack(staged, std::move(st)) != kOk) return kOutOfMemory;
        Staged& placed = staged.back();
        // Everything but the frames and markers comes from the sample as it
        // is; its snapshots move with its frames, and its zero-crossing cache
        // is left empty to be found again.
        placed.sample.name = from.name;
        placed.sample.nonTranspose = from.nonTranspose;
        placed.sample.transposeValid = from.transposeValid;
        placed.sample.topKey = from.topKey;
        placed.sample.zoneAttribute = from.zoneAttribute;
        placed.sample.transpose = from.transpose;
        placed.sample.rootNote = from.rootNote;
        placed.sample.level = from.level;
        placed.sample.vdfCutoff = from.vdfCutoff;
        placed.sample.decayLevel = from.decayLevel;
        placed.sample.snapshots = from.snapshots;
        for (Snapshot& snap : placed.sample.snapshots) {
          for (std::int64_t* v : {&snap.start, &snap.loop, &snap.end}) {
            if (*v >= 0) *v = std::clamp<std::int64_t>(*v - off, 0, end.keepTo - off);
          }
        }
        placed.sample.loopOn = end.loopOn;
        placed.sample.loopFlags = end.loopFlags;
        placed.sample.markers = end.markers;
        placed.sample.markers.start -= off;
        placed.sample.markers.loop -= off;
        placed.sample.markers.end -= off;
      }
    }
  }
  // From here on nothing allocates.
  bool changed = !staged.empty();
  for (Staged& st : staged) *st.target = std::move(st.sample);
  for (std::size_t k = 0; k < plan.steps.size(); ++k) {
    const FitStep& s = plan.steps[k];
    if (!take[k] || s.kind != FitStepKind::ThinZone || s.neighbour < 0) continue;
    doc.multisounds[s.sound].samples[static_cast<std::size_t>(s.neighbour)].topKey = s.topKey;
  }
  for (SoundType t : {SoundType::Multisound, SoundType::Drumsound}) {
    std::vector<Sound>& list = t == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    const auto& outcome = t == SoundType::Drumsound ? o.drum : o.multi;
    for (std::size_t i = list.size(); i-- > 0;) {
      // A dropped sound has every sample gone; thinning always leaves one.
      if (!outcome[i].empty() &&
          std::all_of(outcome[i].begin(), outcome[i].end(), [](std::int64_t v) { return v == -2; })) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        changed = true;
        continue;
      }
      for (std::size_t j = outcome[i].size(); j-- > 0;) {
        if (outcome[i][j] != -2) continue;
        list[i].samples.erase(list[i].samples.begin() + static_cast<std::ptrdiff_t>(j));
        changed = true;
      }
    }
  }
  if (changed) doc.modified = true;
  return kOk;
}

}  // namespace tavrin
