// The sound editor's model: the working copy of one Sound, its current
// sample and the two check boxes that hold no data of their own, with every
// editing rule as one operation. Each operation says what the window must
// show again, so the window only forwards control events and repaints.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"
#include "editor/edit_history.h"

namespace tavrin {

// What an operation changed, for the window to refresh.
namespace Refresh {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kTitle = 1u << 0;            // window title
inline constexpr std::uint32_t kSoundFields = 1u << 1;      // name, type label, wave radio buttons
inline constexpr std::uint32_t kSampleList = 1u << 2;       // the list and the current sample
inline constexpr std::uint32_t kLoopBoxes = 1u << 3;        // the four loop options
inline constexpr std::uint32_t kMarkerFields = 1u << 4;     // "Start", "Loop", "End" texts
inline constexpr std::uint32_t kViewMarkers = 1u << 5;      // marker positions in the waveform view
inline constexpr std::uint32_t kStepButtons = 1u << 6;      // the six "<" and ">" buttons
inline constexpr std::uint32_t kParameters = 1u << 7;       // note lists, transpose, level, cutoff, decay
inline constexpr std::uint32_t kSnapshotButtons = 1u << 8;  // filled or empty look of "1".."8"
inline constexpr std::uint32_t kEnabling = 1u << 9;         // the whole enabling table
inline constexpr std::uint32_t kPreviewMarkers = 1u << 10;  // hand the MarkerSet to the preview
inline constexpr std::uint32_t kPreviewFlags = 1u << 11;    // hand the loop flags to the preview
inline constexpr std::uint32_t kPreviewRate = 1u << 12;     // hand the transpose to the preview
inline constexpr std::uint32_t kPreviewFrames = 1u << 13;   // hand the frames to the preview
inline constexpr std::uint32_t kUndoButtons = 1u << 14;     // whether undo and redo can run
inline constexpr std::uint32_t kEverything = (1u << 15) - 1;
}  // namespace Refresh

struct EditOutcome {
  std::uint32_t refresh = Refresh::kNone;
  Result result = kOk;  // not 0 only when the rule could not run (nothing changed)
};

enum class MarkerId : std::uint32_t { Start = 0, Loop = 1, End = 2 };

struct EditorModel {
  Sound working;
  std::int64_t current = -1;  // index into working.samples, -1 for none
  bool snapAtZeros = true;
  bool autoTranspose = true;
  EditHistory history;  // every operation below that changes `working` is one step

  SampleData* CurrentSample();
  const SampleData* CurrentSample() const;
};

// What the enabling table gives for the model's present state.
struct Enabling {
  bool waveRadios = false;
  bool playAndSnapshots = false;
  bool loopBoxes = false;
  bool markerFieldsEditable = false;
  bool stepDown[3] = {};
  bool stepUp[3] = {};
  bool swapAndSnap = false;
  bool pitchControls = false;  // non transpose, auto transpose, root note list and buttons
  bool topKeyList = false;
  bool parameterFields = false;
  bool add = false;
  bool remove = false;
  bool exportSamples = false;
  bool dwgs = false;
};
Enabling ComputeEnabling(const EditorModel& model);

// The loop flags the four boxes and the preview see: 0 for a Drumsound.
std::uint32_t ShownLoopFlags(const EditorModel& model);
// A snapshot slot is filled when none of its positions is -1.
bool SnapshotFilled(const Snapshot& slot);
std::int64_t MarkerValue(const MarkerSet& markers, MarkerId id);

// Opening: a full copy of the Sound, sample 0 current. 4 leaves the model
// as it was.
EditOutcome OpenSound(EditorModel& model, const Sound& sound);
// Closing: the working copy and its history are freed.
void CloseSound(EditorModel& model);
// Sample i current (none when out of range).
EditOutcome SelectSample(EditorModel& model, std::int64_t index);

EditOutcome SetSoundName(EditorModel& model, Utf16View text);
EditOutcome SetWaveType(EditorModel& model, bool pcmChecked, bool dwgsChecked);
EditOutcome SetLoopOption(EditorModel& model, std::uint32_t bit, bool checked);
EditOutcome TypeMarker(EditorModel& model, MarkerId id, Utf16View text);
// `dragging` while the button is still held: the moves of one drag, ended by
// the final report (dragging false), are one step.
EditOutcome DragMarker(EditorModel& model, MarkerId id, std::int32_t position, bool dragging = false);
// "<" (up false) or ">" (up true). With "Snap at Zeros" the crossing cache is
// built first; 4 when it cannot be, and the marker stays.
EditOutcome StepMarker(EditorModel& model, MarkerId id, bool up);
EditOutcome SwapStartAndLoop(EditorModel& model);
// Button k = 0..7; alt when the Alt key is held.
EditOutcome PressSnapshot(EditorModel& model, std::uint32_t k, bool alt);
EditOutcome SetNonTranspose(EditorModel& model, bool checked);
// The selected list index, -1 for none.
EditOutcome SelectRootNote(EditorModel& model, std::int32_t index);
EditOutcome SelectTopKey(EditorModel& model, std::int32_t index);
EditOutcome RootNoteFromSampleName(EditorModel& model);
EditOutcome ToNextRootNote(EditorModel& model);
// The values as the arrows controls hold them; out of range values are limited.
EditOutcome SetTranspose(EditorModel& model, std::int32_t cents);
EditOutcome SetLevel(EditorModel& model, std::int32_t value);
EditOutcome SetVdfCutoff(EditorModel& model, std::int32_t value);
EditOutcome SetDecayLevel(EditorModel& model, std::int32_t value);
// One sample into the eight DWGS waves. Any failed step (a resampling the
// converter refuses, no memory) leaves the Sound exactly as it was and is
// returned in `result`.
EditOutcome ConvertToDwgs(EditorModel& model);

// --- Undo and redo -----------------------------------------------------------
// Every operation above is one step, except opening and selecting a sample.
// Typing into one field (sound name, marker, transpose, level, cutoff, decay,
// sample name) is one step while nothing else comes in between; the window
// calls EndFieldEdit when the field loses the focus.
EditOutcome Undo(EditorModel& model);
EditOutcome Redo(EditorModel& model);
bool CanUndo(const EditorModel& model);
bool CanRedo(const EditorModel& model);
void EndFieldEdit(EditorModel& model);

// Runs `rule` (returning an EditOutcome) as one step: the history is
// prepared for up to `extraSamples` new samples, and a rule that drops frames
// hands them to model.history.Release. A nonzero `field` joins consecutive
// steps from the same field. For operations built on the model.
template <class Rule>
EditOutcome RecordEdit(EditorModel& model, std::uint32_t field, Rule&& rule, std::size_t extraSamples = 0) {
  if (Result r = model.history.Prepare(model.working, extraSamples)) return {Refresh::kNone, r};
  const std::int64_t before = model.current;
  EditOutcome out = rule();
  model.history.Commit(model.working, field, before, model.current);
  out.refresh |= Refresh::kUndoButtons;
  return out;
}

// --- The sample list ----------------------------------------------------------
// Moves imported samples (made by ImportSampleFile into a Sound of the same
// type) to the end of the list as one step and makes the last current. 4
// leaves both lists as they were.
EditOutcome AppendSamples(EditorModel& model, std::vector<SampleData>& imported);
// "-": removes sample i; i - 1 (or 0) becomes current.
EditOutcome RemoveSample(EditorModel& model, std::int64_t index);
// A drag in the list: the sample moves from `from` to `to`, the others keep
// their order; it becomes current.
EditOutcome MoveSample(EditorModel& model, std::int64_t from, std::int64_t to);
// F2: the current sample's name, cut to the 32 bytes the card stores at a
// character boundary.
EditOutcome RenameSample(EditorModel& model, Utf16View text);

// The number a signed field (transpose, level, VDF cutoff, decay level)
// holds: an optional "-" or "−" and one to nine digits, nothing else. False
// while the text is no number yet ("", "-"): the field is left as typed.
bool ReadFieldNumber(Utf16View text, std::int32_t& value);

// --- Steps shared with the rules, exposed for their tests --------------------

// Builds the zero-crossing cache of a sample; 4 leaves it empty.
Result BuildZeroCrossings(SampleData& sample);
// Resamples a sample to `frames` frames and scales its markers; on failure
// the sample is unchanged.
Result ResampleSampleTo(SampleData& sample, std::uint64_t frames);
// Removes every note name (each at most once) from a sample name.
void StripNoteNames(SampleName& name);
// The DWGS settings for the sample's present frame count.
void ApplyDwgsWaveSettings(SampleData& sample);

}  // namespace tavrin
