#include "editor/waveform_zoom.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/alloc.h"

namespace tavrin {
namespace {

// The whole sample across the width (a sample of a few frames gets more than
// kMaxPixelsPerFrame).
double FitFramesPerPixel(std::uint64_t count, double width) {
  if (!(width >= 1.0) || count == 0) return 1.0;
  return static_cast<double>(count) / width;
}

}  // namespace

WaveView FitView(std::uint64_t frameCount, double width) {
  return {0.0, FitFramesPerPixel(frameCount, width), frameCount, width};
}

WaveView LimitView(WaveView v) {
  const double fit = FitFramesPerPixel(v.frameCount, v.width);
  const double closest = std::min(fit, 1.0 / kMaxPixelsPerFrame);
  if (!(v.framesPerPixel >= closest)) v.framesPerPixel = closest;
  if (v.framesPerPixel > fit) v.framesPerPixel = fit;
  const double last = static_cast<double>(v.frameCount) - v.VisibleFrames();
  if (!(v.firstFrame <= last)) v.firstFrame = last;
  if (!(v.firstFrame >= 0.0)) v.firstFrame = 0.0;
  return v;
}

WaveView ZoomAround(const WaveView& v, double x, double notches) {
  const double under = v.XToFrame(x);
  WaveView z = v;
  z.framesPerPixel = v.framesPerPixel / std::pow(1.5, notches);
  z = LimitView(z);
  z.firstFrame = under - x * z.framesPerPixel;
  return LimitView(z);
}

WaveView ScrollByWheel(const WaveView& v, double notches) {
  WaveView s = v;
  s.firstFrame -= notches * v.VisibleFrames() / 8.0;
  return LimitView(s);
}

WaveView ZoomToRange(const WaveView& v, std::int64_t from, std::int64_t to) {
  if (to <= from) return FitView(v.frameCount, v.width);
  const double span = static_cast<double>(to - from);
  WaveView z = v;
  z.framesPerPixel = span * 1.1 / std::max(v.width, 1.0);
  z = LimitView(z);
  z.firstFrame = (static_cast<double>(from) + static_cast<double>(to)) / 2.0 - z.VisibleFrames() / 2.0;
  return LimitView(z);
}

WaveView ZoomToLoop(const WaveView& v, const MarkerSet& markers, std::uint32_t loopFlags) {
  if ((loopFlags & LoopFlags::kForward) == 0 || markers.loop < 0) return FitView(v.frameCount, v.width);
  return ZoomToRange(v, markers.loop, markers.end);
}

ScrollBarState ScrollBarOf(const WaveView& v) {
  const auto clamp = [](double x) { return static_cast<std::int32_t>(std::clamp(x, 0.0, 2147483647.0)); };
  return {clamp(static_cast<double>(v.frameCount)), clamp(std::ceil(v.VisibleFrames())), clamp(std::floor(v.firstFrame))};
}

WaveView ScrollTo(const WaveView& v, std::int64_t position) {
  WaveView s = v;
  s.firstFrame = static_cast<double>(position);
  return LimitView(s);
}

WaveView FollowPlay(const WaveView& v, std::int64_t frame) {
  const double f = static_cast<double>(frame), visible = v.VisibleFrames();
  if (frame < 0 || (f >= v.firstFrame && f < v.firstFrame + visible)) return v;
  WaveView s = v;
  s.firstFrame = f - visible / 20.0;
  return LimitView(s);
}

std::int64_t FrameUnder(const WaveView& v, double x) {
  const double f = std::round(v.XToFrame(x));
  if (!(f > 0.0)) return 0;
  return f > static_cast<double>(v.frameCount) ? static_cast<std::int64_t>(v.frameCount) : static_cast<std::int64_t>(f);
}

std::int64_t NearestZeroCrossing(const std::vector<ZeroCrossing>& zc, std::int64_t frame) {
  const auto it = std::lower_bound(zc.begin(), zc.end(), frame,
                                   [](const ZeroCrossing& z, std::int64_t f) { return z.frame < f; });
  if (it == zc.end()) return zc.empty() ? frame : zc.back().frame;
  if (it == zc.begin() || it->frame - frame < frame - std::prev(it)->frame) return it->frame;
  return std::prev(it)->frame;
}

Result BuildTimeRuler(const WaveView& v, double minLabelSpacing, std::vector<RulerTick>& ticks) {
  ticks.clear();
  const double secondsPerPixel = v.framesPerPixel / kCardRate;
  if (!(secondsPerPixel > 0.0) || !(v.width >= 1.0)) return kOk;
  // The smallest 1, 2 or 5 times ten to the k that leaves room for a label.
  double major = 0.0;
  int mantissa = 1;
  for (int k = -6; k <= 6 && major == 0.0; ++k) {
    for (int m : {1, 2, 5}) {
      const double step = m * std::pow(10.0, k);
      if (step / secondsPerPixel < minLabelSpacing) continue;
      major = step;
      mantissa = m;
      break;
    }
  }
  if (major == 0.0) return kOk;
  const int minors = mantissa == 2 ? 4 : 5;
  const double minor = major / minors;
  const double first = v.firstFrame / kCardRate;
  const double last = (v.firstFrame + v.VisibleFrames()) / kCardRate;
  const auto from = static_cast<std::int64_t>(std::ceil(first / minor - 1e-9));
  const auto to = static_cast<std::int64_t>(std::floor(last / minor + 1e-9));
  if (to < from) return kOk;
  if (Result r = TryReserve(ticks, static_cast<std::size_t>(to - from + 1))) return r;
  // Decimals the major step needs, in seconds; below 0.1 s in milliseconds.
  const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(major) + 1e-9)));
  for (std::int64_t i = from; i <= to; ++i) {
    RulerTick t;
    const double seconds = static_cast<double>(i) * minor;
    t.x = v.FrameToX(seconds * kCardRate);
    t.major = i % minors == 0;
    if (t.major) {
      char text[24];
      if (major >= 0.1) {
        std::snprintf(text, sizeof text, "%.*f s", decimals, seconds);
      } else {
        std::snprintf(text, sizeof text, "%.*f ms", std::max(0, decimals - 3), seconds * 1000.0);
      }
      t.label.assign(text);
    }
    ticks.push_back(t);  // reserved
  }
  return kOk;
}

Utf8Text<40> CursorText(std::int64_t frame) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld \xC2\xB7 %.6f s", static_cast<long long>(frame),
                static_cast<double>(frame) / kCardRate);
  Utf8Text<40> t;
  t.assign(text);
  return t;
}

}  // namespace tavrin
