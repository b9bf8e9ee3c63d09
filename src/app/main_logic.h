// The decisions of the Windows application that do not need a window: titles,
// the size display, sound naming, list selection after changes, drag targets,
// the save-changes prompt with its pending action, DPI scaling and the checks
// on data handed over by another process. The *_gui_win.cpp files only carry
// these out with the platform's windows.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"

namespace tavrin {

// --- Titles and texts ----------------------------------------------------------

using AppTitle = Utf16Text<64>;
using WindowTitle = Utf16Text<256>;

// "<product> v<major>.<minor>.<build>" from the product name and the two
// product-version words of the version resource.
AppTitle BuildAppTitle(Utf16View productName, std::uint32_t productVersionMS, std::uint32_t productVersionLS);

// The main window's title: the application title, " - ", the card-file's name
// without folder and extension (or "Unnamed" without a path), "*" when modified.
WindowTitle BuildMainTitle(Utf16View appTitle, Utf8View cardPath, bool modified);

// "Can't Initialize '<what>'!\n\nApplication will Exit".
Utf16Text<256> InitFailureText(Utf16View what);

// "Can't load the card-file\n\n" followed by the reason (LoadFailureReason),
// and the file's path on a line of its own when one is given: the path may
// have come from a drop or a second start.
using MessageText = Utf16Text<512>;
MessageText LoadFailureText(Utf8View reason, Utf16View path = {});

// "Can't save the card-file", then why: the builder's refusal naming the sound
// and sample, or words for the file layer's result.
MessageText SaveFailureText(Result result, Utf8View refusal);

// The status line after a save that left out sounds without samples:
// "2 sounds without samples were not saved"; empty for 0.
Utf16Text<64> LeftOutText(std::size_t sounds);

inline constexpr char16_t kSaveFailedText[] = u"Can't save the card-file";
// The reason shown for a path whose UTF-8 form would not fit the 260 bytes a
// path is kept in (cutting it would name another file).
inline constexpr char kPathTooLongReason[] = "The path is too long";
inline constexpr char16_t kSavePromptText[] =
    u"Do you want to save the changes you made in the card-file?\n\n"
    u"Your changes will be lost if you don\u2019t save them.";

// "OK" in the sound editor when the card had no memory for the edited sound.
inline constexpr char16_t kHandBackFailedText[] =
    u"There is not enough memory to hand the sound back to the card\n\n"
    u"The editor stays open: close other programs and press OK again.";
// A card-file dropped or handed over while the sound editor is open.
inline constexpr char16_t kCardWaitsText[] =
    u"The card-file will open once the sound is finished.\n\nPress Cancel not to open it.";

// The name of a sound added to a list that now holds `count` sounds:
// "Multi <count>" or "Drum <count>", cut to 10 bytes.
SoundName NewSoundName(SoundType type, std::size_t count);

// --- Size display ----------------------------------------------------------------

struct CardFigures {
  Utf16Text<32> sampleCount;
  Utf16Text<32> cardSize;
  Utf16Text<32> freeMemory;
  bool freeNegative = false;  // drawn in red
};

CardFigures FormatCardFigures(const CardStatistics& stats, std::uint32_t cardCapacity);

inline constexpr std::uint32_t kFreeMemoryNegativeColour = 0x0000FF;  // RGB(255, 0, 0)

// --- Lists -----------------------------------------------------------------------

// Index to select after removing item `removed`: one above it, 0 for the first.
std::size_t SelectionAfterRemove(std::size_t removed);

// Where a dragged sound goes when dropped on item `hit`: -1 when nothing moves.
std::ptrdiff_t DragDropTarget(std::ptrdiff_t dragged, std::ptrdiff_t hit);

// A drag may start only on an item of a list of at least two items.
bool DragMayBegin(std::ptrdiff_t hit, std::size_t itemCount);

// "Clear Selected Bank" for fewer than two rows, "Clear Selected Banks" otherwise.
Utf16View ClearButtonCaption(std::size_t selectedRows);

// --- Save-changes prompt -------------------------------------------------------------

enum class PendingAction : std::uint32_t { None = 0, New, Open, OpenPath, Close };
enum class PromptAnswer : std::uint32_t { Yes = 0, No, Cancel };
// What became of the save asked for by "Yes".
enum class SaveOutcome : std::uint32_t { Saved = 0, Failed, Cancelled };

// One pending action at a time: set when a command meets a modified document,
// consumed by "No" or by the end of the save that "Yes" asked for, dropped by
// "Cancel". A save that fails or is cancelled drops the action as well, so the
// window and the modified document stay as they are.
class PendingActionState {
 public:
  void Set(PendingAction action) { pending_ = action; }
  PendingAction pending() const { return pending_; }

  // "No": the action to carry out now (the caller clears `modified` first).
  // "Cancel": None. "Yes": None for now; call AfterSave once the save ended.
  PendingAction Answer(PromptAnswer answer);
  // The action to carry out after the save of a "Yes": only after a save
  // that succeeded.
  PendingAction AfterSave(SaveOutcome outcome);

 private:
  PendingAction pending_ = PendingAction::None;
};

// --- DPI ---------------------------------------------------------------------------

struct PixelRect {
  std::int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRect&) const = default;
};

// Scales a value in 1/96-inch units to pixels: value * dpi / 96, products in
// 64 bits, truncating toward zero.
std::int32_t ScaleToDpi(std::int32_t units, std::int32_t dpi);
PixelRect ScaleRectToDpi(std::uint16_t x, std::uint16_t y, std::uint16_t width, std::uint16_t height,
                         std::int32_t dpiX, std::int32_t dpiY);
// A control whose caption needs `needed` pixels is widened to hold it: a
// right-aligned label grows to the left, a centred one to both sides, any
// other control to the right (the fields beside it stay where they are).
enum class CaptionAlign : std::uint32_t { Left = 0, Centre, Right };
PixelRect GrowToFit(PixelRect r, std::int32_t needed, CaptionAlign align);
// Font height for `points` at `dpiY`: -(points * dpiY / 72), truncated.
std::int32_t FontHeightForDpi(std::int32_t points, std::int32_t dpiY);

// --- Hand-over between instances ------------------------------------------------------

inline constexpr std::uint64_t kHandOverId = 1;
// The longest path a hand-over may carry, in UTF-16 units.
inline constexpr std::uint32_t kHandOverMaxUnits = 1024;

// Checks a copy-data message from another process: identifier 1, data
// present, a length of at least one and at most kHandOverMaxUnits units. On
// success `path` views cbData / 2 units at `data` (never more).
bool AcceptHandOver(std::uint64_t id, std::uint32_t cbData, const void* data, Utf16View& path);

// A card-file that arrives, dropped on the main window or handed over by a
// second instance, is kept and opened later from a posted message: never
// inside the drop or the hand-over, where a box would hold the other program.
// While the sound editor is open the card must not change under it: the user
// is asked once whether it opens when the editor has closed.
class ArrivingCardFile {
 public:
  enum class Next : std::uint32_t { Nothing = 0, Open, Ask };
  // Keeps the path; a later arrival replaces an earlier one.
  void Arrive(Utf16View path, bool handedOver);
  // What to do now: Open (the path and how it came stay until Clear), Ask
  // while the editor is open (then Answer), Nothing when no path waits, it
  // waits for the editor, or the question is being asked.
  Next Take(bool editorOpen);
  // The user's answer: wait for the editor to close, or forget the path.
  void Answer(bool wait);
  void Clear() { state_ = State::None; }
  Utf16View path() const { return path_.view(); }
  bool handedOver() const { return handedOver_; }

 private:
  enum class State : std::uint32_t { None, Arrived, Asking, Waiting };
  State state_ = State::None;
  Utf16Text<kHandOverMaxUnits> path_;
  bool handedOver_ = false;
};

// The command line names a card-file when it splits into exactly two
// arguments (the program and the path).
inline bool CommandLineHasPath(int argumentCount) { return argumentCount == 2; }

// --- Card-files -----------------------------------------------------------------------

// True when the text after the last "." of the name is "qz" in any case.
bool HasCardFileExtension(Utf8View path);
bool HasCardFileExtension16(Utf16View path);

// The folder part of a path including its trailing separator (empty when the
// path has none).
Utf16View FolderOfPath16(Utf16View path);

// The same card-file: equal lengths, letters compared without regard to case.
bool SameCardPath(Utf8View a, Utf8View b);

// --- Transfer and clearing display ----------------------------------------------------

// Column 1 of a bank row from its 20-byte directory entry: the name (bytes
// 4..19 up to the first zero) when bit 0 of byte 0 is set, else "(empty)".
Utf16Text<32> BankRowName(const std::uint8_t* entry, std::size_t entrySize);

}  // namespace tavrin
