// The sound editor's sample list commands: import through the open dialog
// ("+") or by dropping files, remove ("-"), reordering by dragging in the
// list, and the export of every sample into a folder. All work on the
// editor's working copy; the document is touched only by "OK".
#include <windows.h>
#include <commctrl.h>
#include <cderr.h>
#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "app/app_gui_win.h"
#include "app/instrument_chooser_gui_win.h"
#include "base/alloc.h"
#include "app/sound_editor_gui_win.h"
#include "audio/export.h"
#include "audio/import.h"

namespace tavrin {
namespace {

constexpr wchar_t kRegistryKey[] = L"SOFTWARE\\Veltrovana\\Tavrin";
constexpr wchar_t kLastSamplePath[] = L"LastSamplePath";
constexpr wchar_t kLastExportPath[] = L"LastExportPath";
// "Sample File", then the patterns of the six extensions, each part ended by
// a zero and the whole by a second one.
constexpr wchar_t kFilter[] =
    L"Sample File\0*.wav;*.aif;*.aiff;*.aifc;*.mp3;*.flac\0Instrument (SoundFont 2, SFZ)\0*.sf2;*.sfz\0\0";
// Room for hundreds of files with long names in one selection.
constexpr DWORD kFileBufferChars = 1u << 17;
// The longest path tried as it is; a longer one is a failed import, never cut.
using ImportPath = Utf16Text<1024>;

struct DragState {
  std::ptrdiff_t row = -1;
  bool placeholder = false;
};
DragState g_drag;

HWND Editor() { return App().editorWindow; }
HWND List() { return EditorControl(EditorRow::kList); }

bool ReadFolder(const wchar_t* value, wchar_t (&folder)[261]) {
  DWORD bytes = sizeof(folder);
  folder[0] = 0;
  const LSTATUS s = RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, value, RRF_RT_REG_SZ, nullptr, folder, &bytes);
  folder[260] = 0;
  return s == ERROR_SUCCESS && folder[0] != 0;
}

void StoreFolder(const wchar_t* value, Utf16View folder) {
  Utf16Text<1024> t;
  t.assign(folder);
  RegSetKeyValueW(HKEY_CURRENT_USER, kRegistryKey, value, REG_SZ, t.terminated(),
                  static_cast<DWORD>((t.length + 1) * sizeof(wchar_t)));
}

Utf16View View(const wchar_t* p, std::size_t n) { return Utf16View(reinterpret_cast<const char16_t*>(p), n); }

struct ImportTally {
  std::size_t imported = 0;
  std::size_t failed = 0;
};

// Files are imported into a scratch Sound of the same type; AppendSamples
// then moves them into the working copy as one step.
Sound g_scratch;

void BeginImport() {
  const Sound& w = EditorModelOfWindow().working;
  g_scratch = Sound();
  g_scratch.soundType = w.soundType;
  g_scratch.waveType = w.waveType;
}

// A path that does not fit whole counts as a failure: a cut one names
// another file.
void ImportOne(Utf16View path, bool fits, ImportTally& tally) {
  Utf8Text<260> utf8;
  if (fits && AssignPathFromUtf16(utf8, path) && ImportSampleFile(g_scratch, utf8.view()) == kOk) {
    ++tally.imported;
  } else {
    ++tally.failed;
  }
}

void FinishImport(const ImportTally& tally) {
  EditorModel& m = EditorModelOfWindow();
  if (!g_scratch.samples.empty()) {
    // Appending may move the samples: the view lets go first (the frames
    // themselves stay where they are).
    DetachEditorFrames();
    if (AppendSamples(m, g_scratch.samples).result != kOk)
      AppMessageBox(Editor(), L"There is not enough memory to add the samples", MB_OK | MB_ICONERROR);
  }
  g_scratch = Sound();
  if (tally.failed > 0) {
    Utf16Text<64> text;
    if (tally.failed == 1) {
      text.assign(u"The file");
    } else {
      text.appendDecimal(static_cast<std::uint32_t>(tally.failed));
      text.append(u" files");
    }
    text.append(u" couldn't be imported");
    AppMessageBox(Editor(), reinterpret_cast<const wchar_t*>(text.terminated()), MB_OK | MB_ICONERROR);
  }
  SelectEditorSample(m.current);
  if (tally.imported > 0) SetFocus(List());
}

bool DrumsoundFull() {
  const Sound& s = EditorModelOfWindow().working;
  return s.soundType == SoundType::Drumsound && !(s.samples.empty() && g_scratch.samples.empty());
}

bool KnownExtension(Utf16View path) {
  // The extension lies within the path's last characters or is none we read.
  const Utf16View tail = path.size() > 16 ? path.substr(path.size() - 16) : path;
  Utf8Text<64> utf8;
  utf8.assignUtf16(tail);
  return ReaderForPath(utf8.view()) != ReaderChoice::kNone;
}

// One dropped file's path; false when it is longer than an import path.
bool DroppedPath(HDROP files, UINT i, ImportPath& out) {
  out.clear();
  const UINT n = DragQueryFileW(files, i, nullptr, 0);
  if (n == 0 || n >= 1024) return false;
  wchar_t buffer[1024] = {};
  const UINT got = DragQueryFileW(files, i, buffer, 1024);
  if (got != n) return false;
  out.assign(View(buffer, got));
  return true;
}

// Files dropped on the editor, imported once the drop has returned: a long
// import or its failure box inside the drop would hold the program they came from.
struct DroppedFile {
  ImportPath path;
  bool fits = false;
};
std::vector<DroppedFile> g_dropped;

template <class T>
struct ComRelease {
  T* p = nullptr;
  ~ComRelease() {
    if (p) p->Release();
  }
};

}  // namespace

void EditorImport() {
  EditorModel& m = EditorModelOfWindow();
  const bool multi = m.working.soundType == SoundType::Multisound;
  std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[kFileBufferChars]);
  if (!buffer) {
    AppMessageBox(Editor(), L"There is not enough memory to choose files", MB_OK | MB_ICONERROR);
    return;
  }
  buffer[0] = 0;
  wchar_t initial[261];
  const bool haveInitial = ReadFolder(kLastSamplePath, initial);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = Editor();
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer.get();
  ofn.nMaxFile = kFileBufferChars;
  ofn.lpstrInitialDir = haveInitial ? initial : nullptr;
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_EXPLORER | (multi ? OFN_ALLOWMULTISELECT : 0);
  if (!GetOpenFileNameW(&ofn)) {
    if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
      AppMessageBox(Editor(), L"Too many files were selected at once: import them in smaller groups",
                    MB_OK | MB_ICONERROR);
    return;
  }
  buffer[kFileBufferChars - 1] = 0;
  const wchar_t* first = buffer.get();
  const std::size_t firstLength = wcslen(first);
  // Several files: the folder, then each name, each ended by a zero.
  const bool several = ofn.nFileOffset > 0 && ofn.nFileOffset == firstLength + 1;
  if (several) {
    StoreFolder(kLastSamplePath, View(first, firstLength));
  } else {
    StoreFolder(kLastSamplePath, View(first, ofn.nFileOffset <= firstLength ? ofn.nFileOffset : 0));
  }
  if (!several && IsInstrumentPath(View(first, firstLength))) {  // a whole instrument: the chooser adds it
    OpenInstrumentChooser(App().mainWindow, View(first, firstLength));
    return;
  }
  BeginImport();
  ImportTally tally;
  if (!several) {
    ImportOne(View(first, firstLength), firstLength < 1024, tally);
  } else {
    for (const wchar_t* name = first + firstLength + 1; *name; name += wcslen(name) + 1) {
      ImportPath path;
      path.assign(View(first, firstLength));
      path.append(u"\\");
      const std::size_t nameLength = wcslen(name);
      path.append(View(name, nameLength));
      ImportOne(path.view(), firstLength + 1 + nameLength < 1024, tally);
    }
  }
  FinishImport(tally);
}

bool EditorDrop(DropStep step, HDROP files) {
  if (step == DropStep::Leave || !files) return false;
  const UINT n = DragQueryFileW(files, 0xFFFFFFFF, nullptr, 0);
  if (step != DropStep::Drop) {
    for (UINT i = 0; i < n; ++i) {
      ImportPath path;
      if (DroppedPath(files, i, path) && KnownExtension(path.view())) return true;
    }
    return false;
  }
  for (UINT i = 0; i < n; ++i) {
    DroppedFile f;
    f.fits = DroppedPath(files, i, f.path);
    if (TryPushBack(g_dropped, f) != kOk) break;
  }
  PostMessageW(Editor(), kMsgImportDropped, 0, 0);
  return true;
}

void EditorImportDropped() {
  std::vector<DroppedFile> files;
  files.swap(g_dropped);
  if (files.empty() || !IsWindowVisible(Editor())) return;
  BeginImport();
  ImportTally tally;
  for (const DroppedFile& f : files) {
    if (DrumsoundFull()) break;
    ImportOne(f.path.view(), f.fits, tally);
  }
  FinishImport(tally);
}

void EditorRemove() {
  EditorModel& m = EditorModelOfWindow();
  const LRESULT selected = SendMessageW(List(), LB_GETCURSEL, 0, 0);
  if (selected < 0 || static_cast<std::size_t>(selected) >= m.working.samples.size()) return;
  DetachEditorFrames();
  RemoveSample(m, selected);
  SelectEditorSample(m.current);
  SetFocus(List());
}

LRESULT EditorDragListNotification(const void* dragListInfo) {
  const auto* info = static_cast<const DRAGLISTINFO*>(dragListInfo);
  HWND list = List();
  if (!info || info->hWnd != list) return 0;
  const auto endDisplay = [&] {
    if (g_drag.placeholder) {
      const LRESULT n = SendMessageW(list, LB_GETCOUNT, 0, 0);
      if (n > 0) SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(n - 1), 0);
      g_drag.placeholder = false;
    }
    DrawInsert(Editor(), list, -1);
  };
  switch (info->uNotification) {
    case DL_BEGINDRAG: {
      const int hit = LBItemFromPt(list, info->ptCursor, TRUE);
      const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
      if (!DragMayBegin(hit, count < 0 ? 0 : static_cast<std::size_t>(count))) return FALSE;
      g_drag.row = hit;
      return TRUE;
    }
    case DL_DRAGGING:
      if (g_drag.row < 0) return DL_STOPCURSOR;
      if (!g_drag.placeholder) {
        // An empty row after the last sample, so that a drop can go last.
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L""));
        g_drag.placeholder = true;
      }
      DrawInsert(Editor(), list, LBItemFromPt(list, info->ptCursor, TRUE));
      return DL_MOVECURSOR;
    case DL_DROPPED: {
      const int hit = LBItemFromPt(list, info->ptCursor, TRUE);
      const std::ptrdiff_t from = std::exchange(g_drag.row, -1);
      endDisplay();
      EditorModel& m = EditorModelOfWindow();
      const std::ptrdiff_t to = DragDropTarget(from, hit);
      const auto n = static_cast<std::ptrdiff_t>(m.working.samples.size());
      if (to < 0 || to >= n || from >= n || from == to) return 0;
      DetachEditorFrames();
      MoveSample(m, from, to);
      SelectEditorSample(m.current);
      SetFocus(list);
      return 0;
    }
    case DL_CANCELDRAG:
      g_drag.row = -1;
      endDisplay();
      return 0;
    default:
      return 0;
  }
}

void EditorExport() {
  ComRelease<IFileDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                              reinterpret_cast<void**>(&dialog.p))))
    return;
  FILEOPENDIALOGOPTIONS options = 0;
  dialog.p->GetOptions(&options);
  dialog.p->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
  wchar_t last[261];
  if (ReadFolder(kLastExportPath, last)) {
    ComRelease<IShellItem> item;
    if (SUCCEEDED(SHCreateItemFromParsingName(last, nullptr, IID_IShellItem, reinterpret_cast<void**>(&item.p))))
      dialog.p->SetFolder(item.p);
  }
  if (FAILED(dialog.p->Show(Editor()))) return;  // cancelled
  ComRelease<IShellItem> chosen;
  wchar_t* path = nullptr;
  if (FAILED(dialog.p->GetResult(&chosen.p)) || FAILED(chosen.p->GetDisplayName(SIGDN_FILESYSPATH, &path)) || !path)
    return;
  const Utf16View folder(reinterpret_cast<const char16_t*>(path));
  StoreFolder(kLastExportPath, folder);
  Utf8Text<260> utf8;
  // A folder too long to keep whole is refused like any other failure.
  const Result r = AssignPathFromUtf16(utf8, folder) ? ExportSamples(EditorModelOfWindow().working, utf8.view())
                                                     : kTooMuchData;
  CoTaskMemFree(path);
  if (r != kOk) AppMessageBox(Editor(), L"One or More Samples Couldn't be Exported", MB_OK | MB_ICONERROR);
}

}  // namespace tavrin
