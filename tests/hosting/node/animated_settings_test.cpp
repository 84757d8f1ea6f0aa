// Keyframed knob values in settings files: held outside the keys, met exactly at them, interpolated or
// stepped in between, and checked key by key.
#include "hosting/node/animated_settings.h"

#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/node.h>

#include <fstream>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using nlohmann::json;

class Animated : public ::testing::Test {
 protected:
  Node node{load_module(QUORLEN_TEST_PLUGIN)};

  json at(const json& settings, double frame) { return settings_at_frame(node.op(), settings, frame); }
  // The message of the usage error `settings` raises at any frame.
  std::string error_of(const json& settings) {
    try {
      at(settings, 0);
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage);
      return e.what();
    }
    ADD_FAILURE() << settings.dump() << " was accepted";
    return {};
  }
};

TEST_F(Animated, LinearHoldsOutsideTheKeysAndMeetsThemExactly) {
  const json s = {{"_pointLightPos",
                   {{"keys", {{"1001", {0.1, 1, 5}}, {"1100", {3.3, 1, 5}}}}, {"interpolation", "linear"}}},
                  {"lightBrightness", 2}};
  EXPECT_EQ(at(s, 0)["_pointLightPos"], json({0.1, 1, 5}));
  EXPECT_EQ(at(s, 1001)["_pointLightPos"], json({0.1, 1, 5}));
  EXPECT_EQ(at(s, 1100)["_pointLightPos"], json({3.3, 1, 5}));
  EXPECT_EQ(at(s, 5000)["_pointLightPos"], json({3.3, 1, 5}));
  const json middle = at(s, 1050.5)["_pointLightPos"];
  EXPECT_DOUBLE_EQ(middle[0].get<double>(), 0.1 + 3.2 * 0.5);
  EXPECT_EQ(middle[1], 1.0);
  EXPECT_EQ(at(s, 1050.5)["lightBrightness"], 2);  // plain members pass through
  // Linear is the default, and one number sets all three components.
  const json scalar = {{"_lightColor", {{"keys", {{"0", 0}, {"10", 1}}}}}};
  EXPECT_EQ(at(scalar, 2.5)["_lightColor"], json({0.25, 0.25, 0.25}));
}

TEST_F(Animated, SmoothDoesNotOvershootAndHoldsBetweenEqualKeys) {
  const json s = {
      {"lightBrightness",
       {{"keys", {{"1", 1}, {"10", 1}, {"20", 3}, {"25", 2.5}, {"30", 4}}}, {"interpolation", "smooth"}}}};
  for (double f = 1; f <= 10; f += 0.25) EXPECT_EQ(at(s, f)["lightBrightness"], 1.0) << f;
  EXPECT_DOUBLE_EQ(at(s, 15)["lightBrightness"].get<double>(), 2.0);
  // Every span stays within its two keys, including spans next to a change of direction.
  const std::pair<double, double> spans[] = {{10, 20}, {20, 25}, {25, 30}};
  for (const auto& [a, b] : spans) {
    const double ya = at(s, a)["lightBrightness"], yb = at(s, b)["lightBrightness"];
    for (double f = a; f <= b; f += 0.125) {
      const double y = at(s, f)["lightBrightness"];
      EXPECT_GE(y, std::min(ya, yb)) << f;
      EXPECT_LE(y, std::max(ya, yb)) << f;
    }
  }
  // Smooth and continuous through an inner key.
  EXPECT_NEAR(at(s, 20 - 1e-6)["lightBrightness"].get<double>(), 3.0, 1e-5);
  EXPECT_NEAR(at(s, 20 + 1e-6)["lightBrightness"].get<double>(), 3.0, 1e-5);
}

TEST_F(Animated, ChoicesSwitchesAndBitSetsStepAtEachKey) {
  const json s = {
      {"lightType", {{"keys", {{"10", "parallel"}, {"20.5", "point"}}}, {"interpolation", "smooth"}}},
      {"surfaceNoise", {{"keys", {{"0", false}, {"5", true}}}}},
      {"stripesNoiseDir", {{"keys", {{"0", "x"}, {"5", "x|z"}}}}}};
  EXPECT_EQ(at(s, 0)["lightType"], "parallel");
  EXPECT_EQ(at(s, 20.49)["lightType"], "parallel");
  EXPECT_EQ(at(s, 20.5)["lightType"], "point");
  EXPECT_EQ(at(s, 4.99)["surfaceNoise"], false);
  EXPECT_EQ(at(s, 5)["surfaceNoise"], true);
  EXPECT_EQ(at(s, 7)["stripesNoiseDir"], "x|z");
  // Checking each key's value leaves the knob as it was.
  EXPECT_EQ(node.value_text("lightType"), "parallel");
}

TEST_F(Animated, MalformedKeysNameTheKnobAndTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"lightBrightness": {"keys": {"ten": 1}}})",
       "knob \"lightBrightness\": key \"ten\" is not a frame number"},
      {R"({"lightBrightness": {"keys": {"1e999": 1}}})", "key \"1e999\" is not a frame number"},
      {R"({"lightBrightness": {"keys": {"1": "bright"}}})",
       "knob \"lightBrightness\": key \"1\": \"bright\" is not a number"},
      {R"({"_pointLightPos": {"keys": {"1": [1, 2]}}})",
       "key \"1\": [1,2] is not a number or an array of 3 numbers"},
      {R"({"lightType": {"keys": {"3": "sideways"}}})", "\"sideways\" is not one of parallel, point"},
      {R"({"lightType": {"keys": {"3": 0, "3.0": 1}}})", "keys \"3\" and \"3.0\" are the same frame"},
      {R"({"lightType": {"keys": {}}})", "knob \"lightType\": \"keys\" must be an object"},
      {R"({"lightType": {"keys": [1, 2]}})", "knob \"lightType\": \"keys\" must be an object"},
      {R"({"lightType": {"keys": {"1": 0}, "interpolation": "cubic"}})", "interpolation \"cubic\" is not"},
      {R"({"lightType": {"keys": {"1": 0}, "ease": 1}})", "\"ease\" is not a member of animated values"},
      {R"({"lightTyp": {"keys": {"1": 0}}})", "no knob named \"lightTyp\" (did you mean \"lightType\"?)"},
  };
  for (const auto& [text, message] : cases) {
    const std::string what = error_of(json::parse(text));
    EXPECT_NE(what.find(message), std::string::npos) << text << "\n  got " << what;
  }
}

TEST_F(Animated, AFileAppliesAtTheSettingsFrameAndSetStillOverrides) {
  quorlen::hosting_test::TempDir dir;
  const std::string file = dir / "light.json";
  std::ofstream(file) << R"({"lightBrightness": {"keys": {"0": 0, "10": 4}}, "lightType": "point"})";
  NodeSettings settings;
  settings.settings_file = file;
  settings.frame = 2.5;
  node.apply(settings);
  EXPECT_EQ(node.value_text("lightBrightness"), "1");
  EXPECT_EQ(node.value_text("lightType"), "point");
  settings.sets.push_back({"lightBrightness", "0.5"});
  settings.frame = 7.5;
  node.apply(settings);
  EXPECT_EQ(node.value_text("lightBrightness"), "0.5");
}

}  // namespace
