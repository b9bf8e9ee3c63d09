// Discovery of card-emulator devices, the device model table and the one
// DeviceManager: the list of known devices, the selected device's identity,
// the bank that sending writes, the `busy` flag of device jobs and the
// selected device's bank directory.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "device/usb_backend.h"

namespace tavrin {

inline constexpr std::uint16_t kCapabilityBeginWriteOption = 0x02;
inline constexpr std::uint16_t kCapabilityBankDirectory = 0x04;
inline constexpr std::uint32_t kDefaultMemorySize = 524288;
// The largest memory a device may report: the card's 24-bit word addresses
// reach 32 MiB of samples, twice that in the wide layout.
inline constexpr std::uint32_t kMaxDeviceMemory = 67108864;
inline constexpr std::uint32_t kMaxDirectoryEntries = 256;
inline constexpr std::uint32_t kDirectoryEntrySize = 20;

// One known device, filled from its identification reply.
struct DeviceInfo {
  std::uint8_t mode = 0;
  std::uint8_t modelCode = 0;
  std::uint16_t capabilities = 0;
  std::uint16_t word2 = 0;
  std::uint16_t word4 = 0;
  std::uint32_t bankCount = 0;
  std::uint32_t byte7 = 0;
  std::uint32_t memorySize = 0;
  std::uint32_t serialNumber = 0;
  // Uppercase hexadecimal of reply bytes 16..27; for a 36-byte reply the raw
  // reply bytes 12..35 instead.
  char uniqueId[24] = {};
  bool otherFamily = false;
  bool present = false;
  DevicePath path;
};

// "Tavrin", "Quivens", ... for a model code; "Corvask ???" for unknown codes.
Utf8View DeviceModelName(std::uint32_t modelCode);

using DeviceName = Utf8Text<48>;
// The model name, " (", the serial number in decimal, ")".
DeviceName DeviceDisplayName(const DeviceInfo& device);

// Fills `device` (except `path`) from an identification reply of `length`
// bytes: 28 or 34 (with capabilities) or 36 (the other family); any other
// length is 7. `reply` holds at least min(length, 36) bytes.
Result ParseIdentifyReply(const std::uint8_t* reply, std::uint32_t length, DeviceInfo& device);

// Opens path, sends identify and closes; fills `device` including `path`.
Result IdentifyDevice(UsbBackend& backend, Utf16View path, DeviceInfo& device);

// Entry in the device list (the device combo box of the main window).
class DeviceListObserver {
 public:
  virtual ~DeviceListObserver() = default;
  // A device was appended to the list; its display name goes at the end.
  virtual void DeviceAdded(Utf8View displayName) = 0;
  // The device at index left the list.
  virtual void DeviceRemoved(std::size_t index) = 0;
  // After a refresh that changed the selection: show selectedIndex (-1 for
  // none) and refresh the device controls and card figures.
  virtual void SelectionChanged(std::int32_t selectedIndex) = 0;
};

class DeviceManager {
 public:
  explicit DeviceManager(UsbBackend& usb);
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  UsbBackend& backend;

  // Known devices, in the order first found. Changed only by Refresh, and
  // only while no device job runs.
  std::vector<DeviceInfo> devices;
  // Identity of the selected device (zero with bankCount 1 and the default
  // memory size when none). Changed only by selection.
  DeviceInfo current;
  std::atomic<std::int32_t> selectedIndex{-1};
  // 1-based bank that sending writes.
  std::atomic<std::uint16_t> currentBank{1};

  // Refreshes the device list (see the .cpp). 9 while a device job runs, or
  // the enumeration error that ended it early; 0 otherwise.
  Result Refresh(DeviceListObserver* observer);

  // Selects the device at index (-1 = none); nothing happens when index is
  // already selected and force is not set. Refused (9) while a job runs.
  Result SelectDevice(std::int32_t index, bool force);

  // Reads up to maxEntries directory entries of `device` into buffer. 9
  // without the directory capability, 2 when buffer cannot hold the entries
  // or the request would exceed 65535 bytes.
  Result ReadBankDirectory(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t maxEntries,
                           const DeviceInfo& device);

  // The `busy` flag of device jobs: an atomic test-and-set, so that two jobs
  // (or a job and a refresh) can never both run.
  bool TryAcquireBusy() { return !busy_.exchange(true, std::memory_order_acq_rel); }
  void ReleaseBusy() { busy_.store(false, std::memory_order_release); }
  bool Busy() const { return busy_.load(std::memory_order_acquire); }

  // The selected device's bank count, readable from any thread (the worker
  // checks the selected rows against it before its job holds `busy`).
  std::uint32_t CurrentBankCount() const { return bankCount_.load(std::memory_order_acquire); }

  // True when a device is selected (the index names a listed device).
  bool HasSelection() const;

  // Directory entry of a bank (1..256); other banks read as zeros and are
  // not stored. Safe to read from one thread while a job writes it.
  void DirectoryEntry(std::uint32_t bank, std::uint8_t (&entry)[kDirectoryEntrySize]) const;
  void SetDirectoryEntry(std::uint32_t bank, const std::uint8_t* entry);
  void ClearDirectory();
  // Bit 0 of byte 0 of the entry.
  bool BankHoldsCard(std::uint32_t bank) const;
  // The entry's name: bytes 4..19 up to the first zero byte.
  Utf8Text<16> BankName(std::uint32_t bank) const;

 private:
  Result SelectLocked(std::int32_t index, bool force);
  void ResetIdentity();

  std::atomic<bool> busy_{false};
  std::atomic<std::uint32_t> bankCount_{1};
  std::array<std::atomic<std::uint8_t>, kMaxDirectoryEntries * kDirectoryEntrySize> directory_{};
};

// The DeviceManager of the run, on DefaultUsbBackend(); created on first use.
DeviceManager& AppDeviceManager();

}  // namespace tavrin
