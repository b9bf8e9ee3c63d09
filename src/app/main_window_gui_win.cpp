#include "app/main_window_gui_win.h"

#include <commctrl.h>
#include <dbt.h>
#include <ole2.h>
#include <shellapi.h>

#include <new>

#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/drop_target_gui_win.h"
#include "app/fit_dialog_gui_win.h"
#include "app/instrument_chooser_gui_win.h"
#include "app/resource_gui_win.h"

namespace tavrin {
namespace {

constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE;
constexpr DWORD kRightLabel = SS_RIGHT | SS_CENTERIMAGE;
// No integral height: the lists keep their full height down to their buttons.
constexpr DWORD kList = WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;
constexpr COLORREF kBlack = RGB(0, 0, 0);

ControlSpec g_table[MainRow::kCount] = {
    {10, 10, 70, 23, L"Static", L"Card Name", kLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {90, 10, 110, 23, L"Edit", nullptr, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 33, 150, 23, L"Static", L"Multisounds", kLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 56, 150, 200, L"ListBox", nullptr, kList, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 256, 23, 23, L"Button", L"+", kButton, 0, 0, 0, 13, ControlFlags::kBold, nullptr, {}},
    {33, 256, 23, 23, L"Button", L"-", kButton, 0, 0, 0, 13, ControlFlags::kBold, nullptr, {}},
    {170, 33, 150, 23, L"Static", L"Drumsounds", kLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {170, 56, 150, 200, L"ListBox", nullptr, kList, 0, 0, 0, 0, 0, nullptr, {}},
    {170, 256, 23, 23, L"Button", L"+", kButton, 0, 0, 0, 13, ControlFlags::kBold, nullptr, {}},
    {193, 256, 23, 23, L"Button", L"-", kButton, 0, 0, 0, 13, ControlFlags::kBold, nullptr, {}},
    {10, 289, 310, 1, L"Static", nullptr, WS_BORDER, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 293, 153, 20, L"Static", L"Sample Count:", kRightLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {167, 293, 153, 20, L"Static", L"0", kLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 313, 153, 20, L"Static", L"Card Size:", kRightLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {167, 313, 153, 20, L"Static", L"0 Byte", kLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 333, 153, 20, L"Static", L"Free Memory:", kRightLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {167, 333, 153, 20, L"Static", L"0 Byte", kLabel, 0, 0, kBlack, 0, ControlFlags::kOwnTextColour, nullptr, {}},
    {10, 356, 310, 1, L"Static", nullptr, WS_BORDER, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 366, 200, 150, L"ComboBox", nullptr, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0, 0, 0, 0, 0, nullptr, {}},
    {220, 367, 100, 23, L"Button", L"Send to Card", kButton, 0, 0, 0, 0, 0, nullptr, {}},
    {10, 400, 100, 23, L"Button", L"Bank Manager", kButton, 0, 0, 0, 0, 0, nullptr, {}},
    {220, 400, 50, 23, L"Static", L"Bank", kRightLabel, 0, 0, 0, 0, 0, nullptr, {}},
    {275, 400, 30, 23, L"Edit", nullptr, WS_BORDER | WS_TABSTOP | ES_NUMBER, 0, 0, 0, 0, 0, nullptr, {}},
    {305, 400, 14, 23, UPDOWN_CLASSW, nullptr, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS, 0, 0,
     0, 0, 0, nullptr, {}},
    {10, 433, 310, 15, PROGRESS_CLASSW, nullptr, 0, 0, 0, 0, 0, 0, nullptr, {}},
    // Down to the bottom edge, wrapping: a long outcome (a send that broke off) takes two lines.
    {10, 453, 310, 33, L"Static", L"Idle", SS_LEFT, 0, 0, 0, 0, 0, nullptr, {}},
};

struct MainState {
  WindowFrame frame;
  bool refreshing = false;
  // The sound being edited: its list and index.
  bool editingMulti = false;
  std::ptrdiff_t editingIndex = -1;
  std::ptrdiff_t dragIndex = -1;
  bool dragExtraItem = false;
  HWND dragList = nullptr;
  UINT dragListMessage = 0;
  IDropTarget* dropTarget = nullptr;
  bool oleInitialised = false;
};
MainState g_state;
Utf8Text<260> g_currentPath;
// A card-file dropped or handed over, opened by kMsgOpenArrived.
ArrivingCardFile g_arriving;
constexpr UINT kMsgOpenArrived = WM_USER + 202;
// A SoundFont or SFZ dropped, shown in the chooser by kMsgOpenInstrument.
Utf16Text<261> g_droppedInstrument;
constexpr UINT kMsgOpenInstrument = WM_USER + 203;

HWND Row(std::size_t row) { return g_table[row].hwnd; }

std::vector<Sound>& ListOf(bool multi) {
  return multi ? TheDocument().multisounds : TheDocument().drumsounds;
}

void SetText16(HWND hwnd, Utf16View text) {
  Utf16Text<256> t;
  t.assign(text);
  SetWindowTextW(hwnd, reinterpret_cast<const wchar_t*>(t.terminated()));
}

void UpdateRemoveButtons() {
  EnableWindow(Row(MainRow::kMultiRemove), SendMessageW(Row(MainRow::kMultiList), LB_GETCURSEL, 0, 0) != LB_ERR);
  EnableWindow(Row(MainRow::kDrumRemove), SendMessageW(Row(MainRow::kDrumList), LB_GETCURSEL, 0, 0) != LB_ERR);
}

void FillList(HWND list, const std::vector<Sound>& sounds) {
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const Sound& s : sounds) {
    Utf16Text<16> name;
    name.assignUtf8(s.name.view());
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.terminated()));
  }
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

// Refresh, select index in the list, update the "-" buttons, focus the list.
void SelectAfterChange(bool multi, std::size_t index) {
  RefreshMainWindow();
  HWND list = Row(multi ? MainRow::kMultiList : MainRow::kDrumList);
  SendMessageW(list, LB_SETCURSEL, index < ListOf(multi).size() ? index : static_cast<WPARAM>(-1), 0);
  UpdateRemoveButtons();
  SetFocus(list);
}

void AddSound(bool multi) {
  std::vector<Sound>& list = ListOf(multi);
  const SoundType type = multi ? SoundType::Multisound : SoundType::Drumsound;
  Sound* s = AppendSound(list, type);
  if (!s) return;
  s->name = NewSoundName(type, list.size());
  TheDocument().modified = true;
  SelectAfterChange(multi, list.size() - 1);
}

void RemoveSelectedSound(bool multi) {
  HWND list = Row(multi ? MainRow::kMultiList : MainRow::kDrumList);
  const LRESULT sel = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (sel == LB_ERR || sel < 0) return;
  RemoveSound(ListOf(multi), static_cast<std::size_t>(sel));
  TheDocument().modified = true;
  SelectAfterChange(multi, SelectionAfterRemove(static_cast<std::size_t>(sel)));
}

void CardNameChanged() {
  if (g_state.refreshing) return;
  wchar_t buffer[16] = {};
  const int n = GetWindowTextW(Row(MainRow::kCardName), buffer, 16);
  TheDocument().name.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(buffer), n > 0 ? n : 0));
  // The field shows what the card keeps (10 bytes, whole characters) at once.
  Utf16Text<16> kept;
  kept.assignUtf8(TheDocument().name.view());
  if (kept.length != static_cast<std::size_t>(n > 0 ? n : 0)) {
    g_state.refreshing = true;
    SetWindowTextW(Row(MainRow::kCardName), reinterpret_cast<const wchar_t*>(kept.terminated()));
    SendMessageW(Row(MainRow::kCardName), EM_SETSEL, kept.length, kept.length);
    g_state.refreshing = false;
  }
  if (!TheDocument().modified) {
    TheDocument().modified = true;
    UpdateMainTitle();
  }
}

void OpenSoundEditor(bool multi) {
  HWND list = Row(multi ? MainRow::kMultiList : MainRow::kDrumList);
  const LRESULT sel = SendMessageW(list, LB_GETCURSEL, 0, 0);
  if (sel == LB_ERR || sel < 0 || static_cast<std::size_t>(sel) >= ListOf(multi).size()) return;
  g_state.editingMulti = multi;
  g_state.editingIndex = sel;
  HWND editor = App().editorWindow;
  if (!editor) return;
  // An editor that could not take its copy is not shown: its "OK" would
  // hand back something else.
  if (!SendMessageW(editor, kMsgEditSound, reinterpret_cast<WPARAM>(&ListOf(multi)[static_cast<std::size_t>(sel)]), 0))
    return;
  EnableWindow(App().mainWindow, FALSE);
  ShowWindow(editor, SW_SHOW);
}

// False when the card has no memory for the edited sound.
bool SoundEdited(WPARAM wParam) {
  if (g_state.editingIndex < 0 || wParam == 0) return true;
  std::vector<Sound>& list = ListOf(g_state.editingMulti);
  if (static_cast<std::size_t>(g_state.editingIndex) >= list.size()) return true;
  if (ReplaceSound(list[static_cast<std::size_t>(g_state.editingIndex)], *reinterpret_cast<const Sound*>(wParam)) !=
      kOk)
    return false;
  TheDocument().modified = true;
  RefreshMainWindow();
  return true;
}

bool EditorIsOpen() { return App().editorWindow && IsWindowVisible(App().editorWindow); }

// Opens the card-file that arrived, or asks about it while the editor is open.
void OpenArrivedCardFile() {
  const ArrivingCardFile::Next next = g_arriving.Take(EditorIsOpen());
  if (next == ArrivingCardFile::Next::Ask) {
    HWND editor = App().editorWindow;
    if (IsIconic(editor)) ShowWindow(editor, SW_RESTORE);
    SetForegroundWindow(editor);
    const int answer = AppMessageBox(editor, reinterpret_cast<const wchar_t*>(kCardWaitsText),
                                     MB_OKCANCEL | MB_ICONINFORMATION);
    g_arriving.Answer(answer == IDOK);
  } else if (next == ArrivingCardFile::Next::Open) {
    Utf16Text<kHandOverMaxUnits> path;
    path.assign(g_arriving.path());
    const PathSource source = g_arriving.handedOver() ? PathSource::SecondInstance : PathSource::Dropped;
    g_arriving.Clear();
    SetForegroundWindow(App().mainWindow);
    CommandOpenPath16(path.view(), source);
  }
}

// --- Drag reordering ------------------------------------------------------------------

void EndDragDisplay(HWND list) {
  if (g_state.dragExtraItem) {
    const LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (n > 0) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(n - 1), 0);
    g_state.dragExtraItem = false;
  }
  DrawInsert(App().mainWindow, list, -1);
  g_state.dragIndex = -1;
  g_state.dragList = nullptr;
}

LRESULT DragListNotification(const DRAGLISTINFO* info) {
  if (!info) return 0;
  HWND list = info->hWnd;
  bool multi;
  if (list == Row(MainRow::kMultiList)) {
    multi = true;
  } else if (list == Row(MainRow::kDrumList)) {
    multi = false;
  } else {
    return 0;
  }
  switch (info->uNotification) {
    case DL_BEGINDRAG: {
      const int hit = LBItemFromPt(list, info->ptCursor, TRUE);
      const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
      if (!DragMayBegin(hit, count < 0 ? 0 : static_cast<std::size_t>(count))) return FALSE;
      g_state.dragIndex = hit;
      g_state.dragList = list;
      return TRUE;
    }
    case DL_DRAGGING: {
      if (g_state.dragIndex < 0 || g_state.dragList != list) return DL_STOPCURSOR;
      if (!g_state.dragExtraItem) {
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
        g_state.dragExtraItem = true;
      }
      const int hit = LBItemFromPt(list, info->ptCursor, TRUE);
      DrawInsert(App().mainWindow, list, hit);
      return DL_MOVECURSOR;
    }
    case DL_DROPPED: {
      const int hit = LBItemFromPt(list, info->ptCursor, TRUE);
      const std::ptrdiff_t dragged = g_state.dragIndex;
      if (g_state.dragList != list) return 0;
      EndDragDisplay(list);
      const std::ptrdiff_t target = DragDropTarget(dragged, hit);
      std::vector<Sound>& sounds = ListOf(multi);
      if (target >= 0 && static_cast<std::size_t>(target) < sounds.size() &&
          static_cast<std::size_t>(dragged) < sounds.size()) {
        MoveSound(sounds, static_cast<std::size_t>(dragged), static_cast<std::size_t>(target));
        TheDocument().modified = true;
        SelectAfterChange(multi, static_cast<std::size_t>(target));
      }
      return 0;
    }
    case DL_CANCELDRAG:
      if (g_state.dragList == list) EndDragDisplay(list);
      return 0;
    default:
      return 0;
  }
}

// --- Dropping card-files -------------------------------------------------------------


// The window's side of a drag over it.
// Answers whether a card-file is (or was) dropped.
bool DropCallback(DropStep step, HDROP drop) {
  if (step == DropStep::Leave || !drop) return false;
  Utf16Text<261> path;
  if (FirstInstrumentFile(drop, path)) {  // a SoundFont or SFZ: its presets in the chooser
    // The chooser (or its refusal box) opens once the drop has returned.
    if (step == DropStep::Drop) {
      g_droppedInstrument.assign(path.view());
      PostMessageW(App().mainWindow, kMsgOpenInstrument, 0, 0);
    }
    return true;
  }
  if (!FirstDroppedFile(drop, HasCardFileExtension16, path)) return false;
  if (step == DropStep::Drop) {
    // Opened once the drop has returned: a box in here would hold the
    // program the file was dragged from.
    g_arriving.Arrive(path.view(), false);
    PostMessageW(App().mainWindow, kMsgOpenArrived, 0, 0);
  }
  return true;
}

// --- About box -----------------------------------------------------------------------------

INT_PTR CALLBACK AboutProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      SetDlgItemTextW(dlg, IDC_ABOUT_TITLE, reinterpret_cast<const wchar_t*>(App().title.terminated()));
      Utf16Text<64> notice;
      if (ReadVersionString(L"LegalCopyright", notice))
        SetDlgItemTextW(dlg, IDC_ABOUT_NOTICE, reinterpret_cast<const wchar_t*>(notice.terminated()));
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dlg, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(dlg, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// --- Creation and commands ------------------------------------------------------------

bool CreateMainWindow(HWND hwnd) {
  App().mainWindow = hwnd;
  g_state.frame.table = g_table;
  g_state.frame.count = MainRow::kCount;
  g_state.frame.clientWidth = 330;
  g_state.frame.clientHeight = 486;
  g_state.refreshing = false;
  g_state.editingIndex = -1;
  g_state.dragIndex = -1;
  g_state.dragExtraItem = false;

  QueryDpi(hwnd, g_state.frame.dpiX, g_state.frame.dpiY);
  ApplyTitleBarMode(hwnd);
  if (!CreateControls(g_table, MainRow::kCount, hwnd)) return false;

  HWND bank = CreateBankManagerWindow(hwnd);
  if (!bank) return false;
  App().bankManagerWindow = bank;

  DevicePanelControls dc;
  dc.mainWindow = hwnd;
  dc.deviceCombo = Row(MainRow::kDeviceCombo);
  dc.send = Row(MainRow::kSend);
  dc.bankManagerButton = Row(MainRow::kBankManager);
  dc.bankEdit = Row(MainRow::kBankEdit);
  dc.bankUpDown = Row(MainRow::kBankUpDown);
  dc.progress = Row(MainRow::kProgress);
  dc.status = Row(MainRow::kStatus);
  dc.bankManagerWindow = bank;
  DevicePanelAttach(dc);
  EnableWindow(Row(MainRow::kBankManager), FALSE);
  SendMessageW(Row(MainRow::kDeviceCombo), CB_RESETCONTENT, 0, 0);
  DevicePanelRescan();

  SendMessageW(Row(MainRow::kCardName), EM_LIMITTEXT, 10, 0);
  MakeDragList(Row(MainRow::kMultiList));
  MakeDragList(Row(MainRow::kDrumList));
  g_state.dragListMessage = RegisterWindowMessageW(DRAGLISTMSGSTRING);
  SendMessageW(Row(MainRow::kBankEdit), EM_LIMITTEXT, 2, 0);

  RefreshMainWindow();
  UpdateRemoveButtons();

  SizeWindowToFrame(hwnd, g_state.frame);
  LayoutControls(g_table, MainRow::kCount, g_state.frame.dpiX, g_state.frame.dpiY);
  ApplyFontsAndIcons(hwnd, g_state.frame);

  g_state.oleInitialised = SUCCEEDED(OleInitialize(nullptr));
  g_state.dropTarget = CreateFileDropTarget(DropCallback);
  if (g_state.dropTarget && FAILED(RegisterDragDrop(hwnd, g_state.dropTarget))) {
    g_state.dropTarget->Release();
    g_state.dropTarget = nullptr;
  }

  if (!App().startupPath.empty()) {
    const Utf16Text<1024> path = App().startupPath;
    CommandOpenPath16(path.view(), PathSource::CommandLine);
  }
  return true;
}

void DestroyMainWindow(HWND hwnd) {
  DevicePanelJoinWorkers();
  DevicePanelDetach();
  if (g_state.dropTarget) {
    RevokeDragDrop(hwnd);
    g_state.dropTarget->Release();
    g_state.dropTarget = nullptr;
  }
  if (g_state.oleInitialised) OleUninitialize();
  g_state.oleInitialised = false;
  if (App().bankManagerWindow) DestroyWindow(App().bankManagerWindow);
  App().bankManagerWindow = nullptr;
  PostQuitMessage(0);
}

void Command(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  HWND control = reinterpret_cast<HWND>(lParam);
  const UINT code = HIWORD(wParam);
  if (!control) {
    switch (LOWORD(wParam)) {
      case IDM_FILE_NEW: CommandNew(); return;
      case IDM_FILE_OPEN: CommandOpen(); return;
      case IDM_FILE_SAVE: CommandSave(); return;
      case IDM_FILE_SAVE_AS: CommandSaveAs(); return;
      case IDM_FILE_FIT: ShowFitDialog(hwnd); return;
      case IDM_FILE_EXIT: SendMessageW(hwnd, WM_CLOSE, 0, 0); return;
      case IDM_HELP_ABOUT:
        DialogBoxW(App().instance, MAKEINTRESOURCEW(IDD_ABOUT), hwnd, AboutProc);
        return;
      default: return;
    }
  }
  // Command 1 comes from the bank manager window only (the Enter key's
  // IDOK from the dialog keyboard handling carries no window).
  if (control == App().bankManagerWindow && LOWORD(wParam) == 1) {
    DevicePanelStartClearing();
    return;
  }
  const std::ptrdiff_t row = FindControl(g_table, MainRow::kCount, control);
  switch (row) {
    case static_cast<std::ptrdiff_t>(MainRow::kCardName):
      if (code == EN_CHANGE) CardNameChanged();
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kMultiList):
    case static_cast<std::ptrdiff_t>(MainRow::kDrumList):
      if (code == LBN_DBLCLK) OpenSoundEditor(row == static_cast<std::ptrdiff_t>(MainRow::kMultiList));
      if (code == LBN_SELCHANGE || code == LBN_SELCANCEL) UpdateRemoveButtons();
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kMultiAdd):
      if (code == BN_CLICKED) AddSound(true);
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kMultiRemove):
      if (code == BN_CLICKED) RemoveSelectedSound(true);
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kDrumAdd):
      if (code == BN_CLICKED) AddSound(false);
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kDrumRemove):
      if (code == BN_CLICKED) RemoveSelectedSound(false);
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kDeviceCombo):
      if (code == CBN_SELCHANGE) {
        DevicePanelSelectionChanged();
        UpdateCardFigures();
      }
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kBankEdit):
      if (code == EN_CHANGE && !g_state.refreshing) DevicePanelBankChanged();
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kSend):
      if (code == BN_CLICKED) DevicePanelSend();
      break;
    case static_cast<std::ptrdiff_t>(MainRow::kBankManager):
      if (code == BN_CLICKED && App().bankManagerWindow) {
        ShowWindow(App().bankManagerWindow, SW_SHOW);
        SetForegroundWindow(App().bankManagerWindow);
      }
      break;
    default:
      break;
  }
}

}  // namespace

ControlSpec* MainControlTable() { return g_table; }
HWND MainControl(std::size_t row) { return row < MainRow::kCount ? g_table[row].hwnd : nullptr; }
void MainWindowDpi(std::int32_t& dpiX, std::int32_t& dpiY) {
  dpiX = g_state.frame.dpiX;
  dpiY = g_state.frame.dpiY;
}
Utf8Text<260>& CurrentCardPath() { return g_currentPath; }
IDropTarget* MainWindowDropTarget() { return g_state.dropTarget; }

void UpdateMainTitle() {
  if (!App().mainWindow) return;
  WindowTitle t = BuildMainTitle(App().title.view(), g_currentPath.view(), TheDocument().modified);
  SetWindowTextW(App().mainWindow, reinterpret_cast<const wchar_t*>(t.terminated()));
}

void UpdateCardFigures() {
  if (!Row(MainRow::kFreeMemory)) return;
  CardDocument& doc = TheDocument();
  const CardStatistics& stats = doc.ComputeStatistics(DevicePanelWideLayout());
  const CardFigures f = FormatCardFigures(stats, doc.cardCapacity);
  SetText16(Row(MainRow::kSampleCount), f.sampleCount.view());
  SetText16(Row(MainRow::kCardSize), f.cardSize.view());
  SetText16(Row(MainRow::kFreeMemory), f.freeMemory.view());
  ControlSpec& free = g_table[MainRow::kFreeMemory];
  free.flags |= ControlFlags::kOwnTextColour;
  free.textColour = f.freeNegative ? RGB(255, 0, 0) : GetSysColor(COLOR_BTNTEXT);
  InvalidateRect(free.hwnd, nullptr, TRUE);
}

void RefreshMainWindow() {
  if (!App().mainWindow || !Row(MainRow::kCardName)) return;
  g_state.refreshing = true;
  UpdateMainTitle();
  Utf16Text<16> name;
  name.assignUtf8(TheDocument().name.view());
  SetWindowTextW(Row(MainRow::kCardName), reinterpret_cast<const wchar_t*>(name.terminated()));
  FillList(Row(MainRow::kMultiList), TheDocument().multisounds);
  FillList(Row(MainRow::kDrumList), TheDocument().drumsounds);
  DevicePanelUpdateControls();
  UpdateCardFigures();
  g_state.refreshing = false;
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_state.dragListMessage != 0 && msg == g_state.dragListMessage)
    return DragListNotification(reinterpret_cast<const DRAGLISTINFO*>(lParam));
  LRESULT result = 0;
  if (g_state.frame.table && HandleFrameMessage(hwnd, g_state.frame, msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_CREATE:
      return CreateMainWindow(hwnd) ? 0 : -1;
    case WM_DESTROY:
      DestroyMainWindow(hwnd);
      return 0;
    case WM_NCDESTROY:
      ReleaseFrame(g_state.frame);
      g_state.frame.table = nullptr;
      if (App().mainWindow == hwnd) App().mainWindow = nullptr;
      App().editorWindow = nullptr;
      g_state.dragListMessage = 0;
      break;
    case WM_CLOSE:
      CommandClose();
      return 0;
    case WM_ACTIVATEAPP:
      if (wParam && !IsWindowEnabled(hwnd) && App().editorWindow && IsWindowVisible(App().editorWindow)) {
        if (IsIconic(App().editorWindow)) ShowWindow(App().editorWindow, SW_RESTORE);
        SetForegroundWindow(App().editorWindow);
      }
      return 0;
    case WM_COPYDATA: {
      // Data from another process: only identifier 1 with a bounded length
      // is taken, copied here, and opened once the sender has its answer, so
      // that a prompt or a message box never keeps the other process waiting.
      const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      Utf16View path;
      if (!cds || !AcceptHandOver(cds->dwData, cds->cbData, cds->lpData, path)) return FALSE;
      g_arriving.Arrive(path, true);
      PostMessageW(hwnd, kMsgOpenArrived, 0, 0);
      return TRUE;
    }
    case kMsgOpenInstrument:
      if (!g_droppedInstrument.empty()) OpenInstrumentChooser(hwnd, g_droppedInstrument.view());
      g_droppedInstrument.clear();
      return 0;
    case kMsgOpenArrived:
    case kMsgEditorClosed:
      OpenArrivedCardFile();
      return 0;
    case WM_COMMAND:
      Command(hwnd, wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      return 0;
    case WM_DEVICECHANGE:
      if (wParam == DBT_DEVNODES_CHANGED) DevicePanelRescan();
      return TRUE;
    case kMsgSoundEdited:
      return SoundEdited(wParam) ? 1 : 0;
    case kMsgUpdateDeviceControls:
      DevicePanelUpdateControls();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace tavrin
