// The send-to-card controls of the main window and the bank manager window,
// tied to the DeviceManager and the device workers. The main window calls
// these; they live beside it in src/app, over the logic in src/device.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace tavrin {

// Sent to the main window by a worker thread so that the device controls are
// updated on the user-interface thread.
inline constexpr UINT kMsgUpdateDeviceControls = WM_USER + 200;
// Sent to the bank manager by the clearing worker: wParam = success.
inline constexpr UINT kMsgClearingFinished = WM_USER + 201;

struct DevicePanelControls {
  HWND mainWindow = nullptr;
  HWND deviceCombo = nullptr;
  HWND send = nullptr;
  HWND bankManagerButton = nullptr;
  HWND bankEdit = nullptr;
  HWND bankUpDown = nullptr;
  HWND progress = nullptr;
  HWND status = nullptr;
  HWND bankManagerWindow = nullptr;
};

// Called by the main window's creation after its controls exist.
void DevicePanelAttach(const DevicePanelControls& controls);
// Called by the main window's destruction.
void DevicePanelDetach();
// Rescans for devices and fills the combo box (creation, device change).
void DevicePanelRescan();
// The combo box selection changed.
void DevicePanelSelectionChanged();
// The bank edit changed: the up-down's position becomes the target bank.
void DevicePanelBankChanged();
// Enables the device controls from the device state, sets the document's
// card capacity and updates the bank manager.
void DevicePanelUpdateControls();
// True when the selected device takes the wide card layout.
bool DevicePanelWideLayout();
// "Send to Card" pressed: sends to the bank the Bank field shows, or refuses
// with a message naming the device's banks (the field keeps the user's text).
void DevicePanelSend();
// The status line shows `text` (e.g. after a save), or "Idle" again after
// another card was loaded or created, unless a transfer is running.
void DevicePanelSetStatus(const wchar_t* text);
void DevicePanelResetStatus();
// The bank manager asked for its clearing worker (command 1).
void DevicePanelStartClearing();
// Column text of a bank row: column 0 the bank number, column 1 its card's
// name or "(empty)".
void DevicePanelBankRowText(std::size_t row, int column, wchar_t* buffer, int capacity);
// Waits for a running worker to end (at shutdown and in tests).
void DevicePanelJoinWorkers();

// --- Bank manager window (bank_manager_gui_win.cpp) --------------------------------

// Creates the hidden bank manager window; nullptr on failure.
HWND CreateBankManagerWindow(HWND mainWindow);
// Row count and whether clearing is allowed (from the device controls update).
void BankManagerSetState(std::size_t rowCount, bool clearAllowed);
// The first selected row at or after `from`, or -1.
std::ptrdiff_t BankManagerNextSelected(std::ptrdiff_t from);
// The clearing ended (any thread): deselect, update, redraw, status text.
void BankManagerFinish(bool success);
// Status text of the bank manager (any thread).
void BankManagerSetStatus(const wchar_t* text);
// Redraws the list (any thread).
void BankManagerRedraw();
// The bank manager's controls: 0 list, 1 clear button, 2 "OK", 3 status.
HWND BankManagerControl(std::size_t row);

}  // namespace tavrin
