// The sound editor window: its control table, creation, the refresh of the
// controls from the model, the enabling, the command dispatch to the core's
// rules, the preview's display and closing.
#include "app/sound_editor_gui_win.h"

#include <commctrl.h>
#include <ole2.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/app_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/seam_view_gui_win.h"
#include "app/keyboard_strip_gui_win.h"
#include "app/waveform_view_gui_win.h"
#include "editor/audio_output_win.h"
#include "editor/editor_tools.h"
#include "editor/sample_player.h"
#include "editor/waveform_zoom.h"

namespace tavrin {
namespace {

constexpr DWORD kLabel = SS_LEFT | SS_CENTERIMAGE;
constexpr DWORD kCentred = SS_CENTER | SS_CENTERIMAGE;
constexpr DWORD kRight = SS_RIGHT | SS_CENTERIMAGE;
constexpr DWORD kPush = WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kCheck = WS_TABSTOP | BS_AUTOCHECKBOX;
// Drawn here: a themed push button ignores the background of a filled slot.
constexpr DWORD kSnapshotButton = WS_TABSTOP | BS_OWNERDRAW;
constexpr DWORD kField = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kMarkerField = kField | ES_NUMBER;
constexpr DWORD kArrows = UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
// The drop-down part of a note list needs room below the field.
constexpr DWORD kNoteList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr std::uint32_t kBold = ControlFlags::kBold;

#define ROW(x, y, w, h, cls, text, style, flags, size) {x, y, w, h, cls, text, style, 0, 0, 0, size, flags, nullptr, {}}

ControlSpec g_table[EditorRow::kCount] = {
    ROW(10, 10, 150, 23, L"Static", L"Soundname", kLabel, 0, 0),
    ROW(10, 33, 150, 23, L"Edit", nullptr, kField, 0, 0),
    ROW(170, 10, 150, 23, L"Static", L"Soundtype", kCentred, 0, 0),
    ROW(170, 33, 150, 23, L"Static", L"Multisound", kCentred, kBold, 0),
    ROW(330, 10, 150, 23, L"Static", L"Wavetype", kLabel, 0, 0),
    ROW(330, 33, 75, 23, L"Button", L"PCM", WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 0, 0),
    ROW(405, 33, 75, 23, L"Button", L"DWGS", WS_TABSTOP | BS_AUTORADIOBUTTON, 0, 0),
    ROW(10, 66, 470, 120, kWaveformViewClass, nullptr, WS_HSCROLL, 0, 0),
    ROW(381, 190, 100, 23, L"Button", L"Play", kPush, 0, 0),
    ROW(10, 190, 150, 23, L"Static", L"Samples", kLabel, 0, 0),
    // Whole rows only, ending above the buttons below it: no row half hidden.
    ROW(10, 213, 150, 314, L"ListBox", nullptr, WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY, 0, 0),
    ROW(9, 527, 23, 23, L"Button", L"+", kPush, kBold, 13),
    ROW(32, 527, 23, 23, L"Button", L"-", kPush, kBold, 13),
    ROW(55, 527, 53, 23, L"Button", L"Export", kPush, 0, 0),
    ROW(108, 527, 53, 23, L"Button", L"DWGS", kPush, 0, 0),
    ROW(170, 190, 150, 23, L"Static", L"Sustain Loop", kLabel, 0, 0),
    ROW(170, 223, 80, 23, L"Static", L"Snapshots:", kLabel, 0, 0),
    ROW(250, 223, 23, 23, L"Button", L"1", kSnapshotButton, 0, 0),
    ROW(273, 223, 23, 23, L"Button", L"2", kSnapshotButton, 0, 0),
    ROW(296, 223, 23, 23, L"Button", L"3", kSnapshotButton, 0, 0),
    ROW(319, 223, 23, 23, L"Button", L"4", kSnapshotButton, 0, 0),
    ROW(342, 223, 23, 23, L"Button", L"5", kSnapshotButton, 0, 0),
    ROW(365, 223, 23, 23, L"Button", L"6", kSnapshotButton, 0, 0),
    ROW(388, 223, 23, 23, L"Button", L"7", kSnapshotButton, 0, 0),
    ROW(411, 223, 23, 23, L"Button", L"8", kSnapshotButton, 0, 0),
    ROW(170, 256, 155, 23, L"Button", L"Forward", kCheck, 0, 0),
    ROW(325, 256, 155, 23, L"Button", L"Forward / Backward", kCheck, 0, 0),
    ROW(170, 279, 155, 23, L"Button", L"Invert Polarity", kCheck, 0, 0),
    ROW(325, 279, 155, 23, L"Button", L"Alternating Polarity", kCheck, 0, 0),
    ROW(170, 312, 30, 23, L"Static", L"Start", kRight, 0, 0),
    ROW(205, 312, 65, 23, L"Edit", nullptr, kMarkerField, 0, 0),
    ROW(204, 340, 23, 23, L"Button", L"<", kPush, 0, 0),
    ROW(248, 340, 23, 23, L"Button", L">", kPush, 0, 0),
    ROW(275, 312, 30, 23, L"Static", L"Loop", kRight, 0, 0),
    ROW(310, 312, 65, 23, L"Edit", nullptr, kMarkerField, 0, 0),
    ROW(309, 340, 23, 23, L"Button", L"<", kPush, 0, 0),
    ROW(353, 340, 23, 23, L"Button", L">", kPush, 0, 0),
    ROW(380, 312, 30, 23, L"Static", L"End", kRight, 0, 0),
    ROW(415, 312, 65, 23, L"Edit", nullptr, kMarkerField, 0, 0),
    ROW(414, 340, 23, 23, L"Button", L"<", kPush, 0, 0),
    ROW(458, 340, 23, 23, L"Button", L">", kPush, 0, 0),
    ROW(169, 370, 140, 23, L"Button", L"Swap Start && Loop", kPush, 0, 0),
    ROW(325, 370, 155, 23, L"Button", L"Snap at Zeros", kCheck, 0, 0),
    ROW(170, 403, 310, 1, L"Static", nullptr, WS_BORDER, 0, 0),
    ROW(170, 410, 155, 23, L"Button", L"Non Transpose", kCheck, 0, 0),
    ROW(325, 410, 155, 23, L"Button", L"Auto-Calc. Transpose", kCheck, 0, 0),
    ROW(170, 438, 60, 23, L"Static", L"Root Note", kRight, 0, 0),
    ROW(235, 438, 90, 200, L"ComboBox", nullptr, kNoteList, 0, 0),
    ROW(325, 438, 60, 23, L"Static", L"Top Key", kRight, 0, 0),
    ROW(390, 438, 90, 200, L"ComboBox", nullptr, kNoteList, 0, 0),
    ROW(169, 471, 152, 23, L"Button", L"Root Note from Name", kPush, 0, 0),
    ROW(329, 471, 152, 23, L"Button", L"To Next Root Note", kPush, 0, 0),
    ROW(170, 499, 70, 23, L"Static", L"Transpose", kRight, 0, 0),
    ROW(245, 499, 61, 23, L"Edit", nullptr, kField, 0, 0),
    ROW(306, 499, 14, 23, UPDOWN_CLASSW, nullptr, kArrows, 0, 0),
    ROW(330, 499, 70, 23, L"Static", L"Level", kRight, 0, 0),
    ROW(405, 499, 61, 23, L"Edit", nullptr, kField, 0, 0),
    ROW(466, 499, 14, 23, UPDOWN_CLASSW, nullptr, kArrows, 0, 0),
    ROW(170, 527, 70, 23, L"Static", L"VDF Cutoff", kRight, 0, 0),
    ROW(245, 527, 61, 23, L"Edit", nullptr, kField, 0, 0),
    ROW(306, 527, 14, 23, UPDOWN_CLASSW, nullptr, kArrows, 0, 0),
    ROW(330, 527, 70, 23, L"Static", L"Decay Level", kRight, 0, 0),
    ROW(405, 527, 61, 23, L"Edit", nullptr, kField, 0, 0),
    ROW(466, 527, 14, 23, UPDOWN_CLASSW, nullptr, kArrows, 0, 0),
    ROW(271, 568, 100, 23, L"Button", L"OK", kPush, 0, 0),
    ROW(381, 568, 100, 23, L"Button", L"Cancel", kPush, 0, 0),
    ROW(500, 10, 110, 23, L"Button", L"Zoom to Loop", kPush, 0, 0),
    ROW(615, 10, 110, 23, L"Button", L"Zoom to Fit", kPush, 0, 0),
    ROW(735, 10, 255, 23, L"Static", nullptr, kRight, 0, 0),
    ROW(500, 43, 490, 23, L"Static", L"Seam: the frames before End, then from Loop (wheel: zoom)", kLabel, 0, 0),
    ROW(500, 66, 490, 190, kSeamViewClass, nullptr, 0, 0, 0),
    ROW(500, 262, 490, 23, L"Static", nullptr, kLabel, 0, 0),
    // tools area
    ROW(500, 300, 80, 23, L"Button", L"Undo", kPush, 0, 0),
    ROW(585, 300, 80, 23, L"Button", L"Redo", kPush, 0, 0),
    ROW(500, 328, 100, 23, L"Button", L"Find Loop", kPush, 0, 0),
    ROW(605, 328, 80, 200, L"ComboBox", nullptr, CBS_DROPDOWNLIST | WS_TABSTOP, 0, 0),
    ROW(500, 353, 490, 20, L"Static", nullptr, kLabel | SS_ENDELLIPSIS, 0, 0),
    ROW(690, 328, 100, 23, L"Button", L"Crossfade\u2026", kPush, 0, 0),
    ROW(795, 328, 100, 23, L"Button", L"Detect Pitch", kPush, 0, 0),
    ROW(500, 373, 490, 20, L"Static", nullptr, kLabel | SS_ENDELLIPSIS, 0, 0),
    ROW(680, 300, 100, 23, L"Button", L"Trim to Loop", kPush, 0, 0),
    ROW(785, 300, 205, 23, L"Static", nullptr, kLabel, 0, 0),
    ROW(500, 398, 490, 192, kKeyboardStripClass, nullptr, WS_TABSTOP | WS_HSCROLL | WS_BORDER, 0, 0),
};
#undef ROW

constexpr UINT_PTR kCursorTimer = 1;
constexpr UINT kCursorPeriodMs = 40;
// Posted by the render thread when a sample ended by itself: wParam = session.
constexpr UINT kMsgPreviewEnded = WM_USER + 102;
constexpr COLORREF kFilledSnapshot = RGB(34, 34, 34);
constexpr COLORREF kInvalidTranspose = RGB(255, 0, 0);

constexpr std::size_t kMarkerRows[3] = {EditorRow::kStart, EditorRow::kLoop, EditorRow::kEnd};
constexpr std::uint32_t kLoopBits[4] = {LoopFlags::kForward, LoopFlags::kForwardBackward,
                                        LoopFlags::kInvertPolarity, LoopFlags::kAlternatingPolarity};

struct ValueField {
  std::size_t row;
  int low, high;
  EditOutcome (*set)(EditorModel&, std::int32_t);
  std::int32_t (*get)(const SampleData&);
};
const ValueField kValueFields[4] = {
    {EditorRow::kTranspose, -120, 120, SetTranspose, [](const SampleData& s) -> std::int32_t { return s.transpose; }},
    {EditorRow::kLevel, -99, 0, SetLevel, [](const SampleData& s) -> std::int32_t { return s.level; }},
    {EditorRow::kVdfCutoff, -50, 50, SetVdfCutoff, [](const SampleData& s) -> std::int32_t { return s.vdfCutoff; }},
    {EditorRow::kDecayLevel, -50, 50, SetDecayLevel,
     [](const SampleData& s) -> std::int32_t { return s.decayLevel; }},
};

class EditorPreview final : public PreviewListener {
 public:
  void PreviewStarted() override;
  void PreviewStopped() override;
  void PostPreviewEnded(std::uint64_t session) override;
};

struct EditorState {
  HWND hwnd = nullptr;
  WindowFrame frame;
  EditorModel model;
  bool refreshing = false;
  bool open = false;
  UINT dragListMessage = 0;
  IDropTarget* dropTarget = nullptr;
  bool oleInitialised = false;
  EditorPreview listener;
  std::unique_ptr<AudioOutput> output;
  SamplePlayer player{&listener};
  LoopSearchState search;
  std::int32_t note = -1;  // the key of the strip sounding, or -1
  HWND rename = nullptr;   // the in-place name field while renaming
};
EditorState g_editor;

HWND Row(std::size_t row) { return g_table[row].hwnd; }
const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

bool Checked(std::size_t row) { return SendMessageW(Row(row), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Check(std::size_t row, bool on) { SendMessageW(Row(row), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0); }

// The text of a field, at most 15 characters.
Utf16Text<16> FieldText(std::size_t row) {
  wchar_t buffer[16] = {};
  const int n = GetWindowTextW(Row(row), buffer, 16);
  Utf16Text<16> t;
  t.assign(Utf16View(reinterpret_cast<const char16_t*>(buffer), n > 0 ? static_cast<std::size_t>(n) : 0));
  return t;
}

void SetFieldText(std::size_t row, Utf16View text) {
  Utf16Text<64> t;
  t.assign(text);
  SetWindowTextW(Row(row), W(t.terminated()));
}

// Puts a value into a field with arrows, unless the field already says it
// (rewriting it under the user's typing would move the caret).
void ShowValue(std::size_t fieldRow, std::int32_t value) {
  std::int32_t shown = 0;
  const Utf16Text<16> text = FieldText(fieldRow);
  if (ReadFieldNumber(text.view(), shown) && shown == value) return;
  SendMessageW(Row(fieldRow + 1), UDM_SETPOS32, 0, value);
}

void SetRowColour(std::size_t row, std::uint32_t flag, bool on, COLORREF colour) {
  ControlSpec& r = g_table[row];
  const std::uint32_t before = r.flags;
  if (on) {
    r.flags |= flag;
  } else {
    r.flags &= ~flag;
  }
  if (flag == ControlFlags::kOwnBackground) r.background = on ? colour : 0;
  if (flag == ControlFlags::kOwnTextColour) r.textColour = on ? colour : 0;
  if (r.flags != before) InvalidateRect(r.hwnd, nullptr, TRUE);
}

void SetTitle() {
  WindowTitle t;
  t.assign(App().title.view());
  if (!g_editor.model.working.name.empty()) {
    t.append(u" - Edit ");
    t.appendUtf8(g_editor.model.working.name.view());
  }
  SetWindowTextW(g_editor.hwnd, W(t.terminated()));
}

void ShowSoundFields() {
  const Sound& s = g_editor.model.working;
  Utf16Text<16> name;
  name.assignUtf8(s.name.view());
  if (!EqualUtf16(FieldText(EditorRow::kName).view(), name.view())) SetWindowTextW(Row(EditorRow::kName), W(name.terminated()));
  const wchar_t* type = s.soundType == SoundType::Multisound ? L"Multisound"
                        : s.soundType == SoundType::Drumsound ? L"Drumsound"
                                                               : L"";
  SetWindowTextW(Row(EditorRow::kTypeLabel), type);
  const bool pcm = s.waveType == WaveType::PCM || s.soundType == SoundType::Drumsound;
  Check(EditorRow::kPcm, pcm);
  Check(EditorRow::kDwgsRadio, !pcm && s.waveType == WaveType::DWGS);
}

void ShowSampleList() {
  HWND list = Row(EditorRow::kList);
  const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const SampleData& d : g_editor.model.working.samples) {
    Utf16Text<40> name;
    name.assignUtf8(d.name.view());
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.terminated()));
  }
  SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top > 0 ? top : 0), 0);
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(g_editor.model.current), 0);
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void ShowParameters(const SampleData* s) {
  Check(EditorRow::kNonTranspose, s && s->nonTranspose);
  SendMessageW(Row(EditorRow::kRootNote), CB_SETCURSEL, s ? s->rootNote : static_cast<WPARAM>(-1), 0);
  SendMessageW(Row(EditorRow::kTopKey), CB_SETCURSEL,
               s ? (s->nonTranspose ? s->rootNote : s->topKey) : static_cast<WPARAM>(-1), 0);
  SetRowColour(EditorRow::kTranspose, ControlFlags::kOwnTextColour, s && !s->transposeValid, kInvalidTranspose);
  for (const ValueField& f : kValueFields) ShowValue(f.row, s ? f.get(*s) : 0);
}

void ShowEnabling(bool all) {
  const Enabling e = ComputeEnabling(g_editor.model);
  for (std::size_t m = 0; m < 3; ++m) {
    EnableWindow(Row(kMarkerRows[m] + 1), e.stepDown[m]);
    EnableWindow(Row(kMarkerRows[m] + 2), e.stepUp[m]);
  }
  if (!all) return;
  struct Rule {
    std::size_t row;
    bool on;
  };
  const Rule rules[] = {
      {EditorRow::kPcm, e.waveRadios},           {EditorRow::kDwgsRadio, e.waveRadios},
      {EditorRow::kPlay, e.playAndSnapshots},    {EditorRow::kForward, e.loopBoxes},
      {EditorRow::kForwardBackward, e.loopBoxes}, {EditorRow::kInvert, e.loopBoxes},
      {EditorRow::kAlternate, e.loopBoxes},       {EditorRow::kSwap, e.swapAndSnap},
      {EditorRow::kSnap, e.swapAndSnap},          {EditorRow::kNonTranspose, e.pitchControls},
      {EditorRow::kAutoTranspose, e.pitchControls}, {EditorRow::kRootNote, e.pitchControls},
      {EditorRow::kRootFromName, e.pitchControls}, {EditorRow::kNextRoot, e.pitchControls},
      {EditorRow::kTopKey, e.topKeyList},         {EditorRow::kAdd, e.add},
      {EditorRow::kRemove, e.remove},             {EditorRow::kExport, e.exportSamples},
      {EditorRow::kDwgs, e.dwgs},
  };
  for (const Rule& r : rules) EnableWindow(Row(r.row), r.on);
  const bool looping = e.loopBoxes;  // a sample of a Multisound
  for (std::size_t row : {EditorRow::kFindLoop, EditorRow::kLoopStyle, EditorRow::kCrossfade})
    EnableWindow(Row(row), looping);
  EnableWindow(Row(EditorRow::kDetectPitch), e.pitchControls);
  EnableWindow(Row(EditorRow::kTrim), e.playAndSnapshots);
  for (std::size_t k = 0; k < 8; ++k) EnableWindow(Row(EditorRow::kSnapshot1 + k), e.playAndSnapshots);
  for (std::size_t row : kMarkerRows) SendMessageW(Row(row), EM_SETREADONLY, !e.markerFieldsEditable, 0);
  for (const ValueField& f : kValueFields) {
    SendMessageW(Row(f.row), EM_SETREADONLY, !e.parameterFields, 0);
    EnableWindow(Row(f.row + 1), e.parameterFields);
  }
}

void StartOrStopPreview() {
  if (g_editor.player.IsPlaying()) {
    g_editor.player.Stop();
  } else {
    g_editor.player.Start();  // a failure leaves "Play" as it is
  }
}

// Runs a rule and shows its outcome.
void Apply(const EditOutcome& outcome) { ApplyEditorRefresh(outcome.refresh); }

// --- Numeric input filter -------------------------------------------------------------

LRESULT CALLBACK NumericFilter(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  if (msg == WM_CHAR) {
    const wchar_t c = static_cast<wchar_t>(wParam);
    WORD type = 0;
    GetStringTypeW(CT_CTYPE1, &c, 1, &type);
    if ((type & (C1_DIGIT | C1_CNTRL)) == 0 && c != L'-' && c != L'\u2212') {
      MessageBeep(MB_OK);
      return 0;
    }
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, NumericFilter, id);
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// --- Commands ---------------------------------------------------------------------------

void CloseEditor() {
  // The render thread has ended when Stop returns; only then go the frames.
  if (g_editor.rename) DestroyWindow(g_editor.rename);
  g_editor.note = -1;
  g_editor.player.Stop();
  g_editor.player.SetKeyRate(1.0);
  DetachEditorFrames();
  g_editor.search = LoopSearchState();
  g_editor.model.history.Clear();
  g_editor.model.current = -1;
  std::vector<SampleData>().swap(g_editor.model.working.samples);
  g_editor.open = false;
  HWND owner = GetWindow(g_editor.hwnd, GW_OWNER);
  if (owner) EnableWindow(owner, TRUE);
  ShowWindow(g_editor.hwnd, SW_HIDE);
  if (owner) SetActiveWindow(owner);
  if (owner) PostMessageW(owner, kMsgEditorClosed, 0, 0);  // a card-file may wait for it
}

void ValueTyped(const ValueField& f) {
  std::int32_t value = 0;
  if (!ReadFieldNumber(FieldText(f.row).view(), value)) return;  // not a number yet
  Apply(f.set(g_editor.model, value));
  // A value out of range shows as the value kept.
  if (const SampleData* s = g_editor.model.CurrentSample()) {
    g_editor.refreshing = true;
    ShowValue(f.row, f.get(*s));
    g_editor.refreshing = false;
  }
}

void Zoom(bool toLoop);
// --- Tools --------------------------------------------------------------------------------

void SetStatus(std::size_t row, const ToolStatus& status) {
  Utf16Text<128> text;
  text.assignUtf8(status.view());
  SetWindowTextW(Row(row), W(text.terminated()));
}

// Hands the current sample back to the preview after a key of the strip.
void RestorePreview() {
  const SampleData* s = g_editor.model.CurrentSample();
  g_editor.player.SetKeyRate(1.0);
  g_editor.player.SetFrames(s && !s->frames.empty() ? s->frames.data() : nullptr, s ? s->frames.size() : 0);
  g_editor.player.SetMarkers(s ? s->markers : MarkerSet{});
  g_editor.player.SetLoopFlags(ShownLoopFlags(g_editor.model));
  g_editor.player.SetTranspose(s ? s->transpose : 0);
}

// Runs a tool that may give the sample new frames: a running preview stops
// first and starts again on them.
template <class Tool>
void RunTool(Tool&& tool) {
  const bool wasPlaying = g_editor.player.IsPlaying();
  g_editor.player.Stop();
  Apply(tool());
  if (wasPlaying && g_editor.model.CurrentSample()) g_editor.player.Start();
}

void UndoOrRedo(bool redo) {
  EditorModel& m = g_editor.model;
  if (!(redo ? CanRedo(m) : CanUndo(m))) return;
  RunTool([&] {
    DetachEditorFrames();
    EditOutcome o = redo ? Redo(m) : Undo(m);
    o.refresh |= Refresh::kPreviewFrames;  // given back whether or not it ran
    if (o.result != kOk) AppMessageBox(g_editor.hwnd, L"There is not enough memory to undo this", MB_OK | MB_ICONERROR);
    return o;
  });
}

bool ToolCommand(std::size_t row, UINT code) {
  EditorModel& m = g_editor.model;
  if (code != BN_CLICKED) return false;
  ToolStatus status;
  switch (row) {
    case EditorRow::kUndo:
    case EditorRow::kRedo:
      UndoOrRedo(row == EditorRow::kRedo);
      return true;
    case EditorRow::kFindLoop: {
      LoopSearchOptions options;
      options.maxCandidates = 8;
      const bool compact = SendMessageW(Row(EditorRow::kLoopStyle), CB_GETCURSEL, 0, 0) == 1;
      Apply(FindLoop(m, g_editor.search, options, status, compact));
      SetStatus(EditorRow::kLoopStatus, status);
      return true;
    }
    case EditorRow::kCrossfade: {
      const SampleData* s = m.CurrentSample();
      std::int32_t ms = 0;
      if (s && AskCrossfadeLength(g_editor.hwnd, *s, ms)) RunTool([&] { return CrossfadeCurrentLoop(m, ms); });
      return true;
    }
    case EditorRow::kDetectPitch:
      Apply(DetectSamplePitch(m, GetKeyState(VK_SHIFT) < 0, status));
      SetStatus(EditorRow::kPitchStatus, status);
      return true;
    case EditorRow::kTrim: {
      std::uint64_t freed = 0;
      RunTool([&] { return TrimToLoop(m, freed); });
      Utf16Text<64> text;
      if (freed > 0) {
        text.appendDecimal(static_cast<std::uint32_t>(std::min<std::uint64_t>(freed, UINT32_MAX)));
        text.append(u" bytes given back");
      } else {
        text.append(u"Nothing to trim");
      }
      SetWindowTextW(Row(EditorRow::kTrimStatus), W(text.terminated()));
      return true;
    }
    default:
      return false;
  }
}

// The in-place name field: Enter or leaving it keeps the name (one step),
// Escape drops it.
LRESULT CALLBACK RenameField(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  // Leaving the field closes it once the focus has moved on.
  const auto finish = [&](bool keep, bool now) {
    if (g_editor.rename != hwnd) return;
    g_editor.rename = nullptr;
    if (keep) {
      wchar_t text[64] = {};
      const int n = GetWindowTextW(hwnd, text, 64);
      Apply(RenameSample(g_editor.model, Utf16View(reinterpret_cast<const char16_t*>(text),
                                                   n > 0 ? static_cast<std::size_t>(n) : 0)));
      EndFieldEdit(g_editor.model);
    }
    if (now) {
      DestroyWindow(hwnd);
    } else {
      ShowWindow(hwnd, SW_HIDE);
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
    }
  };
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN || wParam == VK_ESCAPE) {
        finish(wParam == VK_RETURN, true);
        SetFocus(Row(EditorRow::kList));
        return 0;
      }
      break;
    case WM_KILLFOCUS:
      finish(true, false);
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, RenameField, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK ListKeys(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  if (msg == WM_KEYDOWN && wParam == VK_F2) {
    EditorBeginRename();
    return 0;
  }
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ListKeys, id);
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void Command(HWND control, UINT code) {
  const std::ptrdiff_t found = FindControl(g_table, EditorRow::kCount, control);
  if (found < 0) return;
  const auto row = static_cast<std::size_t>(found);
  EditorModel& m = g_editor.model;
  const bool clicked = code == BN_CLICKED;
  if (row == EditorRow::kOk && clicked) {
    if (!g_editor.open) return;
    HWND owner = GetWindow(g_editor.hwnd, GW_OWNER);
    // The edits stay here until the card has taken them.
    if (owner && !SendMessageW(owner, kMsgSoundEdited, reinterpret_cast<WPARAM>(&m.working),
                               reinterpret_cast<LPARAM>(g_editor.hwnd))) {
      AppMessageBox(g_editor.hwnd, reinterpret_cast<const wchar_t*>(kHandBackFailedText), MB_OK | MB_ICONERROR);
      return;
    }
    CloseEditor();
    return;
  }
  if (row == EditorRow::kCancel && clicked) return CloseEditor();
  if (row == EditorRow::kPlay && clicked) return StartOrStopPreview();
  if (row == EditorRow::kList && code == LBN_SELCHANGE) {
    SelectEditorSample(SendMessageW(control, LB_GETCURSEL, 0, 0), false);
    return Zoom(false);
  }
  if ((row == EditorRow::kZoomLoop || row == EditorRow::kZoomFit) && clicked) return Zoom(row == EditorRow::kZoomLoop);
  if (row == EditorRow::kAdd && clicked) return EditorImport();
  if (row == EditorRow::kRemove && clicked) return EditorRemove();
  if (row == EditorRow::kExport && clicked) return EditorExport();
  if (row == EditorRow::kList && code == LBN_DBLCLK) return EditorBeginRename();
  if (g_editor.refreshing) return;
  if (ToolCommand(row, code)) return;
  if (row == EditorRow::kName && code == EN_CHANGE) return Apply(SetSoundName(m, FieldText(row).view()));
  // Typing into one field is one step: leaving it ends the step.
  if (code == EN_KILLFOCUS) EndFieldEdit(m);
  if ((row == EditorRow::kPcm || row == EditorRow::kDwgsRadio) && clicked)
    return Apply(SetWaveType(m, Checked(EditorRow::kPcm), Checked(EditorRow::kDwgsRadio)));
  if (row == EditorRow::kDwgs && clicked) {
    const bool wasPlaying = g_editor.player.IsPlaying();
    g_editor.player.Stop();
    DetachEditorFrames();
    const EditOutcome o = ConvertToDwgs(m);
    SelectEditorSample(m.current);
    if (wasPlaying) g_editor.player.Start();
    if (o.result != kOk)
      AppMessageBox(g_editor.hwnd, L"The sample couldn't be converted into DWGS waves", MB_OK | MB_ICONERROR);
    return;
  }
  if (row >= EditorRow::kSnapshot1 && row < EditorRow::kSnapshot1 + 8 && clicked)
    return Apply(PressSnapshot(m, static_cast<std::uint32_t>(row - EditorRow::kSnapshot1), GetKeyState(VK_MENU) < 0));
  if (row >= EditorRow::kForward && row <= EditorRow::kAlternate && clicked)
    return Apply(SetLoopOption(m, kLoopBits[row - EditorRow::kForward], Checked(row)));
  for (std::uint32_t k = 0; k < 3; ++k) {
    const auto id = static_cast<MarkerId>(k);
    if (row == kMarkerRows[k] && code == EN_CHANGE) return Apply(TypeMarker(m, id, FieldText(row).view()));
    if ((row == kMarkerRows[k] + 1 || row == kMarkerRows[k] + 2) && clicked)
      return Apply(StepMarker(m, id, row == kMarkerRows[k] + 2));
  }
  if (row == EditorRow::kSwap && clicked) return Apply(SwapStartAndLoop(m));
  if (row == EditorRow::kSnap && clicked) m.snapAtZeros = Checked(row);
  if (row == EditorRow::kAutoTranspose && clicked) m.autoTranspose = Checked(row);
  if (row == EditorRow::kNonTranspose && clicked) return Apply(SetNonTranspose(m, Checked(row)));
  const auto selected = [&] { return static_cast<std::int32_t>(SendMessageW(control, CB_GETCURSEL, 0, 0)); };
  if (row == EditorRow::kRootNote && code == CBN_SELCHANGE) return Apply(SelectRootNote(m, selected()));
  if (row == EditorRow::kTopKey && code == CBN_SELCHANGE) return Apply(SelectTopKey(m, selected()));
  if (row == EditorRow::kRootFromName && clicked) return Apply(RootNoteFromSampleName(m));
  if (row == EditorRow::kNextRoot && clicked) return Apply(ToNextRootNote(m));
  for (const ValueField& f : kValueFields) {
    if (row == f.row && code == EN_CHANGE) return ValueTyped(f);
    // Leaving the field: its text becomes the value kept, which the arrows
    // read back on their next press.
    if (row == f.row && code == EN_KILLFOCUS && m.CurrentSample()) {
      g_editor.refreshing = true;
      SendMessageW(Row(f.row + 1), UDM_SETPOS32, 0, f.get(*m.CurrentSample()));
      g_editor.refreshing = false;
    }
  }
}

// A snapshot button: a filled slot dark with a light digit, an empty one a
// plain button; pressed, disabled and focused as a push button shows them.
bool DrawSnapshotButton(const DRAWITEMSTRUCT* d) {
  const std::ptrdiff_t row = d ? FindControl(g_table, EditorRow::kCount, d->hwndItem) : -1;
  const auto k = static_cast<std::size_t>(row) - EditorRow::kSnapshot1;
  if (row < 0 || k >= 8) return false;
  const ControlSpec& button = g_table[static_cast<std::size_t>(row)];
  const bool filled = (button.flags & ControlFlags::kOwnBackground) != 0;
  const bool pressed = (d->itemState & ODS_SELECTED) != 0;
  const bool disabled = (d->itemState & ODS_DISABLED) != 0;
  HDC dc = d->hDC;
  RECT r = d->rcItem;
  if (filled) {
    SetDCBrushColor(dc, button.background);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    DrawEdge(dc, &r, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  } else {
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
  }
  const COLORREF light = disabled ? RGB(128, 128, 128) : RGB(240, 240, 240);
  SetTextColor(dc, filled ? light : GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(d->hwndItem, WM_GETFONT, 0, 0)));
  RECT text = r;
  if (pressed) OffsetRect(&text, 1, 1);
  const wchar_t digit[2] = {static_cast<wchar_t>(L'1' + k), 0};
  DrawTextW(dc, digit, 1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  if ((d->itemState & ODS_FOCUS) && !(d->itemState & ODS_NOFOCUSRECT)) {
    InflateRect(&r, -3, -3);
    DrawFocusRect(dc, &r);
  }
  return true;
}

// A dragged marker, on the nearest zero crossing with "Snap at Zeros"; the
// moves of one drag are one step.
void MarkerMoved(const ViewMarkerMoved* record) {
  if (!record || g_editor.refreshing || !g_editor.model.CurrentSample() || record->marker > 2) return;
  std::int64_t snapped = record->position;
  if (SnapDragPosition(g_editor.model, record->position, snapped) != kOk) snapped = record->position;
  const EditOutcome o = DragMarker(g_editor.model, static_cast<MarkerId>(record->marker),
                                   static_cast<std::int32_t>(snapped), record->dragging != 0);
  Apply({o.refresh | Refresh::kViewMarkers, o.result});
}

// "Zoom to Loop" (the whole sample without a loop) and "Zoom to Fit".
void Zoom(bool toLoop) {
  HWND view = Row(EditorRow::kView);
  WaveView v;
  SendMessageW(view, kViewGetView, reinterpret_cast<WPARAM>(&v), 0);
  const SampleData* s = g_editor.model.CurrentSample();
  const WaveView to = toLoop && s ? ZoomToLoop(v, s->markers, ShownLoopFlags(g_editor.model))
                                  : FitView(v.frameCount, v.width);
  SendMessageW(view, kViewSetView, reinterpret_cast<WPARAM>(&to), 0);
}

// Ctrl and + or -: a notch of Ctrl+wheel, around the middle of the view.
void ZoomByKey(bool in) {
  HWND view = Row(EditorRow::kView);
  WaveView v;
  SendMessageW(view, kViewGetView, reinterpret_cast<WPARAM>(&v), 0);
  const WaveView to = ZoomAround(v, v.width / 2.0, in ? 1.0 : -1.0);
  SendMessageW(view, kViewSetView, reinterpret_cast<WPARAM>(&to), 0);
}

void ShowCursorFrame(std::int64_t frame) {
  Utf16Text<48> text;
  if (frame >= 0) text.assignUtf8(CursorText(frame).view());
  SetWindowTextW(Row(EditorRow::kCursorText), W(text.terminated()));
}

// The seam view follows the current sample (its frames new when `frames`).
void ShowSeam(bool frames) {
  const bool loopOff = (ShownLoopFlags(g_editor.model) & LoopFlags::kForward) == 0;
  SendMessageW(Row(EditorRow::kSeamView), kSeamSetSample, reinterpret_cast<WPARAM>(g_editor.model.CurrentSample()),
               (frames ? kSeamNewFrames : 0) | (loopOff ? kSeamLoopOff : 0));
  wchar_t text[64] = {};
  GetWindowTextW(Row(EditorRow::kSeamView), text, 64);
  SetWindowTextW(Row(EditorRow::kSeamError), g_editor.model.CurrentSample() ? text : L"");
}

// --- Creation ---------------------------------------------------------------------------

bool CreateEditor(HWND hwnd) {
  g_editor.hwnd = hwnd;
  App().editorWindow = hwnd;
  g_editor.frame.table = g_table;
  g_editor.frame.count = EditorRow::kCount;
  g_editor.frame.clientWidth = 1000;  // the described 490, and the zoom and seam area beside it
  g_editor.frame.clientHeight = 600;
  g_editor.refreshing = true;
  QueryDpi(hwnd, g_editor.frame.dpiX, g_editor.frame.dpiY);
  ApplyTitleBarMode(hwnd);
  if (!RegisterSeamView() ||
      !RegisterKeyboardStripClass(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE))) ||
      !CreateControls(g_table, EditorRow::kCount, hwnd))
    return false;
  MakeDragList(Row(EditorRow::kList));
  SetWindowSubclass(Row(EditorRow::kList), ListKeys, 1, 0);
  for (const wchar_t* style : {L"Natural", L"Compact"})
    SendMessageW(Row(EditorRow::kLoopStyle), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(style));
  SendMessageW(Row(EditorRow::kLoopStyle), CB_SETCURSEL, 0, 0);
  g_editor.dragListMessage = RegisterWindowMessageW(DRAGLISTMSGSTRING);

  SendMessageW(Row(EditorRow::kName), EM_LIMITTEXT, 10, 0);
  for (const wchar_t label : {L'S', L'L', L'E'}) SendMessageW(Row(EditorRow::kView), kViewAddMarker, label, 0);
  Check(EditorRow::kSnap, true);
  Check(EditorRow::kAutoTranspose, true);
  g_editor.model.snapAtZeros = g_editor.model.autoTranspose = true;
  for (std::uint32_t note = 0; note < 128; ++note) {
    Utf16Text<8> name;
    name.assignUtf8(NoteName(note));
    for (std::size_t list : {EditorRow::kRootNote, EditorRow::kTopKey})
      SendMessageW(Row(list), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.terminated()));
  }
  for (const ValueField& f : kValueFields) {
    SetWindowSubclass(Row(f.row), NumericFilter, 1, 0);
    SendMessageW(Row(f.row + 1), UDM_SETRANGE32, static_cast<WPARAM>(f.low), f.high);
  }

  // Without an output device the preview stays silent; the editor works on.
  g_editor.output = CreateWasapiOutput();
  if (g_editor.output) g_editor.player.Initialise(g_editor.output.get(), kCardRate, 1, 2, 1024);

  g_editor.refreshing = false;
  ApplyEditorRefresh(SelectSample(g_editor.model, -1).refresh);
  SizeWindowToFrame(hwnd, g_editor.frame);
  LayoutControls(g_table, EditorRow::kCount, g_editor.frame.dpiX, g_editor.frame.dpiY);
  ApplyFontsAndIcons(hwnd, g_editor.frame);

  g_editor.oleInitialised = SUCCEEDED(OleInitialize(nullptr));
  g_editor.dropTarget = CreateFileDropTarget(EditorDrop);
  if (g_editor.dropTarget && FAILED(RegisterDragDrop(hwnd, g_editor.dropTarget))) {
    g_editor.dropTarget->Release();
    g_editor.dropTarget = nullptr;
  }
  return true;
}

void DestroyEditor(HWND hwnd) {
  g_editor.player.Release();
  g_editor.player.SetFrames(nullptr, 0);
  g_editor.output.reset();
  KillTimer(hwnd, kCursorTimer);
  if (g_editor.dropTarget) {
    RevokeDragDrop(hwnd);
    g_editor.dropTarget->Release();
    g_editor.dropTarget = nullptr;
  }
  if (g_editor.oleInitialised) OleUninitialize();
  g_editor.oleInitialised = false;
  g_editor.model = EditorModel();
  g_editor.open = false;
}

void EditorPreview::PreviewStarted() {
  SetWindowTextW(Row(EditorRow::kPlay), L"Stop");
  SetTimer(g_editor.hwnd, kCursorTimer, kCursorPeriodMs, nullptr);
  SendMessageW(Row(EditorRow::kView), kViewSetPlayPosition, g_editor.player.Position(), 0);
}

void EditorPreview::PreviewStopped() {
  SetWindowTextW(Row(EditorRow::kPlay), L"Play");
  KillTimer(g_editor.hwnd, kCursorTimer);
  SendMessageW(Row(EditorRow::kView), kViewSetPlayPosition, static_cast<WPARAM>(-1), 0);
}

// On the render thread: never waits for the window's thread.
void EditorPreview::PostPreviewEnded(std::uint64_t session) {
  PostMessageW(g_editor.hwnd, kMsgPreviewEnded, static_cast<WPARAM>(session), 0);
}

}  // namespace

HWND EditorControl(std::size_t row) { return row < EditorRow::kCount ? g_table[row].hwnd : nullptr; }
EditorModel& EditorModelOfWindow() { return g_editor.model; }
bool EditorPreviewPlaying() { return g_editor.player.IsPlaying(); }

void EditorBeginRename() {
  HWND list = Row(EditorRow::kList);
  const SampleData* s = g_editor.model.CurrentSample();
  if (!s || g_editor.rename || !g_editor.open) return;
  RECT r = {};
  if (SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(g_editor.model.current), reinterpret_cast<LPARAM>(&r)) ==
      LB_ERR)
    return;
  Utf16Text<40> name;
  name.assignUtf8(s->name.view());
  g_editor.rename = CreateWindowExW(0, L"Edit", W(name.terminated()), WS_CHILD | WS_BORDER | ES_AUTOHSCROLL, r.left,
                                    r.top, r.right - r.left, r.bottom - r.top + 4, list, nullptr,
                                    reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(list, GWLP_HINSTANCE)), nullptr);
  if (!g_editor.rename) return;
  SendMessageW(g_editor.rename, WM_SETFONT, SendMessageW(list, WM_GETFONT, 0, 0), TRUE);
  SendMessageW(g_editor.rename, EM_LIMITTEXT, 32, 0);
  SetWindowSubclass(g_editor.rename, RenameField, 1, 0);
  ShowWindow(g_editor.rename, SW_SHOW);
  SendMessageW(g_editor.rename, EM_SETSEL, 0, -1);
  SetFocus(g_editor.rename);
}

void EditorPlayNote(std::int32_t note) {
  const EditorModel& m = g_editor.model;
  std::vector<KeyZone> zones;
  if (!g_editor.open || KeyZones(m.working, zones) != kOk) return;
  const std::int64_t i = SampleForNote(zones, note);
  if (i < 0) return;
  const SampleData& s = m.working.samples[static_cast<std::size_t>(i)];
  g_editor.player.Stop();
  g_editor.note = note;
  g_editor.player.SetFrames(s.frames.empty() ? nullptr : s.frames.data(), s.frames.size());
  g_editor.player.SetMarkers(s.markers);
  g_editor.player.SetLoopFlags(m.working.soundType == SoundType::Multisound ? s.loopFlags : 0);
  g_editor.player.SetTranspose(s.transpose);
  g_editor.player.SetKeyRate(NoteRate(s, note) / std::exp2(s.transpose / 1200.0));
  if (g_editor.player.Start() != kOk) EditorStopNote();
}

void EditorStopNote() {
  if (g_editor.note < 0) return;
  g_editor.note = -1;
  g_editor.player.Stop();
  RestorePreview();
}

void EditorSelectFromStrip(std::int64_t sample) {
  SendMessageW(Row(EditorRow::kList), LB_SETCURSEL, static_cast<WPARAM>(sample), 0);
  SelectEditorSample(sample, false);
}

void EditorDragTopKey(std::int64_t sample, std::int32_t key, bool dragging) {
  // A drag on another sample's zone makes it current within the same step.
  if (sample != g_editor.model.current) g_editor.player.Stop();
  const EditOutcome o = DragTopKey(g_editor.model, sample, key, dragging);
  SendMessageW(Row(EditorRow::kList), LB_SETCURSEL, static_cast<WPARAM>(g_editor.model.current), 0);
  Apply(EditOutcome{o.refresh & ~Refresh::kSampleList, o.result});
}
IDropTarget* EditorDropTarget() { return g_editor.dropTarget; }

void DetachEditorFrames() {
  SendMessageW(Row(EditorRow::kSeamView), kSeamSetSample, 0, 0);
  SendMessageW(Row(EditorRow::kView), kViewSetFrames, 0, 0);
  g_editor.player.SetFrames(nullptr, 0);
}

void SelectEditorSample(std::int64_t index, bool fillList) {
  for (std::size_t row : {EditorRow::kLoopStatus, EditorRow::kPitchStatus, EditorRow::kTrimStatus})
    SetWindowTextW(Row(row), L"");
  const bool wasPlaying = g_editor.player.IsPlaying();
  g_editor.player.Stop();
  // A click in the list leaves the list alone: filled again it would scroll.
  const std::uint32_t keep = fillList ? ~0u : ~Refresh::kSampleList;
  ApplyEditorRefresh(SelectSample(g_editor.model, index).refresh & keep);
  if (wasPlaying && g_editor.model.CurrentSample()) g_editor.player.Start();
}

void ApplyEditorRefresh(std::uint32_t refresh) {
  using namespace Refresh;
  EditorModel& m = g_editor.model;
  const SampleData* s = m.CurrentSample();
  const bool wasRefreshing = g_editor.refreshing;
  g_editor.refreshing = true;
  if (refresh & kTitle) SetTitle();
  if (refresh & kSoundFields) ShowSoundFields();
  if (refresh & kSampleList) ShowSampleList();
  if (refresh & kPreviewFrames) {
    const float* frames = s && !s->frames.empty() ? s->frames.data() : nullptr;
    const std::uint64_t count = frames ? s->frames.size() : 0;
    SendMessageW(Row(EditorRow::kView), kViewSetFrames, reinterpret_cast<WPARAM>(frames), static_cast<LPARAM>(count));
    g_editor.player.SetFrames(frames, count);
  }
  if (refresh & kSnapshotButtons)
    for (std::size_t k = 0; k < 8; ++k)
      SetRowColour(EditorRow::kSnapshot1 + k, ControlFlags::kOwnBackground, s && SnapshotFilled(s->snapshots[k]),
                   kFilledSnapshot);
  if (refresh & kLoopBoxes) {
    const std::uint32_t flags = ShownLoopFlags(m);
    for (std::size_t i = 0; i < 4; ++i) Check(EditorRow::kForward + i, (flags & kLoopBits[i]) != 0);
  }
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::int64_t v = s ? MarkerValue(s->markers, static_cast<MarkerId>(k)) : -1;
    if (refresh & kMarkerFields) {
      Utf16Text<24> text;
      if (s && v >= 0) text.appendDecimal(static_cast<std::uint32_t>(v));
      if (!EqualUtf16(FieldText(kMarkerRows[k]).view(), text.view())) SetFieldText(kMarkerRows[k], text.view());
    }
    if (refresh & kViewMarkers)
      SendMessageW(Row(EditorRow::kView), kViewSetMarker, k, static_cast<LPARAM>(static_cast<std::int32_t>(v)));
  }
  if (refresh & kPreviewMarkers) g_editor.player.SetMarkers(s ? s->markers : MarkerSet{});
  if (refresh & kPreviewFlags) g_editor.player.SetLoopFlags(ShownLoopFlags(m));
  if (refresh & kParameters) ShowParameters(s);
  if (refresh & kPreviewRate) g_editor.player.SetTranspose(s ? s->transpose : 0);
  if (refresh & (kEnabling | kStepButtons)) ShowEnabling((refresh & kEnabling) != 0);
  if (refresh & (kPreviewFrames | kPreviewMarkers | kPreviewFlags | kViewMarkers | kMarkerFields))
    ShowSeam((refresh & kPreviewFrames) != 0);
  EnableWindow(Row(EditorRow::kUndo), CanUndo(m));
  EnableWindow(Row(EditorRow::kRedo), CanRedo(m));
  if (refresh & (kParameters | kSampleList | kEnabling)) SendMessageW(Row(EditorRow::kKeyboard), kStripRefresh, 0, 0);
  g_editor.refreshing = wasRefreshing;
}

LRESULT CALLBACK SoundEditorWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_editor.dragListMessage != 0 && msg == g_editor.dragListMessage)
    return EditorDragListNotification(reinterpret_cast<const void*>(lParam));
  LRESULT result = 0;
  if (g_editor.frame.table && HandleFrameMessage(hwnd, g_editor.frame, msg, wParam, lParam, result)) return result;
  switch (msg) {
    case WM_CREATE:
      return CreateEditor(hwnd) ? 0 : -1;
    case kMsgEditSound: {
      if (wParam == 0) return 0;
      g_editor.player.Stop();
      DetachEditorFrames();
      const EditOutcome o = OpenSound(g_editor.model, *reinterpret_cast<const Sound*>(wParam));
      if (o.result != kOk) {
        AppMessageBox(GetWindow(hwnd, GW_OWNER), L"There is not enough memory to edit this sound", MB_OK | MB_ICONERROR);
        return 0;
      }
      g_editor.open = true;
      // The tools' lines spoke of the sound edited before.
      for (std::size_t row : {EditorRow::kLoopStatus, EditorRow::kPitchStatus, EditorRow::kTrimStatus})
        SetWindowTextW(Row(row), L"");
      ApplyEditorRefresh(o.refresh);
      Zoom(false);
      return 1;  // opened: the owner may show the editor
    }
    case WM_COMMAND:
      Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case kMsgImportDropped:
      EditorImportDropped();
      return 0;
    case WM_DRAWITEM:
      return DrawSnapshotButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case kViewMarkerMoved:
      MarkerMoved(reinterpret_cast<const ViewMarkerMoved*>(wParam));
      return 0;
    case kViewCursorMoved:
      ShowCursorFrame(static_cast<std::int64_t>(static_cast<LONG_PTR>(wParam)));
      return 0;
    case WM_MOUSEWHEEL: {
      // The wheel over a view turns it, whichever control has the focus.
      const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      for (std::size_t row : {EditorRow::kView, EditorRow::kSeamView}) {
        RECT r;
        if (GetWindowRect(Row(row), &r) && PtInRect(&r, pt)) return SendMessageW(Row(row), msg, wParam, lParam);
      }
      break;
    }
    case WM_TIMER:
      if (wParam == kCursorTimer)
        SendMessageW(Row(EditorRow::kView), kViewSetPlayPosition, g_editor.player.Position(), 0);
      return 0;
    case kMsgPreviewEnded:
      g_editor.player.PreviewEnded(static_cast<std::uint64_t>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      return 0;
    case WM_CLOSE:
      CloseEditor();
      return 0;
    case WM_DESTROY:
      DestroyEditor(hwnd);
      return 0;
    case WM_NCDESTROY:
      ReleaseFrame(g_editor.frame);
      g_editor.frame.table = nullptr;
      g_editor.dragListMessage = 0;
      if (App().editorWindow == hwnd) App().editorWindow = nullptr;
      g_editor.hwnd = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool SoundEditorPreTranslate(MSG& msg) {
  HWND editor = App().editorWindow;
  if (!editor || !IsWindowVisible(editor)) return false;
  if (msg.hwnd != editor && !IsChild(editor, msg.hwnd)) return false;
  if (msg.message == WM_KEYDOWN && (msg.wParam == 'Z' || msg.wParam == 'Y') && GetKeyState(VK_CONTROL) < 0 &&
      GetKeyState(VK_MENU) >= 0 && !g_editor.rename) {
    EndFieldEdit(g_editor.model);
    UndoOrRedo(msg.wParam == 'Y');
    return true;
  }
  const bool plus = msg.wParam == VK_OEM_PLUS || msg.wParam == VK_ADD, minus = msg.wParam == VK_OEM_MINUS || msg.wParam == VK_SUBTRACT;
  if (msg.message == WM_KEYDOWN && (plus || minus) && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_MENU) >= 0) {
    ZoomByKey(plus);
    return true;
  }
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_SPACE) {
    wchar_t cls[16] = {};
    HWND focus = GetFocus();
    if (focus) GetClassNameW(focus, cls, 16);
    if (lstrcmpW(cls, L"Button") != 0 && lstrcmpW(cls, L"Edit") != 0) {
      if ((msg.lParam & (1 << 30)) == 0) StartOrStopPreview();  // the key held down: repeats do nothing
      return true;
    }
  }
  return IsDialogMessageW(editor, &msg) != FALSE;
}

}  // namespace tavrin
