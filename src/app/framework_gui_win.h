// The window framework shared by the application's top-level windows: control
// tables (ControlSpec), their creation, the DPI-scaled layout, fonts, control
// colours, window icons, the light or dark title bar and the fixed client
// size. Also the small owning wrappers for the platform handles the windows
// keep.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tavrin {

// --- Owning handles -------------------------------------------------------------

template <class H, class Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(H h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  H get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid(); }
  H release() {
    H h = h_;
    h_ = Traits::Invalid();
    return h;
  }
  void reset(H h = Traits::Invalid()) {
    if (h_ != Traits::Invalid()) Traits::Close(h_);
    h_ = h;
  }

 private:
  H h_ = Traits::Invalid();
};

struct FontTraits {
  static HFONT Invalid() { return nullptr; }
  static void Close(HFONT h) { DeleteObject(h); }
};
struct IconTraits {
  static HICON Invalid() { return nullptr; }
  static void Close(HICON h) { DestroyIcon(h); }
};
struct KernelHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
struct WindowTraits {
  static HWND Invalid() { return nullptr; }
  static void Close(HWND h) {
    if (IsWindow(h)) DestroyWindow(h);
  }
};
struct AccelTraits {
  static HACCEL Invalid() { return nullptr; }
  static void Close(HACCEL h) { DestroyAcceleratorTable(h); }
};

using GdiFont = UniqueHandle<HFONT, FontTraits>;
using IconHandle = UniqueHandle<HICON, IconTraits>;
using KernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using WindowHandle = UniqueHandle<HWND, WindowTraits>;
using AccelHandle = UniqueHandle<HACCEL, AccelTraits>;

// --- Control tables ----------------------------------------------------------------

namespace ControlFlags {
inline constexpr std::uint32_t kHidden = 0x01;
inline constexpr std::uint32_t kOwnBackground = 0x02;
inline constexpr std::uint32_t kOwnTextColour = 0x04;
inline constexpr std::uint32_t kBold = 0x08;
inline constexpr std::uint32_t kItalic = 0x10;
}  // namespace ControlFlags

// One row of a window's control table; positions in 1/96 inch.
struct ControlSpec {
  std::uint16_t x;
  std::uint16_t y;
  std::uint16_t width;
  std::uint16_t height;
  const wchar_t* className;
  const wchar_t* caption;
  DWORD style;
  DWORD exStyle;
  COLORREF background;
  COLORREF textColour;
  std::int32_t fontSize;  // points; 0 = the window's base font
  std::uint32_t flags;
  HWND hwnd;
  GdiFont font;  // only when it differs from the base font
};

// What every framework window keeps.
struct WindowFrame {
  ControlSpec* table = nullptr;
  std::size_t count = 0;
  std::int32_t dpiX = 96;
  std::int32_t dpiY = 96;
  std::uint16_t clientWidth = 0;   // 1/96 inch
  std::uint16_t clientHeight = 0;  // 1/96 inch
  GdiFont baseFont;
  IconHandle smallIcon;
  IconHandle largeIcon;
};

// Creates every control of the table as a child of parent (zero position and
// size, identifier 0, not yet visible). False when one cannot be created.
bool CreateControls(ControlSpec* table, std::size_t count, HWND parent);

// Positions every control in one deferred batch and shows those not hidden.
void LayoutControls(ControlSpec* table, std::size_t count, std::int32_t dpiX, std::int32_t dpiY);

// The effective DPI of the monitor nearest the window, or the screen's.
void QueryDpi(HWND hwnd, std::int32_t& dpiX, std::int32_t& dpiY);

// Base font, per-row fonts and the window icons for the frame's DPI.
void ApplyFontsAndIcons(HWND hwnd, WindowFrame& frame);

// The answer to a WM_CTLCOLOR* message: handled is false when the default
// handling should answer.
HBRUSH ControlColour(ControlSpec* table, std::size_t count, HWND control, HDC dc, bool& handled);

// Dark or light title bar following the system's app mode.
void ApplyTitleBarMode(HWND hwnd);

// Index of the row holding control, or -1.
std::ptrdiff_t FindControl(const ControlSpec* table, std::size_t count, HWND control);

// The window size whose client area is the frame's size at its DPI.
SIZE FrameWindowSize(HWND hwnd, const WindowFrame& frame);

// Sizes the window (without moving it) to the frame's client size.
void SizeWindowToFrame(HWND hwnd, const WindowFrame& frame);

// The creation steps every framework window shares: DPI, title bar,
// controls, size, layout, fonts and icons.
bool InitFrameWindow(HWND hwnd, WindowFrame& frame);

// Shared handling of WM_DPICHANGED, WM_GETMINMAXINFO, WM_SIZE,
// WM_SETTINGCHANGE and the WM_CTLCOLOR* messages. True when handled; the
// answer goes to result.
bool HandleFrameMessage(HWND hwnd, WindowFrame& frame, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Releases the controls' fonts and handles (after the window is destroyed).
void ReleaseFrame(WindowFrame& frame);

}  // namespace tavrin
