// Resources of the program, dropping card-files onto the main window, the
// hand-over cases, the send refusals and the Open dialog.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

#include "app/app_gui_win.h"
#include "app/main_window_gui_win.h"
#include "card/card_file.h"
#include "gui_test_support_win.h"

namespace tavrin {
namespace {

using test::BoxAnswerer;
using test::Pump;
using test::WindowText;

// The shell's file list in global memory, as a drag source hands it out.
class FileDropData final : public IDataObject {
 public:
  explicit FileDropData(std::vector<std::wstring> files) : files_(std::move(files)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *object = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (!format || format->cfFormat != CF_HDROP || (format->tymed & TYMED_HGLOBAL) == 0) return DV_E_FORMATETC;
    std::size_t chars = 1;
    for (const std::wstring& f : files_) chars += f.size() + 1;
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    DROPFILES* d = static_cast<DROPFILES*>(GlobalLock(h));
    d->pFiles = sizeof(DROPFILES);
    d->fWide = TRUE;
    wchar_t* p = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(d) + sizeof(DROPFILES));
    for (const std::wstring& f : files_) {
      memcpy(p, f.c_str(), (f.size() + 1) * sizeof(wchar_t));
      p += f.size() + 1;
    }
    GlobalUnlock(h);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = h;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return format && format->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  std::vector<std::wstring> files_;
  LONG refs_ = 1;
};

std::wstring SaveCard(const wchar_t* fileName, const char* cardName, bool dwgs = false, std::size_t frames = 1000) {
  CardDocument doc;
  doc.name.assign(cardName);
  Sound* s = AppendSound(doc.multisounds, SoundType::Multisound);
  s->name.assign("Tone");
  s->waveType = dwgs ? WaveType::DWGS : WaveType::PCM;
  SampleData* d = AppendSample(*s);
  d->frames.assign(frames, 0.25f);
  d->markers.start = 0;
  d->markers.loop = 0;
  d->markers.end = static_cast<std::int64_t>(frames);
  const std::wstring path = test::ScratchFolder() + fileName;
  Utf8Text<260> utf8;
  utf8.assignUtf16(Utf16View(reinterpret_cast<const char16_t*>(path.c_str())));
  EXPECT_EQ(SaveCardFile(utf8.view(), doc), kOk);
  return path;
}

BOOL SendCopyData(HWND main, const std::wstring& path) {
  COPYDATASTRUCT cds = {};
  cds.dwData = 1;
  cds.cbData = static_cast<DWORD>(path.size() * 2);
  cds.lpData = const_cast<wchar_t*>(path.c_str());
  const BOOL r = static_cast<BOOL>(SendMessageW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
  Pump();
  return r;
}

TEST(Resources, VersionManifestAndAccelerators) {
  Utf16Text<64> text;
  ASSERT_TRUE(ReadVersionString(L"ProductName", text));
  EXPECT_EQ(std::u16string(text.view()), u"Tavrin");
  ASSERT_TRUE(ReadVersionString(L"LegalCopyright", text));
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::u16string(App().title.view()), u"Tavrin v2.1.0");

  HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(res, nullptr);
  const char* manifest = static_cast<const char*>(LockResource(LoadResource(nullptr, res)));
  const std::string m(manifest, SizeofResource(nullptr, res));
  EXPECT_NE(m.find("PerMonitorV2, PerMonitor"), std::string::npos);
  EXPECT_NE(m.find("true/pm"), std::string::npos);
  EXPECT_NE(m.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(m.find("version=\"6.0.0.0\""), std::string::npos);

  // The common controls of version 6 (side by side) are the ones in use.
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(comctl, path, MAX_PATH);
  std::wstring lower = path;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0"), std::wstring::npos) << path;

  ASSERT_NE(App().accelerators, nullptr);
  ACCEL table[8] = {};
  const int n = CopyAcceleratorTableW(App().accelerators, table, 8);
  ASSERT_EQ(n, 3);
  const WORD keys[3] = {'N', 'O', 'S'};
  const WORD commands[3] = {40001, 40002, 40003};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table[i].key, keys[i]);
    EXPECT_EQ(table[i].cmd, commands[i]);
    EXPECT_EQ(table[i].fVirt & (FCONTROL | FVIRTKEY), FCONTROL | FVIRTKEY);
  }
}

TEST(StartUp, InitFailureReport) {
  BoxAnswerer answerer{IDOK};
  EXPECT_EQ(ReportInitFailure(L"COM & OLE"), 1);
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, L"Tavrin v2.1.0");
  EXPECT_EQ(seen[0].joined(), L"Can't Initialize 'COM & OLE'!\n\nApplication will Exit");
}

TEST(StartUp, MessageLoopRoutesAcceleratorsAndReturnsTheQuitCode) {
  TheDocument().Reset();
  CurrentCardPath().clear();
  ASSERT_TRUE(CreateApplicationWindows(SW_SHOW));
  HWND main = App().mainWindow;
  Pump();
  Sound* s = AppendSound(TheDocument().multisounds, SoundType::Multisound);
  s->name.assign("Gone");
  RefreshMainWindow();
  ASSERT_EQ(SendMessageW(MainControl(MainRow::kMultiList), LB_GETCOUNT, 0, 0), 1);
  // Ctrl+N while the document is unmodified: New at once.
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  PostMessageW(main, WM_KEYDOWN, 'N', 1);
  PostQuitMessage(7);
  EXPECT_EQ(RunMessageLoop(), 7);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  EXPECT_TRUE(TheDocument().multisounds.empty());
  EXPECT_EQ(SendMessageW(MainControl(MainRow::kMultiList), LB_GETCOUNT, 0, 0), 0);
  DestroyWindow(main);
  Pump();
}

class MainWindowMoreTest : public test::MainWindowFixture {
 protected:
};

TEST_F(MainWindowMoreTest, DroppingCardFiles) {
  IDropTarget* target = MainWindowDropTarget();
  ASSERT_NE(target, nullptr);
  const std::wstring card = SaveCard(L"DROPPED.QZ", "DROPPED");
  POINTL pt = {10, 10};
  DWORD effect = DROPEFFECT_COPY;

  FileDropData text({test::ScratchFolder() + L"notes.txt"});
  EXPECT_EQ(target->DragEnter(&text, 0, pt, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = DROPEFFECT_COPY;
  target->DragOver(0, pt, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  effect = DROPEFFECT_COPY;
  target->Drop(&text, 0, pt, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - Unnamed");

  // A list with a card-file (upper-case extension) among other files.
  FileDropData files({test::ScratchFolder() + L"notes.txt", card});
  effect = DROPEFFECT_COPY;
  target->DragEnter(&files, 0, pt, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  target->DragLeave();
  target->DragEnter(&files, 0, pt, &effect);
  target->DragOver(0, pt, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  target->Drop(&files, 0, pt, &effect);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - DROPPED");
  EXPECT_EQ(TheDocument().name.view(), "DROPPED");

  // The same file handed over by a second instance while unmodified: nothing
  // happens; dropped again: it is loaded again.
  TheDocument().name.assign("CHANGED");
  EXPECT_TRUE(SendCopyData(main_, card));
  EXPECT_EQ(TheDocument().name.view(), "CHANGED");
  target->DragEnter(&files, 0, pt, &effect);
  target->Drop(&files, 0, pt, &effect);
  EXPECT_EQ(TheDocument().name.view(), "DROPPED");
}

TEST_F(MainWindowMoreTest, HandOverToAModifiedDocumentAsks) {
  const std::wstring card = SaveCard(L"asked.qz", "ASKED");
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kDrumAdd)));
  {
    BoxAnswerer answerer{IDCANCEL};
    EXPECT_TRUE(SendCopyData(main_, card));
    EXPECT_EQ(answerer.Finish().size(), 1u);
  }
  EXPECT_EQ(TheDocument().drumsounds.size(), 1u);
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - Unnamed*");
  {
    BoxAnswerer answerer{IDNO};
    EXPECT_TRUE(SendCopyData(main_, card));
    EXPECT_EQ(answerer.Finish().size(), 1u);
  }
  EXPECT_TRUE(TheDocument().drumsounds.empty());
  EXPECT_EQ(TheDocument().name.view(), "ASKED");
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - asked");
}

TEST_F(MainWindowMoreTest, HandOverClosesTheSoundEditor) {
  const std::wstring card = SaveCard(L"editor.qz", "EDITOR");
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kMultiAdd)));
  TheDocument().modified = false;
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, LBN_DBLCLK), reinterpret_cast<LPARAM>(MainControl(MainRow::kMultiList)));
  ASSERT_TRUE(IsWindowVisible(App().editorWindow));
  ASSERT_FALSE(IsWindowEnabled(main_));
  EXPECT_TRUE(SendCopyData(main_, card));
  EXPECT_FALSE(IsWindowVisible(App().editorWindow));
  EXPECT_TRUE(IsWindowEnabled(main_));
  EXPECT_EQ(TheDocument().name.view(), "EDITOR");
}

TEST_F(MainWindowMoreTest, SendRefusesTooMuchDataAndOnlyDwgs) {
  const std::wstring big = SaveCard(L"big.qz", "BIG", false, 300000);
  EXPECT_TRUE(SendCopyData(main_, big));
  ASSERT_EQ(TheDocument().name.view(), "BIG");
  {
    BoxAnswerer answerer{IDOK};
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kSend)));
    const auto& seen = answerer.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, L"Tavrin v2.1.0");
    EXPECT_EQ(seen[0].joined().rfind(L"Too much data for the card\n\nCurrent Size: ", 0), 0u) << seen[0].joined();
    EXPECT_NE(seen[0].joined().find(L" Byte\nMaximum Size: 524288 Byte"), std::wstring::npos);
  }
  EXPECT_EQ(WindowText(MainControl(MainRow::kStatus)), L"Idle");

  const std::wstring dwgs = SaveCard(L"dwgs.qz", "DWGS", true, 1020);
  EXPECT_TRUE(SendCopyData(main_, dwgs));
  ASSERT_EQ(TheDocument().name.view(), "DWGS");
  {
    BoxAnswerer answerer{IDOK};
    SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kSend)));
    const auto& seen = answerer.Finish();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].joined().rfind(L"Only DWGS Multisounds\n\nTo use DWGS Multisound(s)", 0), 0u) << seen[0].joined();
  }
  EXPECT_EQ(WindowText(MainControl(MainRow::kStatus)), L"Idle");
}

TEST_F(MainWindowMoreTest, PromptNoThenCancelledOpenDialogKeepsContentUnmodified) {
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kMultiAdd)));
  BoxAnswerer answerer{IDNO, IDCANCEL};
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40002, 0), 0);
  const auto& seen = answerer.Finish();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(TheDocument().multisounds.size(), 1u);
  EXPECT_FALSE(TheDocument().modified);
}

TEST_F(MainWindowMoreTest, PromptYesThenCancelledSaveAsForgetsTheClose) {
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(MainControl(MainRow::kMultiAdd)));
  BoxAnswerer answerer{IDYES, IDCANCEL};
  SendMessageW(main_, WM_CLOSE, 0, 0);
  ASSERT_EQ(answerer.Finish().size(), 2u);
  EXPECT_TRUE(IsWindow(main_));
  EXPECT_TRUE(TheDocument().modified);
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - Unnamed*");
}

TEST_F(MainWindowMoreTest, OpenDialogLoadsAndStoresLastCardPath) {
  const std::wstring card = SaveCard(L"opened.qz", "OPENED");
  BoxAnswerer answerer(std::vector<test::BoxAnswer>{test::BoxAnswer{IDOK, 0x47C, card}});
  SendMessageW(main_, WM_COMMAND, MAKEWPARAM(40002, 0), 0);
  ASSERT_EQ(answerer.Finish().size(), 1u);
  EXPECT_EQ(WindowText(main_), L"Tavrin v2.1.0 - opened");
  EXPECT_EQ(TheDocument().name.view(), "OPENED");
  wchar_t value[300] = {};
  DWORD bytes = sizeof(value);
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Veltrovana\\Tavrin", L"LastCardPath", RRF_RT_REG_SZ, nullptr,
                         value, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(_wcsicmp(value, test::ScratchFolder().c_str()), 0) << value;
}

}  // namespace
}  // namespace tavrin
