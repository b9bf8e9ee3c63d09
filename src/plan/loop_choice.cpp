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

// Ensembles and chorused sounds hold no short stretch that continues itself,
// so the search finds nothing to loop there: a loop of whole periods instead,
// of at least 100 ms and as long as the region allows, between rising zero
// crossings, crossfaded over as much of it as its seam needs.
Result CrossfadedLongLoop(const SampleData& s, std::int64_t earliest, std::int64_t from, std::int64_t to,
                          double frequency, LoopChoice& out, bool& found) {
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
  std::size_t tried = 0;
  for (std::int64_t k = static_cast<std::int64_t>((end - from - half) / period);
       k * period >= kNaturalFrames && tried < 2 * kTries; --k) {
    const std::int64_t target = end - static_cast<std::int64_t>(std::llround(k * period));
    std::int64_t loop = -1;
    for (std::int64_t d = 0; d <= half && loop < 0; ++d) {
      if (target - d > from && rising(target - d)) loop = target - d;
      else if (target + d < end && rising(target + d)) loop = target + d;
    }
    if (loop < 0 || std::fabs(GridCents(end - loop, f)) > kTuningGoalCents - 0.5) continue;
    ++tried;
    for (double ms : {20.0, 40.0, 80.0, 160.0, 1e6}) {
      // (the last: the whole loop, or as much as lies before it)
      const std::int64_t n = std::min({static_cast<std::int64_t>(ms * kCardRate / 1000.0), end - loop, loop - earliest});
      if (n < static_cast<std::int64_t>(ms * kCardRate / 1000.0) && ms < 1e6) continue;
      double db = 0.0;
      if (Result r = SeamAfterCrossfade(s, earliest, loop, end, n, period, db)) return r;
      if (db > kSeamGoalDb - kSeamMarginDb) continue;
      Pitch own;
      if (Result r = MeasurePitch(s, loop, std::min(s.frameCount(), std::max(end, loop + kPitchWindowFrames)), own)) {
        return r;
      }
      const bool near = own.pitched && std::fabs(1200.0 * std::log2(own.frequency / f)) < 100.0;
      const double cents = GridCents(end - loop, near ? own.frequency : f);
      if (std::fabs(cents) > kTuningGoalCents) break;
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

Result ChooseLoop(const SampleData& s, std::int64_t earliest, std::int64_t from, std::int64_t to, double frequency,
                  LoopKind kind, LoopChoice& out, bool& found) {
  found = false;
  if (!(frequency > 0.0) || from < earliest || to > s.frameCount() || to <= from) return kOk;
  const double period = kCardRate / frequency;
  LoopSearchOptions options;
  options.from = from;
  options.to = to;
  options.period = period;
  options.maxCandidates = 48;
  std::vector<LoopCandidate> candidates;
  if (Result r = FindLoops(s.frames.data(), s.frames.size(), options, candidates)) return r;
  // In tune on the frame grid, then in the order the kind asks for.
  std::erase_if(candidates, [&](const LoopCandidate& c) {
    return std::fabs(GridCents(c.end - c.loop, frequency)) > kTuningGoalCents - 0.5;
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
    // The tuning against the pitch of the sound where the loop lies: over
    // the loop, and at least a quarter second from Loop on, since a loop of
    // a few periods is too short to measure a pitch to a cent.
    Pitch own;
    const std::int64_t measured = std::min(s.frameCount(), std::max(c.end, c.loop + kPitchWindowFrames));
    if (Result r = MeasurePitch(s, c.loop, measured, own)) return r;
    // (an octave slip on a short stretch is the measurement's, not the loop's)
    const bool near = own.pitched && std::fabs(1200.0 * std::log2(own.frequency / frequency)) < 100.0;
    pick.cents = GridCents(c.end - c.loop, near ? own.frequency : frequency);
    if (std::fabs(pick.cents) > kTuningGoalCents) continue;
    out = pick;
    found = true;
    return kOk;
  }
  if (kind == LoopKind::Natural) return CrossfadedLongLoop(s, earliest, from, to, frequency, out, found);
  return kOk;
}

}  // namespace tavrin::fit
