// The seam view ("TavrinSeamView"): what playback does where End joins
// Loop. The frames just before End run on into the frames from Loop, over a
// few milliseconds at the view's own zoom (the wheel changes it), with the
// sample's own continuation past End drawn faintly behind; its window text
// is the seam error in dB, measured as `tavrin analyze` measures it.
#pragma once

#include <windows.h>

#include "editor/editor_tools.h"

namespace tavrin {

inline constexpr wchar_t kSeamViewClass[] = L"TavrinSeamView";

// Registers the class (once); false when it cannot be.
bool RegisterSeamView();

// wParam = the SampleData to show (0 for none; kept until the next message,
// so the owner sends 0 before it frees or moves its frames), lParam: bit 0
// when its frames are new (their pitch is measured again), bit 1 when its
// loop is off (no seam is played: none is shown).
inline constexpr UINT kSeamSetSample = WM_USER + 1;
inline constexpr LPARAM kSeamNewFrames = 1;
inline constexpr LPARAM kSeamLoopOff = 2;
// Answers the const SeamView* shown, or 0 when there is no seam to show.
inline constexpr UINT kSeamGetView = WM_USER + 2;

// "Seam error -41.2 dB" (one decimal, as `tavrin analyze` prints it), or
// what stands in its place.
void SeamErrorText(bool shown, double errorDb, wchar_t* out, std::size_t capacity, bool loopOff = false);

}  // namespace tavrin
