// MP3 reader off Windows (not available yet).
#include "audio/readers.h"

namespace tavrin {

Result ReadWithMediaReader(Utf8View, DecodedAudio&) { return kBadFormat; }

}  // namespace tavrin
