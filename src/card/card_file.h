// The card-file: the File-layout card image with every byte XOR-ed with one
// random nonzero byte chosen at each save.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/text.h"
#include "card/document.h"

namespace tavrin {

// Loads a card-file into doc. On success doc holds the card (its
// cardCapacity kept) and is unmodified. On any failure doc is left exactly as
// it was. 2 no path, 6 file ends early, 13 invalid format, 19/20/22 and other
// mapped platform errors from the file layer.
Result LoadCardFile(Utf8View path, CardDocument& doc);

// Parses card-file bytes (scrambled or plain) into a fresh document `out`.
Result ParseCardFile(std::span<const std::uint8_t> bytes, CardDocument& out);

// Saves doc (reordering it as the builder does). The old file is replaced only
// after a complete write; on failure it is untouched and doc stays modified.
Result SaveCardFile(Utf8View path, CardDocument& doc);

// Builds the scrambled card-file bytes of doc with scramble byte key (1..255).
Result EncodeCardFile(CardDocument& doc, std::uint8_t key, std::vector<std::uint8_t>& out);

// The reason shown after "Can't load the card-file\n\n" for a result code.
Utf8View LoadFailureReason(Result code);

}  // namespace tavrin
