// ReadFlac: a whole FLAC file (native or in Ogg) into a DecodedAudio.
#include "audio/flac_reader.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "base/alloc.h"
#include "base/file_io.h"
#include "audio/byte_view.h"
#include "audio/flac_decoder.h"
#include "audio/readers.h"
#include "audio/riff_chunks.h"

namespace tavrin {
namespace {

constexpr std::uint32_t kApplicationRiff = 0x72696666;  // "riff"
constexpr std::uint8_t kBlockStreamInfo = 0;
constexpr std::uint8_t kBlockApplication = 2;

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t Be32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// An APPLICATION block. Encoders that keep a WAV file's foreign chunks put
// each one into its own "riff" block: the RIFF header ("RIFF", size, "WAVE"),
// every chunk before the audio in full, and the "data" chunk as its bare
// 8-byte header. The RIFF header and the "data" header carry the sizes of
// what they stood for in the WAV file, so only the other chunks are held to
// their block.
Result TakeApplicationBlock(std::span<const std::uint8_t> data, DecodedAudio& out) {
  if (data.size() < 4) return kBadFormat;
  if (Be32(data.data()) != kApplicationRiff) return kOk;
  const std::span<const std::uint8_t> chunk = data.subspan(4);
  if (chunk.size() < 8) return kBadFormat;
  const std::uint8_t* id = chunk.data();
  if (std::memcmp(id, "RIFF", 4) == 0 || std::memcmp(id, "RF64", 4) == 0 || std::memcmp(id, "data", 4) == 0)
    return kOk;
  const std::uint32_t size = Le32(chunk.data() + 4);
  if (size > chunk.size() - 8) return kBadFormat;
  if (std::memcmp(id, "smpl", 4) == 0) {
    // The WAV reader's own "smpl" parsing, on a view of just this chunk (its
    // size rule: 36 + 24 × loops + sampler-data size, else ignored).
    ByteView view(chunk.subspan(0, 8 + static_cast<std::size_t>(size)));
    return ReadSmplChunk(view, 8, size, out);
  }
  return kOk;
}

// Mixes one decoded frame to mono and appends it; `full` is set when the
// frame would pass the frame limit (it is cut there).
Result AppendFrame(const FlacDecoder& dec, DecodedAudio& out, std::uint64_t maxFrames, bool& full) {
  const FlacFrameHeader& h = dec.frame();
  const std::size_t have = out.frames.size();
  std::size_t n = h.blockSize;
  if (have + n > maxFrames) {
    n = static_cast<std::size_t>(maxFrames - have);
    full = true;
  }
  if (Result r = TryResize(out.frames, have + n); r != kOk) return r;
  // Dividing by a power of two and multiplying by its inverse give the same
  // float (both are exact), and the multiplication is much cheaper.
  const float inverseScale = static_cast<float>(std::ldexp(1.0, 1 - static_cast<int>(h.bitsPerSample)));
  const float channels = static_cast<float>(h.channels);
  float* dst = out.frames.data() + have;
  float peak = out.peak;
  for (std::size_t i = 0; i < n; ++i) {
    float sum = 0.0f;
    for (std::uint32_t c = 0; c < h.channels; ++c) sum += static_cast<float>(dec.channel(c)[i]) * inverseScale;
    const float v = sum / channels;
    dst[i] = v;
    if (std::fabs(v) > std::fabs(peak)) peak = v;
  }
  out.peak = peak;
  return kOk;
}

}  // namespace

Result DecodeFlacFile(std::span<const std::uint8_t> bytes, DecodedAudio& out, std::uint64_t maxFrames,
                      FlacFileMode mode) {
  if (maxFrames > kFlacMaxImportFrames) maxFrames = kFlacMaxImportFrames;
  out = DecodedAudio{};
  FlacDecoder dec;
  if (Result r = dec.Open(bytes); r != kOk) return r == kOutOfMemory ? r : kBadFormat;

  for (;;) {
    FlacMetadataBlock block;
    const FlacStatus s = dec.NextMetadataBlock(block);
    if (s == FlacStatus::kEnd) break;
    if (s == FlacStatus::kError) return kBadFormat;
    if (block.type == kBlockStreamInfo) {
      FlacStreamInfo info;
      if (!ParseFlacStreamInfo(block.data, info)) return kBadFormat;
      out.sampleRate = info.sampleRate;
      out.channelCount = 1;
      // Room for the announced frames (within the import's limit); the array
      // itself grows with each decoded frame.
      const std::uint64_t announced = info.totalSamples & 0xFFFFFFFFu;
      const std::uint64_t room = announced < maxFrames ? announced : maxFrames;
      if (Result r = TryReserve(out.frames, static_cast<std::size_t>(room)); r != kOk) return r;
    } else if (block.type == kBlockApplication) {
      if (Result r = TakeApplicationBlock(block.data, out); r != kOk) return r;
    }
  }
  // No STREAMINFO, or a rate of 0: the pipeline could not convert the rate.
  if (out.sampleRate == 0) return kBadFormat;

  if (Result r = dec.AllocateBuffers(); r != kOk) return r;
  bool full = false;
  while (!full && dec.DecodeFrame() == FlacStatus::kOk) {
    if (mode == FlacFileMode::kImport) {
      const FlacFrameHeader& h = dec.frame();
      if (h.sampleRate != 0 && h.sampleRate != out.sampleRate) return kBadFormat;
      if (h.blockSize > maxFrames - out.frames.size()) return kFileTooLarge;
    }
    if (Result r = AppendFrame(dec, out, maxFrames, full); r != kOk) return r;
  }
  if (dec.outOfMemory()) return kOutOfMemory;
  out.channelCount = 1;
  return kOk;
}

Result ReadFlac(Utf8View path, DecodedAudio& out) {
  std::vector<std::uint8_t> file;
  if (Result r = ReadWholeFile(path, kMaxReadableFile, file); r != kOk) return r;
  return DecodeFlacFile(file, out, kFlacMaxImportFrames, FlacFileMode::kImport);
}

}  // namespace tavrin
