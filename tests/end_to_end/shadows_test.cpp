// Shadows, spots and normals through `quorlen render`: the shadow pass measured against the demo's own ray
// tracer, the same bits whatever the thread count, the light placed consistently in either light space,
// camera-space and flipped normals, and every refusal in one line before any output exists.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "demo/demo_scene.h"
#include "geometry/shadow_agreement.h"
#include "support/HostingTestSupport.h"

namespace quorlen::hosting_test {
namespace {

constexpr int kW = 480, kH = 270;

class Shadows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scene_ = new demo::DemoPasses(demo::build_demo_scene(kW, kH)); }
  static void TearDownTestSuite() { delete scene_; }

  void SetUp() override { write_passes(*scene_, "passes.exr"); }

  std::string write_passes(const demo::DemoPasses& p, const std::string& name) {
    std::vector<float> rgb, n, pos;
    write_image(dir_ / name, kW, kH,
                {Layer{{"R", "G", "B"}, p.color}, Layer{{"N.X", "N.Y", "N.Z"}, p.normal},
                 Layer{{"P.X", "P.Y", "P.Z"}, p.position}});
    return dir_ / name;
  }

  std::string write_json(const std::string& name, const nlohmann::json& j) {
    std::ofstream(dir_ / name) << j.dump(2);
    return dir_ / name;
  }

  RunResult render(const nlohmann::json& rig, const std::string& out, std::vector<std::string> extra = {},
                   const std::string& passes = "passes.exr") {
    std::vector<std::string> args = {
        "render", "--passes", dir_ / passes, "--settings", write_json("rig.json", rig), "-o", dir_ / out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_quorlen(args, dir_);
  }

  // A rig of the light twice, once with `shadow`: the ratio of their layers is the shadow pass.
  static nlohmann::json pair(const nlohmann::json& knobs, const nlohmann::json& shadow) {
    nlohmann::json all = knobs;
    all["outputType"] = "light";
    return {{"lightSpace", "world"},
            {"lights",
             {{{"name", "lit"}, {"knobs", all}, {"shadow", shadow}}, {{"name", "plain"}, {"knobs", all}}}}};
  }

  std::vector<float> shadow_pass(const ReadImage& out) {
    std::vector<float> v(static_cast<std::size_t>(kW) * kH, 1.0f);
    const int lit = out.channel("lit.G"), plain = out.channel("plain.G");
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        const float p = out.at(x, y, plain);
        if (p > 0.0f) v[static_cast<std::size_t>(y) * kW + x] = out.at(x, y, lit) / p;
      }
    return v;
  }

  // Surface pixels the light reaches at all: where a shadow can show.
  std::vector<char> facing(const std::array<double, 3>& light, bool parallel) const {
    std::vector<char> out(static_cast<std::size_t>(kW) * kH, 0);
    for (std::size_t k = 0; k < out.size(); ++k) {
      double d = 0, p2 = 0;
      for (std::size_t c = 0; c < 3; ++c) {
        const double p = scene_->position[k * 3 + c];
        d += scene_->normal[k * 3 + c] * (parallel ? light[c] : light[c] - p);
        p2 += p * p;
      }
      out[k] = p2 > 0 && d > 0;
    }
    return out;
  }

  static demo::DemoPasses* scene_;
  TempDir dir_;
};

demo::DemoPasses* Shadows::scene_ = nullptr;

TEST_F(Shadows, TheShadowPassAgreesWithRayTracing) {
  struct Case {
    const char* what;
    std::array<double, 3> light;
    bool parallel;
  };
  for (const Case& c : {Case{"point light front right", {2.5, 4.5, 4.0}, false},
                        Case{"point light low left", {-4.0, 2.5, 5.0}, false},
                        Case{"point light behind", {0.5, 5.0, 11.0}, false},
                        Case{"parallel light", {-0.6, 1.0, -0.4}, true}}) {
    const nlohmann::json knobs =
        c.parallel
            ? nlohmann::json{{"_parallelLightDir", c.light}}
            : nlohmann::json{{"lightType", "point"}, {"_pointLightPos", c.light}, {"pointLightRadius", 50}};
    const auto r = render(pair(knobs, true), "pair.exr");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto found = shadow_pass(read_image(dir_ / "pair.exr"));
    const auto truth = demo::demo_shadow_truth(*scene_, c.light, c.parallel);
    const auto a = geometry::testing::agreement(truth, found, kW, kH, facing(c.light, c.parallel));
    std::printf(
        "%s: ray-traced shadowed pixels found shadowed %lld of %lld (%.4f), lit left lit %lld of %lld "
        "(%.4f)\n",
        c.what, a.shadowed_found, a.shadowed, a.shadowed_share(), a.lit_kept, a.lit, a.lit_share());
    EXPECT_GT(a.shadowed, 1000) << c.what;
    EXPECT_GE(a.shadowed_share(), 0.95) << c.what;
    EXPECT_GE(a.lit_share(), 0.98) << c.what;
  }
}

TEST_F(Shadows, TheSameBitsWhateverTheThreadsAndTheLightSpace) {
  const nlohmann::json knobs = {
      {"lightType", "point"}, {"_pointLightPos", {2.5, 4.5, 4.0}}, {"pointLightRadius", 50}};
  const nlohmann::json soft = {{"size", 0.5}, {"samples", 8}};
  ASSERT_EQ(render(pair(knobs, soft), "one.exr", {"--threads", "1"}).code, 0);
  ASSERT_EQ(render(pair(knobs, soft), "two.exr", {"--threads", "2"}).code, 0);
  const ReadImage one = read_image(dir_ / "one.exr"), two = read_image(dir_ / "two.exr");
  ASSERT_EQ(one.pixels.size(), two.pixels.size());
  EXPECT_EQ(std::memcmp(one.pixels.data(), two.pixels.data(), one.pixels.size() * sizeof(float)), 0);

  // The node's own convention with normals whose z runs against P's lights the same, and the shadows fall
  // the same way: the knobs place the light in P's space in both.
  demo::DemoPasses mirrored = *scene_;
  for (std::size_t k = 2; k < mirrored.normal.size(); k += 3) mirrored.normal[k] = -mirrored.normal[k] + 0.0f;
  write_passes(mirrored, "mirrored.exr");
  nlohmann::json node_space = pair(knobs, soft);
  node_space["lightSpace"] = "node";
  ASSERT_EQ(render(node_space, "node.exr", {}, "mirrored.exr").code, 0);
  const ReadImage node = read_image(dir_ / "node.exr");
  EXPECT_EQ(std::memcmp(one.pixels.data(), node.pixels.data(), one.pixels.size() * sizeof(float)), 0);
}

TEST_F(Shadows, SpotConesLimitThePointLight) {
  nlohmann::json rig = {
      {"lightSpace", "world"},
      {"lights",
       {{{"name", "spot"},
         {"knobs", {{"lightType", "point"}, {"_pointLightPos", {0, 5, 6}}, {"outputType", "light"}}},
         {"spot", {{"direction", {0, -1, 0}}, {"angle", 20}, {"penumbra", 5}}}},
        {{"name", "open"},
         {"knobs", {{"lightType", "point"}, {"_pointLightPos", {0, 5, 6}}, {"outputType", "light"}}}}}}};
  const auto r = render(rig, "spot.exr");
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage out = read_image(dir_ / "spot.exr");
  const int s = out.channel("spot.G"), o = out.channel("open.G");
  int inside = 0, outside = 0, between = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const std::size_t k = static_cast<std::size_t>(y) * kW + x;
      const double px = scene_->position[k * 3], py = scene_->position[k * 3 + 1],
                   pz = scene_->position[k * 3 + 2];
      if (out.at(x, y, o) <= 0.0f) continue;
      const double angle = std::atan2(std::hypot(px, pz - 6), 5 - py) * 180 / 3.14159265358979;
      const float ratio = out.at(x, y, s) / out.at(x, y, o);
      if (angle < 14.9) {
        EXPECT_EQ(ratio, 1.0f) << x << "," << y;
        ++inside;
      } else if (angle > 20.1) {
        EXPECT_EQ(ratio, 0.0f) << x << "," << y;
        ++outside;
      } else if (angle > 15.5 && angle < 19.5) {
        EXPECT_GT(ratio, 0.0f);
        EXPECT_LT(ratio, 1.0f);
        ++between;
      }
    }
  EXPECT_GT(inside, 100);
  EXPECT_GT(outside, 1000);
  EXPECT_GT(between, 50);
}

TEST_F(Shadows, CameraSpaceAndFlippedNormalsReachTheNodeAsWorldOnes) {
  const nlohmann::json settings = {{"_parallelLightDir", {-0.5, 1, -0.7}}, {"lightSpace", "world"}};
  ASSERT_EQ(render(settings, "world.exr").code, 0);
  const ReadImage world = read_image(dir_ / "world.exr");
  // The demo camera's axes: at the origin's height 1.7, looking at (0, 0.75, 6.8).
  const std::array<double, 3> f0{0.0, 0.75 - 1.7, 6.8};
  const double fl = std::hypot(f0[0], f0[1], f0[2]);
  const std::array<double, 3> f{f0[0] / fl, f0[1] / fl, f0[2] / fl};
  const double rl = std::hypot(f[2], f[0]);
  const std::array<double, 3> right{f[2] / rl, 0, -f[0] / rl};
  const std::array<double, 3> up{f[1] * right[2] - f[2] * right[1], f[2] * right[0] - f[0] * right[2],
                                 f[0] * right[1] - f[1] * right[0]};
  demo::DemoPasses camera = *scene_;
  for (std::size_t k = 0; k < camera.normal.size(); k += 3) {
    const double n[3] = {scene_->normal[k], scene_->normal[k + 1], scene_->normal[k + 2]};
    // Written with y down and z towards the viewer, as some renderers do.
    camera.normal[k] = static_cast<float>(n[0] * right[0] + n[1] * right[1] + n[2] * right[2]);
    camera.normal[k + 1] = -static_cast<float>(n[0] * up[0] + n[1] * up[1] + n[2] * up[2]);
    camera.normal[k + 2] = -static_cast<float>(n[0] * f[0] + n[1] * f[1] + n[2] * f[2]);
  }
  write_passes(camera, "camera.exr");
  const auto r =
      render(settings, "from_camera.exr", {"--normal-space", "camera", "--normal-flip", "y,z"}, "camera.exr");
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage turned = read_image(dir_ / "from_camera.exr");
  double worst = 0;
  for (std::size_t i = 0; i < world.pixels.size(); ++i)
    worst = std::max(worst, double(std::abs(world.pixels[i] - turned.pixels[i])));
  EXPECT_LT(worst, 2e-4);

  // The file records them too, and the dry run shows them.
  nlohmann::json recorded = settings;
  recorded["normalSpace"] = "camera";
  recorded["normalFlip"] = "Z,y";
  const auto dry = render(recorded, "dry.exr", {"--dry-run"}, "camera.exr");
  ASSERT_EQ(dry.code, 0) << dry.err;
  EXPECT_TRUE(contains(dry.out, "normals camera space; flip y,z")) << dry.out;
  EXPECT_TRUE(contains(dry.out, "camera  pinhole fitted to P")) << dry.out;

  // A flip alone needs no camera: y negated twice is the world render's bits.
  demo::DemoPasses down = *scene_;
  for (std::size_t k = 1; k < down.normal.size(); k += 3) down.normal[k] = -down.normal[k];
  write_passes(down, "down.exr");
  ASSERT_EQ(render(settings, "flipped.exr", {"--normal-flip", "y"}, "down.exr").code, 0);
  const ReadImage flipped = read_image(dir_ / "flipped.exr");
  EXPECT_EQ(std::memcmp(world.pixels.data(), flipped.pixels.data(), world.pixels.size() * sizeof(float)), 0);
}

TEST_F(Shadows, HeaderMatricesAreUsedWhenTheyAgreeWithP) {
  // The demo camera as a renderer records it: world to camera and world to NDC, points as rows.
  const double fov = 0.95, hw = std::tan(fov / 2), hh = hw * kH / kW;
  const std::array<double, 3> eye{0, 1.7, 0};
  const std::array<double, 3> f0{0.0, 0.75 - 1.7, 6.8};
  const double fl = std::hypot(f0[0], f0[1], f0[2]);
  const std::array<double, 3> f{f0[0] / fl, f0[1] / fl, f0[2] / fl};
  const std::array<double, 3> right{1, 0, 0};
  const std::array<double, 3> up{f[1] * right[2] - f[2] * right[1], f[2] * right[0] - f[0] * right[2],
                                 f[0] * right[1] - f[1] * right[0]};
  const auto dot = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  };
  float to_camera[16] = {}, to_ndc[16] = {};
  const double screen[4][4] = {{0.5 / hw, 0, 0, 0}, {0, -0.5 / hh, 0, 0}, {0.5, 0.5, 0, 1}, {0, 0, 0, 0}};
  double cam[4][4] = {};
  for (int k = 0; k < 3; ++k) {
    cam[k][0] = right[static_cast<std::size_t>(k)];
    cam[k][1] = up[static_cast<std::size_t>(k)];
    cam[k][2] = f[static_cast<std::size_t>(k)];
  }
  cam[3][0] = -dot(right, eye);
  cam[3][1] = -dot(up, eye);
  cam[3][2] = -dot(f, eye);
  cam[3][3] = 1;
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b) {
      to_camera[a * 4 + b] = static_cast<float>(cam[a][b]);
      double v = 0;
      for (int k = 0; k < 4; ++k) v += cam[a][k] * screen[k][b];
      to_ndc[a * 4 + b] = static_cast<float>(v);
    }
  const auto write_with = [&](const std::string& name, const float* ndc) {
    OIIO::ImageSpec layout(kW, kH, 9, OIIO::TypeFloat);
    layout.channelnames = {"R", "G", "B", "N.X", "N.Y", "N.Z", "P.X", "P.Y", "P.Z"};
    layout.attribute("worldToCamera", OIIO::TypeMatrix44, to_camera);
    layout.attribute("worldToNDC", OIIO::TypeMatrix44, ndc);
    std::vector<float> data(static_cast<std::size_t>(kW) * kH * 9);
    for (std::size_t i = 0; i < data.size() / 9; ++i)
      for (std::size_t c = 0; c < 3; ++c) {
        data[i * 9 + c] = scene_->color[i * 3 + c];
        data[i * 9 + 3 + c] = scene_->normal[i * 3 + c];
        data[i * 9 + 6 + c] = scene_->position[i * 3 + c];
      }
    auto out = OIIO::ImageOutput::create(dir_ / name);
    ASSERT_TRUE(out && out->open(dir_ / name, layout));
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, data.data()));
    out->close();
  };
  write_with("header.exr", to_ndc);
  auto r = render({{"lightSpace", "world"}}, "h.exr", {"--dry-run"}, "header.exr");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "camera  pinhole from the header of")) << r.out;
  EXPECT_TRUE(contains(r.out, "(worldToNDC, worldToCamera)")) << r.out;

  // Matrices of another shot (shifted a tenth of the picture) are set aside for a fit.
  float shifted[16];
  std::copy(to_ndc, to_ndc + 16, shifted);
  for (int row = 0; row < 4; ++row) shifted[row * 4] += 0.1f * shifted[row * 4 + 3];
  write_with("shifted.exr", shifted);
  r = render({{"lightSpace", "world"}}, "h.exr", {"--dry-run"}, "shifted.exr");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "camera  pinhole fitted to P (the header's worldToNDC is 48 px from P"))
      << r.out;
}

TEST_F(Shadows, RefusalsAreOneLineAndLeaveNoOutput) {
  const nlohmann::json knobs = {{"lightType", "point"}, {"_pointLightPos", {2.5, 4.5, 4.0}}};
  const auto refused = [&](const nlohmann::json& rig, const std::string& passes,
                           std::vector<std::string> extra, const std::string& expected) {
    const auto r = render(rig, "refused.exr", extra, passes);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(contains(r.err, expected)) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "refused.exr"));
  };
  const auto light = [&](const nlohmann::json& extra) {
    nlohmann::json l = {{"name", "key"}, {"knobs", knobs}};
    if (extra.is_object()) l.update(extra);
    return nlohmann::json{{"lights", {l}}};
  };
  // P no camera made.
  demo::DemoPasses random = *scene_;
  std::mt19937 generator(3);
  std::uniform_real_distribution<float> any(-5, 5);
  for (float& v : random.position) v = any(generator);
  write_passes(random, "random.exr");
  refused(light({{"shadow", true}}), "random.exr", {}, "light \"key\": shadow: no camera fits P:");
  refused(light({{"shadow", true}}), "random.exr", {}, "px over");
  refused(light({}), "random.exr", {"--normal-space", "camera"}, "--normal-space camera: no camera fits P");
  // Bad options name the light and the key.
  refused(light({{"shadow", {{"sise", 1}}}}), "passes.exr", {},
          "light \"key\": shadow: unknown key \"sise\" (did you mean \"size\"?)");
  refused(light({{"shadow", {{"thickness", -1}}}}), "passes.exr", {},
          "light \"key\": shadow: \"thickness\" is");
  refused(light({{"shadow", "yes"}}), "passes.exr", {}, "light \"key\": shadow is true, false or an object");
  refused(light({{"spot", {{"angle", 20}}}}), "passes.exr", {},
          "light \"key\": spot: \"direction\" is missing");
  refused(light({{"spot", {{"direction", {0, 0, 0}}, {"angle", 20}}}}), "passes.exr", {}, "not all 0");
  refused(light({{"spot", {{"direction", {0, -1, 0}}, {"angle", 20}, {"penumbra", 30}}}}), "passes.exr", {},
          "\"penumbra\" is degrees from 0 up to the angle");
  nlohmann::json parallel = light({{"spot", {{"direction", {0, -1, 0}}, {"angle", 20}}}});
  parallel["lights"][0]["knobs"]["lightType"] = "parallel";
  refused(parallel, "passes.exr", {}, "light \"key\": \"spot\" needs a point light");
  nlohmann::json flip = light({});
  flip["normalFlip"] = "x,w";
  refused(flip, "passes.exr", {}, "normalFlip: \"w\" is not x or y or z");
  refused(light({}), "passes.exr", {"--normal-flip", "x,yy"},
          "\"yy\" is not x or y or z (did you mean \"y\"?)");
  refused(light({}), "passes.exr", {"--normal-space", "camra"}, "camera");
  // The whole frame's P and depths are counted before anything is read.
  refused(light({{"shadow", true}}), "passes.exr", {"--max-memory", "4"},
          "shadows and spots hold the whole frame's P");
}

}  // namespace
}  // namespace quorlen::hosting_test
