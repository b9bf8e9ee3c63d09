// The "Fit to Card" window ("TavrinFitDialog"): a check box per step of the
// plan, the bytes it saves, the card's size and free memory with the ticked
// steps, Apply and Cancel. The main window stays disabled while it is open.
#include "app/fit_dialog_gui_win.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <vector>

#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/main_logic.h"
#include "app/main_window_gui_win.h"
#include "plan/fit_plan.h"

namespace tavrin {
namespace {

constexpr wchar_t kFitDialogClass[] = L"TavrinFitDialog";

ControlSpec g_table[FitRow::kCount] = {
    {10, 8, 760, 40, L"Static",
     L"Each step saves the bytes shown, in the order of what a listener loses. Tick the steps to take; "
     L"Apply changes the card, which you can still leave unsaved.",
     SS_LEFT, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 52, 760, 300, WC_LISTVIEWW, nullptr,
     WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_SINGLESEL, 0, 0, 0, 0, 0,
     nullptr, {}},
    {10, 360, 100, 20, L"Static", L"Card Size:", SS_RIGHT | SS_CENTERIMAGE, 0, 0, 0, 0, 0, nullptr, {}},
    {114, 360, 180, 20, L"Static", L"0 Byte", SS_LEFT | SS_CENTERIMAGE, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 380, 100, 20, L"Static", L"Free Memory:", SS_RIGHT | SS_CENTERIMAGE, 0, 0, 0, 0, 0, nullptr, {}},
    {114, 380, 180, 20, L"Static", L"0 Byte", SS_LEFT | SS_CENTERIMAGE, 0, 0, 0, 0, ControlFlags::kOwnTextColour,
     nullptr, {}},
    {560, 370, 100, 23, L"Button", L"Apply", WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0, 0, nullptr, {}},
    {670, 370, 100, 23, L"Button", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, 0, nullptr, {}},
};

struct FitState {
  WindowFrame frame;
  HWND hwnd = nullptr;
  HWND owner = nullptr;
  CardLayout layout = CardLayout::Card;
  FitPlan plan;
  std::vector<bool> take;
  bool filling = false;  // the list's own check changes are not the user's
};
FitState g_fit;

HWND List() { return g_table[FitRow::kList].hwnd; }

// The check boxes from `take`, then the figures.
void ShowSelection() {
  g_fit.filling = true;
  for (std::size_t i = 0; i < g_fit.take.size(); ++i) {
    ListView_SetCheckState(List(), static_cast<int>(i), g_fit.take[i] ? TRUE : FALSE);
  }
  g_fit.filling = false;
  const std::uint64_t size = SizeWithSteps(TheDocument(), g_fit.plan, g_fit.take, g_fit.layout);
  CardStatistics stats;
  stats.cardSize = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
  const CardFigures f = FormatCardFigures(stats, static_cast<std::uint32_t>(g_fit.plan.capacity));
  Utf16Text<32> sizeText = f.cardSize, freeText = f.freeMemory;
  SetWindowTextW(g_table[FitRow::kCardSize].hwnd, reinterpret_cast<const wchar_t*>(sizeText.terminated()));
  ControlSpec& free = g_table[FitRow::kFreeMemory];
  SetWindowTextW(free.hwnd, reinterpret_cast<const wchar_t*>(freeText.terminated()));
  free.textColour = f.freeNegative ? RGB(255, 0, 0) : GetSysColor(COLOR_BTNTEXT);
  InvalidateRect(free.hwnd, nullptr, TRUE);
  bool any = false;
  for (bool t : g_fit.take) any = any || t;
  EnableWindow(g_table[FitRow::kApply].hwnd, any);
}

void FillList() {
  SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
               LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  LVCOLUMNW col = {};
  col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  col.fmt = LVCFMT_LEFT;
  col.cx = ScaleToDpi(636, g_fit.frame.dpiX);
  col.pszText = const_cast<wchar_t*>(L"Step");
  SendMessageW(List(), LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  col.fmt = LVCFMT_RIGHT;
  col.cx = ScaleToDpi(96, g_fit.frame.dpiX);
  col.pszText = const_cast<wchar_t*>(L"Bytes");
  SendMessageW(List(), LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
  g_fit.filling = true;
  for (std::size_t i = 0; i < g_fit.plan.steps.size(); ++i) {
    const FitStep& s = g_fit.plan.steps[i];
    char what[240];
    std::snprintf(what, sizeof what, "%s%.*s", s.skipped ? "Skipped: " : "", static_cast<int>(s.what.length),
                  s.what.bytes);
    Utf16Text<256> text;
    text.assignUtf8(Utf8View(what));
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(text.terminated()));
    SendMessageW(List(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    char bytes[32];
    std::snprintf(bytes, sizeof bytes, s.skipped ? "" : "-%llu", static_cast<unsigned long long>(s.bytesSaved));
    Utf16Text<32> b;
    b.assignUtf8(Utf8View(bytes));
    item.iSubItem = 1;
    item.pszText = const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(b.terminated()));
    SendMessageW(List(), LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
  }
  g_fit.filling = false;
}

// A check box the user changed: the step with what it builds on, or without
// what builds on it; a skipped step stays unticked.
void Toggled(std::size_t i) {
  if (g_fit.filling || i >= g_fit.take.size()) return;
  const bool on = ListView_GetCheckState(List(), static_cast<int>(i)) != FALSE;
  if (on == g_fit.take[i] && !g_fit.plan.steps[i].skipped) return;
  if (!g_fit.plan.steps[i].skipped) SelectStep(g_fit.plan, g_fit.take, i, on);
  ShowSelection();
}

void Close() {
  if (g_fit.owner) EnableWindow(g_fit.owner, TRUE);
  if (g_fit.hwnd) DestroyWindow(g_fit.hwnd);
  if (g_fit.owner) SetForegroundWindow(g_fit.owner);
}

void Apply() {
  const Result r = ApplyFit(TheDocument(), g_fit.plan, g_fit.take);
  if (r != kOk) {
    AppMessageBox(g_fit.hwnd, r == kOutOfMemory ? L"Can't fit the card\n\nNot enough memory: the card is unchanged."
                                                : L"Can't fit the card\n\nThe card changed since the plan was made.",
                  MB_OK | MB_ICONERROR);
    return;
  }
  Close();
  RefreshMainWindow();
}

LRESULT CALLBACK FitDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_fit.frame.table && HandleFrameMessage(hwnd, g_fit.frame, msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_CREATE:
      g_fit.hwnd = hwnd;
      g_fit.frame.table = g_table;
      g_fit.frame.count = FitRow::kCount;
      g_fit.frame.clientWidth = 780;
      g_fit.frame.clientHeight = 404;
      if (!InitFrameWindow(hwnd, g_fit.frame)) return -1;
      FillList();
      ShowSelection();
      return 0;
    case WM_NCDESTROY:
      ReleaseFrame(g_fit.frame);
      g_fit.frame.table = nullptr;
      g_fit.hwnd = nullptr;
      g_fit.plan = FitPlan{};
      g_fit.take.clear();
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr && hdr->hwndFrom == List() && hdr->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK)) {
          Toggled(static_cast<std::size_t>(change->iItem));
        }
      }
      return 0;
    }
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (control == g_table[FitRow::kApply].hwnd) {
        Apply();
        return 0;
      }
      if (control == g_table[FitRow::kCancel].hwnd || LOWORD(wParam) == IDCANCEL) {
        Close();
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterOnce() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = FitDialogProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFitDialogClass;
  registered = RegisterClassExW(&wc) != 0;
  return registered;
}

}  // namespace

void ShowFitDialog(HWND owner) {
  if (g_fit.hwnd) {
    SetForegroundWindow(g_fit.hwnd);
    return;
  }
  FitOptions options;
  options.capacity = TheDocument().cardCapacity;
  options.layout = DevicePanelWideLayout() ? CardLayout::WideCard : CardLayout::Card;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  Result r = PlanFit(TheDocument(), options, g_fit.plan);
  if (r == kOk) r = DefaultSelection(g_fit.plan, g_fit.take);
  SetCursor(previous);
  if (r != kOk || !RegisterOnce()) {
    g_fit.plan = FitPlan{};
    AppMessageBox(owner, L"Can't fit the card\n\nNot enough memory to plan it.", MB_OK | MB_ICONERROR);
    return;
  }
  g_fit.layout = options.layout;
  g_fit.owner = owner;
  HWND hwnd = CreateWindowExW(0, kFitDialogClass, L"Tavrin - Fit to Card", WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) {
    g_fit.plan = FitPlan{};
    AppMessageBox(owner, L"Can't fit the card\n\nThe window could not be created.", MB_OK | MB_ICONERROR);
    return;
  }
  if (owner) EnableWindow(owner, FALSE);
  ShowWindow(hwnd, SW_SHOW);
}

HWND FitDialogWindow() { return g_fit.hwnd; }
HWND FitDialogControl(std::size_t row) { return row < FitRow::kCount ? g_table[row].hwnd : nullptr; }

}  // namespace tavrin
