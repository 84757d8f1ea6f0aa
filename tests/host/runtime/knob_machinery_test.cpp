// The host's knob machinery on an operator of the test's own: building knobs through the closure, flags
// and ranges on the last declaration, lookup by whole name, the panel marker and change notification.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "DDImage/Iop.h"
#include "DDImageHost/KnobAccess.h"

namespace {

using namespace DD::Image;

constexpr const char* kModes[] = {"a", "b", nullptr};

class TestOp final : public Iop {
 public:
  TestOp() : Iop(nullptr) {}
  const char* class_name() const override { return "TestOp"; }
  void render_row(int, int, int, const ChannelSet&, Row&) override {}

  void declare_knobs(Knob_Closure& f) override {
    ++declarations;
    SetFlags(f, 0x1);  // before any declaration: nothing to act on
    SetRange(f, 1, 2);
    f(Float_Kind, Float_Store, &gain, "gain", "gain", nullptr);
    SetFlags(f, 0x4);
    SetFlags(f, 0x10);
    SetRange(f, -1, 1);
    SetRange(f, 0, 8);  // the later range wins
    f(Float_Kind, Float_Store, gains, "gains", "gains", reinterpret_cast<const void*>(std::intptr_t{3}));
    f(Enumeration_Kind, Enumeration_Store, &mode, "mode", "mode", kModes);
    f(Bool_Kind, Bool_Store, &enabled, "enabledFlag", "enabled", nullptr);
    f(Text_Kind, No_Store, nullptr, nullptr, nullptr, "<b>hello</b>");
    f(XYZ_Kind, Float_Store, gains, "gain_xyz", "xyz", nullptr);
  }

  int knob_changed(Knob* k) override {
    // The host stores the value before it notifies; record what the field held at that moment.
    seen.emplace_back(k, gain);
    return 7;
  }

  int declarations = 0;
  float gain = 0.25f;
  float gains[3] = {1, 2, 3};
  std::int32_t mode = 0;
  bool enabled = false;
  std::vector<std::pair<Knob*, float>> seen;
};

TEST(KnobMachinery, KnobsAreDeclaredOnceAndKeepTheirOrder) {
  TestOp op;
  EXPECT_EQ(op.declarations, 0);
  const auto& knobs = op.knobs();
  ASSERT_EQ(knobs.size(), 6u);
  EXPECT_EQ(&op.knobs(), &knobs);
  EXPECT_EQ(op.declarations, 1);
  EXPECT_STREQ(knobs[0]->name(), "gain");
  EXPECT_STREQ(knobs[5]->name(), "gain_xyz");
  EXPECT_EQ(knobs[4]->name(), nullptr);
  EXPECT_STREQ(knobs[4]->text(), "<b>hello</b>");
}

TEST(KnobMachinery, FlagsAccumulateAndRangesGoToTheKnobDeclaredLast) {
  TestOp op;
  const auto& knobs = op.knobs();
  EXPECT_EQ(knobs[0]->flags(), 0x14u);
  ASSERT_TRUE(knobs[0]->has_range());
  EXPECT_EQ(knobs[0]->range_min(), 0.0);
  EXPECT_EQ(knobs[0]->range_max(), 8.0);
  for (std::size_t i = 1; i < knobs.size(); ++i) {
    EXPECT_EQ(knobs[i]->flags(), 0u) << i;
    EXPECT_FALSE(knobs[i]->has_range()) << i;
  }
}

TEST(KnobMachinery, LookupIsByWholeName) {
  TestOp op;
  EXPECT_EQ(op.knob("gain"), op.knobs()[0]);
  EXPECT_EQ(op.knob("gains"), op.knobs()[1]);
  EXPECT_EQ(op.knob("gai"), nullptr);
  EXPECT_EQ(op.knob("Gain"), nullptr);
  EXPECT_EQ(op.knob("enabled"), nullptr);  // a label, not a name
  EXPECT_EQ(op.knob(""), nullptr);
  EXPECT_EQ(op.knob(nullptr), nullptr);
  EXPECT_TRUE(op.knob("gains")->is("gains"));
  EXPECT_FALSE(op.knob("gains")->is("gain"));
  EXPECT_FALSE(op.knob("gain")->is("gains"));
  EXPECT_FALSE(op.knob("gain")->is(nullptr));
  EXPECT_FALSE(op.knobs()[4]->is(""));
}

TEST(KnobMachinery, ComponentsAndEntriesFollowKindAndExtra) {
  TestOp op;
  const auto& k = op.knobs();
  EXPECT_EQ(k[0]->components(), 1);
  EXPECT_EQ(k[1]->components(), 3);
  EXPECT_EQ(k[2]->components(), 1);
  EXPECT_EQ(k[4]->components(), 0);
  EXPECT_EQ(k[5]->components(), 3);
  EXPECT_EQ(k[2]->entries(), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(k[0]->entries().empty());
  EXPECT_TRUE(k[4]->entries().empty());
  EXPECT_EQ(k[0]->text(), nullptr);
}

TEST(KnobMachinery, ThePanelMarkerIsOneUnnamedObjectOutsideEveryOperator) {
  EXPECT_NE(Knob::showPanel, nullptr);
  EXPECT_EQ(Knob::showPanel->name(), nullptr);
  EXPECT_FALSE(Knob::showPanel->is(""));
  TestOp op;
  for (Knob* k : op.knobs()) EXPECT_NE(k, Knob::showPanel);
  open_panel(op);
  ASSERT_EQ(op.seen.size(), 1u);
  EXPECT_EQ(op.seen[0].first, Knob::showPanel);
}

TEST(KnobMachinery, AvailabilityNeverTouchesTheBoundField) {
  TestOp op;
  Knob* gain = op.knob("gain");
  EXPECT_TRUE(gain->available());
  op.gain = -3.5f;
  gain->set_available(false);
  EXPECT_FALSE(gain->available());
  EXPECT_EQ(op.gain, -3.5f);
  gain->set_available(true);
  EXPECT_TRUE(gain->available());
  EXPECT_EQ(op.gain, -3.5f);
}

TEST(KnobMachinery, SettingNotifiesOnceAfterStoringAndNeverOnError) {
  TestOp op;
  std::string error;
  ASSERT_TRUE(set_knob(op, "gain", "2.5", error)) << error;
  ASSERT_EQ(op.seen.size(), 1u);
  EXPECT_EQ(op.seen[0].first, op.knob("gain"));
  EXPECT_EQ(op.seen[0].second, 2.5f);

  EXPECT_FALSE(set_knob(op, "gain", "fast", error));
  EXPECT_FALSE(set_knob(op, "nothing", "1", error));
  EXPECT_EQ(op.seen.size(), 1u);
  EXPECT_EQ(op.gain, 2.5f);
}

TEST(KnobMachinery, ValueKnobsLeaveOutTextLines) {
  TestOp op;
  std::vector<std::string> names;
  for (Knob* k : value_knobs(op)) names.emplace_back(k->name());
  EXPECT_EQ(names, (std::vector<std::string>{"gain", "gains", "mode", "enabledFlag", "gain_xyz"}));
}

class ThrowingOp final : public Iop {
 public:
  ThrowingOp() : Iop(nullptr) {}
  const char* class_name() const override { return "ThrowingOp"; }
  void render_row(int, int, int, const ChannelSet&, Row&) override {}
  void declare_knobs(Knob_Closure& f) override {
    f(Float_Kind, Float_Store, &value, "value", "value", nullptr);
    if (fail) throw std::runtime_error("declaration failed");
  }
  bool fail = true;
  float value = 0;
};

TEST(KnobMachinery, AFailedDeclarationLeavesNoHalfPanelAndIsRetried) {
  ThrowingOp op;
  EXPECT_THROW(op.knobs(), std::runtime_error);
  op.fail = false;
  ASSERT_EQ(op.knobs().size(), 1u);
  EXPECT_STREQ(op.knobs()[0]->name(), "value");
}

}  // namespace
