#include "card/card_image.h"

#include <cstring>
#include <utility>

#include "base/alloc.h"

namespace tavrin {
namespace {

constexpr std::uint64_t kMaxRecords = 0xFFFF;      // record counts and indices are 16-bit
constexpr std::uint64_t kMaxZonesPerSound = 0xFF;  // a multisound's zone count is 8-bit
constexpr std::uint64_t kMaxLoopAddress = 0xFFFFFF;  // loop word addresses are 24-bit
constexpr std::uint64_t kMaxAddress = 0xFFFFFFFF;

struct Block {
  const SampleData* sample;
  bool pcmStart;          // PCM start rule: the start address is 2 words past the first value
  std::uint64_t base;     // word address of the first value
  std::uint64_t values;   // stored values, including a DWGS tail
};

struct Zone {
  std::uint16_t sampleIndex;
  const SampleData* sample;
};

struct MultiRecord {
  std::uint16_t firstZone;
  std::uint8_t kind;
  std::uint8_t zoneCount;
  const SoundName* name;
};

struct DrumRecord {
  std::uint16_t sampleIndex;
  const SoundName* name;
};

struct Plan {
  std::vector<Block> blocks;
  std::vector<Zone> zones;
  std::vector<MultiRecord> multis;
  std::vector<DrumRecord> drums;
  std::vector<const Sound*> dwgsTail;  // later DWGS sounds whose frames follow the first one's
  std::uint64_t pcmMultis = 0;
  std::uint64_t totalValues = 0;
};

// Bounds-checked little-endian writes into the image; a write that does not
// fit is skipped and remembered.
struct Writer {
  std::uint8_t* data;
  std::uint64_t size;
  bool failed = false;

  bool Fits(std::uint64_t offset, std::uint64_t n) {
    if (data == nullptr || offset > size || n > size - offset) {
      failed = true;
      return false;
    }
    return true;
  }
  void U8(std::uint64_t offset, std::uint32_t v) {
    if (Fits(offset, 1)) data[offset] = static_cast<std::uint8_t>(v);
  }
  void U16(std::uint64_t offset, std::uint32_t v) {
    if (!Fits(offset, 2)) return;
    data[offset] = static_cast<std::uint8_t>(v);
    data[offset + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void U24(std::uint64_t offset, std::uint32_t v) {
    if (!Fits(offset, 3)) return;
    data[offset] = static_cast<std::uint8_t>(v);
    data[offset + 1] = static_cast<std::uint8_t>(v >> 8);
    data[offset + 2] = static_cast<std::uint8_t>(v >> 16);
  }
  void U32(std::uint64_t offset, std::uint32_t v) {
    if (!Fits(offset, 4)) return;
    for (int i = 0; i < 4; ++i) data[offset + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  // The first min(length, 10) bytes of the name, padded with spaces.
  void Name(std::uint64_t offset, Utf8View name) {
    if (!Fits(offset, 10)) return;
    const std::size_t n = name.size() < 10 ? name.size() : 10;
    std::memcpy(data + offset, name.data(), n);
    std::memset(data + offset + n, ' ', 10 - n);
  }
};

// PCM multisounds ahead of DWGS ones, each group keeping its order.
void OrderMultisounds(std::vector<Sound>& list) {
  for (std::size_t i = 1; i < list.size(); ++i) {
    for (std::size_t j = i; j > 0; --j) {
      if (list[j].waveType == WaveType::PCM && list[j - 1].waveType == WaveType::DWGS) {
        std::swap(list[j], list[j - 1]);
      } else {
        break;
      }
    }
  }
}

// Samples by root note (stable), then the top keys of non-transposing samples.
void OrderZones(Sound& sound) {
  std::vector<SampleData>& s = sound.samples;
  for (std::size_t i = 1; i < s.size(); ++i) {
    for (std::size_t j = i; j > 0 && s[j].rootNote < s[j - 1].rootNote; --j) std::swap(s[j], s[j - 1]);
  }
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!s[i].nonTranspose) continue;
    if (i + 1 == s.size()) {
      s[i].topKey = 127;
    } else {
      const int key = static_cast<int>(s[i + 1].rootNote) - 1;
      s[i].topKey = static_cast<std::uint8_t>(key < 0 ? 0 : (key > 127 ? 127 : key));
    }
  }
}

// Markers must describe a loadable sample: within 0..frame count, start and
// loop not past end. A sample without frames may have them unset. A negative
// loop (a drum import of fewer than 5 frames puts it before the first frame)
// is stored as 0: an address before the block would make the loader read the
// previous block's values as this sample's.
// Words for a sample the card cannot hold; nullptr when it can. A sample
// without frames is refused: its start address would lie past its end.
const char* SampleProblem(const SampleData& s) {
  const std::int64_t n = s.frameCount();
  const MarkerSet& m = s.markers;
  if (n == 0) return "it holds no frames";
  if (m.start < 0 || m.end < 0 || m.end > n) return "a marker lies outside the sample";
  if (m.start > m.end || m.loop > m.end) return "Start or Loop lies past End";
  return nullptr;
}

const char* KindName(const Sound& sound) {
  return sound.soundType == SoundType::Drumsound ? "Drumsound \"" : "Multisound \"";
}

// Fills in the reason of a refusal; returns 5 for the caller to pass on.
Result Refuse(BuildRefusal* out, const Sound* sound, const SampleData* sample, Utf8View what) {
  if (out == nullptr) return kTooMuchData;
  out->clear();
  if (sample != nullptr) {
    out->append("Sample \"");
    out->append(sample->name.view());
    if (sound != nullptr) {
      out->append("\" of \"");
      out->append(sound->name.view());
    }
    out->append("\": ");
  } else if (sound != nullptr) {
    out->append(KindName(*sound));
    out->append(sound->name.view());
    out->append("\": ");
  }
  out->append(what);
  return kTooMuchData;
}

std::int64_t MarkerOrZero(std::int64_t v) { return v < 0 ? 0 : v; }

bool SameLayout(const Sound& a, const Sound& b) {
  if (a.samples.size() != b.samples.size()) return false;
  for (std::size_t i = 0; i < a.samples.size(); ++i) {
    if (a.samples[i].frames.size() != b.samples[i].frames.size()) return false;
  }
  return true;
}

Result AddBlock(Plan& p, const Sound& sound, const SampleData& s, bool pcmStart, std::uint64_t extra,
                std::uint64_t& address, BuildRefusal* refusal) {
  if (const char* problem = SampleProblem(s)) return Refuse(refusal, &sound, &s, problem);
  const std::uint64_t values = s.frames.size() + extra;
  if (Result r = TryPushBack(p.blocks, Block{&s, pcmStart, address, values})) return r;
  address += values;
  p.totalValues += values;
  return kOk;
}

Result PlanImage(const CardDocument& doc, Plan& p, std::uint64_t w, BuildRefusal* refusal) {
  constexpr const char* kTooManyRecords = "the card holds at most 65535 sounds, zones and samples of each kind";
  std::uint64_t address = 32 * w;

  // The DWGS block: the first non-empty DWGS multisound's waves, the last one
  // followed by the frames of every later non-empty DWGS multisound, which
  // share the first one's zone and sample records. Empty DWGS multisounds are
  // left out like empty PCM ones.
  const Sound* firstDwgs = nullptr;
  for (const Sound& sound : doc.multisounds) {
    if (sound.waveType != WaveType::DWGS || sound.samples.empty()) continue;
    if (firstDwgs == nullptr) {
      firstDwgs = &sound;
    } else {
      // A later DWGS sound is read back in the first one's shape: it must
      // have the same waves of the same lengths.
      if (!SameLayout(*firstDwgs, sound)) {
        return Refuse(refusal, &sound, nullptr, "its DWGS set differs in shape from the first DWGS Multisound");
      }
      if (Result r = TryPushBack(p.dwgsTail, &sound)) return r;
    }
  }
  if (firstDwgs != nullptr) {
    const std::vector<SampleData>& waves = firstDwgs->samples;
    if (waves.size() > kMaxZonesPerSound) return Refuse(refusal, firstDwgs, nullptr, "it has more than 255 samples");
    std::uint64_t setValues = 0;
    for (const SampleData& s : waves) setValues += s.frames.size();
    // The loader finds the later sounds' data after the end of the last wave,
    // so with later sounds that wave must end at its last frame.
    if (!p.dwgsTail.empty() && waves.back().markers.end != waves.back().frameCount()) {
      return Refuse(refusal, firstDwgs, &waves.back(),
                    "End must lie at the last frame while other DWGS Multisounds follow");
    }
    for (std::size_t i = 0; i < waves.size(); ++i) {
      if (Result r = TryPushBack(p.zones, Zone{static_cast<std::uint16_t>(p.blocks.size()), &waves[i]})) return r;
      const std::uint64_t extra = i + 1 == waves.size() ? p.dwgsTail.size() * setValues : 0;
      if (Result r = AddBlock(p, *firstDwgs, waves[i], false, extra, address, refusal)) return r;
    }
  }

  for (const Sound& sound : doc.multisounds) {
    if (sound.samples.empty()) continue;
    if (sound.samples.size() > kMaxZonesPerSound) return Refuse(refusal, &sound, nullptr, "it has more than 255 samples");
    if (sound.waveType == WaveType::DWGS) {
      if (Result r = TryPushBack(p.multis, MultiRecord{0, 2, static_cast<std::uint8_t>(firstDwgs->samples.size()),
                                                       &sound.name})) {
        return r;
      }
      continue;
    }
    if (sound.waveType != WaveType::PCM) continue;
    if (p.zones.size() > kMaxRecords) return Refuse(refusal, nullptr, nullptr, kTooManyRecords);
    if (Result r = TryPushBack(p.multis, MultiRecord{static_cast<std::uint16_t>(p.zones.size()), 0,
                                                     static_cast<std::uint8_t>(sound.samples.size()), &sound.name})) {
      return r;
    }
    ++p.pcmMultis;
    for (const SampleData& s : sound.samples) {
      if (p.blocks.size() > kMaxRecords || p.zones.size() >= kMaxRecords) {
        return Refuse(refusal, nullptr, nullptr, kTooManyRecords);
      }
      if (Result r = TryPushBack(p.zones, Zone{static_cast<std::uint16_t>(p.blocks.size()), &s})) return r;
      if (Result r = AddBlock(p, sound, s, true, 0, address, refusal)) return r;
    }
  }

  for (const Sound& sound : doc.drumsounds) {
    if (sound.samples.empty()) continue;
    if (p.blocks.size() > kMaxRecords) return Refuse(refusal, nullptr, nullptr, kTooManyRecords);
    if (Result r = TryPushBack(p.drums, DrumRecord{static_cast<std::uint16_t>(p.blocks.size()), &sound.name})) {
      return r;
    }
    if (Result r = AddBlock(p, sound, sound.samples.front(), true, 0, address, refusal)) return r;
  }

  if (p.multis.size() > kMaxRecords || p.drums.size() > kMaxRecords || p.zones.size() > kMaxRecords ||
      p.blocks.size() > kMaxRecords) {
    return Refuse(refusal, nullptr, nullptr, kTooManyRecords);
  }
  // Every address must fit its field: loop addresses 24 bits, the others 32.
  for (const Block& b : p.blocks) {
    const MarkerSet& m = b.sample->markers;
    const std::uint64_t start = b.base + static_cast<std::uint64_t>(MarkerOrZero(m.start)) + (b.pcmStart ? 2 : 0);
    const std::uint64_t loop = b.base + static_cast<std::uint64_t>(MarkerOrZero(m.loop));
    const std::uint64_t end = b.base + static_cast<std::uint64_t>(MarkerOrZero(m.end));
    if (loop > kMaxLoopAddress || start > kMaxAddress || end > kMaxAddress) {
      return Refuse(refusal, nullptr, b.sample, "its addresses lie beyond what the card can address");
    }
  }
  return kOk;
}

std::uint64_t ImageSize(const Plan& p, std::uint64_t w) {
  return w * (64 + 14 * (p.multis.size() + p.blocks.size()) + 12 * p.drums.size() + 10 * p.zones.size()) +
         2 * p.totalValues;
}

void WriteValues(Writer& out, std::uint64_t offset, const std::vector<float>& frames) {
  if (!out.Fits(offset, 2 * static_cast<std::uint64_t>(frames.size()))) return;
  std::uint8_t* dst = out.data + offset;
  for (float f : frames) {
    const std::uint16_t v = static_cast<std::uint16_t>(FrameToInt16(f));
    dst[0] = static_cast<std::uint8_t>(v);
    dst[1] = static_cast<std::uint8_t>(v >> 8);
    dst += 2;
  }
}

// Writes the header and the tables in normal width at their normal-width
// offsets; `tableOffset` is where the tables start in bytes.
void WriteHeaderAndTables(Writer& out, const CardDocument& doc, const Plan& p, std::uint64_t w,
                          std::uint64_t tableOffset, bool wide) {
  const std::uint64_t t = 32 * w + p.totalValues;
  const std::uint64_t drumTable = t + 7 * w * p.multis.size();
  const std::uint64_t zoneTable = drumTable + 6 * w * p.drums.size();
  const std::uint64_t sampleTable = zoneTable + 5 * w * p.zones.size();

  out.U8(0, 'K');
  out.U8(1, 'O');
  out.U8(2, 'R');
  out.U8(3, 'G');
  out.U16(4, wide ? 0x001F : 0x000F);
  out.Name(6, doc.name.view());
  out.U32(16, static_cast<std::uint32_t>(t));
  out.U16(20, static_cast<std::uint32_t>(p.multis.size()));
  out.U16(22, static_cast<std::uint32_t>(p.pcmMultis));
  out.U32(24, static_cast<std::uint32_t>(drumTable));
  out.U16(28, static_cast<std::uint32_t>(p.drums.size()));
  out.U32(32, static_cast<std::uint32_t>(zoneTable));
  out.U16(36, static_cast<std::uint32_t>(p.zones.size()));
  out.U32(40, static_cast<std::uint32_t>(sampleTable));
  out.U16(44, static_cast<std::uint32_t>(p.blocks.size()));

  std::uint64_t o = tableOffset;
  for (const MultiRecord& r : p.multis) {
    out.U16(o, r.firstZone);
    out.U8(o + 2, r.kind);
    out.U8(o + 3, r.zoneCount);
    out.Name(o + 4, r.name->view());
    o += 14;
  }
  for (const DrumRecord& r : p.drums) {
    out.U16(o, r.sampleIndex);
    out.Name(o + 2, r.name->view());
    o += 12;
  }
  for (const Zone& z : p.zones) {
    const SampleData& s = *z.sample;
    out.U16(o, z.sampleIndex);
    out.U8(o + 2, s.topKey);
    out.U8(o + 3, s.zoneAttribute);
    out.U8(o + 4, static_cast<std::uint8_t>(s.transpose));
    out.U8(o + 5, (s.rootNote & 0x7Fu) | (s.nonTranspose ? 0x80u : 0u));
    out.U8(o + 6, static_cast<std::uint8_t>(s.level));
    out.U8(o + 7, static_cast<std::uint8_t>(s.vdfCutoff));
    out.U8(o + 8, static_cast<std::uint8_t>(s.decayLevel));
    out.U8(o + 9, 0);
    o += 10;
  }
  for (const Block& b : p.blocks) {
    const MarkerSet& m = b.sample->markers;
    const std::uint64_t start = b.base + static_cast<std::uint64_t>(MarkerOrZero(m.start)) + (b.pcmStart ? 2 : 0);
    out.U16(o, m.sampleAttribute);
    out.U32(o + 2, static_cast<std::uint32_t>(start));
    out.U24(o + 6, static_cast<std::uint32_t>(b.base + static_cast<std::uint64_t>(MarkerOrZero(m.loop))));
    out.U8(o + 9, b.sample->loopFlags & 0xFF);
    out.U32(o + 10, static_cast<std::uint32_t>(b.base + static_cast<std::uint64_t>(MarkerOrZero(m.end))));
    o += 14;
  }
}

// Widens `count` bytes at `from` into pairs 0xFF, byte at `to` (to >= from;
// works backwards so it can run in place).
void Widen(std::uint8_t* data, std::uint64_t from, std::uint64_t to, std::uint64_t count) {
  for (std::uint64_t k = count; k-- > 0;) {
    const std::uint8_t b = data[from + k];
    data[to + 2 * k] = 0xFF;
    data[to + 2 * k + 1] = b;
  }
}

}  // namespace

Result BuildCardImage(CardDocument& doc, CardLayout layout, CardImage& out, std::uint64_t* requiredSize,
                      BuildRefusal* refusal) {
  if (refusal) refusal->clear();
  const bool wide = layout == CardLayout::WideCard;
  const std::uint64_t w = wide ? 2 : 1;

  OrderMultisounds(doc.multisounds);
  for (Sound& sound : doc.multisounds) {
    if (sound.waveType != WaveType::DWGS) OrderZones(sound);
  }

  Plan plan;
  if (Result r = PlanImage(doc, plan, w, refusal)) return r;
  const std::uint64_t size = ImageSize(plan, w);

  std::uint64_t length = size;
  if (layout == CardLayout::File) {
    if (size > kMaxCardFileSize) {
      if (requiredSize) *requiredSize = size;
      return kTooMuchData;
    }
  } else {
    if (size > doc.cardCapacity) {
      if (requiredSize) *requiredSize = size;
      return kTooMuchData;
    }
    length = doc.cardCapacity;
  }

  CardImage image;
  if (Result r = TryResize(image, static_cast<std::size_t>(length))) return r;  // zero-filled
  if (length > size) std::memset(image.data() + size, 0xFF, static_cast<std::size_t>(length - size));

  Writer writer{image.data(), size};
  const std::uint64_t dataOffset = 64 * w;
  std::uint64_t o = dataOffset;
  for (const Block& b : plan.blocks) {
    WriteValues(writer, o, b.sample->frames);
    o += 2 * static_cast<std::uint64_t>(b.sample->frames.size());
    if (b.values > b.sample->frames.size()) {
      // The last wave of the DWGS block: the later DWGS sounds follow it.
      for (const Sound* sound : plan.dwgsTail) {
        for (const SampleData& s : sound->samples) {
          WriteValues(writer, o, s.frames);
          o += 2 * static_cast<std::uint64_t>(s.frames.size());
        }
      }
    }
  }
  const std::uint64_t valuesEnd = dataOffset + 2 * plan.totalValues;
  if (o != valuesEnd) writer.failed = true;

  // Header and tables are written at normal width first. For the wide layout
  // the tables go to the start of their (wider) area and are widened in place
  // from the back, which never overwrites a byte not yet widened.
  const std::uint64_t tableBytes = 14 * (plan.multis.size() + plan.blocks.size()) + 12 * plan.drums.size() +
                                   10 * plan.zones.size();
  WriteHeaderAndTables(writer, doc, plan, w, valuesEnd, wide);
  if (wide && !writer.failed) {
    std::uint8_t* d = image.data();
    std::memcpy(d + 48, d + 32, 16);
    Widen(d, valuesEnd, valuesEnd, tableBytes);
    // The header's 64 bytes become 128 over the first 128 bytes, which the
    // sample data never uses (it starts at byte 128).
    Widen(d, 0, 0, 64);
  }
  if (writer.failed) return kTooMuchData;
  out.swap(image);
  return kOk;
}

}  // namespace tavrin
