#include "audio/riff_chunks.h"

#include "base/alloc.h"

namespace tavrin {

RiffChunk NextChunk(ByteView& view, std::uint64_t offset, std::uint64_t limit, bool bigEndian) {
  RiffChunk c;
  c.id = view.Tag(offset);
  c.size = bigEndian ? view.U32BE(offset + 4) : view.U32LE(offset + 4);
  c.payload = offset + 8;
  c.next = c.payload + c.size;
  if (c.size & 1) {
    if (c.next < limit) {
      if (view.U8(c.next) == 0) ++c.next;
    } else {
      ++c.next;
    }
  }
  return c;
}

Result ReadSmplChunk(ByteView& view, std::uint64_t payload, std::uint64_t size, DecodedAudio& out) {
  const std::uint64_t loopCount = view.U32LE(payload + 28);
  const std::uint64_t samplerSize = view.U32LE(payload + 32);
  // In 64 bits, so that no loop count can wrap into a matching size.
  if (size != 36 + 24 * loopCount + samplerSize) return kOk;
  out.hasSmpl = true;
  out.unityNote = static_cast<std::uint8_t>(view.U32LE(payload + 12) & 0xFF);
  out.pitchFraction = view.U32LE(payload + 16);
  out.loops.clear();
  out.samplerData.clear();
  const std::uint64_t loopsAt = payload + 36;
  // Loops that do not lie inside the bytes are not allocated for.
  if (!view.Need(loopsAt, 24 * loopCount)) return kOk;
  if (Result r = TryResize(out.loops, static_cast<std::size_t>(loopCount))) return r;
  for (std::uint64_t i = 0; i < loopCount; ++i) {
    const std::uint64_t at = loopsAt + 24 * i;
    SmplLoop& loop = out.loops[static_cast<std::size_t>(i)];
    loop.identifier = view.U32LE(at);
    loop.type = view.U32LE(at + 4);
    loop.start = view.U32LE(at + 8);
    loop.end = view.U32LE(at + 12);
    loop.fraction = view.U32LE(at + 16);
    loop.playCount = view.U32LE(at + 20);
  }
  const std::uint64_t dataAt = loopsAt + 24 * loopCount;
  if (!view.Need(dataAt, samplerSize)) return kOk;
  if (Result r = TryResize(out.samplerData, static_cast<std::size_t>(samplerSize))) return r;
  for (std::uint64_t i = 0; i < samplerSize; ++i) out.samplerData[static_cast<std::size_t>(i)] = view.data()[dataAt + i];
  return kOk;
}

}  // namespace tavrin
