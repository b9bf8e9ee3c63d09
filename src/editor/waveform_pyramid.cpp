#include "editor/waveform_pyramid.h"

#include <cmath>
#include <limits>

#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

inline void Join(MinMax& m, const MinMax& e) {
  m.lo = e.lo < m.lo ? e.lo : m.lo;
  m.hi = e.hi > m.hi ? e.hi : m.hi;
}

void Raw(MinMax& m, const float* f, std::uint64_t from, std::uint64_t to) {
  float lo = m.lo, hi = m.hi;
  for (std::uint64_t i = from; i < to; ++i) {
    lo = f[i] < lo ? f[i] : lo;
    hi = f[i] > hi ? f[i] : hi;
  }
  m = {lo, hi};
}

void Entries(MinMax& m, const std::vector<MinMax>& level, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t i = from; i < to; ++i) Join(m, level[i]);
}

}  // namespace

void MinMaxPyramid::Clear() {
  count_ = 0;
  for (auto& l : levels_) std::vector<MinMax>().swap(l);
}

Result MinMaxPyramid::Build(const float* frames, std::uint64_t count) {
  Clear();
  if (frames == nullptr) return kOk;
  for (std::uint32_t l = 0; l < kLevels; ++l) {
    if (Result r = TryResize(levels_[l], static_cast<std::size_t>(count >> kShift[l]))) {
      Clear();
      count_ = count;  // read raw
      return r;
    }
  }
  // Only whole blocks get an entry; the tail is read raw.
  MinMax* first = levels_[0].data();
  for (std::size_t e = 0; e < levels_[0].size(); ++e) {
    MinMax m{kInf, -kInf};
    Raw(m, frames, e << kShift[0], (e + 1) << kShift[0]);
    first[e] = m;
  }
  for (std::uint32_t l = 1; l < kLevels; ++l) {
    const std::uint32_t fan = 1u << (kShift[l] - kShift[l - 1]);
    for (std::size_t e = 0; e < levels_[l].size(); ++e) {
      MinMax m{kInf, -kInf};
      Entries(m, levels_[l - 1], e * fan, (e + 1) * fan);
      levels_[l][e] = m;
    }
  }
  count_ = count;
  return kOk;
}

MinMax MinMaxPyramid::Range(const float* frames, std::uint64_t from, std::uint64_t to) const {
  MinMax m{kInf, -kInf};
  if (to > count_) to = count_;
  if (frames == nullptr || from >= to) return m;
  for (int l = kLevels - 1; l >= 0; --l) {
    const std::uint32_t s = kShift[l];
    std::uint64_t a = ((from + (1ull << s) - 1) >> s) << s;
    std::uint64_t e = (to >> s) << s;
    if (a >= e || levels_[l].empty()) continue;
    Entries(m, levels_[l], a >> s, e >> s);
    // The edges, each from the next finer level down to the raw frames.
    for (int f = l - 1; f >= 0; --f) {
      const std::uint32_t t = kShift[f];
      const std::uint64_t a2 = ((from + (1ull << t) - 1) >> t) << t;
      const std::uint64_t e2 = (to >> t) << t;
      if (a2 < a) Entries(m, levels_[f], a2 >> t, a >> t), a = a2;
      if (e < e2) Entries(m, levels_[f], e >> t, e2 >> t), e = e2;
    }
    Raw(m, frames, from, a);
    Raw(m, frames, e, to);
    return m;
  }
  Raw(m, frames, from, to);
  return m;
}

void MinMaxPyramid::Columns(const float* frames, double firstFrame, double framesPerColumn, std::size_t columns,
                            MinMax* out) const {
  const double n = static_cast<double>(count_);
  const auto edge = [&](std::size_t k) {
    const double x = firstFrame + static_cast<double>(k) * framesPerColumn;
    return x <= 0.0 ? std::uint64_t{0} : (x >= n ? count_ : static_cast<std::uint64_t>(x));
  };
  std::uint64_t a = edge(0);
  if (framesPerColumn < 32.0 || frames == nullptr) {
    // Narrow columns read their frames straight: a level would not pay.
    for (std::size_t k = 0; k < columns; ++k) {
      const std::uint64_t b = edge(k + 1);
      std::uint64_t to = b > a ? b : a + 1;
      to = to < count_ ? to : count_;
      float lo = kInf, hi = -kInf;
      for (std::uint64_t i = a; i < to; ++i) {
        lo = frames[i] < lo ? frames[i] : lo;
        hi = frames[i] > hi ? frames[i] : hi;
      }
      out[k] = {lo, hi};
      a = b;
    }
    return;
  }
  for (std::size_t k = 0; k < columns; ++k) {
    const std::uint64_t b = edge(k + 1);
    out[k] = Range(frames, a, b > a ? b : a + 1);
    a = b;
  }
}

}  // namespace tavrin
