// A node's current settings in the settings file's form: what the viewer saves and Python's settings()
// returns must rebuild the same node, choices kept by their labels; unknown names get a useful hint.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/node.h>

namespace quorlen::hosting {
namespace {

const DD::Image::Op::Description& description() { return load_module(QUORLEN_TEST_PLUGIN); }

TEST(SettingsForm, ChoicesAreLabelsAndTheFormRebuildsTheNode) {
  Node node(description());
  node.apply(nlohmann::json{{"lightType", "point"}, {"_pointLightPos", {1, 2, 3}}, {"lightBrightness", 2.5}});
  const nlohmann::json saved = node.settings();
  EXPECT_EQ(saved["lightType"], "point");
  EXPECT_EQ(saved["lightBrightness"], 2.5);
  Node rebuilt(description());
  rebuilt.apply(saved);
  EXPECT_EQ(rebuilt.settings(), saved);
  EXPECT_EQ(rebuilt.changed_knobs(), node.changed_knobs());
  // A knob holding a non-finite value still round-trips.
  node.set("lightBrightness", "inf");
  Node again(description());
  again.apply(node.settings());
  EXPECT_EQ(again.value_text("lightBrightness"), node.value_text("lightBrightness"));
}

TEST(SettingsForm, ValuesGivenInMemoryApplyBetweenTheFileAndTheSets) {
  Node node(description());
  NodeSettings settings;
  settings.values = nlohmann::json{{"lightType", "point"}, {"lightBrightness", 3}};
  settings.sets = {{"lightBrightness", "4"}};
  node.apply(settings);
  EXPECT_EQ(node.value_text("lightType"), "point");
  EXPECT_EQ(node.value_text("lightBrightness"), "4");
  settings.values = nlohmann::json{{"lightTyp", "point"}};
  try {
    node.apply(settings);
    FAIL() << "accepted an unknown knob";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "settings: no knob named \"lightTyp\" (did you mean \"lightType\"?)");
  }
}

TEST(SettingsForm, TheKnobsTableAndHintsForAWordOfAName) {
  Node node(description());
  const auto rows = node.knob_rows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.size(), node.knob_names().size());
  for (const auto& row : rows) {
    if (row.name == "lightType") {
      EXPECT_EQ(row.accepts.rfind("one of parallel", 0), 0u) << row.accepts;
    }
  }
  try {
    node.value_text("brightness");
    FAIL() << "found a knob named brightness";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "no knob named \"brightness\" (did you mean \"lightBrightness\"?)");
  }
}

}  // namespace
}  // namespace quorlen::hosting
