// A SoundFont dropped on the main window opens the instrument chooser: its
// melodic presets with zones and bytes; "Add" puts the chosen one on the card
// whole and says so in the status line.
#include <filesystem>
#include <fstream>

#include "app/instrument_chooser_gui_win.h"
#include "app/sound_editor_gui_win.h"
#include "audio/sf2_bytes.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using namespace tavrin::test;

class InstrumentChooserTest : public MainWindowFixture {};

// keys.sf2 in the scratch folder: 0:3 "Keys" (two zones) and a drum kit.
void WriteKeys() {
  Sf2Build b = OneInstrument({{Range(43, 0, 47), {58, 36}, {53, 0}}, {Range(43, 48, 127), {54, 1}, {53, 1}}},
                             {{"Low", 0, 3000, 0, 0, 22050}, {"High", 3000, 6000, 3500, 5500, 22050, 60}}, 6000);
  b.presets[0].name = "Keys";
  b.presets[0].program = 3;
  b.presets.push_back({"Kit", 0, 128, {{{41, 0}}}});  // a drum kit: not a Multisound to choose
  const ByteVec bytes = b.Build();
  std::ofstream(std::filesystem::path(ScratchFolder() + L"keys.sf2"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(InstrumentChooserTest, DroppedSoundFontAddsTheChosenPreset) {
  WriteKeys();
  IDataObject* files = ShellFiles({L"keys.sf2"});
  ASSERT_NE(files, nullptr);
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  MainWindowDropTarget()->DragEnter(files, 0, POINTL{10, 10}, &effect);
  EXPECT_EQ(effect, DWORD{DROPEFFECT_COPY});
  MainWindowDropTarget()->Drop(files, 0, POINTL{10, 10}, &effect);
  files->Release();
  EXPECT_EQ(InstrumentChooserWindow(), nullptr);  // not inside the drop itself
  Pump();
  const HWND chooser = InstrumentChooserWindow();
  ASSERT_NE(chooser, nullptr);
  const HWND list = FindWindowExW(chooser, nullptr, L"ListBox", nullptr);
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
  wchar_t item[128] = {};
  SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(std::wstring(item), L"0:3 Keys (2 zones, 17066 bytes)");
  SetFocus(list);
  test::KeyThroughMessageLoop(list, VK_TAB);  // to the velocity
  EXPECT_EQ(ClassName(GetFocus()), L"Edit");
  Click(chooser, FindWindowExW(chooser, nullptr, L"Button", L"Add"));
  Pump();
  EXPECT_FALSE(IsWindow(chooser));
  ASSERT_EQ(TheDocument().multisounds.size(), 1u);
  const Sound& keys = TheDocument().multisounds[0];
  EXPECT_EQ(keys.name.view(), "Keys");
  ASSERT_EQ(keys.samples.size(), 2u);
  EXPECT_EQ(keys.samples[0].rootNote, 36);
  EXPECT_EQ(keys.samples[0].topKey, 47);
  EXPECT_EQ(keys.samples[1].markers.loop, 708);
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(WindowText(Control(MainRow::kStatus)), L"Added Keys: 2 samples");
}

TEST_F(InstrumentChooserTest, ChosenThroughTheEditorsAdd) {
  WriteKeys();
  Sound empty;
  empty.name.assign("M");
  TheDocument().multisounds.push_back(std::move(empty));
  RefreshMainWindow();
  SelectInList(MainRow::kMultiList, 0);
  ListCommand(MainRow::kMultiList, LBN_DBLCLK);
  const Boxes seen = Answering({{IDOK, 0x47C, ScratchFolder() + L"keys.sf2"}},
                               [] { SendMessageW(EditorControl(EditorRow::kAdd), BM_CLICK, 0, 0); });
  EXPECT_EQ(seen.size(), 1u);  // the file dialog only
  const HWND chooser = InstrumentChooserWindow();
  ASSERT_NE(chooser, nullptr);
  Click(chooser, FindWindowExW(chooser, nullptr, L"Button", L"Add"));
  Pump();
  ASSERT_EQ(TheDocument().multisounds.size(), 2u);
  EXPECT_EQ(TheDocument().multisounds[1].samples.size(), 2u);
  ShowWindow(App().editorWindow, SW_HIDE);
}

}  // namespace
}  // namespace tavrin
