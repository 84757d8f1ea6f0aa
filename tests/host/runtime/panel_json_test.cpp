// The panel as JSON, and knob settings from JSON.
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"
#include "plugin/Quorlen.h"
#include "support/Module.h"
#include "support/ParameterBits.h"

namespace {

using namespace DD::Image;
using nlohmann::json;

quorlen::Parameters& params(NodeInstance& node) {
  return static_cast<quorlen::Quorlen&>(node.op()).parameters();
}

TEST(DescribePanel, NamesTheClassMenuHelpAndInputs) {
  auto node = quorlen::test::make_node();
  const json d = describe_panel(node->op());
  EXPECT_EQ(d.at("class"), "Quorlen");
  EXPECT_EQ(d.at("menu"), "Quorlen");
  EXPECT_EQ(d.at("help"), "//");
  EXPECT_EQ(d.at("inputs"), json({"color", "normal", "P", "noiseP"}));
}

TEST(DescribePanel, DescribesEveryDeclarationInOrder) {
  auto node = quorlen::test::make_node();
  const json knobs = describe_panel(node->op()).at("knobs");
  ASSERT_EQ(knobs.size(), 22u);
  const std::vector<std::string> kinds = {
      "text",        "text",    "enumeration", "xyz",   "xyz",         "float",      "float",   "color",
      "float",       "color",   "divider",     "color", "color",       "float",      "divider", "checkbox",
      "enumeration", "bitmask", "float",       "float", "float_array", "enumeration"};
  const std::vector<int> kind_codes = {26, 26, 4, 13, 13, 8, 8, 18, 8, 18, 26,
                                       18, 18, 8, 26, 6,  4, 5, 8,  8, 8,  4};
  const std::vector<int> store_codes = {19, 19, 3, 1, 1, 1, 1, 1, 1, 1, 19, 1, 1, 1, 19, 5, 3, 4, 1, 1, 1, 3};
  for (std::size_t i = 0; i < knobs.size(); ++i) {
    SCOPED_TRACE("declaration " + std::to_string(i + 1));
    const json& k = knobs[i];
    EXPECT_EQ(k.at("index"), i + 1);
    EXPECT_EQ(k.at("kind"), kinds[i]);
    EXPECT_EQ(k.at("kind_code"), kind_codes[i]);
    EXPECT_EQ(k.at("store_code"), store_codes[i]);
    EXPECT_TRUE(k.at("available").is_boolean());
    EXPECT_TRUE(k.at("flags").is_number_unsigned());
  }
  // Text lines: text, no name, no label, no value. Dividers: "" label, no text.
  for (int i : {0, 1}) {
    EXPECT_TRUE(knobs[i].at("name").is_null());
    EXPECT_TRUE(knobs[i].at("label").is_null());
    EXPECT_TRUE(knobs[i].at("text").is_string());
    EXPECT_TRUE(knobs[i].at("value").is_null());
    EXPECT_EQ(knobs[i].at("flags"), 0x1000);
  }
  EXPECT_EQ(knobs[0].at("text"), "<b>Quorlen</b>");
  for (int i : {10, 14}) {
    EXPECT_TRUE(knobs[i].at("name").is_null());
    EXPECT_EQ(knobs[i].at("label"), "");
    EXPECT_TRUE(knobs[i].at("text").is_null());
    EXPECT_TRUE(knobs[i].at("value").is_null());
  }
  EXPECT_EQ(knobs[2].at("name"), "lightType");
  EXPECT_EQ(knobs[2].at("label"), "light type");
  EXPECT_EQ(knobs[2].at("entries"), json({"parallel", "point"}));
  EXPECT_EQ(knobs[17].at("entries"), json({"x", "y", "z"}));
  EXPECT_TRUE(knobs[3].at("entries").is_null());
  EXPECT_EQ(knobs[5].at("range"), json({0, 500}));
  EXPECT_EQ(knobs[13].at("range"), json({1, 30}));
  EXPECT_EQ(knobs[13].at("flags"), 0x4);
  EXPECT_EQ(knobs[15].at("flags"), 0x1000);
  EXPECT_TRUE(knobs[20].at("range").is_null());
  EXPECT_EQ(knobs[20].at("flags"), 0);
  // Values: enumerations and bitmasks as integers, checkboxes as bools, vectors as three numbers.
  EXPECT_EQ(knobs[2].at("value"), 0);
  EXPECT_EQ(knobs[3].at("value"), json({1, 1, 1}));
  EXPECT_EQ(knobs[5].at("value"), 100);
  EXPECT_EQ(knobs[15].at("value"), false);
  EXPECT_EQ(knobs[17].at("value"), 0);
  EXPECT_EQ(knobs[20].at("value"), json({0, 0, 0}));
}

TEST(DescribePanel, ShowsCurrentValuesAndAvailability) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  std::string error;
  ASSERT_TRUE(apply_settings_json(op,
                                  json{{"lightType", "point"},
                                       {"stripesNoiseDir", "x|z"},
                                       {"lightBrightness", 0.1},
                                       {"pointLightFalloff", "nan"},
                                       {"_lightColor", {"inf", 0.5, "-inf"}}},
                                  error))
      << error;
  open_panel(op);
  const json knobs = describe_panel(op).at("knobs");
  EXPECT_EQ(knobs[2].at("value"), 1);
  EXPECT_EQ(knobs[17].at("value"), 5);
  EXPECT_EQ(knobs[8].at("value").dump(), "0.1");  // the float's shortest form, not its double expansion
  EXPECT_EQ(knobs[6].at("value"), "nan");
  EXPECT_EQ(knobs[7].at("value"), json({"inf", 0.5, "-inf"}));
  EXPECT_EQ(knobs[3].at("available"), false);
  EXPECT_EQ(knobs[4].at("available"), true);
  EXPECT_EQ(knobs[16].at("available"), false);
}

TEST(DescribePanel, ValuesReadBackThroughTheSettingsToTheSameBits) {
  auto node = quorlen::test::make_node();
  auto& p = params(*node);
  p._parallelLightDir = {-0.0f, 1e-45f, 3.4028235e38f};
  p._pointLightPos = {0.1f, -1.0f / 3.0f, 16777216.0f};
  p.pointLightRadius = std::nanf("");
  p.lightBrightness = 0.3f;
  p._surfaceSpecular = {0.7f, 1e-7f, 9.87654e-30f};
  p.stripesNoiseDir = 6;
  p.surfaceNoise = true;
  json settings = json::object();
  const json description = describe_panel(node->op());
  for (const json& k : description.at("knobs"))
    if (!k.at("name").is_null()) settings[k.at("name").get<std::string>()] = k.at("value");
  // Through text, as a host program would save and load it.
  settings = json::parse(settings.dump());

  auto copy = quorlen::test::make_node();
  std::string error;
  ASSERT_TRUE(apply_settings_json(copy->op(), settings, error)) << error;
  params(*copy).formatWidth = p.formatWidth;
  EXPECT_EQ(quorlen::test::parameter_bits(params(*copy)), quorlen::test::parameter_bits(p));
}

struct JsonAccepted {
  const char* knob;
  const char* value;  ///< JSON text
  const char* reads_back;
};

void PrintTo(const JsonAccepted& c, std::ostream* os) { *os << c.knob << " = " << c.value; }

class SetKnobJsonAccepts : public ::testing::TestWithParam<JsonAccepted> {};

TEST_P(SetKnobJsonAccepts, StoresTheValue) {
  const JsonAccepted c = GetParam();
  auto node = quorlen::test::make_node();
  std::string error;
  ASSERT_TRUE(set_knob_json(node->op(), c.knob, json::parse(c.value), error)) << error;
  EXPECT_EQ(knob_value_text(*node->op().knob(c.knob)), c.reads_back);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SetKnobJsonAccepts,
    ::testing::Values(
        JsonAccepted{"lightBrightness", "0.5", "0.5"}, JsonAccepted{"lightBrightness", "-2", "-2"},
        JsonAccepted{"lightBrightness", "\"inf\"", "inf"}, JsonAccepted{"lightBrightness", "1e-45", "1e-45"},
        // Just below the midpoint between the largest float and 2^128: the largest float.
        JsonAccepted{"lightBrightness", "3.4028235677973362e38", "3.4028235e+38"},
        JsonAccepted{"_lightColor", "[1, 0.5, 0.25]", "1,0.5,0.25"},
        JsonAccepted{"_lightColor", "2", "2,2,2"}, JsonAccepted{"_lightColor", "\"1,2,3\"", "1,2,3"},
        JsonAccepted{"noiseOffset", "[\"nan\", 0, -1]", "nan,0,-1"}, JsonAccepted{"lightType", "1", "point"},
        JsonAccepted{"lightType", "1.0", "point"}, JsonAccepted{"lightType", "\"point\"", "point"},
        JsonAccepted{"stripesNoiseDir", "5", "x|z"}, JsonAccepted{"stripesNoiseDir", "\"y+z\"", "y|z"},
        JsonAccepted{"surfaceNoise", "true", "on"}, JsonAccepted{"surfaceNoise", "1", "on"},
        JsonAccepted{"surfaceNoise", "\"off\"", "off"}));

struct JsonRejected {
  const char* knob;
  const char* value;    ///< JSON text
  const char* message;  ///< what follows `knob "<knob>": `, the value shown as JSON
};

void PrintTo(const JsonRejected& c, std::ostream* os) { *os << c.knob << " = " << c.value; }

class SetKnobJsonRejects : public ::testing::TestWithParam<JsonRejected> {};

TEST_P(SetKnobJsonRejects, LeavesTheNodeAsItWas) {
  const JsonRejected c = GetParam();
  auto node = quorlen::test::make_node();
  const auto before = quorlen::test::parameter_bits(params(*node));
  std::string error;
  EXPECT_FALSE(set_knob_json(node->op(), c.knob, json::parse(c.value), error));
  EXPECT_EQ(error, "knob \"" + std::string(c.knob) + "\": " + c.message);
  EXPECT_EQ(quorlen::test::parameter_bits(params(*node)), before);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SetKnobJsonRejects,
    ::testing::Values(
        JsonRejected{"lightBrightness", "true", "true is not a number (such as 0.5, -2, 1e3, inf or nan)"},
        JsonRejected{"lightBrightness", "null", "null is not a number (such as 0.5, -2, 1e3, inf or nan)"},
        JsonRejected{"lightBrightness", "[1,2,3]",
                     "[1,2,3] is not a number (such as 0.5, -2, 1e3, inf or nan)"},
        JsonRejected{
            "lightBrightness", "1e300",
            "1e+300 is outside the range of a 32-bit float (expected a number (such as 0.5, -2, 1e3, inf "
            "or nan))"},
        JsonRejected{
            "lightBrightness", "3.4028235677973366e38",
            "3.4028235677973366e+38 is outside the range of a 32-bit float (expected a number (such as "
            "0.5, -2, 1e3, inf or nan))"},
        JsonRejected{"_lightColor", "[1,2]",
                     "[1,2] is not one number or three separated by commas (such as 1 or 1,0.5,0.25)"},
        JsonRejected{"_lightColor", "[1,2,true]",
                     "[1,2,true] is not one number or three separated by commas (such as 1 or 1,0.5,0.25)"},
        JsonRejected{"_lightColor", "{\"r\":1}",
                     "{\"r\":1} is not one number or three separated by commas (such as 1 or 1,0.5,0.25)"},
        JsonRejected{"lightType", "1.5", "1.5 is not one of parallel, point (or an index 0-1)"},
        JsonRejected{"lightType", "2", "2 is not one of parallel, point (or an index 0-1)"},
        JsonRejected{"lightType", "true", "true is not one of parallel, point (or an index 0-1)"},
        JsonRejected{
            "stripesNoiseDir", "8",
            "8 is not a combination of x, y, z joined by | or + (or a number made of bits 1, 2, 4, 0 for "
            "none)"},
        JsonRejected{
            "stripesNoiseDir", "[1,2]",
            "[1,2] is not a combination of x, y, z joined by | or + (or a number made of bits 1, 2, 4, 0 "
            "for none)"},
        JsonRejected{"surfaceNoise", "2", "2 is not one of on, off, true, false, 1, 0"},
        JsonRejected{"surfaceNoise", "\"maybe\"", "\"maybe\" is not one of on, off, true, false, 1, 0"}));

TEST(SetKnobJson, AnUnknownNameIsReportedWithAHint) {
  auto node = quorlen::test::make_node();
  std::string error;
  EXPECT_FALSE(set_knob_json(node->op(), "LightType", 1, error));
  EXPECT_EQ(error, "no knob named \"LightType\" (did you mean \"lightType\"?)");
  EXPECT_EQ(params(*node).lightType, 0);
}

TEST(ApplySettingsJson, ABadMemberLeavesEveryKnobAsItWas) {
  auto node = quorlen::test::make_node();
  const auto before = quorlen::test::parameter_bits(params(*node));
  std::string error;
  // Members are visited in key order: the good ones come before and after the bad one.
  EXPECT_FALSE(apply_settings_json(
      node->op(), json{{"_lightColor", {0.5, 0.5, 0.5}}, {"lightType", "sideways"}, {"surfaceNoise", true}},
      error));
  EXPECT_EQ(error, "knob \"lightType\": \"sideways\" is not one of parallel, point (or an index 0-1)");
  EXPECT_EQ(quorlen::test::parameter_bits(params(*node)), before);

  EXPECT_FALSE(apply_settings_json(node->op(), json{{"lightBrightness", 2}, {"nope", 1}}, error));
  EXPECT_EQ(error, "no knob named \"nope\"");
  EXPECT_EQ(quorlen::test::parameter_bits(params(*node)), before);
}

TEST(ApplySettingsJson, OnlyAnObjectIsSettings) {
  auto node = quorlen::test::make_node();
  std::string error;
  EXPECT_FALSE(apply_settings_json(node->op(), json::array({1, 2}), error));
  EXPECT_EQ(error, "settings must be a JSON object of knob names and values, not array");
  EXPECT_TRUE(apply_settings_json(node->op(), json::object(), error));
}

TEST(ApplySettingsJson, EachSettingRunsTheVisibilityRules) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  open_panel(op);
  std::string error;
  ASSERT_TRUE(apply_settings_json(op, json{{"surfaceNoise", true}, {"surfaceNoiseType", 1}}, error)) << error;
  EXPECT_TRUE(op.knob("noiseMultiply")->available());
  EXPECT_FALSE(op.knob("stripesNoiseDir")->available());
  EXPECT_EQ(params(*node).surfaceNoiseType, 1);
}

}  // namespace
