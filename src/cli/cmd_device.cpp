// Device commands: list the card-emulator devices, send a card-file to a
// bank, list the banks and clear them. TAVRIN_SIMULATED_DEVICE=<folder> puts
// a simulated device in place of USB.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define TAVRIN_ISATTY _isatty
#define TAVRIN_FILENO _fileno
#else
#include <unistd.h>
#define TAVRIN_ISATTY isatty
#define TAVRIN_FILENO fileno
#endif

#include "base/alloc.h"
#include "card/card_file.h"
#include "cli/cli.h"
#include "device/device_manager.h"
#include "device/device_workers.h"
#include "device/usb_backend.h"

namespace tavrin::cli {
namespace {

struct DeviceArgs {
  unsigned long long device = 1;  // 1-based, as `tavrin devices` numbers them
  std::string_view bank;          // the text after --bank; empty = not given
  std::vector<std::string_view> positional;
};

// Parses --device N, --bank B (when allowed) and positional arguments.
bool ParseDeviceArgs(const Args& args, bool allowBank, DeviceArgs& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (allowBank && args[i] == "--bank") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return false;
      out.bank = args[++i];
    } else if (args[i] == "--device") {
      unsigned long long v = 0;
      if (i + 1 >= args.size() || !ParseUnsigned(args[i + 1], v) || v == 0) return false;
      out.device = v;
      ++i;
    } else if (args[i].size() > 1 && args[i][0] == '-' && args[i][1] == '-') {
      return false;
    } else if (TryPushBack(out.positional, args[i]) != kOk) {
      return false;
    }
  }
  return true;
}

const char* DeviceErrorText(Result code) {
  switch (code) {
    case kNotSupported: return "the device is busy or lacks the needed capability";
    case kInvalidHandle: return "no device selected";
    case kNoDeviceInterface: return "the device's USB interface could not be obtained";
    case kBadIdentify: return "the device gave an unexpected identification";
    case kEndOfData: return "the device accepted fewer bytes than sent";
    case kTimeout: return "the device did not answer in time";
    case kNoSuchDevice: return "the device is gone";
    case kBrokenPipe: return "the device refused the request";
    case kAccessDenied: return "access to the device denied";
    default: return FileErrorText(code);
  }
}

// Finds the devices and selects the one numbered `number` (1-based).
int OpenManager(std::string_view command, DeviceManager& manager, unsigned long long number) {
  const Result r = manager.Refresh(nullptr);
  if (r != kOk) {
    std::string text = "USB enumeration failed: ";
    text += DeviceErrorText(r);
    return Fail(command, text);
  }
  if (manager.devices.empty()) return Fail(command, "no device found");
  if (number > manager.devices.size()) {
    return Fail(command, "no device " + std::to_string(number) + " (found " +
                             std::to_string(manager.devices.size()) + ")");
  }
  (void)manager.SelectDevice(static_cast<std::int32_t>(number - 1), false);
  return 0;
}

// Terminal display of a worker: a progress bar on stderr when it is a
// terminal, status texts as lines.
class TerminalDisplay final : public DeviceDisplay {
 public:
  explicit TerminalDisplay(std::string_view command)
      : command_(command), tty_(TAVRIN_ISATTY(TAVRIN_FILENO(stderr)) != 0) {}

  void SetStatusText(Utf8View text) override { status_.assign(text.data(), text.size()); Draw(); }
  void SetMarquee(bool on) override { marquee_ = on; Draw(); }
  void SetProgressRange(std::uint32_t maximum) override { maximum_ = maximum; }
  void SetProgressPosition(std::uint32_t position) override { position_ = position; Draw(); }
  void UpdateDeviceControls() override {}
  // A message box's text on one line: its title, then its lines.
  void ShowError(Utf8View message) override {
    EndLine();
    std::string line;
    for (std::size_t i = 0; i < message.size(); ++i) {
      if (message[i] != '\n') {
        line += message[i];
      } else if (i + 1 < message.size() && message[i + 1] == '\n') {
        line += ": ";
        ++i;
      } else {
        line += ", ";
      }
    }
    (void)Fail(command_, line);
  }
  void ClearingFinished(bool) override {}

  // Wipes the progress line; the outcome is printed after it.
  void EndLine() {
    if (drawn_) std::fprintf(stderr, "\r%*s\r", 73, "");
    drawn_ = false;
  }
  const std::string& Status() const { return status_; }

 private:
  void Draw() {
    if (!tty_) return;
    constexpr int kWidth = 30;
    int filled = 0;
    if (maximum_ > 0) filled = static_cast<int>(static_cast<std::uint64_t>(position_) * kWidth / maximum_);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = marquee_ ? '~' : (i < filled ? '#' : '.');
    bar[kWidth] = 0;
    std::fprintf(stderr, "\r[%s] %-40s", bar, status_.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  std::string_view command_;
  bool tty_;
  bool drawn_ = false;
  bool marquee_ = false;
  std::uint32_t maximum_ = 0;
  std::uint32_t position_ = 0;
  std::string status_;
};

}  // namespace

int CmdDevices(const Args& args) {
  if (!args.empty()) return Usage("devices");
  DeviceManager manager(DefaultUsbBackend());
  const Result r = manager.Refresh(nullptr);
  if (r != kOk) return Fail("devices", std::string("USB enumeration failed: ") + DeviceErrorText(r));
  if (manager.devices.empty()) {
    std::printf("no devices found\n");
    return 0;
  }
  for (std::size_t i = 0; i < manager.devices.size(); ++i) {
    const DeviceInfo& d = manager.devices[i];
    std::printf("%zu: %s  banks %u  memory %u bytes  capabilities 0x%02X\n", i + 1,
                std::string(DeviceDisplayName(d).view()).c_str(), d.bankCount, d.memorySize,
                static_cast<unsigned>(d.capabilities));
  }
  return 0;
}

int DeviceMemory(std::string_view command, unsigned long long number, std::uint64_t& capacity, bool& wide) {
  DeviceManager manager(DefaultUsbBackend());
  if (int rc = OpenManager(command, manager, number)) return rc;
  capacity = manager.current.memorySize;
  wide = LayoutForDevice(manager.current) == CardLayout::WideCard;
  return 0;
}

int CmdSend(const Args& args) {
  static constexpr char kUsage[] = "send CARD.qz [--device N] [--bank B]";
  DeviceArgs a;
  if (!ParseDeviceArgs(args, true, a) || a.positional.size() != 1) return Usage(kUsage);
  static CardDocument doc;  // large; one per run
  if (Result r = LoadCardFile(a.positional[0], doc)) {
    return Fail(a.positional[0], std::string("Can't load the card-file: ") + std::string(LoadFailureReason(r)));
  }
  DeviceManager manager(DefaultUsbBackend());
  if (int rc = OpenManager("send", manager, a.device)) return rc;
  if (!a.bank.empty()) {
    // The card goes to the bank asked for or nowhere.
    std::uint16_t bank = 0;
    Utf8Text<128> message;
    if (!ParseSendBank(a.bank, manager.current.bankCount, bank, message)) {
      Fail("send", message.view());
      return 2;
    }
    manager.currentBank.store(bank);
  }
  doc.ComputeStatistics(LayoutForDevice(manager.current) == CardLayout::WideCard);
  TerminalDisplay display("send");
  CardImage image;
  // Every refusal has been shown through the display.
  if (PrepareSendImage(doc, manager, image, display) != kOk) return 1;
  const Result r = RunSendTransfer(manager, image, display);
  display.EndLine();
  if (r != kOk) {
    // "Transfer Failed (why)", and what the bank now holds when it was written to.
    std::string text = std::string(kTransferFailedText) + " (" + DeviceErrorText(r) + ")";
    if (display.Status() != kTransferFailedText) text += ": " + display.Status();
    return Fail("send", text);
  }
  std::printf("%s\n", display.Status().c_str());
  return 0;
}

int CmdBanks(const Args& args) {
  DeviceArgs a;
  if (!ParseDeviceArgs(args, false, a) || !a.positional.empty()) return Usage("banks [--device N]");
  DeviceManager manager(DefaultUsbBackend());
  if (int rc = OpenManager("banks", manager, a.device)) return rc;
  if (!(manager.current.capabilities & kCapabilityBankDirectory)) {
    return Fail("banks", "the device keeps no bank directory");
  }
  // Read the directory again to report a failure (selection clears it silently).
  std::vector<std::uint8_t> buffer;
  if (TryResize(buffer, kMaxDirectoryEntries * kDirectoryEntrySize) != kOk) return Fail("banks", "out of memory");
  if (Result r = manager.ReadBankDirectory(buffer.data(), buffer.size(), kMaxDirectoryEntries, manager.current)) {
    return Fail("banks", std::string("the bank directory could not be read: ") + DeviceErrorText(r));
  }
  for (std::uint32_t bank = 1; bank <= std::min(manager.current.bankCount, kMaxDirectoryEntries); ++bank) {
    manager.SetDirectoryEntry(bank, buffer.data() + (bank - 1) * kDirectoryEntrySize);
  }
  std::printf("Bank-Nr.  Name\n");
  for (std::uint32_t bank = 1; bank <= std::min(manager.current.bankCount, kMaxDirectoryEntries); ++bank) {
    const std::string name = manager.BankHoldsCard(bank) ? std::string(manager.BankName(bank).view()) : "(empty)";
    std::printf("%8u  %s\n", bank, name.c_str());
  }
  return 0;
}

int CmdClear(const Args& args) {
  static constexpr char kUsage[] = "clear B... [--device N]";
  DeviceArgs a;
  if (!ParseDeviceArgs(args, false, a) || a.positional.empty()) return Usage(kUsage);
  std::vector<std::uint32_t> rows;
  for (std::string_view p : a.positional) {
    unsigned long long bank = 0;
    if (!ParseUnsigned(p, bank) || bank == 0 || bank > 256) return Usage(kUsage);
    if (TryPushBack(rows, static_cast<std::uint32_t>(bank - 1)) != kOk) return Fail("clear", "out of memory");
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  DeviceManager manager(DefaultUsbBackend());
  if (int rc = OpenManager("clear", manager, a.device)) return rc;
  if (rows.back() + 1 > manager.current.bankCount) {
    return Fail("clear", "no bank " + std::to_string(rows.back() + 1) + " (the device has " +
                             std::to_string(manager.current.bankCount) + ")");
  }
  TerminalDisplay display("clear");
  const Result r = ClearBanks(manager, rows, display);
  display.EndLine();
  if (r != kOk) return Fail("clear", display.Status() + " (" + DeviceErrorText(r) + ")");
  std::printf("%s\n", display.Status().c_str());
  return 0;
}

}  // namespace tavrin::cli
