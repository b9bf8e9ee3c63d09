// Card image building throughput, beside a plain memory copy of the same size
// measured in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "card/card_image.h"

namespace {

using namespace tavrin;

// A card of about 8 MiB of sample data: 16 multisounds of 4 samples, 16 drums.
CardDocument MakeCard() {
  CardDocument doc;
  doc.cardCapacity = 16u << 20;
  for (int m = 0; m < 16; ++m) {
    Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
    s->name.assign("Multi");
    for (int k = 0; k < 4; ++k) {
      SampleData* d = AppendSample(*s);
      d->frames.resize(51200);
      for (std::size_t i = 0; i < d->frames.size(); ++i) d->frames[i] = static_cast<float>((i * 7919) % 2000) / 1000.0f - 1.0f;
      d->markers = {0, 0, 1000, static_cast<std::int64_t>(d->frames.size())};
      d->rootNote = static_cast<std::uint8_t>(40 + 12 * k);
    }
  }
  for (int m = 0; m < 16; ++m) {
    Sound* s = AppendSound(doc.drumsounds, SoundType::Drumsound);
    s->name.assign("Drum");
    SampleData* d = AppendSample(*s);
    d->frames.assign(51200, 0.25f);
    d->markers = {0, 0, 0, 51200};
  }
  return doc;
}

std::uint64_t ImageBytes(CardDocument& doc) {
  CardImage image;
  BuildCardImage(doc, CardLayout::File, image);
  return image.size();
}

void BM_BuildCardImage(benchmark::State& state) {
  CardDocument doc = MakeCard();
  const auto layout = static_cast<CardLayout>(state.range(0));
  CardImage image;
  for (auto _ : state) {
    if (BuildCardImage(doc, layout, image) != kOk) state.SkipWithError("build failed");
    benchmark::DoNotOptimize(image.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ImageBytes(doc)));
}
BENCHMARK(BM_BuildCardImage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The baseline: copying the same number of bytes into a fresh buffer.
void BM_MemcpySameSize(benchmark::State& state) {
  CardDocument doc = MakeCard();
  const std::uint64_t n = ImageBytes(doc);
  std::vector<std::uint8_t> src(n, 0x5A);
  for (auto _ : state) {
    std::vector<std::uint8_t> dst(n);
    std::memcpy(dst.data(), src.data(), n);
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_MemcpySameSize)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
