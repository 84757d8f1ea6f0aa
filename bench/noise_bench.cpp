// Evaluations per second of the host noise function, one point per call and batched.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "DDImage/Noise.h"

namespace {

std::vector<double> coordinates(std::size_t n) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(-300.0, 300.0);
  std::vector<double> v(n);
  for (double& d : v) d = u(rng);
  return v;
}

void BM_NoiseScalar(benchmark::State& state) {
  const std::size_t n = 4096;
  const auto x = coordinates(n), y = coordinates(n + 1), z = coordinates(n + 2);
  double sum = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; ++i) sum += DD::Image::noise(x[i], y[i], z[i]);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["evals/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NoiseScalar);

void BM_NoiseBatch(benchmark::State& state) {
  const std::size_t n = 4096;
  const auto x = coordinates(n), y = coordinates(n + 1), z = coordinates(n + 2);
  std::vector<double> out(n);
  for (auto _ : state) {
    DD::Image::noise_batch(x.data(), y.data(), z.data(), out.data(), n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["evals/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NoiseBatch);

// The form the plug-in calls: single-precision positions, 256 per call as in one surface-noise batch.
void BM_NoiseBatchFloat(benchmark::State& state) {
  const std::size_t n = 4096, per_call = 256;
  const auto xd = coordinates(n), yd = coordinates(n + 1), zd = coordinates(n + 2);
  const std::vector<float> x(xd.begin(), xd.end()), y(yd.begin(), yd.end()), z(zd.begin(), zd.end());
  std::vector<double> out(n);
  for (auto _ : state) {
    for (std::size_t i = 0; i < n; i += per_call)
      DD::Image::noise_batch(x.data() + i, y.data() + i, z.data() + i, out.data() + i, per_call);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["evals/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_NoiseBatchFloat);

}  // namespace

BENCHMARK_MAIN();
