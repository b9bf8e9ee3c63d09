// The USB backend off Windows: libusb-1.0. A device's interface path is made
// from its IDs and its place on the bus, "usb:vid_0483&pid_a2a1:3-1.4", so
// that the same path rules apply as on Windows.
#include <libusb.h>

#include <cstdlib>
#include <new>

#include "base/alloc.h"
#include "device/usb_backend.h"

namespace tavrin {
namespace {

constexpr unsigned kDefaultControlTimeoutMs = 5000;  // the platform default of WinUSB

void AppendHex4(DevicePath& path, std::uint32_t v) {
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  for (int shift = 12; shift >= 0; shift -= 4) path.append(kHex[(v >> shift) & 0xF]);
}

// The interface path of a device; false when its descriptor cannot be read.
bool PathOf(libusb_device* device, DevicePath& path) {
  libusb_device_descriptor desc;
  if (libusb_get_device_descriptor(device, &desc) != 0) return false;
  path.clear();
  path.append(u"usb:vid_");
  AppendHex4(path, desc.idVendor);
  path.append(u"&pid_");
  AppendHex4(path, desc.idProduct);
  path.append(u':');
  path.appendDecimal(static_cast<std::uint32_t>(libusb_get_bus_number(device)));
  std::uint8_t ports[8];
  const int n = libusb_get_port_numbers(device, ports, 8);
  for (int i = 0; i < n; ++i) {
    path.append(i == 0 ? u'-' : u'.');
    path.appendDecimal(static_cast<std::uint32_t>(ports[i]));
  }
  if (n <= 0) {
    path.append(u'@');
    path.appendDecimal(static_cast<std::uint32_t>(libusb_get_device_address(device)));
  }
  return true;
}

struct DeviceList {
  libusb_device** list = nullptr;
  ~DeviceList() {
    if (list) libusb_free_device_list(list, 1);
  }
};

class LibusbDevice final : public UsbDevice {
 public:
  explicit LibusbDevice(libusb_device_handle* h) : handle_(h) {}
  ~LibusbDevice() override {
    if (claimed_) libusb_release_interface(handle_, 0);
    libusb_close(handle_);
  }
  LibusbDevice(const LibusbDevice&) = delete;
  LibusbDevice& operator=(const LibusbDevice&) = delete;

  bool Claim() {
    libusb_set_auto_detach_kernel_driver(handle_, 1);
    claimed_ = libusb_claim_interface(handle_, 0) == 0;
    return claimed_;
  }

  Result ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                   std::uint8_t* data, std::uint32_t& moved) override {
    moved = 0;
    if (length > 0 && !data) return kMissingBuffer;
    const int n = libusb_control_transfer(handle_, 0xC0, request, value, index, data, length, controlTimeout_);
    if (n < 0) return MapLibusbError(n);
    moved = static_cast<std::uint32_t>(n);
    return kOk;
  }

  Result ControlOut(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                    const std::uint8_t* data, std::uint32_t& moved) override {
    moved = 0;
    if (length > 0 && !data) return kMissingBuffer;
    const int n = libusb_control_transfer(handle_, 0x40, request, value, index, const_cast<std::uint8_t*>(data),
                                          length, controlTimeout_);
    if (n < 0) return MapLibusbError(n);
    moved = static_cast<std::uint32_t>(n);
    return kOk;
  }

  Result SetPipeTimeout(std::uint8_t pipe, std::uint32_t milliseconds) override {
    if (pipe == 0x00) controlTimeout_ = milliseconds;
    else if (pipe == 0x01) bulkTimeout_ = milliseconds;
    else return kInvalidArgument;
    return kOk;
  }

  Result BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& moved) override {
    moved = 0;
    if (length > 0 && !data) return kMissingBuffer;
    if (length > 0x7FFFFFFF) return kInvalidArgument;
    int transferred = 0;
    const int r = libusb_bulk_transfer(handle_, 0x01, const_cast<std::uint8_t*>(data), static_cast<int>(length),
                                       &transferred, bulkTimeout_);
    if (transferred > 0) moved = static_cast<std::uint32_t>(transferred);
    // A stalled endpoint stays halted, for this job and every later one, until
    // the host clears it; the stall itself is still reported.
    if (r == LIBUSB_ERROR_PIPE) (void)libusb_clear_halt(handle_, 0x01);
    return MapLibusbError(r);
  }

 private:
  libusb_device_handle* handle_;
  bool claimed_ = false;
  unsigned controlTimeout_ = kDefaultControlTimeoutMs;
  unsigned bulkTimeout_ = 0;  // no time-out until one is set
};

class LibusbBackend final : public UsbBackend {
 public:
  // The context is made once, with the backend (a thread-safe static).
  LibusbBackend() {
    const int r = libusb_init(&context_);
    if (r != 0) {
      context_ = nullptr;
      initResult_ = MapLibusbError(r);
    }
  }
  ~LibusbBackend() override {
    if (context_) libusb_exit(context_);
  }
  LibusbBackend(const LibusbBackend&) = delete;
  LibusbBackend& operator=(const LibusbBackend&) = delete;

  Result Enumerate(std::uint32_t vendorId, std::uint32_t productId, std::vector<DevicePath>& out) override {
    if (Result r = Init()) return r;
    DeviceList devices;
    const ssize_t count = libusb_get_device_list(context_, &devices.list);
    if (count < 0) return MapLibusbError(static_cast<int>(count));
    for (ssize_t i = 0; i < count; ++i) {
      DevicePath path;
      if (!PathOf(devices.list[i], path)) continue;
      if (!DevicePathMatches(path.view(), vendorId, productId)) continue;
      if (Result r = TryPushBack(out, path)) return r;
    }
    return kOk;
  }

  Result Open(Utf16View path, std::unique_ptr<UsbDevice>& out) override {
    out.reset();
    if (path.empty()) return kInvalidArgument;
    if (Result r = Init()) return r;
    DeviceList devices;
    const ssize_t count = libusb_get_device_list(context_, &devices.list);
    if (count < 0) return MapLibusbError(static_cast<int>(count));
    for (ssize_t i = 0; i < count; ++i) {
      DevicePath candidate;
      if (!PathOf(devices.list[i], candidate) || candidate.view() != path) continue;
      libusb_device_handle* handle = nullptr;
      const int r = libusb_open(devices.list[i], &handle);
      if (r != 0) return MapLibusbError(r);
      std::unique_ptr<LibusbDevice> device(new (std::nothrow) LibusbDevice(handle));
      if (!device) {
        libusb_close(handle);
        return kOutOfMemory;
      }
      if (!device->Claim()) return kNoDeviceInterface;
      out = std::move(device);
      return kOk;
    }
    return kNoSuchDevice;
  }

 private:
  Result Init() const { return context_ ? kOk : (initResult_ != kOk ? initResult_ : kFailed); }

  libusb_context* context_ = nullptr;
  Result initResult_ = kOk;
};

}  // namespace

UsbBackend& PlatformUsbBackend() {
  static LibusbBackend backend;
  return backend;
}

bool SimulatedDeviceFolder(Utf8Text<1024>& out) {
  out.clear();
  const char* value = std::getenv("TAVRIN_SIMULATED_DEVICE");
  if (!value || !*value) return false;
  out.assign(value);
  return !out.empty();
}

}  // namespace tavrin
