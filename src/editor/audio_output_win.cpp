#include "editor/audio_output_win.h"

#include <windows.h>
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>

#include <new>

namespace tavrin {
namespace {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** put() {
    reset();
    return &p_;
  }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

struct EventHandle {
  HANDLE h = nullptr;
  EventHandle() = default;
  ~EventHandle() { reset(); }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  void reset() {
    if (h) CloseHandle(h);
    h = nullptr;
  }
};

struct MixFormat {
  WAVEFORMATEX* p = nullptr;
  ~MixFormat() { CoTaskMemFree(p); }
};

Result Hr(HRESULT hr) { return MapPlatformResult(static_cast<std::int32_t>(hr)); }

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, without the kernel-streaming headers.
constexpr GUID kFloatSubtype = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// 100-ns units.
constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

class WasapiOutput final : public AudioOutput {
 public:
  ~WasapiOutput() override { Close(); }

  Result Open(std::uint32_t rate, std::uint32_t channels, std::uint32_t bufferFrames) override {
    Close();
    if (rate == 0 || channels == 0 || channels > 8 || bufferFrames == 0) return kInvalidArgument;
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY);
    // A thread already in another apartment keeps it; only our own use is ended.
    if (SUCCEEDED(init)) comInitialised_ = true;
    else if (init != RPC_E_CHANGED_MODE) return Hr(init);
    const Result r = Connect(rate, channels, bufferFrames);
    if (r != kOk) Close();
    return r;
  }

  void Close() override {
    if (client_) client_->Stop();
    render_.reset();
    client_.reset();
    stop_.reset();
    buffer_.reset();
    rate_ = 0;
    frames_ = 0;
    if (comInitialised_) CoUninitialize();
    comInitialised_ = false;
  }

  std::uint32_t Rate() const override { return rate_; }
  std::uint32_t BufferFrames() const override { return frames_; }

  Result Reset() override { return client_ ? Hr(client_->Reset()) : kNoDeviceInterface; }
  Result Start() override { return client_ ? Hr(client_->Start()) : kNoDeviceInterface; }
  Result Stop() override { return client_ ? Hr(client_->Stop()) : kNoDeviceInterface; }

  Result Padding(std::uint32_t& frames) override {
    frames = 0;
    if (!client_) return kWrongState;
    UINT32 padding = 0;
    const HRESULT hr = client_->GetCurrentPadding(&padding);
    if (FAILED(hr)) return Hr(hr);
    frames = padding;
    return kOk;
  }

  Result GetBuffer(std::uint32_t frames, float** data) override {
    if (!render_ || !data) return kWrongState;
    BYTE* bytes = nullptr;
    const HRESULT hr = render_->GetBuffer(frames, &bytes);
    if (FAILED(hr)) return Hr(hr);
    *data = reinterpret_cast<float*>(bytes);
    return kOk;
  }

  Result ReleaseBuffer(std::uint32_t frames, bool silent) override {
    if (!render_) return kWrongState;
    return Hr(render_->ReleaseBuffer(frames, silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0));
  }

  OutputWake WaitForBufferOrStop() override {
    if (!stop_.h || !buffer_.h) return OutputWake::kFailed;
    // The stop event first: a stop request wins over a pending buffer.
    const HANDLE events[2] = {stop_.h, buffer_.h};
    switch (WaitForMultipleObjects(2, events, FALSE, INFINITE)) {
      case WAIT_OBJECT_0: return OutputWake::kStop;
      case WAIT_OBJECT_0 + 1: return OutputWake::kBuffer;
      default: return OutputWake::kFailed;
    }
  }
  void SignalStop() override {
    if (stop_.h) SetEvent(stop_.h);
  }
  void ClearSignals() override {
    if (stop_.h) ResetEvent(stop_.h);
    if (buffer_.h) ResetEvent(buffer_.h);
  }

  void EnterRenderThread() override {
    DWORD task = 0;
    mmcss_ = AvSetMmThreadCharacteristicsW(L"Audio", &task);  // refused: plain priority
  }
  void LeaveRenderThread() override {
    if (mmcss_) AvRevertMmThreadCharacteristics(mmcss_);
    mmcss_ = nullptr;
  }

 private:
  Result Connect(std::uint32_t wishedRate, std::uint32_t channels, std::uint32_t bufferFrames) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                  reinterpret_cast<void**>(enumerator.put()));
    if (FAILED(hr)) return Hr(hr);
    ComPtr<IMMDevice> device;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put());
    if (FAILED(hr)) return Hr(hr);
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client_.put()));
    if (FAILED(hr)) return Hr(hr);

    // The engine's own rate: no device needs to accept the card's 31250.
    MixFormat mix;
    hr = client_->GetMixFormat(&mix.p);
    if (FAILED(hr) || !mix.p) return FAILED(hr) ? Hr(hr) : kBadFormat;
    const DWORD rate = mix.p->nSamplesPerSec;
    if (rate == 0) return kBadFormat;

    WAVEFORMATEXTENSIBLE format = {};
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = static_cast<WORD>(channels);
    format.Format.nSamplesPerSec = rate;
    format.Format.wBitsPerSample = 32;
    format.Format.nBlockAlign = static_cast<WORD>(4 * channels);
    format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = 32;
    format.dwChannelMask = channels == 1 ? SPEAKER_FRONT_CENTER : (SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT);
    format.SubFormat = kFloatSubtype;

    const REFERENCE_TIME duration =
        static_cast<REFERENCE_TIME>(static_cast<unsigned long long>(bufferFrames) * kUnitsPerSecond / wishedRate);
    // A mix format of another channel count is converted by the engine where
    // it can; otherwise the format is asked for as it is.
    hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED,
                             AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                 AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                             duration, 0, &format.Format, nullptr);
    if (FAILED(hr)) {
      client_.reset();
      hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client_.put()));
      if (FAILED(hr)) return Hr(hr);
      hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK, duration, 0,
                               &format.Format, nullptr);
      if (FAILED(hr)) return Hr(hr);
    }
    UINT32 frames = 0;
    hr = client_->GetBufferSize(&frames);
    if (FAILED(hr)) return Hr(hr);

    stop_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    buffer_.h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!stop_.h || !buffer_.h) {
      const DWORD e = GetLastError();
      return e ? MapPlatformError(e) : kFailed;
    }
    hr = client_->SetEventHandle(buffer_.h);
    if (FAILED(hr)) return Hr(hr);
    hr = client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(render_.put()));
    if (FAILED(hr)) return Hr(hr);
    rate_ = rate;
    frames_ = frames;
    return kOk;
  }

  ComPtr<IAudioClient> client_;
  ComPtr<IAudioRenderClient> render_;
  EventHandle stop_;
  EventHandle buffer_;
  HANDLE mmcss_ = nullptr;  // render thread only
  std::uint32_t rate_ = 0;
  std::uint32_t frames_ = 0;
  bool comInitialised_ = false;
};

}  // namespace

std::unique_ptr<AudioOutput> CreateWasapiOutput() { return std::unique_ptr<AudioOutput>(new (std::nothrow) WasapiOutput()); }

}  // namespace tavrin
