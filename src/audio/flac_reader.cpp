// FLAC reader (not available yet).
#include "audio/readers.h"

namespace tavrin {

Result ReadFlac(Utf8View, DecodedAudio&) { return kBadFormat; }

}  // namespace tavrin
