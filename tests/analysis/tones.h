// Generated test sounds at the card's rate: band-limited harmonic shapes,
// a plucked string, a stiff string's stretched partials, vibrato, noise,
// amplitude drift; and white noise and a kick drum.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace tavrin::testing {

enum class Shape { kSine, kSaw, kSquare, kPluck, kInharmonic, kNoise, kKick };
struct ToneOptions {  // vibrato +- cents at 5.5 Hz, white noise against the tone's level
  double vibratoCents = 0.0, noiseDb = -200.0, driftDbPerSecond = 0.0, seconds = 0.8;
};

// Reproducible on every standard library: xorshift, [0, 1).
inline double Uniform(std::uint64_t& s) {
  s ^= s << 13, s ^= s >> 7, s ^= s << 17;
  return static_cast<double>(s >> 11) / 9007199254740992.0;
}

inline double NoteHz(double note) { return 440.0 * std::exp2((note - 69.0) / 12.0); }

inline std::vector<float> MakeTone(Shape shape, double hz, const ToneOptions& o, std::uint64_t seed = 1) {
  constexpr double kRate = 31250.0, kPi = 3.14159265358979323846;
  const auto n = static_cast<std::size_t>(o.seconds * kRate);
  const bool pluck = shape == Shape::kPluck;
  std::uint64_t random = seed * 2654435761u + 1;
  std::vector<double> y(n);
  double phase = 0.0, level = 0.0;  // of the fundamental
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    if (shape == Shape::kKick) {  // 160 Hz sweeping to 45 Hz, fast decay
      phase += 2.0 * kPi * (45.0 + 115.0 * std::exp(-t / 0.04)) / kRate;
      y[i] = std::exp(-t / 0.06) * std::sin(phase);
    } else if (shape == Shape::kInharmonic) {  // partial k at k sqrt(1 + B k^2), decaying
      for (int k = 1; k <= 8; ++k) y[i] += std::exp(-(1.0 + 0.3 * k) * t) * std::sin(k * std::sqrt(1.0 + 0.0004 * k * k) * phase) / k;
    } else if (shape != Shape::kNoise) {  // sin(k x) by 2 cos(x) sin((k-1) x) - sin((k-2) x)
      const int partials = shape == Shape::kSine ? 1 : static_cast<int>(6000.0 / hz);
      const double c2 = 2.0 * std::cos(phase), g = pluck ? std::exp(-0.4 * t) : 1.0;
      double s1 = std::sin(phase), s0 = 0.0, gk = g;
      for (int k = 1; k <= partials; ++k, gk *= g) {
        const double a = pluck ? std::sin(k * kPi * 0.23) / (k * k) : (shape == Shape::kSquare && k % 2 == 0) ? 0.0 : 1.0 / k;
        y[i] += a * gk * s1;
        s0 = std::exchange(s1, c2 * s1 - s0);
      }
      y[i] *= pluck ? std::exp(-1.5 * t) : 1.0;
    }
    if (shape != Shape::kKick) phase += 2.0 * kPi * hz * std::exp2(o.vibratoCents / 1200.0 * std::sin(2.0 * kPi * 5.5 * t)) / kRate;
    const bool struck = pluck || shape == Shape::kInharmonic || shape == Shape::kKick;
    if (struck && i < (shape == Shape::kKick ? 60u : 156u)) y[i] += Uniform(random) - 0.5;  // the strike
    if (shape == Shape::kNoise) y[i] = Uniform(random) - 0.5;
    level += y[i] * y[i];
  }
  level = std::sqrt(level / static_cast<double>(n));
  const double noise = std::pow(10.0, o.noiseDb / 20.0) * std::sqrt(3.0);
  std::vector<float> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double drift = std::pow(10.0, o.driftDbPerSecond * static_cast<double>(i) / kRate / 20.0);
    out[i] = static_cast<float>((drift * y[i] / level + noise * (Uniform(random) * 2.0 - 1.0)) / 3.0);
  }
  return out;
}

}  // namespace tavrin::testing
