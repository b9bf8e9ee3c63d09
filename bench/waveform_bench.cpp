// The zoomed waveform view and undo on a 10,000,000-frame sample: the min/max
// pyramid's 468 columns at several zooms against a plain min/max pass over the
// same visible frames, column by column (the same output without the
// pyramid), and undo and redo of a parameter and of a DWGS conversion.
// Ratios and goals are printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "editor/editor_model.h"
#include "editor/waveform_pyramid.h"

namespace {

using namespace tavrin;

constexpr std::size_t kLongSample = 10'000'000;
constexpr std::size_t kColumns = 468;

const std::vector<float>& Frames() {
  static const std::vector<float> f = [] {
    std::vector<float> v(kLongSample);
    std::uint32_t x = 12345;
    for (float& s : v) {
      x = x * 1664525u + 1013904223u;
      s = static_cast<float>(x >> 8) / 8388608.0f - 1.0f;
    }
    return v;
  }();
  return f;
}

const MinMaxPyramid& Pyramid() {
  static const MinMaxPyramid p = [] {
    MinMaxPyramid q;
    q.Build(Frames().data(), Frames().size());
    return q;
  }();
  return p;
}

struct Zoom {
  const char* name;
  double framesPerColumn;
};
const Zoom kZooms[] = {
    {"full", static_cast<double>(kLongSample) / kColumns}, {"4096", 4096.3}, {"256", 256.7},
    {"16", 16.2},  {"2", 2.0}, {"0.25", 0.25},
};

double FirstFrame(const Zoom& z) { return z.framesPerColumn * kColumns >= kLongSample ? 0.0 : 3'000'000.5; }

void BM_Pyramid(benchmark::State& state, Zoom z) {
  const MinMaxPyramid& p = Pyramid();
  MinMax out[kColumns];
  for (auto _ : state) {
    p.Columns(Frames().data(), FirstFrame(z), z.framesPerColumn, kColumns, out);
    benchmark::DoNotOptimize(out);
  }
}

// The baseline: each column's min and max straight from its frames.
void BM_Plain(benchmark::State& state, Zoom z) {
  const float* f = Frames().data();
  MinMax out[kColumns];
  const double first = FirstFrame(z);
  for (auto _ : state) {
    for (std::size_t c = 0; c < kColumns; ++c) {
      auto a = static_cast<std::size_t>(first + c * z.framesPerColumn);
      auto b = static_cast<std::size_t>(first + (c + 1) * z.framesPerColumn);
      b = b > a ? b : a + 1;
      b = b < kLongSample ? b : kLongSample;
      float lo = 99.0f, hi = -99.0f;
      for (std::size_t i = a; i < b; ++i) {
        lo = f[i] < lo ? f[i] : lo;
        hi = f[i] > hi ? f[i] : hi;
      }
      out[c] = {lo, hi};
    }
    benchmark::DoNotOptimize(out);
  }
}

void BM_BuildPyramid(benchmark::State& state) {
  MinMaxPyramid p;
  for (auto _ : state) {
    p.Build(Frames().data(), Frames().size());
    benchmark::DoNotOptimize(&p);
  }
}
BENCHMARK(BM_BuildPyramid)->Unit(benchmark::kMillisecond);

// One undo and one redo of a sound holding the 10M-frame sample.
void BM_UndoRedo(benchmark::State& state, bool dwgs) {
  Sound sound;
  sound.samples.resize(1);
  sound.samples[0].frames = Frames();
  sound.samples[0].markers = {0, 0, 0, static_cast<std::int64_t>(kLongSample)};
  EditorModel model;
  OpenSound(model, sound);
  if (dwgs) {
    ConvertToDwgs(model);
  } else {
    SetLevel(model, -12);
  }
  for (auto _ : state) {
    Undo(model);
    Redo(model);
  }
  state.counters["pooled frames"] = static_cast<double>(model.history.PooledFrames());
}

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;  // CPU time (the machine may be shared), in each run's unit
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const Zoom& z : kZooms) {
    benchmark::RegisterBenchmark((std::string("Pyramid/") + z.name).c_str(), BM_Pyramid, z)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("Plain/") + z.name).c_str(), BM_Plain, z)->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("UndoRedo/parameter", BM_UndoRedo, false)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("UndoRedo/dwgs", BM_UndoRedo, true)->Unit(benchmark::kMicrosecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n468 columns from the pyramid / a plain min/max pass over the same frames (goal: at most 1.5)\n");
  for (const Zoom& z : kZooms) {
    const auto p = reporter.times.find(std::string("Pyramid/") + z.name);
    const auto b = reporter.times.find(std::string("Plain/") + z.name);
    if (p == reporter.times.end() || b == reporter.times.end() || b->second <= 0) continue;
    std::printf("  %-6s frames a column: %.3f (%.1f us against %.1f us)\n", z.name, p->second / b->second, p->second,
                b->second);
  }
  const auto full = reporter.times.find("Pyramid/full");
  if (full != reporter.times.end()) std::printf("468-column redraw of 10M frames: %.3f ms (goal: at most 1)\n", full->second / 1000);
  for (const char* k : {"UndoRedo/parameter", "UndoRedo/dwgs"}) {
    const auto u = reporter.times.find(k);
    if (u != reporter.times.end()) std::printf("%s on 10M frames, undo + redo: %.2f us (goal: each under 1000)\n", k, u->second);
  }
  benchmark::Shutdown();
  return 0;
}
