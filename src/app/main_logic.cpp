#include "app/main_logic.h"

namespace tavrin {

AppTitle BuildAppTitle(Utf16View productName, std::uint32_t productVersionMS, std::uint32_t productVersionLS) {
  AppTitle title;
  title.assign(productName);
  title.append(u" v");
  title.appendDecimal(static_cast<std::uint32_t>(productVersionMS >> 16));
  title.append(u'.');
  title.appendDecimal(static_cast<std::uint32_t>(productVersionMS & 0xFFFFu));
  title.append(u'.');
  title.appendDecimal(static_cast<std::uint32_t>(productVersionLS >> 16));
  return title;
}

WindowTitle BuildMainTitle(Utf16View appTitle, Utf8View cardPath, bool modified) {
  WindowTitle title;
  title.assign(appTitle);
  title.append(u" - ");
  if (cardPath.empty()) {
    title.append(u"Unnamed");
  } else {
    title.appendUtf8(StemOfFileName(FileNameOfPath(cardPath)));
  }
  if (modified) title.append(u'*');
  return title;
}

Utf16Text<256> InitFailureText(Utf16View what) {
  Utf16Text<256> text;
  text.assign(u"Can't Initialize '");
  text.append(what);
  text.append(u"'!\n\nApplication will Exit");
  return text;
}

MessageText LoadFailureText(Utf8View reason, Utf16View path) {
  MessageText text;
  text.assign(u"Can't load the card-file\n\n");
  if (!path.empty()) {
    text.append(path);
    text.append(u"\n\n");
  }
  text.appendUtf8(reason);
  return text;
}

MessageText SaveFailureText(Result result, Utf8View refusal) {
  MessageText text;
  text.assign(kSaveFailedText);
  const char* reason = nullptr;
  switch (result) {
    case kTooMuchData: reason = "The card is larger than a card-file can be (16 MiB)."; break;
    case kAccessDenied: reason = "Access denied: the file may be read-only or in use."; break;
    case kDiskFull: reason = "The disk is full."; break;
    case kInvalidArgument: reason = "The path is too long."; break;
    case kOutOfMemory: reason = "There is not enough memory."; break;
    case kNotFound: reason = "The folder does not exist."; break;
    default: break;
  }
  if (!refusal.empty()) {
    text.append(u"\n\n");
    text.appendUtf8(refusal);
  } else if (reason != nullptr) {
    text.append(u"\n\n");
    text.appendUtf8(reason);
  }
  return text;
}

Utf16Text<64> LeftOutText(std::size_t sounds) {
  Utf16Text<64> text;
  if (sounds == 0) return text;
  text.appendDecimal(sounds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sounds));
  text.append(sounds == 1 ? u" sound without samples was not saved" : u" sounds without samples were not saved");
  return text;
}

SoundName NewSoundName(SoundType type, std::size_t count) {
  // The whole name is cut to the sound name's 10 bytes.
  Utf8Text<32> full;
  full.assign(type == SoundType::Multisound ? "Multi " : "Drum ");
  full.appendDecimal(count > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(count));
  SoundName name;
  name.assign(full.view());
  return name;
}

CardFigures FormatCardFigures(const CardStatistics& stats, std::uint32_t cardCapacity) {
  CardFigures f;
  const std::int64_t samples = stats.sampleCount;
  f.sampleCount.appendDecimal(samples < 0 ? 0u : samples > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<std::uint32_t>(samples));
  f.cardSize.appendDecimal(stats.cardSize);
  f.cardSize.append(u" Byte");
  std::int64_t free = static_cast<std::int64_t>(cardCapacity) - static_cast<std::int64_t>(stats.cardSize);
  if (free < INT32_MIN) free = INT32_MIN;
  if (free > INT32_MAX) free = INT32_MAX;
  f.freeMemory.appendDecimal(static_cast<std::int32_t>(free));
  f.freeMemory.append(u" Byte");
  f.freeNegative = free < 0;
  return f;
}

std::size_t SelectionAfterRemove(std::size_t removed) { return removed == 0 ? 0 : removed - 1; }

std::ptrdiff_t DragDropTarget(std::ptrdiff_t dragged, std::ptrdiff_t hit) {
  if (dragged < 0 || hit < 0) return -1;
  const std::ptrdiff_t target = dragged < hit ? hit - 1 : hit;
  return target == dragged ? -1 : target;
}

bool DragMayBegin(std::ptrdiff_t hit, std::size_t itemCount) { return hit >= 0 && itemCount >= 2; }

Utf16View ClearButtonCaption(std::size_t selectedRows) {
  return selectedRows < 2 ? Utf16View(u"Clear Selected Bank") : Utf16View(u"Clear Selected Banks");
}

PendingAction PendingActionState::Answer(PromptAnswer answer) {
  switch (answer) {
    case PromptAnswer::No: {
      const PendingAction action = pending_;
      pending_ = PendingAction::None;
      return action;
    }
    case PromptAnswer::Cancel:
      pending_ = PendingAction::None;
      return PendingAction::None;
    case PromptAnswer::Yes:
      break;
  }
  return PendingAction::None;
}

PendingAction PendingActionState::AfterSave(SaveOutcome outcome) {
  const PendingAction action = pending_;
  pending_ = PendingAction::None;
  return outcome == SaveOutcome::Saved ? action : PendingAction::None;
}

std::int32_t ScaleToDpi(std::int32_t units, std::int32_t dpi) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(units) * dpi / 96);
}

PixelRect ScaleRectToDpi(std::uint16_t x, std::uint16_t y, std::uint16_t width, std::uint16_t height,
                         std::int32_t dpiX, std::int32_t dpiY) {
  PixelRect r;
  r.x = ScaleToDpi(x, dpiX);
  r.y = ScaleToDpi(y, dpiY);
  r.width = ScaleToDpi(width, dpiX);
  r.height = ScaleToDpi(height, dpiY);
  return r;
}

std::int32_t FontHeightForDpi(std::int32_t points, std::int32_t dpiY) {
  return -static_cast<std::int32_t>(static_cast<std::int64_t>(points) * dpiY / 72);
}

PixelRect GrowToFit(PixelRect r, std::int32_t needed, CaptionAlign align) {
  const std::int32_t more = needed - r.width;
  if (more <= 0) return r;
  r.width = needed;
  if (align == CaptionAlign::Right) r.x -= more;
  if (align == CaptionAlign::Centre) r.x -= more / 2;
  return r;
}

bool AcceptHandOver(std::uint64_t id, std::uint32_t cbData, const void* data, Utf16View& path) {
  path = Utf16View();
  if (id != kHandOverId || data == nullptr) return false;
  const std::uint32_t units = cbData / 2;
  if (units == 0 || units > kHandOverMaxUnits) return false;
  path = Utf16View(static_cast<const char16_t*>(data), units);
  return true;
}

void ArrivingCardFile::Arrive(Utf16View path, bool handedOver) {
  path_.assign(path);
  handedOver_ = handedOver;
  if (state_ != State::Asking) state_ = State::Arrived;
}

ArrivingCardFile::Next ArrivingCardFile::Take(bool editorOpen) {
  if (state_ == State::None || state_ == State::Asking) return Next::Nothing;
  if (!editorOpen) return Next::Open;
  if (state_ == State::Waiting) return Next::Nothing;
  state_ = State::Asking;
  return Next::Ask;
}

void ArrivingCardFile::Answer(bool wait) {
  if (state_ == State::Asking) state_ = wait ? State::Waiting : State::None;
}

bool HasCardFileExtension(Utf8View path) {
  const Utf8View name = FileNameOfPath(path);
  const std::size_t dot = name.rfind('.');
  if (dot == Utf8View::npos) return false;
  return EqualUtf8NoCase(name.substr(dot + 1), "qz");
}

bool HasCardFileExtension16(Utf16View path) {
  Utf8Text<260> p;
  // Only the end of the path matters: take the last units that fit.
  if (path.size() > 200) path = path.substr(path.size() - 200);
  p.assignUtf16(path);
  return HasCardFileExtension(p.view());
}

Utf16View FolderOfPath16(Utf16View path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    const char16_t c = path[i - 1];
    if (c == u'\\' || c == u'/') return path.substr(0, i);
  }
  return Utf16View();
}

bool SameCardPath(Utf8View a, Utf8View b) { return EqualUtf8NoCase(a, b); }

Utf16Text<32> BankRowName(const std::uint8_t* entry, std::size_t entrySize) {
  Utf16Text<32> text;
  if (entry == nullptr || entrySize < 20 || (entry[0] & 1u) == 0) {
    text.assign(u"(empty)");
    return text;
  }
  std::size_t n = 0;
  while (n < 16 && entry[4 + n] != 0) ++n;
  text.assignUtf8(Utf8View(reinterpret_cast<const char*>(entry + 4), n));
  return text;
}

}  // namespace tavrin
