// The chunk walk shared by the WAV and AIFF readers, and the "smpl" chunk.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "audio/byte_view.h"
#include "audio/decoded_audio.h"

namespace tavrin {

struct RiffChunk {
  std::uint32_t id = 0;
  std::uint64_t size = 0;
  std::uint64_t payload = 0;  // 8 bytes after the chunk start
  std::uint64_t next = 0;     // where the following chunk begins
};

// Reads the chunk header at offset. The next chunk begins at payload + size;
// after an odd size the byte there is skipped only when it lies below `limit`
// and is 0 (a missing pad byte is tolerated), or always when it lies at or
// beyond `limit`.
RiffChunk NextChunk(ByteView& view, std::uint64_t offset, std::uint64_t limit, bool bigEndian);

// A "smpl" chunk whose payload begins at `payload`: taken only when its size
// is exactly 36 + 24 x loop count + sampler-data size. Reads beyond the bytes
// set the view's short flag. 4 when memory runs out.
Result ReadSmplChunk(ByteView& view, std::uint64_t payload, std::uint64_t size, DecodedAudio& out);

}  // namespace tavrin
