#include "plan/loop_choice.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "base/alloc.h"

namespace tavrin::fit {
namespace {

constexpr std::int64_t kNaturalFrames = kCardRate / 10;  // 100 ms
constexpr std::size_t kTries = 8;                          // candidates measured in full
constexpr std::int64_t kPitchWindowFrames = 8192;          // the shortest stretch a loop's pitch is measured over
constexpr double kSeamMarginDb = 1.0;                      // aimed below the goal
constexpr double kTuningMarginCents = 0.5;                 // aimed within the goal
constexpr double kCrossfadeMs[] = {5.0, 10.0, 20.0, 40.0, 80.0};

std::int64_t WindowOf(double period) {
  return period > 1.0 ? std::clamp<std::int64_t>(static_cast<std::int64_t>(2.0 * period), 32, 2048) : 256;
}

// The seam a crossfade of n frames would leave, measured on a scratch copy of
// the frames it reads and writes.
Result SeamAfterCrossfade(const SampleData& s, std::int64_t earliest, std::int64_t loop, std::int64_t end,
                          std::int64_t n, double period, double& db) {
  const std::int64_t from = std::max(earliest, loop - std::max(n, WindowOf(period)));
  SampleData scratch;
  if (Result r = TryResize(scratch.frames, static_cast<std::size_t>(end - from))) return r;
  std::copy(s.frames.begin() + from, s.frames.begin() + end, scratch.frames.begin());
  scratch.markers.loop = loop - from;
  scratch.markers.end = end - from;
  CrossfadeSeam(scratch, n);
  db = SeamDb(scratch.frames.data(), 0, loop - from, end - from, period);
  return kOk;
}

// The pitch a loop from `loop` to `end` is heard against: that of the frames
// of `source` from Loop over the loop, and over at least kPitchWindowFrames (a
// loop of a few periods is too short to measure a pitch to a cent).
Result LoopPitch(const SampleData& source, std::int64_t loop, std::int64_t end, Pitch& out) {
  const std::int64_t to = std::min(source.frameCount(), loop + std::max(end - loop, kPitchWindowFrames));
  return MeasurePitch(source, loop, to, out);
}

// The loop's tuning: its length against the whole number of periods of its
// pitch nearest it. `tuned` when that pitch is found and the loop is within
// the goal, less a margin.
Result LoopTuning(const SampleData& source, std::int64_t loop, std::int64_t end, double& cents, bool& tuned) {
  tuned = false;
  cents = 1200.0;
  Pitch own;
  if (Result r = LoopPitch(source, loop, end, own)) return r;
  if (!own.pitched) return kOk;
  cents = GridCents(end - loop, own.frequency);
  tuned = std::fabs(cents) <= kTuningGoalCents - kTuningMarginCents;
  return kOk;
}

// Ensembles and chorused sounds hold no short stretch that continues itself,
// so the search finds nothing to loop there: a loop of whole periods instead,
// of at least 100 ms, between rising zero crossings, crossfaded over as much
// of it as its seam needs. A crossfade over uncorrelated voices smooths the
// seam by its length against the two periods the seam is weighed over, so the
// loops tried first are those with the most room for one: Loop halfway
// between the earliest frame and End.
Result CrossfadedLongLoop(const SampleData& s, const SampleData& source, std::int64_t earliest, std::int64_t from,
                          std::int64_t to, double frequency, LoopChoice& out, bool& found) {
  const float* x = s.frames.data();
  const auto rising = [x](std::int64_t i) { return x[i - 1] < 0.0f && x[i] >= 0.0f; };
  Pitch sustain;
  if (Result r = MeasurePitch(s, from, to, sustain)) return r;
  const double f = sustain.pitched && std::fabs(1200.0 * std::log2(sustain.frequency / frequency)) < 100.0
                       ? sustain.frequency
                       : frequency;
  const double period = kCardRate / f;
  std::int64_t end = to - 1;
  while (end > from + 1 && !rising(end)) --end;
  const std::int64_t half = static_cast<std::int64_t>(period / 2.0);
  // The rising crossing nearest `target`, within half a period; -1 if none.
  const auto crossingNear = [&](std::int64_t target) -> std::int64_t {
    for (std::int64_t d = 0; d <= half; ++d) {
      if (target - d > from && rising(target - d)) return target - d;
      if (target + d < end && rising(target + d)) return target + d;
    }
    return -1;
  };
  const auto longest = static_cast<std::int64_t>((end - from - half) / period);
  const auto mid = std::clamp<std::int64_t>(static_cast<std::int64_t>((end - earliest) / 2.0 / period), 1,
                                           std::max<std::int64_t>(longest, 1));
  for (std::int64_t step = 0; step < 4 * static_cast<std::int64_t>(kTries); ++step) {
    // k = mid, mid + 1, mid - 1, mid + 2, ...
    const std::int64_t k = mid + (step % 2 == 1 ? (step + 1) / 2 : -(step / 2));
    if (k > longest || k * period < kNaturalFrames) continue;
    std::int64_t loop = crossingNear(end - static_cast<std::int64_t>(std::llround(k * period)));
    if (loop < 0) continue;
    // The pitch where the loop lies may stray from the sustain's (voices
    // drift apart): the length is taken again in periods of its own.
    Pitch own;
    if (Result r = LoopPitch(source, loop, end, own)) return r;
    if (own.pitched && std::fabs(1200.0 * std::log2(own.frequency / f)) < 100.0) {
      const double periods = std::round((end - loop) * own.frequency / kCardRate);
      loop = crossingNear(end - static_cast<std::int64_t>(std::llround(periods * kCardRate / own.frequency)));
      if (loop < 0) continue;
    }
    double cents = 0.0;
    bool tuned = false;
    if (Result r = LoopTuning(source, loop, end, cents, tuned)) return r;
    if (!tuned) continue;
    for (double ms : {20.0, 40.0, 80.0, 160.0, 1e6}) {
      // (the last: the whole loop, or as much as lies before it)
      const std::int64_t n = std::min({static_cast<std::int64_t>(ms * kCardRate / 1000.0), end - loop, loop - earliest});
      if (n < static_cast<std::int64_t>(ms * kCardRate / 1000.0) && ms < 1e6) continue;
      double db = 0.0;
      if (Result r = SeamAfterCrossfade(s, earliest, loop, end, n, period, db)) return r;
      if (db > kSeamGoalDb - kSeamMarginDb) continue;
      out = LoopChoice{loop, end, n, db, cents};
      found = true;
      return kOk;
    }
  }
  return kOk;
}

}  // namespace

Result MeasurePitch(const SampleData& s, std::int64_t from, std::int64_t to, Pitch& out) {
  out = Pitch{};
  if (from < 0 || to <= from || to > s.frameCount()) return kOk;
  PitchEstimate p;
  if (Result r = DetectPitch(s.frames.data() + from, static_cast<std::size_t>(to - from), kCardRate, p)) return r;
  out.pitched = p.pitched && p.frequency > 0.0;
  out.frequency = p.frequency;
  return kOk;
}

std::int64_t SustainStart(const SampleData& s, std::int64_t from, std::int64_t to) {
  if (from < 0 || to <= from || to > s.frameCount()) return from;
  return from + static_cast<std::int64_t>(SteadyStart(s.frames.data() + from, static_cast<std::size_t>(to - from)));
}

double SeamDb(const float* x, std::int64_t earliest, std::int64_t loop, std::int64_t end, double period) {
  const std::int64_t w = std::min(WindowOf(period), loop - earliest);
  if (w <= 0 || end <= loop) return 0.0;
  double diff = 0.0, energy = 0.0, near = 0.0;
  const std::int64_t nearFrom = w - std::min<std::int64_t>(w, 32);
  for (std::int64_t i = 0; i < w; ++i) {
    const double a = x[end - w + i], b = x[loop - w + i];
    diff += (a - b) * (a - b);
    energy += a * a;
    if (i >= nearFrom) near += (a - b) * (a - b);
  }
  if (!(energy > 0.0)) return diff > 0.0 ? 0.0 : -120.0;
  const double ratio = std::max(diff, near * static_cast<double>(w) / static_cast<double>(w - nearFrom)) / energy;
  return 10.0 * std::log10(std::max(ratio, 1e-12));
}

double GridCents(std::int64_t length, double frequency) {
  if (length <= 0 || !(frequency > 0.0)) return 1200.0;
  const double periods = std::round(static_cast<double>(length) * frequency / kCardRate);
  if (periods < 1.0) return 1200.0;
  return 1200.0 * std::log2(kCardRate * periods / static_cast<double>(length) / frequency);
}

void CrossfadeSeam(SampleData& s, std::int64_t length) {
  if (length > 0) CrossfadeLoop(s, length);
}

Result ChooseLoop(const SampleData& s, const SampleData& source, std::int64_t earliest, std::int64_t from,
                  std::int64_t to, double frequency, LoopKind kind, LoopChoice& out, bool& found) {
  found = false;
  if (!(frequency > 0.0) || from < earliest || to > s.frameCount() || to <= from ||
      source.frameCount() != s.frameCount()) {
    return kOk;
  }
  const double period = kCardRate / frequency;
  LoopSearchOptions options;
  options.from = from;
  options.to = to;
  options.period = period;
  options.maxCandidates = 48;
  options.preference = kind == LoopKind::Compact ? LoopPreference::kCompact : LoopPreference::kNatural;
  std::vector<LoopCandidate> candidates;
  if (Result r = FindLoops(s.frames.data(), s.frames.size(), options, candidates)) return r;
  // In tune on the frame grid, then in the order the kind asks for.
  std::erase_if(candidates, [&](const LoopCandidate& c) {
    return std::fabs(GridCents(c.end - c.loop, frequency)) > kTuningGoalCents - kTuningMarginCents;
  });
  auto shorter = [](const LoopCandidate& a, const LoopCandidate& b) {
    return a.end - a.loop != b.end - b.loop ? a.end - a.loop < b.end - b.loop : a.loop < b.loop;
  };
  std::sort(candidates.begin(), candidates.end(), shorter);
  if (kind == LoopKind::Natural) {
    // Long enough to keep the sustain's motion, smoothest first; the shorter
    // ones after them, as a compact search would take them.
    std::stable_partition(candidates.begin(), candidates.end(),
                          [](const LoopCandidate& c) { return c.end - c.loop >= kNaturalFrames; });
    const auto longOnes = std::find_if(candidates.begin(), candidates.end(),
                                       [](const LoopCandidate& c) { return c.end - c.loop < kNaturalFrames; });
    std::stable_sort(candidates.begin(), longOnes,
                     [](const LoopCandidate& a, const LoopCandidate& b) { return a.errorDb < b.errorDb; });
  }
  std::size_t tried = 0;
  for (const LoopCandidate& c : candidates) {
    if (tried++ == kTries) break;
    LoopChoice pick;
    pick.loop = c.loop;
    pick.end = c.end;
    pick.seamDb = SeamDb(s.frames.data(), earliest, c.loop, c.end, period);
    if (pick.seamDb > kSeamGoalDb - kSeamMarginDb) {
      bool smooth = false;
      for (double ms : kCrossfadeMs) {
        const std::int64_t n = static_cast<std::int64_t>(ms * kCardRate / 1000.0);
        if (n > c.end - c.loop || n > c.loop - earliest) break;
        double db = 0.0;
        if (Result r = SeamAfterCrossfade(s, earliest, c.loop, c.end, n, period, db)) return r;
        if (db <= kSeamGoalDb - kSeamMarginDb) {
          pick.crossfade = n;
          pick.seamDb = db;
          smooth = true;
          break;
        }
      }
      if (!smooth) continue;
    }
    bool tuned = false;
    if (Result r = LoopTuning(source, c.loop, c.end, pick.cents, tuned)) return r;
    if (!tuned) continue;
    out = pick;
    found = true;
    return kOk;
  }
  if (kind == LoopKind::Natural) return CrossfadedLongLoop(s, source, earliest, from, to, frequency, out, found);
  return kOk;
}

}  // namespace tavrin::fit
