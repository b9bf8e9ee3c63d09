// Zoom and scroll of the waveform view: which frames it shows, where a frame
// lies at any zoom (from the whole sample down to several pixels per frame),
// the wheel, the scroll bar, "Zoom to Loop" and "Zoom to Fit", and the time
// ruler and cursor text at the card's 31250 frames per second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"

namespace tavrin {

inline constexpr double kMaxPixelsPerFrame = 32.0;
inline constexpr std::int32_t kWheelNotch = 120;

struct WaveView {
  double firstFrame = 0.0;      // the frame at the plot's left edge
  double framesPerPixel = 1.0;  // below 1 at several pixels per frame
  std::uint64_t frameCount = 0;
  double width = 0.0;           // the plot's width in pixels

  double VisibleFrames() const { return framesPerPixel * width; }
  // x from the plot's left edge, and back.
  double FrameToX(double frame) const { return (frame - firstFrame) / framesPerPixel; }
  double XToFrame(double x) const { return firstFrame + x * framesPerPixel; }
};

// The whole sample across the width ("Zoom to Fit").
WaveView FitView(std::uint64_t frameCount, double width);
// The zoom kept between the whole sample and kMaxPixelsPerFrame (or the
// whole, for a sample of fewer frames than that fills), the view inside the
// frames.
WaveView LimitView(WaveView v);
// Ctrl+wheel: `notches` of the wheel (delta / 120, up zooms in) around the
// cursor at x: the frame under it stays under it.
WaveView ZoomAround(const WaveView& v, double x, double notches);
// The wheel without Ctrl: an eighth of the view per notch, up to the left.
WaveView ScrollByWheel(const WaveView& v, double notches);
// [from, to) with a margin of a twentieth each side ("Zoom to Loop" gives it
// the loop and end markers; without a loop it fits).
WaveView ZoomToRange(const WaveView& v, std::int64_t from, std::int64_t to);
WaveView ZoomToLoop(const WaveView& v, const MarkerSet& markers, std::uint32_t loopFlags);

// The horizontal scroll bar in frames: range 0..max, a page, a position.
struct ScrollBarState {
  std::int32_t max = 0;
  std::int32_t page = 0;
  std::int32_t position = 0;
};
ScrollBarState ScrollBarOf(const WaveView& v);
WaveView ScrollTo(const WaveView& v, std::int64_t position);
// While a sample plays: the view unchanged while `frame` lies in it; once
// the cursor leaves it (past the right edge, or back to Loop), the page that
// starts a twentieth of the view before it, so the cursor stays in sight.
WaveView FollowPlay(const WaveView& v, std::int64_t frame);

// The frame under x (from the plot's left edge), rounded, within 0..count.
std::int64_t FrameUnder(const WaveView& v, double x);
// The crossing nearest to `frame` (the lower of two as near); `frame` when
// there is none.
std::int64_t NearestZeroCrossing(const std::vector<ZeroCrossing>& crossings, std::int64_t frame);

struct RulerTick {
  double x = 0.0;      // from the plot's left edge
  bool major = false;  // majors are longer and labelled
  Utf8Text<16> label;  // "1.25 s", "243 ms", "243.5 ms"
};
// Ticks at 1, 2 or 5 times a power of ten seconds, majors at least
// `minLabelSpacing` pixels apart, with four or five minor ticks between.
// 4 when `ticks` cannot grow.
Result BuildTimeRuler(const WaveView& v, double minLabelSpacing, std::vector<RulerTick>& ticks);
// "123456 · 3.950592 s": the frame and its time while the cursor is over the view.
Utf8Text<40> CursorText(std::int64_t frame);

}  // namespace tavrin
