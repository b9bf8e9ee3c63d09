// The sound editor window driven with messages: enabling, typing, snapshots,
// the sample list commands, the hand-back, the waveform's pixels and
// closing while a preview plays.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/keyboard_strip_gui_win.h"
#include "app/sound_editor_gui_win.h"
#include "app/waveform_view_gui_win.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::Boxes;
using test::WindowText;
namespace R = EditorRow;

// A sound of `samples` samples of `frames` frames: a sine of 100 frames per
// cycle, looped from frame 200 to the end.
Sound MakeSound(SoundType type, std::size_t samples, std::size_t frames = 1000) {
  Sound s;
  s.name.assign("Pad");
  s.soundType = type;
  for (std::size_t i = 0; i < samples; ++i) {
    SampleData* d = AppendSample(s);
    d->name.assign(i == 0 ? "A" : i == 1 ? "B" : "C");
    for (std::size_t f = 0; f < frames; ++f) d->frames.push_back(0.8f * std::sin(f * 6.2831853f / 100.0f));
    d->markers = MarkerSet{0, 0, 200, static_cast<std::int64_t>(frames)};
    d->loopFlags = LoopFlags::kForward;
    d->loopOn = true;
  }
  return s;
}

// A mono 16-bit WAV file of `frames` frames at 31250 Hz.
void WriteWav(const std::wstring& path, std::uint32_t frames) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out << "RIFF";
  u32(36 + 2 * frames);
  out << "WAVEfmt ";
  u32(16), u16(1), u16(1), u32(31250), u32(62500), u16(2), u16(16);
  out << "data";
  u32(2 * frames);
  for (std::uint32_t f = 0; f < frames; ++f) u16(static_cast<std::uint16_t>(f * 40));
}

class EditorTest : public test::MainWindowFixture {
 protected:
  void Open(Sound sound) {
    const bool multi = sound.soundType == SoundType::Multisound;
    (multi ? TheDocument().multisounds : TheDocument().drumsounds).push_back(std::move(sound));
    RefreshMainWindow();
    const std::size_t list = multi ? MainRow::kMultiList : MainRow::kDrumList;
    SelectInList(list, 0);
    ListCommand(list, LBN_DBLCLK);
    editor_ = App().editorWindow;
    ASSERT_TRUE(IsWindowVisible(editor_));
  }
  static HWND C(std::size_t row) { return EditorControl(row); }
  void Press(std::size_t row) { SendMessageW(C(row), BM_CLICK, 0, 0); }
  static void Type(std::size_t row, const std::wstring& text) {
    SendMessageW(C(row), EM_SETSEL, 0, -1);
    for (wchar_t c : text) SendMessageW(C(row), WM_CHAR, c, 0);
  }
  static const SampleData& Current() { return *EditorModelOfWindow().CurrentSample(); }
  static std::size_t SampleCount() { return EditorModelOfWindow().working.samples.size(); }
  static bool ReadOnly(std::size_t row) { return (GetWindowLongPtrW(C(row), GWL_STYLE) & ES_READONLY) != 0; }
  HWND editor_ = nullptr;
};

TEST_F(EditorTest, EnablingFollowsSoundTypeAndSelection) {
  struct Case {
    SoundType type;
    std::size_t samples;
    bool select;
    // PCM radio, Play, Forward, "+", "-", Export, DWGS button, Top Key, Start ">", marker fields editable
    const char* enabled;
  } cases[] = {
      {SoundType::Multisound, 1, true, "1111111111"},
      {SoundType::Multisound, 2, true, "1111110111"},
      {SoundType::Multisound, 2, false, "1001010000"},
      {SoundType::Multisound, 0, false, "1001000000"},
      {SoundType::Drumsound, 1, true, "0100110011"},
      {SoundType::Drumsound, 0, false, "0001000000"},
  };
  for (const Case& c : cases) {
    Open(MakeSound(c.type, c.samples));
    if (!c.select) {
      SendMessageW(C(R::kList), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      SendMessageW(editor_, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), reinterpret_cast<LPARAM>(C(R::kList)));
    }
    std::string seen;
    for (std::size_t row : {R::kPcm, R::kPlay, R::kForward, R::kAdd, R::kRemove, R::kExport, R::kDwgs, R::kTopKey,
                            R::kStart + 2})
      seen += IsWindowEnabled(C(row)) ? '1' : '0';
    seen += ReadOnly(R::kStart) ? '0' : '1';
    EXPECT_EQ(seen, c.enabled) << static_cast<int>(c.type) << " " << c.samples << " " << c.select;
    EXPECT_EQ(IsWindowEnabled(C(R::kSnapshot1)), IsWindowEnabled(C(R::kPlay)));
    if (c.type == SoundType::Drumsound) {
      EXPECT_EQ(SendMessageW(C(R::kPcm), BM_GETCHECK, 0, 0), BST_CHECKED);
    }
    if (!c.select) {
      EXPECT_EQ(WindowText(C(R::kStart)), L"");
    }
    Press(R::kCancel);
    TheDocument().Reset();
  }
}

TEST_F(EditorTest, TypingMarkersAndSignedValues) {
  Open(MakeSound(SoundType::Multisound, 1));
  EXPECT_EQ(WindowText(editor_), test::Title(L" - Edit Pad"));
  Type(R::kStart, L"1x50");  // the marker fields take digits only
  EXPECT_EQ(WindowText(C(R::kStart)), L"150");
  EXPECT_EQ(Current().markers.start, 150);
  Type(R::kEnd, L"99999");  // limited to the frame count, the text kept
  EXPECT_EQ(Current().markers.end, 1000);
  EXPECT_FALSE(IsWindowEnabled(C(R::kEnd + 2)));
  struct Row {
    std::size_t field;
    const wchar_t* typed;
    const wchar_t* shown;
    int kept;
  } rows[] = {
      // The end typed above made the automatic transpose -120.
      {R::kTranspose, L"a", L"-120", -120},  {R::kTranspose, L"-", L"-", -120},  {R::kTranspose, L"-7", L"-7", -7},
      {R::kTranspose, L"\u221212", L"\u221212", -12}, {R::kTranspose, L"500", L"120", 120},
      {R::kLevel, L"-5x", L"-5", -5}, {R::kVdfCutoff, L"-60", L"-50", -50},
  };
  for (const Row& r : rows) {
    Type(r.field, r.typed);
    EXPECT_EQ(WindowText(C(r.field)), r.shown) << r.typed;
    const SampleData& s = Current();
    EXPECT_EQ(r.field == R::kTranspose ? s.transpose : r.field == R::kLevel ? s.level : s.vdfCutoff, r.kept) << r.typed;
  }
  Type(R::kName, L"Strings");
  EXPECT_EQ(WindowText(editor_), test::Title(L" - Edit Strings"));
}

TEST_F(EditorTest, SnapshotsStoreRecallAndClearWithAlt) {
  Open(MakeSound(SoundType::Multisound, 1));
  const auto pressWithAlt = [&](bool alt) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_MENU] = alt ? 0x80 : 0;
    SetKeyboardState(keys);
    Press(R::kSnapshot1 + 2);
  };
  const auto filled = [] { return SnapshotFilled(Current().snapshots[2]); };
  pressWithAlt(false);  // empty slot: stores
  EXPECT_TRUE(filled());
  Type(R::kStart, L"300");
  pressWithAlt(false);  // filled slot: recalls
  EXPECT_EQ(Current().markers.start, 0);
  EXPECT_EQ(WindowText(C(R::kStart)), L"0");
  pressWithAlt(true);  // Alt: clears
  EXPECT_FALSE(filled());
  Type(R::kStart, L"300");
  pressWithAlt(false);  // empty again: stores
  EXPECT_TRUE(filled());
  EXPECT_EQ(Current().snapshots[2].start, 300);
}

TEST_F(EditorTest, SnapshotButtonsShowFilledSlotsPressAndFocus) {
  Open(MakeSound(SoundType::Multisound, 1));
  Press(R::kSnapshot1 + 2);  // slot 3 filled
  SetFocus(editor_);
  const auto face = [](std::size_t row) {  // a button's middle column, then a point inside its edge
    RedrawWindow(C(row), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    HDC dc = GetDC(C(row));
    std::vector<COLORREF> seen;
    for (int y = 3; y <= 20; ++y) seen.push_back(GetPixel(dc, y == 20 ? 3 : 11, y == 20 ? 3 : y));
    ReleaseDC(C(row), dc);
    return seen;
  };
  const std::vector<COLORREF> filled = face(R::kSnapshot1 + 2);
  EXPECT_EQ(filled.back(), RGB(34, 34, 34));
  EXPECT_EQ(face(R::kSnapshot1 + 3).back(), GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(std::any_of(filled.begin(), filled.end(), [](COLORREF c) { return GetGValue(c) > 180; }));  // the digit
  SendMessageW(C(R::kSnapshot1 + 2), BM_SETSTATE, TRUE, 0);
  EXPECT_NE(face(R::kSnapshot1 + 2), filled);
  SendMessageW(C(R::kSnapshot1 + 2), BM_SETSTATE, FALSE, 0);
  SetFocus(C(R::kSnapshot1 + 2));
  EXPECT_NE(face(R::kSnapshot1 + 2), filled);
}

TEST_F(EditorTest, AClickInTheListKeepsItWhereItIs) {
  Open(MakeSound(SoundType::Multisound, 30, 100));
  HWND list = C(R::kList);
  SendMessageW(list, LB_SETTOPINDEX, 5, 0);
  RECT client, plus, item;
  GetClientRect(list, &client);
  GetWindowRect(C(R::kAdd), &plus);
  MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&plus), 2);
  const int last = 4 + client.bottom / static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  SendMessageW(list, LB_GETITEMRECT, last, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.bottom, client.bottom);  // whole rows only, none under "+"
  EXPECT_LE(item.bottom, plus.top);
  for (int click = 0; click < 2; ++click) {  // the same place twice: the same sample, no scrolling
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, item.top + 2));
    SendMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(5, item.top + 2));
    EXPECT_EQ(EditorModelOfWindow().current, last);
    EXPECT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0), 5);
  }
}

TEST_F(EditorTest, OkThatTheCardCannotTakeKeepsTheEditorOpen) {
  Open(MakeSound(SoundType::Multisound, 1));
  const SUBCLASSPROC noMemory = [](HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) -> LRESULT {
    return m == kMsgSoundEdited ? 0 : DefSubclassProc(h, m, w, l);
  };
  SetWindowSubclass(main_, noMemory, 1, 0);
  EXPECT_EQ(test::Answering({IDOK}, [&] { Press(R::kOk); }),
            Boxes{test::Title(L"|There is not enough memory to hand the sound back to the card\n\n"
                              L"The editor stays open: close other programs and press OK again.")});
  RemoveWindowSubclass(main_, noMemory, 1);
  EXPECT_TRUE(IsWindowVisible(editor_));
  EXPECT_EQ(SampleCount(), 1u);
}

TEST_F(EditorTest, CancelKeepsTheDocumentOkReplacesTheSound) {
  Open(MakeSound(SoundType::Multisound, 1, 1024));
  Press(R::kDwgs);  // one sample into the eight DWGS waves
  EXPECT_EQ(SampleCount(), 8u);
  EXPECT_EQ(SendMessageW(C(R::kList), LB_GETCOUNT, 0, 0), 8);
  EXPECT_EQ(SendMessageW(C(R::kDwgsRadio), BM_GETCHECK, 0, 0), BST_CHECKED);
  Press(R::kCancel);
  EXPECT_FALSE(IsWindowVisible(editor_));
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(TheDocument().multisounds[0].samples.size(), 1u);
  EXPECT_EQ(TheDocument().multisounds[0].waveType, WaveType::PCM);
  EXPECT_FALSE(TheDocument().modified);
  ListCommand(MainRow::kMultiList, LBN_DBLCLK);
  Press(R::kDwgs);
  Press(R::kOk);
  EXPECT_FALSE(IsWindowVisible(editor_));
  EXPECT_EQ(TheDocument().multisounds[0].samples.size(), 8u);
  EXPECT_TRUE(TheDocument().modified);
}

TEST_F(EditorTest, DroppedFilesAreImportedAndFailuresReported) {
  WriteWav(test::ScratchFolder() + L"one.wav", 400);
  std::ofstream(std::filesystem::path(test::ScratchFolder() + L"broken.wav")) << "not a wave file";
  WriteWav(test::ScratchFolder() + L"three.wav", 500);
  std::ofstream(std::filesystem::path(test::ScratchFolder() + L"notes.txt")) << "notes";
  Open(MakeSound(SoundType::Multisound, 0));
  IDropTarget* target = EditorDropTarget();
  ASSERT_NE(target, nullptr);
  const auto drop = [&](const std::vector<std::wstring>& names, bool enterOnly = false) {
    IDataObject* data = test::ShellFiles(names);
    DWORD effect = DROPEFFECT_COPY;
    target->DragEnter(data, 0, POINTL{10, 10}, &effect);
    const DWORD entered = effect;
    if (enterOnly) {
      target->DragLeave();
    } else {
      target->Drop(data, 0, POINTL{10, 10}, &effect);
      test::Pump();  // imported once the drop has returned
    }
    data->Release();
    return entered;
  };
  EXPECT_EQ(drop({L"notes.txt"}, true), DWORD{DROPEFFECT_NONE});
  Boxes seen = test::Answering({IDOK}, [&] { EXPECT_EQ(drop({L"one.wav", L"broken.wav", L"three.wav"}), DWORD{DROPEFFECT_COPY}); });
  EXPECT_EQ(seen, Boxes{test::Title(L"|The file couldn't be imported")});
  EXPECT_EQ(SampleCount(), 2u);
  EXPECT_EQ(EditorModelOfWindow().current, 1);
  EXPECT_EQ(SendMessageW(C(R::kList), LB_GETCURSEL, 0, 0), 1);
  seen = test::Answering({IDOK}, [&] { drop({L"broken.wav", L"notes.txt"}); });
  EXPECT_EQ(seen, Boxes{test::Title(L"|2 files couldn't be imported")});
  EXPECT_EQ(EditorModelOfWindow().current, 1);  // the selection stays

  // Reordering: row 0 dragged onto row 2 (the placeholder after the last).
  const UINT dragMessage = RegisterWindowMessageW(DRAGLISTMSGSTRING);
  const auto notify = [&](UINT code, int row) {
    RECT r = {};
    SendMessageW(C(R::kList), LB_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    DRAGLISTINFO info = {code, C(R::kList), {r.left + 5, (r.top + r.bottom) / 2}};
    ClientToScreen(C(R::kList), &info.ptCursor);
    return SendMessageW(editor_, dragMessage, 0, reinterpret_cast<LPARAM>(&info));
  };
  const std::string firstName(EditorModelOfWindow().working.samples[0].name.view());
  EXPECT_TRUE(notify(DL_BEGINDRAG, 0));
  EXPECT_EQ(notify(DL_DRAGGING, 1), DL_MOVECURSOR);
  EXPECT_EQ(SendMessageW(C(R::kList), LB_GETCOUNT, 0, 0), 3);  // the placeholder
  notify(DL_DROPPED, 2);
  EXPECT_EQ(SendMessageW(C(R::kList), LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(EditorModelOfWindow().working.samples[1].name.view(), firstName);
  EXPECT_EQ(EditorModelOfWindow().current, 1);
  // Remove the first: the new first is current.
  SendMessageW(C(R::kList), LB_SETCURSEL, 0, 0);
  SendMessageW(editor_, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), reinterpret_cast<LPARAM>(C(R::kList)));
  Press(R::kRemove);
  EXPECT_EQ(SampleCount(), 1u);
  EXPECT_EQ(EditorModelOfWindow().current, 0);
  EXPECT_FALSE(notify(DL_BEGINDRAG, 0));  // one sample: no drag
  // Each went through the model: undone one by one, down to the empty list.
  for (const auto& [count, first] : {std::pair{2u, "three"}, {2u, "one"}, {0u, ""}}) {
    Press(R::kUndo);
    EXPECT_EQ(SampleCount(), count);
    if (count > 0) {
      EXPECT_EQ(std::string(EditorModelOfWindow().working.samples[0].name.view()), first);
    }
  }
  EXPECT_FALSE(IsWindowEnabled(C(R::kUndo)));
}

TEST_F(EditorTest, PlusImportsTheChosenFilesAndReportsFailures) {
  for (const wchar_t* name : {L"pick1.wav", L"pick2.wav"}) WriteWav(test::ScratchFolder() + name, 300);
  std::ofstream(std::filesystem::path(test::ScratchFolder() + L"pickbad.wav")) << "not a wave file";
  const std::wstring folder = test::ScratchFolder();
  RegSetKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Veltrovana\\Tavrin", L"LastSamplePath", REG_SZ, folder.c_str(),
                  static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
  Open(MakeSound(SoundType::Multisound, 0));
  const Boxes seen = test::Answering({{IDOK, 0x47C, L"\"pick1.wav\" \"pickbad.wav\" \"pick2.wav\""}, {IDOK}},
                                     [&] { Press(R::kAdd); });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], test::Title(L"|The file couldn't be imported"));
  EXPECT_EQ(SampleCount(), 2u);
}

TEST_F(EditorTest, WaveformPixels) {
  Open(MakeSound(SoundType::Multisound, 1, 4000));
  HWND view = C(R::kView);
  // Start at 0, loop at 1000, end at 4000: "S", "L" and "E" handles.
  Type(R::kLoop, L"1000");
  RedrawWindow(view, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RECT rc;
  GetClientRect(view, &rc);
  HDC dc = GetDC(view);
  const auto at = [&](int x, int y) { return GetPixel(dc, x, y); };
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  int waveform = 0;
  for (int x = 1; x < rc.right - 1; ++x)
    for (int y = 1; y < rc.bottom - 1; ++y) waveform += at(x, y) == RGB(180, 25, 130);
  EXPECT_GT(waveform, rc.right);  // the sine's strokes
  const int plotWidth = rc.right - 2;
  const int loopX = static_cast<int>(std::floor(plotWidth * 1000.0 / 4000.0 + 1));
  EXPECT_EQ(at(loopX, rc.bottom - 5), text);  // the loop marker's line, below its handle
  EXPECT_EQ(at(loopX - 3, rc.bottom - 5) == text, false);
  EXPECT_EQ(at(1, 1), text);  // the start handle's outline at the plot's top left
  EXPECT_EQ(at(0, 0), GetSysColor(COLOR_3DSHADOW));
  ReleaseDC(view, dc);
  // Dragging the end handle to the middle moves the marker and the field.
  const int endX = plotWidth;
  SendMessageW(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(endX - 3, 4));
  SendMessageW(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1 + plotWidth / 2, 4));
  SendMessageW(view, WM_LBUTTONUP, 0, MAKELPARAM(1 + plotWidth / 2, 4));
  EXPECT_EQ(Current().markers.end, 2000);
  EXPECT_EQ(WindowText(C(R::kEnd)), L"2000");
  EXPECT_EQ(GetCapture(), nullptr);
}

// Needs an output device: run by tests/win_gui/preview_pitch_wine.sh with a
// PulseAudio null sink.
TEST_F(EditorTest, ClosingWhilePlaying) {
  if (GetEnvironmentVariableW(L"TAVRIN_RECORD_PREVIEW", nullptr, 0) == 0) GTEST_SKIP() << "run by the script";
  Open(MakeSound(SoundType::Multisound, 2, 31250));
  Press(R::kPlay);
  ASSERT_TRUE(EditorPreviewPlaying()) << "no audio output device";
  EXPECT_EQ(WindowText(C(R::kPlay)), L"Stop");
  // Another sample while playing: stopped and started again on it.
  SendMessageW(C(R::kList), LB_SETCURSEL, 1, 0);
  SendMessageW(editor_, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), reinterpret_cast<LPARAM>(C(R::kList)));
  EXPECT_TRUE(EditorPreviewPlaying());
  // The space bar held down on the list: only its first key-down toggles.
  SetFocus(C(R::kList));
  for (const LPARAM repeat : {0, 1 << 30}) {
    MSG m = {C(R::kList), WM_KEYDOWN, VK_SPACE, repeat | 1, 0, {}};
    EXPECT_TRUE(SoundEditorPreTranslate(m));
  }
  EXPECT_FALSE(EditorPreviewPlaying());
  for (std::size_t close : {R::kOk, R::kCancel, std::size_t{0}}) {
    if (!EditorPreviewPlaying()) Press(R::kPlay);
    test::Pump();
    if (close == 0) {
      SendMessageW(editor_, WM_CLOSE, 0, 0);
    } else {
      Press(close);
    }
    EXPECT_FALSE(EditorPreviewPlaying());
    EXPECT_FALSE(IsWindowVisible(editor_));
    EXPECT_EQ(SampleCount(), 0u);
    ListCommand(MainRow::kMultiList, LBN_DBLCLK);
  }
}

// Plays for tests/win_gui/preview_pitch_wine.sh, which records the output:
// a looped 1 kHz sine for 2.5 s, 1 s of silence, the same at transpose +120, then
// the sample without its loop until it ends by itself.
TEST_F(EditorTest, PreviewForRecording) {
  if (GetEnvironmentVariableW(L"TAVRIN_RECORD_PREVIEW", nullptr, 0) == 0) GTEST_SKIP() << "run by the script";
  Sound sound = MakeSound(SoundType::Multisound, 1, 31250);
  SampleData& d = sound.samples[0];
  for (std::size_t f = 0; f < d.frames.size(); ++f) d.frames[f] = 0.5f * std::sin(f * 6.2831853f * 1000.0f / 31250.0f);
  d.markers = MarkerSet{0, 0, 1, 31250};  // the preview loops back to frame `loop` - 1
  Open(std::move(sound));
  Type(R::kTranspose, L"0");
  const auto play = [&](int milliseconds) {
    Press(R::kPlay);
    ASSERT_TRUE(EditorPreviewPlaying());
    EXPECT_EQ(WindowText(C(R::kPlay)), L"Stop");
    test::PumpUntil([] { return false; }, milliseconds);
  };
  play(2500);  // a cold sound server may swallow the first second
  Press(R::kPlay);
  test::PumpUntil([] { return false; }, 1000);
  Type(R::kTranspose, L"120");
  play(1500);
  Press(R::kPlay);
  Press(R::kForward);  // no loop: the sample ends by itself
  EXPECT_EQ(Current().loopFlags, 0u);
  Press(R::kPlay);
  EXPECT_TRUE(test::PumpUntil([] { return !EditorPreviewPlaying(); }, 3000));
  EXPECT_EQ(WindowText(C(R::kPlay)), L"Play");
}

// --- Undo and the tools ---------------------------------------------------------

// A sine of `hz` over `frames` frames.
std::vector<float> Tone(double hz, std::size_t frames, float level = 0.5f) {
  std::vector<float> f(frames);
  for (std::size_t i = 0; i < frames; ++i) f[i] = level * static_cast<float>(std::sin(i * 6.283185307 * hz / 31250.0));
  return f;
}

// Ctrl+Z or Ctrl+Y as the message loop hands it to the editor.
void CtrlKey(char key) {
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  MSG m = {EditorControl(R::kList), WM_KEYDOWN, static_cast<WPARAM>(key), 1, 0, {}};
  EXPECT_TRUE(SoundEditorPreTranslate(m));
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
}

TEST_F(EditorTest, UndoGivesBackTheExactSound) {
  Sound original = MakeSound(SoundType::Multisound, 3, 1024);
  Open(original);
  EXPECT_FALSE(IsWindowEnabled(C(R::kUndo)));
  Type(R::kName, L"Bells");  // five characters typed: one step
  SendMessageW(editor_, WM_COMMAND, MAKEWPARAM(0, EN_KILLFOCUS), reinterpret_cast<LPARAM>(C(R::kName)));
  Press(R::kRemove);  // through the model: undoable
  EXPECT_EQ(SampleCount(), 2u);
  Press(R::kDwgs);
  ASSERT_EQ(SampleCount(), 2u);  // two samples: no conversion
  SendMessageW(C(R::kList), LB_SETCURSEL, 0, 0);
  Press(R::kRemove);
  Press(R::kDwgs);
  EXPECT_EQ(SampleCount(), 8u);
  EXPECT_TRUE(IsWindowEnabled(C(R::kUndo)));
  for (const auto& [keys, count, name] : {std::tuple{"Z", 1u, L"Bells"}, {"ZZ", 3u, L"Bells"}, {"Y", 2u, L"Bells"},
                                         {"ZZ", 3u, L"Pad"}}) {
    for (const char* k = keys; *k; ++k) CtrlKey(*k);
    EXPECT_EQ(SampleCount(), count) << keys;
    EXPECT_EQ(WindowText(C(R::kName)), name) << keys;
  }
  EXPECT_FALSE(IsWindowEnabled(C(R::kUndo)));
  EXPECT_TRUE(IsWindowEnabled(C(R::kRedo)));
  Press(R::kOk);
  const Sound& back = TheDocument().multisounds[0];
  ASSERT_TRUE(SameSoundFields(back, original));
  ASSERT_EQ(back.samples.size(), original.samples.size());
  for (std::size_t i = 0; i < back.samples.size(); ++i) {
    EXPECT_TRUE(SameSkeleton(back.samples[i], original.samples[i])) << i;
    EXPECT_EQ(back.samples[i].frames, original.samples[i].frames) << i;
  }
}

TEST_F(EditorTest, FindLoopStepsThroughTheSearchAndUndoes) {
  Sound sound = MakeSound(SoundType::Multisound, 1, 31250);
  SampleData& d = sound.samples[0];
  std::vector<float> a = Tone(220, 31250), b = Tone(661, 31250, 0.2f);
  for (std::size_t i = 0; i < a.size(); ++i) d.frames[i] = a[i] + b[i] * static_cast<float>(i) / 31250.0f;
  d.markers = MarkerSet{0, 0, 0, 31250};
  d.loopFlags = 0;
  d.loopOn = false;
  // The search as `tavrin analyze` runs it on the same frames.
  PitchEstimate pitch;
  ASSERT_EQ(DetectPitch(d.frames.data(), d.frames.size(), 31250, pitch), kOk);
  LoopSearchOptions options;
  options.to = d.markers.end;
  options.period = 31250 / pitch.frequency;
  std::vector<LoopCandidate> listed;
  ASSERT_EQ(FindLoops(d.frames.data(), d.frames.size(), options, listed), kOk);
  ASSERT_GE(listed.size(), 2u);
  Open(std::move(sound));
  for (std::size_t k = 0; k < 2; ++k) {
    Press(R::kFindLoop);
    EXPECT_EQ(Current().markers.loop, listed[k].loop) << k;
    EXPECT_EQ(Current().markers.end, listed[k].end) << k;
    EXPECT_EQ(WindowText(C(R::kLoop)), std::to_wstring(listed[k].loop));
    EXPECT_EQ(WindowText(C(R::kLoopStatus)).rfind(L"Loop " + std::to_wstring(k + 1) + L" of ", 0), 0u)
        << WindowText(C(R::kLoopStatus));
  }
  EXPECT_EQ(SendMessageW(C(R::kForward), BM_GETCHECK, 0, 0), BST_CHECKED);
  Press(R::kUndo);
  EXPECT_EQ(Current().markers.loop, listed[0].loop);
  Press(R::kUndo);
  EXPECT_EQ(Current().markers.end, 31250);
  EXPECT_EQ(Current().loopFlags, 0u);
}

TEST_F(EditorTest, DetectPitchSetsRootAndTransposeOrSaysWhyNot) {
  struct Case {
    bool noise;
    int root, transpose;
    const wchar_t* status;
  } cases[] = {{false, 69, -20, L"A4"}, {true, 60, 0, L"No pitch found"}};
  for (const Case& c : cases) {
    Sound sound = MakeSound(SoundType::Multisound, 1, 31250);
    SampleData& d = sound.samples[0];
    d.frames = Tone(440.0 * std::exp2(20.0 / 1200), 31250);
    std::uint32_t seed = 1;
    if (c.noise)
      for (float& f : d.frames) f = static_cast<float>((seed = seed * 1664525u + 1013904223u) >> 8) / 16777216.0f - 0.5f;
    d.rootNote = 60;
    d.loopOn = false;
    d.loopFlags = 0;
    Open(std::move(sound));
    Press(R::kDetectPitch);
    EXPECT_EQ(Current().rootNote, c.root);
    EXPECT_NEAR(Current().transpose, c.transpose, 1);
    EXPECT_NE(WindowText(C(R::kPitchStatus)).find(c.status), std::wstring::npos) << WindowText(C(R::kPitchStatus));
    EXPECT_EQ(IsWindowEnabled(C(R::kUndo)), !c.noise);
    Press(R::kUndo);
    EXPECT_EQ(Current().rootNote, 60);
    Press(R::kCancel);
    TheDocument().Reset();
  }
}

TEST_F(EditorTest, CrossfadeAndTrimChangeTheFramesAndUndo) {
  Sound sound = MakeSound(SoundType::Multisound, 1, 31250);
  sound.samples[0].markers = MarkerSet{0, 1000, 1250, 31100};  // a seam half a cycle off
  const std::vector<float> frames = sound.samples[0].frames;
  Open(std::move(sound));
  // As it opens: the seam now and after the automatic length, as the loop search measures them.
  wchar_t opening[96];
  std::swprintf(opening, 96, L"Seam now %.0f dB; crossfaded over %.1f ms: ",
                SeamErrorDb(frames.data(), frames.size(), 1250, 31100, 100.0),  // a period of 100 frames
                AutoCrossfadeFrames(Current()) * 1000.0 / kCardRate);
  const Boxes seen = test::Answering({test::BoxAnswer(IDOK, 100, L"5")}, [&] { Press(R::kCrossfade); });
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].find(opening), std::wstring::npos) << seen[0];
  std::size_t changed = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) changed += Current().frames[i] != frames[i];
  EXPECT_GT(changed, 100u);
  EXPECT_LE(changed, 156u);  // 5 ms, not the automatic 20
  EXPECT_EQ(Current().frames.size(), frames.size());
  Press(R::kTrim);  // the frames before Start and from End on go
  EXPECT_EQ(Current().frames.size(), 30100u);
  EXPECT_EQ(WindowText(C(R::kTrimStatus)), L"2300 bytes given back");
  EXPECT_EQ(WindowText(C(R::kEnd)), L"30100");
  Press(R::kUndo);
  Press(R::kUndo);
  EXPECT_EQ(Current().frames, frames);
  EXPECT_EQ(Current().markers.start, 1000);
}

TEST_F(EditorTest, F2RenamesAtTheCardsLength) {
  Open(MakeSound(SoundType::Multisound, 2));
  SendMessageW(C(R::kList), WM_KEYDOWN, VK_F2, 0);
  HWND field = FindWindowExW(C(R::kList), nullptr, L"Edit", nullptr);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(WindowText(field), L"A");
  // The 2-byte letter would end at byte 33: the name ends before it.
  SetWindowTextW(field, (std::wstring(31, L'x') + L"\u00e9").c_str());
  SendMessageW(field, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_FALSE(IsWindow(field));
  EXPECT_EQ(std::string(Current().name.view()), std::string(31, 'x'));
  wchar_t row[64] = {};
  SendMessageW(C(R::kList), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
  EXPECT_EQ(row, std::wstring(31, L'x'));
  Press(R::kUndo);
  EXPECT_EQ(std::string(Current().name.view()), "A");
}

TEST_F(EditorTest, KeyboardStripZonesSelectAndDragTheTopKey) {
  Sound sound = MakeSound(SoundType::Multisound, 2);
  sound.samples[0].rootNote = 48, sound.samples[0].topKey = 59;
  sound.samples[1].rootNote = 72, sound.samples[1].topKey = 127;
  Open(std::move(sound));
  HWND strip = C(R::kKeyboard);
  const auto point = [&](int note, int what) { return static_cast<int>(SendMessageW(strip, kStripNotePoint, note, what)); };
  const auto mouse = [&](UINT msg, int x, int y) { SendMessageW(strip, msg, 0, MAKELPARAM(x, y)); };
  const int band = point(0, 2);
  mouse(WM_LBUTTONDOWN, point(80, 0) + 2, band);  // inside the second zone
  mouse(WM_LBUTTONUP, point(80, 0) + 2, band);
  EXPECT_EQ(EditorModelOfWindow().current, 1);
  mouse(WM_LBUTTONDOWN, point(59, 1) + 1, band);  // the first zone's right edge, to the right by five keys
  mouse(WM_MOUSEMOVE, point(62, 1) + 1, band);
  mouse(WM_MOUSEMOVE, point(64, 1) + 1, band);
  mouse(WM_LBUTTONUP, point(64, 1) + 1, band);
  EXPECT_EQ(EditorModelOfWindow().current, 0);
  EXPECT_EQ(EditorModelOfWindow().working.samples[0].topKey, 64);
  EXPECT_EQ(SendMessageW(C(R::kTopKey), CB_GETCURSEL, 0, 0), 64);
  Press(R::kUndo);  // the whole drag is one step
  EXPECT_EQ(EditorModelOfWindow().working.samples[0].topKey, 59);
  Press(R::kNonTranspose);  // its zone then ends below the next root
  mouse(WM_LBUTTONDOWN, point(71, 1) + 1, band);
  mouse(WM_LBUTTONUP, point(75, 1) + 1, band);
  EXPECT_EQ(EditorModelOfWindow().working.samples[0].topKey, 59);
}

// Plays for tests/win_gui/preview_pitch_wine.sh: key 72 of a 500 Hz sample
// rooted at 60 (1000 Hz) for 1.5 s, 1 s of silence, then key 84, the root of
// a 312.5 Hz sample whose zone holds it, then C4 from the computer keyboard. Prints the time from the click to
// the first buffer handed to the output (the player fills it before Start
// returns).
TEST_F(EditorTest, KeyboardForRecording) {
  if (GetEnvironmentVariableW(L"TAVRIN_RECORD_PREVIEW", nullptr, 0) == 0) GTEST_SKIP() << "run by the script";
  Sound sound = MakeSound(SoundType::Multisound, 2, 31250);
  const double hz[2] = {500.0, 312.5};
  for (std::size_t i = 0; i < 2; ++i) {
    SampleData& d = sound.samples[i];
    d.frames = Tone(hz[i], 31250);
    d.markers = MarkerSet{0, 0, 1001, 31001};  // whole periods of both
    d.rootNote = i == 0 ? 60 : 84;
    d.topKey = i == 0 ? 75 : 127;
  }
  Open(std::move(sound));
  HWND strip = C(R::kKeyboard);
  for (int note : {72, 84}) {
    const LPARAM at = MAKELPARAM(SendMessageW(strip, kStripNotePoint, note, 0) + 2, SendMessageW(strip, kStripNotePoint, note, 3));
    LARGE_INTEGER t0, t1, f;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    SendMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
    QueryPerformanceCounter(&t1);
    ASSERT_TRUE(EditorPreviewPlaying()) << "no audio output device";
    const double ms = 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart);
    std::printf("key %d: %.2f ms from the click to the first buffer\n", note, ms);
    EXPECT_LE(ms, 2048 * 1000.0 / 31250);  // one buffer of the output
    // The first note is held longer: the first sound of a fresh Wine process
    // can reach the sink a second late.
    test::PumpUntil([] { return false; }, note == 72 ? 3000 : 1500);
    SendMessageW(strip, WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(EditorPreviewPlaying());
    test::PumpUntil([] { return false; }, 1000);
  }
  // The computer keyboard an octave up: Z is C4, the first sample's root.
  SendMessageW(strip, WM_KEYDOWN, VK_RIGHT, 0);
  SendMessageW(strip, WM_KEYDOWN, 'Z', 0);
  EXPECT_TRUE(EditorPreviewPlaying());
  test::PumpUntil([] { return false; }, 1500);
  SendMessageW(strip, WM_KEYUP, 'Z', 0);
  EXPECT_FALSE(EditorPreviewPlaying());
  EXPECT_EQ(EditorModelOfWindow().current, 0);  // playing makes no sample current
}

}  // namespace
}  // namespace tavrin
