// RIFF WAVE reader.
#include <cstring>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/byte_view.h"
#include "audio/readers.h"
#include "audio/riff_chunks.h"
#include "audio/sample_kind.h"

namespace tavrin {
namespace {

// Sub-format GUIDs of WAVE_FORMAT_EXTENSIBLE, in file byte order.
constexpr std::uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint8_t kSubtypeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagALaw = 6;
constexpr std::uint16_t kTagULaw = 7;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
// An extensible "fmt " chunk: the 16 basic bytes, cbSize, valid bits, channel
// mask and the 16-byte sub-format GUID.
constexpr std::uint64_t kExtensibleFmtSize = 40;

struct FmtState {
  std::uint32_t channels = 0;
  std::uint32_t bytesPerSample = 0;
  SampleKind kind = SampleKind::kNone;
};

// Applies one "fmt " chunk; 13 for a format the reader does not take.
Result ReadFmt(ByteView& view, std::uint64_t payload, std::uint64_t size, FmtState& fmt, DecodedAudio& out) {
  std::uint16_t tag = view.U16LE(payload);
  fmt.channels = view.U16LE(payload + 2);
  out.channelCount = fmt.channels;
  out.sampleRate = view.U32LE(payload + 4);
  const std::uint32_t bits = view.U16LE(payload + 14);
  fmt.bytesPerSample = (bits + 7) / 8;
  // A chunk cut off by the end of the file is a truncated file (5 after this
  // chunk), not an unknown format.
  if (view.isShort()) return kOk;
  if (tag == kTagExtensible) {
    // The extensible form names its encoding by a GUID; only integer PCM and
    // IEEE float are taken, as the plain tags 1 and 3.
    if (size < kExtensibleFmtSize) return kBadFormat;
    // A GUID cut off by the end of the file: the walk ends with 5 after this chunk.
    if (!view.Need(payload + 24, 16)) return kOk;
    const std::uint8_t* guid = view.data() + payload + 24;
    if (std::memcmp(guid, kSubtypePcm, 16) == 0) {
      tag = kTagPcm;
    } else if (std::memcmp(guid, kSubtypeFloat, 16) == 0) {
      tag = kTagFloat;
    } else {
      return kBadFormat;
    }
  }
  switch (tag) {
    case kTagPcm: {
      static constexpr SampleKind kPcm[5] = {SampleKind::kNone, SampleKind::kU8, SampleKind::kS16LE,
                                             SampleKind::kS24LE, SampleKind::kS32LE};
      fmt.kind = fmt.bytesPerSample <= 4 ? kPcm[fmt.bytesPerSample] : SampleKind::kNone;
      break;
    }
    case kTagFloat:
      // Any other size leaves the kind of an earlier "fmt " chunk in place.
      if (fmt.bytesPerSample == 4) fmt.kind = SampleKind::kF32LE;
      if (fmt.bytesPerSample == 8) fmt.kind = SampleKind::kF64LE;
      break;
    case kTagALaw: fmt.kind = SampleKind::kALaw; break;
    case kTagULaw: fmt.kind = SampleKind::kULaw; break;
    default: return kBadFormat;
  }
  return kOk;
}

Result ReadData(ByteView& view, std::uint64_t payload, std::uint64_t size, const FmtState& fmt, DecodedAudio& out) {
  // Everything the frame count divides by is checked first.
  if (fmt.channels == 0 || out.sampleRate == 0 || fmt.kind == SampleKind::kNone || fmt.bytesPerSample == 0) {
    return kBadFormat;
  }
  const std::uint64_t frameCount = size / fmt.bytesPerSample / fmt.channels;
  if (Result r = DecodeAndMix(view, payload, frameCount, fmt.channels, fmt.kind, out.frames, out.peak)) return r;
  out.channelCount = 1;
  return kOk;
}

}  // namespace

Result ParseSmplChunk(std::span<const std::uint8_t> payload, DecodedAudio& out) {
  ByteView view(payload);
  const Result r = ReadSmplChunk(view, 0, payload.size(), out);
  if (r != kOk) return r;
  return view.isShort() ? kTooMuchData : kOk;
}

Result DecodeWav(std::span<const std::uint8_t> bytes, DecodedAudio& out) {
  out = DecodedAudio{};

  ByteView view(bytes);
  if (view.Tag(0) != FourCC("RIFF")) return kBadFormat;
  const std::uint64_t riffSize = view.U32LE(4);
  if (static_cast<std::int64_t>(riffSize) > static_cast<std::int64_t>(view.size()) - 8) return kBadFormat;
  if (view.Tag(8) != FourCC("WAVE")) return kBadFormat;
  if (riffSize <= 12) return view.isShort() ? kTooMuchData : kOk;

  FmtState fmt;
  // Offsets are 64-bit and every step moves at least 8 bytes forward, so the
  // walk ends: a size near 2^32 simply carries the offset past the RIFF size.
  std::uint64_t offset = 12;
  while (offset < riffSize) {
    const RiffChunk chunk = NextChunk(view, offset, riffSize, /*bigEndian=*/false);
    Result r = kOk;
    if (chunk.id == FourCC("fmt ")) {
      r = ReadFmt(view, chunk.payload, chunk.size, fmt, out);
    } else if (chunk.id == FourCC("smpl")) {
      r = ReadSmplChunk(view, chunk.payload, chunk.size, out);
    } else if (chunk.id == FourCC("data")) {
      r = ReadData(view, chunk.payload, chunk.size, fmt, out);
    }
    if (r != kOk) return r;
    if (view.isShort()) return kTooMuchData;
    offset = chunk.next;
  }
  return kOk;
}

Result ReadWav(Utf8View path, DecodedAudio& out) {
  std::vector<std::uint8_t> bytes;
  if (Result r = ReadSampleFile(path, bytes)) return r;
  return DecodeWav(bytes, out);
}

Result ReadSampleFile(Utf8View path, std::vector<std::uint8_t>& bytes) {
  return ReadWholeFile(path, kMaxReadableFile, bytes);
}

}  // namespace tavrin
