// "Fit to Card": the plan that brings the card within the card memory as a
// checklist with the bytes of each step, the card size and free memory as
// steps are ticked, and Apply.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tavrin {

// Plans for the document against its card capacity (in the layout of the
// selected device) and shows the dialog; the owner stays disabled while it
// is open. Apply changes the document (modified, not saved) and refreshes
// the main window.
void ShowFitDialog(HWND owner);

// The dialog while it is open (nullptr otherwise) and its controls.
namespace FitRow {
inline constexpr std::size_t kList = 1;
inline constexpr std::size_t kCardSize = 3;
inline constexpr std::size_t kFreeMemory = 5;
inline constexpr std::size_t kApply = 6;
inline constexpr std::size_t kCancel = 7;
inline constexpr std::size_t kCount = 8;
}  // namespace FitRow
HWND FitDialogWindow();
HWND FitDialogControl(std::size_t row);

}  // namespace tavrin
