#include "audio/instrument.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/alloc.h"
#include "audio/import.h"

namespace tavrin {

void FormatInto(ReportLine& line, const char* format, std::va_list args) {
  char buffer[ReportLine::kCapacity + 1];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  const std::size_t length = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), ReportLine::kCapacity);
  line.assign(Utf8View(buffer, CutUtf8(Utf8View(buffer, length), ReportLine::kCapacity)));
}

void InstrumentReport::Note(const char* format, ...) {
  ReportLine line;
  std::va_list args;
  va_start(args, format);
  FormatInto(line, format, args);
  va_end(args);
  (void)TryPushBack(notes, line);
}

Result InstrumentReport::Refuse(Result code, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  FormatInto(refusal, format, args);
  va_end(args);
  return code;
}

Result MemorySource::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return kTooMuchData;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return kOk;
}

std::uint64_t CardBytesOfZones(std::span<const InstrumentZone> zones) {
  std::uint64_t bytes = zones.empty() ? 0 : 14;
  for (const InstrumentZone& z : zones) {
    const std::uint64_t frames = z.rate == 0 ? 0 : z.frameCount * kCardRate / z.rate;
    bytes += 24 + 2 * frames;
  }
  return bytes;
}

void RootAndTranspose(std::int32_t rootNote, std::int32_t cents, std::uint8_t& root, std::int8_t& transpose) {
  std::int32_t note = rootNote;
  if (cents > 120 || cents < -120) {
    // Rounded half away from zero: 250 cents become 3 semitones and -50 cents.
    const std::int32_t semitones = cents > 0 ? (cents + 50) / 100 : -((-cents + 50) / 100);
    note -= semitones;
    cents -= 100 * semitones;
  }
  root = static_cast<std::uint8_t>(std::clamp(note, 0, 127));
  transpose = static_cast<std::int8_t>(std::clamp(cents, -120, 120));
}

void SortZonesByKey(std::vector<InstrumentZone>& zones) {
  std::stable_sort(zones.begin(), zones.end(), [](const InstrumentZone& a, const InstrumentZone& b) {
    return a.hiKey != b.hiKey ? a.hiKey < b.hiKey : a.loKey < b.loKey;
  });
}

void CardTopKeys(std::span<const InstrumentZone> zones, std::vector<std::uint8_t>& topKeys, InstrumentReport& report) {
  topKeys.clear();
  if (TryResize(topKeys, zones.size()) != kOk) return;
  for (std::size_t i = 0; i < zones.size(); ++i) topKeys[i] = zones[i].hiKey;
  for (std::size_t i = 1; i < zones.size(); ++i) {
    const InstrumentZone& low = zones[i - 1];
    const InstrumentZone& high = zones[i];
    int top = low.hiKey;
    if (high.loKey > low.hiKey + 1) {
      const int gap = high.loKey - low.hiKey - 1;
      top = low.hiKey + gap / 2;
      report.Note("keys %d-%d lie in no zone of the file: %s takes them up to %d, %s from %d", low.hiKey + 1,
                  high.loKey - 1, Z(low.where).c, top, Z(high.where).c, top + 1);
    } else if (high.loKey <= low.hiKey) {
      const int first = high.loKey;
      const int last = low.hiKey;
      top = first + (last - first + 1) / 2 - 1;
      report.Note("keys %d-%d lie in both %s and %s: the card plays the first up to %d, the second from %d", first,
                  last, Z(low.where).c, Z(high.where).c, top, top + 1);
    }
    const int floor = i >= 2 ? topKeys[i - 2] + 1 : 0;
    if (top < floor) top = floor;
    if (top >= high.hiKey && high.hiKey > floor) top = high.hiKey - 1;
    topKeys[i - 1] = static_cast<std::uint8_t>(std::clamp(top, 0, 127));
  }
  for (std::size_t i = 1; i < zones.size(); ++i) {
    if (topKeys[i] <= topKeys[i - 1]) {
      report.Note("%s has no key of its own on the card (its keys are all in the zones below it)", Z(zones[i].where).c);
    }
  }
}

Result ImportZones(Sound& sound, std::vector<InstrumentZone>& zones, InstrumentReport& report) {
  if (zones.empty()) return report.Refuse(kBadFormat, "no zone plays at this velocity");
  std::vector<std::uint8_t> topKeys;
  if (sound.soundType == SoundType::Multisound) {
    SortZonesByKey(zones);
    CardTopKeys(zones, topKeys, report);
    if (topKeys.size() != zones.size()) return kOutOfMemory;
  }
  Sound work;
  work.soundType = sound.soundType;
  if (Result r = TryReserve(work.samples, zones.size())) return r;
  for (std::size_t i = 0; i < zones.size(); ++i) {
    InstrumentZone& z = zones[i];
    DecodedAudio& a = z.audio;
    a.hasSmpl = true;
    a.hasInst = false;
    a.unityNote = static_cast<std::uint8_t>(std::clamp(z.rootNote, 0, 127));
    a.pitchFraction = 0;
    a.loops.clear();
    a.samplerData.clear();
    if (z.loopOn) {
      SmplLoop loop;
      loop.start = static_cast<std::uint32_t>(z.loopStart);
      loop.end = static_cast<std::uint32_t>(z.loopEnd);
      if (Result r = TryPushBack(a.loops, loop)) return r;
    }
    if (Result r = ImportDecoded(work, z.name.view(), a, false)) {
      return report.Refuse(r, "%s (sample \"%s\") could not be imported", Z(z.where).c, Z(z.name).c);
    }
    SampleData& s = work.samples.back();
    RootAndTranspose(z.rootNote, z.cents, s.rootNote, s.transpose);
    s.transposeValid = true;
    if (!topKeys.empty()) s.topKey = topKeys[i];
  }
  if (Result r = TryReserve(sound.samples, sound.samples.size() + work.samples.size())) return r;
  for (SampleData& s : work.samples) sound.samples.push_back(std::move(s));
  return kOk;
}

}  // namespace tavrin
