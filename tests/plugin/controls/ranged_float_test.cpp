// declare_ranged_float: the declaration it makes and the rule that picks a non-linear slider.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "RecordingClosure.h"
#include "plugin/controls/RangedFloat.h"

namespace {

using namespace DD::Image;
using quorlen::KnobRange;
using quorlen::test::ClosureCall;
using quorlen::test::RecordingClosure;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<std::uint64_t> flags_after(const RecordingClosure& f) {
  std::vector<std::uint64_t> out;
  for (const auto& c : f.calls)
    if (c.type == ClosureCall::Flags) out.push_back(c.flags);
  return out;
}

TEST(RangedFloat, DeclaresOneFloatThenItsRangeAndReturnsTheDeclaredKnob) {
  RecordingClosure f;
  float field = 0;
  Knob* k = quorlen::declare_ranged_float(f, &field, {0.0, 500.0, false}, "radius", "the radius");
  ASSERT_EQ(f.calls.size(), 2u);
  EXPECT_EQ(f.calls[0].type, ClosureCall::Declare);
  EXPECT_EQ(f.calls[0].kind, 8);
  EXPECT_EQ(f.calls[0].store, 1);
  EXPECT_EQ(f.calls[0].field, &field);
  EXPECT_STREQ(f.calls[0].name, "radius");
  EXPECT_STREQ(f.calls[0].label, "the radius");
  EXPECT_EQ(f.calls[0].extra, nullptr);
  EXPECT_EQ(f.calls[1].type, ClosureCall::Range);
  EXPECT_EQ(f.calls[1].min, 0.0);
  EXPECT_EQ(f.calls[1].max, 500.0);
  EXPECT_EQ(k, f.knobs[0].get());
}

struct FlagCase {
  double min;
  double max;
  bool log_slider;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.min << " to " << c.max; }

class RangedFloatLogSlider : public ::testing::TestWithParam<FlagCase> {};

TEST_P(RangedFloatLogSlider, FlagFourOnlyForPositiveMinOrZeroMinWithPerfectSquareMax) {
  const FlagCase c = GetParam();
  RecordingClosure f;
  float field = 0;
  quorlen::declare_ranged_float(f, &field, {c.min, c.max, false}, "v", "v");
  const auto flags = flags_after(f);
  if (c.log_slider) {
    EXPECT_EQ(flags, std::vector<std::uint64_t>{0x4}) << c.min << " to " << c.max;
  } else {
    EXPECT_TRUE(flags.empty()) << c.min << " to " << c.max;
  }
  // The range is handed over unchanged, whatever the flag.
  ASSERT_GE(f.calls.size(), 2u);
  EXPECT_EQ(std::memcmp(&f.calls[1].min, &c.min, sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(&f.calls[1].max, &c.max, sizeof(double)), 0);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, RangedFloatLogSlider,
                         ::testing::Values(
                             // Ranges of the operator's panel.
                             FlagCase{1, 30, true}, FlagCase{0, 500, false}, FlagCase{0, 10, false},
                             FlagCase{0, 5, false}, FlagCase{0, 2, false},
                             // Zero min with a perfect-square max.
                             FlagCase{0, 0, true}, FlagCase{0, 1, true}, FlagCase{0, 4, true},
                             FlagCase{0, 9, true}, FlagCase{0, 100, true}, FlagCase{-0.0, 4, true},
                             // -0 is not a negative maximum: its square root is -0, a whole number.
                             FlagCase{0, -0.0, true},
                             // Every double this large is a whole number, and so is its square root.
                             FlagCase{0, 0x1p100, true},
                             // Zero min, max not a perfect square: fractions, negatives, non-finite.
                             FlagCase{0, 0.25, false}, FlagCase{0, 2.25, false}, FlagCase{0, 99.999, false},
                             FlagCase{0, -4, false}, FlagCase{0, -0.5, false}, FlagCase{0, kInf, false},
                             FlagCase{0, kNaN, false},
                             // Any positive min, whatever the max.
                             FlagCase{1e-300, 500, true}, FlagCase{0.5, 0.25, true}, FlagCase{2, -3, true},
                             FlagCase{1, kNaN, true}, FlagCase{kInf, kInf, true},
                             // A negative or NaN min never.
                             FlagCase{-1, 4, false}, FlagCase{-1, 100, false}, FlagCase{-1e-300, 0, false},
                             FlagCase{-kInf, 9, false}, FlagCase{kNaN, 4, false}));

TEST(RangedFloat, ForcedRangeAddsFlagTenBeforeTheSliderFlag) {
  RecordingClosure f;
  float field = 0;
  quorlen::declare_ranged_float(f, &field, {1.0, 30.0, true}, "v", "v");
  EXPECT_EQ(flags_after(f), (std::vector<std::uint64_t>{0x10, 0x4}));

  RecordingClosure g;
  quorlen::declare_ranged_float(g, &field, {0.0, 500.0, true}, "v", "v");
  EXPECT_EQ(flags_after(g), std::vector<std::uint64_t>{0x10});
}

}  // namespace
