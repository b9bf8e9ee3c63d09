#include "device/card_image.h"

namespace tavrin {

Result BuildCardImage(CardDocument&, CardLayout, CardImage&, std::uint64_t*) { return kFailed; }

}  // namespace tavrin
