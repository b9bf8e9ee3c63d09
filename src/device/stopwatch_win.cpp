// The stopwatch counter on Windows: the performance counter.
#include <windows.h>

#include "device/stopwatch.h"

namespace tavrin {

std::int64_t StopwatchCounter() {
  LARGE_INTEGER v;
  if (!QueryPerformanceCounter(&v)) return 1;
  return v.QuadPart == 0 ? 1 : v.QuadPart;
}

std::int64_t StopwatchCounterFrequency() {
  LARGE_INTEGER f;
  if (!QueryPerformanceFrequency(&f)) return 0;
  return f.QuadPart;
}

}  // namespace tavrin
