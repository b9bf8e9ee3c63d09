// What the user sees and gets: the bank typed is the bank written (or none),
// the status names it, and the card name field shows what the card keeps.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/main_window_gui_win.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::Title;
using test::WindowText;

// Every bank file of the simulated device with its last write time.
std::map<std::wstring, ULONGLONG> BankFiles() {
  std::map<std::wstring, ULONGLONG> files;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((test::SimulatedDeviceFolder() + L"bank*.bin").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    files[found.cFileName] = (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                             found.ftLastWriteTime.dwLowDateTime;
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return files;
}

class BankAndNameTest : public test::MainWindowFixture {};

TEST_F(BankAndNameTest, ABankTheDeviceLacksIsRefusedAndTheTypedOneIsUsed) {
  test::FillCard(TheDocument(), "BANKS", 500);
  HWND bank = Control(MainRow::kBankEdit);
  HWND status = Control(MainRow::kStatus);
  const auto before = BankFiles();
  for (const wchar_t* typed : {L"17", L"99", L"0"}) {
    SetWindowTextW(bank, typed);
    EXPECT_EQ(test::Answering({IDOK}, [this] { Click(MainRow::kSend); }),
              test::Boxes{Title(L"|There is no bank ") + typed + L" on this device: choose a bank from 1 to 16"});
    EXPECT_EQ(WindowText(bank), typed);  // left as typed
    EXPECT_EQ(WindowText(status), L"Idle");
  }
  EXPECT_EQ(BankFiles(), before);

  SetWindowTextW(bank, L"3");
  Click(MainRow::kSend);
  EXPECT_TRUE(test::PumpUntil([&] { return WindowText(status).starts_with(L"Transfer Successful"); }, 10000));
  EXPECT_EQ(WindowText(status).rfind(L"Transfer Successful: Bank 3 (Time: ", 0), 0u) << WindowText(status);
  EXPECT_TRUE(test::PumpUntil([&] { return IsWindowEnabled(Control(MainRow::kSend)) != FALSE; }, 5000));
  EXPECT_NE(BankFiles()[L"bank3.bin"], before.count(L"bank3.bin") ? before.at(L"bank3.bin") : 0);

  // Another card: the old transfer status goes.
  TheDocument().modified = false;
  Menu(40001);
  EXPECT_EQ(WindowText(status), L"Idle");
}

TEST_F(BankAndNameTest, CardNameFieldShowsWhatTheCardKeeps) {
  HWND name = Control(MainRow::kCardName);
  SetWindowTextW(name, L"\u00e4\u00f6\u00fc\u00e4\u00f6\u00fc\u00df");  // 14 bytes in UTF-8
  EXPECT_EQ(WindowText(name), L"\u00e4\u00f6\u00fc\u00e4\u00f6");
  EXPECT_EQ(TheDocument().name.view(), "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\xA4\xC3\xB6");
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed*"));
}

}  // namespace
}  // namespace tavrin
