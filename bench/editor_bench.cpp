// The sound editor's two hot paths beside baselines measured in the same run:
// the waveform path of a long sample against a plain min/max pass over the
// same frames, and the preview's render with rate conversion against a
// plain copy of the same number of samples.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "editor/sample_player.h"
#include "editor/waveform_geometry.h"

namespace {

using namespace tavrin;

constexpr std::size_t kLongSample = 10'000'000;

std::vector<float> Noise(std::size_t n) {
  std::vector<float> f(n);
  std::uint32_t x = 12345;
  for (float& v : f) {
    x = x * 1664525u + 1013904223u;
    v = static_cast<float>(x >> 8) / 8388608.0f - 1.0f;
  }
  return f;
}

void BM_WaveformPath(benchmark::State& state) {
  const std::vector<float> f = Noise(kLongSample);
  const PlotArea plot = PlotOfClient(0, 0, 470, 120);
  std::vector<PathPoint> points;
  for (auto _ : state) {
    BuildWaveformPath(f.data(), f.size(), plot, points);
    benchmark::DoNotOptimize(points.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLongSample));
}
BENCHMARK(BM_WaveformPath)->Unit(benchmark::kMillisecond);

// The baseline: the smallest and largest frame of the whole sample.
void BM_MinMaxPass(benchmark::State& state) {
  const std::vector<float> f = Noise(kLongSample);
  for (auto _ : state) {
    float lo = 99.0f, hi = -99.0f;
    for (float v : f) {
      hi = v > hi ? v : hi;
      lo = v < lo ? v : lo;
    }
    benchmark::DoNotOptimize(lo);
    benchmark::DoNotOptimize(hi);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLongSample));
}
BENCHMARK(BM_MinMaxPass)->Unit(benchmark::kMillisecond);

// An output that only takes what it is given; the benchmark calls Render.
class NullOutput : public AudioOutput {
 public:
  Result Open(std::uint32_t, std::uint32_t, std::uint32_t) override { return kOk; }
  void Close() override {}
  std::uint32_t Rate() const override { return 48000; }
  std::uint32_t BufferFrames() const override { return 2048; }
  Result Reset() override { return kOk; }
  Result Start() override { return kOk; }
  Result Stop() override { return kOk; }
  Result Padding(std::uint32_t& f) override { return f = 0, kOk; }
  Result GetBuffer(std::uint32_t, float** d) override { return *d = buffer_, kOk; }
  Result ReleaseBuffer(std::uint32_t, bool) override { return kOk; }
  OutputWake WaitForBufferOrStop() override { return OutputWake::kStop; }
  void SignalStop() override {}
  void ClearSignals() override {}

 private:
  float buffer_[2 * 2048] = {};
};

struct NoEvents : PreviewListener {
  void PreviewStarted() override {}
  void PreviewStopped() override {}
  void PostPreviewEnded(std::uint64_t) override {}
};

// One second of output at 48 kHz, a looped sample transposed +37 cents.
void BM_RenderOneSecond(benchmark::State& state) {
  NullOutput output;
  NoEvents events;
  SamplePlayer player(&events);
  player.Initialise(&output, kCardRate, 1, 2, 1024);
  const std::vector<float> f = Noise(40000);
  player.SetFrames(f.data(), f.size());
  player.SetMarkers({0, 0, 1000, 39000});
  player.SetLoopFlags(LoopFlags::kForward | LoopFlags::kAlternatingPolarity);
  player.SetTranspose(37);
  player.Start();
  player.Stop();
  std::vector<float> out(1024);
  for (auto _ : state) {
    for (int b = 0; b < 48000 / 1024 + 1; ++b) player.Render(out.data(), 1024);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["real-time x"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderOneSecond)->Unit(benchmark::kMillisecond);

// The baseline: copying the same number of samples.
void BM_CopyOneSecond(benchmark::State& state) {
  const std::vector<float> f = Noise(40000);
  std::vector<float> out(1024);
  for (auto _ : state) {
    for (int b = 0; b < 48000 / 1024 + 1; ++b) {
      std::memcpy(out.data(), f.data() + b * 512, 1024 * sizeof(float));
      benchmark::DoNotOptimize(out.data());
    }
  }
}
BENCHMARK(BM_CopyOneSecond)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
