// One point light at 1920 x 1080 on two threads, from passes held in memory (no file read or written): the
// light's render alone, and the shadow pass it takes to cast shadows (the camera fitted to P, the depth
// field, the shadow rays, applied to the layer), hard and with a soft light of 16 rays. P copied in stands
// for reading it and is not timed.
#include <benchmark/benchmark.h>
#include <quorlen/module.h>
#include <quorlen/rig.h>
#include <tbb/task_arena.h>

#include "demo/demo_scene.h"
#include "hosting/frames/frame_camera.h"
#include "hosting/frames/region_renderer.h"
#include "hosting/rig/light_factor.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using DD::Image::ImageBuffer;

constexpr int kW = 1920, kH = 1080;
constexpr int kThreads = 2;

struct Frame {
  quorlen::demo::DemoPasses scene = quorlen::demo::build_demo_scene(kW, kH);
  ImageGeometry geometry{Box(0, 0, kW, kH), Box(0, 0, kW, kH)};
  BandInputs inputs;

  Frame() {
    inputs.box = geometry.data;
    const std::vector<float>* from[3] = {&scene.color, &scene.normal, &scene.position};
    for (int slot = 0; slot < 3; ++slot) {
      auto image = std::make_shared<ImageBuffer>(
          geometry.data,
          std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
      std::copy(from[slot]->begin(), from[slot]->end(), image->data());
      inputs.images[static_cast<std::size_t>(slot)] = std::move(image);
    }
  }
};

Frame& frame() {
  static Frame f;
  return f;
}

RigFile key_rig(const nlohmann::json& shadow) {
  nlohmann::json light = {{"name", "key"},
                          {"knobs",
                           {{"lightType", "point"},
                            {"_pointLightPos", {2.5, 4.5, 4.0}},
                            {"pointLightRadius", 20},
                            {"pointLightFalloff", 1}}}};
  if (!shadow.is_null()) light["shadow"] = shadow;
  return parse_rig({{"lights", {light}}}, "bench");
}

// The light's node over the whole frame.
void BM_LightRender(benchmark::State& state) {
  static const auto& description = load_module(QUORLEN_BENCH_PLUGIN);
  Frame& f = frame();
  const RigFile rig = key_rig(nullptr);
  auto nodes = light_nodes(description, rig, {}, 0);
  tbb::task_arena arena(kThreads);
  for (auto _ : state)
    arena.execute([&] {
      RegionRenderer renderer(nodes[0].node->op(), DD::Image::RenderOptions{0, 0, 0});
      benchmark::DoNotOptimize(renderer.render(f.inputs, f.geometry));
    });
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// What shadows add to that render: the camera fitted to P, its depth field, and the factor applied to a
// rendered layer. Argument: the light's rays a pixel (1: hard, else a soft light of that many).
void BM_ShadowPass(benchmark::State& state) {
  static const auto& description = load_module(QUORLEN_BENCH_PLUGIN);
  Frame& f = frame();
  const int rays = static_cast<int>(state.range(0));
  const RigFile rig =
      key_rig(rays == 1 ? nlohmann::json(true) : nlohmann::json{{"size", 0.4}, {"samples", rays}});
  auto nodes = light_nodes(description, rig, {}, 0);
  RegionRenderer renderer(nodes[0].node->op(), DD::Image::RenderOptions{0, 0, 0});
  tbb::task_arena arena(kThreads);
  std::shared_ptr<ImageBuffer> layer;
  arena.execute([&] { layer = renderer.render(f.inputs, f.geometry); });
  const ImageBuffer rendered = *layer;
  for (auto _ : state) {
    // Copying P in stands for reading it from its file, which is not counted.
    state.PauseTiming();
    *layer = rendered;
    FrameCamera camera(f.geometry.data);
    std::copy(f.scene.position.begin(), f.scene.position.end(), camera.position.data());
    state.ResumeTiming();
    arena.execute([&] {
      camera.grid = quorlen::geometry::Grid3{kW, kH, camera.position.data(), 3, 0, 0};
      camera.fit = quorlen::geometry::fit_camera(camera.grid);
      camera.camera = camera.fit.camera;
      auto factor = LightFactor::make(*nodes[0].node, rig.lights[0], camera, "key");
      factor->apply(*layer);
    });
  }
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(kW) * kH / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_LightRender)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShadowPass)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
