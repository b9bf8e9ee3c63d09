#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <random>

#include "audio/resampler.h"

namespace tavrin {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The conversion written out directly, one output at a time, with the
// divisions and bounds tests of its definition: the optimised filter must
// give the same bits.
std::vector<float> Reference(const std::vector<float>& src, std::uint32_t srcRate, std::uint32_t dstRate,
                             std::uint64_t dstCount) {
  const std::int64_t g = std::gcd<std::int64_t, std::int64_t>(dstRate, srcRate), up = dstRate / g;
  const std::int64_t down = srcRate / g, l = std::max(up, down);
  const auto n = static_cast<std::int64_t>(static_cast<double>(static_cast<float>(l * srcRate)) * 0.0005);
  std::vector<float> h(2 * n + 1);
  h[n] = static_cast<float>(static_cast<double>(up) / static_cast<double>(l));
  for (std::int64_t i = 1; i <= n; ++i) {
    const double w = 0.42 - 0.5 * std::cos(2.0 * kPi * (n - i) / (2.0 * n)) +
                     0.08 * std::cos(4.0 * kPi * (n - i) / (2.0 * n));
    h[n + i] = h[n - i] = static_cast<float>(up * std::sin(kPi * i / l) / (kPi * i) * w);
  }
  std::vector<float> out(dstCount);
  for (std::uint64_t j = 0; j < dstCount; ++j) {
    const std::int64_t t = static_cast<std::int64_t>(j) * down - n, q = t / up, r = t - q * up;
    float sum = 0.0f;
    for (std::int64_t k = 0; k < (2 * n + 1) / up; ++k) {
      if (k * up <= r || q + k < 0 || q + k >= static_cast<std::int64_t>(src.size())) continue;
      sum += h[k * up - r] * src[q + k];
    }
    out[j] = sum;
  }
  return out;
}

std::vector<float> Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& f : v) f = d(rng);
  return v;
}

TEST(Resampler, FilterDesign) {
  const struct {
    std::uint32_t rate;
    std::uint64_t up, down, half, taps;
  } cases[] = {{44100, 625, 882, 19448, 62}, {48000, 125, 192, 4608, 73}, {22050, 625, 441, 6890, 22},
               {31250, 1, 1, 15, 31}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    ResamplerFilter f;
    ASSERT_EQ(f.Prepare(c.rate, 31250), kOk);
    EXPECT_EQ(std::vector<std::uint64_t>({f.up(), f.down(), f.halfLength(), f.tapsPerOutput()}),
              std::vector<std::uint64_t>({c.up, c.down, c.half, c.taps}));
    ASSERT_EQ(f.prototype().size(), 2 * c.half + 1);
    EXPECT_FLOAT_EQ(f.prototype()[c.half], float(c.up) / float(std::max(c.up, c.down)));
    EXPECT_EQ(ResamplerPrototypeLength(c.rate, 31250), 2 * c.half + 1);
  }
  // A failed Prepare leaves the filter unprepared; a rate of 0 never converts.
  ResamplerFilter f;
  ASSERT_EQ(f.Prepare(44100, 31250), kOk);
  EXPECT_NE(f.Prepare(0, 31250), kOk);
  EXPECT_FALSE(f.prepared());
  EXPECT_FALSE(ResamplerCanConvert(0, 31250) || ResamplerCanConvert(31250, 0));
}

TEST(Resampler, BitExactAgainstTheDefinition) {
  const std::uint32_t rates[] = {44100, 48000, 22050, 8000, 96000, 11025, 44101, 32000, 31249, 192000};
  for (const std::uint32_t rate : rates) {
    for (const std::size_t count : {0, 1, 7, 100, 3000, 5000}) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, " << count << " frames");
      std::vector<float> src = Noise(count, rate + static_cast<unsigned>(count));
      if (count == 3000) {  // not finite: computed frame by frame, still as defined
        src[1000] = std::numeric_limits<float>::infinity();
        src[2000] = std::numeric_limits<float>::quiet_NaN();
      }
      const std::uint64_t dstCount = count * 31250ull / rate + 3;  // a few beyond the end too
      std::vector<float> dst(dstCount, 99.0f);
      ASSERT_EQ(Resampler(src.data(), src.size(), rate, dst.data(), dstCount, 31250), kOk);
      const std::vector<float> ref = Reference(src, rate, 31250, dstCount);
      for (std::uint64_t j = 0; j < dstCount; ++j) {
        const bool same = std::bit_cast<std::uint32_t>(dst[j]) == std::bit_cast<std::uint32_t>(ref[j]);
        ASSERT_TRUE(std::isnan(ref[j]) ? std::isnan(dst[j]) : same) << j << ": " << dst[j] << ", " << ref[j];
      }
    }
  }
}

TEST(Resampler, Results) {
  std::vector<float> src(44100, 0.5f), dst(31250);
  const float* s = src.data();
  float* d = dst.data();
  EXPECT_EQ(Resampler(s, 100, 0, d, 70, 31250), kInvalidArgument);
  EXPECT_EQ(Resampler(s, 100, 44100, d, 70, 0), kInvalidArgument);
  EXPECT_EQ(Resampler(nullptr, 100, 44100, d, 70, 31250), kMissingBuffer);
  EXPECT_EQ(Resampler(s, 100, 44100, nullptr, 70, 31250), kMissingBuffer);
  // 100 x 31250 / 44100 = 70.86: 70 frames are enough, 69 are not; 44100
  // frames need 31250 exactly.
  EXPECT_EQ(Resampler(s, 100, 44100, d, 70, 31250), kOk);
  EXPECT_EQ(Resampler(s, 100, 44100, d, 69, 31250), kTooMuchData);
  EXPECT_EQ(Resampler(s, 44100, 44100, d, 31250, 31250), kOk);
  EXPECT_EQ(Resampler(s, 44100, 44100, d, 31249, 31250), kTooMuchData);
  EXPECT_EQ(Resampler(s, 0, 44100, d, 0, 31250), kOk);
  // A filter beyond any sensible size is refused as out of memory.
  EXPECT_EQ(Resampler(s, 100, 4294967291u, d, 1, 31250), kOutOfMemory);
  ResamplerFilter f;
  EXPECT_EQ(f.Run(s, 100, d, 100), kWrongState);
}

// The sine and cosine amounts of frequency f (cycles per frame) in x, by least
// squares over [from, to).
std::pair<double, double> Fit(const std::vector<float>& x, double f, std::size_t from, std::size_t to) {
  double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double s = std::sin(2 * kPi * f * static_cast<double>(i));
    const double c = std::cos(2 * kPi * f * static_cast<double>(i));
    ss += s * s, sc += s * c, cc += c * c, xs += x[i] * s, xc += x[i] * c;
  }
  const double det = ss * cc - sc * sc;
  return {(xs * cc - xc * sc) / det, (xc * ss - xs * sc) / det};
}

// Sine tones across the band: the converted tone's amplitude gives the
// passband gain; what is left after removing it is alias or image, and tones
// above the output's band must not fold back into it.
TEST(Resampler, PassbandAndAliases) {
  const struct {
    std::uint32_t rate;
    double passEdge, stopStart;
  } cases[] = {{44100, 13000, 18000}, {48000, 13000, 18000}, {22050, 8000, 1e9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    double deviation = 0, worstAlias = -1000;
    const std::size_t n = c.rate / 5;  // 0.2 s
    const std::uint64_t outCount = n * 31250ull / c.rate;
    const std::size_t from = outCount / 5, to = outCount - outCount / 5;
    for (double hz = 50; hz < c.rate / 2.0; hz += (hz < 1000 ? 150 : 497)) {
      if (hz > c.passEdge && hz < c.stopStart) continue;
      std::vector<float> src(n), out(outCount);
      for (std::size_t i = 0; i < n; ++i) src[i] = float(0.5 * std::sin(2 * kPi * hz * i / c.rate));
      ASSERT_EQ(Resampler(src.data(), n, c.rate, out.data(), outCount, 31250), kOk);
      const double f = hz / 31250.0;
      const auto [a, b] = hz <= c.passEdge ? Fit(out, f, from, to) : std::pair<double, double>{0, 0};
      double rest = 0;  // the power of what is left, against a 0.5 sine
      for (std::size_t i = from; i < to; ++i) {
        rest += std::pow(out[i] - a * std::sin(2 * kPi * f * i) - b * std::cos(2 * kPi * f * i), 2) / 0.125;
      }
      const double gainDb = hz <= c.passEdge ? 20 * std::log10(std::hypot(a, b) / 0.5) : 0.0;
      deviation = std::max(deviation, std::fabs(gainDb));
      worstAlias = std::max(worstAlias, 10 * std::log10(rest / double(to - from) + 1e-24));
    }
    std::printf("%u Hz: passband deviation %.5f dB, worst alias %.1f dB\n", c.rate, deviation, worstAlias);
    EXPECT_LT(deviation, 0.01);
    EXPECT_LT(worstAlias, -70.0);
  }
}

}  // namespace
}  // namespace tavrin
