// Undo and redo for the sound editor's working copy. Each state of the
// history keeps the Sound's skeleton (every field but the frames and the
// zero-crossing cache) and, per sample, the id of its frame block. A block
// lives in exactly one place at a time: in the working copy's sample while the
// present state uses it, else in the history's pool. Moving between states
// moves vectors, never frames, so undo and redo cost the same on a sample of
// ten million frames as on one of ten, and memory grows only with the frames
// an edit really made.
//
// An edit runs as Prepare, the change itself, then Commit. Prepare reserves
// everything Commit needs, so a commit never fails. An edit that drops frames
// (a removed sample, a crossfaded copy replacing the original) hands the old
// vectors to Release before they would be freed; Commit finds every block by
// its buffer's address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "card/document.h"

namespace tavrin {

class EditHistory {
 public:
  // Steps kept; the oldest go first.
  static constexpr std::size_t kMaxSteps = 500;
  // Frames held aside for undo before the oldest steps go (256 MB): at
  // least the last step is always kept.
  static constexpr std::uint64_t kMaxPooledFrames = 64u << 20;

  // Starts afresh from the working copy: no undo, no redo. 4 leaves the
  // history empty (it starts afresh at the next Prepare).
  Result Reset(const Sound& working);
  // Forgets every state and frees the pool (the editor closed).
  void Clear();

  // Before an edit that may add up to `extraSamples` samples. Picks up
  // changes made to the working copy behind the history's back. 4 when the
  // room cannot be reserved; nothing changed.
  Result Prepare(const Sound& working, std::size_t extraSamples = 0);
  // Frames the edit is about to drop. Only between Prepare and Commit, at
  // most as many times as the Sound had samples at Prepare.
  void Release(std::vector<float>&& frames, std::vector<ZeroCrossing>&& crossings);
  // After the edit. A commit that changed nothing adds no step. A nonzero
  // `field` joins the step to the last one when that came from the same field
  // with the same sample current and nothing came in between (typing).
  // Returns whether a step was added or extended.
  bool Commit(const Sound& working, std::uint32_t field, std::int64_t currentBefore, std::int64_t currentAfter);
  // The next edit starts a step of its own even from the same field.
  void EndField() { lastField_ = 0; }

  bool CanUndo() const { return synced_ && position_ > 0; }
  bool CanRedo() const { return synced_ && position_ + 1 < states_.size(); }
  // Moves the working copy one state back or forward and sets `current` to
  // the sample that was current at that edit. False when there is nothing
  // to move to; `result` 4 when memory ran out (nothing changed).
  bool Undo(Sound& working, std::int64_t& current, Result& result);
  bool Redo(Sound& working, std::int64_t& current, Result& result);

  // Frames held for other states than the present one.
  std::uint64_t PooledFrames() const;
  std::size_t StepCount() const { return states_.empty() ? 0 : states_.size() - 1; }

 private:
  static constexpr std::uint32_t kNoBlock = 0xFFFFFFFFu;
  struct Block {
    std::vector<float> frames;
    std::vector<ZeroCrossing> crossings;
    std::uint32_t refs = 0;  // states naming it
  };
  struct State {
    Sound skeleton;                    // samples without frames or crossings
    std::vector<std::uint32_t> ids;    // per sample, its frame block
    std::int64_t currentBefore = -1;   // current when the edit that led here began
    std::int64_t currentAfter = -1;    // and when it ended
  };
  struct Seen {
    const float* data = nullptr;
    std::size_t size = 0;
  };

  bool InSync(const Sound& working) const;
  Result MakeSkeleton(const Sound& working, State& state, std::size_t reserve) const;
  std::uint32_t NewBlock();
  void Drop(State& state);
  void Move(Sound& working, std::size_t to, std::int64_t& current, std::int64_t newCurrent);
  void Remember(const Sound& working);

  std::vector<State> states_;
  std::size_t position_ = 0;        // the state the working copy shows
  std::vector<Block> pool_;
  std::vector<std::uint32_t> free_;
  std::vector<Seen> seen_;          // the working copy's buffers, per sample
  std::vector<Block> released_;
  State spare_;                     // room for the next commit's state
  std::uint32_t lastField_ = 0;
  bool synced_ = false;
};

// Every field of a sample but its frames and crossing cache, and of a Sound
// but its samples, compared.
bool SameSkeleton(const SampleData& a, const SampleData& b);
bool SameSoundFields(const Sound& a, const Sound& b);

}  // namespace tavrin
