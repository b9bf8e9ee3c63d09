// Feeds arbitrary bytes to the card-file parser; whatever loads must build an
// image again without trouble.
#include <cstddef>
#include <cstdint>
#include <span>

#include "card/card_file.h"
#include "card/card_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tavrin::CardDocument doc;
  if (tavrin::ParseCardFile(std::span<const std::uint8_t>(data, size), doc) == tavrin::kOk) {
    tavrin::CardImage image;
    (void)tavrin::BuildCardImage(doc, tavrin::CardLayout::File, image);
  }
  return 0;
}
