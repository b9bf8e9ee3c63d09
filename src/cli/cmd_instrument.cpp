// Instrument commands: `instruments` lists a SoundFont's presets and
// instruments with what each would take on the card; `add --from` puts one
// preset or instrument (SoundFont 2) or an SFZ instrument on the card.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/alloc.h"
#include "audio/instrument.h"
#include "audio/sf2_reader.h"
#include "audio/sfz.h"
#include "cli/cli.h"
#include "cli/json.h"

namespace tavrin::cli {
namespace {

bool EndsWithNoCase(std::string_view s, std::string_view ext) {
  if (s.size() < ext.size()) return false;
  for (std::size_t i = 0; i < ext.size(); ++i) {
    char c = s[s.size() - ext.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ext[i]) return false;
  }
  return true;
}

int Refused(std::string_view subject, Result r, const InstrumentReport& report) {
  if (!report.refusal.empty()) return Fail(subject, report.refusal.view());
  return Fail(subject, FileErrorText(r));
}

void PrintNotes(const InstrumentReport& report) {
  for (const ReportLine& n : report.notes) {
    std::printf("  note: %.*s\n", static_cast<int>(n.length), n.bytes);
  }
}

struct Summary {
  std::size_t zones = 0;
  int loKey = 127, hiKey = 0;
  std::uint64_t bytes = 0;
  InstrumentReport report;
  Result result = kOk;
};

Summary Summarise(const SoundFont& font, const Sf2Choice& choice) {
  Summary s;
  std::vector<InstrumentZone> zones;
  s.result = SoundFontZones(font, choice, zones, s.report);
  s.zones = zones.size();
  for (const InstrumentZone& z : zones) {
    s.loKey = std::min<int>(s.loKey, z.loKey);
    s.hiKey = std::max<int>(s.hiKey, z.hiKey);
  }
  s.bytes = CardBytesOfZones(zones);
  return s;
}

void PrintSummaryJson(const Summary& s) {
  if (s.result != kOk) {
    std::printf("\"error\": ");
    WriteJsonString(stdout, s.report.refusal.view());
    return;
  }
  std::printf("\"zones\": %zu, \"loKey\": %d, \"hiKey\": %d, \"bytes\": %llu", s.zones, s.zones ? s.loKey : 0,
              s.zones ? s.hiKey : 0, static_cast<unsigned long long>(s.bytes));
}

void PrintSummaryText(const Summary& s) {
  if (s.result != kOk) {
    std::printf("  damaged: %.*s\n", static_cast<int>(s.report.refusal.length), s.report.refusal.bytes);
  } else if (s.zones == 0) {
    std::printf("  no zone at velocity 100\n");
  } else {
    std::printf("  %zu zone%s, keys %d-%d, %llu bytes\n", s.zones, s.zones == 1 ? "" : "s", s.loKey, s.hiKey,
                static_cast<unsigned long long>(s.bytes));
  }
}

// "BANK:PROG" by number, anything else by name.
void ParsePreset(std::string_view text, Sf2Choice& choice) {
  const std::size_t colon = text.find(':');
  unsigned long long bank = 0, program = 0;
  if (colon != std::string_view::npos && ParseUnsigned(text.substr(0, colon), bank) &&
      ParseUnsigned(text.substr(colon + 1), program) && bank < 65536 && program < 65536) {
    choice.kind = Sf2Choice::Kind::kPresetNumber;
    choice.bank = static_cast<std::uint16_t>(bank);
    choice.program = static_cast<std::uint16_t>(program);
  } else {
    choice.kind = Sf2Choice::Kind::kPresetName;
    choice.name = text;
  }
}

bool ParseKeys(std::string_view text, int& lo, int& hi) {
  const std::size_t dash = text.find('-');
  unsigned long long a = 0, b = 0;
  if (dash == std::string_view::npos || !ParseUnsigned(text.substr(0, dash), a) ||
      !ParseUnsigned(text.substr(dash + 1), b) || a > b || b > 127) {
    return false;
  }
  lo = static_cast<int>(a);
  hi = static_cast<int>(b);
  return true;
}

void PrintZone(const InstrumentZone& z, const SampleData& s, int firstKey, bool drum) {
  const Utf8View root = NoteName(s.rootNote);
  if (drum) {
    std::printf("  key %d: Drumsound \"%.*s\"", firstKey, static_cast<int>(s.name.length), s.name.bytes);
  } else {
    std::printf("  keys %d-%d (file %d-%d): \"%.*s\" root %.*s transpose %d", firstKey, s.topKey, z.loKey, z.hiKey,
                static_cast<int>(s.name.length), s.name.bytes, static_cast<int>(root.size()), root.data(), s.transpose);
  }
  if (s.loopFlags != 0) {
    std::printf(" loop %lld-%lld", static_cast<long long>(s.markers.loop), static_cast<long long>(s.markers.end));
  }
  std::printf(" [%.*s]\n", static_cast<int>(z.where.length), z.where.bytes);
}

// An .sfz is one instrument: its regions a note at velocity 100 plays, with
// their sample files read for the card bytes.
int ListSfz(std::string_view path, bool json) {
  DiskSfzFiles files;
  std::vector<SfzRegion> regions;
  std::vector<InstrumentZone> zones;
  Summary s;
  s.result = ParseSfz(AbsolutePath(path), files, regions, s.report);
  if (s.result == kOk) s.result = SfzZones(regions, 100, zones, s.report);
  if (s.result != kOk) return Refused(path, s.result, s.report);
  s.zones = zones.size();
  for (const InstrumentZone& z : zones) {
    s.loKey = std::min<int>(s.loKey, z.loKey);
    s.hiKey = std::max<int>(s.hiKey, z.hiKey);
  }
  s.bytes = CardBytesOfZones(zones);
  std::string_view name = path.substr(std::min(path.size(), path.find_last_of("/\\") + 1));
  name.remove_suffix(4);
  if (json) {
    std::printf("{\n  \"presets\": [],\n  \"instruments\": [\n    {\"name\": ");
    WriteJsonString(stdout, name);
    std::printf(", ");
    PrintSummaryJson(s);
    std::printf("}\n  ]\n}\n");
  } else {
    std::printf("instrument (its regions at velocity 100):\n%.*s\n", static_cast<int>(name.size()), name.data());
    PrintSummaryText(s);
    PrintNotes(s.report);
  }
  return 0;
}

}  // namespace

int CmdInstruments(const Args& args) {
  constexpr const char* kUsage = "instruments FILE.sf2|FILE.sfz [--json]";
  std::string_view path;
  bool json = false;
  if (!ReadPathAndJson(args, path, json)) return Usage(kUsage);
  if (EndsWithNoCase(path, ".sfz")) return ListSfz(path, json);
  FileSource file;
  SoundFont font;
  InstrumentReport report;
  Result r = file.Open(path);
  if (r == kOk) r = OpenSoundFont(file, font, report);
  if (r != kOk) return Refused(path, r, report);
  // Presets by bank and program, as players list them.
  std::vector<std::size_t> order;
  if (TryResize(order, font.presetCount()) != kOk) return Fail(path, FileErrorText(kOutOfMemory));
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const Sf2Preset &x = font.presets[a], &y = font.presets[b];
    return x.bank != y.bank ? x.bank < y.bank : x.program < y.program;
  });
  if (json) std::printf("{\n  \"presets\": [");
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Sf2Preset& p = font.presets[order[i]];
    Sf2Choice choice;
    choice.bank = p.bank;
    choice.program = p.program;
    const Summary s = Summarise(font, choice);
    if (json) {
      std::printf("%s\n    {\"bank\": %u, \"program\": %u, \"name\": ", i ? "," : "", p.bank, p.program);
      WriteJsonString(stdout, p.name.view());
      std::printf(", ");
      PrintSummaryJson(s);
      std::printf("}");
    } else {
      if (i == 0) std::printf("presets (bank:program name), at velocity 100:\n");
      std::printf("%u:%u %.*s\n", p.bank, p.program, static_cast<int>(p.name.length), p.name.bytes);
      PrintSummaryText(s);
    }
  }
  if (json) std::printf("\n  ],\n  \"instruments\": [");
  for (std::size_t i = 0; i < font.instrumentCount(); ++i) {
    const Sf2Instrument& inst = font.instruments[i];
    Sf2Choice choice;
    choice.kind = Sf2Choice::Kind::kInstrument;
    choice.name = inst.name.view();
    const Summary s = Summarise(font, choice);
    if (json) {
      std::printf("%s\n    {\"name\": ", i ? "," : "");
      WriteJsonString(stdout, inst.name.view());
      std::printf(", ");
      PrintSummaryJson(s);
      std::printf("}");
    } else {
      if (i == 0) std::printf("instruments:\n");
      std::printf("%.*s\n", static_cast<int>(inst.name.length), inst.name.bytes);
      PrintSummaryText(s);
    }
  }
  if (json) std::printf("\n  ]\n}\n");
  return 0;
}

int AddInstrument(const Args& args) {
  constexpr const char* kUsage =
      "add CARD.qz (--multi NAME | --drums) --from FILE.sf2|FILE.sfz [--preset BANK:PROG | --preset NAME | "
      "--instrument NAME] [--velocity V] [--keys LO-HI] [--detect-root] [--find-loop [natural|compact] [--crossfade auto|MS]]";
  std::string_view cardPath, name, from, preset, instrument, keys;
  bool drums = false;
  unsigned long long velocity = 100;
  AddAnalysis want;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--drums") {
      drums = true;
    } else if (bool bad = false; TakeAnalysisOption(args, i, want, bad)) {
      if (bad) return Usage(kUsage);
    } else if (a == "--velocity" && hasValue) {
      if (!ParseUnsigned(args[++i], velocity) || velocity > 127) return Usage(kUsage);
    } else if ((a == "--multi" || a == "--from" || a == "--preset" || a == "--instrument" || a == "--keys") && hasValue) {
      std::string_view& slot = a == "--multi" ? name : a == "--from" ? from : a == "--preset" ? preset
                               : a == "--instrument" ? instrument : keys;
      slot = args[++i];
    } else if (cardPath.empty() && !a.starts_with("--")) {
      cardPath = a;
    } else {
      return Usage(kUsage);
    }
  }
  const bool sfz = EndsWithNoCase(from, ".sfz");
  int loKey = 0, hiKey = 127;
  if (cardPath.empty() || from.empty() || drums == !name.empty() || (!preset.empty() && !instrument.empty()) ||
      (sfz && (!preset.empty() || !instrument.empty() || drums)) || (!sfz && preset.empty() && instrument.empty()) ||
      (drums && (keys.empty() || !ParseKeys(keys, loKey, hiKey) || preset.empty())) || (!drums && !keys.empty()) ||
      ((want.crossfadeFrames > 0 || want.crossfadeAuto) && !want.findLoop)) {
    return Usage(kUsage);
  }
  if (want.detectRoot && drums) {
    Fail("add", "--detect-root is for Multisounds; the card keeps no root note for a Drumsound");
    return 2;
  }

  InstrumentReport report;
  std::vector<InstrumentZone> zones;
  const std::string path = AbsolutePath(from);
  if (sfz) {
    DiskSfzFiles files;
    std::vector<SfzRegion> regions;
    Result r = ParseSfz(path, files, regions, report);
    if (r == kOk) r = SfzZones(regions, static_cast<std::uint8_t>(velocity), zones, report);
    if (r != kOk) return Refused(from, r, report);
  } else {
    FileSource file;
    SoundFont font;
    Sf2Choice choice;
    choice.velocity = static_cast<std::uint8_t>(velocity);
    if (!preset.empty()) {
      ParsePreset(preset, choice);
    } else {
      choice.kind = Sf2Choice::Kind::kInstrument;
      choice.name = instrument;
    }
    Result r = file.Open(path);
    if (r == kOk) r = OpenSoundFont(file, font, report);
    if (r == kOk) r = SoundFontZones(font, choice, zones, report);
    if (r == kOk && drums) {
      // One Drumsound per key: the zone that key plays.
      std::vector<InstrumentZone> perKey;
      for (int k = loKey; k <= hiKey && r == kOk; ++k) {
        const InstrumentZone* hit = nullptr;
        for (const InstrumentZone& z : zones) {
          if (z.loKey <= k && k <= z.hiKey) {
            hit = &z;
            break;
          }
        }
        if (hit == nullptr) {
          report.Note("key %d: no zone of the preset plays it at velocity %llu; left out", k, velocity);
          continue;
        }
        InstrumentZone copy;
        copy.name = hit->name;
        copy.where = hit->where;
        copy.loKey = copy.hiKey = static_cast<std::uint8_t>(k);
        copy.rootNote = hit->rootNote;
        copy.cents = hit->cents;
        copy.loopOn = hit->loopOn;
        copy.loopStart = hit->loopStart;
        copy.loopEnd = hit->loopEnd;
        copy.frameCount = hit->frameCount;
        copy.rate = hit->rate;
        copy.first = hit->first;
        copy.partnerFirst = hit->partnerFirst;
        r = TryPushBack(perKey, std::move(copy));
      }
      zones.swap(perKey);
    }
    if (r == kOk) r = ReadSoundFontAudio(file, font, zones, report);
    if (r != kOk) return Refused(from, r, report);
  }

  std::vector<Sound> sounds;
  if (drums) {
    for (InstrumentZone& z : zones) {
      Sound d;
      d.soundType = SoundType::Drumsound;
      d.name.assign(z.name.view());  // cut as the card stores names
      std::vector<InstrumentZone> one;
      const int key = z.loKey;
      if (TryPushBack(one, std::move(z)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
      if (Result r = ImportZones(d, one, report)) return Refused(from, r, report);
      if (want.findLoop) {
        if (Result r = ApplyAnalysis(d.samples[0], want, one[0].name.view())) return Fail(cardPath, FileErrorText(r));
      }
      PrintZone(one[0], d.samples[0], key, true);
      if (TryPushBack(sounds, std::move(d)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
    }
    if (sounds.empty()) {
      PrintNotes(report);
      return Fail(cardPath, "no key in that range plays a sample; nothing was added");
    }
  } else {
    Sound sound;
    sound.name.assign(name);
    if (Result r = ImportZones(sound, zones, report)) {
      PrintNotes(report);
      Refused(from, r, report);
      return Fail(cardPath, "nothing was added; the card-file is unchanged");
    }
    int first = 0;
    for (std::size_t i = 0; i < zones.size(); ++i) {
      SampleData& s = sound.samples[i];
      if (want.detectRoot || want.findLoop) {
        if (Result r = ApplyAnalysis(s, want, zones[i].name.view())) return Fail(cardPath, FileErrorText(r));
      }
      PrintZone(zones[i], s, first, false);
      first = s.topKey + 1;
    }
    if (TryPushBack(sounds, std::move(sound)) != kOk) return Fail(cardPath, FileErrorText(kOutOfMemory));
  }
  PrintNotes(report);
  const std::size_t added = drums ? sounds.size() : sounds[0].samples.size();
  if (int status = AddSounds(cardPath, sounds)) return status;
  std::printf("added %zu %s from %.*s\n", added,
              drums ? "Drumsounds" : "samples as one Multisound", static_cast<int>(from.size()), from.data());
  return 0;
}

}  // namespace tavrin::cli
