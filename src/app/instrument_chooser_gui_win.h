// The instrument chooser ("TavrinInstrumentChooser"): a SoundFont 2 or SFZ
// file dropped on the main window, or chosen through the sound editor's "+",
// lists its presets with their zones and
// card bytes and a velocity; "Add" puts the chosen one on the card as a new
// Multisound and says so in the main window's status line.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "base/text.h"

namespace tavrin {

inline constexpr wchar_t kInstrumentChooserClass[] = L"TavrinInstrumentChooser";

// Whether a path names an .sf2 or .sfz file (by its extension, any case).
bool IsInstrumentPath(Utf16View path);

// The first .sf2 or .sfz file of a shell drop; false when none.
bool FirstInstrumentFile(HDROP drop, Utf16Text<261>& out);

// Opens the chooser for the file (replacing one already open). The file is
// read at once; one that cannot be read is reported in a message box.
void OpenInstrumentChooser(HWND owner, Utf16View path);

// The open chooser window, or nullptr.
HWND InstrumentChooserWindow();

}  // namespace tavrin
