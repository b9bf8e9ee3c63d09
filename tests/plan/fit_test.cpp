// Fitting a card: documents of generated sounds (un-looped sustains, decaying
// plucks, drums, markers that hide frames, zones to thin) planned against a
// table of capacities, then checked as a listener would: what plays after
// the first step alone is bit-identical, every loop made is smooth and in
// tune, no key moves beyond the allowed transposition; the same on a card of
// real instruments (TimGM6mb, when installed); and `tavrin fit` on a
// card-file of sox-made sounds.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/pitch.h"
#include "audio/sf2_reader.h"
#include "base/file_io.h"
#include "card/card_file.h"
#include "card/card_image.h"
#include "plan/fit_plan.h"
#include "plan/loop_choice.h"
#include "support/command.h"
#include "support/skip.h"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // malloc'd by the operator new below
#endif
namespace {
long g_failAfter = -1;  // allocations left before one fails; -1 never
}
void* operator new(std::size_t n) {
  if (g_failAfter >= 0 && g_failAfter-- == 0) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
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

namespace tavrin {
namespace {

using namespace tavrin::testing;
constexpr double kRate = 31250.0, kPi = 3.14159265358979323846;

enum class Kind { Sustain, Pluck, Kick, Snare };

std::vector<float> Make(Kind kind, double note, double seconds, std::uint32_t seed = 1) {
  const double hz = 440.0 * std::exp2((note - 69.0) / 12.0);
  std::vector<float> x(static_cast<std::size_t>(seconds * kRate));
  double phase = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    seed = seed * 1664525u + 1013904223u;
    const double noise = (seed >> 8) / 16777216.0 - 0.5;
    double y = 0.0;
    if (kind == Kind::Kick) {
      phase += 2.0 * kPi * (45.0 + 115.0 * std::exp(-t / 0.04)) / kRate;
      y = std::exp(-t / 0.06) * std::sin(phase);
    } else if (kind == Kind::Snare) {
      y = std::exp(-t / 0.05) * noise;
    } else {
      phase += 2.0 * kPi * hz * std::exp2(3.0 / 1200.0 * std::sin(2.0 * kPi * 5.0 * t)) / kRate;  // 3 cents vibrato
      for (int k = 1; k <= 8 && k * hz < 8000.0; ++k) y += std::sin(k * phase) / k;
      y *= kind == Kind::Pluck ? std::exp(-t / 0.12) : std::min(1.0, t / 0.03);
      y += 0.001 * noise;
    }
    x[i] = static_cast<float>(0.4 * y);
  }
  return x;
}

void Add(Sound& sound, const char* name, std::vector<float> frames, std::uint8_t root, std::uint8_t top) {
  SampleData& s = *AppendSample(sound);
  s.name.assign(name);
  s.frames = std::move(frames);
  s.markers = {0, 0, -1, s.frameCount()};
  s.rootNote = root;
  s.topKey = top;
}

// Strings a third apart (zones to thin) and one no key plays, plucks, a sample with a loop marker
// left before Start with the loop off and End before its last frame, one
// with a long loop, one looping from before its Start, and two drums.
CardDocument MakeCard() {
  CardDocument doc;
  Sound* strings = AppendSound(doc.multisounds, SoundType::Multisound);
  strings->name.assign("Strings");
  const std::uint8_t roots[] = {48, 52, 55, 60, 64, 67, 72};
  for (std::size_t i = 0; i < 7; ++i) {
    const std::string name = "Str " + std::to_string(roots[i]);
    Add(*strings, name.c_str(), Make(Kind::Sustain, roots[i], 1.4, 7 + i), roots[i],
        static_cast<std::uint8_t>(i + 1 < 7 ? (roots[i] + roots[i + 1]) / 2 : 127));
  }
  Add(*strings, "Dup 60", Make(Kind::Sustain, 60, 0.3), 60, 60);  // Str 60 comes first and covers its keys
  Sound* other = AppendSound(doc.multisounds, SoundType::Multisound);
  other->name.assign("Other");
  Add(*other, "Pluck 50", Make(Kind::Pluck, 50, 1.5), 50, 55);
  Add(*other, "Hidden 57", Make(Kind::Sustain, 57, 0.5), 57, 60);
  other->samples.back().markers = {0, 2000, 500, 13000};
  Add(*other, "Long 62", Make(Kind::Sustain, 62, 1.6), 62, 66);
  other->samples.back().markers = {0, 0, 6000, 48000};
  Add(*other, "Before 69", Make(Kind::Sustain, 69, 0.6), 69, 127);
  other->samples.back().markers = {0, 3000, 1200, 18000};
  for (std::size_t i = 2; i < 4; ++i) {
    SampleData& s = other->samples[i];
    s.loopOn = true;
    s.loopFlags = LoopFlags::kForward;
  }
  Sound* kick = AppendSound(doc.drumsounds, SoundType::Drumsound);
  kick->name.assign("Kick");
  Add(*kick, "Kick", Make(Kind::Kick, 0, 0.8), 60, 96);
  Sound* snare = AppendSound(doc.drumsounds, SoundType::Drumsound);
  snare->name.assign("Snare");
  Add(*snare, "Snare", Make(Kind::Snare, 0, 0.7), 60, 96);
  return doc;
}

const SampleData* Find(const CardDocument& doc, const std::string& name) {
  for (const auto* list : {&doc.multisounds, &doc.drumsounds}) {
    for (const Sound& sound : *list) {
      for (const SampleData& s : sound.samples) {
        if (s.name.view() == name) return &s;
      }
    }
  }
  return nullptr;
}

// The sample name each key of a Multisound plays: samples by root note, each
// up to its top key.
std::vector<std::string> Keys(const Sound& sound) {
  std::vector<const SampleData*> order;
  for (const SampleData& s : sound.samples) order.push_back(&s);
  std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->rootNote < b->rootNote; });
  std::vector<std::string> keys(128);
  for (int k = 0; k < 128; ++k) {
    for (const SampleData* s : order) {
      if (s->topKey >= k) {
        keys[k] = std::string(s->name.view());
        break;
      }
    }
  }
  return keys;
}

// Every loop a taken step made, on the document it was applied to: its seam
// (what leads into End against what leads into Loop, two periods) and its
// frequency against the pitch of the original sound where the loop lies.
void CheckLoops(const CardDocument& before, const CardDocument& after, const FitPlan& plan, const std::vector<bool>& take) {
  for (std::size_t k = 0; k < plan.steps.size(); ++k) {
    const FitStep& step = plan.steps[k];
    if (!take[k] || (step.kind != FitStepKind::NewLoop && step.kind != FitStepKind::CompactLoop)) continue;
    const SampleData& was = before.multisounds[step.sound].samples[step.sample];
    const SampleData* now = Find(after, std::string(was.name.view()));
    if (now == nullptr || now->markers.end != step.markers.end - step.keepFrom) continue;  // removed or looped again
    const std::int64_t loop = now->markers.loop, end = now->markers.end, length = end - loop;
    PitchEstimate p;
    const std::int64_t from = step.markers.loop, n = std::max<std::int64_t>(length, 8192);
    ASSERT_EQ(DetectPitch(was.frames.data() + from, static_cast<std::size_t>(std::min(n, was.frameCount() - from)), kRate, p), kOk);
    ASSERT_TRUE(p.pitched) << step.what.view();
    const double periods = std::round(static_cast<double>(length) * p.frequency / kRate);
    EXPECT_LE(std::fabs(1200.0 * std::log2(kRate * periods / static_cast<double>(length) / p.frequency)), 3.0) << step.what.view();
    const std::int64_t w = std::min<std::int64_t>(loop, static_cast<std::int64_t>(2.0 * kRate / p.frequency));
    double diff = 0.0, energy = 0.0;
    for (std::int64_t i = 1; i <= w; ++i) {
      const double a = now->frames[end - i], b = now->frames[loop - i];
      diff += (a - b) * (a - b), energy += a * a;
    }
    EXPECT_LE(10.0 * std::log10(diff / energy), -30.0) << step.what.view();
  }
}

// Plans, applies and checks a card against a capacity; returns the plan.
FitPlan CheckPlan(const CardDocument& doc, std::uint64_t capacity, int maxTranspose) {
  FitOptions options;
  options.capacity = capacity;
  options.maxTranspose = maxTranspose;
  FitPlan plan, again;
  EXPECT_EQ(PlanFit(doc, options, plan), kOk);
  EXPECT_EQ(PlanFit(doc, options, again), kOk);
  EXPECT_EQ(plan.steps.size(), again.steps.size());
  for (std::size_t i = 0; i < std::min(plan.steps.size(), again.steps.size()); ++i) {
    EXPECT_EQ(plan.steps[i].what.view(), again.steps[i].what.view());
    EXPECT_EQ(plan.steps[i].sizeAfter, again.steps[i].sizeAfter);
  }
  EXPECT_EQ(plan.sizeBefore, CardBytes(doc, CardLayout::Card));
  EXPECT_EQ(plan.fits, plan.sizeAfter <= capacity);
  for (std::size_t i = 1; i < plan.steps.size(); ++i) {
    EXPECT_LE(plan.steps[i - 1].kind, plan.steps[i].kind) << "steps in the order of what is lost";
  }
  CardDocument applied = doc;
  std::vector<bool> take;
  EXPECT_EQ(DefaultSelection(plan, take), kOk);
  EXPECT_EQ(ApplyFit(applied, plan, take), kOk);
  EXPECT_EQ(applied.modified, doc.modified || std::find(take.begin(), take.end(), true) != take.end()) << "asks to be saved";
  EXPECT_EQ(CardBytes(applied, CardLayout::Card), plan.sizeAfter);
  EXPECT_EQ(SizeWithSteps(doc, plan, take, CardLayout::Card), plan.sizeAfter);
  if (plan.fits) {
    CardImage image;
    applied.cardCapacity = static_cast<std::uint32_t>(capacity);
    BuildRefusal refusal;
    EXPECT_EQ(BuildCardImage(applied, CardLayout::Card, image, nullptr, &refusal), kOk) << refusal.view();
  }
  CheckLoops(doc, applied, plan, take);
  // A decay ends where what follows stays below -60 dB of its peak, faded.
  for (std::size_t k = 0; k < plan.steps.size(); ++k) {
    const FitStep& step = plan.steps[k];
    // A pluck's level falls: its decay is shortened, it is never looped.
    EXPECT_FALSE(step.kind == FitStepKind::NewLoop && step.what.view().find("Pluck") != std::string_view::npos) << step.what.view();
    if (step.kind != FitStepKind::DecayEnd) continue;
    EXPECT_NEAR(static_cast<double>(step.fade), 5 * 31.25, 1.5) << "a 5 ms fade";
    const auto& list = step.soundType == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    const std::vector<float>& x = list[step.sound].samples[step.sample].frames;
    const auto byLevel = [](float a, float b) { return std::fabs(a) < std::fabs(b); };
    const auto cut = x.begin() + step.markers.end;
    const float peak = std::fabs(*std::max_element(x.begin(), cut, byLevel));
    EXPECT_LT(cut == x.end() ? 0.0f : std::fabs(*std::max_element(cut, x.end(), byLevel)), peak / 1000.0f) << step.what.view();
    const SampleData* now = Find(applied, std::string(list[step.sound].samples[step.sample].name.view()));
    EXPECT_LT(now ? std::fabs(now->frames.back()) : 0.0f, peak / 100.0f) << step.what.view();
  }
  for (std::size_t i = 0; i < doc.multisounds.size(); ++i) {
    const std::vector<std::string> was = Keys(doc.multisounds[i]), now = Keys(applied.multisounds[i]);
    for (int k = 0; k < 128; ++k) {
      if (was[k] == now[k]) continue;
      const SampleData* by = Find(applied, now[k]);
      EXPECT_NE(by, nullptr) << "key " << k << " went silent";
      EXPECT_LE(by ? std::abs(k - by->rootNote) : 0, maxTranspose) << "key " << k << " played by " << now[k];
    }
  }
  return plan;
}

TEST(Fit, ReachesEachCapacityWithoutAudibleHarmBeyondItsSteps) {
  const CardDocument doc = MakeCard();
  const std::uint64_t full = CardBytes(doc, CardLayout::Card);
  struct Row {
    std::uint64_t capacity;
    int maxTranspose;
    bool fits;
    FitStepKind deepest;  // the last kind of step the plan needs
  } rows[] = {
      {full - 10000, 5, true, FitStepKind::UnplayedFrames},
      {520000, 5, true, FitStepKind::NewLoop},
      {210000, 5, true, FitStepKind::ThinZone},
      {210000, 0, false, FitStepKind::DropSound},  // no transposition: nothing to thin
      {20000, 12, false, FitStepKind::DropSound},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.capacity);
    const FitPlan plan = CheckPlan(doc, row.capacity, row.maxTranspose);
    EXPECT_EQ(plan.fits, row.fits);
    ASSERT_FALSE(plan.steps.empty());
    EXPECT_EQ(plan.steps.back().kind, row.deepest);
    const bool choices = std::any_of(plan.steps.begin(), plan.steps.end(), [](const FitStep& s) { return s.choice; });
    EXPECT_EQ(choices, !row.fits);
  }
}

// The planner's seam measure: the two periods leading into End against those
// leading into Loop, or the last 1 ms per frame where that is worse; its
// window shrinks to what lies after the earliest frame.
TEST(FitLoop, SeamWeighsTheJoinOverItsWindow) {
  constexpr double kPi = 3.14159265358979323846;
  const struct {
    const char* what;
    double period;
    std::int64_t earliest, from, to;  // 0.1 added to frames [End - from, End - to)
    double diff, near, window;      // the expected sums of squared differences and window
  } rows[] = {
      {"a misfit 1 to 2 periods before the join", 100.0, 0, 200, 100, 100 * 0.01, 0.0, 200},
      {"a click in the last 8 frames: the 1 ms counts per frame", 100.0, 0, 8, 0, 8 * 0.01, 8 * 0.01, 200},
      {"unpitched: 256 frames, the one before them unseen", 0.0, 0, 257, 256, 0.0, 0.0, 256},
      {"unpitched: the first of the 256 seen", 0.0, 0, 256, 255, 0.01, 0.0, 256},
      {"one frame after the earliest: a window of one", 100.0, 999, 1, 0, 0.01, 0.01, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<float> x(4000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>(std::sin(2.0 * kPi * static_cast<double>(i) / 100.0));
    const std::int64_t loop = 1000, end = 3000;  // 20 periods: the two sides alike
    for (std::int64_t i = end - row.from; i < end - row.to; ++i) x[static_cast<std::size_t>(i)] += 0.1f;
    double energy = 0.0;
    for (std::int64_t i = end - static_cast<std::int64_t>(row.window); i < end; ++i) energy += double{x[i]} * x[i];
    const double nearFrames = std::min(row.window, 32.0);
    const double worse = std::max(row.diff, row.near * row.window / nearFrames);
    const double want = worse > 0.0 ? 10.0 * std::log10(worse / energy) : -120.0;
    EXPECT_NEAR(fit::SeamDb(x.data(), row.earliest, loop, end, row.period), want, 0.05);
  }
}

// Where a sustain starts is counted from the frame the search starts at.
TEST(FitLoop, SustainStartsAfterTheAttackWhereverTheSearchBegins) {
  SampleData s;
  s.frames.assign(40000, 0.0f);
  for (std::size_t i = 8000; i < s.frames.size(); ++i) s.frames[i] = 0.5f * static_cast<float>(std::sin(static_cast<double>(i) * 0.05));
  for (std::int64_t from : {0, 2000, 6000}) EXPECT_GE(fit::SustainStart(s, from, s.frameCount()), 8000) << from;
  // Nor does a louder sound after the stretch searched move it.
  for (std::size_t i = 20000; i < s.frames.size(); ++i) s.frames[i] *= 4.0f;
  const std::int64_t held = fit::SustainStart(s, 6000, 20000);
  EXPECT_TRUE(held >= 8000 && held < 20000) << held;
  EXPECT_EQ(fit::SustainStart(s, 5000, 5000), 5000);  // nothing to search
}

TEST(Fit, TheLastDecayEndsOnlyAsEarlyAsTheCardNeeds) {
  const CardDocument doc = MakeCard();
  const FitPlan deep = CheckPlan(doc, 210000, 5);
  const auto decay = std::find_if(deep.steps.begin(), deep.steps.end(), [](const FitStep& s) { return s.kind == FitStepKind::DecayEnd; });
  ASSERT_NE(decay, deep.steps.end());
  const std::uint64_t capacity = decay->sizeAfter + decay->bytesSaved / 2;
  const FitPlan plan = CheckPlan(doc, capacity, 5);
  EXPECT_EQ(plan.steps.back().kind, FitStepKind::DecayEnd);
  EXPECT_GE(plan.sizeAfter + 2, capacity);
}

// Takes the plan's first kind of step alone: every frame that plays stays
// bit-identical. Returns the steps taken and the names of samples gone.
std::size_t CheckFirstStepAlone(const CardDocument& doc, const FitPlan& plan, std::vector<std::string>& gone) {
  std::vector<bool> take(plan.steps.size());
  std::size_t taken = 0;
  for (std::size_t i = 0; i < take.size(); ++i) taken += take[i] = plan.steps[i].kind == FitStepKind::UnplayedFrames;
  CardDocument applied = doc;
  EXPECT_EQ(ApplyFit(applied, plan, take), kOk);
  EXPECT_EQ(CardBytes(applied, CardLayout::Card), SizeWithSteps(doc, plan, take, CardLayout::Card));
  for (const auto* list : {&doc.multisounds, &doc.drumsounds}) {
    for (const Sound& sound : *list) {
      for (const SampleData& s : sound.samples) {
        const SampleData* kept = Find(applied, std::string(s.name.view()));
        if (kept == nullptr) {
          gone.emplace_back(s.name.view());
          continue;
        }
        const SampleData& t = *kept;
        const bool looped = s.loopOn;
        const std::int64_t first = looped && s.markers.loop < s.markers.start ? s.markers.loop : s.markers.start;
        EXPECT_EQ(t.frameCount(), s.markers.end - first) << s.name.view();
        EXPECT_EQ(t.markers.start, s.markers.start - first);
        EXPECT_TRUE(!looped || t.markers.loop == s.markers.loop - first) << s.name.view();
        for (std::int64_t i = first; i < s.markers.end && i - first < t.frameCount(); ++i) {
          if (FrameToInt16(s.frames[i]) != FrameToInt16(t.frames[i - first])) {
            ADD_FAILURE() << s.name.view() << " frame " << i;
            break;
          }
        }
      }
    }
  }
  return taken;
}

TEST(Fit, FirstStepAloneKeepsEveryPlayedFrameBitIdentical) {
  const CardDocument doc = MakeCard();
  FitOptions options;
  options.capacity = 1000;
  FitPlan plan;
  ASSERT_EQ(PlanFit(doc, options, plan), kOk);
  std::vector<std::string> gone;
  EXPECT_EQ(CheckFirstStepAlone(doc, plan, gone), 4u);  // Hidden, Long, Before and Dup
  EXPECT_EQ(gone, std::vector<std::string>{"Dup 60"});
  // Hidden: 2000 before Start, 2625 from End; Long: 2000 from End; Before: 1200 before Loop, 750 from End;
  // Dup: its 9375 frames, zone and sample records.
  EXPECT_EQ(plan.steps[3].sizeAfter, CardBytes(doc, CardLayout::Card) - 2u * (2000 + 2625 + 2000 + 1200 + 750 + 9375) - 24);
}

struct RealRow {
  const char* name;
  std::uint16_t program;
  bool keepLoops;
};

// Multisounds of TimGM6mb presets of bank 0 (their designer's loops kept or
// taken off) and, for "Kit", four drums of the standard kit.
void AddReal(const std::string& font, const std::vector<RealRow>& rows, CardDocument& doc) {
  FileSource file;
  SoundFont sf;
  InstrumentReport report;
  ASSERT_TRUE(file.Open(font) == kOk && OpenSoundFont(file, sf, report) == kOk);
  for (const RealRow& row : rows) {
    const bool kit = row.name == std::string("Kit");
    Sf2Choice choice;
    choice.bank = kit ? 128 : 0;
    choice.program = row.program;
    std::vector<InstrumentZone> zones;
    ASSERT_EQ(SoundFontZones(sf, choice, zones, report), kOk) << row.name;
    std::erase_if(zones, [kit](const InstrumentZone& z) { return kit && z.loKey != 36 && z.loKey != 38 && z.loKey != 42 && z.loKey != 49; });
    for (InstrumentZone& z : zones) z.loopOn = z.loopOn && row.keepLoops;
    ASSERT_EQ(ReadSoundFontAudio(file, sf, zones, report), kOk) << row.name;
    for (std::size_t i = 0; i < (kit ? zones.size() : 1); ++i) {
      Sound* sound = AppendSound(kit ? doc.drumsounds : doc.multisounds, kit ? SoundType::Drumsound : SoundType::Multisound);
      sound->name.assign(kit ? zones[i].name.view() : Utf8View(row.name));
      std::vector<InstrumentZone> one;
      if (kit) one.push_back(std::move(zones[i]));
      ASSERT_EQ(ImportZones(*sound, kit ? one : zones, report), kOk) << row.name;
    }
  }
}

// A card of real instruments: the piano with its designer's loops, strings,
// an organ and an oboe with theirs taken off (the planner loops them), and
// four drums of the standard kit, planned at the default transposition. Then
// the strings with their designer's loops of 1 to 2 s: an ensemble holds no
// short loop, so each becomes a crossfaded one of 100 ms or more.
TEST(Fit, RealInstrumentsFitWithoutAudibleHarmBeyondTheirSteps) {
  const std::string font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
  if (!std::filesystem::exists(font)) {
    TAVRIN_SKIP_GROUP("fit of TimGM6mb instruments: not installed in " + font +
                      "; scripts/setup.sh installs timgm6mb-soundfont");
  }
  CardDocument doc;
  AddReal(font, {{"Piano", 0, true}, {"Strings", 48, false}, {"Organ", 16, false}, {"Oboe", 68, false}, {"Kit", 0, false}}, doc);
  ASSERT_GT(CardBytes(doc, CardLayout::Card), 2 * kDefaultCardCapacity);
  const FitPlan plan = CheckPlan(doc, kDefaultCardCapacity, FitOptions{}.maxTranspose);
  EXPECT_TRUE(plan.fits);
  std::size_t loops = 0;
  for (const FitStep& s : plan.steps) loops += !s.skipped && s.kind == FitStepKind::NewLoop;
  EXPECT_GE(loops, 5u) << "strings, organ and oboe looped";
  std::vector<std::string> gone;
  CheckFirstStepAlone(doc, plan, gone);

  CardDocument strings;
  AddReal(font, {{"Strings", 48, true}}, strings);
  const FitPlan shorter = CheckPlan(strings, CardBytes(strings, CardLayout::Card) / 2, 0);
  std::size_t compact = 0;
  for (const FitStep& s : shorter.steps) {
    const bool made = !s.skipped && s.kind == FitStepKind::CompactLoop;
    compact += made;
    EXPECT_TRUE(!made || s.markers.end - s.markers.loop >= 3125) << s.what.view();
  }
  EXPECT_EQ(compact, 3u);
}

TEST(Fit, ApplyIsAllOrNothingAndTicksFollowWhatStepsBuildOn) {
  const CardDocument doc = MakeCard();
  FitOptions options;
  options.capacity = 150000;
  FitPlan plan;
  ASSERT_EQ(PlanFit(doc, options, plan), kOk);
  // A step ticked alone brings what it builds on; unticking that drops it again.
  std::vector<bool> take(plan.steps.size());
  std::size_t built = 0;
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    if (plan.steps[i].after < 0 || plan.steps[i].skipped) continue;
    ++built;
    SelectStep(plan, take, i, true);
    EXPECT_TRUE(take[static_cast<std::size_t>(plan.steps[i].after)]);
    SelectStep(plan, take, static_cast<std::size_t>(plan.steps[i].after), false);
    EXPECT_FALSE(take[i]);
  }
  EXPECT_GE(built, 3u);
  // Every other step, closed under what they build on: the size the dialog
  // shows is the size the document gets.
  std::fill(take.begin(), take.end(), false);
  for (std::size_t i = 0; i < take.size(); i += 2) {
    if (!plan.steps[i].choice) SelectStep(plan, take, i, true);
  }
  const auto same = [](const CardDocument& a, const CardDocument& b) {
    if (a.multisounds.size() != b.multisounds.size() || a.drumsounds.size() != b.drumsounds.size()) return false;
    for (std::size_t i = 0; i < a.multisounds.size(); ++i) {
      const auto &x = a.multisounds[i].samples, &y = b.multisounds[i].samples;
      if (x.size() != y.size()) return false;
      for (std::size_t j = 0; j < x.size(); ++j) {
        if (x[j].frames != y[j].frames || x[j].markers != y[j].markers || x[j].topKey != y[j].topKey) return false;
      }
    }
    return true;
  };
  CardDocument applied = doc;
  Result r = kOutOfMemory;
  for (long failAt = 0; r == kOutOfMemory; ++failAt) {
    g_failAfter = failAt;
    r = ApplyFit(applied, plan, take);
    g_failAfter = -1;
    ASSERT_TRUE(r != kOutOfMemory || same(applied, doc)) << "a failed allocation " << failAt << " left a change";
  }
  ASSERT_EQ(r, kOk);
  EXPECT_FALSE(same(applied, doc));
  EXPECT_EQ(CardBytes(applied, CardLayout::Card), SizeWithSteps(doc, plan, take, CardLayout::Card));
  CheckLoops(doc, applied, plan, take);
  // Steps without what they build on, or a plan of another document, change nothing.
  for (std::size_t i = 0; i < plan.steps.size(); ++i) {
    if (plan.steps[i].after < 0) continue;
    std::vector<bool> orphan(plan.steps.size());
    orphan[i] = true;
    CardDocument copy = doc;
    EXPECT_EQ(ApplyFit(copy, plan, orphan), kInvalidArgument);
    EXPECT_TRUE(same(copy, doc));
    break;
  }
  CardDocument other = doc;
  other.multisounds[0].samples[0].frames.pop_back();
  std::vector<bool> all;
  ASSERT_EQ(DefaultSelection(plan, all), kOk);
  EXPECT_EQ(ApplyFit(other, plan, all), kInvalidArgument);
  // A step naming a sound, sample, neighbour or earlier step one past what
  // there is (a plan gone stale) changes nothing either.
  const auto thinned = std::find_if(plan.steps.begin(), plan.steps.end(),
                                    [](const FitStep& st) { return st.kind == FitStepKind::ThinZone && st.neighbour >= 0; });
  ASSERT_NE(thinned, plan.steps.end());
  const std::size_t t = static_cast<std::size_t>(thinned - plan.steps.begin());
  const std::size_t samples = doc.multisounds[thinned->sound].samples.size();
  const struct { void (*stale)(FitStep&, std::size_t sounds, std::size_t samples, std::size_t steps); } rows[] = {
      {[](FitStep& st, std::size_t sounds, std::size_t, std::size_t) { st.sound = sounds; }},
      {[](FitStep& st, std::size_t, std::size_t n, std::size_t) { st.sample = n; }},
      {[](FitStep& st, std::size_t, std::size_t n, std::size_t) { st.neighbour = static_cast<std::int64_t>(n); }},
      {[](FitStep& st, std::size_t, std::size_t, std::size_t steps) { st.after = static_cast<std::int64_t>(steps); }},
  };
  for (const auto& row : rows) {
    FitPlan stale = plan;
    row.stale(stale.steps[t], doc.multisounds.size(), samples, stale.steps.size());
    std::vector<bool> one(stale.steps.size());
    one[t] = true;
    if (plan.steps[t].after >= 0) one[static_cast<std::size_t>(plan.steps[t].after)] = true;
    CardDocument copy = doc;
    EXPECT_EQ(ApplyFit(copy, stale, one), kInvalidArgument) << &row - rows;
    EXPECT_TRUE(same(copy, doc)) << &row - rows;
  }
}

// A choice the user ticks drops its whole sound, and only that sound; the
// size shown is the size the card gets.
TEST(Fit, ATickedChoiceDropsItsWholeSound) {
  const CardDocument doc = MakeCard();
  FitOptions options;
  options.capacity = 20000;
  options.maxTranspose = 12;
  FitPlan plan;
  ASSERT_EQ(PlanFit(doc, options, plan), kOk);
  for (SoundType type : {SoundType::Multisound, SoundType::Drumsound}) {
    const std::vector<Sound>& was = type == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    const auto drop = std::find_if(plan.steps.begin(), plan.steps.end(), [type](const FitStep& st) {
      return st.kind == FitStepKind::DropSound && st.soundType == type;
    });
    ASSERT_NE(drop, plan.steps.end());
    std::vector<bool> take;
    ASSERT_EQ(DefaultSelection(plan, take), kOk);
    SelectStep(plan, take, static_cast<std::size_t>(drop - plan.steps.begin()), true);
    CardDocument applied = doc;
    ASSERT_EQ(ApplyFit(applied, plan, take), kOk);
    const std::vector<Sound>& now = type == SoundType::Drumsound ? applied.drumsounds : applied.multisounds;
    std::vector<std::string> want, got;
    for (std::size_t i = 0; i < was.size(); ++i) {
      if (i != drop->sound) want.emplace_back(was[i].name.view());
    }
    for (const Sound& sound : now) got.emplace_back(sound.name.view());
    EXPECT_EQ(got, want);
    EXPECT_EQ(CardBytes(applied, CardLayout::Card), SizeWithSteps(doc, plan, take, CardLayout::Card));
  }
}

TEST(Fit, CardBytesIsTheBuildersSizeInEveryLayout) {
  CardDocument doc = MakeCard();
  AppendSample(doc.drumsounds[0]);  // a Drumsound's further samples are not stored
  doc.drumsounds[0].samples.back().frames.assign(100, 0.1f);
  AppendSound(doc.multisounds, SoundType::Multisound);  // empty: no record
  for (CardLayout layout : {CardLayout::File, CardLayout::Card, CardLayout::WideCard}) {
    doc.cardCapacity = 64;
    CardImage image;
    std::uint64_t required = 0;
    const Result r = BuildCardImage(doc, layout, image, &required);
    EXPECT_EQ(CardBytes(doc, layout), layout == CardLayout::File ? image.size() : required) << r;
  }
}

#ifdef TAVRIN_CLI_PATH
TEST(FitCommand, PrintsPlansAndAppliesUnderTheLockOnSoxMadeSounds) {
  if (!HaveTools("sox")) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  auto run = [&](const std::string& args) {
    return RunCommand("cd \"" + dir.path().string() + "\" && " + args, dir.File("stderr.txt"));
  };
  const char* make[] = {"sox -n -r 44100 -b 16 s48.wav synth 2 sawtooth 130.81 fade 0.02 2 0.1",
                        "sox -n -r 44100 -b 16 s55.wav synth 2 sawtooth 196 fade 0.02 2 0.1",
                        "sox -n -r 44100 -b 16 s60.wav synth 2 square 261.63 fade 0.02 2 0.1",
                        "sox -n -r 44100 -b 16 p.wav synth 2 pluck 146.83",
                        "sox -n -r 44100 -b 16 k.wav synth 1 sine 120:40 fade 0 1 0.9"};
  for (const char* m : make) ASSERT_EQ(run(m).status, 0) << m;
  const std::string t = "\"" TAVRIN_CLI_PATH "\" ";
  ASSERT_EQ(run(t + "add c.qz --multi Saw s48.wav s55.wav s60.wav --detect-root").status, 0);
  ASSERT_EQ(run(t + "add c.qz --multi Pluck p.wav --detect-root").status, 0);
  ASSERT_EQ(run(t + "add c.qz --drum Kick k.wav").status, 0);
  std::vector<std::uint8_t> before;
  ASSERT_EQ(ReadWholeFile(dir.File("c.qz"), 1 << 24, before), kOk);
  const CommandRun printed = run(t + "fit c.qz --capacity 150000");
  EXPECT_EQ(printed.status, 0);
  EXPECT_NE(printed.out.find("fits: "), std::string::npos) << printed.out;
  EXPECT_NE(printed.out.find(" loop "), std::string::npos) << printed.out;
  EXPECT_EQ(run(t + "fit c.qz --capacity 100 --apply").status, 1);
  std::vector<std::uint8_t> after;
  ASSERT_EQ(ReadWholeFile(dir.File("c.qz"), 1 << 24, after), kOk);
  EXPECT_EQ(before, after) << "printing, or a plan that cannot fit, leaves the card-file as it was";
  EXPECT_EQ(run(t + "fit c.qz --capacity 1 --device 1").status, 2);
  // A device of the wide layout: its memory, the tables counted wide.
  std::filesystem::create_directories(dir.path() / "device");
  std::ofstream(dir.File("device/device.txt")) << "model = 5\nmemory = 300000\n";
  CardDocument loaded;
  ASSERT_EQ(LoadCardFile(dir.File("c.qz"), loaded), kOk);
  const std::string wide = "card " + std::to_string(CardBytes(loaded, CardLayout::WideCard)) + " bytes, capacity 300000";
  EXPECT_NE(run("TAVRIN_SIMULATED_DEVICE=device " + t + "fit c.qz --device 1").out.find(wide), std::string::npos) << wide;
  const CommandRun applied = run(t + "fit c.qz --capacity 150000 --apply --json");
  ASSERT_EQ(applied.status, 0) << applied.err;
  EXPECT_NE(applied.out.find("\"fits\": true"), std::string::npos);
  CardDocument doc;
  ASSERT_EQ(LoadCardFile(dir.File("c.qz"), doc), kOk);
  EXPECT_LE(CardBytes(doc, CardLayout::Card), 150000u);
  EXPECT_TRUE(doc.multisounds.at(0).samples.at(0).loopOn);
}
#endif

}  // namespace
}  // namespace tavrin
