#include "editor/edit_history.h"

#include <tuple>
#include <utility>

#include "base/alloc.h"

namespace tavrin {
namespace {

// Every field of a sample but its name, frames and crossing cache.
template <class S>
auto Fields(S& s) {
  return std::tie(s.nonTranspose, s.transposeValid, s.loopFlags, s.loopOn, s.markers, s.topKey, s.zoneAttribute,
                  s.transpose, s.rootNote, s.level, s.vdfCutoff, s.decayLevel, s.snapshots);
}

void CopySkeleton(SampleData& to, const SampleData& from) {
  to.name = from.name;
  Fields(to) = Fields(from);
}

void CopySoundFields(Sound& to, const Sound& from) {
  to.name = from.name;
  to.soundType = from.soundType;
  to.waveType = from.waveType;
}

}  // namespace

bool SameSkeleton(const SampleData& a, const SampleData& b) {
  return a.name.view() == b.name.view() && Fields(a) == Fields(b);
}

bool SameSoundFields(const Sound& a, const Sound& b) {
  return a.name.view() == b.name.view() && a.soundType == b.soundType && a.waveType == b.waveType;
}

bool EditHistory::InSync(const Sound& working) const {
  if (!synced_ || states_.empty() || seen_.size() != working.samples.size()) return false;
  for (std::size_t i = 0; i < seen_.size(); ++i) {
    const std::vector<float>& f = working.samples[i].frames;
    if (f.size() != seen_[i].size || (!f.empty() && f.data() != seen_[i].data)) return false;
  }
  return true;
}

void EditHistory::Remember(const Sound& working) {
  seen_.resize(working.samples.size());  // reserved by Prepare or Move
  for (std::size_t i = 0; i < seen_.size(); ++i) {
    seen_[i] = {working.samples[i].frames.data(), working.samples[i].frames.size()};
  }
}

Result EditHistory::MakeSkeleton(const Sound& working, State& state, std::size_t reserve) const {
  const std::size_t n = working.samples.size();
  if (Result r = TryReserve(state.skeleton.samples, reserve > n ? reserve : n)) return r;
  if (Result r = TryReserve(state.ids, reserve > n ? reserve : n)) return r;
  CopySoundFields(state.skeleton, working);
  state.skeleton.samples.resize(n);  // within the reserve; a skeleton allocates nothing more
  for (std::size_t i = 0; i < n; ++i) CopySkeleton(state.skeleton.samples[i], working.samples[i]);
  return kOk;
}

std::uint32_t EditHistory::NewBlock() {
  if (!free_.empty()) {
    const std::uint32_t id = free_.back();
    free_.pop_back();
    return id;
  }
  pool_.emplace_back();  // reserved by Prepare
  return static_cast<std::uint32_t>(pool_.size() - 1);
}

void EditHistory::Drop(State& state) {
  for (std::uint32_t id : state.ids) {
    if (id == kNoBlock || --pool_[id].refs != 0) continue;
    std::vector<float>().swap(pool_[id].frames);
    std::vector<ZeroCrossing>().swap(pool_[id].crossings);
    free_.push_back(id);  // reserved: free_ never outgrows the pool's capacity
  }
  state.ids.clear();
}

void EditHistory::Clear() { *this = EditHistory{}; }

Result EditHistory::Reset(const Sound& working) {
  Clear();
  const std::size_t n = working.samples.size();
  State first;
  if (Result r = MakeSkeleton(working, first, n)) return r;
  if (Result r = TryReserve(states_, 16)) return r;
  if (Result r = TryReserve(pool_, n + 8)) return r;
  if (Result r = TryReserve(free_, pool_.capacity())) return r;
  if (Result r = TryReserve(seen_, n)) return r;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t id = working.samples[i].frames.empty() ? kNoBlock : NewBlock();
    if (id != kNoBlock) pool_[id].refs = 1;
    first.ids.push_back(id);  // reserved
  }
  states_.push_back(std::move(first));
  Remember(working);
  synced_ = true;
  return kOk;
}

Result EditHistory::Prepare(const Sound& working, std::size_t extraSamples) {
  released_.clear();
  if (!InSync(working)) {
    if (Result r = Reset(working)) return r;
  }
  // Changes made behind the history's back belong to the present state.
  Sound& present = states_[position_].skeleton;
  CopySoundFields(present, working);
  for (std::size_t i = 0; i < working.samples.size(); ++i) CopySkeleton(present.samples[i], working.samples[i]);

  const std::size_t room = working.samples.size() + extraSamples + 8;
  if (Result r = TryReserve(states_, states_.size() + 1)) return r;
  if (Result r = TryReserve(pool_, pool_.size() + room)) return r;
  if (Result r = TryReserve(free_, pool_.capacity())) return r;
  if (Result r = TryReserve(seen_, room)) return r;
  if (Result r = TryReserve(released_, working.samples.size())) return r;
  if (Result r = TryReserve(spare_.skeleton.samples, room)) return r;
  if (Result r = TryReserve(spare_.ids, room)) return r;
  return kOk;
}

void EditHistory::Release(std::vector<float>&& frames, std::vector<ZeroCrossing>&& crossings) {
  if (frames.empty() || released_.size() == released_.capacity()) return;
  released_.emplace_back();  // reserved
  released_.back().frames = std::move(frames);
  released_.back().crossings = std::move(crossings);
}

bool EditHistory::Commit(const Sound& working, std::uint32_t field, std::int64_t currentBefore,
                         std::int64_t currentAfter) {
  if (!synced_ || states_.empty()) return false;
  State& next = spare_;
  if (MakeSkeleton(working, next, 0) != kOk) {  // more samples than Prepare was told of
    synced_ = false;                            // the history starts afresh at the next edit
    released_.clear();
    return false;
  }
  const State& prev = states_[position_];
  // Every sample keeps the block whose buffer it still holds; the others are new.
  next.ids.clear();
  bool sameIds = working.samples.size() == prev.ids.size();
  for (std::size_t i = 0; i < working.samples.size(); ++i) {
    const std::vector<float>& f = working.samples[i].frames;
    std::uint32_t id = kNoBlock;
    if (!f.empty()) {
      for (std::size_t j = 0; j < seen_.size() && id == kNoBlock; ++j) {
        if (seen_[j].data == f.data() && seen_[j].size == f.size()) {
          id = prev.ids[j];
          seen_[j].data = nullptr;  // taken
        }
      }
      if (id == kNoBlock) id = NewBlock();
    }
    next.ids.push_back(id);  // reserved
    sameIds = sameIds && id == prev.ids[i];
  }
  // Blocks the working copy no longer holds were released by the edit.
  for (std::size_t j = 0; j < seen_.size(); ++j) {
    if (seen_[j].data == nullptr || seen_[j].size == 0) continue;
    for (Block& r : released_) {
      if (r.frames.data() != seen_[j].data) continue;
      pool_[prev.ids[j]].frames = std::move(r.frames);
      pool_[prev.ids[j]].crossings = std::move(r.crossings);
      break;
    }
  }
  released_.clear();

  bool changed = !sameIds || !SameSoundFields(next.skeleton, prev.skeleton);
  for (std::size_t i = 0; !changed && i < working.samples.size(); ++i) {
    changed = !SameSkeleton(next.skeleton.samples[i], prev.skeleton.samples[i]);
  }
  bool added = false;
  if (!changed) {
    // nothing to record
  } else if (sameIds && field != 0 && field == lastField_ && position_ > 0 && position_ + 1 == states_.size() &&
             prev.currentAfter == currentBefore) {
    State& last = states_[position_];
    std::swap(last.skeleton, next.skeleton);
    last.currentAfter = currentAfter;
    added = true;
  } else {
    for (std::uint32_t id : next.ids) {
      if (id != kNoBlock) ++pool_[id].refs;
    }
    for (std::size_t k = position_ + 1; k < states_.size(); ++k) Drop(states_[k]);
    states_.resize(position_ + 1);
    next.currentBefore = currentBefore;
    next.currentAfter = currentAfter;
    states_.push_back(std::move(next));  // reserved
    ++position_;
    while (states_.size() > 2 && (states_.size() > kMaxSteps + 1 || (!sameIds && PooledFrames() > kMaxPooledFrames))) {
      Drop(states_.front());
      states_.erase(states_.begin());
      --position_;
    }
    added = true;
  }
  spare_.ids.clear();
  lastField_ = changed ? field : lastField_;
  Remember(working);
  return added;
}

void EditHistory::Move(Sound& working, std::size_t to, std::int64_t& current, std::int64_t newCurrent) {
  const State& from = states_[position_];
  const State& dest = states_[to];
  for (std::size_t i = 0; i < from.ids.size(); ++i) {
    SampleData& s = working.samples[i];
    if (from.ids[i] == kNoBlock) continue;
    pool_[from.ids[i]].frames = std::move(s.frames);
    pool_[from.ids[i]].crossings = std::move(s.zeroCrossings);
  }
  CopySoundFields(working, dest.skeleton);
  working.samples.resize(dest.ids.size());  // reserved by the caller
  for (std::size_t i = 0; i < dest.ids.size(); ++i) {
    SampleData& s = working.samples[i];
    s.frames.clear();
    s.zeroCrossings.clear();
    CopySkeleton(s, dest.skeleton.samples[i]);
    if (dest.ids[i] == kNoBlock) continue;
    s.frames = std::move(pool_[dest.ids[i]].frames);
    s.zeroCrossings = std::move(pool_[dest.ids[i]].crossings);
  }
  position_ = to;
  lastField_ = 0;
  current = newCurrent;
  Remember(working);
}

bool EditHistory::Undo(Sound& working, std::int64_t& current, Result& result) {
  result = kOk;
  if (!CanUndo() || !InSync(working)) return false;
  const std::size_t n = states_[position_ - 1].ids.size();
  if ((result = TryReserve(working.samples, n)) != kOk || (result = TryReserve(seen_, n)) != kOk) return false;
  Move(working, position_ - 1, current, states_[position_].currentBefore);
  return true;
}

bool EditHistory::Redo(Sound& working, std::int64_t& current, Result& result) {
  result = kOk;
  if (!CanRedo() || !InSync(working)) return false;
  const std::size_t n = states_[position_ + 1].ids.size();
  if ((result = TryReserve(working.samples, n)) != kOk || (result = TryReserve(seen_, n)) != kOk) return false;
  Move(working, position_ + 1, current, states_[position_ + 1].currentAfter);
  return true;
}

std::uint64_t EditHistory::PooledFrames() const {
  std::uint64_t n = 0;
  for (const Block& b : pool_) n += b.frames.size();
  return n;
}

}  // namespace tavrin
