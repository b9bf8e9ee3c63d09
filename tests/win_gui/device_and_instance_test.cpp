// The send-to-card controls and the bank manager with the simulated device,
// and two processes of Tavrin.exe handing a card-file over.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "app/device_panel_gui_win.h"
#include "device/simulated_device.h"
#include "device/usb_backend.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::PumpUntil;
using test::Title;
using test::WindowText;

using DeviceWindowTest = test::MainWindowFixture;

TEST_F(DeviceWindowTest, SendRefusesTooMuchDataAndOnlyDwgs) {
  for (const auto& [frames, dwgs, message] :
       {std::tuple(300000, false,
                   L"Too much data for the card\n\nCurrent Size: 600102 Byte\nMaximum Size: 524288 Byte\n\n"
                   L"Fit to Card now?"),
        std::tuple(1020, true,
                   L"Only DWGS Multisounds\n\nTo use DWGS Multisound(s) you also need to have at least one "
                   L"PCM Multisound. Check the manual for more information.")}) {
    TheDocument().Reset();
    test::FillCard(TheDocument(), "REFUSED", frames, dwgs);
    RefreshMainWindow();
    EXPECT_EQ(test::Answering({dwgs ? IDOK : IDNO}, [this] { Click(MainRow::kSend); }),
              test::Boxes{Title(L"|") + message});
    EXPECT_EQ(WindowText(Control(MainRow::kStatus)), L"Idle");
  }
}

TEST_F(DeviceWindowTest, SendToTheSimulatedDeviceAndClearInTheBankManager) {
  HWND bank = App().bankManagerWindow;
  HWND list = BankManagerControl(0);
  const auto row = [list](int i) {
    wchar_t number[8] = {}, name[32] = {};
    ListView_GetItemText(list, i, 0, number, 8);
    ListView_GetItemText(list, i, 1, name, 32);
    return std::wstring(number) + L" " + name;
  };
  // The bank manager's size and columns; the name column takes the rest.
  RECT r = {};
  GetWindowRect(bank, &r);
  SendMessageW(bank, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&r));
  GetClientRect(bank, &r);
  EXPECT_EQ(std::pair(r.right, r.bottom), std::pair(360L, 580L));
  const auto column = [list](int i) {
    wchar_t text[16] = {};
    LVCOLUMNW c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = text;
    c.cchTextMax = 16;
    ListView_GetColumn(list, i, &c);
    return std::wstring(text) + L" " + std::to_wstring(c.cx);
  };
  GetClientRect(list, &r);
  EXPECT_EQ(column(0) + L"|" + column(1), L"Bank-Nr. 70|Name " + std::to_wstring(r.right - 70));
  EXPECT_EQ(WindowText(BankManagerControl(2)), L"OK");

  test::FillCard(TheDocument(), "TESTCARD", 2000);
  RefreshMainWindow();
  SetWindowTextW(Control(MainRow::kBankEdit), L"2");  // bank 2 as the target
  Click(MainRow::kSend);
  HWND progress = Control(MainRow::kProgress);
  HWND status = Control(MainRow::kStatus);
  int largestRange = 0;
  ASSERT_TRUE(PumpUntil([&] {
    largestRange = std::max(largestRange, static_cast<int>(SendMessageW(progress, PBM_GETRANGE, FALSE, 0)));
    return wcsncmp(WindowText(status).c_str(), L"Transfer Successful: Bank 2 (Time: ", 35) == 0;
  }, 60000)) << WindowText(status);
  const std::wregex done(L"Transfer Successful: Bank 2 \\(Time: \\d+,\\d\\ds\\)");  // seconds and hundredths
  EXPECT_TRUE(std::regex_match(WindowText(status), done)) << WindowText(status);
  EXPECT_EQ(largestRange, 524288);
  // The last update of the run enables the controls again after the
  // progress bar went back to 0.
  EXPECT_TRUE(PumpUntil([&] { return IsWindowEnabled(Control(MainRow::kSend)) != FALSE; }, 5000));
  EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
  WIN32_FILE_ATTRIBUTE_DATA attrs = {};
  const std::wstring bank2 = test::SimulatedDeviceFolder() + L"bank2.bin";
  ASSERT_TRUE(GetFileAttributesExW(bank2.c_str(), GetFileExInfoStandard, &attrs));
  EXPECT_EQ(attrs.nFileSizeLow, 524288u);

  // The bank manager lists the bank with the card's name.
  Click(MainRow::kBankManager);
  EXPECT_TRUE(IsWindowVisible(bank));
  EXPECT_EQ(ListView_GetItemCount(list), 16);
  EXPECT_EQ(row(0) + L"|" + row(1), L"1 (empty)|2 TESTCARD");
  EXPECT_EQ(WindowText(BankManagerControl(3)), L"Idle");
  EXPECT_FALSE(IsWindowEnabled(BankManagerControl(1)));
  ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SetItemState(list, 3, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(WindowText(BankManagerControl(1)), L"Clear Selected Banks");
  ListView_SetItemState(list, 3, 0, LVIS_SELECTED);
  EXPECT_EQ(WindowText(BankManagerControl(1)), L"Clear Selected Bank");
  EXPECT_TRUE(IsWindowEnabled(BankManagerControl(1)));
  // Enter in the main window (IDOK without a window) clears nothing.
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_FALSE(PumpUntil([&] { return WindowText(BankManagerControl(3)) != L"Idle"; }, 1000));
  Click(bank, BankManagerControl(1));
  ASSERT_TRUE(PumpUntil([&] { return WindowText(BankManagerControl(3)) == L"Clearing successful"; }, 30000))
      << WindowText(BankManagerControl(3));
  EXPECT_EQ(row(1), L"2 (empty)");
  EXPECT_EQ(ListView_GetSelectedCount(list), 0u);
  EXPECT_TRUE(IsWindowEnabled(list));
  // "OK" hides the window, and so does closing it.
  Click(bank, BankManagerControl(2));
  EXPECT_FALSE(IsWindowVisible(bank));
  ShowWindow(bank, SW_SHOW);
  SendMessageW(bank, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(bank) && !IsWindowVisible(bank));
}

TEST_F(DeviceWindowTest, AFailedSendSaysWhatItLeftInTheBank) {
  auto& sim = static_cast<SimulatedUsbBackend&>(DefaultUsbBackend());
  sim.SetFaults(0, {.shortBulk = 3});  // the device keeps the first 2 KiB
  test::FillCard(TheDocument(), "PARTIAL", 2000);
  RefreshMainWindow();
  SetWindowTextW(Control(MainRow::kBankEdit), L"3");
  Click(MainRow::kSend);
  EXPECT_TRUE(PumpUntil([&] { return WindowText(Control(MainRow::kStatus)).starts_with(L"Bank 3 now"); }, 60000));
  EXPECT_EQ(WindowText(Control(MainRow::kStatus)), L"Bank 3 now holds an incomplete card: send it again");
  sim.SetFaults(0, {});
  wchar_t name[32] = {};  // the bank manager shows what the device reports for the bank now
  ListView_GetItemText(BankManagerControl(0), 2, 1, name, 32);
  EXPECT_STREQ(name, L"PARTIAL");
}

TEST_F(DeviceWindowTest, PanelFollowsBankCountCapabilitiesAndAbsence) {
  auto& sim = static_cast<SimulatedUsbBackend&>(DefaultUsbBackend());
  test::FillCard(TheDocument(), "FIGURES");
  RefreshMainWindow();
  const long size = std::stol(WindowText(Control(MainRow::kCardSize)));
  // Controls as "send|bank manager|bank field writable|arrows|free memory".
  const auto panel = [this] {
    DevicePanelRescan();
    const bool writable = (GetWindowLongPtrW(Control(MainRow::kBankEdit), GWL_STYLE) & ES_READONLY) == 0;
    return std::to_wstring(IsWindowEnabled(Control(MainRow::kSend))) + L"|" +
           std::to_wstring(IsWindowEnabled(Control(MainRow::kBankManager))) + L"|" + std::to_wstring(writable) +
           L"|" + std::to_wstring(IsWindowEnabled(Control(MainRow::kBankUpDown))) + L"|" +
           WindowText(Control(MainRow::kFreeMemory));
  };
  const auto free = [size](long memory) { return std::to_wstring(memory - size) + L" Byte"; };
  // One bank and no bank directory (capability 0x04): the bank is fixed and
  // the bank manager has nothing to list.
  SimulatedDeviceConfig one;
  one.bankCount = 1;
  one.serialNumber = 77;
  one.memorySize = 1048576;
  one.capabilities = 0x02;
  sim.Unplug(0);
  const std::size_t added = sim.AddDevice(one);
  EXPECT_EQ(panel(), L"1|0|0|0|" + free(1048576));
  EXPECT_EQ(ListView_GetItemCount(BankManagerControl(0)), 0);
  EXPECT_FALSE(IsWindowEnabled(BankManagerControl(1)));
  // No device at all: nothing to send to, the free memory of the standard card.
  sim.Unplug(added);
  EXPECT_EQ(panel(), L"0|0|0|0|" + free(524288));
  sim.Plug(0);
  EXPECT_EQ(panel(), L"1|1|1|1|" + free(524288));
}

// Starts Tavrin.exe with these arguments in this working folder; the process.
HANDLE Start(const std::wstring& args, const wchar_t* folder = nullptr) {
  std::wstring command = L"\"Z:" TAVRIN_EXE_PATH "\" " + args;
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  EXPECT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi));
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

// Waits for the process to end; its exit code.
DWORD ExitCode(HANDLE process) {
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process, &code);
  else
    TerminateProcess(process, code);
  CloseHandle(process);
  return code;
}

TEST(TwoProcesses, SecondStartsHandTheirCardFileOver) {
  ASSERT_EQ(App().mainWindow, nullptr);
  const std::wstring card = test::SaveCard(L"second.qz", "SECOND");
  test::SaveCard(L"relative.qz", "RELATIVE");
  const HANDLE first = Start(L"");
  HWND main = nullptr;
  const auto started = [&] {
    return WindowText(main = FindWindowW(kMainWindowClass, nullptr)) == Title(L" - Unnamed");
  };
  ASSERT_TRUE(PumpUntil(started, 20000));

  // Each second start exits with 0; with one path the first loads it, without
  // one it only comes forward, and more arguments are ignored. A relative
  // path is resolved in the second instance's working folder (not the first's).
  for (const auto& [args, title] : {std::pair(L"\"" + card + L"\"", L" - second"),
                                    {L"", L" - second"},
                                    {L"relative.qz", L" - relative"},
                                    {L"\"" + card + L"\" extra", L" - relative"}}) {
    EXPECT_EQ(ExitCode(Start(args, test::ScratchFolder().c_str())), 0u) << args;
    Sleep(300);
    EXPECT_TRUE(PumpUntil([&] { return WindowText(main) == Title(title); })) << args << ": "
                                                                              << WindowText(main);
  }
  // Closing the unmodified first instance ends it with 0.
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(ExitCode(first), 0u);

  // Holding the single-instance mutex without a main window: a start takes
  // the second-instance path, finds nobody to hand over to and exits with 1.
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  EXPECT_EQ(ExitCode(Start(L"")), 1u);
  CloseHandle(mutex);
}

}  // namespace
}  // namespace tavrin
