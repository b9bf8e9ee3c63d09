// "Crossfade…": a small modal dialog asking the crossfade's length ("auto"
// or 1 to 1000 ms) and showing, as it is typed, the seam now and the seam
// the crossfade would leave (measured on a copy; the sample stays as it is
// until "Apply").
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "app/sound_editor_gui_win.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "base/alloc.h"
#include "editor/editor_tools.h"

namespace tavrin {
namespace {

constexpr int kLengthField = 100;
constexpr int kSeamLine = 101;

struct CrossfadeState {
  const SampleData* sample = nullptr;
  double period = 0.0;
  std::int32_t lengthMs = 0;
};

// The field's length: 0 for "auto" (or empty), 1..1000; -1 for anything else.
std::int32_t ReadLength(HWND dialog) {
  wchar_t text[16] = {};
  GetDlgItemTextW(dialog, kLengthField, text, 16);
  if (text[0] == 0 || _wcsicmp(text, L"auto") == 0) return 0;
  std::int32_t v = 0;
  for (const wchar_t* p = text; *p; ++p) {
    if (*p < L'0' || *p > L'9' || v > 1000) return -1;
    v = v * 10 + (*p - L'0');
  }
  return v >= 1 && v <= 1000 ? v : -1;
}

void AppendDb(wchar_t* out, std::size_t size, double db) {
  if (std::isnan(db)) {
    std::swprintf(out, size, L"not measurable");
  } else {
    std::swprintf(out, size, L"%ls%.0f dB", db < 0 ? L"\u2212" : L"", std::fabs(db));
  }
}

void ShowSeam(HWND dialog, const CrossfadeState& st) {
  const SampleData& s = *st.sample;
  const std::int32_t ms = ReadLength(dialog);
  EnableWindow(GetDlgItem(dialog, IDOK), ms >= 0);
  wchar_t now[32], after[32], line[128];
  AppendDb(now, 32, SeamErrorDb(s.frames.data(), s.frames.size(), s.markers.loop, s.markers.end, st.period));
  if (ms < 0) {
    std::swprintf(line, 128, L"Seam now %ls. Length: \"auto\" or 1 to 1000 ms", now);
    SetDlgItemTextW(dialog, kSeamLine, line);
    return;
  }
  const std::int64_t n = ms > 0 ? std::int64_t{ms} * kCardRate / 1000 : AutoCrossfadeFrames(s);
  SampleData copy;
  copy.markers = s.markers;
  std::int64_t used = 0;
  if (TryCopy(copy.frames, s.frames) == kOk) used = CrossfadeLoop(copy, n);
  if (used <= 0) {
    std::swprintf(line, 128, L"Seam now %ls; this loop cannot be crossfaded", now);
  } else {
    AppendDb(after, 32, SeamErrorDb(copy.frames.data(), copy.frames.size(), s.markers.loop, s.markers.end, st.period));
    std::swprintf(line, 128, L"Seam now %ls; crossfaded over %.1f ms: %ls", now, used * 1000.0 / kCardRate, after);
  }
  SetDlgItemTextW(dialog, kSeamLine, line);
}

INT_PTR CALLBACK CrossfadeProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* st = reinterpret_cast<CrossfadeState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (msg) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      st = reinterpret_cast<CrossfadeState*>(lParam);
      SendDlgItemMessageW(dialog, kLengthField, EM_LIMITTEXT, 6, 0);
      SetDlgItemTextW(dialog, kLengthField, L"auto");
      ShowSeam(dialog, *st);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == kLengthField && HIWORD(wParam) == EN_CHANGE && st) ShowSeam(dialog, *st);
      if (LOWORD(wParam) == IDOK && st) {
        st->lengthMs = ReadLength(dialog);
        if (st->lengthMs >= 0) EndDialog(dialog, IDOK);
      }
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// An in-memory dialog template, built item by item.
class Template {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Text(const wchar_t* s) {
    do Word(static_cast<WORD>(*s)); while (*s++);
  }
  void Align() {
    if (words_.size() % 2) Word(0);
  }
  void Dword(DWORD d) { Word(LOWORD(d)), Word(HIWORD(d)); }
  void Item(DWORD style, short x, short y, short w, short h, WORD id, WORD atom, const wchar_t* text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE), Dword(0);
    Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y)), Word(static_cast<WORD>(w)), Word(static_cast<WORD>(h));
    Word(id), Word(0xFFFF), Word(atom);
    Text(text);
    Word(0);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }
  std::vector<WORD> words_;
};

}  // namespace

bool AskCrossfadeLength(HWND owner, const SampleData& sample, std::int32_t& lengthMs) {
  CrossfadeState st;
  st.sample = &sample;
  PitchEstimate pitch;
  if (DetectPitch(sample.frames.data(), sample.frames.size(), kCardRate, pitch) == kOk && pitch.pitched)
    st.period = kCardRate / pitch.frequency;
  Template t;
  try {
    t.Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU), t.Dword(0);
    t.Word(5), t.Word(0), t.Word(0), t.Word(250), t.Word(74);
    t.Word(0), t.Word(0), t.Text(L"Crossfade");
    t.Word(8), t.Text(L"MS Shell Dlg");
    t.Item(SS_LEFT, 7, 9, 110, 9, 0xFFFF, 0x0082, L"Length in ms, or \"auto\":");
    t.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 120, 7, 50, 12, kLengthField, 0x0081, L"");
    t.Item(SS_LEFT, 7, 26, 236, 20, kSeamLine, 0x0082, L"");
    t.Item(WS_TABSTOP | BS_DEFPUSHBUTTON, 136, 52, 50, 14, IDOK, 0x0080, L"Apply");
    t.Item(WS_TABSTOP | BS_PUSHBUTTON, 193, 52, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  } catch (...) {
    return false;
  }
  const INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner, CrossfadeProc,
                                                 reinterpret_cast<LPARAM>(&st));
  lengthMs = st.lengthMs;
  return answer == IDOK;
}

}  // namespace tavrin
