// The card-file commands of the main window: New, Open, Save, Save As,
// Open-path with the load step, the common file dialogs, the remembered
// folder "LastCardPath" and the save-changes prompt with its pending action.
#include <windows.h>
#include <commdlg.h>

#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/main_window_gui_win.h"
#include "card/card_file.h"

namespace tavrin {
namespace {

constexpr wchar_t kRegistryKey[] = L"SOFTWARE\\Veltrovana\\Tavrin";
constexpr wchar_t kLastCardPath[] = L"LastCardPath";
// "Tavrin Card", a zero, "*." and the extension, two zeros.
constexpr wchar_t kFilter[] = L"Tavrin Card\0*.qz\0\0";

PendingActionState g_pending;
Utf8Text<260> g_pendingPath;

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

// The folder last used by a card-file dialog; false when it cannot be read.
bool ReadLastCardPath(wchar_t (&folder)[261]) {
  DWORD bytes = 520;
  folder[0] = 0;
  const LSTATUS s =
      RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, kLastCardPath, RRF_RT_REG_SZ, nullptr, folder, &bytes);
  folder[260] = 0;
  return s == ERROR_SUCCESS;
}

void StoreLastCardPath(const wchar_t* file) {
  const Utf16View path(reinterpret_cast<const char16_t*>(file));
  Utf16Text<261> folder;
  folder.assign(FolderOfPath16(path));
  RegSetKeyValueW(HKEY_CURRENT_USER, kRegistryKey, kLastCardPath, REG_SZ, folder.terminated(),
                  static_cast<DWORD>((folder.length + 1) * sizeof(wchar_t)));
}

void ShowPathTooLong() {
  MessageText text = LoadFailureText(kPathTooLongReason);
  AppMessageBox(App().mainWindow, W(text.terminated()), MB_OK | MB_ICONERROR);
}

// Shows the open or save dialog; the chosen path in UTF-8, false on cancel or
// when the path is too long to keep.
bool ShowCardDialog(bool save, Utf8Text<260>& chosen) {
  wchar_t file[261] = {};
  wchar_t initial[261] = {};
  const bool haveInitial = ReadLastCardPath(initial);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = App().mainWindow;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = 260;
  ofn.lpstrInitialDir = haveInitial ? initial : nullptr;
  if (save) {
    ofn.lpstrDefExt = L"qz";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetSaveFileNameW(&ofn)) return false;
  } else {
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!GetOpenFileNameW(&ofn)) return false;
  }
  StoreLastCardPath(file);
  if (!AssignPathFromUtf16(chosen, Utf16View(reinterpret_cast<const char16_t*>(file)))) {
    if (save) {
      AppMessageBox(App().mainWindow, W(kSaveFailedText), MB_OK | MB_ICONERROR);
    } else {
      ShowPathTooLong();
    }
    return false;
  }
  return true;
}

void SelectFirstEntries() {
  SendMessageW(MainControl(MainRow::kMultiList), LB_SETCURSEL, 0, 0);
  SendMessageW(MainControl(MainRow::kDrumList), LB_SETCURSEL, 0, 0);
  const bool multi = SendMessageW(MainControl(MainRow::kMultiList), LB_GETCURSEL, 0, 0) != LB_ERR;
  const bool drum = SendMessageW(MainControl(MainRow::kDrumList), LB_GETCURSEL, 0, 0) != LB_ERR;
  EnableWindow(MainControl(MainRow::kMultiRemove), multi);
  EnableWindow(MainControl(MainRow::kDrumRemove), drum);
  SetFocus(MainControl(MainRow::kMultiList));
}

// Saves to path; reports a failure with its reason, and sounds the card
// could not hold. The outcome for a pending action.
SaveOutcome SaveTo(Utf8View path) {
  Utf8Text<260> target;
  target.assign(path);
  SaveReport report;
  const Result r = SaveCardFile(target.view(), TheDocument(), &report);
  if (r == kOk) {
    CurrentCardPath() = target;
  } else {
    MessageText text = SaveFailureText(r, report.refusal.view());
    AppMessageBox(App().mainWindow, W(text.terminated()), MB_OK | MB_ICONERROR);
  }
  RefreshMainWindow();
  if (r == kOk && report.soundsLeftOut != 0) {
    Utf16Text<64> text = LeftOutText(report.soundsLeftOut);
    DevicePanelSetStatus(W(text.terminated()));
  }
  return r == kOk ? SaveOutcome::Saved : SaveOutcome::Failed;
}

SaveOutcome SaveAsDialog() {
  Utf8Text<260> chosen;
  if (!ShowCardDialog(true, chosen)) return SaveOutcome::Cancelled;
  return SaveTo(chosen.view());
}

SaveOutcome SaveCurrent() {
  if (!CurrentCardPath().empty()) return SaveTo(CurrentCardPath().view());
  return SaveAsDialog();
}

void DoNew() {
  TheDocument().Reset();
  CurrentCardPath().clear();
  DevicePanelResetStatus();
  RefreshMainWindow();
}

void DoOpenDialog() {
  Utf8Text<260> chosen;
  if (ShowCardDialog(false, chosen)) LoadStep(chosen.view());
}

void RunAction(PendingAction action) {
  switch (action) {
    case PendingAction::New: DoNew(); break;
    case PendingAction::Open: DoOpenDialog(); break;
    case PendingAction::OpenPath: {
      Utf8Text<260> path = g_pendingPath;
      LoadStep(path.view());
      break;
    }
    case PendingAction::Close:
      if (App().mainWindow) DestroyWindow(App().mainWindow);
      break;
    case PendingAction::None: break;
  }
}

// The save-changes prompt for a modified document.
void AskSaveChanges(PendingAction action) {
  g_pending.Set(action);
  const int answer = AppMessageBox(App().mainWindow, W(kSavePromptText), MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDYES) {
    g_pending.Answer(PromptAnswer::Yes);
    const SaveOutcome outcome = SaveCurrent();
    RunAction(g_pending.AfterSave(outcome));
  } else if (answer == IDNO) {
    TheDocument().modified = false;
    UpdateMainTitle();  // also when the action is then cancelled
    RunAction(g_pending.Answer(PromptAnswer::No));
  } else {
    g_pending.Answer(PromptAnswer::Cancel);
  }
}

}  // namespace

void LoadStep(Utf8View path) {
  const Result r = LoadCardFile(path, TheDocument());
  if (r == kOk) {
    CurrentCardPath().assign(path);
    DevicePanelResetStatus();
  } else {
    Utf16Text<261> shown;
    shown.assignUtf8(path);
    MessageText text = LoadFailureText(LoadFailureReason(r), shown.view());
    AppMessageBox(App().mainWindow, W(text.terminated()), MB_OK | MB_ICONERROR);
  }
  RefreshMainWindow();
  SelectFirstEntries();
}

void CommandNew() {
  if (TheDocument().modified) {
    AskSaveChanges(PendingAction::New);
    return;
  }
  DoNew();
}

void CommandOpen() {
  if (TheDocument().modified) {
    AskSaveChanges(PendingAction::Open);
    return;
  }
  DoOpenDialog();
}

void CommandSave() { SaveCurrent(); }

void CommandSaveAs() { SaveAsDialog(); }

void CommandClose() {
  if (TheDocument().modified) {
    AskSaveChanges(PendingAction::Close);
    return;
  }
  if (App().mainWindow) DestroyWindow(App().mainWindow);
}

void CommandOpenPath(Utf8View path, PathSource source) {
  if (TheDocument().modified) {
    g_pendingPath.assign(path);
    AskSaveChanges(PendingAction::OpenPath);
    return;
  }
  if (source == PathSource::SecondInstance && SameCardPath(path, CurrentCardPath().view())) return;
  LoadStep(path);
}

void CommandOpenPath16(Utf16View path, PathSource source) {
  Utf8Text<260> utf8;
  if (!AssignPathFromUtf16(utf8, path)) {
    ShowPathTooLong();
    return;
  }
  CommandOpenPath(utf8.view(), source);
}

}  // namespace tavrin
