// The operator's panel: every declaration as the host lists it, against a golden listing, plus the rules
// a listing cannot show (which parameter each knob writes, the text lines' markup, repeatable declaration,
// the host building the knobs the closure was given).
//
// The golden listing is the built command's output; after an intended change to the panel, regenerate it with
//   <build>/bin/quorlen knobs --json > tests/plugin/controls/panel.json
// and review the difference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"
#include "RecordingClosure.h"
#include "plugin/Quorlen.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::test::ClosureCall;
using quorlen::test::RecordingClosure;

// The calls of `f`, split into one group per declaration: the declaration and the calls after it.
std::vector<std::vector<ClosureCall>> by_declaration(const RecordingClosure& f) {
  std::vector<std::vector<ClosureCall>> groups;
  for (const auto& c : f.calls) {
    if (c.type == ClosureCall::Declare) groups.emplace_back();
    if (groups.empty()) groups.emplace_back();  // a flag or range before any declaration
    groups.back().push_back(c);
  }
  return groups;
}

bool opt_streq(const char* a, const char* b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

TEST(Panel, MatchesTheGoldenListing) {
  std::ifstream file(QUORLEN_PANEL_GOLDEN);
  ASSERT_TRUE(file) << QUORLEN_PANEL_GOLDEN;
  const nlohmann::json golden = nlohmann::json::parse(file);
  auto node = quorlen::test::make_node();
  open_panel(node->op());  // as a host does before listing it
  const nlohmann::json panel = describe_panel(node->op());
  // Knob by knob first, so a difference names its declaration.
  ASSERT_EQ(panel["knobs"].size(), golden["knobs"].size());
  for (std::size_t i = 0; i < golden["knobs"].size(); ++i)
    EXPECT_EQ(panel["knobs"][i].dump(), golden["knobs"][i].dump()) << "declaration " << i + 1;
  EXPECT_EQ(panel, golden);
}

// Which field each knob writes is in no listing: a knob wired to the wrong parameter would list the same.
TEST(Panel, EachNamedKnobWritesItsOwnParameter) {
  auto node = quorlen::test::make_node();
  auto& p = static_cast<quorlen::Quorlen&>(node->op()).parameters();
  const std::map<std::string, const void*> fields = {
      {"lightType", &p.lightType},
      {"_parallelLightDir", &p._parallelLightDir},
      {"_pointLightPos", &p._pointLightPos},
      {"pointLightRadius", &p.pointLightRadius},
      {"pointLightFalloff", &p.pointLightFalloff},
      {"_lightColor", &p._lightColor},
      {"lightBrightness", &p.lightBrightness},
      {"_lightScatter", &p._lightScatter},
      {"_surfaceDiffuse", &p._surfaceDiffuse},
      {"_surfaceSpecular", &p._surfaceSpecular},
      {"surfaceSpecularPower", &p.surfaceSpecularPower},
      {"surfaceNoise", &p.surfaceNoise},
      {"surfaceNoiseType", &p.surfaceNoiseType},
      {"stripesNoiseDir", &p.stripesNoiseDir},
      {"noiseMultiply", &p.noiseMultiply},
      {"noiseFrequency", &p.noiseFrequency},
      {"noiseOffset", &p.noiseOffset},
      {"outputType", &p.outputType},
  };
  std::size_t named = 0;
  for (const Knob* k : node->op().knobs()) {
    if (!k->name()) {
      EXPECT_EQ(k->field(), nullptr) << "an unnamed declaration stores nothing";
      continue;
    }
    ++named;
    const auto it = fields.find(k->name());
    ASSERT_NE(it, fields.end()) << k->name();
    EXPECT_EQ(k->field(), it->second) << k->name();
  }
  EXPECT_EQ(named, fields.size());
}

TEST(Panel, TextLinesAreATitleAndOneLineInSimpleMarkup) {
  auto node = quorlen::test::make_node();
  RecordingClosure f;
  node->op().declare_knobs(f);
  ASSERT_GE(f.knobs.size(), 2u);
  EXPECT_STREQ(f.knobs[0]->text(), "<b>Quorlen</b>");
  const std::string summary = f.knobs[1]->text();
  EXPECT_FALSE(summary.empty());
  EXPECT_EQ(summary.find('\n'), std::string::npos);
  // Only <b> and <i> tags, each closed.
  std::string rest = summary;
  for (std::size_t open; (open = rest.find('<')) != std::string::npos;) {
    const std::size_t close = rest.find('>', open);
    ASSERT_NE(close, std::string::npos) << summary;
    const std::string tag = rest.substr(open, close - open + 1);
    EXPECT_TRUE(tag == "<b>" || tag == "</b>" || tag == "<i>" || tag == "</i>") << tag;
    rest.erase(0, close + 1);
  }
  for (const char* t : {"b", "i"}) {
    const auto count = [&](const std::string& needle) {
      std::size_t n = 0;
      for (std::size_t at = 0; (at = summary.find(needle, at)) != std::string::npos; ++at) ++n;
      return n;
    };
    EXPECT_EQ(count(std::string("<") + t + ">"), count(std::string("</") + t + ">")) << t;
  }
}

TEST(Panel, TwoDeclarationsOnTwoClosuresAreIdentical) {
  auto node = quorlen::test::make_node();
  RecordingClosure first, second;
  node->op().declare_knobs(first);
  node->op().declare_knobs(second);
  EXPECT_FALSE(first.calls.empty());
  EXPECT_EQ(first.calls, second.calls);
}

TEST(Panel, TheHostBuildsTheSameKnobsWithFlagsAndRangesOnTheRightOnes) {
  auto node = quorlen::test::make_node();
  RecordingClosure f;
  node->op().declare_knobs(f);
  const auto& built = node->op().knobs();
  ASSERT_EQ(built.size(), f.knobs.size());
  for (std::size_t i = 0; i < built.size(); ++i) {
    SCOPED_TRACE("declaration " + std::to_string(i + 1));
    const Knob& a = *built[i];
    const Knob& b = *f.knobs[i];
    EXPECT_EQ(a.kind(), b.kind());
    EXPECT_EQ(a.store(), b.store());
    EXPECT_EQ(a.field(), b.field());
    EXPECT_TRUE(opt_streq(a.name(), b.name()));
    EXPECT_TRUE(opt_streq(a.label(), b.label()));
    EXPECT_EQ(a.extra(), b.extra());
  }
  const auto groups = by_declaration(f);
  for (std::size_t i = 0; i < built.size(); ++i) {
    std::uint64_t want_flags = 0;
    bool want_range = false;
    double min = 0, max = 0;
    for (const auto& c : groups[i]) {
      if (c.type == ClosureCall::Flags) want_flags |= c.flags;
      if (c.type == ClosureCall::Range) want_range = true, min = c.min, max = c.max;
    }
    EXPECT_EQ(built[i]->flags(), want_flags) << i + 1;
    ASSERT_EQ(built[i]->has_range(), want_range) << i + 1;
    if (want_range) {
      EXPECT_EQ(built[i]->range_min(), min);
      EXPECT_EQ(built[i]->range_max(), max);
    }
  }
}

}  // namespace
