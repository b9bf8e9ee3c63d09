// Test tones generated at the card's rate: harmonic shapes summed partial by
// partial (band-limited, exactly periodic), with vibrato, noise, decay,
// inharmonic partials, and two unpitched sounds.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tavrin::testing {

enum class Shape { kSine, kSaw, kSquare, kPluck, kInharmonic };
struct ToneOptions {
  double vibratoCents = 0.0;  // depth (+-), at 5.5 Hz
  double noiseDb = -200.0;    // white noise against the tone's level
  double driftDbPerSecond = 0.0;
  double seconds = 0.8;
};

// A small reproducible generator (the standard distributions differ between libraries).
struct TestRandom {
  std::uint64_t s;
  explicit TestRandom(std::uint64_t seed) : s(seed * 2654435761u + 1) {}
  double Uniform() {  // [0, 1)
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<double>(s >> 11) / 9007199254740992.0;
  }
};

inline std::vector<float> MakeTone(Shape shape, double hz, const ToneOptions& o, std::uint64_t seed = 1) {
  constexpr double kRate = 31250.0, kPi = 3.14159265358979323846;
  const auto n = static_cast<std::size_t>(o.seconds * kRate);
  std::vector<double> y(n, 0.0), phase(n);
  const bool pluck = shape == Shape::kPluck, inharmonic = shape == Shape::kInharmonic;
  double ph = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    phase[i] = ph;
    ph += 2.0 * kPi * hz * std::exp2(o.vibratoCents / 1200.0 * std::sin(2.0 * kPi * 5.5 * t)) / kRate;
  }
  if (inharmonic) {  // piano-like: 8 partials stretched as a stiff string's, decaying
    for (int k = 1; k <= 8; ++k) {
      const double stretch = k * std::sqrt(1.0 + 0.0004 * k * k);
      for (std::size_t i = 0; i < n; ++i) y[i] += std::exp(-(1.0 + 0.3 * k) * static_cast<double>(i) / kRate) * std::sin(stretch * phase[i]) / k;
    }
  } else {  // harmonics k of amplitude a_k, sin(k x) by the recurrence 2 cos(x) sin((k-1) x) - sin((k-2) x)
    const int partials = shape == Shape::kSine ? 1 : static_cast<int>(6000.0 / hz);
    std::vector<double> a(static_cast<std::size_t>(partials) + 1, 0.0);
    for (int k = 1; k <= partials; ++k) {
      a[static_cast<std::size_t>(k)] = pluck ? std::sin(k * kPi * 0.23) / (k * k) : (shape == Shape::kSquare && k % 2 == 0) ? 0.0 : 1.0 / k;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double c2 = 2.0 * std::cos(phase[i]), g = pluck ? std::exp(-0.4 * t) : 1.0;
      double s1 = std::sin(phase[i]), s0 = 0.0, gk = g, v = 0.0;  // sin(k x), sin((k-1) x), g^k
      for (int k = 1; k <= partials; ++k) {
        v += a[static_cast<std::size_t>(k)] * gk * s1;
        const double next = c2 * s1 - s0;
        s0 = s1;
        s1 = next;
        gk *= g;
      }
      y[i] = pluck ? v * std::exp(-1.5 * t) : v;
    }
  }
  TestRandom random(seed);
  if (pluck || inharmonic) {  // the strike: 5 ms of noise
    for (std::size_t i = 0; i < 156 && i < n; ++i) y[i] += 0.5 * (random.Uniform() * 2.0 - 1.0);
  }
  double level = 0.0;
  for (double v : y) level += v * v;
  level = std::sqrt(level / static_cast<double>(n));
  const double noise = level * std::pow(10.0, o.noiseDb / 20.0) * std::sqrt(3.0);
  std::vector<float> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double drift = std::pow(10.0, o.driftDbPerSecond * static_cast<double>(i) / kRate / 20.0);
    out[i] = static_cast<float>(0.5 * drift * (y[i] / level / 1.5) + noise * (random.Uniform() * 2.0 - 1.0) / level * 0.5 / 1.5);
  }
  return out;
}

inline std::vector<float> MakeNoise(double seconds, std::uint64_t seed) {
  TestRandom random(seed);
  std::vector<float> out(static_cast<std::size_t>(seconds * 31250.0));
  for (float& v : out) v = static_cast<float>(random.Uniform() - 0.5);
  return out;
}

// A kick drum: a sine sweeping from 160 Hz down to 45 Hz, decaying fast, with a click.
inline std::vector<float> MakeKick(double seconds) {
  constexpr double kRate = 31250.0, kPi = 3.14159265358979323846;
  TestRandom random(7);
  std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
  double ph = 0.0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    ph += 2.0 * kPi * (45.0 + 115.0 * std::exp(-t / 0.04)) / kRate;
    const double click = i < 60 ? 0.5 * (random.Uniform() * 2.0 - 1.0) : 0.0;
    out[i] = static_cast<float>(0.9 * std::exp(-t / 0.06) * std::sin(ph) + click);
  }
  return out;
}

inline double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

}  // namespace tavrin::testing
