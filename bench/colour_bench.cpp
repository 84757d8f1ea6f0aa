// The display transform alone, as a preview or an 8-bit output applies it: 960 x 540 pixels of
// working-space light to 8-bit codes through the shipped config's views, and what making the transform
// costs (a preview makes one each time the view or exposure may have changed).
#include <benchmark/benchmark.h>
#include <quorlen/colour.h>
#include <quorlen/preview.h>

#include <cmath>
#include <cstdlib>

#include "hosting/colour/display_encoder.h"

namespace {

using namespace quorlen;

const char* const kViews[] = {"sRGB", "ACES 1.0 - SDR Video"};

// Light from 0 to 8 across the frame, hues changing down it, as a relit frame spans.
DD::Image::ImageBuffer frame(int w, int h) {
  DD::Image::ImageBuffer image(DD::Image::Box(0, 0, w, h),
                               {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float v = 8.0f * static_cast<float>(x) / static_cast<float>(w);
      const float t = static_cast<float>(y) / static_cast<float>(h);
      image.at(x, y, 0) = v * t;
      image.at(x, y, 1) = v * (1.0f - t);
      image.at(x, y, 2) = v * 0.5f * std::sin(6.0f * t) + 0.5f * v;
    }
  return image;
}

void BM_PreviewCodes960x540(benchmark::State& state) {
  unsetenv("OCIO");
  static const DD::Image::ImageBuffer image = frame(960, 540);
  hosting::PreviewView view;
  view.view = kViews[state.range(0)];
  state.SetLabel(*view.view);
  benchmark::DoNotOptimize(hosting::preview_codes(image, view));  // the config read, the processor cached
  for (auto _ : state) benchmark::DoNotOptimize(hosting::preview_codes(image, view));
  state.SetItemsProcessed(state.iterations() * 960 * 540);
}
BENCHMARK(BM_PreviewCodes960x540)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DisplayEncoderMade(benchmark::State& state) {
  unsetenv("OCIO");
  const auto view =
      hosting::resolve_display_view(std::nullopt, std::string(kViews[state.range(0)]), std::nullopt);
  state.SetLabel(view.view);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(hosting::DisplayEncoder(view, 0.1 * (i++ % 10)));
}
BENCHMARK(BM_DisplayEncoderMade)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
