// The sound editor window ("TavrinSoundEditor"): created hidden at start-up,
// opened by the main window with a Sound, working on its own copy (the
// editor core's EditorModel) and handing it back on "OK". The window only
// forwards control events to the core's rules and shows what they changed.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "app/drop_target_gui_win.h"
#include "editor/editor_model.h"

namespace tavrin {

// Rows of the editor's control table.
namespace EditorRow {
inline constexpr std::size_t kName = 1;
inline constexpr std::size_t kTypeLabel = 3;
inline constexpr std::size_t kPcm = 5;
inline constexpr std::size_t kDwgsRadio = 6;
inline constexpr std::size_t kView = 7;
inline constexpr std::size_t kPlay = 8;
inline constexpr std::size_t kList = 10;
inline constexpr std::size_t kAdd = 11;
inline constexpr std::size_t kRemove = 12;
inline constexpr std::size_t kExport = 13;
inline constexpr std::size_t kDwgs = 14;
inline constexpr std::size_t kSnapshot1 = 17;  // .. 24
inline constexpr std::size_t kForward = 25;
inline constexpr std::size_t kForwardBackward = 26;
inline constexpr std::size_t kInvert = 27;
inline constexpr std::size_t kAlternate = 28;
inline constexpr std::size_t kStart = 30;  // field; its "<" and ">" follow
inline constexpr std::size_t kLoop = 34;
inline constexpr std::size_t kEnd = 38;
inline constexpr std::size_t kSwap = 41;
inline constexpr std::size_t kSnap = 42;
inline constexpr std::size_t kNonTranspose = 44;
inline constexpr std::size_t kAutoTranspose = 45;
inline constexpr std::size_t kRootNote = 47;
inline constexpr std::size_t kTopKey = 49;
inline constexpr std::size_t kRootFromName = 50;
inline constexpr std::size_t kNextRoot = 51;
inline constexpr std::size_t kTranspose = 53;  // field; its arrows follow
inline constexpr std::size_t kLevel = 56;
inline constexpr std::size_t kVdfCutoff = 59;
inline constexpr std::size_t kDecayLevel = 62;
inline constexpr std::size_t kOk = 64;
inline constexpr std::size_t kCancel = 65;
inline constexpr std::size_t kZoomLoop = 66;
inline constexpr std::size_t kZoomFit = 67;
inline constexpr std::size_t kCursorText = 68;  // the frame and time under the cursor
inline constexpr std::size_t kSeamLabel = 69;
inline constexpr std::size_t kSeamView = 70;
inline constexpr std::size_t kSeamError = 71;  // "Seam error -41.2 dB"
// tools area
inline constexpr std::size_t kUndo = 72;
inline constexpr std::size_t kRedo = 73;
inline constexpr std::size_t kFindLoop = 74;
inline constexpr std::size_t kLoopStyle = 75;  // "Natural" or "Compact"
inline constexpr std::size_t kLoopStatus = 76;
inline constexpr std::size_t kCrossfade = 77;
inline constexpr std::size_t kDetectPitch = 78;
inline constexpr std::size_t kPitchStatus = 79;
inline constexpr std::size_t kTrim = 80;
inline constexpr std::size_t kTrimStatus = 81;
inline constexpr std::size_t kKeyboard = 82;
inline constexpr std::size_t kCount = 83;
}  // namespace EditorRow

HWND EditorControl(std::size_t row);
// The editor's model (its working copy), for the sample list commands and tests.
EditorModel& EditorModelOfWindow();
// True while a preview plays.
bool EditorPreviewPlaying();
// The editor's file drop target (registered with the window).
IDropTarget* EditorDropTarget();

// --- Shared between the editor's files -------------------------------------------

// Shows what an outcome changed (refresh guard set meanwhile).
void ApplyEditorRefresh(std::uint32_t refresh);
// Makes sample `index` current (stopping and restarting a running preview)
// and shows it all; the list is filled again (and its selection follows)
// unless `fillList` is false.
void SelectEditorSample(std::int64_t index, bool fillList = true);
// Tells the view and the preview that the frames they show are about to
// change; the next SelectEditorSample hands them the new ones.
void DetachEditorFrames();

// Sample list commands (sound_editor_samples_gui_win.cpp).
void EditorImport();
bool EditorDrop(DropStep step, HDROP files);  // keeps the files and posts kMsgImportDropped
inline constexpr UINT kMsgImportDropped = WM_USER + 104;
void EditorImportDropped();
void EditorRemove();
void EditorExport();
LRESULT EditorDragListNotification(const void* dragListInfo);
// F2 or a double click: the current sample's name edited in place.
void EditorBeginRename();

// The tools (the keyboard strip calls these).
void EditorPlayNote(std::int32_t note);
void EditorStopNote();
void EditorSelectFromStrip(std::int64_t sample);
void EditorDragTopKey(std::int64_t sample, std::int32_t key, bool dragging);
// The crossfade dialog: false when cancelled; `lengthMs` 0 for "auto".
bool AskCrossfadeLength(HWND owner, const SampleData& sample, std::int32_t& lengthMs);

}  // namespace tavrin
