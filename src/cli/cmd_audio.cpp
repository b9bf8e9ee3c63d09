// Sample commands: add (import files into a new sound of a card-file),
// export (a sound's samples as WAV files), import (one import as JSON).
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/export.h"
#include "audio/import.h"
#include "card/card_file.h"
#include "cli/cli.h"
#include "cli/json.h"

namespace tavrin::cli {
namespace {

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

// How long `add` waits for another program updating the same card-file.
constexpr unsigned kLockWaitMs = 10000;

int CmdAdd(const Args& args) {
  constexpr const char* kUsage = "add CARD.qz (--multi NAME FILE... | --drum NAME FILE) [--keep-going]";
  // Every option is checked before anything is read or written.
  bool keepGoing = false;
  Args rest;
  for (std::string_view a : args) {
    if (a == "--keep-going") {
      keepGoing = true;
    } else if (rest.size() != 1 && a.starts_with("--")) {
      return Usage(kUsage);
    } else if (TryPushBack(rest, a) != kOk) {
      return Fail("add", FileErrorText(kOutOfMemory));
    }
  }
  SoundType type = SoundType::Multisound;
  if (rest.size() < 4 || !ParseSoundKind(rest[1], type)) return Usage(kUsage);
  if (type == SoundType::Drumsound && rest.size() != 4) return Usage(kUsage);
  const std::string_view cardPath = rest[0];

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

  Sound sound;
  sound.soundType = type;
  sound.name.assign(rest[2]);  // cut as the card stores names
  std::size_t failed = 0;
  for (std::size_t i = 3; i < rest.size(); ++i) {
    const Result r = ImportSampleFile(sound, AbsolutePath(rest[i]));
    if (r != kOk) {
      Fail(rest[i], FileErrorText(r));
      ++failed;
    }
  }
  if (failed != 0 && !keepGoing) {
    return Fail(cardPath, "nothing was added; the card-file is unchanged (--keep-going adds the files that import)");
  }
  if (sound.samples.empty()) return Fail(cardPath, "nothing was added; the card-file is unchanged");
  std::vector<Sound>& list = type == SoundType::Drumsound ? doc.drumsounds : doc.multisounds;
  if (TryPushBack(list, std::move(sound)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
  doc.modified = true;
  SaveReport outcome;
  if (Result r = SaveCardFile(cardPath, doc, &outcome)) return Fail(cardPath, SaveError(r, outcome));
  return failed != 0 ? 1 : 0;
}

int CmdExport(const Args& args) {
  constexpr const char* kUsage = "export CARD.qz (--multi N | --drum N) DIR";
  SoundType type = SoundType::Multisound;
  unsigned long long number = 0;
  if (args.size() != 4 || !ParseSoundKind(args[1], type) || !ParseUnsigned(args[2], number) || number == 0) {
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
  if (Result r = ExportSamples(sound, folder)) {
    const char* reason = r == kTooMuchData ? "the folder's path is too long" : FileErrorText(r);
    return Fail(folder, std::string("one or more samples couldn't be exported: ") + reason);
  }
  std::printf("exported %zu sample%s to %.*s\n", sound.samples.size(), sound.samples.size() == 1 ? "" : "s",
              static_cast<int>(folder.size()), folder.data());
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

}  // namespace tavrin::cli
