// The two device jobs, written as step machines that a worker thread advances
// one step at a time, reading state, counts and result between steps:
// TransferJob writes one card image into the current bank of the selected
// device; BankClearJob clears banks one by one.
#pragma once

#include <cstdint>
#include <memory>

#include "base/result.h"
#include "device/device_manager.h"
#include "device/stopwatch.h"
#include "device/usb_backend.h"

namespace tavrin {

inline constexpr std::uint32_t kTransferPiece = 1024;

struct TransferJob {
  enum State : std::uint32_t { kStart = 0, kStarted = 1, kSending = 2, kDone = 3 };

  const std::uint8_t* data = nullptr;  // the image, owned by the caller
  std::uint32_t length = 0;            // bytes to send
  std::uint32_t sent = 0;              // bytes handed to the bulk pipe so far
  double timeSlice = 0.2;              // seconds a sending step may run
  std::uint8_t beginWriteOption = 0;   // begin write with wIndex 1 when the device can
  std::uint32_t state = kStart;
  Result result = kOk;
  Stopwatch stopwatch;
  std::unique_ptr<UsbDevice> usb;      // the open device, empty when not open
  bool holdsBusy = false;              // this job set the manager's busy flag
  bool beganWrite = false;             // begin write was accepted: the bank may hold part of the image
};

// Advances the job one step. True: it advanced and the owner may look at it
// and call again. False: the job was already done.
//
// Start: no device selected 11, another job running 9 (busy untouched);
// else busy is taken, the stopwatch started, the device opened (mapped error
// or 16), end write sent twice (results ignored), time-outs set (control
// 1000 ms, bulk 5000 ms) and begin write sent with the current bank.
// Sending: 1024-byte pieces until the time slice is used up; a failed write
// keeps its mapped error, a short one gives 6; nothing more is written after
// a failure. Finish: end write (its result counts only when all was well),
// re-read of the bank's directory entry when the device keeps a directory
// (also after a failure once begin write was accepted: the device keeps what
// arrived; the first failure's code stays), device closed, stopwatch
// stopped, busy released.
bool StepTransfer(DeviceManager& manager, TransferJob& job);

// Closes the device if the job still holds it.
inline void CloseTransfer(TransferJob& job) { job.usb.reset(); }

struct BankClearJob {
  enum State : std::uint32_t { kStart = 0, kOpened = 1, kCleared = 2, kDone = 3 };

  std::uint16_t bank = 0;  // 1-based bank to clear next; 0 = no more
  std::uint32_t state = kStart;
  Result result = kOk;
  std::unique_ptr<UsbDevice> usb;
  bool holdsBusy = false;
};

// Advances the clearing one step (see StepTransfer for the return value).
// Start: no device 11, busy 9, no bank directory on the device 9; else busy
// taken, device opened (mapped error or 16) and end write sent. Each later
// step clears `bank` (control time-out 2000 ms) and zeroes its directory
// entry in the manager; the owner then sets the next bank or 0. Finish
// closes the device and releases busy.
bool StepBankClear(DeviceManager& manager, BankClearJob& job);

inline void CloseBankClear(BankClearJob& job) { job.usb.reset(); }

}  // namespace tavrin
