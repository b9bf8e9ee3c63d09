#include "app/app_gui_win.h"

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <new>

#include "app/fit_dialog_gui_win.h"
#include "app/framework_gui_win.h"
#include "app/gdiplus_gui_win.h"
#include "app/instrument_chooser_gui_win.h"
#include "app/resource_gui_win.h"

namespace tavrin {
namespace {

Application g_app;
CardDocument g_document;

struct VersionBlock {
  std::uint8_t* data = nullptr;
  VersionBlock() = default;
  ~VersionBlock() { delete[] data; }
  VersionBlock(const VersionBlock&) = delete;
  VersionBlock& operator=(const VersionBlock&) = delete;
};

// The program's own version resource; false without one.
bool LoadOwnVersion(VersionBlock& block) {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return false;
  block.data = new (std::nothrow) std::uint8_t[size];
  if (!block.data) return false;
  return GetFileVersionInfoW(path, 0, size, block.data) != FALSE;
}

bool ReadStringFromBlock(const VersionBlock& block, const wchar_t* name, Utf16Text<64>& out) {
  void* tr = nullptr;
  UINT trLen = 0;
  if (!VerQueryValueW(block.data, L"\\VarFileInfo\\Translation", &tr, &trLen) || trLen < 4 || !tr) return false;
  const WORD* words = static_cast<const WORD*>(tr);
  Utf16Text<128> key;
  key.assign(u"\\StringFileInfo\\");
  const char16_t hex[] = u"0123456789ABCDEF";
  for (int w = 0; w < 2; ++w)
    for (int shift = 12; shift >= 0; shift -= 4) key.append(hex[(words[w] >> shift) & 0xF]);
  key.append(u"\\");
  key.append(Utf16View(reinterpret_cast<const char16_t*>(name)));
  void* value = nullptr;
  UINT valueLen = 0;
  if (!VerQueryValueW(block.data, reinterpret_cast<const wchar_t*>(key.terminated()), &value, &valueLen) || !value)
    return false;
  const char16_t* text = static_cast<const char16_t*>(value);
  std::size_t len = 0;
  while (len < valueLen && text[len] != 0) ++len;
  out.assign(Utf16View(text, len));
  return true;
}

}  // namespace

Application& App() { return g_app; }
CardDocument& TheDocument() { return g_document; }

bool ReadVersionString(const wchar_t* name, Utf16Text<64>& out) {
  VersionBlock block;
  if (!LoadOwnVersion(block)) return false;
  return ReadStringFromBlock(block, name, out);
}

void BuildApplicationTitle() {
  g_app.title.clear();
  VersionBlock block;
  if (!LoadOwnVersion(block)) return;
  Utf16Text<64> product;
  if (!ReadStringFromBlock(block, L"ProductName", product)) return;
  void* fixed = nullptr;
  UINT fixedLen = 0;
  if (!VerQueryValueW(block.data, L"\\", &fixed, &fixedLen) || !fixed || fixedLen < sizeof(VS_FIXEDFILEINFO)) {
    g_app.title.assign(product.view());
    return;
  }
  const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  g_app.title = BuildAppTitle(product.view(), info->dwProductVersionMS, info->dwProductVersionLS);
}

int AppMessageBox(HWND owner, const wchar_t* text, UINT type) {
  return MessageBoxW(owner, text, reinterpret_cast<const wchar_t*>(g_app.title.terminated()), type);
}

int ReportInitFailure(const wchar_t* what) {
  Utf16Text<256> text = InitFailureText(Utf16View(reinterpret_cast<const char16_t*>(what)));
  AppMessageBox(nullptr, reinterpret_cast<const wchar_t*>(text.terminated()), MB_OK | MB_ICONERROR);
  return 1;
}

bool InitializeApplication(HINSTANCE instance) {
  g_app.instance = instance;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  if (!InitCommonControlsEx(&icc)) return ReportInitFailure(L"Common Controls") == 0;
  if (FAILED(OleInitialize(nullptr))) return ReportInitFailure(L"COM & OLE") == 0;
  // GDI+ stays up for the whole run.
  Gdiplus::GdiplusStartupInput gdiplusInput;
  ULONG_PTR gdiplusToken = 0;
  if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok)
    return ReportInitFailure(L"GDI+") == 0;

  struct ClassRow {
    const wchar_t* name;
    WNDPROC proc;
    UINT style;
    bool arrow;
    bool background;
    bool menu;
    int extra;
    const wchar_t* failure;
  };
  const ClassRow rows[] = {
      {kMainWindowClass, MainWindowProc, CS_HREDRAW | CS_VREDRAW, true, true, true, 0, L"Main Window Class"},
      {kSoundEditorClass, SoundEditorWindowProc, CS_HREDRAW | CS_VREDRAW, true, true, false, 0,
       L"Sound Editor Window Class"},
      {kWaveformViewClass, WaveformViewProc, CS_HREDRAW | CS_VREDRAW | CS_GLOBALCLASS, false, false, false,
       static_cast<int>(sizeof(LONG_PTR)),
       L"Waveform View Class"},
      {kBankManagerClass, BankManagerWindowProc, CS_HREDRAW | CS_VREDRAW, true, true, false, 0,
       L"Bank Manager Window Class"},
  };
  for (const ClassRow& r : rows) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = r.style;
    wc.lpfnWndProc = r.proc;
    wc.cbWndExtra = r.extra;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TAVRIN));
    wc.hCursor = r.arrow ? LoadCursorW(nullptr, IDC_ARROW) : nullptr;
    wc.hbrBackground = r.background ? reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1) : nullptr;
    wc.lpszMenuName = r.menu ? MAKEINTRESOURCEW(IDM_MAIN) : nullptr;
    wc.lpszClassName = r.name;
    if (!RegisterClassExW(&wc)) return ReportInitFailure(r.failure) == 0;
  }
  g_app.accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
  return true;
}

bool CreateApplicationWindows(int showCommand) {
  const DWORD style = WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND main = CreateWindowExW(0, kMainWindowClass, reinterpret_cast<const wchar_t*>(g_app.title.terminated()), style,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              g_app.instance, nullptr);
  HWND editor = main ? CreateWindowExW(0, kSoundEditorClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                       CW_USEDEFAULT, main, nullptr, g_app.instance, nullptr)
                     : nullptr;
  if (!main || !editor) {
    if (main) DestroyWindow(main);
    ReportInitFailure(L"Main Window");
    return false;
  }
  g_app.editorWindow = editor;
  ShowWindow(main, showCommand);
  UpdateWindow(main);
  return true;
}

int RunMessageLoop() {
  MSG msg = {};
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) break;
    if (g_app.mainWindow && g_app.accelerators && TranslateAcceleratorW(g_app.mainWindow, g_app.accelerators, &msg))
      continue;
    if (g_app.mainWindow && IsDialogMessageW(g_app.mainWindow, &msg)) continue;
    if (g_app.editorWindow && IsWindow(g_app.editorWindow) && SoundEditorPreTranslate(msg)) continue;
    if (g_app.bankManagerWindow && IsDialogMessageW(g_app.bankManagerWindow, &msg)) continue;
    // Tab, Esc and Enter in the windows that hold controls of their own.
    if (HWND fit = FitDialogWindow(); fit && IsDialogMessageW(fit, &msg)) continue;
    if (HWND chooser = InstrumentChooserWindow(); chooser && IsDialogMessageW(chooser, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

namespace {

bool IsAbsolutePath(const wchar_t* p) {
  if (p[0] == L'\\' && p[1] == L'\\') return true;
  return p[0] != 0 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/');
}

}  // namespace

int HandOverToRunningInstance() {
  Utf16Text<261> path;
  bool tooLong = false;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && CommandLineHasPath(argc)) {
    const wchar_t* arg = argv[1];
    if (IsAbsolutePath(arg)) {
      // A path is handed over whole or not at all: a cut one names another file.
      const Utf16View whole(reinterpret_cast<const char16_t*>(arg));
      if (whole.size() > 260) tooLong = true;
      else path.assign(whole);
    } else {
      const DWORD n = GetFullPathNameW(arg, 261, reinterpret_cast<wchar_t*>(path.units), nullptr);
      path.length = (n > 0 && n <= 260) ? n : 0;
      tooLong = n > 260;
    }
  }
  if (argv) LocalFree(argv);
  if (tooLong) {
    MessageText text = LoadFailureText(kPathTooLongReason);
    AppMessageBox(nullptr, reinterpret_cast<const wchar_t*>(text.terminated()), MB_OK | MB_ICONERROR);
    return 1;
  }

  HWND main = FindWindowW(kMainWindowClass, nullptr);
  if (!main) return 1;
  if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
  SetForegroundWindow(main);
  if (path.empty()) return 0;
  COPYDATASTRUCT cds = {};
  cds.dwData = static_cast<ULONG_PTR>(kHandOverId);
  cds.cbData = static_cast<DWORD>(path.length * 2);
  cds.lpData = path.units;
  SendMessageW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
  return 0;
}

void ReadCommandLinePath() {
  g_app.startupPath.clear();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return;
  if (CommandLineHasPath(argc)) g_app.startupPath.assign(Utf16View(reinterpret_cast<const char16_t*>(argv[1])));
  LocalFree(argv);
}

int RunApplication(HINSTANCE instance, int showCommand) {
  HANDLE created = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
  const DWORD error = GetLastError();
  KernelHandle mutex(created);
  if (!mutex || error == ERROR_ALREADY_EXISTS) {
    mutex.reset();
    return HandOverToRunningInstance();
  }
  BuildApplicationTitle();
  ReadCommandLinePath();
  if (!InitializeApplication(instance)) return 1;
  if (!CreateApplicationWindows(showCommand)) return 1;
  return RunMessageLoop();
}

}  // namespace tavrin
