#include <sys/random.h>

#include <cerrno>

#include "base/random.h"

namespace tavrin {

bool RandomBytes(void* buf, std::size_t size) {
  auto* p = static_cast<unsigned char*>(buf);
  while (size > 0) {
    const ssize_t n = ::getrandom(p, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace tavrin
