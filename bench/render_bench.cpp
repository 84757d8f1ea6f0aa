// One 1920 x 1080 frame of `quorlen render` in-process: four float EXR passes read in bands, rendered through
// the module and written as a float EXR, with one thread and with all cores. Program start-up (loading the
// image libraries) is not included; scripts/bench.sh times the whole command as well.
#include <OpenImageIO/imageio.h>
#include <benchmark/benchmark.h>
#include <quorlen/module.h>
#include <quorlen/node.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "DDImageHost/KnobAccess.h"
#include "PassSet.h"
#include "hosting/frames/frame_pipeline.h"

namespace {

using namespace quorlen::hosting;
using quorlen::bench::PassSet;

void run(benchmark::State& state, bool noise) {
  static PassSet passes(1920);
  static const auto& description = load_module(QUORLEN_BENCH_PLUGIN);
  auto node = std::make_unique<Node>(description);
  std::string error;
  if (noise) {
    DD::Image::set_knob(node->op(), "surfaceNoise", "on", error);
    DD::Image::set_knob(node->op(), "surfaceNoiseType", "turbulence1", error);
  }
  const std::string target = (passes.dir / "out.exr").string();
  long long pixels = 0;
  for (auto _ : state) {
    std::vector<std::string> warnings;
    FrameInputs inputs(passes.sources, warnings);
    ImageWriter writer(plan_output(target), inputs.geometry());
    pixels = stream_frame(inputs, node->op(), writer, StreamOptions{static_cast<int>(state.range(0)), 0, 3},
                          [](int) {})
                 .pixels;
    writer.commit();
  }
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RenderFrame(benchmark::State& s) { run(s, false); }
void BM_RenderFrameTurbulence1(benchmark::State& s) { run(s, true); }

// 1920 x 1080; argument: threads (0 = all cores).
BENCHMARK(BM_RenderFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderFrameTurbulence1)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
