// Pitch detection and loop search on a 10 s sample, beside one plain pass
// over the same frames (their sum of squares) measured in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "audio/loop_search.h"
#include "audio/pitch.h"

namespace {

using namespace tavrin;

// 10 s at the card's rate: a decaying tone of eight harmonics with vibrato
// (range 0: 65 Hz, 1: 440 Hz, 2: 1760 Hz), or noise (3).
std::vector<float> MakeSample(int kind) {
  constexpr double kPi = 3.14159265358979323846;
  std::vector<float> x(10 * 31250);
  const double hz = kind == 0 ? 65.0 : kind == 1 ? 440.0 : 1760.0;
  double phase = 0.0;
  std::uint32_t noise = 12345;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / 31250.0;
    phase += 2.0 * kPi * hz * std::exp2(0.015 * std::sin(2.0 * kPi * 5.0 * t) / 12.0) / 31250.0;
    double v = 0.0;
    for (int k = 1; k <= 8; ++k) v += std::sin(k * phase) / k;
    noise = noise * 1664525u + 1013904223u;
    x[i] = kind == 3 ? static_cast<float>(noise >> 8) / 16777216.0f - 0.5f : static_cast<float>(0.4 * std::exp(-0.1 * t) * v);
  }
  return x;
}

void BM_PitchAndLoopSearch(benchmark::State& state) {
  const std::vector<float> x = MakeSample(static_cast<int>(state.range(0)));
  std::vector<LoopCandidate> found;
  for (auto _ : state) {
    PitchEstimate p;
    if (DetectPitch(x.data(), x.size(), 31250.0, p) != kOk) state.SkipWithError("pitch failed");
    LoopSearchOptions options;
    options.period = p.pitched ? 31250.0 / p.frequency : 0.0;
    if (FindLoops(x.data(), x.size(), options, found) != kOk) state.SkipWithError("search failed");
    benchmark::DoNotOptimize(found.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * x.size()));
}
BENCHMARK(BM_PitchAndLoopSearch)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The baseline: one pass over the same frames.
void BM_OnePassSameFrames(benchmark::State& state) {
  const std::vector<float> x = MakeSample(1);
  for (auto _ : state) {
    double sum = 0.0;
    for (float v : x) sum += static_cast<double>(v) * v;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * x.size()));
}
BENCHMARK(BM_OnePassSameFrames)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
