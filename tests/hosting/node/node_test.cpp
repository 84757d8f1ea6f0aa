// A node by name: settings that reproduce it, the knobs changed from a new node's, refusals that leave it as
// it was, and the rows of the knobs table.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/node.h>

namespace {

using namespace quorlen::hosting;

const DD::Image::Op::Description& quorlen_class() { return load_module(QUORLEN_TEST_PLUGIN); }

// The names before '=' of changed_knobs().
std::vector<std::string> changed_names(Node& node) {
  std::vector<std::string> names;
  for (const auto& c : node.changed_knobs()) names.push_back(c.substr(0, c.find('=')));
  return names;
}

TEST(Node, SettingsReproduceTheNodeAndListOnlyTheChangedKnobsInPanelOrder) {
  Node node(quorlen_class());
  EXPECT_TRUE(node.changed_knobs().empty());
  node.set("surfaceNoiseType", "snoise");
  node.set_json("_lightColor", {0.5, 0.25, 2});
  node.set("lightType", "point");
  EXPECT_EQ(changed_names(node), (std::vector<std::string>{"lightType", "_lightColor", "surfaceNoiseType"}));
  EXPECT_EQ(node.changed_knobs()[0], "lightType=" + node.value_text("lightType"));

  const nlohmann::json saved = node.settings();
  EXPECT_EQ(saved["surfaceNoiseType"], "snoise");  // choices by label, not by index
  EXPECT_EQ(saved.size(), node.knob_names().size());
  Node again(quorlen_class());
  again.apply(saved);
  EXPECT_EQ(again.changed_knobs(), node.changed_knobs());
  EXPECT_EQ(again.settings(), saved);
}

TEST(Node, RefusalsAreUsageErrorsAndChangeNothing) {
  Node node(quorlen_class());
  const nlohmann::json before = node.settings();
  const auto refused = [&](auto&& f, const std::string& part) {
    try {
      f();
      ADD_FAILURE() << "accepted; expected a refusal mentioning " << part;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage) << e.what();
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
    EXPECT_EQ(node.settings(), before) << "after the refusal mentioning " << part;
  };
  refused([&] { node.set("lightTyp", "point"); }, "lightType");  // suggested
  refused([&] { node.set("lightType", "spot"); }, "spot");
  refused([&] { node.set_json("_lightColor", {1, 2}); }, "_lightColor");
  // All or nothing: the good member before the bad one is not written either.
  refused([&] { node.apply(nlohmann::json{{"lightBrightness", 2}, {"outputType", "nope"}}); }, "nope");
  refused([&] { node.value_text("nothing"); }, "nothing");
  refused([&] { node.available("nothing"); }, "nothing");
}

TEST(Node, KnobRowsFollowTheKnobsAndTheirAvailability) {
  Node node(quorlen_class());
  for (const char* type : {"parallel", "point"}) {
    SCOPED_TRACE(type);
    node.set("lightType", type);
    const auto rows = node.knob_rows();
    const auto names = node.knob_names();
    ASSERT_EQ(rows.size(), names.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].name, names[i]);
      EXPECT_EQ(rows[i].value, node.value_text(names[i])) << names[i];
      EXPECT_EQ(rows[i].available, node.available(names[i])) << names[i];
    }
  }
  // The point light's radius applies to a point light only, and the table says so.
  node.set("lightType", "parallel");
  EXPECT_FALSE(node.available("pointLightRadius"));
  node.set("lightType", "point");
  EXPECT_TRUE(node.available("pointLightRadius"));
  for (const auto& row : node.knob_rows())
    if (row.name == "pointLightRadius") {
      EXPECT_EQ(row.range, "0 to 500");
      EXPECT_EQ(row.accepts, "number");
    } else if (row.name == "lightType") {
      EXPECT_EQ(row.accepts, "one of parallel, point");
    } else if (row.name == "_lightColor") {
      EXPECT_EQ(row.accepts, "3 numbers");
    } else if (row.name == "surfaceNoise") {
      EXPECT_EQ(row.accepts, "on or off");
    }
}

}  // namespace
