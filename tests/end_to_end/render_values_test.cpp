// `quorlen render` end to end: pixel values of the written file for settings whose results are known.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;
using Pixel = std::array<float, 3>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Writes one-line colour, normal and position files of the given pixels.
struct Passes {
  TempDir dir;
  std::string color = dir / "color.exr";
  std::string normal = dir / "normal.exr";
  std::string position = dir / "position.exr";

  Passes(const std::vector<Pixel>& colors, const std::vector<Pixel>& normals,
         const std::vector<Pixel>& positions) {
    const int w = static_cast<int>(normals.size());
    write_image(color, w, 1, {pixels_layer({"R", "G", "B"}, colors)});
    write_image(normal, w, 1, {pixels_layer({"N.X", "N.Y", "N.Z"}, normals)});
    write_image(position, w, 1, {pixels_layer({"P.X", "P.Y", "P.Z"}, positions)});
  }

  // Renders with the extra arguments and returns the output read back; fails the test on a bad run.
  ReadImage render(const std::vector<std::string>& extra) {
    const std::string out = dir / "out.exr";
    std::vector<std::string> args = {"render", "--color",       color, "--normal", normal + ":N",
                                     "--P",    position + ":P", "-o",  out};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_quorlen(args, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return read_image(out);
  }
};

void expect_rgb(const ReadImage& image, int x, Pixel expected, float tolerance, const std::string& what) {
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(image.at(x, 0, k), expected[static_cast<std::size_t>(k)], tolerance)
        << what << " channel " << k;
}

TEST(RenderValues, DefaultParallelLightLightsNormalsFacingMinusZ) {
  const float s = 1.0f / std::sqrt(3.0f);
  struct Case {
    Pixel normal;
    Pixel color;
    Pixel expected;
  };
  const Case cases[] = {
      {{0, 0, -1}, {1, 1, 1}, {s, s, s}},
      {{0, 0, -7}, {1, 1, 1}, {s, s, s}},  // the normal's length does not matter
      {{0, 0, 1}, {1, 1, 1}, {0, 0, 0}},
      {{1, 1, -1}, {0.5f, 0.25f, 2}, {0.5f, 0.25f, 2}},  // facing the light: the colour itself
      {{0, 0, -1}, {-1, 0, 4}, {-s, 0, 4 * s}},          // colours are not clamped
      {{0, 0, 0}, {1, 1, 1}, {0, 0, 0}},                 // a zero normal gets no light
      {{kNaN, 0, -1}, {1, 1, 1}, {0, 0, 0}},
      {{kInf, 0, 0}, {1, 1, 1}, {0, 0, 0}},
      {{-0.0f, -0.0f, -1}, {1, 1, 1}, {s, s, s}},
  };
  std::vector<Pixel> normals, colors, positions;
  for (const auto& c : cases) {
    normals.push_back(c.normal);
    colors.push_back(c.color);
    positions.push_back({0, 0, 0});
  }
  Passes passes(colors, normals, positions);
  const ReadImage out = passes.render({});
  ASSERT_EQ(out.spec.nchannels, 4);
  EXPECT_EQ(out.spec.channelnames, (std::vector<std::string>{"R", "G", "B", "A"}));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    expect_rgb(out, static_cast<int>(i), cases[i].expected, 1e-6f, "pixel " + std::to_string(i));
    EXPECT_EQ(out.at(static_cast<int>(i), 0, 3), 0.0f) << "alpha of pixel " << i;
  }
}

TEST(RenderValues, PointLightFadesWithDistanceAndFalloff) {
  // Position (0, 0, 0), normal (0, 0, 1), colour 1: the light at (0, 0, -50) is 50 away, straight ahead
  // once the light vector's z is negated.
  struct Case {
    std::vector<std::string> sets;
    float expected;
  };
  const Case cases[] = {
      {{"_pointLightPos=0,0,-50", "pointLightFalloff=1"}, 0.5f},
      {{"_pointLightPos=0,0,-50", "pointLightFalloff=2"}, 0.25f},
      {{"_pointLightPos=0,0,50", "pointLightFalloff=1"}, 0.0f},    // behind the surface
      {{"_pointLightPos=0,0,-150", "pointLightFalloff=0"}, 1.0f},  // no falloff: no fading at all
      {{"_pointLightPos=0,0,-150", "pointLightFalloff=1"}, 0.0f},  // beyond the radius
      {{"_pointLightPos=0,0,-50", "pointLightFalloff=1", "_surfaceSpecular=1,1,1", "surfaceSpecularPower=1"},
       1.0f},
      {{"_pointLightPos=0,0,-50", "pointLightFalloff=1", "lightBrightness=3"}, 1.5f},
  };
  Passes passes({{1, 1, 1}}, {{0, 0, 1}}, {{0, 0, 0}});
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--set", "lightType=point", "--set", "pointLightRadius=100"};
    for (const auto& s : c.sets) args.insert(args.end(), {"--set", s});
    const ReadImage out = passes.render(args);
    expect_rgb(out, 0, {c.expected, c.expected, c.expected}, 1e-6f, c.sets[0] + " " + c.sets[1]);
  }
}

TEST(RenderValues, LightOutputIgnoresTheColourAndAddsScatter) {
  Passes passes({{7, -3, 0.2f}}, {{0, 0, 1}}, {{0, 0, 0}});
  const ReadImage out = passes.render({"--set", "lightType=point", "--set", "_pointLightPos=0,0,-50", "--set",
                                       "pointLightFalloff=1", "--set", "outputType=light", "--set",
                                       "_surfaceDiffuse=1,0.5,0.25", "--set", "_lightScatter=0.1,0.2,0.3"});
  EXPECT_FLOAT_EQ(out.at(0, 0, 0), 0.55f);
  EXPECT_FLOAT_EQ(out.at(0, 0, 1), 0.35f);
  EXPECT_FLOAT_EQ(out.at(0, 0, 2), 0.275f);
}

TEST(RenderValues, SettingsFileIsAppliedBeforeTheSetOptions) {
  Passes passes({{1, 1, 1}}, {{0, 0, 1}}, {{0, 0, 0}});
  const std::string settings = passes.dir / "settings.json";
  std::ofstream(settings) << R"({"lightType": "point", "_pointLightPos": [0, 0, -50], "pointLightFalloff": 2,
                                 "surfaceNoise": false, "lightBrightness": 1})";
  EXPECT_FLOAT_EQ(passes.render({"--settings", settings}).at(0, 0, 0), 0.25f);
  // --set comes after the file, so it wins.
  EXPECT_FLOAT_EQ(passes.render({"--settings", settings, "--set", "pointLightFalloff=1"}).at(0, 0, 0), 0.5f);
}

TEST(RenderValues, WithoutAColourInputTheNormalGivesTheSizeAndLightOutputStillWorks) {
  TempDir dir;
  const std::string normal = dir / "n.exr", out = dir / "out.exr";
  write_image(normal, 3, 2, {constant_layer({"X", "Y", "Z"}, {1, 1, -1}, 3, 2)}, 5, 7, 10, 12);
  RunResult r = run_quorlen({"render", "--normal", normal, "-o", out, "--set", "outputType=light"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage light = read_image(out);
  EXPECT_EQ(light.spec.x, 5);
  EXPECT_EQ(light.spec.y, 7);
  EXPECT_EQ(light.spec.width, 3);
  EXPECT_EQ(light.spec.full_width, 10);
  EXPECT_NEAR(light.at(6, 8, 0), 1.0f, 1e-6f);
  // "texture" output of a black colour is black.
  r = run_quorlen({"render", "--normal", normal, "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_image(out).at(6, 8, 0), 0.0f);
}

TEST(RenderValues, NoiseChangesTheResultOnlyWhereItIsSampled) {
  // Two identical pixels but for their noise position: with noise on they differ, with noise off not.
  // The frame is 64 wide, so the turbulence types get octaves (their count follows the format width).
  TempDir dir;
  const std::string color = dir / "c.exr", normal = dir / "n.exr", noise = dir / "q.exr", out = dir / "o.exr";
  write_image(color, 2, 1, {constant_layer({"R", "G", "B"}, {1, 1, 1}, 2, 1)}, 0, 0, 64, 1);
  write_image(normal, 2, 1, {constant_layer({"R", "G", "B"}, {0.2f, 0.3f, -1}, 2, 1)}, 0, 0, 64, 1);
  write_image(noise, 2, 1, {pixels_layer({"R", "G", "B"}, {{0.1f, 0.2f, 0.3f}, {3.7f, -1.2f, 0.4f}})}, 0, 0,
              64, 1);
  const std::vector<std::string> base = {"render",   "--color", color, "--normal", normal,
                                         "--noiseP", noise,     "-o",  out};
  ASSERT_EQ(run_quorlen(base, dir).code, 0);
  const ReadImage plain = read_image(out);
  EXPECT_EQ(plain.at(0, 0, 0), plain.at(1, 0, 0));
  for (const char* type : {"stripes", "turbulence1", "turbulence2", "snoise"}) {
    auto args = base;
    args.insert(args.end(), {"--set", "surfaceNoise=on", "--set", std::string("surfaceNoiseType=") + type,
                             "--set", "stripesNoiseDir=x|y|z", "--set", "noiseMultiply=2"});
    const RunResult r = run_quorlen(args, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadImage bumped = read_image(out);
    EXPECT_NE(bumped.at(0, 0, 0), bumped.at(1, 0, 0)) << type;
    EXPECT_TRUE(std::isfinite(bumped.at(0, 0, 0))) << type;
  }
}

}  // namespace
