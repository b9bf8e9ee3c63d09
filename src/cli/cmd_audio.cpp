// Sample commands: add (import files into a new sound of a card-file),
// export (a sound's samples as WAV files), import (one import as JSON),
// analyze (a file's pitch and loop candidates).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/export.h"
#include "audio/import.h"
#include "audio/loop_search.h"
#include "audio/pitch.h"
#include "audio/sfz.h"
#include "card/card_file.h"
#include "cli/cli.h"
#include "cli/json.h"

namespace tavrin::cli {

// The import names a sample after the file-name part of an absolute path, so
// relative paths are completed first. The text stays UTF-8 on every system.
std::string AbsolutePath(std::string_view path) {
  std::error_code ec;
  const std::filesystem::path p(std::u8string(path.begin(), path.end()));
  const std::filesystem::path full = std::filesystem::absolute(p, ec);
  if (ec) return std::string(path);
  const std::u8string u8 = full.u8string();
  return std::string(u8.begin(), u8.end());
}

namespace {

std::string LoadError(Result code) {
  std::string s = "can't load the card-file: ";
  s += LoadFailureReason(code);
  s += " (";
  s += FileErrorText(code);
  s += ")";
  return s;
}

std::string SaveError(Result code, const SaveReport& outcome) {
  std::string s = "can't save the card-file: ";
  if (!outcome.refusal.empty()) {
    s += outcome.refusal.view();
  } else if (code == kTooMuchData) {
    s += "the card would be larger than a card-file can be (16 MiB)";
  } else {
    s += FileErrorText(code);
  }
  return s;
}

bool ParseSoundKind(std::string_view flag, SoundType& type) {
  if (flag == "--multi") {
    type = SoundType::Multisound;
    return true;
  }
  if (flag == "--drum") {
    type = SoundType::Drumsound;
    return true;
  }
  return false;
}

}  // namespace

// Crossfade lengths: "auto" or 1 ms to 1 s, in card frames.
bool ParseCrossfade(std::string_view text, AddAnalysis& want) {
  if (text == "auto") {
    want.crossfadeAuto = true;
    return true;
  }
  std::int64_t& frames = want.crossfadeFrames;
  unsigned long long ms = 0;
  if (!ParseUnsigned(text, ms) || ms == 0 || ms > 1000) return false;
  frames = static_cast<std::int64_t>(ms) * kCardRate / 1000;
  return true;
}

bool TakeAnalysisOption(const std::vector<std::string_view>& args, std::size_t& i, AddAnalysis& want, bool& bad) {
  const std::string_view a = args[i];
  const bool hasValue = i + 1 < args.size();
  if (a == "--detect-root") {
    want.detectRoot = true;
  } else if (a == "--find-loop") {
    want.findLoop = true;
    if (hasValue && (args[i + 1] == "natural" || args[i + 1] == "compact")) {
      want.preference = args[++i] == "compact" ? LoopPreference::kCompact : LoopPreference::kNatural;
    }
  } else if (a == "--crossfade") {
    bad = !hasValue || !ParseCrossfade(args[++i], want);
  } else {
    return false;
  }
  return true;
}

namespace {

// The pitch of a sample and, when asked, its loop candidates (in the region
// from the end of its attack to its end marker).
Result Analyze(const SampleData& s, bool loops, LoopPreference preference, PitchEstimate& pitch,
               std::vector<LoopCandidate>& found) {
  found.clear();
  if (Result r = DetectPitch(s.frames.data(), s.frames.size(), kCardRate, pitch)) return r;
  if (!loops) return kOk;
  LoopSearchOptions options;
  options.to = s.markers.end;
  options.period = pitch.pitched ? kCardRate / pitch.frequency : 0.0;
  options.preference = preference;
  options.maxCandidates = 6;
  return FindLoops(s.frames.data(), s.frames.size(), options, found);
}

}  // namespace

// Applies --find-loop, --crossfade and --detect-root to a freshly imported
// sample; what could not be done is said on standard output.
Result ApplyAnalysis(SampleData& s, const AddAnalysis& want, std::string_view file) {
  PitchEstimate pitch;
  std::vector<LoopCandidate> found;
  if (Result r = Analyze(s, want.findLoop, want.preference, pitch, found)) return r;
  const int width = static_cast<int>(file.size());
  if (want.findLoop) {
    if (found.empty()) {
      std::printf("%.*s: no loop found; the sample keeps its loop settings\n", width, file.data());
    } else {
      ApplyLoop(s, found.front());
      if (want.crossfadeFrames > 0) CrossfadeLoop(s, want.crossfadeFrames);
      if (want.crossfadeAuto) CrossfadeLoopAuto(s);
      AutomaticTranspose(s);  // as the import does for a file's loop
    }
  }
  if (want.detectRoot && !ApplyPitch(s, pitch)) {
    std::printf("%.*s: no pitch found (noise or a drum?); the root note stays as it was\n", width, file.data());
  }
  return kOk;
}

// Key zones from the roots --detect-root found: each sample up to the key
// halfway to the next higher root, the highest up to 127, so that every key
// plays the sample nearest it (the import's top key, 96 or a named root + 11,
// would leave the lowest sample playing keys meant for the others). Samples
// of one root share their zone; the first of them plays it.
void ZonesFromRoots(Sound& sound) {
  for (SampleData& s : sound.samples) {
    int next = 128;
    for (const SampleData& t : sound.samples) {
      if (t.rootNote > s.rootNote) next = std::min<int>(next, t.rootNote);
    }
    s.topKey = static_cast<std::uint8_t>(next == 128 ? 127 : (s.rootNote + next - 1) / 2);
  }
}

// How long `add` waits for another program updating the same card-file.
constexpr unsigned kLockWaitMs = 10000;

int AddSounds(std::string_view cardPath, std::vector<Sound>& sounds) {
  // Held from load to save, so that two programs adding to the same card
  // take turns instead of one losing the other's sound.
  FileUpdateLock lock;
  if (Result r = lock.Acquire(cardPath, kLockWaitMs)) {
    if (r == kNotSupported) return Fail(cardPath, "another program is updating this card-file; try again later");
    return Fail(cardPath, std::string("can't lock the card-file: ") + FileErrorText(r));
  }
  CardDocument doc;
  const Result loaded = LoadCardFile(cardPath, doc);
  if (loaded == kNotFound) {
    doc.Reset();  // a new card-file
  } else if (loaded != kOk) {
    return Fail(cardPath, LoadError(loaded));
  }
  for (Sound& sound : sounds) {
    std::vector<Sound>& list = sound.soundType == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
    if (TryPushBack(list, std::move(sound)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
  }
  doc.modified = true;
  SaveReport outcome;
  if (Result r = SaveCardFile(cardPath, doc, &outcome)) return Fail(cardPath, SaveError(r, outcome));
  return 0;
}

int CmdAdd(const Args& args) {
  constexpr const char* kUsage =
      "add CARD.qz (--multi NAME FILE... | --drum NAME FILE) [--keep-going] [--detect-root] [--find-loop [natural|compact] [--crossfade auto|MS]]";
  for (std::string_view a : args) {
    if (a == "--from" || a == "--drums") return AddInstrument(args);
  }
  // Every option is checked before anything is read or written.
  bool keepGoing = false;
  AddAnalysis want;
  Args rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    if (a == "--keep-going") {
      keepGoing = true;
    } else if (bool bad = false; TakeAnalysisOption(args, i, want, bad)) {
      if (bad) return Usage(kUsage);
    } else if (rest.size() != 1 && a.starts_with("--")) {
      return Usage(kUsage);
    } else if (TryPushBack(rest, a) != kOk) {
      return Fail("add", FileErrorText(kOutOfMemory));
    }
  }
  SoundType type = SoundType::Multisound;
  if (rest.size() < 4 || !ParseSoundKind(rest[1], type)) return Usage(kUsage);
  if (type == SoundType::Drumsound && rest.size() != 4) return Usage(kUsage);
  if ((want.crossfadeFrames > 0 || want.crossfadeAuto) && !want.findLoop) return Usage(kUsage);
  if (want.detectRoot && type == SoundType::Drumsound) {
    Fail("add", "--detect-root is for Multisounds; the card keeps no root note for a Drumsound");
    return 2;
  }
  const std::string_view cardPath = rest[0];

  Sound sound;
  sound.soundType = type;
  sound.name.assign(rest[2]);  // cut as the card stores names
  std::size_t failed = 0;
  for (std::size_t i = 3; i < rest.size(); ++i) {
    Result r = ImportSampleFile(sound, AbsolutePath(rest[i]));
    if (r == kOk && (want.detectRoot || want.findLoop)) {
      r = ApplyAnalysis(sound.samples.back(), want, rest[i]);
      if (r != kOk) sound.samples.pop_back();
    }
    if (r != kOk) {
      Fail(rest[i], FileErrorText(r));
      ++failed;
    }
  }
  if (failed != 0 && !keepGoing) {
    return Fail(cardPath, "nothing was added; the card-file is unchanged (--keep-going adds the files that import)");
  }
  if (sound.samples.empty()) return Fail(cardPath, "nothing was added; the card-file is unchanged");
  if (want.detectRoot && sound.samples.size() > 1) ZonesFromRoots(sound);
  std::vector<Sound> sounds;
  if (TryPushBack(sounds, std::move(sound)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
  if (int status = AddSounds(cardPath, sounds)) return status;
  return failed != 0 ? 1 : 0;
}

int CmdExport(const Args& args) {
  constexpr const char* kUsage = "export CARD.qz (--multi N | --drum N) DIR [--sfz]";
  SoundType type = SoundType::Multisound;
  unsigned long long number = 0;
  const bool sfz = args.size() == 5 && args[4] == "--sfz";
  if ((args.size() != 4 && !sfz) || !ParseSoundKind(args[1], type) || !ParseUnsigned(args[2], number) ||
      number == 0 || (sfz && type != SoundType::Multisound)) {
    return Usage(kUsage);
  }
  const std::string_view cardPath = args[0];
  const std::string_view folder = args[3];
  CardDocument doc;
  if (Result r = LoadCardFile(cardPath, doc)) return Fail(cardPath, LoadError(r));
  const std::vector<Sound>& list = type == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
  if (number > list.size()) {
    return Fail(cardPath, std::string("there is no ") + (type == SoundType::Drumsound ? "Drumsound " : "Multisound ") +
                              std::to_string(number) + " (the card has " + std::to_string(list.size()) + ")");
  }
  const Sound& sound = list[static_cast<std::size_t>(number - 1)];
  if (Result r = sfz ? ExportSfz(sound, folder) : ExportSamples(sound, folder)) {
    const char* reason = r == kTooMuchData ? "the folder's path is too long" : FileErrorText(r);
    return Fail(folder, std::string("one or more samples couldn't be exported: ") + reason);
  }
  std::printf("exported %zu sample%s%s to %.*s\n", sound.samples.size(), sound.samples.size() == 1 ? "" : "s",
              sfz ? " and an .sfz" : "", static_cast<int>(folder.size()), folder.data());
  return 0;
}

int CmdImport(const Args& args) {
  constexpr const char* kUsage = "import FILE --json [--drum]";
  std::string_view path;
  bool json = false;
  SoundType type = SoundType::Multisound;
  for (std::string_view a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "--drum") {
      type = SoundType::Drumsound;
    } else if (path.empty() && !a.starts_with("--")) {
      path = a;
    } else {
      return Usage(kUsage);
    }
  }
  if (path.empty() || !json) return Usage(kUsage);
  Sound sound;
  sound.soundType = type;
  if (Result r = ImportSampleFile(sound, AbsolutePath(path))) return Fail(path, FileErrorText(r));
  SampleJsonOptions options;
  options.framesFloat = true;
  WriteSampleJson(stdout, sound.samples.front(), options, 0);
  std::fputc('\n', stdout);
  return 0;
}

bool ReadPathAndJson(const Args& args, std::string_view& path, bool& json) {
  path = {};
  json = false;
  for (std::string_view a : args) {
    if (a == "--json") {
      json = true;
    } else if (path.empty() && !a.starts_with("--")) {
      path = a;
    } else {
      return false;
    }
  }
  return !path.empty();
}

int CmdAnalyze(const Args& args) {
  constexpr const char* kUsage = "analyze FILE [--json]";
  std::string_view path;
  bool json = false;
  if (!ReadPathAndJson(args, path, json)) return Usage(kUsage);
  Sound sound;
  if (Result r = ImportSampleFile(sound, AbsolutePath(path))) return Fail(path, FileErrorText(r));
  const SampleData& s = sound.samples.front();
  PitchEstimate pitch;
  std::vector<LoopCandidate> found;
  if (Result r = Analyze(s, true, LoopPreference::kNatural, pitch, found)) return Fail(path, FileErrorText(r));
  const std::size_t attackEnd = SteadyStart(s.frames.data(), s.frames.size());
  const Utf8View name = NoteName(pitch.note);
  if (json) {
    std::printf("{\n  \"file\": ");
    WriteJsonString(stdout, path);
    std::printf(",\n  \"frames\": %lld,\n  \"rate\": %u,\n  \"attackEnd\": %zu,\n  \"pitch\": ",
                static_cast<long long>(s.frameCount()), static_cast<unsigned>(kCardRate), attackEnd);
    if (pitch.pitched) {
      std::printf("{\"pitched\": true, \"frequency\": %.3f, \"note\": %u, \"noteName\": ", pitch.frequency,
                  static_cast<unsigned>(pitch.note));
      WriteJsonString(stdout, name);
      std::printf(", \"cents\": %.1f, \"confidence\": %.3f}", pitch.cents, pitch.confidence);
    } else {
      std::printf("{\"pitched\": false}");
    }
    std::printf(",\n  \"loops\": [");
    for (std::size_t i = 0; i < found.size(); ++i) {
      const LoopCandidate& c = found[i];
      std::printf("%s\n    {\"loop\": %lld, \"end\": %lld, \"length\": %lld, \"lengthMs\": %.1f, \"periods\": %.2f, "
                  "\"seamErrorDb\": %.1f, \"tuningCents\": %.2f, \"kind\": \"%s\"}",
                  i == 0 ? "" : ",", static_cast<long long>(c.loop), static_cast<long long>(c.end),
                  static_cast<long long>(c.end - c.loop), c.lengthMs, c.periods, c.errorDb, c.tuningCents,
                  c.kind == LoopPreference::kCompact ? "compact" : "natural");
    }
    std::printf("%s]\n}\n", found.empty() ? "" : "\n  ");
    return 0;
  }
  if (pitch.pitched) {
    std::printf("pitch: %.2f Hz, %.*s %+.1f cents (confidence %.2f)\n", pitch.frequency, static_cast<int>(name.size()),
                name.data(), pitch.cents, pitch.confidence);
  } else {
    std::printf("pitch: none found (noise or a drum?)\n");
  }
  if (found.empty()) {
    std::printf("loops: none found\n");
  } else {
    std::printf("loops, in frames at %u Hz (the first is the one --find-loop takes, the first compact one\n"
                "--find-loop compact):\n", static_cast<unsigned>(kCardRate));
  }
  for (const LoopCandidate& c : found) {
    std::printf("  %-7s loop %lld end %lld: %lld frames, %.1f ms", c.kind == LoopPreference::kCompact ? "compact" : "natural",
                static_cast<long long>(c.loop), static_cast<long long>(c.end), static_cast<long long>(c.end - c.loop),
                c.lengthMs);
    if (c.periods > 0.0) std::printf(", %.2f periods, tuning %+.2f cents", c.periods, c.tuningCents);
    std::printf(", seam error %.1f dB\n", c.errorDb);
  }
  return 0;
}

}  // namespace tavrin::cli
