// Import of a 60-second 44.1 kHz stereo 16-bit WAV built in memory: the whole
// import (reading, mixing, rate conversion, normalising) beside reading and
// mixing alone, so the resampler's share shows; and the resampler kernel by
// itself in output frames per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/decoded_audio.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "audio/resampler.h"
#include "card/document.h"

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kSeconds = 60;
constexpr std::uint64_t kFrames = std::uint64_t{kRate} * kSeconds;
constexpr std::uint64_t kOutFrames = kFrames * tavrin::kCardRate / kRate;

void Put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutTag(std::vector<std::uint8_t>& b, const char* t) { b.insert(b.end(), t, t + 4); }

const std::vector<std::uint8_t>& TestFile() {
  static const std::vector<std::uint8_t> file = [] {
    std::vector<std::uint8_t> b;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(kFrames * 4);
    b.reserve(44 + dataBytes);
    PutTag(b, "RIFF");
    Put32(b, 36 + dataBytes);
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    Put32(b, 16);
    Put16(b, 1);
    Put16(b, 2);
    Put32(b, kRate);
    Put32(b, kRate * 4);
    Put16(b, 4);
    Put16(b, 16);
    PutTag(b, "data");
    Put32(b, dataBytes);
    for (std::uint64_t i = 0; i < kFrames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(12000 * std::sin(2 * 3.14159265358979 * 440 * t))));
      Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(9000 * std::sin(2 * 3.14159265358979 * 1234 * t))));
    }
    return b;
  }();
  return file;
}

void BM_ReadAndMix(benchmark::State& state) {
  const auto& file = TestFile();
  for (auto _ : state) {
    tavrin::DecodedAudio audio;
    if (tavrin::DecodeWav(file, audio) != 0) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(audio.frames.data());
  }
  state.counters["in_frames_per_s"] =
      benchmark::Counter(static_cast<double>(kFrames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadAndMix)->Unit(benchmark::kMillisecond);

void BM_WholeImport(benchmark::State& state) {
  const auto& file = TestFile();
  for (auto _ : state) {
    tavrin::DecodedAudio audio;
    if (tavrin::DecodeWav(file, audio) != 0) state.SkipWithError("decode failed");
    tavrin::Sound sound;
    if (tavrin::ImportDecoded(sound, "Bench", audio, true) != 0) state.SkipWithError("import failed");
    benchmark::DoNotOptimize(sound.samples.data());
  }
  state.counters["out_frames_per_s"] =
      benchmark::Counter(static_cast<double>(kOutFrames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WholeImport)->Unit(benchmark::kMillisecond);

void BM_ResamplerKernel(benchmark::State& state) {
  tavrin::DecodedAudio audio;
  tavrin::DecodeWav(TestFile(), audio);
  tavrin::ResamplerFilter filter;
  if (filter.Prepare(kRate, tavrin::kCardRate) != 0) state.SkipWithError("prepare failed");
  std::vector<float> out(kOutFrames);
  for (auto _ : state) {
    filter.Run(audio.frames.data(), audio.frames.size(), out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["out_frames_per_s"] =
      benchmark::Counter(static_cast<double>(kOutFrames), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ResamplerKernel)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
