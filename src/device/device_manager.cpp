// Device discovery and the DeviceManager (see device_manager.h).
#include "device/device_manager.h"

#include <algorithm>
#include <cstring>

#include "base/alloc.h"
#include "device/simulated_device.h"

namespace tavrin {
namespace {

std::uint32_t U16At(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | (p[1] << 8)); }

std::uint32_t U32At(const std::uint8_t* p) { return U16At(p) | (U16At(p + 2) << 16); }

// The admission check: only models 1, 5 and 9 of the normal family are taken.
bool AdmittedModel(const DeviceInfo& device) {
  if (device.otherFamily) return false;
  return device.modelCode == 1 || device.modelCode == 5 || device.modelCode == 9;
}

// A device in mode 2 with a word4 other than 0 and 0xFFFF is asked to change
// its mode; it leaves the bus and comes back as a new device.
bool NeedsModeRequest(const DeviceInfo& device) {
  return device.mode == 2 && device.word4 != 0 && device.word4 != 0xFFFF;
}

void SendModeRequest(UsbBackend& backend, Utf16View path) {
  std::unique_ptr<UsbDevice> usb;
  if (backend.Open(path, usb) != kOk) return;
  std::uint32_t moved = 0;
  (void)usb->ControlOut(kRequestMode, 0x0001, 0, 0, nullptr, moved);  // failures are ignored
}

}  // namespace

DeviceManager& AppDeviceManager() {
  static DeviceManager manager(DefaultUsbBackend());
  return manager;
}

Utf8View DeviceModelName(std::uint32_t modelCode) {
  static constexpr const char* kNames[] = {"Tavrin",  "Corvask Trio", "Harnel Board", "Lumeth",      "Quivens",
                                           "Dorsk",   "Ombrelt",      "Harnel Card",  "Tavrin Mk3",  "Fennic"};
  if (modelCode >= 1 && modelCode <= 10) return kNames[modelCode - 1];
  return "Corvask ???";
}

DeviceName DeviceDisplayName(const DeviceInfo& device) {
  DeviceName name;
  name.append(DeviceModelName(device.modelCode));
  name.append(" (");
  name.appendDecimal(device.serialNumber);
  name.append(")");
  return name;
}

Result ParseIdentifyReply(const std::uint8_t* reply, std::uint32_t length, DeviceInfo& device) {
  if (length != 28 && length != 34 && length != 36) return kBadIdentify;
  if (!reply) return kMissingBuffer;
  device.mode = reply[0];
  device.modelCode = reply[1];
  device.word2 = static_cast<std::uint16_t>(U16At(reply + 2));
  device.word4 = static_cast<std::uint16_t>(U16At(reply + 4));
  device.bankCount = reply[6];
  device.memorySize = U32At(reply + 8);
  // No card of this kind holds more; a larger figure would make every send
  // build an image of that size.
  if (device.memorySize > kMaxDeviceMemory) return kBadIdentify;
  if (length == 36) {
    device.serialNumber = 0;
    device.byte7 = 0;
    device.capabilities = 0;
    std::memcpy(device.uniqueId, reply + 12, 24);
    device.otherFamily = true;
  } else {
    device.byte7 = reply[7];
    device.serialNumber = U32At(reply + 12);
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < 12; ++i) {
      device.uniqueId[2 * i] = kHex[reply[16 + i] >> 4];
      device.uniqueId[2 * i + 1] = kHex[reply[16 + i] & 0x0F];
    }
    device.capabilities = length == 34 ? static_cast<std::uint16_t>(U16At(reply + 28)) : 0;
    device.otherFamily = false;
  }
  device.present = true;
  return kOk;
}

Result IdentifyDevice(UsbBackend& backend, Utf16View path, DeviceInfo& device) {
  std::unique_ptr<UsbDevice> usb;
  if (Result r = backend.Open(path, usb)) return r;
  // The control pipe keeps the platform's default time-out here.
  std::uint8_t reply[36] = {};
  std::uint32_t moved = 0;
  if (Result r = usb->ControlIn(kRequestIdentify, 0x0001, 0, sizeof reply, reply, moved)) return r;
  usb.reset();
  // A reply can never be longer than asked; a backend that claims so is
  // treated as a wrong-length reply.
  if (moved > sizeof reply) return kBadIdentify;
  if (Result r = ParseIdentifyReply(reply, moved, device)) return r;
  device.path.assign(path);
  return kOk;
}

DeviceManager::DeviceManager(UsbBackend& usb) : backend(usb) {
  ResetIdentity();
  ClearDirectory();
}

void DeviceManager::ResetIdentity() {
  current = DeviceInfo{};
  current.bankCount = 1;
  current.memorySize = kDefaultMemorySize;
  bankCount_.store(1, std::memory_order_release);
}

bool DeviceManager::HasSelection() const {
  const std::int32_t sel = selectedIndex.load();
  return sel >= 0 && static_cast<std::size_t>(sel) < devices.size();
}

Result DeviceManager::Refresh(DeviceListObserver* observer) {
  if (!TryAcquireBusy()) return kNotSupported;
  for (DeviceInfo& d : devices) d.present = false;
  const std::int32_t before = selectedIndex.load();
  bool selectionMade = false;

  std::vector<DevicePath> paths;
  const Result enumResult = backend.Enumerate(kDeviceVendorId, kDeviceProductId, paths);
  for (const DevicePath& path : paths) {
    bool known = false;
    for (DeviceInfo& d : devices) {
      if (d.path.view() == path.view()) {
        d.present = true;
        known = true;
        break;
      }
    }
    if (known) continue;
    DeviceInfo info;
    if (IdentifyDevice(backend, path.view(), info) != kOk) continue;  // found again next time
    if (!AdmittedModel(info)) continue;
    if (NeedsModeRequest(info)) {
      SendModeRequest(backend, path.view());
      continue;
    }
    if (TryPushBack(devices, info) != kOk) continue;
    if (observer) observer->DeviceAdded(DeviceDisplayName(info).view());
    if (selectedIndex.load() < 0) {
      SelectLocked(0, false);
      selectionMade = true;
    }
  }

  if (enumResult == kOk) {
    for (std::size_t i = 0; i < devices.size();) {
      if (devices[i].present) {
        ++i;
        continue;
      }
      devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(i));
      if (observer) observer->DeviceRemoved(i);
      const std::int32_t sel = selectedIndex.load();
      if (static_cast<std::int32_t>(i) < sel) {
        selectedIndex.store(sel - 1);
      } else if (static_cast<std::int32_t>(i) == sel) {
        SelectLocked(devices.empty() ? -1 : 0, true);
        selectionMade = true;
      }
    }
    if ((selectionMade || selectedIndex.load() != before) && observer) observer->SelectionChanged(selectedIndex.load());
  }
  ReleaseBusy();
  return enumResult;
}

Result DeviceManager::SelectDevice(std::int32_t index, bool force) {
  if (!TryAcquireBusy()) return kNotSupported;
  const Result r = SelectLocked(index, force);
  ReleaseBusy();
  return r;
}

Result DeviceManager::SelectLocked(std::int32_t index, bool force) {
  if (index == selectedIndex.load() && !force) return kOk;
  if (index >= 0 && static_cast<std::size_t>(index) >= devices.size()) {
    index = static_cast<std::int32_t>(devices.size()) - 1;
  }
  if (index < 0) {
    selectedIndex.store(-1);
    ResetIdentity();
    currentBank.store(1);
    ClearDirectory();
    return kOk;
  }
  selectedIndex.store(index);
  current = devices[static_cast<std::size_t>(index)];
  bankCount_.store(current.bankCount, std::memory_order_release);
  const std::uint16_t bank = currentBank.load();
  if (bank == 0) currentBank.store(1);
  else if (bank > current.bankCount) currentBank.store(static_cast<std::uint16_t>(std::max<std::uint32_t>(current.bankCount, 1)));
  static_assert(kMaxDirectoryEntries * kDirectoryEntrySize <= 65535);
  std::uint8_t buffer[kMaxDirectoryEntries * kDirectoryEntrySize] = {};
  const Result r = ReadBankDirectory(buffer, sizeof buffer, kMaxDirectoryEntries, current);
  if (r != kOk) {
    ClearDirectory();
    return r;
  }
  for (std::uint32_t bank = 1; bank <= kMaxDirectoryEntries; ++bank) {
    SetDirectoryEntry(bank, buffer + (bank - 1) * kDirectoryEntrySize);
  }
  return kOk;
}

Result DeviceManager::ReadBankDirectory(std::uint8_t* buffer, std::size_t bufferSize, std::uint32_t maxEntries,
                                        const DeviceInfo& device) {
  if (!(device.capabilities & kCapabilityBankDirectory)) return kNotSupported;
  const std::uint64_t entries = std::min(maxEntries, device.bankCount);
  const std::uint64_t bytes = entries * kDirectoryEntrySize;
  if (bytes > 65535 || (bytes > 0 && !buffer) || bytes > bufferSize) return kInvalidArgument;
  std::unique_ptr<UsbDevice> usb;
  if (Result r = backend.Open(device.path.view(), usb)) return r;
  (void)usb->SetPipeTimeout(kControlPipe, 1000);
  std::uint32_t moved = 0;
  // The reply cannot exceed wLength, which never exceeds the buffer.
  return usb->ControlIn(kRequestReadDirectory, 0, 0, static_cast<std::uint16_t>(bytes), buffer, moved);
}

void DeviceManager::DirectoryEntry(std::uint32_t bank, std::uint8_t (&entry)[kDirectoryEntrySize]) const {
  for (std::uint32_t i = 0; i < kDirectoryEntrySize; ++i) {
    entry[i] = (bank >= 1 && bank <= kMaxDirectoryEntries)
                   ? directory_[(bank - 1) * kDirectoryEntrySize + i].load(std::memory_order_relaxed)
                   : 0;
  }
}

void DeviceManager::SetDirectoryEntry(std::uint32_t bank, const std::uint8_t* entry) {
  if (bank < 1 || bank > kMaxDirectoryEntries) return;
  for (std::uint32_t i = 0; i < kDirectoryEntrySize; ++i) {
    directory_[(bank - 1) * kDirectoryEntrySize + i].store(entry ? entry[i] : 0, std::memory_order_relaxed);
  }
}

void DeviceManager::ClearDirectory() {
  for (auto& b : directory_) b.store(0, std::memory_order_relaxed);
}

bool DeviceManager::BankHoldsCard(std::uint32_t bank) const {
  std::uint8_t entry[kDirectoryEntrySize];
  DirectoryEntry(bank, entry);
  return (entry[0] & 0x01) != 0;
}

Utf8Text<16> DeviceManager::BankName(std::uint32_t bank) const {
  std::uint8_t entry[kDirectoryEntrySize];
  DirectoryEntry(bank, entry);
  std::size_t n = 0;
  while (n < 16 && entry[4 + n] != 0) ++n;
  Utf8Text<16> name;
  name.assign(Utf8View(reinterpret_cast<const char*>(entry + 4), n));
  return name;
}

}  // namespace tavrin
