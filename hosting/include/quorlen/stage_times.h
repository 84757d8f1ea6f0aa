/// \file stage_times.h  Per-stage times of a render and its throughput.
#pragma once

#include <chrono>
#include <string>

namespace quorlen::hosting {

/// Seconds spent per stage, summed over frames. The stages overlap, so their busy times may add up to more
/// than the wall-clock time.
struct StageTimes {
  double read = 0;
  double render = 0;
  double write = 0;
  double wall = 0;  ///< elapsed; when 0, the stages are taken to have run one after another
  long long pixels = 0;
  int frames = 0;

  StageTimes& operator+=(const StageTimes& o);
};

/// The report printed by --stats: one line per stage with its busy seconds and megapixels per second, then
/// the elapsed total.
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

}  // namespace quorlen::hosting
