// The sample-file readers. Each reads one whole file and decodes it into a
// DecodedAudio (valid only when the result is 0). The decoders work on bytes
// already in memory; the path wrappers only read the file.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/text.h"
#include "audio/decoded_audio.h"

namespace tavrin {

Result ReadWav(Utf8View path, DecodedAudio& out);
Result ReadAiff(Utf8View path, DecodedAudio& out);
Result ReadFlac(Utf8View path, DecodedAudio& out);
// MP3 (and whatever else the platform decodes): Media Foundation on Windows,
// libmpg123 elsewhere.
Result ReadWithMediaReader(Utf8View path, DecodedAudio& out);

// RIFF WAVE bytes: 0, or 5 truncated, 13 invalid or unsupported, 4 no memory.
Result DecodeWav(std::span<const std::uint8_t> bytes, DecodedAudio& out);
// AIFF / AIFC bytes: 0, or 5 truncated, 13 invalid or unsupported, 4 no memory.
Result DecodeAiff(std::span<const std::uint8_t> bytes, DecodedAudio& out);

// The payload of a RIFF "smpl" chunk (its size is the payload's length).
// When the loop count and sampler-data size agree exactly with the size, sets
// hasSmpl, unityNote, pitchFraction, loops and samplerData and returns 0; a
// chunk whose sizes disagree is ignored (0, nothing set). 4 when memory runs
// out. Shared by the WAV reader and the FLAC decoder's RIFF metadata.
Result ParseSmplChunk(std::span<const std::uint8_t> payload, DecodedAudio& out);

}  // namespace tavrin
