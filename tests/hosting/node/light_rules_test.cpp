// The light placed from a picked surface must light that surface head on, in either light space, and the
// settings warnings must follow the panel's own rules.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/lighting.h>
#include <quorlen/module.h>

#include <cmath>

namespace quorlen::hosting {
namespace {

const DD::Image::Op::Description& description() { return load_module(QUORLEN_TEST_PLUGIN); }

Surface surface(std::array<float, 3> p, std::array<float, 3> n) {
  Surface s;
  s.position = p;
  s.normal = n;
  return s;
}

std::array<double, 3> triple(const nlohmann::json& j) {
  return {j[0].get<double>(), j[1].get<double>(), j[2].get<double>()};
}

TEST(LightFacing, ThePointLightSitsAlongTheNormalAsTheNodeSeesIt) {
  Node node(description());
  node.set("lightType", "point");
  // A ground facing +z in the passes (z-up world), picked at (1, 2, 3), light 2 units away.
  const Surface ground = surface({1, 2, 3}, {0, 0, 1});
  // World space: the normals reach the node z-negated, which cancels the node's own negation.
  const auto world = triple(light_facing(node, ground, LightSpace::world, 2.0)["_pointLightPos"]);
  EXPECT_EQ(world, (std::array<double, 3>{1, 2, 5}));
  // Node space: the node lights with the light vector's z negated, so the light is mirrored in z.
  const auto mirrored = triple(light_facing(node, ground, LightSpace::node, 2.0)["_pointLightPos"]);
  EXPECT_EQ(mirrored, (std::array<double, 3>{1, 2, 1}));
  // The normal is made unit length first.
  const auto scaled =
      triple(light_facing(node, surface({0, 0, 0}, {0, 4, 0}), LightSpace::node, 3.0)["_pointLightPos"]);
  EXPECT_EQ(scaled, (std::array<double, 3>{0, 3, 0}));
}

TEST(LightFacing, TheParallelLightShinesStraightAtTheSurface) {
  Node node(description());
  ASSERT_EQ(node.value_text("lightType"), "parallel");
  const nlohmann::json set = light_facing(node, surface({5, 5, 5}, {0, 3, 4}), LightSpace::node, 10.0);
  ASSERT_TRUE(set.contains("_parallelLightDir"));
  EXPECT_FALSE(set.contains("_pointLightPos"));
  const auto d = triple(set["_parallelLightDir"]);
  EXPECT_DOUBLE_EQ(d[0], 0.0);
  EXPECT_DOUBLE_EQ(d[1], 0.6);
  EXPECT_DOUBLE_EQ(d[2], -0.8);
}

TEST(LightFacing, NoSurfaceNoNormalOrNoDistanceIsRefused) {
  Node node(description());
  const auto refused = [&](const Surface& s, double distance) -> std::string {
    try {
      light_facing(node, s, LightSpace::node, distance, "pixel 4, 2");
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage);
      return e.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refused(Surface{}, 1.0), "pixel 4, 2 shows no surface: its P and N are zero");
  EXPECT_EQ(refused(surface({1, 1, 1}, {0, 0, 0}), 1.0), "pixel 4, 2 has no usable normal");
  EXPECT_EQ(refused(surface({1, 1, 1}, {NAN, 0, 1}), 1.0), "pixel 4, 2 has no usable normal");
  EXPECT_EQ(refused(surface({1, 1, 1}, {0, 0, 1}), INFINITY), "distance must be a finite number");
}

TEST(SettingsWarnings, FollowThePanelAndTheConnectedInputs) {
  Node node(description());
  const std::array<bool, kInputCount> all{true, true, true, true};
  const std::array<bool, kInputCount> normal_only{false, true, false, false};
  EXPECT_TRUE(settings_warnings(node, all).empty());
  // A point-light knob changed while the light is parallel does nothing.
  node.set("pointLightRadius", "5");
  auto w = settings_warnings(node, all);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0].rfind("pointLightRadius=5 has no effect", 0), 0u) << w[0];
  // Made a point light: the radius applies; without P every pixel sits at the origin.
  node.set("lightType", "point");
  node.set("outputType", "light");
  w = settings_warnings(node, normal_only);
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("no P input"), std::string::npos) << w[0];
  EXPECT_TRUE(settings_warnings(node, all).empty());
  // Texture output needs the colour it multiplies.
  node.set("outputType", "texture");
  w = settings_warnings(node, {false, true, true, false});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("no colour input"), std::string::npos) << w[0];
}

}  // namespace
}  // namespace quorlen::hosting
