#include "device/stopwatch.h"

#include <atomic>

namespace tavrin {
namespace {

// The frequency is asked for once and kept; asked again while it reads 0.
std::int64_t Frequency() {
  static std::atomic<std::int64_t> cached{0};
  std::int64_t f = cached.load(std::memory_order_relaxed);
  if (f == 0) {
    f = StopwatchCounterFrequency();
    cached.store(f, std::memory_order_relaxed);
  }
  return f;
}

}  // namespace

void Stopwatch::Stop() {
  if (startCount != 0) {
    elapsedCount += StopwatchCounter() - startCount;
    startCount = 0;
  }
}

double Stopwatch::Seconds() const {
  const std::int64_t f = Frequency();
  if (f == 0) return 0.0;
  std::int64_t counts = elapsedCount;
  if (startCount != 0) counts += StopwatchCounter() - startCount;
  return static_cast<double>(counts) / static_cast<double>(f);
}

}  // namespace tavrin
