// The OLE drop target the windows register for the shell's file lists: each
// drag step goes to the window's handler, which answers whether it takes the
// files (the copy effect) or not.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include "base/text.h"

namespace tavrin {

enum class DropStep : int { Enter = 0, Over = 1, Leave = 2, Drop = 3 };
// `files` is nullptr for Leave and whenever the data holds no file list.
using FileDropHandler = bool (*)(DropStep step, HDROP files);

// A target holding one reference; nullptr without memory.
IDropTarget* CreateFileDropTarget(FileDropHandler handler);

// The first file of the list that `accept` takes; false when none does.
bool FirstDroppedFile(HDROP drop, bool (*accept)(Utf16View path), Utf16Text<261>& out);

}  // namespace tavrin
