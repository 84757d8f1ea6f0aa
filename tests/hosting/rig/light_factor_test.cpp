// A light's shadow and spot factor is a function of the pixel and the whole frame's P alone: applied to a
// frame whole or band by band, on one thread or two, it gives the same bits; and it leaves black alone.
#include "hosting/rig/light_factor.h"

#include <gtest/gtest.h>
#include <quorlen/module.h>
#include <tbb/task_arena.h>

#include <cstring>

#include "demo/demo_scene.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;

constexpr int kW = 200, kH = 120;

ImageBuffer filled(const Box& box, float value) {
  ImageBuffer b(box,
                {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue, DD::Image::Chan_Alpha});
  std::fill(b.data(), b.data() + static_cast<std::ptrdiff_t>(box.w()) * box.h() * 4, value);
  return b;
}

TEST(LightFactor, TheSameBitsWhateverTheBandsAndThreads) {
  const demo::DemoPasses scene = demo::build_demo_scene(kW, kH);
  // Data window away from the origin, as a cropped render's is.
  const ImageGeometry geometry{Box(3, 5, 3 + kW, 5 + kH), Box(0, 0, kW + 6, kH + 10)};
  ImageBuffer p(geometry.data, {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  std::copy(scene.position.begin(), scene.position.end(), p.data());
  const auto camera = frame_camera_of(p, geometry);
  ASSERT_TRUE(camera->camera) << camera->fit.problem;

  const RigFile rig =
      parse_rig({{"lights",
                  {{{"name", "key"},
                    {"knobs", {{"lightType", "point"}, {"_pointLightPos", {2.5, 4.5, 4.0}}}},
                    {"shadow", {{"size", 0.5}, {"samples", 8}}},
                    {"spot", {{"direction", {-0.3, -1, 0.5}}, {"angle", 40}, {"penumbra", 15}}}}}}},
                "test");
  auto nodes = light_nodes(load_module(QUORLEN_TEST_PLUGIN), rig, {}, 0);
  const auto factor = LightFactor::make(*nodes[0].node, rig.lights[0], *camera, "light \"key\"");
  ASSERT_TRUE(factor);

  ImageBuffer whole = filled(geometry.data, 1.0f);
  {
    tbb::task_arena one(1);
    one.execute([&] { factor->apply(whole); });
  }
  long long shadowed = 0, partly = 0;
  for (int y = geometry.data.y(); y < geometry.data.t(); ++y)
    for (int x = geometry.data.x(); x < geometry.data.r(); ++x) {
      const float v = whole.at(x, y, 0);
      shadowed += v == 0.0f;
      partly += v > 0.0f && v < 1.0f;
      ASSERT_EQ(v, factor->at(x, y));
      ASSERT_EQ(whole.at(x, y, 3), 1.0f) << "alpha is left alone";
    }
  EXPECT_GT(shadowed, 1000);
  EXPECT_GT(partly, 500);

  for (const int lines : {1, 7, 33}) {
    tbb::task_arena two(2);
    for (int y0 = geometry.data.y(); y0 < geometry.data.t(); y0 += lines) {
      const Box band(geometry.data.x(), y0, geometry.data.r(), std::min(geometry.data.t(), y0 + lines));
      ImageBuffer part = filled(band, 1.0f);
      two.execute([&] { factor->apply(part); });
      for (int y = band.y(); y < band.t(); ++y)
        ASSERT_EQ(
            std::memcmp(part.line(y), whole.line(y), static_cast<std::size_t>(band.w()) * 4 * sizeof(float)),
            0)
            << "line " << y << " in bands of " << lines;
    }
  }

  // Black stays black, its sign too.
  ImageBuffer black = filled(geometry.data, -0.0f);
  factor->apply(black);
  for (int y = geometry.data.y(); y < geometry.data.t(); ++y)
    for (int x = geometry.data.x(); x < geometry.data.r(); ++x) ASSERT_TRUE(std::signbit(black.at(x, y, 1)));
}

}  // namespace
}  // namespace quorlen::hosting
