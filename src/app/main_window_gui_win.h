// The main window ("TavrinMain"): the card name, the two sound lists, the card
// figures, the send-to-card controls and the File and Help menus.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <cstddef>

#include "app/framework_gui_win.h"
#include "app/main_logic.h"
#include "card/document.h"

namespace tavrin {

// Rows of the main window's control table.
namespace MainRow {
inline constexpr std::size_t kCardNameLabel = 0;
inline constexpr std::size_t kCardName = 1;
inline constexpr std::size_t kMultiLabel = 2;
inline constexpr std::size_t kMultiList = 3;
inline constexpr std::size_t kMultiAdd = 4;
inline constexpr std::size_t kMultiRemove = 5;
inline constexpr std::size_t kDrumLabel = 6;
inline constexpr std::size_t kDrumList = 7;
inline constexpr std::size_t kDrumAdd = 8;
inline constexpr std::size_t kDrumRemove = 9;
inline constexpr std::size_t kSampleCount = 12;
inline constexpr std::size_t kCardSize = 14;
inline constexpr std::size_t kFreeMemory = 16;
inline constexpr std::size_t kDeviceCombo = 18;
inline constexpr std::size_t kSend = 19;
inline constexpr std::size_t kBankManager = 20;
inline constexpr std::size_t kBankEdit = 22;
inline constexpr std::size_t kBankUpDown = 23;
inline constexpr std::size_t kProgress = 24;
inline constexpr std::size_t kStatus = 25;
inline constexpr std::size_t kCount = 26;
}  // namespace MainRow

// The main window's control table (valid while the window exists).
ControlSpec* MainControlTable();
HWND MainControl(std::size_t row);
// The DPI the main window lays out for.
void MainWindowDpi(std::int32_t& dpiX, std::int32_t& dpiY);

// The main window's OLE drop target (registered with the window).
IDropTarget* MainWindowDropTarget();

// The current card-file path (empty for an unnamed card).
Utf8Text<260>& CurrentCardPath();

// Rewrites every control from the document.
void RefreshMainWindow();
// Title only.
void UpdateMainTitle();
// "Sample Count:", "Card Size:" and "Free Memory:" (red while negative).
void UpdateCardFigures();

// --- Card-file commands (card_file_gui_win.cpp) ----------------------------------

void CommandNew();
void CommandOpen();
void CommandSave();
void CommandSaveAs();
// A card-file handed over by a second instance, dropped, or named on the
// command line.
enum class PathSource { CommandLine, SecondInstance, Dropped };
void CommandOpenPath(Utf8View path, PathSource source);
// The same for a path in UTF-16: a path too long to keep is reported, never cut.
void CommandOpenPath16(Utf16View path, PathSource source);
// Closing the main window: prompts when modified.
void CommandClose();
// Load step: load, report, refresh, select the first entries, focus.
void LoadStep(Utf8View path);

}  // namespace tavrin
