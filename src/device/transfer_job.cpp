// The transfer and bank-clearing step machines (see transfer_job.h).
#include "device/transfer_job.h"

#include <algorithm>

namespace tavrin {
namespace {

constexpr std::uint32_t kWriteControlTimeoutMs = 1000;
constexpr std::uint32_t kBulkTimeoutMs = 5000;
constexpr std::uint32_t kClearControlTimeoutMs = 2000;

Result SendEndWrite(UsbDevice* usb) {
  if (!usb) return kNoDeviceInterface;
  std::uint32_t moved = 0;
  return usb->ControlOut(kRequestEndWrite, 0, 0, 0, nullptr, moved);
}

// Takes busy after the selection check; the order gives 11 before 9.
// Returns kOk with busy held, or the refusal.
Result StartJob(DeviceManager& manager, bool& holdsBusy) {
  if (manager.selectedIndex.load() < 0) return kInvalidHandle;
  if (!manager.TryAcquireBusy()) return kNotSupported;
  holdsBusy = true;
  // The list cannot change while busy is held; check the index against it.
  if (!manager.HasSelection()) {
    manager.ReleaseBusy();
    holdsBusy = false;
    return kInvalidHandle;
  }
  return kOk;
}

const DeviceInfo& SelectedDevice(const DeviceManager& manager) {
  return manager.devices[static_cast<std::size_t>(manager.selectedIndex.load())];
}

bool FinishTransfer(DeviceManager& manager, TransferJob& job) {
  const Result end = SendEndWrite(job.usb.get());
  if (job.result == kOk) job.result = end;
  if ((job.result == kOk || job.beganWrite) && (manager.current.capabilities & kCapabilityBankDirectory)) {
    const std::uint32_t bank = manager.currentBank.load();
    std::uint8_t entry[kDirectoryEntrySize];
    manager.DirectoryEntry(bank, entry);  // bytes the reply does not carry stay as they were
    Result read = kNoDeviceInterface;
    if (job.usb) {
      (void)job.usb->SetPipeTimeout(kControlPipe, kWriteControlTimeoutMs);
      std::uint32_t moved = 0;
      read = job.usb->ControlIn(kRequestReadDirectory, static_cast<std::uint16_t>(bank), 0, kDirectoryEntrySize,
                                entry, moved);
      if (read == kOk) manager.SetDirectoryEntry(bank, entry);
    }
    if (job.result == kOk) job.result = read;
  }
  job.usb.reset();
  job.stopwatch.Stop();
  if (job.holdsBusy) {
    job.holdsBusy = false;
    manager.ReleaseBusy();
  }
  job.state = TransferJob::kDone;
  return true;
}

bool StartTransfer(DeviceManager& manager, TransferJob& job) {
  if (Result r = StartJob(manager, job.holdsBusy)) {
    job.result = r;
    return FinishTransfer(manager, job);
  }
  job.stopwatch.Clear();
  job.stopwatch.Start();
  job.usb.reset();
  if (Result r = manager.backend.Open(SelectedDevice(manager).path.view(), job.usb)) {
    job.result = r;
    return FinishTransfer(manager, job);
  }
  std::uint32_t moved = 0;
  (void)job.usb->ControlOut(kRequestEndWrite, 0, 0, 0, nullptr, moved);
  (void)job.usb->ControlOut(kRequestEndWrite, 0, 0, 0, nullptr, moved);
  (void)job.usb->SetPipeTimeout(kControlPipe, kWriteControlTimeoutMs);
  (void)job.usb->SetPipeTimeout(kBulkOutPipe, kBulkTimeoutMs);
  const bool option = job.beginWriteOption != 0 && (manager.current.capabilities & kCapabilityBeginWriteOption);
  if (Result r = job.usb->ControlOut(kRequestBeginWrite, manager.currentBank.load(), option ? 1 : 0, 0, nullptr,
                                     moved)) {
    job.result = r;
    return FinishTransfer(manager, job);
  }
  job.beganWrite = true;
  job.state = TransferJob::kStarted;
  return true;
}

bool SendPieces(DeviceManager& manager, TransferJob& job) {
  std::uint32_t piece = std::min(job.length - std::min(job.sent, job.length), kTransferPiece);
  if (piece == 0 || job.result != kOk) return FinishTransfer(manager, job);
  if (!job.usb || !job.data) {
    job.result = job.usb ? kMissingBuffer : kNoDeviceInterface;
    return FinishTransfer(manager, job);
  }
  const double t0 = job.stopwatch.Seconds();
  for (;;) {
    if (job.result != kOk) return true;
    std::uint32_t moved = 0;
    const Result r = job.usb->BulkWrite(job.data + job.sent, piece, moved);
    job.result = r != kOk ? r : (moved < piece ? kEndOfData : kOk);
    job.sent += piece;
    piece = std::min(job.length - job.sent, kTransferPiece);
    if (job.stopwatch.Seconds() - t0 >= job.timeSlice) return true;
    if (piece == 0) return true;
  }
}

bool FinishClear(DeviceManager& manager, BankClearJob& job) {
  job.usb.reset();
  if (job.holdsBusy) {
    job.holdsBusy = false;
    manager.ReleaseBusy();
  }
  job.state = BankClearJob::kDone;
  return true;
}

}  // namespace

bool StepTransfer(DeviceManager& manager, TransferJob& job) {
  switch (job.state) {
    case TransferJob::kStart:
      return StartTransfer(manager, job);
    case TransferJob::kStarted:
      job.state = TransferJob::kSending;
      return true;
    case TransferJob::kSending:
      return SendPieces(manager, job);
    default:
      return false;
  }
}

bool StepBankClear(DeviceManager& manager, BankClearJob& job) {
  switch (job.state) {
    case BankClearJob::kStart: {
      if (Result r = StartJob(manager, job.holdsBusy)) {
        job.result = r;
        return FinishClear(manager, job);
      }
      if (!(manager.current.capabilities & kCapabilityBankDirectory)) {
        job.result = kNotSupported;
        return FinishClear(manager, job);
      }
      job.usb.reset();
      job.result = manager.backend.Open(SelectedDevice(manager).path.view(), job.usb);
      if (job.result == kOk) (void)SendEndWrite(job.usb.get());
      job.state = BankClearJob::kOpened;
      return true;
    }
    case BankClearJob::kOpened:
    case BankClearJob::kCleared: {
      if (job.bank == 0 || job.result != kOk) return FinishClear(manager, job);
      if (!job.usb) {
        job.result = kNoDeviceInterface;
        return FinishClear(manager, job);
      }
      (void)job.usb->SetPipeTimeout(kControlPipe, kClearControlTimeoutMs);
      std::uint32_t moved = 0;
      if (Result r = job.usb->ControlOut(kRequestClearBank, job.bank, 0, 0, nullptr, moved)) {
        job.result = r;
        return FinishClear(manager, job);
      }
      job.result = kOk;
      manager.SetDirectoryEntry(job.bank, nullptr);
      job.state = BankClearJob::kCleared;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace tavrin
