// The simulated card emulator (see simulated_device.h).
#include "device/simulated_device.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/alloc.h"
#include "base/file_io.h"

namespace tavrin {

struct SimulatedUsbBackend::Device {
  SimulatedDeviceConfig config;
  DevicePath path;
  bool plugged = true;
  std::uint32_t generation = 0;  // changes when the device leaves the bus
  std::uint32_t reattached = 0;  // times it came back after a mode change
  SimulatedFaults faults;
  std::uint32_t transfers = 0;
  std::uint32_t bulkWrites = 0;
  std::vector<std::vector<std::uint8_t>> banks;
  bool writing = false;
  std::uint32_t writeBank = 0;
  std::vector<std::uint8_t> pending;
  std::string folder;  // empty: banks kept in memory only
  std::uint32_t bankFileWrites = 0;
};

namespace {

constexpr std::size_t kEntrySize = 20;

void MakePath(DevicePath& path, std::uint32_t serial, std::uint32_t reattached) {
  path.clear();
  path.append(u"\\\\?\\usb#vid_0483&pid_a2a1#SIM");
  path.appendDecimal(serial);
  if (reattached > 0) {
    path.append(u'-');
    path.appendDecimal(reattached);
  }
  path.append(u"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  PutU16(p, v & 0xFFFF);
  PutU16(p + 2, v >> 16);
}

// The card name from the header of a stored image: bytes 6..15 of a normal
// image, or the odd bytes 13..31 of a wide one (each header byte preceded by
// 0xFF); trailing spaces dropped.
std::size_t CardNameOf(const std::vector<std::uint8_t>& image, std::uint8_t (&name)[16]) {
  std::memset(name, 0, sizeof name);
  std::size_t n = 0;
  if (image.size() >= 16 && std::memcmp(image.data(), "KORG", 4) == 0) {
    for (std::size_t k = 6; k < 16; ++k) name[n++] = image[k];
  } else if (image.size() >= 32 && image[0] == 0xFF && image[1] == 'K' && image[3] == 'O' && image[5] == 'R' &&
             image[7] == 'G') {
    for (std::size_t k = 6; k < 16; ++k) name[n++] = image[2 * k + 1];
  }
  while (n > 0 && (name[n - 1] == ' ' || name[n - 1] == 0)) name[--n] = 0;
  return n;
}

void EntryOf(const std::vector<std::uint8_t>& bank, std::uint8_t* entry) {
  std::memset(entry, 0, kEntrySize);
  if (bank.empty()) return;
  entry[0] = 0x01;
  std::uint8_t name[16];
  CardNameOf(bank, name);
  std::memcpy(entry + 4, name, sizeof name);
}

bool ParseNumber(std::string_view text, std::uint32_t& out) {
  std::uint64_t v = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    v = v * base + d;
  }
  if (v > 0xFFFFFFFFu) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Applies the "key = value" lines of a settings file to config.
void ApplySettings(std::string_view text, SimulatedDeviceConfig& config, SimulatedFaults& faults) {
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, eq));
    std::uint32_t v = 0;
    if (!ParseNumber(Trim(line.substr(eq + 1)), v)) continue;
    if (key == "model") config.modelCode = static_cast<std::uint8_t>(v);
    else if (key == "serial") config.serialNumber = v;
    else if (key == "banks") config.bankCount = static_cast<std::uint8_t>(std::min<std::uint32_t>(v, 255));
    else if (key == "memory") config.memorySize = v;
    else if (key == "capabilities") config.capabilities = static_cast<std::uint16_t>(v);
    else if (key == "mode") config.mode = static_cast<std::uint8_t>(v);
    else if (key == "word4") config.word4 = static_cast<std::uint16_t>(v);
    else if (key == "identify") config.identifyLength = v;
    else if (key == "shortbulk") faults.shortBulk = v;
  }
}

Result BankFilePath(const std::string& folder, std::uint32_t bank, std::string& out) {
  try {
    out = folder;
    if (!out.empty() && out.back() != '/' && out.back() != '\\') out += '/';
    out += "bank";
    out += std::to_string(bank);
    out += ".bin";
  } catch (...) {
    return kOutOfMemory;
  }
  return kOk;
}

}  // namespace

class SimulatedUsbBackend::Handle final : public UsbDevice {
 public:
  Handle(SimulatedUsbBackend& owner, std::size_t device, std::uint32_t generation,
         std::unique_ptr<FileUpdateLock> claim)
      : owner_(owner), device_(device), generation_(generation), claim_(std::move(claim)) {}
  ~Handle() override { owner_.Closed(device_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  Result ControlIn(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                   std::uint8_t* data, std::uint32_t& moved) override {
    return owner_.Transfer(device_, generation_, SimCall::kControlIn, request, value, index, length, data, nullptr,
                           moved);
  }
  Result ControlOut(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint16_t length,
                    const std::uint8_t* data, std::uint32_t& moved) override {
    return owner_.Transfer(device_, generation_, SimCall::kControlOut, request, value, index, length, nullptr, data,
                           moved);
  }
  Result SetPipeTimeout(std::uint8_t pipe, std::uint32_t milliseconds) override {
    std::uint32_t moved = 0;
    return owner_.Transfer(device_, generation_, SimCall::kSetTimeout, pipe, 0, 0, milliseconds, nullptr, nullptr,
                           moved) == kOk
               ? kOk
               : kNoSuchDevice;
  }
  Result BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& moved) override {
    return owner_.Transfer(device_, generation_, SimCall::kBulkWrite, kBulkOutPipe, 0, 0, length, nullptr, data,
                           moved);
  }

 private:
  SimulatedUsbBackend& owner_;
  std::size_t device_;
  std::uint32_t generation_;
  std::unique_ptr<FileUpdateLock> claim_;  // folder devices: held while open
};

SimulatedUsbBackend::SimulatedUsbBackend() = default;
SimulatedUsbBackend::~SimulatedUsbBackend() = default;

std::size_t SimulatedUsbBackend::AddDevice(const SimulatedDeviceConfig& config, Utf16View path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<Device> d(new (std::nothrow) Device);
  if (!d) return SIZE_MAX;
  d->config = config;
  if (path.empty()) MakePath(d->path, config.serialNumber, 0);
  else d->path.assign(path);
  if (TryResize(d->banks, config.bankCount) != kOk) return SIZE_MAX;
  if (TryPushBack(devices_, std::move(d)) != kOk) return SIZE_MAX;
  return devices_.size() - 1;
}

Result SimulatedUsbBackend::LoadFolder(Utf8View folder) {
  SimulatedDeviceConfig config;
  SimulatedFaults faults;
  std::string base;
  if (TryCopy(base, std::string(folder.data(), folder.size())) != kOk) return kOutOfMemory;
  std::string settings;
  if (TryCopy(settings, base + "/device.txt") != kOk) return kOutOfMemory;
  std::vector<std::uint8_t> text;
  if (ReadWholeFile(settings, 65536, text) == kOk) {
    ApplySettings(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), config, faults);
  }
  const std::size_t index = AddDevice(config);
  if (index == SIZE_MAX) return kOutOfMemory;
  SetFaults(index, faults);
  std::lock_guard<std::mutex> lock(mutex_);
  Device& d = *devices_[index];
  d.folder.swap(base);
  for (std::uint32_t bank = 1; bank <= d.config.bankCount; ++bank) {
    std::string file;
    if (Result r = BankFilePath(d.folder, bank, file)) return r;
    std::vector<std::uint8_t> data;
    if (ReadWholeFile(file, kMaxReadableFile * 16, data) == kOk) d.banks[bank - 1].swap(data);
  }
  return kOk;
}

void SimulatedUsbBackend::Unplug(std::size_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (device >= devices_.size()) return;
  Device& d = *devices_[device];
  d.plugged = false;
  d.generation++;
  d.writing = false;
  d.pending.clear();
}

void SimulatedUsbBackend::Plug(std::size_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (device < devices_.size()) devices_[device]->plugged = true;
}

void SimulatedUsbBackend::SetFaults(std::size_t device, const SimulatedFaults& faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (device >= devices_.size()) return;
  devices_[device]->faults = faults;
  devices_[device]->transfers = 0;
  devices_[device]->bulkWrites = 0;
}

void SimulatedUsbBackend::FailEnumeration(Result code, std::size_t after) {
  std::lock_guard<std::mutex> lock(mutex_);
  enumerationFailure_ = code;
  enumerationFailAfter_ = after;
}

std::size_t SimulatedUsbBackend::DeviceCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.size();
}

SimulatedDeviceConfig SimulatedUsbBackend::Config(std::size_t device) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device < devices_.size() ? devices_[device]->config : SimulatedDeviceConfig{};
}

DevicePath SimulatedUsbBackend::Path(std::size_t device) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device < devices_.size() ? devices_[device]->path : DevicePath{};
}

std::vector<std::uint8_t> SimulatedUsbBackend::BankData(std::size_t device, std::uint32_t bank) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint8_t> out;
  if (device < devices_.size() && bank >= 1 && bank <= devices_[device]->banks.size()) {
    if (TryCopy(out, devices_[device]->banks[bank - 1]) != kOk) out.clear();
  }
  return out;
}

Result SimulatedUsbBackend::SetBankData(std::size_t device, std::uint32_t bank,
                                        const std::vector<std::uint8_t>& data) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (device >= devices_.size() || bank < 1 || bank > devices_[device]->banks.size()) return kInvalidArgument;
  return TryCopy(devices_[device]->banks[bank - 1], data);
}

void SimulatedUsbBackend::DirectoryEntry(std::size_t device, std::uint32_t bank,
                                         std::uint8_t (&entry)[20]) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::memset(entry, 0, sizeof entry);
  if (device < devices_.size() && bank >= 1 && bank <= devices_[device]->banks.size()) {
    EntryOf(devices_[device]->banks[bank - 1], entry);
  }
}

std::uint32_t SimulatedUsbBackend::BankWrites(std::size_t device) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device < devices_.size() ? devices_[device]->bankFileWrites : 0;
}

std::vector<SimLogEntry> SimulatedUsbBackend::Log() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<SimLogEntry> copy;
  if (TryCopy(copy, log_) != kOk) copy.clear();
  return copy;
}

void SimulatedUsbBackend::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
}

std::size_t SimulatedUsbBackend::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openHandles_;
}

Result SimulatedUsbBackend::Enumerate(std::uint32_t vendorId, std::uint32_t productId,
                                      std::vector<DevicePath>& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t reported = 0;
  for (const auto& d : devices_) {
    if (enumerationFailure_ != kOk && reported >= enumerationFailAfter_) return enumerationFailure_;
    if (!d->plugged || !DevicePathMatches(d->path.view(), vendorId, productId)) continue;
    if (Result r = TryPushBack(out, d->path)) return r;
    ++reported;
  }
  if (enumerationFailure_ != kOk && reported >= enumerationFailAfter_) return enumerationFailure_;
  return kOk;
}

Result SimulatedUsbBackend::Open(Utf16View path, std::unique_ptr<UsbDevice>& out) {
  out.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    Device& d = *devices_[i];
    if (!d.plugged || !EqualUtf16(d.path.view(), path)) continue;
    SimLogEntry e;
    e.device = i;
    e.call = SimCall::kOpen;
    e.result = d.faults.openResult;
    if (TryPushBack(log_, e) != kOk) return kOutOfMemory;
    if (d.faults.openResult != kOk) return d.faults.openResult;
    // A device kept in a folder is one device for every program using that
    // folder: like the real one, it has one owner of its interface at a time
    // and answers busy to a second.
    std::unique_ptr<FileUpdateLock> claim;
    if (!d.folder.empty()) {
      std::string settings;
      claim.reset(new (std::nothrow) FileUpdateLock);
      if (!claim || TryCopy(settings, d.folder + "/device.txt") != kOk) return kOutOfMemory;
      if (Result r = claim->Acquire(settings, 0)) return r;
    }
    out.reset(new (std::nothrow) Handle(*this, i, d.generation, std::move(claim)));
    if (!out) return kOutOfMemory;
    ++openHandles_;
    return kOk;
  }
  return kNotFound;
}

void SimulatedUsbBackend::Closed(std::size_t device) {
  std::lock_guard<std::mutex> lock(mutex_);
  SimLogEntry e;
  e.device = device;
  e.call = SimCall::kClose;
  (void)TryPushBack(log_, e);
  if (openHandles_ > 0) --openHandles_;
}

Result SimulatedUsbBackend::Transfer(std::size_t device, std::uint32_t generation, SimCall call,
                                     std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                     std::uint32_t length, std::uint8_t* in, const std::uint8_t* out,
                                     std::uint32_t& moved) {
  moved = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  Device& d = *devices_[device];
  SimLogEntry e;
  e.device = device;
  e.call = call;
  e.request = request;
  e.value = value;
  e.index = index;
  e.length = length;
  const auto finish = [&](Result r) {
    e.result = r;
    e.moved = moved;
    (void)TryPushBack(log_, e);
    return r;
  };
  if (!d.plugged || generation != d.generation) return finish(kNoSuchDevice);
  if (call == SimCall::kSetTimeout) {
    return finish(kOk);
  }
  ++d.transfers;
  if (d.faults.failTransfer != 0 && d.transfers == d.faults.failTransfer) return finish(d.faults.failCode);
  if (call != SimCall::kBulkWrite && d.faults.refuseRequest == request) return finish(d.faults.refuseCode);

  const SimulatedDeviceConfig& c = d.config;
  if (call == SimCall::kBulkWrite) {
    ++d.bulkWrites;
    if (!d.writing || !out) return finish(kBrokenPipe);
    std::uint32_t n = length;
    if (d.faults.shortBulk != 0 && d.bulkWrites == d.faults.shortBulk) n = std::min(n, d.faults.shortBulkBytes);
    const std::size_t old = d.pending.size();
    if (old + n > c.memorySize) return finish(kBrokenPipe);
    if (Result r = TryResize(d.pending, old + n)) return finish(r);
    if (n > 0) std::memcpy(d.pending.data() + old, out, n);
    moved = n;
    const Result r = finish(kOk);
    if (d.faults.unplugAfterBulk != 0 && d.bulkWrites == d.faults.unplugAfterBulk) {
      d.plugged = false;
      d.generation++;
      d.writing = false;
      d.pending.clear();
    }
    return r;
  }
  if (call == SimCall::kControlIn) {
    if (request == kRequestIdentify) {
      std::uint8_t reply[64] = {};
      reply[0] = c.mode;
      reply[1] = c.modelCode;
      PutU16(reply + 2, c.word2);
      PutU16(reply + 4, c.word4);
      reply[6] = c.bankCount;
      reply[7] = c.byte7;
      PutU32(reply + 8, c.memorySize);
      PutU32(reply + 12, c.serialNumber);
      std::memcpy(reply + 16, c.uniqueId, sizeof c.uniqueId);
      PutU16(reply + 28, c.capabilities);
      const std::uint32_t n =
          std::min<std::uint32_t>({c.identifyLength, static_cast<std::uint32_t>(sizeof reply), length});
      if (in) std::memcpy(in, reply, n);
      moved = in ? n : 0;
      return finish(kOk);
    }
    if (request == kRequestReadDirectory) {
      if (!(c.capabilities & 0x04)) return finish(kBrokenPipe);
      std::uint32_t first = 1, count = c.bankCount;
      if (value != 0) {
        if (value > c.bankCount) return finish(kBrokenPipe);
        first = value;
        count = 1;
      }
      std::vector<std::uint8_t> reply;
      if (TryResize(reply, static_cast<std::size_t>(count) * kEntrySize) != kOk) return finish(kOutOfMemory);
      for (std::uint32_t i = 0; i < count; ++i) EntryOf(d.banks[first - 1 + i], reply.data() + i * kEntrySize);
      std::size_t n = reply.size();
      if (d.faults.directoryReplyLength >= 0) {
        n = static_cast<std::size_t>(d.faults.directoryReplyLength);
        if (TryResize(reply, std::max(n, reply.size())) != kOk) return finish(kOutOfMemory);
      }
      n = std::min<std::size_t>(n, length);
      if (in && n > 0) std::memcpy(in, reply.data(), n);
      moved = in ? static_cast<std::uint32_t>(n) : 0;
      return finish(kOk);
    }
    return finish(kBrokenPipe);
  }
  // Control out.
  switch (request) {
    case kRequestBeginWrite:
      if (value < 1 || value > c.bankCount || index > 1) return finish(kBrokenPipe);
      if (index == 1 && !(c.capabilities & 0x02)) return finish(kBrokenPipe);
      d.writing = true;
      d.writeBank = value;
      d.pending.clear();
      (void)TryReserve(d.pending, c.memorySize);
      return finish(kOk);
    case kRequestEndWrite: {
      if (!d.writing) return finish(kOk);
      d.writing = false;
      d.banks[d.writeBank - 1].swap(d.pending);
      d.pending.clear();
      if (d.folder.empty()) return finish(kOk);
      std::string file;
      if (Result r = BankFilePath(d.folder, d.writeBank, file)) return finish(r);
      ++d.bankFileWrites;
      return finish(WriteWholeFile(file, d.banks[d.writeBank - 1]));
    }
    case kRequestMode:
      if (value != 1) return finish(kBrokenPipe);
      if (d.config.mode == 2) {
        // The device switches mode and comes back on the bus as a new device.
        d.config.mode = 1;
        d.config.word4 = 0;
        d.generation++;
        d.reattached++;
        MakePath(d.path, d.config.serialNumber, d.reattached);
      }
      return finish(kOk);
    case kRequestClearBank: {
      if (!(c.capabilities & 0x04) || value < 1 || value > c.bankCount) return finish(kBrokenPipe);
      d.banks[value - 1].clear();
      if (d.folder.empty()) return finish(kOk);
      std::string file;
      if (Result r = BankFilePath(d.folder, value, file)) return finish(r);
      ++d.bankFileWrites;
      return finish(WriteWholeFile(file, {}));
    }
    default:
      return finish(kBrokenPipe);
  }
}

}  // namespace tavrin
