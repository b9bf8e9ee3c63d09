// The platform's cryptographic random source.
#pragma once

#include <cstddef>

namespace tavrin {

// Fills buf with random bytes; false when the platform source failed.
bool RandomBytes(void* buf, std::size_t size);

}  // namespace tavrin
