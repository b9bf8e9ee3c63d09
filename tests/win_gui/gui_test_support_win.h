// Helpers of the window tests: the application set up once per test program,
// message pumping, saved card-files, a second thread that answers modal boxes
// by pressing their buttons, and the fixture with a fresh main window.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_gui_win.h"
#include "app/main_window_gui_win.h"

namespace tavrin::test {

inline constexpr wchar_t kTitle[] = L"Tavrin v2.1.0";
inline std::wstring Title(const wchar_t* suffix) { return kTitle + std::wstring(suffix); }

// The folder of the simulated device of this test program, and a scratch
// folder (Windows paths with a trailing backslash).
const std::wstring& SimulatedDeviceFolder();
const std::wstring& ScratchFolder();
inline Utf8Text<260> Utf8Path(const std::wstring& path) {
  Utf8Text<260> utf8;
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  return utf8;
}

// One multisound "Piano" with one sample of `frames` frames.
void FillCard(CardDocument& doc, const char* name, std::size_t frames = 1000, bool dwgs = false);
// Such a card saved in the scratch folder; its path.
std::wstring SaveCard(const wchar_t* fileName, const char* cardName, std::size_t frames = 1000,
                      bool dwgs = false);

// Dispatches every waiting message of this thread (a quit message is dropped).
inline void Pump() {
  for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
    if (m.message != WM_QUIT) DispatchMessageW(&m);
}
// A key pressed in `to`, through the program's own message loop.
inline void KeyThroughMessageLoop(HWND to, WPARAM key) {
  PostMessageW(to, WM_KEYDOWN, key, 1);
  PostQuitMessage(0);
  RunMessageLoop();
}
// Pumps until done() or the time-out; true when done() became true.
template <class F>
bool PumpUntil(F done, int milliseconds = 10000) {
  for (const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds); !done(); Sleep(5)) {
    if (GetTickCount64() > end) return false;
    Pump();
  }
  return true;
}

inline std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}
inline std::wstring ClassName(HWND hwnd) {
  wchar_t buffer[128] = {};
  GetClassNameW(hwnd, buffer, 128);
  return buffer;
}

// A shell data object naming these files of the scratch folder, as Explorer
// hands it to a drop target (the caller releases it).
IDataObject* ShellFiles(const std::vector<std::wstring>& names);

// One step: optionally put text into a dialog item, then press a button.
struct BoxAnswer {
  BoxAnswer(int b, int item = 0, std::wstring t = L"") : button(b), textItem(item), text(std::move(t)) {}
  int button, textItem;
  std::wstring text;
};
// Waits, on another thread, for each modal box of this process in turn while
// action() runs, and answers it. What each box showed: its caption and every
// static text but icons, joined by "|".
std::vector<std::wstring> Answering(std::vector<BoxAnswer> answers, const std::function<void()>& action);
using Boxes = std::vector<std::wstring>;

// A fresh empty document and a shown main window for each test; the window
// is destroyed afterwards without a save-changes prompt.
class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    TheDocument().Reset();
    CurrentCardPath().clear();
    ASSERT_TRUE(CreateApplicationWindows(SW_SHOW));
    main_ = App().mainWindow;
    Pump();
  }
  void TearDown() override {
    TheDocument().modified = false;
    if (IsWindow(main_)) DestroyWindow(main_);
    Pump();
  }
  static HWND Control(std::size_t row) { return MainControl(row); }
  static void Click(HWND parent, HWND button) {
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }
  void Click(std::size_t row) { Click(main_, Control(row)); }
  void Menu(WORD command) { SendMessageW(main_, WM_COMMAND, MAKEWPARAM(command, 0), 0); }
  void ListCommand(std::size_t listRow, WORD code) {
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, code), reinterpret_cast<LPARAM>(Control(listRow)));
  }
  void SelectInList(std::size_t listRow, int index) {
    SendMessageW(Control(listRow), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ListCommand(listRow, LBN_SELCHANGE);
  }
  // The items of a list box, joined by "|"; the selected one marked ">".
  static std::wstring Items(std::size_t listRow) {
    std::wstring all;
    const LRESULT selected = SendMessageW(Control(listRow), LB_GETCURSEL, 0, 0);
    for (LRESULT i = 0, n = SendMessageW(Control(listRow), LB_GETCOUNT, 0, 0); i < n; ++i) {
      wchar_t item[64] = {};
      SendMessageW(Control(listRow), LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
      all += std::wstring(i ? L"|" : L"") + (i == selected ? L">" : L"") + item;
    }
    return all;
  }
  // Hands a path over as a second instance does; the window's answer.
  LRESULT HandOver(const std::wstring& path) {
    COPYDATASTRUCT cds = {1, static_cast<DWORD>(path.size() * 2), const_cast<wchar_t*>(path.c_str())};
    const LRESULT answer = SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    Pump();
    return answer;
  }
  HWND main_ = nullptr;
};

}  // namespace tavrin::test
