// The waveform view control ("ZtWaveformView"): one sample's frames as a
// waveform, up to eight labelled markers with grab handles, a play cursor
// and a time ruler; the wheel scrolls, Ctrl+wheel zooms around the cursor,
// and its own horizontal scroll bar moves through a zoomed sample. It
// reports a dragged marker to its parent and lets it decide.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tavrin {

// Messages to the view.
inline constexpr UINT kViewSetFrames = WM_USER + 1;        // wParam = const float*, lParam = count
inline constexpr UINT kViewSetPlayPosition = WM_USER + 2;  // wParam = frame index, (WPARAM)-1 for none
inline constexpr UINT kViewAddMarker = WM_USER + 5;        // wParam = label; answers the index or 65535
inline constexpr UINT kViewSetMarker = WM_USER + 10;       // wParam = index, lParam = position (-1 hides)
// From the view to its parent, sent: wParam = const ViewMarkerMoved*, lParam = the view.
inline constexpr UINT kViewMarkerMoved = WM_USER + 11;
// From the view to its parent, sent while the cursor moves over the plot:
// wParam = the frame under it, (WPARAM)-1 when it left the view.
inline constexpr UINT kViewCursorMoved = WM_USER + 12;
// wParam = WaveView* to fill with what the view shows (its width is the
// plot's); kViewSetView: wParam = const WaveView* to show, kept within the
// frames and the zoom limits ("Zoom to Loop", "Zoom to Fit").
inline constexpr UINT kViewGetView = WM_USER + 20;
inline constexpr UINT kViewSetView = WM_USER + 21;

inline constexpr std::uint16_t kNoMarker = 65535;

struct ViewMarkerMoved {
  std::int32_t position;
  std::uint16_t marker;
  std::uint8_t dragging;  // 1 while the button is held, 0 for the final report
};

// The waveform's colour.
inline constexpr std::uint32_t kWaveformArgb = 0xFFB41982;  // ARGB(255, 180, 25, 130)
inline constexpr std::uint32_t kPlayCursorArgb = 0xFFF39100;  // ARGB(255, 243, 145, 0)

}  // namespace tavrin
