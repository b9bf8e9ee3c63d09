// Card-file commands: new, info, image.
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/file_io.h"
#include "card/card_file.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "card/card_image.h"

namespace tavrin::cli {
namespace {

std::string LoadError(Result code) {
  std::string s = "can't load the card-file: ";
  s += LoadFailureReason(code);
  if (code != kBadFormat && code != kNotFound && code != kFileTooLarge && code != kEndOfData) {
    s += " (";
    s += FileErrorText(code);
    s += ")";
  }
  return s;
}

std::filesystem::path PathOf(std::string_view path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// True when both name one existing file (also through links or another
// spelling of the path).
bool SameFile(std::string_view a, std::string_view b) {
  std::error_code ec;
  return std::filesystem::equivalent(PathOf(a), PathOf(b), ec) && !ec;
}

bool Exists(std::string_view path) {
  std::error_code ec;
  return std::filesystem::exists(PathOf(path), ec);
}

const char* SoundTypeName(const Sound& s) { return s.soundType == SoundType::Drumsound ? "Drumsound" : "Multisound"; }

void PrintSample(const SampleData& s) {
  std::printf("    sample \"%.*s\": frames %lld, start %lld, loop %lld, end %lld, loopFlags 0x%02X, root %u (%.*s), "
              "top key %u, transpose %d%s%s, level %d, VDF cutoff %d, decay level %d, zone attribute %u, "
              "sample attribute %u\n",
              static_cast<int>(s.name.length), s.name.bytes, static_cast<long long>(s.frameCount()),
              static_cast<long long>(s.markers.start), static_cast<long long>(s.markers.loop),
              static_cast<long long>(s.markers.end), s.loopFlags, s.rootNote,
              static_cast<int>(NoteName(s.rootNote).size()), NoteName(s.rootNote).data(), s.topKey, s.transpose,
              s.transposeValid ? "" : " (clamped)", s.nonTranspose ? ", non-transpose" : "", s.level, s.vdfCutoff,
              s.decayLevel, s.zoneAttribute, s.markers.sampleAttribute);
}

void PrintCard(const CardDocument& doc) {
  std::printf("card \"%.*s\"\n", static_cast<int>(doc.name.length), doc.name.bytes);
  const std::vector<Sound>* lists[2] = {&doc.multisounds, &doc.drumsounds};
  for (const auto* list : lists) {
    for (std::size_t i = 0; i < list->size(); ++i) {
      const Sound& sound = (*list)[i];
      std::printf("  %s %zu \"%.*s\" (%s, %zu samples)\n", SoundTypeName(sound), i + 1,
                  static_cast<int>(sound.name.length), sound.name.bytes,
                  sound.waveType == WaveType::DWGS ? "DWGS" : "PCM", sound.samples.size());
      for (const SampleData& s : sound.samples) PrintSample(s);
    }
  }
  const CardStatistics& st = doc.statistics;
  std::printf("size %u bytes, %lld samples, %lld PCM multisounds, %lld DWGS multisounds\n", st.cardSize,
              static_cast<long long>(st.sampleCount), static_cast<long long>(st.pcmMultisoundCount),
              static_cast<long long>(st.dwgsMultisoundCount));
}

}  // namespace

int CmdNew(const Args& args) {
  constexpr const char* kUsage = "new CARD.qz [--name NAME] [--force]";
  std::string_view path;
  std::string_view name;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--name" && i + 1 < args.size()) {
      name = args[++i];
    } else if (args[i] == "--force") {
      force = true;
    } else if (path.empty() && !args[i].starts_with("--")) {
      path = args[i];
    } else {
      return Usage(kUsage);
    }
  }
  if (path.empty()) return Usage(kUsage);
  // Never replace somebody's card by an empty one without being told to.
  if (!force && Exists(path)) return Fail(path, "already exists (use --force to replace it)");
  CardDocument doc;
  if (!name.empty()) doc.name.assign(name);
  if (Result r = SaveCardFile(path, doc)) {
    return Fail(path, std::string("can't save the card-file: ") + FileErrorText(r));
  }
  return 0;
}

int CmdInfo(const Args& args) {
  constexpr const char* kUsage = "info CARD.qz [--json] [--frames]";
  std::string_view path;
  bool json = false;
  SampleJsonOptions options;
  for (std::string_view a : args) {
    if (a == "--json") {
      json = true;
    } else if (a == "--frames") {
      options.frames16 = true;
    } else if (path.empty() && !a.starts_with("--")) {
      path = a;
    } else {
      return Usage(kUsage);
    }
  }
  if (path.empty()) return Usage(kUsage);
  CardDocument doc;
  if (Result r = LoadCardFile(path, doc)) return Fail(path, LoadError(r));
  doc.ComputeStatistics(false);
  if (json) {
    WriteCardJson(stdout, doc, options);
  } else {
    PrintCard(doc);
  }
  return 0;
}

int CmdImage(const Args& args) {
  constexpr const char* kUsage = "image CARD.qz OUT.bin --layout file|card|wide [--capacity BYTES]";
  std::string_view paths[2];
  std::size_t pathCount = 0;
  std::string_view layoutName;
  unsigned long long capacity = kDefaultCardCapacity;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--layout" && i + 1 < args.size()) {
      layoutName = args[++i];
    } else if (args[i] == "--capacity" && i + 1 < args.size()) {
      if (!ParseUnsigned(args[++i], capacity) || capacity > 0xFFFFFFFFull) {
        return Fail("--capacity", "not a byte count up to 4294967295");
      }
    } else if (pathCount < 2 && !args[i].starts_with("--")) {
      paths[pathCount++] = args[i];
    } else {
      return Usage(kUsage);
    }
  }
  if (pathCount != 2) return Usage(kUsage);
  CardLayout layout;
  if (layoutName == "file") {
    layout = CardLayout::File;
  } else if (layoutName == "card") {
    layout = CardLayout::Card;
  } else if (layoutName == "wide") {
    layout = CardLayout::WideCard;
  } else {
    return Usage(kUsage);
  }
  if (SameFile(paths[0], paths[1])) return Fail(paths[1], "is the card-file itself; name another output file");
  CardDocument doc;
  if (Result r = LoadCardFile(paths[0], doc)) return Fail(paths[0], LoadError(r));
  doc.cardCapacity = static_cast<std::uint32_t>(capacity);
  CardImage image;
  std::uint64_t required = 0;
  BuildRefusal refusal;
  const Result r = BuildCardImage(doc, layout, image, &required, &refusal);
  if (r == kTooMuchData && required != 0) {
    char text[160];
    std::snprintf(text, sizeof text, "Too much data for the card (Current Size: %llu Byte, Maximum Size: %llu Byte)",
                  static_cast<unsigned long long>(required),
                  layout == CardLayout::File ? static_cast<unsigned long long>(kMaxCardFileSize) : capacity);
    return Fail(paths[0], text);
  }
  if (r != kOk && !refusal.empty()) return Fail(paths[0], refusal.view());
  if (r != kOk) return Fail(paths[0], std::string("the card image could not be built: ") + FileErrorText(r));
  if (Result w = WriteWholeFile(paths[1], image)) {
    return Fail(paths[1], std::string("can't write the image: ") + FileErrorText(w));
  }
  return 0;
}

}  // namespace tavrin::cli
