#include "gui_test_support_win.h"

#include <gtest/gtest.h>

#include "app/app_gui_win.h"
#include "app/main_window_gui_win.h"

namespace tavrin::test {
namespace {

std::wstring MakeFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = temp;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  folder += name;
  folder += std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}

// Set up once before the tests: the simulated device (before the device
// manager's first use), the title and the window classes.
class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetEnvironmentVariableW(L"TAVRIN_SIMULATED_DEVICE", SimulatedDeviceFolder().c_str());
    BuildApplicationTitle();
    ASSERT_TRUE(InitializeApplication(GetModuleHandleW(nullptr)));
  }
};
::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

// Under Wine without a window manager every managed top-level window waits
// about a second for the manager when it is shown or hidden. This program's
// windows are made unmanaged through Wine's per-program setting; a first run
// that has to add the setting starts itself again so that it takes effect.
struct UnmanagedWindowsUnderWine {
  UnmanagedWindowsUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) return;
    wchar_t exe[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const wchar_t* name = exe;
    for (const wchar_t* p = exe; *p; ++p)
      if (*p == L'\\' || *p == L'/') name = p + 1;
    std::wstring key = L"Software\\Wine\\AppDefaults\\";
    key += name;
    key += L"\\X11 Driver";
    wchar_t value[8] = {};
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Managed", RRF_RT_REG_SZ, nullptr, value, &bytes) ==
        ERROR_SUCCESS)
      return;
    if (RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Managed", REG_SZ, L"N", 2 * sizeof(wchar_t)) !=
        ERROR_SUCCESS)
      return;
    std::wstring command = GetCommandLineW();
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    ExitProcess(code);
  }
};
const UnmanagedWindowsUnderWine g_unmanaged;

struct FindBox {
  DWORD pid;
  HWND found;
  HWND skip;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM param) {
  FindBox* f = reinterpret_cast<FindBox*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != f->pid || hwnd == f->skip || !IsWindowVisible(hwnd)) return TRUE;
  if (ClassName(hwnd) != L"#32770") return TRUE;
  f->found = hwnd;
  return FALSE;
}

BOOL CALLBACK CollectStatics(HWND hwnd, LPARAM param) {
  std::vector<std::wstring>* texts = reinterpret_cast<std::vector<std::wstring>*>(param);
  if (_wcsicmp(ClassName(hwnd).c_str(), L"Static") == 0) {
    std::wstring t = WindowText(hwnd);
    if (!t.empty()) texts->push_back(t);
  }
  return TRUE;
}

}  // namespace

const std::wstring& SimulatedDeviceFolder() {
  static const std::wstring folder = MakeFolder(L"tavrin-gui-sim-");
  return folder;
}

const std::wstring& ScratchFolder() {
  static const std::wstring folder = MakeFolder(L"tavrin-gui-files-");
  return folder;
}

void Pump() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buffer[128] = {};
  GetClassNameW(hwnd, buffer, 128);
  return buffer;
}

RECT ChildRect(HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::wstring BoxSeen::joined() const {
  std::wstring s;
  for (const std::wstring& t : texts) {
    if (!s.empty()) s += L"|";
    s += t;
  }
  return s;
}

BoxAnswerer::BoxAnswerer(std::vector<BoxAnswer> answers) : answers_(std::move(answers)) {
  thread_ = std::thread([this] { Run(); });
}

namespace {
std::vector<BoxAnswer> Presses(std::initializer_list<int> buttons) {
  std::vector<BoxAnswer> a;
  for (int b : buttons) a.push_back(BoxAnswer{b, 0, std::wstring()});
  return a;
}
}  // namespace

BoxAnswerer::BoxAnswerer(std::initializer_list<int> buttons) : BoxAnswerer(Presses(buttons)) {}

BoxAnswerer::~BoxAnswerer() { Finish(); }

const std::vector<BoxSeen>& BoxAnswerer::Finish() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return seen_;
}

void BoxAnswerer::Run() {
  HWND last = nullptr;
  for (const BoxAnswer& a : answers_) {
    FindBox f = {GetCurrentProcessId(), nullptr, last};
    const ULONGLONG end = GetTickCount64() + 15000;
    while (!f.found && GetTickCount64() < end) {
      Sleep(50);
      EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&f));
    }
    if (!f.found) return;
    Sleep(100);  // let the box finish its set-up
    BoxSeen seen;
    seen.caption = WindowText(f.found);
    EnumChildWindows(f.found, CollectStatics, reinterpret_cast<LPARAM>(&seen.texts));
    if (HWND i = GetDlgItem(f.found, 1001)) seen.item1001 = WindowText(i);
    if (HWND i = GetDlgItem(f.found, 1002)) seen.item1002 = WindowText(i);
    seen_.push_back(seen);
    if (a.textItem != 0) SetDlgItemTextW(f.found, a.textItem, a.text.c_str());
    PostMessageW(f.found, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(f.found, a.button)));
    const ULONGLONG gone = GetTickCount64() + 10000;
    while (IsWindow(f.found) && IsWindowVisible(f.found) && GetTickCount64() < gone) Sleep(20);
    last = f.found;
  }
}

void MainWindowFixture::SetUp() {
  TheDocument().Reset();
  CurrentCardPath().clear();
  ASSERT_TRUE(CreateApplicationWindows(SW_SHOW));
  main_ = App().mainWindow;
  ASSERT_NE(main_, nullptr);
  Pump();
}

void MainWindowFixture::TearDown() {
  if (main_ && IsWindow(main_)) {
    TheDocument().modified = false;
    DestroyWindow(main_);
  }
  Pump();
}

}  // namespace tavrin::test
