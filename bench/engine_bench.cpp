// The operator's rows over a frame held in memory, through the real module and the parallel executor.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "DDImageHost/Executor.h"
#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/MemorySource.h"
#include "DDImageHost/NodeHost.h"
#include "DDImageHost/Registry.h"

namespace {

using namespace DD::Image;

const Op::Description& quorlen() {
  static const Op::Description* d = [] {
    if (!dlopen(QUORLEN_BENCH_PLUGIN, RTLD_NOW | RTLD_LOCAL)) {
      std::fprintf(stderr, "%s\n", dlerror());
      std::exit(1);
    }
    return find_description("Quorlen");
  }();
  return *d;
}

// A sphere-like field of normals and positions, so lit and unlit pixels mix as in a real frame.
std::shared_ptr<ImageBuffer> pass(int w, int h, int kind) {
  auto image =
      std::make_shared<ImageBuffer>(Box{0, 0, w, h}, std::vector<Channel>{Chan_Red, Chan_Green, Chan_Blue});
  std::mt19937 rng(static_cast<unsigned>(kind));
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float sx = 2.0f * x / w - 1.0f, sy = 2.0f * y / h - 1.0f;
      const float v[3][3] = {{u(rng), u(rng), u(rng)}, {sx, sy, -0.5f}, {sx * 10, sy * 10, 5.0f - sx}};
      for (int k = 0; k < 3; ++k) image->at(x, y, k) = v[kind][k];
    }
  return image;
}

void run(benchmark::State& state, const std::vector<std::pair<const char*, const char*>>& knobs) {
  const int w = static_cast<int>(state.range(0)), h = w * 9 / 16;
  std::string error;
  auto node = NodeInstance::create(quorlen(), error);
  for (const auto& [name, value] : knobs)
    if (!set_knob(node->op(), name, value, error)) state.SkipWithError(error.c_str());
  const Format format{w, h};
  MemorySource color(format, pass(w, h, 0)), normal(format, pass(w, h, 1)), position(format, pass(w, h, 2));
  node->op().set_input(0, &color);
  node->op().set_input(1, &normal);
  node->op().set_input(2, &position);
  node->op().set_input(3, &position);
  const Box box{0, 0, w, h};
  ImageBuffer out(box, {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha});
  Executor executor(RenderOptions{static_cast<int>(state.range(1)), 0, 0});
  for (auto _ : state) {
    executor.render(node->op(), box, ChannelSet(Mask_RGBA), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Parallel(benchmark::State& s) { run(s, {{"_surfaceSpecular", "0.5"}}); }
// The point light sits in front of the surfaces, so most pixels get both light terms.
void BM_Point(benchmark::State& s) {
  run(s, {{"lightType", "point"},
          {"_pointLightPos", "0,0,20"},
          {"pointLightFalloff", "1"},
          {"_surfaceSpecular", "0.5"}});
}
void BM_Stripes(benchmark::State& s) {
  run(s, {{"surfaceNoise", "on"}, {"surfaceNoiseType", "stripes"}, {"stripesNoiseDir", "x"}});
}
void BM_Turbulence1(benchmark::State& s) {
  run(s, {{"surfaceNoise", "on"}, {"surfaceNoiseType", "turbulence1"}});
}
void BM_Turbulence2(benchmark::State& s) {
  run(s, {{"surfaceNoise", "on"}, {"surfaceNoiseType", "turbulence2"}});
}
void BM_Snoise(benchmark::State& s) { run(s, {{"surfaceNoise", "on"}, {"surfaceNoiseType", "snoise"}}); }

// Arguments: width (height is 9/16 of it), threads (0 = all cores).
#define FRAME_ARGS ArgsProduct({{1920}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime()
#define NOISE_ARGS ArgsProduct({{1920, 3840}, {1, 0}})->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK(BM_Parallel)->FRAME_ARGS;
BENCHMARK(BM_Point)->FRAME_ARGS;
BENCHMARK(BM_Stripes)->NOISE_ARGS;
BENCHMARK(BM_Turbulence1)->NOISE_ARGS;
BENCHMARK(BM_Turbulence2)->NOISE_ARGS;
BENCHMARK(BM_Snoise)->NOISE_ARGS;

}  // namespace

BENCHMARK_MAIN();
