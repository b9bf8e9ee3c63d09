#include "editor/sample_player.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tavrin {
namespace {

// A marker minus one as a frame index, limited to 0..n-1 (the preview loops
// back to frame `loop` - 1 and plays forward up to `end` - 1).
std::int64_t MarkerIndex(std::int64_t v, std::int64_t n) { return v <= 0 ? 0 : std::min(v - 1, n - 1); }

}  // namespace

SamplePlayer::~SamplePlayer() {
  Release();
  FreeRenderState();
}

Result SamplePlayer::Initialise(AudioOutput* output, std::uint32_t rate, std::uint32_t channels, std::uint32_t periods,
                                std::uint32_t framesPerPeriod) {
  Release();
  if (!output) return kMissingBuffer;
  // The player renders one channel; the output gets it on two.
  if (channels != 1 || rate == 0 || periods == 0 || framesPerPeriod == 0 || framesPerPeriod > (1u << 24) / periods) {
    return kInvalidArgument;
  }
  sourceChannels_ = channels;
  deviceChannels_ = std::max<std::uint32_t>(channels, 2);
  if (Result r = output->Open(rate, deviceChannels_, periods * framesPerPeriod)) {
    output->Close();
    return r;
  }
  bufferFrames_ = output->BufferFrames();
  const auto highest = static_cast<std::uint32_t>(std::ceil(rate * std::exp2(120.0 / 1200.0)));
  if (Result r = converter_.Prepare(highest, output->Rate())) {
    output->Close();
    return r;
  }
  rate_ = rate;
  output_ = output;
  return Publish();  // the step depends on the output's rate
}

void SamplePlayer::Release() {
  Stop();
  if (output_) output_->Close();
  output_ = nullptr;
}

Result SamplePlayer::Start() {
  if (!frames_ || frames_->empty()) return kMissingBuffer;
  if (!output_) return kNoDeviceInterface;
  Stop();
  // No render thread runs now: its state is ours until the thread starts.
  const auto last = static_cast<std::int64_t>(frames_->size()) - 1;
  pos_ = static_cast<std::uint32_t>(std::clamp<std::int64_t>(markers_.start, 0, last));
  position_.store(pos_, std::memory_order_relaxed);
  phase_ = false;
  endReached_ = false;
  converter_.Reset();
  output_->ClearSignals();
  Result r = output_->Reset();
  if (r == kOk) r = Fill();
  if (r != kOk) {
    Release();
    return r;
  }
  ++session_;
  try {
    thread_ = std::thread(&SamplePlayer::RenderThread, this, session_);
  } catch (const std::exception&) {
    Release();
    return kFailed;
  }
  if (Result s = output_->Start()) {
    Release();
    return s;
  }
  playing_ = true;
  if (listener_) listener_->PreviewStarted();
  return kOk;
}

Result SamplePlayer::Stop() {
  if (thread_.joinable()) {
    output_->Stop();
    output_->SignalStop();
    thread_.join();
  }
  CollectRetired();
  if (playing_) {
    playing_ = false;
    if (listener_) listener_->PreviewStopped();
  }
  return kOk;
}

void SamplePlayer::PreviewEnded(std::uint64_t session) {
  if (playing_ && session == session_) Stop();
}

Result SamplePlayer::SetFrames(const float* frames, std::uint64_t count) {
  if (count != 0 && frames == nullptr) return kMissingBuffer;
  if (count >= UINT32_MAX) return kTooMuchData;
  std::shared_ptr<const FrameBuffer> copy;
  try {
    if (count != 0) copy = std::make_shared<const FrameBuffer>(frames, frames + count);
  } catch (const std::exception&) {
    frames_.reset();
    Publish();
    return kOutOfMemory;
  }
  frames_ = std::move(copy);
  return Publish();
}

Result SamplePlayer::SetMarkers(const MarkerSet& markers) {
  markers_ = markers;
  return Publish();
}

Result SamplePlayer::SetLoopFlags(std::uint32_t flags) {
  loopFlags_ = flags;
  return Publish();
}

Result SamplePlayer::SetTranspose(std::int32_t cents) {
  cents_ = std::clamp(cents, -120, 120);
  return Publish();
}

Result SamplePlayer::SetKeyRate(double factor) {
  if (!(factor > 0.0) || factor > 1024.0) return kInvalidArgument;
  keyRate_ = factor;
  return Publish();
}

double SamplePlayer::StepFor(std::int32_t cents) const {
  if (converter_.outputRate() == 0) return 1.0;
  if (cents == 0 && keyRate_ == 1.0 && rate_ == converter_.outputRate()) return 1.0;
  return rate_ * std::exp2(cents / 1200.0) * keyRate_ / converter_.outputRate();
}

Result SamplePlayer::Publish() {
  Snapshot* s = new (std::nothrow) Snapshot;
  if (!s) return kOutOfMemory;
  s->frames = frames_;
  s->markers = markers_;
  s->loopFlags = loopFlags_;
  s->step = StepFor(cents_);
  // A snapshot still in the slot was never taken by the render thread.
  delete latest_.exchange(s, std::memory_order_acq_rel);
  CollectRetired();
  return kOk;
}

void SamplePlayer::CollectRetired() {
  Snapshot* list = retired_.exchange(nullptr, std::memory_order_acquire);
  while (list) {
    Snapshot* next = list->next;
    delete list;
    list = next;
  }
}

void SamplePlayer::FreeRenderState() {
  delete held_;
  held_ = nullptr;
  delete latest_.exchange(nullptr, std::memory_order_acq_rel);
  CollectRetired();
}

std::uint32_t SamplePlayer::Render(float* out, std::uint32_t count) {
  if (Snapshot* p = latest_.exchange(nullptr, std::memory_order_acq_rel)) {
    if (held_) {
      held_->next = retired_.load(std::memory_order_relaxed);
      while (!retired_.compare_exchange_weak(held_->next, held_, std::memory_order_release, std::memory_order_relaxed)) {
      }
    }
    held_ = p;
  }
  if (!held_) return 0;
  return converter_.Render(*this, held_->step, out, count);
}

std::uint32_t SamplePlayer::Pull(float* out, std::uint32_t m) {
  const Snapshot* s = held_;
  if (!s || !s->frames || s->frames->empty()) return 0;
  const float* x = s->frames->data();
  const auto n = static_cast<std::int64_t>(s->frames->size());
  const std::uint32_t flags = s->loopFlags;
  const bool loopOn = (flags & LoopFlags::kForward) != 0;
  const bool backAndForth = (flags & LoopFlags::kForwardBackward) != 0;
  const float invert = (flags & LoopFlags::kInvertPolarity) != 0 ? -1.0f : 1.0f;
  const bool alternate = (flags & LoopFlags::kAlternatingPolarity) != 0;
  const std::int64_t loopIdx = MarkerIndex(s->markers.loop, n);
  const std::int64_t endIdx = MarkerIndex(s->markers.end, n);
  if (loopOn && loopIdx >= endIdx) return 0;

  std::int64_t pos = pos_;
  bool phase = phase_;
  std::uint32_t written = 0;
  while (written < m) {
    // Markers or frames may have changed under a running preview.
    pos = std::clamp<std::int64_t>(pos, 0, n - 1);
    const float gain = alternate && phase ? -invert : invert;
    const std::int64_t rest = m - written;
    if (backAndForth && phase) {
      std::int64_t k = pos >= loopIdx ? std::min(pos - loopIdx, rest) : rest;
      if (pos + 1 < k) k = 0;
      for (; k > 0; --k) out[written++] = x[pos--] * gain;
      if (pos <= loopIdx) {
        if (!loopOn) break;
        phase = !phase;
      }
    } else {
      std::int64_t k = pos <= endIdx ? std::min(endIdx - pos, rest) : rest;
      if (pos + k >= n) k = 0;
      for (; k > 0; --k) out[written++] = x[pos++] * gain;
      if (pos >= endIdx) {
        if (!loopOn) break;
        if (!backAndForth) pos = loopIdx;
        phase = !phase;
      }
    }
  }
  pos_ = static_cast<std::uint32_t>(std::max<std::int64_t>(pos, 0));
  phase_ = phase;
  position_.store(pos_, std::memory_order_relaxed);
  return written;
}

Result SamplePlayer::Fill() {
  if (!output_) return kWrongState;
  std::uint32_t padding = 0;
  if (Result r = output_->Padding(padding)) return r;
  const std::uint32_t available = bufferFrames_ > padding ? bufferFrames_ - padding : 0;
  if (available == 0) return kOk;
  float* data = nullptr;
  if (Result r = output_->GetBuffer(available, &data)) return r;
  const std::uint32_t n = Render(data, available);
  // One channel to all of the output's, in place from the end.
  for (std::uint32_t f = n; f-- > 0;) {
    const float v = data[f];
    for (std::uint32_t c = 0; c < deviceChannels_; ++c) data[f * deviceChannels_ + c] = v;
  }
  if (n == 0) endReached_ = true;
  return output_->ReleaseBuffer(n == 0 ? available : n, n == 0);
}

void SamplePlayer::RenderThread(std::uint64_t session) {
  output_->EnterRenderThread();
  for (;;) {
    const OutputWake wake = output_->WaitForBufferOrStop();
    if (wake != OutputWake::kBuffer) break;
    if (endReached_) {
      // The silent buffer has gone out: the preview ends by itself.
      output_->Stop();
      if (listener_) listener_->PostPreviewEnded(session);
      break;
    }
    Fill();  // a failed buffer is not reported; the next event tries again
  }
  output_->LeaveRenderThread();
}

}  // namespace tavrin
