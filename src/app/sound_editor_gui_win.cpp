// The sound editor window ("TavrinSoundEditor"), created hidden at start-up
// and owned by the main window. It takes the Sound to edit with the
// edit-sound message, works on its own copy and hands the copy back with the
// sound-edited message on "OK". Closing hides it and enables the owner again.
// Its controls come with the editor itself; here are the window class, the
// copy and the messages between the two windows.
#include <windows.h>

#include "base/alloc.h"
#include "app/app_gui_win.h"
#include "card/document.h"

namespace tavrin {
namespace {

struct EditorState {
  Sound working;
  bool open = false;
};
EditorState g_editor;

void SetEditorTitle(HWND hwnd) {
  Utf16Text<16> name;
  name.assignUtf8(g_editor.working.name.view());
  SetWindowTextW(hwnd, reinterpret_cast<const wchar_t*>(name.terminated()));
}

void CloseEditor(HWND hwnd) {
  g_editor.working = Sound();
  g_editor.open = false;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  if (owner) EnableWindow(owner, TRUE);
  ShowWindow(hwnd, SW_HIDE);
  if (owner) SetActiveWindow(owner);
}

}  // namespace

LRESULT CALLBACK SoundEditorWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kMsgEditSound: {
      if (wParam == 0) return 0;
      const Sound& source = *reinterpret_cast<const Sound*>(wParam);
      if (TryCopy(g_editor.working, source) != kOk) return 0;
      g_editor.open = true;
      SetEditorTitle(hwnd);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && g_editor.open) {
        // Hand the working copy back to the owner, then close.
        HWND owner = GetWindow(hwnd, GW_OWNER);
        if (owner)
          SendMessageW(owner, kMsgSoundEdited, reinterpret_cast<WPARAM>(&g_editor.working),
                       reinterpret_cast<LPARAM>(hwnd));
        CloseEditor(hwnd);
        return 0;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        CloseEditor(hwnd);
        return 0;
      }
      break;
    case WM_CLOSE:
      CloseEditor(hwnd);
      return 0;
    case WM_DESTROY:
      g_editor.working = Sound();
      g_editor.open = false;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK WaveformViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool SoundEditorPreTranslate(MSG& msg) {
  HWND editor = App().editorWindow;
  if (!editor || !IsWindowVisible(editor)) return false;
  return IsDialogMessageW(editor, &msg) != FALSE;
}

}  // namespace tavrin
