// The span engine alone, fast and reference, over a frame held in memory: no host rows, no executor.
// Lines are shared out over a thread arena inside one benchmark thread, so each iteration is one whole
// frame and the rate is the frame's wall-clock rate.
#include <benchmark/benchmark.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <random>
#include <vector>

#include "shading/SpanEngine.h"

namespace {

using namespace quorlen;

struct Frame {
  int w, h;
  std::vector<float> planes[12];
  std::vector<float> out[4];
  DD::Image::ChannelSet noise_channels{DD::Image::Mask_RGB};

  Frame(int width, int height) : w(width), h(height) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (auto& p : planes) p.resize(static_cast<std::size_t>(w) * h);
    for (auto& p : out) p.resize(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * w + x;
        const float sx = 2.0f * x / w - 1.0f, sy = 2.0f * y / h - 1.0f;
        const float v[12] = {u(rng),  u(rng),  u(rng),    sx,      sy,      -0.5f,
                             sx * 10, sy * 10, 5.0f - sx, sx * 10, sy * 10, 5.0f - sx};
        for (int k = 0; k < 12; ++k) planes[k][i] = v[k];
      }
  }

  void shade_line(const ShadingSettings& s, bool fast, int y) {
    const std::size_t row = static_cast<std::size_t>(y) * w;
    SpanInputs in{};
    const float** targets[4] = {in.color, in.normal, in.position, in.noise_position};
    for (int k = 0; k < 12; ++k) targets[k / 3][k % 3] = planes[k].data() + row;
    in.noise_channels = &noise_channels;
    const SpanOutputs o{{out[0].data() + row, out[1].data() + row, out[2].data() + row, out[3].data() + row}};
    (fast ? shade_span : shade_span_reference)(s, in, o, 0, w);
  }
};

Frame& frame(int w) {
  static Frame f1920(1920, 1080), f3840(3840, 2160);
  return w == 1920 ? f1920 : f3840;
}

void run(benchmark::State& state, ShadingSettings p) {
  const int w = static_cast<int>(state.range(0));
  const bool fast = state.range(1) != 0;
  Frame& f = frame(w);
  p.format_width = w;
  tbb::task_arena arena(static_cast<int>(state.range(2)));
  for (auto _ : state)
    arena.execute([&] {
      tbb::parallel_for(tbb::blocked_range<int>(0, f.h), [&](const tbb::blocked_range<int>& lines) {
        for (int y = lines.begin(); y != lines.end(); ++y) f.shade_line(p, fast, y);
      });
    });
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(f.w) * f.h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

ShadingSettings with(void (*set)(ShadingSettings&)) {
  ShadingSettings p;
  p.surface_specular = {0.5f, 0.5f, 0.5f};
  set(p);
  return p;
}

void BM_SpanParallel(benchmark::State& s) {
  run(s, with([](ShadingSettings&) {}));
}
// The point light sits in front of the surfaces, so most pixels get both light terms.
void BM_SpanPoint(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.light_type = LightType::point;
        p.point_light_position = {0, 0, 20};
        p.point_light_falloff = 1;
      }));
}
void BM_SpanParallelLightOutput(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) { p.output_type = OutputType::light; }));
}
void BM_SpanPointLightOutput(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.light_type = LightType::point;
        p.point_light_position = {0, 0, 20};
        p.point_light_falloff = 1;
        p.output_type = OutputType::light;
      }));
}
void BM_SpanStripes(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.surface_noise = true;
        p.noise_type = NoiseType::stripes;
        p.stripe_directions = 1;
      }));
}
void BM_SpanTurbulence1(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.surface_noise = true;
        p.noise_type = NoiseType::turbulence1;
      }));
}
void BM_SpanTurbulence2(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.surface_noise = true;
        p.noise_type = NoiseType::turbulence2;
      }));
}
void BM_SpanSnoise(benchmark::State& s) {
  run(s, with([](ShadingSettings& p) {
        p.surface_noise = true;
        p.noise_type = NoiseType::snoise;
      }));
}

// Arguments: width (height is 9/16 of it), engine (0 = reference, 1 = fast), threads.
#define LIGHT_ARGS ArgsProduct({{1920}, {0, 1}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime()
#define NOISE_ARGS ArgsProduct({{1920, 3840}, {0, 1}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_SpanParallel)->LIGHT_ARGS;
BENCHMARK(BM_SpanPoint)->LIGHT_ARGS;
BENCHMARK(BM_SpanParallelLightOutput)->LIGHT_ARGS;
BENCHMARK(BM_SpanPointLightOutput)->LIGHT_ARGS;
BENCHMARK(BM_SpanStripes)->NOISE_ARGS;
BENCHMARK(BM_SpanTurbulence1)->NOISE_ARGS;
BENCHMARK(BM_SpanTurbulence2)->NOISE_ARGS;
BENCHMARK(BM_SpanSnoise)->NOISE_ARGS;

}  // namespace

BENCHMARK_MAIN();
