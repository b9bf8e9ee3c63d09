#include "gui_test_support_win.h"

#include <shlobj.h>

#include <atomic>
#include <thread>

#include "card/card_file.h"

namespace tavrin::test {
namespace {

std::wstring MakeFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = temp + std::wstring(name) + std::to_wstring(GetCurrentProcessId());
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
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
    wchar_t exe[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring key = L"Software\\Wine\\AppDefaults\\";
    key += std::wstring(wcsrchr(exe, L'\\') + 1) + L"\\X11 Driver";
    const HKEY user = HKEY_CURRENT_USER;
    if (RegGetValueW(user, key.c_str(), L"Managed", RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS ||
        RegSetKeyValueW(user, key.c_str(), L"Managed", REG_SZ, L"N", 4) != ERROR_SUCCESS)
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

// The next visible dialog box of this process other than `last`.
HWND NextBox(HWND last) {
  std::pair<HWND, HWND> find = {last, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* f = reinterpret_cast<std::pair<HWND, HWND>*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() || hwnd == f->first || !IsWindowVisible(hwnd)) return TRUE;
        if (ClassName(hwnd) == L"#32770") f->second = hwnd;
        return !f->second;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.second;
}

BOOL CALLBACK CollectStatics(HWND hwnd, LPARAM param) {
  const std::wstring t = WindowText(hwnd);  // an icon's is its resource number: 0xFFFF, number
  if (_wcsicmp(ClassName(hwnd).c_str(), L"Static") == 0 && !t.empty() && t[0] != 0xFFFF)
    *reinterpret_cast<std::wstring*>(param) += L"|" + t;
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

void FillCard(CardDocument& doc, const char* name, std::size_t frames, bool dwgs) {
  doc.name.assign(name);
  Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
  s->name.assign("Piano");
  s->waveType = dwgs ? WaveType::DWGS : WaveType::PCM;
  SampleData* d = AppendSample(*s);
  d->frames.assign(frames, 0.25f);
  d->markers = MarkerSet{0, 0, 0, static_cast<std::int64_t>(frames)};
}

std::wstring SaveCard(const wchar_t* fileName, const char* cardName, std::size_t frames, bool dwgs) {
  CardDocument doc;
  FillCard(doc, cardName, frames, dwgs);
  const std::wstring path = ScratchFolder() + fileName;
  EXPECT_EQ(SaveCardFile(Utf8Path(path).view(), doc), kOk);
  return path;
}

IDataObject* ShellFiles(const std::vector<std::wstring>& names) {
  LPITEMIDLIST folder = nullptr;
  SHParseDisplayName(test::ScratchFolder().c_str(), nullptr, &folder, 0, nullptr);
  std::vector<LPITEMIDLIST> files(names.size());
  std::vector<LPCITEMIDLIST> children;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SHParseDisplayName((test::ScratchFolder() + names[i]).c_str(), nullptr, &files[i], 0, nullptr);
    children.push_back(ILFindLastID(files[i]));
  }
  IDataObject* data = nullptr;
  CIDLData_CreateFromIDArray(folder, static_cast<UINT>(children.size()), children.data(), &data);
  for (LPITEMIDLIST item : files) CoTaskMemFree(item);
  CoTaskMemFree(folder);
  return data;
}

std::vector<std::wstring> Answering(std::vector<BoxAnswer> answers, const std::function<void()>& action) {
  std::vector<std::wstring> seen;
  std::atomic<bool> done = false;
  std::thread answerer([&] {
    HWND box = nullptr;
    // The boxes expected, then any further one (cancelled) until the action is done.
    for (std::size_t n = 0; n < answers.size() || !done; ++n) {
      const BoxAnswer a = n < answers.size() ? answers[n] : BoxAnswer(IDCANCEL);
      HWND last = box;
      for (const ULONGLONG end = GetTickCount64() + 15000; (box = NextBox(last)) == nullptr; Sleep(50))
        if (GetTickCount64() > end || (n >= answers.size() && done)) return;
      Sleep(100);  // let the box finish its set-up
      seen.push_back(WindowText(box));
      EnumChildWindows(box, CollectStatics, reinterpret_cast<LPARAM>(&seen.back()));
      // Pressed again while it stays: a dialog still setting up may clear the
      // text or miss the press.
      for (int tries = 0; tries < 10 && IsWindowVisible(box); ++tries) {
        if (a.textItem != 0) SetDlgItemTextW(box, a.textItem, a.text.c_str());
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, a.button)));
        for (int i = 0; i < 50 && IsWindowVisible(box); ++i) Sleep(20);
      }
    }
  });
  action();
  done = true;
  answerer.join();
  return seen;
}

}  // namespace tavrin::test
