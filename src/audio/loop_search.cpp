// Loop search: every rising zero crossing in the region is a candidate loop
// point against each of the last few crossings before the region's end; a
// pair is scored by how well the waveform around the loop point matches the
// one around the end, a few periods before and one after. Pairs that are
// clearly bad are dropped as soon as their difference passes a bound, which
// keeps the search on noise as fast as on a tone.
#include "audio/loop_search.h"

#include <algorithm>
#include <cmath>

#include "audio/pitch.h"
#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::size_t kEnds = 4;            // end candidates: the last rising crossings
constexpr std::size_t kNear = 32;          // frames each side of the seam weighed on their own
constexpr double kGiveUp = 0.1;             // -10 dB: a pair this bad is dropped
constexpr double kGoodEnoughDb = -50.0;     // inaudible: shorter loops win from here
constexpr double kAsGoodDb = 3.0;           // within this of the best counts as as good

bool RisingAt(const float* x, std::size_t i) { return x[i - 1] < 0.0f && x[i] >= 0.0f; }

}  // namespace

Result FindLoops(const float* frames, std::size_t count, const LoopSearchOptions& options,
                 std::vector<LoopCandidate>& out) {
  out.clear();
  if (frames == nullptr || count < 4) return kOk;
  const double period = options.period > 1.0 ? options.period : 0.0;
  const std::size_t before = period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(2.0 * period), 32, 2048) : 256;
  const std::size_t after = period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(period), 16, 1024) : 128;
  const std::size_t to = options.to >= 0 ? std::min(static_cast<std::size_t>(options.to), count) : count;
  const std::size_t from = std::max<std::size_t>(
      options.from >= 0 ? static_cast<std::size_t>(options.from) : SteadyStart(frames, count), std::max<std::size_t>(before, 1));
  if (from + 2 >= to) return kOk;

  // The end candidates, latest first.
  std::size_t ends[kEnds];
  std::size_t endCount = 0;
  for (std::size_t i = to; i > from && endCount < kEnds; --i) {
    if (i < count && RisingAt(frames, i)) ends[endCount++] = i;
  }
  if (endCount == 0) return kOk;
  double endEnergy[kEnds];
  std::size_t endAfter[kEnds];
  for (std::size_t e = 0; e < endCount; ++e) {
    endAfter[e] = std::min(after, count - ends[e]);
    double sum = 0.0;
    for (std::size_t i = ends[e] - before; i < ends[e] + endAfter[e]; ++i) sum += static_cast<double>(frames[i]) * frames[i];
    endEnergy[e] = sum;
  }

  std::vector<LoopCandidate> found;
  const std::size_t minLength = period > 0.0 ? static_cast<std::size_t>(period * 0.5) + 1 : 2;
  for (std::size_t l = from; l + minLength <= ends[0]; ++l) {
    if (!RisingAt(frames, l)) continue;
    LoopCandidate best;
    double bestRatio = kGiveUp;
    for (std::size_t e = 0; e < endCount; ++e) {
      if (l + minLength > ends[e] || endEnergy[e] <= 0.0) continue;
      const float* a = frames + l - before;
      const float* b = frames + ends[e] - before;
      const std::size_t n = before + endAfter[e];
      // Right at the seam first (1 ms each side, against the window's mean
      // level): a misfit shows there most, on a sawtooth's edge above all.
      const std::size_t nearFrom = before - std::min<std::size_t>(before, kNear);
      const std::size_t nearTo = before + std::min(endAfter[e], kNear);
      double near = 0.0;
      for (std::size_t i = nearFrom; i < nearTo; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        near += d * d;
      }
      const double nearRatio = nearTo > nearFrom ? near * static_cast<double>(n) / static_cast<double>(nearTo - nearFrom) / endEnergy[e] : 0.0;
      if (!(nearRatio < bestRatio)) continue;
      const double bound = bestRatio * endEnergy[e];
      double sum = 0.0;
      std::size_t i = 0;
      while (i < n && sum <= bound) {
        const std::size_t stop = std::min(n, i + 32);
        for (; i < stop; ++i) {
          const double d = static_cast<double>(a[i]) - b[i];
          sum += d * d;
        }
      }
      if (sum > bound) continue;
      sum = std::max(sum, nearRatio * endEnergy[e]);
      bestRatio = sum / endEnergy[e];
      best.loop = static_cast<std::int64_t>(l);
      best.end = static_cast<std::int64_t>(ends[e]);
      best.errorDb = 10.0 * std::log10(std::max(bestRatio, 1e-12));
      best.periods = period > 0.0 ? static_cast<double>(ends[e] - l) / period : 0.0;
    }
    if (bestRatio < kGiveUp) {
      if (Result r = TryPushBack(found, best)) return r;
    }
  }
  if (found.empty()) return kOk;

  // Best first; then the shortest as-good loop is moved to the front.
  std::sort(found.begin(), found.end(), [](const LoopCandidate& x, const LoopCandidate& y) { return x.errorDb < y.errorDb; });
  const double good = std::max(found.front().errorDb + kAsGoodDb, kGoodEnoughDb);
  std::size_t pick = 0;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i].errorDb <= good && found[i].end - found[i].loop < found[pick].end - found[pick].loop) pick = i;
  }
  if (TryReserve(out, options.maxCandidates)) return kOutOfMemory;
  out.push_back(found[pick]);  // reserved
  // The others: distinct lengths (by more than half a period), best first.
  const std::int64_t apart = std::max<std::int64_t>(2, static_cast<std::int64_t>(period * 0.5));
  for (std::size_t i = 0; i < found.size() && out.size() < options.maxCandidates; ++i) {
    bool distinct = true;
    for (const LoopCandidate& c : out) {
      if (std::llabs((found[i].end - found[i].loop) - (c.end - c.loop)) < apart) distinct = false;
    }
    if (distinct) out.push_back(found[i]);
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

std::int64_t CrossfadeLoop(SampleData& sample, std::int64_t length) {
  const std::int64_t loop = sample.markers.loop, end = sample.markers.end;
  if (loop < 0 || end <= loop || end > sample.frameCount()) return 0;
  const std::int64_t n = std::min({length, loop, end - loop});
  if (n <= 0) return 0;
  float* fade = sample.frames.data() + (end - n);  // fades out
  const float* into = sample.frames.data() + (loop - n);  // fades in; ends where the loop starts
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
  for (std::int64_t i = 0; i < n; ++i) {
    const double t = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    const double out = std::cos(t * kQuarter), in = std::sin(t * kQuarter);
    const double gain = 1.0 / std::sqrt(1.0 + 2.0 * r * out * in);
    fade[i] = static_cast<float>(gain * (out * fade[i] + in * into[i]));
  }
  return n;
}

}  // namespace tavrin
