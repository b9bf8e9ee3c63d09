// The application as a whole: its title, the start-up sequence with its
// failure reports, the single-instance rule with the hand-over to a running
// instance, and the message loop.
#pragma once

#include <windows.h>

#include "app/main_logic.h"
#include "card/document.h"

namespace tavrin {

inline constexpr wchar_t kMainWindowClass[] = L"TavrinMain";
inline constexpr wchar_t kSoundEditorClass[] = L"TavrinSoundEditor";
inline constexpr wchar_t kWaveformViewClass[] = L"ZtWaveformView";
inline constexpr wchar_t kBankManagerClass[] = L"TavrinBankMgr";

// Fixed GUID of this program's single-instance mutex.
inline constexpr wchar_t kInstanceMutexName[] = L"Global\\{6E2B7A41-93C5-4F0D-8B1A-3D5C72E9A604}";

// Messages between the windows.
inline constexpr UINT kMsgEditSound = WM_USER + 1;     // to the editor: wParam = Sound*; answers 1 when opened
// To the owner: wParam = edited copy, lParam = editor; answers 0 when it could not take it (no memory).
inline constexpr UINT kMsgSoundEdited = WM_USER + 101;
inline constexpr UINT kMsgEditorClosed = WM_USER + 103;  // posted to the owner when the editor has closed

// The windows and texts of this run.
struct Application {
  HINSTANCE instance = nullptr;
  AppTitle title;
  HWND mainWindow = nullptr;
  HWND editorWindow = nullptr;
  HWND bankManagerWindow = nullptr;
  HACCEL accelerators = nullptr;
  // The card-file named on the command line, loaded by the main window's
  // creation (empty when none).
  Utf16Text<1024> startupPath;
};
Application& App();

// The one card being edited.
CardDocument& TheDocument();

// Reads a string of the version resource (under its first translation).
bool ReadVersionString(const wchar_t* name, Utf16Text<64>& out);

// Builds App().title from the version resource ("Tavrin v2.1.0").
void BuildApplicationTitle();

// Shows "Can't Initialize '<what>'!..." and returns 1.
int ReportInitFailure(const wchar_t* what);

// Message box with the application title as caption.
int AppMessageBox(HWND owner, const wchar_t* text, UINT type);

// Initialises common controls, OLE and GDI+, registers the four window
// classes and loads the accelerators. On failure reports it and returns false.
bool InitializeApplication(HINSTANCE instance);

// Creates the main window and the hidden sound editor; false after the
// "Main Window" report.
bool CreateApplicationWindows(int showCommand);

// Runs the message loop until the quit message; returns its code.
int RunMessageLoop();

// The second-instance path: hands the command line's card-file to the
// running instance. Returns the exit code.
int HandOverToRunningInstance();

// Window procedures of the four classes.
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SoundEditorWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WaveformViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK BankManagerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The sound editor's look at every message of the loop (its key hook and
// dialog keyboard handling); true when the message was consumed.
bool SoundEditorPreTranslate(MSG& msg);

// Takes the card-file path from the process's command line into
// App().startupPath (exactly one argument after the program).
void ReadCommandLinePath();

// The whole entry point.
int RunApplication(HINSTANCE instance, int showCommand);

}  // namespace tavrin
