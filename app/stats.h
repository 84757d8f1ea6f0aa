/// \file stats.h  Per-stage times of a render and its throughput.
#pragma once

#include <chrono>
#include <string>

namespace quorlen::app {

/// Seconds spent per stage, summed over frames.
struct StageTimes {
  double read = 0;
  double render = 0;
  double write = 0;
  long long pixels = 0;
  int frames = 0;

  StageTimes& operator+=(const StageTimes& o);
};

/// The report printed by --stats: one line per stage with seconds and megapixels per second, then the total.
std::string format_stats(const StageTimes& times);

/// Seconds since construction (or the last lap).
class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  /// Seconds since the previous lap, and starts the next.
  double lap();

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quorlen::app
