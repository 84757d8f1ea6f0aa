// A rig of point lights at 1920 x 1080, end to end in-process: the four zip float EXR passes read once,
// each band rendered for every light, the beauty (and with layers, one layer per light) written as a zip
// float EXR. Against one light through the same path. Arguments: lights, layers (0 or 1), threads (0: all).
#include <benchmark/benchmark.h>
#include <quorlen/module.h>
#include <quorlen/rig.h>

#include "PassSet.h"
#include "hosting/frames/frame_pipeline.h"
#include "hosting/images/image_writer.h"

namespace {

using namespace quorlen::hosting;
using quorlen::bench::PassSet;

nlohmann::json point_rig(int lights) {
  nlohmann::json rig = {{"lightType", "point"}, {"pointLightFalloff", 1}, {"pointLightRadius", 20}};
  if (lights == 1) return rig;
  rig["lights"] = nlohmann::json::array();
  for (int i = 0; i < lights; ++i)
    rig["lights"].push_back(
        {{"name", "light" + std::to_string(i)},
         {"knobs", {{"_pointLightPos", {-6.0 + 4.0 * i, 3.0, 2.0}}, {"lightBrightness", 0.5}}}});
  return rig;
}

void BM_RigFrame(benchmark::State& state) {
  static PassSet passes(1920);
  static const auto& description = load_module(QUORLEN_BENCH_PLUGIN);
  const int count = static_cast<int>(state.range(0));
  const bool layers = state.range(1) != 0;
  const RigFile rig = parse_rig(point_rig(count), "bench");
  const auto nodes = light_nodes(description, rig, {}, 0);
  std::vector<LightPass> lights;
  std::vector<std::string> names;
  for (const auto& n : nodes) {
    lights.push_back(LightPass{&n.node->op(), -1, false});
    names.push_back(n.name);
  }
  const std::string target = (passes.dir / "rig.exr").string();
  long long pixels = 0;
  for (auto _ : state) {
    std::vector<std::string> warnings;
    FrameSources sources = passes.sources;
    sources.output_floats = count == 1 ? 4 : 4 + 4 * count;
    FrameInputs inputs(sources, warnings);
    OutputPlan plan = plan_output(target);
    if (layers && rig.is_rig()) plan.layers = names;
    ImageWriter writer(plan, inputs.geometry());
    pixels = stream_lights(inputs, lights, !plan.layers.empty(), writer,
                           StreamOptions{static_cast<int>(state.range(2)), 0, 3}, [](int) {})
                 .pixels;
    writer.commit();
  }
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RigFrame)
    ->Args({1, 0, 0})
    ->Args({4, 0, 0})
    ->Args({4, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
