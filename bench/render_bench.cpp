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
#include "hosting/frames/frame_pipeline.h"

namespace {

using namespace quorlen::hosting;
namespace fs = std::filesystem;

// The pass set, written once per width into a temporary directory removed at exit.
struct PassSet {
  fs::path dir;
  FrameSources sources;

  explicit PassSet(int w) {
    const int h = w * 9 / 16;
    dir = fs::temp_directory_path() /
          ("quorlen-render-bench-" + std::to_string(getpid()) + "-" + std::to_string(w));
    fs::create_directories(dir);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const char* names[kInputCount] = {"color.exr", "normal.exr", "P.exr", "noiseP.exr"};
    for (int slot = 0; slot < kInputCount; ++slot) {
      std::vector<float> pixels(static_cast<std::size_t>(w) * h * 3);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const float sx = 2.0f * x / w - 1.0f, sy = 1.0f - 2.0f * y / h;
          const float v[kInputCount][3] = {
              {u(rng), u(rng), u(rng)}, {sx, sy, -0.5f}, {10 * sx, 10 * sy, 5.0f}, {3 * sx, 3 * sy, 1.0f}};
          for (int k = 0; k < 3; ++k) pixels[(static_cast<std::size_t>(y) * w + x) * 3 + k] = v[slot][k];
        }
      OIIO::ImageSpec image_layout(w, h, 3, OIIO::TypeFloat);
      image_layout.attribute("compression", "zip");
      const std::string path = (dir / names[slot]).string();
      auto out = OIIO::ImageOutput::create(path);
      if (!out || !out->open(path, image_layout) || !out->write_image(OIIO::TypeFloat, pixels.data()) ||
          !out->close()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
      }
      sources.inputs[static_cast<std::size_t>(slot)] = InputSpec{path, std::nullopt};
    }
  }
  ~PassSet() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

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
