/// \file output_layers_test.cpp  A rig's per-light layers in --output-colorspace: each converted as the
/// beauty is, so they still add up to it and each equals that light rendered alone into the same space.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "support/HostingTestSupport.h"

namespace quorlen::hosting_test {
namespace {

constexpr int kW = 13, kH = 7;

Layer random_layer(std::vector<std::string> channels, unsigned seed, float low, float high) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(low, high);
  Layer layer{std::move(channels), {}};
  layer.pixels.resize(static_cast<std::size_t>(kW * kH) * layer.channels.size());
  for (float& v : layer.pixels) v = dist(rng);
  return layer;
}

// The conversion to ACEScg is a 3x3 matrix, so sums survive it up to rounding: a few ulps of the largest
// term, as float addition in another order would give.
float tolerance(float a, float b, float c) {
  return 4e-6f * std::max({1.0f, std::abs(a), std::abs(b), std::abs(c)});
}

TEST(OutputLayers, LayersAreConvertedLikeTheBeautyAndStillAddUpToIt) {
  const TempDir dir;
  write_image(dir / "passes.exr", kW, kH,
              {random_layer({"R", "G", "B"}, 1, 0, 1), random_layer({"N.X", "N.Y", "N.Z"}, 2, -1, 1),
               random_layer({"P.X", "P.Y", "P.Z"}, 3, -4, 4)});
  const nlohmann::json key = {{"lightType", "point"}, {"_pointLightPos", {1, 2, -3}}, {"lightBrightness", 2}};
  const nlohmann::json fill = {{"_parallelLightDir", {-1, 0.5, -1}}, {"lightBrightness", 0.3}};
  const nlohmann::json rig = {
      {"lights", {{{"name", "key"}, {"knobs", key}}, {{"name", "fill"}, {"knobs", fill}}}}};
  const auto write_json = [&](const std::string& name, const nlohmann::json& j) {
    std::ofstream(dir / name) << j.dump(2);
    return dir / name;
  };
  const auto render = [&](const std::string& settings, const std::string& out,
                          std::vector<std::string> extra) {
    std::vector<std::string> args = {"render", "--passes", dir / "passes.exr", "--settings",
                                     settings, "-o",       dir / out};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_quorlen(args, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    return read_image(dir / out);
  };
  const std::vector<std::string> acescg = {"--output-colorspace", "ACEScg"};
  const ReadImage out = render(write_json("rig.json", rig), "rig.exr", acescg);
  const ReadImage linear = render(write_json("rig.json", rig), "linear.exr", {});
  const ReadImage key_alone = render(write_json("key.json", key), "key.exr", acescg);
  const ReadImage fill_alone = render(write_json("fill.json", fill), "fill.exr", acescg);
  ASSERT_EQ(out.spec.nchannels, 10);
  EXPECT_EQ(out.spec.get_string_attribute("oiio:ColorSpace"), "ACEScg");
  const char* rgb[3] = {"R", "G", "B"};
  int moved = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        const auto layer = [&](const ReadImage& image, const char* name) {
          return image.at(x, y, image.spec.channelindex(std::string(name) + "." + rgb[c]));
        };
        const float k = layer(out, "key"), f = layer(out, "fill"), beauty = out.at(x, y, c);
        ASSERT_NEAR(k + f, beauty, tolerance(k, f, beauty)) << x << "," << y << " channel " << c;
        // One light alone goes through the same processor on the same values: the same bits.
        ASSERT_EQ(k, key_alone.at(x, y, c)) << x << "," << y;
        ASSERT_EQ(f, fill_alone.at(x, y, c)) << x << "," << y;
        moved += layer(linear, "key") != k;
      }
  EXPECT_GT(moved, kW * kH) << "the layers were written in the working space";
  // Alpha is not colour.
  EXPECT_EQ(out.at(2, 3, 3), linear.at(2, 3, 3));
}

}  // namespace
}  // namespace quorlen::hosting_test
