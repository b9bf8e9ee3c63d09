// The platform media reader (MP3): on Windows the Media Foundation source
// reader, elsewhere libmpg123. The Media Foundation steps are written against
// the small MediaPlatform interface below, so that their order, their
// clean-up on every path and their results are tested with a scripted
// platform on any system; media_reader_win.cpp supplies the real one.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/result.h"
#include "base/text.h"
#include "audio/decoded_audio.h"

namespace tavrin {

// The media-type attributes the reader reads or sets.
enum class MediaTypeKey : std::uint8_t {
  kAudioNumChannels,         // MF_MT_AUDIO_NUM_CHANNELS
  kAudioSamplesPerSecond,    // MF_MT_AUDIO_SAMPLES_PER_SECOND
  kAllSamplesIndependent,    // MF_MT_ALL_SAMPLES_INDEPENDENT
  kCompressed,               // MF_MT_COMPRESSED
};

// One call per platform call the reader makes; each returns the platform's
// 32-bit result value (negative = failure). The object keeps what the calls
// obtain (reader, media type, sample, buffer) until the matching release.
class MediaPlatform {
 public:
  virtual ~MediaPlatform() = default;
  virtual std::int32_t Startup() = 0;                              // MFStartup(MF_VERSION, full)
  virtual void Shutdown() = 0;                                     // MFShutdown
  virtual std::int32_t CreateReader(Utf16View path) = 0;           // MFCreateSourceReaderFromURL
  virtual void ReleaseReader() = 0;
  virtual std::int32_t GetNativeType() = 0;                        // first audio stream, type 0
  virtual std::int32_t GetTypeUInt32(MediaTypeKey key, std::uint32_t& value) = 0;
  virtual std::int32_t DeleteTypeUserData() = 0;                   // DeleteItem(MF_MT_USER_DATA)
  virtual std::int32_t SetTypeFloatSubtype() = 0;                  // SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float)
  virtual std::int32_t SetTypeUInt32(MediaTypeKey key, std::uint32_t value) = 0;
  virtual std::int32_t SetCurrentType() = 0;                       // first audio stream
  virtual void ReleaseType() = 0;
  // ReadSample on the first audio stream, no flags. gotSample tells whether a
  // sample was delivered, endOfStream whether MF_SOURCE_READERF_ENDOFSTREAM was set.
  virtual std::int32_t ReadSample(bool& gotSample, bool& endOfStream) = 0;
  virtual std::int32_t GetBufferCount(std::uint32_t& count) = 0;
  virtual std::int32_t GetBuffer(std::uint32_t index) = 0;         // GetBufferByIndex
  virtual std::int32_t LockBuffer(const std::uint8_t*& data, std::uint32_t& length) = 0;
  virtual void UnlockBuffer() = 0;
  virtual void ReleaseBuffer() = 0;
  virtual void ReleaseSample() = 0;
};

// The Media Foundation reading steps on a platform: start up, open the path,
// ask for mono 32-bit float at the native rate, collect every buffer of every
// sample, measure the peak. 0 when the stream ended with the end-of-stream
// flag, 1 when it ended without, the mapped platform result of the first
// failing call otherwise (4 when memory for the frames runs out); the
// platform is shut down and everything obtained is released on every path.
Result ReadThroughMediaPlatform(MediaPlatform& platform, Utf8View path, DecodedAudio& out);

#ifdef _WIN32
// The Media Foundation platform that ReadWithMediaReader uses (for tests that
// watch the real calls).
std::unique_ptr<MediaPlatform> MakeMediaFoundationPlatform();
#else
// libmpg123 on an MP3 file's bytes: the first audio stream at its native
// rate, mixed to mono 32-bit float by averaging the channels, and the peak.
// 13 when no MPEG audio can be decoded or the rate changes within the
// stream, 1 when decoding fails after audio began, 4 without memory.
Result DecodeMp3(std::span<const std::uint8_t> bytes, DecodedAudio& out);
#endif

}  // namespace tavrin
