// The sample-file readers. Each reads one whole file and decodes it into a
// DecodedAudio (valid only when the result is 0).
#pragma once

#include "app/result.h"
#include "app/text.h"
#include "audio/decoded_audio.h"

namespace tavrin {

Result ReadWav(Utf8View path, DecodedAudio& out);
Result ReadAiff(Utf8View path, DecodedAudio& out);
Result ReadFlac(Utf8View path, DecodedAudio& out);
// MP3 (and whatever else the platform decodes): Media Foundation on Windows,
// libmpg123 elsewhere.
Result ReadWithMediaReader(Utf8View path, DecodedAudio& out);

}  // namespace tavrin
