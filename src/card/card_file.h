// The card-file: the File-layout card image with every byte XOR-ed with one
// random nonzero byte chosen at each save.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "base/text.h"
#include "card/card_image.h"
#include "card/document.h"

namespace tavrin {

// Loads a card-file into doc. On success doc holds the card (its
// cardCapacity kept) and is unmodified. On any failure doc is left exactly as
// it was. 2 no path, 6 file ends early, 13 invalid format, 19/20/22 and other
// mapped platform errors from the file layer.
Result LoadCardFile(Utf8View path, CardDocument& doc);

// Parses card-file bytes (scrambled or plain) into a fresh document `out`.
Result ParseCardFile(std::span<const std::uint8_t> bytes, CardDocument& out);

// What a save tells beyond its result: why the card was refused (5), and how
// many sounds without samples it left out (the card cannot hold them).
struct SaveReport {
  BuildRefusal refusal;
  std::size_t soundsLeftOut = 0;
};

// Saves doc (reordering it as the builder does). The old file is replaced only
// after a complete write; on failure it is untouched and doc stays modified.
Result SaveCardFile(Utf8View path, CardDocument& doc, SaveReport* outcome = nullptr);

// Builds the scrambled card-file bytes of doc with scramble byte key (1..255).
Result EncodeCardFile(CardDocument& doc, std::uint8_t key, std::vector<std::uint8_t>& out,
                      BuildRefusal* refusal = nullptr);

// The number of sounds without samples, which a save or send leaves out.
std::size_t SoundsWithoutSamples(const CardDocument& doc);

// The reason shown after "Can't load the card-file\n\n" for a result code.
Utf8View LoadFailureReason(Result code);

}  // namespace tavrin
