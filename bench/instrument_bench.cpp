// Importing an instrument from a SoundFont beside importing the same audio
// from WAV files: eight stereo zones of four seconds at 44.1 kHz, one .sf2
// against eight stereo .wav files on disk, each through the whole import
// (reading, mixing, rate conversion, normalising). The closing line is the
// SoundFont's throughput against the WAV files' (target: at least 0.8).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "audio/import.h"
#include "audio/instrument.h"
#include "audio/sf2_bytes.h"
#include "audio/sf2_reader.h"

namespace {

namespace fs = std::filesystem;
using namespace tavrin;
using namespace tavrin::test;

constexpr int kZones = 8;
constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kFrames = kRate * 4;

fs::path g_dir;

void MakeFiles() {
  Sf2Build b;
  b.presets.push_back({"Bench", 0, 0, {{{41, 0}}}});
  b.insts.push_back({"Bench", {}});
  for (int z = 0; z < kZones; ++z) {
    Bytes frames;
    std::vector<std::int16_t> l(kFrames), r(kFrames);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      l[i] = static_cast<std::int16_t>(12000 * std::sin(2 * 3.14159265358979 * 110 * (z + 1) * t));
      r[i] = static_cast<std::int16_t>(9000 * std::sin(2 * 3.14159265358979 * 1234 * t));
      frames.le16(static_cast<std::uint16_t>(l[i])).le16(static_cast<std::uint16_t>(r[i]));
    }
    const std::uint32_t left = static_cast<std::uint32_t>(b.data.size());
    b.data.insert(b.data.end(), l.begin(), l.end());
    b.data.insert(b.data.end(), r.begin(), r.end());
    const std::uint32_t right = left + kFrames;
    const std::uint16_t n = static_cast<std::uint16_t>(b.samples.size());
    b.samples.push_back({"L" + std::to_string(z), left, left + kFrames, left + 1000, left + kFrames - 100, kRate, 60, 0, 0, 4});
    b.samples.push_back({"R" + std::to_string(z), right, right + kFrames, right + 1000, right + kFrames - 100, kRate, 60, 0, 0, 2});
    const int lo = z * 16, hi = z * 16 + 15;
    b.insts[0].zones.push_back({Range(43, lo, hi), {54, 1}, {53, n}});
    b.insts[0].zones.push_back({Range(43, lo, hi), {54, 1}, {53, static_cast<std::uint16_t>(n + 1)}});
    const ByteVec wav = Riff({Fmt(1, 2, kRate, 16), Data(frames.b)});
    std::FILE* f = std::fopen((g_dir / ("z" + std::to_string(z) + ".wav")).string().c_str(), "wb");
    std::fwrite(wav.data(), 1, wav.size(), f);
    std::fclose(f);
  }
  const ByteVec font = b.Build();
  std::FILE* f = std::fopen((g_dir / "bench.sf2").string().c_str(), "wb");
  std::fwrite(font.data(), 1, font.size(), f);
  std::fclose(f);
}

void BM_WavFiles(benchmark::State& state) {
  for (auto _ : state) {
    Sound sound;
    for (int z = 0; z < kZones; ++z) {
      if (ImportSampleFile(sound, (g_dir / ("z" + std::to_string(z) + ".wav")).string()) != kOk) {
        state.SkipWithError("WAV import failed");
      }
    }
    benchmark::DoNotOptimize(sound.samples.data());
  }
  state.counters["in_frames_per_s"] =
      benchmark::Counter(static_cast<double>(kFrames) * kZones, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WavFiles)->Unit(benchmark::kMillisecond);

void BM_SoundFont(benchmark::State& state) {
  for (auto _ : state) {
    FileSource file;
    SoundFont font;
    InstrumentReport report;
    std::vector<InstrumentZone> zones;
    Sound sound;
    if (file.Open((g_dir / "bench.sf2").string()) != kOk || OpenSoundFont(file, font, report) != kOk ||
        SoundFontZones(font, {}, zones, report) != kOk || ReadSoundFontAudio(file, font, zones, report) != kOk ||
        ImportZones(sound, zones, report) != kOk || sound.samples.size() != kZones) {
      state.SkipWithError("SoundFont import failed");
    }
    benchmark::DoNotOptimize(sound.samples.data());
  }
  state.counters["in_frames_per_s"] =
      benchmark::Counter(static_cast<double>(kFrames) * kZones, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SoundFont)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
        cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times, cpu;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  g_dir = fs::temp_directory_path() / ("tavrin-instrument-bench-" + std::to_string(std::random_device{}()));
  fs::create_directories(g_dir);
  MakeFiles();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto wav = reporter.times.find("BM_WavFiles"), sf2 = reporter.times.find("BM_SoundFont");
  if (wav != reporter.times.end() && sf2 != reporter.times.end() && sf2->second > 0) {
    std::printf("\nSoundFont import throughput / WAV files' (target: at least 0.8): %.2f (CPU time: %.2f)\n",
                wav->second / sf2->second, reporter.cpu["BM_WavFiles"] / reporter.cpu["BM_SoundFont"]);
  }
  std::error_code ec;
  fs::remove_all(g_dir, ec);
  benchmark::Shutdown();
  return 0;
}
