// The stopwatch counter off Windows: the steady clock in nanoseconds.
#include <chrono>

#include "device/stopwatch.h"

namespace tavrin {

std::int64_t StopwatchCounter() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  return ns == 0 ? 1 : ns;
}

std::int64_t StopwatchCounterFrequency() { return 1000000000; }

}  // namespace tavrin
