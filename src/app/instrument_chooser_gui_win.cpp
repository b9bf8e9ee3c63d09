#include "app/instrument_chooser_gui_win.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "app/app_gui_win.h"
#include "app/drop_target_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/main_window_gui_win.h"
#include "audio/instrument.h"
#include "audio/sf2_reader.h"
#include "audio/sfz.h"
#include "base/alloc.h"

namespace tavrin {
namespace {

namespace Row {
constexpr std::size_t kPrompt = 0;
constexpr std::size_t kList = 1;
constexpr std::size_t kVelocityLabel = 2;
constexpr std::size_t kVelocity = 3;
constexpr std::size_t kAdd = 4;
constexpr std::size_t kCancel = 5;
constexpr std::size_t kCount = 6;
}  // namespace Row

constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

ControlSpec g_table[Row::kCount] = {
    {10, 10, 400, 20, L"Static", L"Choose the preset to add as a Multisound:", SS_LEFT | SS_CENTERIMAGE, 0, 0, 0, 0, 0,
     nullptr, {}},
    {10, 32, 400, 240, L"ListBox", nullptr, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0,
     0, 0, 0, 0, nullptr, {}},
    {10, 282, 60, 23, L"Static", L"Velocity", SS_LEFT | SS_CENTERIMAGE, 0, 0, 0, 0, 0, nullptr, {}},
    {75, 282, 45, 23, L"Edit", L"100", WS_BORDER | WS_TABSTOP | ES_NUMBER, 0, 0, 0, 0, 0, nullptr, {}},
    {230, 282, 85, 23, L"Button", L"Add", kButton | BS_DEFPUSHBUTTON, 0, 0, 0, 0, 0, nullptr, {}},
    {325, 282, 85, 23, L"Button", L"Cancel", kButton, 0, 0, 0, 0, 0, nullptr, {}},
};

struct Entry {
  Sf2Choice choice;
  Utf8Text<24> name;
};

struct ChooserState {
  WindowFrame frame;
  HWND hwnd = nullptr;
  Utf8Text<1040> path;
  bool sfz = false;
  FileSource file;
  SoundFont font;
  std::vector<Entry> entries;
};
ChooserState g_chooser;

bool HasExtension(Utf16View path, const char16_t* ext) {
  const std::size_t n = std::char_traits<char16_t>::length(ext);
  if (path.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = path[path.size() - n + i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != ext[i]) return false;
  }
  return true;
}

void SetText(HWND hwnd, Utf8View text) {
  Utf16Text<300> t;
  t.assignUtf8(text);
  SetWindowTextW(hwnd, reinterpret_cast<const wchar_t*>(t.terminated()));
}

void ShowRefusal(HWND owner, const InstrumentReport& report, Result r) {
  Utf16Text<300> text;
  text.assignUtf8(report.refusal.empty() ? Utf8View("The file couldn't be read") : report.refusal.view());
  (void)r;
  AppMessageBox(owner, reinterpret_cast<const wchar_t*>(text.terminated()), MB_OK | MB_ICONERROR);
}

// One row per preset of a melodic bank (a drum kit is not one Multisound), or
// one row for an .sfz: its name, zones and card bytes at velocity 100.
Result FillEntries() {
  HWND list = g_table[Row::kList].hwnd;
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  g_chooser.entries.clear();
  const auto add = [&](const Entry& e, Utf8View line) {
    if (TryPushBack(g_chooser.entries, e) != kOk) return;
    Utf16Text<160> text;
    text.assignUtf8(line);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.terminated()));
  };
  if (g_chooser.sfz) {
    Entry e;
    e.name.assign(StemOfFileName(FileNameOfPath(g_chooser.path.view())));
    add(e, e.name.view());
    return kOk;
  }
  for (std::size_t i = 0; i < g_chooser.font.presetCount(); ++i) {
    const Sf2Preset& p = g_chooser.font.presets[i];
    if (p.bank >= 128) continue;
    Entry e;
    e.name = p.name;
    e.choice.bank = p.bank;
    e.choice.program = p.program;
    std::vector<InstrumentZone> zones;
    InstrumentReport report;
    char line[160];
    if (SoundFontZones(g_chooser.font, e.choice, zones, report) == kOk) {
      std::snprintf(line, sizeof line, "%u:%u %s (%zu zones, %llu bytes)", p.bank, p.program, Z(p.name).c,
                    zones.size(), static_cast<unsigned long long>(CardBytesOfZones(zones)));
    } else {
      std::snprintf(line, sizeof line, "%u:%u %s (damaged)", p.bank, p.program, Z(p.name).c);
    }
    add(e, line);
  }
  return kOk;
}

std::uint8_t Velocity() {
  wchar_t text[8] = {};
  GetWindowTextW(g_table[Row::kVelocity].hwnd, text, 8);
  unsigned v = 0;
  for (const wchar_t* p = text; *p >= L'0' && *p <= L'9' && v < 1000; ++p) v = v * 10 + static_cast<unsigned>(*p - L'0');
  return static_cast<std::uint8_t>(v >= 1 && v <= 127 ? v : 100);
}

void AddPressed() {
  const LRESULT selected = SendMessageW(g_table[Row::kList].hwnd, LB_GETCURSEL, 0, 0);
  if (selected == LB_ERR || selected < 0 || static_cast<std::size_t>(selected) >= g_chooser.entries.size()) return;
  Entry e = g_chooser.entries[static_cast<std::size_t>(selected)];
  e.choice.velocity = Velocity();
  std::vector<InstrumentZone> zones;
  InstrumentReport report;
  Result r = kOk;
  if (g_chooser.sfz) {
    DiskSfzFiles files;
    std::vector<SfzRegion> regions;
    r = ParseSfz(g_chooser.path.view(), files, regions, report);
    if (r == kOk) r = SfzZones(regions, e.choice.velocity, zones, report);
  } else {
    r = SoundFontZones(g_chooser.font, e.choice, zones, report);
    if (r == kOk) r = ReadSoundFontAudio(g_chooser.file, g_chooser.font, zones, report);
  }
  Sound sound;
  sound.name.assign(e.name.view());  // cut as the card stores names
  if (r == kOk) r = ImportZones(sound, zones, report);
  if (r == kOk) r = TryPushBack(TheDocument().multisounds, std::move(sound));
  if (r != kOk) {
    ShowRefusal(g_chooser.hwnd, report, r);
    return;
  }
  TheDocument().modified = true;
  RefreshMainWindow();
  char status[160];
  std::snprintf(status, sizeof status, "Added %s: %zu samples%s", Z(e.name).c, zones.size(),
                report.notes.empty() ? "" : " (zones left out or remapped)");
  SetText(MainControl(MainRow::kStatus), status);
  DestroyWindow(g_chooser.hwnd);
}

LRESULT CALLBACK ChooserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_chooser.frame.table && HandleFrameMessage(hwnd, g_chooser.frame, msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_CREATE:
      g_chooser.hwnd = hwnd;
      g_chooser.frame.table = g_table;
      g_chooser.frame.count = Row::kCount;
      g_chooser.frame.clientWidth = 420;
      g_chooser.frame.clientHeight = 315;
      if (!InitFrameWindow(hwnd, g_chooser.frame)) return -1;
      FillEntries();
      SendMessageW(g_table[Row::kList].hwnd, LB_SETCURSEL, 0, 0);
      return 0;
    case WM_NCDESTROY:
      ReleaseFrame(g_chooser.frame);
      g_chooser.frame.table = nullptr;
      g_chooser.hwnd = nullptr;
      g_chooser.entries.clear();
      g_chooser.font = SoundFont{};
      g_chooser.file.Open(Utf8View());  // closes the file
      break;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_COMMAND: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      if ((control == g_table[Row::kAdd].hwnd && HIWORD(wParam) == BN_CLICKED) ||
          (control == g_table[Row::kList].hwnd && HIWORD(wParam) == LBN_DBLCLK)) {
        AddPressed();
        return 0;
      }
      if ((control == g_table[Row::kCancel].hwnd && HIWORD(wParam) == BN_CLICKED) || LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(hwnd);
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

bool IsInstrumentPath(Utf16View path) { return HasExtension(path, u".sf2") || HasExtension(path, u".sfz"); }

bool FirstInstrumentFile(HDROP drop, Utf16Text<261>& out) { return FirstDroppedFile(drop, IsInstrumentPath, out); }

HWND InstrumentChooserWindow() { return g_chooser.hwnd; }

void OpenInstrumentChooser(HWND owner, Utf16View path) {
  if (g_chooser.hwnd) DestroyWindow(g_chooser.hwnd);
  static bool registered = false;
  if (!registered) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = ChooserProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kInstrumentChooserClass;
    registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    if (!registered) return;
  }
  if (!AssignPathFromUtf16(g_chooser.path, path)) return;
  g_chooser.sfz = HasExtension(path, u".sfz");
  if (!g_chooser.sfz) {
    InstrumentReport report;
    Result r = g_chooser.file.Open(g_chooser.path.view());
    if (r == kOk) r = OpenSoundFont(g_chooser.file, g_chooser.font, report);
    if (r != kOk) {
      g_chooser.file.Open(Utf8View());
      ShowRefusal(owner, report, r);
      return;
    }
  }
  HWND hwnd = CreateWindowExW(0, kInstrumentChooserClass, L"Tavrin - Add Instrument",
                              WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (hwnd) ShowWindow(hwnd, SW_SHOW);
}

}  // namespace tavrin
