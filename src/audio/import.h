// The sample import pipeline: one audio file becomes one new SampleData at
// the end of a Sound, mono at 31250 frames per second, normalised to
// -0.1 dBFS, with markers, notes and parameters from the file or its name.
#pragma once

#include <cstdint>
#include <optional>

#include "base/result.h"
#include "base/text.h"
#include "audio/decoded_audio.h"
#include "card/document.h"

namespace tavrin {

enum class ReaderChoice { kNone, kWav, kAiff, kFlac, kMediaReader };

// The reader for a path by its extension (the bytes after the last "." of
// the whole path, its last byte not examined, lower-cased).
ReaderChoice ReaderForPath(Utf8View path);

// The sample name a path gives: after the last separator, up to the last ".",
// at most 260 bytes. A path without a separator gives an empty name.
Utf8View SampleNameFromPath(Utf8View path);

// Decodes a file with the reader of its extension: 13 for an unknown one (the
// file is not opened), else the reader's code. `fromWav` tells the smpl data
// of a WAV file (see ImportDecoded).
Result ReadSampleByExtension(Utf8View path, DecodedAudio& audio, bool& fromWav);

// Decodes the file with the reader of its extension and appends one sample to
// the sound. 13 for an unknown extension (the file is not opened), the
// reader's code when it fails, then ImportDecoded's; on any failure the
// sound's samples are unchanged.
Result ImportSampleFile(Sound& sound, Utf8View path);

// The steps after decoding: appends one sample named `name` made from the
// decoded audio. `fromWav` marks smpl data read from a WAV file (its
// ParameterBlock loop flags 1 mean 4). 13 for a rate of 0 or one the import
// does not convert (above 768 kHz, or a rate whose conversion filter is too
// large), 5 when there are no frames or none are left at the card's rate, 4
// no memory (also for more than 2^28 frames at the card's rate).
Result ImportDecoded(Sound& sound, Utf8View name, DecodedAudio& audio, bool fromWav);

// The note whose name ends nearest the end of `name`, searched as the sound
// editor's "Root Note from Name" does; none when no note name occurs.
std::optional<NoteEntry> RootNoteFromName(Utf8View name);

}  // namespace tavrin
