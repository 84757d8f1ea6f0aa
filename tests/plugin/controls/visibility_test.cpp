// Which controls are offered for editing: every event against every setting of the three governing
// parameters, and what the rules must leave alone.
#include <gtest/gtest.h>

#include <map>
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

enum class Event { PanelOpened, SurfaceNoise, SurfaceNoiseType, LightType };

std::string event_name(Event e) {
  switch (e) {
    case Event::PanelOpened:
      return "panel opened";
    case Event::SurfaceNoise:
      return "surfaceNoise";
    case Event::SurfaceNoiseType:
      return "surfaceNoiseType";
    case Event::LightType:
      return "lightType";
  }
  return "";
}

Knob* event_knob(Op& op, Event e) {
  return e == Event::PanelOpened ? Knob::showPanel : op.knob(event_name(e).c_str());
}

struct Settings {
  int light_type;
  bool noise;
  int noise_type;
};

// The state each event passes to each control; absent: the event does not touch it.
std::map<std::string, bool> expected_updates(Event e, Settings s) {
  const bool noise_on = s.noise;
  const bool stripes_on = s.noise && s.noise_type == 0;
  const bool parallel_on = s.light_type == 0;
  const bool point_on = s.light_type != 0;
  std::map<std::string, bool> noise_group = {{"surfaceNoiseType", noise_on},
                                             {"stripesNoiseDir", stripes_on},
                                             {"noiseMultiply", noise_on},
                                             {"noiseFrequency", noise_on},
                                             {"noiseOffset", noise_on}};
  std::map<std::string, bool> light_group = {{"_parallelLightDir", parallel_on},
                                             {"_pointLightPos", point_on},
                                             {"pointLightRadius", point_on},
                                             {"pointLightFalloff", point_on}};
  switch (e) {
    case Event::PanelOpened:
      noise_group.merge(light_group);
      return noise_group;
    case Event::SurfaceNoise:
      return noise_group;
    case Event::SurfaceNoiseType:
      return {{"stripesNoiseDir", stripes_on}};
    case Event::LightType:
      return light_group;
  }
  return {};
}

TEST(Visibility, EveryEventForEverySettingMarksExactlyItsControls) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  const auto& knobs = op.knobs();
  ASSERT_EQ(knobs.size(), 22u);
  for (Event e : {Event::PanelOpened, Event::SurfaceNoise, Event::SurfaceNoiseType, Event::LightType}) {
    for (int light_type : {0, 1, 2, -1}) {
      for (bool noise : {false, true}) {
        for (int noise_type : {0, 1, 2, 3}) {
          // Each run starts from every control marked one way, then the other, so that a control the
          // event must not touch is seen keeping its mark whatever it would have been given.
          for (bool before : {false, true}) {
            SCOPED_TRACE(event_name(e) + " with lightType " + std::to_string(light_type) + ", surfaceNoise " +
                         (noise ? "on" : "off") + ", surfaceNoiseType " + std::to_string(noise_type) +
                         ", all controls " + (before ? "available" : "unavailable") + " before");
            params(*node).lightType = light_type;
            params(*node).surfaceNoise = noise;
            params(*node).surfaceNoiseType = noise_type;
            for (Knob* k : knobs) k->set_available(before);
            const Snapshot values = snapshot(params(*node));

            EXPECT_EQ(op.knob_changed(event_knob(op, e)), 1);

            EXPECT_EQ(snapshot(params(*node)), values) << "a parameter value changed";
            const auto updates = expected_updates(e, {light_type, noise, noise_type});
            for (std::size_t i = 0; i < knobs.size(); ++i) {
              const char* name = knobs[i]->name();
              const auto it = name ? updates.find(name) : updates.end();
              const bool want = it != updates.end() ? it->second : before;
              EXPECT_EQ(knobs[i]->available(), want) << "declaration " << i + 1 << " " << (name ? name : "");
            }
          }
        }
      }
    }
  }
}

TEST(Visibility, OpeningThePanelOfAFreshNodeOffersOnlyTheParallelLight) {
  auto node = quorlen::test::make_node();
  open_panel(node->op());
  const std::map<std::string, bool> want = {
      {"_parallelLightDir", true},  {"_pointLightPos", false},   {"pointLightRadius", false},
      {"pointLightFalloff", false}, {"surfaceNoiseType", false}, {"stripesNoiseDir", false},
      {"noiseMultiply", false},     {"noiseFrequency", false},   {"noiseOffset", false},
      {"lightType", true},          {"surfaceNoise", true},      {"outputType", true}};
  for (const auto& [name, available] : want)
    EXPECT_EQ(node->op().knob(name.c_str())->available(), available) << name;
}

TEST(Visibility, ValuesEnteredSurviveWhileTheirControlsAreUnavailable) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  std::string error;
  open_panel(op);
  ASSERT_TRUE(set_knob(op, "lightType", "point", error)) << error;
  ASSERT_TRUE(op.knob("_pointLightPos")->available());
  ASSERT_TRUE(set_knob(op, "_pointLightPos", "3,-4,5.5", error)) << error;
  ASSERT_TRUE(set_knob(op, "pointLightRadius", "42", error)) << error;

  ASSERT_TRUE(set_knob(op, "lightType", "parallel", error)) << error;
  EXPECT_FALSE(op.knob("_pointLightPos")->available());
  EXPECT_FALSE(op.knob("pointLightRadius")->available());
  EXPECT_TRUE(op.knob("_parallelLightDir")->available());
  EXPECT_EQ(knob_value_text(*op.knob("_pointLightPos")), "3,-4,5.5");
  EXPECT_EQ(params(*node).pointLightRadius, 42.0f);

  ASSERT_TRUE(set_knob(op, "lightType", "point", error)) << error;
  EXPECT_TRUE(op.knob("_pointLightPos")->available());
  EXPECT_EQ(params(*node)._pointLightPos.x, 3.0f);
  EXPECT_EQ(params(*node)._pointLightPos.y, -4.0f);
  EXPECT_EQ(params(*node)._pointLightPos.z, 5.5f);
  EXPECT_EQ(params(*node).pointLightRadius, 42.0f);
}

TEST(Visibility, NoiseTypeChangeWhileNoiseIsOffWithdrawsOnlyTheStripeDirections) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  std::string error;
  // Turning noise on with stripes offers all five; with turbulence1 the stripe directions stay withdrawn.
  open_panel(op);
  ASSERT_TRUE(set_knob(op, "surfaceNoise", "on", error)) << error;
  for (const char* n :
       {"surfaceNoiseType", "stripesNoiseDir", "noiseMultiply", "noiseFrequency", "noiseOffset"})
    EXPECT_TRUE(op.knob(n)->available()) << n;
  ASSERT_TRUE(set_knob(op, "surfaceNoiseType", "turbulence1", error)) << error;
  EXPECT_FALSE(op.knob("stripesNoiseDir")->available());
  EXPECT_TRUE(op.knob("noiseMultiply")->available());

  // Noise off while the other noise controls are still marked available: only stripesNoiseDir moves.
  params(*node).surfaceNoise = false;
  op.knob("stripesNoiseDir")->set_available(true);
  for (const char* type : {"stripes", "snoise"}) {
    ASSERT_TRUE(set_knob(op, "surfaceNoiseType", type, error)) << error;
    EXPECT_FALSE(op.knob("stripesNoiseDir")->available()) << type;
    EXPECT_TRUE(op.knob("surfaceNoiseType")->available()) << type;
    EXPECT_TRUE(op.knob("noiseMultiply")->available()) << type;
  }
}

TEST(Visibility, OtherEventsUpdateNothingAndReturnTheHostDefault) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  const auto& knobs = op.knobs();
  // Settings under which the panel-opened rules would change every dependent control.
  params(*node).lightType = 1;
  params(*node).surfaceNoise = true;
  Knob stray(Float_Kind, Float_Store, nullptr, "surfaceNoiseTypeX", "x", nullptr);
  std::vector<Knob*> events;
  for (Knob* k : knobs)
    if (!k->is("surfaceNoise") && !k->is("surfaceNoiseType") && !k->is("lightType")) events.push_back(k);
  events.push_back(&stray);
  events.push_back(nullptr);
  for (Knob* k : events) {
    SCOPED_TRACE(k && k->name() ? k->name() : "unnamed or null");
    for (Knob* each : knobs) each->set_available(false);
    const int host_default = op.DD::Image::Op::knob_changed(k);
    EXPECT_EQ(op.knob_changed(k), host_default);
    EXPECT_EQ(host_default, 0);
    for (Knob* each : knobs) EXPECT_FALSE(each->available()) << (each->name() ? each->name() : "");
  }
}

TEST(Visibility, TheMarkerIsRecognisedByIdentityNotByName) {
  auto node = quorlen::test::make_node();
  Op& op = node->op();
  params(*node).lightType = 1;
  // A knob that looks like the marker (no name, text kind) is just another unhandled control.
  Knob look_alike(Text_Kind, No_Store, nullptr, nullptr, nullptr, nullptr);
  op.knob("_pointLightPos")->set_available(false);
  EXPECT_EQ(op.knob_changed(&look_alike), 0);
  EXPECT_FALSE(op.knob("_pointLightPos")->available());
  EXPECT_EQ(op.knob_changed(Knob::showPanel), 1);
  EXPECT_TRUE(op.knob("_pointLightPos")->available());
}

}  // namespace
