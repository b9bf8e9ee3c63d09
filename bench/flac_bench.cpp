// FLAC decoding speed: our decoder against libFLAC on the same 60-second
// files, in the same run. The files are made at start-up with sox and the
// flac tool (16-bit stereo at levels 8 and 5 and 0, 24-bit stereo at level 8);
// the closing table gives our time divided by libFLAC's for each file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "audio/flac_decoder.h"
#include "audio/flac_reader.h"

#ifdef TAVRIN_HAVE_LIBFLAC
#include <FLAC/stream_decoder.h>
#endif

namespace {

namespace fs = std::filesystem;

struct BenchFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

std::vector<BenchFile> g_files;

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// Our decoder: every frame to integers, nothing more.
void BM_Ours(benchmark::State& state, const BenchFile* file) {
  tavrin::FlacDecoder dec;
  std::int64_t samples = 0;
  for (auto _ : state) {
    if (dec.Open(file->bytes) != tavrin::kOk) {
      state.SkipWithError("open failed");
      return;
    }
    std::int32_t sink = 0;
    while (dec.DecodeFrame() == tavrin::FlacStatus::kOk) {
      sink ^= dec.channel(0)[0];
      samples += dec.frame().blockSize;
    }
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(samples);
}

// The whole reader step: decoding plus mixing to mono floats.
void BM_OursToMono(benchmark::State& state, const BenchFile* file) {
  for (auto _ : state) {
    tavrin::DecodedAudio audio;
    if (tavrin::DecodeFlacFile(file->bytes, audio) != tavrin::kOk) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(audio.frames.data());
  }
}

#ifdef TAVRIN_HAVE_LIBFLAC
struct MemoryStream {
  const std::vector<std::uint8_t>* bytes;
  std::size_t pos = 0;
  std::int32_t sink = 0;
};

FLAC__StreamDecoderReadStatus MemRead(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes, void* client) {
  auto* m = static_cast<MemoryStream*>(client);
  const std::size_t left = m->bytes->size() - m->pos;
  if (left == 0) {
    *bytes = 0;
    return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  }
  const std::size_t n = *bytes < left ? *bytes : left;
  std::memcpy(buffer, m->bytes->data() + m->pos, n);
  m->pos += n;
  *bytes = n;
  return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus MemWrite(const FLAC__StreamDecoder*, const FLAC__Frame*, const FLAC__int32* const buffer[],
                                        void* client) {
  static_cast<MemoryStream*>(client)->sink ^= buffer[0][0];
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void MemMeta(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}
void MemError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

void BM_LibFlac(benchmark::State& state, const BenchFile* file) {
  FLAC__StreamDecoder* dec = FLAC__stream_decoder_new();
  for (auto _ : state) {
    MemoryStream m{&file->bytes};
    FLAC__stream_decoder_set_md5_checking(dec, false);
    if (FLAC__stream_decoder_init_stream(dec, MemRead, nullptr, nullptr, nullptr, nullptr, MemWrite, MemMeta, MemError,
                                         &m) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      state.SkipWithError("libFLAC init failed");
      break;
    }
    FLAC__stream_decoder_process_until_end_of_stream(dec);
    FLAC__stream_decoder_finish(dec);
    benchmark::DoNotOptimize(m.sink);
  }
  FLAC__stream_decoder_delete(dec);
}
#endif

// Keeps each benchmark's time per iteration for the closing table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        times[r.benchmark_name()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Shell("command -v sox") || !Shell("command -v flac")) {
    std::fprintf(stderr, "flac_bench needs sox and flac to make its test files\n");
    return 0;
  }
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("tavrin-flac-bench-" + std::to_string(rd()));
  fs::create_directories(dir);
  // Sixty seconds of pink noise with a swept sine and a slow tremolo: about
  // 45 % of its PCM size at level 8, in the range of real recordings.
  const std::string synth = " synth 60 pinknoise synth 60 sine mix 100-3000 tremolo 2 60 gain -4";
  struct Make {
    const char* name;
    const char* soxFormat;
    const char* flacOptions;
  } makes[] = {
      {"16bit_stereo_level8", "-r 44100 -b 16 -c 2", "-8"},
      {"16bit_stereo_level5", "-r 44100 -b 16 -c 2", "-5"},
      {"16bit_stereo_level0", "-r 44100 -b 16 -c 2", "-0"},
      {"24bit_stereo_level8", "-r 48000 -b 24 -c 2", "-8"},
  };
  for (const Make& m : makes) {
    const fs::path wav = dir / (std::string(m.name) + ".wav");
    const fs::path flac = dir / (std::string(m.name) + ".flac");
    if (!Shell(std::string("sox -n ") + m.soxFormat + " '" + wav.string() + "'" + synth) ||
        !Shell(std::string("flac -s -f ") + m.flacOptions + " -o '" + flac.string() + "' '" + wav.string() + "'")) {
      std::fprintf(stderr, "could not make %s\n", m.name);
      continue;
    }
    g_files.push_back({m.name, ReadBytes(flac)});
  }
  std::error_code ec;
  fs::remove_all(dir, ec);

  for (const BenchFile& f : g_files) {
    benchmark::RegisterBenchmark(("Ours/" + f.name).c_str(), BM_Ours, &f)->Unit(benchmark::kMillisecond);
#ifdef TAVRIN_HAVE_LIBFLAC
    benchmark::RegisterBenchmark(("LibFlac/" + f.name).c_str(), BM_LibFlac, &f)->Unit(benchmark::kMillisecond);
#endif
    benchmark::RegisterBenchmark(("OursToMono/" + f.name).c_str(), BM_OursToMono, &f)->Unit(benchmark::kMillisecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nour decoding CPU time / libFLAC's (target for 16bit_stereo_level8: at most 1.5)\n");
  for (const BenchFile& f : g_files) {
    const auto ours = reporter.times.find("Ours/" + f.name);
    const auto ref = reporter.times.find("LibFlac/" + f.name);
    if (ours == reporter.times.end() || ref == reporter.times.end() || ref->second <= 0) continue;
    std::printf("  %-22s %.3f\n", f.name.c_str(), ours->second / ref->second);
  }
  benchmark::Shutdown();
  return 0;
}
