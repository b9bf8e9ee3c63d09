#include "editor/waveform_geometry.h"

#include <cmath>
#include <limits>

#include "base/alloc.h"

namespace tavrin {
namespace {

// -1..+1; NaN (a damaged frame) draws on the centre line.
float Limit(float v) {
  if (v != v) return 0.0f;
  return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v);
}

float ColumnX(PlotArea plot, std::uint64_t k, std::uint64_t columns) {
  return columns > 1 ? plot.left + static_cast<float>(k) * plot.width / static_cast<float>(columns - 1) : plot.left;
}

}  // namespace

PlotArea PlotOfClient(float x0, float y0, float w, float h) {
  const float height = std::fmod(h, 2.0f) == 0.0f ? h - 1.0f : h;
  return {x0 + 1.0f, y0 + 1.0f, w - 2.0f, height - 2.0f};
}

std::uint64_t FramesPerColumn(std::uint64_t frameCount, float width) {
  if (width < 1.0f || static_cast<double>(frameCount) <= width) return 1;
  return static_cast<std::uint64_t>(std::floor(static_cast<double>(frameCount) / width + 0.5));
}

float PlotScale(PlotArea plot, std::uint64_t frameCount) {
  return frameCount == 0 ? 1.0f : plot.width / static_cast<float>(frameCount);
}

Result BuildWaveformPath(const float* frames, std::uint64_t n, PlotArea plot, std::vector<PathPoint>& points) {
  const float centre = plot.top + (plot.height - 1.0f) * 0.5f;
  const float amplitude = plot.height * 0.5f;
  const std::uint64_t c = FramesPerColumn(n, plot.width);
  const std::uint64_t columns = frames == nullptr || plot.width < 1.0f ? 0 : (n + c - 1) / c;
  const std::size_t capacity = static_cast<std::size_t>(1 + (c == 1 ? columns : 2 * columns));
  if (Result r = TryResize(points, capacity)) {
    points.clear();
    return r;
  }
  PathPoint* out = points.data();
  *out++ = {plot.left, centre};
  if (c == 1) {
    for (std::uint64_t i = 0; i < columns; ++i) {
      *out++ = {ColumnX(plot, i, columns), amplitude * Limit(-frames[i]) + centre};
    }
  } else {
    for (std::uint64_t k = 0; k < columns; ++k) {
      const float* f = frames + k * c;
      const float* last = frames + (k + 1 < columns ? (k + 1) * c : n);
      // v = -x, so the smallest v is the largest frame and the other way round.
      float hi = -99.0f;
      float lo = 99.0f;
      for (; f < last; ++f) {
        hi = *f > hi ? *f : hi;
        lo = *f < lo ? *f : lo;
      }
      const float x = ColumnX(plot, k, columns);
      const float yMin = amplitude * Limit(-hi) + centre;
      const float yMax = amplitude * Limit(-lo) + centre;
      *out++ = {x, yMin};
      if (std::fabs(yMax - yMin) > 0.5f) *out++ = {x, yMax};
    }
  }
  points.resize(static_cast<std::size_t>(out - points.data()));
  return kOk;
}

void LayoutMarkers(MarkerGeometry* m, std::size_t count, PlotArea plot, float scale, double firstFrame) {
  const float left = plot.left;
  const float right = plot.left + plot.width;
  for (std::size_t i = 0; i < count; ++i) {
    const bool zoomed = firstFrame >= 0.0;
    const double offset = (static_cast<double>(m[i].position) - firstFrame) * scale;
    m[i].shown = m[i].position >= 0 && (!zoomed || (offset >= 0.0 && offset <= plot.width + 0.5));
    if (!m[i].shown) continue;
    float line = std::floor((zoomed ? static_cast<float>(offset) : scale * static_cast<float>(m[i].position)) + left);
    if (line > right - 1.0f) line = right - 1.0f;
    if (line < left + 1.0f) line = left + 1.0f;
    m[i].lineX = line;
    m[i].handleSize = std::floor(m[i].labelSize);
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (!m[i].shown) continue;
    const float line = m[i].lineX;
    float spanLeft = left;
    float spanRight = right;
    bool lowerShares = false;
    bool higherShares = false;
    for (std::size_t j = 0; j < count; ++j) {
      if (j == i || !m[j].shown) continue;
      const float lj = m[j].lineX;
      if (lj == line) {
        (j > i ? higherShares : lowerShares) = true;
      } else if (lj > spanLeft && lj < line) {
        spanLeft = lj + m[j].handleSize / 2.0f;
      } else if (lj > line && lj < spanRight) {
        spanRight = lj - m[j].handleSize / 2.0f;
      }
    }
    const float size = m[i].handleSize;
    const float roomLeft = line - spanLeft;
    const float roomRight = spanRight - line;
    const float half = size / 2.0f;
    const bool shortLeft = (roomLeft < half || lowerShares) && !higherShares;
    const bool shortRight = (roomRight < half || higherShares) && !lowerShares;
    const bool hangRight = shortLeft && (!shortRight || roomLeft < roomRight);
    const bool hangLeft = shortRight && (!shortLeft || roomRight < roomLeft);
    if (hangRight) {
      m[i].handleX = line - 1.0f < left ? left : line - 1.0f;
    } else if (hangLeft) {
      const float a = right - size - 1.0f;
      const float b = line - size + 1.0f;
      m[i].handleX = a < b ? a : b;
    } else {
      m[i].handleX = std::floor(line - half + 1.0f);
    }
  }
}

int HitMarkerHandle(const MarkerGeometry* m, std::size_t count, float x, float y) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!m[i].shown) continue;
    if (x >= m[i].handleX && x <= m[i].handleX + m[i].handleSize && y <= m[i].handleSize) return static_cast<int>(i);
  }
  return -1;
}

std::int32_t DragPosition(float cursorX, float plotOrigin, float scale, std::uint64_t frameCount, double firstFrame) {
  if (!(scale > 0.0f)) return 0;
  const double p = std::round(static_cast<double>(cursorX - plotOrigin) / static_cast<double>(scale) + firstFrame);
  const double top = static_cast<double>(frameCount < static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
                                             ? frameCount
                                             : static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()));
  if (!(p > 0.0)) return 0;
  return static_cast<std::int32_t>(p > top ? top : p);
}

}  // namespace tavrin
