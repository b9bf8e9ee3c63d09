// The simulated card emulator: a model of the device side of the USB protocol
// for tests, demonstrations and the command-line tool without hardware.
//
// Each simulated device answers identify (a 28-, 34- or 36-byte reply), the
// mode request, begin write, end write, clear bank and read bank directory;
// the bulk data of a write session become the content of the bank named in
// begin write when end write arrives. A bank's directory entry is 20 bytes:
// byte 0 bit 0 set when the bank holds a card, bytes 4..19 the card name read
// from the header of the stored image (zero-padded).
//
// With a folder (TAVRIN_SIMULATED_DEVICE), one device is loaded from it: its
// banks are the files "bank1.bin", "bank2.bin", ... (byte-exact images; an
// empty or missing file is an empty bank) and an optional "device.txt" sets
// its identity, one "key = value" a line (decimal or 0x hex):
//   model, serial, banks, memory, capabilities, mode, word4, identify (the
//   reply length), shortbulk (that bulk write, from 1, moves nothing: a
//   transfer that breaks off).
// Defaults: model 1, serial 1234, 16 banks of 524288 bytes, capabilities 0x06.
//
// Faults can be injected per device and every call is recorded in a log that
// tests assert on. All members are safe to call from several threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/usb_backend.h"

namespace tavrin {

struct SimulatedDeviceConfig {
  std::uint8_t mode = 1;
  std::uint8_t modelCode = 1;
  std::uint16_t word2 = 0;
  std::uint16_t word4 = 0;
  std::uint8_t bankCount = 16;
  std::uint8_t byte7 = 0;
  std::uint32_t memorySize = 524288;
  std::uint32_t serialNumber = 1234;
  std::uint8_t uniqueId[12] = {0x31, 0x00, 0x2A, 0x00, 0x0B, 0x51, 0x36, 0x30, 0x34, 0x33, 0x37, 0x38};
  std::uint16_t capabilities = 0x06;
  // Length of the identify reply: 28, 34 (with capabilities) or 36 (the other
  // device family); any other value makes a wrong-length reply.
  std::uint32_t identifyLength = 34;
};

struct SimulatedFaults {
  // The Nth transfer (control or bulk, counted from 1 since the faults were
  // set) fails with failCode and moves nothing. 0 = none.
  std::uint32_t failTransfer = 0;
  Result failCode = kTimeout;
  // Every control request with this bRequest fails with refuseCode (-1 = none).
  int refuseRequest = -1;
  Result refuseCode = kBrokenPipe;
  // The Nth bulk write (from 1) moves only shortBulkBytes and reports success.
  std::uint32_t shortBulk = 0;
  std::uint32_t shortBulkBytes = 0;
  // The device is unplugged right after this many bulk writes (0 = never):
  // every later call on it fails with 18 and enumeration no longer finds it.
  std::uint32_t unplugAfterBulk = 0;
  // Opening the device fails with this code (0 = opens).
  Result openResult = kOk;
  // Replies to read bank directory carry this many bytes, cut to wLength
  // (-1 = the true length).
  std::int64_t directoryReplyLength = -1;
};

enum class SimCall : std::uint8_t { kOpen, kControlIn, kControlOut, kSetTimeout, kBulkWrite, kClose };

struct SimLogEntry {
  std::size_t device = 0;      // index of the simulated device
  SimCall call = SimCall::kOpen;
  std::uint8_t request = 0;    // bRequest; the pipe for kSetTimeout
  std::uint16_t value = 0;     // wValue
  std::uint16_t index = 0;
  std::uint32_t length = 0;    // wLength or bulk length; ms for kSetTimeout
  std::uint32_t moved = 0;
  Result result = kOk;
};

class SimulatedUsbBackend final : public UsbBackend {
 public:
  SimulatedUsbBackend();
  ~SimulatedUsbBackend() override;
  SimulatedUsbBackend(const SimulatedUsbBackend&) = delete;
  SimulatedUsbBackend& operator=(const SimulatedUsbBackend&) = delete;

  // Adds one device kept in the folder (settings and bank files, see above).
  Result LoadFolder(Utf8View folder);

  // Adds a device kept in memory; path empty = a path made from the serial
  // number. Returns its index, or SIZE_MAX when memory ran out.
  std::size_t AddDevice(const SimulatedDeviceConfig& config, Utf16View path = {});
  void Unplug(std::size_t device);
  void Plug(std::size_t device);
  void SetFaults(std::size_t device, const SimulatedFaults& faults);
  // Makes enumeration fail with code after reporting `after` paths (0 = off).
  void FailEnumeration(Result code, std::size_t after);

  std::size_t DeviceCount() const;
  SimulatedDeviceConfig Config(std::size_t device) const;
  DevicePath Path(std::size_t device) const;
  // Content of a bank (1-based); empty when the bank is empty.
  std::vector<std::uint8_t> BankData(std::size_t device, std::uint32_t bank) const;
  Result SetBankData(std::size_t device, std::uint32_t bank, const std::vector<std::uint8_t>& data);
  // The 20-byte directory entry the device reports for a bank.
  void DirectoryEntry(std::size_t device, std::uint32_t bank, std::uint8_t (&entry)[20]) const;
  // How many times a bank's file was written (folder devices).
  std::uint32_t BankWrites(std::size_t device) const;

  std::vector<SimLogEntry> Log() const;
  void ClearLog();
  // Number of handles currently open.
  std::size_t OpenHandles() const;

  Result Enumerate(std::uint32_t vendorId, std::uint32_t productId, std::vector<DevicePath>& out) override;
  Result Open(Utf16View path, std::unique_ptr<UsbDevice>& out) override;

  struct Device;
  class Handle;

 private:
  friend class Handle;
  Result Transfer(std::size_t device, std::uint32_t generation, SimCall call, std::uint8_t request,
                  std::uint16_t value, std::uint16_t index, std::uint32_t length, std::uint8_t* in,
                  const std::uint8_t* out, std::uint32_t& moved);
  void Closed(std::size_t device);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::vector<SimLogEntry> log_;
  std::size_t openHandles_ = 0;
  Result enumerationFailure_ = kOk;
  std::size_t enumerationFailAfter_ = 0;
};

}  // namespace tavrin
