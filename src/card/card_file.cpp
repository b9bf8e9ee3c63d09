#include "card/card_file.h"

#include <cstring>
#include <utility>

#include "base/alloc.h"
#include "base/file_io.h"
#include "base/random.h"
#include "card/card_image.h"

namespace tavrin {
namespace {

constexpr std::uint8_t kSignature[6] = {0x4B, 0x4F, 0x52, 0x47, 0x0F, 0x00};
constexpr std::uint64_t kDataStartWord = 32;  // sample data begins after the 64-byte header
// Zones may share a sample record, but a load never makes more frames than
// this many times the frames the file stores (2 bytes each), so that a small
// file cannot ask for any amount of memory.
constexpr std::uint64_t kMaxFrameSharing = 8;

// Little-endian reads from the unscrambled image; any read that would reach
// past the end sets `bad`.
struct Reader {
  const std::uint8_t* data;
  std::uint64_t size;
  bool bad = false;
  std::uint64_t framesLeft = size / 2 * kMaxFrameSharing;

  bool Has(std::uint64_t offset, std::uint64_t n) {
    if (offset > size || n > size - offset) {
      bad = true;
      return false;
    }
    return true;
  }
  std::uint32_t U8(std::uint64_t o) { return Has(o, 1) ? data[o] : 0; }
  std::uint32_t U16(std::uint64_t o) { return Has(o, 2) ? data[o] | (data[o + 1] << 8) : 0; }
  std::uint32_t U32(std::uint64_t o) {
    if (!Has(o, 4)) return 0;
    return static_cast<std::uint32_t>(data[o]) | (static_cast<std::uint32_t>(data[o + 1]) << 8) |
           (static_cast<std::uint32_t>(data[o + 2]) << 16) | (static_cast<std::uint32_t>(data[o + 3]) << 24);
  }
  // A 10-byte name with its trailing spaces stripped.
  Utf8View Name(std::uint64_t o) {
    if (!Has(o, 10)) return Utf8View();
    std::size_t n = 10;
    while (n > 0 && data[o + n - 1] == ' ') --n;
    return Utf8View(reinterpret_cast<const char*>(data + o), n);
  }
};

struct Header {
  std::uint64_t multiPos, multiCount, drumPos, drumCount, zonePos, zoneCount, samplePos, sampleCount;
};

// Reads sample record `index` into s. `pcm` applies the 2-word start offset of
// PCM samples; `base` is the word offset of a later DWGS sound's data.
Result ReadSampleRecord(Reader& rd, const Header& h, std::uint64_t index, bool pcm, std::int64_t base,
                        SampleData& s) {
  if (index >= h.sampleCount) return kBadFormat;
  const std::uint64_t o = 2 * h.samplePos + 14 * index;
  if (!rd.Has(o, 14)) return kBadFormat;
  s.markers.sampleAttribute = static_cast<std::uint16_t>(rd.U16(o));
  std::int64_t start = rd.U32(o + 2);
  const std::int64_t loop = rd.U16(o + 6) | (rd.U8(o + 8) << 16);
  s.loopFlags = rd.U8(o + 9);
  s.loopOn = s.loopFlags != 0;
  const std::int64_t end = rd.U32(o + 10);
  if (pcm) start -= 2;
  if (start > end || loop > end || start < 0) return kBadFormat;
  const std::int64_t first = (start < loop ? start : loop) + base;
  const std::int64_t count = end + base - first;
  if (first < 0 || !rd.Has(2 * static_cast<std::uint64_t>(first), 2 * static_cast<std::uint64_t>(count))) {
    return kBadFormat;
  }
  if (static_cast<std::uint64_t>(count) > rd.framesLeft) return kBadFormat;
  rd.framesLeft -= static_cast<std::uint64_t>(count);
  if (Result r = TryResize(s.frames, static_cast<std::size_t>(count))) return r;
  const std::uint8_t* p = rd.data + 2 * first;
  for (std::int64_t i = 0; i < count; ++i, p += 2) {
    s.frames[static_cast<std::size_t>(i)] = Int16ToFrame(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
  }
  s.markers.start = start + base - first;
  s.markers.loop = loop + base - first;
  s.markers.end = end + base - first;
  return kOk;
}

Result ParseImage(Reader& rd, CardDocument& doc) {
  if (rd.size < 46) return kBadFormat;
  doc.name.assign(rd.Name(6));
  Header h;
  h.multiPos = rd.U32(16);
  h.multiCount = rd.U16(20);
  h.drumPos = rd.U32(24);
  h.drumCount = rd.U16(28);
  h.zonePos = rd.U32(32);
  h.zoneCount = rd.U16(36);
  h.samplePos = rd.U32(40);
  h.sampleCount = rd.U16(44);

  // DWGS multisounds share the first one's zones; the k-th one's data lies
  // k * dwgsWords words after the first one's.
  std::int64_t dwgsIndex = 0;
  std::int64_t dwgsWords = 0;
  if (Result r = TryReserve(doc.multisounds, static_cast<std::size_t>(h.multiCount))) return r;
  for (std::uint64_t i = 0; i < h.multiCount; ++i) {
    const std::uint64_t o = 2 * h.multiPos + 14 * i;
    if (!rd.Has(o, 14)) return kBadFormat;
    Sound* sound = AppendSound(doc.multisounds, SoundType::Multisound);
    if (sound == nullptr) return kOutOfMemory;
    sound->name.assign(rd.Name(o + 4));
    const bool dwgs = (rd.U8(o + 2) & 2) != 0;
    sound->waveType = dwgs ? WaveType::DWGS : WaveType::PCM;
    const std::uint64_t firstZone = rd.U16(o);
    const std::uint64_t zones = rd.U8(o + 3);
    if (firstZone + zones > h.zoneCount) return kBadFormat;
    const std::int64_t base = dwgs ? dwgsIndex * dwgsWords : 0;
    if (Result r = TryReserve(sound->samples, static_cast<std::size_t>(zones))) return r;
    std::int64_t lastEnd = 0;
    for (std::uint64_t j = firstZone; j < firstZone + zones; ++j) {
      const std::uint64_t z = 2 * h.zonePos + 10 * j;
      if (!rd.Has(z, 10)) return kBadFormat;
      SampleData* s = AppendSample(*sound);
      if (s == nullptr) return kOutOfMemory;
      s->topKey = static_cast<std::uint8_t>(rd.U8(z + 2));
      s->zoneAttribute = static_cast<std::uint8_t>(rd.U8(z + 3));
      s->transpose = static_cast<std::int8_t>(rd.U8(z + 4));
      const std::uint32_t note = rd.U8(z + 5);
      s->rootNote = static_cast<std::uint8_t>(note & 0x7F);
      s->nonTranspose = (note & 0x80) != 0;
      s->level = static_cast<std::int8_t>(rd.U8(z + 6));
      s->vdfCutoff = static_cast<std::int8_t>(rd.U8(z + 7));
      s->decayLevel = static_cast<std::int8_t>(rd.U8(z + 8));
      s->transposeValid = true;
      const std::uint64_t sampleIndex = rd.U16(z);
      if (Result r = ReadSampleRecord(rd, h, sampleIndex, !dwgs, base, *s)) return r;
      lastEnd = rd.U32(2 * h.samplePos + 14 * sampleIndex + 10);
      s->name.assign(sound->name.view());
      NameSampleAfterRootNote(*s);
    }
    if (dwgs) {
      if (dwgsIndex == 0 && zones > 0) {
        // The later sounds' data follows the end of the first sound's last
        // wave, whatever its start and loop markers are.
        dwgsWords = lastEnd - static_cast<std::int64_t>(kDataStartWord);
        if (dwgsWords < 0) return kBadFormat;
      }
      ++dwgsIndex;
    }
  }

  if (Result r = TryReserve(doc.drumsounds, static_cast<std::size_t>(h.drumCount))) return r;
  for (std::uint64_t i = 0; i < h.drumCount; ++i) {
    const std::uint64_t o = 2 * h.drumPos + 12 * i;
    if (!rd.Has(o, 12)) return kBadFormat;
    Sound* sound = AppendSound(doc.drumsounds, SoundType::Drumsound);
    if (sound == nullptr) return kOutOfMemory;
    sound->name.assign(rd.Name(o + 2));
    SampleData* s = AppendSample(*sound);
    if (s == nullptr) return kOutOfMemory;
    if (Result r = ReadSampleRecord(rd, h, rd.U16(o), true, 0, *s)) return r;
    s->name.assign(sound->name.view());
  }
  return rd.bad ? kBadFormat : kOk;
}

}  // namespace

Result ParseCardFile(std::span<const std::uint8_t> bytes, CardDocument& out) {
  if (bytes.size() < 6) return kBadFormat;
  std::uint8_t key = 0;
  if (std::memcmp(bytes.data(), kSignature, 6) != 0) {
    key = bytes[0] ^ 0x4B;
    for (int i = 0; i < 6; ++i) {
      if ((bytes[static_cast<std::size_t>(i)] ^ key) != kSignature[i]) return kBadFormat;
    }
  }
  std::vector<std::uint8_t> plain;
  if (Result r = TryResize(plain, bytes.size())) return r;
  for (std::size_t i = 0; i < bytes.size(); ++i) plain[i] = bytes[i] ^ key;

  out.Reset();
  Reader rd{plain.data(), plain.size()};
  const Result r = ParseImage(rd, out);
  if (r != kOk) {
    out.Reset();
    return r;
  }
  out.modified = false;
  return kOk;
}

Result LoadCardFile(Utf8View path, CardDocument& doc) {
  if (path.empty()) return kInvalidArgument;
  std::vector<std::uint8_t> bytes;
  if (Result r = ReadWholeFile(path, kMaxReadableFile, bytes)) return r;
  // Parsed into a fresh document so that a failed load leaves the current one
  // (and with it the path it belongs to) exactly as it was.
  CardDocument loaded;
  loaded.cardCapacity = doc.cardCapacity;
  if (Result r = ParseCardFile(bytes, loaded)) return r;
  doc = std::move(loaded);
  return kOk;
}

Result EncodeCardFile(CardDocument& doc, std::uint8_t key, std::vector<std::uint8_t>& out, BuildRefusal* refusal) {
  CardImage image;
  if (Result r = BuildCardImage(doc, CardLayout::File, image, nullptr, refusal)) return r;
  for (std::uint8_t& b : image) b ^= key;
  out.swap(image);
  return kOk;
}

std::size_t SoundsWithoutSamples(const CardDocument& doc) {
  std::size_t n = 0;
  for (const Sound& s : doc.multisounds) n += s.samples.empty() ? 1 : 0;
  for (const Sound& s : doc.drumsounds) n += s.samples.empty() ? 1 : 0;
  return n;
}

Result SaveCardFile(Utf8View path, CardDocument& doc, SaveReport* outcome) {
  if (outcome) *outcome = SaveReport{};
  std::uint8_t key = 0;
  while (key == 0) {
    if (!RandomBytes(&key, 1)) return kFailed;
  }
  std::vector<std::uint8_t> bytes;
  if (Result r = EncodeCardFile(doc, key, bytes, outcome ? &outcome->refusal : nullptr)) return r;
  if (path.empty()) return kInvalidArgument;
  if (Result r = WriteWholeFile(path, bytes)) return r;
  if (outcome) outcome->soundsLeftOut = SoundsWithoutSamples(doc);
  doc.modified = false;
  return kOk;
}

Utf8View LoadFailureReason(Result code) {
  switch (code) {
    case kEndOfData: return "The file is incomplete";
    case kBadFormat: return "Invalid file format";
    case kNotFound: return "File not found";
    case kFileTooLarge: return "The file is too big to load";
    case 29: return "The file is too new for this software-version";
    default: return "Inconsistent file";
  }
}

}  // namespace tavrin
