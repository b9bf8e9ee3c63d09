#include "app/framework_gui_win.h"

#include <dwmapi.h>

#include <cstring>

#include "app/main_logic.h"
#include "app/resource_gui_win.h"

namespace tavrin {
namespace {

// GetDpiForMonitor from SHCore.dll, looked up once.
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
// uxtheme.dll ordinal 132: whether applications are shown dark.
using ShouldAppsUseDarkModeFn = BOOL(WINAPI*)();

struct PlatformEntries {
  bool dpiLookedUp = false;
  HMODULE shcore = nullptr;
  GetDpiForMonitorFn getDpiForMonitor = nullptr;
  bool themeLookedUp = false;
  HMODULE uxtheme = nullptr;
  ShouldAppsUseDarkModeFn shouldAppsUseDarkMode = nullptr;
};
PlatformEntries g_entries;

template <class Fn>
Fn LookUp(HMODULE module, const char* name) {
  FARPROC p = GetProcAddress(module, name);
  Fn fn = nullptr;
  static_assert(sizeof(fn) == sizeof(p));
  memcpy(&fn, &p, sizeof(fn));
  return fn;
}

void ScreenDpi(std::int32_t& dpiX, std::int32_t& dpiY) {
  HDC dc = GetDC(nullptr);
  dpiX = dc ? GetDeviceCaps(dc, LOGPIXELSX) : 96;
  dpiY = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(nullptr, dc);
  if (dpiX <= 0) dpiX = 96;
  if (dpiY <= 0) dpiY = 96;
}

HICON LoadScaledIcon(int metricX, int metricY, std::int32_t dpi) {
  const int cx = ScaleToDpi(GetSystemMetrics(metricX), dpi);
  const int cy = ScaleToDpi(GetSystemMetrics(metricY), dpi);
  return static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_TAVRIN), IMAGE_ICON, cx, cy, 0));
}

// The room a check box or radio button needs beside its caption (the box
// and the gap, with a pixel to spare), in 1/96 inch.
constexpr std::int32_t kCheckBoxRoom = 18;

// The width the caption of a label, check box or radio button needs with the
// control's font; 0 for other controls.
// The width the caption needs in `place`: a label with room for more than one
// line wraps its words instead, and needs no more while they fit its height.
std::int32_t CaptionWidth(const ControlSpec& row, std::int32_t dpiX, const PixelRect& place) {
  const DWORD type = row.style & BS_TYPEMASK;
  const bool box = lstrcmpiW(row.className, L"Button") == 0 && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX ||
                                                                 type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON);
  if (!row.caption || !row.caption[0] || (!box && lstrcmpiW(row.className, L"Static") != 0)) return 0;
  HDC dc = GetDC(row.hwnd);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(row.hwnd, WM_GETFONT, 0, 0)));
  RECT r = {};
  DrawTextW(dc, row.caption, -1, &r, DT_CALCRECT | DT_SINGLELINE);
  RECT wrapped = {0, 0, place.width, 0};
  const bool fitsWrapped = !box && r.bottom * 2 <= place.height &&
                           DrawTextW(dc, row.caption, -1, &wrapped, DT_CALCRECT | DT_WORDBREAK) <= place.height &&
                           wrapped.right <= place.width;
  SelectObject(dc, old);
  ReleaseDC(row.hwnd, dc);
  if (fitsWrapped) return 0;
  return r.right + (box ? ScaleToDpi(kCheckBoxRoom, dpiX) : 0);
}

CaptionAlign AlignOf(const ControlSpec& row) {
  if (lstrcmpiW(row.className, L"Static") != 0) return CaptionAlign::Left;
  const DWORD align = row.style & SS_TYPEMASK;
  return align == SS_RIGHT ? CaptionAlign::Right : align == SS_CENTER ? CaptionAlign::Centre : CaptionAlign::Left;
}

}  // namespace

bool CreateControls(ControlSpec* table, std::size_t count, HWND parent) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (std::size_t i = 0; i < count; ++i) {
    ControlSpec& row = table[i];
    row.hwnd = CreateWindowExW(row.exStyle, row.className, row.caption, row.style | WS_CHILD, 0, 0, 0, 0, parent,
                               nullptr, instance, nullptr);
    if (!row.hwnd) return false;
  }
  return true;
}

void LayoutControls(ControlSpec* table, std::size_t count, std::int32_t dpiX, std::int32_t dpiY) {
  int n = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (table[i].hwnd) ++n;
  HDWP batch = BeginDeferWindowPos(n);
  for (std::size_t i = 0; i < count; ++i) {
    const ControlSpec& row = table[i];
    if (!row.hwnd) continue;
    // A caption wider than its place (another font, another DPI) grows it.
    const PixelRect place = ScaleRectToDpi(row.x, row.y, row.width, row.height, dpiX, dpiY);
    const PixelRect r = GrowToFit(place, CaptionWidth(row, dpiX, place), AlignOf(row));
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if ((row.flags & ControlFlags::kHidden) == 0) flags |= SWP_SHOWWINDOW;
    if (batch) {
      batch = DeferWindowPos(batch, row.hwnd, nullptr, r.x, r.y, r.width, r.height, flags);
    } else {
      SetWindowPos(row.hwnd, nullptr, r.x, r.y, r.width, r.height, flags);
    }
  }
  if (batch) EndDeferWindowPos(batch);
}

void QueryDpi(HWND hwnd, std::int32_t& dpiX, std::int32_t& dpiY) {
  if (!g_entries.dpiLookedUp) {
    g_entries.dpiLookedUp = true;
    g_entries.shcore = LoadLibraryW(L"SHCore.dll");
    if (g_entries.shcore) g_entries.getDpiForMonitor = LookUp<GetDpiForMonitorFn>(g_entries.shcore, "GetDpiForMonitor");
  }
  if (g_entries.getDpiForMonitor) {
    HMONITOR monitor = MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY);
    UINT x = 0, y = 0;
    if (monitor && SUCCEEDED(g_entries.getDpiForMonitor(monitor, 0 /* effective DPI */, &x, &y)) && x > 0 &&
        y > 0) {
      dpiX = static_cast<std::int32_t>(x);
      dpiY = static_cast<std::int32_t>(y);
      return;
    }
  }
  ScreenDpi(dpiX, dpiY);
}

void ApplyFontsAndIcons(HWND hwnd, WindowFrame& frame) {
  LOGFONTW base = {};
  base.lfHeight = FontHeightForDpi(10, frame.dpiY);
  lstrcpynW(base.lfFaceName, L"Segoe UI", LF_FACESIZE);
  GdiFont baseFont(CreateFontIndirectW(&base));
  for (std::size_t i = 0; i < frame.count; ++i) {
    ControlSpec& row = frame.table[i];
    const bool bold = (row.flags & ControlFlags::kBold) != 0;
    const bool italic = (row.flags & ControlFlags::kItalic) != 0;
    GdiFont own;
    if (row.fontSize > 0 || bold || italic) {
      LOGFONTW lf = base;
      if (row.fontSize > 0) lf.lfHeight = FontHeightForDpi(row.fontSize, frame.dpiY);
      lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
      lf.lfItalic = italic ? TRUE : FALSE;
      own.reset(CreateFontIndirectW(&lf));
    }
    HFONT use = own ? own.get() : baseFont.get();
    if (row.hwnd) SendMessageW(row.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(use), TRUE);
    row.font = static_cast<GdiFont&&>(own);
  }
  frame.baseFont = static_cast<GdiFont&&>(baseFont);
  LayoutControls(frame.table, frame.count, frame.dpiX, frame.dpiY);  // the captions measured in their fonts

  IconHandle small(LoadScaledIcon(SM_CXSMICON, SM_CYSMICON, frame.dpiX));
  IconHandle large(LoadScaledIcon(SM_CXICON, SM_CYICON, frame.dpiX));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large.get()));
  frame.smallIcon = static_cast<IconHandle&&>(small);
  frame.largeIcon = static_cast<IconHandle&&>(large);
}

HBRUSH ControlColour(ControlSpec* table, std::size_t count, HWND control, HDC dc, bool& handled) {
  handled = false;
  const std::ptrdiff_t i = FindControl(table, count, control);
  if (i < 0) return nullptr;
  const ControlSpec& row = table[i];
  const bool ownBack = (row.flags & ControlFlags::kOwnBackground) != 0;
  const bool ownText = (row.flags & ControlFlags::kOwnTextColour) != 0;
  if (!ownBack && !ownText) return nullptr;
  handled = true;
  SetBkMode(dc, TRANSPARENT);
  if (ownText) SetTextColor(dc, row.textColour);
  if (ownBack) {
    SetDCBrushColor(dc, row.background);
    return static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
  }
  // Own text colour on the window's own background.
  return GetSysColorBrush(COLOR_BTNFACE);
}

void ApplyTitleBarMode(HWND hwnd) {
  if (!g_entries.themeLookedUp) {
    g_entries.themeLookedUp = true;
    g_entries.uxtheme = LoadLibraryW(L"uxtheme.dll");
    if (g_entries.uxtheme)
      g_entries.shouldAppsUseDarkMode =
          LookUp<ShouldAppsUseDarkModeFn>(g_entries.uxtheme, MAKEINTRESOURCEA(132));
  }
  BOOL dark = g_entries.shouldAppsUseDarkMode ? (g_entries.shouldAppsUseDarkMode() ? TRUE : FALSE) : FALSE;
  DwmSetWindowAttribute(hwnd, 20 /* DWMWA_USE_IMMERSIVE_DARK_MODE */, &dark, sizeof(dark));
}

std::ptrdiff_t FindControl(const ControlSpec* table, std::size_t count, HWND control) {
  if (!control) return -1;
  for (std::size_t i = 0; i < count; ++i)
    if (table[i].hwnd == control) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

SIZE FrameWindowSize(HWND hwnd, const WindowFrame& frame) {
  RECT r = {0, 0, ScaleToDpi(frame.clientWidth, frame.dpiX), ScaleToDpi(frame.clientHeight, frame.dpiY)};
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
  AdjustWindowRectEx(&r, style, GetMenu(hwnd) != nullptr ? TRUE : FALSE, exStyle);
  SIZE s = {r.right - r.left, r.bottom - r.top};
  return s;
}

void SizeWindowToFrame(HWND hwnd, const WindowFrame& frame) {
  const SIZE s = FrameWindowSize(hwnd, frame);
  SetWindowPos(hwnd, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool InitFrameWindow(HWND hwnd, WindowFrame& frame) {
  QueryDpi(hwnd, frame.dpiX, frame.dpiY);
  ApplyTitleBarMode(hwnd);
  if (!CreateControls(frame.table, frame.count, hwnd)) return false;
  SizeWindowToFrame(hwnd, frame);
  LayoutControls(frame.table, frame.count, frame.dpiX, frame.dpiY);
  ApplyFontsAndIcons(hwnd, frame);
  return true;
}

namespace {

BOOL CALLBACK ForwardToChild(HWND child, LPARAM param) {
  const MSG* m = reinterpret_cast<const MSG*>(param);
  SendMessageW(child, m->message, m->wParam, m->lParam);
  return TRUE;
}

}  // namespace

bool HandleFrameMessage(HWND hwnd, WindowFrame& frame, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_DPICHANGED: {
      frame.dpiX = LOWORD(wParam);
      frame.dpiY = HIWORD(wParam);
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      if (r)
        SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      LayoutControls(frame.table, frame.count, frame.dpiX, frame.dpiY);
      ApplyFontsAndIcons(hwnd, frame);
      MSG m = {};
      m.message = msg;
      m.wParam = wParam;
      m.lParam = lParam;
      EnumChildWindows(hwnd, ForwardToChild, reinterpret_cast<LPARAM>(&m));
      result = 0;
      return true;
    }
    case WM_GETMINMAXINFO: {
      MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
      if (frame.clientWidth == 0 || !info) return false;
      const SIZE s = FrameWindowSize(hwnd, frame);
      info->ptMinTrackSize.x = s.cx;
      info->ptMinTrackSize.y = s.cy;
      result = 0;
      return true;
    }
    case WM_SIZE:
      LayoutControls(frame.table, frame.count, frame.dpiX, frame.dpiY);
      result = 0;
      return true;
    case WM_SETTINGCHANGE:
      if (wParam == 0 && lParam != 0 && lstrcmpW(reinterpret_cast<const wchar_t*>(lParam), L"ImmersiveColorSet") == 0) {
        ApplyTitleBarMode(hwnd);
        result = 0;
        return true;
      }
      return false;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      bool handled = false;
      HBRUSH b = ControlColour(frame.table, frame.count, reinterpret_cast<HWND>(lParam),
                               reinterpret_cast<HDC>(wParam), handled);
      if (!handled) return false;
      result = reinterpret_cast<LRESULT>(b);
      return true;
    }
    default:
      return false;
  }
}

void ReleaseFrame(WindowFrame& frame) {
  for (std::size_t i = 0; i < frame.count; ++i) {
    frame.table[i].hwnd = nullptr;
    frame.table[i].font.reset();
  }
  frame.baseFont.reset();
  frame.smallIcon.reset();
  frame.largeIcon.reset();
}

}  // namespace tavrin
