// The sound editor's keyboard strip ("TavrinKeyboardStrip"): the 128 notes
// side by side (scrolled horizontally), above them each sample's zone as the
// card maps it in a colour of its own with its root marked, the current
// sample's zone outlined. A click on a key plays the Sound at that note until
// the button is let go; a click on a zone makes its sample current; dragging
// a zone's right edge moves that sample's top key. With the focus, two rows
// of the computer keyboard play (Z S X D C V G B H N J M from C, Q 2 W 3 E R
// 5 T 6 Y 7 U I an octave higher), Left and Right shift the octave.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tavrin {

inline constexpr wchar_t kKeyboardStripClass[] = L"TavrinKeyboardStrip";

// Registered once, before the editor creates its controls.
bool RegisterKeyboardStripClass(HINSTANCE instance);

// To the strip: the zones or the current sample changed (repaints).
inline constexpr UINT kStripRefresh = WM_USER + 1;
// To the strip: wParam = note; lParam = 0 the column's left x, 1 its right
// x, 2 the zone band's middle y, 3 the keys' middle y (client pixels, after
// scrolling the note into view). For tests and the mouse alike.
inline constexpr UINT kStripNotePoint = WM_USER + 2;

// The lowest note the computer keyboard's lower row plays (C3 at the start).
std::int32_t StripKeyboardBase();

}  // namespace tavrin
