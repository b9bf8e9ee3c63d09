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

Utf8Text<64> TransferSuccessText(double seconds) {
  if (!(seconds >= 0.0)) seconds = 0.0;
  if (seconds > 4.0e9) seconds = 4.0e9;
  // Hundredths counted once, then split, so 2.5 gives 2,50 and 2.0625 2,06.
  const std::uint64_t hundredths = static_cast<std::uint64_t>(std::floor(seconds * 100.0 + 1e-9));
  Utf8Text<64> text;
  text.append("Transfer Successful (Time: ");
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
  const Result r = BuildCardImage(doc, LayoutForDevice(manager.current), image, &required);
  if (r == kTooMuchData && required > doc.cardCapacity) {
    display.ShowError(TooMuchDataMessage(required, doc.cardCapacity).view());
  }
  if (r != kOk) image.clear();
  return r;
}

Result RunSendTransfer(DeviceManager& manager, std::span<const std::uint8_t> image, DeviceDisplay& display,
                       double* seconds, double timeSlice) {
  TransferJob job;
  job.data = image.data();
  job.length = static_cast<std::uint32_t>(std::min<std::size_t>(image.size(), UINT32_MAX));
  job.timeSlice = timeSlice;
  job.beginWriteOption = 0;
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
        if (job.result == kOk) display.SetStatusText(TransferSuccessText(job.stopwatch.Seconds()).view());
        else display.SetStatusText("Transfer Failed");
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
