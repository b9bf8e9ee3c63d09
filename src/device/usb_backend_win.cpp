// The USB backend on Windows: SetupAPI enumeration of the USB device
// interface class and WinUSB.
#include <windows.h>
#include <setupapi.h>
#include <winusb.h>

#include <cstddef>
#include <new>

#include "base/alloc.h"
#include "device/usb_backend.h"

namespace tavrin {
namespace {

// GUID_DEVINTERFACE_USB_DEVICE {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

constexpr DWORD kDetailBufferSize = 524;

// The mapped last error, or `fallback` when the platform left none.
Result LastError(Result fallback) {
  const Result r = MapPlatformError(GetLastError());
  return r == kOk ? fallback : r;
}

struct DeviceInfoSet {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  ~DeviceInfoSet() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
};

class WinUsbDevice final : public UsbDevice {
 public:
  WinUsbDevice(HANDLE file, WINUSB_INTERFACE_HANDLE usb) : file_(file), usb_(usb) {}
  ~WinUsbDevice() override {
    WinUsb_Free(usb_);
    CloseHandle(file_);
  }
  WinUsbDevice(const WinUsbDevice&) = delete;
  WinUsbDevice& operator=(const WinUsbDevice&) = delete;

  Result ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                   std::uint8_t* data, std::uint32_t& moved) override {
    return Control(0xC0, request, value, index, length, data, moved);
  }

  Result ControlOut(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                    const std::uint8_t* data, std::uint32_t& moved) override {
    return Control(0x40, request, value, index, length, const_cast<std::uint8_t*>(data), moved);
  }

  Result SetPipeTimeout(std::uint8_t pipe, std::uint32_t milliseconds) override {
    ULONG ms = milliseconds;
    if (!WinUsb_SetPipePolicy(usb_, pipe, PIPE_TRANSFER_TIMEOUT, sizeof ms, &ms)) return LastError(kFailed);
    return kOk;
  }

  Result BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& moved) override {
    moved = 0;
    if (length > 0 && !data) return kMissingBuffer;
    ULONG written = 0;
    const BOOL ok = WinUsb_WritePipe(usb_, 0x01, const_cast<PUCHAR>(data), length, &written, nullptr);
    moved = written <= length ? written : length;
    return ok ? kOk : LastError(kFailed);
  }

 private:
  Result Control(std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                 std::uint16_t length, std::uint8_t* data, std::uint32_t& moved) {
    moved = 0;
    if (length > 0 && !data) return kMissingBuffer;
    WINUSB_SETUP_PACKET setup = {};
    setup.RequestType = type;
    setup.Request = request;
    setup.Value = value;
    setup.Index = index;
    setup.Length = length;
    ULONG transferred = 0;
    const BOOL ok = WinUsb_ControlTransfer(usb_, setup, data, length, &transferred, nullptr);
    moved = transferred <= length ? transferred : length;
    return ok ? kOk : LastError(kFailed);
  }

  HANDLE file_;
  WINUSB_INTERFACE_HANDLE usb_;
};

class WinUsbBackend final : public UsbBackend {
 public:
  Result Enumerate(std::uint32_t vendorId, std::uint32_t productId, std::vector<DevicePath>& out) override {
    DeviceInfoSet info;
    info.set = SetupDiGetClassDevsW(&kUsbDeviceInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (info.set == INVALID_HANDLE_VALUE) return LastError(kFailed);
    for (DWORD index = 0;; ++index) {
      SP_DEVICE_INTERFACE_DATA data = {};
      data.cbSize = sizeof data;
      if (!SetupDiEnumDeviceInterfaces(info.set, nullptr, &kUsbDeviceInterface, index, &data)) {
        const DWORD err = GetLastError();
        return err == ERROR_NO_MORE_ITEMS ? kOk : (MapPlatformError(err) == kOk ? kFailed : MapPlatformError(err));
      }
      alignas(8) BYTE buffer[kDetailBufferSize] = {};
      auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
      detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
      if (!SetupDiGetDeviceInterfaceDetailW(info.set, &data, detail, kDetailBufferSize, nullptr, nullptr)) {
        return LastError(kFailed);
      }
      // The path runs to its terminator, within the buffer.
      constexpr std::size_t kOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
      constexpr std::size_t kMaxUnits = (kDetailBufferSize - kOffset) / sizeof(WCHAR);
      const WCHAR* p = detail->DevicePath;
      std::size_t n = 0;
      while (n < kMaxUnits && p[n] != 0) ++n;
      DevicePath path;
      path.assign(Utf16View(reinterpret_cast<const char16_t*>(p), n < kDevicePathCapacity ? n : kDevicePathCapacity - 1));
      if (!DevicePathMatches(path.view(), vendorId, productId)) continue;
      if (Result r = TryPushBack(out, path)) return r;
    }
  }

  Result Open(Utf16View path, std::unique_ptr<UsbDevice>& out) override {
    out.reset();
    if (path.empty()) return kInvalidArgument;
    DevicePath terminated;
    terminated.assign(path);
    if (terminated.length >= kDevicePathCapacity) return kInvalidArgument;
    const HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(terminated.terminated()),
                                    GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError(kNoDeviceInterface);
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    if (!WinUsb_Initialize(file, &usb) || !usb) {
      const Result r = LastError(kNoDeviceInterface);
      CloseHandle(file);
      return r;
    }
    out.reset(new (std::nothrow) WinUsbDevice(file, usb));
    if (!out) {
      WinUsb_Free(usb);
      CloseHandle(file);
      return kOutOfMemory;
    }
    return kOk;
  }
};

}  // namespace

UsbBackend& PlatformUsbBackend() {
  static WinUsbBackend backend;
  return backend;
}

bool SimulatedDeviceFolder(Utf8Text<1024>& out) {
  out.clear();
  wchar_t value[1024];
  const DWORD n = GetEnvironmentVariableW(L"TAVRIN_SIMULATED_DEVICE", value, 1024);
  if (n == 0 || n >= 1024) return false;
  out.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(value), n));
  return !out.empty();
}

}  // namespace tavrin
