// The program's resources, its start-up and the main window created for real
// and driven with messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "app/sound_editor_gui_win.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::Boxes;
using test::Title;
using test::WindowText;

TEST(Resources, ManifestAndAccelerators) {
  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(res, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, res))),
                             SizeofResource(nullptr, res));
  for (const char* part : {">true/pm</dpiAware>", ">PerMonitorV2, PerMonitor</dpiAwareness>"})
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  // The manifest's common controls of version 6 (side by side) are the ones in use.
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
  EXPECT_NE(std::wstring(_wcslwr(path)).find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0"),
            std::wstring::npos)
      << path;
  // Ctrl+N, Ctrl+O and Ctrl+S: New, Open and Save.
  ACCEL table[8] = {};
  ASSERT_EQ(CopyAcceleratorTableW(App().accelerators, table, 8), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table[i].key, "NOS"[i]);
    EXPECT_EQ(table[i].cmd, 40001 + i);
    EXPECT_EQ(table[i].fVirt & (FCONTROL | FVIRTKEY), FCONTROL | FVIRTKEY);
  }
}

using MainWindowTest = test::MainWindowFixture;

TEST_F(MainWindowTest, InitFailureReportAndAboutBox) {
  EXPECT_EQ(test::Answering({IDOK}, [] { EXPECT_EQ(ReportInitFailure(L"COM & OLE"), 1); }),
            Boxes{Title(L"|Can't Initialize 'COM & OLE'!\n\nApplication will Exit")});
  EXPECT_EQ(test::Answering({IDOK}, [this] { Menu(40006); }),
            Boxes{L"About Tavrin...|" + Title(L"|Copyright (C) 2026 Veltrovana")});
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(MainWindowTest, MessageLoopRoutesAcceleratorsAndReturnsTheQuitCode) {
  Click(MainRow::kMultiAdd);
  TheDocument().modified = false;
  // Ctrl+N while the document is unmodified: New at once.
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  PostMessageW(main_, WM_KEYDOWN, 'N', 1);
  PostQuitMessage(7);
  EXPECT_EQ(RunMessageLoop(), 7);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_TRUE(TheDocument().multisounds.empty());
  EXPECT_EQ(Items(MainRow::kMultiList), L"");
}

TEST_F(MainWindowTest, ControlsMenuWindowsAndTheirLayoutForTheDpi) {
  // Class and text of each row, with the simulated device selected.
  const wchar_t* const expected[MainRow::kCount] = {
      L"Static|Card Name", L"Edit|Corvask", L"Static|Multisounds", L"ListBox|", L"Button|+",
      L"Button|-|disabled", L"Static|Drumsounds", L"ListBox|", L"Button|+", L"Button|-|disabled", L"Static|",
      L"Static|Sample Count:", L"Static|0", L"Static|Card Size:", L"Static|64 Byte", L"Static|Free Memory:",
      L"Static|524224 Byte", L"Static|", L"ComboBox|Tavrin (1234)", L"Button|Send to Card",
      L"Button|Bank Manager", L"Static|Bank", L"Edit|1", L"msctls_updown32|", L"msctls_progress32|",
      L"Static|Idle"};
  int children = 0;
  for (HWND c = GetWindow(main_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
  EXPECT_EQ(children, 26);
  for (std::size_t i = 0; i < MainRow::kCount; ++i) {
    HWND c = Control(i);
    EXPECT_EQ(test::ClassName(c) + L"|" + WindowText(c) + (IsWindowEnabled(c) ? L"" : L"|disabled") +
                  (IsWindowVisible(c) ? L"" : L"|hidden"),
              expected[i]);
  }
  EXPECT_EQ(SendMessageW(Control(MainRow::kCardName), EM_GETLIMITTEXT, 0, 0), 10);
  EXPECT_EQ(GetWindowLongPtrW(Control(MainRow::kBankEdit), GWL_STYLE) & ES_READONLY, 0);
  EXPECT_EQ(SendMessageW(Control(MainRow::kDeviceCombo), CB_GETCOUNT, 0, 0), 1);
  RECT client = {};
  GetClientRect(main_, &client);
  std::int32_t dx = 0, dy = 0;
  MainWindowDpi(dx, dy);
  EXPECT_EQ(client.right, ScaleToDpi(330, dx));
  EXPECT_EQ(client.bottom, ScaleToDpi(486, dy));
  const LONG_PTR style = GetWindowLongPtrW(main_, GWL_STYLE);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME | WS_MINIMIZEBOX), WS_MINIMIZEBOX);
  for (const auto& [id, text] : {std::pair(40001, L"&New\tCtrl+N"), {40002, L"&Open...\tCtrl+O"},
                                 {40003, L"&Save\tCtrl+S"}, {40004, L"S&ave As..."},
                                 {40005, L"E&xit\tAlt+F4"}, {40006, L"&About..."}}) {
    wchar_t shown[64] = {};
    GetMenuStringW(GetMenu(main_), static_cast<UINT>(id), shown, 64, MF_BYCOMMAND);
    EXPECT_STREQ(shown, text);
  }
  EXPECT_FALSE(IsWindowVisible(App().editorWindow));
  EXPECT_EQ(GetWindow(App().editorWindow, GW_OWNER), main_);
  EXPECT_EQ(WindowText(App().bankManagerWindow), L"Tavrin - Bank Manager");
  EXPECT_FALSE(IsWindowVisible(App().bankManagerWindow));

  // 144 DPI: the suggested rectangle for a 495 x 729 client area.
  RECT suggested = {};
  GetWindowRect(main_, &suggested);
  suggested.right = suggested.left + 495;
  suggested.bottom = suggested.top + 729;
  AdjustWindowRectEx(&suggested, static_cast<DWORD>(style), TRUE, 0);
  SendMessageW(main_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  // Position, size and font of a control.
  const auto look = [this](std::size_t row) {
    RECT r = {};
    GetWindowRect(Control(row), &r);
    MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
    LOGFONTW f = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(row), WM_GETFONT, 0, 0)), sizeof(f), &f);
    wchar_t text[96] = {};
    swprintf(text, 96, L"%ld,%ld %ldx%ld %ls %ld%ls", r.left, r.top, r.right - r.left, r.bottom - r.top,
             f.lfFaceName, f.lfHeight, f.lfWeight >= FW_BOLD ? L" bold" : L"");
    return std::wstring(text);
  };
  EXPECT_EQ(look(MainRow::kMultiLabel), L"15,49 225x34 Segoe UI -20");
  EXPECT_EQ(look(MainRow::kMultiAdd), L"15,384 34x34 Segoe UI -26 bold");
  // The lists keep their full height down to their buttons (no whole-row shrink).
  EXPECT_EQ(look(MainRow::kDrumList).substr(0, 15), L"255,84 225x300 ");
  EXPECT_EQ(look(MainRow::kSend), L"330,550 150x34 Segoe UI -20");
  // The minimum tracking size follows the DPI.
  MINMAXINFO mmi = {};
  SendMessageW(main_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  EXPECT_EQ(mmi.ptMinTrackSize.x, suggested.right - suggested.left);
  EXPECT_EQ(mmi.ptMinTrackSize.y, suggested.bottom - suggested.top);

  // Typing a card name marks the document modified.
  SetWindowTextW(Control(MainRow::kCardName), L"Strings");
  EXPECT_EQ(TheDocument().name.view(), "Strings");
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed*"));
}

// Every caption of a label, check box or radio button fits at 96 and 144 DPI.
TEST_F(MainWindowTest, NoCaptionIsClipped) {
  for (const int dpi : {96, 144}) {
    for (HWND window : {main_, App().editorWindow, App().bankManagerWindow}) {
      SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), 0);
      for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        const LONG_PTR type = GetWindowLongPtrW(c, GWL_STYLE) & BS_TYPEMASK;
        const bool box = test::ClassName(c) == L"Button" && (type == BS_AUTOCHECKBOX || type == BS_AUTORADIOBUTTON);
        if (!box && test::ClassName(c) != L"Static") continue;
        HDC dc = GetDC(c);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0)));
        RECT need = {}, client = {};
        DrawTextW(dc, WindowText(c).c_str(), -1, &need, DT_CALCRECT | DT_SINGLELINE);
        GetClientRect(c, &client);  // a check box's box and gap: 17 units
        RECT wrapped = {0, 0, client.right, 0};  // a label two lines high or more wraps its words
        if (!box && client.bottom >= 2 * need.bottom) {
          DrawTextW(dc, WindowText(c).c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK);
          need.right = wrapped.bottom <= client.bottom ? wrapped.right : need.right;
        }
        ReleaseDC(c, dc);
        EXPECT_LE(need.right + (box ? MulDiv(17, dpi, 96) : 0), client.right) << WindowText(c) << " at " << dpi;
      }
    }
  }
}

TEST_F(MainWindowTest, AddingAndRemovingSounds) {
  using namespace MainRow;
  for (const auto& [list, add, remove, name, sounds] :
       {std::tuple(kMultiList, kMultiAdd, kMultiRemove, L"Multi", &TheDocument().multisounds),
        std::tuple(kDrumList, kDrumAdd, kDrumRemove, L"Drum", &TheDocument().drumsounds)}) {
    const auto names = [name = name](const wchar_t* pattern) {
      return std::regex_replace(pattern, std::wregex(L"#"), name);
    };
    for (int i = 0; i < 3; ++i) Click(add);
    EXPECT_EQ(Items(list), names(L"# 1|# 2|># 3"));
    EXPECT_TRUE(IsWindowEnabled(Control(remove)));
    // Removing the second selects the first; the next is named after the count.
    SelectInList(list, 1);
    Click(remove);
    EXPECT_EQ(Items(list), names(L"># 1|# 3"));
    Click(add);
    EXPECT_EQ(Items(list), names(L"# 1|# 3|># 3"));
    EXPECT_EQ(sounds->size(), 3u);
    // "-" without a selection does nothing.
    SendMessageW(Control(list), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Click(remove);
    EXPECT_EQ(sounds->size(), 3u);
    SelectInList(list, 0);
    for (int i = 0; i < 3; ++i) Click(remove);
    EXPECT_EQ(Items(list), L"");
    EXPECT_FALSE(IsWindowEnabled(Control(remove)));
    EXPECT_TRUE(sounds->empty());
  }
}

TEST_F(MainWindowTest, DragReordering) {
  // One drag-list notification with the cursor over item `index`.
  const auto drag = [this](UINT notification, int index) {
    HWND list = Control(MainRow::kMultiList);
    RECT r = {};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    DRAGLISTINFO info = {notification, list, {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
    ClientToScreen(list, &info.ptCursor);
    return SendMessageW(main_, RegisterWindowMessageW(DRAGLISTMSGSTRING), 0, reinterpret_cast<LPARAM>(&info));
  };
  Click(MainRow::kMultiAdd);
  EXPECT_EQ(drag(DL_BEGINDRAG, 0), FALSE);  // not in a list of one
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  TheDocument().modified = false;
  // Notification, item, answer, and the items afterwards: an extra empty one while dragging.
  for (const auto& [notification, index, answer, items] : {
           std::tuple(DL_BEGINDRAG, 0, TRUE, L"Multi 1|Multi 2|>Multi 3"),
           {DL_DRAGGING, 2, DL_MOVECURSOR, L"Multi 1|Multi 2|>Multi 3|"},
           {DL_DROPPED, 2, 0, L"Multi 2|>Multi 1|Multi 3"},  // the first onto the third: second place
           {DL_BEGINDRAG, 0, TRUE, L"Multi 2|>Multi 1|Multi 3"},
           {DL_DRAGGING, 1, DL_MOVECURSOR, L"Multi 2|>Multi 1|Multi 3|"},
           {DL_DRAGGING, 3, DL_MOVECURSOR, L"Multi 2|>Multi 1|Multi 3|"},
           {DL_DROPPED, 3, 0, L"Multi 1|Multi 3|>Multi 2"},  // onto the extra item: to the end
           {DL_BEGINDRAG, 0, TRUE, L"Multi 1|Multi 3|>Multi 2"},
           {DL_DRAGGING, 2, DL_MOVECURSOR, L"Multi 1|Multi 3|>Multi 2|"},
           {DL_CANCELDRAG, 2, 0, L"Multi 1|Multi 3|>Multi 2"}}) {
    EXPECT_EQ(drag(notification, index), answer) << notification;
    EXPECT_EQ(Items(MainRow::kMultiList), items) << notification;
  }
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().multisounds[2].name.view(), "Multi 2");
}

TEST_F(MainWindowTest, CardFiguresWithRedFreeMemoryWhenOverfull) {
  const auto red = [this](std::size_t row) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(main_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(Control(row)));
    const bool isRed = GetTextColor(dc) == RGB(255, 0, 0);
    DeleteDC(dc);
    return isRed;
  };
  EXPECT_FALSE(red(MainRow::kFreeMemory));
  test::FillCard(TheDocument(), "BIG", 300000);  // a sample of 600000 bytes
  RefreshMainWindow();
  EXPECT_EQ(WindowText(Control(MainRow::kSampleCount)), L"1");
  EXPECT_EQ(WindowText(Control(MainRow::kCardSize)), L"600102 Byte");
  EXPECT_EQ(WindowText(Control(MainRow::kFreeMemory)), L"-75814 Byte");
  EXPECT_TRUE(red(MainRow::kFreeMemory));
  EXPECT_FALSE(red(MainRow::kCardSize));
}

TEST_F(MainWindowTest, SoundEditorHandsBackItsCopyAndClosesForAHandOver) {
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  TheDocument().modified = false;
  SelectInList(MainRow::kMultiList, 1);
  const auto open = [this] { ListCommand(MainRow::kMultiList, LBN_DBLCLK); };
  const auto closed = [this] { return IsWindowEnabled(main_) && !IsWindowVisible(App().editorWindow); };
  open();
  EXPECT_TRUE(!IsWindowEnabled(main_) && IsWindowVisible(App().editorWindow));
  EXPECT_EQ(WindowText(App().editorWindow), test::Title(L" - Edit Multi 2"));
  // Cancel: nothing changes.
  Click(App().editorWindow, EditorControl(EditorRow::kCancel));
  EXPECT_TRUE(closed());
  EXPECT_FALSE(TheDocument().modified);
  // The edited copy handed back replaces the sound.
  open();
  Sound edited;
  edited.name.assign("Edited");
  AppendSample(edited);
  SendMessageW(main_, kMsgSoundEdited, reinterpret_cast<WPARAM>(&edited),
               reinterpret_cast<LPARAM>(App().editorWindow));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(Items(MainRow::kMultiList), L"Multi 1|>Edited");
  EXPECT_EQ(TheDocument().multisounds[1].samples.size(), 1u);
  // "OK" hands back the editor's own working copy, taken when the sound was opened.
  Click(App().editorWindow, EditorControl(EditorRow::kOk));
  EXPECT_TRUE(closed());
  EXPECT_EQ(Items(MainRow::kMultiList), L"Multi 1|>Multi 2");
  EXPECT_TRUE(TheDocument().multisounds[1].samples.empty());
  // A card-file handed over or dropped while the editor is open never
  // replaces the card under it: if the user agrees it opens after "OK".
  const std::wstring other = test::SaveCard(L"editor.qz", "EDITOR");
  IDataObject* files = test::ShellFiles({L"editor.qz"});
  for (const auto& [handOver, answer] : {std::pair(true, IDOK), {false, IDOK}, {false, IDCANCEL}}) {
    TheDocument().Reset();
    Click(MainRow::kMultiAdd);
    TheDocument().modified = false;
    open();
    SetWindowTextW(EditorControl(EditorRow::kName), L"Kept");
    DWORD effect = DROPEFFECT_COPY;
    EXPECT_EQ(test::Answering({answer}, [&] {
                if (handOver) HandOver(other);
                if (!handOver) MainWindowDropTarget()->Drop(files, 0, POINTL{10, 10}, &effect);
                test::Pump();
              }), test::Boxes{test::Title(L"|The card-file will open once the sound is finished.\n\n"
                                          L"Press Cancel not to open it.")});
    EXPECT_TRUE(IsWindowVisible(App().editorWindow));
    EXPECT_NE(TheDocument().name.view(), "EDITOR");
    // "OK": the sound goes back to its own card, then the other opens ("No" to saving).
    EXPECT_EQ(test::Answering({IDNO}, [&] { Click(App().editorWindow, EditorControl(EditorRow::kOk)), test::Pump(); })
                  .size(), answer == IDOK ? 1u : 0u);
    EXPECT_EQ(TheDocument().multisounds[0].name.view(), answer == IDOK ? "Piano" : "Kept");
  }
  files->Release();
}

}  // namespace
}  // namespace tavrin
