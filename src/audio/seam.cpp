#include "audio/seam.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavrin {

double SeamErrorDb(const float* frames, std::size_t count, std::int64_t loop, std::int64_t end, double period) {
  constexpr std::size_t kNear = 32;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (frames == nullptr || loop < 0 || end <= loop || static_cast<std::uint64_t>(end) > count) return nan;
  period = period > 1.0 ? period : 0.0;
  std::size_t before = period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(2.0 * period), 32, 2048) : 256;
  const std::size_t after = period > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(period), 16, 1024) : 128;
  const auto l = static_cast<std::size_t>(loop);
  const auto e = static_cast<std::size_t>(end);
  before = std::min(before, l);
  const std::size_t endAfter = std::min(after, count - e);
  double energy = 0.0;
  for (std::size_t i = e - before; i < e + endAfter; ++i) energy += static_cast<double>(frames[i]) * frames[i];
  if (energy <= 0.0) return nan;
  const float* a = frames + l - before;
  const float* b = frames + e - before;
  const std::size_t n = before + endAfter;
  const std::size_t nearFrom = before - std::min(before, kNear);
  const std::size_t nearTo = before + std::min(endAfter, kNear);
  double near = 0.0;
  for (std::size_t i = nearFrom; i < nearTo; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    near += d * d;
  }
  const double nearRatio =
      nearTo > nearFrom ? near * static_cast<double>(n) / static_cast<double>(nearTo - nearFrom) / energy : 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  sum = std::max(sum, nearRatio * energy);
  return 10.0 * std::log10(std::max(sum / energy, 1e-12));
}

}  // namespace tavrin
