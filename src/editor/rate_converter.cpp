#include "editor/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeta = 8.0;        // about 80 dB of stop band
constexpr std::uint32_t kHalf = 12;  // taps per side at the source's cutoff
constexpr std::uint32_t kMaxHalf = 64;

double BesselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 40; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

}  // namespace

Result RateConverter::Tabulate(Kernel& k, double cutoff) {
  k.half = std::min(kMaxHalf, static_cast<std::uint32_t>(std::ceil(kHalf / cutoff)));
  const std::uint32_t size = 2 * k.half * kPhases + 2;
  if (Result r = TryResize(k.table, size)) return r;
  const double norm = BesselI0(kBeta);
  for (std::uint32_t i = 0; i < size; ++i) {
    const double d = static_cast<double>(i) / kPhases - k.half;  // offset in source frames
    const double w = d / k.half;
    if (std::fabs(w) >= 1.0) {
      k.table[i] = 0.0f;
      continue;
    }
    const double x = kPi * cutoff * d;
    const double sinc = d == 0.0 ? 1.0 : std::sin(x) / x;
    // At the source's own cutoff the kernel is exactly 0 on every other frame,
    // so an unchanged rate plays the frames as they are.
    const bool node = cutoff == 1.0 && i % kPhases == 0 && d != 0.0;
    k.table[i] = node ? 0.0f : static_cast<float>(cutoff * sinc * BesselI0(kBeta * std::sqrt(1.0 - w * w)) / norm);
  }
  return kOk;
}

Result RateConverter::Prepare(std::uint32_t maxSourceRate, std::uint32_t outputRate) {
  if (maxSourceRate == 0 || outputRate == 0) return kInvalidArgument;
  outputRate_ = 0;
  if (Result r = Tabulate(up_, 1.0)) return r;
  for (std::uint32_t i = 0; i < kDownKernels; ++i) {
    downStep_[i] = std::max(1.0, static_cast<double>(maxSourceRate) / outputRate) * std::exp2(0.5 * i);
    if (Result r = Tabulate(down_[i], std::min(1.0, 1.0 / downStep_[i]))) return r;
  }
  if (Result r = TryResize(buf_, 2 * History() + kBlock)) return r;
  outputRate_ = outputRate;
  Reset();
  return kOk;
}

std::uint32_t RateConverter::History() const {
  std::uint32_t h = up_.half;
  for (const Kernel& k : down_) h = std::max(h, k.half);
  return h;
}

const RateConverter::Kernel& RateConverter::KernelFor(double step) const {
  if (step <= 1.0) return up_;
  for (std::uint32_t i = 0; i + 1 < kDownKernels; ++i)
    if (step <= downStep_[i]) return down_[i];
  return down_[kDownKernels - 1];
}

void RateConverter::Reset() {
  const std::uint32_t history = History();
  std::fill(buf_.begin(), buf_.end(), 0.0f);
  count_ = history == 0 ? 0 : history - 1;
  pos_ = count_;
  ended_ = false;
  endIndex_ = 0;
}

float RateConverter::Interpolate(const Kernel& k, std::uint32_t i, double frac) const {
  const double x = (1.0 - frac) * kPhases;
  const std::uint32_t base = static_cast<std::uint32_t>(x);
  const float t = static_cast<float>(x - base);
  const float* tab = k.table.data() + base;
  const float* src = buf_.data() + (i + 1 - k.half);
  float sum = 0.0f;
  for (std::uint32_t j = 0; j < 2 * k.half; ++j, tab += kPhases) {
    sum += src[j] * (tab[0] + t * (tab[1] - tab[0]));
  }
  return sum;
}

void RateConverter::Refill(FrameSource& source, std::uint32_t half) {
  const std::uint32_t i = static_cast<std::uint32_t>(pos_);
  const std::uint32_t keep = i + 1 >= half ? i + 1 - half : 0;  // the oldest frame still needed
  const std::uint32_t history = History();
  const std::uint32_t from = std::min(keep, i + 1 >= history ? i + 1 - history : 0);
  std::memmove(buf_.data(), buf_.data() + from, (count_ - from) * sizeof(float));
  count_ -= from;
  pos_ -= from;
  endIndex_ = endIndex_ >= from ? endIndex_ - from : 0;
  const std::uint32_t room = static_cast<std::uint32_t>(buf_.size()) - count_;
  if (!ended_) {
    const std::uint32_t got = source.Pull(buf_.data() + count_, room);
    count_ += std::min(got, room);
    if (got >= room) return;
    ended_ = true;
    endIndex_ = count_;
  }
  std::fill(buf_.begin() + count_, buf_.end(), 0.0f);
  count_ = static_cast<std::uint32_t>(buf_.size());
}

std::uint32_t RateConverter::Render(FrameSource& source, double step, float* out, std::uint32_t count) {
  if (outputRate_ == 0 || !(step > 0.0)) return 0;
  const Kernel& k = KernelFor(step);
  std::uint32_t written = 0;
  while (written < count) {
    std::uint32_t i = static_cast<std::uint32_t>(pos_);
    double frac = pos_ - i;
    const bool exact = frac == 0.0 && step == 1.0;
    // Once the source has ended, the filter's tail plays out, then nothing.
    if (ended_ && i >= endIndex_ + (exact ? 0 : k.half)) break;
    if (i + k.half >= count_) {
      Refill(source, k.half);
      continue;
    }
    out[written++] = exact ? buf_[i] : Interpolate(k, i, frac);
    pos_ += step;
  }
  return written;
}

}  // namespace tavrin
