#include "audio/import.h"

#include <cmath>
#include <utility>

#include "base/alloc.h"
#include "audio/readers.h"
#include "audio/resampler.h"

namespace tavrin {
namespace {

constexpr std::size_t kMaxNameBytes = 260;
constexpr std::size_t kParameterBlockSize = 28;
// A converted sample is refused as out of memory beyond 2^28 frames (1 GiB of
// floats, over two hours at the card's rate): a tiny file that states a rate
// of a few hertz must not ask for terabytes.
constexpr std::uint64_t kMaxConvertedFrames = std::uint64_t{1} << 28;
// The highest source rate the import takes: 768 kHz, the highest rate that
// PCM recordings use. Above it, and at any rate whose conversion filter the
// resampler will not build (odd rates of a few hundred kHz), the file is
// refused as unsupported rather than failing for lack of memory.
constexpr std::uint32_t kMaxSourceRate = 768000;

// Note numbers from files are not trusted: anything above 127 is taken as
// 127, so a note never indexes past the NoteTable.
std::uint8_t ClampNote(std::uint32_t note) { return static_cast<std::uint8_t>(note > 127 ? 127 : note); }

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void SetDefaultMarkers(SampleData& s, SoundType type) {
  const std::int64_t n = s.frameCount();
  s.markers.start = 0;
  s.markers.end = n;
  s.markers.loop = type == SoundType::Drumsound ? n - 5 : n / 2;
}

void ApplySmpl(SampleData& s, const DecodedAudio& a, bool fromWav) {
  s.rootNote = ClampNote(a.unityNote);
  s.transpose = static_cast<std::int8_t>(static_cast<std::uint8_t>(a.pitchFraction & 0xFF));
  if (!a.loops.empty()) {
    const SmplLoop& first = a.loops.front();
    s.markers.loop = first.start;
    s.markers.end = first.end;
    s.loopFlags = first.type == 1 ? (LoopFlags::kForward | LoopFlags::kForwardBackward) : LoopFlags::kForward;
    // The loop is on whenever flags are set, with or without a parameter block.
    s.loopOn = true;
  }
  if (a.samplerData.size() == kParameterBlockSize) {
    const std::vector<std::uint8_t>& p = a.samplerData;
    s.topKey = ClampNote(p[0]);
    std::uint32_t flags = Le32(p, 4);
    if (fromWav && flags == LoopFlags::kForwardBackward) flags = LoopFlags::kForward;
    s.loopFlags = flags;
    s.loopOn = flags != 0;
    s.nonTranspose = Le32(p, 8) != 0;
    s.markers.start = static_cast<std::int64_t>(Le32(p, 12));
    s.level = static_cast<std::int8_t>(static_cast<std::uint8_t>(p[16]));
    s.vdfCutoff = static_cast<std::int8_t>(static_cast<std::uint8_t>(p[20]));
    s.decayLevel = static_cast<std::int8_t>(static_cast<std::uint8_t>(p[24]));
  }
}

void ApplyInst(SampleData& s, const DecodedAudio& a) {
  s.rootNote = ClampNote(a.instRootNote);
  s.topKey = ClampNote(a.instTopKey);
  s.transpose = a.instDetune;
  const std::uint32_t mode = a.sustainLoop.playMode;
  s.loopFlags = mode == 1 ? LoopFlags::kForward
                : mode == 2 ? (LoopFlags::kForward | LoopFlags::kForwardBackward)
                            : 0;
  s.loopOn = s.loopFlags != 0;
  if (s.loopFlags != 0) {
    s.markers.loop = a.sustainLoop.begin;
    s.markers.end = a.sustainLoop.end;
  }
}

bool MarkerBeyond(std::int64_t marker, std::int64_t frameCount) {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(marker)) > static_cast<std::uint64_t>(frameCount);
}

// Backward pass of one note name over a byte string (see RootNoteFromName).
bool NoteNameFound(Utf8View s, Utf8View note) {
  const std::size_t length = note.size();
  if (length == 0) return false;
  std::size_t m = length;
  for (std::size_t i = s.size(); i-- > 0;) {
    if (s[i] == note[m - 1]) {
      if (--m == 0) return true;
    } else {
      m = length;
    }
  }
  return false;
}

std::optional<NoteEntry> FirstNoteIn(Utf8View s) {
  for (const NoteEntry& e : NoteTable()) {
    if (NoteNameFound(s, e.name.view())) return e;
  }
  return std::nullopt;
}

// The position of the last `c` among bytes [0, end), or npos.
std::size_t LastBefore(Utf8View text, std::size_t end, bool (*match)(char)) {
  for (std::size_t i = end; i-- > 0;) {
    if (match(text[i])) return i;
  }
  return Utf8View::npos;
}

bool IsDot(char c) { return c == '.'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ExtensionIs(Utf8View ext, Utf8View lower) {
  if (ext.size() != lower.size()) return false;
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (LowerAscii(ext[i]) != lower[i]) return false;
  }
  return true;
}

}  // namespace

Utf8View SampleNameFromPath(Utf8View path) {
  if (path.empty()) return Utf8View();
  // The path's last byte is not examined.
  const std::size_t sep = LastBefore(path, path.size() - 1, IsPathSeparator);
  if (sep == Utf8View::npos) return Utf8View();
  Utf8View part = path.substr(sep + 1);
  if (!part.empty()) {
    const std::size_t dot = LastBefore(part, part.size() - 1, IsDot);
    if (dot != Utf8View::npos) part = part.substr(0, dot);
  }
  return part.substr(0, CutUtf8(part, kMaxNameBytes));
}

ReaderChoice ReaderForPath(Utf8View path) {
  if (path.empty()) return ReaderChoice::kNone;
  const std::size_t dot = LastBefore(path, path.size() - 1, IsDot);
  if (dot == Utf8View::npos) return ReaderChoice::kNone;
  const Utf8View ext = path.substr(dot + 1);
  if (ExtensionIs(ext, "wav")) return ReaderChoice::kWav;
  if (ExtensionIs(ext, "aif") || ExtensionIs(ext, "aiff") || ExtensionIs(ext, "aifc")) return ReaderChoice::kAiff;
  if (ExtensionIs(ext, "mp3")) return ReaderChoice::kMediaReader;
  if (ExtensionIs(ext, "flac")) return ReaderChoice::kFlac;
  return ReaderChoice::kNone;
}

std::optional<NoteEntry> RootNoteFromName(Utf8View name) {
  if (name.size() <= 4) return FirstNoteIn(name);
  // Windows of four bytes, from the one ending at the last byte backwards.
  for (std::size_t start = name.size() - 4 + 1; start-- > 0;) {
    if (auto note = FirstNoteIn(name.substr(start, 4))) return note;
  }
  return std::nullopt;
}

Result ImportDecoded(Sound& sound, Utf8View name, DecodedAudio& audio, bool fromWav) {
  // Every step below divides by the rate.
  if (audio.sampleRate == 0) return kBadFormat;
  if (audio.sampleRate > kMaxSourceRate || !ResamplerCanConvert(audio.sampleRate, kCardRate)) return kBadFormat;
  // A file that gives no sound (no data, damaged from its first frame) is
  // not a sample.
  if (audio.frames.empty()) return kTooMuchData;
  SampleData s;
  s.frames = std::move(audio.frames);
  audio.frames.clear();
  SetDefaultMarkers(s, sound.soundType);

  bool informed = false;
  if (audio.hasSmpl) {
    ApplySmpl(s, audio, fromWav);
    informed = true;
  }
  if (audio.hasInst) {
    ApplyInst(s, audio);
    informed = true;
  }
  if (informed) {
    const std::int64_t n = s.frameCount();
    // Markers out of order (a file loop that starts after its end, a start
    // past the end) would make a sample the card cannot hold: back to the
    // defaults as for markers beyond the frames.
    if (MarkerBeyond(s.markers.start, n) || MarkerBeyond(s.markers.loop, n) || MarkerBeyond(s.markers.end, n) ||
        s.markers.loop > s.markers.end || s.markers.start > s.markers.end) {
      SetDefaultMarkers(s, sound.soundType);
    }
  }

  s.name.assign(name);

  const std::uint32_t rate = audio.sampleRate;
  if (rate != kCardRate) {
    const std::uint64_t count = static_cast<std::uint64_t>(s.frames.size()) * kCardRate / rate;
    if (count > kMaxConvertedFrames) return kOutOfMemory;
    if (count == 0) return kTooMuchData;  // shorter than one frame at the card's rate
    std::vector<float> converted;
    if (Result r = TryResize(converted, static_cast<std::size_t>(count))) return r;
    if (Result r = Resampler(s.frames.data(), s.frames.size(), rate, converted.data(), count, kCardRate)) return r;
    s.frames.swap(converted);
    const std::int64_t card = kCardRate;
    const std::int64_t source = rate;
    s.markers.start = s.markers.start * card / source;
    s.markers.loop = s.markers.loop * card / source;
    s.markers.end = s.markers.end * card / source;
  }

  // Normalise to -0.1 dBFS from the peak measured before rate conversion.
  const double gain = std::pow(10.0, -0.1 / 20.0);
  const float magnitude = std::fabs(audio.peak);
  if (static_cast<double>(magnitude) >= 0.01) {
    const float factor = static_cast<float>(gain / static_cast<double>(magnitude));
    for (float& f : s.frames) f = f * factor;
  }

  if (informed) {
    AutomaticTranspose(s);
  } else if (const std::optional<NoteEntry> note = RootNoteFromName(s.name.view())) {
    s.rootNote = note->number;
    s.topKey = static_cast<std::uint8_t>(note->number + 11 > 127 ? 127 : note->number + 11);
    AutomaticTranspose(s);
  }

  if (Result r = TryPushBack(sound.samples, std::move(s))) return r;
  return kOk;
}

Result ReadSampleByExtension(Utf8View path, DecodedAudio& audio, bool& fromWav) {
  const ReaderChoice reader = ReaderForPath(path);
  fromWav = reader == ReaderChoice::kWav;
  switch (reader) {
    case ReaderChoice::kWav: return ReadWav(path, audio);
    case ReaderChoice::kAiff: return ReadAiff(path, audio);
    case ReaderChoice::kFlac: return ReadFlac(path, audio);
    case ReaderChoice::kMediaReader: return ReadWithMediaReader(path, audio);
    case ReaderChoice::kNone: break;
  }
  return kBadFormat;
}

Result ImportSampleFile(Sound& sound, Utf8View path) {
  DecodedAudio audio;
  bool fromWav = false;
  if (Result r = ReadSampleByExtension(path, audio, fromWav)) return r;
  return ImportDecoded(sound, SampleNameFromPath(path), audio, fromWav);
}

}  // namespace tavrin
