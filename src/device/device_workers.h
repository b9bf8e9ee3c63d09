// The send-to-card worker and the bank-clearing worker, portable: they report
// only through DeviceDisplay, so the Windows window code (or the command-line
// tool) just wires these calls to its controls.
//
// Threads: PrepareSendImage reads and reorders the document, so it runs where
// the document lives (the user-interface thread); RunSendTransfer and
// ClearBanks run on a worker thread and call the display from there. The
// DeviceManager's `busy` flag keeps two device jobs from ever running at once.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"
#include "card/card_image.h"
#include "device/device_manager.h"
#include "device/transfer_job.h"

namespace tavrin {

// What the workers show. Every text is UTF-8. The calls come from the
// worker's thread. UpdateDeviceControls also comes after the job has released
// `busy` (at its end), when the user-interface thread may refresh the device
// list again: an implementation that reads the DeviceManager there should do
// so on the user-interface thread (a message sent to the window does that).
class DeviceDisplay {
 public:
  virtual ~DeviceDisplay() = default;
  // The one-line status text (main window for a send, the bank manager for a
  // clearing).
  virtual void SetStatusText(Utf8View text) = 0;
  // Indeterminate (marquee) style of the progress bar on or off.
  virtual void SetMarquee(bool on) = 0;
  // Progress bar range 0..maximum, and its position.
  virtual void SetProgressRange(std::uint32_t maximum) = 0;
  virtual void SetProgressPosition(std::uint32_t position) = 0;
  // Re-read the DeviceManager and enable/disable the device controls (busy,
  // selection, bank count, directory capability) and set cardCapacity.
  virtual void UpdateDeviceControls() = 0;
  // A message box with the error icon and the application title as caption.
  virtual void ShowError(Utf8View message) = 0;
  // The bank manager's end of a clearing: leave the clearing state, deselect
  // every row, update the buttons and caption, redraw the list. The status
  // text is set by the worker right after this call.
  virtual void ClearingFinished(bool success) = 0;
};

// Size text of a byte count: "512Byte", "1,50KiB", "8MiB".
Utf8Text<32> SizeText(std::uint32_t bytes);

// "Transfer Successful: Bank 3 (Time: 2,50s)" for 2.5 seconds into bank 3
// (hundredths truncated).
Utf8Text<64> TransferSuccessText(double seconds, std::uint32_t bank);

// The status of a send that failed after begin write: the device keeps what
// arrived. "Bank 3 now holds an incomplete card: send it again".
Utf8Text<64> IncompleteCardText(std::uint32_t bank);
inline constexpr char kTransferFailedText[] = "Transfer Failed";

// The bank a send goes to, from the text of the Bank field (or --bank): a
// whole number from 1 to the device's bank count. Otherwise false, and
// `message` says which banks there are; the send must not start.
bool ParseSendBank(Utf8View text, std::uint32_t bankCount, std::uint16_t& bank, Utf8Text<128>& message);

// The refusal texts of sending.
inline constexpr char kOnlyDwgsMessage[] =
    "Only DWGS Multisounds\n\nTo use DWGS Multisound(s) you also need to have at least one PCM Multisound. "
    "Check the manual for more information.";
Utf8Text<128> TooMuchDataMessage(std::uint64_t requiredSize, std::uint32_t capacity);

// The layout the selected device takes: WideCard for model 5, else Card.
CardLayout LayoutForDevice(const DeviceInfo& current);

// Send, steps 1 and 2: refuses a card whose only non-empty multisounds are
// DWGS ones (from doc.statistics as last computed; shows kOnlyDwgsMessage,
// returns 9), sets doc.cardCapacity to the selected device's memory size and
// builds the image in its layout, `cardCapacity` bytes long (too much data:
// shows TooMuchDataMessage, returns 5, image empty). Every other refusal is
// shown too: the builder's reason naming the sound, or the lack of memory.
Result PrepareSendImage(CardDocument& doc, const DeviceManager& manager, CardImage& image, DeviceDisplay& display);

// Send, steps 3 and 4: steps a TransferJob over the image (time slice 0.2 s)
// and reports each state: 1 marquee on, status cleared, controls updated;
// 2 "Transferred X / Y", marquee off and range set once, position = sent;
// 3 the success text, IncompleteCardText once begin write was accepted, else
// "Transfer Failed", marquee off, position 0, controls
// updated. Returns the job's result; the time goes to *seconds when given.
Result RunSendTransfer(DeviceManager& manager, std::span<const std::uint8_t> image, DeviceDisplay& display,
                       double* seconds = nullptr, double timeSlice = 0.2);

// Both in one go, for callers that own the document on the worker's thread.
Result SendCardToDevice(CardDocument& doc, DeviceManager& manager, DeviceDisplay& display,
                        double* seconds = nullptr);

// The clearing worker: clears the banks of the selected rows (0-based, in
// ascending order, taken when the clearing was requested). Status
// "Clearing Bank N" per bank, then ClearingFinished and "Clearing successful"
// or "Clearing failed". A first row outside the device's banks fails at once;
// a later one ends the clearing there.
Result ClearBanks(DeviceManager& manager, std::span<const std::uint32_t> selectedRows, DeviceDisplay& display);

}  // namespace tavrin
