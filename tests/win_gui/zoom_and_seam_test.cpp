// The sound editor's zoom (wheel, Ctrl+wheel, scroll bar, "Zoom to Loop",
// "Zoom to Fit"), a marker dragged at 32 pixels a frame, and the seam view
// following the markers while they are dragged and typed.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "app/seam_view_gui_win.h"
#include "app/sound_editor_gui_win.h"
#include "app/waveform_view_gui_win.h"
#include "audio/pitch.h"
#include "audio/loop_search.h"
#include "editor/waveform_zoom.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

namespace R = EditorRow;

class ZoomTest : public test::MainWindowFixture {
 protected:
  // One sample of 31250 frames, a sine of 100 frames a cycle with a slow
  // swell (so that seams differ), looped from 10000 to 12000.
  void SetUp() override {
    test::MainWindowFixture::SetUp();
    Sound s;
    s.name.assign("Pad");
    SampleData* d = AppendSample(s);
    for (int f = 0; f < 31250; ++f) d->frames.push_back((0.5f + 0.3f * std::sin(f / 997.0f)) * std::sin(f * 6.2831853f / 100.0f));
    d->markers = MarkerSet{0, 0, 10000, 12000};
    d->loopFlags = LoopFlags::kForward;
    d->loopOn = true;
    TheDocument().multisounds.push_back(std::move(s));
    RefreshMainWindow();
    SelectInList(MainRow::kMultiList, 0);
    ListCommand(MainRow::kMultiList, LBN_DBLCLK);
    editor_ = App().editorWindow;
    view_ = EditorControl(R::kView);
    RECT rc;
    GetClientRect(view_, &rc);
    width_ = rc.right - 2.0;
  }
  WaveView Shown() {
    WaveView v;
    SendMessageW(view_, kViewGetView, reinterpret_cast<WPARAM>(&v), 0);
    return v;
  }
  // The wheel over plot x, sent to `to` (the view, or the editor when the focus is elsewhere).
  void Wheel(HWND to, double x, int notches, bool ctrl) {
    POINT pt = {static_cast<int>(1 + x), 20};
    ClientToScreen(view_, &pt);
    SendMessageW(to, WM_MOUSEWHEEL, MAKEWPARAM(ctrl ? MK_CONTROL : 0, notches * WHEEL_DELTA), MAKELPARAM(pt.x, pt.y));
  }
  // Ctrl and a key, as the message loop hands it to the editor.
  void CtrlKey(WPARAM key) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    MSG m = {view_, WM_KEYDOWN, key, 1, 0, {}};
    EXPECT_TRUE(SoundEditorPreTranslate(m));
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
  }
  // Paints the view now: its handles are where the last paint put them.
  void Paint() { RedrawWindow(view_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }
  void Press(std::size_t row) { SendMessageW(EditorControl(row), BM_CLICK, 0, 0); }
  static const SampleData& Current() { return *EditorModelOfWindow().CurrentSample(); }
  HWND editor_ = nullptr, view_ = nullptr;
  double width_ = 0;
};

TEST_F(ZoomTest, WheelScrollBarAndButtonsSetTheVisibleRange) {
  const double in = 2200.0 / 2.25;  // the loop and its margins, two notches closer
  struct Row {
    const char* what;
    std::function<void()> act;
    double first, visible;
  } rows[] = {
      {"opened", [] {}, 0, 31250},
      {"Zoom to Loop", [&] { Press(R::kZoomLoop); }, 9900, 2200},
      {"Ctrl+wheel in at the middle", [&] { Wheel(view_, width_ / 2, 2, true); }, 11000 - in / 2, in},
      {"Ctrl+minus: out a notch around the middle", [&] { CtrlKey(VK_OEM_MINUS); }, 11000 - in * 0.75, in * 1.5},
      {"Ctrl+plus: back in", [&] { CtrlKey(VK_ADD); }, 11000 - in / 2, in},
      {"wheel down, through the editor", [&] { Wheel(editor_, 5, -1, false); }, 11000 - in / 2 + in / 8, in},
      {"scroll bar page right",
       [&] { SendMessageW(view_, WM_HSCROLL, SB_PAGERIGHT, 0); }, 11000 - in / 2 + in / 8 + in, in},
      {"the play cursor past the right edge pages on",
       [&] { SendMessageW(view_, kViewSetPlayPosition, 20000, 0); }, 20000 - in / 20, in},
      {"and back at Loop", [&] { SendMessageW(view_, kViewSetPlayPosition, 10000, 0); }, 10000 - in / 20, in},
      {"Zoom to Fit", [&] { Press(R::kZoomFit); }, 0, 31250},
      {"Ctrl+wheel out stays whole", [&] { Wheel(view_, 100, -5, true); }, 0, 31250},
      {"Ctrl+wheel in to the closest", [&] { Wheel(view_, 0, 100, true); }, 0, width_ / kMaxPixelsPerFrame},
  };
  for (const Row& r : rows) {
    r.act();
    const WaveView v = Shown();
    EXPECT_NEAR(v.firstFrame, r.first, 1e-6) << r.what;
    EXPECT_NEAR(v.VisibleFrames(), r.visible, 1e-6) << r.what;
  }
  Press(R::kZoomLoop);  // the cursor's frame and time beside the buttons
  SendMessageW(view_, WM_MOUSEMOVE, 0, MAKELPARAM(1 + width_ / 2, 20));
  EXPECT_EQ(test::WindowText(EditorControl(R::kCursorText)), L"11000 \u00B7 0.352000 s");
}

TEST_F(ZoomTest, DragAtHighZoomAndTheSeamViewFollows) {
  PitchEstimate pitch;
  ASSERT_EQ(DetectPitch(Current().frames.data(), Current().frames.size(), kCardRate, pitch), kOk);
  const double period = pitch.pitched ? kCardRate / pitch.frequency : 0.0;
  const auto seamText = [&] {
    wchar_t want[64];
    const MarkerSet& m = Current().markers;
    SeamErrorText(true, SeamErrorDb(Current().frames.data(), Current().frames.size(), m.loop, m.end, period), want, 64);
    return std::wstring(want);
  };
  const std::wstring before = test::WindowText(EditorControl(R::kSeamError));
  EXPECT_EQ(before, seamText());
  const WaveView close{9995, 1.0 / 32, 0, 0};  // frame 10000 at x 1 + 160
  SendMessageW(view_, kViewSetView, reinterpret_cast<WPARAM>(&close), 0);
  Paint();
  Press(R::kSnap);  // off
  SendMessageW(view_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(161, 3));
  SendMessageW(view_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(225, 3));  // two frames on, still held
  EXPECT_EQ(Current().markers.loop, 10002);
  EXPECT_EQ(test::WindowText(EditorControl(R::kLoop)), L"10002");
  EXPECT_EQ(test::WindowText(EditorControl(R::kSeamError)), seamText());
  EXPECT_NE(seamText(), before);
  SendMessageW(view_, WM_LBUTTONUP, 0, MAKELPARAM(225, 3));
  // Snapped: five frames on from 10000 lands on the crossing nearest it.
  Press(R::kSnap);
  Paint();
  SendMessageW(view_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(225, 3));
  SendMessageW(view_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(321, 3));
  SendMessageW(view_, WM_LBUTTONUP, 0, MAKELPARAM(321, 3));
  EXPECT_EQ(Current().markers.loop, NearestZeroCrossing(Current().zeroCrossings, 10005));
  EXPECT_NE(Current().markers.loop, 10005);
  // Typed: the seam view's frames are the new End's.
  SendMessageW(EditorControl(R::kEnd), EM_SETSEL, 0, -1);
  for (wchar_t c : std::wstring(L"11950")) SendMessageW(EditorControl(R::kEnd), WM_CHAR, c, 0);
  SeamView want;
  bool shown = false;
  ASSERT_EQ(BuildSeamView(Current(), kSeamHalfFrames, period, want, shown), kOk);
  const auto* seen = reinterpret_cast<const SeamView*>(SendMessageW(EditorControl(R::kSeamView), kSeamGetView, 0, 0));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->played, want.played);
  EXPECT_EQ(test::WindowText(EditorControl(R::kSeamError)), seamText());
  // Without the loop no seam is played; back on, it is measured as before.
  Press(R::kForward);
  EXPECT_EQ(SendMessageW(EditorControl(R::kSeamView), kSeamGetView, 0, 0), 0);
  EXPECT_EQ(test::WindowText(EditorControl(R::kSeamError)), L"The loop is off: no seam is played");
  Press(R::kForward);
  EXPECT_EQ(test::WindowText(EditorControl(R::kSeamError)), seamText());
}

}  // namespace
}  // namespace tavrin
