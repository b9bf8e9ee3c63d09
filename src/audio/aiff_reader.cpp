// AIFF and AIFC reader.
#include "base/alloc.h"
#include "audio/byte_view.h"
#include "audio/readers.h"
#include "audio/riff_chunks.h"
#include "audio/sample_kind.h"

namespace tavrin {
namespace {

constexpr std::uint32_t kAifcVersion1 = 0xA2805140u;

struct CommInfo {
  std::uint32_t channels = 0;
  std::uint64_t totalSamples = 0;  // channels x sample frames
  SampleKind kind = SampleKind::kNone;
  bool rateNegative = false;
  std::uint32_t rate = 0;
};

// The integer part of an 80-bit IEEE 754 extended value, truncated toward
// zero; the low 32 bits of its magnitude are kept.
std::uint32_t ExtendedToRate(std::uint16_t signExponent, std::uint64_t mantissa, bool& negative) {
  const int exponent = signExponent & 0x7FFF;
  // value = mantissa x 2^(exponent - 16383 - 63)
  const int shift = exponent - 16383 - 63;
  std::uint64_t magnitude = 0;
  if (shift >= 64 || shift <= -64) {
    magnitude = 0;  // beyond 2^64 the low 32 bits are zero; below 1 it truncates to 0
  } else if (shift >= 0) {
    magnitude = mantissa << shift;
  } else {
    magnitude = mantissa >> (-shift);
  }
  const std::uint32_t low = static_cast<std::uint32_t>(magnitude);
  negative = (signExponent & 0x8000) != 0 && magnitude != 0;
  return low;
}

SampleKind KindForBytes(std::uint32_t bytesPerSample, bool littleEndian) {
  static constexpr SampleKind kBig[5] = {SampleKind::kNone, SampleKind::kS8, SampleKind::kS16BE, SampleKind::kS24BE,
                                         SampleKind::kS32BE};
  static constexpr SampleKind kLittle[5] = {SampleKind::kNone, SampleKind::kS8, SampleKind::kS16LE,
                                            SampleKind::kS24LE, SampleKind::kS32LE};
  if (bytesPerSample > 4) return SampleKind::kNone;
  return littleEndian ? kLittle[bytesPerSample] : kBig[bytesPerSample];
}

// 13 for an unknown AIFC compression type.
Result ReadComm(ByteView& view, std::uint64_t payload, std::uint64_t size, bool aifc, CommInfo& comm) {
  comm.channels = view.U16BE(payload);
  const std::uint32_t sampleFrames = view.U32BE(payload + 2);
  comm.totalSamples = static_cast<std::uint64_t>(comm.channels) * sampleFrames;
  const std::uint32_t bits = view.U16BE(payload + 6);
  const std::uint32_t bytesPerSample = (bits + 7) / 8;
  const std::uint16_t signExponent = view.U16BE(payload + 8);
  const std::uint64_t mantissa = view.U64BE(payload + 10);
  comm.rate = ExtendedToRate(signExponent, mantissa, comm.rateNegative);
  if (!aifc || size < 22) {
    comm.kind = KindForBytes(bytesPerSample, false);
    return kOk;
  }
  const std::uint32_t type = view.Tag(payload + 18);
  // Cut off by the end of the file: 5 after this chunk, not an unknown type.
  if (view.isShort()) return kOk;
  if (type == FourCC("NONE") || type == FourCC("twos")) {
    comm.kind = KindForBytes(bytesPerSample, false);
  } else if (type == FourCC("sowt")) {
    comm.kind = KindForBytes(bytesPerSample, true);
  } else if (type == FourCC("raw ")) {
    comm.kind = SampleKind::kU8;
  } else if (type == FourCC("in24")) {
    comm.kind = SampleKind::kS24BE;
  } else if (type == FourCC("in32")) {
    comm.kind = SampleKind::kS32BE;
  } else if (type == FourCC("42ni")) {
    comm.kind = SampleKind::kS24LE;
  } else if (type == FourCC("23ni")) {
    comm.kind = SampleKind::kS32LE;
  } else if (type == FourCC("fl32") || type == FourCC("FL32")) {
    comm.kind = SampleKind::kF32BE;
  } else if (type == FourCC("fl64") || type == FourCC("FL64")) {
    comm.kind = SampleKind::kF64BE;
  } else if (type == FourCC("alaw") || type == FourCC("ALAW")) {
    comm.kind = SampleKind::kALaw;
  } else if (type == FourCC("ulaw") || type == FourCC("ULAW")) {
    comm.kind = SampleKind::kULaw;
  } else {
    return kBadFormat;
  }
  return kOk;
}

struct MarkerLoop {
  std::uint16_t playMode = 0;
  std::uint16_t beginId = 0;
  std::uint16_t endId = 0;
  bool beginFound = false;
  bool endFound = false;
  std::uint32_t begin = 0;
  std::uint32_t end = 0;

  InstLoop Resolved() const {
    if (playMode == 0 || beginId == 0 || endId == 0 || !beginFound || !endFound) return InstLoop{};
    return InstLoop{playMode, begin, end};
  }
};

// "INST" resolved through "MARK". Any read outside the bytes leaves the file
// without note and loop information; it is never a failure.
void ReadInstrument(std::span<const std::uint8_t> bytes, std::uint64_t inst, std::uint64_t markCountAt,
                    DecodedAudio& out) {
  ByteView view(bytes);
  const std::uint8_t baseNote = view.U8(inst);
  const std::uint8_t detune = view.U8(inst + 1);
  const std::uint8_t lowNote = view.U8(inst + 2);
  const std::uint8_t highNote = view.U8(inst + 3);
  MarkerLoop loops[2];
  for (int i = 0; i < 2; ++i) {
    const std::uint64_t at = inst + 8 + 6 * static_cast<std::uint64_t>(i);
    loops[i].playMode = view.U16BE(at);
    loops[i].beginId = view.U16BE(at + 2);
    loops[i].endId = view.U16BE(at + 4);
  }
  // Each marker: id, position, a counted name, padded to an even file offset.
  // The first marker with a wanted id gives its position.
  const std::uint32_t markerCount = view.U16BE(markCountAt);
  std::uint64_t at = markCountAt + 2;
  for (std::uint32_t m = 0; m < markerCount && !view.isShort(); ++m) {
    const std::uint16_t id = view.U16BE(at);
    const std::uint32_t position = view.U32BE(at + 2);
    const std::uint8_t nameLength = view.U8(at + 6);
    at += 7 + static_cast<std::uint64_t>(nameLength);
    if (at & 1) ++at;
    if (view.isShort()) break;
    for (MarkerLoop& loop : loops) {
      if (!loop.beginFound && id == loop.beginId) {
        loop.beginFound = true;
        loop.begin = position;
      }
      if (!loop.endFound && id == loop.endId) {
        loop.endFound = true;
        loop.end = position;
      }
    }
  }
  if (view.isShort()) return;
  std::uint8_t root = baseNote;
  if (root == 0 && lowNote != 0) root = lowNote;
  std::uint8_t top = highNote;
  if (root > highNote) top = static_cast<std::uint8_t>(root + 11 > 127 ? 127 : root + 11);
  out.instRootNote = root;
  out.instTopKey = top;
  out.instDetune = static_cast<std::int8_t>(detune);
  out.sustainLoop = loops[0].Resolved();
  out.releaseLoop = loops[1].Resolved();
  out.hasInst = true;
}

}  // namespace

Result DecodeAiff(std::span<const std::uint8_t> bytes, DecodedAudio& out) {
  out.frames.clear();
  out.channelCount = 0;
  out.sampleRate = 0;
  out.peak = 0.0f;
  out.hasInst = false;
  out.instRootNote = 0;
  out.instTopKey = 0;
  out.instDetune = 0;
  out.sustainLoop = InstLoop{};
  out.releaseLoop = InstLoop{};

  ByteView view(bytes);
  if (view.Tag(0) != FourCC("FORM")) return kBadFormat;
  const std::uint64_t formSize = view.U32BE(4);
  if (static_cast<std::int64_t>(formSize) > static_cast<std::int64_t>(view.size()) - 8) return kBadFormat;
  const std::uint32_t formType = view.Tag(8);
  const bool aifc = formType == FourCC("AIFC");
  if (!aifc && formType != FourCC("AIFF")) return kBadFormat;

  CommInfo comm;
  bool hasVersion = false;
  bool hasSsnd = false;
  std::uint64_t soundData = 0;
  bool hasMark = false;
  std::uint64_t markAt = 0;
  bool hasInst = false;
  std::uint64_t instAt = 0;

  std::uint64_t offset = 12;
  while (offset < formSize) {
    const RiffChunk chunk = NextChunk(view, offset, formSize, /*bigEndian=*/true);
    if (chunk.id == FourCC("FVER")) {
      if (!view.Has(chunk.payload, 4) || view.U32BE(chunk.payload) != kAifcVersion1) return kBadFormat;
      hasVersion = true;
    } else if (chunk.id == FourCC("COMM")) {
      if (Result r = ReadComm(view, chunk.payload, chunk.size, aifc, comm)) return r;
    } else if (chunk.id == FourCC("SSND")) {
      hasSsnd = true;
      soundData = chunk.payload + 8 + view.U32BE(chunk.payload);
    } else if (chunk.id == FourCC("MARK")) {
      hasMark = true;
      markAt = chunk.payload;
    } else if (chunk.id == FourCC("INST")) {
      hasInst = true;
      instAt = chunk.payload;
    }
    if (view.isShort()) return kTooMuchData;
    offset = chunk.next;
  }

  if (comm.kind == SampleKind::kNone) return kBadFormat;
  if (aifc && !hasVersion) return kBadFormat;
  if (comm.totalSamples != 0 && !hasSsnd) return kBadFormat;
  // Sound data at a rate of 0, or a negative one, cannot be converted from:
  // refused before anything divides by it (the import refuses a rate of 0
  // from any reader, with or without frames).
  if (comm.totalSamples != 0 && (comm.rate == 0 || comm.rateNegative)) return kBadFormat;
  // Sound data with no channels has no frame count.
  if (hasSsnd && comm.channels == 0) return kBadFormat;
  out.channelCount = comm.channels;
  out.sampleRate = comm.rate;
  if (comm.totalSamples != 0) {
    const std::uint64_t frameCount = comm.totalSamples / comm.channels;
    if (Result r = DecodeAndMix(view, soundData, frameCount, comm.channels, comm.kind, out.frames, out.peak)) return r;
    out.channelCount = 1;
  }
  if (hasInst && hasMark) ReadInstrument(bytes, instAt, markAt, out);
  return kOk;
}

Result ReadAiff(Utf8View path, DecodedAudio& out) {
  std::vector<std::uint8_t> bytes;
  if (Result r = ReadSampleFile(path, bytes)) return r;
  return DecodeAiff(bytes, out);
}

}  // namespace tavrin
