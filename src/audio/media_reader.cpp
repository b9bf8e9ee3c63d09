// The Media Foundation reading steps, written against MediaPlatform.
#include "audio/media_reader.h"

#include <cmath>
#include <cstring>

#include "base/alloc.h"

namespace tavrin {
namespace {

bool Failed(std::int32_t hr) { return hr < 0; }

// Step 4: the native type's channel count and rate, then the type turned into
// the requested output and set as the current type.
std::int32_t RequestFloatOutput(MediaPlatform& p, DecodedAudio& out) {
  std::int32_t hr = p.GetNativeType();
  if (Failed(hr)) return hr;
  std::uint32_t channels = 0;
  std::uint32_t rate = 0;
  if (Failed(hr = p.GetTypeUInt32(MediaTypeKey::kAudioNumChannels, channels)) ||
      Failed(hr = p.GetTypeUInt32(MediaTypeKey::kAudioSamplesPerSecond, rate)) ||
      Failed(hr = p.DeleteTypeUserData()) || Failed(hr = p.SetTypeFloatSubtype()) ||
      Failed(hr = p.SetTypeUInt32(MediaTypeKey::kAllSamplesIndependent, 1)) ||
      Failed(hr = p.SetTypeUInt32(MediaTypeKey::kCompressed, 0))) {
    p.ReleaseType();
    return hr;
  }
  out.channelCount = channels;
  out.sampleRate = rate;
  if (channels > 1) {
    if (Failed(hr = p.SetTypeUInt32(MediaTypeKey::kAudioNumChannels, 1))) {
      p.ReleaseType();
      return hr;
    }
    out.channelCount = 1;
  }
  hr = p.SetCurrentType();
  p.ReleaseType();
  return hr;
}

// Step 5 for one delivered sample: every buffer's bytes appended as floats.
Result CollectSample(MediaPlatform& p, DecodedAudio& out) {
  std::uint32_t count = 0;
  std::int32_t hr = p.GetBufferCount(count);
  if (Failed(hr)) return MapPlatformResult(hr);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (Failed(hr = p.GetBuffer(i))) return MapPlatformResult(hr);
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    if (Failed(hr = p.LockBuffer(data, length))) {
      p.ReleaseBuffer();
      return MapPlatformResult(hr);
    }
    const std::size_t floats = length / 4;
    const std::size_t have = out.frames.size();
    Result r = floats && data ? TryResize(out.frames, have + floats) : kOk;
    if (r == kOk && floats && data) std::memcpy(out.frames.data() + have, data, floats * 4);
    p.UnlockBuffer();
    p.ReleaseBuffer();
    if (r != kOk) return r;
  }
  return kOk;
}

}  // namespace

Result ReadThroughMediaPlatform(MediaPlatform& p, Utf8View path, DecodedAudio& out) {
  out.frames.clear();
  out.channelCount = 0;
  out.sampleRate = 0;
  out.peak = 0.0f;

  std::int32_t hr = p.Startup();
  if (Failed(hr)) return MapPlatformResult(hr);

  Utf16Text<260> wide;
  wide.assignUtf8(path);
  if (Failed(hr = p.CreateReader(wide.view()))) {
    p.Shutdown();
    return MapPlatformResult(hr);
  }
  if (Failed(hr = RequestFloatOutput(p, out))) {
    p.ReleaseReader();
    p.Shutdown();
    return MapPlatformResult(hr);
  }

  Result result = kOk;
  for (;;) {
    bool gotSample = false;
    bool endOfStream = false;
    if (Failed(hr = p.ReadSample(gotSample, endOfStream))) {
      result = MapPlatformResult(hr);
      break;
    }
    if (!gotSample) {
      result = endOfStream ? kOk : kFailed;
      break;
    }
    result = CollectSample(p, out);
    p.ReleaseSample();
    if (result != kOk) break;
  }
  p.ReleaseReader();
  p.Shutdown();

  float peak = 0.0f;
  for (float v : out.frames)
    if (std::fabs(v) > std::fabs(peak)) peak = v;
  out.peak = peak;
  return result;
}

}  // namespace tavrin
