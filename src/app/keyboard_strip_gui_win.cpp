// The keyboard strip: drawing, scrolling, and the mouse and keys handed to
// the editor's rules (the strip keeps no data of its own but the scroll,
// the octave and what the mouse is doing).
#include "app/keyboard_strip_gui_win.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "app/framework_gui_win.h"
#include "app/sound_editor_gui_win.h"
#include "editor/editor_tools.h"

namespace tavrin {
namespace {

constexpr int kKeyUnits = 8;  // a note's width in 1/96 inch
constexpr int kEdgeGrab = 4;   // pixels either side of a zone's right edge
constexpr COLORREF kZoneColours[8] = {RGB(230, 120, 120), RGB(120, 180, 230), RGB(140, 210, 130), RGB(230, 190, 90),
                                      RGB(190, 140, 220), RGB(100, 200, 190), RGB(240, 150, 200), RGB(170, 170, 110)};
// The computer keyboard's two rows: semitones from the row's C.
constexpr char kLowerRow[] = "ZSXDCVGBHNJM";
constexpr char kUpperRow[] = "Q2W3ER5T6Y7UI";

enum class Drag { kNone, kKey, kEdge };

struct Strip {
  int scroll = -1;  // pixels; -1 until first laid out
  std::int32_t base = 48;
  Drag drag = Drag::kNone;
  std::int64_t dragSample = -1;
  std::int32_t heldKey = -1;  // the computer key holding a note
  HFONT font = nullptr;        // the editor's, set by the layout
};
Strip g_strip;

int KeyWidth(HWND hwnd) {
  std::int32_t dpiX = 96, dpiY = 96;
  QueryDpi(hwnd, dpiX, dpiY);
  return std::max(4, MulDiv(kKeyUnits, dpiX, 96));
}
RECT Client(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  return r;
}
int ZoneBottom(HWND hwnd) { return Client(hwnd).bottom * 2 / 5; }
int NoteX(HWND hwnd, std::int32_t note) { return note * KeyWidth(hwnd) - g_strip.scroll; }
std::int32_t NoteAt(HWND hwnd, int x) {
  return std::clamp((x + g_strip.scroll) / KeyWidth(hwnd), 0, 127);
}
bool BlackKey(std::int32_t note) {
  const int k = note % 12;
  return k == 1 || k == 3 || k == 6 || k == 8 || k == 10;
}

std::vector<KeyZone> Zones() {
  std::vector<KeyZone> zones;
  const EditorModel& m = EditorModelOfWindow();
  if (m.working.soundType != SoundType::Multisound || KeyZones(m.working, zones) != kOk) zones.clear();
  return zones;
}

void SetScroll(HWND hwnd, int pos) {
  const int total = 128 * KeyWidth(hwnd);
  const int page = Client(hwnd).right;
  g_strip.scroll = std::clamp(pos, 0, std::max(0, total - page));
  SCROLLINFO si = {sizeof(si), SIF_ALL, 0, total - 1, static_cast<UINT>(page), g_strip.scroll, 0};
  SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
  InvalidateRect(hwnd, nullptr, FALSE);
}

void ScrollIntoView(HWND hwnd, std::int32_t note) {
  const int x = NoteX(hwnd, note), w = KeyWidth(hwnd), page = Client(hwnd).right;
  if (x < 0) SetScroll(hwnd, g_strip.scroll + x);
  if (x + w > page) SetScroll(hwnd, g_strip.scroll + x + w - page);
}

void Paint(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC target = BeginPaint(hwnd, &ps);
  const RECT rc = Client(hwnd);
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<LONG>(1, rc.right), std::max<LONG>(1, rc.bottom));
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  HGDIOBJ oldFont = SelectObject(dc, g_strip.font ? g_strip.font : GetStockObject(DEFAULT_GUI_FONT));
  const auto fill = [&](RECT r, COLORREF c) {
    SetDCBrushColor(dc, c);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  };
  const int zb = ZoneBottom(hwnd), w = KeyWidth(hwnd);
  fill(rc, GetSysColor(COLOR_BTNFACE));
  // The keys, C labelled; the computer keyboard's reach underlined.
  SetBkMode(dc, TRANSPARENT);
  // White keys full height with a grey edge, black ones dark over their
  // upper part.
  const int keysHeight = rc.bottom - zb;
  for (std::int32_t n = 0; n < 128; ++n) {
    const int x = NoteX(hwnd, n);
    if (x + w < 0 || x > rc.right) continue;
    fill({x, zb, x + w, rc.bottom}, RGB(150, 150, 150));
    fill({x, zb, x + w - 1, rc.bottom}, RGB(250, 250, 250));
    if (BlackKey(n)) fill({x, zb, x + w, zb + keysHeight * 3 / 5}, RGB(40, 40, 40));
    if (n >= g_strip.base && n < g_strip.base + 25) fill({x, rc.bottom - 3, x + w - 1, rc.bottom}, RGB(0, 120, 215));
  }
  SetTextColor(dc, RGB(60, 60, 60));
  for (std::int32_t n = 0; n < 128; n += 12) {
    const Utf8View name = NoteName(static_cast<std::uint32_t>(n));
    wchar_t text[8] = {};
    for (std::size_t i = 0; i < name.size() && i < 7; ++i) text[i] = static_cast<wchar_t>(name[i]);
    RECT t = {NoteX(hwnd, n) + 1, zb, NoteX(hwnd, n) + 6 * w, rc.bottom - 4};
    DrawTextW(dc, text, -1, &t, DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOCLIP);
  }
  // The zones, each in its sample's colour, the root as a dark mark.
  const EditorModel& m = EditorModelOfWindow();
  for (const KeyZone& z : Zones()) {
    if (z.low > z.high) continue;
    const COLORREF c = kZoneColours[static_cast<std::size_t>(z.sample) % 8];
    const RECT band = {NoteX(hwnd, z.low), 2, NoteX(hwnd, z.high) + w - 1, zb - 2};
    fill(band, c);
    if (z.sample == m.current) {
      HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
      HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
      Rectangle(dc, band.left, band.top, band.right, band.bottom);
      Rectangle(dc, band.left + 1, band.top + 1, band.right - 1, band.bottom - 1);
      SelectObject(dc, oldBrush);
      SelectObject(dc, oldPen);
    }
    // Its sample's name where it fits.
    const SampleData& sample = m.working.samples[static_cast<std::size_t>(z.sample)];
    Utf16Text<40> name;
    name.assignUtf8(sample.name.view());
    RECT t = {std::max<LONG>(band.left, 0) + 4, band.top + 2, std::min(band.right, rc.right) - 4, band.top + zb / 3};
    SetTextColor(dc, RGB(20, 20, 20));
    DrawTextW(dc, reinterpret_cast<const wchar_t*>(name.terminated()), -1, &t, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS);
    const int rx = NoteX(hwnd, z.root);
    fill({rx + w / 4, zb / 3, rx + w - w / 4, zb * 2 / 3}, RGB(20, 20, 20));
  }
  BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldFont);
  SelectObject(dc, oldBitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  EndPaint(hwnd, &ps);
}

// The zone whose right edge lies under x, or else the zone under x.
const KeyZone* ZoneAt(const std::vector<KeyZone>& zones, HWND hwnd, int x, bool& edge) {
  edge = false;
  const int w = KeyWidth(hwnd);
  for (const KeyZone& z : zones) {
    if (z.low > z.high) continue;
    const int right = NoteX(hwnd, z.high) + w;
    if (x >= right - kEdgeGrab && x <= right + kEdgeGrab) {
      edge = true;
      return &z;
    }
  }
  for (const KeyZone& z : zones)
    if (z.low <= z.high && x >= NoteX(hwnd, z.low) && x < NoteX(hwnd, z.high) + w) return &z;
  return nullptr;
}

void MouseDown(HWND hwnd, int x, int y) {
  SetFocus(hwnd);
  if (y >= ZoneBottom(hwnd)) {
    g_strip.drag = Drag::kKey;
    SetCapture(hwnd);
    EditorPlayNote(NoteAt(hwnd, x));
    return;
  }
  const std::vector<KeyZone> zones = Zones();
  bool edge = false;
  const KeyZone* z = ZoneAt(zones, hwnd, x, edge);
  if (!z) return;
  if (edge && !EditorModelOfWindow().working.samples[static_cast<std::size_t>(z->sample)].nonTranspose) {
    g_strip.drag = Drag::kEdge;
    g_strip.dragSample = z->sample;
    SetCapture(hwnd);
    return;
  }
  EditorSelectFromStrip(z->sample);
}

void MouseMove(HWND hwnd, int x) {
  if (g_strip.drag == Drag::kEdge) {
    // The right edge follows the pointer: the key left of the pointer.
    const int w = KeyWidth(hwnd);
    EditorDragTopKey(g_strip.dragSample, std::clamp((x + g_strip.scroll + w / 2) / w - 1, 0, 127), true);
  }
}

void MouseUp(HWND hwnd, int x) {
  const Drag was = std::exchange(g_strip.drag, Drag::kNone);
  if (GetCapture() == hwnd) ReleaseCapture();
  if (was == Drag::kKey) EditorStopNote();
  if (was == Drag::kEdge) {
    const int w = KeyWidth(hwnd);
    EditorDragTopKey(g_strip.dragSample, std::clamp((x + g_strip.scroll + w / 2) / w - 1, 0, 127), false);
  }
}

// The note a computer key plays, or -1.
std::int32_t NoteOfKey(WPARAM key) {
  for (std::int32_t i = 0; kLowerRow[i]; ++i)
    if (static_cast<WPARAM>(kLowerRow[i]) == key) return g_strip.base + i;
  for (std::int32_t i = 0; kUpperRow[i]; ++i)
    if (static_cast<WPARAM>(kUpperRow[i]) == key) return g_strip.base + 12 + i;
  return -1;
}

bool KeyDown(HWND hwnd, WPARAM key, LPARAM flags) {
  if (key == VK_LEFT || key == VK_RIGHT) {
    g_strip.base = std::clamp(g_strip.base + (key == VK_LEFT ? -12 : 12), 0, 108);
    ScrollIntoView(hwnd, std::min(g_strip.base + 24, 127));
    ScrollIntoView(hwnd, g_strip.base);
    InvalidateRect(hwnd, nullptr, FALSE);
    return true;
  }
  const std::int32_t note = NoteOfKey(key);
  if (note < 0 || note > 127) return false;
  if ((flags & (1 << 30)) == 0) {  // held down: the repeats do nothing
    g_strip.heldKey = static_cast<std::int32_t>(key);
    EditorPlayNote(note);
  }
  return true;
}

LRESULT CALLBACK StripProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      Paint(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      SetScroll(hwnd, g_strip.scroll < 0 ? NoteX(hwnd, 36) + g_strip.scroll : g_strip.scroll);
      return 0;
    case WM_HSCROLL: {
      SCROLLINFO si = {};
      si.cbSize = sizeof(si);
      si.fMask = SIF_ALL;
      GetScrollInfo(hwnd, SB_HORZ, &si);
      int pos = g_strip.scroll;
      const int w = KeyWidth(hwnd);
      switch (LOWORD(wParam)) {
        case SB_LINELEFT: pos -= w; break;
        case SB_LINERIGHT: pos += w; break;
        case SB_PAGELEFT: pos -= static_cast<int>(si.nPage); break;
        case SB_PAGERIGHT: pos += static_cast<int>(si.nPage); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: pos = si.nTrackPos; break;
        default: break;
      }
      SetScroll(hwnd, pos);
      return 0;
    }
    case WM_MOUSEWHEEL:
      SetScroll(hwnd, g_strip.scroll - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3 * KeyWidth(hwnd));
      return 0;
    case WM_LBUTTONDOWN:
      MouseDown(hwnd, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_MOUSEMOVE:
      MouseMove(hwnd, static_cast<short>(LOWORD(lParam)));
      return 0;
    case WM_LBUTTONUP:
      MouseUp(hwnd, static_cast<short>(LOWORD(lParam)));
      return 0;
    case WM_CAPTURECHANGED:
      if (g_strip.drag != Drag::kNone && reinterpret_cast<HWND>(lParam) != hwnd) {
        if (g_strip.drag == Drag::kKey) EditorStopNote();
        if (g_strip.drag == Drag::kEdge) EndFieldEdit(EditorModelOfWindow());
        g_strip.drag = Drag::kNone;
      }
      return 0;
    case WM_SETCURSOR: {
      // Over a zone's right edge: the sizing cursor.
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(hwnd, &p);
      bool edge = false;
      const std::vector<KeyZone> zones = Zones();
      if (LOWORD(lParam) == HTCLIENT && p.y < ZoneBottom(hwnd) && ZoneAt(zones, hwnd, p.x, edge) && edge) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
        return TRUE;
      }
      break;
    }
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      if (KeyDown(hwnd, wParam, lParam)) return 0;
      break;
    case WM_KEYUP:
      if (static_cast<std::int32_t>(wParam) == g_strip.heldKey) {
        g_strip.heldKey = -1;
        EditorStopNote();
      }
      return 0;
    case WM_KILLFOCUS:
      if (g_strip.heldKey >= 0) {
        g_strip.heldKey = -1;
        EditorStopNote();
      }
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETFONT:
      g_strip.font = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(g_strip.font);
    case kStripRefresh:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case kStripNotePoint: {
      const auto note = static_cast<std::int32_t>(std::min<WPARAM>(wParam, 127));
      ScrollIntoView(hwnd, note);
      const int x = NoteX(hwnd, note), zb = ZoneBottom(hwnd);
      switch (lParam) {
        case 0: return x;
        case 1: return x + KeyWidth(hwnd) - 1;
        case 2: return zb / 2;
        default: return (zb + Client(hwnd).bottom) / 2;
      }
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

std::int32_t StripKeyboardBase() { return g_strip.base; }

bool RegisterKeyboardStripClass(HINSTANCE instance) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof(wc);
  if (GetClassInfoExW(instance, kKeyboardStripClass, &wc)) return true;
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = StripProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kKeyboardStripClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace tavrin
