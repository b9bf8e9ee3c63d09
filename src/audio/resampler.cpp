#include "audio/resampler.h"

#include <cmath>
#include <cstring>
#include <numeric>

#include "base/alloc.h"

// SSE2 (every x86-64 processor) keeps four lanes per register. Elsewhere the
// plain loop below computes the same sums in the same order.
// TAVRIN_RESAMPLER_PORTABLE forces the plain loop (the tests build both).
#if !defined(TAVRIN_RESAMPLER_PORTABLE) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define TAVRIN_RESAMPLER_SSE2 1
#endif

namespace tavrin {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Beyond this many prototype taps (256 MiB of floats) the filter is refused as
// out of memory rather than computed for minutes.
constexpr std::uint64_t kMaxPrototype = std::uint64_t{1} << 26;

struct Design {
  std::uint64_t up = 0;
  std::uint64_t down = 0;
  std::uint64_t l = 0;
  std::uint64_t n = 0;
  bool tooLarge = false;
};

Design DesignFor(std::uint32_t sourceRate, std::uint32_t destinationRate) {
  Design d;
  const std::uint64_t g = std::gcd(static_cast<std::uint64_t>(destinationRate), static_cast<std::uint64_t>(sourceRate));
  if (g == 0) return d;
  d.up = destinationRate / g;
  d.down = sourceRate / g;
  d.l = d.up > d.down ? d.up : d.down;
  // N = trunc(float(L x source rate) x 0.0005).
  if (d.l > UINT64_MAX / sourceRate) {
    d.tooLarge = true;
    return d;
  }
  const float product = static_cast<float>(d.l * sourceRate);
  const double half = static_cast<double>(product) * 0.0005;
  if (!(2.0 * std::trunc(half) + 1.0 <= static_cast<double>(kMaxPrototype))) {
    d.tooLarge = true;
    return d;
  }
  d.n = static_cast<std::uint64_t>(half);
  return d;
}

double Blackman(double n, double twoN) {
  return 0.42 - 0.5 * std::cos(2.0 * kPi * n / twoN) + 0.08 * std::cos(4.0 * kPi * n / twoN);
}

// Source frames needed in total before frame j's block can be used, and the
// required output count: floor(srcCount x up / down) without overflow.
bool DestinationTooShort(std::uint64_t srcCount, std::uint64_t up, std::uint64_t down, std::uint64_t dstCount) {
  const std::uint64_t whole = srcCount / down;
  const std::uint64_t rest = srcCount % down;
  if (whole != 0 && whole > (UINT64_MAX - up) / up) return true;
  // rest < down and up x down fits in 64 bits for 32-bit rates.
  const std::uint64_t required = whole * up + rest * up / down;
  return dstCount < required;
}

// The phase blocks add zero taps around each lane's own taps; 0 x x is +-0 and
// leaves a single-precision sum unchanged only while x is finite, so sources
// holding an infinity or NaN take the frame-by-frame path.
bool AllFinite(const float* src, std::uint64_t count) {
  std::uint32_t bad = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    std::uint32_t bits;
    std::memcpy(&bits, &src[i], sizeof bits);
    bad |= static_cast<std::uint32_t>((bits & 0x7F800000u) == 0x7F800000u);
  }
  return bad == 0;
}

}  // namespace

std::uint64_t ResamplerPrototypeLength(std::uint32_t sourceRate, std::uint32_t destinationRate) {
  if (sourceRate == 0 || destinationRate == 0) return 0;
  const Design d = DesignFor(sourceRate, destinationRate);
  if (d.tooLarge) return UINT64_MAX;
  return 2 * d.n + 1;
}

bool ResamplerCanConvert(std::uint32_t sourceRate, std::uint32_t destinationRate) {
  if (sourceRate == 0 || destinationRate == 0) return false;
  const Design d = DesignFor(sourceRate, destinationRate);
  return d.up != 0 && d.down != 0 && !d.tooLarge;
}

Result ResamplerFilter::Prepare(std::uint32_t sourceRate, std::uint32_t destinationRate) {
  prepared_ = false;
  h_.clear();
  blocks_.clear();
  chunks_.clear();
  if (sourceRate == 0 || destinationRate == 0) return kInvalidArgument;
  const Design d = DesignFor(sourceRate, destinationRate);
  if (d.up == 0 || d.down == 0) return kInvalidArgument;
  if (d.tooLarge) return kOutOfMemory;
  up_ = d.up;
  down_ = d.down;
  n_ = d.n;
  const std::uint64_t length = 2 * n_ + 1;
  k_ = length / up_;

  // The prototype: h[N] = up / L; h[N +- i] = up sin(pi i / L) / (pi i) w(N - i).
  if (Result r = TryResize(h_, static_cast<std::size_t>(length))) return r;
  const double upD = static_cast<double>(up_);
  const double lD = static_cast<double>(d.l);
  const double twoN = 2.0 * static_cast<double>(n_);
  h_[n_] = static_cast<float>(upD / lD);
  for (std::uint64_t i = 1; i <= n_; ++i) {
    const double iD = static_cast<double>(i);
    const double v = upD * std::sin(kPi * iD / lD) / (kPi * iD) * Blackman(static_cast<double>(n_ - i), twoN);
    const float f = static_cast<float>(v);
    h_[n_ + i] = f;
    h_[n_ - i] = f;
  }

  // Phase blocks for the steady state (t >= 0, phase r >= 0, where the first
  // tap k = 0 is always skipped). Outputs j and j + up share a phase; chunk c
  // serves the outputs whose j mod up lies in [c x lanes, c x lanes + lanes).
  // Its block holds, for each source frame it reads, the tap of every lane
  // (0 where that frame is outside the lane's K - 1 taps).
  if (k_ >= 2) {
    const std::uint64_t chunkCount = (up_ + kLanes - 1) / kLanes;
    if (Result r = TryResize(chunks_, static_cast<std::size_t>(chunkCount))) return r;
    const std::uint64_t upN = n_ % up_;
    std::uint64_t total = 0;
    for (std::uint64_t c = 0; c < chunkCount; ++c) {
      Chunk& chunk = chunks_[static_cast<std::size_t>(c)];
      const std::uint64_t p0 = c * kLanes;
      chunk.lanes = static_cast<std::uint32_t>(up_ - p0 < kLanes ? up_ - p0 : kLanes);
      // r0 = (p0 x down - N) mod up, non-negative.
      const std::uint64_t r0 = ((p0 % up_) * (down_ % up_) % up_ + up_ - upN) % up_;
      const std::uint64_t lastOffset = (r0 + (chunk.lanes - 1) * down_) / up_;
      chunk.span = lastOffset + k_ - 1;
      chunk.offset = total;
      total += chunk.span * kLanes;
    }
    if (total > kMaxPrototype * 2) return kOutOfMemory;
    if (Result r = TryResize(blocks_, static_cast<std::size_t>(total))) return r;
    for (std::uint64_t c = 0; c < chunkCount; ++c) {
      const Chunk& chunk = chunks_[static_cast<std::size_t>(c)];
      const std::uint64_t p0 = c * kLanes;
      const std::uint64_t r0 = ((p0 % up_) * (down_ % up_) % up_ + up_ - upN) % up_;
      float* block = blocks_.data() + chunk.offset;
      for (std::uint32_t lane = 0; lane < chunk.lanes; ++lane) {
        const std::uint64_t shifted = r0 + lane * down_;
        const std::uint64_t qOffset = shifted / up_;
        const std::uint64_t r = shifted % up_;
        // Tap k (1..K-1) of this lane reads source frame qOffset + k, which
        // is frame qOffset + k - 1 of the block.
        for (std::uint64_t k = 1; k < k_; ++k) {
          block[(qOffset + k - 1) * kLanes + lane] = h_[k * up_ - r];
        }
      }
    }
  }
  sourceRate_ = sourceRate;
  destinationRate_ = destinationRate;
  prepared_ = true;
  return kOk;
}

// The sums of one chunk: for each source frame in order, every lane adds its
// tap times that frame. Each lane's sum is a single-precision sum in tap
// order; the lanes only share the loop.
void ResamplerFilter::ChunkSums(const float* x, const float* taps, std::uint64_t span, float* acc) {
  static_assert(kLanes == 16, "the vector form holds four registers of four lanes");
#if TAVRIN_RESAMPLER_SSE2
  __m128 a0 = _mm_setzero_ps();
  __m128 a1 = _mm_setzero_ps();
  __m128 a2 = _mm_setzero_ps();
  __m128 a3 = _mm_setzero_ps();
  for (std::uint64_t s = 0; s < span; ++s) {
    const __m128 xs = _mm_set1_ps(x[s]);
    const float* row = taps + s * kLanes;
    a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(row), xs));
    a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(row + 4), xs));
    a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(row + 8), xs));
    a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(row + 12), xs));
  }
  _mm_storeu_ps(acc, a0);
  _mm_storeu_ps(acc + 4, a1);
  _mm_storeu_ps(acc + 8, a2);
  _mm_storeu_ps(acc + 12, a3);
#else
  for (std::uint32_t lane = 0; lane < kLanes; ++lane) acc[lane] = 0.0f;
  for (std::uint64_t s = 0; s < span; ++s) {
    const float xs = x[s];
    const float* row = taps + s * kLanes;
    for (std::uint32_t lane = 0; lane < kLanes; ++lane) acc[lane] += row[lane] * xs;
  }
#endif
}

// One output exactly as defined: the sum over k = 0..K-1 of
// h[k up - r] x src[q + k], skipping k up <= r and frames outside the source.
float ResamplerFilter::OneOutput(const float* src, std::uint64_t srcCount, std::int64_t q, std::int64_t r) const {
  float sum = 0.0f;
  const std::int64_t up = static_cast<std::int64_t>(up_);
  const std::int64_t count = static_cast<std::int64_t>(srcCount);
  for (std::int64_t k = 0; k < static_cast<std::int64_t>(k_); ++k) {
    if (k * up <= r) continue;
    const std::int64_t at = q + k;
    if (at < 0 || at >= count) continue;
    sum += h_[static_cast<std::size_t>(k * up - r)] * src[at];
  }
  return sum;
}

Result ResamplerFilter::Run(const float* src, std::uint64_t srcCount, float* dst, std::uint64_t dstCount) const {
  if (!prepared_) return kWrongState;
  if ((src == nullptr && srcCount != 0) || (dst == nullptr && dstCount != 0)) return kMissingBuffer;
  if (DestinationTooShort(srcCount, up_, down_, dstCount)) return kTooMuchData;

  const std::int64_t up = static_cast<std::int64_t>(up_);
  const std::int64_t n = static_cast<std::int64_t>(n_);
  const std::int64_t stepQ = static_cast<std::int64_t>(down_ / up_);
  const std::int64_t stepR = static_cast<std::int64_t>(down_ % up_);
  // t = j down - N kept as floor quotient and remainder by up; the one
  // division is here, before the first frame.
  std::int64_t qf = -((n + up - 1) / up);
  std::int64_t rf = -n - qf * up;
  std::uint64_t phase = 0;  // j mod up

  const bool fast = !chunks_.empty() && AllFinite(src, srcCount);
  const std::int64_t count = static_cast<std::int64_t>(srcCount);
  std::uint64_t j = 0;
  while (j < dstCount) {
    if (fast && qf >= 0 && phase % kLanes == 0) {
      const Chunk& chunk = chunks_[static_cast<std::size_t>(phase / kLanes)];
      if (j + chunk.lanes <= dstCount && qf + static_cast<std::int64_t>(chunk.span) < count) {
        float acc[kLanes];
        ChunkSums(src + qf + 1, blocks_.data() + chunk.offset, chunk.span, acc);
        for (std::uint32_t lane = 0; lane < chunk.lanes; ++lane) dst[j + lane] = acc[lane];
        for (std::uint32_t lane = 0; lane < chunk.lanes; ++lane) {
          qf += stepQ;
          rf += stepR;
          if (rf >= up) {
            rf -= up;
            ++qf;
          }
        }
        j += chunk.lanes;
        phase += chunk.lanes;
        if (phase == up_) phase = 0;
        continue;
      }
    }
    // Truncation toward zero for negative t: quotient one higher, remainder
    // negative.
    std::int64_t q = qf;
    std::int64_t r = rf;
    if (qf < 0 && rf != 0) {
      q = qf + 1;
      r = rf - up;
    }
    dst[j] = OneOutput(src, srcCount, q, r);
    qf += stepQ;
    rf += stepR;
    if (rf >= up) {
      rf -= up;
      ++qf;
    }
    ++j;
    if (++phase == up_) phase = 0;
  }
  return kOk;
}

Result Resampler(const float* src, std::uint64_t srcCount, std::uint32_t sourceRate, float* dst,
                std::uint64_t dstCount, std::uint32_t destinationRate) {
  if (sourceRate == 0 || destinationRate == 0) return kInvalidArgument;
  if ((src == nullptr && srcCount != 0) || (dst == nullptr && dstCount != 0)) return kMissingBuffer;
  // Filters up to this size stay for the next call at the same rates.
  constexpr std::uint64_t kKeep = std::uint64_t{1} << 22;
  thread_local ResamplerFilter cached;
  if (cached.prepared() && cached.sourceRate() == sourceRate && cached.destinationRate() == destinationRate) {
    return cached.Run(src, srcCount, dst, dstCount);
  }
  ResamplerFilter filter;
  if (Result r = filter.Prepare(sourceRate, destinationRate)) return r;
  const Result r = filter.Run(src, srcCount, dst, dstCount);
  if (filter.footprint() <= kKeep) cached = std::move(filter);
  return r;
}

}  // namespace tavrin
