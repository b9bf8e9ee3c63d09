// The card image builder: the exact byte image of the instrument's sample card
// built from the document, in the file layout (card-files) or a card layout
// (what a device receives).
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"

namespace tavrin {

enum class CardLayout : std::uint32_t { File = 0, Card = 1, WideCard = 2 };

using CardImage = std::vector<std::uint8_t>;

// Why the card's content cannot be built, in words for the user, e.g.
// `Sample "Pad C3" of "Pad": Start or Loop lies past End`. Empty when the
// build succeeded or failed for its size or for memory.
using BuildRefusal = Utf8Text<160>;

// Builds the image of `doc` in `layout`. Reorders the document as the card
// needs it: PCM multisounds before DWGS ones, each PCM multisound's samples by
// root note (and the top keys of non-transposing samples completed).
//
// 0 built. 5 too much data: with Card/WideCard the image exceeds
// doc.cardCapacity (the required size goes to *requiredSize and `out` is left
// untouched); or a count or address does not fit its field, a sample holds
// no frames or markers the card cannot hold, or the DWGS sounds cannot share
// the first one's layout (the reason then goes to *refusal). 4 out of memory.
Result BuildCardImage(CardDocument& doc, CardLayout layout, CardImage& out, std::uint64_t* requiredSize = nullptr,
                      BuildRefusal* refusal = nullptr);

// The largest File image the card-file loader accepts.
inline constexpr std::uint64_t kMaxCardFileSize = 16777216;

}  // namespace tavrin
