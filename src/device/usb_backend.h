// The USB access the card-emulator protocol needs, and nothing more: find the
// device interface paths of one vendor/product, open a path, vendor control
// transfers in and out on the default pipe, a pipe time-out, bulk writes to
// the OUT pipe 0x01, close.
//
// Three implementations: WinUSB on Windows (usb_backend_win.cpp), libusb-1.0
// elsewhere (usb_backend_posix.cpp) and the simulated card emulator
// (simulated_device.h), chosen by DefaultUsbBackend().
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/result.h"
#include "base/text.h"

namespace tavrin {

inline constexpr std::uint32_t kDeviceVendorId = 0x0483;
inline constexpr std::uint32_t kDeviceProductId = 0xA2A1;
inline constexpr std::uint32_t kAnyId = 0xFFFFFFFF;

// The vendor requests of the protocol.
inline constexpr std::uint8_t kRequestIdentify = 0x01;
inline constexpr std::uint8_t kRequestBeginWrite = 0x02;
inline constexpr std::uint8_t kRequestEndWrite = 0x03;
inline constexpr std::uint8_t kRequestMode = 0x05;
inline constexpr std::uint8_t kRequestClearBank = 0x08;
inline constexpr std::uint8_t kRequestReadDirectory = 0x09;

inline constexpr std::uint8_t kControlPipe = 0x00;
inline constexpr std::uint8_t kBulkOutPipe = 0x01;

// A device interface path: UTF-16, at most 261 units plus the terminator.
inline constexpr std::size_t kDevicePathCapacity = 262;
using DevicePath = Utf16Text<kDevicePathCapacity>;

// Vendor and product ID read from an interface path: the 4 characters after
// the first "vid_" and after the first "pid_" (exact, case-sensitive match).
// 0-9, a-f and A-F count with their value, any other character as 0; a
// terminator (or the end of the path) within the 4 characters makes the value
// 0. A path without the prefix gives 0 for that ID.
struct PathIds {
  std::uint32_t vendorId = 0;
  std::uint32_t productId = 0;
};
PathIds ParseDevicePathIds(Utf16View path);

// True when the IDs parsed from path match the wanted ones (kAnyId = any).
bool DevicePathMatches(Utf16View path, std::uint32_t vendorId, std::uint32_t productId);

// One open device. Destroying it frees the USB interface and closes the
// device. Every call reports a result code; `moved` is the number of bytes
// that actually travelled (never more than asked).
class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // Vendor request, recipient device, direction in (bmRequestType 0xC0).
  // Reads at most `length` bytes into data (which holds at least `length`).
  virtual Result ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                           std::uint16_t length, std::uint8_t* data, std::uint32_t& moved) = 0;
  // Vendor request, recipient device, direction out (bmRequestType 0x40).
  virtual Result ControlOut(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                            std::uint16_t length, const std::uint8_t* data, std::uint32_t& moved) = 0;
  // Transfer time-out of a pipe (kControlPipe or kBulkOutPipe) in ms.
  virtual Result SetPipeTimeout(std::uint8_t pipe, std::uint32_t milliseconds) = 0;
  // Writes length bytes to the bulk OUT pipe 0x01.
  virtual Result BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& moved) = 0;
};

class UsbBackend {
 public:
  virtual ~UsbBackend() = default;

  // Appends the interface path of every present device whose path names the
  // wanted vendor and product (kAnyId = any). An error ends the enumeration
  // early: the paths found before it stay in `out`.
  virtual Result Enumerate(std::uint32_t vendorId, std::uint32_t productId, std::vector<DevicePath>& out) = 0;

  // Opens the device at path. On failure `out` stays empty and the result is
  // the mapped platform error, or 16 when no USB interface could be obtained.
  virtual Result Open(Utf16View path, std::unique_ptr<UsbDevice>& out) = 0;
};

// Maps a libusb-1.0 error code (LIBUSB_ERROR_*, 0 or negative) to a result
// code. Kept portable so that the mapping is tested on every platform.
Result MapLibusbError(int code);

// The backend of this run: the simulated card emulator when the environment
// variable TAVRIN_SIMULATED_DEVICE names a folder, else the platform's USB.
// Created on first use and kept for the whole run.
UsbBackend& DefaultUsbBackend();

// The platform's USB backend (WinUSB or libusb), one for the whole run.
UsbBackend& PlatformUsbBackend();

// The value of TAVRIN_SIMULATED_DEVICE as UTF-8; false when unset or empty.
bool SimulatedDeviceFolder(Utf8Text<1024>& out);

}  // namespace tavrin
