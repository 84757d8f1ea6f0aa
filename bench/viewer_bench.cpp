// `quorlen view`'s work between a knob change and the new preview's bytes: the change applied through the
// session's node, the frame rendered and written as the 8-bit PNG the page shows (through the plain sRGB
// view and the ACES one), at 960 x 540 on the
// demo scene held in memory. Full resolution and the reduced preview shown while a slider is dragged, with
// the parallel light and with the "turbulence1" surface noise. HTTP and the browser's decoding and painting
// are not included.
#include <benchmark/benchmark.h>
#include <quorlen/module.h>
#include <quorlen/session.h>

#include <memory>

#include "demo/demo_scene.h"
#include "viewer/viewer_state.h"

namespace {

using namespace quorlen;
using DD::Image::ImageBuffer;

std::unique_ptr<viewer::ViewerState> make_viewer(int w, int h) {
  viewer::keep_freed_memory();
  static const auto& description = hosting::load_module(QUORLEN_BENCH_PLUGIN);
  const demo::DemoPasses passes = demo::build_demo_scene(w, h);
  const DD::Image::Box box(0, 0, w, h);
  std::array<std::shared_ptr<const ImageBuffer>, hosting::kInputCount> images;
  const std::vector<float>* sources[3] = {&passes.color, &passes.normal, &passes.position};
  for (int slot = 0; slot < 3; ++slot) {
    auto image = std::make_shared<ImageBuffer>(
        box,
        std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
    std::copy(sources[slot]->begin(), sources[slot]->end(), image->data());
    images[static_cast<std::size_t>(slot)] = std::move(image);
  }
  auto session = std::make_unique<hosting::Session>(description);
  session->set_inputs(hosting::ImageGeometry{box, box}, std::move(images));
  return std::make_unique<viewer::ViewerState>(std::move(session), hosting::PassReading{},
                                               viewer::ViewSetup{});
}

// The views of the shipped colour config: 0 the plain sRGB curve (exact codes), 1 the ACES 1.0 SDR view
// through OpenColorIO's processor.
const char* const kViews[] = {"sRGB", "ACES 1.0 - SDR Video"};

// Arguments: noise (0 or 1), the preview's scale in percent, then the view (see kViews).
void BM_KnobChangeToPreviewPng(benchmark::State& state) {
  static auto viewer = make_viewer(960, 540);
  viewer->apply({{"surfaceNoise", state.range(0) != 0}, {"surfaceNoiseType", "turbulence1"}});
  viewer->set_colour({{"view", kViews[state.range(2)]}});
  state.SetLabel(kViews[state.range(2)]);
  const double scale = static_cast<double>(state.range(1)) / 100.0;
  std::size_t bytes = 0;
  int i = 0;
  // The first preview loads the image library module and makes the reduced copy: not part of a change.
  double warm_ms = 0;
  viewer->preview_png(scale, 0.0, warm_ms);
  for (auto _ : state) {
    viewer->apply({{"lightBrightness", 0.5 + 0.001 * (i++ % 1000)}});
    double render_ms = 0;
    bytes = viewer->preview_png(scale, 0.0, render_ms).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_KnobChangeToPreviewPng)
    ->Args({0, 100, 0})
    ->Args({0, 50, 0})
    ->Args({1, 100, 0})
    ->Args({1, 50, 0})
    ->Args({0, 100, 1})
    ->Args({0, 50, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The exposure changed, the knobs not: the last render encoded again (sRGB codes and PNG) at 960 x 540.
void BM_ExposureChangeOnly(benchmark::State& state) {
  static auto viewer = make_viewer(960, 540);
  viewer->set_colour({{"view", kViews[state.range(0)]}});
  state.SetLabel(kViews[state.range(0)]);
  double ms = 0;
  viewer->preview_png(1.0, 0.0, ms);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(viewer->preview_png(1.0, 0.1 * (i++ % 10), ms));
}
BENCHMARK(BM_ExposureChangeOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A knob change alone, as a thousand changes sent as fast as possible cost before the one preview.
void BM_KnobChangeOnly(benchmark::State& state) {
  static auto viewer = make_viewer(960, 540);
  int i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(viewer->apply({{"lightBrightness", 0.5 + 0.001 * (i++ % 1000)}}));
}
BENCHMARK(BM_KnobChangeOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
