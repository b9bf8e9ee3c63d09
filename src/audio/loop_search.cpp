// Loop search over the sustain: End candidates are the end marker and rising
// zero crossings spread across the sustained region; for each, loop lengths
// run from one period to the sustain's length (every whole number of periods,
// the loop point the one whose frames next to the seam fit best within 2 cents
// of it), and every rising crossing is tried as a loop point too (an ensemble
// lines up again where its voices do). The best of these are scored on the
// waveform across the seam over a few periods, the level and tone of the
// loop's two ends, and the tuning; the best few then move both points together.
#include "audio/loop_search.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/pitch.h"
#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::size_t kNear = 62;            // frames each side of the seam weighed on their own
constexpr std::size_t kEndCount = 10;        // End candidates across the sustain
constexpr std::size_t kProbe = 16;           // frames each side of the seam that rank loop points
constexpr std::size_t kFullScores = 48;      // loop points per End scored in full besides each band's best
constexpr std::size_t kRefined = 24;         // the best loops that move both points together
constexpr double kTuningGoalCents = 2.0;     // a loop within this plays in tune with the attack
constexpr double kNaturalFrames = 3125.0;    // 100 ms: the shortest natural loop where there is room
constexpr std::size_t kModulationSpan = 125000;  // 4 s: how much of the sustain is read for vibrato and beating
constexpr double kFastDecayDbPerSecond = 20.0;  // 2 dB in 100 ms: a long loop would pulse
constexpr double kCycleShare = 0.85;         // a vibrato's rate wanders: a loop this share of its cycle keeps the motion
constexpr double kLooseTuningCents = 4.0;    // a natural loop this far off may win on a far better seam
constexpr double kDetunedGainDb = 12.0;      // by this much
constexpr double kLongSlackDb = 12.0;        // a long loop this much worse than the best is not worth its length
constexpr double kShortSlackDb = 6.0;        // then the longest this close to the best
constexpr double kPenaltyPerDb = 2.0;        // score per dB of level or tone mismatch
constexpr double kPenaltyPerCent = 3.0;      // score per cent of tuning beyond the goal
constexpr double kInaudibleDb = -45.0;        // a seam this good needs no better one

bool RisingAt(const float* x, std::size_t i) { return x[i - 1] < 0.0f && x[i] >= 0.0f; }

double SquareSum(const float* x, std::size_t n) {
  double s = 0.0;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<double>(x[i]) * x[i];
  return s;
}

double DiffSum(const float* a, const float* b, std::size_t n) {
  double s0 = 0.0, s1 = 0.0;
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    const double d0 = static_cast<double>(a[i]) - b[i], d1 = static_cast<double>(a[i + 1]) - b[i + 1];
    s0 += d0 * d0;
    s1 += d1 * d1;
  }
  if (i < n) s0 += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
  return s0 + s1;
}

double ToDb(double ratio) { return 10.0 * std::log10(std::max(ratio, 1e-12)); }

// The seam from `e` back to `l`: the difference of the `before` frames ahead
// of each and the `after` frames from each, against their mean level; or the
// same per frame over kNear frames each side if that is worse (a misfit shows
// right at the seam most, on a sawtooth's edge above all). As a ratio.
double SeamRatio(const float* x, std::size_t count, std::size_t l, std::size_t e, std::size_t before, std::size_t after) {
  before = std::min({before, l});
  after = std::min(after, count - e);
  const std::size_t n = before + after;
  if (n == 0) return 1.0;
  const double level = (SquareSum(x + l - before, n) + SquareSum(x + e - before, n)) / (2.0 * static_cast<double>(n));
  if (!(level > 0.0)) return 1.0;
  const std::size_t nb = std::min(before, kNear), na = std::min(after, kNear);
  const double near = nb + na > 0 ? DiffSum(x + l - nb, x + e - nb, nb + na) / static_cast<double>(nb + na) : 0.0;
  const double all = DiffSum(x + l - before, x + e - before, n) / static_cast<double>(n);
  return std::max(near, all) / level;
}

// The frames a seam is weighed over before and after it: two periods and
// one (256 and 128 frames when unpitched).
std::size_t SeamBefore(double period) {
  return period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(2.0 * period), 64, 2048) : 256;
}
std::size_t SeamAfter(double period) {
  return period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(period), 32, 1024) : 128;
}

// Level and tone (energy of the first difference against the energy) of
// `n` frames from `at`, in dB.
void LevelAndTone(const float* x, std::size_t at, std::size_t n, double& level, double& tone) {
  double e = 0.0, d = 0.0;
  for (std::size_t i = at; i < at + n; ++i) {
    e += static_cast<double>(x[i]) * x[i];
    if (i > 0) d += (static_cast<double>(x[i]) - x[i - 1]) * (static_cast<double>(x[i]) - x[i - 1]);
  }
  level = ToDb(e / static_cast<double>(std::max<std::size_t>(n, 1)));
  tone = ToDb(d / std::max(e, 1e-30));
}

// Removes the straight line that fits `v` best, then scales it to unit
// spread; false when its spread is under `floor`.
bool Standardise(std::vector<double>& v, double floor) {
  const double n = static_cast<double>(v.size());
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const double x = static_cast<double>(i);
    sx += x, sy += v[i], sxx += x * x, sxy += x * v[i];
  }
  const double den = n * sxx - sx * sx;
  const double slope = den > 0.0 ? (n * sxy - sx * sy) / den : 0.0, icpt = (sy - slope * sx) / n;
  double var = 0.0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    v[i] -= icpt + slope * static_cast<double>(i);
    var += v[i] * v[i];
  }
  const double spread = std::sqrt(var / n);
  if (!(spread > floor)) return false;
  for (double& x : v) x /= spread;
  return true;
}

// The cycle of any vibrato or beating in [from, to), in frames; 0 when none.
// Per block of about four periods: the local period (the lag within 3% of
// `period` that repeats best) and the level; a cycle is the first clear peak
// of their autocorrelation, once the trend is removed.
Result ModulationCycle(const float* x, std::size_t from, std::size_t to, double period, double& cycle) {
  cycle = 0.0;
  const std::size_t block = std::max<std::size_t>(256, static_cast<std::size_t>(4.0 * std::max(period, 1.0)));
  const std::size_t maxLag = period > 0.0 ? static_cast<std::size_t>(period * 1.03) + 2 : 0;
  to = std::min(to, from + kModulationSpan);
  if (to < from + 8 * block + maxLag) return kOk;
  const std::size_t blocks = (to - from - maxLag) / block;
  std::vector<double> pitch, level;
  if (TryReserve(pitch, blocks) || TryReserve(level, blocks)) return kOutOfMemory;
  const std::size_t minLag = period > 0.0 ? std::max<std::size_t>(2, static_cast<std::size_t>(period * 0.97)) : 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    const float* p = x + from + b * block;
    level.push_back(ToDb(SquareSum(p, block)) / 20.0);  // reserved above
    if (period <= 0.0) continue;
    std::size_t best = minLag;
    double bestD = 0.0, prev = 0.0, next = 0.0;
    for (std::size_t lag = minLag; lag <= maxLag; ++lag) {
      const double d = DiffSum(p, p + lag, block);
      if (lag == minLag || d < bestD) best = lag, bestD = d;
    }
    if (best > minLag && best < maxLag) {
      prev = DiffSum(p, p + best - 1, block);
      next = DiffSum(p, p + best + 1, block);
    }
    const double den = prev - 2.0 * bestD + next;
    const double off = best > minLag && best < maxLag && den > 0.0 ? std::clamp(0.5 * (prev - next) / den, -0.5, 0.5) : 0.0;
    pitch.push_back(std::log2(static_cast<double>(best) + off));
  }
  // Spreads under 1 cent of pitch or 0.3 dB of level are no motion.
  const bool moves = period > 0.0 && Standardise(pitch, 1.0 / 1200.0);
  const bool swells = Standardise(level, 0.3 / 20.0);
  if (!moves && !swells) return kOk;
  std::vector<double> r;
  if (TryResize(r, blocks * 2 / 3 + 1)) return kOutOfMemory;
  for (std::size_t lag = 1; lag < r.size(); ++lag) {
    double s = 0.0;
    for (std::size_t i = 0; i + lag < blocks; ++i) {
      if (moves) s += pitch[i] * pitch[i + lag];
      if (swells) s += level[i] * level[i + lag];
    }
    r[lag] = s / static_cast<double>((blocks - lag) * ((moves ? 1 : 0) + (swells ? 1 : 0)));
  }
  std::size_t lag = 1;
  while (lag < r.size() && r[lag] > 0.0) ++lag;  // past the first dip
  for (; lag + 1 < r.size(); ++lag) {
    if (r[lag] > 0.3 && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
      const double den = r[lag - 1] - 2.0 * r[lag] + r[lag + 1];
      const double off = den < 0.0 ? std::clamp(0.5 * (r[lag - 1] - r[lag + 1]) / den, -0.5, 0.5) : 0.0;
      cycle = (static_cast<double>(lag) + off) * static_cast<double>(block);
      return kOk;
    }
  }
  return kOk;
}

// How fast the level falls from the first fifth of [from, to) to the last,
// in dB per second at the card's rate; negative for a swell.
double DecayDbPerSecond(const float* x, std::size_t from, std::size_t to) {
  const std::size_t fifth = (to - from) / 5;
  if (fifth < 64) return 0.0;
  const double first = SquareSum(x + from, fifth), last = SquareSum(x + to - fifth, fifth);
  if (!(first > 0.0) || !(last > 0.0)) return 0.0;
  return 10.0 * std::log10(first / last) / (4.0 * static_cast<double>(fifth) / kCardRate);
}

struct Scored {
  LoopCandidate c;
  double score = 0.0;
};

}  // namespace

Result FindLoops(const float* frames, std::size_t count, const LoopSearchOptions& options,
                 std::vector<LoopCandidate>& out) {
  out.clear();
  if (frames == nullptr || count < 4) return kOk;
  const double period = options.period > 1.0 ? options.period : 0.0;
  const std::size_t before = SeamBefore(period);
  const std::size_t after = SeamAfter(period);
  const std::size_t to = options.to >= 0 ? std::min(static_cast<std::size_t>(options.to), count) : count;
  const std::size_t from = std::max<std::size_t>(
      options.from >= 0 ? static_cast<std::size_t>(options.from) : SteadyStart(frames, count), std::max<std::size_t>(kNear, 1));
  if (from + 2 >= to) return kOk;
  const double minLength = period > 0.0 ? std::max(2.0, period * 0.97) : 16.0;

  // End candidates, latest first: the end marker itself (the loop then uses
  // the whole sample), the last rising crossing before it, then the crossing
  // at or before evenly spaced places.
  std::size_t ends[kEndCount + 1];
  std::size_t endCount = 0;
  if (static_cast<double>(to - from) >= minLength) ends[endCount++] = to;
  const std::size_t reach = period > 0.0 ? static_cast<std::size_t>(2.0 * period) + 2 : 512;
  for (std::size_t j = 0; j < kEndCount; ++j) {
    const std::size_t target = to - (to - from) * j / kEndCount;
    for (std::size_t i = target; i > from && target - i <= reach; --i) {
      if (i < count && RisingAt(frames, i)) {
        if (static_cast<double>(i - from) >= minLength && (endCount == 0 || ends[endCount - 1] != i)) ends[endCount++] = i;
        break;
      }
    }
  }
  if (endCount == 0) return kOk;
  const double longest = static_cast<double>(ends[0] - from);

  double cycle = 0.0;
  if (Result r = ModulationCycle(frames, from, to, period, cycle)) return r;
  double naturalMin = std::max(kNaturalFrames, kCycleShare * cycle);
  if (naturalMin > longest) naturalMin = longest * 0.5;

  // The lengths tried, in frames, each a target the loop point moves around:
  // with a period, every whole number of periods (within 2 cents, or 3% of a
  // period where that is less); without, lengths 4% apart from 16 frames, at
  // rising crossings within 3%.
  std::vector<double> lengths;
  auto add = [&](double length) { return length >= minLength && length <= longest ? TryPushBack(lengths, length) : kOk; };
  const double goalRatio = std::exp2(kTuningGoalCents / 1200.0) - 1.0;
  for (double k = 1.0; period > 0.0 && k * period <= longest; k += 1.0) {
    if (Result r = add(k * period)) return r;
  }
  for (double k = 1.0; period <= 0.0 && k * 16.0 <= longest; k = std::max(k + 1.0, std::round(k * 1.04))) {
    if (Result r = add(k * 16.0)) return r;
  }
  for (double m = 1.0; period <= 0.0 && cycle > 0.0 && m * cycle <= longest && m <= 8.0; m += 1.0) {
    if (Result r = add(std::round(m * cycle))) return r;
  }

  // Per End: for each length the loop point whose frames next to the seam fit
  // best; the best of each 4% band of lengths and the best few overall are
  // then scored in full.
  struct Probe {
    std::size_t loop = 0;
    double near = 0.0;
    int band = 0;
  };
  std::vector<Probe> probes;
  std::vector<Scored> found;
  if (TryReserve(probes, lengths.size()) || TryReserve(found, endCount * (2 * kFullScores + 160) + kRefined)) return kOutOfMemory;
  // The full score of the loop from `l` to `e`: the seam, the level and tone
  // of the loop's two ends, and the tuning beyond the goal.
  auto score = [&](std::size_t l, std::size_t e) {
    Scored s;
    s.c.loop = static_cast<std::int64_t>(l);
    s.c.end = static_cast<std::int64_t>(e);
    s.c.errorDb = ToDb(SeamRatio(frames, count, l, e, before, after));
    const double length = static_cast<double>(e - l);
    s.c.lengthMs = length * 1000.0 / kCardRate;
    if (period > 0.0) {
      s.c.periods = length / period;
      s.c.tuningCents = 1200.0 * std::log2(std::max(1.0, std::round(s.c.periods)) / s.c.periods);
    }
    const std::size_t region = std::min<std::size_t>(e - l, std::clamp<std::size_t>(static_cast<std::size_t>(4.0 * std::max(period, 16.0)), 312, 4096));
    double levelL = 0.0, toneL = 0.0, levelE = 0.0, toneE = 0.0;
    LevelAndTone(frames, l, region, levelL, toneL);
    LevelAndTone(frames, e - region, region, levelE, toneE);
    s.score = s.c.errorDb + kPenaltyPerDb * (std::fabs(levelL - levelE) + std::fabs(toneL - toneE)) +
              kPenaltyPerCent * std::max(0.0, std::fabs(s.c.tuningCents) - kTuningGoalCents);
    return s;
  };
  std::vector<Probe> crossings;
  std::vector<double> nears;
  std::vector<std::uint8_t> pick;
  for (std::size_t ei = 0; ei < endCount; ++ei) {
    const std::size_t e = ends[ei];
    const std::size_t na = std::min(kProbe, count - e);
    auto probe = [&](std::size_t l) { return DiffSum(frames + l - kProbe, frames + e - kProbe, kProbe + na); };
    probes.clear();
    for (double target : lengths) {
      if (target > static_cast<double>(e - from)) break;
      const double reach = period > 0.0 ? std::min(target * goalRatio, 0.03 * period + 1.0) : 0.03 * target;
      double lo = std::ceil(target - reach), hi = std::floor(target + reach);
      if (lo > hi) lo = hi = std::round(target);
      hi = std::min(hi, static_cast<double>(e - from));
      lo = std::max(lo, std::ceil(minLength));
      Probe best;
      for (auto length = static_cast<std::size_t>(lo); static_cast<double>(length) <= hi; ++length) {
        const std::size_t l = e - length;
        if (l < kNear || (period <= 0.0 && !RisingAt(frames, l))) continue;
        const double near = probe(l);
        if (best.loop == 0 || near < best.near) best.loop = l, best.near = near;
      }
      if (best.loop == 0) continue;
      best.band = static_cast<int>(std::log(static_cast<double>(e - best.loop) / minLength) / std::log(1.04));
      probes.push_back(best);  // reserved: one per length
    }
    // Besides whole numbers of periods, every rising crossing: an ensemble or
    // a chorus comes back to itself where its voices line up again, which
    // need not be a whole number of the mean period.
    // The best few of any length and the best few long enough for a natural
    // loop are scored in full.
    crossings.clear();
    for (std::size_t l = std::max(from, kNear); period > 0.0 && static_cast<double>(e - l) >= minLength; ++l) {
      if (!RisingAt(frames, l)) continue;
      Probe c;
      c.loop = l;
      c.near = probe(l);
      c.band = static_cast<double>(e - l) + 0.5 >= naturalMin ? 1 : 0;
      if (Result r = TryPushBack(crossings, c)) return r;
    }
    for (int longOnly = 0; longOnly <= 1; ++longOnly) {
      auto part = crossings.begin();
      if (longOnly == 1) part = std::partition(crossings.begin(), crossings.end(), [](const Probe& c) { return c.band == 0; });
      const auto n = static_cast<std::size_t>(crossings.end() - part);
      const std::size_t take = std::min(kFullScores, n);
      std::partial_sort(part, part + static_cast<std::ptrdiff_t>(take), crossings.end(), [](const Probe& a, const Probe& b) { return a.near < b.near; });
      for (std::size_t i = 0; i < take; ++i) {
        if (longOnly == 0 && part[static_cast<std::ptrdiff_t>(i)].band == 1) continue;  // scored with the long ones
        if (Result r = TryPushBack(found, score(part[static_cast<std::ptrdiff_t>(i)].loop, e))) return r;
      }
    }
    if (probes.empty()) continue;
    // Which to score: the best of each band, and the kFullScores best.
    if (TryResize(pick, probes.size())) return kOutOfMemory;
    std::fill(pick.begin(), pick.end(), std::uint8_t{0});
    for (std::size_t i = 0, first = 0; i <= probes.size(); ++i) {
      if (i == probes.size() || probes[i].band != probes[first].band) {
        std::size_t b = first;
        for (std::size_t j = first; j < i; ++j) b = probes[j].near < probes[b].near ? j : b;
        pick[b] = 1;
        first = i;
      }
    }
    nears.clear();
    if (TryReserve(nears, probes.size())) return kOutOfMemory;
    for (const Probe& p : probes) nears.push_back(p.near);  // reserved
    const std::size_t top = std::min(kFullScores, nears.size()) - 1;
    std::nth_element(nears.begin(), nears.begin() + static_cast<std::ptrdiff_t>(top), nears.end());
    const double bar = nears[top];
    for (std::size_t i = 0; i < probes.size(); ++i) {
      if (probes[i].near > bar && pick[i] == 0) continue;
      if (Result r = TryPushBack(found, score(probes[i].loop, e))) return r;
    }
  }
  if (found.empty()) return kOk;
  // The best few then move both points together, keeping the length and so
  // the tuning, to the rising crossings of End nearby: the seam of a sound
  // whose partials drift apart fits at some places of a period and not others.
  {
    // The best few of any length and the best few long enough for a natural loop.
    auto shorter = [&](const Scored& x) { return static_cast<double>(x.c.end - x.c.loop) + 0.5 < naturalMin; };
    const auto longFrom = std::partition(found.begin(), found.end(), shorter);
    const std::size_t shortCount = static_cast<std::size_t>(longFrom - found.begin());
    const std::size_t shortTake = std::min(kRefined, shortCount), longTake = std::min(kRefined, found.size() - shortCount);
    auto better = [](const Scored& x, const Scored& y) { return x.score < y.score; };
    std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(shortTake), longFrom, better);
    std::partial_sort(longFrom, longFrom + static_cast<std::ptrdiff_t>(longTake), found.end(), better);
    const auto shift = static_cast<std::ptrdiff_t>(period > 0.0 ? std::min(4.0 * period, 2048.0) : 256.0);
    const auto fine = static_cast<std::ptrdiff_t>(std::clamp(0.25 * period, 4.0, 16.0));
    const std::size_t total = found.size();
    for (std::size_t i = 0; i < total; ++i) {
      if (i >= shortTake && (i < shortCount || i >= shortCount + longTake)) continue;
      const auto l0 = static_cast<std::ptrdiff_t>(found[i].c.loop), e0 = static_cast<std::ptrdiff_t>(found[i].c.end);
      Scored best = found[i];
      auto tryAt = [&](std::ptrdiff_t l, std::ptrdiff_t e) {
        if (l < static_cast<std::ptrdiff_t>(std::max(from, kNear)) || e > static_cast<std::ptrdiff_t>(to) ||
            static_cast<double>(e - l) < minLength) {
          return;
        }
        const Scored s = score(static_cast<std::size_t>(l), static_cast<std::size_t>(e));
        if (s.score < best.score) best = s;
      };
      // Both points together to End's rising crossings nearby, then frame by
      // frame a little way, then the loop point alone by a frame or
      // two (a long loop's tuning hardly moves).
      for (std::ptrdiff_t d = -shift; d <= shift; ++d) {
        const std::ptrdiff_t e = e0 + d;
        if (d != 0 && e >= 1 && e < static_cast<std::ptrdiff_t>(count) && RisingAt(frames, static_cast<std::size_t>(e))) {
          tryAt(l0 + d, e);  // a crossing needs the frame before it: never before the first
        }
      }
      const std::ptrdiff_t l1 = best.c.loop, e1 = best.c.end;
      for (std::ptrdiff_t d = -fine; d <= fine; ++d) {
        if (d != 0) tryAt(l1 + d, e1 + d);
      }
      const std::ptrdiff_t l2 = best.c.loop, e2 = best.c.end;
      for (std::ptrdiff_t d = -2; d <= 2; ++d) {
        if (d != 0) tryAt(l2 + d, e2);
      }
      if (best.c.loop != found[i].c.loop) {
        if (Result r = TryPushBack(found, best)) return r;
      }
    }
  }

  auto len = [](const Scored& s) { return s.c.end - s.c.loop; };
  auto tuned = [](const Scored& s) { return std::fabs(s.c.tuningCents) <= kTuningGoalCents; };
  bool anyTuned = false;
  const Scored* best = &found.front();
  for (const Scored& s : found) {
    anyTuned = anyTuned || tuned(s);
    if (s.score < best->score) best = &s;
  }
  // Natural: the best that is long enough (and in tune where any is).
  const Scored* natural = nullptr;
  for (const Scored& s : found) {
    if (static_cast<double>(len(s)) + 0.5 < naturalMin || (anyTuned && !tuned(s))) continue;
    if (natural == nullptr || s.score < natural->score) natural = &s;
  }
  // Where no loop in tune fits (an ensemble whose voices line up only at
  // places off the mean period), one a little further off with a far better
  // seam: tuned halfway between it and the attack, both stay within 2 cents.
  const Scored* loose = nullptr;
  for (const Scored& s : found) {
    if (static_cast<double>(len(s)) + 0.5 < naturalMin || std::fabs(s.c.tuningCents) > kLooseTuningCents) continue;
    if (loose == nullptr || s.score < loose->score) loose = &s;
  }
  if (natural != nullptr && loose != nullptr && loose->score < natural->score - kDetunedGainDb) natural = loose;
  // A decay allows no long loop (it would pulse at the loop's rate): where
  // the sustain falls fast and the best long loop is worse than the seam goal
  // and far worse than the best, the longest whose score is near the best's.
  if (natural != nullptr && DecayDbPerSecond(frames, from, to) >= kFastDecayDbPerSecond && natural->score > std::max(best->score + kLongSlackDb, kLoopSeamGoalDb)) {
    const Scored* shorter = nullptr;
    for (const Scored& s : found) {
      if (s.score > best->score + kShortSlackDb || (anyTuned && !tuned(s))) continue;
      if (shorter == nullptr || len(s) > len(*shorter)) shorter = &s;
    }
    natural = shorter;
  }
  if (natural == nullptr) natural = best;
  // Compact: the shortest in tune whose score is within 6 dB of the best or
  // better than -45 dB, and never worse than the seam goal when the best meets it.
  double goal = std::max(best->score + 6.0, kInaudibleDb);
  if (goal > kLoopSeamGoalDb) goal = best->score <= kLoopSeamGoalDb ? kLoopSeamGoalDb : best->score + 3.0;
  const Scored* compact = nullptr;
  for (const Scored& s : found) {
    if (s.score > goal || (anyTuned && !tuned(s))) continue;
    if (compact == nullptr || len(s) < len(*compact) || (len(s) == len(*compact) && s.score < compact->score)) compact = &s;
  }
  if (compact == nullptr) compact = best;

  if (TryReserve(out, std::max<std::size_t>(options.maxCandidates, 2))) return kOutOfMemory;
  const bool wantCompact = options.preference == LoopPreference::kCompact;
  LoopCandidate first = (wantCompact ? compact : natural)->c, second = (wantCompact ? natural : compact)->c;
  first.kind = options.preference;
  second.kind = wantCompact ? LoopPreference::kNatural : LoopPreference::kCompact;
  out.push_back(first);  // reserved
  if (second.loop != first.loop || second.end != first.end) out.push_back(second);
  // The others: distinct lengths (by more than half a period), best first.
  std::sort(found.begin(), found.end(), [](const Scored& x, const Scored& y) { return x.score < y.score; });
  const std::int64_t apart = std::max<std::int64_t>(2, static_cast<std::int64_t>(period * 0.5));
  for (std::size_t i = 0; i < found.size() && out.size() < std::max<std::size_t>(options.maxCandidates, 2); ++i) {
    bool distinct = true;
    for (const LoopCandidate& c : out) {
      if (std::llabs(len(found[i]) - (c.end - c.loop)) < apart) distinct = false;
    }
    if (!distinct) continue;
    LoopCandidate c = found[i].c;
    c.kind = static_cast<double>(len(found[i])) + 0.5 >= naturalMin ? LoopPreference::kNatural : LoopPreference::kCompact;
    out.push_back(c);
  }
  return kOk;
}

void ApplyLoop(SampleData& sample, const LoopCandidate& candidate) {
  if (sample.markers.start < 0 || sample.markers.start > candidate.loop) sample.markers.start = 0;
  sample.markers.loop = candidate.loop;
  sample.markers.end = candidate.end;
  sample.loopOn = true;
  if (sample.loopFlags == 0) sample.loopFlags = LoopFlags::kForward;
}

namespace {

// The crossfade of `n` frames ending at `end` from those ending at `loop`;
// writes the blend of frames [end - n + skip, end) to `out`.
void Blend(const float* x, std::int64_t loop, std::int64_t end, std::int64_t n, std::int64_t skip, float* out) {
  const float* fade = x + (end - n);  // fades out
  const float* into = x + (loop - n);  // fades in; ends where the loop starts
  // How alike the two stretches are: 1 means equal-power curves would swell
  // by 3 dB in the middle, so their sum is brought back to one.
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (std::int64_t i = 0; i < n; ++i) {
    ab += static_cast<double>(fade[i]) * into[i];
    aa += static_cast<double>(fade[i]) * fade[i];
    bb += static_cast<double>(into[i]) * into[i];
  }
  const double r = aa > 0.0 && bb > 0.0 ? std::clamp(ab / std::sqrt(aa * bb), 0.0, 1.0) : 0.0;
  constexpr double kQuarter = 1.57079632679489661923;
  for (std::int64_t i = skip; i < n; ++i) {
    const double t = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    const double o = std::cos(t * kQuarter), in = std::sin(t * kQuarter);
    const double gain = 1.0 / std::sqrt(1.0 + 2.0 * r * o * in);
    out[i - skip] = static_cast<float>(gain * (o * fade[i] + in * into[i]));
  }
}

constexpr std::int64_t kSeamFrames = 62;  // 2 ms each side of a loop's seam

bool LoopIsSet(const SampleData& s) {
  return s.markers.loop > 0 && s.markers.end > s.markers.loop && s.markers.end <= s.frameCount();
}

}  // namespace

std::int64_t CrossfadeLoop(SampleData& sample, std::int64_t length) {
  const std::int64_t loop = sample.markers.loop, end = sample.markers.end;
  if (loop < 0 || end <= loop || end > sample.frameCount()) return 0;
  const std::int64_t n = std::min({length, loop, end - loop});
  if (n <= 0) return 0;
  // Blending in place is safe: the blend reads [loop - n, loop) and writes
  // [end - n, end), which lie apart since n <= end - loop.
  Blend(sample.frames.data(), loop, end, n, 0, sample.frames.data() + (end - n));
  return n;
}

// What plays into the seam against what plays into the loop point, over the
// last n frames: their difference against their level, or the same over the
// last kNear frames if that is worse. In dB.
double SeamInto(const float* played, const float* ideal, std::size_t n) {
  const double level = (SquareSum(played, n) + SquareSum(ideal, n)) / (2.0 * static_cast<double>(n));
  const std::size_t m = std::min(n, kNear);
  const double error = std::max(DiffSum(played, ideal, n) / static_cast<double>(n),
                                DiffSum(played + n - m, ideal + n - m, m) / static_cast<double>(m));
  return level > 0.0 ? ToDb(error / level) : 0.0;
}

double SeamErrorDb(const float* frames, std::size_t count, std::int64_t loop, std::int64_t end, double period) {
  if (frames == nullptr || loop < 0 || end <= loop || static_cast<std::uint64_t>(end) > count) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  period = period > 1.0 ? period : 0.0;
  return ToDb(SeamRatio(frames, count, static_cast<std::size_t>(loop), static_cast<std::size_t>(end), SeamBefore(period),
                        SeamAfter(period)));
}

double LoopSeamDb(const SampleData& sample) {
  if (!LoopIsSet(sample)) return 0.0;
  const std::int64_t n = std::min(kSeamFrames, sample.markers.loop);
  const float* x = sample.frames.data();
  return SeamInto(x + sample.markers.end - n, x + sample.markers.loop - n, static_cast<std::size_t>(n));
}

std::int64_t CrossfadeLoopAuto(SampleData& sample) {
  const std::int64_t n = AutoCrossfadeFrames(sample);
  return n > 0 ? CrossfadeLoop(sample, n) : 0;
}

std::int64_t AutoCrossfadeFrames(const SampleData& sample) {
  if (!LoopIsSet(sample) || LoopSeamDb(sample) <= kLoopSeamGoalDb) return 0;
  const std::int64_t loop = sample.markers.loop, end = sample.markers.end;
  const std::int64_t longest = std::min({loop, end - loop, static_cast<std::int64_t>(kCardRate)});
  const std::int64_t w = std::min(kSeamFrames, loop);
  const float* x = sample.frames.data();
  float played[kSeamFrames];
  for (std::int64_t n = std::min<std::int64_t>(31, longest);; n = std::min(longest, std::max(n + 1, n * 5 / 4))) {
    // What would play into the seam after a crossfade of n frames.
    std::copy(x + end - w, x + end, played);
    const std::int64_t blended = std::min(w, n);
    Blend(x, loop, end, n, n - blended, played + (w - blended));
    if (n >= longest || SeamInto(played, x + loop - w, static_cast<std::size_t>(w)) <= kCrossfadeGoalDb) return n;
  }
}

}  // namespace tavrin
