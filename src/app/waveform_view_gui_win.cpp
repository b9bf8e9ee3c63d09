// The waveform view. Every paint draws into an off-screen bitmap that goes to
// the window in one operation. The frames' min/max pyramid is built when the
// frames change; the path through the visible columns is rebuilt from it only
// when the frames, the zoom, the size or the font change, never for a marker
// move or a cursor tick. The geometry (zoom, columns, marker layout, hit
// test, drag position, ruler) is the editor core's.
#include "app/waveform_view_gui_win.h"

#include <ole2.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "app/app_gui_win.h"
#include "app/gdiplus_gui_win.h"
#include "base/alloc.h"
#include "editor/waveform_geometry.h"
#include "editor/waveform_pyramid.h"
#include "editor/waveform_zoom.h"

namespace tavrin {
namespace {

constexpr std::size_t kMaxMarkers = 8;
// From this many pixels per frame on, each frame is drawn as a point too.
constexpr double kPointsFrom = 4.0;
constexpr double kLabelSpacing = 64.0;  // pixels between ruler labels, at least

struct ViewState {
  HFONT font = nullptr;  // not owned
  const float* frames = nullptr;
  std::uint64_t count = 0;
  std::int32_t playPosition = -1;
  MarkerGeometry markers[kMaxMarkers];
  wchar_t labels[kMaxMarkers] = {};
  std::size_t markerCount = 0;
  int dragged = -1;
  bool dirty = true;
  bool tracking = false;
  MinMaxPyramid pyramid;
  WaveView view;
  int rulerHeight = 16;
  std::vector<MinMax> columns;
  std::vector<PathPoint> points;
  std::vector<PathPoint> framePoints;  // one per frame, at several pixels per frame
  std::unique_ptr<Gdiplus::GraphicsPath> path;
};

ViewState* StateOf(HWND hwnd) { return reinterpret_cast<ViewState*>(GetWindowLongPtrW(hwnd, 0)); }

Gdiplus::Color SysColour(int index) {
  Gdiplus::Color c;
  c.SetFromCOLORREF(GetSysColor(index));
  return c;
}

// The plot: the client area above the ruler, one pixel inset.
PlotArea PlotOf(HWND hwnd, const ViewState& v) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int h = std::max(3, static_cast<int>(rc.bottom) - v.rulerHeight);
  return PlotOfClient(0.0f, 0.0f, static_cast<float>(rc.right), static_cast<float>(h));
}

void UpdateScrollBar(HWND hwnd, const ViewState& v) {
  const ScrollBarState bar = ScrollBarOf(v.view);
  SCROLLINFO si = {sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, 0, std::max(0, bar.max - 1),
                   static_cast<UINT>(bar.page), bar.position, 0};
  SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
}

// Shows `view` (kept within the frames and the zoom limits).
void SetView(HWND hwnd, ViewState& v, const WaveView& view) {
  v.view = LimitView(view);
  v.dirty = true;
  UpdateScrollBar(hwnd, v);
  InvalidateRect(hwnd, nullptr, FALSE);
}

// The plot's width into the view: a new size keeps the zoom and first frame.
void SyncWidth(HWND hwnd, ViewState& v) {
  const double width = std::max(1.0, static_cast<double>(PlotOf(hwnd, v).width));
  if (width == v.view.width) return;
  WaveView w = v.view;
  w.width = width;
  if (v.count == 0) {
    v.view.width = width;
    return;
  }
  SetView(hwnd, v, w);
}

void MeasureRuler(HWND hwnd, ViewState& v) {
  HDC dc = GetDC(hwnd);
  HGDIOBJ old = SelectObject(dc, v.font ? v.font : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW tm = {};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  v.rulerHeight = static_cast<int>(tm.tmHeight) + 5;
}

float YOf(const PlotArea& plot, float frame) {
  const float centre = plot.top + (plot.height - 1.0f) * 0.5f;
  const float x = frame != frame ? 0.0f : std::clamp(-frame, -1.0f, 1.0f);
  return plot.height * 0.5f * x + centre;
}

// The path through what the view shows: per pixel column its smallest and
// largest frame from the pyramid, or, at several pixels per frame, a line
// through the frames themselves.
void Rebuild(ViewState& v, const PlotArea& plot) {
  v.dirty = false;
  v.points.clear();
  v.framePoints.clear();
  v.path.reset(new Gdiplus::GraphicsPath(Gdiplus::FillModeAlternate));
  if (!v.path || !v.frames || v.count == 0) return;
  const WaveView& w = v.view;
  if (w.framesPerPixel < 1.0) {
    const auto first = static_cast<std::uint64_t>(std::max(0.0, std::floor(w.firstFrame)));
    const auto last = std::min(v.count - 1, static_cast<std::uint64_t>(std::ceil(w.firstFrame + w.VisibleFrames())));
    if (last < first || TryReserve(v.points, static_cast<std::size_t>(last - first + 1)) != kOk) return;
    for (std::uint64_t i = first; i <= last; ++i)
      v.points.push_back({plot.left + static_cast<float>(w.FrameToX(static_cast<double>(i))), YOf(plot, v.frames[i])});
    if (1.0 / w.framesPerPixel >= kPointsFrom) v.framePoints = v.points;
  } else {
    const auto n = static_cast<std::size_t>(std::ceil(plot.width));
    if (TryResize(v.columns, n) != kOk || TryReserve(v.points, 2 * n) != kOk) return;
    v.pyramid.Columns(v.frames, w.firstFrame, w.framesPerPixel, n, v.columns.data());
    for (std::size_t k = 0; k < n; ++k) {
      const MinMax& m = v.columns[k];
      if (m.lo > m.hi) break;  // past the frames
      const float x = plot.left + static_cast<float>(k);
      const float top = YOf(plot, m.hi), bottom = YOf(plot, m.lo);
      v.points.push_back({x, top});
      if (bottom - top > 0.5f) v.points.push_back({x, bottom});
    }
  }
  if (v.points.size() < 2) return;
  static_assert(sizeof(PathPoint) == sizeof(Gdiplus::PointF));
  v.path->AddLines(reinterpret_cast<const Gdiplus::PointF*>(v.points.data()), static_cast<INT>(v.points.size()));
}

void DrawRuler(Gdiplus::Graphics& g, const ViewState& v, const PlotArea& plot, int w, int h, Gdiplus::Font& font) {
  const float top = static_cast<float>(h - v.rulerHeight);
  Gdiplus::SolidBrush textBrush(SysColour(COLOR_BTNTEXT));
  Gdiplus::Pen tick(SysColour(COLOR_3DSHADOW), 1.0f);
  g.DrawLine(&tick, 0.0f, top, static_cast<float>(w), top);
  std::vector<RulerTick> ticks;
  if (!v.frames || v.count == 0) return;
  if (BuildTimeRuler(v.view, kLabelSpacing, ticks) != kOk) return;
  Gdiplus::StringFormat format;
  format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  for (const RulerTick& t : ticks) {
    const float x = std::floor(plot.left + static_cast<float>(t.x)) + 0.5f;
    g.DrawLine(&tick, x, top, x, top + (t.major ? 5.0f : 2.0f));
    if (!t.major) continue;
    wchar_t text[24] = {};
    const Utf8View label = t.label.view();
    std::size_t n = 0;
    for (; n < label.size() && n < 23; ++n) text[n] = static_cast<wchar_t>(label.data()[n]);  // ASCII
    Gdiplus::RectF box;
    g.MeasureString(text, static_cast<INT>(n), &font, Gdiplus::PointF(0.0f, 0.0f), &format, &box);
    if (x + 1.0f + box.Width > static_cast<float>(w - 1)) continue;  // a label cut at the edge is left out
    g.DrawString(text, static_cast<INT>(n), &font, Gdiplus::PointF(x + 1.0f, top + 1.0f), &format, &textBrush);
  }
}

void Paint(HWND hwnd, ViewState& v, HDC target) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  if (w <= 2 || h <= v.rulerHeight + 3) return;
  Gdiplus::Bitmap bitmap(w, h, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&bitmap);
  if (g.GetLastStatus() != Gdiplus::Ok) return;
  SyncWidth(hwnd, v);
  const PlotArea plot = PlotOf(hwnd, v);
  g.SetPageUnit(Gdiplus::UnitPixel);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::StringFormat format;
  format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  format.SetAlignment(Gdiplus::StringAlignmentCenter);
  format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  HFONT font = v.font ? v.font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HDC screen = GetDC(hwnd);
  HGDIOBJ old = SelectObject(screen, font);
  Gdiplus::Font label(screen);
  SelectObject(screen, old);
  ReleaseDC(hwnd, screen);

  if (v.dirty) Rebuild(v, plot);

  const Gdiplus::Color face = SysColour(COLOR_BTNFACE);
  const Gdiplus::Color text = SysColour(COLOR_BTNTEXT);
  Gdiplus::SolidBrush faceBrush(face);
  Gdiplus::SolidBrush textBrush(text);
  g.FillRectangle(&faceBrush, 0, 0, w, h);
  Gdiplus::Pen border(SysColour(COLOR_3DSHADOW), 1.0f);
  g.DrawRectangle(&border, 0, 0, w - 1, h - 1);
  g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
  DrawRuler(g, v, plot, w, h, label);
  g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  g.SetClip(Gdiplus::RectF(plot.left, plot.top, plot.width, plot.height));
  Gdiplus::Pen thin(text, 1.0f);
  const float centre = std::floor(plot.top + (plot.height - 1.0f) * 0.5f);
  g.DrawLine(&thin, plot.left, centre, plot.left + plot.width, centre);

  if (v.frames && v.count != 0) {
    Gdiplus::Pen wave(Gdiplus::Color(kWaveformArgb), 1.0f);
    if (v.path) g.DrawPath(&wave, v.path.get());
    g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
    Gdiplus::SolidBrush dot{Gdiplus::Color(kWaveformArgb)};
    for (const PathPoint& p : v.framePoints) g.FillRectangle(&dot, p.x - 1.5f, p.y - 1.5f, 4.0f, 4.0f);
    // The marker lines run on through the ruler.
    g.SetClip(Gdiplus::RectF(plot.left, plot.top, plot.width, static_cast<float>(h - 2) - plot.top));
    for (std::size_t i = 0; i < v.markerCount; ++i) {
      Gdiplus::RectF box;
      const wchar_t one[2] = {v.labels[i], 0};
      g.MeasureString(one, 1, &label, Gdiplus::PointF(0.0f, 0.0f), &format, &box);
      v.markers[i].labelSize = std::max(box.Width, box.Height);
    }
    const float scale = static_cast<float>(1.0 / v.view.framesPerPixel);
    LayoutMarkers(v.markers, v.markerCount, plot, scale, v.view.firstFrame);
    Gdiplus::Pen line(text, 2.0f);
    for (std::size_t i = 0; i < v.markerCount; ++i) {
      const MarkerGeometry& m = v.markers[i];
      if (!m.shown) continue;
      g.DrawLine(&line, m.lineX, plot.top, m.lineX, static_cast<float>(h - 2));
      const Gdiplus::RectF handle(m.handleX, plot.top, m.handleSize, m.handleSize);
      g.FillRectangle(&faceBrush, handle);
      g.DrawRectangle(&thin, handle);
      const wchar_t one[2] = {v.labels[i], 0};
      g.DrawString(one, 1, &label, handle, &format, &textBrush);
    }
    if (v.playPosition >= 0) {
      Gdiplus::Pen cursor(Gdiplus::Color(kPlayCursorArgb), 2.0f);
      const float x = plot.left + static_cast<float>(v.view.FrameToX(v.playPosition));
      g.DrawLine(&cursor, x, plot.top, x, plot.top + plot.height);
    }
  }
  Gdiplus::Graphics out(target);
  out.DrawImage(&bitmap, 0, 0, w, h);
}

int HandleAt(const ViewState& v, LPARAM lParam) {
  if (!v.frames || v.count == 0) return -1;
  return HitMarkerHandle(v.markers, v.markerCount, static_cast<float>(static_cast<short>(LOWORD(lParam))),
                         static_cast<float>(static_cast<short>(HIWORD(lParam))));
}

void Notify(HWND hwnd, const ViewState& v, int marker, bool dragging) {
  ViewMarkerMoved record = {v.markers[marker].position, static_cast<std::uint16_t>(marker),
                            static_cast<std::uint8_t>(dragging ? 1 : 0)};
  HWND parent = GetParent(hwnd);
  if (parent) SendMessageW(parent, kViewMarkerMoved, reinterpret_cast<WPARAM>(&record), reinterpret_cast<LPARAM>(hwnd));
}

void NotifyCursor(HWND hwnd, std::int64_t frame) {
  HWND parent = GetParent(hwnd);
  if (parent) SendMessageW(parent, kViewCursorMoved, static_cast<WPARAM>(frame), reinterpret_cast<LPARAM>(hwnd));
}

void EndDrag(HWND hwnd, ViewState& v) {
  const int marker = v.dragged;
  v.dragged = -1;
  if (GetCapture() == hwnd) ReleaseCapture();
  if (marker >= 0) Notify(hwnd, v, marker, false);
}

// A marker dragged to client x; past either edge of a zoomed view the view
// follows it.
void DragTo(HWND hwnd, ViewState& v, int x) {
  const PlotArea plot = PlotOf(hwnd, v);
  const float right = plot.left + plot.width;
  const float fx = static_cast<float>(x);
  if (fx < plot.left || fx > right) {
    WaveView w = v.view;
    w.firstFrame += (fx < plot.left ? fx - plot.left : fx - right) * w.framesPerPixel;
    SetView(hwnd, v, w);
  }
  MarkerGeometry& m = v.markers[v.dragged];
  const std::int32_t p = DragPosition(std::clamp(fx, plot.left, right), plot.left,
                                      static_cast<float>(1.0 / v.view.framesPerPixel), v.frames ? v.count : 0,
                                      v.view.firstFrame);
  if (p != m.position) {
    m.position = p;
    InvalidateRect(hwnd, nullptr, FALSE);
  }
  Notify(hwnd, v, v.dragged, true);
}

void Scroll(HWND hwnd, ViewState& v, WORD code) {
  SCROLLINFO si = {};
  si.cbSize = sizeof(si);
  si.fMask = SIF_TRACKPOS;
  GetScrollInfo(hwnd, SB_HORZ, &si);
  const double visible = v.view.VisibleFrames();
  const double first = v.view.firstFrame;
  double to = first;
  switch (code) {
    case SB_LINELEFT: to = first - visible / 20.0; break;
    case SB_LINERIGHT: to = first + visible / 20.0; break;
    case SB_PAGELEFT: to = first - visible; break;
    case SB_PAGERIGHT: to = first + visible; break;
    case SB_LEFT: to = 0.0; break;
    case SB_RIGHT: to = static_cast<double>(v.count); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: to = static_cast<double>(si.nTrackPos); break;
    default: return;
  }
  WaveView w = v.view;
  w.firstFrame = to;
  SetView(hwnd, v, w);
}

}  // namespace

LRESULT CALLBACK WaveformViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  ViewState* v = StateOf(hwnd);
  if (!v && msg != WM_NCCREATE) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_NCCREATE: {
      ViewState* s = new (std::nothrow) ViewState;
      if (!s) return FALSE;
      s->font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
      SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(s));
      break;
    }
    case WM_CREATE:
      MeasureRuler(hwnd, *v);
      UpdateScrollBar(hwnd, *v);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, 0, 0);
      delete v;
      return 0;
    case kViewSetFrames: {
      const auto* frames = reinterpret_cast<const float*>(wParam);
      const std::uint64_t count = frames ? static_cast<std::uint64_t>(lParam) : 0;
      // Frames of the length last shown (the same sample after an edit of
      // its frames) keep the zoom; the editor fits a sample newly chosen.
      const bool keep = count != 0 && count == v->view.frameCount;
      v->frames = frames;
      v->count = count;
      // Without memory for the levels, columns read the frames themselves.
      if (v->pyramid.Build(frames, count) != kOk) v->pyramid.Clear();
      v->dragged = -1;
      const double width = std::max(1.0, static_cast<double>(PlotOf(hwnd, *v).width));
      if (count == 0) {  // none: the zoom waits for the frames to come back
        v->dirty = true;
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
      }
      WaveView w = keep ? v->view : FitView(count, width);
      w.width = width;
      SetView(hwnd, *v, w);
      return 0;
    }
    case kViewSetPlayPosition: {
      const auto p = static_cast<std::int32_t>(wParam);
      if (p != v->playPosition) {
        v->playPosition = p < 0 ? -1 : p;
        const WaveView follow = FollowPlay(v->view, v->playPosition);
        if (follow.firstFrame != v->view.firstFrame) SetView(hwnd, *v, follow);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case kViewAddMarker:
      if (v->markerCount >= kMaxMarkers) return kNoMarker;
      v->labels[v->markerCount] = static_cast<wchar_t>(LOWORD(wParam));
      v->markers[v->markerCount] = MarkerGeometry{};
      InvalidateRect(hwnd, nullptr, FALSE);
      return static_cast<LRESULT>(v->markerCount++);
    case kViewSetMarker: {
      const std::size_t i = LOWORD(wParam);
      const auto p = static_cast<std::int32_t>(lParam);
      if (i < v->markerCount && v->markers[i].position != p) {
        v->markers[i].position = p;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    }
    case kViewSetView:
      SyncWidth(hwnd, *v);
      if (wParam && v->count != 0) {
        WaveView w = *reinterpret_cast<const WaveView*>(wParam);
        w.frameCount = v->count;
        w.width = v->view.width;
        SetView(hwnd, *v, w);
      }
      return 0;
    case kViewGetView:
      SyncWidth(hwnd, *v);
      if (wParam) *reinterpret_cast<WaveView*>(wParam) = v->view;
      return 1;
    case WM_SETFONT:
      v->font = reinterpret_cast<HFONT>(wParam);
      MeasureRuler(hwnd, *v);
      v->dirty = true;
      if (lParam) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(v->font);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (dc) Paint(hwnd, *v, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SIZE:
    case WM_DPICHANGED:
      v->dirty = true;
      SyncWidth(hwnd, *v);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_HSCROLL:
      Scroll(hwnd, *v, LOWORD(wParam));
      return 0;
    case WM_MOUSEWHEEL: {
      POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      RECT r;
      // With the focus here and the cursor elsewhere, the parent hands it on.
      if (GetWindowRect(hwnd, &r) && !PtInRect(&r, pt)) break;
      SyncWidth(hwnd, *v);
      const double notches = static_cast<double>(GET_WHEEL_DELTA_WPARAM(wParam)) / kWheelNotch;
      ScreenToClient(hwnd, &pt);
      const double x = std::clamp(static_cast<double>(pt.x) - PlotOf(hwnd, *v).left, 0.0, v->view.width);
      SetView(hwnd, *v, (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL) ? ZoomAround(v->view, x, notches)
                                                                   : ScrollByWheel(v->view, notches));
      return 0;
    }
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int hit = HandleAt(*v, lParam);
      if (hit >= 0) {
        v->dragged = hit;
        SetCapture(hwnd);
      }
      return 0;
    }
    case WM_MOUSEMOVE: {
      const int x = static_cast<short>(LOWORD(lParam));
      if (v->dragged >= 0) DragTo(hwnd, *v, x);
      if (!v->tracking) {
        TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd, 0};
        v->tracking = TrackMouseEvent(&t) != FALSE;
      }
      if (v->frames && v->count != 0)
        NotifyCursor(hwnd, FrameUnder(v->view, static_cast<double>(x) - PlotOf(hwnd, *v).left));
      return 0;
    }
    case WM_SETCURSOR: {
      if (LOWORD(lParam) != HTCLIENT) break;
      POINT pt;
      GetCursorPos(&pt);
      ScreenToClient(hwnd, &pt);
      const bool hand = v->dragged >= 0 || HandleAt(*v, MAKELPARAM(pt.x, pt.y)) >= 0;
      SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
      return TRUE;
    }
    case WM_MOUSELEAVE:
      v->tracking = false;
      NotifyCursor(hwnd, -1);
      return 0;
    case WM_LBUTTONUP:
      if (v->dragged >= 0) EndDrag(hwnd, *v);
      return 0;
    case WM_CAPTURECHANGED:
      if (v->dragged >= 0 && reinterpret_cast<HWND>(lParam) != hwnd) EndDrag(hwnd, *v);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace tavrin
