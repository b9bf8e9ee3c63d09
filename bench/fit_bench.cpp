// Fitting a card of about 16 MB of material (sustained tones in zones three
// semitones apart, plucks and drums, made as 44.1 kHz WAV files in memory)
// into 524,288 bytes: planning it beside importing the same material (target:
// planning takes less than twice the import's time), and what each way keeps
// of the original sound against the simple cut (every sample truncated to one
// length, the longest that fits): the seconds of each sample that still play
// before its loop or its end, summed; also on a card of TimGM6mb instruments
// when that SoundFont is installed. That sum counts frames the card stores,
// so no way that fits keeps more than the card holds (about 8.4 s): the plan
// can at best tie there, and falls short by what it leaves free when its last
// step saves more than was needed. What it keeps beyond the cut shows in the
// seconds that sound while each key is held.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "audio/decoded_audio.h"
#include "audio/import.h"
#include "audio/readers.h"
#include "audio/sf2_reader.h"
#include "card/card_image.h"
#include "plan/fit_plan.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kFileRate = 44100;

struct Material {
  tavrin::SoundType type;
  std::string sound;
  std::vector<std::uint8_t> wav;
  bool small;  // also on the small card
};

void Put(std::vector<std::uint8_t>& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> Wav(const std::vector<float>& x) {
  std::vector<std::uint8_t> b;
  const std::uint32_t data = static_cast<std::uint32_t>(x.size() * 2);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put(b, 36 + data, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(b, 16, 4), Put(b, 1, 2), Put(b, 1, 2), Put(b, kFileRate, 4), Put(b, kFileRate * 2, 4), Put(b, 2, 2), Put(b, 16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put(b, data, 4);
  for (float v : x) Put(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(v * 32000.0f)), 2);
  return b;
}

// kind 0 a sustained tone with vibrato, 1 a pluck, 2 a drum (noise and a
// falling sine).
std::vector<float> Sound(int kind, double note, double seconds, std::uint32_t seed) {
  const double hz = 440.0 * std::exp2((note - 69.0) / 12.0);
  std::vector<float> x(static_cast<std::size_t>(seconds * kFileRate));
  double phase = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / kFileRate;
    seed = seed * 1664525u + 1013904223u;
    double y = 0.0;
    if (kind == 2) {
      phase += 2.0 * kPi * (50.0 + 150.0 * std::exp(-t / 0.03)) / kFileRate;
      y = std::exp(-t / 0.08) * (0.7 * std::sin(phase) + 0.6 * ((seed >> 8) / 16777216.0 - 0.5));
    } else {
      phase += 2.0 * kPi * hz * std::exp2(8.0 / 1200.0 * std::sin(2.0 * kPi * 5.2 * t)) / kFileRate;
      for (int k = 1; k <= 10 && k * hz < 9000.0; ++k) y += std::sin(k * phase) / k;
      y *= kind == 1 ? std::exp(-t / 0.25) : std::min(1.0, t / 0.05) * (1.0 - 0.2 * t / seconds);
    }
    x[i] = static_cast<float>(0.45 * y);
  }
  return x;
}

const std::vector<Material>& AllMaterial() {
  static const std::vector<Material> all = [] {
    std::vector<Material> m;
    std::uint32_t seed = 1;
    const char* names[] = {"Strings", "Organ", "Brass", "Pad"};
    for (int s = 0; s < 4; ++s) {
      for (int n = 0; n < (s == 3 ? 10 : 20); ++n) {
        m.push_back({tavrin::SoundType::Multisound, names[s], Wav(Sound(0, 36 + 3 * n, 3.0, ++seed)), s == 0 && n < 12});
      }
    }
    for (int n = 0; n < 20; ++n) {
      m.push_back({tavrin::SoundType::Multisound, "Pluck", Wav(Sound(1, 36 + 3 * n, 2.0, ++seed)), n < 3});
    }
    for (int n = 0; n < 20; ++n) {
      m.push_back({tavrin::SoundType::Drumsound, "Drum " + std::to_string(n), Wav(Sound(2, 0, 1.2, ++seed)), n < 4});
    }
    return m;
  }();
  return all;
}

bool Import(tavrin::CardDocument& doc, bool small = false) {
  doc.Reset();
  for (const Material& m : AllMaterial()) {
    if (small && !m.small) continue;
    std::vector<tavrin::Sound>& list = m.type == tavrin::SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    if (list.empty() || list.back().name.view() != m.sound || m.type == tavrin::SoundType::Drumsound) {
      tavrin::Sound* s = tavrin::AppendSound(list, m.type);
      s->name.assign(m.sound);
    }
    tavrin::DecodedAudio audio;
    if (tavrin::DecodeWav(m.wav, audio) != 0) return false;
    const std::string name = m.sound + " " + std::to_string(list.back().samples.size() + 1);
    if (tavrin::ImportDecoded(list.back(), name, audio, true) != 0) return false;
    list.back().samples.back().name.assign(name);
  }
  // Zones as a sound designer sets them: roots three semitones apart, each
  // sample up to the middle of the next.
  for (tavrin::Sound& sound : doc.multisounds) {
    for (std::size_t i = 0; i < sound.samples.size(); ++i) {
      sound.samples[i].rootNote = static_cast<std::uint8_t>(36 + 3 * i);
      sound.samples[i].topKey = static_cast<std::uint8_t>(i + 1 < sound.samples.size() ? 37 + 3 * i : 127);
    }
  }
  return true;
}

const tavrin::CardDocument& Imported() {
  static const tavrin::CardDocument doc = [] {
    tavrin::CardDocument d;
    Import(d);
    return d;
  }();
  return doc;
}

void BM_ImportMaterial(benchmark::State& state) {
  for (auto _ : state) {
    tavrin::CardDocument doc;
    if (!Import(doc)) state.SkipWithError("import failed");
    benchmark::DoNotOptimize(doc.multisounds.data());
  }
  state.counters["card_MB"] = static_cast<double>(tavrin::CardBytes(Imported(), tavrin::CardLayout::Card)) / 1e6;
}
BENCHMARK(BM_ImportMaterial)->Unit(benchmark::kMillisecond);

void BM_PlanFit(benchmark::State& state) {
  const tavrin::CardDocument& doc = Imported();
  for (auto _ : state) {
    tavrin::FitPlan plan;
    if (tavrin::PlanFit(doc, tavrin::FitOptions{}, plan) != 0) state.SkipWithError("planning failed");
    benchmark::DoNotOptimize(plan.steps.data());
  }
}
BENCHMARK(BM_PlanFit)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) times[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

// Seconds that play before the loop or the end, summed over the samples the
// card stores.
double SecondsKept(const tavrin::CardDocument& doc) {
  double frames = 0.0;
  for (const auto* list : {&doc.multisounds, &doc.drumsounds}) {
    for (const tavrin::Sound& sound : *list) {
      for (std::size_t j = 0; j < sound.samples.size() && (j == 0 || sound.soundType == tavrin::SoundType::Multisound); ++j) {
        const tavrin::SampleData& s = sound.samples[j];
        frames += static_cast<double>(s.markers.end - s.markers.start);
      }
    }
  }
  return frames / tavrin::kCardRate;
}

// Seconds of each original sample that still sound while its key is held as
// long as the original lasts: a loop sounds on, a removed sample not at all.
double SecondsSounding(const tavrin::CardDocument& original, const tavrin::CardDocument& now) {
  std::map<std::string, const tavrin::SampleData*> byName;
  for (const auto* list : {&now.multisounds, &now.drumsounds}) {
    for (const tavrin::Sound& sound : *list) {
      for (const tavrin::SampleData& s : sound.samples) byName[std::string(s.name.view())] = &s;
    }
  }
  double frames = 0.0;
  for (const auto* list : {&original.multisounds, &original.drumsounds}) {
    for (const tavrin::Sound& sound : *list) {
      for (const tavrin::SampleData& s : sound.samples) {
        const auto it = byName.find(std::string(s.name.view()));
        if (it == byName.end()) continue;
        const tavrin::SampleData& n = *it->second;
        frames += static_cast<double>(n.loopOn ? s.markers.end - s.markers.start : n.markers.end - n.markers.start);
      }
    }
  }
  return frames / tavrin::kCardRate;
}

// The simple cut: every sample truncated to the longest common length that
// fits.
tavrin::CardDocument SimpleCut(const tavrin::CardDocument& doc, std::uint64_t capacity) {
  tavrin::CardDocument cut = doc;
  auto truncate = [&](std::int64_t length) {
    for (auto* list : {&cut.multisounds, &cut.drumsounds}) {
      for (std::size_t i = 0; i < list->size(); ++i) {
        const auto& from = (list == &cut.multisounds ? doc.multisounds : doc.drumsounds)[i].samples;
        for (std::size_t j = 0; j < from.size(); ++j) {
          tavrin::SampleData& s = (*list)[i].samples[j];
          const std::int64_t n = std::min(length, from[j].frameCount());
          s.frames.resize(static_cast<std::size_t>(n));
          s.markers = {0, 0, 0, n};
          s.loopOn = false;
        }
      }
    }
  };
  std::int64_t lo = 1, hi = 10 * tavrin::kCardRate;
  while (lo < hi) {
    const std::int64_t mid = (lo + hi + 1) / 2;
    truncate(mid);
    if (tavrin::CardBytes(cut, tavrin::CardLayout::Card) <= capacity) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  truncate(lo);
  std::printf("simple cut: every sample to %.0f ms, card %llu bytes\n", 1000.0 * static_cast<double>(lo) / tavrin::kCardRate,
              static_cast<unsigned long long>(tavrin::CardBytes(cut, tavrin::CardLayout::Card)));
  return cut;
}

// A card of real instruments, as the plan test builds it: TimGM6mb's piano
// with its own loops, strings, an organ and an oboe without theirs, and four
// drums of the standard kit. False when the SoundFont cannot be read.
bool RealCard(tavrin::CardDocument& doc) {
  using namespace tavrin;
  FileSource file;
  SoundFont font;
  InstrumentReport report;
  if (file.Open("/usr/share/sounds/sf2/TimGM6mb.sf2") != kOk || OpenSoundFont(file, font, report) != kOk) return false;
  const struct {
    const char* name;
    std::uint16_t bank, program;
    bool keepLoops;
  } rows[] = {{"Piano", 0, 0, true}, {"Strings", 0, 48, false}, {"Organ", 0, 16, false}, {"Oboe", 0, 68, false},
              {"Kit", 128, 0, false}};
  for (const auto& row : rows) {
    Sf2Choice choice;
    choice.bank = row.bank;
    choice.program = row.program;
    std::vector<InstrumentZone> zones;
    if (SoundFontZones(font, choice, zones, report) != kOk) return false;
    const bool kit = row.bank == 128;
    if (kit) std::erase_if(zones, [](const InstrumentZone& z) { return z.loKey != 36 && z.loKey != 38 && z.loKey != 42 && z.loKey != 49; });
    for (InstrumentZone& z : zones) z.loopOn = z.loopOn && row.keepLoops;
    if (ReadSoundFontAudio(file, font, zones, report) != kOk) return false;
    for (std::size_t i = 0; i < (kit ? zones.size() : 1); ++i) {
      tavrin::Sound* sound = AppendSound(kit ? doc.drumsounds : doc.multisounds, kit ? SoundType::Drumsound : SoundType::Multisound);
      sound->name.assign(kit ? zones[i].name.view() : Utf8View(row.name));
      std::vector<InstrumentZone> one;
      if (kit) one.push_back(std::move(zones[i]));
      if (ImportZones(*sound, kit ? one : zones, report) != kOk) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double import = reporter.times["BM_ImportMaterial"], plan = reporter.times["BM_PlanFit"];
  if (import > 0.0 && plan > 0.0) {
    std::printf("\nplanning / importing the same %.1f MB: %.2f (target: below 2)\n",
                static_cast<double>(tavrin::CardBytes(Imported(), tavrin::CardLayout::Card)) / 1e6, plan / import);
  }
  // What is kept: the whole material, a card of one instrument, plucks and
  // drums that the plan can bring within the card, and the TimGM6mb card.
  for (int card : {0, 1, 2}) {
    const bool small = card == 1;
    tavrin::CardDocument doc;
    tavrin::FitPlan fit;
    tavrin::FitOptions options;
    if (card == 2) {
      if (!std::filesystem::exists("/usr/share/sounds/sf2/TimGM6mb.sf2")) {
        std::printf("\nTimGM6mb card: skipped, /usr/share/sounds/sf2/TimGM6mb.sf2 is not installed\n");
        break;
      }
      if (!RealCard(doc)) return 1;
    } else if (!Import(doc, small)) {
      return 1;
    }
    if (tavrin::PlanFit(doc, options, fit) != 0) return 1;
    tavrin::CardDocument planned = doc;
    std::vector<bool> take;
    if (tavrin::DefaultSelection(fit, take) != 0 || tavrin::ApplyFit(planned, fit, take) != 0) return 1;
    std::size_t kinds[7] = {};
    for (const tavrin::FitStep& s : fit.steps) kinds[static_cast<int>(s.kind)] += s.skipped ? 0 : 1;
    std::printf("\n%s card of %llu bytes: %zu steps (%zu unplayed, %zu loops, %zu compact, %zu decays, %zu thinned, "
                "%zu choices), %s at %llu bytes\n",
                card == 2 ? "TimGM6mb" : small ? "small" : "whole", static_cast<unsigned long long>(fit.sizeBefore), fit.steps.size(), kinds[1],
                kinds[2], kinds[3], kinds[4], kinds[5], kinds[6], fit.fits ? "fits" : "does not fit",
                static_cast<unsigned long long>(tavrin::CardBytes(planned, tavrin::CardLayout::Card)));
    const tavrin::CardDocument cut = SimpleCut(doc, tavrin::kDefaultCardCapacity);
    std::printf("seconds played before the loop or the end (of %.1f): plan %.1f, simple cut %.1f\n", SecondsKept(doc),
                SecondsKept(planned), SecondsKept(cut));
    std::printf("seconds sounding while each key is held as long as its original lasts: plan %.1f, simple cut %.1f\n",
                SecondsSounding(doc, planned), SecondsSounding(doc, cut));
  }
  return 0;
}
