#include "audio/export.h"

#include "base/alloc.h"
#include "base/file_io.h"

namespace tavrin {
namespace {

constexpr std::size_t kMaxPathBytes = 260;
constexpr std::size_t kMaxFileNameBytes = 48;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutTag(std::uint8_t* p, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(tag[i]);
}
std::uint32_t SignExtended(std::int8_t v) { return static_cast<std::uint32_t>(static_cast<std::int32_t>(v)); }
std::uint32_t Low32(std::int64_t v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)); }

bool Removed(unsigned char c) {
  if (c < 0x20 || c == 0x7F) return true;  // control characters
  switch (c) {
    case '<': case '>': case ':': case '"': case '/': case '\\': case '|': case '?': case '*': return true;
    default: return false;
  }
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCaseAscii(Utf8View a, Utf8View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Upper(a[i]) != Upper(b[i])) return false;
  }
  return true;
}

// Windows opens a device, not a file, for these names, whatever follows the
// first "." and however the name is cased; trailing spaces and dots before the
// "." are ignored by the platform too.
bool IsReservedDeviceName(Utf8View name) {
  Utf8View base = name.substr(0, name.find('.'));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.remove_suffix(1);
  static constexpr const char* kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* r : kFixed) {
    if (EqualNoCaseAscii(base, r)) return true;
  }
  if (base.size() == 4 && (EqualNoCaseAscii(base.substr(0, 3), "COM") || EqualNoCaseAscii(base.substr(0, 3), "LPT")) &&
      base[3] >= '0' && base[3] <= '9') {
    return true;
  }
  return false;
}

bool SameFileName(Utf8View a, Utf8View b) { return a == b || EqualUtf8NoCase(a, b); }

}  // namespace

Result BuildWavImage(const SampleData& sample, std::vector<std::uint8_t>& out) {
  const std::uint64_t n = sample.frames.size();
  const std::uint32_t loops = (sample.loopFlags & LoopFlags::kForward) ? 1 : 0;
  const std::uint64_t riffSize = 108 + 24 * static_cast<std::uint64_t>(loops) + 2 * n;
  if (riffSize > 0xFFFFFFFFu) return kTooMuchData;
  if (Result r = TryResize(out, static_cast<std::size_t>(riffSize + 8))) return r;
  std::uint8_t* p = out.data();
  PutTag(p + 0, "RIFF");
  Put32(p + 4, static_cast<std::uint32_t>(riffSize));
  PutTag(p + 8, "WAVE");
  PutTag(p + 12, "fmt ");
  Put32(p + 16, 16);
  Put16(p + 20, 1);
  Put16(p + 22, 1);
  Put32(p + 24, kCardRate);
  Put32(p + 28, kCardRate * 2);
  Put16(p + 32, 2);
  Put16(p + 34, 16);
  PutTag(p + 36, "smpl");
  Put32(p + 40, 64 + 24 * loops);
  Put32(p + 44, 0);
  Put32(p + 48, 0);
  Put32(p + 52, 1000000000u / kCardRate);
  Put32(p + 56, sample.rootNote);
  Put32(p + 60, SignExtended(sample.transpose));
  Put32(p + 64, 0);
  Put32(p + 68, 0);
  Put32(p + 72, loops);
  Put32(p + 76, 28);
  std::uint8_t* q = p + 80;
  if (loops) {
    Put32(q + 0, 0);
    Put32(q + 4, sample.loopFlags & LoopFlags::kForwardBackward);
    Put32(q + 8, Low32(sample.markers.loop));
    Put32(q + 12, Low32(sample.markers.end));
    Put32(q + 16, 0);
    Put32(q + 20, 0);
    q += 24;
  }
  q[0] = sample.topKey;
  q[1] = sample.zoneAttribute;
  q[2] = static_cast<std::uint8_t>(sample.transpose);
  q[3] = sample.rootNote;
  Put32(q + 4, sample.loopFlags);
  Put32(q + 8, sample.nonTranspose ? 1 : 0);
  Put32(q + 12, Low32(sample.markers.start));
  Put32(q + 16, SignExtended(sample.level));
  Put32(q + 20, SignExtended(sample.vdfCutoff));
  Put32(q + 24, SignExtended(sample.decayLevel));
  q += 28;
  PutTag(q, "data");
  Put32(q + 4, static_cast<std::uint32_t>(2 * n));
  q += 8;
  for (const float f : sample.frames) {
    Put16(q, static_cast<std::uint16_t>(FrameToInt16(f)));
    q += 2;
  }
  return kOk;
}

Result WriteWavFile(const SampleData& sample, Utf8View path) {
  if (path.empty()) return kInvalidArgument;
  std::vector<std::uint8_t> image;
  if (Result r = BuildWavImage(sample, image)) return r;
  return WriteWholeFile(path, image);
}

Utf8Text<64> ExportFileName(Utf8View sampleName, std::uint32_t number, std::size_t budget) {
  if (budget > kMaxFileNameBytes) budget = kMaxFileNameBytes;
  // Only ASCII bytes are removed, so multi-byte characters stay whole.
  char kept[kMaxFileNameBytes];
  std::size_t keptLength = 0;
  for (const char c : sampleName.substr(0, CutUtf8(sampleName, kMaxFileNameBytes))) {
    if (!Removed(static_cast<unsigned char>(c))) kept[keptLength++] = c;
  }
  Utf8Text<64> cleaned;
  cleaned.assign(Utf8View(kept, keptLength));
  Utf8Text<64> stem;
  if (IsReservedDeviceName(cleaned.view())) stem.append("_");
  stem.append(cleaned.view());
  Utf8Text<16> suffix;
  if (number >= 2) {
    suffix.append(" (");
    suffix.appendDecimal(number);
    suffix.append(")");
  }
  suffix.append(".wav");
  const std::size_t room = budget > suffix.length ? budget - suffix.length : 0;
  Utf8Text<64> result;
  result.append(stem.view().substr(0, CutUtf8(stem.view(), room)));
  // Bytes are appended one by one so that a budget below the suffix still cuts.
  for (const char c : suffix.view()) {
    if (result.length < budget) result.append(Utf8View(&c, 1));
  }
  return result;
}

Result ExportSamples(const Sound& sound, Utf8View folder, std::vector<Utf8Text<64>>* fileNames) {
  if (folder.size() >= kMaxPathBytes) return kTooMuchData;
  const bool addSeparator = !folder.empty() && !IsPathSeparator(folder.back());
  const std::size_t folderBytes = folder.size() + (addSeparator ? 1 : 0);
  const std::size_t budget = kMaxPathBytes - folderBytes;
  std::vector<Utf8Text<64>> used;
  if (Result r = TryReserve(used, sound.samples.size())) return r;
  for (const SampleData& sample : sound.samples) {
    Utf8Text<64> name;
    bool unique = false;
    // Numbers up to one more than the samples always find a free name unless
    // the budget is too small to hold the number.
    for (std::uint32_t number = 1; number <= sound.samples.size() + 1 && !unique; ++number) {
      name = ExportFileName(sample.name.view(), number, budget);
      unique = true;
      for (const Utf8Text<64>& other : used) {
        if (SameFileName(other.view(), name.view())) {
          unique = false;
          break;
        }
      }
    }
    if (!unique) return kTooMuchData;
    used.push_back(name);
    Utf8Text<kMaxPathBytes> path;
    path.append(folder);
    if (addSeparator) path.append(Utf8View(&kSeparator, 1));
    path.append(name.view());
    if (Result r = WriteWavFile(sample, path.view())) return r;
  }
  if (fileNames != nullptr) fileNames->swap(used);
  return kOk;
}

}  // namespace tavrin
