// The send-to-card controls of the main window: the device combo box, the
// "Bank" field with its up-down control, "Send to Card", "Bank Manager", the
// progress bar and the status line, tied to the one DeviceManager and to the
// send and clearing workers, each on its own thread.
#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "base/alloc.h"
#include "app/app_gui_win.h"
#include "app/device_panel_gui_win.h"
#include "app/fit_dialog_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/main_window_gui_win.h"
#include "device/device_workers.h"

namespace tavrin {
namespace {

DeviceManager& Manager() {
  static DeviceManager manager(DefaultUsbBackend());
  return manager;
}

DevicePanelControls g_controls;
DWORD g_uiThread = 0;

void SetTextUtf8(HWND hwnd, Utf8View text) {
  Utf16Text<128> t;
  t.assignUtf8(text);
  SetWindowTextW(hwnd, reinterpret_cast<const wchar_t*>(t.terminated()));
}

void SetMarqueeStyle(HWND progress, bool on) {
  const LONG_PTR style = GetWindowLongPtrW(progress, GWL_STYLE);
  const bool is = (style & PBS_MARQUEE) != 0;
  if (on == is) return;
  SetWindowLongPtrW(progress, GWL_STYLE, on ? (style | PBS_MARQUEE) : (style & ~static_cast<LONG_PTR>(PBS_MARQUEE)));
  SendMessageW(progress, PBM_SETMARQUEE, on ? TRUE : FALSE, 0);
}

// The send worker's display: the main window's progress bar and status line.
class SendDisplay final : public DeviceDisplay {
 public:
  void SetStatusText(Utf8View text) override { SetTextUtf8(g_controls.status, text); }
  void SetMarquee(bool on) override { SetMarqueeStyle(g_controls.progress, on); }
  void SetProgressRange(std::uint32_t maximum) override {
    SendMessageW(g_controls.progress, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
  }
  void SetProgressPosition(std::uint32_t position) override {
    SendMessageW(g_controls.progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }
  void UpdateDeviceControls() override { DevicePanelUpdateControls(); }
  void ShowError(Utf8View message) override {
    Utf16Text<256> t;
    t.assignUtf8(message);
    // A card too large for the device is offered "Fit to Card".
    const bool offer = offerFit && message.starts_with("Too much data for the card");
    if (offer) t.append(u"\n\nFit to Card now?");
    const int answer = AppMessageBox(g_controls.mainWindow, reinterpret_cast<const wchar_t*>(t.terminated()),
                                     (offer ? MB_YESNO : MB_OK) | MB_ICONERROR);
    fitWanted = offer && answer == IDYES;
  }
  void ClearingFinished(bool) override {}
  bool offerFit = false;
  bool fitWanted = false;
};

// The clearing worker's display: the bank manager's list and status text.
class ClearDisplay final : public DeviceDisplay {
 public:
  void SetStatusText(Utf8View text) override {
    Utf16Text<128> t;
    t.assignUtf8(text);
    BankManagerSetStatus(reinterpret_cast<const wchar_t*>(t.terminated()));
  }
  void SetMarquee(bool) override {}
  void SetProgressRange(std::uint32_t) override {}
  void SetProgressPosition(std::uint32_t) override {}
  void UpdateDeviceControls() override { DevicePanelUpdateControls(); }
  void ShowError(Utf8View message) override {
    Utf16Text<256> t;
    t.assignUtf8(message);
    AppMessageBox(g_controls.bankManagerWindow, reinterpret_cast<const wchar_t*>(t.terminated()),
                  MB_OK | MB_ICONERROR);
  }
  void ClearingFinished(bool success) override { BankManagerFinish(success); }
};

class ComboObserver final : public DeviceListObserver {
 public:
  void DeviceAdded(Utf8View displayName) override {
    Utf16Text<64> t;
    t.assignUtf8(displayName);
    SendMessageW(g_controls.deviceCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.terminated()));
  }
  void DeviceRemoved(std::size_t index) override {
    SendMessageW(g_controls.deviceCombo, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
  }
  void SelectionChanged(std::int32_t selectedIndex) override {
    SendMessageW(g_controls.deviceCombo, CB_SETCURSEL, static_cast<WPARAM>(selectedIndex), 0);
    DevicePanelUpdateControls();
    UpdateCardFigures();
  }
};

// One worker run: its thread and what it owns.
struct SendRun {
  CardImage image;
  KernelHandle thread;
};
SendRun g_send;

struct ClearRun {
  std::vector<std::uint32_t> rows;
  KernelHandle thread;
};
ClearRun g_clear;

DWORD WINAPI SendThread(LPVOID) {
  SendDisplay display;
  RunSendTransfer(Manager(), std::span<const std::uint8_t>(g_send.image.data(), g_send.image.size()), display);
  return 0;
}

DWORD WINAPI ClearThread(LPVOID) {
  ClearDisplay display;
  ClearBanks(Manager(), std::span<const std::uint32_t>(g_clear.rows.data(), g_clear.rows.size()), display);
  return 0;
}

// Waits for a worker thread while answering the messages it sends to the
// windows of this thread.
void JoinThread(KernelHandle& thread) {
  if (!thread) return;
  HANDLE h = thread.get();
  for (;;) {
    const DWORD w = MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_SENDMESSAGE);
    if (w != WAIT_OBJECT_0 + 1) break;
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  thread.reset();
}

bool ThreadRunning(const KernelHandle& thread) {
  return thread && WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

ComboObserver g_observer;

}  // namespace

void DevicePanelAttach(const DevicePanelControls& controls) {
  g_controls = controls;
  g_uiThread = GetCurrentThreadId();
}

void DevicePanelDetach() { g_controls = DevicePanelControls(); }

void DevicePanelRescan() {
  if (!g_controls.deviceCombo) return;
  DeviceManager& m = Manager();
  // A combo box that does not list the known devices (a new window) is
  // filled again before the scan adds or removes devices.
  if (!m.Busy() && static_cast<std::size_t>(SendMessageW(g_controls.deviceCombo, CB_GETCOUNT, 0, 0)) != m.devices.size()) {
    SendMessageW(g_controls.deviceCombo, CB_RESETCONTENT, 0, 0);
    for (const DeviceInfo& d : m.devices) g_observer.DeviceAdded(DeviceDisplayName(d).view());
  }
  m.Refresh(&g_observer);
  SendMessageW(g_controls.deviceCombo, CB_SETCURSEL, static_cast<WPARAM>(Manager().selectedIndex.load()), 0);
  DevicePanelUpdateControls();
  UpdateCardFigures();
}

void DevicePanelSelectionChanged() {
  const LRESULT sel = SendMessageW(g_controls.deviceCombo, CB_GETCURSEL, 0, 0);
  Manager().SelectDevice(sel == CB_ERR ? -1 : static_cast<std::int32_t>(sel), false);
  DevicePanelUpdateControls();
}

namespace {

// The Bank field's text in UTF-8.
Utf8Text<32> BankFieldText() {
  wchar_t buffer[16] = {};
  const int n = GetWindowTextW(g_controls.bankEdit, buffer, 16);
  Utf8Text<32> text;
  text.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(buffer), n > 0 ? static_cast<std::size_t>(n) : 0));
  return text;
}

}  // namespace

void DevicePanelBankChanged() {
  // Only a bank the device has is taken; anything else is refused at send.
  std::uint16_t bank = 0;
  Utf8Text<128> message;
  if (ParseSendBank(BankFieldText().view(), Manager().current.bankCount, bank, message)) {
    Manager().currentBank.store(bank);
  }
}

void DevicePanelSetStatus(const wchar_t* text) {
  if (g_controls.status && !ThreadRunning(g_send.thread)) SetWindowTextW(g_controls.status, text);
}

void DevicePanelResetStatus() { DevicePanelSetStatus(L"Idle"); }

void DevicePanelUpdateControls() {
  if (!g_controls.mainWindow) return;
  if (GetCurrentThreadId() != g_uiThread) {
    SendMessageW(g_controls.mainWindow, kMsgUpdateDeviceControls, 0, 0);
    return;
  }
  DeviceManager& m = Manager();
  const bool busy = m.Busy();
  const bool present = m.HasSelection();
  const DeviceInfo& current = m.current;
  const bool several = current.bankCount > 1;
  const bool directory = (current.capabilities & kCapabilityBankDirectory) != 0;
  EnableWindow(g_controls.deviceCombo, !busy);
  const bool bankWritable = !busy && present && several;
  SendMessageW(g_controls.bankEdit, EM_SETREADONLY, bankWritable ? FALSE : TRUE, 0);
  EnableWindow(g_controls.bankUpDown, bankWritable);
  EnableWindow(g_controls.send, !busy && present);
  EnableWindow(g_controls.bankManagerButton, present && directory);
  TheDocument().cardCapacity = present ? current.memorySize : kDefaultMemorySize;
  const std::uint32_t banks = current.bankCount == 0 ? 1 : current.bankCount;
  SendMessageW(g_controls.bankUpDown, UDM_SETRANGE32, 1, static_cast<LPARAM>(banks));
  SendMessageW(g_controls.bankUpDown, UDM_SETPOS32, 0, static_cast<LPARAM>(m.currentBank.load()));
  BankManagerSetState(directory ? current.bankCount : 0, directory && present && !busy);
}

bool DevicePanelWideLayout() { return LayoutForDevice(Manager().current) == CardLayout::WideCard; }

void DevicePanelSend() {
  if (ThreadRunning(g_send.thread)) return;
  g_send.thread.reset();
  g_send.image.clear();
  SendDisplay display;
  display.offerFit = true;
  // The card goes to the bank the field shows, or nowhere.
  std::uint16_t bank = 0;
  Utf8Text<128> message;
  if (Manager().HasSelection() &&
      !ParseSendBank(BankFieldText().view(), Manager().current.bankCount, bank, message)) {
    display.ShowError(message.view());
    return;
  }
  if (bank != 0) Manager().currentBank.store(bank);
  const Result r = PrepareSendImage(TheDocument(), Manager(), g_send.image, display);
  // The builder may have reordered the document.
  RefreshMainWindow();
  if (r != kOk) {
    g_send.image = CardImage();
    if (display.fitWanted) ShowFitDialog(g_controls.mainWindow);
    return;
  }
  g_send.thread.reset(CreateThread(nullptr, 0, SendThread, nullptr, 0, nullptr));
  if (!g_send.thread) {
    SetWindowTextW(g_controls.status, L"Can't Start Transfer!");
    g_send.image = CardImage();
  }
}

void DevicePanelStartClearing() {
  if (ThreadRunning(g_clear.thread)) return;
  g_clear.thread.reset();
  g_clear.rows.clear();
  for (std::ptrdiff_t row = BankManagerNextSelected(0); row >= 0; row = BankManagerNextSelected(row + 1)) {
    if (TryPushBack(g_clear.rows, static_cast<std::uint32_t>(row)) != kOk) break;
  }
  g_clear.thread.reset(CreateThread(nullptr, 0, ClearThread, nullptr, 0, nullptr));
  if (!g_clear.thread) {
    BankManagerFinish(false);
    BankManagerSetStatus(L"Clearing failed");
  }
}

void DevicePanelBankRowText(std::size_t row, int column, wchar_t* buffer, int capacity) {
  if (!buffer || capacity <= 0) return;
  Utf16Text<32> text;
  const std::uint32_t bank = static_cast<std::uint32_t>(row + 1);
  if (column == 0) {
    text.appendDecimal(bank);
  } else if (Manager().BankHoldsCard(bank)) {
    text.assignUtf8(Manager().BankName(bank).view());
  } else {
    text.assign(u"(empty)");
  }
  const std::size_t n = text.length < static_cast<std::size_t>(capacity - 1) ? text.length
                                                                              : static_cast<std::size_t>(capacity - 1);
  for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<wchar_t>(text.units[i]);
  buffer[n] = 0;
}

void DevicePanelJoinWorkers() {
  JoinThread(g_send.thread);
  JoinThread(g_clear.thread);
  g_send.image = CardImage();
}

}  // namespace tavrin
