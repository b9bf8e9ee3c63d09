#include <windows.h>

#include "base/random.h"

// RtlGenRandom, exported by advapi32 under this name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace tavrin {

bool RandomBytes(void* buf, std::size_t size) {
  return SystemFunction036(buf, static_cast<ULONG>(size)) != FALSE;
}

}  // namespace tavrin
