#include "card/card_file.h"

namespace tavrin {

Result LoadCardFile(Utf8View, CardDocument&) { return kFailed; }
Result ParseCardFile(std::span<const std::uint8_t>, CardDocument&) { return kFailed; }
Result SaveCardFile(Utf8View, CardDocument&) { return kFailed; }
Result EncodeCardFile(CardDocument&, std::uint8_t, std::vector<std::uint8_t>&) { return kFailed; }
Utf8View LoadFailureReason(Result) { return "Inconsistent file"; }

}  // namespace tavrin
