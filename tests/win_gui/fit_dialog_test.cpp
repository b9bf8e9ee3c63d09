// "Fit to Card": the checklist of the plan, the figures following the ticks,
// Apply leaving the card modified and unsaved, Cancel changing nothing, the
// offer in "Too much data for the card", Tab and Esc.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/fit_dialog_gui_win.h"
#include "app/resource_gui_win.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::WindowText;

class FitDialogTest : public test::MainWindowFixture {
 protected:
  // A 10 s sawtooth at 220 Hz behind 1000 frames that never play: 625,102
  // bytes, which a loop brings within the card.
  void SetUp() override {
    MainWindowFixture::SetUp();
    Sound* sound = AppendSound(TheDocument().multisounds, SoundType::Multisound);
    sound->name.assign("Saw");
    SampleData* s = AppendSample(*sound);
    s->name.assign("Saw A3");
    s->rootNote = 57;
    s->frames.resize(312500);
    for (std::size_t i = 0; i < s->frames.size(); ++i) {
      s->frames[i] = static_cast<float>(0.4 * (std::fmod(i * 220.0 / 31250.0, 1.0) * 2.0 - 1.0));
    }
    s->markers = {0, 1000, -1, s->frameCount()};
    RefreshMainWindow();
  }
  static HWND Row(std::size_t row) { return FitDialogControl(row); }
  static int Items() { return static_cast<int>(SendMessageW(Row(FitRow::kList), LVM_GETITEMCOUNT, 0, 0)); }
  static bool Ticked(int i) { return ListView_GetCheckState(Row(FitRow::kList), i) != FALSE; }
  static void Tick(int i, bool on) { ListView_SetCheckState(Row(FitRow::kList), i, on ? TRUE : FALSE); }
};

TEST_F(FitDialogTest, TicksMoveTheFiguresAndApplyLeavesTheCardModified) {
  Menu(IDM_FILE_FIT);
  ASSERT_NE(FitDialogWindow(), nullptr);
  EXPECT_FALSE(IsWindowEnabled(main_));
  ASSERT_EQ(Items(), 2);  // frames that never play, then the loop built on it
  EXPECT_TRUE(Ticked(0) && Ticked(1));
  wchar_t text[256] = {};
  ListView_GetItemText(Row(FitRow::kList), 1, 0, text, 256);
  EXPECT_EQ(std::wstring(text).rfind(L"Saw: Saw A3: loop ", 0), 0u) << text;
  const std::wstring fitted = WindowText(Row(FitRow::kCardSize));
  EXPECT_EQ(WindowText(Row(FitRow::kFreeMemory)).find(L"-"), std::wstring::npos);
  // Unticking the first step unticks the loop that builds on it.
  Tick(0, false);
  EXPECT_FALSE(Ticked(1));
  EXPECT_EQ(WindowText(Row(FitRow::kCardSize)), L"625102 Byte");
  EXPECT_EQ(WindowText(Row(FitRow::kFreeMemory)), L"-100814 Byte");
  EXPECT_FALSE(IsWindowEnabled(Row(FitRow::kApply)));
  Tick(0, true);
  EXPECT_EQ(WindowText(Row(FitRow::kCardSize)), L"623102 Byte");
  Tick(1, true);
  EXPECT_TRUE(Ticked(0));
  EXPECT_EQ(WindowText(Row(FitRow::kCardSize)), fitted);
  SendMessageW(FitDialogWindow(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(Row(FitRow::kApply)));
  test::Pump();
  EXPECT_EQ(FitDialogWindow(), nullptr);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(WindowText(main_).back(), L'*');
  const SampleData& s = TheDocument().multisounds.at(0).samples.at(0);
  EXPECT_TRUE(s.loopOn && s.markers.start == 0 && s.markers.end == s.frameCount());
  EXPECT_EQ(WindowText(Control(MainRow::kFreeMemory)).find(L"-"), std::wstring::npos);
}

TEST_F(FitDialogTest, OfferedByTooMuchDataCancelChangesNothing) {
  EXPECT_EQ(test::Answering({IDYES}, [this] { Click(MainRow::kSend); }).size(), 1u);
  ASSERT_NE(FitDialogWindow(), nullptr);
  SendMessageW(FitDialogWindow(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(Row(FitRow::kCancel)));
  test::Pump();
  EXPECT_EQ(FitDialogWindow(), nullptr);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_FALSE(TheDocument().modified);
  EXPECT_EQ(TheDocument().multisounds.at(0).samples.at(0).frameCount(), 312500);
}

TEST_F(FitDialogTest, TabMovesAndEscCloses) {
  Menu(IDM_FILE_FIT);
  ASSERT_NE(FitDialogWindow(), nullptr);
  SetFocus(Row(FitRow::kList));
  test::KeyThroughMessageLoop(Row(FitRow::kList), VK_TAB);
  EXPECT_EQ(GetFocus(), Row(FitRow::kApply));
  test::KeyThroughMessageLoop(GetFocus(), VK_ESCAPE);
  EXPECT_EQ(FitDialogWindow(), nullptr);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_FALSE(TheDocument().modified);
}

}  // namespace
}  // namespace tavrin
