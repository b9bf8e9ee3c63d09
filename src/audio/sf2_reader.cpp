#include "audio/sf2_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "base/alloc.h"
#include "audio/byte_view.h"
#include "audio/sample_kind.h"

namespace tavrin {
namespace {

// How each generator combines across the preset and instrument levels.
enum class Gen : std::uint8_t {
  kIgnored,     // reserved or unused numbers: skipped wherever they stand
  kRange,       // key and velocity ranges: the preset's narrows the instrument's
  kAdd,         // a preset's value is added to the instrument's
  kInstrument,  // sample offsets, loop mode, root key...: instrument level only
  kLink,        // instrument (41) and sampleID (53): end a zone's list
};
constexpr Gen I = Gen::kIgnored, R = Gen::kRange, A = Gen::kAdd, N = Gen::kInstrument, L = Gen::kLink;
constexpr std::size_t kGeneratorCount = 61;
constexpr Gen kGenerators[kGeneratorCount] = {
    N, N, N, N, N, A, A, A, A, A,  // 0-4 sample offsets; 5-9 modulation to pitch, filter
    A, A, N, A, I, A, A, A, I, I,  // 10-11 to filter; 12 end coarse offset; 13 to volume; 15-17 sends, pan
    I, A, A, A, A, A, A, A, A, A,  // 21-40 LFOs and envelopes
    A, A, A, A, A, A, A, A, A, A,  //
    A, L, I, R, R, N, N, N, A, I,  // 41 instrument; 43 keyRange, 44 velRange; 45 loop start coarse; 46-47 fixed key, velocity; 48 attenuation
    N, A, A, L, N, I, A, N, N, I,  // 50 loop end coarse; 51-52 coarse, fine tune; 53 sampleID; 54 sampleModes; 56 scaleTuning; 57-58 exclusiveClass, overridingRootKey
    I,                             // 60 end of list
};
enum : std::uint16_t {
  kStartOffset = 0, kEndOffset = 1, kLoopStartOffset = 2, kLoopEndOffset = 3, kStartCoarse = 4, kEndCoarse = 12,
  kInstrumentGen = 41, kKeyRange = 43, kVelRange = 44, kLoopStartCoarse = 45, kLoopEndCoarse = 50, kCoarseTune = 51,
  kFineTune = 52, kSampleId = 53, kSampleModes = 54, kRootKey = 58,
};
constexpr std::uint16_t kRightSample = 2, kLeftSample = 4, kRomSample = 0x8000, kCompressedSample = 0x10;

struct Gens {
  std::int32_t value[kGeneratorCount] = {};
  bool set[kGeneratorCount] = {};
  Gens() {
    value[kKeyRange] = 127 << 8;
    value[kVelRange] = 127 << 8;
  }
  int lo(std::uint16_t g) const { return value[g] & 0xFF; }
  int hi(std::uint16_t g) const { return (value[g] >> 8) & 0xFF; }
};

// Applies a zone's generators up to its terminal one (instrument or sampleID).
void Apply(Gens& g, const Sf2Generator* gens, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t op = gens[i].oper;
    if (op >= kGeneratorCount || kGenerators[op] == Gen::kIgnored) continue;
    const bool range = kGenerators[op] == Gen::kRange;
    g.value[op] = range ? gens[i].amount : static_cast<std::int16_t>(gens[i].amount);
    if (op == kSampleId || op == kInstrumentGen) g.value[op] = gens[i].amount;
    g.set[op] = true;
    if (kGenerators[op] == Gen::kLink) return;
  }
}

// The zones of one preset or instrument as generator spans.
struct ZoneSpan {
  const Sf2Generator* gens = nullptr;
  std::size_t count = 0;
  bool linked = false;  // ends in the instrument or sampleID generator
};

Utf8View TextOf(ByteView& v, std::uint64_t pos) {
  if (!v.Need(pos, 20)) return Utf8View();
  const char* p = reinterpret_cast<const char*>(v.data() + pos);
  std::size_t n = 0;
  while (n < 20 && p[n] != 0) ++n;
  return Utf8View(p, n);
}

std::uint32_t Tag4(const char* s) {
  return (std::uint32_t{static_cast<std::uint8_t>(s[0])} << 24) | (std::uint32_t{static_cast<std::uint8_t>(s[1])} << 16) |
         (std::uint32_t{static_cast<std::uint8_t>(s[2])} << 8) | std::uint32_t{static_cast<std::uint8_t>(s[3])};
}

struct SubChunk {
  std::uint64_t at = 0;
  std::uint64_t size = 0;
  bool found = false;
};

template <class T>
Result Grow(std::vector<T>& v, std::uint64_t n) {
  if (n > (std::uint64_t{1} << 26)) return kOutOfMemory;
  return TryResize(v, static_cast<std::size_t>(n));
}

Result ParsePdta(ByteView& v, SoundFont& f, InstrumentReport& report) {
  static constexpr const char* kNames[9] = {"phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"};
  static constexpr std::uint64_t kSizes[9] = {38, 4, 10, 4, 22, 4, 10, 4, 46};
  SubChunk sub[9];
  for (std::uint64_t at = 4; v.Has(at, 8);) {
    const std::uint32_t id = v.Tag(at);
    const std::uint64_t size = v.U32LE(at + 4);
    for (int i = 0; i < 9; ++i) {
      if (id == Tag4(kNames[i]) && !sub[i].found) sub[i] = {at + 8, size, true};
    }
    at += 8 + size + (size & 1);
  }
  for (int i = 0; i < 9; ++i) {
    if (!sub[i].found) return report.Refuse(kBadFormat, "the SoundFont's headers have no \"%s\" list", kNames[i]);
    if (!v.Has(sub[i].at, sub[i].size)) return report.Refuse(kTooMuchData, "the file ends inside its \"%s\" list", kNames[i]);
    if (sub[i].size % kSizes[i] != 0 || sub[i].size < kSizes[i]) {
      return report.Refuse(kBadFormat, "the \"%s\" list has no terminal record (its size is %llu bytes)", kNames[i],
                           static_cast<unsigned long long>(sub[i].size));
    }
  }
  const auto count = [&](int i) { return sub[i].size / kSizes[i]; };
  if (Result r = Grow(f.presets, count(0))) return r;
  for (std::uint64_t i = 0; i < count(0); ++i) {
    const std::uint64_t p = sub[0].at + 38 * i;
    f.presets[i].name.assign(TextOf(v, p));
    f.presets[i].program = v.U16LE(p + 20);
    f.presets[i].bank = v.U16LE(p + 22);
    f.presets[i].firstBag = v.U16LE(p + 24);
  }
  if (Result r = Grow(f.instruments, count(4))) return r;
  for (std::uint64_t i = 0; i < count(4); ++i) {
    const std::uint64_t p = sub[4].at + 22 * i;
    f.instruments[i].name.assign(TextOf(v, p));
    f.instruments[i].firstBag = v.U16LE(p + 20);
  }
  for (auto [bags, gens, bi, gi] : {std::tuple{&f.presetBags, &f.presetGenerators, 1, 3},
                                    std::tuple{&f.instrumentBags, &f.instrumentGenerators, 5, 7}}) {
    if (Result r = Grow(*bags, count(bi))) return r;
    for (std::uint64_t i = 0; i < count(bi); ++i) (*bags)[i] = v.U16LE(sub[bi].at + 4 * i);
    if (Result r = Grow(*gens, count(gi))) return r;
    for (std::uint64_t i = 0; i < count(gi); ++i) {
      (*gens)[i].oper = v.U16LE(sub[gi].at + 4 * i);
      (*gens)[i].amount = v.U16LE(sub[gi].at + 4 * i + 2);
    }
  }
  if (Result r = Grow(f.samples, count(8))) return r;
  for (std::uint64_t i = 0; i < count(8); ++i) {
    const std::uint64_t p = sub[8].at + 46 * i;
    Sf2Sample& s = f.samples[i];
    s.name.assign(TextOf(v, p));
    s.start = v.U32LE(p + 20);
    s.end = v.U32LE(p + 24);
    s.loopStart = v.U32LE(p + 28);
    s.loopEnd = v.U32LE(p + 32);
    s.rate = v.U32LE(p + 36);
    s.originalPitch = v.U8(p + 40);
    s.pitchCorrection = static_cast<std::int8_t>(v.U8(p + 41));
    s.link = v.U16LE(p + 42);
    s.type = v.U16LE(p + 44);
    if (i + 1 < count(8) && (s.type & kCompressedSample) != 0) {
      return report.Refuse(kBadFormat, "this is an SF3 SoundFont (compressed samples, \"%s\" first); "
                                       "only SF2 files with plain samples can be read: convert it to SF2 first",
                           Z(s.name).c);
    }
  }
  return v.isShort() ? kTooMuchData : kOk;
}

// The zones of record `index` of a preset or instrument list; 13 when they
// point past the bags or the bags past the generators.
Result Zones(const std::vector<std::uint32_t>& bags, const std::vector<Sf2Generator>& gens, std::uint32_t firstBag,
             std::uint32_t endBag, std::vector<ZoneSpan>& out) {
  out.clear();
  if (firstBag > endBag || endBag >= bags.size()) return kBadFormat;
  for (std::uint32_t b = firstBag; b < endBag; ++b) {
    const std::uint32_t g0 = bags[b], g1 = bags[b + 1];
    // The last bag's end may be the terminal generator record itself.
    if (g0 > g1 || g1 > gens.size()) return kBadFormat;
    ZoneSpan z{gens.data() + g0, g1 - g0, false};
    for (std::size_t i = 0; i < z.count; ++i) {
      const std::uint16_t op = z.gens[i].oper;
      if (op == kInstrumentGen || op == kSampleId) {
        z.linked = true;
        z.count = i + 1;  // anything after the terminal generator is ignored
        break;
      }
    }
    if (Result r = TryPushBack(out, z)) return r;
  }
  return kOk;
}

struct Resolver {
  const SoundFont& font;
  const Sf2Choice& choice;
  InstrumentReport& report;
  std::vector<InstrumentZone>& zones;
  std::vector<std::uint16_t> sampleTypes;  // per zone: for pairing
  std::vector<std::uint32_t> groups;       // per zone: the preset zone (layer) it came from
  std::uint32_t group = 0;

  // Adds the zones of instrument `index` under the preset-level generators.
  Result Instrument(std::size_t index, const Gens* preset, Utf8View presetWhere) {
    const Sf2Instrument& inst = font.instruments[index];
    std::vector<ZoneSpan> spans;
    if (Zones(font.instrumentBags, font.instrumentGenerators, inst.firstBag, font.instruments[index + 1].firstBag,
              spans) != kOk) {
      return report.Refuse(kBadFormat, "%.*sinstrument \"%s\": its zones (ibag) point past the generator list (igen)",
                           static_cast<int>(presetWhere.size()), presetWhere.data(), Z(inst.name).c);
    }
    if (spans.empty()) {
      return report.Refuse(kBadFormat, "%.*sinstrument \"%s\" has no zones", static_cast<int>(presetWhere.size()),
                           presetWhere.data(), Z(inst.name).c);
    }
    Gens global;
    for (std::size_t zi = 0; zi < spans.size(); ++zi) {
      const ZoneSpan& span = spans[zi];
      if (!span.linked) {
        if (zi == 0) Apply(global, span.gens, span.count);
        continue;  // a global zone, or one without a sample: plays nothing
      }
      Gens g = global;
      Apply(g, span.gens, span.count);
      InstrumentZone z;
      Utf8Text<96> where;
      where.append(presetWhere);
      where.append("instrument \"");
      where.append(inst.name.view());
      where.append("\" zone ");
      where.appendDecimal(static_cast<std::uint32_t>(zi + 1));
      z.where = where;
      int loKey = g.lo(kKeyRange), hiKey = g.hi(kKeyRange), loVel = g.lo(kVelRange), hiVel = g.hi(kVelRange);
      if (preset != nullptr) {
        for (std::size_t op = 0; op < kGeneratorCount; ++op) {
          if (kGenerators[op] == Gen::kAdd) g.value[op] += preset->value[op];
        }
        loKey = std::max(loKey, preset->lo(kKeyRange));
        hiKey = std::min(hiKey, preset->hi(kKeyRange));
        loVel = std::max(loVel, preset->lo(kVelRange));
        hiVel = std::min(hiVel, preset->hi(kVelRange));
      }
      const std::int32_t cents = g.value[kCoarseTune] * 100 + g.value[kFineTune];
      if (loKey > hiKey || hiKey > 127 || loVel > hiVel || choice.velocity < loVel || choice.velocity > hiVel) continue;
      const std::uint32_t id = static_cast<std::uint32_t>(g.value[kSampleId]);
      if (id + 1 >= font.samples.size()) {
        return report.Refuse(kBadFormat, "%s names sample %u, past the sample list (shdr)", Z(where).c, id);
      }
      const Sf2Sample& s = font.samples[id];
      z.name.assign(s.name.view());
      if ((s.type & kRomSample) != 0) {
        return report.Refuse(kBadFormat, "%s plays sample \"%s\" from a synthesizer's ROM, which is not in the file",
                             Z(where).c, Z(s.name).c);
      }
      const std::int64_t start = std::int64_t{s.start} + g.value[kStartOffset] + 32768 * std::int64_t{g.value[kStartCoarse]};
      const std::int64_t end = std::int64_t{s.end} + g.value[kEndOffset] + 32768 * std::int64_t{g.value[kEndCoarse]};
      if (start < 0 || end <= start || static_cast<std::uint64_t>(end) > font.smplFrames) {
        return report.Refuse(kBadFormat, "%s: sample \"%s\" (frames %lld to %lld) lies outside the sample data (smpl)",
                             Z(where).c, Z(s.name).c, static_cast<long long>(start), static_cast<long long>(end));
      }
      if (s.rate == 0) return report.Refuse(kBadFormat, "%s: sample \"%s\" has a rate of 0", Z(where).c, Z(s.name).c);
      const std::int32_t modes = g.value[kSampleModes] & 3;
      z.loopOn = modes == 1 || modes == 3;
      if (z.loopOn) {
        const std::int64_t ls = std::int64_t{s.loopStart} + g.value[kLoopStartOffset] + 32768 * std::int64_t{g.value[kLoopStartCoarse]};
        const std::int64_t le = std::int64_t{s.loopEnd} + g.value[kLoopEndOffset] + 32768 * std::int64_t{g.value[kLoopEndCoarse]};
        if (ls < start || le <= ls || le > end) {
          return report.Refuse(kBadFormat, "%s: the loop of sample \"%s\" (%lld to %lld) lies outside the sample (%lld to %lld)",
                               Z(where).c, Z(s.name).c, static_cast<long long>(ls), static_cast<long long>(le),
                               static_cast<long long>(start), static_cast<long long>(end));
        }
        z.loopStart = static_cast<std::uint64_t>(ls - start);
        z.loopEnd = static_cast<std::uint64_t>(le - start);
      }
      const std::int32_t rootKey = g.set[kRootKey] ? g.value[kRootKey] : -1;
      z.rootNote = rootKey >= 0 && rootKey <= 127 ? rootKey : (s.originalPitch <= 127 ? s.originalPitch : 60);
      z.cents = cents + s.pitchCorrection;
      z.loKey = static_cast<std::uint8_t>(loKey);
      z.hiKey = static_cast<std::uint8_t>(hiKey);
      z.loVel = static_cast<std::uint8_t>(loVel);
      z.hiVel = static_cast<std::uint8_t>(hiVel);
      z.frameCount = static_cast<std::uint64_t>(end - start);
      z.rate = s.rate;
      z.first = static_cast<std::uint64_t>(start);
      z.partnerFirst = -1;
      if (Result r = TryPushBack(zones, std::move(z))) return r;
      if (Result r = TryPushBack(sampleTypes, s.type)) return r;
      if (Result r = TryPushBack(groups, group)) return r;
    }
    return kOk;
  }

  Result Preset(std::size_t index) {
    const Sf2Preset& p = font.presets[index];
    Utf8Text<96> where;
    char head[64];
    std::snprintf(head, sizeof head, "preset %u:%u \"", static_cast<unsigned>(p.bank), static_cast<unsigned>(p.program));
    where.append(head);
    where.append(p.name.view());
    where.append("\", ");
    std::vector<ZoneSpan> spans;
    if (Zones(font.presetBags, font.presetGenerators, p.firstBag, font.presets[index + 1].firstBag, spans) != kOk) {
      return report.Refuse(kBadFormat, "%.*s: its zones (pbag) point past the generator list (pgen)",
                           static_cast<int>(where.length - 2), where.bytes);
    }
    Gens global;
    bool any = false;
    for (std::size_t zi = 0; zi < spans.size(); ++zi) {
      if (!spans[zi].linked) {
        if (zi == 0) Apply(global, spans[zi].gens, spans[zi].count);
        continue;
      }
      any = true;
      Gens g = global;
      Apply(g, spans[zi].gens, spans[zi].count);
      const std::uint32_t inst = static_cast<std::uint32_t>(g.value[kInstrumentGen]);
      if (inst >= font.instrumentCount()) {
        return report.Refuse(kBadFormat, "%.*s zone %zu names instrument %u, past the instrument list (inst)",
                             static_cast<int>(where.length - 2), where.bytes, zi + 1, inst);
      }
      if (g.lo(kKeyRange) > g.hi(kKeyRange) || g.lo(kVelRange) > g.hi(kVelRange)) continue;
      if (choice.velocity < g.lo(kVelRange) || choice.velocity > g.hi(kVelRange)) continue;
      group = static_cast<std::uint32_t>(zi);
      if (Result r = Instrument(inst, &g, where.view())) return r;
    }
    if (!any) return report.Refuse(kBadFormat, "%.*s has no zones", static_cast<int>(where.length - 2), where.bytes);
    return kOk;
  }

  // 1 for a left sample, 2 for a right one, 0 for neither: by its type, or,
  // for a mono type, by a name that ends in L or R where its partner's ends
  // in the other letter (files often mark neither type nor link).
  int Side(std::size_t i) const {
    if (sampleTypes[i] == kLeftSample) return 1;
    if (sampleTypes[i] == kRightSample) return 2;
    const Utf8View name = zones[i].name.view();
    if (name.size() < 2) return 0;
    const char c = static_cast<char>(name.back() & ~0x20);
    for (std::size_t j = 0; j < zones.size(); ++j) {
      const Utf8View other = zones[j].name.view();
      const char d = other.empty() ? 0 : static_cast<char>(other.back() & ~0x20);
      if (j != i && other.size() == name.size() && other.substr(0, other.size() - 1) == name.substr(0, name.size() - 1) &&
          ((c == 'L' && d == 'R') || (c == 'R' && d == 'L'))) {
        return c == 'L' ? 1 : 2;
      }
    }
    return 0;
  }

  // Joins left and right samples on the same keys and velocities into one
  // stereo zone; another zone of the same layer on exactly the same keys and
  // velocities is left out (zones of other layers are SelectLayer's).
  Result Pair() {
    std::vector<InstrumentZone> kept;
    std::vector<std::uint32_t> keptGroups;
    std::vector<bool> used(zones.size(), false);
    for (std::size_t i = 0; i < zones.size(); ++i) {
      if (used[i]) continue;
      InstrumentZone& a = zones[i];
      for (std::size_t j = i + 1; j < zones.size(); ++j) {
        InstrumentZone& b = zones[j];
        if (used[j] || a.loKey != b.loKey || a.hiKey != b.hiKey || a.loVel != b.loVel || a.hiVel != b.hiVel) continue;
        const int sides = Side(i) * 4 + Side(j);
        const bool stereo = a.partnerFirst < 0 && a.rate == b.rate && (sides == 1 * 4 + 2 || sides == 2 * 4 + 1);
        if (stereo) {
          used[j] = true;
          if (Side(i) == 2) {  // the left sample's loop and tuning stand for both
            std::swap(a.name, b.name);
            std::swap(a.first, b.first);
            std::swap(a.loopOn, b.loopOn);
            std::swap(a.loopStart, b.loopStart);
            std::swap(a.loopEnd, b.loopEnd);
            std::swap(a.rootNote, b.rootNote);
            std::swap(a.cents, b.cents);
          }
          a.partnerFirst = static_cast<std::int64_t>(b.first);
          a.frameCount = std::min(a.frameCount, b.frameCount);
          if (a.loopOn && a.loopEnd > a.frameCount) a.loopOn = false;
        } else if (groups[i] == groups[j]) {
          used[j] = true;
          report.Note("%s (sample \"%s\") sounds on the same keys and velocities as %s: one layer is taken, it is left out",
                      Z(b.where).c, Z(b.name).c, Z(a.where).c);
        }
      }
      if (Result r = TryPushBack(kept, std::move(a))) return r;
      if (Result r = TryPushBack(keptGroups, groups[i])) return r;
    }
    zones.swap(kept);
    groups.swap(keptGroups);
    return kOk;
  }

  // A preset may layer several instruments on the same keys, or split the
  // keyboard among them. Layers are taken widest first; one whose keys meet
  // those already taken is a second layer and is left out.
  Result SelectLayer() {
    std::uint32_t groupCount = 0;
    for (std::uint32_t g : groups) groupCount = std::max(groupCount, g + 1);
    if (groupCount <= 1) return kOk;
    std::vector<std::uint32_t> width(groupCount, 0), order(groupCount);
    for (std::uint32_t g = 0; g < groupCount; ++g) {
      order[g] = g;
      bool keys[128] = {};
      for (std::size_t i = 0; i < zones.size(); ++i) {
        if (groups[i] != g) continue;
        for (int k = zones[i].loKey; k <= zones[i].hiKey; ++k) keys[k] = true;
      }
      for (bool k : keys) width[g] += k ? 1 : 0;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return width[a] > width[b]; });
    bool taken[128] = {};
    std::vector<bool> keep(groupCount, false);
    for (std::uint32_t g : order) {
      bool meets = false;
      for (std::size_t i = 0; i < zones.size(); ++i) {
        for (int k = zones[i].loKey; groups[i] == g && k <= zones[i].hiKey; ++k) meets = meets || taken[k];
      }
      if (meets) continue;
      keep[g] = true;
      for (std::size_t i = 0; i < zones.size(); ++i) {
        for (int k = zones[i].loKey; groups[i] == g && k <= zones[i].hiKey; ++k) taken[k] = true;
      }
    }
    std::vector<InstrumentZone> kept;
    std::vector<bool> noted(groupCount, false);
    for (std::size_t i = 0; i < zones.size(); ++i) {
      if (keep[groups[i]]) {
        if (Result r = TryPushBack(kept, std::move(zones[i]))) return r;
      } else if (!noted[groups[i]]) {
        noted[groups[i]] = true;
        Utf8View where = zones[i].where.view();
        where = where.substr(0, where.rfind(" zone "));
        report.Note("%.*s is a second layer on keys another instrument of the preset plays: left out",
                    static_cast<int>(where.size()), where.data());
      }
    }
    zones.swap(kept);
    return kOk;
  }

  // Neighbouring zones that play the same sample the same way become one
  // zone, so that the card holds the sample once.
  Result Merge() {
    SortZonesByKey(zones);
    std::vector<InstrumentZone> kept;
    for (InstrumentZone& z : zones) {
      if (!kept.empty()) {
        InstrumentZone& p = kept.back();
        if (p.first == z.first && p.partnerFirst == z.partnerFirst && p.frameCount == z.frameCount &&
            p.rootNote == z.rootNote && p.cents == z.cents && p.loopOn == z.loopOn && p.loopStart == z.loopStart &&
            p.loopEnd == z.loopEnd && z.loKey <= p.hiKey + 1) {
          p.loKey = std::min(p.loKey, z.loKey);
          p.hiKey = std::max(p.hiKey, z.hiKey);
          continue;
        }
      }
      if (Result r = TryPushBack(kept, std::move(z))) return r;
    }
    zones.swap(kept);
    return kOk;
  }
};

}  // namespace

Result OpenSoundFont(ByteSource& source, SoundFont& out, InstrumentReport& report) {
  out = SoundFont{};
  std::uint8_t head[12];
  if (source.size() < 12 || source.ReadAt(0, head) != kOk) return report.Refuse(kBadFormat, "not a SoundFont (too short)");
  ByteView h(head);
  if (h.Tag(0) != FourCC("RIFF") || h.Tag(8) != FourCC("sfbk")) {
    return report.Refuse(kBadFormat, "not a SoundFont 2 file (no RIFF \"sfbk\" header)");
  }
  const std::uint64_t end = std::min<std::uint64_t>(8 + std::uint64_t{h.U32LE(4)}, source.size());
  bool havePdta = false, haveSmpl = false;
  std::uint64_t sm24Bytes = 0;
  for (std::uint64_t at = 12; at + 8 <= end;) {
    std::uint8_t c[12] = {};
    if (Result r = source.ReadAt(at, std::span<std::uint8_t>(c, at + 12 <= end ? 12 : 8))) return r;
    ByteView cv(c);
    const std::uint32_t id = cv.Tag(0);
    const std::uint64_t size = cv.U32LE(4);
    const std::uint32_t type = cv.Tag(8);
    const std::uint64_t body = at + 12;
    if (id == FourCC("LIST") && size >= 4 && at + 8 + size <= end) {
      if (type == FourCC("INFO") || type == FourCC("pdta")) {
        std::vector<std::uint8_t> list;
        if (Result r = TryResize(list, static_cast<std::size_t>(size))) return r;
        if (Result r = source.ReadAt(at + 8, list)) return r;
        ByteView lv(list);
        if (type == FourCC("pdta")) {
          if (Result r = ParsePdta(lv, out, report)) return r;
          havePdta = true;
        } else {
          for (std::uint64_t s = 4; lv.Has(s, 10);) {
            if (lv.Tag(s) == FourCC("ifil") && lv.U16LE(s + 8) >= 3) {
              return report.Refuse(kBadFormat, "this is an SF3 SoundFont (version %u, compressed samples); only SF2 "
                                               "files with plain samples can be read: convert it to SF2 first",
                                   static_cast<unsigned>(lv.U16LE(s + 8)));
            }
            const std::uint64_t n = lv.U32LE(s + 4);  // 64-bit: a size near 4 GB must not wrap to a step of 0
            s += 8 + n + (n & 1);
          }
        }
      } else if (type == FourCC("sdta")) {
        for (std::uint64_t s = body; s + 8 <= at + 8 + size;) {
          std::uint8_t sc[8];
          if (Result r = source.ReadAt(s, sc)) return r;
          ByteView sv(sc);
          const std::uint64_t n = sv.U32LE(4);
          if (s + 8 + n > at + 8 + size) return report.Refuse(kTooMuchData, "the file ends inside its sample data");
          if (sv.Tag(0) == FourCC("smpl")) {
            out.smplOffset = s + 8;
            out.smplFrames = n / 2;
            haveSmpl = true;
          } else if (sv.Tag(0) == FourCC("sm24")) {
            out.sm24Offset = s + 8;
            sm24Bytes = n;
          }
          s += 8 + n + (n & 1);
        }
      }
    } else if (id == FourCC("LIST") && at + 8 + size > end) {
      return report.Refuse(kTooMuchData, "the file ends inside its \"%c%c%c%c\" list", static_cast<char>(type >> 24),
                           static_cast<char>(type >> 16), static_cast<char>(type >> 8), static_cast<char>(type));
    }
    at += 8 + size + (size & 1);
  }
  if (!havePdta) return report.Refuse(kBadFormat, "the SoundFont has no preset headers (pdta)");
  if (!haveSmpl) return report.Refuse(kBadFormat, "the SoundFont has no sample data (smpl)");
  // 24-bit data only when its low bytes cover every 16-bit frame.
  out.has24 = out.sm24Offset != 0 && sm24Bytes >= out.smplFrames;
  return kOk;
}

Result SoundFontZones(const SoundFont& font, const Sf2Choice& choice, std::vector<InstrumentZone>& zones,
                      InstrumentReport& report) {
  zones.clear();
  Resolver r{font, choice, report, zones, {}, {}};
  Result result = kNotFound;
  if (choice.kind == Sf2Choice::Kind::kInstrument) {
    for (std::size_t i = 0; i < font.instrumentCount() && result == kNotFound; ++i) {
      if (font.instruments[i].name.view() == choice.name) result = r.Instrument(i, nullptr, Utf8View());
    }
    if (result == kNotFound) {
      return report.Refuse(kNotFound, "there is no instrument \"%.*s\" in the SoundFont",
                           static_cast<int>(choice.name.size()), choice.name.data());
    }
  } else {
    for (std::size_t i = 0; i < font.presetCount() && result == kNotFound; ++i) {
      const Sf2Preset& p = font.presets[i];
      const bool match = choice.kind == Sf2Choice::Kind::kPresetName
                             ? p.name.view() == choice.name
                             : p.bank == choice.bank && p.program == choice.program;
      if (match) result = r.Preset(i);
    }
    if (result == kNotFound) {
      if (choice.kind == Sf2Choice::Kind::kPresetName) {
        return report.Refuse(kNotFound, "there is no preset \"%.*s\" in the SoundFont",
                             static_cast<int>(choice.name.size()), choice.name.data());
      }
      return report.Refuse(kNotFound, "there is no preset %u:%u in the SoundFont", static_cast<unsigned>(choice.bank),
                           static_cast<unsigned>(choice.program));
    }
  }
  if (result != kOk) return result;
  if (Result e = r.Pair()) return e;
  if (Result e = r.SelectLayer()) return e;
  return r.Merge();
}

Result ReadSoundFontAudio(ByteSource& source, const SoundFont& font, std::vector<InstrumentZone>& zones,
                          InstrumentReport& report) {
  std::vector<std::uint8_t> raw, low;
  std::vector<float> right;
  for (InstrumentZone& z : zones) {
    const std::uint64_t n = z.frameCount;
    if (n > (std::uint64_t{1} << 28)) return report.Refuse(kFileTooLarge, "%s: the sample is too long", Z(z.where).c);
    z.audio = DecodedAudio{};
    // Each channel decoded alone, then the two mixed as the import mixes a
    // stereo frame: their sum in single precision divided by two.
    for (int c = 0; c < (z.partnerFirst >= 0 ? 2 : 1); ++c) {
      const std::uint64_t first = c == 0 ? z.first : static_cast<std::uint64_t>(z.partnerFirst);
      if (Result r = TryResize(raw, static_cast<std::size_t>(2 * n))) return r;
      if (Result r = source.ReadAt(font.smplOffset + 2 * first, raw)) {
        return report.Refuse(r, "%s: the sample data of \"%s\" could not be read", Z(z.where).c, Z(z.name).c);
      }
      if (font.has24) {  // 24-bit frames: the low byte from "sm24" below each 16-bit word
        if (Result r = TryResize(low, static_cast<std::size_t>(n))) return r;
        if (source.ReadAt(font.sm24Offset + first, low) != kOk) std::fill(low.begin(), low.end(), std::uint8_t{0});
        if (Result r = TryResize(raw, static_cast<std::size_t>(3 * n))) return r;
        for (std::uint64_t i = n; i-- > 0;) {
          raw[3 * i + 2] = raw[2 * i + 1];
          raw[3 * i + 1] = raw[2 * i];
          raw[3 * i] = low[i];
        }
      }
      float peak = 0.0f;
      if (Result r = DecodeAndMix(ByteView(raw), 0, n, 1, font.has24 ? SampleKind::kS24LE : SampleKind::kS16LE,
                                  c == 0 ? z.audio.frames : right, c == 0 ? z.audio.peak : peak)) {
        return r;
      }
    }
    if (z.partnerFirst >= 0) {
      float peak = 0.0f, magnitude = 0.0f;
      for (std::size_t i = 0; i < z.audio.frames.size(); ++i) {
        const float v = (z.audio.frames[i] + right[i]) / 2.0f;
        z.audio.frames[i] = v;
        if (std::fabs(v) > magnitude) peak = v, magnitude = std::fabs(v);
      }
      z.audio.peak = peak;
    }
    z.audio.channelCount = 1;
    z.audio.sampleRate = z.rate;
  }
  return kOk;
}

}  // namespace tavrin
