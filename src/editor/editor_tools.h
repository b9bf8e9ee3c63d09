// The editor's tools on the working copy, each one undoable step: find the
// loop, crossfade it, detect the pitch, move a zone's top key, trim to what
// plays. And the seam view's data: what playback does where End joins Loop.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/loop_search.h"
#include "base/text.h"
#include "editor/editor_model.h"

namespace tavrin {

using ToolStatus = Utf8Text<96>;

// What "Find Loop" found for one sample, so that a second press steps on.
struct LoopSearchState {
  std::vector<LoopCandidate> found;
  std::size_t shown = 0;          // the candidate set last
  std::int64_t sample = -1;       // for which sample, frames and region
  const float* frames = nullptr;
  std::size_t frameCount = 0;
  std::int64_t from = -1, to = -1;
  double period = 0.0;            // frames; 0 unpitched
  double frequency = 0.0;         // Hz; 0 unpitched
  bool compact = false;           // the order the candidates were put in
};

// "Find Loop": searches the current sample between Start and End (the end
// of the attack when Start is 0) with `options` (the window's choices; from,
// to and period are set here, as `tavrin analyze` sets them), sets Loop and
// End to the first candidate and turns "Forward" on. Pressed again on the same
// sample with the loop still as it set it, it sets the next (after the last,
// the first again). `status` tells which: "Loop 2 of 8: 243 ms, 58 periods,
// −41 dB, 0.4 cents" (the cents: how far the loop's pitch lies from the
// measured one), or "No loop found". Natural (`compact` false): the
// candidates in the order `tavrin analyze` lists them; compact: the search's
// compact pick first (the shortest loop whose seam and tuning hold, as
// `--find-loop compact` takes it), for the least memory on the card.
EditOutcome FindLoop(EditorModel& model, LoopSearchState& search, const LoopSearchOptions& options, ToolStatus& status,
                     bool compact = false);

// Where a marker dragged to `position` lands: with "Snap at Zeros" on, the
// nearest zero crossing of the current sample (its cache built first; 4 when
// it cannot be, and `snapped` is the position as it was).
Result SnapDragPosition(EditorModel& model, std::int64_t position, std::int64_t& snapped);

// "Crossfade…": the current sample's loop crossfaded over `lengthMs` (1 to
// 1000, in frames as `tavrin add --crossfade` counts them; 0: automatic, as
// `--crossfade auto`: the shortest that brings a seam worse than -30 dB under
// -35 dB, nothing for a seam that is already smooth). The sample gets new frames; the old ones stay
// in the history for undo.
EditOutcome CrossfadeCurrentLoop(EditorModel& model, std::int32_t lengthMs);

// "Detect Pitch": root note and transpose of the current sample (or, with
// `everySample`, of each) from its measured pitch. An unpitched sample
// changes nothing; `status` says so ("No pitch found") or gives the note.
EditOutcome DetectSamplePitch(EditorModel& model, bool everySample, ToolStatus& status);

// Dragging the right edge of sample i's zone in the keyboard strip: its top
// key (0..127), as the "Top Key" list would set it; refused for a sample with
// "Non Transpose". Sample i becomes current; the moves of one drag are one step.
EditOutcome DragTopKey(EditorModel& model, std::int64_t sample, std::int32_t key, bool dragging);

// The keyboard strip: each sample's zone as the card maps it, samples in
// root-note order, from the previous zone's top key + 1 to the sample's own
// (for "Non Transpose" the key below the next root, or 127, as the card image
// derives it). An empty zone has low > high.
struct KeyZone {
  std::int64_t sample = -1;
  std::int32_t low = 0, high = 0, root = 0;
};
Result KeyZones(const Sound& sound, std::vector<KeyZone>& zones);
// The sample that plays `note` (the first zone holding it), or -1.
std::int64_t SampleForNote(const std::vector<KeyZone>& zones, std::int32_t note);
// The playback rate of a sample at `note` against its own: the semitones
// from its root (none for "Non Transpose") plus its transpose in cents.
double NoteRate(const SampleData& sample, std::int32_t note);

// "Trim to Loop": drops the frames before Start (before Loop where the loop
// is on and Loop lies before Start) and from End on; the markers and filled
// snapshots move with the frames. `bytesFreed` is what the card gets back
// (two bytes a frame).
EditOutcome TrimToLoop(EditorModel& model, std::uint64_t& bytesFreed);

// The seam view over `half` frames each side of the seam.
inline constexpr std::int64_t kSeamHalfFrames = kCardRate * 3 / 1000;  // 3 ms
struct SeamView {
  std::vector<float> played;        // End - half .. End, then on as the preview plays the loop
  std::vector<float> continuation;  // the sample's own frames from End - half; NaN past its end
  std::size_t seam = 0;             // index of the first frame played from Loop
  double errorDb = 0.0;             // as `tavrin analyze` measures it; NaN when not measurable
};
// False (and `out` empty) when the sample has no loop to show (0 <= Loop <
// End <= frames). 4 when memory ran out.
Result BuildSeamView(const SampleData& sample, std::int64_t half, double period, SeamView& out, bool& shown);

}  // namespace tavrin
