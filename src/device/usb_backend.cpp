// Portable parts of the USB layer: reading vendor and product IDs from an
// interface path, and choosing the backend of the run.
#include "device/usb_backend.h"

#include <new>

#include "device/simulated_device.h"

namespace tavrin {
namespace {

// Position of the first occurrence of an ASCII prefix in path, or npos.
std::size_t FindPrefix(Utf16View path, const char (&prefix)[5]) {
  if (path.size() < 4) return Utf16View::npos;
  for (std::size_t i = 0; i + 4 <= path.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < 4 && same; ++k) same = path[i + k] == static_cast<char16_t>(prefix[k]);
    if (same) return i;
  }
  return Utf16View::npos;
}

std::uint32_t HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return static_cast<std::uint32_t>(c - u'0');
  if (c >= u'a' && c <= u'f') return static_cast<std::uint32_t>(c - u'a' + 10);
  if (c >= u'A' && c <= u'F') return static_cast<std::uint32_t>(c - u'A' + 10);
  return 0;
}

// The 4 characters after the prefix as hexadecimal; a terminator (or the end
// of the text) among them makes the value 0.
std::uint32_t IdAfter(Utf16View path, const char (&prefix)[5]) {
  const std::size_t at = FindPrefix(path, prefix);
  if (at == Utf16View::npos) return 0;
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::size_t i = at + 4 + k;
    if (i >= path.size() || path[i] == 0) return 0;
    value = value * 16 + HexDigit(path[i]);
  }
  return value;
}

}  // namespace

PathIds ParseDevicePathIds(Utf16View path) {
  // A path ends at its first terminator, whatever follows it.
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == 0) {
      path = path.substr(0, i + 1);
      break;
    }
  }
  PathIds ids;
  ids.vendorId = IdAfter(path, "vid_");
  ids.productId = IdAfter(path, "pid_");
  return ids;
}

bool DevicePathMatches(Utf16View path, std::uint32_t vendorId, std::uint32_t productId) {
  const PathIds ids = ParseDevicePathIds(path);
  if (vendorId != kAnyId && ids.vendorId != vendorId) return false;
  if (productId != kAnyId && ids.productId != productId) return false;
  return true;
}

Result MapLibusbError(int code) {
  switch (code) {
    case 0: return kOk;
    case -1: return kFailed;            // LIBUSB_ERROR_IO
    case -2: return kInvalidArgument;   // LIBUSB_ERROR_INVALID_PARAM
    case -3: return kAccessDenied;      // LIBUSB_ERROR_ACCESS
    case -4: return kNoSuchDevice;      // LIBUSB_ERROR_NO_DEVICE
    case -5: return kNotFound;          // LIBUSB_ERROR_NOT_FOUND
    case -6: return kNotReady;          // LIBUSB_ERROR_BUSY
    case -7: return kTimeout;           // LIBUSB_ERROR_TIMEOUT
    case -8: return kTooMuchData;       // LIBUSB_ERROR_OVERFLOW
    case -9: return kBrokenPipe;        // LIBUSB_ERROR_PIPE (the device stalled)
    case -10: return kAborted;          // LIBUSB_ERROR_INTERRUPTED
    case -11: return kOutOfMemory;      // LIBUSB_ERROR_NO_MEM
    case -12: return kNotSupported;     // LIBUSB_ERROR_NOT_SUPPORTED
    default: return kFailed;            // LIBUSB_ERROR_OTHER and anything new
  }
}

UsbBackend& DefaultUsbBackend() {
  // Decided once: the simulated card emulator when the environment names a
  // folder for it (and the folder can be used), else the platform's USB.
  static UsbBackend* const backend = []() -> UsbBackend* {
    Utf8Text<1024> folder;
    if (!SimulatedDeviceFolder(folder)) return &PlatformUsbBackend();
    static SimulatedUsbBackend simulated;
    // A folder that cannot be used leaves the simulated USB without a device.
    (void)simulated.LoadFolder(folder.view());
    return &simulated;
  }();
  return *backend;
}

}  // namespace tavrin
