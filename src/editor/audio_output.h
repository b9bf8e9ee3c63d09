// The little the preview needs of an audio output: a shared, event-driven
// float stream. The platform side (WASAPI on Windows) and the tests' fake
// implement it; the player's stream logic is written against it alone.
#pragma once

#include <cstdint>

#include "base/result.h"

namespace tavrin {

enum class OutputWake { kStop, kBuffer, kFailed };

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;

  // Opens the stream for float frames of `channels` channels; `rate` and
  // `bufferFrames` are wishes, Rate() and BufferFrames() what the output took.
  virtual Result Open(std::uint32_t rate, std::uint32_t channels, std::uint32_t bufferFrames) = 0;
  virtual void Close() = 0;
  virtual std::uint32_t Rate() const = 0;
  virtual std::uint32_t BufferFrames() const = 0;

  virtual Result Reset() = 0;
  virtual Result Start() = 0;
  virtual Result Stop() = 0;
  // Frames queued and not yet played.
  virtual Result Padding(std::uint32_t& frames) = 0;
  virtual Result GetBuffer(std::uint32_t frames, float** data) = 0;
  virtual Result ReleaseBuffer(std::uint32_t frames, bool silent) = 0;

  // Blocks until stop is signalled or the output wants more frames; a
  // pending stop wins. Both signals reset when a wait returns them.
  virtual OutputWake WaitForBufferOrStop() = 0;
  virtual void SignalStop() = 0;
  virtual void ClearSignals() = 0;

  // Called on the render thread when it begins and ends (scheduling class).
  virtual void EnterRenderThread() {}
  virtual void LeaveRenderThread() {}
};

}  // namespace tavrin
