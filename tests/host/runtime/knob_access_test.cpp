// Setting the operator's knobs from text: every accepted form, every error, and reading values back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "DDImageHost/KnobAccess.h"
#include "plugin/Quorlen.h"
#include "support/Module.h"
#include "support/ParameterBits.h"

namespace {

using namespace DD::Image;

quorlen::Parameters& params(NodeInstance& node) {
  return static_cast<quorlen::Quorlen&>(node.op()).parameters();
}

using Snapshot = std::vector<std::uint32_t>;
const auto snapshot = quorlen::test::parameter_bits;

std::string text_of(Op& op, const char* name) { return knob_value_text(*op.knob(name)); }

struct Accepted {
  const char* knob;
  const char* text;
  const char* reads_back;  ///< knob_value_text afterwards
};

void PrintTo(const Accepted& c, std::ostream* os) { *os << c.knob << " = " << c.text; }

class SetKnobAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(SetKnobAccepts, StoresTheValue) {
  const Accepted c = GetParam();
  auto node = quorlen::test::make_node();
  std::string error;
  ASSERT_TRUE(set_knob(node->op(), c.knob, c.text, error)) << error;
  EXPECT_EQ(text_of(node->op(), c.knob), c.reads_back);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SetKnobAccepts,
    ::testing::Values(
        // One float; values outside the slider range are accepted.
        Accepted{"lightBrightness", "0.5", "0.5"}, Accepted{"lightBrightness", "  2.5\t", "2.5"},
        Accepted{"lightBrightness", "+3", "3"}, Accepted{"lightBrightness", "-1e3", "-1000"},
        Accepted{"pointLightRadius", "100000", "100000"}, Accepted{"lightBrightness", "-0", "-0"},
        Accepted{"lightBrightness", "inf", "inf"}, Accepted{"lightBrightness", "-Infinity", "-inf"},
        Accepted{"lightBrightness", "nan", "nan"}, Accepted{"lightBrightness", "1e-45", "1e-45"},
        Accepted{"lightBrightness", "0.1", "0.1"}, Accepted{"lightBrightness", ".5", "0.5"},
        // Three components: three numbers, or one for all three.
        Accepted{"_lightColor", "1,0.5,0.25", "1,0.5,0.25"}, Accepted{"_lightColor", " 1 , -2 ,3 ", "1,-2,3"},
        Accepted{"_lightColor", "0.75", "0.75,0.75,0.75"}, Accepted{"noiseOffset", "1,2,3", "1,2,3"},
        Accepted{"_parallelLightDir", "0,0,-1", "0,0,-1"},
        Accepted{"_pointLightPos", "nan,inf,0", "nan,inf,0"},
        // Enumerations by label or index.
        Accepted{"lightType", "point", "point"}, Accepted{"lightType", "1", "point"},
        Accepted{"lightType", " parallel ", "parallel"}, Accepted{"surfaceNoiseType", "3", "snoise"},
        Accepted{"surfaceNoiseType", "turbulence2", "turbulence2"}, Accepted{"outputType", "light", "light"},
        // Bitmasks by labels joined with | or +, or by number.
        Accepted{"stripesNoiseDir", "x|z", "x|z"}, Accepted{"stripesNoiseDir", "y+x", "x|y"},
        Accepted{"stripesNoiseDir", " x | y + z ", "x|y|z"}, Accepted{"stripesNoiseDir", "z|z", "z"},
        Accepted{"stripesNoiseDir", "6", "y|z"}, Accepted{"stripesNoiseDir", "0", "0"},
        // Checkbox words, in any case.
        Accepted{"surfaceNoise", "on", "on"}, Accepted{"surfaceNoise", "TRUE", "on"},
        Accepted{"surfaceNoise", "1", "on"}, Accepted{"surfaceNoise", "off", "off"},
        Accepted{"surfaceNoise", "False", "off"}, Accepted{"surfaceNoise", "0", "off"}));

struct Rejected {
  const char* knob;
  const char* text;
  const char* problem;  ///< what follows the knob and the quoted value; a whole message for unknown names
};

void PrintTo(const Rejected& c, std::ostream* os) { *os << c.knob << " = " << c.text; }

class SetKnobRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(SetKnobRejects, LeavesEveryFieldAsItWasAndSaysWhatIsAccepted) {
  const Rejected c = GetParam();
  auto node = quorlen::test::make_node();
  // Non-default values, so that a partial write of a three-component value would show.
  std::string error;
  ASSERT_TRUE(set_knob(node->op(), "_lightColor", "0.1,0.2,0.3", error)) << error;
  ASSERT_TRUE(set_knob(node->op(), "stripesNoiseDir", "y", error)) << error;
  ASSERT_TRUE(set_knob(node->op(), "lightType", "point", error)) << error;
  const Snapshot before = snapshot(params(*node));
  error.clear();
  EXPECT_FALSE(set_knob(node->op(), c.knob, c.text, error));
  const bool known = node->op().knob(c.knob) != nullptr;
  EXPECT_EQ(error,
            known ? "knob \"" + std::string(c.knob) + "\": \"" + c.text + "\" " + c.problem : c.problem);
  EXPECT_EQ(snapshot(params(*node)), before);
}

constexpr const char* kNotFloat = "is not a number (such as 0.5, -2, 1e3, inf or nan)";
constexpr const char* kFloatRange =
    "is outside the range of a 32-bit float (expected a number (such as 0.5, -2, 1e3, inf or nan))";
constexpr const char* kNotTriple = "is not one number or three separated by commas (such as 1 or 1,0.5,0.25)";
constexpr const char* kTripleRange =
    "is outside the range of a 32-bit float (expected one number or three separated by commas (such as 1 or "
    "1,0.5,0.25))";
constexpr const char* kNotLightType = "is not one of parallel, point (or an index 0-1)";
constexpr const char* kNotBits =
    "is not a combination of x, y, z joined by | or + (or a number made of bits 1, 2, 4, 0 for none)";
constexpr const char* kNotSwitch = "is not one of on, off, true, false, 1, 0";

INSTANTIATE_TEST_SUITE_P(
    Errors, SetKnobRejects,
    ::testing::Values(
        Rejected{"lightBrightness", "", kNotFloat}, Rejected{"lightBrightness", "abc", kNotFloat},
        Rejected{"lightBrightness", "0.5x", kNotFloat}, Rejected{"lightBrightness", "0x10", kNotFloat},
        Rejected{"lightBrightness", "+-1", kNotFloat}, Rejected{"lightBrightness", "1 2", kNotFloat},
        Rejected{"lightBrightness", "1,2,3", kNotFloat}, Rejected{"lightBrightness", "1e39", kFloatRange},
        Rejected{"lightBrightness", "1e-50", kFloatRange}, Rejected{"_lightColor", "1,2", kNotTriple},
        Rejected{"_lightColor", "1,2,3,4", kNotTriple}, Rejected{"_lightColor", "1,,3", kNotTriple},
        Rejected{"_lightColor", "1,2,", kNotTriple}, Rejected{"_lightColor", "1,2,x", kNotTriple},
        Rejected{"noiseOffset", "1,2,1e40", kTripleRange}, Rejected{"lightType", "sideways", kNotLightType},
        Rejected{"lightType", "2", kNotLightType}, Rejected{"lightType", "-1", kNotLightType},
        Rejected{"lightType", "Point", kNotLightType}, Rejected{"lightType", "1.0", kNotLightType},
        Rejected{"surfaceNoiseType", "perlin",
                 "is not one of stripes, turbulence1, turbulence2, snoise (or an index 0-3)"},
        Rejected{"stripesNoiseDir", "w", kNotBits}, Rejected{"stripesNoiseDir", "x|w", kNotBits},
        Rejected{"stripesNoiseDir", "x|", kNotBits}, Rejected{"stripesNoiseDir", "x||z", kNotBits},
        Rejected{"stripesNoiseDir", "8", kNotBits}, Rejected{"stripesNoiseDir", "15", kNotBits},
        Rejected{"stripesNoiseDir", "-1", kNotBits}, Rejected{"stripesNoiseDir", "", kNotBits},
        Rejected{"surfaceNoise", "yes", kNotSwitch}, Rejected{"surfaceNoise", "2", kNotSwitch},
        Rejected{"surfaceNoise", "", kNotSwitch},
        // Unknown names, with a hint when one knob is the likely meaning.
        Rejected{"foo", "1", "no knob named \"foo\""},
        Rejected{"lightColor", "1", "no knob named \"lightColor\" (did you mean \"_lightColor\"?)"},
        Rejected{"lighttype", "1", "no knob named \"lighttype\" (did you mean \"lightType\"?)"},
        Rejected{"noiseFrequncy", "1", "no knob named \"noiseFrequncy\" (did you mean \"noiseFrequency\"?)"},
        Rejected{"", "1", "no knob named \"\""}));

TEST(SetKnob, TheErrorStaysOnOneLineWhateverTheValue) {
  auto node = quorlen::test::make_node();
  std::string error;
  EXPECT_FALSE(set_knob(node->op(), "lightBrightness", "1\n\"2\"\x01", error));
  EXPECT_EQ(error, "knob \"lightBrightness\": \"1\\n\\\"2\\\"\\x01\" " + std::string(kNotFloat));
  EXPECT_FALSE(set_knob(node->op(), "light\nType", "1", error));
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

TEST(SetKnob, ANameWithAnEmbeddedNulIsNotThePrefixKnob) {
  auto node = quorlen::test::make_node();
  std::string error;
  EXPECT_FALSE(set_knob(node->op(), std::string_view("lightType\0x", 11), "1", error));
  EXPECT_EQ(error, "no knob named \"lightType\\x00x\" (did you mean \"lightType\"?)");
  EXPECT_EQ(params(*node).lightType, 0);
}

TEST(SetKnob, AnUnavailableControlCanStillBeSet) {
  auto node = quorlen::test::make_node();
  open_panel(node->op());
  ASSERT_FALSE(node->op().knob("noiseMultiply")->available());
  std::string error;
  ASSERT_TRUE(set_knob(node->op(), "noiseMultiply", "1.5", error)) << error;
  EXPECT_EQ(params(*node).noiseMultiply, 1.5f);
}

TEST(SetKnob, SettingAGoverningControlRunsTheVisibilityRules) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  open_panel(op);
  std::string error;
  ASSERT_TRUE(set_knob(op, "surfaceNoise", "on", error)) << error;
  EXPECT_TRUE(op.knob("noiseFrequency")->available());
  ASSERT_TRUE(set_knob(op, "lightType", "1", error)) << error;
  EXPECT_TRUE(op.knob("pointLightFalloff")->available());
  EXPECT_FALSE(op.knob("_parallelLightDir")->available());
}

TEST(KnobValueText, FreshNodeReadsItsDefaults) {
  auto node = quorlen::test::make_node();
  std::vector<std::string> texts;
  for (Knob* k : value_knobs(node->op())) texts.push_back(std::string(k->name()) + "=" + knob_value_text(*k));
  EXPECT_EQ(texts,
            (std::vector<std::string>{"lightType=parallel", "_parallelLightDir=1,1,1", "_pointLightPos=0,0,0",
                                      "pointLightRadius=100", "pointLightFalloff=0", "_lightColor=1,1,1",
                                      "lightBrightness=1", "_lightScatter=0,0,0", "_surfaceDiffuse=1,1,1",
                                      "_surfaceSpecular=0,0,0", "surfaceSpecularPower=10", "surfaceNoise=off",
                                      "surfaceNoiseType=stripes", "stripesNoiseDir=0", "noiseMultiply=1",
                                      "noiseFrequency=1", "noiseOffset=0,0,0", "outputType=texture"}));
}

TEST(KnobValueText, ValuesNoEntryNamesReadAsNumbers) {
  auto node = quorlen::test::make_node();
  params(*node).lightType = -1;
  params(*node).surfaceNoiseType = 7;
  params(*node).stripesNoiseDir = 8 | 1;
  EXPECT_EQ(text_of(node->op(), "lightType"), "-1");
  EXPECT_EQ(text_of(node->op(), "surfaceNoiseType"), "7");
  EXPECT_EQ(text_of(node->op(), "stripesNoiseDir"), "9");
}

TEST(KnobValueText, EveryValueReadsBackToTheSameBits) {
  auto node = quorlen::test::make_node();
  auto& p = params(*node);
  p.lightType = 1;
  p._parallelLightDir = {-0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()};
  p._pointLightPos = {0.1f, -1.0f / 3.0f, 16777217.0f};
  p.pointLightRadius = std::numeric_limits<float>::infinity();
  p.pointLightFalloff = std::numeric_limits<float>::quiet_NaN();
  p._lightColor = {1e-38f, 3.14159274f, 2.0f / 3.0f};
  p.lightBrightness = -std::numeric_limits<float>::infinity();
  p.surfaceNoise = true;
  p.surfaceNoiseType = 2;
  p.stripesNoiseDir = 5;
  p.noiseOffset = {123456.789f, -0.000123f, 7.0f};
  p.outputType = 1;
  const Snapshot values = snapshot(p);

  auto copy = quorlen::test::make_node();
  for (Knob* k : value_knobs(node->op())) {
    std::string error;
    EXPECT_TRUE(set_knob(copy->op(), k->name(), knob_value_text(*k), error)) << error;
  }
  auto& q = params(*copy);
  q.formatWidth = p.formatWidth;
  EXPECT_EQ(snapshot(q), values);
}

TEST(ValueKnobs, ListsTheEighteenValueControlsInDeclarationOrder) {
  auto node = quorlen::test::make_node();
  const auto knobs = value_knobs(node->op());
  ASSERT_EQ(knobs.size(), 18u);
  EXPECT_STREQ(knobs.front()->name(), "lightType");
  EXPECT_STREQ(knobs.back()->name(), "outputType");
  const auto& all = node->op().knobs();
  for (std::size_t i = 1; i < knobs.size(); ++i) {
    const auto at = [&](Knob* k) { return std::find(all.begin(), all.end(), k) - all.begin(); };
    EXPECT_LT(at(knobs[i - 1]), at(knobs[i]));
  }
}

}  // namespace
