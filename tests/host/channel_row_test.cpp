// Channels, layers, channel sets and rows of the host layer.
#include <gtest/gtest.h>

#include "DDImage/Box.h"
#include "DDImage/Channel.h"
#include "DDImage/Iop.h"
#include "DDImage/Row.h"
#include "DDImageHost/MemorySource.h"
#include "support/Images.h"

namespace {

using namespace DD::Image;

TEST(Channels, RgbaNumbersAndNames) {
  EXPECT_EQ(getChannel("rgba.red"), Chan_Red);
  EXPECT_EQ(getChannel("G"), Chan_Green);
  EXPECT_EQ(getChannel("blue"), Chan_Blue);
  EXPECT_EQ(getChannel("A"), Chan_Alpha);
  EXPECT_EQ(getName(Chan_Alpha), "rgba.alpha");
  EXPECT_EQ(getChannel(""), Chan_Black);
  EXPECT_EQ(getChannel("N."), Chan_Black);
  EXPECT_EQ(getName(static_cast<Channel>(kMaxChannels + 5)), "none");
}

TEST(Channels, NamedLayersGetTheirOwnNumbersAndBrothers) {
  const Channel x = getChannel("Nlayer.x");
  const Channel y = getChannel("Nlayer.y");
  const Channel z = getChannel("Nlayer.z");
  EXPECT_GT(x, Chan_Alpha);
  EXPECT_EQ(getChannel("Nlayer.y"), y);  // the same name gives the same channel
  EXPECT_EQ(getLayerName(z), "Nlayer");
  for (Channel c : {x, y, z}) {
    EXPECT_EQ(brother(c, 0), x);
    EXPECT_EQ(brother(c, 1), y);
    EXPECT_EQ(brother(c, 2), z);
    EXPECT_EQ(brother(c, 3), Chan_Black);
  }
  EXPECT_EQ(brother(Chan_Blue, 0), Chan_Red);
  EXPECT_EQ(brother(Chan_Red, 3), Chan_Alpha);
  EXPECT_EQ(brother(Chan_Black, 0), Chan_Black);
}

TEST(ChannelSets, PresetsAndWalking) {
  const ChannelSet rgb(Mask_RGB);
  EXPECT_EQ(rgb.size(), 3u);
  EXPECT_EQ(rgb.first(), Chan_Red);
  EXPECT_EQ(rgb.next(Chan_Red), Chan_Green);
  EXPECT_EQ(rgb.next(Chan_Green), Chan_Blue);
  EXPECT_EQ(rgb.next(Chan_Blue), Chan_Black);
  EXPECT_FALSE(rgb.contains(Chan_Alpha));
  EXPECT_EQ(ChannelSet(7u), rgb);
  EXPECT_EQ(ChannelSet(Mask_RGBA).size(), 4u);
  EXPECT_EQ(ChannelSet().first(), Chan_Black);
  EXPECT_EQ(ChannelSet().size(), 0u);

  ChannelSet s(Mask_Alpha);
  const Channel high = static_cast<Channel>(kMaxChannels - 1);
  s.insert(high);
  s.insert(static_cast<Channel>(kMaxChannels));  // out of range: ignored
  EXPECT_EQ(s.size(), 2u);
  EXPECT_EQ(s.next(Chan_Alpha), high);
  EXPECT_EQ(s.next(high), Chan_Black);
  EXPECT_EQ((s & ChannelSet(Mask_RGBA)), ChannelSet(Mask_Alpha));
}

TEST(Boxes, MergeIgnoresEmptyBoxes) {
  const Box a{0, 0, 4, 4};
  EXPECT_EQ(a.merged(Box{}), a);
  EXPECT_EQ(Box{}.merged(a), a);
  EXPECT_EQ(a.merged(Box{-2, 3, 1, 9}), (Box{-2, 0, 4, 9}));
  EXPECT_TRUE(a.intersected(Box{4, 0, 8, 4}).empty());
}

TEST(Rows, IndexedByAbsoluteXAndZeroOutsideTheSource) {
  auto source = quorlen::test::rgb_source({4, 2}, {2, 0, 5, 2}, [](int x, int y) {
    return quorlen::test::Pixel3{float(x), float(y), float(x + 10 * y)};
  });
  Row row(-2, 8);
  row.get(*source, 1, -2, 8, ChannelSet(Mask_RGBA));
  for (int x = -2; x < 8; ++x) {
    const bool inside = x >= 2 && x < 5;
    EXPECT_EQ(row[Chan_Red][x], inside ? float(x) : 0.0f) << x;
    EXPECT_EQ(row[Chan_Blue][x], inside ? float(x + 10) : 0.0f) << x;
    EXPECT_EQ(row[Chan_Alpha][x], 0.0f) << x;  // the source has no alpha
  }
  Row outside(-2, 8);
  outside.get(*source, 2, -2, 8, ChannelSet(Mask_RGB));
  for (int x = -2; x < 8; ++x) EXPECT_EQ(outside[Chan_Green][x], 0.0f);
  // A channel never fetched reads as zero without being stored.
  EXPECT_EQ(outside[getChannel("unfetched.c")][7], 0.0f);
  EXPECT_FALSE(outside.has(getChannel("unfetched.c")));
}

TEST(Rows, GetIsClippedToTheRowSpan) {
  auto source = quorlen::test::rgb_source({8, 1}, {0, 0, 8, 1}, [](int x, int) {
    return quorlen::test::Pixel3{float(x + 1), 0, 0};
  });
  Row row(2, 4);
  row.writable(Chan_Red);
  row.get(*source, 0, 0, 8, ChannelSet(Chan_Red));
  EXPECT_EQ(row[Chan_Red][2], 3.0f);
  EXPECT_EQ(row[Chan_Red][3], 4.0f);
}

// A row's storage is not cleared between fetches: whatever the new source does not cover must still
// read as zero, not as the previous fetch's pixels.
TEST(Rows, ARefetchedRowHoldsNothingOfTheFetchBefore) {
  const Format format{8, 2};
  auto full = quorlen::test::rgb_source(format, {0, 0, 8, 2}, [](int x, int y) {
    return quorlen::test::Pixel3{float(x + 1), float(y + 1), 7.0f};
  });
  auto narrow = quorlen::test::rgb_source(format, {3, 1, 5, 2}, [](int x, int) {
    return quorlen::test::Pixel3{float(-x), 0.5f, 0.25f};
  });
  Row row(0, 8);
  row.get(*full, 1, 0, 8, ChannelSet(Mask_RGBA));
  row.get(*narrow, 1, 0, 8, ChannelSet(Mask_RGBA));
  for (int x = 0; x < 8; ++x) {
    const bool inside = x >= 3 && x < 5;
    EXPECT_EQ(row[Chan_Red][x], inside ? float(-x) : 0.0f) << x;
    EXPECT_EQ(row[Chan_Blue][x], inside ? 0.25f : 0.0f) << x;
    EXPECT_EQ(row[Chan_Alpha][x], 0.0f) << x;
  }
  // A line the source does not reach at all, and then an empty source, clear the whole span.
  row.get(*full, 0, 0, 8, ChannelSet(Mask_RGB));
  row.get(*narrow, 0, 0, 8, ChannelSet(Mask_RGB));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(row[Chan_Green][x], 0.0f) << x;
  row.get(*full, 0, 0, 8, ChannelSet(Mask_RGB));
  row.get(Iop::empty_input(), 0, 0, 8, ChannelSet(Mask_RGB));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(row[Chan_Red][x], 0.0f) << x;
}

// Sources with more channels than one gathering pass takes still serve every one of them.
TEST(Rows, ASourceWithManyChannelsServesEachOne) {
  std::vector<Channel> channels;
  for (int k = 0; k < 11; ++k) channels.push_back(getChannel("many.c" + std::to_string(k)));
  auto image = std::make_shared<ImageBuffer>(Box{0, 0, 3, 1}, channels);
  for (int x = 0; x < 3; ++x)
    for (int k = 0; k < 11; ++k) image->at(x, 0, k) = float(100 * k + x);
  MemorySource source({3, 1}, image);
  ChannelSet wanted;
  for (Channel c : channels) wanted.insert(c);
  Row row(0, 3);
  row.get(source, 0, 0, 3, wanted);
  for (int k = 0; k < 11; ++k)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(row[channels[static_cast<std::size_t>(k)]][x], float(100 * k + x)) << k << "," << x;
}

}  // namespace
