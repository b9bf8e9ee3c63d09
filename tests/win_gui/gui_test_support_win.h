// Helpers of the window tests: the application set up once per test program,
// message pumping, and a second thread that answers modal boxes by pressing
// their buttons.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::test {

// The folder of the simulated device of this test program (Windows path).
const std::wstring& SimulatedDeviceFolder();
// A scratch folder (Windows path with a trailing backslash).
const std::wstring& ScratchFolder();

// Dispatches every waiting message of this thread (a quit message is dropped).
void Pump();
// Pumps until done() or the time-out; true when done() became true.
template <class F>
bool PumpUntil(F done, int milliseconds = 10000) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
  while (!done()) {
    if (GetTickCount64() > end) return false;
    Pump();
    Sleep(5);
  }
  return true;
}

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// A control's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child);

// What the answerer saw of one modal box.
struct BoxSeen {
  std::wstring caption;
  std::vector<std::wstring> texts;  // every static text of the box
  std::wstring item1001, item1002;  // About box lines
  std::wstring joined() const;
};

// One step: optionally put text into a dialog item, then press a button.
struct BoxAnswer {
  int button;
  int textItem = 0;
  std::wstring text;
};

// Waits, on its own thread, for each modal box of this process in turn and
// answers it.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::vector<BoxAnswer> answers);
  // Presses these buttons, one box after the other.
  BoxAnswerer(std::initializer_list<int> buttons);
  ~BoxAnswerer();
  // Waits for the thread; the boxes seen so far.
  const std::vector<BoxSeen>& Finish();

 private:
  void Run();
  std::vector<BoxAnswer> answers_;
  std::vector<BoxSeen> seen_;
  std::thread thread_;
  bool joined_ = false;
};

// A fresh empty document and a shown main window for each test; the window
// is destroyed afterwards without a save-changes prompt.
class MainWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  HWND main_ = nullptr;
};

}  // namespace tavrin::test
