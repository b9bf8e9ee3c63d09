// Writes the analysis fuzzer's starting corpus: tones of a few shapes and
// periods (with vibrato, in noise, decaying), silence, a DC level, noise, a
// few frames, and raw floats holding NaN and infinities; each behind a header
// that asks for every combination of options once.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "seed_file.h"

namespace {

std::vector<std::uint8_t> Pcm(std::uint8_t flags, const std::vector<float>& x) {
  std::vector<std::uint8_t> out = {flags, 0x40, 0x06, 16, 240, 5, 40, 200};  // period 100 frames
  for (float v : x) {
    const auto s = static_cast<std::int16_t>(std::lround(std::fmax(-1.0f, std::fmin(1.0f, v)) * 32767.0f));
    out.push_back(static_cast<std::uint8_t>(s & 0xFF));
    out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  return out;
}

std::vector<float> Tone(double period, double vibrato, double noise, double decay, std::size_t n) {
  std::vector<float> x(n);
  std::uint32_t r = 12345;
  double phase = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    r = r * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / 31250.0;
    x[i] = static_cast<float>(0.5 * std::exp(-decay * t) * (std::sin(phase) + 0.3 * std::sin(3.0 * phase)) +
                              noise * (static_cast<double>(r >> 8) / 16777216.0 - 0.5));
    phase += 6.283185307179586 / period * std::exp2(vibrato / 1200.0 * std::sin(6.283185307179586 * 5.5 * t));
  }
  return x;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  auto put = [&](const std::vector<std::uint8_t>& bytes) { Write(dir + "/seed" + std::to_string(n++), bytes); };
  const std::vector<float> sounds[] = {Tone(100.0, 0.0, 0.0, 0.0, 8192), Tone(7.3, 0.0, 0.0, 0.0, 4096),
                                       Tone(340.0, 20.0, 0.05, 0.0, 8192), Tone(55.5, 0.0, 0.0, 6.0, 8192),
                                       Tone(100.0, 0.0, 1.0, 0.0, 2048), std::vector<float>(4096, 0.0f),
                                       std::vector<float>(4096, 0.25f), Tone(12.0, 0.0, 0.0, 0.0, 40)};
  for (std::uint8_t flags = 0; flags < 32; flags += 2) put(Pcm(flags, sounds[(flags / 2) % 8]));
  for (const auto& s : sounds) put(Pcm(2 | 4 | 8, s));
  std::vector<std::uint8_t> raw = {1 | 2, 0, 1, 0, 255, 3, 10, 250};
  const float odd[] = {0.5f, NAN, INFINITY, -INFINITY, 1e-40f, 3e38f, -0.0f, 0.25f};
  for (int i = 0; i < 512; ++i) {
    std::uint8_t b[4];
    std::memcpy(b, &odd[i % 8], 4);
    raw.insert(raw.end(), b, b + 4);
  }
  put(raw);
  return 0;
}
