// The send-to-card and bank-clearing workers (see device_workers.h).
#include "device/device_workers.h"

#include <algorithm>
#include <cmath>

namespace tavrin {
namespace {

void AppendTwoDigits(Utf8Text<32>& text, std::uint32_t v) {
  const char digits[2] = {static_cast<char>('0' + (v / 10) % 10), static_cast<char>('0' + v % 10)};
  text.append(Utf8View(digits, 2));
}

}  // namespace

Utf8Text<32> SizeText(std::uint32_t bytes) {
  Utf8Text<32> text;
  if (bytes < 1024) {
    text.appendDecimal(bytes);
    text.append("Byte");
    return text;
  }
  const std::uint64_t unit = bytes < 1048576 ? 1024 : 1048576;
  const std::uint64_t whole = bytes / unit;
  const std::uint64_t rest = bytes % unit;
  text.appendDecimal(static_cast<std::uint32_t>(whole));
  if (rest != 0) {
    text.append(",");
    AppendTwoDigits(text, static_cast<std::uint32_t>(rest * 100 / unit));
  }
  text.append(unit == 1024 ? "KiB" : "MiB");
  return text;
}

Utf8Text<64> TransferSuccessText(double seconds, std::uint32_t bank) {
  if (!(seconds >= 0.0)) seconds = 0.0;
  if (seconds > 4.0e9) seconds = 4.0e9;
  // Hundredths counted once, then split, so 2.5 gives 2,50 and 2.0625 2,06.
  const std::uint64_t hundredths = static_cast<std::uint64_t>(std::floor(seconds * 100.0 + 1e-9));
  Utf8Text<64> text;
  text.append("Transfer Successful: Bank ");
  text.appendDecimal(bank);
  text.append(" (Time: ");
  text.appendDecimal(static_cast<std::uint32_t>(hundredths / 100));
  text.append(",");
  const char digits[2] = {static_cast<char>('0' + (hundredths / 10) % 10), static_cast<char>('0' + hundredths % 10)};
  text.append(Utf8View(digits, 2));
  text.append("s)");
  return text;
}

Utf8Text<128> TooMuchDataMessage(std::uint64_t requiredSize, std::uint32_t capacity) {
  Utf8Text<128> text;
  text.append("Too much data for the card\n\nCurrent Size: ");
  // Plain decimal of a 64-bit size.
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + requiredSize % 10);
    requiredSize /= 10;
  } while (requiredSize != 0);
  char ordered[24];
  for (std::size_t i = 0; i < n; ++i) ordered[i] = digits[n - 1 - i];
  text.append(Utf8View(ordered, n));
  text.append(" Byte\nMaximum Size: ");
  text.appendDecimal(capacity);
  text.append(" Byte");
  return text;
}

bool ParseSendBank(Utf8View text, std::uint32_t bankCount, std::uint16_t& bank, Utf8Text<128>& message) {
  message.clear();
  std::uint32_t value = 0;
  bool number = !text.empty() && text.size() <= 5;
  for (char c : text) {
    if (c < '0' || c > '9') number = false;
    else value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (number && value >= 1 && value <= bankCount && value <= 0xFFFF) {
    bank = static_cast<std::uint16_t>(value);
    return true;
  }
  message.append("There is no bank ");
  message.append(text.substr(0, 8));
  if (bankCount <= 1) {
    message.append(" on this device: it has bank 1 only");
  } else {
    message.append(" on this device: choose a bank from 1 to ");
    message.appendDecimal(bankCount);
  }
  return false;
}

CardLayout LayoutForDevice(const DeviceInfo& current) {
  return current.modelCode == 5 ? CardLayout::WideCard : CardLayout::Card;
}

Result PrepareSendImage(CardDocument& doc, const DeviceManager& manager, CardImage& image, DeviceDisplay& display) {
  image.clear();
  if (doc.statistics.dwgsMultisoundCount > 0 && doc.statistics.pcmMultisoundCount == 0) {
    display.ShowError(kOnlyDwgsMessage);
    return kNotSupported;
  }
  doc.cardCapacity = manager.current.memorySize;
  std::uint64_t required = 0;
  BuildRefusal refusal;
  const Result r = BuildCardImage(doc, LayoutForDevice(manager.current), image, &required, &refusal);
  if (r == kTooMuchData && required > doc.cardCapacity) {
    display.ShowError(TooMuchDataMessage(required, doc.cardCapacity).view());
  } else if (r != kOk) {
    Utf8Text<224> text;
    text.append("The card cannot be sent\n\n");
    if (!refusal.empty()) text.append(refusal.view());
    else if (r == kOutOfMemory) text.append("There is not enough memory for the card image.");
    else text.append("A count or address of the card does not fit the card's format.");
    display.ShowError(text.view());
  }
  if (r != kOk) image.clear();
  return r;
}

Utf8Text<64> IncompleteCardText(std::uint32_t bank) {
  Utf8Text<64> text;
  text.append("Bank ");
  text.appendDecimal(bank);
  text.append(" now holds an incomplete card: send it again");
  return text;
}

Result RunSendTransfer(DeviceManager& manager, std::span<const std::uint8_t> image, DeviceDisplay& display,
                       double* seconds, double timeSlice) {
  TransferJob job;
  job.data = image.data();
  job.length = static_cast<std::uint32_t>(std::min<std::size_t>(image.size(), UINT32_MAX));
  job.timeSlice = timeSlice;
  job.beginWriteOption = 0;
  // The bank the job writes: the controls that change it are off meanwhile.
  const std::uint32_t bank = manager.currentBank.load();
  bool marquee = false;
  while (StepTransfer(manager, job)) {
    switch (job.state) {
      case TransferJob::kStarted:
        display.SetMarquee(true);
        marquee = true;
        display.SetStatusText("");
        display.UpdateDeviceControls();
        break;
      case TransferJob::kSending: {
        Utf8Text<96> text;
        text.append("Transferred ");
        text.append(SizeText(job.sent).view());
        text.append(" / ");
        text.append(SizeText(job.length).view());
        display.SetStatusText(text.view());
        if (marquee) {
          display.SetMarquee(false);
          marquee = false;
          display.SetProgressRange(job.length);
        }
        display.SetProgressPosition(job.sent);
        break;
      }
      case TransferJob::kDone:
        if (job.result == kOk) display.SetStatusText(TransferSuccessText(job.stopwatch.Seconds(), bank).view());
        else if (job.beganWrite) display.SetStatusText(IncompleteCardText(bank).view());
        else display.SetStatusText(kTransferFailedText);
        if (marquee) {
          display.SetMarquee(false);
          marquee = false;
        }
        display.SetProgressPosition(0);
        display.UpdateDeviceControls();
        break;
      default:
        break;
    }
  }
  CloseTransfer(job);
  if (seconds) *seconds = job.stopwatch.Seconds();
  return job.result;
}

Result SendCardToDevice(CardDocument& doc, DeviceManager& manager, DeviceDisplay& display, double* seconds) {
  CardImage image;
  if (Result r = PrepareSendImage(doc, manager, image, display)) return r;
  return RunSendTransfer(manager, image, display, seconds);
}

Result ClearBanks(DeviceManager& manager, std::span<const std::uint32_t> selectedRows, DeviceDisplay& display) {
  const auto finishDisplay = [&](bool success) {
    display.ClearingFinished(success);
    display.SetStatusText(success ? "Clearing successful" : "Clearing failed");
  };
  const std::uint32_t bankCount = manager.CurrentBankCount();
  const auto bankOfRow = [&](std::size_t i) -> std::uint16_t {
    if (i >= selectedRows.size()) return 0;
    const std::uint64_t bank = static_cast<std::uint64_t>(selectedRows[i]) + 1;
    return bank <= bankCount && bank <= 0xFFFF ? static_cast<std::uint16_t>(bank) : 0;
  };
  BankClearJob job;
  job.bank = bankOfRow(0);
  if (job.bank == 0) {
    finishDisplay(false);
    return kInvalidArgument;
  }
  std::size_t row = 0;
  while (StepBankClear(manager, job)) {
    switch (job.state) {
      case BankClearJob::kOpened: {
        display.UpdateDeviceControls();
        Utf8Text<32> text;
        text.append("Clearing Bank ");
        text.appendDecimal(job.bank);
        display.SetStatusText(text.view());
        break;
      }
      case BankClearJob::kCleared: {
        Utf8Text<32> text;
        text.append("Clearing Bank ");
        text.appendDecimal(job.bank);
        display.SetStatusText(text.view());
        job.bank = bankOfRow(++row);
        break;
      }
      case BankClearJob::kDone:
        display.UpdateDeviceControls();
        finishDisplay(job.result == kOk);
        break;
      default:
        break;
    }
  }
  CloseBankClear(job);
  return job.result;
}

}  // namespace tavrin
