// Allocation that reports failure as a result code instead of throwing.
// Every buffer whose size comes from a file, a device or the user grows
// through these helpers, so a failed large allocation becomes code 4.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/result.h"

namespace tavrin {

template <class Container>
Result TryResize(Container& c, std::size_t n) noexcept {
  try {
    c.resize(n);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

template <class Container>
Result TryReserve(Container& c, std::size_t n) noexcept {
  try {
    c.reserve(n);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

template <class Container, class T>
Result TryPushBack(Container& c, T&& value) noexcept {
  try {
    c.push_back(std::forward<T>(value));
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

// Copy-assigns src to dst; on failure dst is left as it was.
template <class T>
Result TryCopy(T& dst, const T& src) noexcept {
  try {
    T tmp(src);
    dst = std::move(tmp);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (const std::length_error&) {
    return kOutOfMemory;
  }
}

}  // namespace tavrin
