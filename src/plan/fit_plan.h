// Fitting a card into its memory: a plan of steps in the order of what a
// listener loses (nothing first), which stops as soon as the card fits, and
// applying all of it or the steps a user ticked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "card/card_image.h"
#include "card/document.h"

namespace tavrin {

enum class FitStepKind : std::uint8_t {
  UnplayedFrames = 1,  // frames (or samples) that never play go; every frame that plays stays bit-identical
  NewLoop = 2,         // an un-looped sustained Multisound sample gets a loop and is cut at its end
  CompactLoop = 3,     // a long loop becomes a compact one, cut at its end
  DecayEnd = 4,        // an un-looped sample ends where the rest stays below -60 dB of its peak
  ThinZone = 5,        // a Multisound sample goes; its neighbours cover its keys
  DropSound = 6,       // a choice for the user: the whole sound goes (never planned)
};

struct FitOptions {
  std::uint64_t capacity = kDefaultCardCapacity;
  CardLayout layout = CardLayout::Card;  // WideCard counts the tables as that device needs
  int maxTranspose = 5;                  // semitones a zone may be played from its root
};

using FitText = Utf8Text<200>;

struct FitStep {
  FitStepKind kind = FitStepKind::UnplayedFrames;
  SoundType soundType = SoundType::Multisound;
  std::size_t sound = 0;     // index in its list
  std::size_t sample = 0;    // index in the sound, as the document held it when planned
  bool skipped = false;      // cannot be done safely; `what` says why
  bool choice = false;       // DropSound: only ever taken by the user
  std::int64_t after = -1;   // an earlier step this one builds on (the same sample or sound)
  std::uint64_t bytesSaved = 0;
  std::uint64_t sizeAfter = 0;  // the card with this and every earlier planned step
  FitText what;                 // the change in words

  // The sample after this step (and those it builds on), in the frame
  // positions of the sample as planned: the frames kept and the markers.
  std::int64_t frameCount = 0;  // the sample's frame count when planned
  std::int64_t keepFrom = 0, keepTo = 0;
  MarkerSet markers;
  bool loopOn = false;
  std::uint32_t loopFlags = 0;
  std::int64_t crossfade = 0;  // frames blended before End (NewLoop, CompactLoop)
  std::int64_t fade = 0;       // frames faded out before End (DecayEnd)
  double seamDb = 0.0;         // a loop made: its seam after any crossfade
  double tuningCents = 0.0;    // a loop made: its pitch against the sustain's
  bool removesSample = false;   // ThinZone, or UnplayedFrames for a sample no key plays
  std::int64_t neighbour = -1;  // ThinZone: the sample whose top key changes, or -1
  std::uint8_t topKey = 0;      // ThinZone: the neighbour's new top key
};

struct FitPlan {
  std::uint64_t capacity = 0;
  std::uint64_t sizeBefore = 0;
  std::uint64_t sizeAfter = 0;  // with every planned step (neither skipped nor a choice)
  bool fits = false;            // sizeAfter <= capacity
  std::vector<FitStep> steps;
};

// The byte size of the card image of `doc` in `layout` (File and Card alike
// are normal width), as the card image builder makes it.
std::uint64_t CardBytes(const CardDocument& doc, CardLayout layout);

// Plans the steps that bring `doc` within options.capacity. Deterministic.
// The document is not changed. 4 when memory ran out.
Result PlanFit(const CardDocument& doc, const FitOptions& options, FitPlan& out);

// The steps taken by default: every planned step, no skipped one, no choice.
// 4 when memory ran out.
Result DefaultSelection(const FitPlan& plan, std::vector<bool>& take);
// Ticks (with every step it builds on) or unticks (with every step that
// builds on it) step i. Skipped steps stay unticked.
void SelectStep(const FitPlan& plan, std::vector<bool>& take, std::size_t i, bool on);

// The card's size with the ticked steps taken.
std::uint64_t SizeWithSteps(const CardDocument& doc, const FitPlan& plan, const std::vector<bool>& take,
                            CardLayout layout);

// Takes the ticked steps (those they build on must be ticked too; see
// SelectStep). All or nothing: on failure the document is unchanged. 4 no
// memory; 2 when the document is not the one planned or a step's
// prerequisite is not ticked. Sets `modified` when anything changed.
Result ApplyFit(CardDocument& doc, const FitPlan& plan, const std::vector<bool>& take);

}  // namespace tavrin
