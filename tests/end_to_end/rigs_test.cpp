// A rig renders several lights from one read of the passes: each light's layer must be exactly what that
// light alone renders, times its mask, and the beauty exactly the layers added in the file's order, on
// passes holding NaN, infinities and negative zero. Every kind of bad rig is refused before any output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>

#include "support/HostingTestSupport.h"

namespace quorlen::hosting_test {
namespace {

constexpr int kW = 29, kH = 17;

Layer random_layer(std::vector<std::string> channels, unsigned seed, float low, float high) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(low, high);
  Layer layer{std::move(channels), {}};
  layer.pixels.resize(static_cast<std::size_t>(kW * kH) * layer.channels.size());
  for (float& v : layer.pixels) v = dist(rng);
  layer.pixels[3] = std::numeric_limits<float>::quiet_NaN();
  layer.pixels[7] = std::numeric_limits<float>::infinity();
  layer.pixels[11] = -std::numeric_limits<float>::infinity();
  layer.pixels[13] = -0.0f;
  return layer;
}

// The bits of a float, every NaN as one: IEEE leaves which NaN a product or sum of two NaNs gives to the
// hardware and the order the compiler puts the operands in, so a NaN is compared as a NaN.
std::uint32_t bits(float v) {
  if (std::isnan(v)) return 0x7fc00000u;
  std::uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

class Rigs : public ::testing::Test {
 protected:
  void SetUp() override {
    write_image(dir_ / "passes.exr", kW, kH,
                {random_layer({"R", "G", "B"}, 1, 0, 1), random_layer({"N.X", "N.Y", "N.Z"}, 2, -1, 1),
                 random_layer({"P.X", "P.Y", "P.Z"}, 3, -4, 4)});
    Layer matte = random_layer({"hero.R"}, 4, -0.25f, 1.25f);
    write_image(dir_ / "matte.exr", kW, kH, {matte});
    rig_ = {{"_surfaceSpecular", {0.3, 0.3, 0.3}},
            {"lights",
             {{{"name", "key"},
               {"knobs", {{"lightType", "point"}, {"_pointLightPos", {1, 2, -3}}, {"lightBrightness", 2}}}},
              {{"name", "fill"}, {"knobs", {{"_parallelLightDir", {-1, 0.5, -1}}, {"lightBrightness", 0.3}}}},
              {{"name", "rim"},
               {"knobs", {{"_parallelLightDir", {0, 1, 1}}}},
               {"mask", dir_ / "matte.exr:hero.R"},
               {"maskInvert", true}},
              {{"name", "off"}, {"knobs", {{"lightBrightness", 9}}}, {"mute", true}}}}};
  }

  std::string write_json(const std::string& name, const nlohmann::json& j) {
    std::ofstream(dir_ / name) << j.dump(2);
    return dir_ / name;
  }

  RunResult render(const nlohmann::json& rig, const std::string& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {
        "render", "--passes", dir_ / "passes.exr", "--settings", write_json("rig.json", rig),
        "-o",     dir_ / out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_quorlen(args, dir_);
  }

  // One light alone, as its own settings file: the shared values, then the light's knobs.
  ReadImage alone(const std::string& light) {
    nlohmann::json settings = {{"_surfaceSpecular", {0.3, 0.3, 0.3}}};
    for (const auto& l : rig_["lights"])
      if (l["name"] == light) settings.update(l["knobs"]);
    const auto r = run_quorlen({"render", "--passes", dir_ / "passes.exr", "--settings",
                                write_json(light + ".json", settings), "-o", dir_ / (light + ".exr")},
                               dir_);
    EXPECT_EQ(r.code, 0) << r.err;
    return read_image(dir_ / (light + ".exr"));
  }

  TempDir dir_;
  nlohmann::json rig_;
};

TEST_F(Rigs, LayersAreEachLightAloneTimesItsMaskAndTheBeautyTheirOrderedSum) {
  const auto r = render(rig_, "rig.exr");
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage out = read_image(dir_ / "rig.exr");
  ASSERT_EQ(out.spec.nchannels, 4 + 3 * 3) << "a muted light has no layer";
  EXPECT_LT(out.spec.channelindex("off.R"), 0);
  const ReadImage key = alone("key"), fill = alone("fill"), rim = alone("rim");
  const ReadImage matte = read_image(dir_ / "matte.exr");
  const char* rgb[3] = {"R", "G", "B"};
  int compared = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c) {
        const float k = key.at(x, y, c), f = fill.at(x, y, c);
        const float m = matte.at(x, y, 0);
        const float r_layer = rim.at(x, y, c) * (1.0f - m);
        const auto layer = [&](const char* name) {
          return out.at(x, y, out.spec.channelindex(std::string(name) + "." + rgb[c]));
        };
        ASSERT_EQ(bits(layer("key")), bits(k)) << x << "," << y;
        ASSERT_EQ(bits(layer("fill")), bits(f)) << x << "," << y;
        ASSERT_EQ(bits(layer("rim")), bits(r_layer)) << x << "," << y;
        const float beauty = (k + f) + r_layer;
        ASSERT_EQ(bits(out.at(x, y, c)), bits(beauty)) << x << "," << y << " channel " << c;
        ++compared;
      }
  EXPECT_EQ(compared, kW * kH * 3);
  // Alpha as for one light: the node's 0 (the colour here has no alpha).
  EXPECT_EQ(out.at(3, 2, 3), 0.0f);

  // Without layers the beauty alone, the same bits.
  ASSERT_EQ(render(rig_, "beauty.exr", {"--light-layers", "none"}).code, 0);
  const ReadImage beauty_only = read_image(dir_ / "beauty.exr");
  ASSERT_EQ(beauty_only.spec.nchannels, 4);
  for (std::size_t i = 0; i < beauty_only.pixels.size(); ++i)
    ASSERT_EQ(bits(beauty_only.pixels[i]), bits(out.pixels[i / 4 * 13 + i % 4])) << i;
}

TEST_F(Rigs, SoloMuteAndLightSettingsChooseWhatIsRendered) {
  // Solo the fill: it alone, and the beauty is its layer.
  ASSERT_EQ(render(rig_, "solo.exr", {"--solo", "fill"}).code, 0);
  const ReadImage solo = read_image(dir_ / "solo.exr");
  ASSERT_EQ(solo.spec.nchannels, 7);
  const ReadImage fill = alone("fill");
  for (int c = 0; c < 3; ++c) EXPECT_EQ(bits(solo.at(5, 5, c)), bits(fill.at(5, 5, c)));
  // Mute key and rim: the same picture as the solo.
  ASSERT_EQ(render(rig_, "mute.exr", {"--mute", "key", "--mute", "rim"}).code, 0);
  const ReadImage muted = read_image(dir_ / "mute.exr");
  for (int c = 0; c < 3; ++c) EXPECT_EQ(bits(muted.at(5, 5, c)), bits(solo.at(5, 5, c)));
  // --set on every light, then LIGHT.KNOB on one, applied last.
  ASSERT_EQ(render(rig_, "set.exr",
                   {"--solo", "fill", "--set", "fill.lightBrightness=0.6", "--set", "lightBrightness=5"})
                .code,
            0);
  const ReadImage twice = read_image(dir_ / "set.exr");
  int brighter = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (std::isfinite(fill.at(x, y, 0)) && fill.at(x, y, 0) > 0) {
        EXPECT_FLOAT_EQ(twice.at(x, y, 0), fill.at(x, y, 0) * 2.0f) << x << "," << y;
        ++brighter;
      }
  EXPECT_GT(brighter, 10);
  // A PNG has no layers: the beauty.
  ASSERT_EQ(render(rig_, "rig.png").code, 0);
}

TEST_F(Rigs, BadRigsAreRefusedNamingTheLightAndTheKey) {
  const auto refused = [&](nlohmann::json rig, std::vector<std::string> extra = {}) {
    const auto r = render(rig, "bad.exr", extra);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ / "bad.exr"));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    return r.err;
  };
  nlohmann::json rig = rig_;
  rig["lights"] = nlohmann::json::array();
  EXPECT_TRUE(contains(refused(rig), "\"lights\" is empty"));
  rig = rig_;
  rig["lights"][1]["name"] = "key";
  EXPECT_TRUE(contains(refused(rig), "two lights are named \"key\""));
  rig["lights"][1]["name"] = "G";
  EXPECT_TRUE(contains(refused(rig), "light name \"G\""));
  rig["lights"][1]["name"] = "2nd";
  EXPECT_TRUE(contains(refused(rig), "light name \"2nd\""));
  rig = rig_;
  rig["lights"][0]["knobs"]["lightTyp"] = "point";
  EXPECT_TRUE(
      contains(refused(rig), "light \"key\": no knob named \"lightTyp\" (did you mean \"lightType\"?)"));
  rig = rig_;
  rig["lights"][2]["maks"] = "x";
  EXPECT_TRUE(contains(refused(rig), "light \"rim\": unknown key \"maks\" (did you mean \"mask\"?)"));
  rig = rig_;
  rig["lights"][2]["mask"] = dir_ / "matte.exr:hero.Q";
  const std::string no_channel = refused(rig);
  EXPECT_TRUE(contains(no_channel, "light \"rim\"") && contains(no_channel, "no channel \"hero.Q\"") &&
              contains(no_channel, "hero.R"))
      << no_channel;
  rig["lights"][2]["mask"] = dir_ / "nowhere.exr:hero.R";
  EXPECT_TRUE(contains(refused(rig), "light \"rim\": mask: no such file"));
  rig = rig_;
  rig["lights"][1]["mute"] = "yes";
  EXPECT_TRUE(contains(refused(rig), "light \"fill\": \"mute\" is true or false"));
  EXPECT_TRUE(contains(refused(rig_, {"--solo", "kye"}), "did you mean \"key\""));
  EXPECT_TRUE(contains(refused(rig_, {"--set", "flil.lightBrightness=2"}), "no light named \"flil\""));
  // A value nested far deeper than any knob takes is refused before any light copies it.
  rig = rig_;
  std::ofstream(dir_ / "deep.json") << R"({"lights": [{"name": "a"}], "_lightColor": )"
                                    << std::string(100000, '[') << std::string(100000, ']') << "}";
  const auto deep = run_quorlen(
      {"render", "--passes", dir_ / "passes.exr", "--settings", dir_ / "deep.json", "-o", dir_ / "bad.exr"},
      dir_);
  EXPECT_EQ(deep.code, 1);
  EXPECT_TRUE(contains(deep.err, "nest deeper than 64 levels")) << deep.err;
  rig["lightSpace"] = "up";
  EXPECT_TRUE(contains(refused(rig), "lightSpace: \"up\" is not node or world"));
}

TEST_F(Rigs, TheFileCarriesHowThePassesAreReadAndTheCommandLineWins) {
  nlohmann::json world = {{"lightSpace", "World"}, {"_parallelLightDir", {0, 1, 0.5}}};
  const auto dry = run_quorlen({"render", "--passes", dir_ / "passes.exr", "--settings",
                                write_json("w.json", world), "-o", dir_ / "w.exr", "--dry-run"},
                               dir_);
  ASSERT_EQ(dry.code, 0) << dry.err;
  EXPECT_TRUE(contains(dry.out, "light   world space")) << dry.out;
  const auto over = run_quorlen({"render", "--passes", dir_ / "passes.exr", "--settings", dir_ / "w.json",
                                 "--light-space", "node", "-o", dir_ / "w.exr", "--dry-run"},
                                dir_);
  EXPECT_TRUE(contains(over.out, "light   node space")) << over.out;
  // A one-light file with the option renders as the command line saying it would.
  ASSERT_EQ(run_quorlen({"render", "--passes", dir_ / "passes.exr", "--settings", dir_ / "w.json", "-o",
                         dir_ / "file.exr"},
                        dir_)
                .code,
            0);
  std::ofstream(dir_ / "plain.json") << R"({"_parallelLightDir": [0, 1, 0.5]})";
  ASSERT_EQ(run_quorlen({"render", "--passes", dir_ / "passes.exr", "--settings", dir_ / "plain.json",
                         "--light-space", "world", "-o", dir_ / "option.exr"},
                        dir_)
                .code,
            0);
  const ReadImage a = read_image(dir_ / "file.exr"), b = read_image(dir_ / "option.exr");
  ASSERT_EQ(a.pixels.size(), b.pixels.size());
  for (std::size_t i = 0; i < a.pixels.size(); ++i) ASSERT_EQ(bits(a.pixels[i]), bits(b.pixels[i])) << i;
}

}  // namespace
}  // namespace quorlen::hosting_test
