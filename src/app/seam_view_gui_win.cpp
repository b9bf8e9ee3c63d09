// The seam view: built again from the sample at every change of its markers
// or loop options (a few hundred frames), so it follows a marker live while
// it is dragged, stepped or typed. The sample's pitch, which sets the
// periods the seam error is measured over, is measured once per new frames.
#include "app/seam_view_gui_win.h"

#include <ole2.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <new>

#include "app/gdiplus_gui_win.h"
#include "app/waveform_view_gui_win.h"
#include "audio/pitch.h"
#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::int64_t kFewestHalf = 8;                // frames each side at the closest zoom
constexpr std::int64_t kMostHalf = kCardRate / 50;     // 20 ms each side at the widest
constexpr double kPointsFrom = 4.0;                    // pixels per frame from which frames are points
constexpr std::uint32_t kContinuationArgb = 0x50B41982;  // the waveform's colour, faint
constexpr std::uint32_t kSeamLineArgb = 0xFFF39100;

struct SeamState {
  HFONT font = nullptr;  // not owned
  const SampleData* sample = nullptr;
  double period = 0.0;
  std::int64_t half = kSeamHalfFrames;
  SeamView view;
  bool shown = false;
  bool loopOff = false;
};

SeamState* StateOf(HWND hwnd) { return reinterpret_cast<SeamState*>(GetWindowLongPtrW(hwnd, 0)); }

Gdiplus::Color SysColour(int index) {
  Gdiplus::Color c;
  c.SetFromCOLORREF(GetSysColor(index));
  return c;
}

void Update(HWND hwnd, SeamState& s) {
  s.shown = false;
  if (s.sample && !s.loopOff && BuildSeamView(*s.sample, s.half, s.period, s.view, s.shown) != kOk) s.shown = false;
  wchar_t text[64];
  SeamErrorText(s.shown, s.view.errorDb, text, 64, s.loopOff);
  SetWindowTextW(hwnd, text);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void MeasurePitch(SeamState& s) {
  s.period = 0.0;
  PitchEstimate pitch;
  if (s.sample && !s.sample->frames.empty() &&
      DetectPitch(s.sample->frames.data(), s.sample->frames.size(), kCardRate, pitch) == kOk && pitch.pitched)
    s.period = kCardRate / pitch.frequency;
}

// The frames [from, to) as lines, broken where a frame is NaN; each within
// `peak` of the centre.
void AddChain(Gdiplus::GraphicsPath& path, const std::vector<float>& frames, std::size_t from, std::size_t to,
              float left, float step, float centre, float amplitude, float peak) {
  std::vector<Gdiplus::PointF> points;
  if (to <= from || TryReserve(points, to - from) != kOk) return;  // drawing nothing beats failing
  const auto flush = [&] {
    if (points.size() >= 2) {
      path.StartFigure();
      path.AddLines(points.data(), static_cast<INT>(points.size()));
    }
    points.clear();
  };
  for (std::size_t k = from; k < to && k < frames.size(); ++k) {
    const float f = std::clamp(frames[k], -peak, peak);
    if (f != f) {  // past the sample's end
      flush();
      continue;
    }
    points.emplace_back(left + (static_cast<float>(k) + 0.5f) * step, centre - amplitude * f);
  }
  flush();
}

void Paint(HWND hwnd, SeamState& s, HDC target) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  const int w = rc.right, h = rc.bottom;
  if (w <= 4 || h <= 4) return;
  Gdiplus::Bitmap bitmap(w, h, PixelFormat32bppARGB);
  Gdiplus::Graphics g(&bitmap);
  if (g.GetLastStatus() != Gdiplus::Ok) return;
  g.SetPageUnit(Gdiplus::UnitPixel);
  HDC screen = GetDC(hwnd);
  HGDIOBJ old = SelectObject(screen, s.font ? s.font : GetStockObject(DEFAULT_GUI_FONT));
  Gdiplus::Font font(screen);
  TEXTMETRICW tm = {};
  GetTextMetricsW(screen, &tm);
  SelectObject(screen, old);
  ReleaseDC(hwnd, screen);

  const Gdiplus::Color text = SysColour(COLOR_BTNTEXT);
  Gdiplus::SolidBrush face(SysColour(COLOR_BTNFACE));
  Gdiplus::SolidBrush textBrush(text);
  g.FillRectangle(&face, 0, 0, w, h);
  Gdiplus::Pen border(SysColour(COLOR_3DSHADOW), 1.0f);
  g.DrawRectangle(&border, 0, 0, w - 1, h - 1);
  // A line of labels at the top, the plot below it.
  const float labelHeight = static_cast<float>(tm.tmHeight) + 2.0f;
  const float left = 1.0f, top = labelHeight + 1.0f, width = static_cast<float>(w - 2);
  const float height = static_cast<float>(h - 2) - labelHeight;
  const float centre = std::floor(top + height / 2.0f);
  Gdiplus::Pen thin(SysColour(COLOR_3DSHADOW), 1.0f);
  g.DrawLine(&thin, left, centre, left + width, centre);
  Gdiplus::StringFormat format;
  format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  // The frames shown fill the height: a seam late in a decay is as plain
  // as one at full level.
  float peak = 0.0f;
  if (s.shown)
    for (const std::vector<float>* f : {&s.view.played, &s.view.continuation})
      for (float x : *f) peak = std::fabs(x) > peak ? std::fabs(x) : peak;  // NaN compares false
  peak = std::clamp(peak / 0.9f, 0.001f, 1.0f);
  wchar_t span[48];
  std::swprintf(span, 48, peak >= 0.95f ? L"\u00B1%.1f ms" : peak > 0.1f ? L"\u00B1%.1f ms, \u00D7%.1f" : L"\u00B1%.1f ms, \u00D7%.0f",
                static_cast<double>(s.half) * 1000.0 / kCardRate, 1.0 / peak);
  if (!s.shown) {
    g.DrawString(span, -1, &font, Gdiplus::PointF(3.0f, 1.0f), &format, &textBrush);
  } else {
    const std::size_t n = s.view.played.size();
    const float step = width / static_cast<float>(n);
    const float amplitude = (height - 4.0f) / 2.0f / peak;
    const float seamX = std::floor(left + static_cast<float>(s.view.seam) * step);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    Gdiplus::GraphicsPath own, played;
    AddChain(own, s.view.continuation, s.view.seam > 0 ? s.view.seam - 1 : 0, n, left, step, centre, amplitude, peak);
    AddChain(played, s.view.played, 0, n, left, step, centre, amplitude, peak);
    Gdiplus::Pen faint(Gdiplus::Color(kContinuationArgb), 2.0f);
    Gdiplus::Pen wave(Gdiplus::Color(kWaveformArgb), 1.5f);
    g.DrawPath(&faint, &own);
    g.DrawPath(&wave, &played);
    g.SetSmoothingMode(Gdiplus::SmoothingModeNone);
    if (step >= kPointsFrom) {
      Gdiplus::SolidBrush dot{Gdiplus::Color(kWaveformArgb)};
      for (std::size_t k = 0; k < n; ++k) {
        const float y = centre - amplitude * std::clamp(s.view.played[k], -peak, peak);
        g.FillRectangle(&dot, left + (static_cast<float>(k) + 0.5f) * step - 1.5f, y - 1.5f, 4.0f, 4.0f);
      }
    }
    Gdiplus::Pen seamLine(Gdiplus::Color(kSeamLineArgb), 1.0f);
    seamLine.SetDashStyle(Gdiplus::DashStyleDash);
    g.DrawLine(&seamLine, seamX, top, seamX, top + height);
    // "End" left of the seam, "Loop" right of it, the span at the left edge.
    Gdiplus::StringFormat right;
    right.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
    right.SetAlignment(Gdiplus::StringAlignmentFar);
    g.DrawString(L"End", -1, &font, Gdiplus::RectF(left, 1.0f, seamX - left - 3.0f, labelHeight), &right, &textBrush);
    g.DrawString(L"Loop", -1, &font, Gdiplus::PointF(seamX + 3.0f, 1.0f), &format, &textBrush);
    g.DrawString(span, -1, &font, Gdiplus::PointF(3.0f, 1.0f), &format, &textBrush);
  }
  Gdiplus::Graphics out(target);
  out.DrawImage(&bitmap, 0, 0, w, h);
}

LRESULT CALLBACK SeamViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  SeamState* s = StateOf(hwnd);
  if (!s && msg != WM_NCCREATE) return DefWindowProcW(hwnd, msg, wParam, lParam);
  switch (msg) {
    case WM_NCCREATE: {
      SeamState* n = new (std::nothrow) SeamState;
      if (!n) return FALSE;
      SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(n));
      break;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, 0, 0);
      delete s;
      return 0;
    case kSeamSetSample:
      s->sample = reinterpret_cast<const SampleData*>(wParam);
      s->loopOff = (lParam & kSeamLoopOff) != 0;
      if ((lParam & kSeamNewFrames) != 0 || !s->sample) MeasurePitch(*s);
      Update(hwnd, *s);
      return 0;
    case kSeamGetView:
      return s->shown ? reinterpret_cast<LRESULT>(&s->view) : 0;
    case WM_MOUSEWHEEL: {
      const double notches = static_cast<double>(GET_WHEEL_DELTA_WPARAM(wParam)) / 120.0;
      const double half = static_cast<double>(s->half) / std::pow(1.5, notches);
      s->half = std::clamp(static_cast<std::int64_t>(std::lround(half)), kFewestHalf, kMostHalf);
      Update(hwnd, *s);
      return 0;
    }
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wParam);
      if (lParam) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(s->font);
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (dc) Paint(hwnd, *s, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SIZE:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

void SeamErrorText(bool shown, double errorDb, wchar_t* out, std::size_t capacity, bool loopOff) {
  if (loopOff) {
    std::swprintf(out, capacity, L"The loop is off: no seam is played");
  } else if (!shown) {
    std::swprintf(out, capacity, L"No seam to show: Loop must lie before End");
  } else if (std::isnan(errorDb)) {
    std::swprintf(out, capacity, L"Seam error: not measurable (silence at End)");
  } else {
    std::swprintf(out, capacity, L"Seam error %.1f dB", errorDb);
  }
}

bool RegisterSeamView() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = SeamViewProc;
  wc.cbWndExtra = static_cast<int>(sizeof(LONG_PTR));
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kSeamViewClass;
  registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return registered;
}

}  // namespace tavrin
