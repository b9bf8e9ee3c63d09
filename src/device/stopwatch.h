// The stopwatch of device jobs, on the platform's high-resolution steady
// counter (QueryPerformanceCounter on Windows, the steady clock elsewhere).
#pragma once

#include <cstdint>

namespace tavrin {

// Current counter value (never 0 in practice) and counts per second.
std::int64_t StopwatchCounter();
std::int64_t StopwatchCounterFrequency();

struct Stopwatch {
  std::int64_t startCount = 0;    // 0 = not running
  std::int64_t elapsedCount = 0;  // accumulated counts

  void Clear() {
    startCount = 0;
    elapsedCount = 0;
  }
  void Start() { startCount = StopwatchCounter(); }
  void Stop();
  // (elapsed + running part) / frequency; 0.0 while the frequency is unknown.
  double Seconds() const;
};

}  // namespace tavrin
