// The bank manager window ("TavrinBankMgr"): the banks of the selected device
// with the name of the card each holds, and the clearing of selected banks.
// Closing it only hides it.
#include <windows.h>
#include <commctrl.h>

#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/main_logic.h"

namespace tavrin {
namespace {

namespace Row {
constexpr std::size_t kList = 0;
constexpr std::size_t kClear = 1;
constexpr std::size_t kOk = 2;
constexpr std::size_t kStatus = 3;
constexpr std::size_t kCount = 4;
}  // namespace Row

ControlSpec g_table[Row::kCount] = {
    {10, 10, 340, 498, WC_LISTVIEWW, nullptr,
     WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, 0, 0, 0, 0, 0,
     nullptr, {}},
    {10, 518, 200, 23, L"Button", L"Clear Selected Bank", WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, 0, nullptr, {}},
    {250, 518, 100, 23, L"Button", L"OK", WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 547, 360, 23, L"Static", L"Idle", SS_LEFT | SS_CENTERIMAGE, 0, 0, 0, 0, 0, nullptr, {}},
};

struct BankState {
  WindowFrame frame;
  HWND hwnd = nullptr;
  HWND mainWindow = nullptr;
  std::size_t rowCount = 0;
  bool clearAllowed = false;
  bool clearing = false;
};
BankState g_bank;

HWND List() { return g_table[Row::kList].hwnd; }

void SizeNameColumn() {
  if (!List()) return;
  RECT r = {};
  GetClientRect(List(), &r);
  const int first = ScaleToDpi(70, g_bank.frame.dpiX);
  SendMessageW(List(), LVM_SETCOLUMNWIDTH, 0, first);
  const int rest = (r.right - r.left) - first;
  SendMessageW(List(), LVM_SETCOLUMNWIDTH, 1, rest > 0 ? rest : 0);
}

void UpdateButtons() {
  const bool listEnabled = g_bank.clearAllowed && !g_bank.clearing;
  const std::size_t selected = static_cast<std::size_t>(SendMessageW(List(), LVM_GETSELECTEDCOUNT, 0, 0));
  EnableWindow(List(), listEnabled);
  EnableWindow(g_table[Row::kClear].hwnd, listEnabled && selected > 0);
  Utf16Text<32> caption;
  caption.assign(ClearButtonCaption(selected));
  SetWindowTextW(g_table[Row::kClear].hwnd, reinterpret_cast<const wchar_t*>(caption.terminated()));
}

void Finish(bool success) {
  g_bank.clearing = false;
  ListView_SetItemState(List(), -1, 0, LVIS_SELECTED);
  UpdateButtons();
  InvalidateRect(List(), nullptr, TRUE);
  SetWindowTextW(g_table[Row::kStatus].hwnd, success ? L"Clearing successful" : L"Clearing failed");
}

bool Create(HWND hwnd) {
  g_bank.hwnd = hwnd;
  g_bank.frame.table = g_table;
  g_bank.frame.count = Row::kCount;
  g_bank.frame.clientWidth = 360;
  g_bank.frame.clientHeight = 580;
  g_bank.clearing = false;
  if (!InitFrameWindow(hwnd, g_bank.frame)) return false;
  SendMessageW(List(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT,
               LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW col = {};
  col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  col.fmt = LVCFMT_LEFT;
  col.cx = ScaleToDpi(70, g_bank.frame.dpiX);
  col.pszText = const_cast<wchar_t*>(L"Bank-Nr.");
  SendMessageW(List(), LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  col.pszText = const_cast<wchar_t*>(L"Name");
  col.cx = 100;
  SendMessageW(List(), LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
  SizeNameColumn();
  SendMessageW(List(), LVM_SETITEMCOUNT, g_bank.rowCount, 0);
  UpdateButtons();
  return true;
}

LRESULT Notify(const NMHDR* hdr) {
  if (!hdr || hdr->hwndFrom != List()) return 0;
  switch (hdr->code) {
    case LVN_GETDISPINFOW: {
      NMLVDISPINFOW* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(hdr));
      if ((info->item.mask & LVIF_TEXT) == 0 || !info->item.pszText || info->item.cchTextMax <= 0) return 0;
      if (info->item.iItem < 0 || static_cast<std::size_t>(info->item.iItem) >= g_bank.rowCount) return 0;
      DevicePanelBankRowText(static_cast<std::size_t>(info->item.iItem), info->item.iSubItem, info->item.pszText,
                             info->item.cchTextMax);
      return 0;
    }
    case NM_CLICK:
    case LVN_KEYDOWN:
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
      UpdateButtons();
      return 0;
    default:
      return 0;
  }
}

void ClearPressed() {
  if (SendMessageW(List(), LVM_GETSELECTEDCOUNT, 0, 0) <= 0 || g_bank.clearing) return;
  g_bank.clearing = true;
  UpdateButtons();
  if (g_bank.mainWindow) SendMessageW(g_bank.mainWindow, WM_COMMAND, 1, reinterpret_cast<LPARAM>(g_bank.hwnd));
}

}  // namespace

HWND CreateBankManagerWindow(HWND mainWindow) {
  g_bank.mainWindow = mainWindow;
  return CreateWindowExW(0, kBankManagerClass, L"Tavrin - Bank Manager",
                         WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void BankManagerSetState(std::size_t rowCount, bool clearAllowed) {
  if (!g_bank.hwnd) return;
  g_bank.clearAllowed = clearAllowed;
  if (rowCount != g_bank.rowCount) {
    g_bank.rowCount = rowCount;
    SendMessageW(List(), LVM_SETITEMCOUNT, rowCount, LVSICF_NOSCROLL);
  }
  UpdateButtons();
  InvalidateRect(List(), nullptr, TRUE);
}

std::ptrdiff_t BankManagerNextSelected(std::ptrdiff_t from) {
  if (!List()) return -1;
  const LRESULT i = SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(from - 1), LVNI_SELECTED);
  return i < 0 ? -1 : static_cast<std::ptrdiff_t>(i);
}

void BankManagerFinish(bool success) {
  if (g_bank.hwnd) SendMessageW(g_bank.hwnd, kMsgClearingFinished, success ? 1 : 0, 0);
}

void BankManagerSetStatus(const wchar_t* text) {
  if (g_table[Row::kStatus].hwnd) SetWindowTextW(g_table[Row::kStatus].hwnd, text);
}

HWND BankManagerControl(std::size_t row) { return row < Row::kCount ? g_table[row].hwnd : nullptr; }

void BankManagerRedraw() {
  if (List()) InvalidateRect(List(), nullptr, TRUE);
}

LRESULT CALLBACK BankManagerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_bank.frame.table && HandleFrameMessage(hwnd, g_bank.frame, msg, wParam, lParam, result)) {
    if (msg == WM_SIZE || msg == WM_DPICHANGED) SizeNameColumn();
    return result;
  }
  switch (msg) {
    case WM_CREATE:
      return Create(hwnd) ? 0 : -1;
    case WM_NCDESTROY:
      ReleaseFrame(g_bank.frame);
      g_bank.frame.table = nullptr;
      g_bank.hwnd = nullptr;
      g_bank.rowCount = 0;
      break;
    case WM_CLOSE:
      ShowWindow(hwnd, SW_HIDE);
      return 0;
    case WM_NOTIFY:
      return Notify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (control == g_table[Row::kClear].hwnd) {
        ClearPressed();
        return 0;
      }
      if (control == g_table[Row::kOk].hwnd || LOWORD(wParam) == IDCANCEL) {
        ShowWindow(hwnd, SW_HIDE);
        return 0;
      }
      break;
    }
    case kMsgClearingFinished:
      Finish(wParam != 0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace tavrin
