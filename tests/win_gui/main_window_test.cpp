// The main window created for real and driven with messages.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/app_gui_win.h"
#include "app/main_window_gui_win.h"
#include "card/card_file.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::BoxAnswer;
using test::BoxAnswerer;
using test::ChildRect;
using test::Pump;
using test::WindowText;

constexpr wchar_t kTitle[] = L"Tavrin v2.1.0";

std::wstring Title(const wchar_t* suffix) { return std::wstring(kTitle) + suffix; }

class MainWindowTest : public test::MainWindowFixture {
 protected:
  HWND Control(std::size_t row) { return MainControl(row); }
  void Click(std::size_t row) {
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(Control(row)));
  }
  void SelectInList(std::size_t listRow, int index) {
    SendMessageW(Control(listRow), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), reinterpret_cast<LPARAM>(Control(listRow)));
  }
  std::wstring Item(std::size_t listRow, int index) {
    wchar_t buffer[64] = {};
    SendMessageW(Control(listRow), LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
    return buffer;
  }
  int Count(std::size_t listRow) { return static_cast<int>(SendMessageW(Control(listRow), LB_GETCOUNT, 0, 0)); }
  int Selected(std::size_t listRow) { return static_cast<int>(SendMessageW(Control(listRow), LB_GETCURSEL, 0, 0)); }
  // Sends one drag-list notification with the cursor over item `index`.
  LRESULT Drag(std::size_t listRow, UINT notification, int index) {
    HWND list = Control(listRow);
    RECT r = {};
    SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r));
    DRAGLISTINFO info = {};
    info.uNotification = notification;
    info.hWnd = list;
    info.ptCursor.x = (r.left + r.right) / 2;
    info.ptCursor.y = (r.top + r.bottom) / 2;
    ClientToScreen(list, &info.ptCursor);
    return SendMessageW(main_, RegisterWindowMessageW(DRAGLISTMSGSTRING), 0, reinterpret_cast<LPARAM>(&info));
  }
  std::wstring SavedCardPath(const wchar_t* name, const char* cardName) {
    CardDocument doc;
    doc.name.assign(cardName);
    Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
    s->name.assign("Piano");
    SampleData* d = AppendSample(*s);
    d->frames.assign(1000, 0.25f);
    d->markers.start = 0;
    d->markers.loop = 0;
    d->markers.end = 1000;
    std::wstring path = test::ScratchFolder() + name;
    Utf8Text<260> utf8;
    utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
    EXPECT_EQ(SaveCardFile(utf8.view(), doc), kOk);
    return path;
  }
};

TEST_F(MainWindowTest, ControlsAndCaptions) {
  struct Expect {
    const wchar_t* cls;
    const wchar_t* caption;
  };
  const Expect expected[MainRow::kCount] = {
      {L"Static", L"Card Name"}, {L"Edit", L"Corvask"}, {L"Static", L"Multisounds"}, {L"ListBox", L""},
      {L"Button", L"+"}, {L"Button", L"-"}, {L"Static", L"Drumsounds"}, {L"ListBox", L""}, {L"Button", L"+"},
      {L"Button", L"-"}, {L"Static", L""}, {L"Static", L"Sample Count:"}, {L"Static", L"0"},
      {L"Static", L"Card Size:"}, {L"Static", L"64 Byte"}, {L"Static", L"Free Memory:"},
      {L"Static", L"524224 Byte"}, {L"Static", L""}, {L"ComboBox", nullptr}, {L"Button", L"Send to Card"},
      {L"Button", L"Bank Manager"}, {L"Static", L"Bank"}, {L"Edit", L"1"}, {L"msctls_updown32", L""},
      {L"msctls_progress32", L""}, {L"Static", L"Idle"},
  };
  int children = 0;
  for (HWND c = GetWindow(main_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
  EXPECT_EQ(children, 26);
  for (std::size_t i = 0; i < MainRow::kCount; ++i) {
    SCOPED_TRACE(i);
    ASSERT_NE(Control(i), nullptr);
    EXPECT_EQ(_wcsicmp(test::ClassName(Control(i)).c_str(), expected[i].cls), 0) << test::ClassName(Control(i));
    if (expected[i].caption) {
      EXPECT_EQ(WindowText(Control(i)), expected[i].caption);
    }
    EXPECT_TRUE(IsWindowVisible(Control(i)));
    EXPECT_EQ(GetDlgCtrlID(Control(i)), 0);
  }
  RECT client = {};
  GetClientRect(main_, &client);
  std::int32_t dx = 0, dy = 0;
  MainWindowDpi(dx, dy);
  EXPECT_EQ(client.right, ScaleToDpi(330, dx));
  EXPECT_EQ(client.bottom, ScaleToDpi(486, dy));
  // Menu: File and Help.
  HMENU menu = GetMenu(main_);
  ASSERT_NE(menu, nullptr);
  wchar_t text[64] = {};
  GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(text, L"&File");
  GetMenuStringW(menu, 40002, text, 64, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"&Open...\tCtrl+O");
  GetMenuStringW(menu, 40005, text, 64, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"E&xit\tAlt+F4");
  GetMenuStringW(menu, 40006, text, 64, MF_BYCOMMAND);
  EXPECT_STREQ(text, L"&About...");
  // Window classes of the other windows.
  EXPECT_EQ(test::ClassName(App().editorWindow), L"TavrinSoundEditor");
  EXPECT_FALSE(IsWindowVisible(App().editorWindow));
  EXPECT_EQ(GetWindow(App().editorWindow, GW_OWNER), main_);
  EXPECT_EQ(test::ClassName(App().bankManagerWindow), L"TavrinBankMgr");
  EXPECT_EQ(WindowText(App().bankManagerWindow), L"Tavrin - Bank Manager");
  EXPECT_FALSE(IsWindowVisible(App().bankManagerWindow));
  const LONG_PTR style = GetWindowLongPtrW(main_, GWL_STYLE);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);
}

TEST_F(MainWindowTest, PositionsAndFontsAt96And144Dpi) {
  // Lay out at 96 DPI first, as on a standard monitor.
  RECT wr = {};
  GetWindowRect(main_, &wr);
  SendMessageW(main_, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&wr));
  RECT r = ChildRect(Control(MainRow::kMultiAdd));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 256);
  EXPECT_EQ(r.right - r.left, 23);
  EXPECT_EQ(r.bottom - r.top, 23);
  r = ChildRect(Control(MainRow::kStatus));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 453);
  EXPECT_EQ(r.right - r.left, 310);
  LOGFONTW lf = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(MainRow::kCardNameLabel), WM_GETFONT, 0, 0)), sizeof(lf),
             &lf);
  EXPECT_EQ(lf.lfHeight, -13);
  EXPECT_STREQ(lf.lfFaceName, L"Segoe UI");
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(MainRow::kMultiAdd), WM_GETFONT, 0, 0)), sizeof(lf), &lf);
  EXPECT_EQ(lf.lfHeight, -17);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);

  // 144 DPI: the suggested rectangle for a 495 x 729 client area.
  RECT suggested = {wr.left, wr.top, wr.left + 495, wr.top + 729};
  AdjustWindowRectEx(&suggested, static_cast<DWORD>(GetWindowLongPtrW(main_, GWL_STYLE)), TRUE, 0);
  SendMessageW(main_, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  std::int32_t dx = 0, dy = 0;
  MainWindowDpi(dx, dy);
  EXPECT_EQ(dx, 144);
  r = ChildRect(Control(MainRow::kMultiAdd));
  EXPECT_EQ(r.left, 15);
  EXPECT_EQ(r.top, 384);
  EXPECT_EQ(r.right - r.left, 34);
  EXPECT_EQ(r.bottom - r.top, 34);
  r = ChildRect(Control(MainRow::kSend));
  EXPECT_EQ(r.left, 330);
  EXPECT_EQ(r.top, 550);
  EXPECT_EQ(r.right - r.left, 150);
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control(MainRow::kCardNameLabel), WM_GETFONT, 0, 0)), sizeof(lf),
             &lf);
  EXPECT_EQ(lf.lfHeight, -20);
  // The minimum tracking size follows the DPI.
  MINMAXINFO mmi = {};
  SendMessageW(main_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  EXPECT_EQ(mmi.ptMinTrackSize.x, suggested.right - suggested.left);
  EXPECT_EQ(mmi.ptMinTrackSize.y, suggested.bottom - suggested.top);
}

TEST_F(MainWindowTest, TitleShowsUnnamedNameAndModified) {
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
  Click(MainRow::kMultiAdd);
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed*"));
  CurrentCardPath().assign("C:\\cards\\Grand.Piano.qz");
  RefreshMainWindow();
  EXPECT_EQ(WindowText(main_), Title(L" - Grand.Piano*"));
  TheDocument().modified = false;
  RefreshMainWindow();
  EXPECT_EQ(WindowText(main_), Title(L" - Grand.Piano"));
}

TEST_F(MainWindowTest, TypingTheCardNameMarksTheDocumentModified) {
  ASSERT_FALSE(TheDocument().modified);
  SetWindowTextW(Control(MainRow::kCardName), L"Strings");
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().name.view(), "Strings");
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed*"));
  // The edit takes at most 10 characters.
  EXPECT_EQ(SendMessageW(Control(MainRow::kCardName), EM_GETLIMITTEXT, 0, 0), 10);
}

TEST_F(MainWindowTest, MultisoundNamingAndRemoval) {
  EXPECT_FALSE(IsWindowEnabled(Control(MainRow::kMultiRemove)));
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  ASSERT_EQ(Count(MainRow::kMultiList), 3);
  EXPECT_EQ(Item(MainRow::kMultiList, 0), L"Multi 1");
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Multi 2");
  EXPECT_EQ(Item(MainRow::kMultiList, 2), L"Multi 3");
  EXPECT_EQ(Selected(MainRow::kMultiList), 2);
  EXPECT_TRUE(IsWindowEnabled(Control(MainRow::kMultiRemove)));
  // Remove Multi 2: Multi 1 is selected; adding gives a second Multi 3.
  SelectInList(MainRow::kMultiList, 1);
  Click(MainRow::kMultiRemove);
  ASSERT_EQ(Count(MainRow::kMultiList), 2);
  EXPECT_EQ(Selected(MainRow::kMultiList), 0);
  Click(MainRow::kMultiAdd);
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Multi 3");
  EXPECT_EQ(Item(MainRow::kMultiList, 2), L"Multi 3");
  ASSERT_EQ(TheDocument().multisounds.size(), 3u);
  EXPECT_EQ(TheDocument().multisounds[2].name.view(), "Multi 3");
}

TEST_F(MainWindowTest, DrumsoundRemovingTheOnlySound) {
  Click(MainRow::kDrumAdd);
  EXPECT_EQ(Item(MainRow::kDrumList, 0), L"Drum 1");
  EXPECT_TRUE(IsWindowEnabled(Control(MainRow::kDrumRemove)));
  Click(MainRow::kDrumRemove);
  EXPECT_EQ(Count(MainRow::kDrumList), 0);
  EXPECT_EQ(Selected(MainRow::kDrumList), LB_ERR);
  EXPECT_FALSE(IsWindowEnabled(Control(MainRow::kDrumRemove)));
  EXPECT_TRUE(TheDocument().drumsounds.empty());
  // "-" without a selection does nothing.
  Click(MainRow::kMultiAdd);
  SendMessageW(Control(MainRow::kMultiList), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Click(MainRow::kMultiRemove);
  EXPECT_EQ(TheDocument().multisounds.size(), 1u);
}

TEST_F(MainWindowTest, DragReordering) {
  Click(MainRow::kMultiAdd);
  // A drag in a list with one item does not start.
  EXPECT_EQ(Drag(MainRow::kMultiList, DL_BEGINDRAG, 0), FALSE);
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  TheDocument().modified = false;
  // The first of three onto the third: second place.
  EXPECT_EQ(Drag(MainRow::kMultiList, DL_BEGINDRAG, 0), TRUE);
  EXPECT_EQ(Drag(MainRow::kMultiList, DL_DRAGGING, 2), DL_MOVECURSOR);
  EXPECT_EQ(Count(MainRow::kMultiList), 4);  // the extra empty item
  Drag(MainRow::kMultiList, DL_DROPPED, 2);
  ASSERT_EQ(Count(MainRow::kMultiList), 3);
  EXPECT_EQ(Item(MainRow::kMultiList, 0), L"Multi 2");
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Multi 1");
  EXPECT_EQ(Item(MainRow::kMultiList, 2), L"Multi 3");
  EXPECT_EQ(Selected(MainRow::kMultiList), 1);
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().multisounds[0].name.view(), "Multi 2");
  // Below the last item (onto the extra empty item): to the end.
  EXPECT_EQ(Drag(MainRow::kMultiList, DL_BEGINDRAG, 0), TRUE);
  Drag(MainRow::kMultiList, DL_DRAGGING, 1);
  ASSERT_EQ(Count(MainRow::kMultiList), 4);
  Drag(MainRow::kMultiList, DL_DRAGGING, 3);
  Drag(MainRow::kMultiList, DL_DROPPED, 3);
  ASSERT_EQ(Count(MainRow::kMultiList), 3);
  EXPECT_EQ(Item(MainRow::kMultiList, 0), L"Multi 1");
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Multi 3");
  EXPECT_EQ(Item(MainRow::kMultiList, 2), L"Multi 2");
  EXPECT_EQ(Selected(MainRow::kMultiList), 2);
  // A cancelled drag removes the extra item and changes nothing.
  EXPECT_EQ(Drag(MainRow::kMultiList, DL_BEGINDRAG, 0), TRUE);
  Drag(MainRow::kMultiList, DL_DRAGGING, 2);
  Drag(MainRow::kMultiList, DL_CANCELDRAG, 2);
  EXPECT_EQ(Count(MainRow::kMultiList), 3);
  EXPECT_EQ(Item(MainRow::kMultiList, 0), L"Multi 1");
}

TEST_F(MainWindowTest, SizeDisplayAndRedFreeMemory) {
  EXPECT_EQ(WindowText(Control(MainRow::kSampleCount)), L"0");
  EXPECT_EQ(WindowText(Control(MainRow::kCardSize)), L"64 Byte");
  EXPECT_EQ(WindowText(Control(MainRow::kFreeMemory)), L"524224 Byte");
  HDC dc = CreateCompatibleDC(nullptr);
  SendMessageW(main_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(Control(MainRow::kFreeMemory)));
  EXPECT_NE(GetTextColor(dc), RGB(255, 0, 0));
  // One multisound whose sample needs 600000 bytes.
  Sound* s = AppendSound(TheDocument().multisounds, SoundType::Multisound);
  s->name.assign("Big");
  SampleData* d = AppendSample(*s);
  d->frames.assign(300000, 0.0f);
  d->markers.start = 0;
  d->markers.loop = 0;
  d->markers.end = 300000;
  RefreshMainWindow();
  EXPECT_EQ(WindowText(Control(MainRow::kSampleCount)), L"1");
  EXPECT_EQ(WindowText(Control(MainRow::kCardSize)), L"600102 Byte");
  EXPECT_EQ(WindowText(Control(MainRow::kFreeMemory)), L"-75814 Byte");
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageW(main_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(Control(MainRow::kFreeMemory)));
  EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
  // Other labels keep the default colours.
  SetTextColor(dc, RGB(1, 2, 3));
  SendMessageW(main_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
               reinterpret_cast<LPARAM>(Control(MainRow::kCardSize)));
  EXPECT_NE(GetTextColor(dc), RGB(255, 0, 0));
  DeleteDC(dc);
}

TEST_F(MainWindowTest, PromptCancelKeepsWindowAndDocument) {
  Click(MainRow::kMultiAdd);
  BoxAnswerer answerer{IDCANCEL};
  SendMessageW(main_, WM_CLOSE, 0, 0);
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, kTitle);
  EXPECT_NE(seen[0].joined().find(L"Do you want to save the changes you made in the card-file?"), std::wstring::npos);
  EXPECT_NE(seen[0].joined().find(L"Your changes will be lost if you don\u2019t save them."), std::wstring::npos);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().multisounds.size(), 1u);
}

TEST_F(MainWindowTest, PromptNoClosesWithoutSaving) {
  Click(MainRow::kMultiAdd);
  BoxAnswerer answerer{IDNO};
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(answerer.Finish().size(), 1u);
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_FALSE(TheDocument().modified);
}

TEST_F(MainWindowTest, PromptNoForNewResetsTheDocument) {
  Click(MainRow::kMultiAdd);
  SetWindowTextW(Control(MainRow::kCardName), L"Old");
  BoxAnswerer answerer{IDNO};
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40001, 0), 0);
  EXPECT_EQ(answerer.Finish().size(), 1u);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(TheDocument().multisounds.empty());
  EXPECT_EQ(TheDocument().name.view(), "Corvask");
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
}

TEST_F(MainWindowTest, PromptYesSavesThenCloses) {
  const std::wstring path = test::ScratchFolder() + L"yes.qz";
  DeleteFileW(path.c_str());
  CurrentCardPath().assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  Click(MainRow::kMultiAdd);
  SampleData* d = AppendSample(TheDocument().multisounds[0]);
  d->frames.assign(100, 0.5f);
  d->markers.start = 0;
  d->markers.loop = 0;
  d->markers.end = 100;
  BoxAnswerer answerer{IDYES};
  SendMessageW(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(answerer.Finish().size(), 1u);
  EXPECT_FALSE(IsWindow(main_));
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  CardDocument loaded;
  Utf8Text<260> utf8;
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  EXPECT_EQ(LoadCardFile(utf8.view(), loaded), kOk);
  EXPECT_EQ(loaded.multisounds.size(), 1u);
}

TEST_F(MainWindowTest, PromptYesWithAFailingSaveKeepsWindowAndDocument) {
  // A folder that does not exist: the save fails.
  const std::wstring path = test::ScratchFolder() + L"missing-folder\\card.qz";
  CurrentCardPath().assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  BoxAnswerer answerer{IDYES, IDOK};
  SendMessageW(main_, WM_CLOSE, 0, 0);
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].caption, kTitle);
  EXPECT_EQ(seen[1].joined(), L"Can't save the card-file\n\nThe folder does not exist.");
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().multisounds.size(), 2u);
  EXPECT_EQ(WindowText(main_), Title(L" - card*"));
}

TEST_F(MainWindowTest, PromptYesWithAFailingSaveDoesNotRunNew) {
  const std::wstring path = test::ScratchFolder() + L"missing-folder\\card.qz";
  CurrentCardPath().assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  Click(MainRow::kDrumAdd);
  BoxAnswerer answerer{IDYES, IDOK};
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40001, 0), 0);
  EXPECT_EQ(answerer.Finish().size(), 2u);
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(TheDocument().drumsounds.size(), 1u);
}

TEST_F(MainWindowTest, LoadFailureReasons) {
  const std::wstring missing = test::ScratchFolder() + L"no-such-card.qz";
  Utf8Text<260> utf8;
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(missing.c_str())));
  BoxAnswerer answerer{IDOK};
  LoadStep(utf8.view());
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].joined(), L"Can't load the card-file\n\n" + missing + L"\n\nFile not found");
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));

  const std::wstring bad = test::ScratchFolder() + L"bad.qz";
  HANDLE f = CreateFileW(bad.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, "not a card-file at all", 22, &written, nullptr);
  CloseHandle(f);
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(bad.c_str())));
  BoxAnswerer second{IDOK};
  LoadStep(utf8.view());
  ASSERT_EQ(second.Finish().size(), 1u);
  EXPECT_EQ(second.Finish()[0].joined(), L"Can't load the card-file\n\n" + bad + L"\n\nInvalid file format");
}

TEST_F(MainWindowTest, HandOverLoadsOnlyValidCopyData) {
  const std::wstring path = SavedCardPath(L"handed.qz", "HANDED");
  COPYDATASTRUCT cds = {};
  cds.dwData = 2;
  cds.cbData = static_cast<DWORD>(path.size() * 2);
  cds.lpData = const_cast<wchar_t*>(path.c_str());
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), FALSE);
  cds.dwData = 1;
  cds.cbData = 0;
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), FALSE);
  cds.cbData = 0x7FFFFFFF;  // far beyond any path
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), FALSE);
  cds.lpData = nullptr;
  cds.cbData = 8;
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), FALSE);
  Pump();
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));

  cds.lpData = const_cast<wchar_t*>(path.c_str());
  cds.cbData = static_cast<DWORD>(path.size() * 2);
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), TRUE);
  Pump();
  EXPECT_EQ(WindowText(main_), Title(L" - handed"));
  EXPECT_EQ(TheDocument().name.view(), "HANDED");
  EXPECT_EQ(Item(MainRow::kMultiList, 0), L"Piano");
  EXPECT_EQ(Selected(MainRow::kMultiList), 0);
  EXPECT_EQ(GetFocus(), Control(MainRow::kMultiList));
}

TEST_F(MainWindowTest, HandedOverPathTooLongToKeepIsReportedNotCut) {
  // 130 characters of two UTF-8 bytes each: more than the 260 bytes a path
  // is kept in. Cut, it would name another file.
  const std::wstring path = test::ScratchFolder() + std::wstring(130, L'\u00E9') + L".qz";
  COPYDATASTRUCT cds = {};
  cds.dwData = 1;
  cds.cbData = static_cast<DWORD>(path.size() * 2);
  cds.lpData = const_cast<wchar_t*>(path.c_str());
  BoxAnswerer answerer{IDOK};
  EXPECT_EQ(SendMessageW(main_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), TRUE);
  Pump();
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].joined(), L"Can't load the card-file\n\nThe path is too long");
  EXPECT_EQ(WindowText(main_), Title(L" - Unnamed"));
}

TEST_F(MainWindowTest, EditedSoundReplacesTheOpenedSound) {
  Click(MainRow::kMultiAdd);
  Click(MainRow::kMultiAdd);
  TheDocument().modified = false;
  SelectInList(MainRow::kMultiList, 1);
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, LBN_DBLCLK), reinterpret_cast<LPARAM>(Control(MainRow::kMultiList)));
  EXPECT_FALSE(IsWindowEnabled(main_));
  EXPECT_TRUE(IsWindowVisible(App().editorWindow));
  EXPECT_EQ(WindowText(App().editorWindow), L"Multi 2");
  // Cancel: nothing changes, the main window is enabled again.
  SendMessageW(App().editorWindow, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_FALSE(IsWindowVisible(App().editorWindow));
  EXPECT_FALSE(TheDocument().modified);
  // The edited copy handed back replaces the sound.
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, LBN_DBLCLK), reinterpret_cast<LPARAM>(Control(MainRow::kMultiList)));
  Sound edited;
  edited.name.assign("Edited");
  AppendSample(edited);
  SendMessageW(main_, kMsgSoundEdited, reinterpret_cast<WPARAM>(&edited), reinterpret_cast<LPARAM>(App().editorWindow));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Edited");
  EXPECT_EQ(TheDocument().multisounds[1].samples.size(), 1u);
  // "OK" in the editor hands back its own working copy, taken when the
  // sound was opened.
  SendMessageW(App().editorWindow, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_FALSE(IsWindowVisible(App().editorWindow));
  EXPECT_EQ(Item(MainRow::kMultiList, 1), L"Multi 2");
  EXPECT_TRUE(TheDocument().multisounds[1].samples.empty());
}

TEST_F(MainWindowTest, AboutBox) {
  BoxAnswerer answerer{IDOK};
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40006, 0), 0);
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, L"About Tavrin...");
  EXPECT_EQ(seen[0].item1001, kTitle);
  EXPECT_EQ(seen[0].item1002, L"Copyright (C) 2026 Veltrovana");
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(MainWindowTest, SaveAsDialogStoresLastCardPath) {
  const std::wstring path = test::ScratchFolder() + L"saved-as.qz";
  DeleteFileW(path.c_str());
  Click(MainRow::kMultiAdd);
  // The file name box of the save dialog is item 0x47C (or 0x480).
  BoxAnswerer answerer(std::vector<test::BoxAnswer>{test::BoxAnswer{IDOK, 0x47C, path}});
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40004, 0), 0);
  ASSERT_EQ(answerer.Finish().size(), 1u);
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(TheDocument().modified);
  EXPECT_EQ(WindowText(main_), Title(L" - saved-as"));
  wchar_t value[300] = {};
  DWORD bytes = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Veltrovana\\Tavrin", L"LastCardPath", RRF_RT_REG_SZ, nullptr,
                         value, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(_wcsicmp(value, test::ScratchFolder().c_str()), 0) << value;
}

}  // namespace
}  // namespace tavrin
