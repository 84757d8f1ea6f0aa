// The operator's panel: the declaration sequence with its codes, entries, ranges and flags.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "RecordingClosure.h"
#include "plugin/Quorlen.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::test::ClosureCall;
using quorlen::test::RecordingClosure;

// What one declaration must hand to the closure, and the flag and range calls that follow it.
struct Expected {
  int kind;
  int store;
  void* field;
  const char* name;
  const char* label;
  enum { None, Text, Entries, Count } extra;
  std::vector<std::string> entries;
  std::vector<ClosureCall> after;
};

ClosureCall flags(std::uint64_t f) {
  ClosureCall c;
  c.type = ClosureCall::Flags;
  c.flags = f;
  return c;
}

ClosureCall range(double min, double max) {
  ClosureCall c;
  c.type = ClosureCall::Range;
  c.min = min;
  c.max = max;
  return c;
}

std::vector<Expected> expected_panel(quorlen::Parameters& p) {
  using E = Expected;
  return {
      {26, 19, nullptr, nullptr, nullptr, E::Text, {}, {flags(0x1000)}},
      {26, 19, nullptr, nullptr, nullptr, E::Text, {}, {flags(0x1000)}},
      {4, 3, &p.lightType, "lightType", "light type", E::Entries, {"parallel", "point"}, {}},
      {13, 1, &p._parallelLightDir, "_parallelLightDir", "parallelLight direction", E::None, {}, {}},
      {13, 1, &p._pointLightPos, "_pointLightPos", "pointLight position", E::None, {}, {}},
      {8, 1, &p.pointLightRadius, "pointLightRadius", "pointLight radius", E::None, {}, {range(0, 500)}},
      {8, 1, &p.pointLightFalloff, "pointLightFalloff", "pointLight falloff", E::None, {}, {range(0, 10)}},
      {18, 1, &p._lightColor, "_lightColor", "light color", E::None, {}, {}},
      {8, 1, &p.lightBrightness, "lightBrightness", "light brightness", E::None, {}, {range(0, 5)}},
      {18, 1, &p._lightScatter, "_lightScatter", "light scatter", E::None, {}, {}},
      {26, 19, nullptr, nullptr, "", E::None, {}, {}},
      {18, 1, &p._surfaceDiffuse, "_surfaceDiffuse", "surface diffuse", E::None, {}, {}},
      {18, 1, &p._surfaceSpecular, "_surfaceSpecular", "surface specular", E::None, {}, {}},
      {8,
       1,
       &p.surfaceSpecularPower,
       "surfaceSpecularPower",
       "specular power",
       E::None,
       {},
       {range(1, 30), flags(0x4)}},
      {26, 19, nullptr, nullptr, "", E::None, {}, {}},
      {6, 5, &p.surfaceNoise, "surfaceNoise", "surface noise", E::None, {}, {flags(0x1000)}},
      {4,
       3,
       &p.surfaceNoiseType,
       "surfaceNoiseType",
       "surface noise type",
       E::Entries,
       {"stripes", "turbulence1", "turbulence2", "snoise"},
       {}},
      {5,
       4,
       &p.stripesNoiseDir,
       "stripesNoiseDir",
       "stripes noise direction",
       E::Entries,
       {"x", "y", "z"},
       {}},
      {8, 1, &p.noiseMultiply, "noiseMultiply", "multiply", E::None, {}, {range(0, 2)}},
      {8, 1, &p.noiseFrequency, "noiseFrequency", "frequency", E::None, {}, {range(0, 10)}},
      {8, 1, &p.noiseOffset, "noiseOffset", "offset", E::Count, {}, {}},
      {4, 3, &p.outputType, "outputType", "output type", E::Entries, {"texture", "light"}, {}},
  };
}

std::vector<std::string> null_ended(const void* extra) {
  std::vector<std::string> out;
  for (auto* e = static_cast<const char* const*>(extra); *e; ++e) out.emplace_back(*e);
  return out;
}

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

TEST(Panel, DeclaresTheTwentyTwoControlsInOrderWithTheirCodesEntriesRangesAndFlags) {
  auto node = quorlen::test::make_node();
  auto& op = static_cast<quorlen::Quorlen&>(node->op());
  RecordingClosure f;
  op.declare_knobs(f);
  const auto groups = by_declaration(f);
  const auto expected = expected_panel(op.parameters());
  ASSERT_EQ(groups.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("declaration " + std::to_string(i + 1));
    const ClosureCall& d = groups[i][0];
    const Expected& e = expected[i];
    ASSERT_EQ(d.type, ClosureCall::Declare);
    EXPECT_EQ(d.kind, e.kind);
    EXPECT_EQ(d.store, e.store);
    EXPECT_EQ(d.field, e.field);
    EXPECT_TRUE(opt_streq(d.name, e.name)) << (d.name ? d.name : "null");
    EXPECT_TRUE(opt_streq(d.label, e.label)) << (d.label ? d.label : "null");
    switch (e.extra) {
      case Expected::None:
        EXPECT_EQ(d.extra, nullptr);
        break;
      case Expected::Text:
        ASSERT_NE(d.extra, nullptr);
        break;
      case Expected::Entries:
        ASSERT_NE(d.extra, nullptr);
        EXPECT_EQ(null_ended(d.extra), e.entries);
        break;
      case Expected::Count:
        EXPECT_EQ(reinterpret_cast<std::intptr_t>(d.extra), 3);
        break;
    }
    EXPECT_EQ(std::vector<ClosureCall>(groups[i].begin() + 1, groups[i].end()), e.after);
  }
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

TEST(Panel, FlagStartLineFollowsExactlyTheTwoTextLinesAndTheNoiseCheckbox) {
  auto node = quorlen::test::make_node();
  RecordingClosure f;
  node->op().declare_knobs(f);
  std::vector<std::size_t> start_line, log_slider, forced;
  const auto groups = by_declaration(f);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    for (const auto& c : groups[i]) {
      if (c.type != ClosureCall::Flags) continue;
      if (c.flags & 0x1000) start_line.push_back(i + 1);
      if (c.flags & 0x4) log_slider.push_back(i + 1);
      if (c.flags & 0x10) forced.push_back(i + 1);
    }
  }
  EXPECT_EQ(start_line, (std::vector<std::size_t>{1, 2, 16}));
  EXPECT_EQ(log_slider, std::vector<std::size_t>{14});
  EXPECT_TRUE(forced.empty());
}

TEST(Panel, TwoDeclarationsOnTwoClosuresAreIdentical) {
  auto node = quorlen::test::make_node();
  RecordingClosure first, second;
  node->op().declare_knobs(first);
  node->op().declare_knobs(second);
  EXPECT_EQ(first.calls.size(), 22u + 10u);  // 22 declarations, 3 start-line flags, 6 ranges, 1 slider flag
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
  EXPECT_EQ(node->op().knob("noiseOffset")->components(), 3);
  EXPECT_EQ(node->op().knob("pointLightRadius")->components(), 1);
}

}  // namespace
