// The send-to-card controls and the bank manager with the simulated device,
// and two processes of Tavrin.exe handing a card-file over.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/main_window_gui_win.h"
#include "card/card_file.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::Pump;
using test::PumpUntil;
using test::WindowText;

void FillCard(CardDocument& doc, const char* name) {
  doc.name.assign(name);
  Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
  s->name.assign("Piano");
  SampleData* d = AppendSample(*s);
  d->frames.assign(2000, 0.25f);
  d->markers.start = 0;
  d->markers.loop = 0;
  d->markers.end = 2000;
}

std::wstring SaveCard(const wchar_t* fileName, const char* cardName) {
  CardDocument doc;
  FillCard(doc, cardName);
  const std::wstring path = test::ScratchFolder() + fileName;
  Utf8Text<260> utf8;
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  EXPECT_EQ(SaveCardFile(utf8.view(), doc), kOk);
  return path;
}

class DeviceWindowTest : public test::MainWindowFixture {
 protected:
  void Click(HWND parent, HWND button) {
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }
  std::wstring BankRow(int row, int column) {
    wchar_t buffer[64] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 64;
    SendMessageW(BankManagerControl(0), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
  }
  void SelectRow(int row, bool on) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED;
    item.state = on ? LVIS_SELECTED : 0;
    SendMessageW(BankManagerControl(0), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }
};

TEST_F(DeviceWindowTest, SimulatedDeviceSendAndClear) {
  HWND combo = MainControl(MainRow::kDeviceCombo);
  ASSERT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 1);
  wchar_t name[64] = {};
  SendMessageW(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(name));
  EXPECT_STREQ(name, L"Tavrin (1234)");
  EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
  EXPECT_TRUE(IsWindowEnabled(MainControl(MainRow::kSend)));
  EXPECT_TRUE(IsWindowEnabled(MainControl(MainRow::kBankManager)));
  EXPECT_TRUE(IsWindowEnabled(MainControl(MainRow::kBankUpDown)));
  EXPECT_EQ(GetWindowLongPtrW(MainControl(MainRow::kBankEdit), GWL_STYLE) & ES_READONLY, 0);

  // Enter in the main window (IDOK without a window) starts nothing.
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  Pump();
  EXPECT_EQ(WindowText(BankManagerControl(3)), L"Idle");

  FillCard(TheDocument(), "TESTCARD");
  RefreshMainWindow();
  // Bank 2 as the target.
  SetWindowTextW(MainControl(MainRow::kBankEdit), L"2");
  Click(main_, MainControl(MainRow::kSend));
  HWND progress = MainControl(MainRow::kProgress);
  HWND status = MainControl(MainRow::kStatus);
  int largestRange = 0;
  bool sawTransferred = false;
  ASSERT_TRUE(PumpUntil([&] {
    const int high = static_cast<int>(SendMessageW(progress, PBM_GETRANGE, FALSE, 0));
    if (high > largestRange) largestRange = high;
    const std::wstring text = WindowText(status);
    if (wcsncmp(text.c_str(), L"Transferred ", 12) == 0) sawTransferred = true;
    return wcsncmp(text.c_str(), L"Transfer Successful: Bank ", 26) == 0;
  }, 60000)) << WindowText(status);
  const std::wstring done = WindowText(status);
  EXPECT_EQ(done.back(), L')');
  EXPECT_NE(done.find(L','), std::wstring::npos);
  EXPECT_EQ(done.substr(done.size() - 2), L"s)");
  EXPECT_EQ(largestRange, 524288);
  (void)sawTransferred;  // the transfer may be too quick to see
  // The last update of the run enables the controls again after the
  // progress bar went back to 0.
  PumpUntil([&] { return IsWindowEnabled(MainControl(MainRow::kSend)) != FALSE; }, 5000);
  EXPECT_TRUE(IsWindowEnabled(MainControl(MainRow::kSend)));
  EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
  const std::wstring bankFile = test::SimulatedDeviceFolder() + L"bank2.bin";
  WIN32_FILE_ATTRIBUTE_DATA attrs = {};
  ASSERT_TRUE(GetFileAttributesExW(bankFile.c_str(), GetFileExInfoStandard, &attrs));
  EXPECT_EQ(attrs.nFileSizeLow, 524288u);

  // The bank manager lists the bank with the card's name.
  Click(main_, MainControl(MainRow::kBankManager));
  HWND bank = App().bankManagerWindow;
  EXPECT_TRUE(IsWindowVisible(bank));
  EXPECT_EQ(SendMessageW(BankManagerControl(0), LVM_GETITEMCOUNT, 0, 0), 16);
  EXPECT_EQ(BankRow(1, 0), L"2");
  EXPECT_EQ(BankRow(1, 1), L"TESTCARD");
  EXPECT_EQ(BankRow(0, 1), L"(empty)");
  EXPECT_EQ(WindowText(BankManagerControl(3)), L"Idle");
  EXPECT_FALSE(IsWindowEnabled(BankManagerControl(1)));

  SelectRow(1, true);
  SelectRow(3, true);
  EXPECT_EQ(WindowText(BankManagerControl(1)), L"Clear Selected Banks");
  SelectRow(3, false);
  EXPECT_EQ(WindowText(BankManagerControl(1)), L"Clear Selected Bank");
  EXPECT_TRUE(IsWindowEnabled(BankManagerControl(1)));
  Click(bank, BankManagerControl(1));
  ASSERT_TRUE(PumpUntil([&] { return WindowText(BankManagerControl(3)) == L"Clearing successful"; }, 30000))
      << WindowText(BankManagerControl(3));
  EXPECT_EQ(BankRow(1, 1), L"(empty)");
  EXPECT_EQ(SendMessageW(BankManagerControl(0), LVM_GETSELECTEDCOUNT, 0, 0), 0);
  EXPECT_TRUE(IsWindowEnabled(BankManagerControl(0)));
  // "OK" hides the window.
  Click(bank, BankManagerControl(2));
  EXPECT_FALSE(IsWindowVisible(bank));
}

TEST_F(DeviceWindowTest, BankManagerLayoutAndClose) {
  HWND bank = App().bankManagerWindow;
  RECT wr = {};
  GetWindowRect(bank, &wr);
  SendMessageW(bank, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&wr));
  RECT client = {};
  GetClientRect(bank, &client);
  EXPECT_EQ(client.right, 360);
  EXPECT_EQ(client.bottom, 580);
  const int expected[4][4] = {{10, 10, 340, 498}, {10, 518, 200, 23}, {250, 518, 100, 23}, {10, 547, 360, 23}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const RECT r = test::ChildRect(BankManagerControl(static_cast<std::size_t>(i)));
    EXPECT_EQ(r.left, expected[i][0]);
    EXPECT_EQ(r.top, expected[i][1]);
    EXPECT_EQ(r.right - r.left, expected[i][2]);
    EXPECT_EQ(r.bottom - r.top, expected[i][3]);
  }
  EXPECT_EQ(WindowText(BankManagerControl(1)), L"Clear Selected Bank");
  EXPECT_EQ(WindowText(BankManagerControl(2)), L"OK");
  wchar_t header[32] = {};
  LVCOLUMNW col = {};
  col.mask = LVCF_TEXT | LVCF_WIDTH;
  col.pszText = header;
  col.cchTextMax = 32;
  SendMessageW(BankManagerControl(0), LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
  EXPECT_STREQ(header, L"Bank-Nr.");
  EXPECT_EQ(col.cx, 70);
  SendMessageW(BankManagerControl(0), LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
  EXPECT_STREQ(header, L"Name");
  // Closing only hides it.
  ShowWindow(bank, SW_SHOW);
  SendMessageW(bank, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(bank));
  EXPECT_FALSE(IsWindowVisible(bank));
}

// --- Two processes -----------------------------------------------------------------

std::wstring ExePath() {
  std::wstring p = L"Z:";
  for (const char* c = TAVRIN_EXE_PATH; *c; ++c) p += (*c == '/') ? L'\\' : static_cast<wchar_t>(*c);
  return p;
}

struct Process {
  PROCESS_INFORMATION pi = {};
  bool started = false;
  ~Process() {
    if (started) {
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
  }
};

bool Start(Process& p, const std::wstring& args, const wchar_t* folder = nullptr) {
  std::wstring cmd = L"\"" + ExePath() + L"\"";
  if (!args.empty()) cmd += L" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  p.started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &p.pi) != FALSE;
  return p.started;
}

DWORD WaitExit(Process& p, DWORD ms = 20000) {
  if (WaitForSingleObject(p.pi.hProcess, ms) != WAIT_OBJECT_0) return 0xFFFFFFFF;
  DWORD code = 0;
  GetExitCodeProcess(p.pi.hProcess, &code);
  return code;
}

HWND MainWindowOf(DWORD pid) {
  for (HWND w = FindWindowW(kMainWindowClass, nullptr); w; w = FindWindowExW(nullptr, w, kMainWindowClass, nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid) return w;
  }
  return nullptr;
}

bool WaitFor(HWND w, const std::wstring& title, int ms = 20000) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (GetTickCount64() < end) {
    if (WindowText(w) == title) return true;
    Sleep(50);
  }
  return false;
}

TEST(TwoProcesses, SecondStartHandsItsCardFileOver) {
  ASSERT_EQ(App().mainWindow, nullptr);
  const std::wstring card = SaveCard(L"second.qz", "SECOND");
  SaveCard(L"relative.qz", "RELATIVE");
  Process first;
  ASSERT_TRUE(Start(first, L""));
  HWND main = nullptr;
  const ULONGLONG end = GetTickCount64() + 20000;
  while (!(main = MainWindowOf(first.pi.dwProcessId)) && GetTickCount64() < end) Sleep(50);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor(main, L"Tavrin v2.1.0 - Unnamed"));

  // A second start with a path: the first loads it, the second exits with 0.
  Process second;
  ASSERT_TRUE(Start(second, L"\"" + card + L"\""));
  EXPECT_EQ(WaitExit(second), 0u);
  EXPECT_TRUE(WaitFor(main, L"Tavrin v2.1.0 - second")) << WindowText(main);

  // A second start without arguments only brings the first forward.
  Process third;
  ASSERT_TRUE(Start(third, L""));
  EXPECT_EQ(WaitExit(third), 0u);
  Sleep(300);
  EXPECT_EQ(WindowText(main), L"Tavrin v2.1.0 - second");

  // A relative path is resolved in the second instance's working folder.
  Process fourth;
  ASSERT_TRUE(Start(fourth, L"relative.qz", test::ScratchFolder().c_str()));
  EXPECT_EQ(WaitExit(fourth), 0u);
  EXPECT_TRUE(WaitFor(main, L"Tavrin v2.1.0 - relative")) << WindowText(main);

  // Three or more arguments are ignored: nothing is handed over.
  Process fifth;
  ASSERT_TRUE(Start(fifth, L"\"" + card + L"\" extra"));
  EXPECT_EQ(WaitExit(fifth), 0u);
  Sleep(300);
  EXPECT_EQ(WindowText(main), L"Tavrin v2.1.0 - relative");

  // Closing the unmodified first instance ends it with 0.
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitExit(first), 0u);
  if (WaitForSingleObject(first.pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(first.pi.hProcess, 1);
}

TEST(TwoProcesses, SecondStartWithoutARunningWindowExitsWithOne) {
  // Holding the single-instance mutex without a main window: the started
  // process takes the second-instance path and finds nobody to hand over to.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  ASSERT_NE(mutex, nullptr);
  Process p;
  ASSERT_TRUE(Start(p, L""));
  EXPECT_EQ(WaitExit(p), 1u);
  CloseHandle(mutex);
}

}  // namespace
}  // namespace tavrin
