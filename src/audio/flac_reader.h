// ReadFlac's decoding step on bytes already in memory (the reader itself only
// adds reading the file). Shared with the tests and the fuzz target.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "audio/decoded_audio.h"

namespace tavrin {

// The most frames one FLAC import delivers (about 25 minutes at 44.1 kHz).
// A tiny file of constant frames can unfold into gigabytes: the import
// refuses a stream as soon as its frames pass the limit.
inline constexpr std::uint64_t kFlacMaxImportFrames = std::uint64_t{1} << 26;

// What DecodeFlacFile does with a stream that the import cannot take as it is.
enum class FlacFileMode : std::uint8_t {
  // The frames up to the limit are kept and the rest dropped; the rates that
  // frame headers code are not looked at.
  kLenient,
  // As the import reads: 22 as soon as the frames would pass the limit, 13
  // for a frame header that codes a sample rate other than STREAMINFO's (a
  // stream that changes its rate cannot be played at one pitch).
  kImport,
};

// Decodes a FLAC file's bytes (native or in Ogg) into `out`: frames mixed to
// mono, the STREAMINFO rate, the peak and the "smpl" chunk of a "riff"
// APPLICATION block. Results: 0 (also when decoding stopped at a damaged
// frame: the frames before it are kept, and `frames` holds exactly the frames
// decoded; there may be none), 13 not FLAC / broken metadata / unreadable
// STREAMINFO or APPLICATION id / a "riff" chunk larger than its block / no
// STREAMINFO or a rate of 0, 4 out of memory, and in kImport mode the
// refusals above. maxFrames lowers the frame limit (for the fuzz target).
// ReadFlac decodes in kImport mode.
Result DecodeFlacFile(std::span<const std::uint8_t> bytes, DecodedAudio& out,
                      std::uint64_t maxFrames = kFlacMaxImportFrames, FlacFileMode mode = FlacFileMode::kLenient);

}  // namespace tavrin
