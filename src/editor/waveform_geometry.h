// The waveform view's geometry as plain functions: the path through the
// frames, where marker lines and handles go, which handle the cursor is on
// and where a dragged marker lands. The window only draws what these give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"

namespace tavrin {

struct PlotArea {
  float left = 0.0f;
  float top = 0.0f;
  float width = 0.0f;
  float height = 0.0f;
};

// The plot inside a client rectangle: an even height loses a row so the
// plot has a middle row, then one pixel is inset on every side.
PlotArea PlotOfClient(float x0, float y0, float w, float h);

struct PathPoint {
  float x = 0.0f;
  float y = 0.0f;
};

// Frames per column of the reduced path; 1 when every frame gets its point.
std::uint64_t FramesPerColumn(std::uint64_t frameCount, float width);

// The chain of points through the frames, starting at (left, centre): one
// point per frame when the frames fit the width, else per column its minimum
// and, unless the column is flat, its maximum. `points` is reused between
// rebuilds and sized once per call. 4 when it cannot grow (left empty).
Result BuildWaveformPath(const float* frames, std::uint64_t count, PlotArea plot, std::vector<PathPoint>& points);

// Pixels per frame; 1 when there are no frames.
float PlotScale(PlotArea plot, std::uint64_t frameCount);

struct MarkerGeometry {
  std::int32_t position = -1;  // negative: hidden
  float labelSize = 0.0f;      // the larger of the label's measured width and height
  // Computed by LayoutMarkers:
  float lineX = 0.0f;
  float handleX = 0.0f;
  float handleSize = 0.0f;
  bool shown = false;  // inside the visible frames, with a position
};

// Places the lines and handles of the visible markers. Of two markers on one
// line the lower-indexed handle hangs left and the higher-indexed one right.
// For a zoomed view, `firstFrame` (not negative) is the frame at the plot's
// left edge and markers outside the view are not shown (and not hit);
// without it every marker with a position is shown, within the plot.
void LayoutMarkers(MarkerGeometry* markers, std::size_t count, PlotArea plot, float scale, double firstFrame = -1.0);

// The first visible marker whose handle holds the point, or -1.
int HitMarkerHandle(const MarkerGeometry* markers, std::size_t count, float x, float y);

// Where a marker dragged to cursor x lands: the frame under the cursor,
// measured from the plot's left edge, limited to 0..frameCount.
std::int32_t DragPosition(float cursorX, float plotOrigin, float scale, std::uint64_t frameCount,
                          double firstFrame = 0.0);

}  // namespace tavrin
