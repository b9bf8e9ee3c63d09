// The preview player: plays the current sample from its start through its
// sustain loop, at the pitch of its transpose, on an audio output's render
// thread.
//
// Threads. The editor (the user-interface thread) calls every public
// function. What the render thread reads (frames, markers, loop flags,
// transpose) goes to it as an immutable snapshot handed over through an
// atomic pointer; snapshots it no longer reads come back through a second
// atomic list and are freed on the editor's thread, so the render thread
// neither allocates nor frees. Stop returns only after the render thread
// has ended. A sample that ends by itself is reported through the
// listener's PostPreviewEnded, which must not wait for the editor's thread;
// that thread then calls PreviewEnded.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "base/result.h"
#include "card/document.h"
#include "editor/audio_output.h"
#include "editor/rate_converter.h"

namespace tavrin {

class PreviewListener {
 public:
  // Both on the editor's thread.
  virtual void PreviewStarted() = 0;
  virtual void PreviewStopped() = 0;
  // On the render thread: arrange for PreviewEnded(session) to run on the
  // editor's thread (a posted message), without waiting for it.
  virtual void PostPreviewEnded(std::uint64_t session) = 0;

 protected:
  ~PreviewListener() = default;
};

class SamplePlayer final : private FrameSource {
 public:
  explicit SamplePlayer(PreviewListener* listener) : listener_(listener) {}
  ~SamplePlayer();
  SamplePlayer(const SamplePlayer&) = delete;
  SamplePlayer& operator=(const SamplePlayer&) = delete;

  // Opens the output for `rate` frames per second of `channels` source
  // channels (the output gets at least two) and a buffer of periods x
  // framesPerPeriod frames. On failure the player is released (Start gives 16).
  Result Initialise(AudioOutput* output, std::uint32_t rate, std::uint32_t channels, std::uint32_t periods,
                    std::uint32_t framesPerPeriod);
  void Release();

  // 0 playing; 3 no frames; 16 no output; else the output's failure (the
  // player is then released).
  Result Start();
  // Stops a running preview and waits for the render thread to end; runs
  // the stopped report when a preview was playing.
  Result Stop();
  // The editor's thread's side of PostPreviewEnded: a stale session (the
  // preview was stopped or started again meanwhile) does nothing.
  void PreviewEnded(std::uint64_t session);

  // The player keeps its own copy of the frames: 4 when there is no memory
  // (the player then has no frames), 5 more frames than a position can count.
  Result SetFrames(const float* frames, std::uint64_t count);
  Result SetMarkers(const MarkerSet& markers);
  Result SetLoopFlags(std::uint32_t flags);
  // -120..120 cents; played from the next buffer on.
  Result SetTranspose(std::int32_t cents);
  // A key of the keyboard strip against the sample's root: the rate factor
  // (2^(semitones / 12)) on top of the transpose; 1 for the plain preview.
  Result SetKeyRate(double factor);

  bool IsPlaying() const { return playing_; }
  std::uint32_t Position() const { return position_.load(std::memory_order_relaxed); }

  // The render step itself (mono samples at the output's rate): for tests
  // and the benchmark; the render thread calls it through Fill.
  std::uint32_t Render(float* out, std::uint32_t count);

 private:
  using FrameBuffer = std::vector<float>;
  struct Snapshot {
    std::shared_ptr<const FrameBuffer> frames;
    MarkerSet markers;
    std::uint32_t loopFlags = 0;
    double step = 1.0;  // source frames per output sample
    Snapshot* next = nullptr;  // in the retired list
  };

  std::uint32_t Pull(float* out, std::uint32_t count) override;
  Result Publish();
  void CollectRetired();
  void FreeRenderState();
  Result Fill();
  void RenderThread(std::uint64_t session);
  double StepFor(std::int32_t cents) const;

  PreviewListener* listener_;
  AudioOutput* output_ = nullptr;
  std::uint32_t sourceChannels_ = 1;
  std::uint32_t deviceChannels_ = 2;
  std::uint32_t bufferFrames_ = 0;
  std::uint32_t rate_ = kCardRate;  // the frames' own rate

  // Editor-thread state: what the next snapshot holds.
  std::shared_ptr<const FrameBuffer> frames_;
  MarkerSet markers_;
  std::uint32_t loopFlags_ = 0;
  std::int32_t cents_ = 0;
  double keyRate_ = 1.0;
  bool playing_ = false;
  std::uint64_t session_ = 0;
  std::thread thread_;

  // Hand-over.
  std::atomic<Snapshot*> latest_{nullptr};
  std::atomic<Snapshot*> retired_{nullptr};
  std::atomic<std::uint32_t> position_{0};

  // Render-thread state (the editor's thread touches it only while no
  // render thread runs).
  Snapshot* held_ = nullptr;
  std::uint32_t pos_ = 0;
  bool phase_ = false;
  bool endReached_ = false;
  RateConverter converter_;
};

}  // namespace tavrin
