// The waveform view. Every paint draws into an off-screen bitmap that goes to
// the window in one operation; the path through the frames is rebuilt only
// when the frames, the size or the font change. The geometry (path, marker
// layout, hit test, drag position) is the editor core's.
#include "app/waveform_view_gui_win.h"

#include <ole2.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "app/app_gui_win.h"
#include "app/gdiplus_gui_win.h"
#include "editor/waveform_geometry.h"

namespace tavrin {
namespace {

constexpr std::size_t kMaxMarkers = 8;

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
  std::vector<PathPoint> points;
  std::unique_ptr<Gdiplus::GraphicsPath> path;
  float plotOrigin = 0.0f;
  float scale = 1.0f;
};

ViewState* StateOf(HWND hwnd) { return reinterpret_cast<ViewState*>(GetWindowLongPtrW(hwnd, 0)); }

Gdiplus::Color SysColour(int index) {
  Gdiplus::Color c;
  c.SetFromCOLORREF(GetSysColor(index));
  return c;
}

void Rebuild(ViewState& v, const PlotArea& plot) {
  v.plotOrigin = plot.left;
  v.scale = PlotScale(plot, v.frames ? v.count : 0);
  v.dirty = false;
  // GDI+ objects come from its own allocator, which answers nullptr when it fails.
  v.path.reset(new Gdiplus::GraphicsPath(Gdiplus::FillModeAlternate));
  if (!v.path || !v.frames || v.count == 0) return;
  if (BuildWaveformPath(v.frames, v.count, plot, v.points) != kOk || v.points.size() < 2) return;
  static_assert(sizeof(PathPoint) == sizeof(Gdiplus::PointF));
  v.path->AddLines(reinterpret_cast<const Gdiplus::PointF*>(v.points.data()), static_cast<INT>(v.points.size()));
}

void Paint(HWND hwnd, ViewState& v, HDC target) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int w = rc.right - rc.left;
  int h = rc.bottom - rc.top;
  if (w <= 2 || h <= 2) return;
  Gdiplus::Bitmap bitmap(w, h, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&bitmap);
  if (g.GetLastStatus() != Gdiplus::Ok) return;
  if (h % 2 == 0) --h;  // the plot gets a middle row
  const PlotArea plot = PlotOfClient(0.0f, 0.0f, static_cast<float>(w), static_cast<float>(rc.bottom - rc.top));
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
  g.FillRectangle(&faceBrush, 0, 0, w, rc.bottom - rc.top);
  Gdiplus::Pen border(SysColour(COLOR_3DSHADOW), 1.0f);
  g.DrawRectangle(&border, 0, 0, w - 1, h - 1);
  g.SetClip(Gdiplus::RectF(plot.left, plot.top, plot.width, plot.height));
  Gdiplus::Pen thin(text, 1.0f);
  const float centre = static_cast<float>((h - 1) / 2);
  g.DrawLine(&thin, plot.left, centre, plot.left + plot.width, centre);

  if (v.frames && v.count != 0) {
    Gdiplus::Pen wave(Gdiplus::Color(kWaveformArgb), 1.0f);
    if (v.path) g.DrawPath(&wave, v.path.get());
    g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
    for (std::size_t i = 0; i < v.markerCount; ++i) {
      Gdiplus::RectF box;
      const wchar_t one[2] = {v.labels[i], 0};
      g.MeasureString(one, 1, &label, Gdiplus::PointF(0.0f, 0.0f), &format, &box);
      v.markers[i].labelSize = std::max(box.Width, box.Height);
    }
    LayoutMarkers(v.markers, v.markerCount, plot, v.scale);
    Gdiplus::Pen line(text, 2.0f);
    for (std::size_t i = 0; i < v.markerCount; ++i) {
      const MarkerGeometry& m = v.markers[i];
      if (m.position < 0) continue;
      g.DrawLine(&line, m.lineX, plot.top, m.lineX, plot.top + plot.height);
      const Gdiplus::RectF handle(m.handleX, plot.top, m.handleSize, m.handleSize);
      g.FillRectangle(&faceBrush, handle);
      g.DrawRectangle(&thin, handle);
      const wchar_t one[2] = {v.labels[i], 0};
      g.DrawString(one, 1, &label, handle, &format, &textBrush);
    }
    if (v.playPosition >= 0) {
      Gdiplus::Pen cursor(Gdiplus::Color(kPlayCursorArgb), 2.0f);
      const float x = v.scale * static_cast<float>(v.playPosition) + v.plotOrigin;
      g.DrawLine(&cursor, x, plot.top, x, plot.top + plot.height);
    }
  }
  Gdiplus::Graphics out(target);
  out.DrawImage(&bitmap, 0, 0, w, rc.bottom - rc.top);
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

void EndDrag(HWND hwnd, ViewState& v) {
  const int marker = v.dragged;
  v.dragged = -1;
  if (GetCapture() == hwnd) ReleaseCapture();
  if (marker >= 0) Notify(hwnd, v, marker, false);
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
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, 0, 0);
      delete v;
      return 0;
    case kViewSetFrames:
      v->frames = reinterpret_cast<const float*>(wParam);
      v->count = v->frames ? static_cast<std::uint64_t>(lParam) : 0;
      v->dirty = true;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case kViewSetPlayPosition: {
      const auto p = static_cast<std::int32_t>(wParam);
      if (p != v->playPosition) {
        v->playPosition = p < 0 ? -1 : p;
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
    case WM_SETFONT:
      v->font = reinterpret_cast<HFONT>(wParam);
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
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);
      const int hit = HandleAt(*v, lParam);
      if (hit >= 0) {
        v->dragged = hit;
        SetCapture(hwnd);
      }
      return 0;
    }
    case WM_MOUSEMOVE:
      if (v->dragged >= 0) {
        MarkerGeometry& m = v->markers[v->dragged];
        const std::int32_t p =
            DragPosition(static_cast<float>(static_cast<short>(LOWORD(lParam))), v->plotOrigin, v->scale, v->frames ? v->count : 0);
        if (p != m.position) {
          m.position = p;
          InvalidateRect(hwnd, nullptr, FALSE);
        }
        Notify(hwnd, *v, v->dragged, true);
      } else if (!v->tracking && HandleAt(*v, lParam) >= 0) {
        TRACKMOUSEEVENT t = {sizeof(t), TME_LEAVE, hwnd, 0};
        v->tracking = TrackMouseEvent(&t) != FALSE;
      }
      return 0;
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
