// The media reader on Windows: the Media Foundation source reader. The steps
// themselves are in media_reader.cpp; this file maps each MediaPlatform call
// onto the one Media Foundation call it stands for and owns the COM objects
// those calls hand out.
#include <windows.h>

#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <memory>
#include <new>

#include "audio/media_reader.h"
#include "audio/readers.h"

namespace tavrin {
namespace {

template <class T>
void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

const GUID& KeyGuid(MediaTypeKey key) {
  switch (key) {
    case MediaTypeKey::kAudioNumChannels: return MF_MT_AUDIO_NUM_CHANNELS;
    case MediaTypeKey::kAudioSamplesPerSecond: return MF_MT_AUDIO_SAMPLES_PER_SECOND;
    case MediaTypeKey::kAllSamplesIndependent: return MF_MT_ALL_SAMPLES_INDEPENDENT;
    case MediaTypeKey::kCompressed: break;
  }
  return MF_MT_COMPRESSED;
}

const DWORD kFirstAudio = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);

class MediaFoundationPlatform final : public MediaPlatform {
 public:
  MediaFoundationPlatform() = default;
  MediaFoundationPlatform(const MediaFoundationPlatform&) = delete;
  MediaFoundationPlatform& operator=(const MediaFoundationPlatform&) = delete;
  // The steps release everything themselves; this only guards against a
  // path that did not.
  ~MediaFoundationPlatform() override {
    SafeRelease(buffer_);
    SafeRelease(sample_);
    SafeRelease(type_);
    SafeRelease(reader_);
  }

  std::int32_t Startup() override { return MFStartup(MF_VERSION, MFSTARTUP_FULL); }
  void Shutdown() override { MFShutdown(); }

  std::int32_t CreateReader(Utf16View path) override {
    wchar_t url[261];
    std::size_t n = path.size() < 260 ? path.size() : 260;
    for (std::size_t i = 0; i < n; ++i) url[i] = static_cast<wchar_t>(path[i]);
    url[n] = 0;
    return MFCreateSourceReaderFromURL(url, nullptr, &reader_);
  }
  void ReleaseReader() override { SafeRelease(reader_); }

  std::int32_t GetNativeType() override { return reader_->GetNativeMediaType(kFirstAudio, 0, &type_); }
  std::int32_t GetTypeUInt32(MediaTypeKey key, std::uint32_t& value) override {
    UINT32 v = 0;
    const HRESULT hr = type_->GetUINT32(KeyGuid(key), &v);
    value = v;
    return hr;
  }
  std::int32_t DeleteTypeUserData() override { return type_->DeleteItem(MF_MT_USER_DATA); }
  std::int32_t SetTypeFloatSubtype() override { return type_->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_Float); }
  std::int32_t SetTypeUInt32(MediaTypeKey key, std::uint32_t value) override {
    return type_->SetUINT32(KeyGuid(key), value);
  }
  std::int32_t SetCurrentType() override { return reader_->SetCurrentMediaType(kFirstAudio, nullptr, type_); }
  void ReleaseType() override { SafeRelease(type_); }

  std::int32_t ReadSample(bool& gotSample, bool& endOfStream) override {
    DWORD flags = 0;
    const HRESULT hr = reader_->ReadSample(kFirstAudio, 0, nullptr, &flags, nullptr, &sample_);
    gotSample = SUCCEEDED(hr) && sample_ != nullptr;
    endOfStream = (flags & MF_SOURCE_READERF_ENDOFSTREAM) != 0;
    return hr;
  }
  std::int32_t GetBufferCount(std::uint32_t& count) override {
    DWORD c = 0;
    const HRESULT hr = sample_->GetBufferCount(&c);
    count = c;
    return hr;
  }
  std::int32_t GetBuffer(std::uint32_t index) override { return sample_->GetBufferByIndex(index, &buffer_); }
  std::int32_t LockBuffer(const std::uint8_t*& data, std::uint32_t& length) override {
    BYTE* p = nullptr;
    DWORD max = 0;
    DWORD current = 0;
    const HRESULT hr = buffer_->Lock(&p, &max, &current);
    data = p;
    length = SUCCEEDED(hr) ? current : 0;
    return hr;
  }
  void UnlockBuffer() override { buffer_->Unlock(); }
  void ReleaseBuffer() override { SafeRelease(buffer_); }
  void ReleaseSample() override { SafeRelease(sample_); }

 private:
  IMFSourceReader* reader_ = nullptr;
  IMFMediaType* type_ = nullptr;
  IMFSample* sample_ = nullptr;
  IMFMediaBuffer* buffer_ = nullptr;
};

}  // namespace

std::unique_ptr<MediaPlatform> MakeMediaFoundationPlatform() {
  return std::unique_ptr<MediaPlatform>(new (std::nothrow) MediaFoundationPlatform());
}

Result ReadWithMediaReader(Utf8View path, DecodedAudio& out) {
  if (path.empty()) return kInvalidArgument;
  MediaFoundationPlatform platform;
  return ReadThroughMediaPlatform(platform, path, out);
}

}  // namespace tavrin
