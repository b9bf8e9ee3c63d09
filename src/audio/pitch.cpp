// Pitch detection with a YIN-style difference function: the squared
// difference of the signal and itself shifted by a lag, normalised by its
// running mean, summed over several windows of the steady part. The first dip
// under a threshold gives the period (a lower octave dips as deep, a higher
// one does not dip at all, so taking the first avoids octave errors); the
// same function at a multiple of that period then refines it to a small
// fraction of a frame.
#include "audio/pitch.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <utility>
#include <vector>

#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::size_t kBlock = 256;          // level blocks for attack and silence
constexpr std::size_t kWindow = 1024;        // integration window of the difference function
constexpr std::size_t kWindows = 10;         // windows spread over the steady part
constexpr std::size_t kRefineLag = 2560;     // longest lag used to refine the period
constexpr double kMinHz = 25.0;
constexpr double kMaxHz = 8000.0;           // the card plays fundamentals up to here
constexpr double kDipThreshold = 0.15;       // normalised difference that counts as a period
constexpr double kMaxUnpitchedDip = 0.45;    // shallower than this: no period
constexpr double kAgreement = 0.6;           // share of windows that must agree
constexpr double kRepeatDepth = 0.05;        // difference against level that still counts as a repeat
constexpr double kCoherentCents = 6.0;       // a loop this close to the attack is tuned with it
constexpr double kSubmultipleSlack = 0.05;   // how much shallower a dip at a part of the period may be
constexpr double kSubmultipleRepeat = 1.1;   // or its own difference against the pick's: as repetitive, in noise
constexpr double kDipSlack = 0.06;           // a first dip this much shallower than twice the deepest is a partial's
constexpr double kStrongPartial = 0.00316;   // -25 dB against the strongest: a partial that counts
constexpr std::size_t kSpectrum = 8192;      // frames of a struck sound's spectrum
constexpr double kProminent = 100.0;         // 20 dB over the spectrum's median: a partial, not noise
constexpr double kStretch = 0.04;            // a struck partial may lie this far from its harmonic,
constexpr double kLooseHarmonic = 0.1;       // and no further than this share of the pitch
constexpr double kSeriesShare = 0.6;         // share of the partials' amplitude a struck pitch explains

double Energy(const float* x, std::size_t n) {
  double a = 0.0, b = 0.0;
  std::size_t i = 0;
  for (; i + 1 < n; i += 2) {
    a += static_cast<double>(x[i]) * x[i];
    b += static_cast<double>(x[i + 1]) * x[i + 1];
  }
  if (i < n) a += static_cast<double>(x[i]) * x[i];
  return a + b;
}

// Sum over the window of (x[j] - x[j + lag])^2, with four partial sums.
double Difference(const float* x, std::size_t window, std::size_t lag) {
  const float* y = x + lag;
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  std::size_t j = 0;
  for (; j + 4 <= window; j += 4) {
    const double d0 = static_cast<double>(x[j]) - y[j];
    const double d1 = static_cast<double>(x[j + 1]) - y[j + 1];
    const double d2 = static_cast<double>(x[j + 2]) - y[j + 2];
    const double d3 = static_cast<double>(x[j + 3]) - y[j + 3];
    s0 += d0 * d0;
    s1 += d1 * d1;
    s2 += d2 * d2;
    s3 += d3 * d3;
  }
  for (; j < window; ++j) {
    const double d = static_cast<double>(x[j]) - y[j];
    s0 += d * d;
  }
  return (s0 + s1) + (s2 + s3);
}

// The vertex of the parabola through (-1, a), (0, b), (1, c), as an offset.
double ParabolaOffset(double a, double b, double c) {
  const double den = a - 2.0 * b + c;
  if (!(den > 0.0)) return 0.0;  // also NaN
  const double off = 0.5 * (a - c) / den;
  return std::clamp(off, -0.5, 0.5);
}

// The value at the vertex of the same parabola: how deep a dip sampled at
// whole lags reaches between them; b itself where the points do not curve up.
double ParabolaVertex(double a, double b, double c) {
  const double curve = a - 2.0 * b + c;
  return curve > 0.0 ? b - (a - c) * (a - c) / (8.0 * curve) : b;
}

// Turns d (lags 0..maxLag) into the cumulative-mean-normalised difference and
// returns the period in frames (0 when none) and its depth.
double PickPeriod(const std::vector<double>& d, std::vector<double>& cm, std::size_t minLag, std::size_t maxLag,
                  double& depth) {
  cm[0] = 1.0;
  double running = 0.0;
  for (std::size_t t = 1; t <= maxLag; ++t) {
    running += d[t];
    cm[t] = running > 0.0 ? d[t] * static_cast<double>(t) / running : 1.0;
  }
  // The first dip under the threshold that is about as deep as the deepest:
  // a strong upper partial dips under the threshold at a part of the period
  // (3/7 of it under a loud 7th harmonic) but far less deep than the period.
  double deepest = 1.0;
  for (std::size_t t = minLag; t < maxLag; ++t) deepest = std::min(deepest, cm[t]);
  std::size_t best = 0;
  for (std::size_t t = minLag; t < maxLag; ++t) {
    if (cm[t] < kDipThreshold) {
      while (t + 1 < maxLag && cm[t + 1] < cm[t]) ++t;
      const double vertex = t + 1 < maxLag ? ParabolaVertex(cm[t - 1], cm[t], cm[t + 1]) : cm[t];
      if (vertex > 2.0 * deepest + kDipSlack) continue;
      best = t;
      break;
    }
  }
  if (best == 0) {
    best = minLag;
    for (std::size_t t = minLag; t < maxLag; ++t) {
      if (cm[t] < cm[best]) best = t;
    }
    // No dip deep enough: the deepest may be a multiple of the period (a weak
    // fundamental repeats least clearly); a dip nearly as deep at a half or a
    // third of it is the period.
    for (std::size_t m = 3; m >= 2; --m) {
      const std::size_t centre = best / m, reach = 2 + centre / 32;
      std::size_t at = 0;
      for (std::size_t t = std::max(minLag + 1, centre > reach ? centre - reach : 0); t <= centre + reach && t + 1 < maxLag; ++t) {
        if (cm[t] <= cm[t - 1] && cm[t] <= cm[t + 1] && (at == 0 || cm[t] < cm[at])) at = t;
      }
      if (at != 0 && cm[at] <= cm[best] + kSubmultipleSlack) {
        best = at;
        break;
      }
    }
  }
  // In noise the normalised difference favours longer lags: where a whole
  // part of the pick (a half, a third, ...) dips and repeats as well (its own
  // difference within 10%), the pick is a multiple of the period; the
  // shortest such part is the period. Under a weak fundamental a part differs
  // by that fundamental, far more than 10% of a clean repeat. Each dip is
  // taken at its vertex between whole lags: a high note's period is a few
  // frames, and a whole lag may sit far up its flank.
  auto dipFloor = [&](std::size_t t) { return std::max(0.0, ParabolaVertex(d[t - 1], d[t], d[t + 1])); };
  if (best > minLag && best + 1 <= maxLag) {
    const double repeat = kSubmultipleRepeat * dipFloor(best);
    for (std::size_t m = best / (minLag + 1); m >= 2; --m) {
      const std::size_t centre = best / m, reach = 1 + centre / 32;
      std::size_t at = 0;
      for (std::size_t t = std::max(minLag + 1, centre > reach ? centre - reach : 0); t <= centre + reach && t + 1 < maxLag; ++t) {
        if (at == 0 || d[t] < d[at]) at = t;
      }
      if (at != 0 && d[at] <= d[at - 1] && d[at] <= d[at + 1] && cm[at] <= kMaxUnpitchedDip && dipFloor(at) <= repeat) {
        best = at;
        break;
      }
    }
  }
  depth = cm[best];
  if (best <= minLag || best >= maxLag) return 0.0;
  return static_cast<double>(best) + ParabolaOffset(cm[best - 1], cm[best], cm[best + 1]);
}

// Two passes of a band-pass biquad (Q 1.5, unity gain at `cycles` per frame).
void BandPass(const float* in, std::size_t n, double cycles, float* out) {
  const double w = 2.0 * 3.14159265358979323846 * std::min(cycles, 0.45);
  const double alpha = std::sin(w) / (2.0 * 1.5);
  const double a0 = 1.0 + alpha, b0 = alpha / a0, b2 = -alpha / a0;
  const double a1 = -2.0 * std::cos(w) / a0, a2 = (1.0 - alpha) / a0;
  for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
  for (int pass = 0; pass < 2; ++pass) {
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double x0 = out[i];
      const double y0 = b0 * x0 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x0;
      y2 = y1;
      y1 = y0;
      out[i] = static_cast<float>(y0);
    }
  }
}

// The power of the partial at `cycles` per frame in n frames under a Hann window.
double PartialPower(const float* x, std::size_t n, double cycles) {
  constexpr double kTwoPi = 6.28318530717958647692;
  double re = 0.0, im = 0.0;
  double c = 1.0, s = 0.0;  // the partial's phase, turned by one step each frame
  const double dc = std::cos(kTwoPi * cycles), ds = std::sin(kTwoPi * cycles);
  const double wc = std::cos(kTwoPi / static_cast<double>(n)), ws = std::sin(kTwoPi / static_cast<double>(n));
  double w1 = 1.0, w2 = 0.0;  // the window's phase
  for (std::size_t i = 0; i < n; ++i) {
    const double v = x[i] * (0.5 - 0.5 * w1);
    re += v * c;
    im -= v * s;
    const double c2 = c * dc - s * ds;
    s = s * dc + c * ds, c = c2;
    const double w = w1 * wc - w2 * ws;
    w2 = w2 * wc + w1 * ws, w1 = w;
  }
  return re * re + im * im;
}

// Stacked stops: two harmonic series a fifth apart share a period an octave
// below the lower one, which YIN finds; the listener names the lower series.
// Where the lowest strong partial of the period found is its p-th, and the
// strong partials its multiples leave out are all multiples of one other q,
// the sound is two series and the period is that of the p-th partial. A
// missing fundamental (partials 2, 3, 4, 5...) leaves out no single series.
std::size_t LowerSeries(const float* x, std::size_t n, double period) {
  const int top = std::min(16, static_cast<int>(0.45 * period));
  if (top < 9 || static_cast<double>(n) < 4.0 * period) return 1;
  double power[17] = {};
  double strongest = 0.0;
  for (int h = 1; h <= top; ++h) strongest = std::max(strongest, power[h] = PartialPower(x, n, h / period));
  int p = 1;
  while (p <= top && power[p] < kStrongPartial * strongest) ++p;
  if (p <= 1 || p > top / 2) return 1;
  int q = 0, rest = 0;
  for (int h = p + 1; h <= top; ++h) {
    if (h % p == 0 || power[h] < kStrongPartial * strongest) continue;
    int a = q, b = h;  // q := gcd(q, h)
    while (b != 0) a = std::exchange(b, a % b);
    q = a;
    ++rest;
  }
  return rest >= 2 && q > p && q % p != 0 ? static_cast<std::size_t>(p) : 1;
}

// In-place radix-2 FFT; z.size() is a power of two.
void Fft(std::vector<std::complex<double>>& z) {
  const std::size_t n = z.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(z[i], z[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double angle = -6.28318530717958647692 / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (std::size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> a = z[i + k], b = z[i + k + len / 2] * w;
        z[i + k] = a + b;
        z[i + k + len / 2] = a - b;
      }
    }
  }
}

struct Partial {
  double hz = 0.0, amplitude = 0.0;
};

// How much of the partials' amplitude lies on harmonics of f0 (within 4% of
// the harmonic, and within a tenth of f0), on how many distinct harmonics,
// and the f0 that fits them best.
struct SeriesFit {
  double share = 0.0, hz = 0.0;
  int harmonics = 0;
};
SeriesFit FitSeries(const std::vector<Partial>& partials, double f0) {
  double on = 0.0, total = 0.0, weighted = 0.0, squares = 0.0;
  std::uint64_t harmonics = 0;
  for (const Partial& p : partials) {
    total += p.amplitude;
    const double m = std::round(p.hz / f0);
    if (m < 1.0 || m > 63.0 || std::fabs(p.hz - m * f0) > std::min(kStretch * m, kLooseHarmonic) * f0) continue;
    on += p.amplitude;
    harmonics |= std::uint64_t{1} << static_cast<int>(m);
    weighted += p.amplitude * p.hz * m;
    squares += p.amplitude * m * m;
  }
  SeriesFit fit;
  fit.share = total > 0.0 ? on / total : 0.0;
  fit.hz = squares > 0.0 ? weighted / squares : f0;
  fit.harmonics = std::popcount(harmonics);
  return fit;
}

// The strongest partials (at most 12) of up to kSpectrum frames: peaks of the
// spectrum within 25 dB of the strongest and 20 dB over its median (noise
// has none). Fewer than 3 when the buffer is too short.
Result StrongPartials(const float* x, std::size_t count, double rate, std::vector<Partial>& partials) {
  partials.clear();
  std::size_t n = kSpectrum;
  while (n > count) n /= 2;
  if (n < 2048) return kOk;
  std::vector<std::complex<double>> z;
  std::vector<double> power, sorted;
  if (TryResize(z, n) || TryResize(power, n / 2) || TryResize(sorted, n / 2) || TryReserve(partials, n / 4)) return kOutOfMemory;
  for (std::size_t i = 0; i < n; ++i) {
    z[i] = 0.5 * (1.0 - std::cos(6.28318530717958647692 * static_cast<double>(i) / static_cast<double>(n))) * x[i];
  }
  Fft(z);
  for (std::size_t k = 0; k < n / 2; ++k) sorted[k] = power[k] = std::norm(z[k]) + 1e-30;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 4), sorted.end());
  const double floor = sorted[n / 4] * kProminent;
  const double strongest = *std::max_element(power.begin() + 1, power.end());
  for (std::size_t k = 2; k + 1 < n / 2; ++k) {
    if (power[k] <= power[k - 1] || power[k] < power[k + 1] || power[k] < floor || power[k] < kStrongPartial * strongest) continue;
    const double off = ParabolaOffset(-std::log(power[k - 1]), -std::log(power[k]), -std::log(power[k + 1]));
    partials.push_back({(static_cast<double>(k) + off) * rate / static_cast<double>(n), std::sqrt(power[k])});  // reserved
  }
  constexpr std::size_t kMost = 12;
  const std::size_t kept = std::min(kMost, partials.size());
  std::partial_sort(partials.begin(), partials.begin() + static_cast<std::ptrdiff_t>(kept), partials.end(),
                    [](const Partial& a, const Partial& b) { return a.amplitude > b.amplitude; });
  partials.resize(kept);
  return kOk;
}

// A struck tube, bar or bell: its partials are too far from harmonic for the
// waveform to repeat (or repeat only at a period far below the note), yet
// three or more of its strongest lie near multiples of one frequency, the
// pitch a listener names (a tubular bell's partials 4 to 6 stand nearly as
// 2:3:4 of its strike note). A drum's modes fit no such series. 0 when none.
double StruckPitch(const std::vector<Partial>& partials) {
  // Each of the strongest few as harmonic 1 to 6 of a candidate.
  SeriesFit candidates[36];
  std::size_t found = 0;
  double bestShare = 0.0;
  for (std::size_t i = 0; i < std::min<std::size_t>(6, partials.size()); ++i) {
    for (int h = 1; h <= 6; ++h) {
      const double f0 = partials[i].hz / h;
      if (f0 < kMinHz || f0 > kMaxHz) continue;
      const SeriesFit fit = FitSeries(partials, f0);
      if (fit.harmonics < 3 || fit.share < kSeriesShare) continue;
      candidates[found++] = fit;
      bestShare = std::max(bestShare, fit.share);
    }
  }
  // Half the pitch explains the same partials: the highest of those that
  // explain nearly the most is the one heard.
  double hz = 0.0;
  for (std::size_t i = 0; i < found; ++i) {
    if (candidates[i].share >= 0.9 * bestShare) hz = std::max(hz, candidates[i].hz);
  }
  return hz;
}

void SetPitch(PitchEstimate& out, double hz, double confidence) {
  out.pitched = true;
  out.frequency = hz;
  out.confidence = confidence;
  const long note = std::clamp(std::lround(69.0 + 12.0 * std::log2(hz / 440.0)), 0L, 127L);
  out.note = static_cast<std::uint8_t>(note);
  out.cents = 1200.0 * std::log2(hz / NoteTable()[static_cast<std::size_t>(note)].frequency);
}

}  // namespace

std::size_t SteadyStart(const float* frames, std::size_t count) {
  if (frames == nullptr || count == 0) return 0;
  double peak = 0.0;
  for (std::size_t b = 0; b < count; b += kBlock) peak = std::max(peak, Energy(frames + b, std::min(kBlock, count - b)));
  if (peak <= 0.0) return 0;
  std::size_t b = 0;
  while (b < count && Energy(frames + b, std::min(kBlock, count - b)) < 0.25 * peak) b += kBlock;
  // Past the block that comes near the peak, and a little further for the
  // transient of a pluck or a hammer (at most 50 ms at the card's rate).
  const std::size_t start = b + kBlock + std::min<std::size_t>(count / 10, 1563);
  return std::min(start, count);
}

Result DetectPitch(const float* frames, std::size_t count, double rate, PitchEstimate& out) {
  out = PitchEstimate{};
  if (frames == nullptr || count == 0 || !(rate > 0.0)) return kOk;
  const std::size_t minLag = std::max<std::size_t>(2, static_cast<std::size_t>(rate / kMaxHz));
  std::size_t maxLag = static_cast<std::size_t>(std::ceil(rate / kMinHz));
  std::size_t window = kWindow;
  std::size_t refineLag = std::max(kRefineLag, maxLag);
  if (count < window + maxLag + 2) {
    // A short sample: the longest period that two windows still fit.
    maxLag = count / 2 > 2 ? count / 2 - 2 : 0;
    window = count - maxLag - 2 < kWindow ? count - maxLag - 2 : kWindow;
    if (maxLag < minLag + 2 || window < 32) return kOk;
  }

  // The loud part: from the end of the attack to the last block within 40 dB
  // of the peak; windows lie where they fit, quiet ones are skipped.
  double peak = 0.0;
  std::size_t lastLoud = 0;
  for (std::size_t b = 0; b < count; b += kBlock) peak = std::max(peak, Energy(frames + b, std::min(kBlock, count - b)));
  if (peak <= 0.0) return kOk;
  for (std::size_t b = 0; b < count; b += kBlock) {
    if (Energy(frames + b, std::min(kBlock, count - b)) >= peak * 1e-4) lastLoud = std::min(count, b + kBlock);
  }
  std::size_t from = SteadyStart(frames, count);
  std::size_t span = window + refineLag + 2;
  if (lastLoud < from + span) {
    refineLag = maxLag;
    span = window + maxLag + 2;
    if (lastLoud < from + span) from = lastLoud > span ? lastLoud - span : 0;
    if (from + span > count) from = count - span;
  }
  const std::size_t stop = std::max(std::min(lastLoud, count), from + span);
  const std::size_t room = stop - from - span;
  const std::size_t windows = room == 0 ? 1 : kWindows;

  std::vector<double> d, sum, cm;
  std::vector<double> periods;
  std::vector<std::size_t> starts;
  if (TryResize(d, maxLag + 1) || TryResize(sum, maxLag + 1) || TryResize(cm, maxLag + 1) ||
      TryReserve(periods, windows) || TryReserve(starts, windows)) {
    return kOutOfMemory;
  }
  double windowFloor = 0.0;
  for (std::size_t k = 0; k < windows; ++k) {
    const std::size_t at = from + (windows == 1 ? 0 : room * k / (windows - 1));
    windowFloor = std::max(windowFloor, Energy(frames + at, window));
  }
  windowFloor *= 1e-3;  // windows 30 dB under the loudest one are silence
  for (std::size_t k = 0; k < windows; ++k) {
    const std::size_t at = from + (windows == 1 ? 0 : room * k / (windows - 1));
    const float* x = frames + at;
    if (Energy(x, window) < windowFloor || windowFloor <= 0.0) continue;
    d[0] = 0.0;
    for (std::size_t t = 1; t <= maxLag; ++t) {
      d[t] = Difference(x, window, t);
      sum[t] += d[t];
    }
    double depth = 1.0;
    periods.push_back(PickPeriod(d, cm, minLag, maxLag, depth));  // reserved above
    starts.push_back(at);
  }
  if (starts.empty()) return kOk;
  double depth = 1.0;
  double period = PickPeriod(sum, cm, minLag, maxLag, depth);
  // No period repeats: a struck sound's partials may still name a pitch.
  std::vector<Partial> partials;
  if (StrongPartials(frames + from, count - from, rate, partials)) return kOutOfMemory;
  auto struck = [&]() {
    const double hz = StruckPitch(partials);
    if (hz > 0.0) SetPitch(out, hz, FitSeries(partials, hz).share);
    return kOk;
  };
  if (!(period > 0.0) || !(depth <= kMaxUnpitchedDip)) return std::isnan(depth) ? kOk : struck();  // NaN frames end here too

  // The windows must agree on the period within a semitone: a sweeping drum
  // or noise does not. Where the whole repeats clearly, a window that found
  // half of it agrees too: under a weak fundamental the second harmonic
  // repeats nearly as well (a bell or a hit, repeating only loosely, does not).
  const bool clear = depth < kDipThreshold;
  std::size_t agree = 0;
  for (double p : periods) {
    if (p > 0.0 && (std::fabs(std::log2(p / period)) < 1.0 / 12.0 || (clear && std::fabs(std::log2(2.0 * p / period)) < 1.0 / 12.0))) ++agree;
  }
  if (static_cast<double>(agree) < kAgreement * static_cast<double>(periods.size())) return struck();

  // Refine over the whole steady part (up to 2 s), so that vibrato averages
  // out, on the signal band-passed around the fundamental, so that stretched
  // upper partials (a piano's) do not pull the period; a periodic signal keeps
  // its period through the filter. At growing multiples of the period the same
  // interpolation error is that many times smaller in the period.
  const std::size_t stopAt = std::min(lastLoud, count);
  const std::size_t warm = std::min<std::size_t>(from, static_cast<std::size_t>(8.0 * period));
  const std::size_t length = std::min<std::size_t>(stopAt - from > refineLag + window ? stopAt - from - refineLag : window, 62500);
  std::vector<float> band;
  if (TryResize(band, warm + length + refineLag)) return kOutOfMemory;
  if (from + length + refineLag > count) return kOk;  // cannot happen: span fits
  BandPass(frames + from - warm, band.size(), 1.0 / period, band.data());
  const float* x = band.data() + warm;
  for (std::size_t k = 1; static_cast<double>(k) * period + 8.0 <= static_cast<double>(refineLag); k *= 2) {
    auto lag = static_cast<std::size_t>(std::lround(static_cast<double>(k) * period));
    double here = Difference(x, length, lag);
    double below = Difference(x, length, lag - 1);
    double above = Difference(x, length, lag + 1);
    for (int step = 0; step < 64 && (below < here || above < here); ++step) {
      if (below < above) {
        if (lag - 1 <= minLag) break;
        above = here;
        here = below;
        --lag;
        below = Difference(x, length, lag - 1);
      } else {
        if (lag + 2 > refineLag) break;
        below = here;
        here = above;
        ++lag;
        above = Difference(x, length, lag + 1);
      }
    }
    // Vibrato makes the waveform stop repeating at long lags; the period
    // from shorter ones stands then.
    const double level = Energy(x, length) + Energy(x + lag, length);
    // The dip between whole lags (a high note's period is a few frames, so
    // the nearest whole lag may sit far up its flank).
    const double deepest = ParabolaVertex(below, here, above);
    if (!(deepest <= kRepeatDepth * level) || std::fabs(static_cast<double>(lag) - static_cast<double>(k) * period) > 0.25 * period) {
      break;
    }
    period = (static_cast<double>(lag) + ParabolaOffset(below, here, above)) / static_cast<double>(k);
  }

  period /= static_cast<double>(LowerSeries(frames + from, stopAt > from ? std::min<std::size_t>(stopAt - from, 8192) : 0, period));
  // A series above the period, off its harmonics, that explains clearly
  // more of the strong partials: a bell that repeats only at a common period
  // far below its strike note.
  const double explained = FitSeries(partials, rate / period).share;
  if (partials.size() >= 3 && explained < kSeriesShare + 0.2) {
    const double hz = StruckPitch(partials), ratio = hz * period / rate;
    const bool offSeries = ratio > 1.0 && std::fabs(ratio - std::round(ratio)) > 0.03 * ratio;
    if (offSeries && FitSeries(partials, hz).share > explained + 0.1) {
      SetPitch(out, hz, FitSeries(partials, hz).share);
      return kOk;
    }
  }
  SetPitch(out, rate / period, std::clamp(1.0 - depth, 0.0, 1.0));
  return kOk;
}

bool ApplyPitch(SampleData& sample, const PitchEstimate& pitch) {
  if (!pitch.pitched || !(pitch.frequency > 0.0)) return false;
  sample.rootNote = pitch.note;
  const double attack = -pitch.cents;  // the transpose that tunes the sound before the loop
  sample.transpose = static_cast<std::int8_t>(std::clamp(std::round(attack), -120.0, 120.0));
  sample.transposeValid = true;
  if (!sample.loopOn) return true;
  const double length = static_cast<double>(sample.markers.end) - static_cast<double>(sample.markers.loop);
  if (!(length > 0.0)) return true;
  // The loop plays its whole number of periods (counted at the measured
  // pitch, not at the root note's) in `length` frames. Where that is within
  // a few cents of the attack, the transpose halfway between tunes both;
  // otherwise the loop's own, since the sustain is what is heard longest.
  const double rootHz = NoteTable()[sample.rootNote].frequency;
  const double cycles = std::max(1.0, std::round(length * pitch.frequency / kCardRate));
  const double loop = 1200.0 * std::log2(rootHz * length / (kCardRate * cycles));
  const double t = std::fabs(loop - attack) <= kCoherentCents ? std::round(0.5 * (attack + loop)) : std::trunc(loop);
  sample.transpose = static_cast<std::int8_t>(std::clamp(t, -120.0, 120.0));
  sample.transposeValid = t >= -120.0 && t <= 120.0;
  return true;
}

}  // namespace tavrin
