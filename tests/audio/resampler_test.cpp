#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
  const std::int64_t g = std::gcd<std::int64_t, std::int64_t>(dstRate, srcRate);
  const std::int64_t up = dstRate / g;
  const std::int64_t down = srcRate / g;
  const std::int64_t l = std::max(up, down);
  const std::int64_t n = static_cast<std::int64_t>(static_cast<double>(static_cast<float>(l * srcRate)) * 0.0005);
  std::vector<float> h(static_cast<std::size_t>(2 * n + 1));
  h[static_cast<std::size_t>(n)] = static_cast<float>(static_cast<double>(up) / static_cast<double>(l));
  for (std::int64_t i = 1; i <= n; ++i) {
    const double w = 0.42 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(n - i) / (2.0 * static_cast<double>(n))) +
                     0.08 * std::cos(4.0 * kPi * static_cast<double>(n - i) / (2.0 * static_cast<double>(n)));
    const double v = static_cast<double>(up) * std::sin(kPi * static_cast<double>(i) / static_cast<double>(l)) /
                     (kPi * static_cast<double>(i)) * w;
    h[static_cast<std::size_t>(n + i)] = h[static_cast<std::size_t>(n - i)] = static_cast<float>(v);
  }
  const std::int64_t k = (2 * n + 1) / up;
  std::vector<float> out(dstCount);
  for (std::uint64_t j = 0; j < dstCount; ++j) {
    const std::int64_t t = static_cast<std::int64_t>(j) * down - n;
    const std::int64_t q = t / up;
    const std::int64_t r = t - q * up;
    float sum = 0.0f;
    for (std::int64_t kk = 0; kk < k; ++kk) {
      if (kk * up <= r || q + kk < 0 || q + kk >= static_cast<std::int64_t>(src.size())) continue;
      sum += h[static_cast<std::size_t>(kk * up - r)] * src[static_cast<std::size_t>(q + kk)];
    }
    out[j] = sum;
  }
  return out;
}

std::uint32_t Bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

std::vector<float> Noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& f : v) f = d(rng);
  return v;
}

TEST(Resampler, TapsPerOutput) {
  const struct {
    std::uint32_t rate;
    std::uint64_t k;
  } cases[] = {{44100, 62}, {48000, 73}, {22050, 22}};
  for (const auto& c : cases) {
    ResamplerFilter f;
    ASSERT_EQ(f.Prepare(c.rate, 31250), 0u);
    EXPECT_EQ(f.tapsPerOutput(), c.k) << c.rate;
  }
  ResamplerFilter f;
  ASSERT_EQ(f.Prepare(44100, 31250), 0u);
  EXPECT_EQ(f.up(), 625u);
  EXPECT_EQ(f.down(), 882u);
  EXPECT_EQ(f.halfLength(), 19448u);
  EXPECT_EQ(f.prototype().size(), 38897u);
  EXPECT_FLOAT_EQ(f.prototype()[19448], 625.0f / 882.0f);
}

TEST(Resampler, BitExactAgainstTheDefinition) {
  const std::uint32_t rates[] = {44100, 48000, 22050, 8000, 96000, 11025, 44101, 32000, 31249, 192000};
  for (const std::uint32_t rate : rates) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{100}, std::size_t{5000}}) {
      SCOPED_TRACE(::testing::Message() << rate << " Hz, " << count << " frames");
      const std::vector<float> src = Noise(count, rate + static_cast<unsigned>(count));
      const std::uint64_t dstCount = count * 31250ull / rate + 3;  // a few beyond the end too
      std::vector<float> dst(dstCount, 99.0f);
      ASSERT_EQ(Resampler(src.data(), src.size(), rate, dst.data(), dstCount, 31250), 0u);
      const std::vector<float> ref = Reference(src, rate, 31250, dstCount);
      for (std::uint64_t j = 0; j < dstCount; ++j) {
        ASSERT_EQ(Bits(dst[j]), Bits(ref[j])) << "frame " << j << ": " << dst[j] << " vs " << ref[j];
      }
    }
  }
}

TEST(Resampler, NonFiniteSourceStillFollowsTheDefinition) {
  std::vector<float> src = Noise(3000, 5);
  src[1000] = std::numeric_limits<float>::infinity();
  src[2000] = std::numeric_limits<float>::quiet_NaN();
  const std::uint64_t dstCount = 3000ull * 31250 / 44100;
  std::vector<float> dst(dstCount);
  ASSERT_EQ(Resampler(src.data(), src.size(), 44100, dst.data(), dstCount, 31250), 0u);
  const std::vector<float> ref = Reference(src, 44100, 31250, dstCount);
  for (std::uint64_t j = 0; j < dstCount; ++j) {
    if (std::isnan(ref[j])) {
      ASSERT_TRUE(std::isnan(dst[j])) << j;
    } else {
      ASSERT_EQ(Bits(dst[j]), Bits(ref[j])) << j;
    }
  }
  // Far from the bad frames the output is finite.
  EXPECT_TRUE(std::isfinite(dst[100]));
}

TEST(Resampler, Results) {
  std::vector<float> src(100, 0.5f);
  std::vector<float> dst(200);
  EXPECT_EQ(Resampler(src.data(), 100, 0, dst.data(), 70, 31250), 2u);
  EXPECT_EQ(Resampler(src.data(), 100, 44100, dst.data(), 70, 0), 2u);
  EXPECT_EQ(Resampler(nullptr, 100, 44100, dst.data(), 70, 31250), 3u);
  EXPECT_EQ(Resampler(src.data(), 100, 44100, nullptr, 70, 31250), 3u);
  // 100 x 31250 / 44100 = 70.86: 70 frames are enough, 69 are not.
  EXPECT_EQ(Resampler(src.data(), 100, 44100, dst.data(), 70, 31250), 0u);
  EXPECT_EQ(Resampler(src.data(), 100, 44100, dst.data(), 69, 31250), 5u);
  EXPECT_EQ(Resampler(src.data(), 0, 44100, dst.data(), 0, 31250), 0u);
  // A filter beyond any sensible size is refused as out of memory.
  EXPECT_EQ(Resampler(src.data(), 100, 4294967291u, dst.data(), 1, 31250), 4u);
  ResamplerFilter f;
  EXPECT_EQ(f.Run(src.data(), 100, dst.data(), 100), 14u);
}

// Amplitude of the component at frequency f (cycles per frame) by least
// squares over the middle of the signal.
double AmplitudeAt(const std::vector<float>& x, double f, std::size_t from, std::size_t to) {
  double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
  for (std::size_t i = from; i < to; ++i) {
    const double s = std::sin(2 * kPi * f * static_cast<double>(i));
    const double c = std::cos(2 * kPi * f * static_cast<double>(i));
    ss += s * s;
    sc += s * c;
    cc += c * c;
    xs += x[i] * s;
    xc += x[i] * c;
  }
  const double det = ss * cc - sc * sc;
  const double a = (xs * cc - xc * sc) / det;
  const double b = (xc * ss - xs * sc) / det;
  return std::sqrt(a * a + b * b);
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t to) {
  double s = 0;
  for (std::size_t i = from; i < to; ++i) s += static_cast<double>(x[i]) * x[i];
  return std::sqrt(s / static_cast<double>(to - from));
}

struct Sweep {
  double passbandDeviationDb = 0;  // largest |gain| in dB up to passEdge
  double worstAliasDb = -1000;     // largest level of anything not at the tone, in dB
};

// Sine tones across the band: the converted tone's amplitude gives the
// passband gain; what is left after removing it is alias or image.
Sweep Measure(std::uint32_t rate, double passEdge, double stopStart) {
  Sweep result;
  const std::size_t n = rate / 5;  // 0.2 s
  const std::uint64_t outCount = n * 31250ull / rate;
  const std::size_t from = outCount / 5, to = outCount - outCount / 5;
  for (double hz = 50; hz < rate / 2.0; hz += (hz < 1000 ? 150 : 497)) {
    std::vector<float> src(n);
    for (std::size_t i = 0; i < n; ++i) {
      src[i] = static_cast<float>(0.5 * std::sin(2 * kPi * hz * static_cast<double>(i) / rate));
    }
    std::vector<float> out(outCount);
    EXPECT_EQ(Resampler(src.data(), n, rate, out.data(), outCount, 31250), 0u);
    if (hz <= passEdge) {
      const double a = AmplitudeAt(out, hz / 31250.0, from, to);
      const double db = 20 * std::log10(a / 0.5);
      result.passbandDeviationDb = std::max(result.passbandDeviationDb, std::fabs(db));
      // Apart from the tone itself nothing may come through either.
      std::vector<float> rest(out);
      const double f = hz / 31250.0;
      double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
      for (std::size_t i = from; i < to; ++i) {
        const double s = std::sin(2 * kPi * f * i), c = std::cos(2 * kPi * f * i);
        ss += s * s, sc += s * c, cc += c * c, xs += out[i] * s, xc += out[i] * c;
      }
      const double det = ss * cc - sc * sc;
      const double ca = (xs * cc - xc * sc) / det, cb = (xc * ss - xs * sc) / det;
      for (std::size_t i = from; i < to; ++i) {
        rest[i] = static_cast<float>(out[i] - ca * std::sin(2 * kPi * f * i) - cb * std::cos(2 * kPi * f * i));
      }
      const double residual = 20 * std::log10(Rms(rest, from, to) * std::sqrt(2.0) / 0.5 + 1e-12);
      result.worstAliasDb = std::max(result.worstAliasDb, residual);
    } else if (hz >= stopStart) {
      // Tones above the output's band must not fold back into it.
      const double db = 20 * std::log10(Rms(out, from, to) * std::sqrt(2.0) / 0.5 + 1e-12);
      result.worstAliasDb = std::max(result.worstAliasDb, db);
    }
  }
  std::printf("%u Hz: passband deviation %.5f dB, worst alias %.1f dB\n", rate, result.passbandDeviationDb,
              result.worstAliasDb);
  return result;
}

TEST(Resampler, SweepDownFrom44100) {
  const Sweep s = Measure(44100, 13000, 18000);
  EXPECT_LT(s.passbandDeviationDb, 0.01);
  EXPECT_LT(s.worstAliasDb, -70.0);
}

TEST(Resampler, SweepDownFrom48000) {
  const Sweep s = Measure(48000, 13000, 18000);
  EXPECT_LT(s.passbandDeviationDb, 0.01);
  EXPECT_LT(s.worstAliasDb, -70.0);
}

TEST(Resampler, SweepUpFrom22050) {
  // Upsampling: the passband is the source's; images above 11025 Hz must be
  // attenuated.
  const Sweep s = Measure(22050, 8000, 1e9);
  EXPECT_LT(s.passbandDeviationDb, 0.01);
  EXPECT_LT(s.worstAliasDb, -70.0);
}

TEST(Resampler, CountsFollowTheRate) {
  // 44100 frames at 44100 Hz become 31250; a 31250 Hz pair is the identity.
  std::vector<float> src = Noise(44100, 1);
  std::vector<float> dst(31250);
  EXPECT_EQ(Resampler(src.data(), src.size(), 44100, dst.data(), 31250, 31250), 0u);
  EXPECT_EQ(Resampler(src.data(), src.size(), 44100, dst.data(), 31249, 31250), 5u);
  ResamplerFilter same;
  ASSERT_EQ(same.Prepare(31250, 31250), 0u);
  EXPECT_EQ(same.up(), 1u);
  EXPECT_EQ(same.down(), 1u);
}

}  // namespace
}  // namespace tavrin
