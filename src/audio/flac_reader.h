// ReadFlac's decoding step on bytes already in memory (the reader itself only
// adds reading the file). Shared with the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "audio/decoded_audio.h"

namespace tavrin {

// The most frames one FLAC import delivers (about 25 minutes at 44.1 kHz).
// A stream that codes more (a lying or missing STREAMINFO total, or a tiny
// file of constant frames that unfolds into gigabytes) ends there.
inline constexpr std::uint64_t kFlacMaxImportFrames = std::uint64_t{1} << 26;

// Decodes a FLAC file's bytes (native or in Ogg) into `out`: frames mixed to
// mono, the STREAMINFO rate, the peak and the "smpl" chunk of a "riff"
// APPLICATION block. Results: 0 (also when decoding stopped at a damaged
// frame: the frames before it are kept, and `frames` holds exactly the frames
// decoded), 13 not FLAC / broken metadata / unreadable STREAMINFO or
// APPLICATION id / a "riff" chunk larger than its block / no STREAMINFO or a
// rate of 0, 4 out of memory.
// maxFrames lowers the frame limit (for the fuzz target).
Result DecodeFlacFile(std::span<const std::uint8_t> bytes, DecodedAudio& out,
                      std::uint64_t maxFrames = kFlacMaxImportFrames);

}  // namespace tavrin
