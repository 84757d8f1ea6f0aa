// Reading inputs end to end: --passes mapping, FILE:LAYER, multi-part files, channel names, 8-bit and
// tiled files, and inputs of another size than the colour.
#include <gtest/gtest.h>

#include <cmath>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

const float kS = 1.0f / std::sqrt(3.0f);  // default light on a normal facing -z

// A one-pixel, renderer-style file: every layer under a "ViewLayer." prefix, upper-case components.
void write_renderer_passes(const std::string& path, float red) {
  write_image(
      path, 1, 1,
      {constant_layer({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B"},
                      {red, 0.5f, 0.25f}, 1, 1),
       constant_layer({"ViewLayer.Normal.X", "ViewLayer.Normal.Y", "ViewLayer.Normal.Z"}, {0, 0, 1}, 1, 1),
       constant_layer({"ViewLayer.Position.X", "ViewLayer.Position.Y", "ViewLayer.Position.Z"}, {0, 0, 0}, 1,
                      1)});
}

TEST(Inputs, PassesMapsRendererStyleLayersAndDryRunPrintsTheMapping) {
  TempDir dir;
  const std::string passes = dir / "beauty.exr", out = dir / "out.exr";
  write_renderer_passes(passes, 1.0f);
  RunResult r =
      run_quorlen({"render", "--passes", passes, "-o", out, "--dry-run", "--set", "lightType=point"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(
      r.out, "color   " + passes +
                 ":ViewLayer.Combined (ViewLayer.Combined.R, ViewLayer.Combined.G, ViewLayer.Combined.B)"))
      << r.out;
  EXPECT_TRUE(contains(
      r.out,
      "normal  " + passes + ":ViewLayer.Normal (ViewLayer.Normal.X, ViewLayer.Normal.Y, ViewLayer.Normal.Z)"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "P       " + passes + ":ViewLayer.Position (")) << r.out;
  EXPECT_TRUE(contains(r.out, "noiseP  (unconnected)")) << r.out;
  EXPECT_TRUE(contains(r.out, "knobs   lightType=point")) << r.out;
  EXPECT_FALSE(fs::exists(out)) << "a dry run writes nothing";

  // The point light case (0.5 at colour 1) shows that colour, normal and position came from those layers.
  r = run_quorlen({"render", "--passes", passes, "-o", out, "--set", "lightType=point", "--set",
                   "_pointLightPos=0,0,-50", "--set", "pointLightFalloff=1"},
                  dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_FLOAT_EQ(image.at(0, 0, 0), 0.5f);
  EXPECT_FLOAT_EQ(image.at(0, 0, 1), 0.25f);
  EXPECT_FLOAT_EQ(image.at(0, 0, 2), 0.125f);
}

TEST(Inputs, ExplicitInputOptionsOverrideThePassesMap) {
  TempDir dir;
  const std::string passes = dir / "passes.exr", other = dir / "other.exr", out = dir / "out.exr";
  write_renderer_passes(passes, 1.0f);
  write_image(other, 1, 1, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 1, 1)});
  const RunResult r = run_quorlen({"render", "--passes", passes, "--normal", other, "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  // The passes' own normal faces +z and would be black; the override faces the default light.
  EXPECT_NEAR(read_image(out).at(0, 0, 0), kS, 1e-6f);
}

TEST(Inputs, MultiPartFilesServePartsAsLayers) {
  TempDir dir;
  const std::string passes = dir / "parts.exr", out = dir / "out.exr";
  write_multipart(passes, 1, 1,
                  {{"rgba", constant_layer({"R", "G", "B"}, {0.5f, 1, 2}, 1, 1)},
                   {"normals", constant_layer({"N.X", "N.Y", "N.Z"}, {0, 0, -1}, 1, 1)},
                   {"Normal", constant_layer({"R", "G", "B"}, {0, 0, 1}, 1, 1)}});
  // --passes: colour from the first part's R, G, B; normal from the part called "Normal".
  RunResult r = run_quorlen({"render", "--passes", passes, "-o", out, "--dry-run"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "layers: (plain), N, Normal")) << r.out;
  EXPECT_TRUE(contains(r.out, "normal  " + passes + ":N (N.X, N.Y, N.Z)"))
      << r.out;  // "N" is listed before "Normal"

  // A layer of a later part, by the name of its channels and by the name of its part.
  for (const char* layer : {"N", "normals"}) {
    r = run_quorlen({"render", "--color", passes, "--normal", passes + ":" + layer, "-o", out}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadImage image = read_image(out);
    EXPECT_NEAR(image.at(0, 0, 0), 0.5f * kS, 1e-6f) << layer;
    EXPECT_NEAR(image.at(0, 0, 2), 2.0f * kS, 1e-6f) << layer;
  }
  r = run_quorlen({"render", "--color", passes + ":rgba", "--normal", passes + ":Normal", "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_image(out).at(0, 0, 0), 0.0f);  // the "Normal" part faces away from the light
}

TEST(Inputs, ComponentsAreTakenByNameNotByTheirOrderInTheFile) {
  TempDir dir;
  const std::string file = dir / "named.exr", out = dir / "out.exr";
  // Written out of component order; whatever order the file keeps, the names decide the components.
  write_image(file, 1, 1,
              {constant_layer({"col.red", "col.green", "col.blue"}, {0.75f, 0.5f, 0.25f}, 1, 1),
               constant_layer({"nrm.z", "nrm.x", "nrm.y"}, {-1, 0, 0}, 1, 1)});
  const RunResult r =
      run_quorlen({"render", "--color", file + ":col", "--normal", file + ":NRM", "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_NEAR(image.at(0, 0, 0), 0.75f * kS, 1e-6f);
  EXPECT_NEAR(image.at(0, 0, 1), 0.5f * kS, 1e-6f);
  EXPECT_NEAR(image.at(0, 0, 2), 0.25f * kS, 1e-6f);
}

// An 8-bit PNG albedo holds sRGB-encoded codes: the config's file rules decode them to linear light as
// they are read (values from the sRGB formula in double precision); color=raw keeps the codes over 255.
TEST(Inputs, EightBitTexturesAreDecodedToLinearLightUnlessReadRaw) {
  TempDir dir;
  const std::string png = dir / "color.png", normal = dir / "n.exr", out = dir / "out.exr";
  {
    OIIO::ImageSpec spec(1, 1, 3, OIIO::TypeUInt8);
    auto o = OIIO::ImageOutput::create(png);
    ASSERT_TRUE(o && o->open(png, spec));
    const unsigned char px[3] = {51, 102, 255};
    ASSERT_TRUE(o->write_image(OIIO::TypeUInt8, px));
    o->close();
  }
  write_image(normal, 1, 1, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 1, 1)});
  const RunResult r = run_quorlen({"render", "--color", png, "--normal", normal, "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_NEAR(image.at(0, 0, 0), 0.033104766570885f * kS, 2e-6f);
  EXPECT_NEAR(image.at(0, 0, 1), 0.132868321553818f * kS, 2e-6f);
  EXPECT_NEAR(image.at(0, 0, 2), 1.0f * kS, 2e-6f);
  const RunResult raw = run_quorlen(
      {"render", "--color", png, "--colorspace", "color=raw", "--normal", normal, "-o", out}, dir);
  ASSERT_EQ(raw.code, 0) << raw.err;
  const ReadImage codes = read_image(out);
  EXPECT_NEAR(codes.at(0, 0, 0), 0.2f * kS, 1e-6f);
  EXPECT_NEAR(codes.at(0, 0, 1), 0.4f * kS, 1e-6f);
  EXPECT_NEAR(codes.at(0, 0, 2), 1.0f * kS, 1e-6f);
}

TEST(Inputs, TiledFilesAreRead) {
  TempDir dir;
  const std::string tiled = dir / "tiled.exr", out = dir / "out.exr";
  const int w = 37, h = 21;
  std::vector<float> normals;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) normals.insert(normals.end(), {0, 0, x % 2 ? 1.0f : -1.0f});
  OIIO::ImageSpec spec(w, h, 3, OIIO::TypeFloat);
  spec.tile_width = spec.tile_height = 16;
  auto o = OIIO::ImageOutput::create(tiled);
  ASSERT_TRUE(o && o->open(tiled, spec)) << OIIO::geterror();
  ASSERT_TRUE(o->write_image(OIIO::TypeFloat, normals.data())) << o->geterror();
  o->close();
  const RunResult r = run_quorlen({"render", "--normal", tiled, "-o", out, "--set", "outputType=light"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  for (int y : {0, 15, 16, 20})
    for (int x : {0, 1, 16, 17, 36})
      EXPECT_NEAR(image.at(x, y, 0), x % 2 ? 0.0f : kS, 1e-6f) << x << "," << y;
}

TEST(Inputs, InputsOfAnotherSizeAreReadWhereTheyOverlapWithAWarning) {
  TempDir dir;
  const std::string color = dir / "c.exr", normal = dir / "n.exr", out = dir / "out.exr";
  write_image(color, 4, 2, {constant_layer({"R", "G", "B"}, {1, 1, 1}, 4, 2)});
  // The normal covers x 2..5 of line 1 only.
  write_image(normal, 4, 1, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 4, 1)}, 2, 1, 4, 2);
  const RunResult r = run_quorlen({"render", "--color", color, "--normal", normal, "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.err, "quorlen: warning: normal input " + normal)) << r.err;
  EXPECT_TRUE(contains(r.err, "read where they overlap")) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_EQ(image.spec.width, 4);  // the colour input's windows
  EXPECT_EQ(image.spec.height, 2);
  EXPECT_EQ(image.spec.x, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_NEAR(image.at(x, y, 0), (y == 1 && x >= 2) ? kS : 0.0f, 1e-6f) << x << "," << y;
}

}  // namespace
